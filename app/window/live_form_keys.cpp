// The main window's keys, after mpv and VLC, and the tooltips that name
// them.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTimeEdit>
#include <algorithm>

#include "app/window/captions.h"
#include "app/window/event_form.h"
#include "app/window/keys_form.h"
#include "app/window/live_form.h"
#include "app/window/picture_control.h"
#include "app/window/time_edit.h"
#include "recorder/playback/play_file_thread.h"
#include "recorder/playback/play_hdd_thread.h"

namespace orvan::app {

namespace {

// A key as its cap reads: arrows as arrows, Space and Backspace in the
// language, the rest (letters, F keys, PgDn, Esc, Ctrl+) as printed on it.
QString KeyName(const QKeySequence &sequence, const CCaptions &captions) {
  if (sequence.isEmpty()) return {};
  const QKeyCombination combination = sequence[0];
  QString prefix;
  if (combination.keyboardModifiers() & Qt::ControlModifier) prefix = QStringLiteral("Ctrl+");
  switch (combination.key()) {
    case Qt::Key_Space:
      return prefix + Tr(captions, TextKey::Key_Space);
    case Qt::Key_Backspace:
      return prefix + Tr(captions, TextKey::Key_Backspace);
    case Qt::Key_Right:
      return prefix + QStringLiteral("\u2192");
    case Qt::Key_Left:
      return prefix + QStringLiteral("\u2190");
    case Qt::Key_Up:
      return prefix + QStringLiteral("\u2191");
    case Qt::Key_Down:
      return prefix + QStringLiteral("\u2193");
    case Qt::Key_PageDown:
      return prefix + QStringLiteral("PgDn");
    case Qt::Key_PageUp:
      return prefix + QStringLiteral("PgUp");
    case Qt::Key_Escape:
      return prefix + QStringLiteral("Esc");
    default:
      return prefix + QKeySequence(combination.key()).toString(QKeySequence::PortableText);
  }
}

QString KeysText(const QList<QKeySequence> &keys, const CCaptions &captions) {
  QStringList names;
  for (const QKeySequence &k : keys) names << KeyName(k, captions);
  return names.join(QStringLiteral(", "));
}

}  // namespace

bool TLiveForm::KeepTypingKeys(QObject *watched, QEvent *event) {
  if (watched != DatePicker && watched != TimePicker) return false;
  if (event->type() == QEvent::ShortcutOverride) {
    // The field's own keys beyond those its line types with: stepping the
    // section, and Enter and Escape, which end the typing.
    switch (static_cast<QKeyEvent *>(event)->key()) {
      case Qt::Key_Up:
      case Qt::Key_Down:
      case Qt::Key_PageUp:
      case Qt::Key_PageDown:
      case Qt::Key_Return:
      case Qt::Key_Enter:
      case Qt::Key_Escape:
        event->accept();
        return true;
      default:
        return false;
    }
  }
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent *>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      // Enter searches the time typed, and the keys are the window's again.
      LivePanel->setFocus(Qt::OtherFocusReason);
      SearchBtnClick();
      return true;
    }
    if (key == Qt::Key_Escape) {
      LivePanel->setFocus(Qt::OtherFocusReason);
      return true;
    }
  }
  return false;
}

recorder::PlaybackThread *TLiveForm::ActivePlayer() const {
  if (m_diskThread) return m_diskThread;
  return m_clipThread;
}

