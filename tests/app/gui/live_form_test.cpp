#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <QTimeEdit>
#include <QTimeZone>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/core/configuration.h"
#include "app/window/event_form.h"
#include "app/window/live_form.h"
#include "app/window/picture_control.h"
#include "app/window/termination_signals.h"
#include "display/display_manager.h"
#include "platform/disk_source.h"
#include "recorder/layout/clip_format.h"
#include "recorder/playback/play_file_thread.h"
#include "recorder/playback/play_hdd_thread.h"
#include "tests/app/gui/window_fixture.h"
#include "tests/support/test_support.h"
#include "tools/disk_image.h"
#include "tools/sample_recording.h"

using namespace orvan::app;
using orvan::DriveTable;

namespace {

constexpr uint32_t kStart = orvan::test::kJunkDiskStart;  // 2008-02-14 09:44:57

std::string MakeDisk(const orvan::test::TempDir &dir, const std::string &name, int64_t count = 3000,
                     int events = 8) {
  return orvan::test::MakeJunkDisk(dir, name, count, events);
}

// Waits while running the event loop, which runs the players' calls into
// the window. The limit guards against hangs only.
bool WaitServicing(const std::function<bool()> &cond) { return QTest::qWaitFor(cond, 120000); }

class LiveFormTest : public orvan::test::WindowFixture {
 protected:
  void MakeForm() {
    MakeWindow();
    form->ChooseOpenFile = [this](const QString &filter) {
      filters.push_back(filter);
      return chosenFile;
    };
    form->show();
  }

  template <typename T>
  T *Get(const char *name) {
    T *w = form->findChild<T *>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  QString Text(const char *name) { return Get<QLabel>(name)->text(); }
  QWidget *ViewerPanel(int ch) { return form->Viewer(ch)->Panel(); }
  void WriteLanguageFile(const std::string &content) {
    std::ofstream(dir.File("Language_Russian.ini"), std::ios::binary) << content;
  }
  // Opens two images in HDD Play and waits for the disk player.
  void OpenSampleDisk() {
    UseImages({MakeDisk(dir, "a.img"), MakeDisk(dir, "b.img", 600, 3)});
    form->HDDPlayClick();
    ASSERT_NE(form->DiskThread(), nullptr);
    ASSERT_TRUE(WaitServicing([&] { return form->DiskThread()->DiskValid(); }));
  }

  std::vector<QString> filters;
  QString chosenFile;
};

}  // namespace

TEST_F(LiveFormTest, startUp_showsFilePlayWithItsControls) {
  MakeForm();
  EXPECT_EQ(form->windowTitle(), "ORVAN Viewer");
  // The designed client area, wider by what the English captions need at
  // the window's font (the controls grow rather than shrink their text).
  const int extra = form->centralWidget()->width() - 956;
  EXPECT_GE(extra, 0);
  EXPECT_LT(extra, 40);
  EXPECT_EQ(form->centralWidget()->height(), 559);
  EXPECT_EQ(form->PlaySource(), kFilePlay);
  EXPECT_TRUE(Get<QAction>("FilePlay")->isChecked());
  EXPECT_FALSE(Get<QAction>("HDDPlay")->isChecked());
  EXPECT_TRUE(Get<QPushButton>("OpenBtn")->isVisible());
  EXPECT_FALSE(Get<QComboBox>("DeviceCombo")->isVisible());
  EXPECT_FALSE(Get<QPushButton>("CopyBtn")->isEnabled());
  for (const char *name : {"SearchBtn", "EventBtn"})
    EXPECT_FALSE(Get<QPushButton>(name)->isEnabled()) << name;
  EXPECT_FALSE(Get<QDateEdit>("DatePicker")->isEnabled());
  EXPECT_FALSE(Get<QTimeEdit>("TimePicker")->isEnabled());
  EXPECT_TRUE(Get<QPushButton>("PlayBtn")->isEnabled());
  EXPECT_EQ(Text("NamePanel"), "File Play");
  EXPECT_EQ(Get<QGroupBox>("DeviceGroup")->title(), "File Select");
  EXPECT_EQ(Get<QTimeEdit>("TimePicker")->displayFormat(), " HH : mm : ss");
  EXPECT_EQ(Get<QDateEdit>("DatePicker")->date(), QDate::currentDate());
  EXPECT_TRUE(Get<QDateEdit>("DatePicker")->displayFormat().contains("yyyy"));

  // Places and sizes as designed, the column as wide as its captions.
  EXPECT_EQ(Get<QWidget>("LivePanel")->geometry(), QRect(13, 21, 720, 480));
  EXPECT_EQ(Get<QWidget>("PlayBarImage")->geometry(), QRect(13, 514, 720, 22));
  EXPECT_EQ(Get<QWidget>("PlayBarBtn")->geometry(), QRect(13, 514, 12, 22));
  EXPECT_EQ(Get<QWidget>("NamePanel")->geometry(), QRect(736, 22, 201 + extra, 41));
  EXPECT_EQ(Get<QWidget>("ForwardBtn")->geometry(), QRect(135, 16, 50, 25));
  EXPECT_EQ(Get<QWidget>("SearchGroup")->geometry(), QRect(736, 264, 201 + extra, 105));
  EXPECT_EQ(Get<QWidget>("CloseBtn")->geometry().right(), 856 + 57 - 1 + extra);
  EXPECT_EQ(Get<QWidget>("CloseBtn")->y(), 504);
  for (QPushButton *b : form->findChildren<QPushButton *>()) {
    EXPECT_EQ(b->font().pixelSize(), form->font().pixelSize()) << b->objectName().toStdString();
    EXPECT_LE(b->fontMetrics().horizontalAdvance(b->text()), b->width() - 6)
        << b->objectName().toStdString();
  }

  // The grid is laid out at once: four quarters of the 720 x 480 panel.
  const QRect expected[] = {
      {0, 0, 360, 240}, {360, 0, 360, 240}, {0, 240, 360, 240}, {360, 240, 360, 240}};
  for (int ch = 0; ch < 4; ++ch) {
    ASSERT_NE(ViewerPanel(ch), nullptr);
    EXPECT_EQ(ViewerPanel(ch)->geometry(), expected[ch]);
    EXPECT_TRUE(ViewerPanel(ch)->isVisible());
  }
}

TEST_F(LiveFormTest, hddPlay_withTwoImages_findsBothAndOpensDeviceZero) {
  MakeForm();
  OpenSampleDisk();
  auto *combo = Get<QComboBox>("DeviceCombo");
  ASSERT_EQ(combo->count(), 2);
  EXPECT_EQ(combo->itemText(0), "Device_0");
  EXPECT_EQ(combo->itemText(1), "Device_1");
  EXPECT_EQ(combo->currentIndex(), 0);
  EXPECT_EQ(form->DiskThread()->DriveNumber(), 0);
  EXPECT_EQ(form->PlaySource(), kHddPlay);
  EXPECT_TRUE(combo->isVisible());
  EXPECT_TRUE(Get<QPushButton>("CopyBtn")->isEnabled());
  EXPECT_TRUE(Get<QPushButton>("SearchBtn")->isEnabled());
  EXPECT_TRUE(messages.empty());
  // The event list holds the first disk's log.
  EXPECT_EQ(EventForm->EventGrid()->rowCount(), 8);
  // Nothing plays before Play.
  EXPECT_FALSE(form->DiskThread()->Playing());
  EXPECT_EQ(Text("PlayLabel"), "");

  // Choosing the second disk replaces the player and the event list.
  combo->setCurrentIndex(1);
  form->DeviceComboChange();
  ASSERT_NE(form->DiskThread(), nullptr);
  EXPECT_EQ(form->DiskThread()->DriveNumber(), 1);
  EXPECT_EQ(EventForm->EventGrid()->rowCount(), 3);

  // Choosing the active source again neither stops nor rescans.
  auto *current = form->DiskThread();
  form->HDDPlayClick();
  EXPECT_EQ(form->DiskThread(), current);
  EXPECT_EQ(combo->currentIndex(), 1);
}

TEST_F(LiveFormTest, hddPlay_withoutDisks_showsTheMessageAndKeepsFilePlay) {
  WriteLanguageFile("[STRINGS]\nCantdetectHDDdevice=No recorder disk\n");
  MakeForm();
  form->HDDPlayClick();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].first.startsWith("No recorder disk"));
  EXPECT_EQ(Get<QComboBox>("DeviceCombo")->currentIndex(), -1);
  EXPECT_EQ(form->DiskThread(), nullptr);
  EXPECT_EQ(form->PlaySource(), kFilePlay);
  EXPECT_TRUE(Get<QPushButton>("OpenBtn")->isVisible());
  EXPECT_FALSE(Get<QPushButton>("SearchBtn")->isEnabled());
}

