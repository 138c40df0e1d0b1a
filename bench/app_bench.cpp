// Prints how long the main window's own steps take on a sample recording
// with a full event log: start-up, opening the disk (scan, event list,
// player), a time search, an event jump, twenty picture steps forward and
// back on the D1 sample (each from the key press to the picture presented)
// and a source switch while playing.
// Each step is timed a few times; the median is printed.
//
//   app_bench [--runs N]
#include <QApplication>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/window/event_form.h"
#include "app/window/live_form.h"
#include "bench/bench_disk.h"
#include "bench/bench_figures.h"
#include "platform/disk_source.h"
#include "recorder/playback/play_hdd_thread.h"
#include "tests/support/test_support.h"
#include "tools/sample_recording.h"

using namespace orvan::app;
using Clock = orvan::test::BenchClock;
using orvan::test::Median;
using orvan::test::Ms;
using orvan::test::Report;

int main(int argc, char **argv) {
  const int runs = orvan::test::RunsOption(argc, argv, 5);
  orvan::test::SetTestEnvironment();
  QApplication app(argc, argv);
  InstallSynchronizeWakeup();

  orvan::test::TempDir dir;
  orvan::tools::SampleOptions options;
  options.events = 14335;  // the largest log a disk holds
  orvan::tools::SampleSummary summary;
  if (!orvan::test::MakeBenchDisk(dir, options, summary)) return 1;
  std::printf("sample: %lld entries, %d events\n", static_cast<long long>(summary.entries),
              options.events);

  std::vector<double> create, open, pause, search, jump, stepForward, stepBack, stop;
  int unanswered = 0;  // pause or step presses that never showed a picture
  auto presented = [] {
    for (int ch = 0; ch < 4; ++ch)
      if (!LiveForm->Viewer(ch)->AllPresented()) return false;
    return true;
  };
  for (int r = 0; r < runs; ++r) {
    auto t0 = Clock::now();
    LiveForm = new TLiveForm;
    EventForm = new TEventForm(LiveForm);
    LiveForm->Inform = [](const QString &, const QString &) {};
    LiveForm->show();
    create.push_back(Ms(Clock::now() - t0));

    t0 = Clock::now();
    LiveForm->HDDPlayClick();
    open.push_back(Ms(Clock::now() - t0));
    if (!LiveForm->DiskThread()) return 1;
    LiveForm->PlayBtnClick();
    QTest::qWait(200);

    t0 = Clock::now();
    LiveForm->DiskThread()->Pause();
    pause.push_back(Ms(Clock::now() - t0));
    LiveForm->PlayBtnClick();
    QTest::qWait(200);

    t0 = Clock::now();
    LiveForm->SearchBtnClick();
    search.push_back(Ms(Clock::now() - t0));
    QTest::qWait(200);

    t0 = Clock::now();
    JumpToEventTime(LiveForm, summary.firstTime + 30);
    jump.push_back(Ms(Clock::now() - t0));
    QTest::qWait(200);

    LiveForm->PauseBtnClick();
    if (!QTest::qWaitFor(presented, 10000)) ++unanswered;
    for (int i = 0; i < 20; ++i) {
      t0 = Clock::now();
      LiveForm->StepKey(1);
      if (!QTest::qWaitFor(presented, 10000)) ++unanswered;
      stepForward.push_back(Ms(Clock::now() - t0));
    }
    for (int i = 0; i < 20; ++i) {
      t0 = Clock::now();
      LiveForm->StepKey(-1);
      if (!QTest::qWaitFor(presented, 10000)) ++unanswered;
      stepBack.push_back(Ms(Clock::now() - t0));
    }

    t0 = Clock::now();
    LiveForm->FilePlayClick();
    stop.push_back(Ms(Clock::now() - t0));

    delete LiveForm;
    LiveForm = nullptr;
    EventForm = nullptr;
  }
  Report("window start-up (FormCreate + FormShow)", create);
  Report("HDD Play: scan, 14335-event list, player", open);
  Report("pause while playing (player's acknowledgement)", pause);
  Report("time search while playing (pause included)", search);
  Report("event jump while playing (pause included)", jump);
  Report("picture step forward, paused (to the picture presented)", stepForward);
  Report("picture step back, paused (silent decode from the key picture)", stepBack);
  for (const auto *steps : {&stepForward, &stepBack}) {
    const double worst = *std::max_element(steps->begin(), steps->end());
    const auto over =
        std::count_if(steps->begin(), steps->end(), [](double ms) { return ms > 100; });
    std::printf("  %s steps: slowest %.1f ms, %lld of %zu over 100 ms\n",
                steps == &stepForward ? "forward" : "back", worst, static_cast<long long>(over),
                steps->size());
  }
  if (unanswered > 0)
    std::printf(
        "  %d pause or step presses showed no picture within 10 s: the step figures "
        "above are not valid\n",
        unanswered);
  Report("source switch while playing (stop)", stop);
  RemoveSynchronizeWakeup();
  return 0;
}
