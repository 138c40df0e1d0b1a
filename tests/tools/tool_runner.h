// Running the command-line tools from tests.
#pragma once

#include <string>
#include <vector>

namespace orvan::test {

struct ToolResult {
  int exitCode = -1;  // -1: ended by a signal
  std::string out;
  std::string err;
};

// Runs build/tools/<tool> with the arguments (no shell involved) and
// collects its output. Kills it after limitSeconds, a guard against a hang
// (sanitizer builds on a loaded machine run the tools many times slower).
ToolResult RunTool(const std::string &tool, const std::vector<std::string> &args,
                   int limitSeconds = 600);

// FNV-1a over a whole file: to show a command left an image untouched.
uint64_t FileChecksum(const std::string &path);

}  // namespace orvan::test
