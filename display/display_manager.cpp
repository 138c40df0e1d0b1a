#include "display/display_manager.h"

#include <QPainter>
#include <QRect>

#include <cstring>

#include "display/video_window.h"
#include "platform/log.h"

CDisplayManager *DisplayManager = nullptr;

namespace {
constexpr const char *kLogCategory = "display";
constexpr int kErrNoDevice = -2;
constexpr int kErrNoMemory = -3;
}  // namespace

std::unique_ptr<CDrawDevice> CDrawDevice::Create(const MonitorRecord &monitor) {
  const RECT &r = monitor.rcMonitor;
  if (r.IsEmpty() || r.Width() > 16384 || r.Height() > 16384) return nullptr;
  return std::unique_ptr<CDrawDevice>(new CDrawDevice(monitor));
}

CDisplayManager::CDisplayManager(HWND cooperativeWindow, HWND captureWindow,
                                 const CMultiMonitor *monitors)
    : m_monitors(monitors ? monitors : &MultiMonitor()), m_captureWindow(captureWindow) {
  Init(cooperativeWindow);
}

CDisplayManager::~CDisplayManager() { ReleaseAll(); }

void CDisplayManager::ReleaseAll() {
  CTeskAutoLock guard(m_lock);
  m_captureSurface.reset();
  m_devices.clear();
  m_backSurfaces.clear();
}

void CDisplayManager::Init(HWND cooperativeWindow) {
  {
    CTeskAutoLock guard(m_lock);
    m_cooperativeWindow = cooperativeWindow;
    MonitorRecord record;
    for (size_t i = 0; m_monitors->GetMonitor(i, &record); ++i) {
      auto device = CDrawDevice::Create(record);
      if (!device) {
        ORVAN_LOG_WARN(kLogCategory,
                       "no drawing device for monitor %zu; the display stays without devices", i);
        m_devices.clear();
        return;
      }
      m_devices.emplace(record.hMonitor, std::move(device));  // an existing entry stays
    }
  }
  const HMONITOR primary = m_monitors->GetPrimary();
  if (CreateBackSurface(primary) != 0) {
    // Each later GetBackSurface tries again.
    ORVAN_LOG_WARN(kLogCategory, "no composition surface for the primary monitor");
  }
}

HMONITOR CDisplayManager::MonitorFromWindow(HWND window) const {
  const HMONITOR own = window ? window->Monitor() : 0;
  MonitorRecord record;
  if (own && m_monitors->GetMonitor(m_monitors->IndexOf(own), &record) && record.hMonitor == own)
    return own;
  return m_monitors->GetPrimary();
}

CDrawDevice *CDisplayManager::GetDirectDraw(HWND window) {
  const HMONITOR monitor = MonitorFromWindow(window);
  CTeskAutoLock guard(m_lock);
  auto it = m_devices.find(monitor);
  return it == m_devices.end() ? nullptr : it->second.get();
}

int CDisplayManager::CreateBackSurface(HMONITOR monitor) {
  CTeskAutoLock guard(m_lock);
  m_backSurfaces.erase(monitor);
  auto device = m_devices.find(monitor);
  if (device == m_devices.end()) return kErrNoDevice;  // "pDD is NULL"
  const RECT &r = device->second->Monitor().rcMonitor;
  std::shared_ptr<CPixelSurface> surface = CPixelSurface::Create(r.Width(), r.Height());
  if (!surface) return kErrNoMemory;
  std::memset(surface->Bits(), 0, surface->SizeBytes());  // black in every RGB layout
  BackSurfaceInfo2 info;
  info.pBits = surface->Bits();
  info.lPitch = surface->Pitch();
  info.pSurface = std::move(surface);
  m_backSurfaces.emplace(monitor, std::move(info));
  return 0;
}

std::shared_ptr<CPixelSurface> CDisplayManager::GetBackSurface(HMONITOR monitor) {
  CTeskAutoLock guard(m_lock);
  auto it = m_backSurfaces.find(monitor);
  if (it != m_backSurfaces.end()) return it->second.pSurface;
  if (CreateBackSurface(monitor) != 0) return nullptr;
  return m_backSurfaces[monitor].pSurface;
}

