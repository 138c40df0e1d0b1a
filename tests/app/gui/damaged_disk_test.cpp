// The main window on a disk served by the FUSE test file system: a disk
// pulled while playing is said in the window's language and the window
// stays alive; closing it while a read hangs closes it at once; a search of
// a disk whose reads hang is left to the player, never to the window.
#include <gtest/gtest.h>

#include <QDateEdit>
#include <QTest>
#include <QTimeEdit>
#include <filesystem>

#include "app/window/live_form.h"
#include "recorder/playback/play_hdd_thread.h"
#include "tests/app/gui/window_fixture.h"
#include "tests/support/faulty_mount.h"
#include "tests/support/test_support.h"

namespace {

using orvan::test::FaultyMount;

bool WaitServicing(const std::function<bool()> &cond) { return QTest::qWaitFor(cond, 120000); }

class DamagedDiskWindow : public orvan::test::WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    const std::string why = FaultyMount::Unavailable();
    if (!why.empty()) GTEST_SKIP() << "no FUSE file system here: " << why;
    // Ten minutes of entries: playing never reaches the end in a test.
    m_mount = std::make_unique<FaultyMount>(orvan::test::MakeJunkDisk(dir, "d.img", 6000, 3));
    ASSERT_TRUE(m_mount->Started()) << m_mount->Error();
  }
  void TearDown() override {
    // The window goes before its disk's mount does.
    CloseWindow();
    m_mount.reset();
    WindowFixture::TearDown();
  }
  void CloseWindow() {
    delete form;
    form = nullptr;
    orvan::app::LiveForm = nullptr;
    orvan::app::EventForm = nullptr;
  }
  // The window playing the served disk.
  void OpenAndPlay() {
    UseImages({m_mount->Path()});
    MakeWindow();
    form->show();
    form->HDDPlayClick();
    ASSERT_NE(form->DiskThread(), nullptr);
    ASSERT_TRUE(WaitServicing([&] { return form->DiskThread()->DiskValid(); }));
    form->PlayBtnClick();
    ASSERT_TRUE(WaitServicing([&] { return form->DiskThread()->LastPlayedTime() != 0; }));
  }
  bool Said(const QString &text) const {
    for (const auto &m : messages)
      if (m.first == text) return true;
    return false;
  }

  std::unique_ptr<FaultyMount> m_mount;
};

TEST_F(DamagedDiskWindow, diskPulledWhilePlaying_isSaidInTheWindowsLanguage_andTheWindowLivesOn) {
  for (const int language : {0, 1}) {
    SCOPED_TRACE(language);
    std::filesystem::copy_file(orvan::test::SourceDir() + "/app/Language_Russian.ini",
                               dir.File("Language_Russian.ini"),
                               std::filesystem::copy_options::overwrite_existing);
    m_mount->Fail(false);
    OpenAndPlay();
    form->ApplyLanguage(language);
    m_mount->Fail(true);
    const QString text =
        language == 1 ? QString::fromUtf8("Диск перестал отвечать") : "The disk stopped answering";
    ASSERT_TRUE(WaitServicing([&] { return Said(text); }));
    EXPECT_TRUE(form->DiskThread()->DiskGone());
    // Said once, and the window still does what it is asked.
    const auto said = std::count_if(messages.begin(), messages.end(),
                                    [&](const auto &m) { return m.first == text; });
    EXPECT_EQ(said, 1);
    form->PauseBtnClick();
    form->PlayBtnClick();
    QTest::qWait(100);
    EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                            [&](const auto &m) { return m.first == text; }),
              1);
    CloseWindow();
    messages.clear();
  }
}

TEST_F(DamagedDiskWindow, closedWhileAReadHangs_closesWithoutWaitingForTheDisk) {
  OpenAndPlay();
  m_mount->Hold(true);
  ASSERT_TRUE(WaitServicing([&] { return m_mount->Holding(); }));
  CloseWindow();
  // The read the player was in is still held by the disk: the window did
  // not wait for it.
  EXPECT_TRUE(m_mount->Holding());
  m_mount->Hold(false);
}

TEST_F(DamagedDiskWindow, searchOfADiskWhoseReadsHang_isLeftToThePlayer) {
  OpenAndPlay();
  form->PauseBtnClick();
  const uint32_t target = orvan::test::kJunkDiskStart + 300;
  const QDateTime when = QDateTime::fromSecsSinceEpoch(qint64{target}, Qt::UTC);
  form->findChild<QDateEdit *>("DatePicker")->setDate(when.date());
  form->findChild<QTimeEdit *>("TimePicker")->setTime(when.time());
  m_mount->Hold(true);
  form->SearchBtnClick();  // returns with the disk's reads held
  // The player reads for the search on its own thread.
  ASSERT_TRUE(WaitServicing([&] { return m_mount->Holding(); }));
  m_mount->Hold(false);
  ASSERT_TRUE(WaitServicing([&] { return form->DiskThread()->LastPlayedTime() >= target - 60; }));
  EXPECT_GE(form->DiskThread()->SearchedEntry(), 0);
}

}  // namespace
