#include "platform/fd_device.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

namespace orvan::platform {

namespace {

// How often a waiting reader looks at its stop request.
constexpr auto kWaitSlice = std::chrono::milliseconds(20);

std::atomic<int> g_leftReading{0};

}  // namespace

struct FdDevice::Shared {
  explicit Shared(int descriptor) : fd(descriptor) {}
  ~Shared() {
    if (fd >= 0) ::close(fd);
  }
  const int fd;
  std::mutex lock;
  std::condition_variable work;      // the worker waits for a request or the end
  std::condition_variable answered;  // readers wait for the answer
  // Guarded by lock.
  bool quit = false;
  bool pending = false;    // a request posted, not yet taken
  bool busy = false;       // the worker is in the device with a request
  bool abandoned = false;  // the device was closed while busy
  uint64_t offset = 0;
  size_t length = 0;
  uint64_t posted = 0;  // serial of the last request posted
  uint64_t done = 0;    // serial of the last request answered
  DeviceAnswer answer;
  // The worker's while busy; the reader's to copy from once its request is
  // answered and before it posts another.
  std::vector<uint8_t> buffer;
};

namespace {

// The worker: one request at a time, read whole unless the device fails or
// ends.
void Work(std::shared_ptr<FdDevice::Shared> shared) {
  std::unique_lock<std::mutex> hold(shared->lock);
  for (;;) {
    shared->work.wait(hold, [&] { return shared->pending || shared->quit; });
    if (!shared->pending) break;
    shared->pending = false;
    shared->busy = true;
    const uint64_t serial = shared->posted;
    const uint64_t offset = shared->offset;
    const size_t length = shared->length;
    if (shared->buffer.size() < length) shared->buffer.resize(length);
    uint8_t *out = shared->buffer.data();
    hold.unlock();

    DeviceAnswer answer;
    while (answer.bytes < length) {
      if (offset > uint64_t(INT64_MAX) - answer.bytes) break;
      const ssize_t n = ::pread(shared->fd, out + answer.bytes, length - answer.bytes,
                                static_cast<off_t>(offset + answer.bytes));
      if (n < 0) {
        if (errno == EINTR) continue;
        answer.error = errno;
        break;
      }
      if (n == 0) break;  // the end of the image or device
      answer.bytes += size_t(n);
    }

    hold.lock();
    shared->busy = false;
    shared->answer = answer;
    shared->done = serial;
    shared->answered.notify_all();
    if (shared->abandoned) {
      g_leftReading.fetch_sub(1);
      break;
    }
  }
}

}  // namespace

FdDevice::FdDevice(int fd, std::string path)
    : m_shared(std::make_shared<Shared>(fd)), m_path(std::move(path)) {
  struct stat st {};
  if (fstat(fd, &st) == 0) {
    m_blockDevice = S_ISBLK(st.st_mode);
    m_rdev = st.st_rdev;
    m_dev = st.st_dev;
    m_ino = st.st_ino;
  }
}

FdDevice::~FdDevice() {
  bool stuck = false;
  {
    std::lock_guard<std::mutex> hold(m_shared->lock);
    m_shared->quit = true;
    m_shared->pending = false;
    stuck = m_shared->busy;
    if (stuck) {
      m_shared->abandoned = true;
      g_leftReading.fetch_add(1);
    }
  }
  m_shared->work.notify_all();
  if (!m_worker.joinable()) return;
  // A worker in the kernel finishes its read alone and then closes the
  // descriptor; an idle one ends at once.
  if (stuck)
    m_worker.detach();
  else
    m_worker.join();
}

int FdDevice::Fd() const { return m_shared->fd; }

int FdDevice::LeftReading() { return g_leftReading.load(); }

DeviceAnswer FdDevice::ReadAt(uint64_t offset, void *buffer, size_t length,
                              const DeviceWait &wait) {
  Shared &s = *m_shared;
  auto timeToGo = [&] {
    return (wait.giveUp && wait.giveUp()) || std::chrono::steady_clock::now() >= wait.until;
  };
  std::unique_lock<std::mutex> hold(s.lock);
  if (!m_worker.joinable()) m_worker = std::thread(Work, m_shared);
  // A read given up on earlier may still be in the device.
  while (s.busy || s.pending) {
    if (timeToGo()) return DeviceAnswer{0, 0, true};
    s.answered.wait_for(hold, kWaitSlice);
  }
  const uint64_t serial = ++s.posted;
  s.offset = offset;
  s.length = length;
  s.pending = true;
  s.work.notify_one();
  while (s.done != serial) {
    if (timeToGo()) {
      // Not yet taken: withdrawn; taken: it finishes alone.
      if (s.pending && s.posted == serial) s.pending = false;
      return DeviceAnswer{0, 0, true};
    }
    const auto now = std::chrono::steady_clock::now();
    const auto slice = wait.until - now < kWaitSlice ? wait.until - now : kWaitSlice;
    s.answered.wait_for(hold, slice);
  }
  const DeviceAnswer answer = s.answer;
  std::memcpy(buffer, s.buffer.data(), std::min(answer.bytes, length));
  return answer;
}

bool FdDevice::Present() const {
  struct stat st {};
  if (m_path.empty()) return true;
  if (::stat(m_path.c_str(), &st) != 0) return errno != ENOENT && errno != ENOTCONN;
  if (!m_blockDevice) return st.st_dev == m_dev && st.st_ino == m_ino;
  if (!S_ISBLK(st.st_mode) || st.st_rdev != m_rdev) return false;
  // The kernel removes a disk's folder when the disk goes.
  const std::string sys =
      "/sys/dev/block/" + std::to_string(major(m_rdev)) + ":" + std::to_string(minor(m_rdev));
  struct stat sysSt {};
  return ::stat(sys.c_str(), &sysSt) == 0 || errno != ENOENT;
}

void FdDevice::DropCached(uint64_t offset, size_t length) {
  ::posix_fadvise(m_shared->fd, off_t(offset), off_t(length), POSIX_FADV_DONTNEED);
}

void FdDevice::WakeWaiters() { m_shared->answered.notify_all(); }

}  // namespace orvan::platform
