#include "media/sound_device.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

#include "platform/log.h"

namespace {
constexpr const char *kLogCategory = "sound";
}

CSoundDevice::CSoundDevice(uint32_t maxQueuedBytes, std::chrono::milliseconds quiet)
    : m_maxQueuedBytes(maxQueuedBytes), m_quiet(quiet) {}

CSoundDevice::~CSoundDevice() { Close(); }

int CSoundDevice::Open(uint16_t channels, uint16_t bitsPerSample, uint32_t samplesPerSecond) {
  Close();
  m_open.store(false, std::memory_order_release);
  // Only an output device is needed; a machine without a microphone plays
  // sound like any other.
  using Result = orvan::platform::AudioOutput::OpenResult;
  const Result result = m_output.Open(channels, bitsPerSample, int(samplesPerSecond));
  if (result == Result::NoDriver) return kOpenNoDevice;
  if (result != Result::Ok) return kOpenFailed;

  m_blocks.reset(new (std::nothrow) std::array<Block, kBlockCount>());
  if (!m_blocks) {
    ORVAN_LOG_ERROR(kLogCategory, "no memory for the sound ring");
    m_output.Close();
    return kOpenFailed;
  }
  m_playPosition.store(0, std::memory_order_release);
  m_writePosition.store(0, std::memory_order_release);
  m_dropped.store(0, std::memory_order_release);
  m_underruns.store(0, std::memory_order_release);
  const uint32_t bytesPerSecond = uint32_t(channels) * (bitsPerSample / 8) * samplesPerSecond;
  m_prefillBytes = std::max<uint32_t>(1, std::min(bytesPerSecond / 5, m_maxQueuedBytes));
  m_outputState = OutputState::kFilling;
  m_outputPlaying.store(false, std::memory_order_release);
  m_starved = false;
  m_streamHanded = false;
  m_restarted = false;
  m_wakePending = false;
  m_lastHandOver = std::chrono::steady_clock::now();
  m_state.store(kStateRun, std::memory_order_release);
  m_open.store(true, std::memory_order_release);
  m_feeder = std::thread(&CSoundDevice::Feed, this);
  return kOpenOk;
}

int CSoundDevice::PendingBlocks() const {
  const int pending = WritePosition() - PlayPosition();
  return pending < 0 ? pending + kBlockCount : pending;
}

int CSoundDevice::Write(const void *bytes, uint32_t length) {
  if (!IsOpen() || State() != kStateRun || (!bytes && length > 0)) return 0;
  // A record longer than a block is spread over several; a 0-byte record
  // still takes one (empty) block.
  const uint64_t needed = length == 0 ? 1 : (uint64_t(length) + kBlockBytes - 1) / kBlockBytes;
  const int freeBlocks = kBlockCount - 1 - PendingBlocks();
  if (needed > uint64_t(freeBlocks)) {
    m_dropped.fetch_add(1, std::memory_order_acq_rel);
    ORVAN_LOG_DEBUG(kLogCategory, "ring full: record of %u bytes dropped", length);
    return 0;
  }
  const uint8_t *source = static_cast<const uint8_t *>(bytes);
  int position = m_writePosition.load(std::memory_order_relaxed);
  uint32_t left = length;
  for (uint64_t i = 0; i < needed; ++i) {
    Block &block = (*m_blocks)[position];
    const uint32_t chunk = left < kBlockBytes ? left : kBlockBytes;
    if (chunk) std::memcpy(block.data, source, chunk);
    block.length = chunk;
    source += chunk;
    left -= chunk;
    position = Next(position);
    // Published block by block, so the feeder may start on the first one.
    m_writePosition.store(position, std::memory_order_release);
  }
  Wake();
  return 0;
}

void CSoundDevice::Reset() {
  {
    std::lock_guard<std::mutex> hold(m_ringLock);
    m_playPosition.store(0, std::memory_order_release);
    m_writePosition.store(0, std::memory_order_release);
    m_restarted = true;
  }
  Wake();
}

