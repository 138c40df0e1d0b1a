#include "platform/mpeg4_encoder.h"

#include <cstring>
#include <mutex>

#include "platform/log.h"

namespace orvan::platform {

namespace {
constexpr const char *kLogCategory = "encoder";
}

int Mpeg4Encoder::EncoderControl(int code, int32_t *value) {
  switch (code) {
    case kControlQuery:
      return 0;
    case kControlSetSize: {
      if (!value) return -1;
      const int width = *value / 4096;
      const int height = *value % 4096;
      // MPEG-4 wants even sizes for 4:2:0.
      if (width < 16 || height < 16 || width % 2 || height % 2) return -1;
      m_width = width;
      m_height = height;
      return 0;
    }
    default:
      return -1;
  }
}

int Mpeg4Encoder::InitEncoder() {
  CleanupEncoder();
  const AVCodec *codec = avcodec_find_encoder_by_name("mpeg4");
  if (!codec) return -1;
  av::CodecContextPtr context(avcodec_alloc_context3(codec));
  if (!context) return -1;
  context->width = m_width;
  context->height = m_height;
  context->pix_fmt = AV_PIX_FMT_YUV420P;
  context->time_base = AVRational{1, 7};
  context->framerate = AVRational{7, 1};
  context->gop_size = kKeyPictureInterval;
  context->max_b_frames = 0;  // one coded picture out for every picture in
  // Constant quality: screen pictures vary too much for a fixed bit rate.
  context->flags |= AV_CODEC_FLAG_QSCALE;
  context->global_quality = FF_QP2LAMBDA * 4;
  context->thread_count = 1;
  if (avcodec_open2(context.get(), codec, nullptr) < 0) {
    ORVAN_LOG_WARN(kLogCategory, "cannot open the MPEG-4 encoder");
    return -1;
  }
  av::FramePtr picture = av::MakeFrame();
  picture->format = AV_PIX_FMT_YUV420P;
  picture->width = m_width;
  picture->height = m_height;
  if (av_frame_get_buffer(picture.get(), 0) < 0) return -1;
  m_toYuv.reset(sws_getContext(m_width, m_height, AV_PIX_FMT_BGR24, m_width, m_height,
                               AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr));
  m_packet = av::MakePacket();
  if (!m_toYuv || !m_packet) return -1;
  m_context = std::move(context);
  m_picture = std::move(picture);
  m_pictureNumber = 0;
  return 0;
}

int Mpeg4Encoder::Encode(const uint8_t *bgr, size_t inputBytes, uint8_t *output,
                         size_t outputCapacity, int *codedBytes, int *frameKind) {
  if (codedBytes) *codedBytes = 0;
  if (!m_context || !bgr || !output) return -1;
  if (inputBytes < size_t(m_width) * m_height * 3) return -1;
  if (av_frame_make_writable(m_picture.get()) < 0) return -1;
  const uint8_t *src[4] = {bgr, nullptr, nullptr, nullptr};
  const int srcStride[4] = {m_width * 3, 0, 0, 0};
  sws_scale(m_toYuv.get(), src, srcStride, 0, m_height, m_picture->data, m_picture->linesize);
  m_picture->pts = m_pictureNumber++;

  if (avcodec_send_frame(m_context.get(), m_picture.get()) < 0) return -1;
  const int rc = avcodec_receive_packet(m_context.get(), m_packet.get());
  if (rc < 0) return -1;
  const size_t size = size_t(m_packet->size);
  const bool key = (m_packet->flags & AV_PKT_FLAG_KEY) != 0;
  int result = 0;
  if (size > outputCapacity) {
    ORVAN_LOG_WARN(kLogCategory, "coded picture of %zu bytes does not fit %zu", size,
                   outputCapacity);
    result = -1;
  } else {
    std::memcpy(output, m_packet->data, size);
    if (codedBytes) *codedBytes = int(size);
    if (frameKind) *frameKind = key ? kKindKey : kKindPredicted;
  }
  av_packet_unref(m_packet.get());
  return result;
}

void Mpeg4Encoder::CleanupEncoder() {
  m_context.reset();
  m_toYuv.reset();
  m_picture.reset();
  m_packet.reset();
}

namespace {
std::mutex g_libraryLock;  // guards g_libraryEncoder
Mpeg4Encoder g_libraryEncoder;
}  // namespace

int XVID_EncoderControl(int code, void *value) {
  std::lock_guard<std::mutex> hold(g_libraryLock);
  return g_libraryEncoder.EncoderControl(code, static_cast<int32_t *>(value));
}

int XVID_InitEncoder() {
  std::lock_guard<std::mutex> hold(g_libraryLock);
  return g_libraryEncoder.InitEncoder();
}

int XVID_Encode(const uint8_t *picture, uint8_t *output, int *codedBytes, int *frameKind) {
  std::lock_guard<std::mutex> hold(g_libraryLock);
  const size_t bytes = size_t(g_libraryEncoder.Width()) * g_libraryEncoder.Height() * 3;
  return g_libraryEncoder.Encode(picture, bytes, output, bytes, codedBytes, frameKind);
}

void XVID_CleanupEncoder() {
  std::lock_guard<std::mutex> hold(g_libraryLock);
  g_libraryEncoder.CleanupEncoder();
}

void PackFourToThreeBytes(uint8_t *pixels, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    // Forward order is safe: pixel i's target bytes never pass its source.
    uint8_t *dst = pixels + 3 * i;
    const uint8_t *src = pixels + 4 * i;
    dst[0] = src[0];
    dst[1] = src[1];
    dst[2] = src[2];
  }
}

}  // namespace orvan::platform
