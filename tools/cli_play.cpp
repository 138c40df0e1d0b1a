// "orvan-cli play": the real playback thread with four viewers drawing
// into an offscreen 720 x 480 video panel.
#include "tools/cli_commands.h"

#include <signal.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "app/core/snapshot_rules.h"
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
#include "recorder/layout/clip_format.h"
#include "recorder/playback/headless_host.h"
#include "recorder/playback/play_file_thread.h"
#include "recorder/playback/play_hdd_thread.h"
#include "tools/cli_report.h"
#include "tools/exit_codes.h"
#include "tools/json_writer.h"

namespace orvan::tools {
namespace {

using recorder::kChannelCount;

constexpr int kPanelWidth = 720;
constexpr int kPanelHeight = 480;
// How long a stopped play waits for the viewers to show what they hold.
constexpr std::chrono::seconds kPresentWaitLimit{60};

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
  SourceArg source;
  CommonSwitches switches;
  std::optional<uint32_t> from;
  double durationSeconds = -1;  // to the end
  bool fast = false;
  bool noPacing = false;
  bool audio = false;
  std::string snapshot;
  std::string avi;
};

bool EndsWithIn(const std::string &path) {
  if (path.size() < 3) return false;
  std::string tail = path.substr(path.size() - 3);
  std::transform(tail.begin(), tail.end(), tail.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return tail == ".in";
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
      m_viewers[c].Create(kViewerVornMP4IPCamera, live, 0, c);
      m_viewers[c].m_channel = c;
      bool off = false;
      m_viewers[c].Command(kViewerCaptionVisible, &off);
      m_viewers[c].Command(kViewerTimeLabel, &off);
      m_sinks[c] = std::make_unique<ViewerSink>(m_viewers[c]);
    }
    Layout(0);
  }

