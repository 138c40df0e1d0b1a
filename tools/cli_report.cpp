#include "tools/cli_report.h"

#include <cstdio>

#include "recorder/export/export_manifest.h"

namespace orvan::tools {

void DamageReport::Lost(const recorder::LossLog &log) {
  readErrors += log.Places();
  losses.Merge(log);
}

void DamageReport::Lost(const recorder::LostPart &part) {
  recorder::LossLog one;
  one.Add(part);
  Lost(one);
}

void DamageReport::AddTo(Json &object) const {
  object["lost"] = recorder::LostJson(losses);
  if (losses.NotListed()) object["lostNotListed"] = losses.NotListed();
  if (diskGone) object["diskStoppedAnswering"] = true;
  object["warnings"] = warnings;
  object["readErrors"] = readErrors;
  object["skippedRecords"] = skippedRecords;
}

int DamageReport::Finish(int exitCode, bool strict) const {
  if (!Partial()) return exitCode;
  std::vector<std::string> parts = warnings;
  const std::string summary = losses.Summary();
  if (!summary.empty()) parts.insert(parts.begin(), summary);
  std::string line = "warning: ";
  for (size_t i = 0; i < parts.size(); ++i) line += (i ? "; " : "") + parts[i];
  if (parts.empty())
    line += std::to_string(readErrors) + " read errors, " + std::to_string(skippedRecords) +
            " records skipped";
  if (!parts.empty() || readErrors || skippedRecords) std::fprintf(stderr, "%s\n", line.c_str());
  if (diskGone) {
    std::fprintf(stderr, "%s\n", recorder::kDiskStoppedText);
    return exitCode == kExitOk || exitCode == kExitPartial ? kExitError : exitCode;
  }
  return strict && exitCode == kExitOk ? kExitPartial : exitCode;
}

bool RefuseOutputs(const std::vector<std::string> &paths, platform::ReplacePolicy policy) {
  for (const std::string &path : paths) {
    std::string error;
    const platform::OutputStatus status = platform::CheckOutputPath(path, policy, &error);
    if (status == platform::OutputStatus::kOk) continue;
    if (status == platform::OutputStatus::kExists) error += " (--overwrite replaces it)";
    std::fprintf(stderr, "%s\n", error.c_str());
    return true;
  }
  return false;
}

void CheckImageLength(DiskSource &source, const recorder::DiskGeometry &geometry,
                      DamageReport &damage) {
  const uint64_t have = source.SizeBytes();
  if (have == 0) return;  // the size cannot be told
  const uint64_t need = recorder::LayoutMinimumBytes(source, geometry);
  if (have < need)
    damage.Warn("truncated image: " + std::to_string(have) + " bytes, the layout needs at least " +
                std::to_string(need));
}

void CheckClipData(const recorder::CClipReader &clip, DamageReport &damage) {
  recorder::ClipTrailer trailer;
  recorder::IndexEntry first, last;
  if (clip.ReadClipTrailer(trailer) != recorder::ClipStatus::Ok || trailer.count == 0 ||
      !clip.ReadEntry(0, first) || !clip.ReadEntry(trailer.count - 1, last))
    return;  // the clip is refused, or has nothing to play, for reasons of its own
  // Records lie back to back from the first entry's offset.
  if (last.offset < first.offset || last.size > recorder::kMaxRecordBytes) return;
  uint64_t need = last.offset - first.offset + last.size;
  if (clip.DataFileBytes() >= need) return;
  // The entries keep the disk's offsets, which run back to back only when
  // they came from one stretch of the disk (a recovery's do not): the sum
  // of the records' sizes decides.
  need = 0;
  for (uint32_t i = 0; i < trailer.count; ++i) {
    recorder::IndexEntry e;
    if (!clip.ReadEntry(i, e)) return;
    need += e.size;
  }
  if (clip.DataFileBytes() < need)
    damage.Warn("truncated clip: the data file has " + std::to_string(clip.DataFileBytes()) +
                " bytes, the entries need at least " + std::to_string(need));
}

}  // namespace orvan::tools
