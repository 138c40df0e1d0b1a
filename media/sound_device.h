// The audio output queue of one playback thread: a ring of 60 blocks that
// the playback thread fills with PCM records and a feeder thread of the
// device's own hands, in order, to the audio output.
//
// Threads and guards:
// - Write and Reset run on the playback thread; the feeder thread reads the
//   ring; Open and Close run on the thread that makes or destroys the
//   playback thread, while no Write can come.
// - m_writePosition is written by the playback thread only; m_playPosition by
//   the feeder (and by Reset). Both are atomics: the playback thread fills a
//   block completely before it publishes the new write position (release),
//   and the feeder reads the write position (acquire) before the block.
// - m_ringLock is held by the feeder for each hand-over (read the positions,
//   hand the block, advance the play position) and by Reset, so a reset
//   never interleaves with a hand-over in flight.
// - m_state and m_open are atomics read without a lock.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/audio_output.h"

class CSoundDevice {
 public:
  static constexpr int kBlockCount = 60;
  static constexpr uint32_t kBlockBytes = 8197;
  // Open's results.
  static constexpr int kOpenOk = 0;
  static constexpr int kOpenNoDevice = 2;
  static constexpr int kOpenFailed = 3;
  // m_state values.
  static constexpr int kStateStop = 0;
  static constexpr int kStateRun = 1;
  static constexpr int kStateEnded = 3;

  // maxQueuedBytes: the feeder hands nothing over while the output holds at
  // least this much unplayed audio (default: 2 seconds of 16 kHz stereo),
  // so a producer that runs ahead fills the ring instead of the output.
  explicit CSoundDevice(uint32_t maxQueuedBytes = 128000);
  // Closes what is still open.
  virtual ~CSoundDevice();
  CSoundDevice(const CSoundDevice &) = delete;
  CSoundDevice &operator=(const CSoundDevice &) = delete;

  // 0 on success; 2 without an audio driver, 3 when the device or format
  // cannot be opened. A failed Open leaves the device closed and every Write
  // a no-op, so playback goes on silently.
  int Open(uint16_t channels, uint16_t bitsPerSample, uint32_t samplesPerSecond);
  // Copies a record into the ring, spread over as many blocks as it needs.
  // A record that does not fit in the free blocks is dropped whole and
  // counted; blocks not yet handed over are never overwritten. Returns 0.
  int Write(const void *bytes, uint32_t length);
  // Skips the blocks filled but not handed over; what the output already
  // holds plays on.
  void Reset();
  void Close();

  bool IsOpen() const { return m_open.load(std::memory_order_acquire); }
  int State() const { return m_state.load(std::memory_order_acquire); }
  int WritePosition() const { return m_writePosition.load(std::memory_order_acquire); }
  int PlayPosition() const { return m_playPosition.load(std::memory_order_acquire); }
  // Blocks filled and not yet handed over.
  int PendingBlocks() const;
  // Bytes handed to the output and not yet played.
  uint32_t QueuedBytes() const { return m_output.QueuedBytes(); }
  // Records dropped because the ring was full (since Open).
  uint32_t DroppedRecords() const { return m_dropped.load(std::memory_order_acquire); }

 private:
  struct Block {
    uint32_t length = 0;
    uint8_t data[kBlockBytes];
  };
  static int Next(int position) { return position + 1 == kBlockCount ? 0 : position + 1; }
  void Feed();

  std::atomic<int> m_writePosition{0};
  std::atomic<int> m_state{kStateStop};
  std::thread m_feeder;  // joinable while running
  orvan::platform::AudioOutput
      m_output;  // Queue/QueuedBytes from the feeder, Open/Close from the owner
  std::unique_ptr<std::array<Block, kBlockCount>> m_blocks;  // allocated by Open
  std::atomic<int> m_playPosition{0};
  std::atomic<bool> m_open{false};
  std::mutex m_ringLock;  // see above
  std::atomic<uint32_t> m_dropped{0};
  const uint32_t m_maxQueuedBytes;
};
