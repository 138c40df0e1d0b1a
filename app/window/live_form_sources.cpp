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

#include "app/window/live_form.h"
#include "app/window/picture_control.h"
#include "platform/disk_source.h"
#include "recorder/disk_discovery.h"
#include "recorder/disk_layout.h"

namespace orvan::app {

namespace {

const char kImageFilter[] =
    "Disk images (*.img *.dd *.raw *.bin *.E01 *.e01);;Raw images (*.img *.dd *.raw *.bin);;"
    "E01 images (*.E01 *.e01);;All files (*)";

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
  const QString chosen = ChooseOpenFile(QString::fromLatin1(kImageFilter));
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
  orvan::DriveTable::AddProcessImage(file);
  bool keepSize = false;
  for (auto &v : m_viewers) v->Command(kViewerKeepSize, &keepSize);
  LayoutViewers(DisplayMode);
  ScanRecorderDisks();
  return m_diskHandle != nullptr;
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

void TLiveForm::DescribeDevices(const std::vector<recorder::FoundDisk> &found) {
  for (size_t i = 0; i < found.size() && int(i) < DeviceCombo->count(); ++i)
    DeviceCombo->setItemData(int(i), QString::fromStdString(recorder::DescribeFoundDisk(found[i])),
                             Qt::ToolTipRole);
}

void TLiveForm::ShowDeviceStatus() {
  const QString text = DeviceCombo->currentData(Qt::ToolTipRole).toString();
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

void TLiveForm::ClearDeviceStatus() {
  StatusLabel->clear();
  StatusLabel->setToolTip(QString());
  StatusLabel->hide();
}

void TLiveForm::BlankPanel() {
  if (m_playSource != kImagePlay)
    for (auto &v : m_viewers) v->Blank();
  StartTimeLabel->clear();
  EndTimeLabel->clear();
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
