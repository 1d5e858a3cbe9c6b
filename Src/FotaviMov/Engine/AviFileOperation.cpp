#include "AviFileOperation.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include "Common/FilePath.h"
#include "Common/TraceLog.h"
#include "FormatErrorCode.h"
#include "MovStrings.h"
#include "OutputFile.h"

namespace {
constexpr const char* kInit = "CAviFileOperation::Initialize";
constexpr const char* kAdd = "CAviFileOperation::AddFrame";
constexpr const char* kClose = "CAviFileOperation::Close";
constexpr int kMaxFileCounter = 999;
// Index bytes per frame: idx1 entry, plus the OpenDML entry past 1 GiB.
constexpr uint64_t kIndexBytesPerFrame = 16 + 8;

}  // namespace

CAviFileOperation::CAviFileOperation() = default;

CAviFileOperation::~CAviFileOperation() {
  bool ok = true;
  Release(true, &ok);
  av_packet_free(&m_pPacket);
}

uint64_t CAviFileOperation::ReserveFor(uint64_t framesInFile) {
  return (framesInFile + 1) * kIndexBytesPerFrame + OUTPUT_RESERVE_BYTES;
}

void CAviFileOperation::SetRecCondition(int mode, uint64_t limit) {
  m_nRecCondition = mode;
  m_nRecLimit = limit;
}

long CAviFileOperation::Initialize(const std::string& path, DWORD frameRate) {
  bool ok = true;
  Release(true, &ok);
  m_strCurrentPath = path;
  std::string name;
  CFilePath::SplitPath(path, &m_strFolder, &name, &m_strExt);
  m_nBytesInFile = 0;
  m_nFramesInFile = 0;
  if (m_nFileCounter == 0) {
    m_nTotalFrames = 0;
    m_nTotalBytes = 0;
    m_nFirstWidth = m_nFirstHeight = 0;
    m_strBaseName = name;
  } else {
    char numbered[32];
    snprintf(numbered, sizeof(numbered), "%03d", m_nFileCounter);
    m_strCurrentPath = m_strFolder + m_strBaseName + numbered + m_strExt;
  }
  const std::string url = FileUrl(m_strCurrentPath);
  int ret = avio_open(&m_pFile, url.c_str(), AVIO_FLAG_WRITE);
  if (ret < 0) {
    m_pFile = nullptr;
    TraceLog(TRC_MOV, kInit, "AVI File Initialize Error. The error occurred by avio_open. HRESULT=0x%08X %s",
             static_cast<unsigned>(ret), FormatErrorCode(ret).c_str());
    m_strError = MovString(IDS_MOV_OPEN_ERROR);
    return ret;
  }
  m_dwFrameRate = frameRate == 0 ? 1 : frameRate;
  return 0;
}

bool CAviFileOperation::HasRoomFor(uint64_t frameBytes) {
  uint64_t free = 0;
  if (!FreeSpaceFor(m_strCurrentPath, &free)) return true;  // not to be asked: the write itself will tell
  return free >= frameBytes + ReserveFor(m_nFramesInFile);
}

bool CAviFileOperation::CreateStream(const BITMAPINFOHEADER& h) {
  int ret = avformat_alloc_output_context2(&m_pFormat, nullptr, "avi", nullptr);
  if (ret < 0 || !m_pFormat) {
    m_pFormat = nullptr;
    FailFrame("avformat_alloc_output_context2", ret < 0 ? ret : AVERROR(ENOMEM));
    return false;
  }
  m_pFormat->pb = m_pFile;
  m_pFormat->flags |= AVFMT_FLAG_FLUSH_PACKETS;
  AVStream* stream = avformat_new_stream(m_pFormat, nullptr);
  if (!stream) {
    FailFrame("avformat_new_stream", AVERROR(ENOMEM));
    return false;
  }
  stream->time_base = AVRational{1, static_cast<int>(m_dwFrameRate)};
  stream->avg_frame_rate = AVRational{static_cast<int>(m_dwFrameRate), 1};
  AVCodecParameters* par = stream->codecpar;
  par->codec_type = AVMEDIA_TYPE_VIDEO;
  par->codec_id = AV_CODEC_ID_RAWVIDEO;
  par->codec_tag = 0;  // BI_RGB
  par->format = AV_PIX_FMT_BGR24;
  par->width = h.biWidth;
  par->height = h.biHeight;
  par->bits_per_coded_sample = 24;
  AVDictionary* options = nullptr;
  // A positive height: rows bottom-up, as AddFrame hands them over.
  av_dict_set(&options, "flipped_raw_rgb", "1", 0);
  ret = avformat_write_header(m_pFormat, &options);
  av_dict_free(&options);
  if (ret >= 0 && m_pFile->error < 0) ret = m_pFile->error;
  if (ret < 0) {
    FailFrame("avformat_write_header", ret);
    return false;
  }
  m_bHeaderWritten = true;
  return true;
}

int CAviFileOperation::FailFrame(const char* call, int error) {
  TraceLog(TRC_MOV, kAdd, "The error occurred by %s. %s", call, FormatErrorCode(error).c_str());
  m_strError = MovString(IDS_MOV_SAVE_ERROR);
  Close();
  return AVI_ADD_ERROR;
}

