// Running the command-line tools from tests.
#pragma once

#include <sys/types.h>

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
// The same for any program, by its path (or its name, searched in PATH).
ToolResult RunProgram(const std::string &program, const std::vector<std::string> &args,
                      int limitSeconds = 600);

// Starts build/tools/<tool> with its standard output and error going to
// the given files, and returns at once: for tests that signal a running
// program. -1 when it cannot be started.
pid_t StartTool(const std::string &tool, const std::vector<std::string> &args,
                const std::string &outPath, const std::string &errPath);
// Waits up to limitSeconds for a started tool (killing it after that) and
// returns its exit code, or -1 when it ended by a signal or was killed.
int WaitTool(pid_t pid, int limitSeconds = 120);

}  // namespace orvan::test
