// The saving indicator: a small window shown modally while the playback
// thread writes an AVI file. A sign flashes "AVI Saving" white and red once
// a second; "StopAVI" closes the window, which ends the saving.
//
// Main thread only. The window that runs it modally ends the recording once
// exec() returns, whoever closed it (StopAVI, or the player when its
// recording reached the end).
#pragma once

#include <QDialog>

class QLabel;
class QTimer;

namespace orvan::app {

class TPictureControl;

class TSaveForm : public QDialog {
 public:
  explicit TSaveForm(QWidget *parent = nullptr);

  // Every second: the white sign first, then the red one, and so on.
  void FlashTimerTimer();
  // Closes the window, which ends its modal display.
  void Panel1Click();

  // Which sign is in front now.
  bool WhiteInFront() const;
  // Ticks of the flash timer so far.
  int FlashTicks() const { return m_ticks; }

 protected:
  void keyPressEvent(QKeyEvent *event) override;

 private:
  QLabel *WhitePanel = nullptr;
  QLabel *RedPanel = nullptr;
  TPictureControl *Panel1 = nullptr;
  QTimer *FlashTimer = nullptr;
  bool m_whiteNext = true;  // the sign the next tick brings to the front
  int m_ticks = 0;
};

}  // namespace orvan::app
