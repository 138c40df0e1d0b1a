// The survey of a whole recorder disk: one pass front to back over the index
// area, then the starts of the records the pass could not judge by their
// entries alone, read in disk order. It tells what the disk holds beyond the
// live recording the players use:
//   - live: entries 0 .. playEnd - 1, and the runs of invalid entries inside
//     them (zeroed or garbage index sectors);
//   - held back: entries playEnd .. indexCount - 1, counted by the state but
//     never played;
//   - stale: entries from indexCount on, left by an earlier, longer
//     recording. One is intact when no live or held-back record overlaps its
//     bytes and its record begins as its type says, overwritten otherwise.
//     The scan of them ends at the index area's end, or after 4096 invalid
//     entries in a row;
//   - unreferenced: stretches of the data area no valid entry points into.
// Validity is judged by recorder/recovery/entry_rules.h. The records' byte
// ranges are kept as merged runs (recorder/recovery/byte_runs.h).
//
// Threads: the caller's; `stop` may be set from any thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/disk_source.h"
#include "recorder/layout/disk_layout.h"
#include "recorder/recovery/byte_runs.h"
#include "recorder/recovery/entry_rules.h"

namespace orvan::recorder {

// Stale entries form a new span where the time goes backwards or jumps
// ahead by more than this.
constexpr uint32_t kStaleSpanBreakSeconds = 600;
// The stale scan ends after this many invalid entries in a row.
constexpr int64_t kStaleScanInvalidRun = 4096;
// The index pass reads the index area in pieces of this many bytes: at
// least 4 MiB, whole sectors and whole entries.
constexpr size_t kSurveyIndexPieceBytes = 1639 * 2560;

struct EntryRun {
  int64_t first = 0, last = -1;  // entry numbers, inclusive
  int64_t Count() const { return last - first + 1; }
};

struct SurveyChannel {
  int64_t entries = 0;
  int64_t pictures = 0;
  int64_t keyPictures = 0;
  int64_t audioBlocks = 0;
  // Stale only: of `entries`.
  int64_t intact = 0;
  int64_t overwritten = 0;
};

struct TimeRange {
  uint32_t first = 0, last = 0;  // 0: none
  bool Empty() const { return first == 0 && last == 0; }
  void Extend(uint32_t t) {
    if (Empty())
      first = last = t;
    else {
      if (t < first) first = t;
      if (t > last) last = t;
    }
  }
};

// A run of held-back or stale entries in index order whose times go on
// (never backwards, never more than 10 minutes ahead).
struct SurveySpan {
  enum class Origin { kHeldBack, kStale };
  Origin origin = Origin::kStale;
  int64_t firstEntry = 0, lastEntry = -1;
  uint32_t firstTime = 0, lastTime = 0;
  int64_t entries = 0;  // valid entries in it
  int64_t intact = 0;   // of those, recoverable (held back: begin as typed)
  int64_t overwritten = 0;
  std::array<int64_t, 4> channelEntries{};
};
const char *OriginName(SurveySpan::Origin origin);  // "held back", "stale"

// An entry a recovery can write: held back whose record begins as typed, or
// stale and intact.
struct RecoverableEntry {
  int64_t number = 0;
  IndexEntry entry;
  int span = 0;  // into DiskSurvey::spans
};

struct DiskSurvey {
  DiskGeometry geometry;
  uint64_t diskBytes = 0;
  uint64_t indexAreaEntries = 0;  // entries the index area can hold

  struct Live {
    int64_t entries = 0;  // valid
    int64_t invalid = 0;
    TimeRange span;
    std::array<SurveyChannel, 4> channels{};
    std::vector<EntryRun> invalidRuns;  // in index order; the first kMaxListed
  } live;

  struct HeldBack {
    int64_t entries = 0;     // valid, beginning as typed
    int64_t valid = 0;       // valid
    int64_t notAsTyped = 0;  // valid, but the record is not what the type says
    TimeRange span;
    std::array<SurveyChannel, 4> channels{};
  } heldBack;

  struct Stale {
    int64_t entries = 0;  // valid
    int64_t intact = 0;
    int64_t overwritten = 0;
    uint32_t first = 0, last = 0;  // times of the first and the last in index order
    std::array<SurveyChannel, 4> channels{};
    int64_t scannedTo = 0;  // the entry the scan ended before
    bool endedByInvalidRun = false;
  } stale;

  // Held-back and stale spans, in index order.
  std::vector<SurveySpan> spans;
  // What a recovery writes, in index order (when asked to keep it).
  std::vector<RecoverableEntry> recoverable;

  // Index sectors that could not be read, with the entries they held.
  std::vector<LostIndexSector> unreadableIndex;  // the first kMaxListed
  uint64_t unreadableIndexSectors = 0;
  // Records whose start could not be read (judged not to begin as typed).
  uint64_t unreadableRecords = 0;
  uint64_t unlistedInvalidRuns = 0;  // live invalid runs beyond the list
  // Entries found not valid outside the live recording, by rule, and
  // entries there that are all zeros (never written; the run that ends the
  // stale scan is mostly these).
  VerdictCounts skipped;
  uint64_t emptyEntries = 0;

  // The data area, as runs of the disk's bytes (offsets from the disk's
  // start): live and held-back records; intact stale records; overwritten
  // stale records; every valid entry's record.
  ByteRuns liveRecords;
  ByteRuns intactRecords;
  ByteRuns overwrittenRecords;
  ByteRuns referenced;
  uint64_t DataAreaBytes() const {
    return diskBytes > geometry.dataBase ? diskBytes - geometry.dataBase : 0;
  }
  uint64_t UnreferencedBytes() const;

  uint64_t indexBytesRead = 0;
  uint64_t dataBytesRead = 0;
  uint64_t backwardReads = 0;
  bool gone = false;     // the disk stopped answering: the survey is partial
  bool stopped = false;  // given up at a stop request

  static constexpr size_t kMaxListed = 1000;
};

struct SurveyOptions {
  bool keepRecoverable = false;  // fill DiskSurvey::recoverable
  // Progress: bytes of the pass done and in all (the index pass, then the
  // records' starts); called about every piece.
  std::function<void(const char *phase, uint64_t done, uint64_t total)> progress;
  const std::atomic<bool> *stop = nullptr;
};

// diskBytes: the disk's length (DiskSource::SizeBytes()); 0 when unknown.
DiskSurvey SurveyDisk(ByteSource &source, const DiskGeometry &geometry, uint64_t diskBytes,
                      const SurveyOptions &options = {});

}  // namespace orvan::recorder
