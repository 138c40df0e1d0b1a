#include "display/drawer.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "display/video_window.h"

namespace {
constexpr int kErrNoDevice = -2;
constexpr int kErrNoMemory = -3;

using ColumnRun = CDDrawer::ColumnRun;

// Copies `from` of a 32-bit picture into `to` of a 32-bit surface of
// surfaceWidth x surfaceHeight, nearest pixel, as a plain (unsmoothed)
// stretch does: destination pixel x takes source column
// from.left + (2x + 1) * from.Width() / (2 * to.Width()). What lies outside
// the surface is left out. columns and runs are the caller's scratch.
void Stretch(const uint8_t *source, int sourcePitch, const RECT &from, uint8_t *surface,
             int surfacePitch, int surfaceWidth, int surfaceHeight, const RECT &to,
             std::vector<int32_t> &columns, std::vector<ColumnRun> &runs) {
  const RECT visible = IntersectRect(to, RECT{0, 0, surfaceWidth, surfaceHeight});
  if (visible.IsEmpty() || from.IsEmpty() || to.IsEmpty()) return;
  const int64_t sw = from.Width(), sh = from.Height(), dw = to.Width(), dh = to.Height();
  const size_t width = size_t(visible.Width());
  columns.resize(width);
  runs.clear();
  for (int x = visible.left; x < visible.right; ++x) {
    const auto column = from.left + int32_t((2 * int64_t(x - to.left) + 1) * sw / (2 * dw));
    const auto at = int32_t(x - visible.left);
    columns[size_t(at)] = column;
    if (!runs.empty() && runs.back().source + runs.back().length == column)
      ++runs.back().length;
    else
      runs.push_back(ColumnRun{at, column, 1});
  }
  // An enlargement (or none) keeps long runs of neighbouring columns, which
  // go row by row as a few block copies; a reduction takes pixel by pixel.
  const bool byRuns = runs.size() * 4 <= width;
  for (int y = visible.top; y < visible.bottom; ++y) {
    const int64_t sourceRow = from.top + (2 * int64_t(y - to.top) + 1) * sh / (2 * dh);
    const auto *in = reinterpret_cast<const uint32_t *>(source + sourceRow * sourcePitch);
    auto *out = reinterpret_cast<uint32_t *>(surface + size_t(y) * surfacePitch) + visible.left;
    if (byRuns) {
      for (const ColumnRun &run : runs)
        std::memcpy(out + run.dest, in + run.source, size_t(run.length) * 4);
    } else {
      const int32_t *column = columns.data();
      for (size_t x = 0; x < width; ++x) out[x] = in[column[x]];
    }
  }
}

// Where `wanted` (picture coordinates) lies in a surface that holds the
// picture's part `held` scaled to width x height.
RECT PlaceInHeldPart(const RECT &wanted, const RECT &held, int width, int height) {
  if (wanted == held) return RECT{0, 0, width, height};
  const auto x = [&](int32_t v) { return int32_t(int64_t(v - held.left) * width / held.Width()); };
  const auto y = [&](int32_t v) { return int32_t(int64_t(v - held.top) * height / held.Height()); };
  return IntersectRect(RECT{x(wanted.left), y(wanted.top), x(wanted.right), y(wanted.bottom)},
                       RECT{0, 0, width, height});
}

// Copies a picture into a 32-bit surface with its top left at (x, y); what
// lies outside the surface is left out.
void CopyInto(const QImage &picture, uint8_t *surface, int surfacePitch, int surfaceWidth,
              int surfaceHeight, int x, int y) {
  const RECT visible = IntersectRect(RECT{x, y, x + picture.width(), y + picture.height()},
                                     RECT{0, 0, surfaceWidth, surfaceHeight});
  if (visible.IsEmpty()) return;
  for (int row = visible.top; row < visible.bottom; ++row)
    std::memcpy(surface + size_t(row) * surfacePitch + size_t(visible.left) * 4,
                picture.constScanLine(row - y) + size_t(visible.left - x) * 4,
                size_t(visible.Width()) * 4);
}

// The same, blended at half strength: what lies under the picture shows
// through.
void BlendInto(const QImage &picture, uint8_t *surface, int surfacePitch, int surfaceWidth,
               int surfaceHeight, int x, int y) {
  const RECT visible = IntersectRect(RECT{x, y, x + picture.width(), y + picture.height()},
                                     RECT{0, 0, surfaceWidth, surfaceHeight});
  for (int row = visible.top; row < visible.bottom; ++row) {
    auto *out = reinterpret_cast<uint32_t *>(surface + size_t(row) * surfacePitch) + visible.left;
    const auto *in =
        reinterpret_cast<const uint32_t *>(picture.constScanLine(row - y)) + (visible.left - x);
    for (int32_t i = 0; i < visible.Width(); ++i)
      out[i] = (out[i] & in[i]) + (((out[i] ^ in[i]) >> 1) & 0x7F7F7F7Fu);
  }
}

// Fills the parts of `outer` that `inner` leaves uncovered.
void FillMargins(uint8_t *surface, int surfacePitch, int surfaceWidth, int surfaceHeight,
                 const RECT &outer, const RECT &inner, uint32_t colour) {
  const RECT bounds{0, 0, surfaceWidth, surfaceHeight};
  const RECT parts[] = {
      {outer.left, outer.top, outer.right, inner.top},
      {outer.left, inner.bottom, outer.right, outer.bottom},
      {outer.left, inner.top, inner.left, inner.bottom},
      {inner.right, inner.top, outer.right, inner.bottom},
  };
  for (const RECT &part : parts) {
    const RECT r = IntersectRect(part, bounds);
    for (int y = r.top; y < r.bottom; ++y) {
      auto *row = reinterpret_cast<uint32_t *>(surface + size_t(y) * surfacePitch);
      std::fill(row + r.left, row + r.right, colour);
    }
  }
}

constexpr uint32_t kLetterboxColour = 0x00000000;
constexpr uint32_t kDamageRed = 0x00E01010;
constexpr uint32_t kDamageWhite = 0x00FFFFFF;

// The damage mark, its top left at (x, y): a red square, white-edged, with
// a white "!" in it.
void DrawDamageMark(uint8_t *surface, int surfacePitch, int surfaceWidth, int surfaceHeight, int x,
                    int y) {
  const int n = CDDrawer::kDamageMarkPixels;
  for (int row = 0; row < n; ++row) {
    if (y + row < 0 || y + row >= surfaceHeight) continue;
    auto *out = reinterpret_cast<uint32_t *>(surface + size_t(y + row) * surfacePitch);
    for (int col = 0; col < n; ++col) {
      if (x + col < 0 || x + col >= surfaceWidth) continue;
      const bool edge = row == 0 || col == 0 || row == n - 1 || col == n - 1;
      const bool bar = (col == n / 2 - 1 || col == n / 2) && row >= 3 && row <= n - 6;
      const bool dot = (col == n / 2 - 1 || col == n / 2) && row >= n - 4 && row <= n - 3;
      out[x + col] = edge || bar || dot ? kDamageWhite : kDamageRed;
    }
  }
}

}  // namespace

