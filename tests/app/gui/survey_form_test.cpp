// The disk survey window on a maker disk with an earlier recording under
// it: opened from the Source Select menu for the open disk, its counts and
// its picture of the disk, a recovery into a clip that then plays in File
// Play, a carve, and Cancel.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/window/live_form.h"
#include "app/window/survey_form.h"
#include "recorder/playback/play_file_thread.h"
#include "recorder/playback/play_hdd_thread.h"
#include "tests/app/gui/window_fixture.h"
#include "tools/sample_recording.h"

namespace fs = std::filesystem;
using orvan::app::TDiskMap;
using orvan::app::TSurveyForm;

namespace {

class SurveyFormTest : public orvan::test::WindowFixture {
 protected:
  std::string MakeDisk(int seconds, int previous, const std::string &name) {
    orvan::tools::SampleOptions o;
    o.outputPath = dir.File(name);
    o.durationSeconds = seconds;
    o.previousSeconds = previous;
    std::string error;
    EXPECT_TRUE(orvan::tools::MakeSampleRecording(o, summary, &error)) << error;
    return o.outputPath;
  }
  // Runs the window's events until the form's worker is done (each turn
  // of the loop waits for events, not for a time).
  void WaitIdle(TSurveyForm *survey) {
    for (int turns = 0; survey->Busy() && turns < 1000000; ++turns) {
      QApplication::processEvents(QEventLoop::AllEvents, 50);
      survey->Poll();
    }
    ASSERT_FALSE(survey->Busy());
  }
  orvan::tools::SampleSummary summary;
};

TEST_F(SurveyFormTest, surveysTheOpenDisk_drawsItsParts_recoversAClipThatPlays_andCarves) {
  const std::string disk = MakeDisk(6, 20, "prev.img");
  UseImages({disk});
  MakeWindow();
  form->show();
  form->HDDPlayClick();

  QAction *item = form->findChild<QAction *>(QStringLiteral("DiskSurveyItem"));
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->text(), QStringLiteral("Disk survey\u2026"));
  ASSERT_NE(form->DiskHandle(), nullptr) << "HDD Play opened the disk";
  item->trigger();
  TSurveyForm *survey = form->SurveyWindow();
  ASSERT_NE(survey, nullptr);
  WaitIdle(survey);
  ASSERT_NE(survey->Survey(), nullptr);
  EXPECT_EQ(survey->Survey()->stale.intact, summary.staleIntact);
  const QString counts = survey->CountsText();
  EXPECT_TRUE(counts.contains(QStringLiteral("Stale: %1 entries, %2 intact, %3 overwritten")
                                  .arg(summary.staleEntries)
                                  .arg(summary.staleIntact)
                                  .arg(summary.staleOverwritten)))
      << counts.toStdString();
  EXPECT_TRUE(counts.contains(QStringLiteral("Held back: 300 entries"))) << counts.toStdString();

  // The picture: the index bar begins with the live part, the data bar
  // with live records; both bars hold the stale parts somewhere.
  TDiskMap *map = survey->Map();
  const QImage shot = map->grab().toImage();
  const QRect ib = map->IndexBar(), db = map->DataBar();
  const int mid = ib.top() + ib.height() / 2;
  EXPECT_EQ(shot.pixelColor(ib.left() + 1, mid), TDiskMap::ColorOf(TDiskMap::Part::kLive));
  EXPECT_EQ(shot.pixelColor(db.left() + 1, db.top() + db.height() / 2),
            TDiskMap::ColorOf(TDiskMap::Part::kLive));
  auto holds = [&](const QRect &bar, TDiskMap::Part part) {
    for (int x = bar.left(); x <= bar.right(); ++x)
      if (shot.pixelColor(x, bar.top() + bar.height() / 2) == TDiskMap::ColorOf(part)) return true;
    return false;
  };
  EXPECT_TRUE(holds(ib, TDiskMap::Part::kStaleIntact));
  EXPECT_TRUE(holds(ib, TDiskMap::Part::kOverwritten));
  EXPECT_TRUE(holds(db, TDiskMap::Part::kStaleIntact));
  EXPECT_TRUE(holds(ib, TDiskMap::Part::kHeldBack));

  // Recover into a clip, as the file dialog would answer.
  const std::string clip = dir.File("recovered.in");
  survey->ChooseRecoverFile = [&](const QString &filter) {
    EXPECT_TRUE(filter.contains(QStringLiteral("*.mkv")));
    return QString::fromStdString(dir.File("recovered"));  // the clip's extension is added
  };
  survey->findChild<QPushButton *>(QStringLiteral("RecoverBtn"))->click();
  WaitIdle(survey);
  ASSERT_TRUE(survey->LastRecovery().ok) << survey->LastRecovery().error;
  EXPECT_TRUE(fs::exists(clip));
  EXPECT_TRUE(survey->StatusText().startsWith(
      QStringLiteral("Recovered %1 entries").arg(300 + summary.staleIntact)))
      << survey->StatusText().toStdString();

  // Carve into a folder: the disk's index is whole, so nothing is found,
  // and the manifest says so.
  survey->ChooseCarveFolder = [&] { return QString::fromStdString(dir.File("carved")); };
  survey->findChild<QPushButton *>(QStringLiteral("CarveBtn"))->click();
  WaitIdle(survey);
  EXPECT_TRUE(fs::exists(dir.File("carved/carve.manifest.json")));
  EXPECT_EQ(survey->StatusText(),
            QStringLiteral("0 pictures carved into %1")
                .arg(QString::fromStdString(dir.File("carved/carve.manifest.json"))));

  // A report of the disk now carries the survey and the carve.
  const std::string report = dir.File("report.html");
  std::string sha256, error;
  ASSERT_TRUE(form->WriteExamReport(report, "C-1", "E", &sha256, &error)) << error;
  std::ifstream in(report);
  const std::string html((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(html.find("Beyond the index"), std::string::npos);
  EXPECT_NE(html.find(std::to_string(summary.staleIntact)), std::string::npos);

  // Cancel while nothing runs closes the window.
  survey->findChild<QPushButton *>(QStringLiteral("CancelBtn"))->click();
  EXPECT_FALSE(survey->isVisible());

  // The recovered clip plays in File Play like any clip.
  form->FilePlayClick();
  form->ChooseOpenFile = [&](const QString &) { return QString::fromStdString(clip); };
  form->OpenBtnClick();
  ASSERT_NE(form->ClipThread(), nullptr);
  EXPECT_TRUE(messages.empty()) << messages.front().first.toStdString();
}

TEST_F(SurveyFormTest, withoutAnOpenDisk_itSaysWhatToDo_andRussianCaptions) {
  MakeWindow();
  form->show();
  form->DiskSurveyClick();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].first, QStringLiteral("Open a recorder disk in HDD Play first."));
  EXPECT_EQ(form->SurveyWindow(), nullptr);

  // The window's own captions in Russian come from the language file.
  TSurveyForm survey;
  const orvan::app::LanguageTexts texts =
      orvan::app::ReadLanguageFile(orvan::test::SourceDir() + "/app/Language_Russian.ini");
  survey.ApplyLanguage(orvan::app::CCaptions(1, texts));
  EXPECT_EQ(survey.windowTitle(), QString::fromUtf8("Обзор диска"));
  EXPECT_EQ(survey.findChild<QPushButton *>(QStringLiteral("RecoverBtn"))->text(),
            QString::fromUtf8("Восстановить\u2026"));
}

}  // namespace
