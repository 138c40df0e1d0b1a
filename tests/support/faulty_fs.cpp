// orvan-faultyfs: a read-only FUSE file system serving one disk image as a
// failing disk would, so that the tests see the kernel's own error path:
//
//   orvan-faultyfs IMAGE MOUNTPOINT CONTROL [--eio FROM-TO]... [--name NAME]
//                  [--also FILE]...
//
// The image is served as MOUNTPOINT/NAME (default "disk.img"), and each
// --also FILE beside it under its own name (a clip's data file beside its
// index), read straight
// through (direct I/O: no page cache between, each read reaches this
// program). A read touching bytes FROM..TO-1 of an --eio range fails with
// EIO. The folder CONTROL steers it while it runs:
//   CONTROL/fail      exists: every read fails with EIO (the disk went away)
//   CONTROL/fail-after  holds N: N more bytes are served, then every read fails
//   CONTROL/delay     holds a number: every read waits that many ms first
//   CONTROL/hold      exists: reads wait until it is removed (at most 120 s,
//                     then EIO), and CONTROL/holding exists while one waits
// Runs in the foreground; SIGTERM ends it and unmounts.
#define FUSE_USE_VERSION 31

#include <fcntl.h>
#include <fuse.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Range {
  uint64_t from, to;
};

struct File {
  std::string name;
  int fd = -1;
  uint64_t size = 0;
};

struct Served {
  int fd = -1;
  uint64_t size = 0;
  std::string name = "disk.img";
  std::vector<File> also;  // served as they are, failing only with fail/fail-after
  std::string control;
  std::vector<Range> eio;
  std::atomic<int> held{0};
  std::atomic<long long> served{0};  // bytes served since the start
  long long failAfterBase = -1;      // the count when fail-after was seen, -1: not yet
};

Served g_served;

