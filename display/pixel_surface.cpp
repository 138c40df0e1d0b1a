#include "display/pixel_surface.h"

#include <new>

int PixelFormatCodeForBitCount(int bitCount) {
  switch (bitCount) {
    case 32:
      return kSurfaceRgb32;
    case 24:
      return kSurfaceRgb24;
    case 16:
      return kSurfaceRgb565;
    default:
      return kSurfaceGray8;
  }
}

std::unique_ptr<CPixelSurface> CPixelSurface::Create(int width, int height, int slackBytes) {
  constexpr int kMaxSide = 16384;
  constexpr int kMaxSlack = 1 << 20;
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide || slackBytes < 0 ||
      slackBytes > kMaxSlack)
    return nullptr;
  // Rows start on 64-byte boundaries, as video memory rows tend to.
  const int pitch = (width * 4 + 63) & ~63;
  std::unique_ptr<uint8_t[]> bits(new (std::nothrow)
                                      uint8_t[size_t(pitch) * size_t(height) + size_t(slackBytes)]);
  if (!bits) return nullptr;
  return std::unique_ptr<CPixelSurface>(
      new CPixelSurface(width, height, pitch, slackBytes, std::move(bits)));
}

CPixelSurface::CPixelSurface(int width, int height, int pitch, int slackBytes,
                             std::unique_ptr<uint8_t[]> bits)
    : m_width(width),
      m_height(height),
      m_pitch(pitch),
      m_slackBytes(slackBytes),
      m_bits(std::move(bits)) {}

void CPixelSurface::Fill(uint32_t word) {
  for (int y = 0; y < m_height; ++y) {
    auto *row = reinterpret_cast<uint32_t *>(m_bits.get() + size_t(y) * m_pitch);
    for (int x = 0; x < m_pitch / 4; ++x) row[x] = word;
  }
}
