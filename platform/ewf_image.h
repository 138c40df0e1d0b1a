// Expert Witness (E01) images of disks, read through libewf: a set of
// segment files (case.E01, case.E02, ...) holding the disk's bytes in
// compressed, checksummed chunks, with the acquisition's hash stored inside.
//
// Every segment is opened here, read-only, through OpenSource and
// registered as a source, so no output can land on any of them; libewf then
// reads the very files opened here (by their /proc/self/fd names), not
// whatever the names point to a moment later. A set that is incomplete or
// structurally damaged is refused at open with a message naming the segment
// file; a chunk whose checksum fails is found when it is read, and that read
// fails with a message naming its segment file.
//
// Threads: one image has one reader at a time (the DiskSource contract).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/source_registry.h"

namespace orvan::platform {

// What the first bytes of a file say it is.
enum class EwfFileKind {
  kNone,     // not an EWF file
  kImage,    // a segment of a disk image: EWF ("EVF") or EWF2 ("EVF2")
  kLogical,  // a logical evidence file (L01, Lx01): files, not a disk
};
EwfFileKind EwfKindOf(const uint8_t *bytes, size_t size);

// The segment name that follows `name` in the EnCase scheme: .E01 ... .E99,
// then .EAA ... .EZZ, .FAA ... .ZZZ (the case of the letters is kept). Empty
// when the name has no such extension or is the last one.
std::string NextEwfSegmentName(const std::string &name);

// The version of the libewf this program runs on ("20140816").
std::string LibewfVersion();

// How the section chain of one EWF segment file ends.
enum class EwfSegmentEnd {
  kDone,     // the last segment of its set
  kNext,     // another segment follows
  kBroken,   // cut short, or a section points outside the file or backwards
  kUnknown,  // not an EWF1 segment (EWF2 keeps its chain differently)
};
struct EwfSegmentInfo {
  EwfSegmentEnd end = EwfSegmentEnd::kUnknown;
  uint32_t number = 0;  // the segment number in its header (1 for .E01)
};
// Walks the sections of the segment file open on fd, bounded by its size.
// Reads only; never follows an offset outside the file.
EwfSegmentInfo WalkEwfSegment(int fd);

class EwfImage {
 public:
  // Opens the set `path` belongs to (its segments are found beside it).
  // Null, with *error naming the file at fault, when a segment is missing,
  // cut short or damaged, or libewf refuses the set.
  static std::unique_ptr<EwfImage> Open(const std::string &path, std::string *error);
  ~EwfImage();
  EwfImage(const EwfImage &) = delete;
  EwfImage &operator=(const EwfImage &) = delete;

  // Length of the imaged disk in bytes.
  uint64_t MediaBytes() const { return m_mediaBytes; }
  // The segment files, in order.
  const std::vector<std::string> &SegmentPaths() const { return m_paths; }

  // Reads length bytes of the disk at offset into buffer; *got receives the
  // count of good bytes from the start. False, with *error naming the
  // segment file, when the bytes run into a chunk that cannot be read or
  // fails its checksum; such bytes are never handed out.
  bool ReadAt(uint64_t offset, void *buffer, size_t length, size_t *got, std::string *error);

  // The hashes the image stores of the disk, lower-case hex; empty when the
  // image holds none.
  const std::string &StoredMd5() const { return m_storedMd5; }
  const std::string &StoredSha1() const { return m_storedSha1; }

 private:
  struct Damage {
    uint64_t first = 0;  // bytes
    uint64_t end = 0;
  };
  EwfImage() = default;
  void RefreshDamage();
  std::string SegmentAt(uint64_t offset);

  struct Handle;
  std::unique_ptr<Handle> m_handle;
  std::vector<int> m_fds;
  std::vector<std::string> m_paths;
  std::vector<SourceRegistration> m_registrations;
  uint64_t m_mediaBytes = 0;
  std::string m_storedMd5;
  std::string m_storedSha1;
  uint32_t m_damageCount = 0;    // checksum errors libewf had recorded when last looked at
  std::vector<Damage> m_damage;  // byte ranges of chunks that failed
};

}  // namespace orvan::platform
