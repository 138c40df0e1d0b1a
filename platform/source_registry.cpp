#include "platform/source_registry.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <vector>

namespace orvan::platform {

namespace {

struct RegisteredSource {
  uint64_t id;
  dev_t device;
  ino_t inode;
  bool blockDevice;
  dev_t deviceNumber;  // of a block device
  std::string path;
};

struct Registry {
  std::mutex lock;  // guards everything below
  uint64_t nextId = 1;
  std::vector<RegisteredSource> sources;
};

Registry &TheRegistry() {
  static Registry registry;
  return registry;
}

bool Accepted(mode_t mode, SourceKind kind) {
  return S_ISREG(mode) || (kind == SourceKind::kFileOrDisk && S_ISBLK(mode));
}

}  // namespace

SourceRegistration &SourceRegistration::operator=(SourceRegistration &&other) noexcept {
  if (this != &other) {
    Reset();
    m_id = other.m_id;
    other.m_id = 0;
  }
  return *this;
}

void SourceRegistration::Reset() {
  if (m_id == 0) return;
  Registry &r = TheRegistry();
  std::lock_guard<std::mutex> hold(r.lock);
  std::erase_if(r.sources, [this](const RegisteredSource &s) { return s.id == m_id; });
  m_id = 0;
}

SourceRegistration RegisterSource(int fd, const std::string &path) {
  SourceRegistration registration;
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0) return registration;
  Registry &r = TheRegistry();
  std::lock_guard<std::mutex> hold(r.lock);
  registration.m_id = r.nextId++;
  r.sources.push_back(RegisteredSource{registration.m_id, st.st_dev, st.st_ino, S_ISBLK(st.st_mode),
                                       st.st_rdev, path});
  return registration;
}

std::optional<std::string> SourceMatching(const struct stat &st) {
  Registry &r = TheRegistry();
  std::lock_guard<std::mutex> hold(r.lock);
  for (const RegisteredSource &s : r.sources) {
    // A block device is the same disk under any device node that names it.
    if (s.blockDevice && S_ISBLK(st.st_mode) && s.deviceNumber == st.st_rdev) return s.path;
    if (s.device == st.st_dev && s.inode == st.st_ino) return s.path;
  }
  return std::nullopt;
}

SourceOpenResult OpenSource(const std::string &path, SourceKind kind) {
  SourceOpenResult result;
  // Look before opening: opening a device can have effects of its own.
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    result.error = errno;
    return result;
  }
  if (!Accepted(st.st_mode, kind)) {
    result.wrongKind = true;
    return result;
  }
  // The path may change between the look and the open: O_NONBLOCK keeps an
  // open of a FIFO from waiting for a writer, and the kind is checked again
  // on what was opened.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    result.error = errno;
    return result;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &st) != 0 || !Accepted(st.st_mode, kind) || flags < 0 ||
      fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    const int error = errno;
    ::close(fd);
    if (Accepted(st.st_mode, kind))
      result.error = error ? error : EIO;
    else
      result.wrongKind = true;
    return result;
  }
  result.fd = fd;
  return result;
}

std::string NotADiskText(const std::string &path) { return path + " is not a disk or an image"; }

}  // namespace orvan::platform
