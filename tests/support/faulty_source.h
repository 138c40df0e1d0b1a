// A disk in memory that fails as a failing one does: reads that touch chosen
// sectors fail with EIO (after the bytes before them, as a device's short
// read), every read fails once a switch is thrown (a pulled disk), or with an
// error that says the device is gone. FaultySource reads it through the
// program's own damage rules (platform/careful_read.h), as DiskSource reads a
// real device, so unit tests see the same retries, splits and unplug rule.
//
// Threads: the switches may be thrown from any thread while another reads.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/careful_read.h"
#include "platform/disk_source.h"

namespace orvan::test {

class FaultyDevice final : public platform::ISectorDevice {
 public:
  explicit FaultyDevice(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}

  // Reads touching bytes [from, to) fail with EIO; the first `transient`
  // reads of them only (0: for ever).
  void FailBytes(uint64_t from, uint64_t to, int transient = 0);
  // Every read fails with `error` (EIO: a disk that went away without its
  // node going; ENODEV: one that says so); 0 ends it.
  void FailEverything(int error = EIO) { m_failAll.store(error); }
  void SetPresent(bool present) { m_present.store(present); }
  // A failing read returns nothing of what lies before the bad sector (as
  // a FUSE file system or a SCSI error fails the whole request), instead of
  // the bytes before it.
  void FailWholeRequests(bool on) { m_whole.store(on); }

  uint64_t Reads() const { return m_reads.load(); }
  // The reads asked for, in order: offset and length.
  std::vector<ByteRange> Requests() const;
  const std::vector<uint8_t> &Bytes() const { return m_bytes; }

  platform::DeviceAnswer ReadAt(uint64_t offset, void *buffer, size_t length,
                                const platform::DeviceWait &wait) override;
  bool Present() const override { return m_present.load(); }

 private:
  struct Bad {
    uint64_t from, to;
    int transient;  // failures left, -1: for ever
  };
  const std::vector<uint8_t> m_bytes;
  mutable std::mutex m_lock;  // guards m_bad and m_requests
  std::vector<Bad> m_bad;
  std::vector<ByteRange> m_requests;
  std::atomic<int> m_failAll{0};
  std::atomic<bool> m_present{true};
  std::atomic<bool> m_whole{false};
  std::atomic<uint64_t> m_reads{0};
};

// The device behind the careful rules, as a ByteSource.
class FaultySource final : public ByteSource {
 public:
  explicit FaultySource(std::vector<uint8_t> bytes) : m_device(std::move(bytes)) {
    m_reader.Attach(&m_device);
  }
  FaultyDevice &Device() { return m_device; }
  platform::CarefulReader &Reader() { return m_reader; }

  bool Seek(uint64_t offset) override;
  bool Read(void *buffer, size_t length, size_t *got = nullptr) override;
  bool ReadSectors(void *buffer, size_t length, ReadReport &report) override;
  bool Gone() const override { return m_reader.Gone(); }

 private:
  FaultyDevice m_device;
  platform::CarefulReader m_reader;
  uint64_t m_position = 0;
};

}  // namespace orvan::test
