// A drawer shows the pictures of one channel in one window. Its owner (the
// filter object) converts each decoded picture into the drawer's picture
// surface and asks it to present: the drawer stretches the cropped picture
// into its monitor's composition surface at the window's place, writes the
// channel label and the picture's date and time there, and asks the window
// to repaint that part.
//
// Locking: the drawer does not lock for itself. Its caller holds GetLock()
// around every call (the conversion into GetBits() included). Inside, the
// drawer takes only leaf locks: the display manager's map lock, a
// composition surface's pixel lock and a window's record lock.
#pragma once

#include <QFont>
#include <QImage>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "display/display_manager.h"
#include "display/display_types.h"
#include "display/pixel_surface.h"
#include "media/locks.h"
#include "media/picture_conversion.h"
#include "platform/wintime.h"

// Display modes (kViewerDisplayMode).
enum DisplayModes : int32_t {
  kModeQuarters = 0,     // each channel in its quarter of the video panel
  kModeChannel1 = 1,     // 1..4: one channel over the whole panel
  kModeQuad = 5,         // the recorder's four-picture stream
  kModeQuadTopLeft = 6,  // 6..9: one quarter of that stream enlarged
  kModeQuadBottomRight = 9,
};

class CDDrawer {
 public:
  // A stretch's run of destination pixels taken from consecutive source
  // columns, copied whole.
  struct ColumnRun {
    int32_t dest = 0, source = 0, length = 0;
  };

  // channel: 0..3. referenceWindow: the video panel, to which the labels
  // are placed. The drawer draws nowhere until SetWindow.
  CDDrawer(int channel, HWND referenceWindow);
  virtual ~CDDrawer();
  CDDrawer(const CDDrawer &) = delete;
  CDDrawer &operator=(const CDDrawer &) = delete;

  CTeskCriticalSection &GetLock() { return m_lock; }

  // Binds the drawer to a window; dest is where the picture goes, in the
  // video panel's coordinates. Returns 0, or a negative code when the
  // drawing device cannot be made.
  int SetWindow(HWND window, const RECT &dest);
  // The size of the pictures to come; remakes the picture surface when the
  // width or height changes.
  void SetPictureRect(const RECT &rect);
  void GetPictureRect(RECT *out) const { *out = m_pictureRect; }

  // The picture surface: null without one. Asking for it makes Present
  // show it again (rather than the shown surface below).
  uint8_t *GetBits();
  int GetBitCount() const { return m_bitCount; }
  int GetPitch() const { return m_pitch; }
  int GetPixelFormat() const { return m_pixelFormat; }
  // Rows of the picture surface (0 without one), so writers stay inside it.
  int GetSurfaceRows() const { return m_picture ? m_picture->Height() : 0; }

  // The part of the picture Present shows (the border trim, then the
  // display mode's rectangle, inside the picture surface) and a surface of
  // the destination's size to draw just that part into, already scaled, so
  // that Present only copies rows. Present shows that surface until
  // GetBits is asked again. False, and nothing handed out, without a
  // window, a picture surface or a destination, or without memory.
  bool GetShownSurface(orvan::media::SurfaceView *view, orvan::media::ShownPart *part);
  RECT ShownSource() const;
  // Where the shown part goes: the destination, or in the whole-picture
  // view its letterboxed part.
  RECT ShownDest() const;

  // Shows the picture now in the picture surface (or the shown surface)
  // with its labels. False only when the drawer has no window.
  bool Present(const FILETIME &time);
  // Fills a rectangle of the screen (null: the destination) with the clear
  // colour.
  void Clear(const RECT *rect);
  void ClearWindow(HWND window);

  void SetCropBorder(int32_t crop) { m_cropBorder = crop; }
  void SetDisplayMode(int32_t mode) { m_displayMode = mode; }
  // The trim choice. Off (the designed look): the border trim and the
  // display mode's rectangle, stretched over the window. On: the whole
  // picture (or the whole quarter of modes 6 to 9), nothing trimmed,
  // letterboxed in the window with black margins; the labels then sit in a
  // margin where one has room for them, else they are blended at half
  // strength over the picture, which shows through.
  void SetWholePicture(bool whole) { m_wholePicture = whole; }
  bool GetWholePicture() const { return m_wholePicture; }
  // A small red mark with a white "!" at the picture's top right corner:
  // the channel's pictures are damaged (its decoder waits for a clean key
  // picture). Drawn by each Present while on.
  void SetDamageMark(bool on) { m_damageMark = on; }
  bool GetDamageMark() const { return m_damageMark; }
  static constexpr int kDamageMarkPixels = 14;

