// An open image file or block device as an ISectorDevice, whose reads run on
// a worker thread of its own, so that a reader waiting for a read the kernel
// holds (a disk retrying a sector for seconds, a device that hangs) can give
// up and go, while the read itself goes on alone and its bytes are dropped.
//
// Threads: ReadAt from one thread at a time (the reader's); WakeWaiters from
// any. The worker is started by the first read. `Shared::lock` guards the
// request, the answer and the worker's buffer hand-over; the worker holds the
// descriptor (and closes it) for as long as it runs, so a read still in the
// kernel when the device is closed never touches a descriptor reused since.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <thread>

#include "platform/careful_read.h"

namespace orvan::platform {

class FdDevice final : public ISectorDevice {
 public:
  // Takes over `fd` (open for reading). `path` is what Present() looks at:
  // a block device is present while its node names the same device.
  FdDevice(int fd, std::string path);
  ~FdDevice() override;
  FdDevice(const FdDevice &) = delete;
  FdDevice &operator=(const FdDevice &) = delete;

  // The descriptor, for fstat and ioctl while this object lives.
  int Fd() const;

  DeviceAnswer ReadAt(uint64_t offset, void *buffer, size_t length,
                      const DeviceWait &wait) override;
  bool Present() const override;
  void DropCached(uint64_t offset, size_t length) override;
  void WakeWaiters() override;

  // Threads that are still in a read given up on and closed meanwhile, in
  // this process (for tests and the soak).
  static int LeftReading();

  struct Shared;

 private:
  std::shared_ptr<Shared> m_shared;
  std::thread m_worker;
  std::string m_path;
  bool m_blockDevice = false;
  dev_t m_rdev = 0;
  dev_t m_dev = 0;
  ino_t m_ino = 0;
};

}  // namespace orvan::platform