void TLiveForm::InstallKeys() {
  using K = QKeySequence;
  struct Binding {
    QList<QKeySequence> keys;
    TextKey action;
    int argument;               // filled into the action's text (a channel), 0 for none
    std::function<void()> run;  // none: handled elsewhere, listed only
  };
  const Binding bindings[] = {
      {{K(Qt::Key_Space)}, TextKey::Act_PlayPause, 0, [this] { PlayPauseKey(); }},
      {{K(Qt::Key_Right)}, TextKey::Act_Later10, 0, [this] { JumpBySeconds(10); }},
      {{K(Qt::Key_Left)}, TextKey::Act_Earlier10, 0, [this] { JumpBySeconds(-10); }},
      {{K(Qt::Key_Up)}, TextKey::Act_Later60, 0, [this] { JumpBySeconds(60); }},
      {{K(Qt::Key_Down)}, TextKey::Act_Earlier60, 0, [this] { JumpBySeconds(-60); }},
      {{K(Qt::Key_Period)}, TextKey::Act_StepForward, 0, [this] { StepKey(1); }},
      {{K(Qt::Key_Comma)}, TextKey::Act_StepBack, 0, [this] { StepKey(-1); }},
      {{K(Qt::Key_BracketRight)}, TextKey::Act_Faster, 0, [this] { ChangeSpeed(1); }},
      {{K(Qt::Key_BracketLeft)}, TextKey::Act_Slower, 0, [this] { ChangeSpeed(-1); }},
      {{K(Qt::Key_Backspace)}, TextKey::Act_NormalSpeed, 0, [this] { ChangeSpeed(0); }},
      {{K(Qt::Key_PageDown)}, TextKey::Act_NextEvent, 0, [this] { JumpToNeighbourEvent(1); }},
      {{K(Qt::Key_PageUp)}, TextKey::Act_PrevEvent, 0, [this] { JumpToNeighbourEvent(-1); }},
      {{K(Qt::Key_1)}, TextKey::Act_Channel, 1, [this] { ShowChannelKey(0); }},
      {{K(Qt::Key_2)}, TextKey::Act_Channel, 2, [this] { ShowChannelKey(1); }},
      {{K(Qt::Key_3)}, TextKey::Act_Channel, 3, [this] { ShowChannelKey(2); }},
      {{K(Qt::Key_4)}, TextKey::Act_Channel, 4, [this] { ShowChannelKey(3); }},
      {{K(Qt::Key_0)}, TextKey::Act_AllChannels, 0, [this] { ShowChannelKey(-1); }},
      {{K(Qt::Key_W)}, TextKey::Act_WholePicture, 0, [this] { WholePictureClick(); }},
      {{K(Qt::Key_F), K(Qt::Key_F11)},
       TextKey::Act_FullScreen,
       0,
       [this] { FullScreenBtnClick(); }},
      {{K(Qt::Key_Escape)}, TextKey::Act_LeaveFullScreen, 0, nullptr},
      {{K(Qt::CTRL | Qt::Key_S)}, TextKey::Act_Snapshot, 0, [this] { SnapShotBtnClick(); }},
      {{K(Qt::CTRL | Qt::Key_T)},
       TextKey::Act_TypeTime,
       0,
       [this] {
         TimePicker->setFocus(Qt::ShortcutFocusReason);
         TimePicker->selectAll();
       }},
      {{K(Qt::CTRL | Qt::Key_E)}, TextKey::Act_EventList, 0, [this] { EventBtnClick(); }},
      {{K(Qt::Key_Plus), K(Qt::Key_Equal)},
       TextKey::Act_ZoomBarIn,
       0,
       [this] { ZoomPlayBarKey(1); }},
      {{K(Qt::Key_Minus)}, TextKey::Act_ZoomBarOut, 0, [this] { ZoomPlayBarKey(-1); }},
      {{K(Qt::Key_B)}, TextKey::Act_Bookmark, 0, [this] { BookmarkKey(); }},
      {{K(Qt::Key_Z)}, TextKey::Act_Magnifier, 0, [this] { MagnifierKey(); }},
      {{K(Qt::CTRL | Qt::Key_B)}, TextKey::Bookmarks_title, 0, [this] { BookmarksClick(); }},
      {{K(Qt::CTRL | Qt::Key_Q)}, TextKey::Act_Close, 0, [this] { CloseBtnClick(); }},
      {{K(Qt::Key_F1)}, TextKey::Act_Keys, 0, [this] { KeysClick(); }},
  };
  for (const Binding &b : bindings) {
    m_keyBindings.push_back({b.keys, b.action, b.argument});
    if (!b.run) continue;
    // Whatever has the focus, in this window or in one beside it (the keys,
    // a kept-open event list); a modal window shadows them. A text field
    // keeps the keys it types with (KeepTypingKeys).
    auto *shortcut = new QShortcut(this);
    shortcut->setKeys(b.keys);
    shortcut->setContext(Qt::ApplicationShortcut);
    connect(shortcut, &QShortcut::activated, this, b.run);
  }
  // Buttons, boxes and lists take no focus from a click, so a click leaves
  // the keys where they were; Tab still reaches them. A click on the video
  // panel or the window's background takes the focus out of a text field.
  for (QWidget *w : m_client->findChildren<QWidget *>()) {
    if (qobject_cast<QAbstractButton *>(w) || qobject_cast<QComboBox *>(w))
      w->setFocusPolicy(Qt::TabFocus);
  }
  for (QWidget *w : {static_cast<QWidget *>(m_client), static_cast<QWidget *>(LivePanel)})
    w->setFocusPolicy(Qt::ClickFocus);
  for (QWidget *field : {static_cast<QWidget *>(DatePicker), static_cast<QWidget *>(TimePicker)})
    field->installEventFilter(this);
  // Popups, wherever they open, keep their keys (eventFilter).
  qApp->installEventFilter(this);

  RebuildKeyHelp();
  ApplyTooltips();
}

