#include "app/window/save_form.h"

#include <QKeyEvent>
#include <QLabel>
#include <QTimer>

#include <algorithm>

#include "app/window/captions.h"
#include "app/window/picture_control.h"

namespace orvan::app {

namespace {

QLabel *SignPanel(QWidget *parent, const char *name, const QColor &back, const QColor &text) {
  auto *panel = new QLabel(QStringLiteral("AVI Saving"), parent);
  panel->setObjectName(QString::fromLatin1(name));
  panel->setGeometry(48, 16, 121, 25);
  panel->setAlignment(Qt::AlignCenter);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setAutoFillBackground(true);
  QPalette p = panel->palette();
  p.setColor(QPalette::Window, back);
  p.setColor(QPalette::WindowText, text);
  panel->setPalette(p);
  return panel;
}

}  // namespace

TSaveForm::TSaveForm(QWidget *parent) : QDialog(parent) {
  setObjectName(QStringLiteral("SaveForm"));
  setWindowTitle(QStringLiteral("Save"));
  // Single border, no border icons: the window closes through StopAVI.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(207, 118);
  move(520, 348);

  WhitePanel = SignPanel(this, "WhitePanel", Qt::white, Qt::red);
  RedPanel = SignPanel(this, "RedPanel", Qt::red, Qt::white);

  Panel1 = new TPictureControl(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setText(QStringLiteral("StopAVI"));
  Panel1->setGeometry(64, 76, 89, 25);

  ProgressLabel = new QLabel(this);
  ProgressLabel->setObjectName(QStringLiteral("ProgressLabel"));
  ProgressLabel->setGeometry(4, 47, 199, 20);
  ProgressLabel->setAlignment(Qt::AlignCenter);
  Panel1->setAlignment(Qt::AlignCenter);
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel1->setAutoFillBackground(true);
  {
    QPalette p = Panel1->palette();
    p.setColor(QPalette::Window, QColor(0, 0, 0x80));
    p.setColor(QPalette::WindowText, Qt::yellow);
    Panel1->setPalette(p);
  }
  Panel1->setCursor(Qt::PointingHandCursor);
  Panel1->OnMouseUp = [this](int button, int x, int y) {
    if (button == kLeftButton && Panel1->rect().contains(x, y)) Panel1Click();
  };

  FlashTimer = new QTimer(this);
  FlashTimer->setObjectName(QStringLiteral("FlashTimer"));
  FlashTimer->setInterval(1000);
  connect(FlashTimer, &QTimer::timeout, this, [this] { FlashTimerTimer(); });
  FlashTimer->start();
}

QPoint TSaveForm::PlaceBesideControls(const QRect &mainFrame, const QRect &panel,
                                      const QRect &controls, const QSize &frame,
                                      const QRect &screen) {
  constexpr int kGap = 4;
  auto onScreenVertically = [&](QPoint at) {
    at.setY(std::clamp(at.y(), screen.top(),
                       std::max(screen.top(), screen.bottom() + 1 - frame.height())));
    return at;
  };
  const QPoint outside = onScreenVertically(QPoint(mainFrame.right() + 1 + kGap, controls.top()));
  const QPoint column = onScreenVertically(QPoint(panel.right() + 1 + kGap, controls.top()));
  for (const QPoint &at : {outside, column}) {
    const QRect place(at, frame);
    if (place.left() >= screen.left() && place.right() <= screen.right() &&
        !place.intersects(panel))
      return at;
  }
  QPoint at = outside;
  at.setX(std::clamp(at.x(), screen.left(),
                     std::max(screen.left(), screen.right() + 1 - frame.width())));
  return at;
}

void TSaveForm::ApplyLanguage(const CCaptions &captions) {
  m_captions = captions;
  setWindowTitle(Tr(captions, TextKey::Save_title));
  for (QLabel *sign : {WhitePanel, RedPanel}) sign->setText(Tr(captions, TextKey::Avi_saving));
  Panel1->setText(Tr(captions, TextKey::Panel_stop));
}

void TSaveForm::StartShowing(std::function<uint64_t()> bytesWritten) {
  m_bytesWritten = std::move(bytesWritten);
  m_elapsed.start();
  ProgressLabel->setText(ProgressText());
}

QString TSaveForm::ElapsedText() const {
  const qint64 seconds = m_elapsed.isValid() ? m_elapsed.elapsed() / 1000 : 0;
  return QStringLiteral("%1:%2:%3")
      .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
      .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
      .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString TSaveForm::SizeText() const {
  const double bytes = m_bytesWritten ? double(m_bytesWritten()) : 0.0;
  if (bytes < 1024 * 1024) return QStringLiteral("%1 KiB").arg(bytes / 1024, 0, 'f', 0);
  return QStringLiteral("%1 MiB").arg(bytes / (1024 * 1024), 0, 'f', 1);
}

QString TSaveForm::ProgressText() const {
  return Tr(m_captions, TextKey::Avi_saving_for).arg(SizeText(), ElapsedText());
}

void TSaveForm::FlashTimerTimer() {
  ProgressLabel->setText(ProgressText());
  const bool white = m_whiteNext;
  m_whiteNext = !m_whiteNext;
  ++m_ticks;
  if (white)
    WhitePanel->raise();
  else
    RedPanel->raise();
}

void TSaveForm::Panel1Click() { close(); }

bool TSaveForm::WhiteInFront() const {
  // The later sibling is drawn over the earlier one.
  const QObjectList &order = children();
  return order.indexOf(WhitePanel) > order.indexOf(RedPanel);
}

void TSaveForm::keyPressEvent(QKeyEvent *event) {
  // Escape would close the indicator behind the user's back; saving ends
  // through StopAVI only.
  if (event->key() == Qt::Key_Escape) {
    event->ignore();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace orvan::app
