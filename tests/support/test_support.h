// Helpers shared by the test programs.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace orvan::test {

// A fresh folder under the system temporary folder, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::filesystem::path &Path() const { return m_path; }
  std::string File(const std::string &name) const { return (m_path / name).string(); }

 private:
  std::filesystem::path m_path;
};

// Headless defaults for every test program (Qt offscreen, SDL's dummy audio
// driver) unless the environment already names others. Programs with their
// own main() call it first.
void SetTestEnvironment();

// Polls cond every millisecond until it holds or the limit passes. The
// limit is a guard against hangs, never a measurement.
bool WaitUntil(const std::function<bool()> &cond,
               std::chrono::milliseconds limit = std::chrono::seconds(120));

// The whole of a file, read in large blocks (empty when it cannot be read).
std::vector<uint8_t> ReadFileBytes(const std::string &path);
std::string ReadFileText(const std::string &path);
// SHA-256 of a whole file as lower-case hex, by libcrypto directly (not
// through the program's own hashing, which it checks); empty when the file
// cannot be read.
std::string FileSha256(const std::string &path);
// The same of bytes in memory.
std::string Sha256Hex(const std::vector<uint8_t> &bytes);

// Folder of the build tree, for tests that run the tools, and of the
// sources. Test programs are built with ORVAN_BIN_DIR and ORVAN_SOURCE_DIR.
#ifdef ORVAN_BIN_DIR
inline std::string BinaryDir() { return ORVAN_BIN_DIR; }
inline std::string SourceDir() { return ORVAN_SOURCE_DIR; }
#endif

}  // namespace orvan::test
