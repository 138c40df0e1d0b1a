// A disk image served by orvan-faultyfs (tests/support/faulty_fs.cpp): reads
// that fail with EIO in chosen byte ranges, every read failing once Fail()
// is set, reads held or delayed, all through the kernel's own error path.
//
// The mount lives as long as the object: the destructor releases held
// reads, unmounts (lazily, so a reader still inside cannot keep it) and ends
// the file system process, also when the test failed; the process ends with
// the test program (and then the kernel unmounts it) should that die first.
// Every wait is bounded.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"

namespace orvan::test {

class FaultyMount {
 public:
  // Empty when FUSE can be used here; else why not (for GTEST_SKIP).
  static std::string Unavailable();

  // Serves `image` as Path(). Started() false (and Error() why) when the
  // mount did not come up.
  // `also`: files served beside it as they are (a clip's data file).
  FaultyMount(const std::string &image, std::vector<std::pair<uint64_t, uint64_t>> eio = {},
              const std::string &name = "disk.img", std::vector<std::string> also = {});
  ~FaultyMount();
  FaultyMount(const FaultyMount &) = delete;
  FaultyMount &operator=(const FaultyMount &) = delete;

  bool Started() const { return m_started; }
  const std::string &Error() const { return m_error; }
  // The served image, and a file served beside it.
  std::string Path() const { return m_mount + "/" + m_name; }
  std::string PathOf(const std::string &name) const { return m_mount + "/" + name; }

  // Every read fails with EIO (on) or not (off).
  void Fail(bool on);
  // `bytes` more bytes are served, then every read fails (a disk pulled
  // part way).
  void FailAfter(long long bytes);
  // Reads wait this long each (0: not at all).
  void Delay(int ms);
  // Reads wait until Hold(false); Holding() while one waits.
  void Hold(bool on);
  bool Holding() const;

 private:
  void Control(const std::string &file, bool present, const std::string &text = "1");

  TempDir m_dir;
  std::string m_mount, m_control, m_name;
  pid_t m_pid = -1;
  bool m_started = false;
  std::string m_error;
};

}  // namespace orvan::test
