#include "recorder/layout/disk_layout.h"

#include <algorithm>
#include <cstring>

#include "media/frame.h"

namespace orvan::recorder {

const char kStateErrorText[] = "Check HDD State Error!!";
const char kDiskStoppedText[] = "The disk stopped answering";

IndexEntry IndexEntry::Parse(const uint8_t *p) {
  IndexEntry e;
  e.type = static_cast<int8_t>(p[0]);
  e.channel = p[1];
  e.delayMs = LoadU16(p + 2);
  e.time = LoadU32(p + 4);
  e.size = LoadU32(p + 8);
  e.offset = LoadU64(p + 12);
  return e;
}

void IndexEntry::Serialize(uint8_t *p) const {
  p[0] = static_cast<uint8_t>(type);
  p[1] = channel;
  StoreU16(p + 2, delayMs);
  StoreU32(p + 4, time);
  StoreU32(p + 8, size);
  StoreU64(p + 12, offset);
}

EventRecord EventRecord::Parse(const uint8_t *p) {
  EventRecord r;
  r.reserved = p[0];
  r.kindWord = LoadU16(p + 1);
  r.channel = p[3];
  r.time = LoadU32(p + 4);
  return r;
}

void EventRecord::Serialize(uint8_t *p) const {
  p[0] = reserved;
  StoreU16(p + 1, kindWord);
  p[3] = channel;
  StoreU32(p + 4, time);
}

bool IsRecorderDisk(std::span<const uint8_t> probe) {
  static constexpr uint8_t kSig[4] = {'V', 'O', 'R', 'N'};
  // The text ends at the first zero byte; "VORN" must lie wholly before it.
  const auto end = std::find(probe.begin(), probe.end(), uint8_t{0});
  return std::search(probe.begin(), end, std::begin(kSig), std::end(kSig)) != end;
}

DiskGeometry GeometryFrom(uint32_t indexAreaMiB, uint64_t indexCount) {
  DiskGeometry g;
  g.indexAreaMiB = indexAreaMiB;
  g.dataBase = kIndexAreaOffset + uint64_t(indexAreaMiB) * kMiB;  // < 2^53, no overflow
  g.indexCount = static_cast<int64_t>(indexCount);
  // A count below 300 (or one so large it reads as negative) is an empty
  // recording; a huge one is capped so entry positions stay representable.
  if (g.indexCount < kUnplayedTailEntries) {
    g.playEnd = 0;
  } else {
    g.playEnd = std::min(g.indexCount - kUnplayedTailEntries, kMaxEntryNumber);
  }
  return g;
}

GeometryStatus ParseGeometry(std::span<const uint8_t> probe, DiskGeometry &geometry,
                             DiskHeader *header, DiskStateEntry *state) {
  if (!IsRecorderDisk(probe) || probe.size() < kHeaderBytes) return GeometryStatus::NotRecorderDisk;
  DiskHeader h;
  std::memcpy(h.bytes.data(), probe.data(), kHeaderBytes);
  if (header) *header = h;
  for (int i = 0; i < kStateEntryCount; ++i) {
    const uint64_t at = kStateTableOffset + kStateEntryBytes * uint64_t(i);
    if (at + kStateEntryBytes > probe.size()) break;
    const uint8_t *p = probe.data() + at;
    if (LoadU32(p) != kValidStateTag) continue;
    DiskStateEntry s;
    s.tag = LoadU32(p);
    s.reserved = LoadU64(p + 4);
    s.indexCount = LoadU64(p + 12);
    s.slot = i;
    if (state) *state = s;
    geometry = GeometryFrom(h.indexAreaMiB(), s.indexCount);
    return GeometryStatus::Ok;
  }
  return GeometryStatus::NoValidState;
}

GeometryStatus ReadGeometry(ByteSource &source, DiskGeometry &geometry, DiskHeader *header,
                            DiskStateEntry *state) {
  std::vector<uint8_t> probe(kProbeBytes);
  size_t got = 0;
  if (!source.Seek(0)) return GeometryStatus::NotRecorderDisk;
  if (!source.Read(probe.data(), probe.size(), &got)) {
    if (got < kHeaderBytes) return GeometryStatus::NotRecorderDisk;
    probe.resize(got);
  }
  return ParseGeometry(probe, geometry, header, state);
}

bool ReadIndexEntry(ByteSource &source, int64_t n, IndexEntry &entry) {
  if (n < 0 || n > kMaxEntryNumber) return false;
  const uint64_t position = IndexEntryPosition(n);
  const uint64_t sector = position - position % kSectorBytes;
  const uint64_t within = position - sector;
  // Two sectors only when the entry runs across the boundary: the second
  // may lie past the end of a disk cut right behind this entry.
  const size_t length = within + kEntryBytes > kSectorBytes ? 2 * kSectorBytes : kSectorBytes;
  uint8_t bytes[2 * kSectorBytes];
  if (!source.Seek(sector) || !source.Read(bytes, length)) return false;
  entry = IndexEntry::Parse(bytes + within);
  return true;
}

bool LastPlayedEntryTime(ByteSource &source, const DiskGeometry &geometry, uint32_t &time) {
  IndexEntry last;
  if (geometry.playEnd <= 0 || !ReadIndexEntry(source, geometry.playEnd - 1, last)) return false;
  time = last.time;
  return true;
}

bool IsPlausibleEntry(const DiskGeometry &geometry, const IndexEntry &entry) {
  if (entry.channel >= 4 || !IsKnownRecordType(entry.type)) return false;
  if (entry.offset > uint64_t(INT64_MAX) - kMaxRecordBytes - geometry.dataBase) return false;
  return RoundedRecordBytes(geometry, entry) <= kMaxRecordBytes;
}

uint64_t LayoutMinimumBytes(ByteSource &source, const DiskGeometry &geometry) {
  uint64_t needed = kProbeBytes;
  const int64_t counted = std::clamp<int64_t>(geometry.indexCount, 0, kMaxEntryNumber);
  needed = std::max(needed, IndexEntryPosition(counted));
  IndexEntry last;
  if (geometry.playEnd > 0 && ReadIndexEntry(source, geometry.playEnd - 1, last) &&
      IsPlausibleEntry(geometry, last))
    needed = std::max(needed, geometry.dataBase + last.offset + last.size);
  return needed;
}

uint64_t RoundedRecordBytes(const DiskGeometry &geometry, const IndexEntry &entry) {
  if (entry.offset > uint64_t(INT64_MAX) - geometry.dataBase) return 0;
  const uint64_t position = geometry.dataBase + entry.offset;
  const uint64_t r = position % kSectorBytes;
  const uint64_t head = r ? kSectorBytes - r : 0;
  const uint64_t rest = entry.size > head ? entry.size - head : 0;
  const uint64_t restRounded = (rest + kSectorBytes - 1) / kSectorBytes * kSectorBytes;
  return (r ? kSectorBytes : 0) + restRounded;
}

namespace {

// Why a careful read failed, for the readers of records.
RecordRead RecordFailure(const ReadReport &report) {
  if (report.gone) return RecordRead::kGone;
  if (report.stopped) return RecordRead::kStopped;
  if (!report.lost.empty()) return RecordRead::kLost;
  return RecordRead::kEnded;
}

}  // namespace

RecordRead ReadRecord(ByteSource &source, const DiskGeometry &geometry, const IndexEntry &entry,
                      uint8_t *buffer) {
  // Position checks first: dataBase + offset, and a record's worth behind
  // it, must stay a valid signed byte offset.
  if (entry.offset > uint64_t(INT64_MAX) - kMaxRecordBytes - geometry.dataBase)
    return RecordRead::kInvalid;
  const uint64_t rounded = RoundedRecordBytes(geometry, entry);
  if (rounded > kMaxRecordBytes) return RecordRead::kInvalid;

  const uint64_t position = geometry.dataBase + entry.offset;
  const uint64_t r = position % kSectorBytes;
  uint64_t head = 0;
  ReadReport report;
  if (r != 0) {
    uint8_t sector[kSectorBytes];
    if (!source.Seek(position - r)) return RecordRead::kInvalid;
    if (!source.ReadSectors(sector, kSectorBytes, report)) return RecordFailure(report);
    head = kSectorBytes - r;
    std::memcpy(buffer, sector + r, std::min<uint64_t>(head, entry.size));
  } else if (!source.Seek(position)) {
    return RecordRead::kInvalid;
  }
  const uint64_t rest = entry.size > head ? entry.size - head : 0;
  const uint64_t restRounded = (rest + kSectorBytes - 1) / kSectorBytes * kSectorBytes;
  // head + restRounded <= rounded <= kMaxRecordBytes: the read fits the buffer.
  if (restRounded && !source.ReadSectors(buffer + head, restRounded, report))
    return RecordFailure(report);
  return RecordRead::kRead;
}

bool ReadDataRecord(ByteSource &source, const DiskGeometry &geometry, const IndexEntry &entry,
                    uint8_t *buffer) {
  return ReadRecord(source, geometry, entry, buffer) == RecordRead::kRead;
}

bool IndexReader::Start(ByteSource &source, int64_t next) {
  m_next = std::clamp<int64_t>(next, 0, kMaxEntryNumber);
  m_carry = 0;
  m_count = 0;
  const uint64_t position = IndexEntryPosition(m_next);
  m_sectorAt = position / kSectorBytes * kSectorBytes;
  m_skip = size_t(position - m_sectorAt);
  return source.Seek(m_sectorAt);
}

void IndexReader::TakeSector() {
  if (m_skip) {
    // The head of the sector belongs to an entry lost with the one before.
    std::memmove(m_buffer.data(), m_buffer.data() + m_skip, kSectorBytes - m_skip);
  }
  const size_t total = m_carry + kSectorBytes - m_skip;
  m_skip = 0;
  m_count = total / kEntryBytes;
  for (size_t i = 0; i < m_count; ++i)
    m_entries[i] = IndexEntry::Parse(m_buffer.data() + kEntryBytes * i);
  m_next += static_cast<int64_t>(m_count);
  const size_t keep = total % kEntryBytes;
  std::memmove(m_buffer.data(), m_buffer.data() + total - keep, keep);
  m_carry = keep;
  m_sectorAt += kSectorBytes;
}

bool IndexReader::ReadStep(ByteSource &source) {
  if (m_next > kMaxEntryNumber - int64_t(kMaxStepEntries)) return false;
  if (!source.Read(m_buffer.data() + m_carry, kSectorBytes)) return false;
  TakeSector();
  return true;
}

IndexStep IndexReader::Step(ByteSource &source) {
  if (m_next > kMaxEntryNumber - int64_t(kMaxStepEntries)) return IndexStep::kEnded;
  ReadReport report;
  if (source.ReadSectors(m_buffer.data() + m_carry, kSectorBytes, report)) {
    TakeSector();
    return IndexStep::kRead;
  }
  if (report.gone) return IndexStep::kGone;
  if (report.stopped) return IndexStep::kStopped;
  if (report.lost.empty()) return IndexStep::kEnded;
  // Every entry with a byte in the sector is lost: the one the carry began,
  // those inside, and the one running on into the next sector.
  const uint64_t sectorEnd = m_sectorAt + kSectorBytes;
  const int64_t last = int64_t((sectorEnd - 1 - kIndexAreaOffset) / kEntryBytes);
  m_lost = LostIndexSector{m_next, last, m_sectorAt};
  m_next = last + 1;
  m_carry = 0;
  m_count = 0;
  m_skip = size_t(IndexEntryPosition(m_next) - sectorEnd);
  m_sectorAt = sectorEnd;
  return IndexStep::kLost;
}

bool IndexReader::Resync(ByteSource &source) { return source.Seek(m_sectorAt); }

EventLog ReadEventLog(ByteSource &source) {
  EventLog log;
  uint8_t sector[kSectorBytes];
  ReadReport report;
  auto ends = [&] {
    log.gone = report.gone;
    log.stopped = report.stopped;
    log.ended = !report.gone && !report.stopped && report.lost.empty();
  };
  if (!source.Seek(kEventLogOffset) || !source.ReadSectors(sector, kSectorBytes, report)) {
    ends();
    return log;
  }
  log.headerRead = true;
  log.header.eventCount = LoadU32(sector);
  log.header.reserved = LoadU32(sector + 4);
  const uint32_t wanted = std::min(log.header.eventCount, kMaxEventCount);
  log.records.reserve(wanted);
  log.numbers.reserve(wanted);
  auto take = [&](const uint8_t *p, uint32_t number) {
    log.records.push_back(EventRecord::Parse(p));
    log.numbers.push_back(number);
  };
  uint32_t next = 0;  // the number of the next record
  for (int k = 0; k < kEventsInFirstSector && next < wanted; ++k, ++next)
    take(sector + 8 + kEventRecordBytes * k, next);
  uint64_t at = kEventLogOffset + kSectorBytes;
  while (next < wanted) {
    const uint32_t inSector = std::min<uint32_t>(kEventsPerSector, wanted - next);
    // Each sector on its own, so a lost one costs its records only.
    if (!source.Seek(at) || !source.ReadSectors(sector, kSectorBytes, report)) {
      if (report.lost.empty()) {
        ends();
        break;
      }
      log.lost.push_back(EventLog::LostSector{next, next + inSector - 1, at});
    } else {
      for (uint32_t k = 0; k < inSector; ++k) take(sector + kEventRecordBytes * k, next + k);
    }
    next += inSector;
    at += kSectorBytes;
  }
  return log;
}

std::string EventKindName(int kind) {
  switch (kind) {
    case 1:
      return "Rec Start";
    case 2:
      return "Power On";
    case 3:
      return "Alarm";
    case 4:
      return "Video Loss";
    case 5:
      return "Motion";
    default:
      return {};
  }
}

SYSTEMTIME TimeToCalendar(uint32_t time) { return RecorderSecondsToSystemTime(int64_t{time}); }

bool IsKnownRecordType(int8_t type) {
  switch (type) {
    case kTypePicture:
    case kTypeKeyPicture:
    case kTypeMjpegKey:
    case kTypeAudio:
    case kTypePictureAlt:
    case kTypeKeyPictureAlt:
    case kTypeMjpegKeyAlt:
      return true;
    default:
      return false;
  }
}

bool IsKeyPicture(int8_t type) {
  return type == kTypeKeyPicture || type == kTypeMjpegKey || type == kTypeKeyPictureAlt ||
         type == kTypeMjpegKeyAlt;
}

bool IsMjpegRecord(int8_t type) { return type == kTypeMjpegKey || type == kTypeMjpegKeyAlt; }

uint32_t FrameTypeOfRecord(int8_t type) {
  switch (type) {
    case kTypePicture:
    case kTypePictureAlt:
      return VORN_TESK::FT_PFRAME;
    case kTypeKeyPicture:
    case kTypeMjpegKey:
    case kTypeKeyPictureAlt:
    case kTypeMjpegKeyAlt:
      return VORN_TESK::FT_IFRAME;
    case kTypeAudio:
      return VORN_TESK::FT_AUDIO;
    default:
      return 0;
  }
}

int32_t CodecWordOfRecord(int8_t type) { return IsMjpegRecord(type) ? 0 : 4; }

bool ShownInDiskFastForward(int8_t type) {
  return type == kTypeKeyPicture || type == kTypeKeyPictureAlt || type == kTypeMjpegKey;
}

bool LayoutDecider::See(uint8_t channel) {
  if (m_decided) return false;
  if (m_seen == 0) {
    m_firstChannel = channel;
    m_seen = 1;
    return false;
  }
  ++m_seen;
  if (channel != m_firstChannel) {
    m_value = 0;
    m_decided = true;
  } else if (m_seen > 10) {
    m_value = 1;
    m_decided = true;
  }
  return m_decided;
}

}  // namespace orvan::recorder
