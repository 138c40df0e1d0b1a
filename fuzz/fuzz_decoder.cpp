// libFuzzer target: damaged coded frames through the decoder and the
// picture conversion, as a filter object runs them.
//
// Input: byte 0 picks the decoder (even: MPEG-4, odd: MJPEG); then records
// of [kind byte][length, 2 bytes little-endian][payload]. Kind bit 0 makes
// the record a key frame, bit 1 draws at half size, bit 2 flushes first.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/picture_conversion.h"
#include "media/video_decoder.h"
#include "tests/media/memory_surface.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  CVideoDecoderMpeg4 decoder(data[0] % 2 ? kCodecMjpeg : kCodecMpeg4);
  CPictureConverter converter;
  orvan::test::MemorySurface surface(orvan::media::kPixBgr32, 32, 720 * 4, 576);
  size_t at = 1;
  while (at + 3 <= size) {
    const uint8_t kind = data[at];
    size_t length = data[at + 1] | (size_t(data[at + 2]) << 8);
    at += 3;
    if (length > size - at) length = size - at;
    VORN_TESK::tagFrame *frame =
        VORN_TESK::Frames().Create(kind & 1 ? VORN_TESK::FT_IFRAME : VORN_TESK::FT_PFRAME,
                                   uint32_t(length), FILETIME{}, data + at);
    at += length;
    if (!frame) continue;
    if (kind & 4) decoder.Flush();
    int32_t w = 0, h = 0;
    uint8_t format = 0;
    if (AVFrame *picture = decoder.Decode(frame, &w, &h, &format))
      converter.Draw(surface, picture, format, w, h, (kind & 2) != 0);
    if (AVFrame *last = decoder.GetLastPicture())
      converter.Draw(surface, last, format, w, h, false);
    VORN_TESK::Frames().Release(frame);
  }
  return 0;
}