int CAviFileOperation::AddFrame(const CBitmap24& bitmap) {
  if (bitmap.isNull()) {
    m_strError = MovString(IDS_MOV_SAVE_ERROR);
    TraceLogText(TRC_MOV, kAdd, "HBITMAP Object is NULL.");
    return AVI_ADD_ERROR;
  }
  if (!IsBitmap24(bitmap)) {
    m_strError = MovString(IDS_MOV_SAVE_ERROR);
    TraceLogText(TRC_MOV, kAdd, "DIBSECTION Size is failed.");
    return AVI_ADD_ERROR;
  }
  const BITMAPINFOHEADER h = MakeInfoHeader24(bitmap.width(), bitmap.height());
  if (m_nFirstWidth == 0) {
    m_nFirstWidth = h.biWidth;
    m_nFirstHeight = h.biHeight;
  } else if (h.biWidth != m_nFirstWidth || h.biHeight != m_nFirstHeight) {
    // One recording has one frame size; a part of another size would not
    // play as one movie.
    TraceLog(TRC_MOV, kAdd, "The frame size %dx%d differs from the first frame's %dx%d.",
             static_cast<int>(h.biWidth), static_cast<int>(h.biHeight), static_cast<int>(m_nFirstWidth),
             static_cast<int>(m_nFirstHeight));
    m_strError = MovString(IDS_MOV_INTERNAL_ERROR);
    Close();
    return AVI_ADD_ERROR;
  }
  const uint64_t size = h.biSizeImage;
  if (m_nRecCondition == RECCOND_CAPACITY && m_nTotalBytes + size > m_nRecLimit) {
    return Close() ? AVI_ADD_LIMIT : AVI_ADD_ERROR;
  }
  // A part takes at least one frame, so a split size below one frame never
  // leaves an empty part behind.
  if (m_nFramesInFile > 0 && m_nBytesInFile + size > m_nMaxFileSize) {
    if (!Close()) return AVI_ADD_ERROR;
    ++m_nFileCounter;
    if (m_nFileCounter > kMaxFileCounter) {
      TraceLogText(TRC_MOV, kAdd, "[Infomation] The counter of the file name exceeded 999. ");
      m_strError = MovString(IDS_MOV_FILE_LIMIT);
      return AVI_ADD_ERROR;
    }
    Initialize(m_strCurrentPath, m_dwFrameRate);
  }
  if (!m_pFile) {
    TraceLogText(TRC_MOV, kAdd, "The error occurred by avformat_write_header. No file is open.");
    m_strError = MovString(IDS_MOV_SAVE_ERROR);
    return AVI_ADD_ERROR;
  }
  if (!HasRoomFor(size)) {
    TraceLog(TRC_MOV, kAdd, "[Infomation] The free space of the disk is not enough. Path[%s] Frame[%" PRIu64 "]",
             m_strCurrentPath.c_str(), size);
    m_strError = MovString(IDS_MOV_SAVE_ERROR);
    Close();
    return AVI_ADD_ERROR;
  }
  if (!m_bHeaderWritten && !CreateStream(h)) return AVI_ADD_ERROR;
  if (!m_pPacket && !(m_pPacket = av_packet_alloc())) return FailFrame("av_packet_alloc", AVERROR(ENOMEM));
  // The file holds the rows bottom-up: one copy of each row, in reverse
  // order, into a buffer kept from frame to frame. The picture's rows are
  // padded to 4 bytes like the file's.
  const size_t stride = DibStride24(h.biWidth);
  m_Rows.resize(size);
  for (LONG y = 0; y < h.biHeight; ++y)
    std::memcpy(m_Rows.data() + static_cast<size_t>(h.biHeight - 1 - y) * stride, bitmap.constScanLine(y), stride);
  av_packet_unref(m_pPacket);
  m_pPacket->data = m_Rows.data();
  m_pPacket->size = static_cast<int>(size);
  m_pPacket->stream_index = 0;
  m_pPacket->pts = m_pPacket->dts = static_cast<int64_t>(m_nFramesInFile);
  m_pPacket->duration = 1;
  m_pPacket->flags = AV_PKT_FLAG_KEY;
  int ret = av_write_frame(m_pFormat, m_pPacket);
  m_pPacket->data = nullptr;
  m_pPacket->size = 0;
  if (ret >= 0 && m_pFile->error < 0) ret = m_pFile->error;
  if (ret < 0) return FailFrame("av_write_frame", ret);
  m_nBytesInFile += size;
  m_nTotalBytes += size;
  ++m_nFramesInFile;
  ++m_nTotalFrames;
  return AVI_ADD_WRITTEN;
}

void CAviFileOperation::Release(bool complete, bool* ok) {
  if (m_pFormat && m_bHeaderWritten && complete) {
    int ret = av_write_trailer(m_pFormat);
    if (ret >= 0 && m_pFile && m_pFile->error < 0) ret = m_pFile->error;
    if (ret < 0) {
      TraceLog(TRC_MOV, kClose, "The error occurred by av_write_trailer. %s", FormatErrorCode(ret).c_str());
      *ok = false;
    }
  }
  // A part whose first frame failed holds a header at most: nothing to keep.
  const bool hadFrames = m_bHeaderWritten && m_nFramesInFile > 0;
  if (m_pFile) {
    avio_flush(m_pFile);
    int ret = m_pFile->error;
    int closed = avio_closep(&m_pFile);
    if (ret >= 0) ret = closed;
    if (ret < 0) {
      TraceLog(TRC_MOV, kClose, "The error occurred by avio_closep. %s", FormatErrorCode(ret).c_str());
      *ok = false;
    }
    if (!hadFrames) RemoveEmptyOutput(m_strCurrentPath);
  }
  if (m_pFormat) {
    m_pFormat->pb = nullptr;
    avformat_free_context(m_pFormat);
    m_pFormat = nullptr;
  }
  m_bHeaderWritten = false;
}

BOOL CAviFileOperation::Close() {
  bool ok = true;
  Release(true, &ok);
  if (!ok) {
    m_strError = MovString(IDS_MOV_SAVE_ERROR);
    return FALSE;
  }
  return TRUE;
}
