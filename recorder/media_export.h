// Export of a span into standard media files, one per channel that has
// pictures in it: NAME_CH1.mkv ... (Matroska) or NAME_CH1.mp4 ... (MP4).
//
// The recorded pictures go in byte for byte, from the channel's first key
// picture on: MPEG-4 Part 2 with its stream headers in the codec
// configuration, MJPEG as recorded. Each packet's time is the entry's time
// on the recording's clock (recorder/span_reader.h) counted from the file's
// first picture, so pauses and changing picture rates survive. The channel's
// audio blocks go in at their own times: as PCM (16-bit stereo, 16 kHz) in
// Matroska, encoded as AAC in MP4 (its only re-encoded part). A text track
// carries the recorder's date and time, one cue a second, and the title
// names the channel and its span.
//
// Records that are not what their entry says (a picture without a picture
// start, audio that is not whole stereo samples, unknown types) are left out
// and counted. Files are written front to back (platform/media_muxer.h) with
// their SHA-256 computed as they are written.
//
// Threads: used by the copy thread only.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "recorder/export_sink.h"

namespace orvan::recorder {

// What a look over the span's index finds per channel, before the copy:
// which files there will be, which carry audio, and how long they last.
struct MediaSpanPlan {
  struct Channel {
    int64_t firstKeyMs = -1;  // -1: no key picture, no file
    int64_t lastPictureMs = -1;
    int64_t pictures = 0;  // from the first key picture on
    int64_t lastAudioMs = -1;
    bool audio = false;  // audio blocks after the first key picture
  };
  std::array<Channel, 4> channels{};
};

// Reads the index of the span (no records) with the copy's own rules,
// until the end of the span or until `stop` holds.
MediaSpanPlan PlanMediaSpan(ByteSource &disk, const DiskGeometry &geometry, uint32_t startSeconds,
                            int64_t endSeconds, const std::function<bool()> &stop);

class MediaExportSink final : public IExportSink {
 public:
  // path: NAME.mkv or NAME.mp4, as chosen. channelMask: bit c exports
  // channel c (0..3).
  MediaExportSink(ExportFormat format, std::string path, unsigned channelMask,
                  platform::ReplacePolicy policy, const MediaSpanPlan &plan);
  ~MediaExportSink() override;

  bool Take(const SpanEntry &entry) override;
  bool Finish(int layout, platform::FolderSyncs &later) override;
  void Abandon() override;
  int64_t Written() const override;
  const std::vector<ExportedFile> &Files() const override { return m_files; }
  const ExportStatistics &Statistics() const override { return m_statistics; }
  std::vector<std::string> Notes() const override;
  const std::string &Error() const override { return m_error; }
  uint64_t CorruptRecords() const override { return m_corrupt; }

  class ChannelWriter;

 private:
  const ExportFormat m_format;
  const std::string m_path;
  const unsigned m_channelMask;
  const platform::ReplacePolicy m_policy;
  const MediaSpanPlan m_plan;
  std::array<std::unique_ptr<ChannelWriter>, 4> m_writers;
  ExportStatistics m_statistics;
  std::vector<ExportedFile> m_files;
  uint64_t m_corrupt = 0;
  std::string m_error;
};

}  // namespace orvan::recorder
