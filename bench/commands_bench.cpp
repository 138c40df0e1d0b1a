// Prints how long the window's commands take on a 60-second sample
// recording: a snapshot of the playing panel (capture + JPEG), and copying
// the recording's span into a clip through the copy window, with a plain
// copy of the image file as peer.
// Each step runs a few times; the median is printed.
//
//   commands_bench [--runs N]
#include <QApplication>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/window/copy_form.h"
#include "app/window/event_form.h"
#include "app/window/live_form.h"
#include "app/window/save_form.h"
#include "bench/bench_disk.h"
#include "bench/bench_figures.h"
#include "platform/disk_source.h"
#include "recorder/export/copy_hdd_thread.h"
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
  orvan::tools::SampleSummary summary;
  if (!orvan::test::MakeBenchDisk(dir, options, summary)) return 1;
  std::printf("sample: %lld entries, %.1f MiB of records\n",
              static_cast<long long>(summary.entries), double(summary.dataBytes) / 1048576.0);

  LiveForm = new TLiveForm;
  EventForm = new TEventForm(LiveForm);
  CopyForm = new TCopyForm(LiveForm);
  SaveForm = new TSaveForm(LiveForm);
  LiveForm->Inform = [](const QString &, const QString &) {};
  LiveForm->show();
  LiveForm->HDDPlayClick();
  if (!LiveForm->DiskThread()) return 1;
  LiveForm->PlayBtnClick();
  QTest::qWait(1000);

  std::vector<double> jpeg, copy, peer;
  const QString shot = QString::fromStdString(dir.File("shot.jpg"));
  LiveForm->ChooseSaveFile = [&](const QString &, const QString &) { return shot; };
  for (int r = 0; r < runs; ++r) {
    const auto t0 = Clock::now();
    LiveForm->SnapShotBtnClick();
    jpeg.push_back(Ms(Clock::now() - t0));
    QTest::qWait(50);
  }
  const SYSTEMTIME start = LiveForm->DiskThread()->DiskStartTime();
  const SYSTEMTIME end = LiveForm->DiskThread()->DiskEndTime();
  LiveForm->FilePlayClick();  // the disk player ends; the copy has the disk to itself

  // The copy window by itself, on the whole recording; the timer is not
  // waited for, only the thread.
  TCopyForm form;
  form.Inform = [](const QString &, const QString &) {};
  int64_t written = 0;
  for (int r = 0; r < runs; ++r) {
    const std::string clip = dir.File("clip" + std::to_string(r) + ".in");
    form.ChooseSaveFile = [&](const QString &, const QString &, QString *) {
      return QString::fromStdString(clip);
    };
    form.SetRange(0, start, end);  // the span the disk player reports
    const auto t0 = Clock::now();
    form.SaveBtnClick();
    auto *thread = form.CopyThread();
    if (!thread || !orvan::test::WaitUntil([&] { return thread->Done() == 1; })) return 1;
    copy.push_back(Ms(Clock::now() - t0));
    written = thread->EntriesWritten();
    form.Timer1Timer();

    const auto p0 = Clock::now();
    std::filesystem::copy_file(options.outputPath, dir.File("peer.img"),
                               std::filesystem::copy_options::overwrite_existing);
    peer.push_back(Ms(Clock::now() - p0));
  }

  Report("snapshot while playing (capture + JPEG 80 + write)", jpeg);
  Report("copy window: range to clip (thread until done)", copy);
  Report("peer: plain copy of the whole image file", peer);
  std::printf("copied %lld entries; copy / peer = %.2f\n", static_cast<long long>(written),
              Median(copy) / std::max(0.001, Median(peer)));

  delete LiveForm;
  LiveForm = nullptr;
  EventForm = nullptr;
  CopyForm = nullptr;
  SaveForm = nullptr;
  RemoveSynchronizeWakeup();
  return 0;
}
