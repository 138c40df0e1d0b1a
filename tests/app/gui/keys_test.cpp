// The window's keys as a user presses them, the key events sent where the
// keyboard focus is: PgDn and PgUp walk the events from the picture shown,
// a click on a button leaves the keys where they were, and a time field
// takes a whole time typed in one go.
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
#include <algorithm>

#include "app/window/copy_form.h"
#include "app/window/event_form.h"
#include "app/window/live_form.h"
#include "app/window/time_edit.h"
#include "recorder/playback/play_hdd_thread.h"
#include "tests/app/gui/window_fixture.h"
#include "tools/sample_recording.h"

using namespace orvan::app;

namespace {

bool WaitServicing(const std::function<bool()> &cond) { return QTest::qWaitFor(cond, 120000); }

class KeysTest : public orvan::test::WindowFixture {
 protected:
  void MakeForm() {
    MakeWindow();
    form->ChooseSaveFile = [this](const QString &, const QString &) {
      ++saveDialogs;
      return QString();  // cancelled
    };
    form->show();
    QApplication::setActiveWindow(form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
  }

  // A recording with an event every few seconds, played at an eighth of
  // its speed: a recorded second lasts eight, so the time shown cannot run
  // past an event between two key presses.
  void OpenEventfulSample(int seconds = 40, int events = 12) {
    orvan::tools::SampleOptions options;
    options.outputPath = dir.File("events.img");
    options.durationSeconds = seconds;
    options.events = events;
    orvan::tools::SampleSummary summary;
    std::string error;
    ASSERT_TRUE(orvan::tools::MakeSampleRecording(options, summary, &error)) << error;
    UseImages({options.outputPath});
    form->HDDPlayClick();
    ASSERT_NE(form->DiskThread(), nullptr);
    ASSERT_TRUE(WaitServicing([&] { return form->DiskThread()->DiskValid(); }));
    ASSERT_TRUE(WaitServicing([&] { return !form->RecordingMap().Empty(); }));
    form->DiskThread()->SetSpeed(1);
    for (const auto &e : EventForm->Events().Records()) eventTimes.push_back(e.time);
    std::sort(eventTimes.begin(), eventTimes.end());
    eventTimes.erase(std::unique(eventTimes.begin(), eventTimes.end()), eventTimes.end());
  }

  // Where the keyboard focus is, as a real key press would find it.
  QWidget *Focus() {
    QWidget *w = QApplication::focusWidget();
    return w ? w : form;
  }
  void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(Focus(), Qt::Key(key), modifiers);
  }
  template <typename T>
  T *Get(const char *name) {
    T *w = form->findChild<T *>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }

  // The first event at least a second after `seconds`, or the last at
  // least a second before it; 0 for none.
  uint32_t EventAfter(int64_t seconds) const {
    for (uint32_t t : eventTimes)
      if (int64_t(t) >= seconds + 1) return t;
    return 0;
  }
  uint32_t EventBefore(int64_t seconds) const {
    uint32_t found = 0;
    for (uint32_t t : eventTimes)
      if (int64_t(t) <= seconds - 1) found = t;
    return found;
  }
  // The jump a key started has landed: the player resumed at `target`,
  // and its picture is on screen. Then the player is paused there.
  void LandAndPause(uint32_t target) {
    ASSERT_TRUE(WaitServicing([&] { return form->DiskThread()->ResumedAtTime() != 0; }));
    EXPECT_EQ(form->DiskThread()->ResumedAtTime(), target) << form->ShownRecorderSeconds();
    ASSERT_TRUE(WaitServicing([&] { return form->ShownRecorderSeconds() >= int64_t(target); }));
    form->PauseBtnClick();
  }

  std::vector<uint32_t> eventTimes;
  int saveDialogs = 0;
};

}  // namespace

