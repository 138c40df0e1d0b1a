// The main window: the three play sources, the video panel with its four
// viewers, the play controls and play bar, time and event search, the
// language, full screen and the window's life cycle.
//
// Threads: everything here runs on the main thread. The playback thread
// reaches the window only through IPlaybackHost, whose calls arrive through
// TThread::Synchronize (the play-bar atomics excepted, which the thread
// reads without a lock and the window writes whenever the bar or the knob
// moves).
//
// Ownership: the window creates and deletes the viewers, the playback
// thread, the opened disk and clip files and the language texts; a thread is
// always terminated, waited for and deleted before the files it reads close.
#pragma once

#include <QColor>
#include <QDateTime>
#include <QImage>
#include <QKeySequence>
#include <QLocale>
#include <QMainWindow>
#include <QRect>
#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/core/bookmarks.h"
#include "app/core/case_log.h"
#include "app/core/language.h"
#include "app/core/viewer_layout.h"
#include "app/core/window_rules.h"
#include "app/report/exam_report.h"
#include "app/window/channel_viewers.h"
#include "app/window/keys_form.h"
#include "platform/disk_source.h"
#include "platform/source_registry.h"
#include "recorder/layout/activity_map.h"
#include "recorder/layout/disk_discovery.h"
#include "recorder/layout/recording_map.h"
#include "recorder/playback/playback_host.h"
#include "recorder/playback/preview_reader.h"

class QAction;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimeEdit;
class QTimer;

namespace orvan::recorder {
struct FoundDisk;
class CClipReader;
class PlaybackThread;
class PlayHDDThread;
class PlayFileThread;
}  // namespace orvan::recorder

namespace orvan::app {

class TPictureControl;
class TTimeEdit;
class TEventForm;
class TCopyForm;
class TSaveForm;
class TSurveyForm;

class TLiveForm;

// The jump an event row asks for: pauses the window's disk player and
// searches the time; nothing without a window or a disk player.
void JumpToEventTime(TLiveForm *window, uint32_t seconds);

class TLiveForm : public QMainWindow, public orvan::recorder::IPlaybackHost {
 public:
  // Makes the controls and runs the construction steps; FormCreate runs
  // next, then FormShow when the window is first shown.
  explicit TLiveForm(QWidget *parent = nullptr);
  ~TLiveForm() override;

  // Life cycle.
  void FormCreate();
  void FormShow();
  void FormDestroy();

  // Play sources.
  void HDDPlayClick();
  void FilePlayClick();
  void ImagePlayClick();
  void OpenBtnClick();
  void DeviceComboChange();
  void RefreshTimerTimer();
  void CloseBtnClick();
  // Open image: a raw or E01 image chosen in the file dialog, or dropped
  // on the window, goes to the top of the drive table (as --image does),
  // is listed and selected in HDD Play. A file that is not a recorder disk
  // or cannot be opened is refused with a message naming it.
  void OpenImageClick();
  bool OpenImageFile(const QString &path);
  // Disk player only: pause, search the recorder time and play from there
  // (the time search and the event list's jump). False when the time
  // cannot be found (nothing changes then).
  bool SearchDisk(uint32_t seconds);
  // The jump to an event (the event list, the play bar's ticks, PgDn and
  // PgUp): a time outside the recording is refused with a message;
  // otherwise the disk player plays from the event's own second.
  void JumpToEvent(uint32_t seconds);
  // What the close command does, without the question: any modal window is
  // closed first (its own closing ends what it runs), then this one. For
  // SIGTERM and SIGINT.
  void CloseWithoutAsking();
  void ExitClick();
  void StopPlayback();
  void SetPlaySource(int source);
  void ScanRecorderDisks();
  bool OpenSelectedDisk();

