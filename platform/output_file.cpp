#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "platform/log.h"
#include "platform/source_registry.h"

namespace orvan::platform {

namespace {

constexpr const char *kLogCategory = "output";
// Appended bytes are handed to the disk in runs of this size.
constexpr uint64_t kWritebackBytes = 1 << 20;

std::string CannotWrite(const std::string &path, int error) {
  return "cannot write " + path + ": " + std::strerror(error);
}

// Whether the existing file `st` may receive the output named `shown`.
OutputStatus Judge(const std::string &shown, const struct stat &st, ReplacePolicy policy,
                   std::string &error) {
  const std::string refusing = "refusing to write " + shown + ": ";
  if (const auto source = SourceMatching(st)) {
    error = refusing + "it is the source being read (" + *source + ")";
    return OutputStatus::kIsSource;
  }
  const char *kind = nullptr;
  if (S_ISDIR(st.st_mode))
    kind = "it is a folder";
  else if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
    kind = "it is a device";
  else if (S_ISFIFO(st.st_mode))
    kind = "it is a FIFO";
  else if (S_ISSOCK(st.st_mode))
    kind = "it is a socket";
  else if (!S_ISREG(st.st_mode))
    kind = "it is not a regular file";
  if (kind) {
    error = refusing + kind;
    return OutputStatus::kNotAFile;
  }
  if (policy == ReplacePolicy::kKeepExisting) {
    error = "refusing to replace " + shown + ": the file exists";
    return OutputStatus::kExists;
  }
  return OutputStatus::kOk;
}

// Where output named `path` goes (the file a link names, else the path
// itself) and whether it may go there.
OutputStatus Examine(const std::string &path, ReplacePolicy policy, std::string &target,
                     std::string &error) {
  target = path;
  if (path.empty()) {
    error = "no output file named";
    return OutputStatus::kFailed;
  }
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr), std::free);
    if (!real) {
      if (errno == ENOENT || errno == ELOOP) {
        error = "refusing to write " + path + ": it is a link to nothing";
        return OutputStatus::kNotAFile;
      }
      error = CannotWrite(path, errno);
      return OutputStatus::kFailed;
    }
    target = real.get();
  }
  if (stat(target.c_str(), &st) != 0) {
    if (errno == ENOENT) return OutputStatus::kOk;  // a new file; its folder is checked on creation
    error = CannotWrite(path, errno);
    return OutputStatus::kFailed;
  }
  return Judge(path, st, policy, error);
}

std::string TemporaryName(const std::string &target) {
  static std::atomic<uint64_t> counter{0};
  const std::filesystem::path final(target);
  std::string name = final.filename().string();
  if (name.size() > 180) name.resize(180);  // room for the suffix within NAME_MAX
  const uint64_t stir = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                        (uint64_t(getpid()) << 32) ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".%016llx.part", static_cast<unsigned long long>(stir));
  return (final.parent_path() / ("." + name + suffix)).string();
}

std::string FolderOf(const std::string &path) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  return folder.empty() ? "." : folder;
}

// Best effort: the rename itself is durable only once the folder is.
void SyncFolder(const std::string &folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  if (fsync(fd) != 0)
    ORVAN_LOG_DEBUG(kLogCategory, "fsync of %s: %s", folder.c_str(), strerror(errno));
  ::close(fd);
}

// Puts `from` in place as `to` without ever replacing an existing `to`.
int RenameKeepingExisting(const std::string &from, const std::string &to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
  // A file system without RENAME_NOREPLACE: link() also refuses an
  // existing name.
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  ::unlink(from.c_str());
  return 0;
}

}  // namespace

OutputFile::~OutputFile() { Abandon(); }

void OutputFile::ComputeSha256(bool readBackWhenRewritten) {
  if (m_fd < 0 || m_end != 0) return;
  m_sha = std::make_unique<BackgroundSha256>();
  m_digestWanted = true;
  m_readBack = readBackWhenRewritten;
}

void OutputFile::ComputeSha256AtCommit() {
  if (m_fd < 0 || m_end != 0) return;
  m_sha.reset();
  m_digestWanted = true;
  m_readBack = true;
  m_rewritten = true;
}

