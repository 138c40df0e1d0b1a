// Owning handles for the FFmpeg objects the media layer keeps: each one is a
// std::unique_ptr whose deleter is the library's own free call, so every path
// out of a function releases what it made.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace orvan::av {

struct CodecContextDeleter {
  void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
  void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct PacketDeleter {
  void operator()(AVPacket *p) const { av_packet_free(&p); }
};
struct SwsContextDeleter {
  void operator()(SwsContext *s) const { sws_freeContext(s); }
};
// An output format context: closes its file (when the muxer owns one) and
// frees the context.
struct OutputFormatContextDeleter {
  void operator()(AVFormatContext *f) const {
    if (f->pb && !(f->oformat->flags & AVFMT_NOFILE)) avio_closep(&f->pb);
    avformat_free_context(f);
  }
};
struct InputFormatContextDeleter {
  void operator()(AVFormatContext *f) const { avformat_close_input(&f); }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextDeleter>;
using OutputFormatContextPtr = std::unique_ptr<AVFormatContext, OutputFormatContextDeleter>;
using InputFormatContextPtr = std::unique_ptr<AVFormatContext, InputFormatContextDeleter>;

inline FramePtr MakeFrame() { return FramePtr(av_frame_alloc()); }
inline PacketPtr MakePacket() { return PacketPtr(av_packet_alloc()); }

}  // namespace orvan::av