  // Play controls and the play bar; x relative to the knob or the track.
  void PlayBtnClick();
  void PauseBtnClick();
  void ForwardBtnClick();
  void AudioCheckClick();
  void PlayBarBtnMouseDown(int button, int x);
  void PlayBarBtnMouseMove(int x);
  void PlayBarBtnMouseUp(int button, int x);
  void PlayBarImageMouseDown(int button, int x);
  void PlayBarImageMouseUp(int button, int x);
  void SearchBtnClick();
  void EventBtnClick();

  // Snapshot, AVI and copy commands.
  void SnapShotBtnClick();
  void SnapShot1Click();
  void VideoImageMouseUp(int button, int x, int y);
  void SaveAVIBtnClick();
  void StopAVIBtnClick();
  void CopyBtnClick();

  // Language, configuration, About, full screen.
  void ApplyLanguage(int language);
  void LanguageComboChange();
  void AboutClick();
  // Source Select's "Report…": asks for the case number, the examiner and
  // a file, and writes the open disk's examination report with the case
  // log as its "Examination log". "Case log…" shows the log as it stands.
  void ReportClick();
  void CaseLogClick();
  // Writes the report of the open disk to `path` (.html or .pdf). False,
  // with *error, when no disk is open or it cannot be written.
  bool WriteExamReport(const std::string &path, const std::string &caseNumber,
                       const std::string &examiner, std::string *sha256, std::string *error);
  // A moment the examiner marks (a bookmark): kept as a finding of the
  // report, with the picture shown, and written to the case log.
  void NoteFinding(uint32_t recorderSeconds, int channel, const std::string &note,
                   const QImage &picture);
  const CCaseLog &CaseLog() const { return m_caseLog; }
  // For what the window does that is no viewer command (the other windows).
  CCaseLog &CaseLogForRecording() { return m_caseLog; }
  void FullScreenBtnClick();
  void EnableControls(bool enabled);
  // The key code FormKeyPress acts on: Escape leaves full screen.
  static constexpr int kEscapeKey = 27;
  void FormKeyPress(int key);

  // Keys after common players (F1 lists them). Space: play or pause;
  // the arrows jump by time as a time search does; PgDn and PgUp: the next
  // or previous event; 1 to 4 enlarge a channel and 0 shows the grid.
  void KeysClick();
  void PlayPauseKey();
  // From the recorder time shown, `deltaSeconds` later (or earlier).
  void JumpBySeconds(int deltaSeconds);
  // direction 1: the first event at least kEventMarginSeconds after the
  // time shown; -1: the last at least that much before it. Events outside
  // the recording are left out; the event list's order and filters play no
  // part. While a jump's picture is not on screen yet, the time it went to
  // counts as shown, so presses in quick succession walk the list.
  void JumpToNeighbourEvent(int direction);
  static constexpr int kEventMarginSeconds = 1;
  // Picture stepping, pausing first: 1 forward, -1 back.
  void StepKey(int direction);
  // step 1: the next faster speed, -1: the next slower, 0: normal speed;
  // the player plays at it.
  void ChangeSpeed(int step);
  // PlayLabel's text while `player` plays: "Play", or with its speed
  // ("Play ×2", "Play ×½"), in the language.
  QString PlayingText(const orvan::recorder::PlaybackThread &player) const;
  // What PlayLabel says: nothing, playing (at a speed), paused, fast
  // forward; at the end of the recording, while playing or fast forward,
  // that it ended.
  enum class PlayState { kNone, kPlaying, kPaused, kForward };
  void ShowPlayState(PlayState state);
  // The language in use and its texts.
  const CCaptions &Captions() const { return m_captions; }
  // The search pickers' locale: the language's.
  QLocale DatePickerLocale() const;
  QString Tr(TextKey key) const { return QString::fromStdString(m_captions.Text(key)); }
  // channel 0..3 enlarged, or -1 for the grid.
  void ShowChannelKey(int channel);
  // "Whole picture" (W, and the View menu): every channel shown whole,
  // letterboxed in its tile, or (again) the designed border trim.
  void WholePictureClick();
  bool WholePicture() const { return m_wholePicture; }
  TKeysForm *KeysWindow() const { return m_keysForm; }
  // "Disk survey…": the open disk's survey window (made on first use).
  void DiskSurveyClick();
  TSurveyForm *SurveyWindow() const { return m_surveyForm; }
  // The recorder time the panel (or the still) shows; -1 when none.
  int64_t ShownRecorderSeconds() const;

