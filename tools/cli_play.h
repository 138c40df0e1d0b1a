// "orvan-cli play": the real playback thread with four viewers drawing
// into an offscreen 720 x 480 video panel.
#pragma once

#include <string>
#include <vector>

namespace orvan::tools {

// `args` are the words after the program name, starting with "play".
// Returns the process's exit code.
int RunPlayCommand(const std::vector<std::string> &args);

}  // namespace orvan::tools
