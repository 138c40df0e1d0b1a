// The saving indicator: a small window shown modally while the playback
// thread writes an AVI file. A sign flashes "AVI Saving" white and red once
// a second; "StopAVI" closes the window, which ends the saving.
//
// Main thread only. The window that runs it modally ends the recording once
// exec() returns, whoever closed it (StopAVI, or the player when its
// recording reached the end).
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <functional>

#include "app/core/language.h"

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

  // Where the indicator's frame of `frame` size goes: beside the main
  // window's controls (`controls`), never over its video panel (`panel`).
  // Tried in turn: right of the main window (`mainFrame`), level with the
  // controls; then over the controls column right of the panel; each moved
  // up or down to stay on `screen`. When neither keeps off the panel on this
  // screen, the first, kept on the screen. All rectangles in screen
  // coordinates.
  static QPoint PlaceBesideControls(const QRect &mainFrame, const QRect &panel,
                                    const QRect &controls, const QSize &frame, const QRect &screen);

  // The captions in the language.
  void ApplyLanguage(const CCaptions &captions);
  // A saving begins: the indicator shows how long it has run and how much
  // it has written (`bytesWritten`, asked once a second), until the next.
  void StartShowing(std::function<uint64_t()> bytesWritten);
  // What the progress line says now ("1.2 MiB written, 00:00:07"), and its
  // parts.
  QString ProgressText() const;
  QString ElapsedText() const;
  QString SizeText() const;

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
  QLabel *ProgressLabel = nullptr;
  CCaptions m_captions;
  QElapsedTimer m_elapsed;
  std::function<uint64_t()> m_bytesWritten;
  bool m_whiteNext = true;  // the sign the next tick brings to the front
  int m_ticks = 0;
};

}  // namespace orvan::app
