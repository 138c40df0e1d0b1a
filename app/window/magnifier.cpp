#include "app/window/magnifier.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace orvan::app {

TMagnifier::TMagnifier(QWidget *parent) : QWidget(parent) {
  setObjectName(QStringLiteral("Magnifier"));
  setAttribute(Qt::WA_OpaquePaintEvent);
  hide();
}

void TMagnifier::SetPicture(const QImage &picture) {
  const bool first = m_picture.isNull() || m_picture.size() != picture.size();
  m_picture = picture;
  if (first) m_centre = QPointF(picture.width() / 2.0, picture.height() / 2.0);
  Clamp();
  update();
}

QRect TMagnifier::Shown() const {
  if (m_picture.isNull()) return QRect();
  const double w = m_picture.width() / m_factor, h = m_picture.height() / m_factor;
  return QRect(int(std::lround(m_centre.x() - w / 2)), int(std::lround(m_centre.y() - h / 2)),
               int(std::lround(w)), int(std::lround(h)));
}

void TMagnifier::Clamp() {
  if (m_picture.isNull()) return;
  const double w = m_picture.width() / m_factor / 2, h = m_picture.height() / m_factor / 2;
  m_centre.setX(std::clamp(m_centre.x(), w, m_picture.width() - w));
  m_centre.setY(std::clamp(m_centre.y(), h, m_picture.height() - h));
}

void TMagnifier::SetFactor(double factor, QPoint at) {
  if (m_picture.isNull() || width() <= 0 || height() <= 0) return;
  factor = std::clamp(factor, 1.0, kMaxFactor);
  // The picture's point under `at` stays under it.
  const QRect shown = Shown();
  const double px = shown.x() + double(at.x()) * shown.width() / width();
  const double py = shown.y() + double(at.y()) * shown.height() / height();
  m_factor = factor;
  const double w = m_picture.width() / m_factor, h = m_picture.height() / m_factor;
  m_centre = QPointF(px - double(at.x()) / width() * w + w / 2,
                     py - double(at.y()) / height() * h + h / 2);
  Clamp();
  update();
}

void TMagnifier::ZoomAbout(int steps, QPoint at) { SetFactor(m_factor * std::pow(2.0, steps), at); }

QImage TMagnifier::ShownPicture() const {
  if (m_picture.isNull()) return QImage();
  return m_picture.copy(Shown()).scaled(
      m_picture.size(), Qt::IgnoreAspectRatio,
      Nearest() ? Qt::FastTransformation : Qt::SmoothTransformation);
}

void TMagnifier::paintEvent(QPaintEvent *) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  if (m_picture.isNull()) return;
  p.setRenderHint(QPainter::SmoothPixmapTransform, !Nearest());
  p.drawImage(QRectF(rect()), m_picture, QRectF(Shown()));
  if (Caption) {
    const QString text = Caption(m_factor, Shown());
    QFont f = p.font();
    f.setPixelSize(13);
    p.setFont(f);
    const QRect box = p.fontMetrics().boundingRect(text).adjusted(-4, -2, 4, 2);
    const QRect at(width() - box.width() - 6, 6, box.width(), box.height());
    p.fillRect(at, QColor(0, 0, 0, 170));
    p.setPen(QColor(0xff, 0xff, 0x60));
    p.drawText(at, Qt::AlignCenter, text);
  }
}

void TMagnifier::wheelEvent(QWheelEvent *event) {
  const int delta = event->angleDelta().y();
  if (delta != 0) ZoomAbout(delta > 0 ? 1 : -1, event->position().toPoint());
  event->accept();
}

void TMagnifier::mousePressEvent(QMouseEvent *event) {
  m_dragFrom = event->position().toPoint();
  m_dragCentre = m_centre;
}

void TMagnifier::mouseMoveEvent(QMouseEvent *event) {
  if (!(event->buttons() & Qt::LeftButton) || width() <= 0) return;
  // Dragging moves the picture with the pointer.
  const QPoint d = event->position().toPoint() - m_dragFrom;
  const QRect shown = Shown();
  m_centre = m_dragCentre - QPointF(double(d.x()) * shown.width() / width(),
                                    double(d.y()) * shown.height() / height());
  Clamp();
  update();
}

}  // namespace orvan::app
