// Snapshot, AVI saving and clip copy commands of the main window.
#include <QAction>
#include <QComboBox>
#include <QImage>
#include <QMenu>
#include <QPushButton>
#include <array>
#include <cstdio>
#include <cstring>

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

// The save dialogs have asked before a file is replaced.
constexpr auto kDialogPolicy = orvan::platform::ReplacePolicy::kReplaceExisting;

// Recorder time of the last entry the disk plays (entry playEnd - 1). False
// when there is none or it cannot be read.
bool LastPlayedEntryTime(orvan::ByteSource &disk, const recorder::DiskGeometry &geometry,
                         uint32_t &time) {
  if (geometry.playEnd <= 0 || geometry.playEnd > recorder::kMaxEntryNumber) return false;
  const uint64_t position = recorder::IndexEntryPosition(geometry.playEnd - 1);
  const uint64_t sector = position - position % orvan::kSectorBytes;
  // Two sectors, as an entry may run across a sector boundary.
  std::array<uint8_t, 2 * orvan::kSectorBytes> bytes{};
  if (!disk.Seek(sector) || !disk.Read(bytes.data(), bytes.size())) return false;
  time = recorder::IndexEntry::Parse(bytes.data() + (position - sector)).time;
  return true;
}

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
  const QString suggested = SuggestedName(kSnapshotNamePattern, QDateTime::currentDateTime());
  const QString chosen = ChooseSaveFile(QStringLiteral("JPEG files (*.jpeg *.JPEG)"), suggested);
  if (chosen.isEmpty()) return;
  SaveSnapshot(chosen);
}

void TLiveForm::SnapShot1Click() { SnapShotBtnClick(); }

void TLiveForm::SaveSnapshot(const QString &path) {
  if (m_playSource == kImagePlay) {
    // The still picture as it is shown, as a Windows bitmap whatever the
    // name says.
    const QImage picture = VideoImagePicture().convertToFormat(QImage::Format_RGB32);
    if (picture.isNull()) return;
    std::vector<uint8_t> pixels(size_t(picture.width()) * size_t(picture.height()) * 4);
    for (int y = 0; y < picture.height(); ++y)
      std::memcpy(&pixels[size_t(y) * size_t(picture.width()) * 4], picture.constScanLine(y),
                  size_t(picture.width()) * 4);
    const std::vector<uint8_t> bitmap =
        MakeBitmapFile(pixels.data(), picture.width(), picture.height());
    std::string error;
    if (!orvan::platform::WriteOutputFile(path.toStdString(), bitmap.data(), bitmap.size(),
                                          kDialogPolicy, &error))
      ShowWriteRefusal(error);
    return;
  }

  CDisplayManager *manager = DisplayManager;
  if (!manager) return;
  int width = 0, height = 0;
  const int needed = manager->Capture(nullptr, 0, &width, &height, nullptr);
  if (needed <= 0) return;
  std::vector<uint8_t> buffer(static_cast<size_t>(needed));
  CaptureFormat format;
  if (manager->Capture(buffer.data(), buffer.size(), &width, &height, &format) != 0) return;
  orvan::media::Capture capture;
  capture.pixels = buffer.data();
  capture.bytes = buffer.size();
  capture.width = width;
  capture.height = height;
  capture.bitsPerPixel = format.nBitCount;
  std::string error;
  if (!orvan::media::SaveSnapshotJpeg(capture, path.toStdString(), kDialogPolicy, &error))
    ShowWriteRefusal(error);
}

void TLiveForm::ShowWriteRefusal(const std::string &error) {
  ORVAN_LOG_WARN("app", "%s", error.c_str());
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
  SavingIndicator()->exec();
  // The player is still the one that records: the indicator is modal, and
  // the window's own calls that replace players cannot run meanwhile.
  if (recorder::PlaybackThread *still = Player(clipPlayer)) still->SetAviRecording({}, 0, false);
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
  const SYSTEMTIME diskStart = m_diskThread->DiskStartTime();
  SYSTEMTIME diskEnd = m_diskThread->DiskEndTime();
  const recorder::DiskGeometry geometry = m_diskThread->Geometry();
  // The player's end is the start of the last 512-entry block; the span
  // offered runs on past the last entry, so the whole recording can be
  // copied (entries at the chosen end itself are not).
  StopDiskThread();
  uint32_t lastSeconds = 0;
  if (m_diskHandle && LastPlayedEntryTime(*m_diskHandle, geometry, lastSeconds) &&
      int64_t{lastSeconds} + 1 > SystemTimeToRecorderSeconds(diskEnd))
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
}

}  // namespace orvan::app
