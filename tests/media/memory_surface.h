// A drawer's picture surface in plain memory, for the tests, benchmarks and
// fuzz targets of the picture conversion. Every byte starts as `fill`, so a
// test can see which bytes the conversion wrote.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/locks.h"
#include "media/picture_conversion.h"

namespace orvan::test {

class MemorySurface : public CPictureSurface {
 public:
  MemorySurface(int format, int bitCount, int pitch, int rows, uint8_t fill = 0)
      : m_format(format),
        m_bitCount(bitCount),
        m_pitch(pitch),
        m_rows(rows),
        m_bytes(size_t(pitch) * size_t(rows), fill) {}
  CLockable *GetLock() override { return &m_lock; }
  void *GetBits() override { return m_null ? nullptr : m_bytes.data(); }
  int GetBitCount() override { return m_bitCount; }
  int GetPitch() override { return m_pitch; }
  int GetPixelFormat() override { return m_format; }
  int GetRows() override { return m_rows; }

  const uint8_t *Row(int y) const { return m_bytes.data() + size_t(y) * m_pitch; }
  // GetBits returns null from now on: a surface with nothing to draw into.
  void SetNull() { m_null = true; }
  std::vector<uint8_t> &Bytes() { return m_bytes; }
  CTeskCriticalSection &Lock() { return m_lock; }

 private:
  int m_format, m_bitCount, m_pitch, m_rows;
  std::vector<uint8_t> m_bytes;
  bool m_null = false;
  CTeskCriticalSection m_lock;
};

}  // namespace orvan::test
