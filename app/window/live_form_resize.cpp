// The window's resizing: the video panel grows and shrinks with the client
// area at 3 : 2, and the controls keep their designed places relative to
// the panel's right and bottom edges.
#include <QEvent>
#include <QLabel>
#include <QResizeEvent>

#include "app/window/live_form.h"
#include "app/window/picture_control.h"

namespace orvan::app {

bool TLiveForm::eventFilter(QObject *watched, QEvent *event) {
  if (KeepTypingKeys(watched, event)) return true;
  if (watched == m_client && event->type() == QEvent::Resize && !m_fullScreen)
    PlaceControls(static_cast<QResizeEvent *>(event)->size());
  return QMainWindow::eventFilter(watched, event);
}

void TLiveForm::PlaceControls(const QSize &client) {
  const ResizedLayout layout = LayoutForClient(client.width(), client.height());
  const QSize panel(layout.panelWidth, layout.panelHeight);
  const bool panelResized = LivePanel->size() != panel;
  // The knob keeps its share of the track.
  const int oldTrack = std::max(PlayBarImage->width(), 1);
  const int knobOffset = PlayBarBtn->x() - PlayBarImage->x();
  for (const auto &[widget, designed] : m_designedPlaces) {
    QRect place = designed;
    if (widget == FormImage) {
      place = QRect(QPoint(0, 0), client);
    } else if (widget == LivePanel || widget == VideoImage) {
      place.setSize(panel);
    } else if (widget == PlayBarImage || widget == BlackLabel) {
      // The bar and the filler span the panel's width.
      place.setWidth(place.width() + layout.dx);
    } else if (place.x() + place.width() >= kDesignedPanelRight) {
      place.translate(layout.dx, 0);
    }
    if (widget != LivePanel && widget != VideoImage && widget != FormImage &&
        designed.y() >= kDesignedPanelBottom)
      place.translate(0, layout.dy);
    if (widget == PlayBarBtn) continue;  // placed below, on the resized track
    widget->setGeometry(place);
  }
  PlayBarBtn->move(PlayBarBtn->x(), PlayBarImage->y());
  SetBarGeometry();
  const PlayBarGeometry bar = BarGeometry();
  MoveKnob(
      std::min(bar.imageLeft + knobOffset * bar.imageWidth / oldTrack, bar.RightmostKnobLeft()));
  RedrawPlayBar();
  if (panelResized) LayoutViewers(DisplayMode);
}

}  // namespace orvan::app
