// The files and devices this process reads as evidence (disks, images, clip
// files, image segments), so that no output can ever land on one of them,
// and the one way to open such a source without blocking.
//
// Every reader that opens a source registers it for as long as it keeps
// it open; the output files (platform/output_file.h) refuse any path whose
// device and inode (or, for block devices, device number) match a
// registered source, which catches symbolic and hard links too.
//
// Threads: the registry is process-wide and guarded by its own lock; every
// call may come from any thread.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>

namespace orvan::platform {

// A source's place in the registry; the source stays registered until the
// registration is reset or destroyed. Movable, not copyable.
class SourceRegistration {
 public:
  SourceRegistration() = default;
  ~SourceRegistration() { Reset(); }
  SourceRegistration(SourceRegistration &&other) noexcept : m_id(other.m_id) { other.m_id = 0; }
  SourceRegistration &operator=(SourceRegistration &&other) noexcept;
  SourceRegistration(const SourceRegistration &) = delete;
  SourceRegistration &operator=(const SourceRegistration &) = delete;

  bool Active() const { return m_id != 0; }
  void Reset();

 private:
  friend SourceRegistration RegisterSource(int fd, const std::string &path);
  uint64_t m_id = 0;
};

// Registers the file open on `fd` as a source read under the name `path`.
// An inactive registration when fd cannot be examined.
SourceRegistration RegisterSource(int fd, const std::string &path);

// The name of the registered source that is the file `st` describes (a
// stat() of a path, links followed), if any.
std::optional<std::string> SourceMatching(const struct stat &st);

// What a source may be.
enum class SourceKind {
  kFile,        // regular files only (clip files, still pictures)
  kFileOrDisk,  // regular files and block devices (disks and their images)
};

// How opening a source ended.
struct SourceOpenResult {
  int fd = -1;             // open read-only, close-on-exec, blocking reads
  int error = 0;           // errno of a failed open; 0 for a refused kind
  bool wrongKind = false;  // it exists but is a FIFO, socket, folder, character device ...
};

// Opens `path` read-only without ever blocking on the open itself (a FIFO
// or a terminal given as a source), accepts only the kinds allowed, and
// leaves the descriptor in blocking mode. Does not register it.
SourceOpenResult OpenSource(const std::string &path, SourceKind kind);

// "PATH is not a disk or an image".
std::string NotADiskText(const std::string &path);

}  // namespace orvan::platform
