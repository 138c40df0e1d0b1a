// The disk header and state table: recognition and geometry from the first
// bytes of a disk.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "recorder/layout/disk_layout.h"

using namespace orvan::recorder;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::span<const uint8_t> probe(data, size);
  IsRecorderDisk(probe);
  DiskGeometry g;
  DiskHeader h;
  DiskStateEntry s;
  if (ParseGeometry(probe, g, &h, &s) == GeometryStatus::Ok) {
    if (g.playEnd < 0 || g.playEnd > kMaxEntryNumber) __builtin_trap();
    if (g.dataBase < kIndexAreaOffset) __builtin_trap();
    if (s.slot < 0 || s.slot >= kStateEntryCount) __builtin_trap();
  }
  return 0;
}
