// Prints how long the activity strip's reading of a disk's index takes:
// until the coarse map and until the whole one, and the index bytes each
// pass read, with what those bytes take on a disk that reads 150 MiB/s.
//
//   activity_bench DISK
#include <chrono>
#include <cstdio>

#include "platform/disk_source.h"
#include "recorder/layout/activity_map.h"

using namespace orvan;
using namespace orvan::recorder;

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DISK\n", argv[0]);
    return 2;
  }
  DiskSource disk;
  DiskGeometry g;
  if (disk.OpenPath(argv[1]) != DriveOpenStatus::Ok ||
      ReadGeometry(disk, g) != GeometryStatus::Ok) {
    std::fprintf(stderr, "%s: no recorder disk\n", argv[1]);
    return 1;
  }
  const auto start = std::chrono::steady_clock::now();
  const double pieceMiB = double(CActivityMap::kPieceEntries) * kEntryBytes / (1 << 20);
  const int64_t pieces =
      (g.playEnd + CActivityMap::kPieceEntries - 1) / CActivityMap::kPieceEntries;
  ReadActivity(disk, g, {}, [&](CActivityMap, bool final) {
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double mib =
        final ? pieces * pieceMiB
              : double((pieces + CActivityMap::kCoarseStride - 1) / CActivityMap::kCoarseStride) *
                    pieceMiB;
    std::printf("%-6s map of %lld entries: %.2f s here; %.0f MiB of index, %.2f s at 150 MiB/s\n",
                final ? "whole" : "coarse", (long long)g.playEnd, s, mib, mib / 150.0);
  });
  return 0;
}