  // The play bar's marks: an event's tick (coloured by its kind) where the
  // event was recorded, and the jumps of the index's time (no recording).
  struct EventTick {
    int64_t entry;  // where its time was recorded
    int x;          // relative to the track
    uint32_t time;
    int kind;
    int channel;
  };
  const std::vector<EventTick> &EventTicks() const { return m_eventTicks; }
  const orvan::recorder::CRecordingMap &RecordingMap() const { return m_recordingMap; }
  // x of entry n on the track; the knob's left stands there while it plays.
  int PlayBarXOfEntry(int64_t n) const;
  static QColor EventKindColour(int kind);
  // The kind's name in the language; empty for a kind without one.
  QString EventKindText(int kind) const;
  // What the play bar's tooltip says at x (relative to the track): the
  // event of a tick under it, a span without recording, or the recorder
  // time there; empty without a recording.
  QString PlayBarTipAt(int x) const;

  // The play bar's zoom. The track spans a view of the recording, from
  // the whole of it down to kNarrowestViewSeconds: the wheel over the bar,
  // or + and -, zoom about the pointer (the knob for the keys); dragging
  // the track's background pans a zoomed view; a double click on the
  // overview strip (the bar's top rows) shows the whole recording again.
  // Event and bookmark ticks, gaps and the time scale follow the view.
  static constexpr int kNarrowestViewSeconds = 120;
  static constexpr int kOverviewRows = 5;  // the bar's top rows: the whole recording
  void ZoomPlayBar(int steps, int x);      // steps > 0 zoom in, by halves
  void ZoomPlayBarKey(int steps);
  void PanPlayBar(int dx);
  void ShowWholeRecording();
  bool PlayBarZoomed() const { return m_viewEntries > 0; }
  int64_t PlayBarViewFirst() const { return m_viewEntries > 0 ? m_viewFirst : 0; }
  int64_t PlayBarViewEntries() const;
  // The entry under x (relative to the track) in the view.
  int64_t PlayBarEntryAt(int x) const;
  // The time scale's labels: x on the track and the text, at 1 h, 10 min,
  // 1 min or 10 s steps (the finest that leaves room for the labels).
  struct ScaleLabel {
    int x;
    uint32_t seconds;
    QString text;
  };
  std::vector<ScaleLabel> TimeScaleLabels() const;
  int TimeScaleStepSeconds() const;
  void PlayBarWheel(int angleDelta, int x);
  void PlayBarDoubleClick(int x, int y);

  // Bookmarks (B): the time and channel shown, with an optional note typed
  // in the note box (Enter keeps it), ticks of their own on the play bar,
  // and a list window (go to, edit the note, delete). Kept per source.
  void BookmarkKey();
  // The bookmark of what is shown now; false when nothing is shown.
  bool AddBookmark(const QString &note = QString());
  // Shows the marked picture (paused, the channel enlarged as it was).
  void JumpToBookmark(size_t index);
  void DeleteBookmark(size_t index);
  void EditBookmarkNote(size_t index, const QString &note);
  void BookmarksClick();
  const CBookmarks &Bookmarks() const { return m_bookmarks; }
  QLineEdit *NoteBox() const { return m_noteBox; }
  QWidget *BookmarksWindow() const { return m_bookmarksWindow; }
  // What the report takes: each bookmark with its picture.
  struct BookmarkForReport {
    uint32_t seconds;
    int channel;  // 0..3, -1: the grid
    QString note;
    QImage thumbnail;  // null when none was kept
    QString thumbnailPath;
  };
  std::vector<BookmarkForReport> BookmarksForReport() const;

