// What every orvan-cli command reports about a damaged source, and how it
// ends: the same JSON keys, one warning line on stderr, and the exit codes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/disk_source.h"
#include "recorder/clip_format.h"
#include "recorder/disk_layout.h"

namespace orvan::tools {

// Exit codes of every command.
enum CliExit {
  kExitOk = 0,
  kExitError = 1,       // usage, a file or drive that cannot be opened or written, a refused output
  kExitRejected = 2,    // not a recorder disk, or a rejected clip
  kExitStateError = 3,  // no valid state entry ("Check HDD State Error!!")
  kExitVerifyFailed = 4,  // verify: a file does not match its manifest
  kExitPartial = 5,       // --strict: the result is partial (the source is damaged)
};

// A JSON string literal of text.
std::string JsonText(const std::string &text);

// What a command met on a damaged source. Reading stays tolerant (what
// cannot be read is skipped); this says what was lost.
struct DamageReport {
  std::vector<std::string> warnings;
  uint64_t readErrors = 0;      // reads of the index, the event log or the clip that failed
  uint64_t skippedRecords = 0;  // index entries whose record was not played or copied

  void Warn(const std::string &text) { warnings.push_back(text); }
  bool Partial() const { return !warnings.empty() || readErrors || skippedRecords; }
  // `"warnings": [...], "readErrors": N, "skippedRecords": M`, for the end
  // of a JSON object.
  std::string JsonFields() const;
  // Prints the one warning line on stderr when there is something to say,
  // and turns a partial result into kExitPartial under --strict. Any other
  // code is returned unchanged.
  int Finish(int exitCode, bool strict) const;
};

// An image or device shorter than its layout needs: "truncated image: N
// bytes, the layout needs at least M". Reads the source: call it before a
// player shares it.
void CheckImageLength(DiskSource &source, const recorder::DiskGeometry &geometry,
                      DamageReport &damage);
// A clip whose data file ends before the records its entries name. Reads
// the clip: call it before a player shares it.
void CheckClipData(const recorder::CClipReader &clip, DamageReport &damage);

}  // namespace orvan::tools
