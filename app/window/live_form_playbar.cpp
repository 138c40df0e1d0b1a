// The play bar's marks: event ticks coloured by kind (a click on one jumps
// to its event), spans without recording, the recorder time under the
// pointer, and the time shown beside the bar.
#include <QDateEdit>
#include <QDateTime>
#include <QLabel>
#include <QPainter>
#include <QTimeEdit>
#include <QToolTip>
#include <algorithm>
#include <memory>

#include "app/window/event_form.h"
#include "app/window/live_form.h"
#include "app/window/magnifier.h"
#include "app/window/picture_control.h"
#include "app/window/time_edit.h"
#include "recorder/layout/clip_format.h"
#include "recorder/playback/play_hdd_thread.h"

namespace orvan::app {

namespace {

constexpr int kTickHitPixels = 3;       // a release this near a tick jumps to its event
constexpr int kGapMarkPixels = 4;       // a gap has no width on the bar: it is drawn this wide
constexpr int kPanThresholdPixels = 4;  // a press moved this far on a zoomed bar pans it

QString RecorderTimeText(uint32_t seconds) {
  return QString::fromStdString(FormatRecorderTime(int64_t{seconds}));
}

const QColor kGapShade(0x6a, 0x6a, 0x6a);

// The tick nearest x, within reach of the pointer; null when none is.
const TLiveForm::EventTick *NearestTick(const std::vector<TLiveForm::EventTick> &ticks, int x) {
  const TLiveForm::EventTick *nearest = nullptr;
  for (const TLiveForm::EventTick &tick : ticks)
    if (std::abs(tick.x - x) <= kTickHitPixels &&
        (!nearest || std::abs(tick.x - x) < std::abs(nearest->x - x)))
      nearest = &tick;
  return nearest;
}

}  // namespace

QString TLiveForm::EventKindText(int kind) const {
  static constexpr TextKey kKinds[5] = {TextKey::Kind_RecStart, TextKey::Kind_PowerOn,
                                        TextKey::Kind_Alarm, TextKey::Kind_VideoLoss,
                                        TextKey::Kind_Motion};
  return kind >= 1 && kind <= 5 ? Tr(kKinds[kind - 1]) : QString();
}

QColor TLiveForm::EventKindColour(int kind) {
  switch (kind) {
    case 1:  // Rec Start
      return QColor(0x40, 0xd0, 0x40);
    case 2:  // Power On
      return QColor(0x40, 0xa0, 0xff);
    case 3:  // Alarm
      return QColor(0xff, 0x30, 0x30);
    case 4:  // Video Loss
      return QColor(0xff, 0xa0, 0x00);
    case 5:  // Motion
      return QColor(0xff, 0x50, 0xff);
    default:
      return QColor(0xe0, 0xe0, 0xe0);
  }
}

int TLiveForm::PlayBarXOfEntry(int64_t n) const {
  const int64_t total = m_recordingMap.Entries();
  if (total <= 0) return 0;
  const int width = PlayBarImage->width();
  const int64_t span = std::max<int64_t>(PlayBarViewEntries(), 1);
  // Outside a zoomed view: off the track, by at most a track's width.
  return int(std::clamp<int64_t>(
      (std::clamp<int64_t>(n, 0, total) - PlayBarViewFirst()) * width / span, -width, 2 * width));
}

void TLiveForm::StopRecordingMapThread() {
  m_previews.reset();  // joins its worker
  m_previewEntry = -1;
  if (m_previewPopup) m_previewPopup->hide();
  if (m_activityThread.joinable()) {
    m_activityStop = true;
    m_activityThread.join();
    m_activityStop = false;
  }
  if (!m_mapThread.joinable()) return;
  m_mapStop = true;
  m_mapThread.join();  // reads end at the stop (the source looks at it while it waits)
  m_mapStop = false;
}

void TLiveForm::LoadRecordingMap() {
  StopRecordingMapThread();
  ++m_mapGeneration;
  m_recordingMap.Clear();
  m_eventTicks.clear();
  const QDateTime pickers = PickedDateTime();
  if (m_diskHandle && !m_diskThread) {
    // Read before the player exists, as the event list is, but on a thread
    // and a handle of its own: the reads are scattered over the index, and
    // on a raw disk they take seconds the window must not freeze for.
    const std::string path = m_diskHandle->Path();
    const uint64_t generation = m_mapGeneration;
    m_activity.reset();
    RedrawActivityStrip();
    m_previews = std::make_unique<recorder::CPreviewReader>();
    m_previews->onReady = [this, generation](int64_t place) {
      QMetaObject::invokeMethod(
          this,
          [this, place, generation] {
            if (generation == m_mapGeneration && m_previewEntry >= 0 &&
                recorder::CPreviewReader::PlaceOf(m_previewEntry) == place)
              ShowPreviewAt(m_previewEntry, m_previewX);
          },
          Qt::QueuedConnection);
    };
    if (!m_previews->Open(path)) m_previews.reset();
    m_activityThread = std::thread([this, path, generation] {
      orvan::DiskSource disk;
      disk.SetStopFlag(&m_activityStop);
      recorder::DiskGeometry geometry;
      if (disk.OpenPath(path) != orvan::DriveOpenStatus::Ok ||
          recorder::ReadGeometry(disk, geometry) != recorder::GeometryStatus::Ok)
        return;
      recorder::ReadActivity(
          disk, geometry, [this] { return m_activityStop.load(); },
          [this, generation](recorder::CActivityMap map, bool) {
            auto shared = std::make_shared<recorder::CActivityMap>(std::move(map));
            QMetaObject::invokeMethod(
                this,
                [this, shared, generation] {
                  if (generation != m_mapGeneration) return;
                  m_activity = shared;
                  RedrawActivityStrip();
                },
                Qt::QueuedConnection);
          });
    });
    m_mapThread = std::thread([this, path, generation, pickers] {
      auto map = std::make_shared<recorder::CRecordingMap>();
      orvan::DiskSource disk;
      // A read in progress ends as soon as the window asks the thread to.
      disk.SetStopFlag(&m_mapStop);
      recorder::DiskGeometry geometry;
      if (disk.OpenPath(path) == orvan::DriveOpenStatus::Ok &&
          recorder::ReadGeometry(disk, geometry) == recorder::GeometryStatus::Ok)
        map->BuildForDisk(disk, geometry, [this] { return m_mapStop.load(); });
      if (m_mapStop) return;
      // Dropped with the window if it goes first (it joins this thread
      // before it is destroyed, and its queued calls go with it).
      QMetaObject::invokeMethod(
          this,
          [this, map, generation, pickers] {
            if (generation == m_mapGeneration) InstallRecordingMap(std::move(*map), pickers);
          },
          Qt::QueuedConnection);
    });
    return;
  }
  if (m_clipFiles && !m_clipThread) {
    recorder::CRecordingMap map;
    recorder::ClipTrailer trailer;
    if (m_clipFiles->ReadClipTrailer(trailer) == recorder::ClipStatus::Ok) {
      const recorder::CClipReader &clip = *m_clipFiles;
      map.Build(int64_t(trailer.count), [&clip](int64_t n, uint32_t &time) {
        recorder::IndexEntry entry;
        if (!clip.ReadEntry(uint64_t(n), entry)) return false;
        time = entry.time;
        return true;
      });
    }
    InstallRecordingMap(std::move(map), pickers);
    return;
  }
  InstallRecordingMap(recorder::CRecordingMap(), pickers);
}

void TLiveForm::InstallRecordingMap(recorder::CRecordingMap map, const QDateTime &pickers) {
  m_recordingMap = std::move(map);
  m_eventTicks.clear();
  // A new source: its whole recording, and its own bookmarks.
  m_viewFirst = m_viewEntries = 0;
  m_playBar.viewEntries.store(0);
  m_playBar.viewFirst.store(0);
  OpenBookmarksForSource();
  if (m_diskHandle && EventForm && !m_recordingMap.Empty()) {
    for (const recorder::EventRecord &event : EventForm->Events().Records()) {
      // Events before or after the recording have no place on the bar.
      if (event.time < m_recordingMap.FirstTime() || event.time > m_recordingMap.LastTime())
        continue;
      const int64_t entry = m_recordingMap.EntryOf(event.time);
      if (entry < 0 || entry >= m_recordingMap.Entries()) continue;
      m_eventTicks.push_back(
          EventTick{entry, PlayBarXOfEntry(entry), event.time, event.Kind(), int(event.channel)});
    }
  }
  RedrawPlayBar();
  UpdateCurrentTimeLabel();
  // The list marks the events that lie outside the recording.
  if (EventForm && m_diskHandle)
    EventForm->SetRecordedSpan(m_recordingMap.Empty() ? 0 : m_recordingMap.FirstTime(),
                               m_recordingMap.Empty() ? 0 : m_recordingMap.LastTime());
  RefreshSourceStatus();
  // A time typed in while the map was being read is the user's: kept; so is
  // the one a copy found (the disk is read again after it).
  if (m_pickersKept) {
    DatePicker->setDate(m_pickersKept->date());
    TimePicker->setTime(m_pickersKept->time());
    if (!m_recordingMap.Empty()) m_pickersKept.reset();
  } else if (m_diskHandle && PickedDateTime() == pickers) {
    SetPickersToRecordingStart();
  }
}

QDateTime TLiveForm::PickedDateTime() const {
  return QDateTime(DatePicker->date(), TimePicker->time(), Qt::UTC);
}

void TLiveForm::SetPickersToRecordingStart() {
  if (m_recordingMap.Empty()) return;
  // Recorder seconds are the wall-clock fields counted as if UTC.
  const QDateTime first =
      QDateTime::fromSecsSinceEpoch(qint64{m_recordingMap.FirstTime()}, Qt::UTC);
  DatePicker->setDate(first.date());
  TimePicker->setTime(first.time());
}

bool TLiveForm::SearchTimeRecorded(uint32_t seconds) {
  if (m_recordingMap.Empty()) return true;  // nothing known: the search decides
  if (seconds >= m_recordingMap.FirstTime() && seconds <= m_recordingMap.LastTime()) return true;
  Inform(Tr(TextKey::Nothing_recorded_at)
             .arg(RecorderTimeText(seconds), RecorderTimeText(m_recordingMap.FirstTime()),
                  RecorderTimeText(m_recordingMap.LastTime())),
         Tr(TextKey::Search));
  return false;
}

void TLiveForm::RedrawPlayBar() {
  const int w = std::max(PlayBarImage->width(), 2), h = std::max(PlayBarImage->height(), 2);
  QPixmap pm(w, h);
  QPainter p(&pm);
  p.fillRect(pm.rect(), QColor(0x18, 0x20, 0x2c));
  p.setPen(QColor(0x50, 0x60, 0x78));
  p.drawRect(0, 0, w - 1, h - 1);
  const int64_t total = m_recordingMap.Entries();
  // The overview strip: the whole recording, the part in view lit.
  if (total > 0) {
    p.fillRect(1, 1, w - 2, kOverviewRows - 1, QColor(0x30, 0x38, 0x48));
    const int from = int(PlayBarViewFirst() * (w - 2) / total);
    const int width = std::max(2, int(PlayBarViewEntries() * (w - 2) / total));
    p.fillRect(1 + from, 1, width, kOverviewRows - 1, QColor(0xc8, 0xd8, 0xf0));
  }
  const int top = kOverviewRows + 1;
  p.fillRect(2, top + 3, w - 4, 4, QColor(0x60, 0x78, 0x98));
  // The time scale: a tick per step, labelled where there is room.
  const int step = TimeScaleStepSeconds();
  if (step > 0) {
    QFont small = p.font();
    small.setPixelSize(8);
    p.setFont(small);
    p.setPen(QColor(0xb0, 0xc0, 0xd8));
    for (const ScaleLabel &label : TimeScaleLabels()) {
      p.drawLine(label.x, top + 8, label.x, h - 2);
      p.drawText(label.x + 2, h - 2, label.text);
    }
  }
  for (const recorder::RecordingGap &gap : m_recordingMap.Gaps()) {
    const int x = PlayBarXOfEntry(gap.entry);
    if (x < 0 || x > w) continue;
    p.fillRect(x - kGapMarkPixels / 2, top, kGapMarkPixels, h - top - 1, QBrush(kGapShade));
  }
  for (EventTick &tick : m_eventTicks) {
    tick.x = PlayBarXOfEntry(tick.entry);  // the track may have been resized or zoomed
    if (tick.x < 0 || tick.x > w) continue;
    p.fillRect(std::min(tick.x, w - 2), top, 2, h - top - 2, EventKindColour(tick.kind));
  }
  // Bookmarks: a small flag on the track's top.
  for (const Bookmark &b : m_bookmarks.List()) {
    const int64_t entry = b.entry >= 0 ? b.entry : m_recordingMap.EntryOf(b.seconds);
    const int x = PlayBarXOfEntry(entry);
    if (total <= 0 || x < 0 || x > w) continue;
    const QPoint flag[3] = {QPoint(x - 3, top), QPoint(x + 3, top), QPoint(x, top + 5)};
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x30, 0xe0, 0xe0));
    p.drawPolygon(flag, 3);
  }
  p.end();
  PlayBarImage->setPixmap(pm);
  RedrawActivityStrip();
}

