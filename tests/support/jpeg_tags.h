// Reads back what a JPEG file says about itself: its comment and its EXIF
// DateTimeOriginal, walking the markers and the TIFF block by hand so that
// the writer is checked against an independent reading.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace orvan::test {

struct JpegTags {
  bool hasExif = false;
  std::string dateTimeOriginal;  // as stored, without its terminating zero
  std::string comment;
};

namespace detail {

inline uint32_t TiffValue(const uint8_t *p, int bytes, bool little) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= uint32_t(p[little ? i : bytes - 1 - i]) << (8 * i);
  return v;
}

// The ASCII value of `tag` in the IFD at `ifd`, or the LONG value when
// `wantLong`; false when absent or out of bounds.
inline bool FindTag(const uint8_t *tiff, size_t size, bool little, uint32_t ifd, uint16_t tag,
                    bool wantLong, uint32_t &longValue, std::string &text) {
  if (size < 2 || ifd > size - 2) return false;
  const uint32_t count = TiffValue(tiff + ifd, 2, little);
  for (uint32_t i = 0; i < count; ++i) {
    const size_t at = ifd + 2 + size_t(i) * 12;
    if (at + 12 > size) return false;
    if (TiffValue(tiff + at, 2, little) != tag) continue;
    const uint32_t type = TiffValue(tiff + at + 2, 2, little);
    const uint32_t n = TiffValue(tiff + at + 4, 4, little);
    if (wantLong) {
      if (type != 4 || n != 1) return false;
      longValue = TiffValue(tiff + at + 8, 4, little);
      return true;
    }
    if (type != 2) return false;
    const uint8_t *value = tiff + at + 8;
    if (n > 4) {
      const uint32_t offset = TiffValue(tiff + at + 8, 4, little);
      if (offset > size || n > size - offset) return false;
      value = tiff + offset;
    }
    text.assign(reinterpret_cast<const char *>(value), n);
    if (!text.empty() && text.back() == '\0') text.pop_back();
    return true;
  }
  return false;
}

}  // namespace detail

inline JpegTags ReadJpegTags(const std::vector<uint8_t> &file) {
  JpegTags tags;
  if (file.size() < 4 || file[0] != 0xFF || file[1] != 0xD8) return tags;
  size_t i = 2;
  while (i + 4 <= file.size() && file[i] == 0xFF) {
    const uint8_t marker = file[i + 1];
    const size_t length = size_t(file[i + 2]) << 8 | file[i + 3];
    if (marker == 0xDA || length < 2 || i + 2 + length > file.size()) break;
    const uint8_t *payload = file.data() + i + 4;
    const size_t bytes = length - 2;
    if (marker == 0xFE) tags.comment.assign(reinterpret_cast<const char *>(payload), bytes);
    if (marker == 0xE1 && bytes >= 14 && std::memcmp(payload, "Exif\0\0", 6) == 0) {
      const uint8_t *tiff = payload + 6;
      const size_t size = bytes - 6;
      const bool little = tiff[0] == 'I' && tiff[1] == 'I';
      if ((little || (tiff[0] == 'M' && tiff[1] == 'M')) &&
          detail::TiffValue(tiff + 2, 2, little) == 42) {
        tags.hasExif = true;
        uint32_t exifIfd = 0;
        std::string unused;
        if (detail::FindTag(tiff, size, little, detail::TiffValue(tiff + 4, 4, little), 0x8769,
                            true, exifIfd, unused))
          detail::FindTag(tiff, size, little, exifIfd, 0x9003, false, exifIfd,
                          tags.dateTimeOriginal);
      }
    }
    i += 2 + length;
  }
  return tags;
}

}  // namespace orvan::test
