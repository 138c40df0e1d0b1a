// The main window's keys, after mpv and VLC, and the tooltips that name
// them.
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTimeEdit>
#include <algorithm>

#include "app/window/event_form.h"
#include "app/window/keys_form.h"
#include "app/window/live_form.h"
#include "app/window/picture_control.h"
#include "recorder/play_file_thread.h"
#include "recorder/play_hdd_thread.h"

namespace orvan::app {

namespace {

QString KeysText(const QList<QKeySequence> &keys) {
  QStringList names;
  for (const QKeySequence &k : keys) names << k.toString(QKeySequence::NativeText);
  return names.join(QStringLiteral(", "));
}

}  // namespace

recorder::PlaybackThread *TLiveForm::ActivePlayer() const {
  if (m_diskThread) return m_diskThread;
  return m_clipThread;
}

void TLiveForm::InstallKeys() {
  using K = QKeySequence;
  struct Binding {
    QList<QKeySequence> keys;
    const char *action;
    std::function<void()> run;  // none: handled elsewhere, listed only
  };
  const Binding bindings[] = {
      {{K(Qt::Key_Space)}, "Play or pause", [this] { PlayPauseKey(); }},
      {{K(Qt::Key_Right)}, "10 seconds later", [this] { JumpBySeconds(10); }},
      {{K(Qt::Key_Left)}, "10 seconds earlier", [this] { JumpBySeconds(-10); }},
      {{K(Qt::Key_Up)}, "1 minute later", [this] { JumpBySeconds(60); }},
      {{K(Qt::Key_Down)}, "1 minute earlier", [this] { JumpBySeconds(-60); }},
      {{K(Qt::Key_Period)}, "One picture forward (pauses)", [this] { StepKey(1); }},
      {{K(Qt::Key_Comma)}, "One picture back (pauses)", [this] { StepKey(-1); }},
      {{K(Qt::Key_BracketRight)}, "Faster (plays)", [this] { ChangeSpeed(1); }},
      {{K(Qt::Key_BracketLeft)}, "Slower (plays)", [this] { ChangeSpeed(-1); }},
      {{K(Qt::Key_Backspace)}, "Normal speed", [this] { ChangeSpeed(0); }},
      {{K(Qt::Key_PageDown)}, "Next event", [this] { JumpToNeighbourEvent(1); }},
      {{K(Qt::Key_PageUp)}, "Previous event", [this] { JumpToNeighbourEvent(-1); }},
      {{K(Qt::Key_1)}, "Enlarge channel 1", [this] { ShowChannelKey(0); }},
      {{K(Qt::Key_2)}, "Enlarge channel 2", [this] { ShowChannelKey(1); }},
      {{K(Qt::Key_3)}, "Enlarge channel 3", [this] { ShowChannelKey(2); }},
      {{K(Qt::Key_4)}, "Enlarge channel 4", [this] { ShowChannelKey(3); }},
      {{K(Qt::Key_0)}, "All four channels", [this] { ShowChannelKey(-1); }},
      {{K(Qt::Key_F), K(Qt::Key_F11)}, "Full screen", [this] { FullScreenBtnClick(); }},
      {{K(Qt::Key_Escape)}, "Leave full screen", nullptr},
      {{K(Qt::CTRL | Qt::Key_S)}, "Snapshot", [this] { SnapShotBtnClick(); }},
      {{K(Qt::CTRL | Qt::Key_T)},
       "Type the time to search",
       [this] {
         TimePicker->setFocus(Qt::ShortcutFocusReason);
         TimePicker->selectAll();
       }},
      {{K(Qt::CTRL | Qt::Key_E)}, "Event list", [this] { EventBtnClick(); }},
      {{K(Qt::CTRL | Qt::Key_Q)}, "Close", [this] { CloseBtnClick(); }},
      {{K(Qt::Key_F1)}, "This list", [this] { KeysClick(); }},
  };
  for (const Binding &b : bindings) {
    m_keyHelp.push_back({KeysText(b.keys), QString::fromLatin1(b.action)});
    if (!b.run) continue;
    auto *shortcut = new QShortcut(this);
    shortcut->setKeys(b.keys);
    connect(shortcut, &QShortcut::activated, this, b.run);
  }

  auto tip = [](QWidget *w, const QString &text) { w->setToolTip(text); };
  tip(PlayBtn, QStringLiteral("Play (Space)"));
  tip(PauseBtn, QStringLiteral("Pause (Space)"));
  tip(ForwardBtn, QStringLiteral("Fast forward, key pictures only"));
  tip(SnapShotBtn, QStringLiteral("Snapshot (Ctrl+S)"));
  tip(SearchBtn, QStringLiteral("Search the date and time (Ctrl+T to type it)"));
  tip(EventBtn, QStringLiteral("Event list (Ctrl+E)"));
  tip(PrevEventBtn, QStringLiteral("Previous event (PgUp)"));
  tip(NextEventBtn, QStringLiteral("Next event (PgDn)"));
  tip(FullScreenBtn, QStringLiteral("Full screen (F or F11; Escape leaves)"));
  tip(CloseBtn, QStringLiteral("Close (Ctrl+Q)"));
  tip(SaveAVIBtn, QStringLiteral("Save what the panel shows as an AVI file"));
  tip(StopAVIBtn, QStringLiteral("Stop saving the AVI file"));
  tip(CopyBtn, QStringLiteral("Copy a time span into a clip"));
  tip(OpenBtn, QStringLiteral("Open a file"));
  tip(AudioCheck, QStringLiteral("Play the sound (at normal speed only)"));
  tip(PlayBarBtn, QStringLiteral("Drag to move through the recording (Left, Right: 10 s)"));
}

void TLiveForm::KeysClick() {
  if (!m_keysForm) m_keysForm = new TKeysForm(m_keyHelp, this);
  m_keysForm->show();
  m_keysForm->raise();
}

void TLiveForm::PlayPauseKey() {
  recorder::PlaybackThread *player = ActivePlayer();
  if (!player) return;
  if (player->Playing() && !player->AtEnd())
    PauseBtnClick();
  else
    PlayBtnClick();
}

QString TLiveForm::PlayingText(const recorder::PlaybackThread &player) {
  switch (player.Speed()) {
    case 1:
      return QStringLiteral("Play \u00d7\u215b");
    case 2:
      return QStringLiteral("Play \u00d7\u00bc");
    case 4:
      return QStringLiteral("Play \u00d7\u00bd");
    case recorder::kNormalSpeedEighths:
      return QStringLiteral("Play");
    default:
      return QStringLiteral("Play \u00d7%1").arg(player.Speed() / recorder::kNormalSpeedEighths);
  }
}

void TLiveForm::ChangeSpeed(int step) {
  recorder::PlaybackThread *player = ActivePlayer();
  if (!player) return;
  const auto &speeds = recorder::kSpeedsEighths;
  const int count = int(std::size(speeds));
  int index = int(std::find(std::begin(speeds), std::end(speeds), player->Speed()) - speeds);
  if (index >= count || step == 0)
    index = int(std::find(std::begin(speeds), std::end(speeds), recorder::kNormalSpeedEighths) -
                speeds);
  else
    index = std::clamp(index + step, 0, count - 1);
  // From pause or fast forward too: the new speed plays at once.
  player->Pause();
  player->SetSpeed(speeds[index]);
  player->Play();
  PlayLabel->setText(PlayingText(*player));
}

void TLiveForm::StepKey(int direction) {
  recorder::PlaybackThread *player = ActivePlayer();
  if (!player) return;
  if (player->Playing()) PauseBtnClick();
  // The grid steps through every channel's pictures in recording order; an
  // enlarged channel through its own.
  player->Step(direction, m_layout.ZoomedChannel());
}

void TLiveForm::JumpBySeconds(int deltaSeconds) {
  recorder::PlaybackThread *player = ActivePlayer();
  if (!player) return;
  int64_t from = ShownRecorderSeconds();
  if (from < 0) from = player->LastPlayedTime();
  if (from <= 0) return;  // nothing shown yet: no time to move from
  const int64_t target = std::max<int64_t>(0, from + deltaSeconds);
  player->Pause();
  const uint32_t seconds = uint32_t(std::min<int64_t>(target, UINT32_MAX));
  player->SkipBefore(seconds);
  // A disk is searched on its player's thread, never on the window's.
  const bool found = player == m_diskThread ? m_diskThread->SearchTimeOnPlayer(seconds)
                                            : player->SearchTime(seconds) >= 0;
  if (found) PlayLabel->setText(PlayingText(*player));
}

void TLiveForm::JumpToNeighbourEvent(int direction) {
  if (!m_diskThread || !EventForm) return;
  std::vector<uint32_t> times = EventForm->Events().Times();
  std::sort(times.begin(), times.end());
  if (times.empty()) return;
  int64_t reference = ShownRecorderSeconds();
  if (reference < 0 && m_diskThread->LastPlayedTime() != 0)
    reference = m_diskThread->LastPlayedTime();
  // A search lands on the block before the event, a little earlier than
  // its time: the event jumped to last stands for the time shown near it.
  if (m_lastEventJump != 0 && (reference < 0 || std::llabs(reference - m_lastEventJump) < 30))
    reference = m_lastEventJump;
  if (reference < 0) reference = direction > 0 ? 0 : INT64_MAX;
  uint32_t target = 0;
  if (direction > 0) {
    const auto it = std::upper_bound(times.begin(), times.end(), reference,
                                     [](int64_t r, uint32_t t) { return r < int64_t(t); });
    if (it == times.end()) return;
    target = *it;
  } else {
    const auto it = std::lower_bound(times.begin(), times.end(), reference,
                                     [](uint32_t t, int64_t r) { return int64_t(t) < r; });
    if (it == times.begin()) return;
    target = *std::prev(it);
  }
  m_lastEventJump = target;
  SearchDisk(target);
}

void TLiveForm::ShowChannelKey(int channel) {
  // A four-way recording has its own zoom by quarters (double click).
  if (m_layout.QuadRecording() == 1) return;
  const int zoomed = m_layout.ZoomedChannel();
  if (zoomed == channel) return;
  if (zoomed != -1) ToggleChannelZoom(zoomed);  // back to the grid first
  if (channel >= 0) ToggleChannelZoom(channel);
}

}  // namespace orvan::app
