// The copy window: the user picks a time range inside the recorder disk's
// span and a file name and type (a clip, lossless Matroska files or MP4
// files, one per channel); CopyHDDThread copies the range in the background,
// with a manifest beside it, while a timer shows progress (a growing row of
// dots and the share of the range done).
//
// Main thread only. The copy thread never calls into the form: the form
// polls Done() every 500 ms and asks for a stop with StopCopy(). The form
// owns the thread: every way out (Save again, Stop, Close, any closing of
// the window) terminates, waits for and deletes it, and the thread closes
// the clip files and its disk handle as it is deleted.
#pragma once

#include <QDialog>
#include <functional>
#include <vector>

#include "app/core/language.h"
#include "platform/wintime.h"
#include "recorder/export/export_sink.h"

class QDateEdit;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimeEdit;
class QTimer;

namespace orvan::recorder {
class CopyHDDThread;
}

namespace orvan::app {

class TTimeEdit;

class TCopyForm : public QDialog {
 public:
  explicit TCopyForm(QWidget *parent = nullptr);
  ~TCopyForm() override;

  // The drive to copy from and its recorded span (its first and last
  // recorded seconds); sets the pickers to it and the window to idle: no
  // progress shown, nothing to stop. An end chosen at the span's end copies
  // the last second too.
  void SetRange(int driveNumber, const SYSTEMTIME &diskStart, const SYSTEMTIME &diskEnd);
  // Every caption and message in the language; the controls grow to fit.
  void ApplyLanguage(const CCaptions &captions);

  void StartDateChange();
  void EndDateChange();
  void SaveBtnClick();
  void StopBtnClick();
  void CloseBtnClick();
  void Timer1Timer();
  // Any closing of the window.
  void FormClose();

  // How the form asks, tells and chooses the file; replaced by tests, which
  // cannot answer modal boxes. ChooseSaveFile offers the file types of
  // `filter` (";;" between them, the first chosen at first) and returns the
  // name, with the type chosen in *selectedFilter.
  std::function<bool(const QString &text, const QString &caption)> AskYesNo;
  std::function<void(const QString &text, const QString &caption)> Inform;
  std::function<QString(const QString &filter, const QString &suggestedName,
                        QString *selectedFilter)>
      ChooseSaveFile;

  // The file types of the save dialog (as English names them), and the
  // name a choice gives: the chosen type's pattern decides the format and
  // the name's extension, in either language.
  static const char kClipFilter[];
  static const char kMatroskaFilter[];
  static const char kMp4Filter[];
  static QString NameForType(const QString &chosenName, const QString &selectedFilter);

  // State read by the tests.
  recorder::CopyHDDThread *CopyThread() const { return m_thread; }
  // The files of the last copy that completed, handed over once.
  std::vector<recorder::ExportedFile> TakeExportedFiles() { return std::move(m_exported); }
  int DriveNumber() const { return m_driveNumber; }
  SYSTEMTIME ChosenStart() const;
  SYSTEMTIME ChosenEnd() const;
  // Picks a side's time (calendar fields of recorder time) as the user
  // would, running the change handler.
  void PickStart(const SYSTEMTIME &time);
  void PickEnd(const SYSTEMTIME &time);
  QString ProgressText() const;
  // Per mille of the chosen range copied.
  int ProgressPerMille() const;

  // One tick of the progress row: `first` ("Processing .") at 0, one more
  // dot up to twenty, then a tick of rest and the counter back to 0.
  static void AdvanceDots(int &counter, QString &text,
                          const QString &first = QStringLiteral("Processing ."));

 protected:
  void done(int result) override;
  void keyPressEvent(QKeyEvent *event) override;

 private:
  void EndCopyThread();
  void ShowIdle();
  void KeepInsideSpan(QDateEdit *date, TTimeEdit *time);

  QLabel *Label1 = nullptr;
  QLabel *Label2 = nullptr;
  QLabel *Label3 = nullptr;
  QDateEdit *StartDate = nullptr;
  TTimeEdit *StartTime = nullptr;
  QDateEdit *EndDate = nullptr;
  TTimeEdit *EndTime = nullptr;
  QPushButton *SaveBtn = nullptr;
  QPushButton *StopBtn = nullptr;
  QPushButton *CloseBtn = nullptr;
  QProgressBar *ProgressBar = nullptr;
  QTimer *Timer1 = nullptr;

  SYSTEMTIME m_diskStart{};
  SYSTEMTIME m_diskEnd{};
  int m_driveNumber = 0;
  int m_progress = 0;  // ticks of the dot row, 0..20
  CCaptions m_captions;
  SYSTEMTIME m_askedStart{};  // the span the running copy was asked for
  SYSTEMTIME m_askedEnd{};
  recorder::CopyHDDThread *m_thread = nullptr;
  std::vector<recorder::ExportedFile> m_exported;  // of the last copy completed
};

}  // namespace orvan::app
