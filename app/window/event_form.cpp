#include "app/window/event_form.h"

#include "app/window/captions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTableWidget>
#include <QTimer>

namespace orvan::app {

namespace {

constexpr int kGridLeft = 8;
constexpr int kGridTop = 8;
constexpr int kGridHeight = 505;
constexpr int kFilterRowHeight = 30;
// The table row of an event keeps the event's row number here, so a sorted
// or filtered grid still jumps to its own event.
constexpr int kEventRowRole = Qt::UserRole + 1;
// The Type cell keeps the event's kind (the filter compares it, the
// language names it).
constexpr int kKindRole = Qt::UserRole + 2;

constexpr TextKey kKindKeys[5] = {TextKey::Kind_RecStart, TextKey::Kind_PowerOn,
                                  TextKey::Kind_Alarm, TextKey::Kind_VideoLoss,
                                  TextKey::Kind_Motion};
const QColor kDoubtfulBackground(0xff, 0xe0, 0xa0);

// A cell that sorts by number when its text is one.
QTableWidgetItem *Cell(const std::string &text) {
  auto *item = new QTableWidgetItem;
  bool number = !text.empty();
  const int value = QString::fromStdString(text).toInt(&number);
  if (number)
    item->setData(Qt::DisplayRole, value);
  else
    item->setText(QString::fromStdString(text));
  return item;
}

}  // namespace

TEventForm::TEventForm(QWidget *parent) : QDialog(parent) {
  setObjectName(QStringLiteral("EventForm"));
  setWindowTitle(Tr(m_captions, TextKey::Event_title));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);

  m_grid = new QTableWidget(this);
  m_grid->setObjectName(QStringLiteral("EventGrid"));
  m_grid->setColumnCount(recorder::CEventList::kColumns);
  m_grid->setHorizontalHeaderLabels(
      {Tr(m_captions, TextKey::Col_Num), Tr(m_captions, TextKey::Col_Channel),
       Tr(m_captions, TextKey::Col_Time), Tr(m_captions, TextKey::Col_Type)});
  m_grid->verticalHeader()->hide();
  m_grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m_grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
  m_grid->horizontalHeader()->setSortIndicatorShown(true);
  // The Time column as wide as its text in the grid's font, never narrower
  // than designed; the grid and the form widen with it.
  const QFontMetrics metrics(m_grid->font());
  const int timeWidth =
      std::max(128, metrics.horizontalAdvance(QStringLiteral("8888/88/88_88:88:88")) + 14);
  const int widths[] = {52, 58, timeWidth, 96};
  int gridWidth = 2 * m_grid->frameWidth() + m_grid->verticalScrollBar()->sizeHint().width();
  for (int c = 0; c < 4; ++c) {
    m_grid->setColumnWidth(c, widths[c]);
    gridWidth += widths[c];
  }
  gridWidth = std::max(gridWidth, 369);
  m_grid->setGeometry(kGridLeft, kGridTop, gridWidth, kGridHeight);
  connect(m_grid, &QTableWidget::cellDoubleClicked, this, [this] { EventGridDblClick(); });
  // The window's keys reach a kept-open list too; the grid keeps those it
  // moves with, and Enter jumps as a double click does.
  m_grid->installEventFilter(this);

  const int filterTop = kGridTop + kGridHeight + 5;
  m_channelFilter = new QComboBox(this);
  m_channelFilter->setObjectName(QStringLiteral("ChannelFilter"));
  m_channelFilter->addItem(Tr(m_captions, TextKey::All_channels), 0);
  for (int ch = 1; ch <= 4; ++ch) m_channelFilter->addItem(QStringLiteral("CH%1").arg(ch), ch);
  m_channelFilter->setGeometry(kGridLeft, filterTop, 100, 22);
  m_kindFilter = new QComboBox(this);
  m_kindFilter->setObjectName(QStringLiteral("KindFilter"));
  m_kindFilter->addItem(Tr(m_captions, TextKey::All_kinds), 0);
  for (int kind = 1; kind <= 5; ++kind)
    m_kindFilter->addItem(Tr(m_captions, kKindKeys[kind - 1]), kind);
  m_kindFilter->setGeometry(kGridLeft + 106, filterTop, 100, 22);
  m_keepOpen = new QCheckBox(Tr(m_captions, TextKey::Keep_open), this);
  m_keepOpen->setObjectName(QStringLiteral("KeepOpenCheck"));
  m_keepOpen->setToolTip(Tr(m_captions, TextKey::Tip_KeepOpen));
  m_keepOpen->setGeometry(kGridLeft + 214, filterTop, gridWidth - 214, 22);
  for (QComboBox *filter : {m_channelFilter, m_kindFilter})
    connect(filter, &QComboBox::currentIndexChanged, this, [this] { ApplyFilter(); });
  connect(m_keepOpen, &QCheckBox::toggled, this, [this] { KeepOpenChanged(); });

