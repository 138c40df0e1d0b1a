// Sinks and recordings for the playback-thread tests.
#pragma once

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "media/playback_sinks.h"
#include "platform/thread.h"
#include "recorder/layout/disk_layout.h"
#include "recorder/playback/playback_thread.h"
#include "tests/support/test_support.h"
#include "tools/sample_recording.h"

namespace orvan::test {

// A viewer that keeps what it is given (type, time, payload size) and
// releases the frames, with a queue length the test sets.
class RecordingViewer : public IViewerSink {
 public:
  struct Taken {
    uint32_t type;
    int64_t seconds;
    uint32_t bytes;
    int32_t codec;  // a description's codec word; -1 for other frames
  };
  void Command(int code, void *parameter) override {
    if (code == kViewerQueueLength) {
      *static_cast<int32_t *>(parameter) = queued.load();
      ++queueQueries;
      return;
    }
    if (code != kViewerTakeFrame) return;
    auto *frame = static_cast<VORN_TESK::tagFrame *>(parameter);
    int32_t codec = -1;
    if (frame->dwType == VORN_TESK::FT_INFO &&
        frame->PayloadBytes() >= sizeof(VORN_TESK::StreamDescription)) {
      VORN_TESK::StreamDescription d;
      std::memcpy(&d, frame->Data(), sizeof d);
      codec = d.videoCodec;
    }
    {
      std::lock_guard<std::mutex> l(lock);
      taken.push_back(
          {frame->dwType, FileTimeToRecorderSeconds(frame->ftTime), frame->PayloadBytes(), codec});
    }
    VORN_TESK::Frames().Release(frame);
  }
  std::vector<Taken> Snapshot() {
    std::lock_guard<std::mutex> l(lock);
    return taken;
  }
  std::vector<Taken> Pictures() {
    std::vector<Taken> out;
    for (const Taken &t : Snapshot())
      if (t.type == VORN_TESK::FT_IFRAME || t.type == VORN_TESK::FT_PFRAME) out.push_back(t);
    return out;
  }
  // Codec words of the descriptions received, in order.
  std::vector<int32_t> DescribedCodecs() {
    std::vector<int32_t> out;
    for (const Taken &t : Snapshot())
      if (t.type == VORN_TESK::FT_INFO) out.push_back(t.codec);
    return out;
  }
  size_t Count(uint32_t type) {
    size_t n = 0;
    for (const Taken &t : Snapshot()) n += t.type == type;
    return n;
  }
  void Clear() {
    std::lock_guard<std::mutex> l(lock);
    taken.clear();
  }

  std::atomic<int32_t> queued{0};
  std::atomic<int> queueQueries{0};

 private:
  std::mutex lock;
  std::vector<Taken> taken;
};

struct FourViewers {
  RecordingViewer v[4];
  std::array<IViewerSink *, 4> Sinks() { return {&v[0], &v[1], &v[2], &v[3]}; }
  size_t TotalPictures() {
    size_t n = 0;
    for (auto &x : v) n += x.Pictures().size();
    return n;
  }
};

// A screen of a fixed size filled with a colour ramp, whose first row
// changes from grab to grab. The ramp is made once: filled per grab, byte by
// byte, it made sanitizer builds on a loaded machine fall far behind.
class RampScreen : public IScreenGrabber {
 public:
  RampScreen(int width, int height, int bits)
      : m_width(width), m_height(height), m_bits(bits), m_pitch(width * bits / 8) {
    m_ramp.resize(size_t(m_pitch) * m_height);
    for (int y = 0; y < m_height; ++y)
      for (int x = 0; x < m_pitch; ++x) m_ramp[size_t(y) * m_pitch + x] = uint8_t(x + y);
  }
  bool GrabPicture(GrabbedPicture &p) override {
    p.width = m_width;
    p.height = m_height;
    p.bitsPerPixel = m_bits;
    p.pitchBytes = m_pitch;
    p.bytes = m_ramp;
    std::memset(p.bytes.data(), grabs.load() & 0xFF, size_t(m_pitch));
    ++grabs;
    return true;
  }
  std::atomic<int> grabs{0};

 private:
  int m_width, m_height, m_bits, m_pitch;
  std::vector<uint8_t> m_ramp;
};

// A pacing clock on which time passes only by the sleeps the player asks for.
class SleepCountingClock : public recorder::PacingClock {
 public:
  int64_t NowUs() override { return m_us.load(); }
  void Sleep(int64_t ms, const std::function<bool()> &) override { m_us.fetch_add(ms * 1000); }

 private:
  std::atomic<int64_t> m_us{0};
};

// Waits on the main thread, running the players' synchronized calls. The
// limit only guards against a hang.
inline bool ServiceUntil(const std::function<bool()> &cond, int limitMs = 120000) {
  return TThread::WaitWhileServicing(cond, limitMs);
}

// A sample recording made once per test program and kept for its run.
inline std::string SampleImage(const std::string &name, tools::SampleOptions options,
                               tools::SampleSummary *summary = nullptr) {
  static TempDir dir;
  options.outputPath = dir.File(name);
  tools::SampleSummary s;
  std::string error;
  if (!tools::MakeSampleRecording(options, s, &error)) return {};
  if (summary) *summary = s;
  return options.outputPath;
}

}  // namespace orvan::test