TEST_F(KeysTest, pageKeys_walkTheEventsFromThePictureShown_whateverTheListsOrderAndFilters) {
  MakeForm();
  OpenEventfulSample();
  auto *player = form->DiskThread();
  ASSERT_GE(eventTimes.size(), 6u);

  // From the start, nothing shown yet: three presses in a row walk the
  // first three events, each jump counting as shown until its picture is.
  Key(Qt::Key_PageDown);
  Key(Qt::Key_PageDown);
  Key(Qt::Key_PageDown);
  LandAndPause(eventTimes[2]);

  // Paused, PgDn goes to the first event after the time shown, never back.
  for (int press = 0; press < 2; ++press) {
    const int64_t shown = form->ShownRecorderSeconds();
    const uint32_t next = EventAfter(shown);
    ASSERT_NE(next, 0u);
    EXPECT_GT(int64_t(next), shown);
    Key(Qt::Key_PageDown);
    LandAndPause(next);
  }

  // The list sorted by another column and narrowed by a filter changes
  // nothing: next still means the next in time.
  QTableWidget *grid = EventForm->EventGrid();
  grid->sortByColumn(3, Qt::DescendingOrder);
  EventForm->KindFilter()->setCurrentIndex(2);
  const int64_t shown = form->ShownRecorderSeconds();
  Key(Qt::Key_PageDown);
  LandAndPause(EventAfter(shown));

  // PgUp goes to the last event before the time shown, and "Event ▶" at
  // once after it to the event after that one, not the same again.
  const int64_t here = form->ShownRecorderSeconds();
  const uint32_t previous = EventBefore(here);
  ASSERT_NE(previous, 0u);
  Key(Qt::Key_PageUp);
  QTest::mouseClick(Get<QPushButton>("NextEventBtn"), Qt::LeftButton);
  LandAndPause(EventAfter(previous));
  EXPECT_NE(player->ResumedAtTime(), previous);

  // PgUp twice in a row walks back two events.
  const int64_t now = form->ShownRecorderSeconds();
  const uint32_t back1 = EventBefore(now);
  const uint32_t back2 = EventBefore(back1);
  ASSERT_NE(back2, 0u);
  Key(Qt::Key_PageUp);
  Key(Qt::Key_PageUp);
  LandAndPause(back2);
}

// Events the log places outside the recording are passed over by the keys,
// and a jump to one from the list says so instead of going elsewhere.
TEST_F(KeysTest, eventsOutsideTheRecording_arePassedOver_andAJumpToOneSaysSo) {
  MakeForm();
  // 3072 entries at ten a second (the index ends with a sector): 307 s;
  // events every 20 s from 20 s on, the last five of twenty after the end.
  UseImages({orvan::test::MakeJunkDisk(dir, "out.img", 3072, 20)});
  form->HDDPlayClick();
  auto *player = form->DiskThread();
  ASSERT_NE(player, nullptr);
  ASSERT_TRUE(WaitServicing([&] { return player->DiskValid(); }));
  ASSERT_TRUE(WaitServicing([&] { return !form->RecordingMap().Empty(); }));
  player->SetPacingEnabled(false);
  form->PlayBtnClick();
  ASSERT_TRUE(WaitServicing([&] { return player->AtEnd(); }));
  form->PauseBtnClick();
  // At the end: no event after it lies inside the recording.
  const uint32_t resumed = player->ResumedAtTime();
  Key(Qt::Key_PageDown);
  QTest::qWait(50);
  EXPECT_EQ(player->ResumedAtTime(), resumed);
  EXPECT_TRUE(messages.empty());

  // The list's event 20 (table row 19) lies after the recording.
  QTableWidget *grid = EventForm->EventGrid();
  grid->sortByColumn(0, Qt::AscendingOrder);
  grid->setCurrentCell(19, 0);
  EventForm->EventGridDblClick();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].first.contains(QStringLiteral("Nothing was recorded")))
      << messages[0].first.toStdString();
}