CDDrawer::CDDrawer(int channel, HWND referenceWindow)
    : m_channel(channel),
      m_referenceWindow(referenceWindow),
      m_font(QStringLiteral("DejaVu Sans Mono")) {
  m_font.setStyleHint(QFont::Monospace);
  m_font.setPixelSize(12);
}

CDDrawer::~CDDrawer() {
  Clear(nullptr);
  ReleaseAll();
}

CVornDDrawer::~CVornDDrawer() = default;

void CDDrawer::ReleaseAll() {
  m_picture.reset();
  m_pixels = nullptr;
  m_shown.reset();
  m_presentShown = false;
  m_hasPrimary = false;
  m_clipperWindow = nullptr;
  m_device.reset();
}

int CDDrawer::CreateDirectDraw(HWND window) {
  m_device.reset();
  CMultiMonitor const *monitors = DisplayManager ? &DisplayManager->Monitors() : &MultiMonitor();
  const HMONITOR monitor =
      DisplayManager ? DisplayManager->MonitorFromWindow(window) : monitors->GetPrimary();
  MonitorRecord record;
  if (!monitors->GetMonitorByHandle(monitor, &record) ||
      !(m_device = CDrawDevice::Create(record))) {
    ReleaseAll();
    return kErrNoDevice;
  }
  return 0;
}

