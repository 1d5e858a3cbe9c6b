#include "WmvFileOperation.h"

#include <algorithm>
#include <climits>
#include <cerrno>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/rational.h>
#include <libswscale/swscale.h>
}

#include "Common/TraceLog.h"
#include "FormatErrorCode.h"
#include "MovStrings.h"
#include "OutputFile.h"

namespace {
constexpr const char* kInit = "CWmvFileOperation::Initialize";
constexpr const char* kFirst = "CWmvFileOperation::AddFrameFirst";
constexpr const char* kAdd = "CWmvFileOperation::AddFrame";
constexpr const char* kRelease = "CWmvFileOperation::ReleaseMemory";
// Key frames every 8 seconds when the profile names no spacing.
constexpr int64_t kDefaultKeySpacing100ns = 80000000;

// The error text of an FFmpeg error.
UINT TextFor(int error) {
  switch (error) {
    case AVERROR(ENOSPC):
    case AVERROR(EIO):
    case AVERROR(EFBIG):
    case AVERROR(EDQUOT):
      return IDS_MOV_SAVE_ERROR;
    case AVERROR(ENOENT):
    case AVERROR(ENOTDIR):
    case AVERROR(EACCES):
    case AVERROR(EPERM):
    case AVERROR(EROFS):
    case AVERROR(EISDIR):
      return IDS_MOV_OPEN_ERROR;
    case AVERROR(ENOMEM):
      return IDS_MOV_NO_RESOURCES;
    default:
      return IDS_MOV_INTERNAL_ERROR;
  }
}
}  // namespace

CWmvFileOperation::CWmvFileOperation() = default;

CWmvFileOperation::~CWmvFileOperation() { ReleaseMemory(); }

void CWmvFileOperation::Fail(const char* where, const char* call, int error) {
  TraceLog(TRC_MOV, where, "It faied in %s HRESULT=0x%08X ErrMsg=[%s]", call, static_cast<unsigned>(error),
           FormatErrorCode(error).c_str());
  if (m_strError.empty()) m_strError = MovString(TextFor(error));
}

int CWmvFileOperation::Initialize(DWORD frameRate, DWORD quality, const std::string& path,
                                  const std::string& profilePath) {
  ReleaseMemory();
  m_dwFrameRate = std::clamp<DWORD>(frameRate, 1, 1000);
  m_dwTimeBase = TimeBaseFor(m_dwFrameRate);
  m_dwQuality = std::min<DWORD>(quality, 100);
  m_strPath = path;
  m_strError.clear();
  m_nSampleTime = 0;
  m_nFramesWritten = 0;
  m_bStarted = false;

  // The profile first: a missing or bad profile leaves no output file.
  std::string detail;
  switch (LoadWmvProfile(profilePath, &m_Profile, &detail)) {
    case ProfileResult::Ok:
      break;
    case ProfileResult::Unreadable:
      m_strError = MovString(IDS_MOV_PROFILE_ERROR);
      TraceLog(TRC_MOV, kInit, "It faied in CreateFile. ProfileFile[%s]. ErrMsg=[%s]", profilePath.c_str(),
               detail.c_str());
      return 0;
    case ProfileResult::NoMemory:
      m_strError = MovString(IDS_MOV_NO_RESOURCES);
      TraceLogMemory(TRC_MOV, kInit, "BYTE");
      return 0;
    case ProfileResult::Malformed:
      m_strError = MovString(IDS_MOV_INTERNAL_ERROR);
      TraceLog(TRC_MOV, kInit, "It faied in LoadProfileByData ProfileFile[%s] ErrMsg=[%s]", profilePath.c_str(),
               detail.c_str());
      return 0;
    case ProfileResult::NoVideo:
      m_strError = MovString(IDS_MOV_INVALID_FILE);
      TraceLogText(TRC_MOV, kInit, "Invalid profile is specified. There is no video input in the profile. ");
      return 0;
  }

  int ret = avformat_alloc_output_context2(&m_pFormat, nullptr, "asf", nullptr);
  if (ret < 0 || !m_pFormat) {
    m_pFormat = nullptr;
    Fail(kInit, "avformat_alloc_output_context2", ret < 0 ? ret : AVERROR(ENOMEM));
    ReleaseMemory();
    return 0;
  }
  m_pFormat->flags |= AVFMT_FLAG_FLUSH_PACKETS;
  const std::string url = FileUrl(path);
  ret = avio_open(&m_pFormat->pb, url.c_str(), AVIO_FLAG_WRITE);
  if (ret < 0) {
    m_pFormat->pb = nullptr;
    m_strError = MovString(IDS_MOV_OPEN_ERROR);
    TraceLog(TRC_MOV, kInit, "It faied in IWMWriterFileSink::Open HRESULT=0x%08X ErrMsg=[%s]",
             static_cast<unsigned>(ret), FormatErrorCode(ret).c_str());
    ReleaseMemory();
    return 0;
  }
  return 1;
}

