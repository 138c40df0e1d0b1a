// Read-only byte sources for recorder disks: raw block devices and disk
// images, found through one drive table, plus an in-memory source for
// parsers that work on bytes already read.
//
// Every source behaves like a raw disk device: a position and a length must
// both be multiples of 512 bytes, or the call fails. That keeps the layout
// readers honest on images, where the operating system would accept
// anything, so a reader that works on an image works on a device too.
//
// There is no write path: devices and images are opened O_RDONLY. Only
// regular files and block devices are accepted, and the open never blocks
// (a FIFO named as an image is refused, not waited on). An open source is
// registered as one (platform/source_registry.h), so no output lands on it.
//
// An image file that starts with the E01 signature is read through libewf
// (platform/ewf_image.h), whatever its name: the disk it holds is what the
// source reads, with the same contract, and all its segment files are
// registered.
//
// Reads follow the damage rules of platform/careful_read.h: a failed read is
// tried again and then sector by sector, so a bad sector costs only itself;
// each read can say what it lost (ReadSectors); a disk that stopped
// answering is told from one with bad sectors, and then every read gives up
// at once (Gone()); reads can be interrupted from any thread.
//
// Threads: a source has one position and no lock of its own. A reader used
// from two threads guards each single Seek and each single Read with its own
// lock (see recorder/layout/locked_source.h). Interrupt(), ClearInterrupt() and
// Gone() may be called from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/careful_read.h"
#include "platform/read_report.h"
#include "platform/source_registry.h"

namespace orvan {

namespace platform {
class EwfImage;
class FdDevice;
}  // namespace platform

constexpr uint64_t kSectorBytes = 512;

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Sets the position, counted in bytes from the start. False for an
  // offset that is not a multiple of 512 or that the source refuses.
  virtual bool Seek(uint64_t offset) = 0;
  // Reads length bytes at the position and advances it past them. True
  // only when all length bytes were read; got (if given) receives the count
  // read. A failed read leaves the position where it was, so the same read
  // can be tried again. False for a length that is not a multiple of 512.
  virtual bool Read(void *buffer, size_t length, size_t *got = nullptr) = 0;
  // The same read, saying what it lost: which sectors could not be read
  // (zeros in the buffer), where the source ends, whether the disk stopped
  // answering or the read was given up. True only when every byte was read,
  // and only then does the position advance. This default, for sources
  // that cannot tell, counts what Read() did not read as lost.
  virtual bool ReadSectors(void *buffer, size_t length, ReadReport &report);
  // True once the source has stopped answering; every read then fails.
  virtual bool Gone() const { return false; }
};

// How opening a drive or image ended.
enum class DriveOpenStatus {
  Ok,
  NoSuchDrive,   // number beyond the drive table, or the device is gone
  AccessDenied,  // it exists but this user may not read it
  Failed,        // it exists but cannot be opened (no medium, I/O error, ...)
  NotADisk,      // it exists but is neither a regular file nor a block device
};

// One entry of the drive table.
struct DriveInfo {
  int number = 0;
  std::string path;
  bool isImage = false;
};

// Drive n is entry n: first the images the user named (--image PATH, in
// order), then the machine's whole-disk block devices from /sys/block
// (without ram and zram devices, and without loop devices that have no
// image attached), in name order, as /dev/NAME. A loop device an image is
// attached to (losetup --read-only) is listed like any disk: that is how an
// image made of a pulled disk is read as the disk itself.
class DriveTable {
 public:
  explicit DriveTable(std::vector<std::string> images = {},
                      const std::string &sysBlockDir = "/sys/block");

  const std::vector<DriveInfo> &Drives() const { return m_drives; }
  // Null when n is not in the table.
  const DriveInfo *Find(int n) const;

  // Whole-disk block device names of a /sys/block-like folder, filtered and
  // sorted, without the /dev/ prefix.
  static std::vector<std::string> BlockDeviceNames(const std::string &sysBlockDir);

  // Puts an image at the top of the table (drive 0), as the first --image
  // would be; the other drives move down one number. An image already
  // listed (the same file) moves there instead of being listed twice.
  void PutImageFirst(const std::string &path);

  // The process-wide table used when a drive is opened by number. Set at
  // start-up (from the --image options); changed afterwards only on the
  // main thread (an image opened from the window), while no other thread
  // holds a reference: threads open drives by number through
  // DiskSource::Open, which copies the entry under the table's lock.
  static const DriveTable &Process();
  static void SetProcess(DriveTable table);
  static void AddProcessImage(const std::string &path);

