#include "tests/support/ewf_writer.h"

#include <libewf.h>
#include <openssl/evp.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

namespace orvan::test {

namespace {

std::string Hex(const unsigned char *bytes, unsigned size) {
  std::string out;
  char pair[3];
  for (unsigned i = 0; i < size; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
    out += pair;
  }
  return out;
}

std::string FileDigest(const std::string &path, const EVP_MD *md) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX *)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  EVP_DigestInit_ex(ctx.get(), md, nullptr);
  std::vector<char> buffer(1 << 20);
  while (in) {
    in.read(buffer.data(), std::streamsize(buffer.size()));
    EVP_DigestUpdate(ctx.get(), buffer.data(), size_t(in.gcount()));
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned size = 0;
  EVP_DigestFinal_ex(ctx.get(), digest, &size);
  return Hex(digest, size);
}

std::string Describe(libewf_error_t *&error) {
  char text[512] = {};
  if (error) libewf_error_sprint(error, text, sizeof text);
  libewf_error_free(&error);
  return text;
}

}  // namespace

std::string FileMd5(const std::string &path) { return FileDigest(path, EVP_md5()); }
std::string FileSha1(const std::string &path) { return FileDigest(path, EVP_sha1()); }

std::vector<std::string> WriteEwfImage(const std::string &rawPath, const std::string &base,
                                       const EwfWriteOptions &options, std::string *error) {
  std::ifstream in(rawPath, std::ios::binary);
  if (!in) {
    *error = "cannot read " + rawPath;
    return {};
  }
  const uint64_t size = std::filesystem::file_size(rawPath);
  libewf_handle_t *h = nullptr;
  libewf_error_t *e = nullptr;
  if (libewf_handle_initialize(&h, &e) != 1) {
    *error = Describe(e);
    return {};
  }
  std::string baseName = base;
  char *names[] = {baseName.data()};
  bool ok =
      libewf_handle_open(h, names, 1, LIBEWF_OPEN_WRITE, &e) == 1 &&
      libewf_handle_set_format(h, LIBEWF_FORMAT_ENCASE6, &e) == 1 &&
      libewf_handle_set_bytes_per_sector(h, 512, &e) == 1 &&
      libewf_handle_set_media_size(h, size, &e) == 1 &&
      libewf_handle_set_compression_values(
          h, options.compress ? LIBEWF_COMPRESSION_FAST : LIBEWF_COMPRESSION_NONE, 0, &e) == 1;
  if (ok && options.segmentBytes)
    ok = libewf_handle_set_maximum_segment_size(h, options.segmentBytes, &e) == 1;
  std::vector<char> buffer(1 << 20);
  while (ok && in) {
    in.read(buffer.data(), std::streamsize(buffer.size()));
    const auto n = size_t(in.gcount());
    if (n && libewf_handle_write_buffer(h, buffer.data(), n, &e) != ssize_t(n)) ok = false;
  }
  if (ok) {
    const std::string md5 = options.storedMd5.empty() ? FileMd5(rawPath) : options.storedMd5;
    ok = libewf_handle_set_utf8_hash_value(h, reinterpret_cast<const uint8_t *>("MD5"), 3,
                                           reinterpret_cast<const uint8_t *>(md5.data()),
                                           md5.size(), &e) == 1;
    if (ok && options.storeSha1) {
      const std::string sha1 = FileSha1(rawPath);
      ok = libewf_handle_set_utf8_hash_value(h, reinterpret_cast<const uint8_t *>("SHA1"), 4,
                                             reinterpret_cast<const uint8_t *>(sha1.data()),
                                             sha1.size(), &e) == 1;
    }
  }
  if (ok) ok = libewf_handle_write_finalize(h, &e) >= 0;
  if (!ok) *error = Describe(e);
  libewf_handle_close(h, &e);
  if (e) libewf_error_free(&e);
  libewf_handle_free(&h, &e);
  if (e) libewf_error_free(&e);
  if (!ok) return {};
  std::vector<std::string> segments;
  for (std::string name = base + ".E01"; std::filesystem::exists(name);) {
    segments.push_back(name);
    const size_t n = segments.size() + 1;
    if (n > 99) break;
    name = base + ".E" + char('0' + n / 10) + char('0' + n % 10);
  }
  return segments;
}

}  // namespace orvan::test
