// Review aids of the main window: the zooming play bar (view, pan, time
// scale), bookmarks with their note box and list, and the identity line of
// the picture shown.
#include <QBuffer>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <filesystem>

#include "app/window/live_form.h"
#include "app/window/magnifier.h"
#include "app/window/picture_control.h"
#include "platform/log.h"
#include "platform/output_file.h"
#include "recorder/export/span_reader.h"
#include "recorder/layout/clip_format.h"
#include "recorder/playback/play_file_thread.h"
#include "recorder/playback/play_hdd_thread.h"

namespace orvan::app {

namespace {
constexpr const char *kLogCategory = "review";
constexpr int kPanThresholdPixels = 4;  // a press moved this far on a zoomed track pans
constexpr int kThumbnailWidth = 160;
// Scale steps, finest first; labels need this many pixels between them.
constexpr uint32_t kScaleSteps[] = {10, 60, 600, 3600};
constexpr int kLabelPixels = 56;

QString Q(const std::string &s) { return QString::fromStdString(s); }

QString ScaleText(uint32_t seconds, uint32_t step) {
  const QDateTime t = QDateTime::fromSecsSinceEpoch(qint64{seconds}, Qt::UTC);
  return t.toString(step < 60 ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm"));
}
}  // namespace

// ---- the play bar's view ----

int64_t TLiveForm::PlayBarViewEntries() const {
  if (m_viewEntries > 0) return m_viewEntries;
  // Before the map is read, the player knows how many entries there are.
  if (m_recordingMap.Entries() <= 0 && ActivePlayer()) return ActivePlayer()->PlayBarEntries();
  return m_recordingMap.Entries();
}

int64_t TLiveForm::PlayBarEntryAt(int x) const {
  const int width = std::max(PlayBarImage->width(), 1);
  return PlayBarViewFirst() + int64_t(std::clamp(x, 0, width)) * PlayBarViewEntries() / width;
}

void TLiveForm::SetPlayBarView(int64_t first, int64_t entries) {
  const int64_t total = m_recordingMap.Entries();
  // The knob keeps its entry: where it stands in the new view.
  const int64_t knobEntry = PlayBarEntryAt(PlayBarBtn->x() - PlayBarImage->x());
  if (total <= 0 || entries <= 0 || entries >= total) {
    m_viewFirst = 0;
    m_viewEntries = 0;
  } else {
    m_viewEntries = entries;
    m_viewFirst = std::clamp<int64_t>(first, 0, total - entries);
  }
  m_playBar.viewEntries.store(0);  // never a view half written
  m_playBar.viewFirst.store(m_viewFirst);
  m_playBar.viewEntries.store(m_viewEntries);
  if (!m_barDragging && total > 0) {
    const int span = PlayBarImage->width() - PlayBarBtn->width();
    const int x = int(std::clamp<int64_t>((knobEntry - PlayBarViewFirst()) * PlayBarImage->width() /
                                              std::max<int64_t>(1, PlayBarViewEntries()),
                                          0, span));
    MoveKnob(PlayBarImage->x() + x);
  }
  RedrawPlayBar();
}

void TLiveForm::ZoomPlayBar(int steps, int x) {
  const int64_t total = m_recordingMap.Entries();
  if (total <= 0 || steps == 0) return;
  const uint32_t seconds = m_recordingMap.LastTime() - m_recordingMap.FirstTime();
  // The narrowest view: two minutes at the recording's average rate.
  const int64_t narrowest = std::max<int64_t>(
      std::min<int64_t>(total, total * kNarrowestViewSeconds / std::max<uint32_t>(seconds, 1)),
      std::max(PlayBarImage->width(), 2));
  const int width = std::max(PlayBarImage->width(), 1);
  x = std::clamp(x, 0, width);
  const int64_t anchor = PlayBarEntryAt(x);
  const double factor = std::pow(0.5, steps);
  const int64_t span = std::clamp<int64_t>(int64_t(double(PlayBarViewEntries()) * factor),
                                           std::min(narrowest, total), total);
  SetPlayBarView(anchor - int64_t(x) * span / width, span);
}

void TLiveForm::ZoomPlayBarKey(int steps) {
  // About the knob: the time playing.
  ZoomPlayBar(steps, PlayBarBtn->x() - PlayBarImage->x() + PlayBarBtn->width() / 2);
}

void TLiveForm::PanPlayBar(int dx) {
  if (!PlayBarZoomed()) return;
  const int width = std::max(PlayBarImage->width(), 1);
  SetPlayBarView(m_viewFirst - int64_t(dx) * m_viewEntries / width, m_viewEntries);
}

void TLiveForm::ShowWholeRecording() { SetPlayBarView(0, 0); }

void TLiveForm::PlayBarWheel(int angleDelta, int x) {
  // One notch (120) is one halving.
  const int steps = angleDelta / 120 != 0 ? angleDelta / 120 : (angleDelta > 0 ? 1 : -1);
  if (angleDelta != 0) ZoomPlayBar(steps, x);
}

void TLiveForm::PlayBarDoubleClick(int, int y) {
  if (y < kOverviewRows) ShowWholeRecording();
}

int TLiveForm::TimeScaleStepSeconds() const {
  const int64_t span = PlayBarViewEntries();
  if (m_recordingMap.Empty() || span <= 0) return 0;
  const uint32_t from = m_recordingMap.TimeAt(PlayBarViewFirst());
  const uint32_t to = m_recordingMap.TimeAt(PlayBarViewFirst() + span - 1);
  const double secondsPerPixel =
      double(std::max<uint32_t>(to - from, 1)) / double(std::max(PlayBarImage->width(), 1));
  for (uint32_t step : kScaleSteps)
    if (double(step) / secondsPerPixel >= kLabelPixels) return int(step);
  return int(kScaleSteps[std::size(kScaleSteps) - 1]);
}

std::vector<TLiveForm::ScaleLabel> TLiveForm::TimeScaleLabels() const {
  std::vector<ScaleLabel> labels;
  const int step = TimeScaleStepSeconds();
  if (step <= 0) return labels;
  const int64_t first = PlayBarViewFirst(), span = PlayBarViewEntries();
  const uint32_t from = m_recordingMap.TimeAt(first);
  const uint32_t to = m_recordingMap.TimeAt(first + span - 1);
  const int width = PlayBarImage->width();
  int lastX = -kLabelPixels;
  for (uint64_t t = (uint64_t(from) + step - 1) / step * step; t <= to && labels.size() < 200;
       t += step) {
    const int64_t entry = m_recordingMap.EntryOf(uint32_t(t));
    if (entry < 0) continue;
    const int x = int((entry - first) * width / std::max<int64_t>(span, 1));
    // Gaps squeeze time: labels that would overlap are left out.
    if (x < 0 || x >= width || x - lastX < kLabelPixels) continue;
    labels.push_back({x, uint32_t(t), ScaleText(uint32_t(t), uint32_t(step))});
    lastX = x;
  }
  return labels;
}

void TLiveForm::SeekToBarX(int x) {
  recorder::PlaybackThread *player = ActivePlayer();
  if (!player) return;
  m_eventJump = {};
  player->Pause();
  player->SeekToEntry(PlayBarEntryAt(x));
  player->Play();
  ShowPlayState(PlayState::kPlaying);
}

// ---- bookmarks ----

void TLiveForm::OpenBookmarksForSource() {
  m_bookmarks.Close();
  std::string path;
  if (m_diskHandle)
    path = m_diskHandle->Path();
  else if (m_clipFiles)
    path = m_clipPath;
  if (!path.empty()) m_bookmarks.Open(BookmarksFolder(), SourceIdentity(path));
  m_identityDisk.reset();
  m_identity = {};
  RefreshBookmarksWindow();
}

bool TLiveForm::AddBookmark(const QString &note) {
  const int64_t shown = ShownRecorderSeconds();
  recorder::PlaybackThread *player = ActivePlayer();
  if (shown <= 0 || !player || !m_bookmarks.IsOpen()) return false;
  Bookmark b;
  b.seconds = uint32_t(shown);
  b.channel = m_layout.ZoomedChannel();
  if (b.channel >= 0) {
    b.entry = player->ShownEntry(b.channel);
    // The enlarged channel's own picture time.
    if (m_viewers[b.channel] && m_viewers[b.channel]->ShownSeconds() > 0)
      b.seconds = uint32_t(m_viewers[b.channel]->ShownSeconds());
  } else {
    for (int ch = 0; ch < 4; ++ch) b.entry = std::max(b.entry, player->ShownEntry(ch));
  }
  b.note = note.toStdString();
  TakenSnapshot shot;
  if (TakeSnapshot(shot) && !shot.picture.isNull()) {
    const QImage small = shot.picture.scaledToWidth(kThumbnailWidth, Qt::SmoothTransformation);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (small.save(&buffer, "PNG")) {
      const std::string name = m_bookmarks.NewThumbnailName();
      std::string error;
      std::filesystem::create_directories(BookmarksFolder());
      if (platform::WriteOutputFile(m_bookmarks.ThumbnailPath(name), png.constData(),
                                    size_t(png.size()), platform::ReplacePolicy::kKeepExisting,
                                    &error))
        b.thumbnail = name;
      else
        ORVAN_LOG_WARN(kLogCategory, "bookmark picture not kept: %s", error.c_str());
    }
  }
  if (!m_bookmarks.Add(b))
    statusBar()->showMessage(Tr(TextKey::Bookmark_not_saved).arg(Q(m_bookmarks.ListPath())), 5000);
  // The new one's place in the list, for the note.
  const auto &list = m_bookmarks.List();
  m_noteFor = -1;
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i].seconds == b.seconds && list[i].thumbnail == b.thumbnail &&
        list[i].channel == b.channel && list[i].entry == b.entry)
      m_noteFor = int(i);
  // A bookmark is a finding: the case log says so (the note follows).
  m_caseLog.Bookmark(b.seconds, b.channel + 1, b.note);
  RedrawPlayBar();
  RefreshBookmarksWindow();
  return true;
}

