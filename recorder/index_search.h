// Finding where a time was recorded: a search over the first entries of
// 512-entry blocks of the time index.
//
// Both functions move the position of the source they read; a caller that
// shares the source with a reader pauses that reader first.
#pragma once

#include <cstdint>

#include "platform/disk_source.h"
#include "recorder/disk_layout.h"

namespace orvan::recorder {

// Block time of the 512-entry block that holds entry n (the time of the
// block's first entry). A time whose year reads as 1970 is doubtful: the
// sector is read once more and the second value taken when that read works.
// On failure `time` is left unchanged.
bool IndexBlockTime(int64_t n, ByteSource &source, uint32_t &time);

// The entry where reading starts for `target`: always a multiple of 512 in
// 0 .. playEnd rounded down to a multiple of 512. Block times that cannot be
// read count as 0 at the start and keep their last value later.
int64_t SearchTime(ByteSource &source, const DiskGeometry &geometry, uint32_t target);

}  // namespace orvan::recorder
