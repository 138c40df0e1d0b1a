#include "app/window/keys_form.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/window/captions.h"

namespace orvan::app {

TKeysForm::TKeysForm(const std::vector<KeyHelpRow> &rows, const CCaptions &captions,
                     QWidget *parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("KeysForm"));
  m_grid = new QTableWidget(0, 2, this);
  m_grid->setObjectName(QStringLiteral("KeyGrid"));
  m_grid->verticalHeader()->hide();
  m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_grid->setSelectionMode(QAbstractItemView::NoSelection);
  m_grid->horizontalHeader()->setStretchLastSection(true);
  m_grid->installEventFilter(this);
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(m_grid);
  SetRows(rows, captions);
}

void TKeysForm::SetRows(const std::vector<KeyHelpRow> &rows, const CCaptions &captions) {
  setWindowTitle(Tr(captions, TextKey::Keys_title));
  m_grid->setHorizontalHeaderLabels(
      {Tr(captions, TextKey::Key_column), Tr(captions, TextKey::Action_column)});
  m_grid->setRowCount(int(rows.size()));
  for (int r = 0; r < int(rows.size()); ++r) {
    m_grid->setItem(r, 0, new QTableWidgetItem(rows[r].keys));
    m_grid->setItem(r, 1, new QTableWidgetItem(rows[r].action));
  }
  m_grid->resizeColumnsToContents();
  const int height = m_grid->verticalHeader()->length() + m_grid->horizontalHeader()->height() + 24;
  resize(std::max(420, m_grid->horizontalHeader()->length() + 40), std::min(height, 640));
}

bool TKeysForm::event(QEvent *event) {
  if (event->type() == QEvent::ShortcutOverride &&
      static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
    event->accept();
    return true;
  }
  return QDialog::event(event);
}

bool TKeysForm::eventFilter(QObject *watched, QEvent *event) {
  // The list has the focus: Escape closes the window from there too.
  if (watched == m_grid && event->type() == QEvent::ShortcutOverride &&
      static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
    event->accept();
    return false;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace orvan::app