  // The picture's own identity, paused or stepping: the entry number, key
  // or predicted, and the recorder time to the millisecond, for the channel
  // enlarged or the tile under the pointer; empty otherwise.
  QString IdentityText() const;
  QLabel *IdentityLine() const { return IdentityLabel; }
  // The activity strip under the bar: a row per channel, brighter where
  // its predicted pictures are larger than usual, following the zoom. The
  // map is read on a thread of its own (coarse, then whole); null until
  // the first is in.
  const orvan::recorder::CActivityMap *Activity() const { return m_activity.get(); }
  // The previews over the bar: each channel's key picture nearest the
  // pointer, with the time, decoded by the preview reader on its own
  // thread and handle; shown once they are in.
  QLabel *PreviewPopup() const { return m_previewPopup; }
  const orvan::recorder::CPreviewReader *Previews() const { return m_previews.get(); }
  void ShowPreviewAt(int64_t entry, int x);
  void RedrawActivityStrip();

  // The magnifier over the panel (Z, or the wheel with Ctrl over a tile):
  // 1x to 8x about the pointer, drawn from the picture last composed; Z
  // again or Escape close it. A snapshot meanwhile saves what it shows.
  void MagnifierKey();
  void MagnifyAt(int steps, QPoint panelPoint);
  void CloseMagnifier();
  class TMagnifier *Magnifier() const {
    return m_magnifier;
  }
  void SetHoveredTile(int channel);

  // Viewer layout and zoom.
  void LayoutViewers(uint8_t mode);
  void ToggleChannelZoom(int channel);
  void OnViewerDblClick(int channel);
  void OnViewerMouseDown(int channel, int button, int x, int y);
  void OnViewerMouseUp(int channel, int button, int x, int y);

  // IPlaybackHost, main thread.
  void SetTimeLabels(const std::string &startText, const std::string &endText) override;
  void SetRecordingLayout(int quad) override;
  void CloseSavingIndicator() override;
  void ShowMessage(const std::string &text, const std::string &caption) override;
  // The language's "The disk stopped answering", shown once the player's
  // call has returned (the player never waits on a message box).
  void DiskStoppedAnswering() override;
  void MovePlayBarButton(int left) override;
  bool AudioChecked() override;
  orvan::recorder::PlayBarState &PlayBar() override { return m_playBar; }

  // How the window asks and tells the user and chooses files; replaced by
  // tests, which cannot answer modal boxes.
  std::function<bool(const QString &text, const QString &caption)> AskYesNo;
  std::function<void(const QString &text, const QString &caption)> Inform;
  std::function<QString(const QString &filter)> ChooseOpenFile;
  std::function<QString(const QString &filter, const QString &suggestedName)> ChooseSaveFile;

  // State read by the tests and the other windows.
  int PlaySource() const { return m_playSource; }
  int Language() const { return m_language; }
  bool IsFullScreen() const { return m_fullScreen; }
  bool BarDragging() const { return m_barDragging; }
  int DragX() const { return m_dragX; }
  const CViewerLayout &Layout() const { return m_layout; }
  orvan::recorder::PlayHDDThread *DiskThread() const { return m_diskThread; }
  orvan::recorder::PlayFileThread *ClipThread() const { return m_clipThread; }
  orvan::DiskSource *DiskHandle() const { return m_diskHandle.get(); }
  // The clip's index and data files, open together or not at all.
  const orvan::recorder::CClipReader *ClipFiles() const { return m_clipFiles.get(); }
  const LanguageTexts &Texts() const { return m_texts; }
  CChannelViewer *Viewer(int channel) const { return m_viewers[channel].get(); }
  // The still picture of Image Play as shown.
  QImage VideoImagePicture() const;
  QRect SavedFormRect() const { return m_savedFormRect; }
  QRect SavedPanelRect() const { return m_savedPanelRect; }

