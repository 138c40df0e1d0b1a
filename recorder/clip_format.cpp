#include "recorder/clip_format.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace orvan::recorder {

const char kClipTooShortText[] = "The file too short to play video.";
const char kClipTooShortCaption[] = "Alarm";

namespace {

bool ReadAt(int fd, uint64_t offset, void *buffer, size_t length) {
  auto *p = static_cast<uint8_t *>(buffer);
  size_t done = 0;
  while (done < length) {
    if (offset > uint64_t(INT64_MAX) - length) return false;
    const ssize_t n = ::pread(fd, p + done, length - done, off_t(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

bool WriteAll(int fd, const void *data, size_t length) {
  const auto *p = static_cast<const uint8_t *>(data);
  size_t done = 0;
  while (done < length) {
    const ssize_t n = ::write(fd, p + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

// A path may be written when it does not exist or is a regular file other
// than the one `source` reads (never a device, a folder or a link).
bool MayWrite(const std::string &path, const DiskSource *source, std::string *error) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    if (error) *error = path + " exists and is not a regular file; refusing to write to it";
    return false;
  }
  if (source && source->SameFileAs(path)) {
    if (error) *error = path + " is the disk being read; refusing to write to it";
    return false;
  }
  return true;
}

// Creates or replaces a regular file for writing.
int CreateRegular(const std::string &path, std::string *error) {
  struct stat st {};
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    if (error) *error = "Cannot create " + path + ": " + std::strerror(errno);
    return -1;
  }
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    if (error) *error = path + " is not a regular file; refusing to write to it";
    return -1;
  }
  return fd;
}

}  // namespace

ClipStatus ParseClipTrailer(uint64_t fileSize, std::span<const uint8_t> lastBytes,
                            ClipTrailer &trailer) {
  if (fileSize < kClipTrailerSearchBytes) return ClipStatus::TooShort;
  if (lastBytes.size() < kClipTrailerSearchBytes) return ClipStatus::ReadError;
  const uint64_t base = fileSize - kClipTrailerSearchBytes;
  constexpr size_t kWords = kClipTrailerSearchBytes / 4;
  bool sawMagic = false;
  for (size_t i = 0; i < kWords; ++i) {
    const uint32_t word = LoadU32(lastBytes.data() + 4 * i);
    if (word != kClipMagicInterleaved && word != kClipMagicSingle) continue;
    sawMagic = true;
    if (i + 1 >= kWords) break;  // no count word behind it
    const uint32_t count = LoadU32(lastBytes.data() + 4 * (i + 1));
    const uint64_t countOffset = base + 4 * (i + 1);
    if (uint64_t(count) != countOffset / kEntryBytes) continue;
    trailer.magic = word;
    trailer.count = count;
    trailer.layout = LayoutOfMagic(word);
    trailer.countOffset = countOffset;
    return ClipStatus::Ok;
  }
  return sawMagic ? ClipStatus::BadCount : ClipStatus::NoMagic;
}

std::string CompanionDataName(const std::string &indexPath) {
  const size_t slash = indexPath.find_last_of('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  std::string name = indexPath.substr(nameStart);
  const size_t cut = name.find(".in");
  if (cut != std::string::npos) name.resize(cut);
  return indexPath.substr(0, nameStart) + name + ".da";
}

std::string DefaultClipName(const SYSTEMTIME &start) {
  char text[64];
  std::snprintf(text, sizeof text, "%d%.2d%.2d_%.2d%.2d%.2d.in", start.wYear, start.wMonth,
                start.wDay, start.wHour, start.wMinute, start.wSecond);
  return text;
}

CClipReader::~CClipReader() { Close(); }

bool CClipReader::OpenIndexOnly(const std::string &indexPath) {
  Close();
  m_index = ::open(indexPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (m_index < 0) return false;
  struct stat st {};
  if (fstat(m_index, &st) != 0 || !S_ISREG(st.st_mode)) {
    Close();
    return false;
  }
  m_indexBytes = uint64_t(st.st_size);
  return true;
}

bool CClipReader::Open(const std::string &indexPath) {
  if (!OpenIndexOnly(indexPath)) return false;
  m_data = ::open(CompanionDataName(indexPath).c_str(), O_RDONLY | O_CLOEXEC);
  if (m_data < 0) {
    Close();
    return false;
  }
  return true;
}

void CClipReader::Close() {
  if (m_index >= 0) ::close(m_index);
  if (m_data >= 0) ::close(m_data);
  m_index = m_data = -1;
  m_indexBytes = 0;
}

ClipStatus CClipReader::ReadClipTrailer(ClipTrailer &trailer) const {
  if (m_index < 0) return ClipStatus::ReadError;
  if (m_indexBytes < kClipTrailerSearchBytes) return ClipStatus::TooShort;
  std::vector<uint8_t> last(kClipTrailerSearchBytes);
  if (!ReadAt(m_index, m_indexBytes - kClipTrailerSearchBytes, last.data(), last.size()))
    return ClipStatus::ReadError;
  return ParseClipTrailer(m_indexBytes, last, trailer);
}

bool CClipReader::ReadEntry(uint64_t k, IndexEntry &entry) const {
  if (m_index < 0 || k > (uint64_t(INT64_MAX) - kEntryBytes) / kEntryBytes) return false;
  uint8_t bytes[kEntryBytes];
  if (!ReadAt(m_index, kEntryBytes * k, bytes, sizeof bytes)) return false;
  entry = IndexEntry::Parse(bytes);
  return true;
}

bool CClipReader::ReadRecord(const IndexEntry &entry, uint64_t baseOffset, uint8_t *buffer) const {
  if (m_data < 0 || entry.size > kMaxRecordBytes || entry.offset < baseOffset) return false;
  return ReadAt(m_data, entry.offset - baseOffset, buffer, entry.size);
}

CClipWriter::~CClipWriter() { Close(); }

bool CClipWriter::Create(const std::string &indexPath, const DiskSource *source,
                         std::string *error) {
  Close();
  const std::string dataPath = CompanionDataName(indexPath);
  if (dataPath == indexPath) {
    if (error) *error = "The index and data file names are the same: " + indexPath;
    return false;
  }
  // Both names are checked before either file is touched.
  if (!MayWrite(indexPath, source, error) || !MayWrite(dataPath, source, error)) return false;
  m_index = CreateRegular(indexPath, error);
  if (m_index < 0) return false;
  m_data = CreateRegular(dataPath, error);
  if (m_data < 0) {
    Close();
    return false;
  }
  m_dataPath = dataPath;
  return true;
}

bool CClipWriter::Flush() {
  if (!m_dataPending.empty() && !WriteAll(m_data, m_dataPending.data(), m_dataPending.size()))
    m_failed = true;
  if (!m_indexPending.empty() && !WriteAll(m_index, m_indexPending.data(), m_indexPending.size()))
    m_failed = true;
  m_dataPending.clear();
  m_indexPending.clear();
  return !m_failed;
}

bool CClipWriter::WriteEntry(const IndexEntry &entry, const uint8_t *data) {
  if (m_index < 0 || m_data < 0 || m_failed) return false;
  m_dataPending.insert(m_dataPending.end(), data, data + entry.size);
  uint8_t bytes[kEntryBytes];
  entry.Serialize(bytes);
  m_indexPending.insert(m_indexPending.end(), bytes, bytes + kEntryBytes);
  if (m_dataPending.size() + m_indexPending.size() >= kGatherBytes) return Flush();
  return true;
}

bool CClipWriter::WriteTrailer(uint32_t magic, uint32_t count) {
  if (m_index < 0) return false;
  uint8_t trailer[12] = {};
  StoreU32(trailer, magic);
  StoreU32(trailer + 4, count);
  m_indexPending.insert(m_indexPending.end(), trailer, trailer + sizeof trailer);
  return Flush();
}

bool CClipWriter::Close() {
  const bool ok = m_index < 0 || Flush();
  if (m_index >= 0) ::close(m_index);
  if (m_data >= 0) ::close(m_data);
  m_index = m_data = -1;
  m_failed = false;
  m_dataPending.clear();
  m_indexPending.clear();
  return ok;
}

}  // namespace orvan::recorder
