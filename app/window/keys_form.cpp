#include "app/window/keys_form.h"

#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

namespace orvan::app {

TKeysForm::TKeysForm(const std::vector<KeyHelpRow> &rows, QWidget *parent) : QDialog(parent) {
  setObjectName(QStringLiteral("KeysForm"));
  setWindowTitle(QStringLiteral("Keys"));
  m_grid = new QTableWidget(int(rows.size()), 2, this);
  m_grid->setObjectName(QStringLiteral("KeyGrid"));
  m_grid->setHorizontalHeaderLabels({QStringLiteral("Key"), QStringLiteral("Action")});
  m_grid->verticalHeader()->hide();
  m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_grid->setSelectionMode(QAbstractItemView::NoSelection);
  for (int r = 0; r < int(rows.size()); ++r) {
    m_grid->setItem(r, 0, new QTableWidgetItem(rows[r].keys));
    m_grid->setItem(r, 1, new QTableWidgetItem(rows[r].action));
  }
  m_grid->resizeColumnsToContents();
  m_grid->horizontalHeader()->setStretchLastSection(true);
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(m_grid);
  const int height = m_grid->verticalHeader()->length() + m_grid->horizontalHeader()->height() + 24;
  resize(std::max(420, m_grid->horizontalHeader()->length() + 40), std::min(height, 640));
}

}  // namespace orvan::app