void TLiveForm::BookmarkKey() {
  if (!AddBookmark()) return;
  // The note box over the bottom of the panel: Enter keeps the note,
  // Escape leaves the bookmark without one.
  m_noteBox->setPlaceholderText(Tr(TextKey::Bookmark_note));
  m_noteBox->clear();
  m_noteBox->setGeometry(LivePanel->x() + 8, LivePanel->y() + LivePanel->height() - 34,
                         std::min(LivePanel->width() - 16, 420), 26);
  m_noteBox->show();
  m_noteBox->raise();
  m_noteBox->setFocus(Qt::ShortcutFocusReason);
}

void TLiveForm::JumpToBookmark(size_t index) {
  const auto &list = m_bookmarks.List();
  recorder::PlaybackThread *player = ActivePlayer();
  if (index >= list.size() || !player) return;
  const Bookmark &b = list[index];
  m_eventJump = {};
  if (b.channel >= 0 && b.channel < 4)
    ShowChannelKey(b.channel);
  else
    ShowChannelKey(-1);
  player->Pause();
  if (b.entry >= 0)
    player->SeekToEntry(b.entry);
  else
    player->SeekToTime(b.seconds);
  // Paused on the marked picture: the examiner looks at it first.
  ShowPlayState(PlayState::kPaused);
}

