// Clip files: an index file (".in") of index entries followed by a
// 12-byte trailer, and a data file (".da") with the entries' data records
// back to back.
//
// Reading takes every size, count and offset from the file only after
// checking it. Writing goes through platform/output_file.h, so it never
// lands on a source being read.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/careful_read.h"
#include "platform/disk_source.h"
#include "platform/fd_device.h"
#include "platform/output_file.h"
#include "platform/source_registry.h"
#include "platform/wintime.h"
#include "recorder/layout/disk_layout.h"

namespace orvan::recorder {

constexpr uint32_t kClipMagicSingle = 0x12345678;       // one channel: layout 1
constexpr uint32_t kClipMagicInterleaved = 0x87654321;  // channels interleave: layout 0
constexpr uint64_t kClipTrailerSearchBytes = 2048;
extern const char kClipTooShortText[];     // "The file too short to play video."
extern const char kClipTooShortCaption[];  // "Alarm"

enum class ClipStatus {
  Ok,
  TooShort,   // index file under 2048 bytes
  NoMagic,    // no magic value among the last 512 words
  BadCount,   // magic values found, none followed by the count of its place
  ReadError,  // the file could not be opened or read
};

struct ClipTrailer {
  uint32_t magic = 0;
  uint32_t count = 0;  // entries in the index file
  int layout = 0;      // 1 for kClipMagicSingle, 0 for kClipMagicInterleaved
  uint64_t countOffset = 0;
};

inline int LayoutOfMagic(uint32_t magic) { return magic == kClipMagicSingle ? 1 : 0; }
inline uint32_t MagicOfLayout(int layout) {
  return layout == 1 ? kClipMagicSingle : kClipMagicInterleaved;
}

// The trailer search over the last 2048 bytes of an index file of
// `fileSize` bytes. Words are tried first to last; a magic value whose next
// word is not the count of entries in front of it is passed over and the
// search goes on, so an entry that happens to hold a magic value never
// hides the real trailer.
ClipStatus ParseClipTrailer(uint64_t fileSize, std::span<const uint8_t> lastBytes,
                            ClipTrailer &trailer);

// The data file's name: the index file's name cut at its first ".in"
// (case-sensitive; nothing cut when there is none) plus ".da", in the index
// file's folder.
std::string CompanionDataName(const std::string &indexPath);
// "%d%.2d%.2d_%.2d%.2d%.2d.in" of a start time.
std::string DefaultClipName(const SYSTEMTIME &start);

// A clip opened for reading (both files read-only). Reads are positional,
// so the reader keeps no file position; one thread at a time. They follow
// the damage rules of platform/careful_read.h, as a disk's do: a bad sector
// of the index file costs the entries it holds, one of the data file the
// records in it, and a drive that went away (a pulled stick) is told.
// Interrupt() and Gone() from any thread.
class CClipReader {
 public:
  CClipReader() = default;
  ~CClipReader();
  CClipReader(const CClipReader &) = delete;
  CClipReader &operator=(const CClipReader &) = delete;

  // Opens the index file and its companion data file, regular files only
  // (never waiting on a FIFO). False unless both opened; LastError() says
  // why. Both stay registered as sources while open.
  bool Open(const std::string &indexPath);
  bool OpenIndexOnly(const std::string &indexPath);
  void Close();
  const std::string &LastError() const { return m_lastError; }

  uint64_t IndexFileBytes() const { return m_indexBytes; }
  uint64_t DataFileBytes() const;
  ClipStatus ReadClipTrailer(ClipTrailer &trailer) const;
  // Entry k at byte 20 x k.
  bool ReadEntry(uint64_t k, IndexEntry &entry) const;
  // The entry's data at byte offset - baseOffset of the data file: `size`
  // bytes into buffer (kMaxRecordBytes long). False for records larger than
  // the buffer, offsets before the base, or a short read.
  bool ReadRecord(const IndexEntry &entry, uint64_t baseOffset, uint8_t *buffer) const;
  // The same two reads, saying how they ended (kInvalid: a place the clip
  // cannot have; kEnded: beyond the end of its file).
  RecordRead ReadEntryChecked(uint64_t k, IndexEntry &entry) const;
  RecordRead ReadRecordChecked(const IndexEntry &entry, uint64_t baseOffset, uint8_t *buffer) const;
  // True once either file's drive stopped answering.
  bool Gone() const { return m_indexReader.Gone() || m_dataReader.Gone(); }
  // Any thread: reads in progress give up, and later ones too.
  void Interrupt() const {
    m_indexReader.Interrupt();
    m_dataReader.Interrupt();
  }
  void ClearInterrupt() const {
    m_indexReader.ClearInterrupt();
    m_dataReader.ClearInterrupt();
  }

