#include "app/window/copy_form.h"

#include <QDateEdit>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimeEdit>
#include <QTimer>
#include <algorithm>
#include <cstring>

#include "app/window/captions.h"
#include "app/window/time_edit.h"
#include "platform/log.h"
#include "recorder/export/copy_hdd_thread.h"
#include "recorder/layout/clip_format.h"

namespace orvan::app {

namespace {

constexpr const char *kLogCategory = "copy";

constexpr int kClientWidth = 327;
constexpr int kClientHeight = 156;
constexpr int kDotsPerRow = 20;

// By the pattern the type names, in whichever language it is captioned.
const char *ExtensionOfFilter(const QString &filter) {
  if (filter.contains(QLatin1String("*.mkv"))) return ".mkv";
  if (filter.contains(QLatin1String("*.mp4"))) return ".mp4";
  return ".in";
}

QLabel *YellowLabel(QWidget *parent, const char *name, const char *text, int l, int t, int w,
                    int h) {
  auto *label = new QLabel(QString::fromLatin1(text), parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(l, t, w, h);
  label->setAutoFillBackground(true);
  QPalette p = label->palette();
  p.setColor(QPalette::Window, Qt::black);
  p.setColor(QPalette::WindowText, Qt::yellow);
  label->setPalette(p);
  return label;
}

QPushButton *Button(QWidget *parent, const char *name, const char *caption, int l, int t) {
  auto *b = new QPushButton(QString::fromLatin1(caption), parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setGeometry(l, t, 75, 25);
  return b;
}

SYSTEMTIME Compose(const QDateEdit *date, const QTimeEdit *time) {
  const QDate d = date->date();
  const QTime t = time->time();
  SYSTEMTIME st{};
  st.wYear = uint16_t(d.year());
  st.wMonth = uint16_t(d.month());
  st.wDay = uint16_t(d.day());
  st.wHour = uint16_t(t.hour());
  st.wMinute = uint16_t(t.minute());
  st.wSecond = uint16_t(t.second());
  return st;
}

void Show(QDateEdit *date, QTimeEdit *time, const SYSTEMTIME &st) {
  const QSignalBlocker blockDate(date), blockTime(time);
  date->setDate(QDate(st.wYear, st.wMonth, st.wDay));
  time->setTime(QTime(st.wHour, st.wMinute, st.wSecond));
}

int64_t Seconds(const SYSTEMTIME &st) { return recorder::CopyHDDThread::ChosenTimeToSeconds(st); }

}  // namespace

const char TCopyForm::kClipFilter[] = "Clip (*.in)";
const char TCopyForm::kMatroskaFilter[] = "Matroska, lossless (*.mkv)";
const char TCopyForm::kMp4Filter[] = "MP4 (*.mp4)";

QString TCopyForm::NameForType(const QString &chosenName, const QString &selectedFilter) {
  const QString extension = QLatin1String(ExtensionOfFilter(selectedFilter));
  if (chosenName.endsWith(extension, Qt::CaseInsensitive)) return chosenName;
  // The name suggested, or typed, for another type takes this type's ending.
  for (const char *other : {".in", ".mkv", ".mp4"}) {
    if (chosenName.endsWith(QLatin1String(other), Qt::CaseInsensitive) &&
        chosenName.size() > int(std::strlen(other)))
      return chosenName.left(chosenName.size() - int(std::strlen(other))) + extension;
  }
  return chosenName + extension;
}

TCopyForm::TCopyForm(QWidget *parent) : QDialog(parent) {
  setObjectName(QStringLiteral("CopyForm"));
  setWindowTitle(Tr(m_captions, TextKey::Copy));
  // Fixed single border, no system menu and no close box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(kClientWidth, kClientHeight);

  Label1 = YellowLabel(this, "Label1", "StartTime", 8, 12, 62, 16);
  Label2 = YellowLabel(this, "Label2", "EndTime", 8, 40, 62, 16);
  Label3 = YellowLabel(this, "Label3", "", 8, 68, 311, 16);

  StartDate = new QDateEdit(this);
  StartDate->setObjectName(QStringLiteral("StartDate"));
  StartDate->setGeometry(76, 8, 117, 22);
  StartTime = new TTimeEdit(this);
  StartTime->setObjectName(QStringLiteral("StartTime"));
  StartTime->setGeometry(200, 8, 119, 22);
  EndDate = new QDateEdit(this);
  EndDate->setObjectName(QStringLiteral("EndDate"));
  EndDate->setGeometry(76, 36, 117, 22);
  EndTime = new TTimeEdit(this);
  EndTime->setObjectName(QStringLiteral("EndTime"));
  EndTime->setGeometry(200, 36, 119, 22);
  for (QDateEdit *d : {StartDate, EndDate}) d->setDisplayFormat(QStringLiteral("yyyy/MM/dd"));
  for (QTimeEdit *t : {StartTime, EndTime}) t->setDisplayFormat(QStringLiteral(" HH : mm : ss"));

  ProgressBar = new QProgressBar(this);
  ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
  ProgressBar->setGeometry(8, 90, 311, 16);
  ProgressBar->setRange(0, 1000);
  ProgressBar->setValue(0);
  ProgressBar->setFormat(QStringLiteral("%p%"));

  SaveBtn = Button(this, "SaveBtn", "Save", 24, 120);
  StopBtn = Button(this, "StopBtn", "Stop", 126, 120);
  StopBtn->setEnabled(false);
  CloseBtn = Button(this, "CloseBtn", "Close", 228, 120);
  for (QPushButton *b : {SaveBtn, StopBtn, CloseBtn}) b->setFocusPolicy(Qt::TabFocus);
  SaveBtn->setAutoDefault(false);
  StopBtn->setAutoDefault(false);
  CloseBtn->setAutoDefault(false);

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(500);

  connect(StartDate, &QDateEdit::dateChanged, this, [this] { StartDateChange(); });
  connect(StartTime, &QTimeEdit::timeChanged, this, [this] { StartDateChange(); });
  connect(EndDate, &QDateEdit::dateChanged, this, [this] { EndDateChange(); });
  connect(EndTime, &QTimeEdit::timeChanged, this, [this] { EndDateChange(); });
  connect(StartTime, &QTimeEdit::editingFinished, this, [this] { StartDateChange(); });
  connect(EndTime, &QTimeEdit::editingFinished, this, [this] { EndDateChange(); });
  connect(SaveBtn, &QPushButton::clicked, this, [this] { SaveBtnClick(); });
  connect(StopBtn, &QPushButton::clicked, this, [this] { StopBtnClick(); });
  connect(CloseBtn, &QPushButton::clicked, this, [this] { CloseBtnClick(); });
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });

