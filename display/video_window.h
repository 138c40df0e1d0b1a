// The display layer's view of a window: its rectangle, visibility and
// monitor, kept up to date by the GUI thread and readable from any thread,
// and a way to ask the GUI to repaint part of it.
//
// The drawers run on render threads and may never touch a widget; they see
// a window only through this record. The widget side (display/widgets)
// mirrors a QWidget's geometry into it and implements the repaint sink with
// a queued call to the GUI thread.
#pragma once

#include <mutex>

#include "display/display_types.h"

// Implemented by the GUI side. RequestRepaint is called from any thread and
// must only queue the work to the GUI thread.
class IRepaintSink {
 public:
  virtual ~IRepaintSink() = default;
  // rect: the window's part to repaint, in the window's own client
  // coordinates.
  virtual void RequestRepaint(const RECT &rect) = 0;
};

class CVideoWindow {
 public:
  // parent: the window this one sits in (null for the video panel itself,
  // the root of the coordinate space). The parent must outlive the child.
  explicit CVideoWindow(CVideoWindow *parent = nullptr);
  CVideoWindow(const CVideoWindow &) = delete;
  CVideoWindow &operator=(const CVideoWindow &) = delete;

  // GUI thread: geometry in the parent's client coordinates.
  void SetGeometry(const RECT &rectInParent);
  void SetVisible(bool visible);
  void SetMonitor(HMONITOR monitor);
  // The sink must stay valid until it is replaced or the window is gone.
  void SetRepaintSink(IRepaintSink *sink);

  // Any thread.
  CVideoWindow *Parent() const { return m_parent; }
  RECT GeometryInParent() const;
  // Rectangle in the coordinates of the root window (the video panel):
  // the root itself is {0, 0, width, height}.
  RECT ScreenRect() const;
  // Visible itself and every parent visible.
  bool IsShowing() const;
  // This window's monitor, or its parent's when it has none of its own.
  HMONITOR Monitor() const;
  // Asks the GUI to repaint a rectangle given in root coordinates; the part
  // outside this window is dropped. Without a sink nothing happens.
  void Repaint(const RECT &screenRect);

 private:
  CVideoWindow *const m_parent;

  mutable std::mutex m_lock;  // guards every field below
  RECT m_rect{};
  bool m_visible = false;
  HMONITOR m_monitor = 0;
  IRepaintSink *m_sink = nullptr;
};
