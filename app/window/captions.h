// The language's texts as the windows show them, and the message boxes
// that ask and tell in that language (their buttons too).
//
// Main thread only.
#pragma once

#include <QString>

#include "app/core/language.h"

class QMessageBox;
class QWidget;

namespace orvan::app {

inline QString Tr(const CCaptions &captions, TextKey key) {
  return QString::fromStdString(captions.Text(key));
}

// A question with Yes and No buttons captioned in the language, Yes first;
// not yet shown. Owned by the caller.
QMessageBox *MakeQuestionBox(QWidget *parent, const CCaptions &captions, const QString &text,
                             const QString &caption);
// Shows it modally: true for Yes.
bool AskYesNoBox(QWidget *parent, const CCaptions &captions, const QString &text,
                 const QString &caption);
// A message with one OK button captioned in the language.
void InformBox(QWidget *parent, const CCaptions &captions, const QString &text,
               const QString &caption);

}  // namespace orvan::app
