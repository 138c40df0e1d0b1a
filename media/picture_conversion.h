// Drawing a decoded picture into a drawer's picture surface: one pass of
// libswscale converts the planar YUV picture to the surface's RGB or gray
// layout straight into the surface at its pitch, at full size, or at half
// size from every second row, scaled to half the width. A surface that shows
// only part of the picture at another size (the drawer's shown picture) gets
// just that part, cropped and scaled in the same one pass.
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

struct AVPixFmtDescriptor;

namespace orvan::media {

// One surface, already locked and asked.
struct SurfaceView {
  uint8_t *bits = nullptr;  // null: nothing to draw into
  int bitCount = 0;
  int pitch = 0;
  int pixelFormat = kPixBgr32;
  int rows = 0;  // 0: unknown
  // Bytes after the last row that may be written (and are never shown).
  // With at least kConversionSlackBytes the conversion writes straight into
  // the surface; with less, its last rows go through a buffer of its own.
  int slackBytes = 0;
};

// How far past a row libswscale's vector code may store.
constexpr int kConversionSlackBytes = 64;

// A part of the picture shown at another size: the rectangle in the
// picture's pixels at the size it is drawn (at half size, in half pixels:
// columns and rows 0, 2, 4, ... of the decoded picture), and the size in
// surface pixels it fills.
struct ShownPart {
  int left = 0, top = 0, right = 0, bottom = 0;
  int shownWidth = 0, shownHeight = 0;
};

}  // namespace orvan::media

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
  // A surface that shows only a part of the picture, at another size,
  // fills view with where to draw that part and part with which part and
  // at what size, and returns true; the picture then goes there instead of
  // to GetBits. False (the default): the whole picture goes to GetBits.
  virtual bool GetShownView(orvan::media::SurfaceView *view, orvan::media::ShownPart *part) {
    (void)view;
    (void)part;
    return false;
  }
};

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
  // Draws only `part` of the picture (width x height, or its half size),
  // scaled to part's shown size, into a surface whose lock the caller
  // holds. Writes stay inside the surface's rows, pitch and slack.
  bool DrawPartInto(const orvan::media::SurfaceView &surface, const orvan::media::ShownPart &part,
                    const AVFrame *picture, uint8_t sourceFormat, int width, int height,
                    bool halfSize);

 private:
  // What a libswscale context is made for.
  struct Pass {
    int sourceWidth = 0, sourceRows = 0, width = 0, rows = 0;
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
  };
  // Converts with the context, made again when the pass differs from what
  // it was made for.
  static bool Scale(Context &context, const Pass &pass, const uint8_t *const source[4],
                    const int sourceStrides[4], uint8_t *const dst[4], const int dstStrides[4]);
  // Converts into m_tail, which has room for overlong stores, and copies
  // the rows into the surface from offsetBytes on.
  bool ScaleThroughBuffer(Context &context, const Pass &pass, const uint8_t *const source[4],
                          const int sourceStrides[4], const orvan::media::SurfaceView &surface,
                          size_t offsetBytes, int bytesPerPixel);

  struct Target {
    AVPixelFormat format = AV_PIX_FMT_NONE;
    int bytesPerPixel = 0;
  };
  struct Source {
    AVPixelFormat format = AV_PIX_FMT_NONE;  // the plain format; the range apart
    int fullRange = 0;
    const AVPixFmtDescriptor *desc = nullptr;
    bool planar = false;        // planar, or gray: rows can be skipped plane by plane
    int width = 0, height = 0;  // asked for, bounded by the picture's own size
  };
  static bool UsableTarget(const orvan::media::SurfaceView &surface, Target *target);
  static bool UsableSource(const AVFrame *picture, uint8_t sourceFormat, int width, int height,
                           bool halfSize, Source *source);
  // Both of the above: false when either the surface or the picture cannot be used.
  static bool Usable(const orvan::media::SurfaceView &surface, const AVFrame *picture,
                     uint8_t sourceFormat, int width, int height, bool halfSize, Target *target,
                     Source *source) {
    return UsableTarget(surface, target) &&
           UsableSource(picture, sourceFormat, width, height, halfSize, source);
  }

  // The checks both drawings begin with, then the whole picture (part
  // null) or the part.
  bool DrawChecked(const orvan::media::SurfaceView &surface, const orvan::media::ShownPart *part,
                   const AVFrame *picture, uint8_t sourceFormat, int width, int height,
                   bool halfSize);
  bool ConvertWhole(const orvan::media::SurfaceView &surface, const AVFrame *picture,
                    const Target &target, const Source &source, bool halfSize);
  bool ConvertPart(const orvan::media::SurfaceView &surface, const orvan::media::ShownPart &part,
                   const AVFrame *picture, const Target &target, const Source &source,
                   bool halfSize);

  Context m_main;               // every row but the last two or three; a shown part
  Context m_last;               // the last rows, into m_tail
  std::vector<uint8_t> m_tail;  // rows with room for overlong stores
};
