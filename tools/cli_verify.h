// "orvan-cli verify NAME.manifest.json [--json]": reads every file an
// export's manifest lists and says OK or FAILED (size or hash) for each.
#pragma once

#include <string>
#include <vector>

namespace orvan::tools {

// `args` are the words after the program name, starting with "verify".
// Exit 0 when every file matches, 4 when any does not (or the manifest
// cannot be read), 1 for a usage error.
int RunVerifyCommand(const std::vector<std::string> &args);

}  // namespace orvan::tools
