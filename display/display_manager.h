// The one object through which the program reaches the display: a drawing
// device per monitor, and per monitor one composition surface as large as
// that monitor, into which the drawers stretch their pictures and write
// their labels, and from which the viewer panels repaint and the video
// panel is captured for snapshots and AVI recording.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>

#include "display/display_types.h"
#include "display/multi_monitor.h"
#include "display/pixel_surface.h"
#include "media/locks.h"

class QPainter;
class QRect;

// A drawing device made for one monitor. In this drawing layer it only
// carries what surfaces made "with it" need: the monitor and its layout.
class CDrawDevice {
 public:
  // Null when the monitor has no usable rectangle.
  static std::unique_ptr<CDrawDevice> Create(const MonitorRecord &monitor);
  const MonitorRecord &Monitor() const { return m_monitor; }
  int BitCount() const { return 32; }

 private:
  explicit CDrawDevice(const MonitorRecord &monitor) : m_monitor(monitor) {}
  MonitorRecord m_monitor;
};

// What Capture returns with the pixels.
struct CaptureFormat {
  int32_t nFormat = 0;  // 0x1000001 24-bit RGB, 0x1000002 32-bit, 0x1000004 16-bit, 0 other
  uint8_t bYuv = 0;     // 0: RGB
  int32_t nBitCount = 0;
};
constexpr int32_t kCaptureRgb24 = 0x1000001;
constexpr int32_t kCaptureRgb32 = 0x1000002;
constexpr int32_t kCaptureRgb16 = 0x1000004;

class CDisplayManager {
 public:
  struct BackSurfaceInfo2 {
    std::shared_ptr<CPixelSurface> pSurface;  // the composition surface
    uint8_t *pBits = nullptr;                 // its memory
    int32_t lPitch = 0;                       // bytes per row
  };

  // cooperativeWindow may be null (the desktop). captureWindow is the video
  // panel, the root of the coordinate space. GUI thread. monitors defaults
  // to the process-wide list and must outlive the manager.
  CDisplayManager(HWND cooperativeWindow, HWND captureWindow,
                  const CMultiMonitor *monitors = nullptr);
  ~CDisplayManager();
  CDisplayManager(const CDisplayManager &) = delete;
  CDisplayManager &operator=(const CDisplayManager &) = delete;

  // Builds a device per monitor and the primary monitor's composition
  // surface. If any device cannot be made none is kept.
  void Init(HWND cooperativeWindow);

  // The device of the monitor that holds the window, or null. Any thread.
  CDrawDevice *GetDirectDraw(HWND window);
  // The composition surface of a monitor, made (black) on first request;
  // null when it cannot be made. Any thread.
  std::shared_ptr<CPixelSurface> GetBackSurface(HMONITOR monitor);
  // (Re)makes a monitor's composition surface. 0 on success, else a
  // negative code (no device, no memory).
  int CreateBackSurface(HMONITOR monitor);

  // Without a buffer: reports the capture window's width and height and
  // returns the bytes a capture needs (-1 when there is no composition
  // surface). With a buffer of bufferBytes: copies the window's part of the
  // composition surface into it as packed rows, top row first, and returns
  // 0; -1 when the window's current size needs more than bufferBytes (ask
  // again), when it is empty, or when there is no surface. The fill never
  // writes more than width x height x bits / 8 of the size it reports.
  // Main thread or a playback thread.
  int Capture(void *buffer, size_t bufferBytes, int *width, int *height, CaptureFormat *format);

  // The monitor of a window (the primary one when it has none or an
  // unknown one).
  HMONITOR MonitorFromWindow(HWND window) const;
  const CMultiMonitor &Monitors() const { return *m_monitors; }

  // GUI thread: paints the window's part of its monitor's composition
  // surface (the clear colour where the surface ends); dirty is in the
  // window's client coordinates. False (nothing painted) without a surface.
  bool PaintWindow(HWND window, QPainter &painter, const QRect &dirty);

 private:
  void ReleaseAll();

  const CMultiMonitor *m_monitors;
  HWND m_captureWindow;

  // m_lock guards the two maps and the capture surface with its fields.
  // Lock order: m_lock before a composition surface's PixelLock.
  CTeskCriticalSection m_lock;
  std::map<HMONITOR, std::unique_ptr<CDrawDevice>> m_devices;
  std::map<HMONITOR, BackSurfaceInfo2> m_backSurfaces;
  HWND m_cooperativeWindow = nullptr;
  std::unique_ptr<CPixelSurface> m_captureSurface;
  int m_captureBitCount = 0;
  int m_capturePitch = 0;
  int m_captureFormatCode = 0;
};

// The process-wide display manager: made by the main window before the
// viewers, deleted after them. Set and cleared on the main thread while no
// drawer exists.
extern CDisplayManager *DisplayManager;