 protected:
  void showEvent(QShowEvent *event) override;
  void closeEvent(QCloseEvent *event) override;
  void dragEnterEvent(QDragEnterEvent *event) override;
  void dropEvent(QDropEvent *event) override;
  // The client area's resizes place the controls (PlaceControls).
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  void BuildControls();
  void BuildMenus();
  void WireControls();
  // The window's keys and the buttons' tooltips naming them.
  void InstallKeys();
  // The buttons' tooltips, and the key list F1 shows, in the language.
  void ApplyTooltips();
  void RebuildKeyHelp();
  // The other windows' captions in the window's language.
  void ApplyLanguageToWindows();
  // The controls right of the panel as wide as their captions need in the
  // window's font (never narrower than designed), the column and the
  // window growing with them.
  void ArrangeSideColumn();
  // The info box: the chosen drive (path, size, recorded span), the clip,
  // or that none is loaded.
  void RefreshSourceStatus();
  // The search pickers' event filter: they keep the keys they edit with,
  // and Enter searches. True when the event was handled.
  bool KeepTypingKeys(QObject *watched, QEvent *event);
  // The one player that exists, disk first; null without one.
  orvan::recorder::PlaybackThread *ActivePlayer() const;
  void SetBarGeometry();
  void MoveKnob(int left);
  void PauseThreads();
  // A left press on the knob or the track: the drag starts and the players
  // pause.
  void StartBarDrag(int button, int x);
  // Runs the operation on each existing player and shows its state text.
  void DrivePlayers(const std::function<void(orvan::recorder::PlaybackThread &)> &operation,
                    PlayState state);
  void RefreshPlayLabel();
  void StopDiskThread();
  void StopClipThread();
  void CloseClipFiles();
  std::array<orvan::IViewerSink *, 4> Sinks() const;
  PlayBarGeometry BarGeometry() const;
  bool ConfirmClose();
  bool LoadStillImage(const QString &path);
  // Each found disk's path, size and recorded span as its item's tooltip.
  void DescribeDevices(const std::vector<orvan::recorder::FoundDisk> &found);
  QString DescribeDisk(const orvan::recorder::FoundDisk &disk) const;
  // The damaged pictures each channel's decoder met, for the status line;
  // empty while there are none.
  QString DamageText() const;
  // The counts start again for the source opened next.
  void ResetDamageCount();
  // The chosen item's description in the status line (empty: none).
  void ShowDeviceStatus();
  void ClearDeviceStatus();
  // A clip or still that cannot be shown: nothing of the previous one stays
  // on screen (panel, still, time labels), and the reason, naming the
  // file, is shown.
  void ShowLoadFailure(const QString &text);
  void BlankPanel();
  // The process-wide copy window and saving indicator; made as children of
  // this window when the program did not make them at start-up.
  TCopyForm *CopyWindow();
  TSaveForm *SavingIndicator();
  // The picture the snapshot command takes at the press, and what the file
  // says about it, kept while the user names the file.
  struct TakenSnapshot {
    QImage picture;      // RGB32
    bool still = false;  // Image Play's picture
    int64_t shownSeconds = -1;
    std::string comment;
  };
  bool TakeSnapshot(TakenSnapshot &shot) const;
  // Beside a bitmap snapshot, which carries no tags: the same name with
  // ".txt" (shot.bmp: shot.txt), holding the comment and the recorder time.
  static QString SnapshotNotePath(const QString &bitmapPath);
  static std::string SnapshotNoteText(const TakenSnapshot &shot);
  void WriteSnapshot(const TakenSnapshot &shot, const QString &path);
  // A file that could not be written or was refused (a source being read,
  // a device, ...): the reason in a message box.
  void ShowWriteRefusal(const std::string &error);
  // One player's AVI saving: dialog, recording on, the indicator shown
  // modally, recording off.
  void SaveAviWith(bool clipPlayer);
  orvan::recorder::PlaybackThread *Player(bool clipPlayer) const;
  // After a copy: when the disk open again is the drive copied, its player
  // goes to the recorder time that was shown, playing or paused as before.
  void ReturnToShownTime(int drive, int64_t seconds, bool play);
  // Puts the saving indicator beside the controls, off the video panel.
  void PlaceSavingIndicator();
  // The play bar's marks, from the opened disk or clip (main thread, before
  // its player exists) and the event list; the track drawn with them.
  void LoadRecordingMap();
  void StopRecordingMapThread();
  // Main thread: puts a map in place, with the event ticks and the pickers.
  // `pickers` is what the pickers showed when the map was asked for: they
  // are set to the recording's start only if nobody has changed them since.
  void InstallRecordingMap(orvan::recorder::CRecordingMap map, const QDateTime &pickers);
  QDateTime PickedDateTime() const;
  void RedrawPlayBar();
  void PlayBarImageMouseMove(int x);
  // A release on an event's tick jumps to the event; false elsewhere.
  bool PlayBarTickJump(int x);
  // The recorder time shown, beside the play bar.
  void UpdateCurrentTimeLabel();
  // Outside full screen: the video panel as large as a client area of
  // this size allows at 3 : 2, and the controls at their designed places
  // relative to its right and bottom edges.
  void PlaceControls(const QSize &client);
  // The search pickers at the recording's first time.
  void SetPickersToRecordingStart();
  // False, having told the user, for a time before or after the recording.
  bool SearchTimeRecorded(uint32_t seconds);
  // The events' times inside the recording, sorted, each once.
  std::vector<uint32_t> RecordedEventTimes() const;
  // The recorder time shown, else the last one the disk player played; -1
  // for none.
  int64_t ShownOrPlayedSeconds() const;
  // What JumpToNeighbourEvent starts from.
  int64_t EventReferenceSeconds() const;
  // Marks the last event jump as landed once its picture is seen (the
  // keys, and every refresh tick).
  void NoteEventJumpLanding();
  static constexpr int kEventLandingSeconds = 3;

