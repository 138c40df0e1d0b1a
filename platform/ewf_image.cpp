#include "platform/ewf_image.h"

#include <sys/stat.h>
#include <unistd.h>

#include <libewf.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "platform/log.h"

namespace orvan::platform {

namespace {

constexpr uint8_t kEwf1Signature[8] = {'E', 'V', 'F', 0x09, 0x0D, 0x0A, 0xFF, 0x00};
constexpr uint8_t kEwf2Signature[8] = {'E', 'V', 'F', '2', 0x0D, 0x0A, 0x81, 0x00};
constexpr uint8_t kLogical1Signature[8] = {'L', 'V', 'F', 0x09, 0x0D, 0x0A, 0xFF, 0x00};
constexpr uint8_t kLogical2Signature[8] = {'L', 'E', 'F', '2', 0x0D, 0x0A, 0x81, 0x00};

// EWF1 segment layout: a 13-byte file header (signature, one byte, the
// segment number as u16 at 9, two bytes), then sections, each starting with
// a 76-byte descriptor: type (16 bytes, zero-padded), the offset of the next
// section (u64 at 16), the section's size (u64 at 24), padding, checksum.
constexpr size_t kFileHeaderBytes = 13;
constexpr size_t kSectionDescriptorBytes = 76;

uint64_t LittleEndian(const uint8_t *p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

bool ReadExactly(int fd, void *buffer, size_t length, uint64_t offset) {
  auto *out = static_cast<uint8_t *>(buffer);
  size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd, out + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

// One line of a libewf error, which it then frees.
std::string TakeError(libewf_error_t *&error) {
  if (!error) return "unknown error";
  char text[512] = {};
  libewf_error_sprint(error, text, sizeof text);
  libewf_error_free(&error);
  std::string line = text;
  if (const auto nl = line.find('\n'); nl != std::string::npos) line.resize(nl);
  return line.empty() ? "unknown error" : line;
}

std::string Lower(std::string text) {
  for (char &c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The hash libewf keeps under `id` ("MD5", "SHA1"), as lower-case hex.
std::string StoredHash(libewf_handle_t *handle, const char *id) {
  uint8_t value[129] = {};
  libewf_error_t *error = nullptr;
  const int found =
      libewf_handle_get_utf8_hash_value(handle, reinterpret_cast<const uint8_t *>(id),
                                        std::strlen(id), value, sizeof value - 1, &error);
  if (found != 1) {
    if (error) libewf_error_free(&error);
    return {};
  }
  std::string hex = Lower(reinterpret_cast<const char *>(value));
  const bool isHex = !hex.empty() && std::all_of(hex.begin(), hex.end(), [](char c) {
    return std::isxdigit(static_cast<unsigned char>(c));
  });
  return isHex ? hex : std::string();
}

// The names of the set `path` belongs to, as libewf's naming scheme finds
// them beside it: case.E01, case.E02, ... up to the first that does not
// exist. Just the path, and *byScheme false, when its extension follows no
// scheme.
std::vector<std::string> GlobSegments(const std::string &path, bool *byScheme) {
  std::vector<std::string> names;
  char **found = nullptr;
  int count = 0;
  libewf_error_t *error = nullptr;
  if (libewf_glob(path.c_str(), path.size(), LIBEWF_FORMAT_UNKNOWN, &found, &count, &error) == 1) {
    for (int i = 0; i < count; ++i)
      if (found[i]) names.emplace_back(found[i]);
    libewf_glob_free(found, count, &error);
  }
  if (error) libewf_error_free(&error);
  *byScheme = !names.empty();
  if (names.empty()) names.push_back(path);
  return names;
}

}  // namespace

EwfFileKind EwfKindOf(const uint8_t *bytes, size_t size) {
  if (size < 8) return EwfFileKind::kNone;
  if (!std::memcmp(bytes, kEwf1Signature, 8) || !std::memcmp(bytes, kEwf2Signature, 8))
    return EwfFileKind::kImage;
  if (!std::memcmp(bytes, kLogical1Signature, 8) || !std::memcmp(bytes, kLogical2Signature, 8))
    return EwfFileKind::kLogical;
  return EwfFileKind::kNone;
}

std::string LibewfVersion() {
  const char *version = libewf_get_version();
  return version ? version : "";
}

std::string NextEwfSegmentName(const std::string &name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.size() - dot != 4) return {};
  if (name.find('/', dot) != std::string::npos) return {};
  std::string ext = name.substr(dot + 1);
  const bool lower = std::islower(static_cast<unsigned char>(ext[0]));
  const char a = lower ? 'a' : 'A';
  const char z = lower ? 'z' : 'Z';
  if (ext[0] < a + ('E' - 'A') || ext[0] > z) return {};
  if (std::isdigit(static_cast<unsigned char>(ext[1])) &&
      std::isdigit(static_cast<unsigned char>(ext[2]))) {
    const int n = (ext[1] - '0') * 10 + (ext[2] - '0');
    if (n == 0) return {};
    if (n < 99) {
      ext[1] = char('0' + (n + 1) / 10);
      ext[2] = char('0' + (n + 1) % 10);
    } else {
      ext[1] = a;
      ext[2] = a;
    }
    return name.substr(0, dot + 1) + ext;
  }
  for (int i = 1; i < 3; ++i)
    if (ext[i] < a || ext[i] > z) return {};
  for (int i = 2; i >= 0; --i) {
    if (ext[i] < z) {
      ++ext[i];
      return name.substr(0, dot + 1) + ext;
    }
    ext[i] = a;
  }
  return {};  // past .ZZZ
}

EwfSegmentInfo WalkEwfSegment(int fd) {
  EwfSegmentInfo info;
  struct stat st {};
  uint8_t header[kFileHeaderBytes];
  if (fstat(fd, &st) != 0 || !ReadExactly(fd, header, sizeof header, 0)) {
    info.end = EwfSegmentEnd::kBroken;
    return info;
  }
  if (std::memcmp(header, kEwf1Signature, 8) && std::memcmp(header, kLogical1Signature, 8))
    return info;  // EWF2, or not EWF at all: unknown here
  info.number = uint32_t(LittleEndian(header + 9, 2));
  const uint64_t size = uint64_t(st.st_size);
  uint64_t offset = kFileHeaderBytes;
  // Every section starts behind the previous one's descriptor, so the walk
  // ends within size / 76 steps.
  while (true) {
    uint8_t d[kSectionDescriptorBytes];
    if (offset > size || size - offset < kSectionDescriptorBytes ||
        !ReadExactly(fd, d, sizeof d, offset)) {
      info.end = EwfSegmentEnd::kBroken;
      return info;
    }
    const std::string type(reinterpret_cast<const char *>(d),
                           strnlen(reinterpret_cast<const char *>(d), 16));
    if (type == "done") {
      info.end = EwfSegmentEnd::kDone;
      return info;
    }
    if (type == "next") {
      info.end = EwfSegmentEnd::kNext;
      return info;
    }
    const uint64_t next = LittleEndian(d + 16, 8);
    if (next < offset + kSectionDescriptorBytes) {
      info.end = EwfSegmentEnd::kBroken;
      return info;
    }
    offset = next;
  }
}

struct EwfImage::Handle {
  libewf_handle_t *handle = nullptr;
  bool open = false;
  ~Handle() {
    libewf_error_t *error = nullptr;
    if (open) libewf_handle_close(handle, &error);
    if (error) libewf_error_free(&error);
    if (handle) libewf_handle_free(&handle, &error);
    if (error) libewf_error_free(&error);
  }
};

EwfImage::~EwfImage() {
  m_handle.reset();  // libewf closes its files before the ones opened here
  m_registrations.clear();
  for (const int fd : m_fds) ::close(fd);
}

std::unique_ptr<EwfImage> EwfImage::Open(const std::string &path, std::string *error) {
  auto fail = [&](const std::string &text) {
    if (error) *error = text;
    ORVAN_LOG_INFO("ewf", "%s", text.c_str());
    return nullptr;
  };
  std::unique_ptr<EwfImage> image(new EwfImage);
  bool byScheme = false;
  const std::vector<std::string> names = GlobSegments(path, &byScheme);
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string &name = names[i];
    const SourceOpenResult opened = OpenSource(name, SourceKind::kFile);
    if (opened.fd < 0) {
      if (opened.wrongKind) return fail("Segment file " + name + " is not a regular file");
      return fail("Cannot open segment file " + name + ": " + std::strerror(opened.error));
    }
    image->m_fds.push_back(opened.fd);
    image->m_paths.push_back(name);
    image->m_registrations.push_back(RegisterSource(opened.fd, name));
    uint8_t signature[8] = {};
    const bool whole = ReadExactly(opened.fd, signature, sizeof signature, 0);
    if (whole && EwfKindOf(signature, sizeof signature) != EwfFileKind::kImage)
      return fail(name + " is not a segment file of an E01 image");
    const EwfSegmentInfo segment = WalkEwfSegment(opened.fd);
    if (!whole || segment.end == EwfSegmentEnd::kBroken)
      return fail("Segment file " + name + " is cut short or damaged");
    if (segment.end != EwfSegmentEnd::kUnknown && segment.number != i + 1)
      return fail("Segment file " + name + " says it is segment " + std::to_string(segment.number) +
                  ", not segment " + std::to_string(i + 1) + " of its image");
    if (segment.end == EwfSegmentEnd::kDone) {
      if (i + 1 < names.size())
        ORVAN_LOG_WARN("ewf", "%s ends its image; %s and what follows are not part of it",
                       name.c_str(), names[i + 1].c_str());
      break;
    }
    if (segment.end == EwfSegmentEnd::kNext && i + 1 == names.size()) {
      const std::string missing = byScheme ? NextEwfSegmentName(name) : std::string();
      if (missing.empty())
        return fail("The image " + path + " goes on beyond " + name +
                    ", but its next segment file cannot be named: name the first segment "
                    "case.E01 and keep the others beside it");
      return fail("Segment file " + missing + " is missing: the image " + path +
                  " goes on beyond " + name);
    }
  }

  // libewf reads the files opened above, whatever their names now point to.
  std::vector<std::string> fdNames;
  for (const int fd : image->m_fds) fdNames.push_back("/proc/self/fd/" + std::to_string(fd));
  std::vector<char *> fdNamePointers;
  for (std::string &n : fdNames) fdNamePointers.push_back(n.data());

  image->m_handle = std::make_unique<Handle>();
  libewf_error_t *ewfError = nullptr;
  if (libewf_handle_initialize(&image->m_handle->handle, &ewfError) != 1)
    return fail("Cannot open the image " + path + ": " + TakeError(ewfError));
  libewf_handle_t *h = image->m_handle->handle;
  if (libewf_handle_open(h, fdNamePointers.data(), int(fdNamePointers.size()), LIBEWF_OPEN_READ,
                         &ewfError) != 1)
    return fail("Cannot open the image " + path + ": " + TakeError(ewfError));
  image->m_handle->open = true;
  if (libewf_handle_segment_files_corrupted(h, &ewfError) != 0)
    return fail("The segment files of " + path + " are damaged or incomplete");
  size64_t media = 0;
  if (libewf_handle_get_media_size(h, &media, &ewfError) != 1)
    return fail("Cannot read the size of the image " + path + ": " + TakeError(ewfError));
  // A damaged chunk reads as zeros inside libewf; ReadAt refuses it anyway.
  if (libewf_handle_set_read_zero_chunk_on_error(h, 1, &ewfError) != 1 && ewfError)
    libewf_error_free(&ewfError);
  image->m_mediaBytes = media;
  image->m_storedMd5 = StoredHash(h, "MD5");
  image->m_storedSha1 = StoredHash(h, "SHA1");
  return image;
}

void EwfImage::RefreshDamage() {
  libewf_handle_t *h = m_handle->handle;
  libewf_error_t *error = nullptr;
  uint32_t count = 0;
  if (libewf_handle_get_number_of_checksum_errors(h, &count, &error) != 1) {
    if (error) libewf_error_free(&error);
    return;
  }
  if (count == m_damageCount) return;
  uint32_t sectorBytes = 512;
  if (libewf_handle_get_bytes_per_sector(h, &sectorBytes, &error) != 1 || sectorBytes == 0) {
    if (error) libewf_error_free(&error);
    sectorBytes = 512;
  }
  m_damage.clear();
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t firstSector = 0, sectors = 0;
    if (libewf_handle_get_checksum_error(h, i, &firstSector, &sectors, &error) != 1) {
      if (error) libewf_error_free(&error);
      continue;
    }
    if (firstSector > UINT64_MAX / sectorBytes) continue;
    const uint64_t first = firstSector * sectorBytes;
    const uint64_t length =
        sectors > (UINT64_MAX - first) / sectorBytes ? UINT64_MAX - first : sectors * sectorBytes;
    m_damage.push_back(Damage{first, first + length});
  }
  std::sort(m_damage.begin(), m_damage.end(),
            [](const Damage &a, const Damage &b) { return a.first < b.first; });
  m_damageCount = count;
}

std::string EwfImage::SegmentAt(uint64_t offset) {
  libewf_handle_t *h = m_handle->handle;
  libewf_error_t *error = nullptr;
  char name[64] = {};
  if (libewf_handle_seek_offset(h, off64_t(offset), SEEK_SET, &error) >= 0 &&
      libewf_handle_get_filename(h, name, sizeof name, &error) == 1) {
    const std::string text = name;
    const std::string prefix = "/proc/self/fd/";
    if (text.rfind(prefix, 0) == 0) {
      const std::string digits = text.substr(prefix.size());
      for (size_t i = 0; i < m_fds.size(); ++i)
        if (digits == std::to_string(m_fds[i])) return m_paths[i];
    }
  }
  if (error) libewf_error_free(&error);
  return m_paths.empty() ? std::string() : m_paths.front();
}

bool EwfImage::ReadAt(uint64_t offset, void *buffer, size_t length, size_t *got,
                      std::string *error) {
  if (got) *got = 0;
  if (offset >= m_mediaBytes || offset > uint64_t(INT64_MAX)) return length == 0;
  libewf_handle_t *h = m_handle->handle;
  libewf_error_t *ewfError = nullptr;
  if (libewf_handle_seek_offset(h, off64_t(offset), SEEK_SET, &ewfError) < 0) {
    if (error) *error = "Cannot seek in " + SegmentAt(offset) + ": " + TakeError(ewfError);
    return false;
  }
  auto *out = static_cast<uint8_t *>(buffer);
  size_t done = 0;
  bool failed = false;
  while (done < length) {
    const ssize_t n = libewf_handle_read_buffer(h, out + done, length - done, &ewfError);
    if (n < 0) {
      failed = true;
      break;
    }
    if (n == 0) break;  // the end of the disk
    done += size_t(n);
  }
  RefreshDamage();
  // Bytes of a chunk that failed its checksum are never handed out.
  const uint64_t end = offset + done;
  const auto after = std::upper_bound(m_damage.begin(), m_damage.end(), offset,
                                      [](uint64_t at, const Damage &d) { return at < d.first; });
  uint64_t firstBad = end;
  if (after != m_damage.begin() && std::prev(after)->end > offset) firstBad = offset;
  if (after != m_damage.end() && after->first < firstBad) firstBad = after->first;
  if (firstBad < end) {
    if (got) *got = size_t(firstBad - offset);
    if (error)
      *error = "Damaged data in " + SegmentAt(firstBad) + ": the chunk holding byte " +
               std::to_string(firstBad) + " of the disk fails its checksum";
    if (ewfError) libewf_error_free(&ewfError);
    return false;
  }
  if (got) *got = done;
  if (failed) {
    if (error)
      *error = "Read error in " + SegmentAt(offset + done) + ": " + TakeError(ewfError);
    else if (ewfError)
      libewf_error_free(&ewfError);
    return false;
  }
  return done == length;
}

}  // namespace orvan::platform