bool Exists(const std::string &path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

int DelayMs() {
  std::ifstream in(g_served.control + "/delay");
  int ms = 0;
  if (in >> ms) return ms < 0 ? 0 : (ms > 60000 ? 60000 : ms);
  return 0;
}

// Waits while CONTROL/hold exists; false when it was held too long.
bool WaitWhileHeld() {
  const std::string hold = g_served.control + "/hold";
  if (!Exists(hold)) return true;
  const std::string holding = g_served.control + "/holding";
  if (g_served.held.fetch_add(1) == 0) std::ofstream(holding).put('1');
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  bool released = true;
  while (Exists(hold)) {
    if (std::chrono::steady_clock::now() > limit) {
      released = false;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (g_served.held.fetch_sub(1) == 1) ::unlink(holding.c_str());
  return released;
}

// CONTROL/fail-after: N bytes from when it is first seen, then EIO. Bytes,
// not reads, so the kernel's request sizes do not matter.
bool FailsAfterCount(size_t asked) {
  static std::mutex lock;
  std::ifstream in(g_served.control + "/fail-after");
  long long n = 0;
  if (!(in >> n)) return false;
  std::lock_guard<std::mutex> hold(lock);
  if (g_served.failAfterBase < 0) g_served.failAfterBase = g_served.served.load();
  return g_served.served.load() - g_served.failAfterBase + (long long)asked > n;
}

// The file a path names: the image (faults and all), or one of --also.
const File *FileOf(const char *path, bool &image) {
  static File main;
  image = false;
  if (path[0] != '/') return nullptr;
  if (g_served.name == path + 1) {
    main = File{g_served.name, g_served.fd, g_served.size};
    image = true;
    return &main;
  }
  for (const File &f : g_served.also)
    if (f.name == path + 1) return &f;
  return nullptr;
}

int GetAttr(const char *path, struct stat *st, fuse_file_info *) {
  std::memset(st, 0, sizeof *st);
  if (std::strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0555;
    st->st_nlink = 2;
    return 0;
  }
  bool image = false;
  const File *file = FileOf(path, image);
  if (!file) return -ENOENT;
  st->st_mode = S_IFREG | 0444;
  st->st_nlink = 1;
  st->st_size = off_t(file->size);
  st->st_blocks = off_t((file->size + 511) / 512);
  return 0;
}

int ReadDir(const char *path, void *buffer, fuse_fill_dir_t fill, off_t, fuse_file_info *,
            fuse_readdir_flags) {
  if (std::strcmp(path, "/") != 0) return -ENOENT;
  fill(buffer, ".", nullptr, 0, fuse_fill_dir_flags(0));
  fill(buffer, "..", nullptr, 0, fuse_fill_dir_flags(0));
  fill(buffer, g_served.name.c_str(), nullptr, 0, fuse_fill_dir_flags(0));
  for (const File &f : g_served.also)
    fill(buffer, f.name.c_str(), nullptr, 0, fuse_fill_dir_flags(0));
  return 0;
}

int Open(const char *path, fuse_file_info *fi) {
  bool image = false;
  if (!FileOf(path, image)) return -ENOENT;
  if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EACCES;
  fi->direct_io = 1;
  fi->keep_cache = 0;
  return 0;
}

int Read(const char *path, char *buffer, size_t size, off_t offset, fuse_file_info *) {
  bool image = false;
  const File *file = FileOf(path, image);
  if (!file) return -ENOENT;
  const File served = *file;
  if (const int ms = DelayMs()) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  if (!WaitWhileHeld()) return -EIO;
  if (Exists(g_served.control + "/fail") || FailsAfterCount(size)) return -EIO;
  const uint64_t from = uint64_t(offset), to = from + size;
  for (const Range &r : g_served.eio)
    if (image && r.from < to && from < r.to) return -EIO;
  if (from >= served.size) return 0;
  const size_t want = size_t(std::min<uint64_t>(size, served.size - from));
  size_t done = 0;
  while (done < want) {
    const ssize_t n = ::pread(served.fd, buffer + done, want - done, off_t(from + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -errno;
    if (n == 0) break;
    done += size_t(n);
  }
  g_served.served.fetch_add((long long)done);
  return int(done);
}

int Usage() {
  std::fprintf(stderr,
               "usage: orvan-faultyfs IMAGE MOUNTPOINT CONTROL [--eio FROM-TO]... [--name NAME]\n");
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  // Ends with the test that started it: the mount goes with it.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (argc < 4) return Usage();
  const std::string image = argv[1];
  const std::string mountpoint = argv[2];
  // The control folder is looked at by absolute name: the working folder
  // may change under FUSE.
  char *control = realpath(argv[3], nullptr);
  if (!control) return Usage();
  g_served.control = control;
  std::free(control);
  for (int i = 4; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--eio" && i + 1 < argc) {
      unsigned long long from = 0, to = 0;
      if (std::sscanf(argv[++i], "%llu-%llu", &from, &to) != 2 || to <= from) return Usage();
      g_served.eio.push_back(Range{from, to});
    } else if (a == "--name" && i + 1 < argc) {
      g_served.name = argv[++i];
    } else if (a == "--also" && i + 1 < argc) {
      const std::string path = argv[++i];
      File f;
      f.name = path.substr(path.find_last_of('/') + 1);
      f.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
      struct stat fst {};
      if (f.fd < 0 || fstat(f.fd, &fst) != 0) return Usage();
      f.size = uint64_t(fst.st_size);
      g_served.also.push_back(f);
    } else {
      return Usage();
    }
  }
  g_served.fd = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (g_served.fd < 0 || fstat(g_served.fd, &st) != 0) {
    std::fprintf(stderr, "orvan-faultyfs: cannot read %s: %s\n", image.c_str(),
                 std::strerror(errno));
    return 1;
  }
  g_served.size = uint64_t(st.st_size);

  fuse_operations ops{};
  ops.getattr = GetAttr;
  ops.readdir = ReadDir;
  ops.open = Open;
  ops.read = Read;
  std::vector<std::string> args = {"orvan-faultyfs", mountpoint, "-f", "-o",
                                   "ro,auto_unmount,fsname=orvan-faultyfs"};
  std::vector<char *> cargs;
  for (std::string &a : args) cargs.push_back(a.data());
  return fuse_main(int(cargs.size()), cargs.data(), &ops, nullptr);
}
