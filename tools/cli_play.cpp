#include "tools/cli_play.h"

#include <signal.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "display/display_grabber.h"
#include "display/display_manager.h"
#include "display/filter_object.h"
#include "display/widgets/viewer.h"
#include "display/widgets/widget_window.h"
#include "media/avi_writer.h"
#include "media/snapshot_jpeg.h"
#include "platform/disk_source.h"
#include "platform/output_file.h"
#include "platform/thread.h"
#include "platform/wintime.h"
#include "recorder/clip_format.h"
#include "recorder/headless_host.h"
#include "recorder/play_file_thread.h"
#include "recorder/play_hdd_thread.h"
#include "tools/cli_report.h"

namespace orvan::tools {
namespace {

using recorder::kChannelCount;

constexpr int kPanelWidth = 720;
constexpr int kPanelHeight = 480;
// How long a stopped play waits for the viewers to show what they hold.
constexpr std::chrono::seconds kPresentWaitLimit{60};

const char kPlayUsage[] =
    "usage: orvan-cli play SOURCE [--image PATH]... [--drive N] [--from WHEN] [--duration "
    "SECONDS]\n"
    "                      [--fast] [--no-pacing] [--audio] [--snapshot FILE.jpg] [--avi "
    "FILE.avi]\n"
    "                      [--overwrite] [--strict] [--json]\n"
    "SOURCE is a disk image or block device, or a clip's .in file. --overwrite lets the\n"
    "snapshot and the AVI replace existing files; --strict exits 5 when a damaged source\n"
    "played only in part. SIGINT and SIGTERM stop at once (exit 130, 143), the AVI whole.\n";

// The signal that asked play to stop, 0 for none. Set by the handler, read
// by the play loop's tick.
std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

void NoteStopSignal(int signal) { g_stopSignal.store(signal); }

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = NoteStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

struct PlayOptions {
  std::vector<std::string> images;
  std::string source;
  int drive = -1;
  std::optional<uint32_t> from;
  double durationSeconds = -1;  // to the end
  bool fast = false;
  bool pacing = true;
  bool audio = false;
  bool json = false;
  bool overwrite = false;
  bool strict = false;
  std::string snapshot;
  std::string avi;

