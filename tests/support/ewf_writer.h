// Writing E01 images in tests with libewf's own write calls, so the tests
// have sets of known segment sizes and stored hashes (a wrong one too).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvan::test {

struct EwfWriteOptions {
  uint64_t segmentBytes = 0;  // 0: one segment as large as libewf allows
  bool compress = true;       // deflate, fast
  bool storeSha1 = true;
  // Stored instead of the data's own MD5 when not empty (hex).
  std::string storedMd5;
};

// Writes the bytes of rawPath as the E01 set base.E01, base.E02, ...
// Returns the segment file names in order; empty on failure, with *error.
std::vector<std::string> WriteEwfImage(const std::string &rawPath, const std::string &base,
                                       const EwfWriteOptions &options, std::string *error);

// MD5 and SHA-1 of a whole file as lower-case hex (libcrypto).
std::string FileMd5(const std::string &path);
std::string FileSha1(const std::string &path);

}  // namespace orvan::test