  int32_t GetCropBorder() const { return m_cropBorder; }
  int32_t GetDisplayMode() const { return m_displayMode; }
  RECT GetDestRect() const { return m_destRect; }

  // The picture's part that is shown: the border trim (1 trims 14 left,
  // 10 top, 10 right and 4 bottom), then the display mode's rectangle.
  static RECT CropBorderRect(const RECT &pictureRect, int32_t cropBorder);
  static RECT SourceRectForMode(const RECT &src, int32_t mode);
  // The whole picture's part a mode shows: all of it for modes 0 to 5 (and
  // unknown modes), the named quarter for 6 to 9.
  static RECT WholeSourceRect(const RECT &pictureRect, int32_t mode);
  // The largest rectangle of the source's proportions inside `window`,
  // centred in it (the window itself for an empty source).
  static RECT LetterboxRect(const RECT &window, int32_t sourceWidth, int32_t sourceHeight);
  // Where a label of w x h goes in the whole-picture view: at `wanted`
  // when that lies off the picture, else in the margin between `picture`
  // and `window` that has room for it (*over false either way), else at
  // `wanted` over the picture (*over true: it is blended, not copied).
  static POINT PlaceLabelOffPicture(POINT wanted, int32_t w, int32_t h, const RECT &window,
                                    const RECT &picture, bool *over);
  // The label text and its place for a mode and channel inside the
  // reference rectangle; false when the mode has no label.
  static bool LabelForMode(int32_t mode, int channel, const RECT &reference, std::string *text,
                           int *x, int *y);

 private:
  int CreateDirectDraw(HWND window);
  int CreatePrimarySurface(HWND window);
  int CreatePictureSurface(HWND window, int width, int height);
  void ReleaseAll();
  // The part of a picture of this rectangle that the view shows, before it
  // is limited to the picture surface.
  RECT ShownPartOf(const RECT &pictureRect) const;
  // A label's text drawn black on white, kept until the text changes. Text
  // is drawn under one process-wide lock (drawer.cpp's textLock), a leaf.
  struct Label {
    std::string text;
    QImage picture;
  };
  const QImage &LabelPicture(Label &label, const std::string &text);

  // Guarded by m_lock, which the caller holds (see the top of the file).
  std::unique_ptr<CDrawDevice> m_device;  // made for the window's monitor
  HWND m_clipperWindow = nullptr;         // output is limited to this window
  bool m_hasPrimary = false;              // bound to the screen through m_clipperWindow
  std::unique_ptr<CPixelSurface> m_picture;
  uint8_t *m_pixels = nullptr;
  std::unique_ptr<CPixelSurface> m_shown;  // the shown part at the destination's size
  RECT m_shownPart{};                      // what m_shown holds, in picture coordinates
  bool m_presentShown = false;             // the last picture went into m_shown
  HWND m_window = nullptr;                 // null: the desktop, where nothing is drawn
  int m_bitCount = 0;
  int m_pitch = 0;
  int m_pixelFormat = 0;
  RECT m_destRect{};
  RECT m_windowRectAtBind{};  // the window's rectangle when dest was set
  RECT m_pictureRect{};
  HMONITOR m_monitor = 0;
  CTeskCriticalSection m_lock;
  int32_t m_cropBorder = 0;
  const int m_channel;
  int32_t m_displayMode = 0;
  bool m_wholePicture = false;
  bool m_damageMark = false;
  const HWND m_referenceWindow;
  QFont m_font;
  Label m_channelLabel;            // "CH1" .. "QUAD"
  Label m_timeLabel;               // the shown picture's date and time
  std::vector<int32_t> m_columns;  // Present's column map
  std::vector<ColumnRun> m_runs;   // and its runs of neighbouring columns
};

// The drawer the filter objects create.
class CVornDDrawer : public CDDrawer {
 public:
  using CDDrawer::CDDrawer;
  ~CVornDDrawer() override;
};
