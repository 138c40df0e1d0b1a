// Snapshot, AVI saving and clip copy commands of the main window.
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "app/core/snapshot_rules.h"
#include "app/still_image.h"
#include "app/window/copy_form.h"
#include "app/window/live_form.h"
#include "app/window/picture_control.h"
#include "app/window/save_form.h"
#include "app/window/suggested_name.h"
#include "display/display_manager.h"
#include "media/snapshot_jpeg.h"
#include "platform/log.h"
#include "platform/output_file.h"
#include "platform/thread.h"
#include "recorder/disk_discovery.h"
#include "recorder/play_file_thread.h"
#include "recorder/play_hdd_thread.h"

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

constexpr const char *kLogCategory = "app";

constexpr int kDiskReadyWaitMs = 5000;

// The save dialogs have asked before a file is replaced.
constexpr auto kDialogPolicy = orvan::platform::ReplacePolicy::kReplaceExisting;

}  // namespace

TCopyForm *TLiveForm::CopyWindow() {
  if (!CopyForm) CopyForm = new TCopyForm(this);
  return CopyForm;
}

TSaveForm *TLiveForm::SavingIndicator() {
  if (!SaveForm) SaveForm = new TSaveForm(this);
  return SaveForm;
}

// ---- snapshot ----

void TLiveForm::SnapShotBtnClick() {
  // The picture of the press: playback goes on behind the dialog.
  TakenSnapshot shot;
  if (!TakeSnapshot(shot)) return;
  const bool still = shot.still;
  const QString suggested = SuggestedName(still ? kStillSnapshotNamePattern : kSnapshotNamePattern,
                                          QDateTime::currentDateTime());
  const QString jpeg = QStringLiteral("JPEG files (*.jpg *.jpeg *.JPG *.JPEG)");
  const QString bitmap = QStringLiteral("Bitmap files (*.bmp *.BMP)");
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
  }
  if (shot.picture.isNull()) return false;
  shot.shownSeconds = ShownRecorderSeconds();
  shot.comment = SnapshotComment(source, channels);
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
  if (!written) ShowWriteRefusal(error);
}

void TLiveForm::ShowWriteRefusal(const std::string &error) {
  ORVAN_LOG_WARN(kLogCategory, "%s", error.c_str());
  Inform(QString::fromStdString(error), QString::fromStdString(m_texts.Get(TextKey::Warning)));
}

void TLiveForm::VideoImageMouseUp(int button, int x, int y) {
  if (button != kRightButton) return;
  SnapShot1->setText(QStringLiteral("SnapShot"));
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
  const QString chosen = ChooseSaveFile(QStringLiteral("AVI files (*.avi *.AVI)"), suggested);
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
    Inform(QStringLiteral("The AVI file cannot be created:\n") + chosen,
           QString::fromStdString(m_texts.Get(TextKey::Warning)));
    return;
  }
  PlaceSavingIndicator();
  SavingIndicator()->exec();
  // The player is still the one that records: the indicator is modal, and
  // the window's own calls that replace players cannot run meanwhile.
  if (recorder::PlaybackThread *still = Player(clipPlayer)) still->SetAviRecording({}, 0, false);
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
  if (!AskYesNo(QString::fromStdString(m_texts.Get(TextKey::ThiswillstopHDDplaycontinue)),
                QString::fromStdString(m_texts.Get(TextKey::Warning))))
    return;
  // Where the disk stood: it comes back there once the copy window closes.
  const int64_t shownSeconds = ShownRecorderSeconds();
  const bool wasPlaying = m_diskThread->Playing();
  const int copiedDrive = m_diskThread->DriveNumber();
  const SYSTEMTIME diskStart = m_diskThread->DiskStartTime();
  SYSTEMTIME diskEnd = m_diskThread->DiskEndTime();
  const recorder::DiskGeometry geometry = m_diskThread->Geometry();
  // The player's end is the start of the last 512-entry block; the span
  // offered runs on past the last entry, so the whole recording can be
  // copied (entries at the chosen end itself are not).
  StopDiskThread();
  uint32_t lastSeconds = 0;
  bool lastKnown = false;
  if (m_diskHandle) {
    const orvan::platform::ReadDeadline bound(kMainThreadReadLimit);
    lastKnown = recorder::LastPlayedEntryTime(*m_diskHandle, geometry, lastSeconds);
  }
  if (lastKnown && int64_t{lastSeconds} + 1 > SystemTimeToRecorderSeconds(diskEnd))
    diskEnd = RecorderSecondsToSystemTime(int64_t{lastSeconds} + 1);
  StopPlayback();
  bool keepSize = false;
  for (auto &v : m_viewers) v->Command(kViewerKeepSize, &keepSize);
  LayoutViewers(DisplayMode);

  int drive = 0;
  if (recorder::DriveNumberFromItem(DeviceCombo->currentText().toStdString(), drive)) {
    TCopyForm *copy = CopyWindow();
    copy->SetRange(drive, diskStart, diskEnd);
    copy->exec();
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
  PlayLabel->setText(play ? QStringLiteral("Play") : QStringLiteral("Pause"));
}

}  // namespace orvan::app