int CDDrawer::CreatePrimarySurface(HWND window) {
  m_hasPrimary = false;
  m_clipperWindow = nullptr;
  if (!m_device) {
    const int rc = CreateDirectDraw(window);
    if (rc != 0) return rc;
  }
  m_clipperWindow = window;
  m_hasPrimary = true;
  return 0;
}

int CDDrawer::CreatePictureSurface(HWND window, int width, int height) {
  if (width == 0 || height == 0) return 0;
  m_picture.reset();
  m_pixels = nullptr;
  m_presentShown = false;
  if (!DisplayManager || !DisplayManager->GetDirectDraw(window)) return kErrNoDevice;
  std::unique_ptr<CPixelSurface> surface = CPixelSurface::Create(width, height);
  if (!surface) return kErrNoMemory;
  m_pitch = surface->Pitch();
  m_bitCount = surface->BitCount();
  m_pixelFormat = surface->PixelFormat();
  surface->Fill(kClearColour);
  m_pixels = surface->Bits();
  m_picture = std::move(surface);
  return 0;
}

int CDDrawer::SetWindow(HWND window, const RECT &dest) {
  if (!m_device) {
    const int rc = CreateDirectDraw(window);
    if (rc != 0) return rc;
  }
  const HMONITOR monitor = DisplayManager ? DisplayManager->MonitorFromWindow(window) : 0;
  if (!m_hasPrimary) {
    m_window = window;
    int rc = CreateDirectDraw(window);
    if (rc == 0) rc = CreatePrimarySurface(window);
    if (rc != 0) return rc;
    m_monitor = monitor;
    if (!m_picture) CreatePictureSurface(window, m_pictureRect.Width(), m_pictureRect.Height());
  } else {
    if (monitor != m_monitor) {
      m_monitor = monitor;
      int rc = CreateDirectDraw(window);
      if (rc == 0) rc = CreatePrimarySurface(window);
      if (rc != 0) return rc;
      CreatePictureSurface(window, m_pictureRect.Width(), m_pictureRect.Height());
    }
    if (window != m_window) {
      m_window = window;
      m_clipperWindow = window;
    }
  }
  // Destinations stay in the video panel's coordinates: the composition
  // surface, the capture and the panels' repaint all use that space.
  m_destRect = dest;
  m_windowRectAtBind = window ? window->ScreenRect() : RECT{};
  return 0;
}

void CDDrawer::SetPictureRect(const RECT &rect) {
  if (rect.Width() != m_pictureRect.Width() || rect.Height() != m_pictureRect.Height())
    CreatePictureSurface(m_window, rect.Width(), rect.Height());
  m_pictureRect = rect;
}

uint8_t *CDDrawer::GetBits() {
  m_presentShown = false;
  // Memory surfaces are never lost, so the address stays what it was made with.
  return m_picture ? m_pixels : nullptr;
}

RECT CDDrawer::ShownPartOf(const RECT &pictureRect) const {
  if (m_wholePicture) return WholeSourceRect(pictureRect, m_displayMode);
  return SourceRectForMode(CropBorderRect(pictureRect, m_cropBorder), m_displayMode);
}

RECT CDDrawer::ShownSource() const {
  if (!m_picture) return RECT{};
  return IntersectRect(ShownPartOf(m_pictureRect),
                       RECT{0, 0, m_picture->Width(), m_picture->Height()});
}

RECT CDDrawer::ShownDest() const {
  if (!m_wholePicture) return m_destRect;
  const RECT source = ShownSource();
  return LetterboxRect(m_destRect, source.Width(), source.Height());
}

