// The panel a viewer's channel is drawn in: a borderless blue widget that
// paints its part of the display manager's composition surface and passes
// its mouse events on.
#pragma once

#include <QWidget>

#include <functional>

#include "display/display_types.h"

class CViewerPanel : public QWidget {
  Q_OBJECT
 public:
  explicit CViewerPanel(QWidget *parent);
  HWND Window() const { return m_window; }

  // Set by the viewer; called on the GUI thread.
  std::function<void()> onClick;
  std::function<void()> onDblClick;
  std::function<void(QMouseEvent *)> onMouseDown;
  std::function<void(QMouseEvent *)> onMouseMove;
  std::function<void(QMouseEvent *)> onMouseUp;

 protected:
  void paintEvent(QPaintEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;
  void mouseReleaseEvent(QMouseEvent *event) override;
  void mouseDoubleClickEvent(QMouseEvent *event) override;

 private:
  HWND m_window;
  bool m_pressedInside = false;
};