TEST_F(LiveFormTest, playControls_setTheStateText_andDoNothingWithoutAThread) {
  MakeForm();
  form->PlayBtnClick();
  form->ForwardBtnClick();
  form->PauseBtnClick();
  EXPECT_EQ(Text("PlayLabel"), "");

  OpenSampleDisk();
  QTest::mouseClick(Get<QPushButton>("PlayBtn"), Qt::LeftButton);
  EXPECT_EQ(Text("PlayLabel"), "Play");
  EXPECT_TRUE(form->DiskThread()->Playing());
  EXPECT_FALSE(form->DiskThread()->FastForward());
  QTest::mouseClick(Get<QPushButton>("PauseBtn"), Qt::LeftButton);
  EXPECT_EQ(Text("PlayLabel"), "Pause");
  EXPECT_FALSE(form->DiskThread()->Playing());
  // Forward pauses first, so pressing it twice keeps running fast.
  form->ForwardBtnClick();
  form->ForwardBtnClick();
  EXPECT_EQ(Text("PlayLabel"), "FFx20");
  EXPECT_TRUE(form->DiskThread()->Playing());
  EXPECT_TRUE(form->DiskThread()->FastForward());

  // A source change stops the player and empties the state text.
  form->FilePlayClick();
  EXPECT_EQ(form->DiskThread(), nullptr);
  EXPECT_EQ(form->DiskHandle(), nullptr);
  EXPECT_EQ(Text("PlayLabel"), "");
}

TEST_F(LiveFormTest, trackRelease_repositionsInside_andOnlyResumesBeyondTheEnd) {
  MakeForm();
  OpenSampleDisk();
  auto *knob = Get<QWidget>("PlayBarBtn");

  form->PlayBarImageMouseDown(kLeftButton, 100);
  EXPECT_TRUE(form->BarDragging());
  EXPECT_FALSE(form->DiskThread()->Playing());
  form->PlayBarImageMouseUp(kLeftButton, 100);
  EXPECT_FALSE(form->BarDragging());
  EXPECT_EQ(knob->x(), 113);
  EXPECT_EQ(form->PlayBar().buttonLeft.load(), 113);
  EXPECT_EQ(Text("PlayLabel"), "Play");
  EXPECT_TRUE(form->DiskThread()->Playing());

  form->PauseBtnClick();
  const int before = knob->x();
  form->PlayBarImageMouseDown(kLeftButton, 300);
  form->PlayBarImageMouseUp(kLeftButton, 721);
  EXPECT_EQ(knob->x(), before);
  EXPECT_TRUE(form->DiskThread()->Playing());
  EXPECT_EQ(Text("PlayLabel"), "Play");

  // At exactly the track's width the knob sits at the right end.
  form->PauseBtnClick();
  form->PlayBarImageMouseDown(kLeftButton, 720);
  form->PlayBarImageMouseUp(kLeftButton, 720);
  EXPECT_EQ(knob->x(), 13 + 720 - 12);

  // A right press neither pauses nor starts a drag; a release without a
  // press does nothing.
  form->PauseBtnClick();
  form->PlayBarImageMouseDown(kRightButton, 50);
  EXPECT_FALSE(form->BarDragging());
  form->PlayBarImageMouseUp(kLeftButton, 50);
  EXPECT_EQ(Text("PlayLabel"), "Pause");
  EXPECT_FALSE(form->DiskThread()->Playing());
}

