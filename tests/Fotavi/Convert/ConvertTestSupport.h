// Helpers of the conversion tests: a private folder per test, pictures of
// one colour, tools run as child processes, and a small reader of the Exif
// segment that knows nothing of the writer.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <QColor>
#include <QImage>
#include <gtest/gtest.h>

#include "ConvertWorker.h"

namespace convert_test {

// A fresh folder under the system's temporary folder, removed by the caller.
std::string MakeTempFolder(const char* tag);
void RemoveTree(const std::string& path);
// Points settings, work, cache and fallback folders of the platform into `root`.
void IsolateEnvironment(const std::string& root);

// An ASCII `base`, then "/" and the character `ch` (UTF-8, worth `chUnits`
// UTF-16 units) repeated, a "/" after every 60 of them and ASCII "x" where a
// last `ch` would not fit, so that the result followed by the ASCII `tail`
// is exactly `units` UTF-16 units long. The folders are not made.
std::string PathOfLength(const std::string& base, size_t units, const std::string& ch, size_t chUnits,
                         const std::string& tail);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);
bool Exists(const std::string& path);
std::vector<std::string> ListFolder(const std::string& folder);  // names, sorted

// Writes a JPEG (through the shared codec) or a 24-bit BMP of one colour;
// `corner` (when valid) fills the top-left quarter.
void WriteJpeg(const std::string& path, int width, int height, QColor colour, QColor corner = QColor());
void WriteBmp(const std::string& path, int width, int height, QColor colour);
// An 8-bit indexed BMP of one colour.
void WriteBmp8(const std::string& path, int width, int height, QColor colour);

// Decodes a JPEG with Qt's own reader (an oracle independent of the codec
// wrapper).
QImage ReadImage(const std::string& path);
// True when the colour is within `tolerance` of `expected` in each channel.
bool Near(QRgb actual, QColor expected, int tolerance = 40);

// Runs a command through the shell; its standard output (and exit status).
std::string RunCommand(const std::string& command, int* status = nullptr);
bool HaveProgram(const char* name);
std::string Quote(const std::string& text);

// One IFD entry as read back.
struct TiffEntry {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  uint32_t valueOrOffset = 0;  // the raw 4 bytes, little-endian
  uint32_t entryOffset = 0;    // TIFF offset of the entry itself
};
struct TiffIfd {
  uint32_t offset = 0;
  std::vector<TiffEntry> entries;
  uint32_t next = 0;
};
// The Exif APP1 segment of a file as found right after its SOI marker.
struct ExifSegment {
  bool found = false;
  uint16_t length = 0;     // the segment's length field
  std::string tiff;        // from the TIFF header to the end of the segment
  size_t segmentEnd = 0;   // file offset after the segment
};
ExifSegment FindExifSegment(const std::string& file);
// Reads the IFD at `offset`; false when it does not fit into the data.
bool ReadIfd(const std::string& tiff, uint32_t offset, TiffIfd* ifd);
uint32_t Le32(const std::string& data, size_t pos);
uint16_t Le16(const std::string& data, size_t pos);

// A host that only keeps the message numbers.
class NullHost : public IConvertHost {
 public:
  void SetProgressText(const std::string&) override {}
  void SetProgressPos(int) override {}
  void ShowMessage(UINT id, UINT) override { messages.push_back(id); }
  void ConvertEnd(int) override {}
  std::vector<UINT> messages;
};

// The worker's error entries as (file name, message) pairs.
std::vector<std::pair<std::string, std::string>> Entries(const CConvertWorker& worker);

// A private root per test with the platform pointed into it, the work
// folder path the program would pass, the presentation export's folder, and
// source and output folders.
class ConvertFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // One run on this thread: a file (file mode) or the source folder.
  static int RunFile(CConvertWorker* worker, const std::string& file, IConvertDestination* dest);
  int RunFolder(CConvertWorker* worker, IConvertDestination* dest) const;

  std::string m_Root, m_Work, m_Office, m_In, m_Out;
};

}  // namespace convert_test
