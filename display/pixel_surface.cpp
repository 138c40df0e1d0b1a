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

std::unique_ptr<CPixelSurface> CPixelSurface::Create(int width, int height) {
  constexpr int kMaxSide = 16384;
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return nullptr;
  // Rows start on 64-byte boundaries, as video memory rows tend to.
  const int pitch = (width * 4 + 63) & ~63;
  std::unique_ptr<uint8_t[]> bits(new (std::nothrow) uint8_t[size_t(pitch) * size_t(height)]);
  if (!bits) return nullptr;
  return std::unique_ptr<CPixelSurface>(new CPixelSurface(width, height, pitch, std::move(bits)));
}

CPixelSurface::CPixelSurface(int width, int height, int pitch, std::unique_ptr<uint8_t[]> bits)
    : m_width(width), m_height(height), m_pitch(pitch), m_bits(std::move(bits)) {}

void CPixelSurface::Fill(uint32_t word) {
  for (int y = 0; y < m_height; ++y) {
    auto *row = reinterpret_cast<uint32_t *>(m_bits.get() + size_t(y) * m_pitch);
    for (int x = 0; x < m_pitch / 4; ++x) row[x] = word;
  }
}
