#include "app/window/captions.h"

#include <QMessageBox>
#include <QPushButton>
#include <memory>

namespace orvan::app {

QMessageBox *MakeQuestionBox(QWidget *parent, const CCaptions &captions, const QString &text,
                             const QString &caption) {
  auto *box = new QMessageBox(QMessageBox::Question, caption, text, QMessageBox::NoButton, parent);
  QPushButton *yes = box->addButton(Tr(captions, TextKey::Yes), QMessageBox::YesRole);
  QPushButton *no = box->addButton(Tr(captions, TextKey::No), QMessageBox::NoRole);
  yes->setObjectName(QStringLiteral("YesButton"));
  no->setObjectName(QStringLiteral("NoButton"));
  box->setDefaultButton(yes);
  box->setEscapeButton(no);
  return box;
}

bool AskYesNoBox(QWidget *parent, const CCaptions &captions, const QString &text,
                 const QString &caption) {
  const std::unique_ptr<QMessageBox> box(MakeQuestionBox(parent, captions, text, caption));
  box->exec();
  return box->clickedButton() && box->clickedButton()->objectName() == QLatin1String("YesButton");
}

void InformBox(QWidget *parent, const CCaptions &captions, const QString &text,
               const QString &caption) {
  QMessageBox box(QMessageBox::Information, caption, text, QMessageBox::NoButton, parent);
  box.addButton(Tr(captions, TextKey::OK), QMessageBox::AcceptRole);
  box.exec();
}

}  // namespace orvan::app
