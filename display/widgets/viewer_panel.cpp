#include "display/widgets/viewer_panel.h"

#include <QMouseEvent>
#include <QPainter>

#include "display/display_manager.h"
#include "display/widgets/widget_window.h"

namespace {
// The video panel's record must exist before a panel's, so that the panel's
// record is placed inside it rather than made a root of its own.
QWidget *WithWindow(QWidget *parent) {
  CWidgetWindow::WindowOf(parent);
  return parent;
}
}  // namespace

CViewerPanel::CViewerPanel(QWidget *parent)
    : QWidget(WithWindow(parent)), m_window(CWidgetWindow::WindowOf(this)) {
  // Everything is painted here; nothing of the parent shows through.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAutoFillBackground(false);
  setMouseTracking(true);
}

void CViewerPanel::paintEvent(QPaintEvent *event) {
  QPainter painter(this);
  if (!DisplayManager || !DisplayManager->PaintWindow(m_window, painter, event->rect()))
    painter.fillRect(event->rect(), QColor(0, 0, 255));
}

void CViewerPanel::mousePressEvent(QMouseEvent *event) {
  m_pressedInside = true;
  if (onMouseDown) onMouseDown(event);
}

void CViewerPanel::mouseMoveEvent(QMouseEvent *event) {
  if (onMouseMove) onMouseMove(event);
}

void CViewerPanel::mouseReleaseEvent(QMouseEvent *event) {
  const bool click = m_pressedInside && rect().contains(event->position().toPoint());
  m_pressedInside = false;
  if (click && onClick) onClick();
  if (onMouseUp) onMouseUp(event);
}

void CViewerPanel::mouseDoubleClickEvent(QMouseEvent *event) {
  m_pressedInside = true;
  if (onDblClick) onDblClick();
  if (onMouseDown) onMouseDown(event);
}
