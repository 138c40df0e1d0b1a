#include "app/window/event_form.h"

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
  setWindowTitle(QStringLiteral("Event"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);

  m_grid = new QTableWidget(this);
  m_grid->setObjectName(QStringLiteral("EventGrid"));
  m_grid->setColumnCount(recorder::CEventList::kColumns);
  QStringList headers;
  for (const std::string &h : recorder::CEventList::HeaderRow())
    headers << QString::fromStdString(h);
  m_grid->setHorizontalHeaderLabels(headers);
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
  m_channelFilter->addItem(QStringLiteral("All channels"), 0);
  for (int ch = 1; ch <= 4; ++ch) m_channelFilter->addItem(QStringLiteral("CH%1").arg(ch), ch);
  m_channelFilter->setGeometry(kGridLeft, filterTop, 100, 22);
  m_kindFilter = new QComboBox(this);
  m_kindFilter->setObjectName(QStringLiteral("KindFilter"));
  m_kindFilter->addItem(QStringLiteral("All kinds"), 0);
  for (int kind = 1; kind <= 5; ++kind)
    m_kindFilter->addItem(QString::fromStdString(recorder::EventKindName(kind)), kind);
  m_kindFilter->setGeometry(kGridLeft + 106, filterTop, 100, 22);
  m_keepOpen = new QCheckBox(QStringLiteral("Keep open"), this);
  m_keepOpen->setObjectName(QStringLiteral("KeepOpenCheck"));
  m_keepOpen->setToolTip(QStringLiteral("Leave the list open beside the playing window"));
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
  }
  m_grid->setSortingEnabled(true);
  m_grid->sortByColumn(0, Qt::AscendingOrder);
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
  const QString kind = m_kindFilter->currentIndex() > 0 ? m_kindFilter->currentText() : QString();
  for (int row = 0; row < m_grid->rowCount(); ++row) {
    const QTableWidgetItem *channelCell = m_grid->item(row, 1);
    const QTableWidgetItem *kindCell = m_grid->item(row, 3);
    const bool channelFits =
        channel == 0 || (channelCell && channelCell->data(Qt::DisplayRole).toInt() == channel);
    const bool kindFits = kind.isEmpty() || (kindCell && kindCell->text() == kind);
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
