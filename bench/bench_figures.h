// Printing benchmark figures: medians of repeated runs in milliseconds.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace orvan::test {

using BenchClock = std::chrono::steady_clock;

inline double Ms(BenchClock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// One line: what, the median, min and max of the runs (none: nothing).
inline void Report(const char *what, const std::vector<double> &ms) {
  if (ms.empty()) return;
  std::printf("%-50s median %8.2f ms  (min %.2f, max %.2f, %zu runs)\n", what, Median(ms),
              *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()),
              ms.size());
}

// The value of "--runs N" on the command line (at least 1), else fallback.
inline int RunsOption(int argc, char **argv, int fallback) {
  for (int i = 1; i + 1 < argc; ++i)
    if (!std::strcmp(argv[i], "--runs")) return std::max(1, std::atoi(argv[i + 1]));
  return fallback;
}

}  // namespace orvan::test