  platform::ReplacePolicy Policy() const {
    return overwrite ? platform::ReplacePolicy::kReplaceExisting
                     : platform::ReplacePolicy::kKeepExisting;
  }
};

int Usage(const std::string &error) {
  std::fputs(kPlayUsage, stderr);
  if (!error.empty()) std::fprintf(stderr, "%s\n", error.c_str());
  return 1;
}

bool EndsWithIn(const std::string &path) {
  if (path.size() < 3) return false;
  std::string tail = path.substr(path.size() - 3);
  std::transform(tail.begin(), tail.end(), tail.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return tail == ".in";
}

bool ParsePlayArgs(std::vector<std::string> args, PlayOptions &o, std::string &error) {
  args.insert(args.begin(), "orvan-cli");
  o.images = TakeImageOptions(args);
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string &s = args[i];
    auto value = [&](std::string &out) {
      if (i + 1 >= args.size()) {
        error = s + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    std::string v;
    if (s == "--json") {
      o.json = true;
    } else if (s == "--fast") {
      o.fast = true;
    } else if (s == "--no-pacing") {
      o.pacing = false;
    } else if (s == "--audio") {
      o.audio = true;
    } else if (s == "--overwrite") {
      o.overwrite = true;
    } else if (s == "--strict") {
      o.strict = true;
    } else if (s == "--drive") {
      if (!value(v)) return false;
      char *end = nullptr;
      const long n = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end || n < 0 || n > 1000) {
        error = "--drive needs a drive number";
        return false;
      }
      o.drive = int(n);
    } else if (s == "--from") {
      if (!value(v)) return false;
      int64_t seconds = 0;
      if (!ParseRecorderTime(v, seconds) || seconds < 0 || seconds > int64_t{UINT32_MAX}) {
        error = "not a time: \"" + v + "\" (use \"YYYY-MM-DD hh:mm:ss\" or recorder seconds)";
        return false;
      }
      o.from = uint32_t(seconds);
    } else if (s == "--duration") {
      if (!value(v)) return false;
      char *end = nullptr;
      o.durationSeconds = std::strtod(v.c_str(), &end);
      if (v.empty() || *end || !(o.durationSeconds > 0) || o.durationSeconds > 1e7) {
        error = "--duration needs a positive number of seconds";
        return false;
      }
    } else if (s == "--snapshot") {
      if (!value(o.snapshot)) return false;
    } else if (s == "--avi") {
      if (!value(o.avi)) return false;
    } else if (s.size() > 1 && s[0] == '-') {
      error = "unknown option: " + s;
      return false;
    } else if (o.source.empty()) {
      o.source = s;
    } else {
      error = "more than one SOURCE";
      return false;
    }
  }
  if (o.drive >= 0) {
    const DriveTable table(o.images);
    const DriveInfo *info = table.Find(o.drive);
    if (!info) {
      error = "No such drive: " + std::to_string(o.drive);
      return false;
    }
    o.source = info->path;
  }
  if (o.source.empty()) {
    error = "no SOURCE given";
    return false;
  }
  return true;
}

// A viewer as the playback thread sees it.
class ViewerSink final : public IViewerSink {
 public:
  explicit ViewerSink(CViewer &viewer) : m_viewer(viewer) {}
  void Command(int code, void *parameter) override { m_viewer.Command(code, parameter); }

 private:
  CViewer &m_viewer;
};

// The four viewers in the panel, laid out as the recording asks: the 2 x 2
// grid, or viewer 0 alone showing a quad recording's composed picture.
class Panel {
 public:
  explicit Panel(QWidget *live) {
    for (int c = 0; c < kChannelCount; ++c) {
      m_viewers[c].Create(2, live, 0, c);
      m_viewers[c].m_channel = c;
      bool off = false;
      m_viewers[c].Command(kCmdCaptionVisible, &off);
      m_viewers[c].Command(kCmdTimeLabel, &off);
      m_sinks[c] = std::make_unique<ViewerSink>(m_viewers[c]);
    }
    Layout(0);
  }

  void Layout(int quad) {
    for (auto &v : m_viewers) v.Hide();
    if (quad == 1) {
      RECT whole{0, 0, kPanelWidth, kPanelHeight};
      m_viewers[0].Command(kCmdSetRect, &whole);
      m_viewers[0].Show();
    } else {
      const int hw = kPanelWidth / 2, hh = kPanelHeight / 2;
      for (int c = 0; c < kChannelCount; ++c) {
        const int col = c & 1, row = c >> 1;
        RECT r{col * hw, row * hh, col ? kPanelWidth : hw, row ? kPanelHeight : hh};
        m_viewers[c].Command(kCmdSetRect, &r);
      }
      for (auto &v : m_viewers) v.Show();
    }
    int32_t mode = quad == 1 ? 5 : 0;
    m_viewers[0].Command(kCmdDisplayMode, &mode);
    m_layout = quad;
  }

  std::array<IViewerSink *, kChannelCount> Sinks() {
    return {m_sinks[0].get(), m_sinks[1].get(), m_sinks[2].get(), m_sinks[3].get()};
  }
  CViewerVornMP4IPCamera *Camera(int c) {
    return dynamic_cast<CViewerVornMP4IPCamera *>(m_viewers[c].Impl());
  }
  // Every viewer has presented every picture it was handed.
  bool AllPresented() {
    for (int c = 0; c < kChannelCount; ++c) {
      CViewerVornMP4IPCamera *camera = Camera(c);
      if (camera && camera->Filter() && !camera->Filter()->AllPresented()) return false;
    }
    return true;
  }
  int LayoutValue() const { return m_layout; }

 private:
  std::array<CViewer, kChannelCount> m_viewers;
  std::array<std::unique_ptr<ViewerSink>, kChannelCount> m_sinks;
  int m_layout = 0;
};

class CliHost final : public recorder::HeadlessHost {
 public:
  explicit CliHost(Panel &panel) : HeadlessHost(true), m_panel(panel) {}
  void SetRecordingLayout(int layout) override {
    HeadlessHost::SetRecordingLayout(layout);
    m_panel.Layout(layout);
  }

 private:
  Panel &m_panel;
};

bool SaveSnapshot(const std::string &path, platform::ReplacePolicy policy, std::string &error) {
  CDisplayManager *manager = DisplayManager;
  int width = 0, height = 0;
  const int bytes = manager ? manager->Capture(nullptr, 0, &width, &height, nullptr) : 0;
  if (bytes <= 0) {
    error = "nothing to capture";
    return false;
  }
  std::vector<uint8_t> pixels(static_cast<size_t>(bytes));
  CaptureFormat format;
  if (manager->Capture(pixels.data(), pixels.size(), &width, &height, &format) != 0) {
    error = "capture failed";
    return false;
  }
  media::Capture capture{pixels.data(), pixels.size(), width, height, format.nBitCount};
  if (!media::SaveSnapshotJpeg(capture, path, policy, &error)) return false;
  return true;
}

}  // namespace

int RunPlayCommand(const std::vector<std::string> &args) {
  PlayOptions o;
  std::string error;
  if (!ParsePlayArgs(args, o, error)) return Usage(error);

  // Without --audio nothing is played, so no audio device is probed.
  if (!o.audio && qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER"))
    qputenv("SDL_AUDIODRIVER", "dummy");
  // The panel is drawn offscreen unless the caller asked for a platform.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int argc = 1;
  char name[] = "orvan-cli";
  char *argv[] = {name, nullptr};
  QApplication app(argc, argv);
  TThread::SetMainThread();
  TThread::SetSynchronizeWakeup([] {
    QMetaObject::invokeMethod(
        qApp, [] { TThread::CheckSynchronize(); }, Qt::QueuedConnection);
  });

  // Sources first: a refused source needs no window.
  const bool clipSource = EndsWithIn(o.source);
  DiskSource disk;
  recorder::CClipReader clip;
  DamageReport damage;
  if (clipSource) {
    if (!clip.Open(o.source)) {
      std::fprintf(stderr, "cannot open the clip %s and its data file %s: %s\n", o.source.c_str(),
                   recorder::CompanionDataName(o.source).c_str(), clip.LastError().c_str());
      return kExitError;
    }
    CheckClipData(clip, damage);
  } else {
    if (disk.OpenPath(o.source) != DriveOpenStatus::Ok) {
      std::fprintf(stderr, "%s\n", disk.LastError().c_str());
      return kExitError;
    }
    recorder::DiskGeometry geometry;
    if (recorder::ReadGeometry(disk, geometry) == recorder::GeometryStatus::Ok)
      CheckImageLength(disk, geometry, damage);
  }
  // Outputs are refused before anything plays: never a source or a device,
  // an existing file only with --overwrite.
  for (const std::string *output : {&o.snapshot, &o.avi}) {
    if (output->empty()) continue;
    std::string refusal;
    const platform::OutputStatus status = platform::CheckOutputPath(*output, o.Policy(), &refusal);
    if (status == platform::OutputStatus::kOk) continue;
    if (status == platform::OutputStatus::kExists) refusal += " (--overwrite replaces it)";
    std::fprintf(stderr, "%s\n", refusal.c_str());
    return kExitError;
  }

  QWidget window;
  window.resize(kPanelWidth, kPanelHeight);
  auto *live = new QWidget(&window);
  live->setGeometry(0, 0, kPanelWidth, kPanelHeight);
  window.show();
  auto manager = std::make_unique<CDisplayManager>(nullptr, CWidgetWindow::WindowOf(live));
  DisplayManager = manager.get();
  auto panel = std::make_unique<Panel>(live);
  CliHost host(*panel);
  host.SetAudioChecked(o.audio);
  CDisplayGrabber grabber;

  std::unique_ptr<recorder::PlaybackThread> player;
  recorder::PlayHDDThread *diskPlayer = nullptr;
  if (clipSource) {
    player = std::make_unique<recorder::PlayFileThread>(host, &clip, panel->Sinks(), &grabber);
  } else {
    auto p = std::make_unique<recorder::PlayHDDThread>(host, &disk, panel->Sinks(), 0, &grabber);
    diskPlayer = p.get();
    player = std::move(p);
  }
  player->SetPacingEnabled(o.pacing);

  int exitCode = 0;
  if (diskPlayer && !diskPlayer->DiskValid()) {
    const bool stateError = !host.Messages().empty();
    if (!stateError) std::fprintf(stderr, "Not a recorder disk: %s\n", o.source.c_str());
    exitCode = stateError ? 3 : 2;
  }

  // An AVI the writer could not finish says so through its handler: from
  // the player thread while writing, from this one when it is closed.
  std::atomic<bool> aviFailed{false};
  CAviWriter::SetDefaultMessageHandler([&](const std::string &text, const std::string &caption) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    aviFailed.store(true);
  });
  CatchStopSignals();

  const auto started = std::chrono::steady_clock::now();
  bool aviStarted = false;
  if (exitCode == 0) {
    if (diskPlayer && o.from) {
      diskPlayer->Pause();
      diskPlayer->SearchTime(*o.from);
    } else {
      player->Play();
    }
    if (o.fast) player->Forward();
    if (!o.avi.empty()) {
      aviStarted = player->SetAviRecording(o.avi, 0, true, o.Policy());
      if (!aviStarted) exitCode = 1;
    }
  }

  // Runs until the duration is played or the source has nothing more (or
  // its index cannot be read further), then until every viewer has drawn
  // and presented the last picture handed to it, so the snapshot, the AVI
  // and the counts show the end of the span played. That wait is bounded: a
  // viewer that stopped drawing cannot hold the command for ever. A stop
  // signal ends it at the next tick.
  std::optional<std::chrono::steady_clock::time_point> stoppedAt;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const auto now = std::chrono::steady_clock::now();
    const double elapsed = std::chrono::duration<double>(now - started).count();
    const bool refused = player->Finished();
    if (g_stopSignal.load() != 0 || refused || exitCode != 0) {
      app.quit();
      return;
    }
    if (!stoppedAt) {
      const bool done = player->AtEnd() || player->IndexStalled() ||
                        (o.durationSeconds > 0 && elapsed >= o.durationSeconds);
      if (!done) return;
      player->Pause();
      stoppedAt = now;
    }
    // With sound on, what is queued is played out too.
    const bool shown = panel->AllPresented() && !(o.audio && player->AudioPending());
    if (shown || now - *stoppedAt > kPresentWaitLimit) app.quit();
  });
  tick.start(50);
  app.exec();