TEST_F(LiveFormTest, knobDrag_staysOnTheTrack_andPlaysOnRelease) {
  MakeForm();
  OpenSampleDisk();
  auto *knob = Get<QWidget>("PlayBarBtn");
  form->PlayBarBtnMouseDown(kLeftButton, 5);
  EXPECT_TRUE(form->BarDragging());
  EXPECT_EQ(form->DragX(), 5);
  form->PlayBarBtnMouseMove(-5000);
  EXPECT_EQ(knob->x(), 13);
  form->PlayBarBtnMouseMove(10000);
  EXPECT_EQ(knob->x(), 13 + 720 - 12);
  form->PlayBarBtnMouseUp(kLeftButton, 0);
  EXPECT_FALSE(form->BarDragging());
  EXPECT_EQ(Text("PlayLabel"), "Play");
  EXPECT_TRUE(form->DiskThread()->Playing());

  // Moves without a press change nothing.
  const int dragX = form->DragX();
  form->PlayBarBtnMouseMove(-5000);
  EXPECT_EQ(form->DragX(), dragX);
  EXPECT_EQ(knob->x(), 13 + 720 - 12);
}

namespace {

// A mouse event as the window system would deliver it to w, at x
// (relative to w) on the bar's middle row.
void SendMouse(QWidget *w, QEvent::Type type, int x, Qt::MouseButtons held) {
  const QPointF local(x, 11);
  const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent event(type, local, w->mapToGlobal(local), button, held, Qt::NoModifier);
  QApplication::sendEvent(w, &event);
}

}  // namespace

TEST_F(LiveFormTest, knobDraggedWithTheMouse_followsThePointer_andSeeksThere) {
  MakeForm();
  OpenSampleDisk();
  form->DiskThread()->SetPacingEnabled(false);
  auto *knob = Get<QWidget>("PlayBarBtn");
  form->PauseBtnClick();
  form->MovePlayBarButton(300);  // where the player left it
  ASSERT_EQ(knob->x(), 300);

  // Taken at its 6th pixel; each move is reported relative to the knob
  // where it stands at that moment.
  SendMouse(knob, QEvent::MouseButtonPress, 6, Qt::LeftButton);
  EXPECT_TRUE(form->BarDragging());
  SendMouse(knob, QEvent::MouseMove, 6 + 4, Qt::LeftButton);  // 4 px right
  EXPECT_EQ(knob->x(), 304);
  SendMouse(knob, QEvent::MouseMove, 6 - 10, Qt::LeftButton);  // 10 px back
  EXPECT_EQ(knob->x(), 294);
  SendMouse(knob, QEvent::MouseMove, 6, Qt::LeftButton);  // the pointer rests
  EXPECT_EQ(knob->x(), 294);
  // Far beyond either end: held at the track's ends.
  SendMouse(knob, QEvent::MouseMove, 6 - 2000, Qt::LeftButton);
  EXPECT_EQ(knob->x(), 13);
  SendMouse(knob, QEvent::MouseMove, 6 + 5000, Qt::LeftButton);
  EXPECT_EQ(knob->x(), 13 + 720 - 12);
  SendMouse(knob, QEvent::MouseMove, 6 - (721 - 200), Qt::LeftButton);
  EXPECT_EQ(knob->x(), 200);
  SendMouse(knob, QEvent::MouseButtonRelease, 6, Qt::NoButton);
  EXPECT_FALSE(form->BarDragging());
  EXPECT_EQ(Text("PlayLabel"), "Play");
  // The player shows the knob's place at once: 187 of 720 pixels of 3000
  // entries is entry 779, recorded at kStart + 77 (a pixel spans four
  // entries, the round of pictures there one more).
  ASSERT_TRUE(WaitServicing([&] { return form->DiskThread()->FirstPlayedTime() != 0; }));
  EXPECT_NEAR(double(form->DiskThread()->FirstPlayedTime()), double(kStart + 77), 1.0);
}

TEST_F(LiveFormTest, search_asksTheDiskPlayerForThePickedTime) {
  MakeForm();
  OpenSampleDisk();
  form->DiskThread()->SetPacingEnabled(false);
  // Entry 1000 is recorded at kStart + 100: the search shows it, not the
  // start of its index block (entry 512, kStart + 51).
  const QDateTime picked = QDateTime::fromSecsSinceEpoch(kStart + 100, Qt::UTC);
  Get<QDateEdit>("DatePicker")->setDate(picked.date());
  Get<QTimeEdit>("TimePicker")->setTime(picked.time());
  form->PauseBtnClick();
  EXPECT_EQ(Text("PlayLabel"), "Pause");
  QTest::mouseClick(Get<QPushButton>("SearchBtn"), Qt::LeftButton);
  ASSERT_TRUE(WaitServicing([&] { return form->DiskThread()->FirstPlayedTime() != 0; }));
  EXPECT_EQ(form->DiskThread()->FirstPlayedTime(), kStart + 100);
  EXPECT_TRUE(form->DiskThread()->Playing());
  // The label says what the player does: it plays from the place found.
  EXPECT_EQ(Text("PlayLabel"), "Play");

  // In File Play the search does nothing.
  form->FilePlayClick();
  form->SearchBtnClick();
  EXPECT_EQ(form->DiskThread(), nullptr);
}

