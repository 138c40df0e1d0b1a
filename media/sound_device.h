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
//   never interleaves with a hand-over in flight; it also guards
//   m_restarted.
// - m_wakeLock guards m_wakePending: Write, Reset and Close wake the feeder
//   through m_wake, which otherwise sleeps while there is nothing to do.
// - m_state, m_open and m_underruns are atomics read without a lock; the
//   output's start-up state (m_output, m_outputState, m_starved,
//   m_streamHanded, m_lastHandOver) is the feeder's alone; m_outputPlaying
//   mirrors the output's state for other threads.
//
// The output starts playing only once about 200 ms are queued, so the
// device never takes a buffer while the next block is still on its way.
// When it runs dry it is held again until 200 ms are queued; if more audio
// of the same stream then comes, that was an underrun, and it is counted.
// A stream that ends with less than a prefill queued (no block for 200 ms)
// plays out what is left. Reset starts a new stream: the output is held
// for a new prefill.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
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
  // quiet: with no block for this long, what is queued is taken for the
  // end of a stream and played even though it is less than a prefill; and
  // five times as long after running dry, the stream counts as ended, so a
  // later block is no underrun.
  explicit CSoundDevice(uint32_t maxQueuedBytes = 128000,
                        std::chrono::milliseconds quiet = std::chrono::milliseconds(200));
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
  // Times the output ran short in the middle of a stream (since Open).
  uint32_t Underruns() const { return m_underruns.load(std::memory_order_acquire); }
  // The output plays (true) or is held while it fills (false).
  bool OutputPlaying() const { return m_outputPlaying.load(std::memory_order_acquire); }
  // Bytes queued before the output starts: 200 ms of the format opened
  // (never more than the output may hold).
  uint32_t PrefillBytes() const { return m_prefillBytes; }

 private:
  struct Block {
    uint32_t length = 0;
    uint8_t data[kBlockBytes];
  };
  // The output's states, as the feeder drives them.
  enum class OutputState {
    kFilling,  // held until a prefill is queued
    kRunning,  // playing
  };
  static int Next(int position) { return position + 1 == kBlockCount ? 0 : position + 1; }
  void Feed();
  // Hands over up to three blocks; returns how many.
  int HandOver();
  // Starts or holds the output after a hand-over.
  void SteerOutput(std::chrono::steady_clock::time_point now);
  void HoldOutput();
  void Wake();

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
  const std::chrono::milliseconds m_quiet;
  uint32_t m_prefillBytes = 0;  // set by Open before the feeder starts
  bool m_restarted = false;     // m_ringLock: Reset since the feeder last looked

  std::mutex m_wakeLock;
  std::condition_variable m_wake;
  bool m_wakePending = false;  // m_wakeLock

  std::atomic<uint32_t> m_underruns{0};
  std::atomic<bool> m_outputPlaying{false};
  OutputState m_outputState = OutputState::kFilling;  // feeder only
  bool m_starved = false;                             // feeder: held after running short mid-stream
  bool m_streamHanded = false;  // feeder: a block handed over since the last reset
  std::chrono::steady_clock::time_point m_lastHandOver;  // feeder
};
