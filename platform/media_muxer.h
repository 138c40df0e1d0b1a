// A file of coded streams written by one of libavformat's muxers (Matroska,
// MP4) into a streaming MuxerOutput (platform/muxer_output.h): front to back,
// as into a pipe, with the file's SHA-256 computed as the bytes go out, and
// the file in place under its name only once it was finished whole.
//
// The formats are written differently: Matroska with its index of key
// pictures (Cues) behind the clusters, which the muxer then points to from
// the file's head, so its digest is taken again from the finished file
// (platform/output_file.h); MP4 as a fragmented file (an empty movie header,
// then one fragment per key picture), streamed front to back, which players
// read like any other MP4.
//
// Packets are handed over in the order they are written and interleaved by
// libavformat. Threads: not thread-safe; one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/av_handles.h"
#include "platform/muxer_output.h"

namespace orvan::platform {

struct MuxStreamFormat {
  AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
  AVCodecID codec = AV_CODEC_ID_NONE;
  AVRational timeBase{1, 1000};                        // of the times handed to Write()
  int width = 0, height = 0;                           // video
  int sampleRate = 0, channels = 0, frameSamples = 0;  // audio
  std::vector<uint8_t> extradata;                      // codec headers, as the codec defines them
  std::string language;                                // ISO 639-2, "und" when empty
};

class MediaMuxer {
 public:
  MediaMuxer() = default;
  ~MediaMuxer() { Abandon(); }
  MediaMuxer(const MediaMuxer &) = delete;
  MediaMuxer &operator=(const MediaMuxer &) = delete;

  // format: a libavformat muxer name ("matroska", "mp4"). False, with
  // Error(), when the path is refused or the muxer cannot be made.
  bool Create(const std::string &path, ReplacePolicy policy, const char *format);
  // The index of the new stream, or -1.
  int AddStream(const MuxStreamFormat &format);
  // A tag of the file ("title", "creation_time" as ISO 8601, ...).
  void SetMetadata(const char *key, const std::string &value);
  // The file's length in time, for formats that write it in front.
  void SetDurationMs(int64_t ms);
  // A chapter from startMs to endMs of the file (formats that keep
  // chapters: Matroska). Before Start().
  void AddChapter(int64_t startMs, int64_t endMs, const std::string &title);
  // Writes the header: every stream is known now.
  bool Start();

  // One packet of `stream` at `pts` (in the stream's time base), lasting
  // `duration` (0: unknown). Times of a stream must rise.
  bool Write(int stream, int64_t pts, int64_t duration, const void *data, size_t length, bool key);
  // The same for a packet whose data is in place already (NewPacket()):
  // the muxer takes it over without copying it.
  bool Write(int stream, int64_t pts, int64_t duration, av::PacketPtr packet, bool key);
  // A packet holding a copy of `length` bytes (with libavcodec's padding),
  // or null when there is no memory for it.
  static av::PacketPtr NewPacket(const void *data, size_t length);

  // Writes the trailer and hands every byte to the file, which is not yet
  // in place. False, with Error(), when anything on the way failed.
  bool Finish();
  // After Finish(): puts the file in place. False, with Error(), when it
  // cannot be; there is then no file. `later` as for OutputFile::Commit().
  bool Commit(FolderSyncs *later = nullptr);
  void Abandon();

  bool IsOpen() const { return m_context != nullptr; }
  const std::string &Path() const { return m_output.Path(); }
  OutputStatus Status() const { return m_output.Status(); }
  // Text for the user naming the file.
  const std::string &Error() const { return m_error.empty() ? m_output.Error() : m_error; }
  // After Commit(): what was written.
  bool Sha256Of(Sha256Digest &digest) const { return m_output.Sha256Of(digest); }
  uint64_t SizeBytes() const { return m_output.WrittenBytes(); }

 private:
  bool Failed(const std::string &what, int code);

  MuxerOutput m_output;
  av::OutputFormatContextPtr m_context;
  std::vector<AVRational> m_timeBases;  // as handed to Write(), per stream
  bool m_started = false;
  bool m_failed = false;
  std::string m_error;
};

}  // namespace orvan::platform
