#include "BareWriter.h"

#include <cstdio>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include "ThreadCpu.h"
#include "WmvFileOperation.h"

double BareWriterSeconds(bool wmv, const std::vector<CBitmap24>& ring, DWORD rate, DWORD quality, int frames,
                         const std::string& path) {
  if (ring.empty()) return 0;
  const int w = ring.front().width(), h = ring.front().height();
  const double t0 = fotavi::test::ThreadCpuSeconds();
  AVFormatContext* fmt = nullptr;
  avformat_alloc_output_context2(&fmt, nullptr, wmv ? "asf" : "avi", nullptr);
  fmt->flags |= AVFMT_FLAG_FLUSH_PACKETS;  // as the writers do
  avio_open(&fmt->pb, ("file:" + path).c_str(), AVIO_FLAG_WRITE);
  AVStream* st = avformat_new_stream(fmt, nullptr);
  AVPacket* pkt = av_packet_alloc();
  const DWORD tb = CWmvFileOperation::TimeBaseFor(rate);
  AVCodecContext* enc = nullptr;
  SwsContext* sws = nullptr;
  AVFrame* frame = nullptr;
  if (wmv) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMV2);
    enc = avcodec_alloc_context3(codec);
    enc->width = w;
    enc->height = h;
    enc->pix_fmt = AV_PIX_FMT_YUV420P;
    av_reduce(&enc->time_base.num, &enc->time_base.den, 1000, tb, INT32_MAX);
    enc->framerate = AVRational{enc->time_base.den, enc->time_base.num};
    enc->gop_size = static_cast<int>(8 * rate);
    enc->flags |= AV_CODEC_FLAG_QSCALE | AV_CODEC_FLAG_GLOBAL_HEADER;
    enc->global_quality = CWmvFileOperation::QuantiserFor(quality) * FF_QP2LAMBDA;
    avcodec_open2(enc, codec, nullptr);
    avcodec_parameters_from_context(st->codecpar, enc);
    st->time_base = AVRational{1, 1000};
    frame = av_frame_alloc();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = w;
    frame->height = h;
    av_frame_get_buffer(frame, 0);
    sws = sws_getContext(w, h, AV_PIX_FMT_BGR24, w, h, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
  } else {
    st->time_base = AVRational{1, static_cast<int>(rate)};
    st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    st->codecpar->codec_id = AV_CODEC_ID_RAWVIDEO;
    st->codecpar->format = AV_PIX_FMT_BGR24;
    st->codecpar->width = w;
    st->codecpar->height = h;
    st->codecpar->bits_per_coded_sample = 24;
  }
  AVDictionary* opts = nullptr;
  if (!wmv) av_dict_set(&opts, "flipped_raw_rgb", "1", 0);
  if (avformat_write_header(fmt, &opts) < 0) fprintf(stderr, "bare loop: the header cannot be written\n");
  av_dict_free(&opts);
  auto drain = [&] {
    while (avcodec_receive_packet(enc, pkt) >= 0) {
      const int64_t n = pkt->pts;
      pkt->pts = pkt->dts = CWmvFileOperation::SampleTimeMs(n, tb);
      pkt->duration = CWmvFileOperation::SampleTimeMs(n + 1, tb) - pkt->pts;
      av_write_frame(fmt, pkt);
      av_packet_unref(pkt);
    }
  };
  for (int i = 0; i < frames; ++i) {
    const CBitmap24& p = ring[i % ring.size()];
    if (wmv) {
      av_frame_make_writable(frame);
      const uint8_t* src[1] = {p.constBits()};
      const int srcStride[1] = {static_cast<int>(p.bytesPerLine())};
      sws_scale(sws, src, srcStride, 0, h, frame->data, frame->linesize);
      frame->pts = i;
      frame->quality = enc->global_quality;
      avcodec_send_frame(enc, frame);
      drain();
    } else {
      pkt->data = const_cast<uint8_t*>(p.constBits());
      pkt->size = static_cast<int>(p.sizeInBytes());
      pkt->pts = pkt->dts = i;
      pkt->duration = 1;
      pkt->flags = AV_PKT_FLAG_KEY;
      pkt->stream_index = 0;
      av_write_frame(fmt, pkt);
      pkt->data = nullptr;
      pkt->size = 0;
    }
  }
  if (wmv) {
    avcodec_send_frame(enc, nullptr);
    drain();
  }
  av_write_trailer(fmt);
  avio_closep(&fmt->pb);
  avformat_free_context(fmt);
  avcodec_free_context(&enc);
  sws_freeContext(sws);
  av_frame_free(&frame);
  av_packet_free(&pkt);
  return fotavi::test::ThreadCpuSeconds() - t0;
}
