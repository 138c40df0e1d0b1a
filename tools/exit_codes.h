// The exit codes of every command-line tool.
#pragma once

namespace orvan::tools {

enum ExitCode : int {
  kExitOk = 0,
  kExitError = 1,       // usage, a file or drive that cannot be opened or written, a refused output
  kExitRejected = 2,    // not a recorder disk, or a rejected clip or still
  kExitStateError = 3,  // no valid state entry ("Check HDD State Error!!")
  kExitVerifyFailed = 4,  // verify: a file does not match its manifest, or it cannot be read
  kExitPartial = 5,       // --strict: the result is partial (the source is damaged)
};

// A tool stopped by a signal exits as a shell reports it: 128 + the signal
// (130 for SIGINT, 143 for SIGTERM).
constexpr int ExitForSignal(int signal) { return 128 + signal; }

}  // namespace orvan::tools
