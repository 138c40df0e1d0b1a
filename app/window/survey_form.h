// The disk survey window: what the open recorder disk holds beyond its live
// index (recorder/recovery/disk_survey.h), drawn to scale (the index area
// with its live, held-back and stale parts and unreadable sectors; the data
// area with its live, intact-stale, overwritten and unreferenced parts),
// with the counts and spans, and buttons that recover the recoverable
// entries (a clip or Matroska files, through the guarded output) and carve
// the pictures no entry points to (into a folder).
//
// The survey, a recovery and a carve each run on a worker thread of the
// form's, with a handle of its own on the disk; a timer shows their
// progress, and Cancel stops them. Main thread only otherwise: the worker
// never calls into the form. It writes its result and then sets m_finished
// (release); the form reads the result only after it saw the flag and
// joined the worker.
#pragma once

#include <QDialog>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "app/core/language.h"
#include "recorder/recovery/carver.h"
#include "recorder/recovery/disk_survey.h"
#include "recorder/recovery/recovery_export.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace orvan::app {

// The two bars of the disk, to scale.
class TDiskMap : public QWidget {
 public:
  explicit TDiskMap(QWidget *parent = nullptr);
  void SetSurvey(const recorder::DiskSurvey *survey) {
    m_survey = survey;
    update();
  }
  void SetCaptions(const CCaptions &captions) {
    m_captions = captions;
    update();
  }
  QSize sizeHint() const override { return QSize(720, 170); }

  // The colour each part is drawn in (tests look at the pixels).
  enum class Part {
    kLive,
    kHeldBack,
    kStaleIntact,
    kOverwritten,
    kUnreferenced,
    kUnreadable,
    kInvalid,
    kEmpty
  };
  static QColor ColorOf(Part part);
  // The bars' rectangles in the widget.
  QRect IndexBar() const;
  QRect DataBar() const;

 protected:
  void paintEvent(QPaintEvent *event) override;

 private:
  const recorder::DiskSurvey *m_survey = nullptr;
  CCaptions m_captions;
};

class TSurveyForm : public QDialog {
 public:
  explicit TSurveyForm(QWidget *parent = nullptr);
  ~TSurveyForm() override;

  void ApplyLanguage(const CCaptions &captions);
  // Surveys the disk or image at `path` (read-only, a handle of its own).
  void Start(const std::string &path);

  void RecoverBtnClick();
  void CarveBtnClick();
  void CancelBtnClick();

  // The work started by the buttons once their file or folder is chosen.
  void RecoverTo(const std::string &outputPath);
  void CarveInto(const std::string &folder);

  // How the form chooses and tells; replaced by tests.
  std::function<QString(const QString &filter)> ChooseRecoverFile;
  std::function<QString()> ChooseCarveFolder;
  std::function<void(const QString &text)> Inform;

  // State read by the tests.
  bool Busy() const { return m_worker.joinable(); }
  const recorder::DiskSurvey *Survey() const { return m_haveSurvey ? &m_survey : nullptr; }
  const std::string &SurveyedPath() const { return m_path; }
  const recorder::RecoveryResult &LastRecovery() const { return m_recovery; }
  const recorder::CarveResult &LastCarve() const { return m_carve; }
  QString CountsText() const;
  QString StatusText() const;
  TDiskMap *Map() const { return m_map; }
  // Runs the timer's turn at once (tests).
  void Poll() { TimerTick(); }

 protected:
  void done(int result) override;

 private:
  enum class Job { kNone, kSurvey, kRecover, kCarve };
  void Run(Job job, std::function<void()> work);
  void TimerTick();
  // The worker's: how far its work has come, for the timer to show.
  void Progress(uint64_t done, uint64_t total) {
    m_done.store(done, std::memory_order_relaxed);
    m_total.store(total, std::memory_order_relaxed);
  }
  void Finished(Job job);
  void ShowSurvey();
  void EndWorker();
  QString Text(TextKey key) const { return QString::fromStdString(m_captions.Text(key)); }

  TDiskMap *m_map = nullptr;
  QLabel *m_counts = nullptr;
  QLabel *m_status = nullptr;
  QProgressBar *m_progress = nullptr;
  QPushButton *RecoverBtn = nullptr;
  QPushButton *CarveBtn = nullptr;
  QPushButton *CancelBtn = nullptr;
  QTimer *m_timer = nullptr;
  CCaptions m_captions;

  std::string m_path;
  // Shared with the worker: the stop request, its progress, its end.
  std::atomic<bool> m_stop{false};
  std::atomic<uint64_t> m_done{0}, m_total{0};
  std::atomic<bool> m_finished{false};
  std::thread m_worker;
  Job m_job = Job::kNone;
  // Written by the worker, read once it has finished and been joined.
  recorder::DiskSurvey m_survey;
  bool m_surveyMade = false;  // the worker's: a survey was made
  bool m_haveSurvey = false;  // the form's, once the worker is joined
  std::string m_openError;
  recorder::RecoveryResult m_recovery;
  recorder::CarveResult m_carve;
};

}  // namespace orvan::app
