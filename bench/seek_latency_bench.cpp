// Prints how long a click on the play bar, and an arrow key, take from the
// input event to the pictures of the asked time on screen: the median and
// the longest of 20 jumps to places spread over the recording, played at
// recording speed in HDD Play. "landing" is the exact seek (the picture at
// the asked time, decoded from the key picture before it); "key wait" is
// the play-bar jump that lands on an index block and waits for each
// channel's next key picture, for comparison.
//
//   seek_latency_bench DISK [--jumps N]    (default 20)
#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/window/event_form.h"
#include "app/window/live_form.h"
#include "platform/disk_source.h"
#include "recorder/playback/play_hdd_thread.h"
#include "tests/support/test_support.h"

using namespace orvan::app;

namespace {

void Mouse(QWidget *w, QEvent::Type type, int x) {
  const QPointF local(x, 11);
  QMouseEvent event(type, local, w->mapToGlobal(local), Qt::LeftButton,
                    type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                    Qt::NoModifier);
  QApplication::sendEvent(w, &event);
}

// Every tile shows a picture of `seconds` (or the second after, the round
// of pictures at the place), or the wait gave up (-1 ms).
double WaitForPictures(TLiveForm &form, QElapsedTimer &since, int64_t seconds) {
  while (since.elapsed() < 5000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    bool all = true;
    for (int ch = 0; ch < 4 && all; ++ch) {
      const int64_t shown = form.Viewer(ch)->ShownSeconds();
      all = shown >= seconds && shown <= seconds + 1;
    }
    if (all) return double(since.nsecsElapsed()) / 1e6;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return -1;
}

void Print(const char *what, std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  const size_t missed = size_t(std::count(ms.begin(), ms.end(), -1.0));
  ms.erase(ms.begin(), ms.begin() + std::ptrdiff_t(missed));
  if (ms.empty()) {
    std::printf("%-28s no jump landed\n", what);
    return;
  }
  std::printf("%-28s median %7.1f ms  max %7.1f ms  (%zu jumps%s)\n", what, ms[ms.size() / 2],
              ms.back(), ms.size(), missed ? ", some never landed within 5 s" : "");
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DISK [--jumps N]\n", argv[0]);
    return 2;
  }
  const std::string disk = argv[1];
  int jumps = 20;
  for (int i = 2; i + 1 < argc; ++i)
    if (!std::strcmp(argv[i], "--jumps")) jumps = std::max(1, std::atoi(argv[i + 1]));
  orvan::test::SetTestEnvironment();
  QApplication app(argc, argv);
  InstallSynchronizeWakeup();
  orvan::test::TempDir dir;
  setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
  orvan::DriveTable::SetProcess(orvan::DriveTable({disk}, dir.File("none")));

  LiveForm = new TLiveForm;
  EventForm = new TEventForm(LiveForm);
  LiveForm->Inform = [](const QString &, const QString &) {};
  LiveForm->show();
  LiveForm->HDDPlayClick();
  auto *player = LiveForm->DiskThread();
  if (!player) {
    std::fprintf(stderr, "%s: no recorder disk\n", disk.c_str());
    return 1;
  }
  QTest::qWaitFor([&] { return !LiveForm->RecordingMap().Empty(); }, 30000);
  LiveForm->PlayBtnClick();
  QTest::qWait(2000);
  auto *bar = LiveForm->findChild<QWidget *>("PlayBarImage");
  auto *knob = LiveForm->findChild<QWidget *>("PlayBarBtn");
  const int width = bar->width();
  // Places spread over the bar, never near the one before.
  std::vector<int> places;
  for (int k = 0; k < jumps; ++k) places.push_back(20 + (k * 7 % jumps) * (width - 60) / jumps);

  std::vector<double> landing, keyWait, arrows;
  for (int x : places) {
    const int64_t asked = LiveForm->RecordingMap().TimeAt(LiveForm->PlayBarEntryAt(x));
    QElapsedTimer since;
    since.start();
    Mouse(bar, QEvent::MouseButtonPress, x);
    Mouse(bar, QEvent::MouseButtonRelease, x);
    landing.push_back(WaitForPictures(*LiveForm, since, asked));
    QTest::qWait(300);
  }
  for (int k = 0; k < jumps; ++k) {
    const int64_t from = LiveForm->ShownRecorderSeconds();
    const int key =
        from > LiveForm->RecordingMap().FirstTime() + 20 && (k % 2) ? Qt::Key_Left : Qt::Key_Right;
    const int64_t asked = from + (key == Qt::Key_Left ? -10 : 10);
    if (asked >= LiveForm->RecordingMap().LastTime()) {
      QTest::keyClick(LiveForm, Qt::Key_Left);
      QTest::qWait(300);
      continue;
    }
    QElapsedTimer since;
    since.start();
    QTest::keyClick(LiveForm, Qt::Key(key));
    arrows.push_back(WaitForPictures(*LiveForm, since, asked));
    QTest::qWait(300);
  }
  for (int x : places) {
    const int64_t asked = LiveForm->RecordingMap().TimeAt(LiveForm->PlayBarEntryAt(x));
    QElapsedTimer since;
    since.start();
    // The jump as it was: the knob's place, an index block, the next key
    // pictures.
    player->Pause();
    knob->move(bar->x() + x, knob->y());
    LiveForm->PlayBar().buttonLeft.store(bar->x() + x);
    player->RequestSeek();
    player->Play();
    keyWait.push_back(WaitForPictures(*LiveForm, since, asked));
    QTest::qWait(300);
  }
  std::printf("seek latency, input event to the asked time's pictures on all four tiles:\n");
  Print("bar click, key wait (before)", keyWait);
  Print("bar click, landing (after)", landing);
  Print("arrow keys, landing (after)", arrows);

  delete LiveForm;
  LiveForm = nullptr;
  EventForm = nullptr;
  RemoveSynchronizeWakeup();
  return 0;
}
