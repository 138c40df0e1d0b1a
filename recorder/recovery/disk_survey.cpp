#include "recorder/recovery/disk_survey.h"

#include <algorithm>

#include "recorder/recovery/forward_reader.h"

namespace orvan::recorder {

const char *OriginName(SurveySpan::Origin origin) {
  return origin == SurveySpan::Origin::kHeldBack ? "held back" : "stale";
}

uint64_t DiskSurvey::UnreferencedBytes() const {
  if (diskBytes <= geometry.dataBase) return 0;
  return DataAreaBytes() - referenced.BytesWithin(geometry.dataBase, diskBytes);
}

namespace {

constexpr int64_t kPieceEntries = int64_t(kSurveyIndexPieceBytes / kEntryBytes);
static_assert(kSurveyIndexPieceBytes % kEntryBytes == 0 && kSurveyIndexPieceBytes % 512 == 0 &&
              kSurveyIndexPieceBytes >= (4u << 20));

void CountKind(SurveyChannel &c, const IndexEntry &e) {
  ++c.entries;
  if (e.type == kTypeAudio)
    ++c.audioBlocks;
  else if (IsKeyPicture(e.type))
    ++c.keyPictures, ++c.pictures;
  else
    ++c.pictures;
}

// An entry outside the live recording whose record's start must be read
// before it is judged.
struct Candidate {
  uint64_t at = 0;  // the record's first byte on the disk
  int64_t number = 0;
  IndexEntry entry;
  int span = 0;
  bool heldBack = false;
};

class Survey {
 public:
  Survey(ByteSource &source, const DiskGeometry &geometry, uint64_t diskBytes,
         const SurveyOptions &options)
      : m_source(source), m_options(options) {
    m_s.geometry = geometry;
    m_s.diskBytes = diskBytes;
  }

  DiskSurvey Run() {
    const DiskGeometry &g = m_s.geometry;
    m_s.indexAreaEntries = uint64_t(g.indexAreaMiB) * kMiB / kEntryBytes;
    int64_t limit = int64_t(std::min<uint64_t>(m_s.indexAreaEntries, uint64_t(kMaxEntryNumber)));
    if (m_s.diskBytes > kIndexAreaOffset)
      limit = std::min<int64_t>(limit, int64_t((m_s.diskBytes - kIndexAreaOffset) / kEntryBytes));
    m_playEnd = std::clamp<int64_t>(g.playEnd, 0, limit);
    m_indexCount = std::clamp<int64_t>(g.indexCount, m_playEnd, limit);
    IndexPass(limit);
    if (!m_s.gone && !m_s.stopped) RecordStarts();
    std::sort(
        m_s.recoverable.begin(), m_s.recoverable.end(),
        [](const RecoverableEntry &a, const RecoverableEntry &b) { return a.number < b.number; });
    return std::move(m_s);
  }

 private:
  bool Stopping() const {
    return m_options.stop && m_options.stop->load(std::memory_order_acquire);
  }
  // Whether a read ended the survey: the disk went away or the read was
  // given up; the survey says which.
  bool Ended(ForwardReader::Got got) {
    m_s.gone = m_s.gone || got == ForwardReader::Got::kGone;
    m_s.stopped = m_s.stopped || got == ForwardReader::Got::kStopped;
    return got != ForwardReader::Got::kRead;
  }
  void Progress(const char *phase, uint64_t done, uint64_t total) const {
    if (m_options.progress) m_options.progress(phase, done, total);
  }