TEST_F(LiveFormTest, eventDoubleClick_jumpsToTheEventAndClosesTheList) {
  MakeForm();
  OpenSampleDisk();
  form->DiskThread()->SetPacingEnabled(false);
  QTableWidget *grid = EventForm->EventGrid();
  EXPECT_EQ(grid->horizontalHeaderItem(0)->text(), "Num");
  EXPECT_EQ(grid->horizontalHeaderItem(3)->text(), "Type");
  // The Time column fits its text (it was cut at 128 pixels).
  EXPECT_GE(grid->columnWidth(2),
            QFontMetrics(grid->font()).horizontalAdvance(grid->item(0, 2)->text()));
  form->PauseBtnClick();
  EventForm->show();
  // Row 5 (event at kStart + 100) is table row 4.
  grid->setCurrentCell(4, 0);
  EXPECT_EQ(grid->item(4, 0)->text(), "5");
  EventForm->EventGridDblClick();
  EXPECT_FALSE(EventForm->isVisible());
  ASSERT_TRUE(WaitServicing([&] { return form->DiskThread()->FirstPlayedTime() != 0; }));
  // On the event's own second, not at the start of its index block.
  EXPECT_EQ(form->DiskThread()->FirstPlayedTime(), kStart + 100);
  EXPECT_TRUE(form->DiskThread()->Playing());
  EXPECT_EQ(Text("PlayLabel"), "Play");
}

TEST_F(LiveFormTest, viewerZoom_channelTwo_andQuadQuarters) {
  MakeForm();
  form->OnViewerDblClick(2);
  EXPECT_EQ(form->Layout().ZoomCode(), 3);
  EXPECT_EQ(ViewerPanel(2)->geometry(), QRect(0, 0, 720, 480));
  EXPECT_FALSE(ViewerPanel(0)->isVisible());
  form->OnViewerDblClick(2);
  EXPECT_EQ(form->Layout().ZoomCode(), 0);
  EXPECT_TRUE(ViewerPanel(0)->isVisible());

  form->SetRecordingLayout(1);
  EXPECT_EQ(DisplayMode, 0);
  EXPECT_EQ(form->Layout().ZoomCode(), 5);
  EXPECT_FALSE(ViewerPanel(1)->isVisible());
  // Clicks reach the window through the viewer's own panel.
  QTest::mousePress(ViewerPanel(0), Qt::LeftButton, {}, QPoint(360, 100));
  QTest::mouseRelease(ViewerPanel(0), Qt::LeftButton, {}, QPoint(360, 100));
  QTest::mouseDClick(ViewerPanel(0), Qt::LeftButton, {}, QPoint(360, 100));
  EXPECT_EQ(form->Layout().ZoomCode(), 7);
  form->OnViewerDblClick(0);
  EXPECT_EQ(form->Layout().ZoomCode(), 5);
  form->OnViewerMouseDown(0, kLeftButton, 360, 240);
  form->OnViewerDblClick(0);
  EXPECT_EQ(form->Layout().ZoomCode(), 9);
  form->SetRecordingLayout(0);
  EXPECT_EQ(DisplayMode, 1);
}

TEST_F(LiveFormTest, fullScreen_takesTheScreen_andEscapeOrRightReleaseLeavesIt) {
  MakeForm();
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  ASSERT_EQ(screen.size(), QSize(1280, 1024));
  const QRect normalPanel = Get<QWidget>("LivePanel")->geometry();

  form->FormKeyPress(27);  // outside full screen: nothing
  EXPECT_FALSE(form->IsFullScreen());

  form->FullScreenBtnClick();
  EXPECT_TRUE(form->IsFullScreen());
  // Only the video: the panel takes the whole screen, no menu, no status
  // line.
  EXPECT_EQ(form->geometry().size(), QSize(1280, 1024));
  EXPECT_EQ(Get<QWidget>("LivePanel")->geometry(), QRect(0, 0, 1280, 1024));
  EXPECT_EQ(Get<QWidget>("LivePanel")->mapTo(form, QPoint(0, 0)), QPoint(0, 0));
  EXPECT_FALSE(form->menuBar()->isVisible());
  EXPECT_FALSE(form->statusBar()->isVisible());
  EXPECT_EQ(ViewerPanel(0)->geometry(), QRect(0, 0, 640, 512));
  EXPECT_EQ(ViewerPanel(3)->geometry(), QRect(640, 512, 640, 512));
  EXPECT_FALSE(Get<QPushButton>("FullScreenBtn")->isEnabled());
  EXPECT_FALSE(Get<QAction>("HDDPlay")->isEnabled());

  form->OnViewerMouseUp(0, kLeftButton, 5, 5);
  EXPECT_TRUE(form->IsFullScreen());
  form->OnViewerMouseUp(0, kRightButton, 5, 5);
  EXPECT_FALSE(form->IsFullScreen());
  EXPECT_EQ(Get<QWidget>("LivePanel")->geometry(), normalPanel);
  EXPECT_TRUE(form->menuBar()->isVisible());
  EXPECT_TRUE(form->statusBar()->isVisible());
  // Leaving full screen enables every listed control, whatever the source.
  EXPECT_TRUE(Get<QPushButton>("SearchBtn")->isEnabled());
  EXPECT_TRUE(Get<QPushButton>("CopyBtn")->isEnabled());

  form->FullScreenBtnClick();
  form->FormKeyPress(27);
  EXPECT_FALSE(form->IsFullScreen());
  EXPECT_EQ(ViewerPanel(3)->geometry(), QRect(360, 240, 360, 240));
}