  setFixedSize(kGridLeft + gridWidth + 9, kGridTop + kGridHeight + kFilterRowHeight + 4);
}

void TEventForm::LoadEvents(orvan::ByteSource &disk, EventJumpCallback callback) {
  m_grid->setSortingEnabled(false);
  m_grid->clearContents();
  m_grid->setRowCount(0);
  m_callback = std::move(callback);
  m_events.LoadEvents(disk);

  // The grid's header row is its row 0; event row r sits at table row r - 1.
  const size_t rows = m_events.RowCount() - 1;
  m_grid->setRowCount(static_cast<int>(rows));
  const auto &read = m_events.Rows();
  for (size_t r = 0; r < read.size() && r < rows; ++r) {
    for (int c = 0; c < recorder::CEventList::kColumns; ++c) {
      if (read[r][c].empty() && c != 0) continue;
      QTableWidgetItem *item = Cell(read[r][c]);
      if (c == 0) item->setData(kEventRowRole, qulonglong(r + 1));
      m_grid->setItem(static_cast<int>(r), c, item);
    }
    // The kind's cell, even for a kind without a name: it holds the kind.
    if (!m_grid->item(int(r), 3)) m_grid->setItem(int(r), 3, new QTableWidgetItem);
    m_grid->item(int(r), 3)->setData(kKindRole, m_events.Records()[r].Kind());
  }
  RefreshRows();
  m_grid->setSortingEnabled(true);
  m_grid->sortByColumn(0, Qt::AscendingOrder);
  ApplyFilter();
}

QString TEventForm::DoubtText(size_t row) const {
  if (row == 0 || row > m_events.Records().size()) return {};
  const recorder::EventRecord &event = m_events.Records()[row - 1];
  QStringList why;
  if (event.Kind() < 1 || event.Kind() > 5) why << Tr(m_captions, TextKey::Odd_kind);
  if (event.channel > 4) why << Tr(m_captions, TextKey::Odd_channel);
  // The clock's ends (1970, 2106) are never recording times; a known span
  // says more.
  const bool clockEnd = event.time < 86400 || event.time > 0xFFFFFFFFu - 86400;
  const bool outside = m_spanLast != 0 && (event.time < m_spanFirst || event.time > m_spanLast);
  if (clockEnd || outside) why << Tr(m_captions, TextKey::Odd_time);
  if (why.isEmpty()) return {};
  return Tr(m_captions, TextKey::Doubtful_row).arg(why.join(QStringLiteral(", ")));
}

void TEventForm::RefreshRows() {
  const bool sorting = m_grid->isSortingEnabled();
  m_grid->setSortingEnabled(false);
  for (int row = 0; row < m_grid->rowCount(); ++row) {
    QTableWidgetItem *number = m_grid->item(row, 0);
    if (!number) continue;
    const size_t eventRow = number->data(kEventRowRole).toULongLong();
    if (QTableWidgetItem *kindCell = m_grid->item(row, 3)) {
      const int kind = kindCell->data(kKindRole).toInt();
      kindCell->setText(kind >= 1 && kind <= 5 ? Tr(m_captions, kKindKeys[kind - 1]) : QString());
    }
    // Doubtful rows stay listed, tinted, and say why.
    const QString doubt = DoubtText(eventRow);
    for (int c = 0; c < recorder::CEventList::kColumns; ++c) {
      QTableWidgetItem *cell = m_grid->item(row, c);
      if (!cell) m_grid->setItem(row, c, cell = new QTableWidgetItem);
      cell->setToolTip(doubt);
      if (doubt.isEmpty())
        cell->setData(Qt::BackgroundRole, QVariant());
      else
        cell->setBackground(kDoubtfulBackground);
    }
  }
  m_grid->setSortingEnabled(sorting);
}

void TEventForm::SetRecordedSpan(uint32_t first, uint32_t last) {
  m_spanFirst = first;
  m_spanLast = last;
  RefreshRows();
}

