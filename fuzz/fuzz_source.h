// A byte source for the fuzz targets: the fuzzer's bytes placed at a given
// disk offset, zeros in front of them, and the end of the disk behind them.
// Keeps the 512-byte contract of the real sources.
#pragma once

#include <algorithm>
#include <cstring>

#include "platform/disk_source.h"

namespace orvan::fuzz {

class WindowSource final : public ByteSource {
 public:
  WindowSource(const uint8_t *data, size_t size, uint64_t base)
      : m_data(data), m_size(size), m_base(base) {}
  bool Seek(uint64_t offset) override {
    if (offset % kSectorBytes) return false;
    m_position = offset;
    return true;
  }
  bool Read(void *buffer, size_t length, size_t *got) override {
    if (got) *got = 0;
    if (length % kSectorBytes || m_position % kSectorBytes) return false;
    const uint64_t end = m_base + m_size;
    if (m_position > end || length > end - m_position) return false;
    auto *out = static_cast<uint8_t *>(buffer);
    for (size_t i = 0; i < length;) {
      const uint64_t at = m_position + i;
      if (at < m_base) {
        const size_t n = size_t(std::min<uint64_t>(m_base - at, length - i));
        std::memset(out + i, 0, n);
        i += n;
      } else {
        const size_t n = size_t(std::min<uint64_t>(end - at, length - i));
        std::memcpy(out + i, m_data + (at - m_base), n);
        i += n;
      }
    }
    m_position += length;
    if (got) *got = length;
    return true;
  }

 private:
  const uint8_t *m_data;
  size_t m_size;
  uint64_t m_base;
  uint64_t m_position = 0;
};

}  // namespace orvan::fuzz
