// Finding where a time was recorded: a search over the first entries of
// 512-entry blocks of the time index.
//
// Both functions move the position of the source they read; a caller that
// shares the source with a reader pauses that reader first.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/disk_source.h"
#include "recorder/layout/disk_layout.h"

namespace orvan::recorder {

// How reading a block time ended.
enum class BlockTimeRead {
  kRead,
  kLost,     // its sector cannot be read
  kEnded,    // it lies beyond the end of the disk
  kGone,     // the disk stopped answering
  kStopped,  // the read was given up
};

// Block time of the 512-entry block that holds entry n (the time of the
// block's first entry). A time whose year reads as 1970 is doubtful: the
// sector is read once more and the second value taken when that read works.
// On failure `time` is left unchanged.
BlockTimeRead ReadBlockTime(int64_t n, ByteSource &source, uint32_t &time);
bool IndexBlockTime(int64_t n, ByteSource &source, uint32_t &time);

// What a search met on a damaged disk.
struct SearchReport {
  // Blocks whose time could not be read: the search passed over them, and
  // the readable blocks next to them decided.
  std::vector<int64_t> unreadableBlocks;
  bool gone = false;     // the disk stopped answering: the result is a guess
  bool stopped = false;  // the reads were given up: the result is a guess
};

// Blocks a search looks at on each side of one whose time cannot be read.
constexpr int kSearchSkipBlocks = 32;

// The entry where reading starts for `target`: always a multiple of 512 in
// 0 .. playEnd rounded down to a multiple of 512. A block time that cannot
// be read is passed over: the nearest readable block (up to
// kSearchSkipBlocks away, inside the interval being narrowed) stands in for
// it; an end that cannot be read takes the nearest readable block inside.
// With none readable the search ends at the middle it has.
int64_t SearchTime(ByteSource &source, const DiskGeometry &geometry, uint32_t target,
                   SearchReport *report = nullptr);

}  // namespace orvan::recorder