  const int stopSignal = g_stopSignal.load();
  player->Pause();
  if (aviStarted) player->EndAviRecording();
  CAviWriter::SetDefaultMessageHandler(nullptr);
  if (aviFailed.load() && exitCode == 0) exitCode = kExitError;
  if (!o.snapshot.empty() && exitCode == 0 && stopSignal == 0) {
    std::string snapError;
    if (!SaveSnapshot(o.snapshot, o.Policy(), snapError)) {
      std::fprintf(stderr, "%s\n", snapError.c_str());
      exitCode = kExitError;
    }
  }
  damage.readErrors += player->ReadErrors();
  damage.skippedRecords += player->SkippedRecords();
  if (player->IndexStalled())
    damage.Warn("the index cannot be read at entry " + std::to_string(player->StalledAt()) +
                ": playing ends there");
  if (player->SkippedRecords())
    damage.Warn(std::to_string(player->SkippedRecords()) +
                " entries were not played: their records cannot be read or they are damaged");
  if (auto *filePlayer = dynamic_cast<recorder::PlayFileThread *>(player.get());
      filePlayer && filePlayer->Refused() && exitCode == 0)
    exitCode = 2;

  // The report, before the player and viewers go.
  if (o.json) {
    std::printf(
        "{\"source\": \"%s\", \"layout\": %d, \"first\": \"%s\", \"last\": \"%s\", "
        "\"firstSeconds\": %u, \"lastSeconds\": %u, \"aviPictures\": %llu, "
        "\"audioBlocks\": %llu, \"underruns\": %u, \"channels\": [",
        clipSource ? "clip" : "disk", panel->LayoutValue(),
        player->FirstPlayedTime() ? FormatRecorderTime(int64_t(player->FirstPlayedTime())).c_str()
                                  : "",
        player->LastPlayedTime() ? FormatRecorderTime(int64_t(player->LastPlayedTime())).c_str()
                                 : "",
        player->FirstPlayedTime(), player->LastPlayedTime(),
        (unsigned long long)player->AviPictures(), (unsigned long long)player->AudioBlocksQueued(),
        player->AudioUnderruns());
    for (int c = 0; c < kChannelCount; ++c) {
      const auto &counters = player->Counters(c);
      CViewerVornMP4IPCamera *camera = panel->Camera(c);
      VornFilterObj *filter = camera ? camera->Filter() : nullptr;
      int64_t lastShown = 0;
      if (filter && filter->PresentedPictures() > 0) {
        SYSTEMTIME shown{};
        filter->GetShownTime(&shown);
        lastShown = SystemTimeToRecorderSeconds(shown);
      }
      std::printf(
          "%s{\"channel\": %d, \"delivered\": %llu, \"dropped\": %llu, \"decoded\": %llu, "
          "\"shown\": %llu, \"decoderOpens\": %llu, \"lastDelivered\": %u, "
          "\"lastShown\": %lld}",
          c ? ", " : "", c, (unsigned long long)counters.pictures.load(),
          (unsigned long long)(counters.keyWaitDrops.load() +
                               (camera ? camera->DroppedFrames() : 0)),
          (unsigned long long)(filter ? filter->DecodedPictures() : 0),
          (unsigned long long)(filter ? filter->PresentedPictures() : 0),
          (unsigned long long)(filter ? filter->DecoderOpens() : 0),
          counters.lastPictureSeconds.load(), (long long)lastShown);
    }
    std::printf("], %s}\n", damage.JsonFields().c_str());
  } else if (exitCode == 0) {
    std::printf("played %s .. %s\n", FormatRecorderTime(int64_t(player->FirstPlayedTime())).c_str(),
                FormatRecorderTime(int64_t(player->LastPlayedTime())).c_str());
    for (int c = 0; c < kChannelCount; ++c) {
      CViewerVornMP4IPCamera *camera = panel->Camera(c);
      VornFilterObj *filter = camera ? camera->Filter() : nullptr;
      std::printf("CH%d  delivered %llu  shown %llu\n", c + 1,
                  (unsigned long long)player->Counters(c).pictures.load(),
                  (unsigned long long)(filter ? filter->PresentedPictures() : 0));
    }
  }

  player->Terminate();
  player->WaitFor();
  player.reset();
  panel.reset();  // each viewer waits for its filter object's teardown
  DisplayManager = nullptr;
  manager.reset();
  TThread::SetSynchronizeWakeup({});
  if (stopSignal != 0) {
    damage.Finish(exitCode, false);
    return 128 + stopSignal;
  }
  return damage.Finish(exitCode, o.strict);
}

}  // namespace orvan::tools
