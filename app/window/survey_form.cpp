#include "app/window/survey_form.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/disk_source.h"
#include "platform/wintime.h"

namespace orvan::app {

using namespace orvan::recorder;

namespace {

QString TimeText(uint32_t t) {
  return t ? QString::fromStdString(FormatRecorderTime(int64_t{t})) : QStringLiteral("\u2013");
}

QString Share(uint64_t part, uint64_t whole) {
  return QStringLiteral("%1 %").arg(whole ? 100.0 * double(part) / double(whole) : 0.0, 0, 'f', 1);
}

}  // namespace

TDiskMap::TDiskMap(QWidget *parent) : QWidget(parent) {
  setObjectName(QStringLiteral("DiskMap"));
  setMinimumSize(480, 170);
}

QColor TDiskMap::ColorOf(Part part) {
  switch (part) {
    case Part::kLive:
      return QColor(46, 139, 87);
    case Part::kHeldBack:
      return QColor(70, 130, 180);
    case Part::kStaleIntact:
      return QColor(230, 160, 30);
    case Part::kOverwritten:
      return QColor(200, 50, 50);
    case Part::kUnreferenced:
      return QColor(150, 150, 160);
    case Part::kUnreadable:
      return QColor(0, 0, 0);
    case Part::kInvalid:
      return QColor(150, 60, 170);
    case Part::kEmpty:
      break;
  }
  return QColor(228, 228, 228);
}

QRect TDiskMap::IndexBar() const { return QRect(10, 22, width() - 20, 26); }
QRect TDiskMap::DataBar() const { return QRect(10, 80, width() - 20, 26); }

void TDiskMap::paintEvent(QPaintEvent *) {
  QPainter p(this);
  p.fillRect(rect(), palette().window());
  const QRect ib = IndexBar(), db = DataBar();
  p.setPen(palette().windowText().color());
  p.drawText(ib.left(), ib.top() - 5, QString::fromStdString(m_captions.Text(TextKey::Index_area)));
  p.drawText(db.left(), db.top() - 5, QString::fromStdString(m_captions.Text(TextKey::Data_area)));
  p.fillRect(ib, ColorOf(Part::kEmpty));
  p.fillRect(db, ColorOf(Part::kUnreferenced));
  if (m_survey) {
    const DiskSurvey &s = *m_survey;
    // The index area, by entries.
    const double entries = std::max<double>(1, double(s.indexAreaEntries));
    auto ix = [&](double n) {
      return ib.left() + int(double(ib.width()) * std::min(n, entries) / entries);
    };
    auto span = [&](const QRect &bar, int x0, int x1, Part part) {
      p.fillRect(QRect(x0, bar.top(), std::max(1, x1 - x0), bar.height()), ColorOf(part));
    };
    const double playEnd = double(std::max<int64_t>(0, s.geometry.playEnd));
    const double indexCount = double(std::max<int64_t>(0, s.geometry.indexCount));
    span(ib, ix(0), ix(playEnd), Part::kLive);
    span(ib, ix(playEnd), ix(indexCount), Part::kHeldBack);
    if (s.stale.entries > 0) {
      // The stale part in its two shares, intact first.
      const double staleEnd = double(s.stale.scannedTo);
      const double intactShare = double(s.stale.intact) / double(s.stale.entries);
      const double mid = indexCount + (staleEnd - indexCount) * intactShare;
      span(ib, ix(indexCount), ix(mid), Part::kStaleIntact);
      span(ib, ix(mid), ix(staleEnd), Part::kOverwritten);
    }
    for (const EntryRun &r : s.live.invalidRuns)
      span(ib, ix(double(r.first)), ix(double(r.last + 1)), Part::kInvalid);
    for (const LostIndexSector &l : s.unreadableIndex)
      span(ib, ix(double(l.firstEntry)), ix(double(l.lastEntry + 1)), Part::kUnreadable);
    // The data area, by bytes.
    const uint64_t base = s.geometry.dataBase;
    const double bytes = std::max<double>(1, double(s.DataAreaBytes()));
    auto dx = [&](uint64_t at) {
      const double from = at > base ? double(at - base) : 0.0;
      return db.left() + int(double(db.width()) * std::min(from, bytes) / bytes);
    };
    s.liveRecords.ForEach(
        [&](const ByteRuns::Run &r) { span(db, dx(r.begin), dx(r.end), Part::kLive); });
    s.intactRecords.ForEach(
        [&](const ByteRuns::Run &r) { span(db, dx(r.begin), dx(r.end), Part::kStaleIntact); });
    s.overwrittenRecords.ForEach(
        [&](const ByteRuns::Run &r) { span(db, dx(r.begin), dx(r.end), Part::kOverwritten); });
  }
  p.setPen(QColor(90, 90, 90));
  p.drawRect(ib.adjusted(0, 0, -1, -1));
  p.drawRect(db.adjusted(0, 0, -1, -1));
  // The legend.
  const std::pair<Part, TextKey> legend[] = {{Part::kLive, TextKey::Part_live},
                                             {Part::kHeldBack, TextKey::Part_held_back},
                                             {Part::kStaleIntact, TextKey::Part_stale_intact},
                                             {Part::kOverwritten, TextKey::Part_overwritten},
                                             {Part::kUnreferenced, TextKey::Part_unreferenced},
                                             {Part::kUnreadable, TextKey::Part_unreadable},
                                             {Part::kInvalid, TextKey::Part_invalid}};
  int x = 10, y = db.bottom() + 14;
  const QFontMetrics fm(font());
  p.setPen(palette().windowText().color());
  for (const auto &[part, key] : legend) {
    const QString text = QString::fromStdString(m_captions.Text(key));
    const int w = 16 + fm.horizontalAdvance(text) + 14;
    if (x + w > width() - 10) {
      x = 10;
      y += fm.height() + 6;
    }
    p.fillRect(QRect(x, y, 12, 12), ColorOf(part));
    p.drawText(x + 16, y + 11, text);
    x += w;
  }
}

TSurveyForm::TSurveyForm(QWidget *parent) : QDialog(parent) {
  setObjectName(QStringLiteral("SurveyForm"));
  auto *layout = new QVBoxLayout(this);
  m_map = new TDiskMap(this);
  layout->addWidget(m_map);
  m_counts = new QLabel(this);
  m_counts->setObjectName(QStringLiteral("CountsLabel"));
  m_counts->setTextInteractionFlags(Qt::TextSelectableByMouse);
  m_counts->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  layout->addWidget(m_counts, 1);
  m_progress = new QProgressBar(this);
  m_progress->setObjectName(QStringLiteral("ProgressBar"));
  m_progress->setRange(0, 1000);
  layout->addWidget(m_progress);
  m_status = new QLabel(this);
  m_status->setObjectName(QStringLiteral("StatusLabel"));
  m_status->setWordWrap(true);
  layout->addWidget(m_status);
  auto *buttons = new QHBoxLayout;
  RecoverBtn = new QPushButton(this);
  RecoverBtn->setObjectName(QStringLiteral("RecoverBtn"));
  CarveBtn = new QPushButton(this);
  CarveBtn->setObjectName(QStringLiteral("CarveBtn"));
  CancelBtn = new QPushButton(this);
  CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
  buttons->addWidget(RecoverBtn);
  buttons->addWidget(CarveBtn);
  buttons->addStretch(1);
  buttons->addWidget(CancelBtn);
  layout->addLayout(buttons);
  connect(RecoverBtn, &QPushButton::clicked, this, [this] { RecoverBtnClick(); });
  connect(CarveBtn, &QPushButton::clicked, this, [this] { CarveBtnClick(); });
  connect(CancelBtn, &QPushButton::clicked, this, [this] { CancelBtnClick(); });
  m_timer = new QTimer(this);
  m_timer->setInterval(100);
  connect(m_timer, &QTimer::timeout, this, [this] { TimerTick(); });
  resize(760, 520);
  ChooseRecoverFile = [this](const QString &filter) {
    return QFileDialog::getSaveFileName(this, Text(TextKey::Recover_button), QString(), filter);
  };
  ChooseCarveFolder = [this] {
    return QFileDialog::getExistingDirectory(this, Text(TextKey::Carve_folder));
  };
  Inform = [this](const QString &text) {
    QMessageBox::information(this, Text(TextKey::Survey_title), text);
  };
  ApplyLanguage(m_captions);
}

TSurveyForm::~TSurveyForm() { EndWorker(); }

void TSurveyForm::ApplyLanguage(const CCaptions &captions) {
  m_captions = captions;
  setWindowTitle(Text(TextKey::Survey_title));
  RecoverBtn->setText(Text(TextKey::Recover_button));
  CarveBtn->setText(Text(TextKey::Carve_button));
  CancelBtn->setText(Text(TextKey::Cancel_button));
  m_map->SetCaptions(captions);
  if (m_haveSurvey) ShowSurvey();
}

void TSurveyForm::EndWorker() {
  if (!m_worker.joinable()) return;
  m_stop.store(true, std::memory_order_release);
  m_worker.join();
  m_timer->stop();
}

void TSurveyForm::done(int result) {
  EndWorker();
  QDialog::done(result);
}

void TSurveyForm::Run(Job job, std::function<void()> work) {
  EndWorker();
  m_job = job;
  m_stop.store(false);
  m_finished.store(false);
  m_done.store(0);
  m_total.store(0);
  m_progress->setValue(0);
  RecoverBtn->setEnabled(false);
  CarveBtn->setEnabled(false);
  CancelBtn->setEnabled(true);
  m_status->setText(Text(job == Job::kSurvey    ? TextKey::Surveying
                         : job == Job::kRecover ? TextKey::Recovering
                                                : TextKey::Carving));
  m_worker = std::thread([this, work = std::move(work)] {
    work();
    m_finished.store(true, std::memory_order_release);
  });
  m_timer->start();
}

void TSurveyForm::Start(const std::string &path) {
  EndWorker();
  m_path = path;
  m_haveSurvey = false;
  m_surveyMade = false;
  m_map->SetSurvey(nullptr);
  m_counts->clear();
  Run(Job::kSurvey, [this] {
    DiskSource disk;
    m_openError.clear();
    if (disk.OpenPath(m_path) != DriveOpenStatus::Ok) {
      m_openError = disk.LastError();
      return;
    }
    DiskGeometry g;
    if (ReadGeometry(disk, g) != GeometryStatus::Ok) {
      m_openError = kStateErrorText;
      return;
    }
    SurveyOptions o;
    o.keepRecoverable = true;
    o.stop = &m_stop;
    o.progress = [this](const char *, uint64_t done, uint64_t total) { Progress(done, total); };
    m_survey = SurveyDisk(disk, g, disk.SizeBytes(), o);
    m_surveyMade = true;
  });
}

void TSurveyForm::RecoverBtnClick() {
  if (!m_haveSurvey || Busy()) return;
  const QString clip = QString::fromStdString(m_captions.Text(TextKey::Clip_type));
  const QString mkv = QString::fromStdString(m_captions.Text(TextKey::Matroska_type));
  QString name = ChooseRecoverFile(clip + QStringLiteral(";;") + mkv);
  if (name.isEmpty()) return;
  const QString lower = name.toLower();
  if (!lower.endsWith(QStringLiteral(".in")) && !lower.endsWith(QStringLiteral(".mkv")))
    name += QStringLiteral(".in");
  RecoverTo(name.toStdString());
}

void TSurveyForm::RecoverTo(const std::string &outputPath) {
  if (!m_haveSurvey) return;
  Run(Job::kRecover, [this, outputPath] {
    DiskSource disk;
    m_recovery = RecoveryResult{};
    if (disk.OpenPath(m_path) != DriveOpenStatus::Ok) {
      m_recovery.error = disk.LastError();
      return;
    }
    RecoverOptions o;
    o.format = ExportFormatOfName(outputPath);
    // The file dialog asked before a file is replaced.
    o.policy = platform::ReplacePolicy::kReplaceExisting;
    o.stop = &m_stop;
    o.progress = [this](uint64_t done, uint64_t total) { Progress(done, total); };
    m_recovery = RecoverEntries(disk, m_survey, IdentifySource(disk), outputPath, o);
  });
}

void TSurveyForm::CarveBtnClick() {
  if (!m_haveSurvey || Busy()) return;
  const QString folder = ChooseCarveFolder();
  if (!folder.isEmpty()) CarveInto(folder.toStdString());
}

void TSurveyForm::CarveInto(const std::string &folder) {
  if (!m_haveSurvey) return;
  Run(Job::kCarve, [this, folder] {
    DiskSource disk;
    m_carve = CarveResult{};
    if (disk.OpenPath(m_path) != DriveOpenStatus::Ok) {
      m_carve.error = disk.LastError();
      return;
    }
    CarveOptions o;
    o.outputDir = folder;
    o.policy = platform::ReplacePolicy::kReplaceExisting;
    o.stop = &m_stop;
    o.progress = [this](uint64_t done, uint64_t total) { Progress(done, total); };
    m_carve = CarveDisk(disk, m_survey, IdentifySource(disk), o);
  });
}

void TSurveyForm::CancelBtnClick() {
  if (Busy()) {
    m_stop.store(true, std::memory_order_release);
    return;
  }
  reject();
}

void TSurveyForm::TimerTick() {
  const uint64_t total = m_total.load(std::memory_order_relaxed);
  if (total) m_progress->setValue(int(std::min<uint64_t>(1000, m_done.load() * 1000 / total)));
  if (!m_worker.joinable() || !m_finished.load(std::memory_order_acquire)) return;
  m_worker.join();
  m_timer->stop();
  const Job job = m_job;
  m_job = Job::kNone;
  Finished(job);
}

void TSurveyForm::Finished(Job job) {
  m_progress->setValue(1000);
  if (job == Job::kSurvey) m_haveSurvey = m_surveyMade;
  RecoverBtn->setEnabled(m_haveSurvey && !m_survey.recoverable.empty());
  CarveBtn->setEnabled(m_haveSurvey);
  const bool stopped = m_stop.load();
  if (job == Job::kSurvey) {
    if (!m_openError.empty()) {
      m_status->setText(QString::fromStdString(m_openError));
      return;
    }
    ShowSurvey();
    m_status->setText(stopped || m_survey.stopped ? Text(TextKey::Work_stopped)
                      : m_survey.gone             ? Text(TextKey::DiskStoppedAnswering)
                                                  : QString());
    return;
  }
  QString text;
  if (job == Job::kRecover) {
    if (m_recovery.ok)
      text = Text(TextKey::Recovered_to)
                 .arg(m_recovery.written)
                 .arg(QString::fromStdString(m_recovery.manifestPath));
    else if (m_recovery.stopped)
      text = Text(TextKey::Work_stopped);
    else if (m_survey.recoverable.empty())
      text = Text(TextKey::Nothing_recoverable);
    else
      text = QString::fromStdString(m_recovery.error);
  } else {
    if (m_carve.stopped)
      text = Text(TextKey::Work_stopped);
    else if (!m_carve.manifestPath.empty())
      text = Text(TextKey::Carved_to)
                 .arg(m_carve.pictures.size())
                 .arg(QString::fromStdString(m_carve.manifestPath));
    else
      text = QString::fromStdString(m_carve.error);
  }
  m_status->setText(text);
}

void TSurveyForm::ShowSurvey() {
  const DiskSurvey &s = m_survey;
  m_map->SetSurvey(&s);
  QStringList lines;
  lines << Text(TextKey::Survey_live)
               .arg(s.live.entries)
               .arg(TimeText(s.live.span.first), TimeText(s.live.span.last))
               .arg(s.live.invalid);
  lines << Text(TextKey::Survey_held_back)
               .arg(s.heldBack.entries)
               .arg(TimeText(s.heldBack.span.first), TimeText(s.heldBack.span.last));
  if (s.stale.entries == 0)
    lines << Text(TextKey::Survey_no_stale);
  else
    lines << Text(TextKey::Survey_stale)
                 .arg(s.stale.entries)
                 .arg(s.stale.intact)
                 .arg(s.stale.overwritten)
                 .arg(TimeText(s.stale.first), TimeText(s.stale.last));
  int number = 0;
  for (const SurveySpan &span : s.spans) {
    ++number;
    lines << QStringLiteral("    ") + Text(TextKey::Survey_span)
                                          .arg(number)
                                          .arg(Text(span.origin == SurveySpan::Origin::kHeldBack
                                                        ? TextKey::Origin_held_back
                                                        : TextKey::Origin_stale))
                                          .arg(span.firstEntry)
                                          .arg(span.lastEntry)
                                          .arg(TimeText(span.firstTime), TimeText(span.lastTime))
                                          .arg(span.intact);
  }
  if (s.unreadableIndexSectors)
    lines << Text(TextKey::Survey_unreadable).arg(s.unreadableIndexSectors);
  const uint64_t area = s.DataAreaBytes();
  lines << Text(TextKey::Survey_data)
               .arg(Share(s.liveRecords.Bytes(), area), Share(s.intactRecords.Bytes(), area),
                    Share(s.UnreferencedBytes(), area));
  m_counts->setText(lines.join(QLatin1Char('\n')));
}

QString TSurveyForm::CountsText() const { return m_counts->text(); }
QString TSurveyForm::StatusText() const { return m_status->text(); }

}  // namespace orvan::app
