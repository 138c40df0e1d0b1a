#include "media/video_decoder.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>

#include "media/codec_library.h"
#include "media/pixel_format.h"
#include "platform/log.h"

namespace {
constexpr const char *kLogCategory = "decoder";
}

CVideoDecoderMpeg4::CVideoDecoderMpeg4(int codec)
    : CVideoDecoder(kCodecClosed),
      m_packet(orvan::av::MakePacket()),
      m_spare(orvan::av::MakeFrame()) {
  orvan::media::InitCodecLibrary();
  SetCodec(codec);
}

CVideoDecoderMpeg4::~CVideoDecoderMpeg4() = default;

void CVideoDecoderMpeg4::SetCodec(int codec) {
  m_state = &CVideoDecoderMpeg4::WaitKeyFrame;
  m_damaged = false;
  m_pool.clear();
  m_context.reset();
  if (codec != kCodecClosed) {
    const char *name = codec == kCodecMpeg4 ? "mpeg4" : "mjpeg";
    orvan::av::CodecContextPtr context(avcodec_alloc_context3(nullptr));
    const AVCodec *decoder = avcodec_find_decoder_by_name(name);
    if (context && decoder && avcodec_open2(context.get(), decoder, nullptr) == 0) {
      m_context = std::move(context);
      ++m_openCount;
    } else {
      ORVAN_LOG_WARN(kLogCategory, "cannot open the %s decoder", name);
    }
    // The pool is made even when opening failed: every decode then gives
    // nothing until a later SetCodec opens a decoder.
    for (int i = 0; i < 2; ++i) m_pool.push_back(orvan::av::MakeFrame());
  }
  CVideoDecoder::SetCodec(codec);
}

void CVideoDecoderMpeg4::Flush() {
  m_state = &CVideoDecoderMpeg4::WaitKeyFrame;
  m_damaged = false;
  if (m_context) avcodec_flush_buffers(m_context.get());
}

AVFrame *CVideoDecoderMpeg4::GetLastPicture() const {
  const size_t last = m_current == 0 ? 1 : 0;
  if (m_pool.size() <= last || !m_pool[last]) return nullptr;
  AVFrame *picture = m_pool[last].get();
  return picture->linesize[0] == 0 ? nullptr : picture;
}

AVFrame *CVideoDecoderMpeg4::Decode(const VORN_TESK::tagFrame *frame, uint8_t *pixelFormat) {
  return RunStep(frame, nullptr, nullptr, pixelFormat);
}

AVFrame *CVideoDecoderMpeg4::Decode(const VORN_TESK::tagFrame *frame, int32_t *width,
                                    int32_t *height, uint8_t *pixelFormat) {
  return RunStep(frame, width, height, pixelFormat);
}

AVFrame *CVideoDecoderMpeg4::RunStep(const VORN_TESK::tagFrame *frame, int32_t *width,
                                     int32_t *height, uint8_t *pixelFormat) {
  if (!frame || frame->dwSize < VORN_TESK::kFrameHeaderBytes) return nullptr;
  const size_t payloadBytes = frame->PayloadBytes();
  if (payloadBytes > size_t(INT_MAX) - AV_INPUT_BUFFER_PADDING_SIZE - sizeof kStreamHeader)
    return nullptr;
  if (!m_context || m_pool.size() != 2 || !m_packet || !m_spare) {
    // Closed, or the decoder did not open: nothing comes out.
    return nullptr;
  }
  bool failed = false;
  AVFrame *picture = nullptr;
  try {
    picture =
        (this->*m_state)(frame->Data(), payloadBytes, VORN_TESK::FrameKind(frame->dwType), failed);
  } catch (const std::exception &e) {
    ORVAN_LOG_WARN(kLogCategory, "decode fault: %s", e.what());
    failed = true;
  }
  if (failed) {
    // A codec fault never leaves the decoder: reopen and wait for the next
    // key frame.
    ++m_decodeErrors;
    SetCodec(m_codec);
    m_damaged = true;  // SetCodec starts a clean stream; this one is not
    return nullptr;
  }
  const bool key = VORN_TESK::FrameKind(frame->dwType) == VORN_TESK::FT_IFRAME;
  if (!picture) {
    // Passed over while the stream after a fault waits for its key picture.
    if (m_damaged && WaitingForKeyFrame() && !key) ++m_decodeErrors;
    ReportFormat(picture, width, height, pixelFormat);
    return nullptr;
  }
  if (picture->decode_error_flags != 0) {
    // Decoded with parts concealed: shown, and spoilt until the next key.
    ++m_decodeErrors;
    m_damaged = true;
  } else if (key) {
    m_damaged = false;
  }
  ReportFormat(picture, width, height, pixelFormat);
  m_current = m_current == 0 ? 1 : 0;
  return picture;
}

