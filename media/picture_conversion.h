// Drawing a decoded picture into a drawer's picture surface: the format
// change (planar YUV to the surface's RGB or gray layout) by libswscale into
// a scratch buffer, then a row-by-row copy into the surface that honours its
// pitch, at full size or at half size by taking every second row and pixel.
//
// Threading: a CPictureConverter belongs to one filter object and is used
// under that object's render lock only (the frame thread, or the caller of a
// redraw). Draw takes the surface's own lock inside; DrawInto expects the
// caller to hold it.
#pragma once

#include <cstdint>
#include <memory>

#include "media/locks.h"
#include "media/pixel_format.h"
#include "platform/av_handles.h"

// What a drawer offers the conversion. Every call is made under the lock
// GetLock returns.
class CPictureSurface {
 public:
  virtual ~CPictureSurface() = default;
  virtual CLockable *GetLock() = 0;
  // Address of the surface's top-left pixel, or null when there is nothing
  // to draw into.
  virtual void *GetBits() = 0;
  virtual int GetBitCount() = 0;
  // Bytes from one row to the next.
  virtual int GetPitch() = 0;
  // One of the surface codes of media/pixel_format.h (6, 2, 9, 11).
  virtual int GetPixelFormat() = 0;
  // Rows the surface holds, so writes stay inside it; 0 when the drawer
  // does not say (then the picture's rows are trusted to fit).
  virtual int GetRows() { return 0; }
};

namespace orvan::media {

// One surface, already locked and asked.
struct SurfaceView {
  uint8_t *bits = nullptr;  // null: nothing to draw into
  int bitCount = 0;
  int pitch = 0;
  int pixelFormat = kPixBgr32;
  int rows = 0;  // 0: unknown
};

}  // namespace orvan::media

class CPictureConverter {
 public:
  CPictureConverter();
  ~CPictureConverter();
  CPictureConverter(const CPictureConverter &) = delete;
  CPictureConverter &operator=(const CPictureConverter &) = delete;

  // Draws picture (of the decoder's pixel-format code sourceFormat) into the
  // surface: width x height pixels (bounded by the picture's own size), or
  // at half size (width/2 x height/2, from rows and pixels 0, 2, 4, ...).
  // Takes the surface's lock for the whole step. True when the picture
  // counts as drawn (also when the surface has no address); false when
  // drawing failed and should be tried again.
  bool Draw(CPictureSurface &surface, const AVFrame *picture, uint8_t sourceFormat, int width,
            int height, bool halfSize);
  // The same into a surface whose lock the caller holds.
  bool DrawInto(const orvan::media::SurfaceView &surface, const AVFrame *picture,
                uint8_t sourceFormat, int width, int height, bool halfSize);

 private:
  // Converts the picture into m_buffer (m_bufferStride bytes a row).
  bool Convert(const AVFrame *picture, uint8_t sourceFormat, int width, int height,
               AVPixelFormat target, int bytesPerPixel);

  struct ContextKey {
    int width = 0, height = 0;
    AVPixelFormat source = AV_PIX_FMT_NONE, target = AV_PIX_FMT_NONE;
    bool operator==(const ContextKey &) const = default;
  };
  orvan::av::SwsContextPtr m_sws;  // reused while formats and size stay the same
  ContextKey m_swsKey;             // what m_sws was last set up for
  int m_swsSourceRange = -1;       // source range m_sws was last set up for
  struct AvFree {
    void operator()(uint8_t *p) const { av_free(p); }
  };
  std::unique_ptr<uint8_t, AvFree> m_buffer;  // scratch picture, grown as needed
  size_t m_bufferBytes = 0;
  int m_bufferStride = 0;
};