 private:
  std::vector<DriveInfo> m_drives;
};

// Takes every "--image PATH" and "--image=PATH" out of args (args[0] is the
// program) and returns the paths in order. A "--image" without a path is
// left in args for the caller's usage check.
std::vector<std::string> TakeImageOptions(std::vector<std::string> &args);

// A raw device or image file, opened read-only.
class DiskSource final : public ByteSource {
 public:
  DiskSource();
  ~DiskSource() override;
  DiskSource(const DiskSource &) = delete;
  DiskSource &operator=(const DiskSource &) = delete;

  // Opens drive n of the process drive table.
  DriveOpenStatus Open(int driveNumber);
  DriveOpenStatus Open(int driveNumber, const DriveTable &table);
  DriveOpenStatus OpenPath(const std::string &path);
  void Close();
  bool IsOpen() const { return m_fd >= 0 || m_ewf; }
  const std::string &Path() const { return m_path; }
  // Text for the user about the last failed open or read, naming the device
  // and, for missing rights, how to get access.
  const std::string &LastError() const { return m_lastError; }
  // errno of the last failed call, 0 after success.
  int LastErrno() const { return m_lastErrno; }

  // Length of the image or device in bytes (of the disk an E01 holds);
  // 0 when it cannot be told.
  uint64_t SizeBytes() const;
  // The E01 image being read, or null for a raw image or a device.
  const platform::EwfImage *Ewf() const { return m_ewf.get(); }

  bool Seek(uint64_t offset) override;
  bool Read(void *buffer, size_t length, size_t *got = nullptr) override;
  bool ReadSectors(void *buffer, size_t length, ReadReport &report) override;
  bool Gone() const override { return m_reader.Gone(); }

  // Any thread: the read in progress gives up (the report says stopped) and
  // reads give up until ClearInterrupt(); for an owner ending the thread
  // that reads, which then never waits for the device.
  void Interrupt() { m_reader.Interrupt(); }
  void ClearInterrupt() { m_reader.ClearInterrupt(); }
  // A stop request of the owner's, looked at like Interrupt() (not owned).
  void SetStopFlag(const std::atomic<bool> *stop) { m_reader.SetStopFlag(stop); }
  // How long one read may go unanswered before the disk counts as gone.
  void SetAnswerLimit(std::chrono::milliseconds limit) { m_reader.SetAnswerLimit(limit); }
  // Calls that reached the device, for tests and benchmarks.
  uint64_t DeviceReads() const { return m_reader.DeviceReads(); }

 private:
  DriveOpenStatus OpenEwf(const std::string &path);
  void Attach(std::unique_ptr<platform::ISectorDevice> device);

  int m_fd = -1;                                      // a raw image or a device (m_device's)
  std::unique_ptr<platform::EwfImage> m_ewf;          // or an E01 image
  std::unique_ptr<platform::ISectorDevice> m_device;  // what m_reader reads
  platform::CarefulReader m_reader;
  uint64_t m_position = 0;
  std::string m_path;
  std::string m_lastError;
  int m_lastErrno = 0;
  platform::SourceRegistration m_registration;  // of m_fd, while open
};

// What an export's manifest says about the disk it read.
struct SourceIdentity {
  std::string path;
  std::string kind;        // "image" (a regular file), "E01 image" or "block device"
  uint64_t sizeBytes = 0;  // of the disk read (an E01's: the disk it holds)
  std::string model;       // block devices: from sysfs, when it tells
  std::string serial;
  // E01 images: every segment file read, and the hashes stored at
  // acquisition (lower-case hex, empty when none).
  std::vector<std::string> segments;
  std::string storedMd5, storedSha1;
};

// The identity of an open source. sysDevBlockDir is where sysfs names block
// devices by number ("MAJOR:MINOR"); a partition's disk is its parent there.
SourceIdentity IdentifySource(const DiskSource &source,
                              const std::string &sysDevBlockDir = "/sys/dev/block");

// Bytes held in memory, with the same 512-byte contract. Does not own them.
class MemorySource final : public ByteSource {
 public:
  MemorySource(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}
  bool Seek(uint64_t offset) override;
  bool Read(void *buffer, size_t length, size_t *got = nullptr) override;
  // Bytes past the end are no loss: the report says where it ends.
  bool ReadSectors(void *buffer, size_t length, ReadReport &report) override;

 private:
  const uint8_t *m_data;
  size_t m_size;
  uint64_t m_position = 0;
};

}  // namespace orvan