void TLiveForm::ShowPreviewAt(int64_t entry, int x) {
  recorder::Preview preview;
  if (!m_previews || !m_previews->Find(entry, preview)) return;
  constexpr int kTileW = 120, kTileH = 80;
  QImage sheet(kTileW * 2 + 6, kTileH * 2 + 22, QImage::Format_RGB32);
  sheet.fill(QColor(0x10, 0x14, 0x1c));
  QPainter p(&sheet);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  for (int ch = 0; ch < 4; ++ch) {
    const recorder::PreviewPicture &pic = preview.channels[size_t(ch)];
    const QRect at(2 + (ch % 2) * (kTileW + 2), 2 + (ch / 2) * (kTileH + 2), kTileW, kTileH);
    if (pic.width <= 0) continue;
    const QImage image(pic.bgr32.data(), pic.width, pic.height, pic.width * 4,
                       QImage::Format_RGB32);
    p.drawImage(at, image);
  }
  p.setPen(QColor(0xff, 0xff, 0x60));
  p.drawText(QRect(0, kTileH * 2 + 4, sheet.width(), 16), Qt::AlignCenter,
             RecorderTimeText(m_recordingMap.TimeAt(entry)));
  p.end();
  if (!m_previewPopup) {
    m_previewPopup = new QLabel(m_client);
    m_previewPopup->setObjectName(QStringLiteral("PreviewPopup"));
    m_previewPopup->setAttribute(Qt::WA_TransparentForMouseEvents);
  }
  m_previewPopup->setPixmap(QPixmap::fromImage(sheet));
  m_previewPopup->resize(sheet.size());
  const int left = std::clamp(PlayBarImage->x() + x - sheet.width() / 2, 0,
                              std::max(0, m_client->width() - sheet.width()));
  m_previewPopup->move(left, PlayBarImage->y() - sheet.height() - 16);
  m_previewPopup->show();
  m_previewPopup->raise();
}

