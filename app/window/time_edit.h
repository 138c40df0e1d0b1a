// A time field that takes a whole time typed in one go: "094520" or
// "09:45:20" (ParseTypedTime) sets 09:45:20 key by key, the section the
// next digit goes to selected. Typing starts at the hours when the whole
// text is selected (Ctrl+T, a new focus) or after a time was completed,
// else at the section the cursor stands in (after Tab or a click there).
// Arrows, Tab and the mouse work as in any time field.
//
// Main thread only.
#pragma once

#include <QString>
#include <QTimeEdit>

namespace orvan::app {

class TTimeEdit : public QTimeEdit {
 public:
  explicit TTimeEdit(QWidget *parent = nullptr);

  // True between the first digit typed and the end of the typing (Enter, a
  // key that is no part of a time, the focus leaving): a change handler
  // that corrects the time waits for editingFinished meanwhile.
  bool Typing() const { return !m_typed.isEmpty(); }

 protected:
  // Tab while a time is being typed ends the field typed, as a colon does
  // ("09 Tab 45 Tab 20" is 09:45:20); otherwise it moves on as usual.
  bool event(QEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;
  void focusInEvent(QFocusEvent *event) override;
  void focusOutEvent(QFocusEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;

 private:
  // True when the key was a digit or colon taken as part of a whole time.
  bool TypeKey(const QString &text);
  void EndTyping();

  QString m_typed;        // the digits and colons typed since typing began
  int m_startField = 0;   // the section typing began in
  bool m_restart = true;  // the next digit begins a new time at the hours
};

}  // namespace orvan::app
