// The window at an examiner's pace: keys, picture stepping, speeds, the
// play bar's events and gaps, the event list, time search and resizing,
// driven with synthesized key and mouse events on real players.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "app/window/keys_form.h"
#include "app/window/live_form.h"
#include "display/display_manager.h"
#include "recorder/play_hdd_thread.h"
#include "tests/app/gui/window_fixture.h"
#include "tools/disk_image.h"
#include "tools/sample_recording.h"

using namespace orvan::app;

namespace {

constexpr uint32_t kStart = 1202982297;  // 2008-02-14 09:44:57

bool WaitServicing(const std::function<bool()> &cond) { return QTest::qWaitFor(cond, 120000); }

// Entries of 200 junk bytes (nothing decodes), four channels, ten entries
// a second from kStart; an event every 20 s from kStart + 20. `gapAt`:
// the entry from which the time jumps `gapSeconds` ahead.
std::string MakeDisk(const orvan::test::TempDir &dir, const std::string &name, int64_t count,
                     int64_t gapAt = -1, uint32_t gapSeconds = 0) {
  orvan::tools::RecorderImage image;
  for (int64_t i = 0; i < count; ++i) {
    orvan::recorder::IndexEntry e;
    e.type = (i % 8 == 0) ? 1 : 0;
    e.channel = uint8_t(i % 4);
    e.delayMs = 25;
    e.time = kStart + uint32_t(i / 10) + (gapAt >= 0 && i >= gapAt ? gapSeconds : 0);
    e.size = 200;
    e.offset = image.data.size();
    image.data.insert(image.data.end(), 200, uint8_t(i & 0xFF));
    image.entries.push_back(e);
  }
  for (int k = 0; k < 8; ++k) {
    orvan::recorder::EventRecord r;
    r.kindWord = uint16_t((k % 5 + 1) << 4);
    r.channel = uint8_t(k % 4 + 1);
    r.time = kStart + 20 + 20 * uint32_t(k);
    image.events.push_back(r);
  }
  std::string error;
  const std::string path = dir.File(name);
  EXPECT_TRUE(orvan::tools::WriteRecorderImage(path, image, &error)) << error;
  return path;
}

std::string MakeSample(const orvan::test::TempDir &dir, int seconds = 4) {
  orvan::tools::SampleOptions options;
  options.outputPath = dir.File("sample.img");
  options.durationSeconds = seconds;
  options.events = 3;
  orvan::tools::SampleSummary summary;
  std::string error;
  EXPECT_TRUE(orvan::tools::MakeSampleRecording(options, summary, &error)) << error;
  return options.outputPath;
}

// The video panel as the display manager composes it, B,G,R,x.
std::vector<uint8_t> PanelPixels() {
  if (!DisplayManager) return {};
  int w = 0, h = 0;
  const int bytes = DisplayManager->Capture(nullptr, 0, &w, &h, nullptr);
  if (bytes <= 0) return {};
  std::vector<uint8_t> buffer(static_cast<size_t>(bytes));
  CaptureFormat format;
  if (DisplayManager->Capture(buffer.data(), buffer.size(), &w, &h, &format) != 0) return {};
  return buffer;
}

class ReviewTest : public orvan::test::WindowFixture {
 protected:
  void MakeForm() {
    MakeWindow();
    form->show();
    QApplication::setActiveWindow(form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
  }
  void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(form, Qt::Key(key), modifiers);
  }
  QString Text(const char *name) {
    auto *label = form->findChild<QLabel *>(QString::fromLatin1(name));
    return label ? label->text() : QString();
  }
  void OpenDisk(const std::string &path) {
    UseImages({path});
    form->HDDPlayClick();
    ASSERT_NE(form->DiskThread(), nullptr);
    ASSERT_TRUE(WaitServicing([&] { return form->DiskThread()->DiskValid(); }));
  }
  bool AllPresented() {
    for (int ch = 0; ch < 4; ++ch)
      if (!form->Viewer(ch)->AllPresented()) return false;
    return true;
  }
};

}  // namespace

