#include "app/window/time_edit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <algorithm>

#include "app/core/window_rules.h"

namespace orvan::app {

namespace {

const QDateTimeEdit::Section kFieldSections[3] = {
    QDateTimeEdit::HourSection, QDateTimeEdit::MinuteSection, QDateTimeEdit::SecondSection};

int FieldOfSection(QDateTimeEdit::Section section) {
  for (int f = 0; f < 3; ++f)
    if (kFieldSections[f] == section) return f;
  return 0;
}

}  // namespace

TTimeEdit::TTimeEdit(QWidget *parent) : QTimeEdit(parent) {}

bool TTimeEdit::TypeKey(const QString &text) {
  if (text.size() != 1) return false;
  const QChar c = text.front();
  if (!c.isDigit() && c != QLatin1Char(':')) return false;
  if (m_typed.isEmpty()) {
    const bool wholeSelected = lineEdit()->hasSelectedText() &&
                               lineEdit()->selectedText().trimmed() == lineEdit()->text().trimmed();
    m_startField = m_restart || wholeSelected ? 0 : FieldOfSection(currentSection());
  }
  const QTime now = time();
  const int current[3] = {now.hour(), now.minute(), now.second()};
  const QString candidate = m_typed + c;
  const TypedTime typed = ParseTypedTime(candidate.toStdString(), m_startField, current);
  if (!typed.valid) {
    QApplication::beep();
    return true;  // taken, and refused: the time stays as it was
  }
  m_typed = candidate;
  m_restart = false;
  setTime(QTime(typed.fields[0], typed.fields[1], typed.fields[2]));
  if (typed.nextField >= 3) {
    // Complete: the next digit starts a new time.
    m_typed.clear();
    m_restart = true;
    setSelectedSection(QDateTimeEdit::SecondSection);
  } else {
    setSelectedSection(kFieldSections[typed.nextField]);
  }
  return true;
}

bool TTimeEdit::event(QEvent *event) {
  if (event->type() == QEvent::KeyPress && Typing()) {
    auto *key = static_cast<QKeyEvent *>(event);
    if (key->key() == Qt::Key_Tab && key->modifiers() == Qt::NoModifier) {
      TypeKey(QStringLiteral(":"));
      return true;
    }
  }
  return QTimeEdit::event(event);
}

void TTimeEdit::EndTyping() {
  m_typed.clear();
  m_restart = true;
}

void TTimeEdit::keyPressEvent(QKeyEvent *event) {
  const Qt::KeyboardModifiers modifiers =
      event->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier);
  if (modifiers == Qt::NoModifier && TypeKey(event->text())) {
    event->accept();
    return;
  }
  if (event->key() == Qt::Key_Backspace && !m_typed.isEmpty()) {
    // Back one key of the time being typed.
    m_typed.chop(1);
    const QTime now = time();
    const int current[3] = {now.hour(), now.minute(), now.second()};
    const TypedTime typed = ParseTypedTime(m_typed.toStdString(), m_startField, current);
    setTime(QTime(typed.fields[0], typed.fields[1], typed.fields[2]));
    setSelectedSection(kFieldSections[std::min(typed.nextField, 2)]);
    event->accept();
    return;
  }
  // Any other key ends the typing (Enter: the field's editingFinished).
  EndTyping();
  m_restart = false;
  QTimeEdit::keyPressEvent(event);
}

void TTimeEdit::focusInEvent(QFocusEvent *event) {
  EndTyping();
  QTimeEdit::focusInEvent(event);
}

void TTimeEdit::focusOutEvent(QFocusEvent *event) {
  EndTyping();
  QTimeEdit::focusOutEvent(event);
}

void TTimeEdit::mousePressEvent(QMouseEvent *event) {
  // A click picks the section typing goes on in.
  EndTyping();
  m_restart = false;
  QTimeEdit::mousePressEvent(event);
}

}  // namespace orvan::app
