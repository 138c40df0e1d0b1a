#include "platform/digest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
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

BackgroundSha256::~BackgroundSha256() {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_stop = true;
    m_full.clear();
  }
  m_changed.notify_all();
  if (m_worker.joinable()) m_worker.join();
}

void BackgroundSha256::Update(const void *data, size_t length) {
  const auto *p = static_cast<const uint8_t *>(data);
  while (length) {
    if (m_filling.capacity() < kPieceBytes) m_filling.reserve(kPieceBytes);
    const size_t n = std::min(length, kPieceBytes - m_filling.size());
    m_filling.insert(m_filling.end(), p, p + n);
    p += n;
    length -= n;
    if (m_filling.size() == kPieceBytes) Hand(std::move(m_filling));
  }
}

void BackgroundSha256::Hand(Piece piece) {
  std::unique_lock<std::mutex> lock(m_lock);
  m_changed.wait(lock, [&] { return m_busy < kPiecesQueued; });
  m_full.push_back(std::move(piece));
  ++m_busy;
  m_filling.clear();
  if (!m_spare.empty()) {
    m_filling = std::move(m_spare.back());
    m_spare.pop_back();
    m_filling.clear();
  }
  lock.unlock();
  if (!m_worker.joinable() && !m_inline) {
    try {
      m_worker = std::thread([this] { Work(); });
    } catch (const std::system_error &) {
      m_inline = true;  // no thread to be had: the owner digests, as it would without one
    }
  }
  if (m_inline) {
    DigestQueuedHere();
    return;
  }
  m_changed.notify_all();
}

void BackgroundSha256::DigestQueuedHere() {
  // No worker exists: nothing else touches the queue.
  for (Piece &piece : m_full) m_sha.Update(piece.data(), piece.size());
  m_full.clear();
  m_busy = 0;
}

void BackgroundSha256::Work() {
  std::unique_lock<std::mutex> lock(m_lock);
  for (;;) {
    m_changed.wait(lock, [&] { return m_stop || !m_full.empty(); });
    if (m_full.empty()) return;  // stopped, everything digested
    Piece piece = std::move(m_full.front());
    m_full.pop_front();
    lock.unlock();
    m_sha.Update(piece.data(), piece.size());
    lock.lock();
    m_spare.push_back(std::move(piece));
    --m_busy;
    m_changed.notify_all();
  }
}

Sha256Digest BackgroundSha256::Final() {
  if (m_worker.joinable()) {
    {
      std::lock_guard<std::mutex> lock(m_lock);
      m_stop = true;
    }
    m_changed.notify_all();
    m_worker.join();  // it digests what is queued before it ends
  }
  m_sha.Update(m_filling.data(), m_filling.size());
  m_filling = Piece();
  return m_sha.Final();
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
