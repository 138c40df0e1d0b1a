// The "Keys" window: what each key of the main window does, one row a key.
//
// Main thread only. Not modal: it may stay open beside the playing window.
#pragma once

#include <QDialog>
#include <QString>
#include <vector>

class QTableWidget;

namespace orvan::app {

struct KeyHelpRow {
  QString keys;    // as the user presses them ("Ctrl+S", "F, F11")
  QString action;  // what happens
};

class TKeysForm : public QDialog {
 public:
  TKeysForm(const std::vector<KeyHelpRow> &rows, QWidget *parent = nullptr);
  QTableWidget *KeyGrid() const { return m_grid; }

 private:
  QTableWidget *m_grid;
};

}  // namespace orvan::app
