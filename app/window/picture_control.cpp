#include "app/window/picture_control.h"

#include <QMouseEvent>
#include <QWheelEvent>

namespace orvan::app {

int ButtonCode(Qt::MouseButton button) {
  switch (button) {
    case Qt::LeftButton:
      return kLeftButton;
    case Qt::RightButton:
      return kRightButton;
    case Qt::MiddleButton:
      return kMiddleButton;
    default:
      return kOtherButton;
  }
}

TPictureControl::TPictureControl(QWidget *parent) : QLabel(parent) { setScaledContents(true); }

void TPictureControl::mousePressEvent(QMouseEvent *event) {
  const QPoint p = event->position().toPoint();
  if (OnMouseDown) OnMouseDown(ButtonCode(event->button()), p.x(), p.y());
}

void TPictureControl::mouseMoveEvent(QMouseEvent *event) {
  const QPoint p = event->position().toPoint();
  if (OnMouseMove) OnMouseMove(p.x(), p.y());
}

void TPictureControl::mouseReleaseEvent(QMouseEvent *event) {
  const QPoint p = event->position().toPoint();
  if (OnMouseUp) OnMouseUp(ButtonCode(event->button()), p.x(), p.y());
}

void TPictureControl::wheelEvent(QWheelEvent *event) {
  if (!OnWheel) return QLabel::wheelEvent(event);
  OnWheel(event->angleDelta().y(), int(event->position().x()));
  event->accept();
}

void TPictureControl::mouseDoubleClickEvent(QMouseEvent *event) {
  const QPoint p = event->position().toPoint();
  if (OnDoubleClick) OnDoubleClick(p.x(), p.y());
  // The press of a double click also reaches the handlers as a press.
  mousePressEvent(event);
}

}  // namespace orvan::app