int CWmvFileOperation::AddFrameFirst(const CBitmap24& bitmap) {
  const CWmvVideoStream& video = m_Profile.video.front();
  m_nInputWidth = bitmap.width();
  m_nInputHeight = bitmap.height();
  // The encoder takes even picture sizes only: an odd size (of the profile,
  // or of the first frame when the profile names none) becomes the even size
  // just below it, at least 2.
  auto even = [](int size) { return std::max(2, size & ~1); };
  const int width = even(video.width > 0 ? video.width : static_cast<int>(m_nInputWidth));
  const int height = even(video.height > 0 ? video.height : static_cast<int>(m_nInputHeight));

  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMV2);
  m_pCodec = codec ? avcodec_alloc_context3(codec) : nullptr;
  m_pStream = avformat_new_stream(m_pFormat, nullptr);
  m_pFrame = av_frame_alloc();
  m_pPacket = av_packet_alloc();
  if (!codec || !m_pCodec || !m_pStream || !m_pFrame || !m_pPacket) {
    Fail(kFirst, codec ? "avcodec_alloc_context3" : "avcodec_find_encoder(wmv2)",
         codec ? AVERROR(ENOMEM) : AVERROR_ENCODER_NOT_FOUND);
    return 0;
  }
  m_pCodec->width = width;
  m_pCodec->height = height;
  m_pCodec->pix_fmt = AV_PIX_FMT_YUV420P;
  // Frame n has the pts n in {1000, time base}; common factors removed.
  av_reduce(&m_pCodec->time_base.num, &m_pCodec->time_base.den, 1000, m_dwTimeBase, INT_MAX);
  m_pCodec->framerate = AVRational{m_pCodec->time_base.den, m_pCodec->time_base.num};
  const int64_t spacing = video.maxKeyFrameSpacing > 0 ? video.maxKeyFrameSpacing : kDefaultKeySpacing100ns;
  // Frames per key frame: the spacing's whole seconds times the frames a
  // second, in floating point so that a huge spacing cannot overflow.
  const double frames = static_cast<double>(spacing) / 10000000.0 * m_dwTimeBase / 1000.0;
  m_pCodec->gop_size = static_cast<int>(std::clamp(frames, 1.0, 600.0));
  m_pCodec->max_b_frames = 0;
  if (m_dwQuality == 0) {
    m_pCodec->bit_rate = video.bitrate > 0 ? video.bitrate : 1000000;
  } else {
    m_pCodec->flags |= AV_CODEC_FLAG_QSCALE;
    m_pCodec->global_quality = QuantiserFor(m_dwQuality) * FF_QP2LAMBDA;
  }
  if (m_pFormat->oformat->flags & AVFMT_GLOBALHEADER) m_pCodec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  int ret = avcodec_open2(m_pCodec, codec, nullptr);
  if (ret < 0) {
    Fail(kFirst, "IWMInputMediaProp::SetMediaType(avcodec_open2)", ret);
    return 0;
  }
  ret = avcodec_parameters_from_context(m_pStream->codecpar, m_pCodec);
  if (ret < 0) {
    Fail(kFirst, "IWMWriter::SetInputProps(avcodec_parameters_from_context)", ret);
    return 0;
  }
  m_pStream->time_base = AVRational{1, 1000};
  m_pStream->avg_frame_rate = m_pCodec->framerate;
  m_pFrame->format = AV_PIX_FMT_YUV420P;
  m_pFrame->width = width;
  m_pFrame->height = height;
  ret = av_frame_get_buffer(m_pFrame, 0);
  if (ret < 0) {
    Fail(kFirst, "av_frame_get_buffer", ret);
    return 0;
  }
  m_pScale = sws_getContext(m_nInputWidth, m_nInputHeight, AV_PIX_FMT_BGR24, width, height, AV_PIX_FMT_YUV420P,
                            SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!m_pScale) {
    Fail(kFirst, "sws_getContext", AVERROR(EINVAL));
    return 0;
  }
  ret = avformat_write_header(m_pFormat, nullptr);
  if (ret >= 0 && m_pFormat->pb->error < 0) ret = m_pFormat->pb->error;
  if (ret < 0) {
    Fail(kFirst, "IWMWriter::BeginWriting(avformat_write_header)", ret);
    return 0;
  }
  m_bStarted = true;
  return 1;
}

