#include "tests/media/test_streams.h"

#include <cstring>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace orvan::test {

av::FramePtr MakeTestPicture(AVPixelFormat format, int width, int height, int index) {
  av::FramePtr picture = av::MakeFrame();
  picture->format = format;
  picture->width = width;
  picture->height = height;
  if (av_frame_get_buffer(picture.get(), 0) < 0) return nullptr;
  const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(format);
  // A gradient with a bright square that moves from picture to picture, so
  // predicted pictures carry real motion.
  const int squareX = (index * 8) % (width - 64);
  const int squareY = (index * 4) % (height - 64);
  for (int y = 0; y < height; ++y) {
    uint8_t *row = picture->data[0] + y * picture->linesize[0];
    for (int x = 0; x < width; ++x) {
      const bool inSquare = x >= squareX && x < squareX + 64 && y >= squareY && y < squareY + 64;
      row[x] = inSquare ? 220 : uint8_t(32 + ((x + y + index) * 160 / (width + height)) % 180);
    }
  }
  const int cw = AV_CEIL_RSHIFT(width, desc->log2_chroma_w);
  const int ch = AV_CEIL_RSHIFT(height, desc->log2_chroma_h);
  for (int plane = 1; plane <= 2; ++plane) {
    for (int y = 0; y < ch; ++y) {
      uint8_t *row = picture->data[plane] + y * picture->linesize[plane];
      for (int x = 0; x < cw; ++x)
        row[x] = uint8_t(plane == 1 ? 64 + (x * 128 / cw) : 192 - (y * 128 / ch) + index % 8);
    }
  }
  return picture;
}

std::vector<CodedPicture> EncodeStream(const std::string &encoderName, AVPixelFormat format,
                                       int width, int height, int count, int gop) {
  std::vector<CodedPicture> out;
  const AVCodec *encoder = avcodec_find_encoder_by_name(encoderName.c_str());
  if (!encoder) return out;
  av::CodecContextPtr context(avcodec_alloc_context3(encoder));
  context->width = width;
  context->height = height;
  context->pix_fmt = format;
  context->time_base = AVRational{2, 15};
  context->framerate = AVRational{15, 2};
  context->gop_size = gop;
  context->max_b_frames = 0;
  context->bit_rate = 2000000;
  if (format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P)
    context->color_range = AVCOL_RANGE_JPEG;
  if (avcodec_open2(context.get(), encoder, nullptr) < 0) return out;

  av::PacketPtr packet = av::MakePacket();
  auto drain = [&]() {
    while (avcodec_receive_packet(context.get(), packet.get()) == 0) {
      CodedPicture p;
      p.bytes.assign(packet->data, packet->data + packet->size);
      p.key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
      out.push_back(std::move(p));
      av_packet_unref(packet.get());
    }
  };
  for (int i = 0; i < count; ++i) {
    av::FramePtr picture = MakeTestPicture(format, width, height, i);
    picture->pts = i;
    if (format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P)
      picture->color_range = AVCOL_RANGE_JPEG;
    if (avcodec_send_frame(context.get(), picture.get()) < 0) return {};
    drain();
  }
  avcodec_send_frame(context.get(), nullptr);
  drain();
  return out;
}

std::vector<av::FramePtr> ReferenceDecode(const std::string &decoderName,
                                          const std::vector<CodedPicture> &stream) {
  std::vector<av::FramePtr> out;
  const AVCodec *decoder = avcodec_find_decoder_by_name(decoderName.c_str());
  av::CodecContextPtr context(avcodec_alloc_context3(nullptr));
  if (!decoder || avcodec_open2(context.get(), decoder, nullptr) < 0) return out;
  av::PacketPtr packet = av::MakePacket();
  for (const CodedPicture &coded : stream) {
    std::vector<uint8_t> padded(coded.bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    std::memcpy(padded.data(), coded.bytes.data(), coded.bytes.size());
    packet->data = padded.data();
    packet->size = int(coded.bytes.size());
    avcodec_send_packet(context.get(), packet.get());
    av::FramePtr picture = av::MakeFrame();
    if (avcodec_receive_frame(context.get(), picture.get()) == 0)
      out.push_back(std::move(picture));
    else
      out.push_back(nullptr);
  }
  return out;
}

bool SamePicture(const AVFrame *a, const AVFrame *b) {
  if (!a || !b || a->format != b->format || a->width != b->width || a->height != b->height)
    return false;
  const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(AVPixelFormat(a->format));
  for (int plane = 0; plane < 3; ++plane) {
    const int w = plane ? AV_CEIL_RSHIFT(a->width, desc->log2_chroma_w) : a->width;
    const int h = plane ? AV_CEIL_RSHIFT(a->height, desc->log2_chroma_h) : a->height;
    for (int y = 0; y < h; ++y)
      if (std::memcmp(a->data[plane] + y * a->linesize[plane],
                      b->data[plane] + y * b->linesize[plane], w) != 0)
        return false;
  }
  return true;
}

FramePtr MakeFrame(uint32_t type, const std::vector<uint8_t> &bytes) {
  return FramePtr(
      VORN_TESK::Frames().Create(type, uint32_t(bytes.size()), FILETIME{1, 0}, bytes.data()));
}

}  // namespace orvan::test
