// Writes recorded frames into one Windows Media file (ASF container, WMV2
// video) made from a ".prx" profile, over libavformat's "asf" muxer and
// libavcodec's wmv2 encoder. The first frame fixes the input size; frames
// are converted from bottom-up BGR24 to yuv420p and scaled to the profile's
// picture size when that differs. Frame n is stamped at the whole
// millisecond n x 1,000,000 / time base, where the time base is
// 1,000,000 / (1000 / rate) in integers.
//
// Quality 0 encodes at the profile's bit rate; quality 1 to 100 switches to
// a fixed quantiser q = 31 - (quality - 1) x 29 / 99.
#pragma once

#include <cstdint>
#include <string>

#include "MovieWriters.h"
#include "WmvProfile.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwsContext;

class CWmvFileOperation : public IWmvWriter {
 public:
  CWmvFileOperation();
  ~CWmvFileOperation() override;
  CWmvFileOperation(const CWmvFileOperation&) = delete;
  CWmvFileOperation& operator=(const CWmvFileOperation&) = delete;

  int Initialize(DWORD frameRate, DWORD quality, const std::string& path, const std::string& profile) override;
  int AddFrame(const CBitmap24& bitmap) override;
  BOOL EndWriting() override;
  std::string GetErrorMessage() const override { return m_strError; }

  static DWORD TimeBaseFor(DWORD frameRate) { return 1000000u / (1000u / frameRate); }
  // Whole milliseconds of frame n.
  static int64_t SampleTimeMs(int64_t n, DWORD timeBase) { return n * 1000000 / timeBase; }
  static int QuantiserFor(DWORD quality) { return 31 - (static_cast<int>(quality) - 1) * 29 / 99; }

  uint64_t GetFrameCount() const { return m_nFramesWritten; }
  const CWmvProfile& GetProfile() const { return m_Profile; }

 private:
  int AddFrameFirst(const CBitmap24& bitmap);
  bool WritePackets(const char* where);
  void Fail(const char* where, const char* call, int error);
  // Ends writing (when begun), closes the file and frees everything. FALSE
  // when completing the file failed.
  bool ReleaseMemory();

  AVFormatContext* m_pFormat = nullptr;
  AVStream* m_pStream = nullptr;
  AVCodecContext* m_pCodec = nullptr;
  SwsContext* m_pScale = nullptr;
  AVFrame* m_pFrame = nullptr;
  AVPacket* m_pPacket = nullptr;
  CWmvProfile m_Profile;
  DWORD m_dwFrameRate = 0;
  DWORD m_dwTimeBase = 0;
  DWORD m_dwQuality = 0;
  std::string m_strError;
  int64_t m_nSampleTime = 0;     // next sample time, milliseconds
  uint64_t m_nFramesWritten = 0;
  bool m_bStarted = false;
  LONG m_nInputWidth = 0;
  LONG m_nInputHeight = 0;
  std::string m_strPath;
};
