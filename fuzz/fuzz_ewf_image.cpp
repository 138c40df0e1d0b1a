// E01 images: a segment set made of the fuzzer's bytes, opened and read the
// way every disk reader opens one (DiskSource, so libewf and the segment
// checks in front of it). The first byte picks how many segment files
// (1 to 3) the rest is cut into.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/disk_source.h"
#include "platform/ewf_image.h"

namespace fs = std::filesystem;

namespace {

const fs::path &Folder() {
  static const fs::path folder = [] {
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    fs::path f = base / ("orvan-fuzz-ewf-" + std::to_string(getpid()));
    fs::create_directories(f);
    std::atexit([] { fs::remove_all(Folder()); });
    return f;
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const size_t segments = 1 + data[0] % 3;
  ++data;
  --size;
  std::vector<std::string> names;
  for (size_t i = 0; i < 3; ++i) {
    const std::string name = (Folder() / ("case.E0" + std::to_string(i + 1))).string();
    if (i >= segments) {
      fs::remove(name);
      continue;
    }
    const size_t from = size * i / segments, to = size * (i + 1) / segments;
    std::ofstream(name, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char *>(data + from), std::streamsize(to - from));
    names.push_back(name);
  }

  orvan::DiskSource source;
  if (source.OpenPath(names[0]) != orvan::DriveOpenStatus::Ok) return 0;
  // The first MiB, then single sectors spread over what the image claims,
  // so an absurd media size costs no more than a small one.
  std::vector<uint8_t> buffer(1 << 20);
  const uint64_t media = source.SizeBytes();
  size_t got = 0;
  if (source.Seek(0)) source.Read(buffer.data(), buffer.size(), &got);
  if (got > buffer.size()) __builtin_trap();
  for (uint64_t i = 0; i < 16 && media >= 512; ++i) {
    const uint64_t at = std::min(media - 512, media / 16 * i) / 512 * 512;
    if (source.Seek(at)) source.Read(buffer.data(), 512, &got);
    if (got > 512) __builtin_trap();
  }
  if (const auto *ewf = source.Ewf()) {
    if (ewf->SegmentPaths().empty() || ewf->SegmentPaths().size() > 3) __builtin_trap();
  }
  return 0;
}