  AskYesNo = [this](const QString &text, const QString &caption) {
    return AskYesNoBox(this, m_captions, text, caption);
  };
  Inform = [this](const QString &text, const QString &caption) {
    InformBox(this, m_captions, text, caption);
  };
  ChooseSaveFile = [this](const QString &filter, const QString &suggestedName,
                          QString *selectedFilter) {
    return QFileDialog::getSaveFileName(this, QString(), suggestedName, filter, selectedFilter);
  };
}

TCopyForm::~TCopyForm() { EndCopyThread(); }

void TCopyForm::SetRange(int driveNumber, const SYSTEMTIME &diskStart, const SYSTEMTIME &diskEnd) {
  m_driveNumber = driveNumber;
  m_diskStart = diskStart;
  m_diskEnd = diskEnd;
  Show(StartDate, StartTime, diskStart);
  Show(EndDate, EndTime, diskEnd);
  // Each opening starts idle: no progress of an earlier copy, nothing to stop.
  EndCopyThread();
  Timer1->stop();
  ShowIdle();
  Label3->clear();
  m_progress = 0;
  ProgressBar->setValue(0);
}

void TCopyForm::ApplyLanguage(const CCaptions &captions) {
  m_captions = captions;
  setWindowTitle(Tr(m_captions, TextKey::Copy));
  Label1->setText(Tr(m_captions, TextKey::Start_label));
  Label2->setText(Tr(m_captions, TextKey::End_label));
  SaveBtn->setText(Tr(m_captions, TextKey::Save_button));
  StopBtn->setText(Tr(m_captions, TextKey::Stop_button));
  CloseBtn->setText(Tr(m_captions, TextKey::Close));
  const QLocale locale = captions.Language() == 1
                             ? QLocale(QLocale::Russian, QLocale::Russia)
                             : QLocale(QLocale::English, QLocale::UnitedStates);
  for (QWidget *w : {static_cast<QWidget *>(StartDate), static_cast<QWidget *>(EndDate),
                     static_cast<QWidget *>(StartTime), static_cast<QWidget *>(EndTime)})
    w->setLocale(locale);
  // The labels and buttons as wide as their captions need, the pickers and
  // the window moving with them.
  const QFontMetrics metrics(font());
  const int labelWidth = std::max({62, metrics.horizontalAdvance(Label1->text()) + 6,
                                   metrics.horizontalAdvance(Label2->text()) + 6});
  for (QLabel *l : {Label1, Label2}) l->resize(labelWidth, l->height());
  const int pickersLeft = 8 + labelWidth + 6;
  for (QWidget *w : {static_cast<QWidget *>(StartDate), static_cast<QWidget *>(EndDate)})
    w->move(pickersLeft, w->y());
  for (QWidget *w : {static_cast<QWidget *>(StartTime), static_cast<QWidget *>(EndTime)})
    w->move(pickersLeft + 124, w->y());
  int buttonWidth = 75;
  for (QPushButton *b : {SaveBtn, StopBtn, CloseBtn})
    buttonWidth = std::max(buttonWidth, metrics.horizontalAdvance(b->text()) + 16);
  const int width = std::max(kClientWidth, pickersLeft + 124 + 119 + 8);
  const int gap = std::max(6, (width - 3 * buttonWidth) / 4);
  int x = gap;
  for (QPushButton *b : {SaveBtn, StopBtn, CloseBtn}) {
    b->setGeometry(x, b->y(), buttonWidth, b->height());
    x += buttonWidth + gap;
  }
  for (QWidget *w : {static_cast<QWidget *>(Label3), static_cast<QWidget *>(ProgressBar)})
    w->resize(width - 16, w->height());
  setFixedSize(std::max(width, x), kClientHeight);
}

SYSTEMTIME TCopyForm::ChosenStart() const { return Compose(StartDate, StartTime); }
SYSTEMTIME TCopyForm::ChosenEnd() const { return Compose(EndDate, EndTime); }

void TCopyForm::PickStart(const SYSTEMTIME &time) {
  Show(StartDate, StartTime, time);
  StartDateChange();
}

void TCopyForm::PickEnd(const SYSTEMTIME &time) {
  Show(EndDate, EndTime, time);
  EndDateChange();
}

void TCopyForm::KeepInsideSpan(QDateEdit *date, TTimeEdit *time) {
  // A time being typed is corrected once it is finished (editingFinished),
  // not at every key: its first digits alone lie outside any span.
  if (time->Typing()) return;
  // Whole seconds on both sides, so "earlier by 1 ms or more" is "<". The
  // end may lie before the start: such a range copies little or nothing.
  const int64_t chosen = Seconds(Compose(date, time));
  if (chosen < Seconds(m_diskStart))
    Show(date, time, m_diskStart);
  else if (chosen > Seconds(m_diskEnd))
    Show(date, time, m_diskEnd);
}

void TCopyForm::StartDateChange() { KeepInsideSpan(StartDate, StartTime); }

void TCopyForm::EndDateChange() { KeepInsideSpan(EndDate, EndTime); }

void TCopyForm::EndCopyThread() {
  if (!m_thread) return;
  m_thread->StopCopy();
  m_thread->Terminate();
  m_thread->WaitFor();
  delete m_thread;
  m_thread = nullptr;
}

void TCopyForm::ShowIdle() {
  SaveBtn->setEnabled(true);
  StopBtn->setEnabled(false);
}

void TCopyForm::SaveBtnClick() {
  EndCopyThread();
  // A time still being typed is finished first, and kept inside the span.
  for (TTimeEdit *field : {StartTime, EndTime}) field->clearFocus();
  StartDateChange();
  EndDateChange();
  const SYSTEMTIME start = ChosenStart();
  const SYSTEMTIME end = ChosenEnd();
  if (Seconds(end) < Seconds(start)) {
    Inform(Tr(m_captions, TextKey::End_before_start), Tr(m_captions, TextKey::Warning));
    return;
  }
  QString type = Tr(m_captions, TextKey::Clip_type);
  const QString chosen = ChooseSaveFile(
      QStringLiteral("%1;;%2;;%3")
          .arg(type, Tr(m_captions, TextKey::Matroska_type), Tr(m_captions, TextKey::Mp4_type)),
      QString::fromStdString(recorder::DefaultClipName(start)), &type);
  if (chosen.isEmpty()) return;
  const QString name = NameForType(chosen, type);
  recorder::ExportOptions options;
  options.format = recorder::ExportFormatOfName(name.toStdString());
  // The span's end as offered is the recording's last second, which is
  // copied too: entries at the chosen end are otherwise left out.
  SYSTEMTIME copyEnd = end;
  if (Seconds(end) == Seconds(m_diskEnd))
    copyEnd = orvan::RecorderSecondsToSystemTime(Seconds(end) + 1);
  m_askedStart = start;
  m_askedEnd = end;
  m_thread = new recorder::CopyHDDThread(
      this, m_driveNumber, start, copyEnd, name.toStdString(),
      [this](const std::string &text) { Inform(QString::fromStdString(text), windowTitle()); },
      platform::ReplacePolicy::kReplaceExisting,  // the save dialog has asked
      options);
  m_progress = 0;
  ProgressBar->setValue(0);
  SaveBtn->setEnabled(false);
  StopBtn->setEnabled(true);
  Timer1->start();
}

void TCopyForm::AdvanceDots(int &counter, QString &text, const QString &first) {
  if (counter == 0) {
    text = first;
    ++counter;
  } else if (counter < kDotsPerRow) {
    text += QLatin1Char('.');
    ++counter;
  } else {
    counter = 0;
  }
}

QString TCopyForm::ProgressText() const { return Label3->text(); }

int TCopyForm::ProgressPerMille() const { return ProgressBar->value(); }

void TCopyForm::Timer1Timer() {
  if (!m_thread) return;
  if (m_thread->Done() == 0) {
    if (m_thread->Finished()) {
      // Ended without finishing a clip (the disk's state could not be read,
      // and the user was told): back to idle rather than dots for ever.
      Timer1->stop();
      EndCopyThread();
      ShowIdle();
      Label3->clear();
      m_progress = 0;
      ProgressBar->setValue(0);
      return;
    }
    QString text = Label3->text();
    AdvanceDots(m_progress, text, Tr(m_captions, TextKey::Processing));
    Label3->setText(text);
    // The share of the chosen range behind the last entry examined; entries
    // of the block before the start count as none.
    const int64_t from = m_thread->StartSeconds();
    const int64_t to = m_thread->EndSeconds();
    const int64_t at = m_thread->LastEntrySeconds();
    if (to > from && at > 0)
      ProgressBar->setValue(int(std::clamp<int64_t>((at - from) * 1000 / (to - from), 0, 1000)));
    return;
  }

  Timer1->stop();
  const recorder::CopyFailure failure = m_thread->Failure();
  const int64_t written = m_thread->EntriesWritten();
  const std::string error = m_thread->ErrorText();
  ProgressBar->setValue(1000);
  if (failure == recorder::CopyFailure::None) {
    m_exported = m_thread->Files();
    // What the files hold, beside what was asked for: a clip starts at the
    // first entry of the start's index block.
    auto timeText = [](int64_t seconds) {
      return QString::fromStdString(orvan::FormatRecorderTime(seconds));
    };
    Inform(Tr(m_captions, TextKey::Copy_complete)
               .arg(timeText(m_thread->FirstWrittenSeconds()),
                    timeText(m_thread->LastWrittenSeconds()), timeText(Seconds(m_askedStart)),
                    timeText(Seconds(m_askedEnd))),
           windowTitle());
  } else {
    // A copy whose files or manifest could not all be made is not
    // reported as complete.
    QString text;
    switch (failure) {
      case recorder::CopyFailure::NotRecorderDisk:
        text = Tr(m_captions, TextKey::No_recording);
        break;
      case recorder::CopyFailure::NoEntries:
        text = Tr(m_captions, TextKey::No_entries);
        break;
      case recorder::CopyFailure::NoPictures:
        text = Tr(m_captions, TextKey::No_pictures);
        break;
      case recorder::CopyFailure::EndBeforeStart:
        text = Tr(m_captions, TextKey::End_before_start);
        break;
      default:
        text = QString::fromStdString(error);
        break;
    }
    if (text.isEmpty()) text = Tr(m_captions, TextKey::Not_written);
    ORVAN_LOG_WARN(kLogCategory, "copy ended after %lld entries: %s",
                   static_cast<long long>(written), text.toStdString().c_str());
    Inform(text, Tr(m_captions, TextKey::Warning));
  }
  EndCopyThread();
  ShowIdle();
  Label3->clear();
  m_progress = 0;
}

void TCopyForm::StopBtnClick() {
  if (!AskYesNo(Tr(m_captions, TextKey::Stop_question), Tr(m_captions, TextKey::Warning))) return;
  EndCopyThread();
  ShowIdle();
}

void TCopyForm::CloseBtnClick() {
  if (m_thread) {
    if (!AskYesNo(Tr(m_captions, TextKey::Close_question), Tr(m_captions, TextKey::Warning)))
      return;
    EndCopyThread();
    ShowIdle();
  }
  close();
}

void TCopyForm::FormClose() {
  EndCopyThread();
  ShowIdle();
  Timer1->stop();
}

void TCopyForm::done(int result) {
  FormClose();
  QDialog::done(result);
}

void TCopyForm::keyPressEvent(QKeyEvent *event) {
  // No Escape: the window closes through Close, which asks first while a
  // copy runs.
  if (event->key() == Qt::Key_Escape) {
    event->ignore();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace orvan::app