void TLiveForm::DeleteBookmark(size_t index) {
  if (!m_bookmarks.Remove(index) && index < m_bookmarks.List().size())
    statusBar()->showMessage(Tr(TextKey::Bookmark_not_saved).arg(Q(m_bookmarks.ListPath())), 5000);
  RedrawPlayBar();
  RefreshBookmarksWindow();
}

void TLiveForm::EditBookmarkNote(size_t index, const QString &note) {
  m_bookmarks.SetNote(index, note.toStdString());
  if (index < m_bookmarks.List().size()) {
    const Bookmark &b = m_bookmarks.List()[index];
    m_caseLog.Bookmark(b.seconds, b.channel + 1, b.note);
  }
  RefreshBookmarksWindow();
}

std::vector<TLiveForm::BookmarkForReport> TLiveForm::BookmarksForReport() const {
  std::vector<BookmarkForReport> out;
  for (const Bookmark &b : m_bookmarks.List()) {
    BookmarkForReport r{b.seconds, b.channel, Q(b.note), QImage(), QString()};
    if (!b.thumbnail.empty()) {
      r.thumbnailPath = Q(m_bookmarks.ThumbnailPath(b.thumbnail));
      r.thumbnail.load(r.thumbnailPath);
    }
    out.push_back(std::move(r));
  }
  return out;
}

