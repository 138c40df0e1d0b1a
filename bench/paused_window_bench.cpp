// Prints what the main window costs while it does nothing: a recording is
// opened in HDD Play, played for a few seconds and paused, and the process's
// CPU time (user + system, all threads) is measured over the idle period.
// CPU time, not wall time, so other work on the machine does not count.
//
//   paused_window_bench DISK [--seconds N]    (default 10)
#include <sys/resource.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/window/event_form.h"
#include "app/window/live_form.h"
#include "platform/disk_source.h"
#include "recorder/playback/play_hdd_thread.h"
#include "tests/support/test_support.h"

using namespace orvan::app;

namespace {

// Runs the event loop as the program does (QTest::qWait would wake every
// 10 ms of its own).
void RunEventLoop(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DISK [--seconds N]\n", argv[0]);
    return 2;
  }
  const std::string disk = argv[1];
  int idleSeconds = 10;
  for (int i = 2; i + 1 < argc; ++i)
    if (!std::strcmp(argv[i], "--seconds")) idleSeconds = std::max(1, std::atoi(argv[i + 1]));
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
  if (!LiveForm->DiskThread()) {
    std::fprintf(stderr, "%s: no recorder disk\n", disk.c_str());
    return 1;
  }
  LiveForm->PlayBtnClick();
  RunEventLoop(3000);
  LiveForm->PauseBtnClick();
  RunEventLoop(1000);  // the viewers show what they hold

  const double before = ProcessCpuSeconds();
  RunEventLoop(idleSeconds * 1000);
  const double cpu = ProcessCpuSeconds() - before;
  std::printf("paused window: %.3f CPU seconds in %d s (%.2f%% of one core)\n", cpu, idleSeconds,
              cpu / idleSeconds * 100.0);

  delete LiveForm;
  LiveForm = nullptr;
  EventForm = nullptr;
  RemoveSynchronizeWakeup();
  return 0;
}