  void Layout(int quad) {
    for (auto &v : m_viewers) v.Hide();
    if (quad == 1) {
      RECT whole{0, 0, kPanelWidth, kPanelHeight};
      m_viewers[0].Command(kViewerSetRect, &whole);
      m_viewers[0].Show();
    } else {
      const int hw = kPanelWidth / 2, hh = kPanelHeight / 2;
      for (int c = 0; c < kChannelCount; ++c) {
        const int col = c & 1, row = c >> 1;
        RECT r{col * hw, row * hh, col ? kPanelWidth : hw, row ? kPanelHeight : hh};
        m_viewers[c].Command(kViewerSetRect, &r);
      }
      for (auto &v : m_viewers) v.Show();
    }
    int32_t mode = quad == 1 ? 5 : 0;
    m_viewers[0].Command(kViewerDisplayMode, &mode);
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

// What the window's snapshot says about itself, here: the recorder time
// shown (the latest of the viewers'), the source, the channels and the view.
media::SnapshotTags SnapshotTagsOf(Panel &panel, const std::string &source) {
  media::SnapshotTags tags;
  for (int c = 0; c < kChannelCount; ++c) {
    CViewerVornMP4IPCamera *camera = panel.Camera(c);
    if (!camera || !camera->Filter() || camera->Filter()->PresentedPictures() == 0) continue;
    SYSTEMTIME shown{};
    camera->Filter()->GetShownTime(&shown);
    tags.shownSeconds = std::max(tags.shownSeconds, SystemTimeToRecorderSeconds(shown));
  }
  const bool quad = panel.LayoutValue() == 1;
  tags.comment =
      app::SnapshotComment("orvan-cli play, " + source,
                           app::ShownChannelsText(quad ? 1 : 0, -1, quad ? 5 : 0, quad ? 0 : 1),
                           app::SnapshotViewText(false));
  return tags;
}

bool SaveSnapshot(const std::string &path, platform::ReplacePolicy policy,
                  const media::SnapshotTags &tags, std::string &error) {
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
  if (!media::SaveSnapshotJpeg(capture, path, policy, &error, media::kSnapshotJpegQuality, tags))
    return false;
  return true;
}

int RunPlay(const PlayOptions &o) {
  ResolvedSource source;
  std::string error;
  if (!ResolveSource(o.source, "SOURCE", source, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return kExitError;
  }
  const std::string &path = source.path;
  const platform::ReplacePolicy policy = o.switches.Policy();

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
  const bool clipSource = EndsWithIn(path);
  DiskSource disk;
  recorder::CClipReader clip;
  DamageReport damage;
  if (clipSource) {
    if (!clip.Open(path)) {
      std::fprintf(stderr, "cannot open the clip %s and its data file %s: %s\n", path.c_str(),
                   recorder::CompanionDataName(path).c_str(), clip.LastError().c_str());
      return kExitError;
    }
    CheckClipData(clip, damage);
  } else {
    if (disk.OpenPath(path) != DriveOpenStatus::Ok) {
      std::fprintf(stderr, "%s\n", disk.LastError().c_str());
      return kExitError;
    }
    recorder::DiskGeometry geometry;
    if (recorder::ReadGeometry(disk, geometry) == recorder::GeometryStatus::Ok)
      CheckImageLength(disk, geometry, damage);
  }
  // Outputs are refused before anything plays: never a source or a device,
  // an existing file only with --overwrite.
  std::vector<std::string> outputs;
  for (const std::string *output : {&o.snapshot, &o.avi})
    if (!output->empty()) outputs.push_back(*output);
  if (RefuseOutputs(outputs, policy)) return kExitError;

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
  player->SetPacingEnabled(!o.noPacing);

  int exitCode = kExitOk;
  // The player reads the disk's state on its own thread first.
  if (diskPlayer)
    TThread::WaitWhileServicing([&] { return diskPlayer->DiskChecked() || diskPlayer->Finished(); },
                                600000);
  if (diskPlayer && !diskPlayer->DiskValid() && !diskPlayer->DiskGone()) {
    const bool stateError = !host.Messages().empty();
    if (!stateError) std::fprintf(stderr, "Not a recorder disk: %s\n", path.c_str());
    exitCode = stateError ? kExitStateError : kExitRejected;
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
  if (exitCode == kExitOk) {
    if (diskPlayer && o.from) {
      diskPlayer->Pause();
      diskPlayer->SearchTime(*o.from);
    } else {
      player->Play();
    }
    if (o.fast) player->Forward();
    if (!o.avi.empty()) {
      aviStarted = player->SetAviRecording(o.avi, 0, true, policy);
      if (!aviStarted) exitCode = kExitError;
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
    // A disk that stopped answering ends play at once: there is nothing
    // more to show, and nothing to wait for.
    if (g_stopSignal.load() != 0 || refused || exitCode != kExitOk || player->DiskGone()) {
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
  if (aviFailed.load() && exitCode == kExitOk) exitCode = kExitError;
  if (!o.snapshot.empty() && exitCode == kExitOk && stopSignal == 0) {
    std::string snapError;
    if (!SaveSnapshot(o.snapshot, policy, SnapshotTagsOf(*panel, path), snapError)) {
      std::fprintf(stderr, "%s\n", snapError.c_str());
      exitCode = kExitError;
    }
  }
  const recorder::LossLog losses = player->Losses();
  // Each lost place is one of the player's read errors already.
  damage.readErrors += player->ReadErrors() - losses.Places();
  damage.Lost(losses);
  damage.skippedRecords += player->SkippedRecords();
  damage.diskGone = player->DiskGone() || (diskPlayer && disk.Gone()) || clip.Gone();
  if (player->IndexStalled())
    damage.Warn("the index cannot be read at entry " + std::to_string(player->StalledAt()) +
                ": playing ends there");
  if (player->SkippedRecords())
    damage.Warn(std::to_string(player->SkippedRecords()) +
                " entries were not played: their records cannot be read or they are damaged");
  if (auto *filePlayer = dynamic_cast<recorder::PlayFileThread *>(player.get());
      filePlayer && filePlayer->Refused() && exitCode == kExitOk)
    exitCode = kExitRejected;

  // The report, before the player and viewers go.
  if (o.switches.json) {
    auto timeText = [](uint32_t seconds) {
      return seconds ? FormatRecorderTime(int64_t(seconds)) : std::string();
    };
    Json report = {{"source", clipSource ? "clip" : "disk"},
                   {"layout", panel->LayoutValue()},
                   {"first", timeText(player->FirstPlayedTime())},
                   {"last", timeText(player->LastPlayedTime())},
                   {"firstSeconds", player->FirstPlayedTime()},
                   {"lastSeconds", player->LastPlayedTime()},
                   {"aviPictures", player->AviPictures()},
                   {"aviAudioGaps", player->AviAudioGaps()},
                   {"audioBlocks", player->AudioBlocksQueued()},
                   {"underruns", player->AudioUnderruns()}};
    Json channels = Json::array();
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
      channels.push_back(
          {{"channel", c},
           {"delivered", counters.pictures.load()},
           {"dropped", counters.keyWaitDrops.load() + (camera ? camera->DroppedFrames() : 0)},
           {"decoded", filter ? filter->DecodedPictures() : 0},
           {"shown", filter ? filter->PresentedPictures() : 0},
           {"decoderOpens", filter ? filter->DecoderOpens() : 0},
           {"decodeErrors", filter ? filter->DecodeErrors() : 0},
           {"lastDelivered", counters.lastPictureSeconds.load()},
           {"lastShown", lastShown}});
    }
    report["channels"] = std::move(channels);
    damage.AddTo(report);
    PrintJson(report);
  } else if (exitCode == kExitOk) {
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
    return ExitForSignal(stopSignal);
  }
  return damage.Finish(exitCode, o.switches.strict);
}

}  // namespace

void AddPlayCommand(CommandLine &cli) {
  auto o = std::make_shared<PlayOptions>();
  cli.AddCommand("play", "play a disk or clip through the viewers", [o] { return RunPlay(*o); })
      .Source(o->source, "SOURCE", "a disk image or block device, or a clip's .in file")
      .When("--from", o->from, "where to start (a disk)")
      .Value("--duration", "SECONDS", "how long to play (default: to the end)",
             [&duration = o->durationSeconds](const std::string &text, std::string &error) {
               double seconds = 0;
               const char *end = text.data() + text.size();
               const auto [stop, ec] = std::from_chars(text.data(), end, seconds);
               if (ec != std::errc() || stop != end || !(seconds > 0) || seconds > 1e7) {
                 error = "--duration needs a positive number of seconds";
                 return false;
               }
               duration = seconds;
               return true;
             })
      .Flag("--fast", o->fast, "fast forward")
      .Flag("--no-pacing", o->noPacing, "deliver entries without waiting their delays")
      .Flag("--audio", o->audio, "play the sound (SDL's audio device)")
      .Text("--snapshot", o->snapshot, "FILE.jpg", "at the end, save the panel as JPEG")
      .Text("--avi", o->avi, "FILE.avi", "save what is shown as AVI")
      .Common(o->switches)
      .TooMany("more than one SOURCE")
      .Footer(
          "--json gives per-channel counts. SIGINT and SIGTERM stop at once (exit 130, 143),\n"
          "the AVI whole.");
}

}  // namespace orvan::tools
