#include "MovieSource.h"

#include <unistd.h>

#include <cerrno>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include "Common/Dib.h"
#include "Common/RegularFile.h"
#include "Common/TraceLog.h"
#include "FormatErrorCode.h"
#include "OutputFile.h"

namespace {

// The largest picture a movie may have: 8192 x 8192, far above what the
// camera records or a desktop shows, and well within what one 24-bit
// picture and the decoder's own planes may take.
constexpr int64_t kMaxMoviePixels = int64_t{8192} * 8192;

class CFileMovieSource : public IMovieSource {
 public:
  ~CFileMovieSource() override {
    sws_freeContext(scale_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&codec_);
    avformat_close_input(&format_);
    if (fd_ >= 0) ::close(fd_);
  }

  MOVIERESULT Open(const std::string& path, CMovieInfo* info) override {
    constexpr const char* kName = "CMoviePlay::Initialize";
    // The file a user picked is opened by the regular-file rule, so that a
    // FIFO or a device named like a movie is refused at once instead of
    // holding the opening (or the reads) for ever; FFmpeg then reads that
    // same file through its descriptor's /proc name.
    errno = 0;
    fd_ = OpenRegularFile(path);
    if (fd_ < 0) {
      const int err = AVERROR(errno != 0 ? errno : EINVAL);
      TraceLog(TRC_MOV, kName, "It failed in RenderFile HRESULT=0x%08X %s", static_cast<unsigned>(err),
               FormatErrorCode(err).c_str());
      return err == AVERROR(ENOMEM) ? MOVIE_E_OUTOFMEMORY : MOVIE_E_INVALIDFILE;
    }
    const std::string url = FileUrl("/proc/self/fd/" + std::to_string(fd_));
    int ret = avformat_open_input(&format_, url.c_str(), nullptr, nullptr);
    if (ret < 0) {
      TraceLog(TRC_MOV, kName, "It failed in RenderFile HRESULT=0x%08X %s", static_cast<unsigned>(ret),
               FormatErrorCode(ret).c_str());
      return ret == AVERROR(ENOMEM) ? MOVIE_E_OUTOFMEMORY : MOVIE_E_INVALIDFILE;
    }
    if (avformat_find_stream_info(format_, nullptr) < 0) return MOVIE_E_INVALIDFILE;
    *info = CMovieInfo{};
    if (format_->duration > 0) info->duration = av_rescale(format_->duration, MOVIE_UNITS_PER_SECOND, AV_TIME_BASE);
    stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream_ < 0) {
      // No video: the movie still opens and plays its length.
      if (format_->nb_streams == 0) return MOVIE_E_INVALIDFILE;
      return MOVIE_S_OK;
    }
    AVStream* st = format_->streams[stream_];
    const AVCodec* decoder = avcodec_find_decoder(st->codecpar->codec_id);
    codec_ = decoder ? avcodec_alloc_context3(decoder) : nullptr;
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!frame_ || !packet_) return MOVIE_E_OUTOFMEMORY;
    // A picture size a broken or hostile file claims is refused by the
    // decoder before it allocates anything for it.
    if (codec_) codec_->max_pixels = kMaxMoviePixels;
    if (!codec_ || avcodec_parameters_to_context(codec_, st->codecpar) < 0 || avcodec_open2(codec_, decoder, nullptr) < 0) {
      TraceLogText(TRC_MOV, kName, "As for the specified file, the codec is not supported.");
      avcodec_free_context(&codec_);
      stream_ = -1;
      return MOVIE_S_OK;
    }
    info->hasVideo = true;
    info->width = codec_->width;
    info->height = codec_->height;
    if (info->duration <= 0 && st->duration > 0) {
      info->duration = av_rescale_q(st->duration, st->time_base, AVRational{1, static_cast<int>(MOVIE_UNITS_PER_SECOND)});
    }
    return MOVIE_S_OK;
  }

  int ReadFrame(CVideoFrame* out) override {
    if (stream_ < 0 || !codec_) return SOURCE_END;
    for (;;) {
      int ret = avcodec_receive_frame(codec_, frame_);
      if (ret >= 0) return Convert(out);
      if (ret == AVERROR_EOF) return SOURCE_END;
      if (ret != AVERROR(EAGAIN)) return SOURCE_ERROR;
      if (draining_) return SOURCE_END;
      ret = av_read_frame(format_, packet_);
      if (ret == AVERROR_EOF) {
        draining_ = true;
        avcodec_send_packet(codec_, nullptr);
        continue;
      }
      if (ret < 0) return SOURCE_ERROR;
      if (packet_->stream_index == stream_) {
        ret = avcodec_send_packet(codec_, packet_);
        av_packet_unref(packet_);
        if (ret < 0 && ret != AVERROR(EAGAIN) && ret != AVERROR_INVALIDDATA) return SOURCE_ERROR;
      } else {
        av_packet_unref(packet_);
      }
    }
  }

  bool Seek(int64_t position) override {
    if (stream_ < 0 || !codec_) return true;
    const AVStream* st = format_->streams[stream_];
    const int64_t ts = av_rescale_q(position, AVRational{1, static_cast<int>(MOVIE_UNITS_PER_SECOND)}, st->time_base);
    // A seek may land on a key frame before the target; the player decodes
    // forward from it.
    int ret = av_seek_frame(format_, stream_, ts, AVSEEK_FLAG_BACKWARD);
    if (ret < 0) ret = av_seek_frame(format_, stream_, 0, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
    avcodec_flush_buffers(codec_);
    draining_ = false;
    return ret >= 0;
  }

 private:
  int Convert(CVideoFrame* out) {
    const AVStream* st = format_->streams[stream_];
    const AVRational units{1, static_cast<int>(MOVIE_UNITS_PER_SECOND)};
    const int64_t ts = frame_->best_effort_timestamp != AV_NOPTS_VALUE ? frame_->best_effort_timestamp : frame_->pts;
    const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    out->pts = ts == AV_NOPTS_VALUE ? lastPts_ : av_rescale_q(ts - start, st->time_base, units);
    out->duration = frame_->pkt_duration > 0 ? av_rescale_q(frame_->pkt_duration, st->time_base, units) : 0;
    lastPts_ = out->pts;
    out->width = frame_->width;
    out->height = frame_->height;
    out->stride = static_cast<int>(DibStride24(frame_->width));
    out->bgr.resize(static_cast<size_t>(out->stride) * out->height);
    scale_ = sws_getCachedContext(scale_, frame_->width, frame_->height, static_cast<AVPixelFormat>(frame_->format),
                                  frame_->width, frame_->height, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr,
                                  nullptr);
    if (!scale_) return SOURCE_ERROR;
    uint8_t* dst[1] = {out->bgr.data()};
    const int dstStride[1] = {out->stride};
    sws_scale(scale_, frame_->data, frame_->linesize, 0, frame_->height, dst, dstStride);
    av_frame_unref(frame_);
    return SOURCE_FRAME;
  }

  AVFormatContext* format_ = nullptr;
  AVCodecContext* codec_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  SwsContext* scale_ = nullptr;
  int fd_ = -1;  // the picked file, held open while FFmpeg reads it
  int stream_ = -1;
  bool draining_ = false;
  int64_t lastPts_ = 0;
};

}  // namespace

std::unique_ptr<IMovieSource> CreateFileMovieSource() { return std::make_unique<CFileMovieSource>(); }
