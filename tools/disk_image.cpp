#include "tools/disk_image.h"

#include <cstring>

namespace orvan::tools {

using namespace orvan::recorder;

bool ImageFile::Create(const std::string &path, std::string *error) {
  if (m_file.Create(path, platform::ReplacePolicy::kReplaceExisting)) return true;
  if (error) *error = m_file.Error();
  return false;
}

bool ImageFile::WriteAt(uint64_t offset, const void *data, size_t length) {
  return m_file.WriteAt(offset, data, length);
}

bool ImageFile::SetSize(uint64_t bytes) { return m_file.SetSize(bytes); }

bool ImageFile::Close(std::string *error) {
  if (!m_file.IsOpen()) return true;
  if (m_file.Commit()) return true;
  if (error) *error = m_file.Error();
  return false;
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
  if (!image.data.empty())
    ok = ok && file.WriteAt(dataBase + image.dataAt, image.data.data(), image.data.size());
  const uint64_t end = std::max<uint64_t>(dataBase + image.dataAt + image.data.size(),
                                          kIndexAreaOffset + index.size());
  ok = ok && file.SetSize((end + image.tailBytes + 511) / 512 * 512);
  std::string why;
  if (ok) ok = file.Close(&why);
  if (!ok && error) *error = why.empty() ? "Cannot write " + path : why;
  return ok;
}

}  // namespace orvan::tools