void TLiveForm::BookmarksClick() {
  if (!m_bookmarksWindow) {
    auto *w = new QWidget(this, Qt::Tool);
    w->setObjectName(QStringLiteral("BookmarksWindow"));
    auto *list = new QListWidget(w);
    list->setObjectName(QStringLiteral("BookmarkList"));
    auto *note = new QLineEdit(w);
    note->setObjectName(QStringLiteral("BookmarkNoteEdit"));
    auto *go = new QPushButton(w), *edit = new QPushButton(w), *remove = new QPushButton(w);
    go->setObjectName(QStringLiteral("BookmarkGo"));
    edit->setObjectName(QStringLiteral("BookmarkEdit"));
    remove->setObjectName(QStringLiteral("BookmarkDelete"));
    auto *buttons = new QHBoxLayout;
    for (QPushButton *b : {go, edit, remove}) buttons->addWidget(b);
    auto *layout = new QVBoxLayout(w);
    layout->addWidget(list);
    layout->addWidget(note);
    layout->addLayout(buttons);
    w->resize(360, 320);
    auto current = [list] { return list->currentRow(); };
    connect(list, &QListWidget::itemActivated, this,
            [this, current] { JumpToBookmark(size_t(current())); });
    connect(list, &QListWidget::currentRowChanged, this, [this, note](int row) {
      if (row >= 0 && size_t(row) < m_bookmarks.List().size())
        note->setText(Q(m_bookmarks.List()[size_t(row)].note));
    });
    connect(go, &QPushButton::clicked, this, [this, current] {
      if (current() >= 0) JumpToBookmark(size_t(current()));
    });
    connect(edit, &QPushButton::clicked, this, [this, current, note] {
      if (current() >= 0) EditBookmarkNote(size_t(current()), note->text());
    });
    connect(remove, &QPushButton::clicked, this, [this, current] {
      if (current() >= 0) DeleteBookmark(size_t(current()));
    });
    m_bookmarksWindow = w;
  }
  RefreshBookmarksWindow();
  m_bookmarksWindow->show();
  m_bookmarksWindow->raise();
}

void TLiveForm::RefreshBookmarksWindow() {
  if (!m_bookmarksWindow) return;
  m_bookmarksWindow->setWindowTitle(Tr(TextKey::Bookmarks_title));
  m_bookmarksWindow->findChild<QPushButton *>(QStringLiteral("BookmarkGo"))
      ->setText(Tr(TextKey::Bookmark_go));
  m_bookmarksWindow->findChild<QPushButton *>(QStringLiteral("BookmarkEdit"))
      ->setText(Tr(TextKey::Bookmark_edit));
  m_bookmarksWindow->findChild<QPushButton *>(QStringLiteral("BookmarkDelete"))
      ->setText(Tr(TextKey::Bookmark_delete));
  auto *list = m_bookmarksWindow->findChild<QListWidget *>(QStringLiteral("BookmarkList"));
  const int row = list->currentRow();
  list->clear();
  for (const Bookmark &b : m_bookmarks.List()) {
    QString text = Q(FormatRecorderTime(int64_t{b.seconds}));
    if (b.channel >= 0) text += QStringLiteral("  CH%1").arg(b.channel + 1);
    if (!b.note.empty()) text += QStringLiteral("  ") + Q(b.note);
    auto *item = new QListWidgetItem(text, list);
    if (!b.thumbnail.empty()) item->setIcon(QIcon(Q(m_bookmarks.ThumbnailPath(b.thumbnail))));
  }
  if (row >= 0 && row < list->count()) list->setCurrentRow(row);
}

