// Where the recorded times lie along the index: sampled entry times for the
// play bar's time under the pointer and its event ticks, and the spans with
// no recording (a jump of the index's time by more than kGapSeconds between
// two neighbouring entries).
//
// Built on the caller's thread from entry times read one at a time; the
// number of reads is bounded, so a long recording costs a fixed number of
// sector reads. Immutable once built; the window builds its map on a thread
// of its own and uses it on the main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/disk_source.h"
#include "recorder/layout/disk_layout.h"

namespace orvan::recorder {

// A jump of the index's time: entry `entry` is the first recorded after it.
struct RecordingGap {
  int64_t entry = 0;
  uint32_t lastBefore = 0;  // time of entry - 1
  uint32_t firstAfter = 0;  // time of entry
};

class CRecordingMap {
 public:
  static constexpr uint32_t kGapSeconds = 10;
  static constexpr int kDefaultSamples = 1024;
  static constexpr int kDefaultReadBudget = 4096;

  // Reads the time of entry n; false when it cannot be read.
  using TimeOfEntry = std::function<bool(int64_t n, uint32_t &time)>;

  // Samples `entries` entries evenly (`samples` reads, first and last entry
  // included), then looks for gaps between neighbouring samples whose times
  // differ by more than kGapSeconds and by at least half that more than
  // their entries take at the samples' median rate, those with the most
  // time to spare first, halving them down to two neighbouring entries,
  // until `readBudget` reads are spent. Entries that cannot be read are
  // left out.
  void Build(int64_t entries, const TimeOfEntry &timeOf, int samples = kDefaultSamples,
             int readBudget = kDefaultReadBudget);
  // The same over a recorder disk's index, entries 0 .. playEnd - 1. Once
  // `stop` (if given) holds, or the disk has stopped answering, nothing
  // more is read and the map is left incomplete.
  void BuildForDisk(ByteSource &disk, const DiskGeometry &geometry,
                    const std::function<bool()> &stop = {});
  void Clear();

  bool Empty() const { return m_samples.empty(); }
  int64_t Entries() const { return m_entries; }
  // The time of the latest sample at or before entry n (the first sample's
  // before it); 0 when empty.
  uint32_t TimeAt(int64_t n) const;
  // The entry where `time` was recorded: the first sample at or after it,
  // interpolated from the sample before; -1 when empty, Entries() past the
  // last sample.
  int64_t EntryOf(uint32_t time) const;
  uint32_t FirstTime() const { return m_samples.empty() ? 0 : m_samples.front().time; }
  uint32_t LastTime() const { return m_samples.empty() ? 0 : m_samples.back().time; }
  const std::vector<RecordingGap> &Gaps() const { return m_gaps; }
  int Reads() const { return m_reads; }

 private:
  struct Sample {
    int64_t entry;
    uint32_t time;
  };
  int64_t m_entries = 0;
  int m_reads = 0;
  std::vector<Sample> m_samples;  // by entry
  std::vector<RecordingGap> m_gaps;
};

}  // namespace orvan::recorder
