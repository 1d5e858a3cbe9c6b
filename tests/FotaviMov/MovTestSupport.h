// Test support of the movie engine: synthetic frames, a private folder, the
// outside tools used as oracles (mediainfo, gst-discoverer-1.0, ffprobe) and
// a small RIFF reader of our own for AVI files.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "MovieDefs.h"

namespace movtest {

// A 24-bit frame whose pixels tell its number: the top-left 8 x 8 block is
// (index, 255 - index, 0x80) in blue-green-red order, the rest a gradient.
CBitmap24 MakeFrame(LONG width, LONG height, int index);
// A frame of noise (hard to compress), the same for the same seed.
CBitmap24 MakeNoiseFrame(LONG width, LONG height, unsigned seed);
// The picture's rows bottom-up, padded as a 24-bit DIB's: what an AVI frame holds.
std::string BottomUpRows(const CBitmap24& picture);

// Fresh private folder (mode 0700) under the temporary folder.
std::string MakeFolder(const char* tag);
std::string Numbered(const std::string& folder, const std::string& base, int counter, const std::string& ext);
bool Exists(const std::string& path);
uint64_t FileSize(const std::string& path);

// A small file system of its own (tmpfs, when this process may mount one),
// unmounted again at the end of its life.
class SmallDisk {
 public:
  explicit SmallDisk(const char* size);
  ~SmallDisk();
  bool mounted() const { return mounted_; }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
  bool mounted_ = false;
};

// Runs a shell command; its standard output, and the exit status in `status`.
std::string Run(const std::string& command, int* status = nullptr);
bool HaveTool(const char* name);
std::string Quote(const std::string& path);

// mediainfo's --Inform fields of the video track, e.g. {"Width", "Height"}.
std::map<std::string, std::string> MediaInfoVideo(const std::string& path, const std::vector<std::string>& fields);
// gst-discoverer-1.0's view: the caps of the video stream, its size and the
// duration in milliseconds (-1 when not found).
struct Discovered {
  bool ok = false;
  std::string caps;
  int width = 0;
  int height = 0;
  int64_t durationMs = -1;
};
Discovered Discover(const std::string& path);
// GStreamer's own ASF demuxer: the caps of the video stream and the
// presentation time of every buffer, in milliseconds.
struct AsfDemuxed {
  std::string caps;
  int width = 0;
  int height = 0;
  std::vector<int64_t> ptsMs;
};
AsfDemuxed GstAsfVideo(const std::string& path);

// What our RIFF reader finds in an AVI file.
struct RiffAvi {
  bool ok = false;
  std::string error;
  // avih
  uint32_t microSecPerFrame = 0, totalFrames = 0, streams = 0, width = 0, height = 0;
  // strh
  std::string fccType, fccHandler;
  uint32_t scale = 0, rate = 0, length = 0, suggestedBufferSize = 0;
  // strf
  int32_t biWidth = 0, biHeight = 0;
  uint16_t biBitCount = 0;
  uint32_t biCompression = 0xFFFFFFFF, biSizeImage = 0;
  // movi: the chunks of stream 0 in file order
  std::vector<std::string> chunkIds;
  std::vector<std::string> chunkData;
  // idx1 entries and how many carry the key-frame flag
  uint32_t indexEntries = 0, keyFrames = 0;
  bool openDml = false;  // an AVIX extension or an odml list
};
RiffAvi ReadRiffAvi(const std::string& path);
// Success when `path` reads as an AVI file (ReadRiffAvi) holding `frames`
// frame chunks; the failure says which of the two it is not.
::testing::AssertionResult AviHoldsFrames(const std::string& path, size_t frames);

}  // namespace movtest
