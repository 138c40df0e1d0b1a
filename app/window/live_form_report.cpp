// The examination report of the open disk ("Report…"), the case log as it
// stands ("Case log…"), and the moments marked as findings.
#include <QDialog>
#include <QInputDialog>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "app/report/report_builder.h"
#include "app/report/report_file.h"
#include "app/report/thumbnail.h"
#include "app/window/live_form.h"
#include "app/window/survey_form.h"
#include "platform/output_file.h"

namespace orvan::app {

void TLiveForm::NoteFinding(uint32_t recorderSeconds, int channel, const std::string &note,
                            const QImage &picture) {
  m_findings.push_back({recorderSeconds, channel, note, report::ThumbnailJpeg(picture)});
  m_caseLog.Bookmark(recorderSeconds, channel, note);
}

bool TLiveForm::WriteExamReport(const std::string &path, const std::string &caseNumber,
                                const std::string &examiner, std::string *sha256,
                                std::string *error) {
  if (!m_diskHandle || m_openDiskPath.empty()) {
    if (error) *error = Tr(TextKey::Rep_no_source).toStdString();
    return false;
  }
  // The report reads the disk on a handle of its own, beside the player's.
  report::BuildOptions options;
  options.caseNumber = caseNumber;
  options.examiner = examiner;
  report::ExamReport content;
  if (!report::BuildExamReport(m_openDiskPath, options, content, error)) return false;
  content.findings = m_findings;
  // The source's bookmarks are findings, each with the picture it showed.
  for (const BookmarkForReport &b : BookmarksForReport())
    content.findings.push_back(
        {b.seconds, b.channel + 1, b.note.toStdString(),
         b.thumbnail.isNull() ? QByteArray() : report::ThumbnailJpeg(b.thumbnail)});
  // A survey of this disk made in the survey window goes in, with what its
  // last carve found.
  if (m_surveyForm && m_surveyForm->Survey() && m_surveyForm->SurveyedPath() == m_openDiskPath)
    content.beyond = report::BeyondIndexOf(
        *m_surveyForm->Survey(), m_surveyForm->LastCarve().manifestPath.empty()
                                     ? -1
                                     : int64_t(m_surveyForm->LastCarve().pictures.size()));
  content.hasLog = true;
  // The report's own line is in the log it carries, written before it.
  m_caseLog.Record(TextKey::Log_report, {{"file", path}});
  content.log = m_caseLog.Entries();
  return report::WriteReportFile(content, m_captions, path,
                                 orvan::platform::ReplacePolicy::kReplaceExisting, sha256, error);
}

void TLiveForm::ReportClick() {
  if (!m_diskHandle) {
    Inform(Tr(TextKey::Rep_no_source), Tr(TextKey::Warning));
    return;
  }
  bool ok = false;
  const QString caseNumber = QInputDialog::getText(
      this, Tr(TextKey::Rep_title), Tr(TextKey::Rep_ask_case), QLineEdit::Normal, QString(), &ok);
  if (!ok) return;
  const QString examiner =
      QInputDialog::getText(this, Tr(TextKey::Rep_title), Tr(TextKey::Rep_ask_examiner),
                            QLineEdit::Normal, QString(), &ok);
  if (!ok) return;
  const QString path = ChooseSaveFile(Tr(TextKey::Rep_files), QStringLiteral("report.pdf"));
  if (path.isEmpty()) return;
  std::string sha256, error;
  if (!WriteExamReport(path.toStdString(), caseNumber.toStdString(), examiner.toStdString(),
                       &sha256, &error)) {
    Inform(Tr(TextKey::Rep_not_written).arg(QString::fromStdString(error)), Tr(TextKey::Warning));
    return;
  }
  Inform(Tr(TextKey::Rep_written).arg(path, QString::fromStdString(sha256)), Tr(TextKey::OK));
}

void TLiveForm::CaseLogClick() {
  auto *dialog = new QDialog(this);
  dialog->setObjectName(QStringLiteral("CaseLogForm"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowTitle(Tr(TextKey::Rep_log));
  auto *text = new QPlainTextEdit(dialog);
  text->setObjectName(QStringLiteral("CaseLogText"));
  text->setReadOnly(true);
  text->setLineWrapMode(QPlainTextEdit::NoWrap);
  text->setPlainText(QString::fromStdString(m_caseLog.Text(m_captions)));
  auto *layout = new QVBoxLayout(dialog);
  layout->addWidget(text);
  dialog->resize(760, 360);
  dialog->show();
}

}  // namespace orvan::app
