// Prints how long the main window's own steps take on a sample recording
// with a full event log: start-up, opening the disk (scan, event list,
// player), a time search, an event jump and a source switch while playing.
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
#include "recorder/play_hdd_thread.h"
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

  std::vector<double> create, open, pause, search, jump, stop;
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
  Report("source switch while playing (stop)", stop);
  RemoveSynchronizeWakeup();
  return 0;
}