TEST_F(ReviewTest, space_holdsThePictureStill_andPlaysAgain) {
  MakeForm();
  OpenDisk(MakeSample(dir, 20));
  Key(Qt::Key_Space);
  EXPECT_EQ(Text("PlayLabel"), "Play");
  ASSERT_TRUE(WaitServicing([&] { return form->ShownRecorderSeconds() > 0; }));
  Key(Qt::Key_Space);
  EXPECT_EQ(Text("PlayLabel"), "Pause");
  EXPECT_FALSE(form->DiskThread()->Playing());
  ASSERT_TRUE(WaitServicing([&] { return AllPresented(); }));
  const std::vector<uint8_t> held = PanelPixels();
  const uint64_t played = form->DiskThread()->Counters(0).delivered.load();
  QTest::qWait(300);  // a playing panel would change within this
  EXPECT_EQ(PanelPixels(), held);
  EXPECT_EQ(form->DiskThread()->Counters(0).delivered.load(), played);
  Key(Qt::Key_Space);
  EXPECT_TRUE(form->DiskThread()->Playing());
}

TEST_F(ReviewTest, f1_listsTheKeys_andTooltipsNameThem) {
  MakeForm();
  Key(Qt::Key_F1);
  ASSERT_NE(form->KeysWindow(), nullptr);
  EXPECT_TRUE(form->KeysWindow()->isVisible());
  QStringList keys;
  for (int r = 0; r < form->KeysWindow()->KeyGrid()->rowCount(); ++r)
    keys << form->KeysWindow()->KeyGrid()->item(r, 0)->text();
  for (const char *k : {"Space", "Right", "PgDown", "Ctrl+S", "Ctrl+T", "Ctrl+E", "Ctrl+Q", "F1"})
    EXPECT_TRUE(keys.join(' ').contains(QString::fromLatin1(k))) << k;
  auto tip = [&](const char *name) {
    return form->findChild<QWidget *>(QString::fromLatin1(name))->toolTip();
  };
  EXPECT_TRUE(tip("PlayBtn").contains("Space"));
  EXPECT_TRUE(tip("SnapShotBtn").contains("Ctrl+S"));
  EXPECT_TRUE(tip("EventBtn").contains("Ctrl+E"));
  EXPECT_TRUE(tip("FullScreenBtn").contains("F11"));
  EXPECT_TRUE(tip("CloseBtn").contains("Ctrl+Q"));
}

TEST_F(ReviewTest, arrowsJumpByTime_pageKeysByEvent_digitsEnlarge) {
  MakeForm();
  OpenDisk(MakeDisk(dir, "a.img", 3000));
  auto *player = form->DiskThread();
  player->SetPacingEnabled(false);
  // Up: a minute after the time shown, landing on it (not on the start of
  // its index block, 51 s earlier here).
  form->PlayBtnClick();
  ASSERT_TRUE(WaitServicing([&] { return player->LastPlayedTime() >= kStart + 5; }));
  form->PauseBtnClick();
  const uint32_t from = player->LastPlayedTime();
  Key(Qt::Key_Up);
  ASSERT_TRUE(WaitServicing([&] { return player->ResumedAtTime() != 0; }));
  EXPECT_GE(player->ResumedAtTime(), from + 60);
  EXPECT_LE(player->ResumedAtTime(), from + 61);
  form->PauseBtnClick();
  const uint32_t later = player->LastPlayedTime();
  Key(Qt::Key_Left);
  ASSERT_TRUE(WaitServicing([&] { return player->ResumedAtTime() != 0; }));
  EXPECT_GE(player->ResumedAtTime(), later - 10);
  EXPECT_LE(player->ResumedAtTime(), later - 9);
  form->PauseBtnClick();
  // PgDn from there: the first event after the time shown, which the
  // search reaches from the start of its index block.
  const uint32_t shown = player->LastPlayedTime();
  const uint32_t event = kStart + 20 + 20 * ((shown - kStart) / 20);
  Key(Qt::Key_PageDown);
  ASSERT_TRUE(WaitServicing([&] { return player->ResumedAtTime() != 0; }));
  EXPECT_LE(player->ResumedAtTime(), event);
  EXPECT_GT(player->ResumedAtTime() + 52, event);
  form->PauseBtnClick();

  Key(Qt::Key_2);
  EXPECT_EQ(form->Layout().ZoomedChannel(), 1);
  Key(Qt::Key_4);
  EXPECT_EQ(form->Layout().ZoomedChannel(), 3);
  Key(Qt::Key_0);
  EXPECT_EQ(form->Layout().ZoomedChannel(), -1);
}

