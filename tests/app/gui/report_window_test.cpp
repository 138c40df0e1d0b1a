// The examination in the window: open a disk, search, take a snapshot,
// write the report; the report's "Examination log" and the case log file
// say what was done, in order, with the snapshot's file and hash.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDateEdit>
#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimeEdit>
#include <filesystem>
#include <fstream>

#include "app/window/copy_form.h"
#include "app/window/live_form.h"
#include "app/window/save_form.h"
#include "platform/digest.h"
#include "recorder/playback/play_hdd_thread.h"
#include "tests/app/gui/window_fixture.h"
#include "tests/app/report/html_reading.h"
#include "tools/sample_recording.h"

using namespace orvan::app;

namespace {

std::string Sha256Of(const std::string &path) {
  orvan::platform::Sha256Digest digest{};
  uint64_t bytes = 0;
  EXPECT_TRUE(orvan::platform::FileSha256(path, digest, bytes, nullptr));
  return orvan::platform::HexOf(digest);
}

class ReportWindowTest : public orvan::test::WindowFixture {};

TEST_F(ReportWindowTest, openSearchSnapshotAndReport_areInTheReportsLogAndTheCaseLogFile) {
  orvan::tools::SampleOptions options;
  options.outputPath = dir.File("exam.img");
  options.durationSeconds = 12;
  options.events = 2;
  orvan::tools::SampleSummary summary;
  std::string error;
  ASSERT_TRUE(orvan::tools::MakeSampleRecording(options, summary, &error)) << error;
  UseImages({options.outputPath});
  MakeWindow();
  CopyForm = new TCopyForm(form);
  SaveForm = new TSaveForm(form);
  const std::string shot = dir.File("shot.jpg");
  form->ChooseSaveFile = [&](const QString &, const QString &) {
    return QString::fromStdString(shot);
  };
  form->show();

  form->HDDPlayClick();
  auto *player = form->DiskThread();
  ASSERT_NE(player, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return player->DiskValid(); }, 120000));
  player->SetPacingEnabled(false);

  // A search 5 s into the recording.
  form->findChild<QDateEdit *>("DatePicker")->setDate(QDate(2008, 2, 14));
  form->findChild<QTimeEdit *>("TimePicker")->setTime(QTime(9, 45, 2));
  QTest::mouseClick(form->findChild<QPushButton *>("SearchBtn"), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return player->ResumedAtTime() != 0; }, 120000));
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        for (int c = 0; c < 4; ++c)
          if (!form->Viewer(c)->AllPresented()) return false;
        return true;
      },
      120000));
  form->PauseBtnClick();
  form->SnapShotBtnClick();
  // A faster play, then a jump to the second event.
  form->ChangeSpeed(+1);
  form->JumpToEvent(summary.firstTime + 4);
  ASSERT_TRUE(std::filesystem::exists(shot));

  // "Case log…" shows the lines as they stand.
  form->CaseLogClick();
  auto *logText = form->findChild<QPlainTextEdit *>("CaseLogText");
  ASSERT_NE(logText, nullptr);
  const std::string shown = logText->toPlainText().toStdString();
  EXPECT_NE(shown.find("source opened  path=" + options.outputPath), std::string::npos) << shown;
  EXPECT_NE(shown.find("search  time=2008/02/14_09:45:02"), std::string::npos) << shown;

  const std::string html = dir.File("exam.html");
  std::string sha256;
  ASSERT_TRUE(form->WriteExamReport(html, "K-3", "A. Examiner", &sha256, &error)) << error;
  EXPECT_EQ(sha256, Sha256Of(html));
  std::ifstream in(html, std::ios::binary);
  const orvan::test::ReadHtml read =
      orvan::test::ParseReportHtml({std::istreambuf_iterator<char>(in), {}});
  ASSERT_TRUE(read.parsed) << read.error;
  EXPECT_NE(read.text.find("Examination log"), std::string::npos);
  // The log's rows: UTC time, action, parameters.
  std::vector<std::vector<std::string>> log;
  for (const auto &row : read.rows)
    if (row.size() == 3 && row[0].size() == 20 && row[0].back() == 'Z') log.push_back(row);
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[0][1], "source opened");
  EXPECT_NE(log[0][2].find("path=" + options.outputPath), std::string::npos);
  EXPECT_EQ(log[1][1], "search");
  EXPECT_EQ(log[1][2], "time=2008/02/14_09:45:02");
  const auto snapshot =
      std::find_if(log.begin(), log.end(), [](const auto &row) { return row[1] == "snapshot"; });
  ASSERT_NE(snapshot, log.end());
  EXPECT_NE(
      (*snapshot)[2].find("file=" + shot + "; sha256=" + Sha256Of(shot) + "; time=2008/02/14_"),
      std::string::npos)
      << (*snapshot)[2];
  const auto action = [&](const std::string &name) {
    return std::find_if(log.begin(), log.end(), [&](const auto &row) { return row[1] == name; });
  };
  ASSERT_NE(action("speed"), log.end());
  EXPECT_EQ((*action("speed"))[2], "speed=2.000x");
  ASSERT_NE(action("event jump"), log.end());
  EXPECT_EQ((*action("event jump"))[2],
            "time=" + orvan::FormatRecorderTime(int64_t{summary.firstTime} + 4));
  EXPECT_LT(snapshot, action("speed"));
  EXPECT_LT(action("speed"), action("event jump"));
  EXPECT_EQ(log.back()[1], "report written");
  EXPECT_EQ(log.back()[2], "file=" + html);

  // The log is a file of the configuration folder, not beside the source.
  const std::string file = form->CaseLog().FilePath();
  EXPECT_EQ(std::filesystem::path(file).parent_path(), dir.Path() / "ORVANCaseLogs")
      << file;  // in XDG_CONFIG_HOME
  std::ifstream logFile(file);
  const std::string written{std::istreambuf_iterator<char>(logFile), {}};
  EXPECT_NE(written.find("snapshot  file=" + shot), std::string::npos) << written;
  EXPECT_NE(written.find("report written  file=" + html), std::string::npos);

  // A bookmark is a finding of the next report, and a line of the log.
  QImage picture(320, 240, QImage::Format_RGB32);
  picture.fill(Qt::darkGreen);
  form->NoteFinding(summary.firstTime + 3, 2, "a car stops", picture);
  ASSERT_TRUE(form->WriteExamReport(html, "K-3", "A. Examiner", &sha256, &error)) << error;
  std::ifstream again(html, std::ios::binary);
  const orvan::test::ReadHtml second =
      orvan::test::ParseReportHtml({std::istreambuf_iterator<char>(again), {}});
  bool finding = false;
  for (const auto &row : second.rows)
    finding = finding || (row.size() == 4 && row[0] == "2008/02/14_09:45:00" && row[1] == "2" &&
                          row[2] == "a car stops");
  EXPECT_TRUE(finding);
  EXPECT_NE(second.text.find("bookmark"), std::string::npos);
}

}  // namespace
