// The clip trailer search and the companion-name rule.
#include <cstddef>
#include <cstdint>
#include <string>

#include "recorder/layout/clip_format.h"

using namespace orvan::recorder;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // The input is the end of an index file; the first 8 bytes say how many
  // bytes come in front of it.
  if (size < 8) return 0;
  const uint64_t front = LoadU64(data) % (uint64_t{1} << 40);
  const std::span<const uint8_t> tail(data + 8, size - 8);
  const uint64_t fileSize = front + tail.size();
  ClipTrailer t;
  const ClipStatus status =
      ParseClipTrailer(fileSize, tail.size() >= 2048 ? tail.subspan(tail.size() - 2048) : tail, t);
  if (status == ClipStatus::Ok) {
    if (t.magic != kClipMagicSingle && t.magic != kClipMagicInterleaved) __builtin_trap();
    if (t.countOffset / 20 != t.count || t.countOffset + 4 > fileSize) __builtin_trap();
  }
  const std::string name(reinterpret_cast<const char *>(data), size);
  const std::string companion = CompanionDataName(name);
  if (companion.size() < 3 || companion.compare(companion.size() - 3, 3, ".da") != 0)
    __builtin_trap();
  return 0;
}
