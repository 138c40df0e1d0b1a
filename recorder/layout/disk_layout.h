// The recorder's raw disk layout: header and state table, event log, time
// index and data area, and the rules for reading each of them.
//
// Everything here is pure logic over a ByteSource; nothing keeps state
// between calls except the sequential IndexReader. Every size, offset and
// count taken from the disk is checked before it is used: a damaged or
// hostile disk gives a failure or a partial result, never an out-of-bounds
// access, an overflow, an absurd allocation or an endless loop.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/disk_source.h"
#include "platform/wintime.h"

namespace orvan::recorder {

// Disk map, in bytes from the first byte of the disk.
constexpr uint64_t kProbeBytes = 524288;  // read to recognise a disk
constexpr uint64_t kHeaderBytes = 16;
constexpr uint64_t kStateTableOffset = 16;
constexpr int kStateEntryCount = 100;
constexpr uint64_t kStateEntryBytes = 20;
constexpr uint64_t kEventLogOffset = 409600;  // sector 800
constexpr uint64_t kEventRecordBytes = 8;
constexpr uint64_t kIndexAreaOffset = 524288;  // sector 1024
constexpr uint64_t kMiB = 1048576;
constexpr uint64_t kEntryBytes = 20;
constexpr int64_t kEntriesPerBlock = 512;  // one search block: 20 sectors
constexpr uint32_t kValidStateTag = 170;
constexpr int64_t kUnplayedTailEntries = 300;  // counted by the state, never used
// A data record together with its rounding to whole sectors fits this.
constexpr size_t kMaxRecordBytes = 102400;
// The event log ends where the index area begins.
constexpr uint32_t kMaxEventCount = 14335;
constexpr int kEventsInFirstSector = 63;
constexpr int kEventsPerSector = 64;
// Largest entry number whose position and a following sector still fit a
// signed 64-bit byte offset; playEnd is capped to it.
constexpr int64_t kMaxEntryNumber =
    (INT64_MAX - int64_t(kIndexAreaOffset) - 4096) / int64_t(kEntryBytes);

extern const char kStateErrorText[];   // "Check HDD State Error!!"
extern const char kDiskStoppedText[];  // "The disk stopped answering"

// Record types of an index entry.
enum RecordType : int8_t {
  kTypePicture = 0,
  kTypeKeyPicture = 1,
  kTypeMjpegKey = 2,
  kTypeAudio = 3,
  kTypePictureAlt = 17,
  kTypeKeyPictureAlt = 18,
  kTypeMjpegKeyAlt = 19,
};

// Little-endian field access on raw bytes.
inline uint16_t LoadU16(const uint8_t *p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t LoadU32(const uint8_t *p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t LoadU64(const uint8_t *p) {
  return uint64_t(LoadU32(p)) | (uint64_t(LoadU32(p + 4)) << 32);
}
inline void StoreU16(uint8_t *p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void StoreU32(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void StoreU64(uint8_t *p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}

struct DiskHeader {
  std::array<uint8_t, 16> bytes{};  // as on the disk
  uint32_t indexAreaMiB() const { return LoadU32(bytes.data() + 12); }
};

struct DiskStateEntry {
  uint32_t tag = 0;
  uint64_t reserved = 0;
  uint64_t indexCount = 0;
  int slot = -1;  // position in the table, -1 when none was found
};

struct DiskGeometry {
  uint32_t indexAreaMiB = 0;
  uint64_t dataBase = 0;   // first byte of the data area
  int64_t indexCount = 0;  // from the valid state entry
  int64_t playEnd = 0;     // entries 0 .. playEnd-1 are played, searched, copied
};

struct IndexEntry {
  int8_t type = 0;
  uint8_t channel = 0;
  uint16_t delayMs = 0;
  uint32_t time = 0;
  uint32_t size = 0;
  uint64_t offset = 0;  // from dataBase

  static IndexEntry Parse(const uint8_t *p20);
  void Serialize(uint8_t *p20) const;
  bool operator==(const IndexEntry &) const = default;
};

// Byte offset of index entry n (n >= 0, n <= kMaxEntryNumber).
inline uint64_t IndexEntryPosition(int64_t n) {
  return kIndexAreaOffset + kEntryBytes * uint64_t(n);
}

enum class GeometryStatus { Ok, NotRecorderDisk, NoValidState };

// True when "VORN" occurs in the buffer read as a zero-terminated text from
// its first byte (the search stops at the first zero byte or the end).
bool IsRecorderDisk(std::span<const uint8_t> probe);

// Header, state and geometry from the first bytes of a disk (at least the
// header and state table; a short buffer finds fewer state entries).
GeometryStatus ParseGeometry(std::span<const uint8_t> probe, DiskGeometry &geometry,
                             DiskHeader *header = nullptr, DiskStateEntry *state = nullptr);
// Reads the first kProbeBytes and parses them. A disk that ends (or cannot
// be read) before that is parsed as far as it goes, so an image cut short
// still shows its header and state; LayoutMinimumBytes tells it is
// truncated. Less than the header read is NotRecorderDisk.
GeometryStatus ReadGeometry(ByteSource &source, DiskGeometry &geometry,
                            DiskHeader *header = nullptr, DiskStateEntry *state = nullptr);
// Geometry from a found state entry: dataBase, indexCount and playEnd
// (capped; an indexCount below 300 is an empty recording).
DiskGeometry GeometryFrom(uint32_t indexAreaMiB, uint64_t indexCount);

// How reading a data record ended.
enum class RecordRead {
  kRead,
  kInvalid,  // too large with its rounding, or at a position the disk cannot have
  kLost,     // sectors of it cannot be read
  kEnded,    // it lies (partly) beyond the end of the disk or image
  kGone,     // the disk stopped answering
  kStopped,  // the read was given up (a stop request, a deadline)
};

// Fills buffer (kMaxRecordBytes long) with the entry's size bytes.
RecordRead ReadRecord(ByteSource &source, const DiskGeometry &geometry, const IndexEntry &entry,
                      uint8_t *buffer);
// The same, true only for kRead.
bool ReadDataRecord(ByteSource &source, const DiskGeometry &geometry, const IndexEntry &entry,
                    uint8_t *buffer);
// Bytes the record occupies once rounded to whole sectors (head sector
// included), or 0 when its position overflows.
uint64_t RoundedRecordBytes(const DiskGeometry &geometry, const IndexEntry &entry);

// Reads index entry n alone (n in 0..kMaxEntryNumber; it may run across two
// sectors). False when a seek or read fails.
bool ReadIndexEntry(ByteSource &source, int64_t n, IndexEntry &entry);
// Recorder time of the last entry the disk plays (entry playEnd - 1).
// False when there is none or it cannot be read.
bool LastPlayedEntryTime(ByteSource &source, const DiskGeometry &geometry, uint32_t &time);
// Whether an entry is one the recorder could have written: a channel below
// 4, a known record type, and a record that fits the readers' buffer at a
// representable position. Entries failing this are never played or copied.
bool IsPlausibleEntry(const DiskGeometry &geometry, const IndexEntry &entry);
// The least length the disk's layout needs: the index through its counted
// entries, and, when the last played entry can be read and is plausible,
// the data area through that entry's record (records lie in index order).
// At least kProbeBytes.
uint64_t LayoutMinimumBytes(ByteSource &source, const DiskGeometry &geometry);

// How one step of the index reader ended.
enum class IndexStep {
  kRead,     // a sector was read: its entries are in Entries()
  kLost,     // the sector cannot be read: the entries it held are lost
             // (LostEntries()), and the next step reads the sector behind it
  kEnded,    // the disk ends here (an image cut short), or the index's limit
  kGone,     // the disk stopped answering
  kStopped,  // the read was given up (a stop request, a deadline)
};

// The entries an unreadable index sector held, wholly or in part.
struct LostIndexSector {
  int64_t firstEntry = 0;
  int64_t lastEntry = -1;
  uint64_t byteOffset = 0;  // of the sector on the disk
};

// The sequential index reader: one sector per step, entries that straddle
// two sectors assembled from a carry of 0..19 bytes.
class IndexReader {
 public:
  // Starts at entry `next` (a multiple of 512), carry empty, and seeks
  // there. Returns the seek's result.
  bool Start(ByteSource &source, int64_t next);
  // Reads one sector behind the carry. On success the whole entries are in
  // Entries(), Next() has advanced by their count and the rest is kept as
  // the carry. On failure nothing changes.
  bool ReadStep(ByteSource &source);
  // The same step by the damage rules: a sector that cannot be read costs
  // the entries it holds (an entry running across its edge included), and
  // the reader goes on behind them; the disk's end, its going away or a
  // stop leave the reader where it was.
  IndexStep Step(ByteSource &source);
  // After kLost: the entries lost.
  const LostIndexSector &LostEntries() const { return m_lost; }
  // Seeks to the next sector to read: 524288 + 20 x next + carry length,
  // or, behind a lost sector, the sector after it. Called after the entries
  // of a step were used (reading data records in between moves the
  // position).
  bool Resync(ByteSource &source);

  int64_t Next() const { return m_next; }
  size_t CarryBytes() const { return m_carry; }
  std::span<const IndexEntry> Entries() const { return {m_entries.data(), m_count}; }

 private:
  // Takes the sector read behind the carry into entries.
  void TakeSector();

  int64_t m_next = 0;
  size_t m_carry = 0;
  // Bytes at the start of the next sector that belong to an entry lost with
  // the sector before (0..19; only while the carry is empty).
  size_t m_skip = 0;
  uint64_t m_sectorAt = kIndexAreaOffset;  // the next sector to read
  LostIndexSector m_lost;
  size_t m_count = 0;
  std::array<uint8_t, kSectorBytes + kEntryBytes> m_buffer{};
  // The entries one step can complete: a sector behind a carry shorter
  // than an entry.
  static constexpr size_t kMaxStepEntries = (kSectorBytes + kEntryBytes) / kEntryBytes;
  std::array<IndexEntry, kMaxStepEntries> m_entries{};
};

struct EventLogHeader {
  uint32_t eventCount = 0;
  uint32_t reserved = 0;
};

struct EventRecord {
  uint8_t reserved = 0;
  uint16_t kindWord = 0;
  uint8_t channel = 0;  // counted from 1
  uint32_t time = 0;

  static EventRecord Parse(const uint8_t *p8);
  void Serialize(uint8_t *p8) const;
  // kindWord as signed 16 bits, shifted right by 4 (arithmetic).
  int Kind() const { return int16_t(kindWord) >> 4; }
};

struct EventLog {
  bool headerRead = false;
  EventLogHeader header;
  // Records in order, at most min(eventCount, kMaxEventCount); fewer when
  // sectors were lost, the disk ended or stopped answering.
  std::vector<EventRecord> records;
  // The number of each record in `records` (its place in the log, from 0):
  // the records of a lost sector are missing, so the numbers jump there.
  std::vector<uint32_t> numbers;
  // Sectors of records that could not be read: records first..last.
  struct LostSector {
    uint32_t firstRecord = 0, lastRecord = 0;
    uint64_t byteOffset = 0;
  };
  std::vector<LostSector> lost;
  bool gone = false;     // the disk stopped answering while the log was read
  bool stopped = false;  // the read was given up (a deadline)
  bool ended = false;    // the disk ended inside the log
};

// Reads the log: the header and records 0..62 from the sector at 409600,
// then 64 records per following sector, until the (capped) count is reached.
// A sector that cannot be read costs its records, and reading goes on
// behind it; the disk's end, its going away or a stop end the log there.
EventLog ReadEventLog(ByteSource &source);

// "Rec Start", "Power On", "Alarm", "Video Loss", "Motion"; empty otherwise.
std::string EventKindName(int kind);

// Recorder time broken down with the UTC calendar; milliseconds 0.
SYSTEMTIME TimeToCalendar(uint32_t time);

// The rules of the record types.
bool IsKnownRecordType(int8_t type);
bool IsKeyPicture(int8_t type);   // 1, 2, 18, 19: ends a wait for a key picture
bool IsMjpegRecord(int8_t type);  // 2, 19: codec word 0
// Frame type delivered for a record type (FT_PFRAME, FT_IFRAME, FT_AUDIO),
// or 0 for types that are skipped.
uint32_t FrameTypeOfRecord(int8_t type);
// Codec word of the stream description: 0 for MJPEG records, 4 otherwise.
int32_t CodecWordOfRecord(int8_t type);
// Key pictures the disk player's fast forward shows: 1, 18 and 2.
bool ShownInDiskFastForward(int8_t type);

// The layout decision of the copier and the disk player: 1 when the first
// eleven entries (channels below 4) are all of one channel, 0 as soon as a
// second channel shows up. Decided once, then fixed.
class LayoutDecider {
 public:
  // Counts one entry; true exactly when this entry decided the layout.
  bool See(uint8_t channel);
  bool Decided() const { return m_decided; }
  int Value() const { return m_value; }  // 0 until decided

 private:
  bool m_decided = false;
  int m_value = 0;
  uint8_t m_firstChannel = 0;
  int m_seen = 0;
};

}  // namespace orvan::recorder