void CSoundDevice::Wake() {
  {
    std::lock_guard<std::mutex> hold(m_wakeLock);
    m_wakePending = true;
  }
  m_wake.notify_one();
}

void CSoundDevice::Close() {
  m_state.store(kStateStop, std::memory_order_release);
  Wake();
  if (m_feeder.joinable()) m_feeder.join();
  m_output.Close();
  m_blocks.reset();
  m_open.store(false, std::memory_order_release);
}

void CSoundDevice::Feed() {
  using namespace std::chrono;
  while (m_state.load(std::memory_order_acquire) == kStateRun) {
    const int handed = HandOver();
    const auto now = steady_clock::now();
    if (handed > 0) m_lastHandOver = now;
    SteerOutput(now);
    if (handed == 3) continue;  // the ring may hold more

    // Sleep until a Write, a Reset or Close wakes us, or until the output
    // may need looking at: while it plays, often enough to see it run
    // short; while a prefill waits, to see the stream go quiet.
    milliseconds wait{1000};
    if (m_outputState == OutputState::kRunning)
      wait = milliseconds(5);
    else if (m_output.QueuedBytes() > 0 || m_starved)
      wait = milliseconds(20);
    std::unique_lock<std::mutex> hold(m_wakeLock);
    m_wake.wait_for(hold, wait, [this] { return m_wakePending; });
    m_wakePending = false;
  }
  HoldOutput();
  m_state.store(kStateEnded, std::memory_order_release);
}

int CSoundDevice::HandOver() {
  int handed = 0;
  for (; handed < 3; ++handed) {
    std::lock_guard<std::mutex> hold(m_ringLock);
    if (m_restarted) {
      // A new stream: what the output holds waits for the new prefill.
      m_restarted = false;
      m_streamHanded = false;
      m_starved = false;
      HoldOutput();
    }
    const int play = m_playPosition.load(std::memory_order_relaxed);
    if (play == m_writePosition.load(std::memory_order_acquire)) break;
    const uint32_t queued = m_output.QueuedBytes();
    if (queued >= m_maxQueuedBytes) break;
    if (queued == 0 && m_outputState == OutputState::kRunning && m_streamHanded) {
      // Ran dry before this block came: fill again (see SteerOutput).
      HoldOutput();
      m_starved = true;
    }
    const Block &block = (*m_blocks)[play];
    if (!m_output.Queue(block.data, block.length))
      ORVAN_LOG_DEBUG(kLogCategory, "block %d refused by the output", play);
    m_playPosition.store(Next(play), std::memory_order_release);
    m_streamHanded = true;
    if (m_starved) {
      // The stream went on after the output ran short: a gap was heard.
      m_starved = false;
      m_underruns.fetch_add(1, std::memory_order_acq_rel);
      ORVAN_LOG_DEBUG(kLogCategory, "output ran short; filling again");
    }
  }
  return handed;
}

void CSoundDevice::SteerOutput(std::chrono::steady_clock::time_point now) {
  const uint32_t queued = m_output.QueuedBytes();
  const auto quiet = now - m_lastHandOver;
  if (m_outputState == OutputState::kFilling) {
    if (queued >= m_prefillBytes || (queued > 0 && PendingBlocks() == 0 && quiet >= m_quiet)) {
      // A prefill, or the end of a stream shorter than one: play it.
      m_outputState = OutputState::kRunning;
      m_output.SetPlaying(true);
      m_outputPlaying.store(true, std::memory_order_release);
    } else if (m_starved && quiet >= 5 * m_quiet) {
      m_starved = false;  // the stream ended rather than ran late
    }
    return;
  }
  if (queued == 0) {
    // Ran dry: the device pads its buffer with silence. Hold it until a
    // prefill is queued again; if the stream goes on, that was an underrun.
    HoldOutput();
    m_starved = m_streamHanded;
  }
}

void CSoundDevice::HoldOutput() {
  m_outputState = OutputState::kFilling;
  m_output.SetPlaying(false);
  m_outputPlaying.store(false, std::memory_order_release);
}