// ---- the magnifier ----

void TLiveForm::RefreshMagnifier() {
  TakenSnapshot shot;
  m_capturingForMagnifier = true;
  const bool taken = TakeSnapshot(shot);
  m_capturingForMagnifier = false;
  m_magnifier->setGeometry(LivePanel->geometry());
  if (taken) m_magnifier->SetPicture(shot.picture);
}

void TLiveForm::MagnifyAt(int steps, QPoint panelPoint) {
  if (m_playSource == kImagePlay) return;
  if (!m_magnifier->isVisible()) {
    RefreshMagnifier();
    m_magnifier->show();
    m_magnifier->raise();
  }
  m_magnifier->ZoomAbout(steps, panelPoint);
}

void TLiveForm::MagnifierKey() {
  if (m_magnifier->isVisible()) {
    CloseMagnifier();
    return;
  }
  if (m_playSource == kImagePlay) return;
  RefreshMagnifier();
  m_magnifier->show();
  m_magnifier->raise();
}

void TLiveForm::CloseMagnifier() {
  m_magnifier->hide();
  m_magnifier->SetFactor(1.0, QPoint());
}

// ---- the identity line ----

void TLiveForm::SetHoveredTile(int channel) {
  m_hoveredTile = channel;
  UpdateIdentityLine();
}

QString TLiveForm::IdentityText() const {
  return IdentityLabel ? IdentityLabel->text() : QString();
}

void TLiveForm::UpdateIdentityLine() {
  if (!IdentityLabel) return;
  recorder::PlaybackThread *player = ActivePlayer();
  const int channel = m_layout.ZoomedChannel() >= 0 ? m_layout.ZoomedChannel() : m_hoveredTile;
  // Only while paused or stepping: playing, the line would only flicker.
  if (!player || player->Playing() || channel < 0 || channel > 3) {
    IdentityLabel->clear();
    return;
  }
  const int64_t n = player->ShownEntry(channel);
  if (n < 0) {
    IdentityLabel->clear();
    return;
  }
  if (m_identity.channel != channel || m_identity.entry != n) {
    recorder::IndexEntry e;
    int64_t ms = -1;
    if (m_diskHandle && m_diskThread) {
      // A handle of its own: the player's reads are never interleaved.
      if (!m_identityDisk) {
        m_identityDisk = std::make_unique<orvan::DiskSource>();
        if (m_identityDisk->OpenPath(m_diskHandle->Path()) != orvan::DriveOpenStatus::Ok)
          m_identityDisk.reset();
      }
      if (m_identityDisk)
        ms = recorder::EntryTimeMs(*m_identityDisk, m_diskThread->Geometry(), n, &e);
    } else if (m_clipFiles) {
      const recorder::CClipReader &clip = *m_clipFiles;
      ms = recorder::EntryTimeMs(
          [&clip](int64_t k, recorder::IndexEntry &entry) {
            return k >= 0 && clip.ReadEntry(uint64_t(k), entry);
          },
          n, &e);
    }
    QString text;
    if (ms >= 0) {
      const QString time = Q(FormatRecorderTime(ms / 1000)) +
                           QStringLiteral(".%1").arg(int(ms % 1000), 3, 10, QLatin1Char('0'));
      text = Tr(TextKey::Identity_line)
                 .arg(channel + 1)
                 .arg(n)
                 .arg(Tr(recorder::IsKeyPicture(e.type) ? TextKey::Picture_key
                                                        : TextKey::Picture_predicted),
                      time);
    }
    m_identity = {channel, n, text};
  }
  IdentityLabel->setText(m_identity.text);
}

}  // namespace orvan::app
