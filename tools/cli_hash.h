// "orvan-cli hash": SHA-256 and MD5 of a whole source (a raw image, a block
// device, or the disk inside an E01) in one pass; for an E01 also whether
// the hashes stored in it match its data.
#pragma once

#include <string>
#include <vector>

namespace orvan::tools {

// `args` are the words after the program name, starting with "hash".
// Returns the process's exit code.
int RunHashCommand(const std::vector<std::string> &args);

}  // namespace orvan::tools