TEST_F(LiveFormTest, russian_captionsFollowTheSource_andAMissingKeyReadsZero) {
  WriteLanguageFile(
      "[STRINGS]\nFile_Play=Файлы\nFile_Select=Выбор файла\nHDD_Play=Диск\n"
      "Image_Play=Снимок\nPlay=Пуск\nWarning=Внимание\nClose_Player=Закрыть?\n");
  MakeForm();
  auto *combo = Get<QComboBox>("LanguageCombo");
  combo->setCurrentIndex(1);
  form->LanguageComboChange();
  EXPECT_EQ(form->Language(), 1);
  EXPECT_EQ(Text("NamePanel"), "Файлы");
  EXPECT_EQ(Get<QGroupBox>("DeviceGroup")->title(), "Выбор файла");
  EXPECT_EQ(Get<QGroupBox>("PlayGroup")->title(), "Пуск");
  EXPECT_EQ(Get<QPushButton>("PlayBtn")->text(), "Пуск");
  EXPECT_EQ(Get<QPushButton>("PauseBtn")->text(), "0");
  EXPECT_EQ(Get<QAction>("FilePlay")->text(), "Файлы");
  form->ImagePlayClick();
  EXPECT_EQ(Text("NamePanel"), "Снимок");
  EXPECT_EQ(Get<QGroupBox>("DeviceGroup")->title(), "Выбор файла");

  // The choice is remembered as one byte.
  std::string stored = orvan::test::ReadFileText(ConfigurationPath());
  EXPECT_EQ(stored, "1");

  combo->setCurrentIndex(0);
  form->LanguageComboChange();
  EXPECT_EQ(Text("NamePanel"), "Image Play");
  EXPECT_EQ(Get<QGroupBox>("DeviceGroup")->title(), "File Select");
  EXPECT_EQ(Get<QPushButton>("PauseBtn")->text(), "Pause");
  EXPECT_EQ(Get<QPushButton>("OpenBtn")->text(), "Load File");

  // Each language asks in its own words: English in English.
  form->CloseBtnClick();
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0].first, "Close the player?");
  EXPECT_EQ(questions[0].second, "Warning");
  combo->setCurrentIndex(1);
  form->LanguageComboChange();
  form->CloseBtnClick();
  ASSERT_EQ(questions.size(), 2u);
  EXPECT_EQ(questions[1].first, "Закрыть?");
  EXPECT_EQ(questions[1].second, "Внимание");
  EXPECT_TRUE(form->isVisible());
}

TEST_F(LiveFormTest, storedLanguage_isAppliedAtStartUp) {
  WriteLanguageFile("[STRINGS]\nFile_Play=Файлы\n");
  ASSERT_TRUE(WriteLanguageSetting(ConfigurationPath(), 1));
  MakeForm();
  EXPECT_EQ(form->Language(), 1);
  // Each language is listed by its own name.
  EXPECT_EQ(Get<QComboBox>("LanguageCombo")->currentText(), "Русский");
  EXPECT_EQ(Text("NamePanel"), "Файлы");
}

TEST(ClipCompanion, cutsAtTheFirstLowerCaseDotIn) {
  EXPECT_EQ(orvan::recorder::CompanionDataName("/clips/cam1.in"), "/clips/cam1.da");
  EXPECT_EQ(orvan::recorder::CompanionDataName("/clips/CAM1.IN"), "/clips/CAM1.IN.da");
  EXPECT_EQ(orvan::recorder::CompanionDataName("/clips/a.index.in"), "/clips/a.da");
  EXPECT_EQ(orvan::recorder::CompanionDataName("/x.in/clip"), "/x.in/clip.da");
  EXPECT_EQ(orvan::recorder::CompanionDataName("clip.in"), "clip.da");
}

TEST_F(LiveFormTest, clipOpen_looksForTheCompanionByTheCaseSensitiveRule) {
  MakeForm();
  std::ofstream(dir.File("CAM1.IN")) << "x";
  chosenFile = QString::fromStdString(dir.File("CAM1.IN"));
  form->OpenBtnClick();
  ASSERT_EQ(filters.size(), 1u);
  EXPECT_TRUE(filters[0].startsWith("IN files (*.in"));
  // CAM1.da is not the companion of CAM1.IN.
  std::ofstream(dir.File("CAM1.da")) << "x";
  form->OpenBtnClick();
  EXPECT_EQ(form->ClipThread(), nullptr);
  EXPECT_EQ(form->ClipFiles(), nullptr);

  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().first, QString::fromStdString("Cannot open " + dir.File("CAM1.IN.da") +
                                                          ": No such file or directory"));

  // With its companion, a one-byte index is refused as too short, by name.
  std::ofstream(dir.File("CAM1.IN.da")) << "x";
  form->OpenBtnClick();
  EXPECT_EQ(form->ClipFiles(), nullptr);
  EXPECT_EQ(form->ClipThread(), nullptr);
  EXPECT_EQ(messages.back().first,
            QString::fromStdString(dir.File("CAM1.IN") + ": The file too short to play video."));

  form->ImagePlayClick();
  EXPECT_EQ(form->ClipThread(), nullptr);
  EXPECT_EQ(form->ClipFiles(), nullptr);
}

