// Message digests through OpenSSL's libcrypto: a running digest that takes
// bytes in pieces (SHA-256, SHA-1, MD5), and the SHA-256 of a whole file.
// Every digest this program computes goes through here.
//
// Threads: a Digest or Sha256 object is used by one thread at a time.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvan::platform {

enum class DigestKind { kSha256, kSha1, kMd5 };

class Digest {
 public:
  explicit Digest(DigestKind kind);
  ~Digest();
  Digest(const Digest &) = delete;
  Digest &operator=(const Digest &) = delete;

  // Starts over with no bytes taken.
  void Reset();
  void Update(const void *data, size_t length);
  // The digest of everything taken since the last Reset() (32 bytes for
  // SHA-256, 20 for SHA-1, 16 for MD5); empty once Ok() is false. The
  // object takes no more bytes until it is reset.
  std::vector<uint8_t> Final();
  // False when libcrypto could not set up or run the digest (out of
  // memory, an algorithm the library refuses): every result is then
  // unusable.
  bool Ok() const { return m_ok; }

 private:
  struct Context;
  std::unique_ptr<Context> m_context;
  DigestKind m_kind;
  bool m_ok = false;
};

// SHA-256 with its digest as a fixed array, as output files and manifests
// keep it.
using Sha256Digest = std::array<uint8_t, 32>;

class Sha256 {
 public:
  Sha256() : m_digest(DigestKind::kSha256) {}
  void Reset() { m_digest.Reset(); }
  void Update(const void *data, size_t length) { m_digest.Update(data, length); }
  // All zeros once Ok() is false.
  Sha256Digest Final();
  bool Ok() const { return m_digest.Ok(); }

 private:
  Digest m_digest;
};

// SHA-256 computed on a thread of its own, so the thread that produces the
// bytes (an export writing its files) goes on while they are digested.
// Update() copies the bytes into pieces of kPieceBytes; each full piece
// goes to the worker, which digests the pieces in order. At most
// kPiecesQueued wait for it: Update() then waits for one to be done. The
// worker starts with the first full piece, so a small file never starts
// one: Final() digests what is left on the calling thread.
//
// Threads: Update(), Final() and the destructor are called by one thread,
// the owner. m_lock guards m_full, m_spare, m_stop and m_worker's state as
// the queue sees it; m_sha belongs to the worker while it runs and to the
// owner after it has been joined.
class BackgroundSha256 {
 public:
  static constexpr size_t kPieceBytes = 1 << 20;
  static constexpr size_t kPiecesQueued = 4;

  BackgroundSha256() = default;
  // Stops the worker without finishing the digest.
  ~BackgroundSha256();
  BackgroundSha256(const BackgroundSha256 &) = delete;
  BackgroundSha256 &operator=(const BackgroundSha256 &) = delete;

  void Update(const void *data, size_t length);
  // The digest of every byte taken; all zeros once Ok() is false. Takes no
  // more bytes afterwards.
  Sha256Digest Final();
  // Valid after Final().
  bool Ok() const { return m_sha.Ok(); }

 private:
  using Piece = std::vector<uint8_t>;
  void Hand(Piece piece);
  void Work();
  void DigestQueuedHere();

  Sha256 m_sha;
  Piece m_filling;  // owner only
  std::thread m_worker;
  std::mutex m_lock;
  std::condition_variable m_changed;  // a piece queued, done, or the stop asked
  std::deque<Piece> m_full;           // waiting for the worker, in order
  std::vector<Piece> m_spare;         // done, for the owner to fill again
  size_t m_busy = 0;                  // pieces queued or being digested
  bool m_stop = false;                // no more pieces come
  bool m_inline = false;              // owner only: no worker could be started
};

// Lower-case hexadecimal, two characters a byte.
std::string HexOf(const uint8_t *bytes, size_t length);
inline std::string HexOf(const std::vector<uint8_t> &bytes) {
  return HexOf(bytes.data(), bytes.size());
}
inline std::string HexOf(const Sha256Digest &digest) { return HexOf(digest.data(), digest.size()); }

// Reads `path` (a regular file) through and gives its digest and length.
// False, with *error saying why, when it cannot be opened or read.
bool FileSha256(const std::string &path, Sha256Digest &digest, uint64_t &sizeBytes,
                std::string *error);

}  // namespace orvan::platform
