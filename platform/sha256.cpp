#include "platform/sha256.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace orvan::platform {

struct Sha256::Context {
  EVP_MD_CTX *md = nullptr;
  ~Context() { EVP_MD_CTX_free(md); }
};

Sha256::Sha256() : m_context(std::make_unique<Context>()) {
  m_context->md = EVP_MD_CTX_new();
  Reset();
}

Sha256::~Sha256() = default;

void Sha256::Reset() {
  m_ok = m_context->md && EVP_DigestInit_ex(m_context->md, EVP_sha256(), nullptr) == 1;
}

void Sha256::Update(const void *data, size_t length) {
  if (m_ok && length) m_ok = EVP_DigestUpdate(m_context->md, data, length) == 1;
}

Sha256Digest Sha256::Final() {
  Sha256Digest digest{};
  unsigned int length = 0;
  if (m_ok) m_ok = EVP_DigestFinal_ex(m_context->md, digest.data(), &length) == 1;
  if (length != digest.size()) m_ok = false;
  return digest;
}

std::string HexOf(const Sha256Digest &digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * digest.size());
  for (uint8_t b : digest) {
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 15]);
  }
  return text;
}

bool FileSha256(const std::string &path, Sha256Digest &digest, uint64_t &sizeBytes,
                std::string *error) {
  auto fail = [&](int code) {
    if (error) *error = "cannot read " + path + ": " + std::strerror(code);
    return false;
  };
  // O_NONBLOCK: a FIFO put in a file's place is refused below, not waited on.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return fail(errno);
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    const int code = errno;
    ::close(fd);
    return fail(code);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    if (error) *error = "cannot read " + path + ": it is not a regular file";
    return false;
  }
  Sha256 sha;
  std::vector<uint8_t> buffer(1 << 20);
  uint64_t total = 0;
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int code = errno;
      ::close(fd);
      return fail(code);
    }
    if (n == 0) break;
    sha.Update(buffer.data(), size_t(n));
    total += uint64_t(n);
  }
  ::close(fd);
  digest = sha.Final();
  sizeBytes = total;
  if (!sha.Ok()) {
    if (error) *error = "cannot compute the SHA-256 of " + path;
    return false;
  }
  return true;
}

}  // namespace orvan::platform
