// Image Play as a file conversion, for the command line (orvan-cli yuv):
// writes the picture Image Play shows (720 x L, time stamp included) as a
// 32-bit Windows bitmap, or with `raw` the bare 720 x L conversion as
// 4-byte pixels (B, G, R, 0), top row first. The output replaces an
// existing file only under kReplaceExisting, and never the still itself or
// a device. Needs a QGuiApplication (the time stamp is drawn with a font).
#pragma once

#include <string>

#include "platform/output_file.h"

namespace orvan::app {

enum class StillFileStatus {
  kWritten,
  kStillRefused,  // the .yuv file is not a still Image Play shows
  kNotWritten,    // the output was refused or could not be written
};

// What was written: the still's line count and its time as Image Play
// shows it ("yyyy/mm/dd_hh:nn:ss").
struct StillFile {
  int lines = 0;
  std::string time;
};

// On failure `error` is the text for the user.
StillFileStatus WriteStillFile(const std::string &input, const std::string &output, bool raw,
                               platform::ReplacePolicy policy, StillFile &written,
                               std::string &error);

}  // namespace orvan::app
