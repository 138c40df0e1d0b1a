// Snapshot, AVI saving and clip copy commands of the main window.
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "app/core/snapshot_rules.h"
#include "app/still_image.h"
#include "app/window/copy_form.h"
#include "app/window/live_form.h"
#include "app/window/magnifier.h"
#include "app/window/picture_control.h"
#include "app/window/save_form.h"
#include "app/window/suggested_name.h"
#include "display/display_manager.h"
#include "media/snapshot_jpeg.h"
#include "platform/digest.h"
#include "platform/log.h"
#include "platform/output_file.h"
#include "platform/thread.h"
#include "recorder/layout/disk_discovery.h"
#include "recorder/playback/play_file_thread.h"
#include "recorder/playback/play_hdd_thread.h"

namespace orvan::app {

QString SuggestedName(const char *pattern, const QDateTime &when) {
  const QDate d = when.date();
  const QTime t = when.time();
  char name[64];
  std::snprintf(name, sizeof name, pattern, d.year(), d.month(), d.day(), t.hour(), t.minute(),
                t.second());
  return QString::fromLatin1(name);
}

namespace {

// The SHA-256 of a file just written, for the case log; "unknown" when it
// cannot be read back.
std::string FileSha256Text(const std::string &path) {
  orvan::platform::Sha256Digest digest{};
  uint64_t bytes = 0;
  if (!orvan::platform::FileSha256(path, digest, bytes, nullptr)) return "unknown";
  return orvan::platform::HexOf(digest);
}

constexpr const char *kLogCategory = "app";

constexpr int kDiskReadyWaitMs = 5000;
constexpr int kStatusMessageMs = 20000;  // how long the status line names a file written

// The save dialogs have asked before a file is replaced.
constexpr auto kDialogPolicy = orvan::platform::ReplacePolicy::kReplaceExisting;

}  // namespace

TCopyForm *TLiveForm::CopyWindow() {
  if (!CopyForm) {
    CopyForm = new TCopyForm(this);
    CopyForm->ApplyLanguage(m_captions);
  }
  return CopyForm;
}

TSaveForm *TLiveForm::SavingIndicator() {
  if (!SaveForm) {
    SaveForm = new TSaveForm(this);
    SaveForm->ApplyLanguage(m_captions);
  }
  return SaveForm;
}

// ---- snapshot ----

void TLiveForm::SnapShotBtnClick() {
  // The picture of the press: playback goes on behind the dialog.
  TakenSnapshot shot;
  if (!TakeSnapshot(shot)) return;
  const bool still = shot.still;
  // Named after the recorder time of the picture; the PC's clock only when
  // none is known.
  const QDateTime when = shot.shownSeconds >= 0
                             ? QDateTime::fromSecsSinceEpoch(shot.shownSeconds, Qt::UTC)
                             : QDateTime::currentDateTime();
  const QString suggested =
      SuggestedName(still ? kStillSnapshotNamePattern : kSnapshotNamePattern, when);
  const QString jpeg = Tr(TextKey::Jpeg_files) + QStringLiteral(" (*.jpg *.jpeg *.JPG *.JPEG)");
  const QString bitmap = Tr(TextKey::Bitmap_files) + QStringLiteral(" (*.bmp *.BMP)");
  const QString chosen = ChooseSaveFile(
      still ? bitmap + QStringLiteral(";;") + jpeg : jpeg + QStringLiteral(";;") + bitmap,
      suggested);
  if (chosen.isEmpty()) return;
  WriteSnapshot(shot, chosen);
}

void TLiveForm::SnapShot1Click() { SnapShotBtnClick(); }

int64_t TLiveForm::ShownRecorderSeconds() const {
  if (m_playSource == kImagePlay) return m_stillShown ? int64_t{m_stillSeconds} : -1;
  // The drawers write their times at one place; the latest is the one seen.
  int64_t latest = -1;
  for (const auto &v : m_viewers)
    if (v) latest = std::max(latest, v->ShownSeconds());
  return latest;
}

bool TLiveForm::TakeSnapshot(TakenSnapshot &shot) const {
  std::string source;
  std::string channels;
  std::string trim;  // the video panel's trim choice; a still has none
  shot.still = m_playSource == kImagePlay;
  if (shot.still) {
    shot.picture = VideoImagePicture().convertToFormat(QImage::Format_RGB32);
    source = "Image Play, " + m_stillName.toStdString();
  } else {
    CDisplayManager *manager = DisplayManager;
    if (!manager) return false;
    int width = 0, height = 0;
    const int needed = manager->Capture(nullptr, 0, &width, &height, nullptr);
    if (needed <= 0) return false;
    std::vector<uint8_t> buffer(static_cast<size_t>(needed));
    CaptureFormat format;
    if (manager->Capture(buffer.data(), buffer.size(), &width, &height, &format) != 0) return false;
    QImage::Format layout;
    switch (format.nBitCount) {
      case 32:
        layout = QImage::Format_RGB32;
        break;
      case 24:
        layout = QImage::Format_BGR888;
        break;
      case 16:
        layout = QImage::Format_RGB16;
        break;
      default:
        return false;
    }
    const qsizetype rowBytes = qsizetype(width) * (format.nBitCount / 8);
    if (width <= 0 || height <= 0 || size_t(rowBytes) * size_t(height) > buffer.size())
      return false;
    // The view borrows the buffer, which goes with this call: a deep copy.
    const QImage view(buffer.data(), width, height, rowBytes, layout);
    shot.picture =
        layout == QImage::Format_RGB32 ? view.copy() : view.convertToFormat(QImage::Format_RGB32);
    source = m_playSource == kHddPlay ? "HDD Play, " + DeviceCombo->currentText().toStdString()
                                      : "File Play, " + m_clipName.toStdString();
    channels = ShownChannelsText(m_layout.QuadRecording(), m_layout.ZoomedChannel(),
                                 m_layout.ZoomCode(), DisplayMode);
    trim = SnapshotViewText(m_wholePicture);
  }
  if (shot.picture.isNull()) return false;
  shot.shownSeconds = ShownRecorderSeconds();
  shot.comment = SnapshotComment(source, channels, trim);
  // While magnified: what the magnifier shows, and the rectangle it shows.
  if (!m_capturingForMagnifier && !shot.still && m_magnifier && m_magnifier->isVisible()) {
    const QRect r = m_magnifier->Shown();
    shot.picture = m_magnifier->ShownPicture().convertToFormat(QImage::Format_RGB32);
    shot.comment += "; magnified " + std::to_string(int(m_magnifier->Factor())) + "x, rectangle " +
                    std::to_string(r.x()) + "," + std::to_string(r.y()) + " " +
                    std::to_string(r.width()) + "x" + std::to_string(r.height());
  }
  return true;
}

void TLiveForm::WriteSnapshot(const TakenSnapshot &shot, const QString &path) {
  const QImage &picture = shot.picture;  // RGB32: rows of B, G, R, x, no padding
  bool written = false;
  std::string error;
  if (SnapshotFormatOfName(path.toStdString(), shot.still) == SnapshotFormat::Bitmap) {
    const std::vector<uint8_t> bitmap =
        MakeBitmapFile(picture.constBits(), picture.width(), picture.height());
    written = orvan::platform::WriteOutputFile(path.toStdString(), bitmap.data(), bitmap.size(),
                                               kDialogPolicy, &error);
    // A bitmap carries no tags: the same name with ".txt" says what it is.
    if (written) {
      const std::string note = SnapshotNoteText(shot);
      const QString notePath = SnapshotNotePath(path);
      if (!orvan::platform::WriteOutputFile(notePath.toStdString(), note.data(), note.size(),
                                            kDialogPolicy, &error)) {
        ShowWriteRefusal(error);
        return;
      }
    }
  } else {
    orvan::media::Capture capture;
    capture.pixels = picture.constBits();
    capture.bytes = size_t(picture.sizeInBytes());
    capture.width = picture.width();
    capture.height = picture.height();
    capture.bitsPerPixel = 32;
    orvan::media::SnapshotTags tags;
    tags.shownSeconds = shot.shownSeconds;
    tags.comment = shot.comment;
    written = orvan::media::SaveSnapshotJpeg(capture, path.toStdString(), kDialogPolicy, &error,
                                             orvan::media::kSnapshotJpegQuality, tags);
  }
  if (!written) {
    ShowWriteRefusal(error);
    return;
  }
  statusBar()->showMessage(Tr(TextKey::Snapshot_saved).arg(path), kStatusMessageMs);
  m_caseLog.Record(TextKey::Log_snapshot,
                   {{"file", path.toStdString()},
                    {"sha256", FileSha256Text(path.toStdString())},
                    {"time", shot.shownSeconds >= 0 ? FormatRecorderTime(shot.shownSeconds)
                                                    : std::string("unknown")}});
}

QString TLiveForm::SnapshotNotePath(const QString &bitmapPath) {
  const QFileInfo file(bitmapPath);
  const QString base = file.suffix().compare(QLatin1String("bmp"), Qt::CaseInsensitive) == 0
                           ? file.completeBaseName()
                           : file.fileName();
  return file.dir().filePath(base + QStringLiteral(".txt"));
}

std::string TLiveForm::SnapshotNoteText(const TakenSnapshot &shot) {
  std::string text = shot.comment + "\n";
  text +=
      "recorder time: " +
      (shot.shownSeconds >= 0 ? FormatRecorderTime(shot.shownSeconds) : std::string("unknown")) +
      "\n";
  return text;
}

void TLiveForm::ShowWriteRefusal(const std::string &error) {
  ORVAN_LOG_WARN(kLogCategory, "%s", error.c_str());
  Inform(QString::fromStdString(error), Tr(TextKey::Warning));
}

void TLiveForm::VideoImageMouseUp(int button, int x, int y) {
  if (button != kRightButton) return;
  SnapShot1->setText(Tr(TextKey::Snapshot));
  const QPoint at =
      VideoImage->parentWidget()->mapToGlobal(QPoint(x + VideoImage->x(), y + VideoImage->y()));
  ViewerMenu->popup(at);
}

// ---- AVI saving ----

recorder::PlaybackThread *TLiveForm::Player(bool clipPlayer) const {
  return clipPlayer ? static_cast<recorder::PlaybackThread *>(m_clipThread)
                    : static_cast<recorder::PlaybackThread *>(m_diskThread);
}

void TLiveForm::SaveAviWith(bool clipPlayer) {
  if (!Player(clipPlayer)) return;
  const char *pattern = m_layout.QuadRecording() == 1 ? kQuadAviNamePattern : kAviNamePattern;
  const QString suggested = SuggestedName(pattern, QDateTime::currentDateTime());
  const QString chosen =
      ChooseSaveFile(Tr(TextKey::Avi_files) + QStringLiteral(" (*.avi *.AVI)"), suggested);
  if (chosen.isEmpty()) return;
  recorder::PlaybackThread *player = Player(clipPlayer);
  if (!player) return;
  std::string refusal;
  if (orvan::platform::CheckOutputPath(chosen.toStdString(), kDialogPolicy, &refusal) !=
      orvan::platform::OutputStatus::kOk) {
    ShowWriteRefusal(refusal);
    return;
  }
  if (!player->SetAviRecording(chosen.toStdString(), 0, true, kDialogPolicy)) {
    // Nothing is being saved: no indicator that says otherwise.
    Inform(Tr(TextKey::Avi_cannot_create).arg(chosen), Tr(TextKey::Warning));
    return;
  }
  PlaceSavingIndicator();
  TSaveForm *indicator = SavingIndicator();
  indicator->StartShowing([player] { return player->AviBytes(); });
  indicator->exec();
  // The player is still the one that records: the indicator is modal, and
  // the window's own calls that replace players cannot run meanwhile.
  const QString elapsed = indicator->ElapsedText();
  indicator->StartShowing({});
  if (recorder::PlaybackThread *still = Player(clipPlayer)) still->SetAviRecording({}, 0, false);
  // Said once the file is finished and in place (a file that could not be
  // finished is not, and its writer has said why).
  const QFileInfo written(chosen);
  if (written.exists())
    m_caseLog.Record(TextKey::Log_avi, {{"file", chosen.toStdString()},
                                        {"sha256", FileSha256Text(chosen.toStdString())},
                                        {"bytes", std::to_string(written.size())}});
  if (written.exists())
    statusBar()->showMessage(
        Tr(TextKey::Avi_saved)
            .arg(chosen, elapsed,
                 QStringLiteral("%1 MiB").arg(double(written.size()) / (1024 * 1024), 0, 'f', 1)),
        kStatusMessageMs);
}

void TLiveForm::PlaceSavingIndicator() {
  TSaveForm *indicator = SavingIndicator();
  // The indicator's frame is as wide as this window's own: same manager.
  const QRect outer = frameGeometry(), inner = geometry();
  const QSize margins(outer.width() - inner.width(), outer.height() - inner.height());
  const QRect panel(LivePanel->mapToGlobal(QPoint(0, 0)), LivePanel->size());
  const QRect controls(AVIGroup->mapToGlobal(QPoint(0, 0)), AVIGroup->size());
  const QScreen *screen = this->screen();
  const QRect available = screen ? screen->availableGeometry() : outer.united(panel);
  indicator->move(TSaveForm::PlaceBesideControls(outer, panel, controls,
                                                 indicator->size() + margins, available));
}

void TLiveForm::SaveAVIBtnClick() {
  SaveAviWith(false);
  SaveAviWith(true);
}

void TLiveForm::StopAVIBtnClick() {
  for (bool clip : {false, true}) {
    recorder::PlaybackThread *player = Player(clip);
    if (!player) continue;
    PlayBarBtn->setEnabled(true);
    SaveAVIBtn->raise();
    player->SetAviRecording({}, 0, false);
  }
}

// ---- copy ----

void TLiveForm::CopyBtnClick() {
  if (!m_diskThread) return;
  if (!AskYesNo(Tr(TextKey::ThiswillstopHDDplaycontinue), Tr(TextKey::Warning))) return;
  // Where the disk stood: it comes back there once the copy window closes.
  const int64_t shownSeconds = ShownRecorderSeconds();
  const bool wasPlaying = m_diskThread->Playing();
  const int copiedDrive = m_diskThread->DriveNumber();
  const SYSTEMTIME diskStart = m_diskThread->DiskStartTime();
  SYSTEMTIME diskEnd = m_diskThread->DiskEndTime();
  const recorder::DiskGeometry geometry = m_diskThread->Geometry();
  // The player's end is the start of the last 512-entry block; the span
  // offered runs to the last entry's second, which the copy window then
  // copies too, so the whole recording can be copied.
  StopDiskThread();
  uint32_t lastSeconds = 0;
  bool lastKnown = false;
  if (m_diskHandle) {
    const orvan::platform::ReadDeadline bound(kMainThreadReadLimit);
    lastKnown = recorder::LastPlayedEntryTime(*m_diskHandle, geometry, lastSeconds);
  }
  if (lastKnown && int64_t{lastSeconds} > SystemTimeToRecorderSeconds(diskEnd))
    diskEnd = RecorderSecondsToSystemTime(int64_t{lastSeconds});
  // The copy window reads the disk on its own: this one's handle closes,
  // but the play bar's marks, the status line and the search time stay as
  // they are while it is open, and the time comes back after.
  m_diskHandle.reset();
  ShowPlayState(PlayState::kNone);
  m_pickersKept = PickedDateTime();
  bool keepSize = false;
  for (auto &v : m_viewers) v->Command(kViewerKeepSize, &keepSize);
  LayoutViewers(DisplayMode);

  int drive = 0;
  if (recorder::DriveNumberFromItem(DeviceCombo->currentText().toStdString(), drive)) {
    TCopyForm *copy = CopyWindow();
    copy->SetRange(drive, diskStart, diskEnd);
    copy->exec();
    // Each file the export wrote, with the SHA-256 its manifest holds.
    std::vector<std::pair<std::string, std::string>> files;
    for (const recorder::ExportedFile &f : copy->TakeExportedFiles()) {
      files.emplace_back("file", f.path);
      files.emplace_back("sha256", f.sha256);
    }
    if (!files.empty()) m_caseLog.Record(TextKey::Log_export, std::move(files));
  }
  // Whatever was open before, the first disk found is open afterwards.
  ScanRecorderDisks();
  ReturnToShownTime(copiedDrive, shownSeconds, wasPlaying);
}

void TLiveForm::ReturnToShownTime(int drive, int64_t seconds, bool play) {
  recorder::PlayHDDThread *player = m_diskThread;
  if (!player || player->DriveNumber() != drive || seconds <= 0 || seconds > UINT32_MAX) return;
  // The new player reads the disk's state on its own thread first.
  if (!TThread::WaitWhileServicing([player] { return player->DiskValid() || player->Finished(); },
                                   kDiskReadyWaitMs) ||
      !player->DiskValid())
    return;
  player->Pause();
  player->SearchTimeOnPlayer(uint32_t(seconds));  // plays from there, searched on its thread
  if (!play) player->Pause();                     // the jump waits for the next Play
  ShowPlayState(play ? PlayState::kPlaying : PlayState::kPaused);
}

}  // namespace orvan::app