bool CDDrawer::GetShownSurface(orvan::media::SurfaceView *view, orvan::media::ShownPart *part) {
  const RECT source = ShownSource();
  if (!m_window || source.IsEmpty() || m_destRect.IsEmpty()) return false;
  // A part shown smaller is scaled down by the conversion, and presenting
  // copies rows. One shown larger is drawn at its own size (the cheap
  // unscaled conversion) and enlarged by Present's nearest-pixel stretch,
  // a few block copies per row, as the whole picture was before.
  const RECT dest = ShownDest();
  if (dest.IsEmpty()) return false;
  const int width = std::min(dest.Width(), source.Width());
  const int height = std::min(dest.Height(), source.Height());
  if (!m_shown || m_shown->Width() != width || m_shown->Height() != height) {
    m_presentShown = false;
    m_shown = CPixelSurface::Create(width, height, orvan::media::kConversionSlackBytes);
    if (!m_shown) return false;
  }
  view->bits = m_shown->Bits();
  view->bitCount = m_shown->BitCount();
  view->pitch = m_shown->Pitch();
  view->pixelFormat = m_shown->PixelFormat();
  view->rows = m_shown->Height();
  view->slackBytes = m_shown->SlackBytes();
  *part =
      orvan::media::ShownPart{source.left, source.top, source.right, source.bottom, width, height};
  m_shownPart = source;
  m_presentShown = true;
  return true;
}

RECT CDDrawer::CropBorderRect(const RECT &pictureRect, int32_t cropBorder) {
  RECT r = pictureRect;
  if (cropBorder == 1) {
    r.left += 14;
    r.top += 10;
    r.right -= 10;
    r.bottom -= 4;
  }
  return r;
}

RECT CDDrawer::SourceRectForMode(const RECT &src, int32_t mode) {
  const int32_t l = src.left, t = src.top, r = src.right, b = src.bottom;
  switch (mode) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
      return RECT{14, 18, r - 10, b - 6};
    case 6:
      return RECT{14, 18, (r - 24) / 2, (b - 24) / 2};
    case 7:
      return RECT{(r - l - 10) / 2 + 14, 18, r - 10, (b - 6) / 2};
    case 8:
      return RECT{14, (b - t - 6) / 2 + 18, (r - 24) / 2, b - 6};
    case 9:
      return RECT{(r - l - 10) / 2 + 14, (b - t - 6) / 2 + 18, r - 10, b - 6};
    default:
      return src;
  }
}

RECT CDDrawer::WholeSourceRect(const RECT &pic, int32_t mode) {
  const int32_t midX = pic.left + pic.Width() / 2, midY = pic.top + pic.Height() / 2;
  switch (mode) {
    case 6:
      return RECT{pic.left, pic.top, midX, midY};
    case 7:
      return RECT{midX, pic.top, pic.right, midY};
    case 8:
      return RECT{pic.left, midY, midX, pic.bottom};
    case 9:
      return RECT{midX, midY, pic.right, pic.bottom};
    default:
      return pic;
  }
}

RECT CDDrawer::LetterboxRect(const RECT &window, int32_t sourceWidth, int32_t sourceHeight) {
  if (sourceWidth <= 0 || sourceHeight <= 0 || window.IsEmpty()) return window;
  const int64_t ww = window.Width(), wh = window.Height();
  int64_t w = ww, h = wh;
  // The side that runs out first sets the scale.
  if (ww * sourceHeight > wh * sourceWidth)
    w = std::max<int64_t>(1, wh * sourceWidth / sourceHeight);
  else
    h = std::max<int64_t>(1, ww * sourceHeight / sourceWidth);
  const auto left = int32_t(window.left + (ww - w) / 2);
  const auto top = int32_t(window.top + (wh - h) / 2);
  return RECT{left, top, left + int32_t(w), top + int32_t(h)};
}

POINT CDDrawer::PlaceLabelOffPicture(POINT wanted, int32_t w, int32_t h, const RECT &window,
                                     const RECT &picture, bool *over) {
  *over = false;
  if (IntersectRect(RECT{wanted.x, wanted.y, wanted.x + w, wanted.y + h}, picture).IsEmpty())
    return wanted;
  const bool topHalf = wanted.y < window.top + window.Height() / 2;
  const bool leftHalf = wanted.x < window.left + window.Width() / 2;
  // The margin on the label's own side first, top or bottom, then left or
  // right.
  if (topHalf && picture.top - window.top >= h) return POINT{wanted.x, picture.top - h};
  if (!topHalf && window.bottom - picture.bottom >= h) return POINT{wanted.x, picture.bottom};
  if (leftHalf && picture.left - window.left >= w) return POINT{picture.left - w, wanted.y};
  if (!leftHalf && window.right - picture.right >= w) return POINT{picture.right, wanted.y};
  *over = true;
  return wanted;
}

