// A picture shown stretched over the control, reporting the mouse with its
// position relative to the control: the window's background, the play bar
// track and knob, and the still picture of Image Play.
#pragma once

#include <QLabel>
#include <functional>

namespace orvan::app {

// Mouse buttons as the window's handlers take them.
enum MouseButtonCode { kLeftButton = 1, kRightButton = 2, kMiddleButton = 3, kOtherButton = 0 };
int ButtonCode(Qt::MouseButton button);

class TPictureControl : public QLabel {
 public:
  explicit TPictureControl(QWidget *parent = nullptr);

  // x and y relative to this control; button per MouseButtonCode.
  std::function<void(int button, int x, int y)> OnMouseDown;
  std::function<void(int x, int y)> OnMouseMove;
  std::function<void(int button, int x, int y)> OnMouseUp;
  std::function<void(int angleDelta, int x)> OnWheel;
  std::function<void(int x, int y)> OnDoubleClick;

 protected:
  void mousePressEvent(QMouseEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;
  void mouseReleaseEvent(QMouseEvent *event) override;
  void wheelEvent(QWheelEvent *event) override;
  void mouseDoubleClickEvent(QMouseEvent *event) override;
};

}  // namespace orvan::app
