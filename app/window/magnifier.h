// The magnifier: the video panel's last composed picture shown 1x to 8x
// about a point, over the panel. From 4x up the pixels are drawn as
// squares (nearest), so what was recorded is seen, not an interpolation;
// below that, smoothly. The factor and the rectangle shown (in the panel
// picture's pixels) are written in the corner. It decodes nothing: the
// owner hands it the picture the drawer last composed.
//
// Threads: main thread only.
#pragma once

#include <QImage>
#include <QRect>
#include <QWidget>
#include <functional>

namespace orvan::app {

class TMagnifier : public QWidget {
 public:
  static constexpr double kMaxFactor = 8.0;
  static constexpr double kNearestFromFactor = 4.0;
  explicit TMagnifier(QWidget *parent);

  // The picture to magnify (the panel's pixels, its size), kept until the
  // next one.
  void SetPicture(const QImage &picture);
  // Zooms by `steps` halvings (negative: out) about `at`, in this widget's
  // coordinates; at 1x the magnifier still shows (Z or Escape hide it).
  void ZoomAbout(int steps, QPoint at);
  void SetFactor(double factor, QPoint at);
  double Factor() const { return m_factor; }
  // The rectangle of the picture shown, in its pixels.
  QRect Shown() const;
  bool Nearest() const { return m_factor >= kNearestFromFactor; }
  // What is on screen: the rectangle drawn as it is shown.
  QImage ShownPicture() const;
  // The caption text, made by the owner in its language (factor, w, h, x, y).
  std::function<QString(double factor, const QRect &shown)> Caption;

 protected:
  void paintEvent(QPaintEvent *event) override;
  void wheelEvent(QWheelEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void mouseMoveEvent(QMouseEvent *event) override;

 private:
  void Clamp();
  QImage m_picture;
  double m_factor = 1.0;
  QPointF m_centre;  // in the picture's pixels
  QPoint m_dragFrom;
  QPointF m_dragCentre;
};

}  // namespace orvan::app
