// The command-line form of Image Play:
//
//   yuv FILE.yuv -o OUT.bmp [--json] [--raw] [--overwrite] [--strict]
//
// writes the picture Image Play shows (720 x L, time stamp included) as a
// 32-bit Windows bitmap; with --raw it writes instead the bare 720 x L
// conversion as 4-byte pixels (B, G, R, 0), top row first. --json prints
// {"lines": L, "time": "yyyy/mm/dd_hh:nn:ss", ...} on `out`. An existing
// OUT is replaced only with --overwrite; never the still itself or a device.
//
// Exit codes: 0 done, 1 usage, write failure or a refused output, 2 the
// still was refused.
// Needs a QGuiApplication (the time stamp is drawn with a font).
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace orvan::app {

// `args` are the words after the program name; a leading "yuv" is skipped.
int RunYuvCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

}  // namespace orvan::app