  // Review: the play bar's view, panning, the bookmarks of the source, the
  // identity line's cache (main thread, all of it).
  void SetPlayBarView(int64_t first, int64_t entries);
  void OpenBookmarksForSource();
  void RefreshBookmarksWindow();
  void UpdateIdentityLine();
  // Seeks the active player to the entry under x and plays.
  void SeekToBarX(int x);
  int64_t m_viewFirst = 0;
  int64_t m_viewEntries = 0;  // 0: the whole recording
  bool m_panning = false;
  int m_panFromX = 0;
  int64_t m_panFromFirst = 0;
  int m_knobPressLeft = -1;
  CBookmarks m_bookmarks;
  int m_noteFor = -1;  // the bookmark the note box writes to
  QLineEdit *m_noteBox = nullptr;
  QWidget *m_bookmarksWindow = nullptr;
  QLabel *IdentityLabel = nullptr;
  class TMagnifier *m_magnifier = nullptr;
  void RefreshMagnifier();
  mutable bool m_capturingForMagnifier = false;
  // The activity map, read by m_activityThread on a handle of its own and
  // handed to the main thread (which owns m_activity); m_activityStop
  // (atomic) asks the thread to give up; m_mapGeneration tells a map of a
  // disk since closed.
  TPictureControl *ActivityStrip = nullptr;
  std::shared_ptr<orvan::recorder::CActivityMap> m_activity;
  std::thread m_activityThread;
  std::atomic<bool> m_activityStop{false};
  std::unique_ptr<orvan::recorder::CPreviewReader> m_previews;
  QLabel *m_previewPopup = nullptr;
  int64_t m_previewEntry = -1;  // the entry under the pointer
  int m_previewX = 0;
  int m_hoveredTile = -1;
  std::string m_clipPath;
  std::unique_ptr<orvan::DiskSource> m_identityDisk;  // the identity line's own reads
  struct IdentityCache {
    int channel = -1;
    int64_t entry = -1;
    QString text;
  } m_identity;

