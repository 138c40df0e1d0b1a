// The one way this program creates an output file (snapshots, bitmaps, AVI
// files, clips, disk images, exports).
//
// It refuses, with a message that names both files:
//   - a path that is a source the process has open (platform/source_registry.h),
//     whether named directly or through a symbolic or hard link;
//   - a device node, FIFO, socket or folder;
//   - an existing file, unless replacing was allowed.
// The bytes go into a temporary file beside the final one; Commit() makes
// them durable and renames the temporary into place. A write that fails or
// is abandoned removes the temporary and leaves any existing file as it was,
// so the final name never holds half a file. Without permission to replace,
// the rename itself refuses an existing name (RENAME_NOREPLACE, or link()
// where the file system lacks it), so a file that appears between the check
// and the commit is never clobbered.
//
// Writing starts the disk's writeback of every megabyte appended while the
// rest is still being produced, so the sync in Commit() waits for little
// more than the last megabyte.
//
// On request it computes the SHA-256 of what it writes, as it writes it, so
// the digest of an export is never taken by reading the file back. The
// digest runs on a thread of its own (BackgroundSha256) beside the writing.
//
// Threads: an OutputFile is used by one thread at a time (its digest's
// worker only ever sees copies of the bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/digest.h"

namespace orvan::platform {

enum class ReplacePolicy {
  kKeepExisting,     // an existing file is refused
  kReplaceExisting,  // an existing regular file is replaced on commit
};

// The folders of a group of files committed together: each file is synced
// at its own commit, and the folders that received their names are synced
// once, after the last rename, instead of once a file.
class FolderSyncs {
 public:
  // Notes the folder that holds `file`.
  void Add(const std::string &file);
  // Syncs every folder noted, once each, and forgets them. Best effort, as
  // a single commit's folder sync: the files themselves are durable already.
  void SyncAll();
  ~FolderSyncs() { SyncAll(); }

 private:
  std::vector<std::string> m_folders;
};

enum class OutputStatus {
  kOk,
  kIsSource,  // the path is a source being read
  kNotAFile,  // a device, FIFO, socket, folder or broken link
  kExists,    // a file is there and replacing was not allowed
  kFailed,    // the operating system refused (no folder, no rights, disk full ...)
};

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile &) = delete;
  OutputFile &operator=(const OutputFile &) = delete;

  // Checks `path` and creates the temporary beside it. False, with the
  // reason in Status() and Error(), when refused or failed.
  bool Create(const std::string &path, ReplacePolicy policy);
  bool IsOpen() const { return m_fd >= 0; }

  // Digests the bytes as they are written. Call after Create() and before
  // the first write. The digest covers a file written front to back: a
  // write anywhere but at its end (WriteAt elsewhere, Write after a Seek
  // back, SetSize) makes it unavailable rather than wrong, unless
  // readBackWhenRewritten: the finished file is then read back and digested
  // at Commit(), after it was made durable and before it is put in place.
  void ComputeSha256(bool readBackWhenRewritten = false);
  // Digests the finished file at Commit() (read back after the sync, before
  // it is put in place), for a file its writer is known to write again in
  // places (a muxer filling in its head last): no running digest is spent.
  void ComputeSha256AtCommit();
  // After Commit(): the digest of the file put in place. False when none
  // was asked for, or it became unavailable.
  bool Sha256Of(Sha256Digest &digest) const;
  // Bytes the file holds (the end of what was appended).
  uint64_t WrittenBytes() const { return m_end; }

  // Appends at the current position.
  bool Write(const void *data, size_t length);
  bool WriteAt(uint64_t offset, const void *data, size_t length);
  // lseek() semantics on the temporary; -1 on failure.
  int64_t Seek(int64_t offset, int whence);
  int64_t SizeBytes() const;
  bool SetSize(uint64_t bytes);

  // Starts writing back everything written so far, without waiting: called
  // on each file of a group before the first is committed, the group's
  // syncs overlap instead of following one another.
  void StartWriteback();
  // Makes the file durable and puts it in place under the final name. False
  // (and the temporary removed) when a write had failed, or syncing or the
  // rename failed, or the final name was refused meanwhile. With `later`,
  // the rename is made durable by its SyncAll() instead of here.
  bool Commit(FolderSyncs *later = nullptr);
  // Removes the temporary; the final name is left as it was. No effect
  // after Commit().
  void Abandon();

  // The final name as given, and the file actually replaced when it was a
  // link.
  const std::string &Path() const { return m_path; }
  OutputStatus Status() const { return m_status; }
  // Text for the user about the last refusal or failure.
  const std::string &Error() const { return m_error; }

 private:
  bool Fail(OutputStatus status, const std::string &text);
  // Writes all `length` bytes: at the current position when `offset` is
  // negative, else at `offset` (which the caller has checked).
  bool WriteAll(const void *data, size_t length, int64_t offset);
  // Keeps the digest and the file's end up to date for `length` bytes
  // written at `offset`.
  void Written(uint64_t offset, const void *data, size_t length);
  // Starts the writeback of [from, to) without waiting for it.
  void Writeback(uint64_t from, uint64_t to);

  int m_fd = -1;
  uint64_t m_position = 0;                  // of the descriptor, for Write()
  uint64_t m_end = 0;                       // the file's length
  uint64_t m_writtenBack = 0;               // writeback started up to here
  std::unique_ptr<BackgroundSha256> m_sha;  // while the digest is still the file's
  bool m_hasDigest = false;
  bool m_digestWanted = false;  // a digest was asked for
  bool m_readBack = false;      // digest the finished file when bytes were rewritten
  bool m_rewritten = false;     // bytes inside the file were written again
  Sha256Digest m_digest{};
  bool m_writeFailed = false;
  ReplacePolicy m_policy = ReplacePolicy::kKeepExisting;
  std::string m_path;    // as the caller named it
  std::string m_target;  // where it goes: m_path, or what the link names
  std::string m_temporary;
  OutputStatus m_status = OutputStatus::kOk;
  std::string m_error;
};

// What Create() would say about `path` now, without creating anything: for
// a refusal before long work (a whole play before the snapshot).
OutputStatus CheckOutputPath(const std::string &path, ReplacePolicy policy, std::string *error);

// A whole file in one step.
bool WriteOutputFile(const std::string &path, const void *data, size_t length, ReplacePolicy policy,
                     std::string *error);

}  // namespace orvan::platform