TEST_F(KeysTest, aClickOnAButton_leavesTheKeysWithTheWindow_textFieldsKeepTheirTypingKeys) {
  MakeForm();
  OpenEventfulSample(10, 3);
  auto *player = form->DiskThread();
  // At start the keys are the window's, not a picker's.
  EXPECT_FALSE(qobject_cast<QAbstractSpinBox *>(QApplication::focusWidget()));

  // SnapShot, its dialog cancelled: Space then pauses or plays, and the
  // dialog does not come again.
  form->PlayBtnClick();
  QTest::mouseClick(Get<QPushButton>("SnapShotBtn"), Qt::LeftButton);
  EXPECT_EQ(saveDialogs, 1);
  ASSERT_TRUE(player->Playing());
  Key(Qt::Key_Space);
  EXPECT_FALSE(player->Playing());
  EXPECT_EQ(saveDialogs, 1);
  Key(Qt::Key_Space);
  EXPECT_TRUE(player->Playing());

  // Whichever control was clicked last, the digits enlarge a channel.
  const char *controls[] = {"PlayBtn", "PauseBtn", "SearchBtn", "AudioCheck", "NextEventBtn"};
  int channel = 0;
  for (const char *name : controls) {
    QWidget *control = Get<QWidget>(name);
    QTest::mouseClick(control, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    EXPECT_NE(QApplication::focusWidget(), control) << name;
    Key(Qt::Key_1 + channel);
    EXPECT_EQ(form->Layout().ZoomedChannel(), channel) << name;
    Key(Qt::Key_0);
    EXPECT_EQ(form->Layout().ZoomedChannel(), -1) << name;
    channel = (channel + 1) % 4;
  }

  // In the time field, digits are typed, not keys of the window; Enter
  // searches and hands the keys back.
  auto *time = Get<TTimeEdit>("TimePicker");
  QTest::mouseClick(time, Qt::LeftButton, Qt::NoModifier, QPoint(8, time->height() / 2));
  ASSERT_EQ(QApplication::focusWidget(), time);
  form->PauseBtnClick();
  Key(Qt::Key_T, Qt::ControlModifier);
  for (const char c : std::string("094500")) Key(Qt::Key_0 + (c - '0'));
  EXPECT_EQ(time->time(), QTime(9, 45, 0));
  EXPECT_EQ(form->Layout().ZoomedChannel(), -1);
  Key(Qt::Key_Return);
  EXPECT_NE(QApplication::focusWidget(), time);
  ASSERT_TRUE(WaitServicing([&] { return player->ResumedAtTime() != 0; }));
  EXPECT_TRUE(player->Playing());
  Key(Qt::Key_3);
  EXPECT_EQ(form->Layout().ZoomedChannel(), 2);
}

TEST_F(KeysTest, aWholeTimeTyped_withOrWithoutColons_setsAnyTimeField) {
  MakeForm();
  OpenEventfulSample(10, 3);
  auto *time = Get<TTimeEdit>("TimePicker");
  // Ctrl+T highlights the field; the typed time replaces it key by key.
  Key(Qt::Key_T, Qt::ControlModifier);
  ASSERT_EQ(QApplication::focusWidget(), time);
  QTest::keyClicks(Focus(), "094520");
  EXPECT_EQ(time->time(), QTime(9, 45, 20));
  Key(Qt::Key_T, Qt::ControlModifier);
  QTest::keyClicks(Focus(), "9:45:03");
  EXPECT_EQ(time->time(), QTime(9, 45, 3));
  // A digit that fits no time is refused; Backspace takes one back.
  Key(Qt::Key_T, Qt::ControlModifier);
  QTest::keyClicks(Focus(), "0950");
  Key(Qt::Key_Backspace);
  QTest::keyClicks(Focus(), "1");
  EXPECT_EQ(time->time(), QTime(9, 51, 0));
  QTest::keyClicks(Focus(), "7");
  EXPECT_EQ(time->time(), QTime(9, 51, 7));
  Key(Qt::Key_Escape);

  // The copy window's fields, the span of the recording around them: a
  // whole time typed is not cut short at its first digits, and Tab between
  // the sections types section by section.
  auto *copy = new TCopyForm(form);
  SYSTEMTIME start = orvan::RecorderSecondsToSystemTime(orvan::test::kJunkDiskStart);
  SYSTEMTIME end = orvan::RecorderSecondsToSystemTime(orvan::test::kJunkDiskStart + 60);
  copy->SetRange(0, start, end);
  copy->show();
  QApplication::setActiveWindow(copy);
  ASSERT_TRUE(QTest::qWaitForWindowActive(copy));
  auto *startTime = copy->findChild<TTimeEdit *>(QStringLiteral("StartTime"));
  auto *endTime = copy->findChild<TTimeEdit *>(QStringLiteral("EndTime"));
  ASSERT_NE(startTime, nullptr);
  ASSERT_NE(endTime, nullptr);
  startTime->setFocus(Qt::TabFocusReason);
  startTime->selectAll();
  QTest::keyClicks(startTime, "09:45:10");
  endTime->setFocus(Qt::TabFocusReason);  // the start's typing ends, inside the span
  EXPECT_EQ(copy->ChosenStart().wMinute, 45);
  EXPECT_EQ(copy->ChosenStart().wSecond, 10);
  endTime->selectAll();
  QTest::keyClicks(endTime, "09");
  QTest::keyClick(endTime, Qt::Key_Tab);
  QTest::keyClicks(endTime, "45");
  QTest::keyClick(endTime, Qt::Key_Tab);
  QTest::keyClicks(endTime, "20");
  QTest::keyClick(endTime, Qt::Key_Return);
  EXPECT_EQ(copy->ChosenEnd().wHour, 9);
  EXPECT_EQ(copy->ChosenEnd().wMinute, 45);
  EXPECT_EQ(copy->ChosenEnd().wSecond, 20);
  // A time typed past the span is brought back to its end once finished.
  endTime->selectAll();
  QTest::keyClicks(endTime, "101500");
  QTest::keyClick(endTime, Qt::Key_Return);
  EXPECT_EQ(copy->ChosenEnd().wMinute, 45);
  EXPECT_EQ(copy->ChosenEnd().wSecond, 57);
  copy->close();
}

// The window says what it shows: played to its end, the indicator says the
// recording ended (not "Play"); the device box's tooltip names the disk the
// info box describes; Space at the end plays again from where it stands.
TEST_F(KeysTest, atTheEnd_theIndicatorSaysSo_andTheDeviceBoxNamesItsDisk) {
  MakeForm();
  UseImages({orvan::test::MakeJunkDisk(dir, "end.img", 1024, 2)});
  form->HDDPlayClick();
  auto *player = form->DiskThread();
  ASSERT_NE(player, nullptr);
  ASSERT_TRUE(WaitServicing([&] { return player->DiskValid(); }));
  auto *device = Get<QComboBox>("DeviceCombo");
  auto *info = Get<QLabel>("StatusLabel");
  EXPECT_TRUE(device->toolTip().startsWith(QString::fromStdString(dir.File("end.img"))))
      << device->toolTip().toStdString();
  EXPECT_EQ(device->toolTip(), info->toolTip());
  player->SetPacingEnabled(false);
  Key(Qt::Key_Space);
  EXPECT_EQ(Get<QLabel>("PlayLabel")->text(), "Play");
  ASSERT_TRUE(WaitServicing([&] { return player->AtEnd(); }));
  ASSERT_TRUE(WaitServicing([&] { return Get<QLabel>("PlayLabel")->text() == "Ended"; }));
  Key(Qt::Key_Space);  // nothing plays at the end: Space plays, and it ends again
  ASSERT_TRUE(WaitServicing([&] { return Get<QLabel>("PlayLabel")->text() == "Ended"; }));
}

// An open popup keeps its keys: the language list goes down and takes
// Enter, without the window's Down (a minute earlier) or anything else.
TEST_F(KeysTest, anOpenPopup_keepsItsKeys) {
  MakeForm();
  OpenEventfulSample(10, 3);
  auto *player = form->DiskThread();
  const uint32_t resumed = player->ResumedAtTime();
  auto *combo = Get<QComboBox>("LanguageCombo");
  combo->showPopup();
  ASSERT_TRUE(WaitServicing([] { return QApplication::activePopupWidget() != nullptr; }));
  // Keys go to the popup, which holds the keyboard while open.
  QWidget *popup = QApplication::activePopupWidget();
  QWidget *list = popup->focusWidget() ? popup->focusWidget() : popup;
  QTest::keyClick(list, Qt::Key_Down);
  QTest::keyClick(list, Qt::Key_Return);
  ASSERT_TRUE(WaitServicing([] { return QApplication::activePopupWidget() == nullptr; }));
  EXPECT_EQ(combo->currentIndex(), 1);
  EXPECT_EQ(form->Language(), 1);
  EXPECT_EQ(player->ResumedAtTime(), resumed);  // no jump
}