TEST_F(LiveFormTest, imagePlay_hidesThePanelAndDisablesPlaying) {
  MakeForm();
  form->ImagePlayClick();
  EXPECT_TRUE(Get<QWidget>("VideoImage")->isVisible());
  EXPECT_FALSE(Get<QWidget>("LivePanel")->isVisible());
  EXPECT_FALSE(Get<QWidget>("PlayBarBtn")->isVisible());
  EXPECT_FALSE(Get<QPushButton>("PlayBtn")->isEnabled());
  EXPECT_FALSE(Get<QCheckBox>("AudioCheck")->isEnabled());
  EXPECT_TRUE(Get<QAction>("ImagePlay")->isChecked());
  EXPECT_FALSE(Get<QAction>("FilePlay")->isChecked());
  const QImage shown = form->VideoImagePicture();
  ASSERT_FALSE(shown.isNull());
  EXPECT_EQ(shown.pixelColor(5, 5), QColor(Qt::black));
  form->PlayBtnClick();
  EXPECT_EQ(Text("PlayLabel"), "");
}

TEST_F(LiveFormTest, switchingSourcesWhilePlaying_stopsTheDiskPlayer) {
  MakeForm();
  OpenSampleDisk();
  form->PlayBtnClick();
  ASSERT_TRUE(WaitServicing([&] { return form->DiskThread()->LastPlayedTime() != 0; }));
  form->ImagePlayClick();
  EXPECT_EQ(form->DiskThread(), nullptr);
  form->HDDPlayClick();
  ASSERT_NE(form->DiskThread(), nullptr);
  form->PlayBtnClick();
  // Closing while playing stops the player before the disk closes.
  delete form;
  form = nullptr;
}

namespace {

// A .yuv still of `lines` lines, every sample of a plane the same value.
std::string WriteYuv(const orvan::test::TempDir &dir, const std::string &name, uint32_t code,
                     int lines, uint8_t y, uint8_t u, uint8_t v, size_t extraBytes = 0) {
  std::string bytes(8, '\0');
  const uint32_t header[2] = {code, kStart};
  std::memcpy(bytes.data(), header, 8);
  bytes.append(size_t(720) * lines, char(y));
  bytes.append(size_t(360) * (lines / 2), char(u));
  bytes.append(size_t(360) * (lines / 2), char(v));
  bytes.append(extraBytes, '\0');
  std::ofstream(dir.File(name), std::ios::binary) << bytes;
  return dir.File(name);
}

}  // namespace

TEST_F(LiveFormTest, imagePlay_showsAStill_andARefusedFileBlanksItAndSaysWhy) {
  MakeForm();
  form->ImagePlayClick();
  chosenFile = QString::fromStdString(WriteYuv(dir, "white.yuv", 0, 480, 235, 128, 128));
  form->OpenBtnClick();
  ASSERT_EQ(filters.size(), 1u);
  EXPECT_TRUE(filters[0].startsWith("YUV files (*.yuv"));
  QImage shown = form->VideoImagePicture();
  ASSERT_EQ(shown.size(), QSize(720, 480));
  // Y = 235 with neutral chroma is (254, 254, 254) away from the stamp.
  EXPECT_EQ(shown.pixelColor(100, 100), QColor(254, 254, 254));

  // Cancelling the dialog changes nothing.
  const QString white = chosenFile;
  chosenFile.clear();
  form->OpenBtnClick();
  EXPECT_EQ(form->VideoImagePicture().pixelColor(100, 100), QColor(254, 254, 254));
  EXPECT_TRUE(messages.empty());

  // A refused still leaves no picture behind, and the message names it.
  const std::pair<std::string, const char *> refused[] = {
      {WriteYuv(dir, "long.yuv", 0, 480, 16, 128, 128, 1),
       "file size does not match its line count"},
      {WriteYuv(dir, "code2.yuv", 2, 480, 16, 128, 128), "line code is neither 0 nor 1"},
      {dir.File("missing.yuv"), "cannot open the file"}};
  for (const auto &[file, why] : refused) {
    chosenFile = white;
    form->OpenBtnClick();
    ASSERT_EQ(form->VideoImagePicture().pixelColor(100, 100), QColor(254, 254, 254));
    chosenFile = QString::fromStdString(file);
    form->OpenBtnClick();
    EXPECT_EQ(form->VideoImagePicture().pixelColor(5, 5), QColor(Qt::black)) << file;
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().first, QString::fromStdString(file + ": " + why));
  }

  // Choosing Image Play again from another source blanks the picture.
  form->FilePlayClick();
  form->ImagePlayClick();
  EXPECT_EQ(form->VideoImagePicture().pixelColor(5, 5), QColor(Qt::black));
}

TEST_F(LiveFormTest, closeRequests_askFirst_andOnlyYesCloses) {
  WriteLanguageFile("[STRINGS]\nWarning=Careful\nClose_Player=Close the player?\n");
  MakeForm();
  answerYes = false;
  form->close();  // as the window manager asks
  EXPECT_TRUE(form->isVisible());
  form->ExitClick();
  EXPECT_TRUE(form->isVisible());
  ASSERT_EQ(questions.size(), 2u);
  // English asks in English, whatever the language file says.
  EXPECT_EQ(questions[1].first, "Close the player?");
  EXPECT_EQ(questions[1].second, "Warning");

  answerYes = true;
  QTest::mouseClick(Get<QPushButton>("CloseBtn"), Qt::LeftButton);
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(questions.size(), 3u);  // asked once, not again by the close itself
}