void TEventForm::ApplyLanguage(const CCaptions &captions) {
  m_captions = captions;
  setWindowTitle(Tr(m_captions, TextKey::Event_title));
  m_grid->setHorizontalHeaderLabels(
      {Tr(m_captions, TextKey::Col_Num), Tr(m_captions, TextKey::Col_Channel),
       Tr(m_captions, TextKey::Col_Time), Tr(m_captions, TextKey::Col_Type)});
  m_channelFilter->setItemText(0, Tr(m_captions, TextKey::All_channels));
  m_kindFilter->setItemText(0, Tr(m_captions, TextKey::All_kinds));
  for (int kind = 1; kind <= 5; ++kind)
    m_kindFilter->setItemText(kind, Tr(m_captions, kKindKeys[kind - 1]));
  m_keepOpen->setText(Tr(m_captions, TextKey::Keep_open));
  m_keepOpen->setToolTip(Tr(m_captions, TextKey::Tip_KeepOpen));
  // The columns as wide as their headers and kinds need, the grid and the
  // form with them.
  const QFontMetrics metrics(m_grid->font());
  const QFontMetrics headerMetrics(m_grid->horizontalHeader()->font());
  int kindWidth = 0;
  for (TextKey key : kKindKeys)
    kindWidth = std::max(kindWidth, metrics.horizontalAdvance(Tr(m_captions, key)));
  const int designed[4] = {52, 58, m_grid->columnWidth(2), 96};
  int gridWidth = 2 * m_grid->frameWidth() + m_grid->verticalScrollBar()->sizeHint().width();
  for (int c = 0; c < 4; ++c) {
    int width = std::max(
        designed[c], headerMetrics.horizontalAdvance(m_grid->horizontalHeaderItem(c)->text()) + 24);
    if (c == 3) width = std::max(width, kindWidth + 14);
    m_grid->setColumnWidth(c, width);
    gridWidth += width;
  }
  m_grid->resize(std::max(gridWidth, 369), m_grid->height());
  // The filters grow with their texts; the form with them.
  int x = kGridLeft;
  for (QWidget *w : {static_cast<QWidget *>(m_channelFilter), static_cast<QWidget *>(m_kindFilter),
                     static_cast<QWidget *>(m_keepOpen)}) {
    const int width = std::max(100, w->sizeHint().width());
    w->setGeometry(x, w->y(), width, w->height());
    x += width + 6;
  }
  setFixedSize(std::max(kGridLeft + m_grid->width() + 9, x + 3), height());
  RefreshRows();
  ApplyFilter();
}

bool TEventForm::eventFilter(QObject *watched, QEvent *event) {
  if (watched != m_grid) return QDialog::eventFilter(watched, event);
  if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress) return false;
  switch (static_cast<QKeyEvent *>(event)->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (event->type() == QEvent::KeyPress) {
        EventGridDblClick();
        return true;
      }
      [[fallthrough]];
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
      if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
      }
      return false;
    default:
      return false;
  }
}

void TEventForm::ApplyFilter() {
  const int channel = m_channelFilter->currentData().toInt();
  const int kind = m_kindFilter->currentData().toInt();
  for (int row = 0; row < m_grid->rowCount(); ++row) {
    const QTableWidgetItem *channelCell = m_grid->item(row, 1);
    const QTableWidgetItem *kindCell = m_grid->item(row, 3);
    const bool channelFits =
        channel == 0 || (channelCell && channelCell->data(Qt::DisplayRole).toInt() == channel);
    const bool kindFits = kind == 0 || (kindCell && kindCell->data(kKindRole).toInt() == kind);
    m_grid->setRowHidden(row, !(channelFits && kindFits));
  }
}

void TEventForm::EventGridDblClick() {
  const int current = m_grid->currentRow();
  if (current < 0) return;
  const QTableWidgetItem *numberCell = m_grid->item(current, 0);
  if (!numberCell) return;
  uint32_t time = 0;
  if (!m_events.JumpTime(numberCell->data(kEventRowRole).toULongLong(), time)) return;
  if (m_callback) m_callback(time);
  if (m_keepOpen->isChecked()) return;
  done(QDialog::Accepted);
  hide();
}

void TEventForm::ShowList() {
  if (!m_keepOpen->isChecked()) {
    exec();
    return;
  }
  setModal(false);
  show();
  raise();
  activateWindow();
}

void TEventForm::KeepOpenChanged() {
  // Ticked while shown modally: shown again without blocking the window
  // (hiding ends the modal run first).
  if (!m_keepOpen->isChecked() || !isVisible() || !isModal()) return;
  QTimer::singleShot(0, this, [this] {
    hide();
    ShowList();
  });
}

}  // namespace orvan::app
