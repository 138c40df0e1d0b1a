// The window at an examiner's pace: keys, picture stepping, speeds, the
// play bar's events and gaps, the event list, time search and resizing,
// driven with synthesized key and mouse events on real players.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimeEdit>

#include "app/window/keys_form.h"
#include "app/window/live_form.h"
#include "display/display_manager.h"
#include "recorder/playback/play_hdd_thread.h"
#include "tests/app/gui/window_fixture.h"
#include "tools/disk_image.h"
#include "tools/sample_recording.h"

using namespace orvan::app;

namespace {

constexpr uint32_t kStart = orvan::test::kJunkDiskStart;  // 2008-02-14 09:44:57

bool WaitServicing(const std::function<bool()> &cond) { return QTest::qWaitFor(cond, 120000); }

// Eight events; `gapAt`: the entry from which the time jumps `gapSeconds` ahead.
std::string MakeDisk(const orvan::test::TempDir &dir, const std::string &name, int64_t count,
                     int64_t gapAt = -1, uint32_t gapSeconds = 0) {
  return orvan::test::MakeJunkDisk(dir, name, count, 8, gapAt, gapSeconds);
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
    // The play bar's map is read on a thread of its own and comes after.
    ASSERT_TRUE(WaitServicing([&] { return !form->RecordingMap().Empty(); }));
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
  // The time shown stands beside the play bar.
  ASSERT_TRUE(WaitServicing([&] { return !Text("CurrentTimeLabel").isEmpty(); }));
  EXPECT_TRUE(Text("CurrentTimeLabel").startsWith("2008/02/14_09:4"));
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
  for (const char *k : {"Space", "\u2192", "PgDn", "Ctrl+S", "Ctrl+T", "Ctrl+E", "Ctrl+Q", "F1"})
    EXPECT_TRUE(keys.join(' ').contains(QString::fromUtf8(k))) << k;
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

TEST_F(ReviewTest, playBar_ticksSitAtTheirEvents_gapsAreShaded_andATickClickJumps) {
  MakeForm();
  // Events every 20 s from kStart + 20 (entry 200, 400, ...); from entry
  // 2200 on the time is a minute later.
  OpenDisk(MakeDisk(dir, "g.img", 3000, 2200, 60));
  auto *player = form->DiskThread();
  player->SetPacingEnabled(false);
  const int64_t total = player->Geometry().playEnd;
  auto *bar = form->findChild<QLabel *>("PlayBarImage");
  const int width = bar->width();
  const QImage track = bar->pixmap().toImage();
  ASSERT_EQ(track.width(), width);
  const auto &ticks = form->EventTicks();
  ASSERT_EQ(ticks.size(), 8u);
  for (int k = 0; k < 8; ++k) {
    EXPECT_NEAR(ticks[k].x, double(200 * (k + 1) * width / total), 1.0) << k;
    // Below the overview strip, in the track.
    EXPECT_EQ(track.pixelColor(ticks[k].x, TLiveForm::kOverviewRows + 4),
              TLiveForm::EventKindColour(k % 5 + 1))
        << k;
  }
  ASSERT_EQ(form->RecordingMap().Gaps().size(), 1u);
  EXPECT_EQ(form->RecordingMap().Gaps()[0].entry, 2200);
  const int gapX = int(2200 * width / total);
  const int trackRow = TLiveForm::kOverviewRows + 4;
  EXPECT_NE(track.pixelColor(gapX - 1, trackRow), track.pixelColor(gapX - 30, trackRow));

  // Tooltips: a tick's event, the span without recording, the time there.
  EXPECT_EQ(form->PlayBarTipAt(ticks[2].x), "2008/02/14_09:45:57 Alarm, CH3");
  EXPECT_TRUE(form->PlayBarTipAt(gapX).startsWith("No recording from 2008/02/14_09:48:36 to"));
  EXPECT_EQ(form->PlayBarTipAt(0), "2008/02/14_09:44:57");

  // A click on a tick plays from its event's search block.
  QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(ticks[3].x, 11));
  EXPECT_FALSE(form->BarDragging());
  ASSERT_TRUE(WaitServicing([&] { return player->ResumedAtTime() != 0; }));
  EXPECT_LE(player->ResumedAtTime(), kStart + 80);
  EXPECT_GT(player->ResumedAtTime() + 52, kStart + 80);
  EXPECT_TRUE(player->Playing());
}

TEST_F(ReviewTest, eventList_fitsItsTimes_sorts_filters_andStaysOpenWhenAsked) {
  MakeForm();
  OpenDisk(MakeDisk(dir, "e.img", 3000));
  auto *player = form->DiskThread();
  player->SetPacingEnabled(false);
  QTableWidget *grid = EventForm->EventGrid();
  ASSERT_EQ(grid->rowCount(), 8);
  const QFontMetrics metrics(grid->font());
  for (int r = 0; r < 8; ++r)
    EXPECT_GT(grid->columnWidth(2), metrics.horizontalAdvance(grid->item(r, 2)->text()));
  EventForm->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(EventForm));