TEST_F(LiveFormTest, terminationSignals_closeThePlayingWindowWithoutAsking) {
  MakeForm();
  OpenSampleDisk();
  // Playing opens the audio output, whose library must leave the signals
  // to the program.
  form->PlayBtnClick();
  ASSERT_TRUE(WaitServicing([&] { return form->DiskThread()->FirstPlayedTime() != 0; }));
  for (int signal : {SIGTERM, SIGINT}) {
    struct sigaction current {};
    ASSERT_EQ(sigaction(signal, nullptr, &current), 0);
    EXPECT_EQ(current.sa_handler, SIG_DFL) << "signal " << signal << " taken by the audio library";
  }
  int closes = 0;
  TTerminationSignals watcher([&](int) {
    ++closes;
    form->CloseWithoutAsking();
  });
  ASSERT_TRUE(watcher.Installed());
  ASSERT_EQ(raise(SIGTERM), 0);
  ASSERT_TRUE(WaitServicing([&] { return !form->isVisible(); }));
  EXPECT_EQ(closes, 1);
  EXPECT_TRUE(questions.empty());

  form->show();
  ASSERT_EQ(raise(SIGINT), 0);
  ASSERT_TRUE(WaitServicing([&] { return !form->isVisible(); }));
  EXPECT_EQ(closes, 2);
  EXPECT_TRUE(questions.empty());
}

TEST_F(LiveFormTest, about_showsTheProgramVersion) {
  MakeForm();
  form->AboutClick();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].first, "ZanthViewer\n\n ver. 1.0.14.0");
  EXPECT_EQ(messages[0].second, "Version");
}

namespace {

std::string MakeSample(const orvan::test::TempDir &dir, const std::string &name, bool quad) {
  orvan::tools::SampleOptions options;
  options.outputPath = dir.File(name);
  options.durationSeconds = 4;
  options.quad = quad;
  options.events = 3;
  orvan::tools::SampleSummary summary;
  std::string error;
  EXPECT_TRUE(orvan::tools::MakeSampleRecording(options, summary, &error)) << error;
  return options.outputPath;
}

// Mean brightness of a quarter of the video panel as the display manager
// composes it; -1 when there is nothing to capture, or when most of the
// quarter is the plain blue of a window without a picture.
int QuarterBrightness(int quarter) {
  if (!DisplayManager) return -1;
  int w = 0, h = 0;
  const int bytes = DisplayManager->Capture(nullptr, 0, &w, &h, nullptr);
  if (bytes <= 0) return -1;
  std::vector<uint8_t> buffer(static_cast<size_t>(bytes));
  CaptureFormat format;
  if (DisplayManager->Capture(buffer.data(), buffer.size(), &w, &h, &format) != 0 ||
      format.nBitCount != 32)
    return -1;
  const int x0 = (quarter % 2) * w / 2, y0 = (quarter / 2) * h / 2;
  int64_t sum = 0, count = 0, blue = 0;
  for (int y = y0 + h / 8; y < y0 + h / 2 - h / 8; y += 4)
    for (int x = x0 + w / 8; x < x0 + w / 2 - w / 8; x += 4) {
      const uint8_t *p = &buffer[(size_t(y) * w + x) * 4];
      sum += p[0] + p[1] + p[2];
      blue += p[0] == 255 && p[1] == 0 && p[2] == 0;
      ++count;
    }
  if (count == 0 || blue * 2 > count) return -1;
  return int(sum / count);
}

}  // namespace

TEST_F(LiveFormTest, sampleRecording_playsIntoAllFourQuarters_withItsTimeLabels) {
  UseImages({MakeSample(dir, "sample.img", false)});
  MakeForm();
  form->HDDPlayClick();
  ASSERT_NE(form->DiskThread(), nullptr);
  form->PlayBtnClick();
  EXPECT_TRUE(
      WaitServicing([&] { return Text("StartTimeLabel").contains("2008/02/14_09:44:57"); }));
  EXPECT_TRUE(Text("EndTimeLabel").startsWith("End : 2008/02/14_09:4"))
      << Text("EndTimeLabel").toStdString();
  for (int q = 0; q < 4; ++q)
    EXPECT_TRUE(WaitServicing([&] { return QuarterBrightness(q) > 30; })) << "quarter " << q;
  // The knob follows the player.
  EXPECT_TRUE(WaitServicing([&] { return Get<QWidget>("PlayBarBtn")->x() > 13; }));
  EXPECT_EQ(form->Layout().QuadRecording(), 0);
  EXPECT_EQ(DisplayMode, 1);
}

TEST_F(LiveFormTest, layoutChangesWhilePaused_showEveryChannelsLastPictureAgain) {
  UseImages({MakeSample(dir, "sample.img", false)});
  MakeForm();
  form->HDDPlayClick();
  ASSERT_NE(form->DiskThread(), nullptr);
  form->PlayBtnClick();
  for (int q = 0; q < 4; ++q)
    ASSERT_TRUE(WaitServicing([&] { return QuarterBrightness(q) > 30; })) << "quarter " << q;
  form->PauseBtnClick();
  // Each channel in turn enlarged and back to the grid; then full screen
  // and back. Nothing plays meanwhile, so every picture is a redraw.
  for (int channel = 0; channel < 4; ++channel) {
    form->ToggleChannelZoom(channel);
    EXPECT_GT(QuarterBrightness(0), 30) << "channel " << channel << " enlarged";
    form->ToggleChannelZoom(channel);
    for (int q = 0; q < 4; ++q)
      EXPECT_GT(QuarterBrightness(q), 30) << "quarter " << q << " after channel " << channel;
  }
  form->FullScreenBtnClick();
  form->FullScreenBtnClick();
  for (int q = 0; q < 4; ++q)
    EXPECT_GT(QuarterBrightness(q), 30) << "quarter " << q << " after full screen";
  EXPECT_FALSE(form->DiskThread()->Playing());
}

