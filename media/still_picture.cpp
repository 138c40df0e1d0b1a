#include "media/still_picture.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <cstring>
#include <memory>

#include "media/codec_library.h"
#include "media/frame.h"
#include "media/video_decoder.h"
#include "platform/av_handles.h"

namespace orvan::media {

namespace {

// Largest picture taken: a recorder picture is at most 720 x 576.
constexpr int kMaxSide = 4096;

}  // namespace

bool DecodeStillPicture(StillCodec codec, const uint8_t *data, size_t size, StillPicture &picture,
                        const std::vector<uint8_t> &headers) {
  picture = StillPicture{};
  if (!data || size < 4 || size > (8u << 20)) return false;
  InitCodecLibrary();
  std::vector<uint8_t> payload;
  payload.reserve(headers.size() + size);
  payload.insert(payload.end(), headers.begin(), headers.end());
  payload.insert(payload.end(), data, data + size);
  CVideoDecoderMpeg4 decoder(codec == StillCodec::kMpeg4 ? kCodecMpeg4 : kCodecMjpeg);
  if (!decoder.IsOpen()) return false;
  VORN_TESK::tagFrame *frame = VORN_TESK::Frames().Create(
      VORN_TESK::FT_IFRAME, uint32_t(payload.size()), 0u, 0u, payload.data());
  if (!frame) return false;
  int32_t width = 0, height = 0;
  AVFrame *decoded = decoder.Decode(frame, &width, &height, nullptr);
  VORN_TESK::Frames().Release(frame);
  if (!decoded || decoder.DecodeErrors() > 0 || decoder.Damaged() ||
      decoded->decode_error_flags != 0 || (decoded->flags & AV_FRAME_FLAG_CORRUPT))
    return false;
  if (decoded->width <= 0 || decoded->height <= 0 || decoded->width > kMaxSide ||
      decoded->height > kMaxSide)
    return false;
  orvan::av::SwsContextPtr scale(sws_getContext(
      decoded->width, decoded->height, AVPixelFormat(decoded->format), decoded->width,
      decoded->height, AV_PIX_FMT_RGB24, SWS_POINT, nullptr, nullptr, nullptr));
  if (!scale) return false;
  picture.width = decoded->width;
  picture.height = decoded->height;
  picture.rgb.assign(size_t(picture.width) * size_t(picture.height) * 3 + 64, 0);
  uint8_t *dst[4] = {picture.rgb.data(), nullptr, nullptr, nullptr};
  int dstStride[4] = {picture.width * 3, 0, 0, 0};
  if (sws_scale(scale.get(), decoded->data, decoded->linesize, 0, decoded->height, dst,
                dstStride) != decoded->height) {
    picture = StillPicture{};
    return false;
  }
  picture.rgb.resize(size_t(picture.width) * size_t(picture.height) * 3);
  return true;
}

bool EncodePng(const StillPicture &picture, std::vector<uint8_t> &png) {
  png.clear();
  if (picture.width <= 0 || picture.height <= 0 ||
      picture.rgb.size() < size_t(picture.width) * size_t(picture.height) * 3)
    return false;
  InitCodecLibrary();
  const AVCodec *encoder = avcodec_find_encoder(AV_CODEC_ID_PNG);
  if (!encoder) return false;
  orvan::av::CodecContextPtr c(avcodec_alloc_context3(encoder));
  orvan::av::FramePtr frame = orvan::av::MakeFrame();
  orvan::av::PacketPtr packet = orvan::av::MakePacket();
  if (!c || !frame || !packet) return false;
  c->width = picture.width;
  c->height = picture.height;
  c->pix_fmt = AV_PIX_FMT_RGB24;
  c->time_base = AVRational{1, 25};
  // The fastest deflate: a carve writes a picture for every key picture it
  // finds, at the disk's pace; the files are a third larger than at the
  // default level, and as lossless.
  c->compression_level = 1;
  AVDictionary *opts = nullptr;
  // Each row as its difference from the row above: a third of the size
  // of unfiltered rows, and deflated in less time.
  av_dict_set(&opts, "pred", "up", 0);
  const int opened = avcodec_open2(c.get(), encoder, &opts);
  av_dict_free(&opts);
  if (opened < 0) return false;
  frame->format = AV_PIX_FMT_RGB24;
  frame->width = picture.width;
  frame->height = picture.height;
  if (av_frame_get_buffer(frame.get(), 32) < 0) return false;
  for (int y = 0; y < picture.height; ++y)
    std::memcpy(frame->data[0] + y * frame->linesize[0],
                picture.rgb.data() + size_t(y) * size_t(picture.width) * 3,
                size_t(picture.width) * 3);
  if (avcodec_send_frame(c.get(), frame.get()) < 0 ||
      avcodec_receive_packet(c.get(), packet.get()) < 0)
    return false;
  png.assign(packet->data, packet->data + packet->size);
  return true;
}

}  // namespace orvan::media
