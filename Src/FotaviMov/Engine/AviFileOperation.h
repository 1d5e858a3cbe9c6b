// Writes recorded frames into uncompressed AVI files: one video stream of
// raw 24-bit frames stored bottom-up (rows reversed from the picture), every frame a key
// frame, over libavformat's "avi" muxer. A recording is split into numbered
// parts ("%s%03d": output.avi, output001.avi ... output999.avi) when a part
// would pass the split size, and ends when the capacity limit would be
// passed. Every file left on disk is complete: a write error, a full disk or
// the end of the recording close the file with its index.
//
// The muxer stores frames in "00dc" chunks (AVIFile wrote "00db" for
// uncompressed frames); readers take both.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "MovieWriters.h"

struct AVFormatContext;
struct AVIOContext;
struct AVPacket;

class CAviFileOperation : public IAviWriter {
 public:
  CAviFileOperation();
  ~CAviFileOperation() override;
  CAviFileOperation(const CAviFileOperation&) = delete;
  CAviFileOperation& operator=(const CAviFileOperation&) = delete;

  // 0 (or any value below one frame) keeps at least one frame per part.
  void SetMaxFileSize(uint64_t bytes) override { m_nMaxFileSize = bytes; }
  void SetRecCondition(int mode, uint64_t limit) override;
  long Initialize(const std::string& path, DWORD frameRate) override;
  int AddFrame(const CBitmap24& bitmap) override;
  BOOL Close() override;
  std::string GetErrorMessage() const override { return m_strError; }

  // Counters (tests and the benchmark).
  uint64_t GetTotalBytes() const { return m_nTotalBytes; }
  uint64_t GetTotalFrames() const { return m_nTotalFrames; }
  int GetFileCounter() const { return m_nFileCounter; }
  const std::string& GetCurrentPath() const { return m_strCurrentPath; }

  // Free space a frame must leave on the output's file system, besides the
  // frame itself: room for the index and the header of the open file.
  static uint64_t ReserveFor(uint64_t framesInFile);

 private:
  bool CreateStream(const BITMAPINFOHEADER& header);
  bool HasRoomFor(uint64_t frameBytes);
  int FailFrame(const char* call, int error);
  void Release(bool complete, bool* ok);

  AVFormatContext* m_pFormat = nullptr;  // with the stream, after the first frame of a part
  AVIOContext* m_pFile = nullptr;        // the open part
  AVPacket* m_pPacket = nullptr;
  std::vector<uint8_t> m_Rows;  // the frame's rows bottom-up, reused frame after frame
  bool m_bHeaderWritten = false;
  uint64_t m_nFramesInFile = 0;
  uint64_t m_nTotalFrames = 0;
  DWORD m_dwFrameRate = 0;
  uint64_t m_nBytesInFile = 0;
  uint64_t m_nMaxFileSize = AVI_DEFAULT_SPLIT_SIZE;
  uint64_t m_nTotalBytes = 0;
  int m_nFileCounter = 0;
  std::string m_strCurrentPath;
  std::string m_strFolder;
  std::string m_strBaseName;
  std::string m_strExt;
  int m_nRecCondition = RECCOND_NONE;
  uint64_t m_nRecLimit = 0;
  LONG m_nFirstWidth = 0;
  LONG m_nFirstHeight = 0;
  std::string m_strError;
};
