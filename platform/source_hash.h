// Hashing a whole source (a raw image, a block device, the disk inside an
// E01) in one streaming pass: SHA-256 and MD5 (and SHA-1 when asked) with
// OpenSSL's libcrypto.
//
// Threads: HashSource starts one reader thread, which alone uses the
// source while the call runs, filling a ring of large buffers; the calling
// thread digests them as they come, so reading and hashing overlap. The
// ring's lock (Ring::lock in source_hash.cpp) guards the buffers' states;
// the stop flag is an atomic read without it. The reader is joined before
// HashSource returns, whatever happens.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/disk_source.h"

namespace orvan::platform {

struct HashOptions {
  bool sha1 = false;                        // also SHA-1 (what E01 images store beside MD5)
  size_t blockBytes = 8 << 20;              // bytes per read, a multiple of 512
  const std::atomic<bool> *stop = nullptr;  // set to end early (the result is then incomplete)
  // Called on the hashing thread after each block with the bytes done.
  std::function<void(uint64_t doneBytes)> progress;
};

struct SourceHashes {
  uint64_t bytes = 0;             // bytes hashed
  bool complete = false;          // false when stopped before the end
  std::string sha256, md5, sha1;  // lower-case hex; sha1 only when asked
  // Sectors that could not be read, hashed as zeros (as imaging tools do),
  // and the first few read errors; the runs of them (byte offset, bytes).
  uint64_t unreadableSectors = 0;
  std::vector<std::string> readErrors;
  std::vector<ByteRange> unreadable;
  // The source stopped answering: hashing stopped there (incomplete).
  bool gone = false;
};

constexpr size_t kMaxReportedReadErrors = 8;

// Hashes the whole source (SizeBytes() bytes) from its start. Reads follow
// the damage rules (platform/careful_read.h): only the sectors that cannot
// be read are counted and hashed as zeros, and a source that stops
// answering ends the hash there, incomplete. A last sector cut short by the
// end of an image file is hashed as far as it goes, so the result equals a
// hash of the file itself. The source must not be used elsewhere meanwhile.
SourceHashes HashSource(DiskSource &source, const HashOptions &options);

}  // namespace orvan::platform