  // Controls, children of the client area; named as the window's design
  // names them.
  QWidget *m_client = nullptr;
  TPictureControl *FormImage = nullptr;
  QFrame *LivePanel = nullptr;
  TPictureControl *VideoImage = nullptr;
  QLabel *BlackImage = nullptr;
  TPictureControl *PlayBarImage = nullptr;
  TPictureControl *PlayBarBtn = nullptr;
  QLabel *StartTimeLabel = nullptr;
  QLabel *EndTimeLabel = nullptr;
  QLabel *BlackLabel = nullptr;
  QLabel *CurrentTimeLabel = nullptr;
  QLabel *NamePanel = nullptr;
  QGroupBox *DeviceGroup = nullptr;
  QComboBox *DeviceCombo = nullptr;
  QPushButton *OpenBtn = nullptr;
  QGroupBox *PlayGroup = nullptr;
  QPushButton *PlayBtn = nullptr;
  QPushButton *PauseBtn = nullptr;
  QPushButton *ForwardBtn = nullptr;
  QLabel *PlayLabel = nullptr;
  QGroupBox *AVIGroup = nullptr;
  QPushButton *StopAVIBtn = nullptr;
  QPushButton *SaveAVIBtn = nullptr;
  QPushButton *CopyBtn = nullptr;
  QPushButton *SnapShotBtn = nullptr;
  QGroupBox *SearchGroup = nullptr;
  QDateEdit *DatePicker = nullptr;
  TTimeEdit *TimePicker = nullptr;
  QPushButton *SearchBtn = nullptr;
  QPushButton *EventBtn = nullptr;
  QPushButton *PrevEventBtn = nullptr;
  QPushButton *NextEventBtn = nullptr;
  QPushButton *FullScreenBtn = nullptr;
  QCheckBox *AudioCheck = nullptr;
  QLabel *LanguageLabel = nullptr;
  QComboBox *LanguageCombo = nullptr;
  QPushButton *CloseBtn = nullptr;
  QLabel *StatusLabel = nullptr;  // the chosen drive: path, size, recorded span
  QLabel *DamageLabel = nullptr;  // in the status line: the damaged pictures counted
  QMenu *SourceSelect = nullptr;
  QAction *SourceSelectAction = nullptr;
  QAction *HDDPlay = nullptr;
  QAction *FilePlay = nullptr;
  QAction *ImagePlay = nullptr;
  QAction *OpenImage = nullptr;
  QAction *ReportItem = nullptr;
  QAction *CaseLogItem = nullptr;
  QAction *DiskSurveyItem = nullptr;
  QMenu *ViewMenu = nullptr;
  QAction *WholePictureItem = nullptr;
  QAction *BookmarksItem = nullptr;
  QAction *Exit = nullptr;
  QAction *About = nullptr;
  QMenu *ViewerMenu = nullptr;
  QAction *SnapShot1 = nullptr;
  QTimer *RefreshTimer = nullptr;