TEST_F(ReviewTest, speedKeys_playFasterOrSlower_andTheLabelSaysHowFast) {
  MakeForm();
  OpenDisk(MakeDisk(dir, "a.img", 3000));
  auto *player = form->DiskThread();
  Key(Qt::Key_BracketRight);  // from pause: plays
  EXPECT_TRUE(player->Playing());
  EXPECT_EQ(player->Speed(), 16);
  EXPECT_EQ(Text("PlayLabel"), QStringLiteral("Play \u00d72"));
  for (int i = 0; i < 5; ++i) Key(Qt::Key_BracketRight);
  EXPECT_EQ(player->Speed(), 128);  // 16 times at most
  EXPECT_EQ(Text("PlayLabel"), QStringLiteral("Play \u00d716"));
  Key(Qt::Key_Backspace);
  EXPECT_EQ(Text("PlayLabel"), "Play");
  Key(Qt::Key_BracketLeft);
  EXPECT_EQ(Text("PlayLabel"), QStringLiteral("Play \u00d7\u00bd"));
  for (int i = 0; i < 5; ++i) Key(Qt::Key_BracketLeft);
  EXPECT_EQ(player->Speed(), 1);
  EXPECT_EQ(Text("PlayLabel"), QStringLiteral("Play \u00d7\u215b"));
  form->PlayBtnClick();  // Play is normal speed
  EXPECT_EQ(player->Speed(), 8);
  EXPECT_EQ(Text("PlayLabel"), "Play");
}

namespace {

// The pixels of a quarter of the panel, without the bottom rows where the
// date and time are written over the pictures.
std::vector<uint8_t> QuarterPixels(const std::vector<uint8_t> &panel, int quarter) {
  const int w = 720, h = 480;
  if (panel.size() < size_t(w) * h * 4) return {};
  std::vector<uint8_t> out;
  const int x0 = (quarter % 2) * w / 2, y0 = (quarter / 2) * h / 2;
  for (int y = y0; y < y0 + h / 2 - 30; ++y)
    out.insert(out.end(), panel.begin() + (size_t(y) * w + x0) * 4,
               panel.begin() + (size_t(y) * w + x0 + w / 2) * 4);
  return out;
}

}  // namespace

TEST_F(ReviewTest, stepping_forwardChangesOneChannel_andBackBringsItsPictureAgain) {
  MakeForm();
  OpenDisk(MakeSample(dir, 6));
  form->PlayBtnClick();
  ASSERT_TRUE(WaitServicing([&] {
    for (int ch = 0; ch < 4; ++ch)
      if (form->DiskThread()->Counters(ch).pictures.load() < 12) return false;
    return true;
  }));
  Key(Qt::Key_Period);  // pauses, then steps
  EXPECT_FALSE(form->DiskThread()->Playing());
  EXPECT_EQ(Text("PlayLabel"), "Pause");
  ASSERT_TRUE(WaitServicing([&] { return AllPresented(); }));
  std::vector<uint8_t> before = PanelPixels();
  for (int step = 0; step < 3; ++step) {
    Key(Qt::Key_Period);
    ASSERT_TRUE(WaitServicing([&] { return AllPresented(); }));
    const std::vector<uint8_t> after = PanelPixels();
    int changed = 0, which = -1;
    for (int q = 0; q < 4; ++q)
      if (QuarterPixels(before, q) != QuarterPixels(after, q)) ++changed, which = q;
    EXPECT_EQ(changed, 1) << "step " << step;
    Key(Qt::Key_Comma);
    ASSERT_TRUE(WaitServicing([&] { return AllPresented(); }));
    const std::vector<uint8_t> back = PanelPixels();
    for (int q = 0; q < 4; ++q)
      EXPECT_EQ(QuarterPixels(back, q), QuarterPixels(before, q)) << "quarter " << q;
    // On to the next picture for the next round.
    Key(Qt::Key_Period);
    ASSERT_TRUE(WaitServicing([&] { return AllPresented(); }));
    before = PanelPixels();
    EXPECT_GE(which, 0);
  }
  EXPECT_FALSE(form->DiskThread()->Playing());
}