void TLiveForm::RedrawActivityStrip() {
  if (!ActivityStrip) return;
  const int w = std::max(ActivityStrip->width(), 2), h = std::max(ActivityStrip->height(), 4);
  QImage strip(w, h, QImage::Format_RGB32);
  strip.fill(QColor(0x10, 0x14, 0x1c));
  const recorder::CActivityMap *activity = m_activity.get();
  if (activity && activity->Entries() > 0) {
    const int64_t first = PlayBarViewFirst(), span = std::max<int64_t>(PlayBarViewEntries(), 1);
    const int row = h / 4;
    for (int x = 0; x < w; ++x) {
      const int64_t from = first + int64_t(x) * span / w;
      const int64_t to = std::max(from + 1, first + int64_t(x + 1) * span / w);
      for (int ch = 0; ch < 4; ++ch) {
        const float level = activity->LevelOver(ch, from, to - from);
        if (level < 0) continue;
        // As usual (1) is dim; four times as much or more is full.
        const float t = std::clamp((level - 0.5f) / 3.5f, 0.0f, 1.0f);
        const QColor c(int(0x28 + t * (0xff - 0x28)), int(0x30 + t * (0xb0 - 0x30)),
                       int(0x40 - t * 0x30));
        for (int y = ch * row; y < ch * row + row - 1; ++y) strip.setPixel(x, y, c.rgb());
      }
    }
  }
  ActivityStrip->setPixmap(QPixmap::fromImage(strip));
}