  // Window state.
  int m_playSource = kHddPlay;
  int m_language = 0;
  PlayState m_playState = PlayState::kNone;
  // The longest the main thread reads a disk for at a time (the event list,
  // the scan of each drive, the last entry before a copy): a slow disk
  // costs that much of it at most, and the rest is read on threads.
  static constexpr std::chrono::milliseconds kMainThreadReadLimit{2000};
  bool m_fullScreen = false;
  bool m_wholePicture = false;  // the trim choice, sent to every viewer
  bool m_barDragging = false;
  int m_dragX = 0;  // where the press took the knob or the track, relative to it
  bool m_shown = false;
  bool m_destroyed = false;
  bool m_closeConfirmed = false;
  QRect m_savedFormRect;
  QRect m_savedPanelRect;
  // The controls of the client area as designed, for PlaceControls; the
  // window's place and client size before full screen, restored after.
  std::vector<std::pair<QWidget *, QRect>> m_designedPlaces;
  std::vector<std::pair<QWidget *, QRect>> m_originalPlaces;  // as designed, before any language
  QRect m_windowedGeometry;
  QSize m_windowedClientSize;
  LanguageTexts m_texts;
  CCaptions m_captions;                        // m_texts in m_language
  std::string m_startTimeText, m_endTimeText;  // as the player wrote them
  // The key table: the keys and what they do (TextKey, and a channel
  // number for the texts that take one).
  struct KeyBinding {
    QList<QKeySequence> keys;
    TextKey action;
    int argument;
  };
  std::vector<KeyBinding> m_keyBindings;
  // The designed places of the group boxes' controls, in their group.
  std::vector<std::pair<QWidget *, QRect>> m_designedInGroups;
  int m_sideExtraWidth = 0;
  std::array<uint64_t, 4> m_damageBase{};  // each viewer's count when the source was opened
  QString m_damageShown;
  // The search time a copy keeps for the disk read again after it.
  std::optional<QDateTime> m_pickersKept;   // the damage counts the status line last showed  // how
                                            // much wider than designed the column is
  std::vector<std::string> m_scanMessages;  // drives the last scan could not read
  std::vector<orvan::recorder::FoundDisk> m_foundDisks;  // the last scan's, in DeviceCombo's order
  CViewerLayout m_layout;
  std::array<std::unique_ptr<CChannelViewer>, 4> m_viewers;
  orvan::recorder::PlayBarState m_playBar;
  std::unique_ptr<orvan::IScreenGrabber> m_grabber;  // outlives every playback thread

  // HDD Play: the opened drive and its player.
  std::unique_ptr<orvan::DiskSource> m_diskHandle;
  orvan::recorder::PlayHDDThread *m_diskThread = nullptr;
  // File Play: the clip's files and their player.
  std::unique_ptr<orvan::recorder::CClipReader> m_clipFiles;
  // The still Image Play shows is a source too: no snapshot may replace it.
  orvan::platform::SourceRegistration m_stillSource;
  orvan::recorder::PlayFileThread *m_clipThread = nullptr;
  QString m_clipName;  // file name of the clip opened, for snapshots
  // The keys window, made on first use; the last jump to an event (target
  // 0: none) and whether its picture has been seen.
  TKeysForm *m_keysForm = nullptr;
  TSurveyForm *m_surveyForm = nullptr;  // a child of the window
  std::vector<KeyHelpRow> m_keyHelp;
  struct EventJump {
    uint32_t target = 0;
    bool landed = false;  // its first picture has been seen on screen
  } m_eventJump;
  // The play bar's marks, made when a disk or clip opens. A disk's map is
  // read by m_mapThread on a handle of its own (a raw disk takes seconds
  // for the scattered reads), then handed to the main thread, which owns
  // m_recordingMap and m_eventTicks; m_mapStop (atomic) asks the thread to
  // give up, and m_mapGeneration (main thread) tells a map still wanted
  // from one of a disk since closed.
  orvan::recorder::CRecordingMap m_recordingMap;
  std::vector<EventTick> m_eventTicks;
  std::thread m_mapThread;
  std::atomic<bool> m_mapStop{false};
  uint64_t m_mapGeneration = 0;
  // Image Play: the still shown, for snapshots.
  bool m_stillShown = false;
  QString m_stillName;
  uint32_t m_stillSeconds = 0;
  // The examination: what was done since the disk was opened, the disk's
  // path, and the moments marked as findings (main thread only).
  CCaseLog m_caseLog;
  std::string m_openDiskPath;
  std::vector<report::Finding> m_findings;
};

// The process-wide windows and the display mode (1 grid, 0 one viewer).
extern TLiveForm *LiveForm;
extern TEventForm *EventForm;
extern TCopyForm *CopyForm;
extern TSaveForm *SaveForm;
extern uint8_t DisplayMode;

// Runs the playback threads' Synchronize calls from the Qt event loop:
// installed once the application object exists, removed before it ends.
void InstallSynchronizeWakeup();
void RemoveSynchronizeWakeup();

}  // namespace orvan::app
