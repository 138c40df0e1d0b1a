// What every orvan-cli command reports about a damaged source, and how it
// ends: the same JSON keys, one warning line on stderr, and the exit code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/disk_source.h"
#include "platform/output_file.h"
#include "recorder/layout/clip_format.h"
#include "recorder/layout/disk_layout.h"
#include "recorder/layout/read_losses.h"
#include "tools/exit_codes.h"
#include "tools/json_writer.h"

namespace orvan::tools {

// What a command met on a damaged source. Reading stays tolerant (what
// cannot be read is skipped); this says what was lost.
struct DamageReport {
  std::vector<std::string> warnings;
  uint64_t readErrors = 0;      // reads of the index, the event log or the clip that failed
  uint64_t skippedRecords = 0;  // index entries whose record was not played or copied
  recorder::LossLog losses;     // where the sectors lost lay
  bool diskGone = false;        // the disk stopped answering: the command ended there

  void Warn(const std::string &text) { warnings.push_back(text); }
  // Sectors lost, each place a read error; their summary goes in the
  // warning line.
  void Lost(const recorder::LossLog &log);
  void Lost(const recorder::LostPart &part);
  bool Partial() const {
    return !warnings.empty() || readErrors || skippedRecords || !losses.Empty() || diskGone;
  }
  // Adds "lost": [...] (and "lostNotListed"), "diskStoppedAnswering" when
  // it did, "warnings": [...], "readErrors": N, "skippedRecords": M to the
  // end of a command's JSON object.
  void AddTo(Json &object) const;
  // Prints the one warning line on stderr when there is something to say,
  // and turns a partial result into kExitPartial under --strict. A disk
  // that stopped answering is said on a line of its own and ends in
  // kExitError whatever else. Any other code is returned unchanged.
  int Finish(int exitCode, bool strict) const;
};

// The output paths of a command, checked before any work: a source, a
// device or an existing file (without --overwrite) is refused, said on
// stderr, and true returned.
bool RefuseOutputs(const std::vector<std::string> &paths, platform::ReplacePolicy policy);

// An image or device shorter than its layout needs: "truncated image: N
// bytes, the layout needs at least M". Reads the source: call it before a
// player shares it.
void CheckImageLength(DiskSource &source, const recorder::DiskGeometry &geometry,
                      DamageReport &damage);
// A clip whose data file ends before the records its entries name. Reads
// the clip: call it before a player shares it.
void CheckClipData(const recorder::CClipReader &clip, DamageReport &damage);

}  // namespace orvan::tools