bool OutputFile::Sha256Of(Sha256Digest &digest) const {
  if (!m_hasDigest) return false;
  digest = m_digest;
  return true;
}

void OutputFile::Written(uint64_t offset, const void *data, size_t length) {
  if (m_sha) {
    if (offset == m_end)
      m_sha->Update(data, length);
    else if (length)
      m_sha.reset();  // bytes changed inside the file: no running digest can follow
  }
  if (offset != m_end && length) m_rewritten = true;
  m_end = std::max(m_end, offset + length);
  if (m_end - m_writtenBack >= kWritebackBytes) Writeback(m_writtenBack, m_end);
}

void OutputFile::Writeback(uint64_t from, uint64_t to) {
  // Only a hint: the sync in Commit() is what makes the file durable, so a
  // file system that refuses is no failure.
  if (to > from &&
      ::sync_file_range(m_fd, off_t(from), off_t(to - from), SYNC_FILE_RANGE_WRITE) != 0)
    ORVAN_LOG_DEBUG(kLogCategory, "sync_file_range of %s: %s", m_path.c_str(), strerror(errno));
  m_writtenBack = to;
}

void OutputFile::StartWriteback() {
  if (m_fd >= 0 && !m_writeFailed) Writeback(m_writtenBack, m_end);
}

bool OutputFile::Fail(OutputStatus status, const std::string &text) {
  m_status = status;
  m_error = text;
  return false;
}

bool OutputFile::Create(const std::string &path, ReplacePolicy policy) {
  Abandon();
  m_path = path;
  m_policy = policy;
  m_writeFailed = false;
  m_position = m_end = m_writtenBack = 0;
  m_sha.reset();
  m_digestWanted = m_readBack = m_rewritten = false;
  m_hasDigest = false;
  m_status = OutputStatus::kOk;
  m_error.clear();
  std::string error;
  const OutputStatus status = Examine(path, policy, m_target, error);
  if (status != OutputStatus::kOk) return Fail(status, error);
  for (int attempt = 0; attempt < 100; ++attempt) {
    m_temporary = TemporaryName(m_target);
    m_fd = ::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (m_fd >= 0) return true;
    if (errno != EEXIST) break;
  }
  const int error2 = errno;
  m_temporary.clear();
  return Fail(OutputStatus::kFailed, CannotWrite(path, error2));
}

bool OutputFile::Write(const void *data, size_t length) { return WriteAll(data, length, -1); }

bool OutputFile::WriteAt(uint64_t offset, const void *data, size_t length) {
  if (m_fd < 0 || m_writeFailed) return false;
  if (length > 0 && offset > uint64_t(INT64_MAX) - length) {
    m_writeFailed = true;
    return Fail(OutputStatus::kFailed, CannotWrite(m_path, EFBIG));
  }
  return WriteAll(data, length, int64_t(offset));
}

