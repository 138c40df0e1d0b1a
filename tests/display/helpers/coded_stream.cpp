#include "tests/display/helpers/coded_stream.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace orvan::test {
namespace {

struct CodecCtxDeleter {
  void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
  void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct PacketDeleter {
  void operator()(AVPacket *p) const { av_packet_free(&p); }
};
struct SwsDeleter {
  void operator()(SwsContext *s) const { sws_freeContext(s); }
};
using CodecCtx = std::unique_ptr<AVCodecContext, CodecCtxDeleter>;
using Frame = std::unique_ptr<AVFrame, FrameDeleter>;
using Packet = std::unique_ptr<AVPacket, PacketDeleter>;

void PaintPicture(AVFrame *f, int index, bool fullRange) {
  const int w = f->width, h = f->height;
  // Quarter colours in Y, U, V.
  static const int kQuarter[4][3] = {{82, 90, 240}, {145, 54, 34}, {41, 240, 110}, {210, 16, 146}};
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int q = (y >= h / 2 ? 2 : 0) + (x >= w / 2 ? 1 : 0);
      int luma = kQuarter[q][0] + ((x + y) % 64) / 4;
      const int barX = (index * 16) % std::max(1, w);
      if (x >= barX && x < barX + 8) luma = 235;
      if (fullRange) luma = std::min(255, (luma - 16) * 255 / 219);
      f->data[0][y * f->linesize[0] + x] = uint8_t(std::clamp(luma, 0, 255));
    }
  }
  const int cw = w / 2;
  const int ch = (f->format == AV_PIX_FMT_YUVJ422P) ? h : h / 2;
  const int vshift = (f->format == AV_PIX_FMT_YUVJ422P) ? 0 : 1;
  for (int y = 0; y < ch; ++y) {
    for (int x = 0; x < cw; ++x) {
      const int q = ((y << vshift) >= h / 2 ? 2 : 0) + ((x << 1) >= w / 2 ? 1 : 0);
      f->data[1][y * f->linesize[1] + x] = uint8_t(kQuarter[q][1]);
      f->data[2][y * f->linesize[2] + x] = uint8_t(kQuarter[q][2]);
    }
  }
}

}  // namespace

std::vector<CodedPicture> EncodeStream(Codec codec, int width, int height, int count, int gop) {
  std::vector<CodedPicture> out;
  const AVCodec *enc = avcodec_find_encoder_by_name(codec == Codec::Mpeg4 ? "mpeg4" : "mjpeg");
  if (!enc) return out;
  CodecCtx ctx(avcodec_alloc_context3(enc));
  ctx->width = width;
  ctx->height = height;
  ctx->time_base = AVRational{2, 15};
  ctx->pix_fmt = codec == Codec::Mpeg4 ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_YUVJ420P;
  ctx->gop_size = gop;
  ctx->max_b_frames = 0;
  ctx->bit_rate = 2000000;
  if (codec == Codec::Mjpeg) {
    ctx->flags |= AV_CODEC_FLAG_QSCALE;
    ctx->global_quality = FF_QP2LAMBDA * 3;
  }
  if (avcodec_open2(ctx.get(), enc, nullptr) < 0) return out;
  Frame frame(av_frame_alloc());
  frame->format = ctx->pix_fmt;
  frame->width = width;
  frame->height = height;
  if (av_frame_get_buffer(frame.get(), 0) < 0) return out;
  Packet pkt(av_packet_alloc());
  auto drain = [&] {
    while (avcodec_receive_packet(ctx.get(), pkt.get()) == 0) {
      CodedPicture p;
      p.bytes.assign(pkt->data, pkt->data + pkt->size);
      p.key = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
      out.push_back(std::move(p));
      av_packet_unref(pkt.get());
    }
  };
  for (int i = 0; i < count; ++i) {
    if (av_frame_make_writable(frame.get()) < 0) return {};
    PaintPicture(frame.get(), i, codec == Codec::Mjpeg);
    frame->pts = i;
    frame->pict_type = (i % gop == 0) ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (avcodec_send_frame(ctx.get(), frame.get()) < 0) return {};
    drain();
  }
  avcodec_send_frame(ctx.get(), nullptr);
  drain();
  return out;
}

std::vector<QImage> DecodeToRgb32(Codec codec, const std::vector<CodedPicture> &stream) {
  std::vector<QImage> images;
  const AVCodec *dec = avcodec_find_decoder_by_name(codec == Codec::Mpeg4 ? "mpeg4" : "mjpeg");
  if (!dec) return images;
  CodecCtx ctx(avcodec_alloc_context3(dec));
  if (avcodec_open2(ctx.get(), dec, nullptr) < 0) return images;
  Frame frame(av_frame_alloc());
  Packet pkt(av_packet_alloc());
  auto take = [&] {
    while (avcodec_receive_frame(ctx.get(), frame.get()) == 0) {
      QImage img(frame->width, frame->height, QImage::Format_RGB32);
      std::unique_ptr<SwsContext, SwsDeleter> sws(
          sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
                         frame->height, AV_PIX_FMT_BGRA, SWS_POINT, nullptr, nullptr, nullptr));
      uint8_t *dst[4] = {img.bits(), nullptr, nullptr, nullptr};
      int dstStride[4] = {int(img.bytesPerLine()), 0, 0, 0};
      sws_scale(sws.get(), frame->data, frame->linesize, 0, frame->height, dst, dstStride);
      images.push_back(img);
      av_frame_unref(frame.get());
    }
  };
  for (const CodedPicture &p : stream) {
    pkt->data = const_cast<uint8_t *>(p.bytes.data());
    pkt->size = int(p.bytes.size());
    if (avcodec_send_packet(ctx.get(), pkt.get()) == 0) take();
  }
  avcodec_send_packet(ctx.get(), nullptr);
  take();
  return images;
}

QImage StretchNearest(const QImage &src, const QRect &from, int dstW, int dstH) {
  QImage out(dstW, dstH, QImage::Format_RGB32);
  for (int y = 0; y < dstH; ++y) {
    const int sy = from.top() + int((int64_t(y) * from.height()) / dstH);
    auto *row = reinterpret_cast<QRgb *>(out.scanLine(y));
    const auto *srow = reinterpret_cast<const QRgb *>(src.constScanLine(sy));
    for (int x = 0; x < dstW; ++x) row[x] = srow[from.left() + int((int64_t(x) * from.width()) / dstW)];
  }
  return out;
}

double MeanAbsDiff(const QImage &a, const QImage &b) {
  if (a.size() != b.size() || a.isNull()) return 1e9;
  uint64_t sum = 0;
  for (int y = 0; y < a.height(); ++y) {
    const uint8_t *ra = a.constScanLine(y);
    const uint8_t *rb = b.constScanLine(y);
    for (int x = 0; x < a.width(); ++x)
      for (int c = 0; c < 3; ++c) sum += uint64_t(std::abs(int(ra[4 * x + c]) - int(rb[4 * x + c])));
  }
  return double(sum) / (double(a.width()) * a.height() * 3);
}

}  // namespace orvan::test
