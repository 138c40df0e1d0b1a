// Drawing a decoded picture into a drawer's picture surface: one pass of
// libswscale converts the planar YUV picture to the surface's RGB or gray
// layout straight into the surface at its pitch, at full size, or at half
// size from every second row, scaled to half the width.
//
// Threading: a CPictureConverter belongs to one filter object and is used
// under that object's render lock only (the frame thread, or the caller of a
// redraw). Draw takes the surface's own lock inside; DrawInto expects the
// caller to hold it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

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
  // at half size (width/2 x height/2, from rows 0, 2, 4, ..., each pair of
  // pixels filtered into one). Writes stay inside the surface's rows and
  // pitch. Takes the surface's lock for the whole step. True when the
  // picture counts as drawn (also when the surface has no address); false
  // when drawing failed and should be tried again.
  bool Draw(CPictureSurface &surface, const AVFrame *picture, uint8_t sourceFormat, int width,
            int height, bool halfSize);
  // The same into a surface whose lock the caller holds.
  bool DrawInto(const orvan::media::SurfaceView &surface, const AVFrame *picture,
                uint8_t sourceFormat, int width, int height, bool halfSize);

 private:
  // What a libswscale context is made for, besides its rows.
  struct Pass {
    int sourceWidth = 0, width = 0;
    AVPixelFormat source = AV_PIX_FMT_NONE, target = AV_PIX_FMT_NONE;
    int sourceFullRange = 0;
    int flags = 0;
    bool operator==(const Pass &) const = default;
  };
  // Made per size, formats and range, and kept: swscale's own cache
  // compares fields that setting the ranges changes, so it would make a
  // context per picture and lose the full range of the later ones.
  struct Context {
    orvan::av::SwsContextPtr sws;
    Pass pass;
    int rows = 0;
  };
  // Converts `rows` rows with the context, made again when the pass or the
  // rows differ from what it was made for.
  static bool Scale(Context &context, const Pass &pass, int rows, const uint8_t *const source[4],
                    const int sourceStrides[4], uint8_t *const dst[4], const int dstStrides[4]);

  Context m_main;               // every row but the last two or three
  Context m_last;               // the last rows, into m_tail
  std::vector<uint8_t> m_tail;  // the last rows, with room for overlong stores
};
