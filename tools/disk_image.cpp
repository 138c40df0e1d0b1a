#include "tools/disk_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orvan::tools {

using namespace orvan::recorder;

ImageFile::~ImageFile() { Close(); }

bool ImageFile::Create(const std::string &path, std::string *error) {
  Close();
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    if (error) *error = path + " exists and is not a regular file; refusing to write to it";
    return false;
  }
  m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (m_fd < 0) {
    if (error) *error = "Cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  if (fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    Close();
    if (error) *error = path + " is not a regular file; refusing to write to it";
    return false;
  }
  return true;
}

bool ImageFile::WriteAt(uint64_t offset, const void *data, size_t length) {
  const auto *p = static_cast<const uint8_t *>(data);
  size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pwrite(m_fd, p + done, length - done, off_t(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

bool ImageFile::SetSize(uint64_t bytes) { return ::ftruncate(m_fd, off_t(bytes)) == 0; }

bool ImageFile::Close() {
  if (m_fd < 0) return true;
  const bool ok = ::close(m_fd) == 0;
  m_fd = -1;
  return ok;
}

std::array<uint8_t, 16> MakeDiskHeader(uint32_t indexAreaMiB) {
  std::array<uint8_t, 16> h{};
  std::memcpy(h.data(), "VORN", 4);
  // Reserved bytes: the recorder fills them with a model word and a version.
  h[4] = 0x04;
  h[5] = 0x01;
  StoreU32(h.data() + 12, indexAreaMiB);
  return h;
}

std::array<uint8_t, 20> MakeStateEntry(uint32_t tag, uint64_t indexCount) {
  std::array<uint8_t, 20> e{};
  StoreU32(e.data(), tag);
  StoreU64(e.data() + 12, indexCount);
  return e;
}

std::vector<uint8_t> MakeEventLogBytes(uint32_t storedCount,
                                       const std::vector<EventRecord> &events) {
  const size_t n = std::min<size_t>(events.size(), kMaxEventCount);
  std::vector<uint8_t> bytes(8 + kEventRecordBytes * n);
  StoreU32(bytes.data(), storedCount);
  for (size_t k = 0; k < n; ++k) events[k].Serialize(bytes.data() + 8 + kEventRecordBytes * k);
  return bytes;
}

bool WriteRecorderImage(const std::string &path, const RecorderImage &image, std::string *error) {
  ImageFile file;
  if (!file.Create(path, error)) return false;
  bool ok = true;
  const auto header = MakeDiskHeader(image.indexAreaMiB);
  ok = ok && file.WriteAt(0, header.data(), header.size());
  const uint64_t indexCount = image.indexCount >= 0
                                  ? uint64_t(image.indexCount)
                                  : image.entries.size() + uint64_t(kUnplayedTailEntries);
  if (image.stateSlot >= 0 && image.stateSlot < kStateEntryCount) {
    const auto state = MakeStateEntry(kValidStateTag, indexCount);
    ok = ok && file.WriteAt(kStateTableOffset + kStateEntryBytes * uint64_t(image.stateSlot),
                            state.data(), state.size());
  }
  const uint32_t storedCount =
      image.eventCount >= 0 ? uint32_t(image.eventCount) : uint32_t(image.events.size());
  const auto log = MakeEventLogBytes(storedCount, image.events);
  ok = ok && file.WriteAt(kEventLogOffset, log.data(), log.size());
  std::vector<uint8_t> index(kEntryBytes * image.entries.size());
  for (size_t i = 0; i < image.entries.size(); ++i)
    image.entries[i].Serialize(index.data() + kEntryBytes * i);
  if (!index.empty()) ok = ok && file.WriteAt(kIndexAreaOffset, index.data(), index.size());
  const uint64_t dataBase = kIndexAreaOffset + uint64_t(image.indexAreaMiB) * kMiB;
  if (!image.data.empty()) ok = ok && file.WriteAt(dataBase, image.data.data(), image.data.size());
  const uint64_t end =
      std::max<uint64_t>(dataBase + image.data.size(), kIndexAreaOffset + index.size());
  ok = ok && file.SetSize((end + image.tailBytes + 511) / 512 * 512);
  ok = file.Close() && ok;
  if (!ok && error) *error = "Cannot write " + path + ": " + std::strerror(errno);
  return ok;
}

}  // namespace orvan::tools