bool CWmvFileOperation::WritePackets(const char* where) {
  for (;;) {
    int ret = avcodec_receive_packet(m_pCodec, m_pPacket);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return true;
    if (ret < 0) {
      Fail(where, "avcodec_receive_packet", ret);
      return false;
    }
    // The packet's frame number in the encoder's time base; stamps are the
    // whole milliseconds of the frame numbers, and every packet has the
    // length up to the next stamp (the last frame too).
    const int64_t n = m_pPacket->pts;
    const int64_t at = SampleTimeMs(n, m_dwTimeBase);
    m_pPacket->pts = m_pPacket->dts = at;
    m_pPacket->duration = SampleTimeMs(n + 1, m_dwTimeBase) - at;
    m_pPacket->stream_index = m_pStream->index;
    ret = av_write_frame(m_pFormat, m_pPacket);
    av_packet_unref(m_pPacket);
    if (ret >= 0 && m_pFormat->pb->error < 0) ret = m_pFormat->pb->error;
    if (ret < 0) {
      Fail(where, "IWMWriter::WriteSample(av_write_frame)", ret);
      return false;
    }
  }
}

int CWmvFileOperation::AddFrame(const CBitmap24& bitmap) {
  if (!m_strError.empty()) return 0;
  if (!m_pFormat) {
    m_strError = MovString(IDS_MOV_INTERNAL_ERROR);
    TraceLogText(TRC_MOV, kAdd, "The writer is not initialized.");
    return 0;
  }
  if (!IsBitmap24(bitmap)) {
    m_strError = MovString(IDS_MOV_INTERNAL_ERROR);
    TraceLogText(TRC_MOV, kAdd, bitmap.isNull() ? "HBITMAP is NULL." : "The bitmap is not a 24-bit DIB section.");
    ReleaseMemory();
    return 0;
  }
  if (!m_bStarted && AddFrameFirst(bitmap) != 1) {
    ReleaseMemory();
    return 0;
  }
  if (bitmap.width() != m_nInputWidth || bitmap.height() != m_nInputHeight) {
    TraceLog(TRC_MOV, kAdd, "The frame size %dx%d differs from the first frame's %dx%d.",
             bitmap.width(), bitmap.height(), static_cast<int>(m_nInputWidth),
             static_cast<int>(m_nInputHeight));
    m_strError = MovString(IDS_MOV_INTERNAL_ERROR);
    ReleaseMemory();
    return 0;
  }
  // The largest packet the encoder can make, plus room for the trailer.
  const uint64_t need = static_cast<uint64_t>(m_pCodec->width) * m_pCodec->height * 3 / 2 + OUTPUT_RESERVE_BYTES;
  uint64_t free = 0;
  if (FreeSpaceFor(m_strPath, &free) && free < need) {
    TraceLog(TRC_MOV, kAdd, "[Infomation] The free space of the disk is not enough. Path[%s]", m_strPath.c_str());
    m_strError = MovString(IDS_MOV_SAVE_ERROR);
    ReleaseMemory();
    return 0;
  }
  int ret = av_frame_make_writable(m_pFrame);
  if (ret < 0) {
    Fail(kAdd, "IWMWriter::AllocateSample(av_frame_make_writable)", ret);
    ReleaseMemory();
    return 0;
  }
  // The picture's own rows, top-down, straight into the scaler.
  const uint8_t* src[1] = {bitmap.constBits()};
  const int srcStride[1] = {static_cast<int>(bitmap.bytesPerLine())};
  sws_scale(m_pScale, src, srcStride, 0, bitmap.height(), m_pFrame->data, m_pFrame->linesize);
  m_pFrame->pts = static_cast<int64_t>(m_nFramesWritten);
  // The fixed quantiser is taken from every frame; the context's value alone is ignored.
  if (m_dwQuality != 0) m_pFrame->quality = m_pCodec->global_quality;
  ret = avcodec_send_frame(m_pCodec, m_pFrame);
  if (ret < 0) {
    Fail(kAdd, "IWMWriter::WriteSample(avcodec_send_frame)", ret);
    ReleaseMemory();
    return 0;
  }
  if (!WritePackets(kAdd)) {
    ReleaseMemory();
    return 0;
  }
  ++m_nFramesWritten;
  m_nSampleTime = SampleTimeMs(static_cast<int64_t>(m_nFramesWritten), m_dwTimeBase);
  return 1;
}

