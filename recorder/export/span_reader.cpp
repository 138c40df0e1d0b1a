#include "recorder/export/span_reader.h"

#include <algorithm>

#include "recorder/layout/index_search.h"

namespace orvan::recorder {

namespace {

constexpr size_t kIndexWindowBytes = 64 * 1024;
constexpr size_t kDataWindowBytes = 2 * 1024 * 1024;
constexpr int64_t kMsPerSecond = 1000;

}  // namespace

int64_t RecordingClock::Stamp(const IndexEntry &e) {
  const int64_t secondStart = int64_t{e.time} * kMsPerSecond;
  const bool audio = e.type == kTypeAudio;
  if (!audio && !IsKnownRecordType(e.type)) return secondStart;
  Run &run = audio ? m_audio : m_pictures;
  const int64_t ms = std::clamp(run.started ? run.nextMs : secondStart, secondStart,
                                secondStart + kMsPerSecond - 1);
  run.started = true;
  run.nextMs = ms + e.delayMs;
  return ms;
}

int64_t EntryTimeMs(const EntryAt &read, int64_t n, IndexEntry *entry) {
  if (n < 0) return -1;
  const int64_t blockStart = n - n % kEntriesPerBlock;
  const int64_t from = blockStart >= kEntriesPerBlock ? blockStart - kEntriesPerBlock : 0;
  RecordingClock clock;
  IndexEntry e;
  int64_t ms = -1;
  for (int64_t k = from; k <= n; ++k) {
    if (!read(k, e)) return -1;
    // The table stamps the entries of channels 0..3 only.
    if (e.channel < 4) ms = clock.Stamp(e);
  }
  if (entry) *entry = e;
  return e.channel < 4 ? ms : int64_t{e.time} * kMsPerSecond;
}

int64_t EntryTimeMs(ByteSource &disk, const DiskGeometry &geometry, int64_t n, IndexEntry *entry) {
  if (n < 0 || n >= geometry.playEnd) return -1;
  const int64_t blockStart = n - n % kEntriesPerBlock;
  const int64_t from = blockStart >= kEntriesPerBlock ? blockStart - kEntriesPerBlock : 0;
  // The entries from `from` to n lie together: one read of the sectors
  // holding them (two blocks at most, 20 KiB).
  const uint64_t first = IndexEntryPosition(from);
  const uint64_t end = IndexEntryPosition(n + 1);
  const uint64_t alignedFirst = first - first % kSectorBytes;
  const uint64_t alignedEnd = (end + kSectorBytes - 1) / kSectorBytes * kSectorBytes;
  std::vector<uint8_t> bytes(size_t(alignedEnd - alignedFirst));
  if (!disk.Seek(alignedFirst) || !disk.Read(bytes.data(), bytes.size())) return -1;
  return EntryTimeMs(
      [&](int64_t k, IndexEntry &e) {
        const uint64_t at = IndexEntryPosition(k) - alignedFirst;
        if (k < from || at + kEntryBytes > bytes.size()) return false;
        e = IndexEntry::Parse(bytes.data() + at);
        return true;
      },
      n, entry);
}

SpanReader::SpanReader(ByteSource &disk, const DiskGeometry &geometry, bool readRecords)
    : m_disk(disk),
      m_geometry(geometry),
      m_readRecords(readRecords),
      m_indexSource(disk, kIndexWindowBytes),
      m_dataSource(disk, kDataWindowBytes),
      m_record(readRecords ? kMaxRecordBytes : 0) {}

int64_t SpanReader::Start(uint32_t startSeconds, int64_t endSeconds) {
  m_endSeconds = endSeconds;
  m_ended = false;
  int64_t first = SearchTime(m_disk, m_geometry, startSeconds);
  if (m_leadInMask) first = LeadInStart(first, startSeconds);
  PrimeClock(first);
  m_index.Start(m_indexSource, first);
  return first;
}

void SpanReader::PrimeClock(int64_t blockStart) {
  // The block before holds the entries of the span's first second that lie
  // before the span (unless a second spans more than a block).
  if (blockStart < kEntriesPerBlock) return;
  std::vector<uint8_t> block(size_t(kEntriesPerBlock) * kEntryBytes);
  if (!m_disk.Seek(IndexEntryPosition(blockStart - kEntriesPerBlock)) ||
      !m_disk.Read(block.data(), block.size()))
    return;  // the first second is then timed from the span's start
  for (int64_t i = 0; i < kEntriesPerBlock; ++i) {
    const IndexEntry e = IndexEntry::Parse(block.data() + size_t(i) * kEntryBytes);
    if (e.channel < 4) m_clock.Stamp(e);
  }
}

int64_t SpanReader::LeadInStart(int64_t blockStart, uint32_t startSeconds) {
  // Going back a block at a time, until each channel asked for has a key
  // picture recorded in an earlier second than the start within what lies
  // between the block and the start. Index reads only, 20 sectors each.
  std::vector<uint8_t> block(size_t(kEntriesPerBlock) * kEntryBytes);
  unsigned found = 0;
  int64_t start = blockStart;
  for (int64_t back = 0; back <= kLeadInBlocks && start >= 0; ++back, start -= kEntriesPerBlock) {
    if (start >= m_geometry.playEnd && start > 0) continue;
    if (!m_disk.Seek(IndexEntryPosition(start)) || !m_disk.Read(block.data(), block.size()))
      return start == blockStart ? blockStart : start + kEntriesPerBlock;
    for (int64_t i = 0; i < kEntriesPerBlock && start + i < m_geometry.playEnd; ++i) {
      const IndexEntry e = IndexEntry::Parse(block.data() + size_t(i) * kEntryBytes);
      if (e.channel >= 4) continue;
      if (e.time >= startSeconds) {
        if (back == 0) break;  // the rest of the first block lies in the span
        continue;
      }
      if (IsKeyPicture(e.type)) found |= 1u << e.channel;
    }
    if ((found & m_leadInMask) == m_leadInMask) return start;
  }
  // No key picture within reach for some channel: as far back as looked,
  // which still holds the keys of the channels that have one.
  return std::max<int64_t>(start + kEntriesPerBlock, 0);
}

const uint8_t *SpanReader::Record(const IndexEntry &e, RecordRead &why) {
  // The sectors the record reader would read (its head sector and the
  // rest), straight from the read-ahead window when it holds them or can
  // be filled with them; the record reader's own reads otherwise.
  if (e.size > 0 && e.offset <= uint64_t(INT64_MAX) - kMaxRecordBytes - m_geometry.dataBase) {
    const uint64_t sectors = RoundedRecordBytes(m_geometry, e);
    if (sectors <= kMaxRecordBytes) {
      const uint64_t position = m_geometry.dataBase + e.offset;
      const uint64_t from = position / kSectorBytes * kSectorBytes;
      if (const uint8_t *view = m_dataSource.View(from, size_t(sectors)))
        return view + (position - from);
    }
  }
  why = ReadRecord(m_dataSource, m_geometry, e, m_record.data());
  return why == RecordRead::kRead ? m_record.data() : nullptr;
}

SpanReader::Step SpanReader::ReadSector(const std::function<void(const IndexEntry &)> &seen,
                                        const std::function<bool(const SpanEntry &)> &take) {
  if (m_ended) return m_gone ? Step::kGone : Step::kEnded;
  if (m_index.Next() >= m_geometry.playEnd) {
    m_ended = true;
    return Step::kEnded;
  }
  switch (m_index.Step(m_indexSource)) {
    case IndexStep::kRead:
      break;
    case IndexStep::kLost: {
      // Its entries are lost; the next sector follows.
      const LostIndexSector &lost = m_index.LostEntries();
      ++m_readErrors;
      m_losses.Add(LostPart{LostPart::What::kIndex, lost.firstEntry,
                            std::min(lost.lastEntry, m_geometry.playEnd - 1), lost.byteOffset,
                            kSectorBytes});
      m_index.Resync(m_indexSource);
      if (m_index.Next() >= m_geometry.playEnd) m_ended = true;
      return m_ended ? Step::kEnded : Step::kMore;
    }
    case IndexStep::kEnded:
      m_ended = true;
      ++m_readErrors;
      m_indexFailedAt = m_index.Next();
      return Step::kIndexFailed;
    case IndexStep::kGone:
      m_ended = m_gone = true;
      return Step::kGone;
    case IndexStep::kStopped:
      m_ended = true;
      return Step::kGaveUp;
  }
  const int64_t first = m_index.Next() - int64_t(m_index.Entries().size());
  int64_t number = first;
  for (const IndexEntry &e : m_index.Entries()) {
    const int64_t n = number++;
    if (e.channel >= 4) {
      ++m_skipped;
      ++m_otherChannels;
      continue;
    }
    const int64_t ms = m_clock.Stamp(e);
    if (seen) seen(e);
    if (int64_t{e.time} >= m_endSeconds) {
      // The rest of the sector is still looked at.
      m_ended = true;
      continue;
    }
    const uint8_t *record = nullptr;
    RecordRead why = RecordRead::kRead;
    if (m_readRecords && !(record = Record(e, why))) {
      if (why == RecordRead::kGone || why == RecordRead::kStopped) {
        m_ended = true;
        m_gone = why == RecordRead::kGone;
        return m_gone ? Step::kGone : Step::kGaveUp;
      }
      ++m_skipped;
      if (why == RecordRead::kLost) {
        ++m_readErrors;
        const uint64_t at = m_geometry.dataBase + e.offset;
        m_losses.Add(LostPart{LostPart::What::kRecord, n, n, at, e.size});
      }
      if (!m_offerUnreadable || !take) continue;
      if (!take(SpanEntry{e, ms, nullptr, n, true})) {
        m_ended = true;
        return Step::kStopped;
      }
      continue;
    }
    if (take && !take(SpanEntry{e, ms, record, n})) {
      m_ended = true;
      return Step::kStopped;
    }
  }
  // The next sector follows this one: the index window serves it.
  m_index.Resync(m_indexSource);
  if (m_index.Next() >= m_geometry.playEnd) m_ended = true;
  return m_ended ? Step::kEnded : Step::kMore;
}

}  // namespace orvan::recorder