int CDisplayManager::Capture(void *buffer, size_t bufferBytes, int *width, int *height,
                             CaptureFormat *format) {
  if (!m_captureWindow) return -1;
  const HMONITOR monitor = MonitorFromWindow(m_captureWindow);
  CTeskAutoLock guard(m_lock);
  std::shared_ptr<CPixelSurface> back = GetBackSurface(monitor);
  if (!back) return -1;
  const RECT window = m_captureWindow->ScreenRect();
  const int w = std::max(0, window.Width());
  const int h = std::max(0, window.Height());
  const int bitCount = back->BitCount();
  const size_t needBytes = size_t(w) * size_t(h) * size_t(bitCount / 8);

  if (!buffer) {
    if (width) *width = w;
    if (height) *height = h;
    return int(needBytes);
  }
  if (w == 0 || h == 0 || needBytes > bufferBytes) return -1;

  // The capture surface follows the window's size, so a fill always has
  // the size the query reports for the same window.
  if (!m_captureSurface || m_captureSurface->Width() != w || m_captureSurface->Height() != h) {
    m_captureSurface = CPixelSurface::Create(w, h);
    if (!m_captureSurface) return -1;
    m_captureBitCount = m_captureSurface->BitCount();
    m_capturePitch = m_captureSurface->Pitch();
    m_captureFormatCode = m_captureSurface->PixelFormat();
  }
  std::memset(m_captureSurface->Bits(), 0, m_captureSurface->SizeBytes());
  {
    // Copy the window's rectangle; what lies outside the surface stays black.
    std::lock_guard pixels(back->PixelLock());
    const RECT bounds{0, 0, back->Width(), back->Height()};
    const RECT part = IntersectRect(window, bounds);
    const size_t rowBytes = size_t(part.Width()) * 4;
    for (int y = part.top; y < part.bottom; ++y) {
      const uint8_t *src = back->Bits() + size_t(y) * back->Pitch() + size_t(part.left) * 4;
      uint8_t *dst = m_captureSurface->Bits() + size_t(y - window.top) * m_capturePitch +
                     size_t(part.left - window.left) * 4;
      std::memcpy(dst, src, rowBytes);
    }
  }

  const size_t rowBytes = size_t(w) * size_t(m_captureBitCount / 8);
  auto *out = static_cast<uint8_t *>(buffer);
  if (size_t(m_capturePitch) == rowBytes) {
    std::memcpy(out, m_captureSurface->Bits(), rowBytes * size_t(h));
  } else {
    for (int y = 0; y < h; ++y)
      std::memcpy(out + size_t(y) * rowBytes, m_captureSurface->Bits() + size_t(y) * m_capturePitch,
                  rowBytes);
  }
  if (width) *width = w;
  if (height) *height = h;
  if (format) {
    switch (m_captureBitCount) {
      case 24:
        format->nFormat = kCaptureRgb24;
        break;
      case 32:
        format->nFormat = kCaptureRgb32;
        break;
      case 16:
        format->nFormat = kCaptureRgb16;
        break;
      default:
        format->nFormat = 0;
        break;
    }
    format->bYuv = 0;
    format->nBitCount = m_captureBitCount;
  }
  return 0;
}

bool CDisplayManager::PaintWindow(HWND window, QPainter &painter, const QRect &dirty) {
  if (!window) return false;
  std::shared_ptr<CPixelSurface> back = GetBackSurface(MonitorFromWindow(window));
  if (!back) return false;
  const RECT screen = window->ScreenRect();
  const QRect source = dirty.translated(screen.left, screen.top);
  const QRect covered = source & QRect(0, 0, back->Width(), back->Height());
  // What the surface does not cover shows the clear colour.
  if (covered != source) painter.fillRect(dirty, QColor(0, 0, 255));
  if (covered.isEmpty()) return true;
  std::lock_guard pixels(back->PixelLock());
  const QImage view = back->View();
  painter.drawImage(covered.topLeft() - QPoint(screen.left, screen.top), view, covered);
  return true;
}