 private:
  bool OpenPart(const std::string &path, int &fd, platform::SourceRegistration &registration,
                std::unique_ptr<platform::FdDevice> &device, platform::CarefulReader &reader);

  int m_index = -1;  // the devices' descriptors, for fstat
  int m_data = -1;
  std::unique_ptr<platform::FdDevice> m_indexDevice;
  std::unique_ptr<platform::FdDevice> m_dataDevice;
  mutable platform::CarefulReader m_indexReader;
  mutable platform::CarefulReader m_dataReader;
  uint64_t m_indexBytes = 0;
  std::string m_lastError;
  platform::SourceRegistration m_indexRegistration;
  platform::SourceRegistration m_dataRegistration;
};

// Why an open clip cannot be played, naming its index file; empty when it
// can: its trailer found with a matching count, at least one entry, and
// its first and last entries readable. `unreadable`, when given, is set
// when the index file could not be read at all (an I/O error, not a
// refused clip).
std::string ClipRefusal(const CClipReader &clip, const std::string &indexPath,
                        bool *unreadable = nullptr);

// Writes a clip: entries with their records, then the trailer. Writes are
// gathered into large pieces. Both files are written beside their final
// names (platform/output_file.h) and put in place together by Close(); a
// writer abandoned, failed or destroyed before that leaves no clip behind
// and any existing files as they were. The SHA-256 of each file is computed
// as it is written.
class CClipWriter {
 public:
  CClipWriter() = default;
  ~CClipWriter() { Abandon(); }
  CClipWriter(const CClipWriter &) = delete;
  CClipWriter &operator=(const CClipWriter &) = delete;

  // Prepares the index file and its companion data file. Refuses sources
  // being read, devices, FIFOs and folders, and existing files unless the
  // policy replaces them; both names are checked before either is made.
  // False unless both can be written; *error says why.
  bool Create(const std::string &indexPath, platform::ReplacePolicy policy, std::string *error);
  bool IsOpen() const { return m_index.IsOpen(); }
  const std::string &DataPath() const { return m_dataPath; }

  // The data record (entry.size bytes), then the 20 entry bytes. False
  // when writing failed (a full disk, for instance).
  bool WriteEntry(const IndexEntry &entry, const uint8_t *data);
  // Puts out the entries, then the magic, the count and 4 reserved zero
  // bytes.
  bool WriteTrailer(uint32_t magic, uint32_t count);
  // Puts out what is gathered and puts both files in place, the data file
  // first. False, and no clip left behind, when a write or the commit
  // failed; *error (if given) says why. `later` as for
  // OutputFile::Commit().
  bool Close(std::string *error = nullptr, platform::FolderSyncs *later = nullptr);
  // Drops both files unfinished.
  void Abandon();
  // After a successful Close(): the files put in place, for their length
  // and digest.
  const platform::OutputFile &IndexFile() const { return m_index; }
  const platform::OutputFile &DataFile() const { return m_data; }

 private:
  bool Flush();

  static constexpr size_t kGatherBytes = 1 << 20;
  platform::OutputFile m_index;
  platform::OutputFile m_data;
  std::string m_dataPath;
  platform::ReplacePolicy m_policy = platform::ReplacePolicy::kKeepExisting;
  std::vector<uint8_t> m_indexPending;
  std::vector<uint8_t> m_dataPending;
  bool m_failed = false;
};

}  // namespace orvan::recorder