bool CWmvFileOperation::ReleaseMemory() {
  bool ok = true;
  if (m_bStarted) {
    // Drain the encoder, then complete the file with its index.
    if (avcodec_send_frame(m_pCodec, nullptr) >= 0 && !WritePackets(kRelease)) ok = false;
    int ret = av_write_trailer(m_pFormat);
    if (ret >= 0 && m_pFormat->pb->error < 0) ret = m_pFormat->pb->error;
    if (ret < 0) {
      TraceLog(TRC_MOV, kRelease, "It faied in IWMWriter::EndWriting HRESULT=0x%08X", static_cast<unsigned>(ret));
      if (m_strError.empty()) m_strError = MovString(TextFor(ret));
      ok = false;
    }
  }
  if (m_pFormat && m_pFormat->pb) {
    avio_flush(m_pFormat->pb);
    int ret = m_pFormat->pb->error;
    const int closed = avio_closep(&m_pFormat->pb);
    if (ret >= 0) ret = closed;
    if (ret < 0 && m_bStarted) {
      TraceLog(TRC_MOV, kRelease, "It faied in IWMWriter::EndWriting HRESULT=0x%08X", static_cast<unsigned>(ret));
      if (m_strError.empty()) m_strError = MovString(TextFor(ret));
      ok = false;
    }
    // A file that never got its first frame holds nothing playable (at
    // most a header, when the first frame itself failed).
    if (!m_bStarted || m_nFramesWritten == 0) RemoveEmptyOutput(m_strPath);
  }
  if (m_pFormat) avformat_free_context(m_pFormat);
  m_pFormat = nullptr;
  m_pStream = nullptr;
  avcodec_free_context(&m_pCodec);
  sws_freeContext(m_pScale);
  m_pScale = nullptr;
  av_frame_free(&m_pFrame);
  av_packet_free(&m_pPacket);
  m_bStarted = false;
  return ok;
}

BOOL CWmvFileOperation::EndWriting() { return ReleaseMemory() ? TRUE : FALSE; }
