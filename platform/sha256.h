// SHA-256 through OpenSSL's libcrypto: a running digest that takes bytes in
// pieces, and the digest of a whole file.
//
// Threads: a Sha256 object is used by one thread at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace orvan::platform {

using Sha256Digest = std::array<uint8_t, 32>;

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256 &) = delete;
  Sha256 &operator=(const Sha256 &) = delete;

  // Starts over with no bytes taken.
  void Reset();
  void Update(const void *data, size_t length);
  // The digest of everything taken since the last Reset(). The object can
  // take no more bytes until it is reset.
  Sha256Digest Final();
  // False when libcrypto could not set up the digest (out of memory): every
  // result is then unusable.
  bool Ok() const { return m_ok; }

 private:
  struct Context;
  std::unique_ptr<Context> m_context;
  bool m_ok = false;
};

// Lower-case hexadecimal, 64 characters.
std::string HexOf(const Sha256Digest &digest);

// Reads `path` (a regular file) through and gives its digest and length.
// False, with *error saying why, when it cannot be opened or read.
bool FileSha256(const std::string &path, Sha256Digest &digest, uint64_t &sizeBytes,
                std::string *error);

}  // namespace orvan::platform