AVFrame *CVideoDecoderMpeg4::WaitKeyFrame(const uint8_t *data, size_t bytes, uint32_t type,
                                          bool &failed) {
  if (type != VORN_TESK::FT_IFRAME) return nullptr;
  // The key frames carry everything but the sequence headers: feed those
  // once in front of the first one. What this pass yields is not used.
  std::vector<uint8_t> prefixed(sizeof kStreamHeader + bytes);
  std::memcpy(prefixed.data(), kStreamHeader, sizeof kStreamHeader);
  if (bytes) std::memcpy(prefixed.data() + sizeof kStreamHeader, data, bytes);
  DecodeInto(prefixed.data(), prefixed.size(), /*ignoreErrors=*/true);
  m_state = &CVideoDecoderMpeg4::Steady;
  return Steady(data, bytes, type, failed);
}

AVFrame *CVideoDecoderMpeg4::Steady(const uint8_t *data, size_t bytes, uint32_t /*type*/,
                                    bool &failed) {
  DecodeResult result = DecodeInto(data, bytes, /*ignoreErrors=*/false);
  if (result.failed) {
    failed = true;
    return nullptr;
  }
  if (!result.picture) {
    result = DecodeInto(kDrainMarker, sizeof kDrainMarker, /*ignoreErrors=*/true);
  }
  return result.picture;
}

CVideoDecoderMpeg4::DecodeResult CVideoDecoderMpeg4::DecodeInto(const uint8_t *data, size_t bytes,
                                                                bool ignoreErrors) {
  DecodeResult result;
  AVCodecContext *context = m_context.get();
  AVFrame *target = m_pool[m_current].get();
  if (!target) return result;

  // libavcodec reads up to the padding past the end of a packet; give it a
  // zeroed copy in a buffer of our own that it can hold a reference to
  // (a packet without one it would copy into a new allocation every time).
  // The buffer is used again while libavcodec holds no reference to it.
  const size_t needBytes = bytes + AV_INPUT_BUFFER_PADDING_SIZE;
  av_packet_unref(m_packet.get());
  if (!m_packetBuffer || !av_buffer_is_writable(m_packetBuffer.get()) ||
      size_t(m_packetBuffer->size) < needBytes) {
    m_packetBuffer.reset(av_buffer_alloc(std::max<size_t>(needBytes, kPacketBufferBytes)));
    if (!m_packetBuffer) return result;
  }
  if (bytes) std::memcpy(m_packetBuffer->data, data, bytes);
  std::memset(m_packetBuffer->data + bytes, 0, AV_INPUT_BUFFER_PADDING_SIZE);
  m_packet->buf = av_buffer_ref(m_packetBuffer.get());
  if (!m_packet->buf) return result;
  m_packet->data = m_packetBuffer->data;
  m_packet->size = int(bytes);

  // A picture is taken as soon as it comes out, so the codec never holds
  // output when a packet is sent. Should it still refuse with EAGAIN, take
  // what it holds and send again.
  int rc = avcodec_send_packet(context, m_packet.get());
  if (rc == AVERROR(EAGAIN)) {
    while (avcodec_receive_frame(context, m_spare.get()) == 0) av_frame_unref(m_spare.get());
    rc = avcodec_send_packet(context, m_packet.get());
  }
  av_packet_unref(m_packet.get());
  if (rc < 0 && rc != AVERROR(EAGAIN) && rc != AVERROR_EOF) {
    if (!ignoreErrors) {
      ORVAN_LOG_WARN(kLogCategory, "packet refused (%d)", rc);
      result.failed = true;
    }
    return result;
  }

  rc = avcodec_receive_frame(context, target);
  if (rc == 0) {
    result.picture = target;
    // One packet may carry more than one picture; the latest one is kept.
    while (avcodec_receive_frame(context, m_spare.get()) == 0) {
      av_frame_unref(target);
      av_frame_move_ref(target, m_spare.get());
    }
  } else if (rc != AVERROR(EAGAIN) && rc != AVERROR_EOF && !ignoreErrors) {
    ORVAN_LOG_WARN(kLogCategory, "decoding failed (%d)", rc);
    result.failed = true;
  }
  return result;
}

void CVideoDecoderMpeg4::ReportFormat(const AVFrame *picture, int32_t *width, int32_t *height,
                                      uint8_t *pixelFormat) const {
  if (!m_context) return;
  const int w = picture ? picture->width : m_context->width;
  const int h = picture ? picture->height : m_context->height;
  const int format = picture ? picture->format : m_context->pix_fmt;
  if (width) *width = w;
  if (height) *height = h;
  if (pixelFormat) *pixelFormat = orvan::media::FromAVPixelFormat(format);
}
