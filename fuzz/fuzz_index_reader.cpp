// The sequential index reader and the time search over a hostile index
// area, with the data area lying over the same bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_source.h"
#include "recorder/layout/disk_layout.h"
#include "recorder/layout/index_search.h"

using namespace orvan::recorder;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 12) return 0;
  // The first bytes choose the state; the rest is the index area.
  const uint64_t indexCount = LoadU64(data);
  const uint32_t target = LoadU32(data + 8);
  orvan::fuzz::WindowSource source(data + 12, size - 12, kIndexAreaOffset);
  const DiskGeometry g = GeometryFrom(0, indexCount);  // data area = index area

  IndexReader reader;
  reader.Start(source, 0);
  std::vector<uint8_t> record(kMaxRecordBytes);
  int64_t last = 0;
  for (int steps = 0; steps < 4096 && reader.Next() < g.playEnd; ++steps) {
    if (!reader.ReadStep(source)) break;
    if (reader.Entries().size() < 25 || reader.Entries().size() > 26) __builtin_trap();
    if (reader.Next() <= last || reader.CarryBytes() >= 20) __builtin_trap();
    last = reader.Next();
    for (const IndexEntry &e : reader.Entries()) ReadDataRecord(source, g, e, record.data());
    if (!reader.Resync(source)) __builtin_trap();  // always on a sector boundary
  }
  const int64_t found = SearchTime(source, g, target);
  if (found < 0 || found % kEntriesPerBlock != 0 || found > g.playEnd) __builtin_trap();
  uint32_t t = 0;
  IndexBlockTime(int64_t(LoadU64(data) >> 1), source, t);
  return 0;
}