  // A click on a header sorts by its column; a second click the other way.
  auto clickHeader = [&](int column) {
    QHeaderView *header = grid->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(column) + 10, 5));
  };
  auto column = [&](int c) {
    QStringList texts;
    for (int r = 0; r < grid->rowCount(); ++r) texts << grid->item(r, c)->text();
    return texts;
  };
  clickHeader(3);
  QStringList types = column(3), sorted = types;
  sorted.sort();
  EXPECT_EQ(types, sorted);
  clickHeader(0);
  clickHeader(0);
  EXPECT_EQ(column(0).front(), "8");
  EXPECT_EQ(column(0).back(), "1");

  auto visibleRows = [&] {
    QList<int> rows;
    for (int r = 0; r < grid->rowCount(); ++r)
      if (!grid->isRowHidden(r)) rows << r;
    return rows;
  };
  EventForm->ChannelFilter()->setCurrentIndex(2);  // CH2: events 2 and 6
  EXPECT_EQ(visibleRows().size(), 2);
  for (int r : visibleRows()) EXPECT_EQ(grid->item(r, 1)->text(), "2");
  EventForm->KindFilter()->setCurrentIndex(3);  // and Alarm: none
  EXPECT_TRUE(visibleRows().isEmpty());
  EventForm->ChannelFilter()->setCurrentIndex(0);  // Alarm on any channel: events 3 and 8
  ASSERT_EQ(visibleRows().size(), 2);

  // Kept open, a double click jumps and the list stays beside the window.
  EventForm->KeepOpenCheck()->setChecked(true);
  EventForm->hide();
  form->EventBtnClick();
  EXPECT_TRUE(EventForm->isVisible());
  EXPECT_FALSE(EventForm->isModal());
  const int row = visibleRows().back();  // sorted by Num descending: event 3
  EXPECT_EQ(grid->item(row, 0)->text(), "3");
  const QRect cell = grid->visualItemRect(grid->item(row, 2));
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
  QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
  ASSERT_TRUE(WaitServicing([&] { return player->ResumedAtTime() != 0; }));
  EXPECT_LE(player->ResumedAtTime(), kStart + 60);
  EXPECT_GT(player->ResumedAtTime() + 52, kStart + 60);
  EXPECT_TRUE(EventForm->isVisible());

  // The window's next-event button: the first event after the time played.
  form->PauseBtnClick();
  const uint32_t shown = player->LastPlayedTime();
  const uint32_t next = kStart + 20 + 20 * ((shown - kStart) / 20);
  QTest::mouseClick(form->findChild<QPushButton *>("NextEventBtn"), Qt::LeftButton);
  ASSERT_TRUE(WaitServicing([&] { return player->ResumedAtTime() != 0; }));
  EXPECT_LE(player->ResumedAtTime(), next);
  EXPECT_GT(player->ResumedAtTime() + 52, next);
}

TEST_F(ReviewTest, timeSearch_startsAtTheRecording_andATimeOutsideItSaysSo) {
  MakeForm();
  OpenDisk(MakeDisk(dir, "t.img", 3000));
  auto *player = form->DiskThread();
  player->SetPacingEnabled(false);
  auto *date = form->findChild<QDateEdit *>("DatePicker");
  auto *time = form->findChild<QTimeEdit *>("TimePicker");
  EXPECT_TRUE(date->calendarPopup());
  EXPECT_EQ(date->date(), QDate(2008, 2, 14));
  EXPECT_EQ(time->time(), QTime(9, 44, 57));

  // A day later: told so, and nothing moves.
  date->setDate(QDate(2008, 2, 15));
  QTest::mouseClick(form->findChild<QPushButton *>("SearchBtn"), Qt::LeftButton);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].first.startsWith("Nothing was recorded at 2008/02/15_09:44:57"));
  EXPECT_EQ(Text("PlayLabel"), "");
  EXPECT_FALSE(player->Playing());
  // Inside it, the search plays from there.
  date->setDate(QDate(2008, 2, 14));
  time->setTime(QTime(9, 46, 37));  // kStart + 100
  QTest::mouseClick(form->findChild<QPushButton *>("SearchBtn"), Qt::LeftButton);
  EXPECT_EQ(messages.size(), 1u);
  ASSERT_TRUE(WaitServicing([&] { return player->ResumedAtTime() != 0; }));
  // The picture of the time itself, not the start of its index block.
  EXPECT_EQ(player->ResumedAtTime(), kStart + 100);
}