QString TLiveForm::PlayBarTipAt(int x) const {
  if (m_recordingMap.Empty()) return QString();
  const EventTick *nearest = NearestTick(m_eventTicks, x);
  if (nearest) {
    QString text =
        RecorderTimeText(nearest->time) + QLatin1Char(' ') + EventKindText(nearest->kind);
    if (nearest->channel > 0) text += QStringLiteral(", CH%1").arg(nearest->channel);
    return text;
  }
  for (const recorder::RecordingGap &gap : m_recordingMap.Gaps())
    if (std::abs(PlayBarXOfEntry(gap.entry) - x) <= kGapMarkPixels / 2)
      return Tr(TextKey::No_recording_between)
          .arg(RecorderTimeText(gap.lastBefore), RecorderTimeText(gap.firstAfter));
  for (const Bookmark &b : m_bookmarks.List()) {
    const int64_t entry = b.entry >= 0 ? b.entry : m_recordingMap.EntryOf(b.seconds);
    if (std::abs(PlayBarXOfEntry(entry) - x) <= kTickHitPixels)
      return Tr(TextKey::Bookmark_tip)
          .arg(RecorderTimeText(b.seconds))
          .arg(b.channel + 1)
          .arg(QString::fromStdString(b.note));
  }
  return RecorderTimeText(m_recordingMap.TimeAt(PlayBarEntryAt(x)));
}

