// A surface in memory: a block of pixel rows with a pitch, the display
// layer's stand-in for a drawing surface. Pictures are converted into one,
// composed into another and captured from a third.
#pragma once

#include <QImage>

#include <cstdint>
#include <memory>
#include <mutex>

// Surface layout codes (the pixel format a decoded picture is converted
// into), chosen from the surface's bits per pixel.
enum SurfacePixelFormat : int {
  kSurfaceRgb32 = 6,   // 32 bits: bytes B, G, R, x in memory
  kSurfaceRgb24 = 2,   // 24 bits: bytes R, G, B
  kSurfaceRgb565 = 9,  // 16 bits
  kSurfaceGray8 = 11,  // any other depth
};
int PixelFormatCodeForBitCount(int bitCount);

// The colour a cleared window shows: the 32-bit word 0x000000FF (blue).
constexpr uint32_t kClearColour = 0x000000FF;

class CPixelSurface {
 public:
  // Null (Valid() false) when the size is not positive, is absurd
  // (above 16384 on a side) or the memory cannot be had. slackBytes more
  // are allocated behind the last row, for writers that may store a little
  // past a row's end.
  static std::unique_ptr<CPixelSurface> Create(int width, int height, int slackBytes = 0);

  int Width() const { return m_width; }
  int Height() const { return m_height; }
  int Pitch() const { return m_pitch; }
  int BitCount() const { return 32; }
  int PixelFormat() const { return kSurfaceRgb32; }
  uint8_t *Bits() { return m_bits.get(); }
  const uint8_t *Bits() const { return m_bits.get(); }
  size_t SizeBytes() const { return size_t(m_pitch) * size_t(m_height); }
  int SlackBytes() const { return m_slackBytes; }

  // A QImage that draws straight into this surface's memory (it never owns
  // or copies it). Use it only while holding whatever lock guards the
  // surface, and never let it outlive the surface or cross threads.
  QImage View() { return QImage(m_bits.get(), m_width, m_height, m_pitch, QImage::Format_RGB32); }

  void Fill(uint32_t word);

  // Composition surfaces are shared by four render threads and the GUI
  // thread: every read or write of their pixels holds this lock. Other
  // surfaces are guarded by their owner's lock and leave it unused.
  std::mutex &PixelLock() { return m_pixelLock; }

 private:
  CPixelSurface(int width, int height, int pitch, int slackBytes, std::unique_ptr<uint8_t[]> bits);

  int m_width;
  int m_height;
  int m_pitch;
  int m_slackBytes;
  std::unique_ptr<uint8_t[]> m_bits;
  std::mutex m_pixelLock;
};