bool CDDrawer::LabelForMode(int32_t mode, int channel, const RECT &ref, std::string *text, int *x,
                            int *y) {
  static const char *const kChannelLabels[4] = {"CH1", "CH2", "CH3", "CH4"};
  const int L = ref.left, T = ref.top, R = ref.right, B = ref.bottom;
  if (mode == 0) {
    if (channel < 0 || channel > 3) return false;
    *text = kChannelLabels[channel];
    *x = (channel & 1) ? L + (R - L) / 2 + 5 : L + 5;
    *y = (channel & 2) ? T + (B - T) / 2 + 5 : T + 5;
    return true;
  }
  if (mode >= 1 && mode <= 4)
    *text = kChannelLabels[mode - 1];
  else if (mode == 5)
    *text = "QUAD";
  else if (mode >= 6 && mode <= 9)
    *text = kChannelLabels[mode - 6];
  else
    return false;
  *x = L + 5;
  *y = T + 5;
  return true;
}

const QImage &CDDrawer::LabelPicture(Label &label, const std::string &text) {
  if (label.picture.isNull() || label.text != text) {
    // The font machinery below Qt (fontconfig, FreeType) is shared by every
    // drawer's render thread: one text at a time.
    static std::mutex textLock;
    std::lock_guard<std::mutex> hold(textLock);
    // Opaque white background, black text: how a fresh device context draws.
    const QString shown = QString::fromLatin1(text.c_str());
    const QFontMetrics metrics(m_font);
    label.picture =
        QImage(metrics.horizontalAdvance(shown) + 2, metrics.height(), QImage::Format_RGB32);
    label.picture.fill(Qt::white);
    QPainter painter(&label.picture);
    painter.setFont(m_font);
    painter.setPen(Qt::black);
    painter.drawText(label.picture.rect(), Qt::AlignLeft | Qt::AlignTop, shown);
    label.text = text;
  }
  return label.picture;
}