void TLiveForm::PlayBarImageMouseMove(int x) {
  // Pressed on the track and dragged: the knob goes with the pointer, and
  // the release plays from where it stands.
  // On a zoomed bar, dragging the background pans the view instead.
  if (m_barDragging && PlayBarZoomed() &&
      (m_panning || std::abs(x - m_panFromX) >= kPanThresholdPixels)) {
    if (!m_panning) {
      m_panning = true;
      m_panFromFirst = m_viewFirst;
    }
    const int width = std::max(PlayBarImage->width(), 1);
    SetPlayBarView(m_panFromFirst - int64_t(x - m_panFromX) * m_viewEntries / width, m_viewEntries);
    return;
  }
  if (m_barDragging && TrackReleaseRepositions(x, BarGeometry()))
    MoveKnob(KnobLeftForTrackRelease(x, BarGeometry()));
  if (m_previews && !m_recordingMap.Empty()) {
    m_previewEntry = PlayBarEntryAt(x);
    m_previewX = x;
    m_previews->Ask(m_previewEntry);
    ShowPreviewAt(m_previewEntry, x);
  }
  const QString tip = PlayBarTipAt(x);
  if (tip.isEmpty()) {
    QToolTip::hideText();
    return;
  }
  QToolTip::showText(PlayBarImage->mapToGlobal(QPoint(x, PlayBarImage->height())), tip,
                     PlayBarImage);
}

bool TLiveForm::PlayBarTickJump(int x) {
  if (!m_diskThread) return false;
  const EventTick *nearest = NearestTick(m_eventTicks, x);
  if (!nearest) return false;
  m_barDragging = false;
  JumpToEvent(nearest->time);
  return true;
}

void TLiveForm::UpdateCurrentTimeLabel() {
  const int64_t shown = ShownRecorderSeconds();
  CurrentTimeLabel->setText(
      shown > 0 && m_playSource != kImagePlay ? RecorderTimeText(uint32_t(shown)) : QString());
  UpdateIdentityLine();
  // An open magnifier follows the picture while it plays.
  if (m_magnifier && m_magnifier->isVisible() && ActivePlayer() && ActivePlayer()->Playing())
    RefreshMagnifier();
}

}  // namespace orvan::app
