// How much happened when, per channel, at no decoding cost: the sizes of
// the predicted pictures the index lists, which grow with motion in the
// scene. The recording's entries are cut into kBins spans; each span's
// level is the mean size of its predicted pictures against the channel's
// median over the spans that hold any (1.0: as usual; a still scene is
// below, motion above).
//
// Read on the caller's thread (the window runs it on a thread of its own)
// in two passes: a coarse one over every kCoarseStride-th piece of the
// index, then every piece; each pass ends with a finished map handed to
// `publish`. Immutable once handed over.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/disk_source.h"
#include "recorder/layout/disk_layout.h"

namespace orvan::recorder {

class CActivityMap {
 public:
  static constexpr int kBins = 8192;
  static constexpr int64_t kPieceEntries = 3200;  // 64000 bytes, whole sectors
  static constexpr int64_t kCoarseStride = 16;

  explicit CActivityMap(int64_t entries = 0);
  // One entry of the index; only predicted pictures of channels 0..3 count.
  void Add(int64_t n, const IndexEntry &entry);
  // Turns the sums into levels, each over a window of `windowBins` bins
  // around it (a couple of seconds of recording: single pictures vary
  // more than the scene does); call once all entries are added.
  void Finish(int windowBins = 1);

  int64_t Entries() const { return m_entries; }
  int BinOf(int64_t n) const;
  // The first entry of bin b.
  int64_t FirstEntryOf(int bin) const;
  // The level of channel ch over bin b: -1 where it recorded no predicted
  // picture.
  float Level(int channel, int bin) const;
  // The mean level over the entries first .. first + count - 1 (the bins
  // they touch); -1 when none.
  float LevelOver(int channel, int64_t first, int64_t count) const;
  bool Complete() const { return m_complete; }
  void SetComplete(bool complete) { m_complete = complete; }

 private:
  struct Sum {
    uint64_t bytes = 0;
    uint32_t count = 0;
  };
  int64_t m_entries = 0;
  bool m_complete = false;
  std::array<std::vector<Sum>, 4> m_sums;
  std::array<std::vector<float>, 4> m_levels;
};

// Reads the activity of a disk's index, entries 0 .. playEnd - 1: the
// coarse map, then the whole one, each handed to `publish` (final false,
// then true). Stops, handing over nothing more, once `stop` holds or the
// disk fails to answer. Returns the pieces read.
int64_t ReadActivity(ByteSource &disk, const DiskGeometry &geometry,
                     const std::function<bool()> &stop,
                     const std::function<void(CActivityMap map, bool final)> &publish);

}  // namespace orvan::recorder