void TLiveForm::RebuildKeyHelp() {
  m_keyHelp.clear();
  for (const KeyBinding &b : m_keyBindings) {
    QString action = Tr(b.action);
    if (b.argument) action = action.arg(b.argument);
    m_keyHelp.push_back({KeysText(b.keys, m_captions), action});
  }
  if (m_keysForm) m_keysForm->SetRows(m_keyHelp, m_captions);
}

void TLiveForm::ApplyTooltips() {
  const std::pair<QWidget *, TextKey> tips[] = {
      {PlayBtn, TextKey::Tip_Play},
      {PauseBtn, TextKey::Tip_Pause},
      {ForwardBtn, TextKey::Tip_Forward},
      {SnapShotBtn, TextKey::Tip_Snapshot},
      {SearchBtn, TextKey::Tip_Search},
      {EventBtn, TextKey::Tip_Event},
      {PrevEventBtn, TextKey::Tip_PrevEvent},
      {NextEventBtn, TextKey::Tip_NextEvent},
      {FullScreenBtn, TextKey::Tip_FullScreen},
      {CloseBtn, TextKey::Tip_Close},
      {SaveAVIBtn, TextKey::Tip_SaveAVI},
      {StopAVIBtn, TextKey::Tip_StopAVI},
      {CopyBtn, TextKey::Tip_Copy},
      {OpenBtn, TextKey::Tip_Open},
      {AudioCheck, TextKey::Tip_Audio},
      {PlayBarBtn, TextKey::Tip_PlayBar},
  };
  for (const auto &[widget, key] : tips) widget->setToolTip(Tr(key));
}

