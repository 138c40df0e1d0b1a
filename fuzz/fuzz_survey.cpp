// The validity rules and the survey over a hostile index area, with the
// data area holding the same bytes, so that entries the fuzzer makes point
// at records it makes too. Whatever the survey calls recoverable must pass
// every rule, and its counts must add up.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "recorder/layout/disk_layout.h"
#include "recorder/recovery/disk_survey.h"
#include "recorder/recovery/entry_rules.h"

using namespace orvan;
using namespace orvan::recorder;

namespace {

// The fuzzer's bytes at the index area's start and again at the data
// area's start; zeros elsewhere; the disk ends behind the second copy.
class MirrorSource final : public ByteSource {
 public:
  MirrorSource(const uint8_t *data, size_t size, uint64_t dataBase)
      : m_data(data),
        m_size(size),
        m_dataBase(dataBase),
        m_end((dataBase + size + kSectorBytes - 1) / kSectorBytes * kSectorBytes) {}
  uint64_t End() const { return m_end; }
  bool Seek(uint64_t offset) override {
    if (offset % kSectorBytes) return false;
    m_position = offset;
    return true;
  }
  bool Read(void *buffer, size_t length, size_t *got) override {
    if (got) *got = 0;
    if (length % kSectorBytes || m_position > m_end || length > m_end - m_position) return false;
    auto *out = static_cast<uint8_t *>(buffer);
    std::memset(out, 0, length);
    Place(out, length, kIndexAreaOffset);
    Place(out, length, m_dataBase);
    m_position += length;
    if (got) *got = length;
    return true;
  }

 private:
  // The fuzzer's bytes where they lie at `base`, inside this read.
  void Place(uint8_t *out, size_t length, uint64_t base) const {
    const uint64_t from = std::max(m_position, base);
    const uint64_t to = std::min(m_position + length, base + m_size);
    if (from < to)
      std::memcpy(out + (from - m_position), m_data + (from - base), size_t(to - from));
  }

  const uint8_t *m_data;
  size_t m_size;
  uint64_t m_dataBase, m_end;
  uint64_t m_position = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 8) return 0;
  // The first bytes choose the state: the index count (within the area).
  const uint64_t indexCount = LoadU32(data) % 60000;
  const DiskGeometry g = GeometryFrom(1, indexCount);
  MirrorSource source(data + 8, size - 8, g.dataBase);
  // Each rule alone, on every entry the bytes hold.
  for (size_t at = 8; at + kEntryBytes <= size; at += kEntryBytes) {
    const IndexEntry e = IndexEntry::Parse(data + at);
    if (IsValidEntry(g, source.End(), e)) {
      if (!IsKnownRecordType(e.type) || e.channel > 3 || e.size == 0 ||
          e.size > kMaxRecoveredRecordBytes || e.time == 0 ||
          g.dataBase + e.offset + e.size > source.End())
        __builtin_trap();
    }
    BeginsAsTyped(e, data + at, size - at);
  }
  SurveyOptions options;
  options.keepRecoverable = true;
  const DiskSurvey s = SurveyDisk(source, g, source.End(), options);
  if (s.stale.intact + s.stale.overwritten != s.stale.entries) __builtin_trap();
  if (s.heldBack.entries + s.heldBack.notAsTyped != s.heldBack.valid) __builtin_trap();
  if (s.backwardReads != 0) __builtin_trap();
  int64_t last = -1;
  std::vector<uint8_t> head(8);
  for (const RecoverableEntry &r : s.recoverable) {
    if (r.number <= last || r.number < g.playEnd) __builtin_trap();
    last = r.number;
    if (!IsValidEntry(g, source.End(), r.entry)) __builtin_trap();
    if (r.span < 0 || size_t(r.span) >= s.spans.size()) __builtin_trap();
    // Its record's start, as the disk holds it.
    const uint64_t at = r.entry.offset;
    for (size_t i = 0; i < head.size(); ++i) head[i] = at + i < size - 8 ? data[8 + at + i] : 0;
    if (!BeginsAsTyped(r.entry, head.data(), head.size())) __builtin_trap();
  }
  return 0;
}