bool OutputFile::WriteAll(const void *data, size_t length, int64_t offset) {
  if (m_fd < 0 || m_writeFailed) return false;
  const auto *p = static_cast<const uint8_t *>(data);
  size_t done = 0;
  while (done < length) {
    const ssize_t n = offset < 0 ? ::write(m_fd, p + done, length - done)
                                 : ::pwrite(m_fd, p + done, length - done, off_t(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      m_writeFailed = true;
      return Fail(OutputStatus::kFailed, CannotWrite(m_path, n < 0 ? errno : ENOSPC));
    }
    done += size_t(n);
  }
  if (offset < 0) {
    Written(m_position, data, length);
    m_position += length;
  } else {
    Written(uint64_t(offset), data, length);
  }
  return true;
}

int64_t OutputFile::Seek(int64_t offset, int whence) {
  if (m_fd < 0) return -1;
  const int64_t at = int64_t(::lseek(m_fd, off_t(offset), whence));
  if (at >= 0) m_position = uint64_t(at);
  return at;
}

int64_t OutputFile::SizeBytes() const {
  struct stat st {};
  if (m_fd < 0 || fstat(m_fd, &st) != 0) return -1;
  return int64_t(st.st_size);
}

bool OutputFile::SetSize(uint64_t bytes) {
  if (m_fd < 0 || m_writeFailed) return false;
  if (bytes > uint64_t(INT64_MAX) || ::ftruncate(m_fd, off_t(bytes)) != 0) {
    m_writeFailed = true;
    return Fail(OutputStatus::kFailed,
                CannotWrite(m_path, bytes > uint64_t(INT64_MAX) ? EFBIG : errno));
  }
  if (bytes != m_end) {
    m_sha.reset();
    m_rewritten = true;
  }
  m_end = bytes;
  m_writtenBack = std::min(m_writtenBack, bytes);
  return true;
}

void FolderSyncs::Add(const std::string &file) {
  const std::string folder = FolderOf(file);
  if (std::find(m_folders.begin(), m_folders.end(), folder) == m_folders.end())
    m_folders.push_back(folder);
}

void FolderSyncs::SyncAll() {
  for (const std::string &folder : m_folders) SyncFolder(folder);
  m_folders.clear();
}

bool OutputFile::Commit(FolderSyncs *later) {
  if (m_fd < 0) {
    if (m_status == OutputStatus::kOk) Fail(OutputStatus::kFailed, "no output file open");
    return false;
  }
  if (m_writeFailed) {
    Abandon();
    return false;  // the write's own message stays
  }
  if (fsync(m_fd) != 0) {
    const int error = errno;
    Abandon();
    return Fail(OutputStatus::kFailed, CannotWrite(m_path, error));
  }
  const int closed = ::close(m_fd);
  const int closeError = errno;
  m_fd = -1;
  if (closed != 0) {
    Abandon();
    return Fail(OutputStatus::kFailed, CannotWrite(m_path, closeError));
  }
  if (m_digestWanted && m_readBack && m_rewritten) {
    // The running digest could not follow the bytes written again: the
    // file as it now stands on the disk is digested instead.
    m_sha.reset();
    uint64_t bytes = 0;
    std::string why;
    m_hasDigest = FileSha256(m_temporary, m_digest, bytes, &why) && bytes == m_end;
  }
  // The name may have been given to something else while the file was
  // written: look again. A link put there now is replaced as a link; what
  // it names is never written through.
  struct stat st {};
  if (lstat(m_target.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
    std::string error;
    const OutputStatus status = Judge(m_path, st, m_policy, error);
    if (status != OutputStatus::kOk) {
      Abandon();
      return Fail(status, error);
    }
  }
  int renameError = 0;
  if (m_policy == ReplacePolicy::kReplaceExisting)
    renameError = std::rename(m_temporary.c_str(), m_target.c_str()) == 0 ? 0 : errno;
  else
    renameError = RenameKeepingExisting(m_temporary, m_target);
  if (renameError != 0) {
    Abandon();
    if (renameError == EEXIST)
      return Fail(OutputStatus::kExists, "refusing to replace " + m_path + ": the file exists");
    return Fail(OutputStatus::kFailed, CannotWrite(m_path, renameError));
  }
  m_temporary.clear();
  if (later)
    later->Add(m_target);
  else
    SyncFolder(FolderOf(m_target));
  if (m_sha) {
    m_digest = m_sha->Final();
    m_hasDigest = m_sha->Ok();
    m_sha.reset();
  }
  return true;
}

void OutputFile::Abandon() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  if (!m_temporary.empty()) ::unlink(m_temporary.c_str());
  m_temporary.clear();
}

OutputStatus CheckOutputPath(const std::string &path, ReplacePolicy policy, std::string *error) {
  std::string target, text;
  const OutputStatus status = Examine(path, policy, target, text);
  if (error) *error = text;
  return status;
}

bool WriteOutputFile(const std::string &path, const void *data, size_t length, ReplacePolicy policy,
                     std::string *error) {
  OutputFile file;
  const bool ok = file.Create(path, policy) && file.Write(data, length) && file.Commit();
  if (!ok && error) *error = file.Error();
  return ok;
}

}  // namespace orvan::platform
