// Reading a disk that may be failing: the one place where the rules are, for
// every reader of a disk (players, exports, the search, the event log, the
// play bar's map, hashing, discovery) and for clip files.
//
// Bad sectors cost only what they hold. A read that fails is tried once
// more; when that fails too, what is left of it is read sector by sector, so
// only the 512-byte sectors that cannot be read are lost (their bytes are
// zeros), and after a sector reads again the rest is tried whole once more.
// Every read says what it lost (ReadReport).
//
// An unplugged disk is told from one with bad sectors here (the unplug
// rule). The disk is taken to be gone, and then every read gives up at once,
// when:
//   - the device says so: the read fails with ENODEV, ENXIO, ENOMEDIUM,
//     ENOTCONN or ESHUTDOWN, or ISectorDevice::Present() turns false after a
//     failure (the device node vanished);
//   - every kProbeAfterFailedSectors sectors that fail in a row (no sector
//     read between them), or every kProbeAfterFailingMs of failing reads, the
//     last sector that was read is read again, its cached copy dropped; when
//     that fails too, nothing answers any more;
//   - kGoneAfterFailedSectors sectors failed in a row, whatever that probe
//     said: a disk that keeps one sector but nothing else is of no use;
//   - one device read did not answer within the answer limit
//     (kDefaultAnswerLimitMs).
// A bad area on a disk that still answers elsewhere (the probe reads) costs
// its sectors and nothing more.
//
// Nothing waits for ever: a read ends at the next sector, and a wait for the
// device at once, when Interrupt() is called or the stop flag given is set
// (the report says stopped), and at the reading thread's ReadDeadline. A
// device whose reads run on a worker of their own (FdDevice) lets the waiting
// reader go while its read is still in the kernel.
//
// Threads: Read() by one thread at a time (the owner's lock, if shared);
// Interrupt(), ClearInterrupt(), Gone() from any thread (atomics).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/read_report.h"

namespace orvan::platform {

constexpr int kProbeAfterFailedSectors = 64;
constexpr int kProbeAfterFailingMs = 10000;
constexpr int kGoneAfterFailedSectors = 8192;  // 4 MiB in a row with nothing read
constexpr int kDefaultAnswerLimitMs = 60000;

// How long a reader waits for one device read.
struct DeviceWait {
  std::chrono::steady_clock::time_point until = std::chrono::steady_clock::time_point::max();
  std::function<bool()> giveUp;  // polled while waiting; true ends the wait
};

// What one device read came to.
struct DeviceAnswer {
  size_t bytes = 0;         // read from the start of the request
  int error = 0;            // errno of the failure behind them; 0 and a short count: the end
  bool unanswered = false;  // the wait ended before the device answered; nothing was read
};

// One raw read of a device or image, without any retry: what the rules sit
// on. Implementations: FdDevice (platform/fd_device.h), the E01 reader, and
// the tests' faulty devices.
class ISectorDevice {
 public:
  virtual ~ISectorDevice() = default;
  // Reads up to `length` bytes at `offset` into buffer, waiting as `wait`
  // allows. A device that cannot give up a read in progress (one read on
  // the caller's thread) may ignore `wait`.
  virtual DeviceAnswer ReadAt(uint64_t offset, void *buffer, size_t length,
                              const DeviceWait &wait) = 0;
  // False once the device is known to be gone (its node removed).
  virtual bool Present() const { return true; }
  // Drops what a cache holds of these bytes, so that the next read asks the
  // device itself.
  virtual void DropCached(uint64_t /*offset*/, size_t /*length*/) {}
  // Ends waits in progress early (they look at their giveUp at once).
  virtual void WakeWaiters() {}
};

// The reading thread's deadline: while one is in effect on a thread, every
// careful read made on it gives up (stopped) once the time has come. For the
// user-interface thread, whose reads of a slow disk must stay bounded.
class ReadDeadline {
 public:
  explicit ReadDeadline(std::chrono::milliseconds limit);
  ~ReadDeadline();
  ReadDeadline(const ReadDeadline &) = delete;
  ReadDeadline &operator=(const ReadDeadline &) = delete;

  // The calling thread's deadline; time_point::max() when none.
  static std::chrono::steady_clock::time_point Current();
  static bool Passed();

 private:
  std::chrono::steady_clock::time_point m_previous;
};

class CarefulReader {
 public:
  CarefulReader() = default;
  explicit CarefulReader(ISectorDevice *device) : m_device(device) {}
  CarefulReader(const CarefulReader &) = delete;
  CarefulReader &operator=(const CarefulReader &) = delete;

  // The device read from now on (not owned; null: every read fails), with
  // the disk's health counted afresh. Not while a read runs.
  void Attach(ISectorDevice *device);

  // Reads `length` bytes at byte `offset` by the rules above. True only
  // when every byte was read; bytes that were not are zeros. `report` is
  // cleared first. Offsets and lengths are whole sectors.
  bool Read(uint64_t offset, void *buffer, size_t length, ReadReport &report);
  // Any offset and length: the sectors around them are read, and the report
  // speaks of the bytes asked for.
  bool ReadBytes(uint64_t offset, void *buffer, size_t length, ReadReport &report);

  bool Gone() const { return m_gone.load(); }
  // Any thread: the read in progress gives up (at its next sector, its wait
  // for the device at once) and reads give up until ClearInterrupt().
  void Interrupt();
  void ClearInterrupt() { m_interrupted.store(false); }
  bool Interrupted() const { return m_interrupted.load(); }
  // The owner's own stop request (not owned; null: none), looked at like
  // Interrupt().
  void SetStopFlag(const std::atomic<bool> *stop) { m_stop.store(stop); }
  // How long one device read may go unanswered before the disk counts as
  // gone.
  void SetAnswerLimit(std::chrono::milliseconds limit) { m_answerLimitMs.store(limit.count()); }

  // Calls that reached the device, for tests and benchmarks.
  uint64_t DeviceReads() const { return m_deviceReads; }
  // errno of the last device read that failed (0: none yet). Reading thread.
  int LastFailureErrno() const { return m_lastFailureErrno; }

 private:
  bool Stopping() const;
  DeviceAnswer Ask(uint64_t offset, void *buffer, size_t length);
  // A sector at `offset` was read: the failing run ends, and it becomes the
  // probe sector.
  void NoteRead(uint64_t offset);
  // A sector failed with `error`; true when that makes the disk gone.
  bool NoteFailedSector(int error);
  bool ProbeStillAnswers();
  void BecomeGone() { m_gone.store(true); }
  // An answer the wait gave up on: gone when the device never answered,
  // stopped otherwise.
  void Unanswered(ReadReport &report);

  ISectorDevice *m_device = nullptr;
  std::atomic<bool> m_gone{false};
  std::atomic<bool> m_interrupted{false};
  std::atomic<const std::atomic<bool> *> m_stop{nullptr};
  std::atomic<int64_t> m_answerLimitMs{kDefaultAnswerLimitMs};

  // The reading thread's (one at a time).
  int64_t m_failedInARow = 0;
  int m_failedSinceProbe = 0;
  std::chrono::steady_clock::time_point m_lastProbe{};
  uint64_t m_probeSector = UINT64_MAX;  // a sector that was read (UINT64_MAX: none yet)
  uint64_t m_deviceReads = 0;
  int m_lastFailureErrno = 0;
  std::vector<uint8_t> m_scratch;  // sectors around an unaligned read
};

// True for the errors that mean the device itself went away.
bool IsGoneError(int error);

}  // namespace orvan::platform
