#include "platform/digest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace orvan::platform {

namespace {

const EVP_MD *Algorithm(DigestKind kind) {
  switch (kind) {
    case DigestKind::kSha1:
      return EVP_sha1();
    case DigestKind::kMd5:
      return EVP_md5();
    case DigestKind::kSha256:
      break;
  }
  return EVP_sha256();
}

}  // namespace

struct Digest::Context {
  EVP_MD_CTX *md = nullptr;
  ~Context() { EVP_MD_CTX_free(md); }
};

Digest::Digest(DigestKind kind) : m_context(std::make_unique<Context>()), m_kind(kind) {
  m_context->md = EVP_MD_CTX_new();
  Reset();
}

Digest::~Digest() = default;

void Digest::Reset() {
  m_ok = m_context->md && EVP_DigestInit_ex(m_context->md, Algorithm(m_kind), nullptr) == 1;
}

void Digest::Update(const void *data, size_t length) {
  if (m_ok && length) m_ok = EVP_DigestUpdate(m_context->md, data, length) == 1;
}

std::vector<uint8_t> Digest::Final() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (m_ok) m_ok = EVP_DigestFinal_ex(m_context->md, digest, &length) == 1;
  if (!m_ok) return {};
  return std::vector<uint8_t>(digest, digest + length);
}

Sha256Digest Sha256::Final() {
  Sha256Digest digest{};
  const std::vector<uint8_t> bytes = m_digest.Final();
  if (bytes.size() == digest.size()) std::copy(bytes.begin(), bytes.end(), digest.begin());
  return digest;
}

std::string HexOf(const uint8_t *bytes, size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * length);
  for (size_t i = 0; i < length; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 15]);
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
