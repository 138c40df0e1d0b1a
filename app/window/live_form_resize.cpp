// The window's resizing: the video panel grows and shrinks with the client
// area at 3 : 2, and the controls keep their designed places relative to
// the panel's right and bottom edges.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QResizeEvent>
#include <QStyle>
#include <QWheelEvent>
#include <algorithm>
#include <map>

#include "app/window/live_form.h"
#include "app/window/picture_control.h"

namespace orvan::app {

bool TLiveForm::eventFilter(QObject *watched, QEvent *event) {
  // An open popup (a combo box's list, a menu, the calendar) keeps every
  // key it is given: the window's keys wait until it closes.
  // (Accepted, and passed on: the popup may act on it there, as a combo
  // box's list does on Enter.)
  if (event->type() == QEvent::ShortcutOverride && QApplication::activePopupWidget()) {
    event->accept();
    return false;
  }
  if (KeepTypingKeys(watched, event)) return true;
  if (event->type() == QEvent::Wheel &&
      (static_cast<QWheelEvent *>(event)->modifiers() & Qt::ControlModifier)) {
    for (int ch = 0; ch < 4; ++ch)
      if (m_viewers[ch] && watched == m_viewers[ch]->Panel()) {
        auto *wheel = static_cast<QWheelEvent *>(event);
        const QPoint at = m_viewers[ch]->Panel()->mapTo(LivePanel, wheel->position().toPoint());
        MagnifyAt(wheel->angleDelta().y() > 0 ? 1 : -1, at);
        return true;
      }
  }
  // The previews go with the pointer leaving the bar.
  if (watched == PlayBarImage && event->type() == QEvent::Leave) {
    m_previewEntry = -1;
    if (m_previewPopup) m_previewPopup->hide();
  }
  if (event->type() == QEvent::MouseMove || event->type() == QEvent::Leave) {
    for (int ch = 0; ch < 4; ++ch)
      if (m_viewers[ch] && watched == m_viewers[ch]->Panel())
        SetHoveredTile(event->type() == QEvent::Leave ? -1 : ch);
  }
  if (watched == m_client && event->type() == QEvent::Resize && !m_fullScreen)
    PlaceControls(static_cast<QResizeEvent *>(event)->size());
  return QMainWindow::eventFilter(watched, event);
}

namespace {

// The width a control's caption needs in its font: the text and the
// control's own frame (a check box's mark, a combo box's arrow).
int NeededWidth(QWidget *w) {
  const QFontMetrics metrics(w->font());
  if (auto *check = qobject_cast<QCheckBox *>(w))
    return metrics.horizontalAdvance(check->text()) + 22;
  if (auto *button = qobject_cast<QAbstractButton *>(w))
    return metrics.horizontalAdvance(button->text()) + 8;
  if (auto *combo = qobject_cast<QComboBox *>(w)) {
    int widest = 0;
    for (int i = 0; i < combo->count(); ++i)
      widest = std::max(widest, metrics.horizontalAdvance(combo->itemText(i)));
    return widest + 28;
  }
  if (auto *label = qobject_cast<QLabel *>(w)) {
    int widest = 0;
    for (const QString &line : label->text().split(QLatin1Char('\n')))
      widest = std::max(widest, metrics.horizontalAdvance(line));
    return widest + 6;
  }
  return 0;
}

// Places `row` (the controls of one line, designed places in `designed`)
// left to right: each as wide as its caption needs and at least its
// designed gap after the one before; controls designed on the same spot
// share one. Returns the right edge.
int PlaceRow(std::vector<std::pair<QWidget *, QRect>> row, std::map<QWidget *, QRect> &placed) {
  std::sort(row.begin(), row.end(),
            [](const auto &a, const auto &b) { return a.second.x() < b.second.x(); });
  int right = 0, designedRight = 0;
  for (size_t i = 0; i < row.size();) {
    const QRect slot = row[i].second;
    size_t j = i;
    int width = slot.width();
    for (; j < row.size() && row[j].second.x() == slot.x(); ++j)
      width = std::max(width, NeededWidth(row[j].first));
    const int gap = i == 0 ? 0 : std::max(4, slot.x() - designedRight);
    const int x = i == 0 ? slot.x() : std::max(slot.x(), right + gap);
    for (size_t k = i; k < j; ++k)
      placed[row[k].first] = QRect(x, row[k].second.y(), width, row[k].second.height());
    right = x + width;
    designedRight = slot.x() + slot.width();
    i = j;
  }
  return right;
}

// The controls of `places` by line: those whose designed places overlap
// vertically.
std::vector<std::vector<std::pair<QWidget *, QRect>>> Rows(
    std::vector<std::pair<QWidget *, QRect>> places) {
  std::sort(places.begin(), places.end(),
            [](const auto &a, const auto &b) { return a.second.y() < b.second.y(); });
  std::vector<std::vector<std::pair<QWidget *, QRect>>> rows;
  int bottom = -1;
  for (const auto &place : places) {
    if (rows.empty() || place.second.y() >= bottom) {
      rows.emplace_back();
      bottom = place.second.y() + place.second.height();
    }
    rows.back().push_back(place);
    bottom = std::max(bottom, place.second.y() + place.second.height());
  }
  return rows;
}

}  // namespace

void TLiveForm::ArrangeSideColumn() {
  if (m_designedPlaces.empty() || m_fullScreen) return;
  constexpr int kColumnLeft = kDesignedPanelRight + 3;  // 736
  constexpr int kDesignedColumnWidth = 201;
  constexpr int kRightMargin = 6;  // inside a group, right of its last control
  std::map<QWidget *, QRect> placed;
  int column = kDesignedColumnWidth;
  // Inside the groups.
  std::map<QWidget *, std::vector<std::pair<QWidget *, QRect>>> byGroup;
  for (const auto &place : m_designedInGroups)
    byGroup[place.first->parentWidget()].push_back(place);
  for (const auto &[group, places] : byGroup)
    for (const auto &row : Rows(places))
      column = std::max(column, PlaceRow(row, placed) + kRightMargin);
  // The play state's label fits its longest text, centred where designed.
  {
    const QFontMetrics metrics(PlayLabel->font());
    int widest = 0;
    for (TextKey key : {TextKey::State_Pause, TextKey::State_Forward, TextKey::State_Ended})
      widest = std::max(widest, metrics.horizontalAdvance(Tr(key)));
    widest = std::max(
        widest, metrics.horizontalAdvance(Tr(TextKey::State_Play) + QStringLiteral(" \u00d716")));
    const QRect designed = placed.count(PlayLabel) ? placed[PlayLabel] : PlayLabel->geometry();
    const int width = std::max(50, widest + 6);
    const int centre = 74 + 25;
    placed[PlayLabel] =
        QRect(std::max(4, centre - width / 2), designed.y(), width, designed.height());
    column = std::max(column, placed[PlayLabel].right() + 1 + kRightMargin);
  }
  // The column's own lines (full screen and sound, the language), in
  // coordinates from the column's left.
  std::vector<std::pair<QWidget *, QRect>> own;
  for (const auto &[widget, designed] : m_designedPlaces) {
    if (designed.x() < kColumnLeft - 3 || designed.y() >= kDesignedPanelBottom) continue;
    if (widget == NamePanel || widget == StatusLabel || qobject_cast<QGroupBox *>(widget)) {
      if (widget == NamePanel) column = std::max(column, NeededWidth(NamePanel) + 8);
      continue;
    }
    own.emplace_back(widget, designed.translated(-kColumnLeft, 0));
  }
  for (const auto &row : Rows(own)) column = std::max(column, PlaceRow(row, placed));
  for (auto &[widget, rect] : placed)
    if (widget->parentWidget() != m_client) widget->setGeometry(rect);
  // The place of every control of the client area as the language wants
  // it, before the window's resizing moves it.
  m_sideExtraWidth = column - kDesignedColumnWidth;
  // The first and last recorded times above the bar, each as wide as its
  // word and a time need; the last one keeps its right edge.
  const QFontMetrics timeMetrics(StartTimeLabel->font());
  const QString sample = QStringLiteral(" : 8888/88/88_88:88:88");
  const int startWidth = timeMetrics.horizontalAdvance(Tr(TextKey::Start_time) + sample) + 6;
  const int endWidth = timeMetrics.horizontalAdvance(Tr(TextKey::End_time) + sample) + 6;
  for (auto &[widget, place] : m_designedPlaces) {
    const auto original = std::find_if(m_originalPlaces.begin(), m_originalPlaces.end(),
                                       [w = widget](const auto &p) { return p.first == w; });
    QRect designed = original->second;
    if (designed.x() >= kColumnLeft - 3 && designed.y() < kDesignedPanelBottom) {
      if (const auto it = placed.find(widget); it != placed.end())
        designed = it->second.translated(kColumnLeft, 0);
      else
        designed.setWidth(designed.width() + m_sideExtraWidth);  // groups, name, status
    } else if (widget == StartTimeLabel) {
      designed.setWidth(std::max(designed.width(), startWidth));
    } else if (widget == EndTimeLabel) {
      designed.setLeft(designed.right() + 1 - std::max(designed.width(), endWidth));
    } else if (widget == CloseBtn) {
      // Right-aligned to the column, as designed.
      const int width = std::max(designed.width(), NeededWidth(CloseBtn));
      designed = QRect(designed.right() + 1 + m_sideExtraWidth - width, designed.y(), width,
                       designed.height());
    }
    place = designed;
  }
  // The window grows with its column rather than crowd it, and one that
  // stood at its smallest stays there when the column narrows again.
  const bool atSmallest = m_client->width() == m_client->minimumWidth();
  m_client->setMinimumSize(kDesignedClientWidth + m_sideExtraWidth, kDesignedClientHeight);
  if (m_client->width() < m_client->minimumWidth() ||
      (atSmallest && m_client->width() > m_client->minimumWidth())) {
    const int change = m_client->minimumWidth() - m_client->width();
    if (layout()) layout()->activate();
    resize(width() + change, height());
    m_client->resize(m_client->minimumWidth(), m_client->height());
  }
  PlaceControls(m_client->size());
}

void TLiveForm::PlaceControls(const QSize &client) {
  const ResizedLayout layout = LayoutForClient(client.width() - m_sideExtraWidth, client.height());
  const QSize panel(layout.panelWidth, layout.panelHeight);
  const bool panelResized = LivePanel->size() != panel;
  // The knob keeps its share of the track.
  const int oldTrack = std::max(PlayBarImage->width(), 1);
  const int knobOffset = PlayBarBtn->x() - PlayBarImage->x();
  // Room below the column's groups spreads them evenly down the taller
  // window: each line moves by its share of the panel's growth.
  std::vector<int> columnLines;
  for (const auto &[widget, designed] : m_designedPlaces)
    if (designed.x() >= kDesignedPanelRight && designed.y() < kDesignedPanelBottom)
      columnLines.push_back(designed.y());
  std::sort(columnLines.begin(), columnLines.end());
  columnLines.erase(std::unique(columnLines.begin(), columnLines.end()), columnLines.end());
  const auto spread = [&](int y) {
    const auto line = std::lower_bound(columnLines.begin(), columnLines.end(), y);
    return int(int64_t(layout.dy) * (line - columnLines.begin()) / int64_t(columnLines.size()));
  };
  for (const auto &[widget, designed] : m_designedPlaces) {
    QRect place = designed;
    if (widget == FormImage) {
      place = QRect(QPoint(0, 0), client);
    } else if (widget == LivePanel || widget == VideoImage) {
      place.setSize(panel);
    } else if (widget == PlayBarImage || widget == BlackLabel || widget == ActivityStrip) {
      // The bar and the filler span the panel's width.
      place.setWidth(place.width() + layout.dx);
    } else if (place.x() + place.width() >= kDesignedPanelRight) {
      place.translate(layout.dx, 0);
    }
    if (widget != LivePanel && widget != VideoImage && widget != FormImage) {
      if (designed.y() >= kDesignedPanelBottom)
        place.translate(0, layout.dy);
      else if (designed.x() >= kDesignedPanelRight)
        place.translate(0, spread(designed.y()));
    }
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
