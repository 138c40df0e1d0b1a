#include "recorder/recovery/entry_rules.h"

namespace orvan::recorder {

EntryVerdict CheckEntry(const DiskGeometry &geometry, uint64_t diskBytes, const IndexEntry &entry) {
  if (!IsKnownRecordType(entry.type)) return EntryVerdict::kBadType;
  if (entry.channel > 3) return EntryVerdict::kBadChannel;
  if (entry.size == 0 || entry.size > kMaxRecoveredRecordBytes) return EntryVerdict::kBadSize;
  // The record's first byte and its end, without overflow.
  if (entry.offset > UINT64_MAX - geometry.dataBase) return EntryVerdict::kPastDisk;
  const uint64_t begin = geometry.dataBase + entry.offset;
  if (begin > UINT64_MAX - entry.size - 2 * kSectorBytes) return EntryVerdict::kPastDisk;
  if (diskBytes > 0 && begin + entry.size > diskBytes) return EntryVerdict::kPastDisk;
  if (entry.time == 0) return EntryVerdict::kNoTime;
  return EntryVerdict::kValid;
}

size_t HeadBytesNeeded(int8_t type) {
  if (type == kTypeAudio) return 0;
  if (IsMjpegRecord(type)) return 2;
  return 3;
}

bool BeginsAsTyped(const IndexEntry &entry, const uint8_t *head, size_t headBytes) {
  if (entry.type == kTypeAudio) return entry.size % 4 == 0;
  if (!IsKnownRecordType(entry.type)) return false;
  const size_t need = HeadBytesNeeded(entry.type);
  if (!head || headBytes < need || entry.size < need) return false;
  if (IsMjpegRecord(entry.type)) return head[0] == 0xFF && head[1] == 0xD8;
  return head[0] == 0x00 && head[1] == 0x00 && head[2] == 0x01;
}

void VerdictCounts::Count(EntryVerdict verdict) {
  switch (verdict) {
    case EntryVerdict::kValid:
      break;
    case EntryVerdict::kBadType:
      ++badType;
      break;
    case EntryVerdict::kBadChannel:
      ++badChannel;
      break;
    case EntryVerdict::kBadSize:
      ++badSize;
      break;
    case EntryVerdict::kPastDisk:
      ++pastDisk;
      break;
    case EntryVerdict::kNoTime:
      ++noTime;
      break;
  }
}

}  // namespace orvan::recorder
