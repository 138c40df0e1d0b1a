#include "display/video_window.h"

CVideoWindow::CVideoWindow(CVideoWindow *parent) : m_parent(parent) {}

void CVideoWindow::SetGeometry(const RECT &rectInParent) {
  std::lock_guard guard(m_lock);
  m_rect = rectInParent;
}

void CVideoWindow::SetVisible(bool visible) {
  std::lock_guard guard(m_lock);
  m_visible = visible;
}

void CVideoWindow::SetMonitor(HMONITOR monitor) {
  std::lock_guard guard(m_lock);
  m_monitor = monitor;
}

void CVideoWindow::SetRepaintSink(IRepaintSink *sink) {
  std::lock_guard guard(m_lock);
  m_sink = sink;
}

RECT CVideoWindow::GeometryInParent() const {
  std::lock_guard guard(m_lock);
  return m_rect;
}

RECT CVideoWindow::ScreenRect() const {
  RECT r = GeometryInParent();
  if (!m_parent) return RECT{0, 0, r.Width(), r.Height()};
  // Walk up to (but not including) the root, whose origin is (0, 0).
  for (const CVideoWindow *p = m_parent; p->m_parent; p = p->m_parent) {
    const RECT pr = p->GeometryInParent();
    r.left += pr.left;
    r.right += pr.left;
    r.top += pr.top;
    r.bottom += pr.top;
  }
  return r;
}

bool CVideoWindow::IsShowing() const {
  for (const CVideoWindow *w = this; w; w = w->m_parent) {
    std::lock_guard guard(w->m_lock);
    if (!w->m_visible) return false;
  }
  return true;
}

HMONITOR CVideoWindow::Monitor() const {
  for (const CVideoWindow *w = this; w; w = w->m_parent) {
    std::lock_guard guard(w->m_lock);
    if (w->m_monitor) return w->m_monitor;
  }
  return 0;
}

void CVideoWindow::Repaint(const RECT &screenRect) {
  const RECT own = ScreenRect();
  const RECT part = IntersectRect(own, screenRect);
  if (part.IsEmpty()) return;
  const RECT local{part.left - own.left, part.top - own.top, part.right - own.left,
                   part.bottom - own.top};
  // The sink only queues; calling it under the lock keeps it from being
  // swapped out mid-call.
  std::lock_guard guard(m_lock);
  if (m_sink) m_sink->RequestRepaint(local);
}
