#include "app/window/event_form.h"

#include <QHeaderView>
#include <QTableWidget>

namespace orvan::app {

TEventForm::TEventForm(QWidget *parent) : QDialog(parent) {
  setObjectName(QStringLiteral("EventForm"));
  setWindowTitle(QStringLiteral("Event"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(386, 522);

  m_grid = new QTableWidget(this);
  m_grid->setObjectName(QStringLiteral("EventGrid"));
  m_grid->setGeometry(8, 8, 369, 505);
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
  const int widths[] = {52, 58, 128, 96};
  for (int c = 0; c < 4; ++c) m_grid->setColumnWidth(c, widths[c]);
  connect(m_grid, &QTableWidget::cellDoubleClicked, this, [this] { EventGridDblClick(); });
}

void TEventForm::LoadEvents(orvan::ByteSource &disk, EventJumpCallback callback) {
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
      if (read[r][c].empty()) continue;
      m_grid->setItem(static_cast<int>(r), c,
                      new QTableWidgetItem(QString::fromStdString(read[r][c])));
    }
  }
}

void TEventForm::EventGridDblClick() {
  const int current = m_grid->currentRow();
  if (current < 0) return;
  uint32_t time = 0;
  if (!m_events.JumpTime(static_cast<size_t>(current) + 1, time)) return;
  if (m_callback) m_callback(time);
  done(QDialog::Accepted);
  hide();
}

}  // namespace orvan::app
