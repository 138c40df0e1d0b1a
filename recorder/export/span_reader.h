// The entries a copy of a time span takes, by the clip export's rules: from
// the first entry of the 512-entry block that holds the start (time search),
// every entry of channels 0..3 recorded before the end, up to and including
// the rest of the index sector where an entry at or after the end, or the
// end of the played index, is met.
//
// The index and the data records are read through read-ahead windows
// (recorder/layout/read_ahead_source.h): a span whose records lie back to back is
// read in large sequential pieces, not with one or two calls per record,
// and a record the window holds is handed on where it lies, not copied.
//
// Each entry also gets its time in milliseconds on the recording's own clock
// (RecordingClock). The clock is started on the block before the span, so
// the first entries of the span are timed as a play from further back
// would time them.
//
// Threads: one thread at a time (the copy thread); every read goes through
// the source given, which takes the reader's lock.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "recorder/layout/disk_layout.h"
#include "recorder/layout/read_ahead_source.h"
#include "recorder/layout/read_losses.h"

namespace orvan::recorder {

// Milliseconds of recorder time for entries in index order: the time of the
// entry before plus its pacing delay (delayMs), kept inside the entry's own
// recorder second. So the times follow the recorder's pacing within a second
// and its clock across seconds: a pause in recording or a slow clock snaps
// forward to the entry's second, delays that run long stop at its last
// millisecond. Pictures (of all channels together, as playback paces them)
// and audio blocks each run a clock of their own, since each kind's delay
// leads to the next entry of its kind.
//
// Restarting every second at its first millisecond instead would put a
// picture the recorder stamped just before a second's end (its second's
// delays adding up to a whole second) 1 ms before the next second's first
// picture: players and ffmpeg see two pictures at once.
class RecordingClock {
 public:
  // The entry's time; call it for every entry of a channel below 4, in
  // index order. Entries of unknown types get their second's start and
  // move no clock.
  int64_t Stamp(const IndexEntry &entry);

 private:
  struct Run {
    bool started = false;
    int64_t nextMs = 0;  // the entry before, plus its delay
  };
  Run m_pictures;
  Run m_audio;
};

// The time entry n was recorded at, in milliseconds on the recording's
// clock, as a span's table times it: the clock primed with the index block
// before the one holding n, then run to n. -1 when an entry on the way
// cannot be read. `entry` (if given) receives entry n.
using EntryAt = std::function<bool(int64_t n, IndexEntry &entry)>;
int64_t EntryTimeMs(const EntryAt &read, int64_t n, IndexEntry *entry = nullptr);
// The same over a recorder disk's index, read in one piece.
int64_t EntryTimeMs(ByteSource &disk, const DiskGeometry &geometry, int64_t n,
                    IndexEntry *entry = nullptr);

struct SpanEntry {
  const IndexEntry &entry;
  int64_t timeMs;         // on the recording's clock
  const uint8_t *record;  // entry.size bytes, valid during the call; null when records are not read
  int64_t number = 0;     // the entry's number in the index
  bool unreadable = false;  // its record could not be read (record is null)
};

class SpanReader {
 public:
  enum class Step {
    kMore,         // go on with the next sector (also behind one that was lost)
    kEnded,        // the span is over: an entry at or after the end, or the index's end
    kIndexFailed,  // the disk ends inside the index (an image cut short): the span ends there
    kStopped,      // `take` refused an entry (the output failed)
    kGone,         // the disk stopped answering: the span ends there
    kGaveUp,       // a read was given up (a stop request)
  };

  // disk: every read goes through it. readRecords false: entries only, for
  // a look over a span before it is copied.
  SpanReader(ByteSource &disk, const DiskGeometry &geometry, bool readRecords = true);

  // Before Start(): the span begins early enough that each channel of the
  // mask (bit c: channel c) has a key picture recorded before the start, so
  // that every picture of the asked span can be decoded. The look back is
  // bounded (kLeadInBlocks blocks before the one holding the start).
  void SetLeadIn(unsigned channelMask) { m_leadInMask = channelMask & 0xF; }
  static constexpr int64_t kLeadInBlocks = 64;
  // Before reading: entries whose record cannot be read are still shown to
  // `take`, with a null record and `unreadable` set (and counted as skipped).
  void OfferUnreadable(bool offer) { m_offerUnreadable = offer; }

  // Positions at the block holding `startSeconds` (or earlier, for the lead
  // in) and returns its first entry. Entries of channels 0..3 recorded
  // before `endSeconds` are taken.
  int64_t Start(uint32_t startSeconds, int64_t endSeconds);

  // One index sector. Every entry of a channel below 4 is shown to `seen`
  // (even one past the end); those recorded before the end, whose record
  // could be read, go to `take`, which returns false to stop. A sector that
  // cannot be read costs the entries it holds, a record that cannot be read
  // its entry; both are in Losses(), and reading goes on.
  Step ReadSector(const std::function<void(const IndexEntry &)> &seen,
                  const std::function<bool(const SpanEntry &)> &take);

  // The next entry to read.
  int64_t Next() const { return m_index.Next(); }
  // What was lost: entries of channels 4 and above, and records that could
  // not be read (or are too large); reads that failed (each lost index run
  // or record, and the end of a disk cut inside the index, at
  // IndexFailedAt(), else -1); where the sectors lost lay.
  uint64_t SkippedRecords() const { return m_skipped; }
  // Of those, the entries of channels 4 and above (never copied by rule).
  uint64_t OtherChannelEntries() const { return m_otherChannels; }
  uint64_t ReadErrors() const { return m_readErrors; }
  int64_t IndexFailedAt() const { return m_indexFailedAt; }
  const LossLog &Losses() const { return m_losses; }
  bool DiskGone() const { return m_gone; }
  // Calls that reached the disk, for benchmarks.
  uint64_t DiskReads() const { return m_indexSource.SourceReads() + m_dataSource.SourceReads(); }

 private:
  void PrimeClock(int64_t blockStart);
  // The first entry of the block the lead-in starts at.
  int64_t LeadInStart(int64_t blockStart, uint32_t startSeconds);
  // The entry's record (entry.size bytes, valid until the next read), or
  // null when it cannot be read or is too large (`why` says which).
  const uint8_t *Record(const IndexEntry &entry, RecordRead &why);

  ByteSource &m_disk;
  const DiskGeometry m_geometry;
  const bool m_readRecords;
  ReadAheadSource m_indexSource;
  ReadAheadSource m_dataSource;
  IndexReader m_index;
  RecordingClock m_clock;
  std::vector<uint8_t> m_record;
  int64_t m_endSeconds = 0;
  unsigned m_leadInMask = 0;
  bool m_offerUnreadable = false;
  bool m_ended = false;
  uint64_t m_skipped = 0;
  uint64_t m_otherChannels = 0;
  uint64_t m_readErrors = 0;
  int64_t m_indexFailedAt = -1;
  LossLog m_losses;
  bool m_gone = false;
};

}  // namespace orvan::recorder