  void IndexPass(int64_t limit) {
    ForwardReader reader(m_source, m_s.diskBytes, kSurveyIndexPieceBytes);
    const uint64_t total = uint64_t(limit) * kEntryBytes;
    for (int64_t first = 0; first < limit && !m_staleDone; first += kPieceEntries) {
      if (Stopping()) {
        m_s.stopped = true;
        break;
      }
      const int64_t count = std::min(kPieceEntries, limit - first);
      const uint64_t at = IndexEntryPosition(first);
      ForwardReader::Piece piece;
      if (Ended(reader.Get(at, size_t(count) * kEntryBytes, piece))) break;
      NoteLostSectors(first, at, piece);
      const int64_t have = int64_t(piece.bytes / kEntryBytes);
      for (int64_t i = 0; i < count && !m_staleDone; ++i) {
        const int64_t n = first + i;
        if (i >= have || piece.LostWithin(uint64_t(i) * kEntryBytes, kEntryBytes)) {
          Unreadable(n);
          if (i >= have) m_staleDone = true;  // the disk ends here
          continue;
        }
        Entry(n, IndexEntry::Parse(piece.data + i * int64_t(kEntryBytes)));
      }
      Progress("index", std::min(total, uint64_t(first + count) * kEntryBytes), total);
    }
    m_s.indexBytesRead = reader.BytesRead();
    m_s.backwardReads += reader.BackwardReads();
    m_s.stale.scannedTo = std::max(m_indexCount, m_next);
  }

  void NoteLostSectors(int64_t firstEntry, uint64_t pieceAt, const ForwardReader::Piece &piece) {
    for (const ByteRange &r : piece.lost) {
      for (uint64_t s = r.offset / kSectorBytes * kSectorBytes; s < r.End(); s += kSectorBytes) {
        ++m_s.unreadableIndexSectors;
        if (m_s.unreadableIndex.size() >= DiskSurvey::kMaxListed) continue;
        LostIndexSector lost;
        lost.byteOffset = pieceAt + s;
        lost.firstEntry = firstEntry + int64_t(s / kEntryBytes);
        lost.lastEntry = firstEntry + int64_t((s + kSectorBytes - 1) / kEntryBytes);
        m_s.unreadableIndex.push_back(lost);
      }
    }
  }

  void Unreadable(int64_t n) {
    m_next = n + 1;
    if (n >= m_indexCount) InvalidStale();
  }

  void InvalidStale() {
    if (++m_invalidRun >= kStaleScanInvalidRun) {
      m_staleDone = true;
      m_s.stale.endedByInvalidRun = true;
    }
  }

  void Entry(int64_t n, const IndexEntry &e) {
    m_next = n + 1;
    const EntryVerdict verdict = CheckEntry(m_s.geometry, m_s.diskBytes, e);
    const bool valid = verdict == EntryVerdict::kValid;
    const uint64_t begin = valid ? m_s.geometry.dataBase + e.offset : 0;
    const uint64_t end = begin + e.size;
    if (n < m_playEnd) {
      auto &live = m_s.live;
      if (!valid) {
        ++live.invalid;
        if (!live.invalidRuns.empty() && live.invalidRuns.back().last == n - 1)
          live.invalidRuns.back().last = n;
        else if (live.invalidRuns.size() < DiskSurvey::kMaxListed)
          live.invalidRuns.push_back(EntryRun{n, n});
        else
          ++m_s.unlistedInvalidRuns;
        return;
      }
      ++live.entries;
      live.span.Extend(e.time);
      CountKind(live.channels[e.channel], e);
      m_s.liveRecords.Add(begin, end, e.time);
      m_s.referenced.Add(begin, end, e.time);
      return;
    }
    const bool heldBack = n < m_indexCount;
    if (!valid) {
      // Zeros are where nothing was ever written, not something skipped.
      if (e == IndexEntry{})
        ++m_s.emptyEntries;
      else
        m_s.skipped.Count(verdict);
      if (!heldBack) InvalidStale();
      return;
    }
    m_invalidRun = 0;
    m_s.referenced.Add(begin, end, e.time);
    const int span =
        SpanOf(heldBack ? SurveySpan::Origin::kHeldBack : SurveySpan::Origin::kStale, n, e);
    Candidate c{begin, n, e, span, heldBack};
    if (heldBack) {
      ++m_s.heldBack.valid;
      m_s.liveRecords.Add(begin, end, e.time);
      m_s.heldBack.span.Extend(e.time);
    } else {
      auto &stale = m_s.stale;
      if (stale.entries == 0) stale.first = e.time;
      stale.last = e.time;
      ++stale.entries;
      CountKind(stale.channels[e.channel], e);
      // The held-back entries all come before: the live records are whole.
      if (m_s.liveRecords.Overlaps(begin, end)) {
        Judge(c, false);
        return;
      }
    }
    if (HeadBytesNeeded(e.type) == 0)
      Judge(c, BeginsAsTyped(e, nullptr, 0));
    else
      m_candidates.push_back(c);
  }

