// Carving: the pictures that lie in the data area where no valid entry
// (live, held back or stale) points, found by recorder/recovery/carve_scanner.h
// and kept only when the decoder accepts them (media/still_picture.h). Each
// is written as DIR/<disk offset>.png, and DIR/carve.manifest.json lists
// them: disk offset, size, kind, SHA-256 of the carved bytes, the PNG and its
// SHA-256, and the time bracket, the times of the nearest referenced records
// before and after it on the disk (the recorder writes in time order).
//
// The unreferenced stretches are read front to back in windows of at least
// 4 MiB; nothing an entry references is ever reported.
//
// Threads: the caller's; `stop` may be set from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/disk_source.h"
#include "platform/output_file.h"
#include "recorder/recovery/disk_survey.h"

namespace orvan::recorder {

struct CarveOptions {
  std::string outputDir;    // empty: find and check only, write nothing
  uint64_t fromOffset = 0;  // disk offsets; 0 .. 0: the whole data area
  uint64_t toOffset = 0;
  platform::ReplacePolicy policy = platform::ReplacePolicy::kKeepExisting;
  std::function<void(uint64_t done, uint64_t total)> progress;  // bytes
  const std::atomic<bool> *stop = nullptr;
};

struct CarvedPicture {
  uint64_t offset = 0;  // of the first carved byte on the disk
  size_t size = 0;
  std::string kind;  // "mpeg4 key picture" or "jpeg"
  std::string sha256;
  int width = 0, height = 0;
  bool headersFromBefore = false;  // decoded with stream headers found earlier on the disk
  // The nearest referenced records on the disk: the one ending before the
  // picture and the one starting after it (time 0, offset 0: none).
  uint32_t timeBefore = 0, timeAfter = 0;
  uint64_t recordBeforeEnd = 0, recordAfterStart = 0;
  std::string file;  // DIR/<offset>.png, when written
  std::string fileSha256;
};

struct CarveResult {
  bool ok = false;
  std::string error;
  std::vector<CarvedPicture> pictures;
  uint64_t candidates = 0;   // found by the scan
  uint64_t rejected = 0;     // of those, not accepted by the decoder
  uint64_t skippedLost = 0;  // touching sectors that cannot be read
  uint64_t stretches = 0;    // unreferenced stretches read
  uint64_t bytesScanned = 0;
  uint64_t fromOffset = 0, toOffset = 0;
  uint64_t backwardReads = 0;
  std::string manifestPath;
  bool gone = false, stopped = false;
};

// One picture as the carve's manifest (file: its name beside the manifest)
// and `orvan-cli carve --json` (file: the path written) give it.
nlohmann::ordered_json CarvedPictureJson(const CarvedPicture &picture, bool fileNameOnly);

CarveResult CarveDisk(ByteSource &source, const DiskSurvey &survey, const SourceIdentity &identity,
                      const CarveOptions &options);

}  // namespace orvan::recorder
