#include "media/recorded_stream.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "media/codec_library.h"
#include "media/video_decoder.h"
#include "platform/av_handles.h"

namespace orvan::media {

namespace {

constexpr uint8_t kVisualObjectSequenceStart = 0xB0;
constexpr uint8_t kGroupOfVopStart = 0xB3;
constexpr uint8_t kVopStart = 0xB6;

// Offset of the first start code 00 00 01 `code` at or after `from`, or bytes.
size_t FindStartCode(const uint8_t *p, size_t bytes, size_t from, const uint8_t *codes,
                     size_t codeCount) {
  for (size_t i = from; i + 3 < bytes; ++i) {
    if (p[i] != 0 || p[i + 1] != 0 || p[i + 2] != 1) continue;
    for (size_t c = 0; c < codeCount; ++c)
      if (p[i + 3] == codes[c]) return i;
  }
  return bytes;
}

}  // namespace

std::vector<uint8_t> Mpeg4StreamHeaders(const uint8_t *keyPicture, size_t bytes) {
  static constexpr uint8_t kPictureStarts[] = {kGroupOfVopStart, kVopStart};
  static constexpr uint8_t kSequenceStart[] = {kVisualObjectSequenceStart};
  const size_t headerEnd = keyPicture ? FindStartCode(keyPicture, bytes, 0, kPictureStarts, 2) : 0;
  const bool hasSequence =
      headerEnd > 0 && FindStartCode(keyPicture, headerEnd, 0, kSequenceStart, 1) < headerEnd;
  const size_t prefix = hasSequence ? 0 : sizeof CVideoDecoderMpeg4::kStreamHeader;
  std::vector<uint8_t> headers(prefix + headerEnd);
  if (prefix) std::memcpy(headers.data(), CVideoDecoderMpeg4::kStreamHeader, prefix);
  if (headerEnd) std::memcpy(headers.data() + prefix, keyPicture, headerEnd);
  return headers;
}

bool LooksLikePicture(bool mjpeg, const uint8_t *data, size_t bytes) {
  if (!data || bytes < 4) return false;
  if (mjpeg) return data[0] == 0xFF && data[1] == 0xD8;
  // Headers in front of the picture are short; a picture start later than
  // this is no picture this recorder made.
  static constexpr size_t kHeaderLimit = 1024;
  static constexpr uint8_t kPictureStart[] = {kVopStart};
  return FindStartCode(data, std::min(bytes, kHeaderLimit + 4), 0, kPictureStart, 1) <
         std::min(bytes, kHeaderLimit + 4);
}

bool ProbeRecordedVideo(bool mjpeg, const uint8_t *keyPicture, size_t bytes,
                        RecordedVideoFormat &format) {
  InitCodecLibrary();
  if (!keyPicture || bytes == 0 || bytes > size_t(INT_MAX) - AV_INPUT_BUFFER_PADDING_SIZE)
    return false;
  const AVCodec *decoder = avcodec_find_decoder(mjpeg ? AV_CODEC_ID_MJPEG : AV_CODEC_ID_MPEG4);
  av::CodecContextPtr context(decoder ? avcodec_alloc_context3(decoder) : nullptr);
  if (!context) return false;
  std::vector<uint8_t> headers;
  if (!mjpeg) {
    headers = Mpeg4StreamHeaders(keyPicture, bytes);
    context->extradata =
        static_cast<uint8_t *>(av_mallocz(headers.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!context->extradata) return false;
    std::memcpy(context->extradata, headers.data(), headers.size());
    context->extradata_size = int(headers.size());
  }
  context->thread_count = 1;
  if (avcodec_open2(context.get(), decoder, nullptr) < 0) return false;

  av::PacketPtr packet = av::MakePacket();
  av::FramePtr picture = av::MakeFrame();
  if (!packet || !picture || av_new_packet(packet.get(), int(bytes)) < 0) return false;
  std::memcpy(packet->data, keyPicture, bytes);
  packet->flags |= AV_PKT_FLAG_KEY;
  // One picture in, then drain: a decoder holding it back gives it up.
  if (avcodec_send_packet(context.get(), packet.get()) < 0) return false;
  avcodec_send_packet(context.get(), nullptr);
  if (avcodec_receive_frame(context.get(), picture.get()) < 0) return false;
  if (picture->width <= 0 || picture->height <= 0 || picture->width > 16384 ||
      picture->height > 16384)
    return false;
  format.mjpeg = mjpeg;
  format.width = picture->width;
  format.height = picture->height;
  format.headers = std::move(headers);
  return true;
}

}  // namespace orvan::media
