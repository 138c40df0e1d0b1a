// Reading one data record: an index entry and a geometry from the input,
// the data area from the rest of it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_source.h"
#include "recorder/layout/disk_layout.h"

using namespace orvan::recorder;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 24) return 0;
  IndexEntry e = IndexEntry::Parse(data);
  const uint32_t indexAreaMiB = LoadU32(data + 20) % 4;  // keep the data area near the input
  // Offsets near the input most of the time, anything at all otherwise.
  if (!(data[0] & 0x80)) e.offset %= (size + 2048);
  const DiskGeometry g = GeometryFrom(indexAreaMiB, 1000);
  orvan::fuzz::WindowSource source(data + 24, size - 24, g.dataBase);
  std::vector<uint8_t> buffer(kMaxRecordBytes);
  if (ReadDataRecord(source, g, e, buffer.data())) {
    if (RoundedRecordBytes(g, e) > kMaxRecordBytes || e.size > kMaxRecordBytes) __builtin_trap();
    // What was read is the input's bytes at the record's place.
    const uint64_t at = e.offset;
    if (at + e.size <= size - 24 && e.size &&
        std::memcmp(buffer.data(), data + 24 + at, e.size) != 0)
      __builtin_trap();
  }
  return 0;
}