bool CDDrawer::Present(const FILETIME &time) {
  if (!m_window) return false;

  const RECT windowRect = m_window->ScreenRect();
  const RECT ref = m_referenceWindow ? m_referenceWindow->ScreenRect() : windowRect;
  // Follow the window when it moved or changed size since it was bound; an
  // unchanged window keeps the destination it was given (a centred picture
  // stays centred).
  if (windowRect != m_windowRectAtBind) {
    m_destRect = windowRect;
    m_windowRectAtBind = windowRect;
  }

  if (!m_hasPrimary) CreatePrimarySurface(m_window);
  if (!m_picture) return true;

  const HMONITOR monitor =
      m_monitor ? m_monitor : (DisplayManager ? DisplayManager->MonitorFromWindow(m_window) : 0);
  std::shared_ptr<CPixelSurface> back =
      DisplayManager ? DisplayManager->GetBackSurface(monitor) : nullptr;
  RECT timeRect{};
  if (back) {
    const RECT pictureBounds{0, 0, m_picture->Width(), m_picture->Height()};
    const RECT from = IntersectRect(ShownPartOf(m_pictureRect), pictureBounds);
    const RECT to = ShownDest();
    // The labels are drawn once per text and copied in: text drawing costs
    // more than the picture.
    std::string label;
    int x = 0, y = 0;
    const bool hasLabel = LabelForMode(m_displayMode, m_channel, ref, &label, &x, &y);
    const QImage *labelPicture = hasLabel ? &LabelPicture(m_channelLabel, label) : nullptr;
    SYSTEMTIME st{};
    const QImage *timePicture = FileTimeToSystemTime(&time, &st)
                                    ? &LabelPicture(m_timeLabel, orvan::FormatRecorderTime(st))
                                    : nullptr;
    // The trimmed view writes the time at the panel's corner for every
    // channel (the latest one seen stays). The whole-picture view keeps
    // each drawer inside its own window, the time at its own corner: a
    // label blended over the picture must be blended once over a picture
    // drawn just before it, never again over its own earlier copy.
    POINT labelAt{x, y};
    POINT timeAt{ref.right - 140, ref.bottom - 20};
    bool labelOver = false, timeOver = false;
    if (m_wholePicture) {
      if (labelPicture)
        labelAt = PlaceLabelOffPicture(POINT{m_destRect.left + 5, m_destRect.top + 5},
                                       labelPicture->width(), labelPicture->height(), m_destRect,
                                       to, &labelOver);
      if (timePicture)
        timeAt = PlaceLabelOffPicture(POINT{m_destRect.right - 140, m_destRect.bottom - 20},
                                      timePicture->width(), timePicture->height(), m_destRect, to,
                                      &timeOver);
    }
    std::lock_guard pixels(back->PixelLock());
    if (!from.IsEmpty() && !to.IsEmpty()) {
      if (m_wholePicture)
        FillMargins(back->Bits(), back->Pitch(), back->Width(), back->Height(), m_destRect, to,
                    kLetterboxColour);
      // The shown surface normally holds exactly this part at the
      // destination's size, and the stretch is a copy of rows; a window
      // moved or a mode changed since the drawing stretches it once more.
      if (m_presentShown && m_shown)
        Stretch(m_shown->Bits(), m_shown->Pitch(),
                PlaceInHeldPart(from, m_shownPart, m_shown->Width(), m_shown->Height()),
                back->Bits(), back->Pitch(), back->Width(), back->Height(), to, m_columns, m_runs);
      else
        Stretch(m_picture->Bits(), m_picture->Pitch(), from, back->Bits(), back->Pitch(),
                back->Width(), back->Height(), to, m_columns, m_runs);
    }
    const auto put = [&](const QImage &picture, POINT at, bool over) {
      (over ? BlendInto : CopyInto)(picture, back->Bits(), back->Pitch(), back->Width(),
                                    back->Height(), at.x, at.y);
    };
    if (labelPicture) put(*labelPicture, labelAt, labelOver);
    if (m_damageMark && !to.IsEmpty())
      DrawDamageMark(back->Bits(), back->Pitch(), back->Width(), back->Height(),
                     to.right - kDamageMarkPixels - 4, to.top + 4);
    if (timePicture) {
      put(*timePicture, timeAt, timeOver);
      timeRect = RECT{timeAt.x, timeAt.y, timeAt.x + timePicture->width(),
                      timeAt.y + timePicture->height()};
    }
  }
  // The copy to the screen: the window repaints its part of the
  // composition surface on the GUI thread.
  if (m_hasPrimary && m_clipperWindow) m_clipperWindow->Repaint(m_destRect);
  // The time is written at the panel's corner, usually over another
  // channel's window: the panel repaints it, so it shows whichever channels
  // have pictures.
  if (m_hasPrimary && m_referenceWindow && !timeRect.IsEmpty())
    m_referenceWindow->Repaint(timeRect);
  return true;
}

void CDDrawer::Clear(const RECT *rect) {
  if (!m_hasPrimary || !DisplayManager) return;
  const RECT area = rect ? *rect : m_destRect;
  if (area.IsEmpty()) return;
  const HMONITOR monitor = m_monitor ? m_monitor : DisplayManager->MonitorFromWindow(m_window);
  if (std::shared_ptr<CPixelSurface> back = DisplayManager->GetBackSurface(monitor)) {
    const RECT part = IntersectRect(area, RECT{0, 0, back->Width(), back->Height()});
    std::lock_guard pixels(back->PixelLock());
    for (int y = part.top; y < part.bottom; ++y) {
      auto *row = reinterpret_cast<uint32_t *>(back->Bits() + size_t(y) * back->Pitch());
      for (int x = part.left; x < part.right; ++x) row[x] = kClearColour;
    }
  }
  if (m_clipperWindow) m_clipperWindow->Repaint(area);
}

void CDDrawer::ClearWindow(HWND window) {
  if (!window) return;
  const RECT r = window->ScreenRect();
  Clear(&r);
}
