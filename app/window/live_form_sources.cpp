// Where the main window's sources come from beyond the drive scan: images
// opened from the menu or dropped on the window, what each listed drive is,
// and what the window shows when a chosen clip or still cannot be shown.
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QMimeData>
#include <QUrl>
#include <vector>

#include "app/window/captions.h"
#include "app/window/live_form.h"
#include "app/window/picture_control.h"
#include "platform/disk_source.h"
#include "recorder/layout/disk_discovery.h"
#include "recorder/layout/disk_layout.h"

namespace orvan::app {

namespace {

// The first local file a drag carries; empty when it carries none.
QString DraggedFile(const QMimeData *data) {
  if (!data || !data->hasUrls()) return {};
  for (const QUrl &url : data->urls())
    if (url.isLocalFile()) return url.toLocalFile();
  return {};
}

// Why `path` cannot be listed as a recorder disk; empty when it can.
std::string RecorderDiskRefusal(const std::string &path, std::chrono::milliseconds limit) {
  const orvan::platform::ReadDeadline bound(limit);
  orvan::DiskSource probe;
  if (probe.OpenPath(path) != orvan::DriveOpenStatus::Ok) return probe.LastError();
  std::vector<uint8_t> head(recorder::kProbeBytes);
  if (probe.Seek(0) && probe.Read(head.data(), head.size()) && recorder::IsRecorderDisk(head))
    return {};
  // An E01 chunk that fails its checksum says so; anything else simply is
  // not a recorder disk (too short, no signature).
  const std::string why = probe.LastError();
  return why.empty() ? path + " is not a recorder disk" : why;
}

}  // namespace

void TLiveForm::OpenImageClick() {
  const QString chosen = ChooseOpenFile(
      QStringLiteral("%1 (*.img *.dd *.raw *.bin *.E01 *.e01);;%2 (*.img *.dd *.raw *.bin);;"
                     "%3 (*.E01 *.e01);;%4 (*)")
          .arg(Tr(TextKey::Disk_images), Tr(TextKey::Raw_images), Tr(TextKey::E01_images),
               Tr(TextKey::All_files)));
  if (chosen.isEmpty()) return;
  OpenImageFile(chosen);
}

bool TLiveForm::OpenImageFile(const QString &path) {
  const std::string file = path.toStdString();
  const std::string refusal = RecorderDiskRefusal(file, kMainThreadReadLimit);
  if (!refusal.empty()) {
    Inform(QString::fromStdString(refusal), windowTitle());
    return false;
  }
  // As HDD Play: everything stops, the drives are scanned again, and the
  // first one listed, the image now drive 0, is selected and opened.
  StopPlayback();
  BlankPanel();  // nothing of the clip or disk before stays on screen
  orvan::DriveTable::AddProcessImage(file);
  bool keepSize = false;
  for (auto &v : m_viewers) v->Command(kViewerKeepSize, &keepSize);
  LayoutViewers(DisplayMode);
  ScanRecorderDisks();
  if (!m_diskHandle) return false;
  // Opened as --hdd opens one: playing.
  PlayBtnClick();
  return true;
}

void TLiveForm::dragEnterEvent(QDragEnterEvent *event) {
  if (!DraggedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TLiveForm::dropEvent(QDropEvent *event) {
  const QString file = DraggedFile(event->mimeData());
  if (file.isEmpty()) return;
  event->acceptProposedAction();
  OpenImageFile(file);
}

namespace {

QString SizeText(uint64_t bytes, const CCaptions &captions) {
  static const char *const units[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  const QString whole = Tr(captions, TextKey::Size_bytes).arg(bytes);
  if (bytes < 1024) return whole;
  double value = double(bytes) / 1024;
  int unit = 0;
  while (value >= 1024 && unit < 5) {
    value /= 1024;
    ++unit;
  }
  return QStringLiteral("%1 %2 (%3)")
      .arg(QString::number(value, 'f', 1), QLatin1String(units[unit]), whole);
}

}  // namespace

QString TLiveForm::DescribeDisk(const recorder::FoundDisk &disk) const {
  QString text =
      QString::fromStdString(disk.path) + QLatin1Char('\n') +
      (disk.sizeBytes ? SizeText(disk.sizeBytes, m_captions) : Tr(TextKey::Size_unknown));
  if (disk.spanKnown)
    text += QLatin1Char('\n') +
            Tr(TextKey::Recorded_span)
                .arg(QString::fromStdString(FormatRecorderTime(int64_t{disk.firstSeconds})),
                     QString::fromStdString(FormatRecorderTime(int64_t{disk.lastSeconds})));
  else
    text += QLatin1Char('\n') + Tr(TextKey::Span_unknown);
  return text;
}

void TLiveForm::DescribeDevices(const std::vector<recorder::FoundDisk> &found) {
  m_foundDisks = found;
  for (size_t i = 0; i < found.size() && int(i) < DeviceCombo->count(); ++i)
    DeviceCombo->setItemData(int(i), DescribeDisk(found[i]), Qt::ToolTipRole);
}

void TLiveForm::ShowDeviceStatus() { RefreshSourceStatus(); }

void TLiveForm::RefreshSourceStatus() {
  QString text;
  if (m_playSource == kHddPlay) {
    // The chosen item, whose drive is the one open.
    const int index = DeviceCombo->currentIndex();
    if (m_diskHandle && index >= 0 && size_t(index) < m_foundDisks.size()) {
      text = DescribeDisk(m_foundDisks[size_t(index)]);
      DeviceCombo->setItemData(index, text, Qt::ToolTipRole);
    }
    DeviceCombo->setToolTip(text);
  } else if (m_playSource == kFilePlay) {
    if (m_clipFiles) {
      text = Tr(TextKey::Clip_shown).arg(m_clipName);
      if (!m_recordingMap.Empty())
        text +=
            QLatin1Char('\n') +
            Tr(TextKey::Recorded_span)
                .arg(
                    QString::fromStdString(FormatRecorderTime(int64_t{m_recordingMap.FirstTime()})),
                    QString::fromStdString(FormatRecorderTime(int64_t{m_recordingMap.LastTime()})));
    } else {
      text = Tr(TextKey::No_clip_loaded);
    }
  } else if (m_stillShown) {
    text = m_stillName;
  }
  // A span too wide for the line goes on two; long paths are cut in the
  // middle to fit. The whole text is the tooltip.
  const QFontMetrics metrics(StatusLabel->font());
  const int room = StatusLabel->width() - 4;
  QStringList lines;
  for (const QString &line : text.split(QLatin1Char('\n'))) {
    const qsizetype dash = line.indexOf(QStringLiteral(" \u2013 "));
    if (metrics.horizontalAdvance(line) > room && dash > 0) {
      lines << line.left(dash + 2) << line.mid(dash + 3);
    } else {
      lines << line;
    }
  }
  for (QString &line : lines) line = metrics.elidedText(line, Qt::ElideMiddle, room);
  StatusLabel->setText(lines.join(QLatin1Char('\n')));
  StatusLabel->setToolTip(text);
  StatusLabel->setVisible(!text.isEmpty());
}

QString TLiveForm::DamageText() const {
  QStringList channels;
  for (int ch = 0; ch < 4; ++ch) {
    // Counted since the source shown was opened.
    const uint64_t errors = m_viewers[ch] ? m_viewers[ch]->DecodeErrors() - m_damageBase[ch] : 0;
    if (errors) channels << QStringLiteral("CH%1 %2").arg(ch + 1).arg(errors);
  }
  if (channels.isEmpty()) return {};
  return Tr(TextKey::Damaged_pictures).arg(channels.join(QStringLiteral(", ")));
}

void TLiveForm::ClearDeviceStatus() {
  StatusLabel->clear();
  StatusLabel->setToolTip(QString());
  StatusLabel->hide();
  DeviceCombo->setToolTip(QString());
}

void TLiveForm::ResetDamageCount() {
  for (int ch = 0; ch < 4; ++ch)
    m_damageBase[ch] = m_viewers[ch] ? m_viewers[ch]->DecodeErrors() : 0;
  DamageLabel->clear();
}

void TLiveForm::BlankPanel() {
  ResetDamageCount();
  if (m_playSource != kImagePlay)
    for (auto &v : m_viewers) v->Blank();
  m_startTimeText.clear();
  m_endTimeText.clear();
  StartTimeLabel->clear();
  EndTimeLabel->clear();
  CurrentTimeLabel->clear();
  MoveKnob(PlayBarImage->x());
  VideoImage->setPixmap(BlackImage->pixmap());
  m_stillShown = false;
  m_stillSource.Reset();
}

void TLiveForm::ShowLoadFailure(const QString &text) {
  BlankPanel();
  Inform(text, windowTitle());
}

}  // namespace orvan::app
