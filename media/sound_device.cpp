#include "media/sound_device.h"

#include <chrono>
#include <cstring>
#include <new>

#include "platform/log.h"

namespace {
constexpr const char *kLogCategory = "sound";
}

CSoundDevice::CSoundDevice(uint32_t maxQueuedBytes) : m_maxQueuedBytes(maxQueuedBytes) {}

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
    m_output.Close();
    return kOpenFailed;
  }
  m_playPosition.store(0, std::memory_order_release);
  m_writePosition.store(0, std::memory_order_release);
  m_dropped.store(0, std::memory_order_release);
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
  return 0;
}

void CSoundDevice::Reset() {
  std::lock_guard<std::mutex> hold(m_ringLock);
  m_playPosition.store(0, std::memory_order_release);
  m_writePosition.store(0, std::memory_order_release);
}

void CSoundDevice::Close() {
  m_state.store(kStateStop, std::memory_order_release);
  if (m_feeder.joinable()) m_feeder.join();
  m_output.Close();
  m_blocks.reset();
  m_open.store(false, std::memory_order_release);
}

void CSoundDevice::Feed() {
  while (m_state.load(std::memory_order_acquire) == kStateRun) {
    for (int turn = 0; turn < 3; ++turn) {
      std::lock_guard<std::mutex> hold(m_ringLock);
      const int play = m_playPosition.load(std::memory_order_relaxed);
      if (play == m_writePosition.load(std::memory_order_acquire)) break;
      if (m_output.QueuedBytes() >= m_maxQueuedBytes) break;
      const Block &block = (*m_blocks)[play];
      if (!m_output.Queue(block.data, block.length))
        ORVAN_LOG_DEBUG(kLogCategory, "block %d refused by the output", play);
      m_playPosition.store(Next(play), std::memory_order_release);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  m_state.store(kStateEnded, std::memory_order_release);
}