void TLiveForm::KeysClick() {
  if (!m_keysForm) m_keysForm = new TKeysForm(m_keyHelp, m_captions, this);
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

QString TLiveForm::PlayingText(const recorder::PlaybackThread &player) const {
  const QString play = Tr(TextKey::State_Play);
  switch (player.Speed()) {
    case 1:
      return play + QStringLiteral(" \u00d7\u215b");
    case 2:
      return play + QStringLiteral(" \u00d7\u00bc");
    case 4:
      return play + QStringLiteral(" \u00d7\u00bd");
    case recorder::kNormalSpeedEighths:
      return play;
    default:
      return play + QStringLiteral(" \u00d7%1").arg(player.Speed() / recorder::kNormalSpeedEighths);
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
  m_caseLog.Record(TextKey::Log_speed,
                   {{"speed", std::to_string(speeds[index] / 8.0).substr(0, 5) + "x"}});
  ShowPlayState(PlayState::kPlaying);
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
  m_eventJump = {};
  int64_t from = ShownRecorderSeconds();
  if (from < 0) from = player->LastPlayedTime();
  if (from <= 0) return;  // nothing shown yet: no time to move from
  const int64_t target = std::max<int64_t>(0, from + deltaSeconds);
  player->Pause();
  const uint32_t seconds = uint32_t(std::min<int64_t>(target, UINT32_MAX));
  // Found and shown on the player's thread, the picture at the time at once.
  player->SeekToTime(seconds);
  player->Play();
  ShowPlayState(PlayState::kPlaying);
}

std::vector<uint32_t> TLiveForm::RecordedEventTimes() const {
  std::vector<uint32_t> times;
  if (!EventForm) return times;
  for (const recorder::EventRecord &event : EventForm->Events().Records()) {
    // An event logged outside the recording has no picture to go to.
    if (!m_recordingMap.Empty() &&
        (event.time < m_recordingMap.FirstTime() || event.time > m_recordingMap.LastTime()))
      continue;
    times.push_back(event.time);
  }
  std::sort(times.begin(), times.end());
  times.erase(std::unique(times.begin(), times.end()), times.end());
  return times;
}

void TLiveForm::NoteEventJumpLanding() {
  if (m_eventJump.target == 0 || m_eventJump.landed || !m_diskThread) return;
  // The jump's first picture is on screen: the player has handed over from
  // the new place, and what is shown lies at the event (a jump lands on
  // the event's own second, and the time runs on from there).
  const int64_t shown = ShownOrPlayedSeconds();
  if (m_diskThread->ResumedAtTime() != 0 && shown >= m_eventJump.target &&
      shown <= int64_t{m_eventJump.target} + kEventLandingSeconds)
    m_eventJump.landed = true;
}

int64_t TLiveForm::EventReferenceSeconds() const {
  // A jump whose picture is not on screen yet stands for the time shown,
  // so presses in quick succession walk the list.
  if (m_eventJump.target != 0 && !m_eventJump.landed) return m_eventJump.target;
  return ShownOrPlayedSeconds();
}

void TLiveForm::JumpToNeighbourEvent(int direction) {
  if (!m_diskThread) return;
  NoteEventJumpLanding();
  const std::vector<uint32_t> times = RecordedEventTimes();
  if (times.empty()) return;
  const int64_t reference = EventReferenceSeconds();
  // Next: the first event at least a second after the time shown; previous:
  // the last at least a second before it. Nothing shown yet: next is the
  // first event, and there is none before.
  uint32_t target = 0;
  if (direction > 0) {
    const int64_t from = reference < 0 ? 0 : reference + kEventMarginSeconds;
    const auto it = std::lower_bound(times.begin(), times.end(), from,
                                     [](uint32_t t, int64_t r) { return int64_t(t) < r; });
    if (it == times.end()) return;
    target = *it;
  } else {
    if (reference < 0) return;
    const int64_t before = reference - kEventMarginSeconds;
    const auto it = std::upper_bound(times.begin(), times.end(), before,
                                     [](int64_t r, uint32_t t) { return r < int64_t(t); });
    if (it == times.begin()) return;
    target = *std::prev(it);
  }
  JumpToEvent(target);
}

void TLiveForm::JumpToEvent(uint32_t seconds) {
  if (!m_diskThread) return;
  if (!SearchTimeRecorded(seconds)) return;  // says so
  // Landing on the event's own second, not at the start of its index block.
  if (SearchDisk(seconds)) {
    m_eventJump = {seconds, false};
    m_caseLog.Record(TextKey::Log_event_jump, {{"time", FormatRecorderTime(int64_t{seconds})}});
  }
}

int64_t TLiveForm::ShownOrPlayedSeconds() const {
  int64_t shown = ShownRecorderSeconds();
  if (shown < 0 && m_diskThread && m_diskThread->LastPlayedTime() != 0)
    shown = m_diskThread->LastPlayedTime();
  return shown;
}

void TLiveForm::WholePictureClick() {
  m_wholePicture = !m_wholePicture;
  WholePictureItem->setChecked(m_wholePicture);
  bool whole = m_wholePicture;
  for (auto &v : m_viewers)
    if (v) v->Command(kViewerWholePicture, &whole);
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