TEST_F(ReviewTest,
       theRecordingMap_comesWithoutHoldingTheWindow_keepsATimeTypedMeanwhile_andNotAfterClosing) {
  MakeForm();
  UseImages({MakeDisk(dir, "m.img", 3000)});
  auto *date = form->findChild<QDateEdit *>("DatePicker");
  auto *time = form->findChild<QTimeEdit *>("TimePicker");
  // The map is handed over by the event loop, which has not run yet: what
  // is typed now is typed while it is read.
  form->HDDPlayClick();
  ASSERT_NE(form->DiskThread(), nullptr);
  date->setDate(QDate(2008, 2, 14));
  time->setTime(QTime(9, 46, 37));
  ASSERT_TRUE(WaitServicing([&] { return !form->RecordingMap().Empty(); }));
  EXPECT_EQ(form->RecordingMap().FirstTime(), uint32_t(kStart));
  EXPECT_EQ(time->time(), QTime(9, 46, 37));
  EXPECT_FALSE(form->EventTicks().empty());

  // Closed before its map is handed over: the map of a disk no longer open
  // never arrives.
  ASSERT_TRUE(form->OpenSelectedDisk());
  form->StopPlayback();
  QCoreApplication::processEvents();
  QTest::qWait(50);
  EXPECT_TRUE(form->RecordingMap().Empty());
  EXPECT_TRUE(form->EventTicks().empty());
}

TEST_F(ReviewTest, resizing_growsThePanelAtThreeToTwo_controlsFollowItsEdges_fullScreenComesBack) {
  MakeForm();
  OpenDisk(MakeDisk(dir, "r.img", 3000));
  auto *panel = form->findChild<QWidget *>("LivePanel");
  auto *close = form->findChild<QWidget *>("CloseBtn");
  auto *search = form->findChild<QWidget *>("SearchGroup");
  auto *bar = form->findChild<QLabel *>("PlayBarImage");
  ASSERT_EQ(panel->geometry(), QRect(13, 21, 720, 480));
  const QPoint closeFromCorner = close->pos() - panel->geometry().bottomRight();
  const int searchFromRight = search->x() - panel->geometry().right();
  const int firstTick = form->EventTicks().front().x;

  form->resize(form->width() + 300, form->height() + 150);
  ASSERT_TRUE(QTest::qWaitFor([&] { return panel->width() > 720; }, 10000));
  EXPECT_EQ(panel->width() * 2, panel->height() * 3);
  EXPECT_EQ(panel->height(), 630);  // the room below was the smaller: 150 more rows
  EXPECT_EQ(close->pos() - panel->geometry().bottomRight(), closeFromCorner);
  EXPECT_EQ(search->x() - panel->geometry().right(), searchFromRight);
  // The column's groups spread down the taller window, the search group
  // (the fifth of eight lines) by its share.
  EXPECT_GT(search->y(), 264);
  EXPECT_LT(search->y(), 264 + 150);
  EXPECT_EQ(bar->width(), panel->width());
  EXPECT_EQ(bar->y(), panel->geometry().bottom() + 14);
  EXPECT_EQ(bar->pixmap().width(), bar->width());
  EXPECT_EQ(form->EventTicks().front().x, firstTick * panel->width() / 720);
  // The viewers share the larger panel.
  EXPECT_EQ(form->Viewer(3)->Panel()->geometry(),
            QRect(panel->width() / 2, panel->height() / 2, panel->width() - panel->width() / 2,
                  panel->height() - panel->height() / 2));

  // Full screen and back: the same size and place as before.
  const QRect before = form->geometry();
  const QRect panelBefore = panel->geometry();
  form->FullScreenBtnClick();
  form->FullScreenBtnClick();
  // Bounded waits (a guard against hangs): the window manager's answers come late on a loaded
  // machine.
  EXPECT_TRUE(QTest::qWaitFor([&] { return form->geometry() == before; }, 30000));
  ASSERT_EQ(form->geometry(), before);
  EXPECT_TRUE(QTest::qWaitFor([&] { return panel->geometry() == panelBefore; }, 30000));
  EXPECT_EQ(panel->geometry(), panelBefore);
  EXPECT_EQ(close->pos() - panel->geometry().bottomRight(), closeFromCorner);
}