  int SpanOf(SurveySpan::Origin origin, int64_t n, const IndexEntry &e) {
    if (m_s.spans.empty() || m_s.spans.back().origin != origin ||
        e.time < m_s.spans.back().lastTime ||
        e.time - m_s.spans.back().lastTime > kStaleSpanBreakSeconds) {
      SurveySpan s;
      s.origin = origin;
      s.firstEntry = n;
      s.firstTime = e.time;
      m_s.spans.push_back(s);
    }
    SurveySpan &s = m_s.spans.back();
    s.lastEntry = n;
    s.lastTime = e.time;
    ++s.entries;
    ++s.channelEntries[e.channel];
    return int(m_s.spans.size() - 1);
  }

  // The verdict on an entry outside the live recording.
  void Judge(const Candidate &c, bool asTyped) {
    SurveySpan &span = m_s.spans[size_t(c.span)];
    const uint64_t end = c.at + c.entry.size;
    if (c.heldBack) {
      if (!asTyped) {
        ++m_s.heldBack.notAsTyped;
        ++span.overwritten;
        return;
      }
      ++m_s.heldBack.entries;
      CountKind(m_s.heldBack.channels[c.entry.channel], c.entry);
    } else {
      SurveyChannel &ch = m_s.stale.channels[c.entry.channel];
      if (!asTyped) {
        ++m_s.stale.overwritten;
        ++ch.overwritten;
        ++span.overwritten;
        m_s.overwrittenRecords.Add(c.at, end, c.entry.time);
        return;
      }
      ++m_s.stale.intact;
      ++ch.intact;
      m_s.intactRecords.Add(c.at, end, c.entry.time);
    }
    ++span.intact;
    if (m_options.keepRecoverable) m_s.recoverable.push_back({c.number, c.entry, c.span});
  }

  // The starts of the records the index could not judge, in disk order.
  void RecordStarts() {
    std::stable_sort(m_candidates.begin(), m_candidates.end(),
                     [](const Candidate &a, const Candidate &b) { return a.at < b.at; });
    ForwardReader reader(m_source, m_s.diskBytes);
    const uint64_t total = m_candidates.size();
    uint64_t done = 0;
    for (const Candidate &c : m_candidates) {
      if ((++done & 4095) == 0) {
        if (Stopping()) {
          m_s.stopped = true;
          break;
        }
        Progress("records", done, total);
      }
      const size_t need = HeadBytesNeeded(c.entry.type);
      ForwardReader::Piece piece;
      if (Ended(reader.Get(c.at, need, piece))) break;
      const bool readable = piece.bytes >= need && piece.lost.empty();
      if (!readable) ++m_s.unreadableRecords;
      Judge(c, readable && BeginsAsTyped(c.entry, piece.data, piece.bytes));
    }
    Progress("records", total, total);
    m_s.dataBytesRead = reader.BytesRead();
    m_s.backwardReads += reader.BackwardReads();
  }

  ByteSource &m_source;
  const SurveyOptions &m_options;
  DiskSurvey m_s;
  int64_t m_playEnd = 0, m_indexCount = 0;
  int64_t m_next = 0;
  int64_t m_invalidRun = 0;
  bool m_staleDone = false;
  std::vector<Candidate> m_candidates;
};

}  // namespace

DiskSurvey SurveyDisk(ByteSource &source, const DiskGeometry &geometry, uint64_t diskBytes,
                      const SurveyOptions &options) {
  return Survey(source, geometry, diskBytes, options).Run();
}

}  // namespace orvan::recorder