TEST_F(LiveFormTest, quadSample_isShownWholeInViewerZero_andQuartersOnDoubleClick) {
  UseImages({MakeSample(dir, "quad.img", true)});
  MakeForm();
  form->HDDPlayClick();
  form->PlayBtnClick();
  ASSERT_TRUE(WaitServicing([&] { return form->Layout().QuadRecording() == 1; }));
  EXPECT_EQ(DisplayMode, 0);
  EXPECT_EQ(form->Layout().ZoomCode(), 5);
  EXPECT_TRUE(ViewerPanel(0)->isVisible());
  EXPECT_EQ(ViewerPanel(0)->geometry(), QRect(0, 0, 720, 480));
  EXPECT_FALSE(ViewerPanel(1)->isVisible());
  form->OnViewerMouseDown(0, kLeftButton, 600, 400);
  form->OnViewerDblClick(0);
  EXPECT_EQ(form->Layout().ZoomCode(), 9);
  form->OnViewerDblClick(0);
  EXPECT_EQ(form->Layout().ZoomCode(), 5);
}

TEST_F(LiveFormTest, onlyRecorderDisksAreListed_andDeviceTwelveOpensDriveTwelve) {
  std::vector<std::string> images;
  for (int n = 0; n < 12; ++n) {
    // Drives that are not recorder disks: zeros, or text without "VORN".
    const std::string path = dir.File("other" + std::to_string(n) + ".img");
    std::ofstream out(path, std::ios::binary);
    const std::string block = n % 2 ? std::string(524288, '\0') : std::string(524288, 'A');
    out << block;
    images.push_back(path);
  }
  images.push_back(MakeDisk(dir, "recorder.img", 600, 2));
  UseImages(images);
  MakeForm();
  form->HDDPlayClick();
  auto *combo = Get<QComboBox>("DeviceCombo");
  ASSERT_EQ(combo->count(), 1);
  EXPECT_EQ(combo->itemText(0), "Device_12");
  ASSERT_NE(form->DiskThread(), nullptr);
  EXPECT_EQ(form->DiskThread()->DriveNumber(), 12);
  EXPECT_EQ(form->DiskHandle()->Path(), images.back());

  // Choosing the selected item again reopens the drive with a new, paused
  // player.
  form->PlayBtnClick();
  ASSERT_TRUE(form->DiskThread()->Playing());
  form->DeviceComboChange();
  ASSERT_NE(form->DiskThread(), nullptr);
  EXPECT_FALSE(form->DiskThread()->Playing());
  EXPECT_EQ(Text("PlayLabel"), "");
  EXPECT_EQ(form->DiskThread()->DriveNumber(), 12);
}

TEST_F(LiveFormTest, datePicker_showsFourDigitYears_whereTheLocaleUsesTwo) {
  const QLocale before;
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  ASSERT_FALSE(QLocale().dateFormat(QLocale::ShortFormat).contains("yyyy"));
  MakeForm();
  QLocale::setDefault(before);
  auto *picker = Get<QDateEdit>("DatePicker");
  EXPECT_TRUE(picker->displayFormat().contains("yyyy"));
  picker->setDate(QDate(2008, 2, 14));
  EXPECT_TRUE(picker->text().contains("2008")) << picker->text().toStdString();
}

TEST_F(LiveFormTest, clipThatCannotPlay_clearsThePanelAndTimes_andTheMessageNamesIt) {
  UseImages({MakeSample(dir, "sample.img", false)});
  MakeForm();
  form->HDDPlayClick();
  ASSERT_NE(form->DiskThread(), nullptr);
  form->PlayBtnClick();
  for (int q = 0; q < 4; ++q)
    ASSERT_TRUE(WaitServicing([&] { return QuarterBrightness(q) > 30; })) << "quarter " << q;
  ASSERT_TRUE(WaitServicing([&] { return !Text("StartTimeLabel").isEmpty(); }));

  // File Play shows nothing of the disk before a clip is loaded, and says
  // that none is; a clip without a trailer shows nothing either and says
  // what is wrong with it.
  form->FilePlayClick();
  for (int q = 0; q < 4; ++q) EXPECT_LE(QuarterBrightness(q), 30) << "quarter " << q;
  EXPECT_EQ(Text("StartTimeLabel"), "");
  EXPECT_EQ(Text("StatusLabel"), form->Tr(TextKey::No_clip_loaded));
  const std::string bad = dir.File("bad.in");
  std::ofstream(bad, std::ios::binary) << std::string(4096, '\x11');
  std::ofstream(dir.File("bad.da")) << "x";
  chosenFile = QString::fromStdString(bad);
  form->OpenBtnClick();
  EXPECT_EQ(form->ClipThread(), nullptr);
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().first, QString::fromStdString("No clip trailer in " + bad));
  for (int q = 0; q < 4; ++q) EXPECT_LE(QuarterBrightness(q), 30) << "quarter " << q;
  EXPECT_EQ(Text("StartTimeLabel"), "");
  EXPECT_EQ(Text("EndTimeLabel"), "");
  for (int ch = 0; ch < 4; ++ch) EXPECT_EQ(form->Viewer(ch)->ShownSeconds(), -1) << ch;
  // Nothing comes back when the layout draws the viewers again.
  form->ToggleChannelZoom(0);
  form->ToggleChannelZoom(0);
  for (int q = 0; q < 4; ++q) EXPECT_LE(QuarterBrightness(q), 30) << "quarter " << q;
}
