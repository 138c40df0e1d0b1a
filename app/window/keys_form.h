// The "Keys" window: what each key of the main window does, one row a key.
//
// Main thread only. Not modal: it may stay open beside the playing window.
#pragma once

#include <QDialog>
#include <QString>
#include <vector>

#include "app/core/language.h"

class QTableWidget;

namespace orvan::app {

struct KeyHelpRow {
  QString keys;    // as the user presses them ("Ctrl+S", "F, F11")
  QString action;  // what happens
};

class TKeysForm : public QDialog {
 public:
  TKeysForm(const std::vector<KeyHelpRow> &rows, const CCaptions &captions,
            QWidget *parent = nullptr);
  // The rows and the captions again, in another language.
  void SetRows(const std::vector<KeyHelpRow> &rows, const CCaptions &captions);
  QTableWidget *KeyGrid() const { return m_grid; }

 protected:
  // Escape closes the list, whatever the main window does with it.
  bool event(QEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  QTableWidget *m_grid;
};

}  // namespace orvan::app
