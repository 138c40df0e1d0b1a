// The file a libavformat muxer writes: an I/O context of our own over an
// OutputFile (platform/output_file.h), so a muxed file gets the same
// guarantees as every other output: never over a source, a device or (unless
// allowed) an existing file, and in place only once finished whole.
//
// Three kinds:
//   - seekable: the muxer may go back to fill in sizes and indexes (AVI);
//   - seekable with a digest: the same, and the file's SHA-256 is taken
//     from the finished file at the commit (Matroska fills in its head
//     last, so no running digest could follow it);
//   - streaming: the muxer writes front to back only, as it would into a
//     pipe, and the file's SHA-256 is computed as the bytes go out.
//
// Threads: used by one thread at a time, like the muxer it serves.
#pragma once

#include <memory>
#include <string>

#include "platform/output_file.h"

struct AVIOContext;

namespace orvan::platform {

class MuxerOutput {
 public:
  enum class Kind { kSeekable, kSeekableDigest, kStreaming };

  MuxerOutput() = default;
  ~MuxerOutput();
  MuxerOutput(const MuxerOutput &) = delete;
  MuxerOutput &operator=(const MuxerOutput &) = delete;

  // Creates the file's temporary and the I/O context. False, with
  // Status() and Error(), when the path is refused or nothing can be made.
  bool Create(const std::string &path, ReplacePolicy policy, Kind kind);
  // The muxer's pb; owned here, null before Create() and after the end.
  AVIOContext *Io() const { return m_io.get(); }

  // Hands what the context holds to the file and starts its writeback.
  // False when a write failed.
  bool Flush();
  // Flushes the context and puts the file in place. False (and no file)
  // when a write failed on the way or the commit failed. `later` as for
  // OutputFile::Commit().
  bool Commit(FolderSyncs *later = nullptr);
  // Drops the file; the final name is left as it was.
  void Abandon();

  bool IsOpen() const { return m_output.IsOpen(); }
  const std::string &Path() const { return m_output.Path(); }
  OutputStatus Status() const { return m_output.Status(); }
  const std::string &Error() const { return m_output.Error(); }
  // After Commit(), for an output with a digest: the file's digest and length.
  bool Sha256Of(Sha256Digest &digest) const { return m_output.Sha256Of(digest); }
  uint64_t WrittenBytes() const { return m_output.WrittenBytes(); }

 private:
  struct IoContextDeleter {
    void operator()(AVIOContext *io) const;
  };

  OutputFile m_output;
  std::unique_ptr<AVIOContext, IoContextDeleter> m_io;
};

}  // namespace orvan::platform
