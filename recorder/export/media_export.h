// Export of a span into standard media files, one per channel that has
// pictures in it: NAME_CH1.mkv ... (Matroska) or NAME_CH1.mp4 ... (MP4).
//
// The recorded pictures go in byte for byte, from the channel's last key
// picture at or before the asked start (recorder/export/span_plan.h), so every
// picture of the asked span decodes: MPEG-4 Part 2 with its stream headers
// in the codec configuration, MJPEG as recorded. Each packet's time is the
// entry's time on the recording's clock (recorder/export/span_reader.h) counted
// from the file's first picture, so pauses and changing picture rates
// survive. Where the asked span begins is a chapter in Matroska, and in the
// manifest for both formats.
//
// The channel's audio is one continuous stream (media/audio_timeline.h),
// anchored again only where the index says recording paused: as PCM (16-bit
// stereo, 16 kHz) in Matroska, encoded as AAC in MP4 (its only re-encoded
// part). A text track gives every picture's recorder date and time, to the
// millisecond, from the picture until the next. The title names the channel
// and its span. Matroska files carry a cue for every key picture, so players
// seek in them without reading them through.
//
// Records that are not what their entry says (a picture without a picture
// start, audio that is not whole stereo samples, unknown types) are left out
// and counted. Files get their SHA-256 computed as they are written.
//
// Threads: used by the copy thread (or a command's thread) only.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "media/audio_timeline.h"
#include "media/recorded_stream.h"
#include "recorder/export/export_sink.h"
#include "recorder/export/span_plan.h"

namespace orvan::recorder {

// The placement rules of one channel's media file, without the file: where
// each of its entries lands, or why it does not. The export uses it to
// write; the frames table of a span uses it to say where an export puts
// each entry.
class ChannelTimeline {
 public:
  ChannelTimeline(const SpanPlan::Channel &plan, uint32_t askedStartSeconds);

  // A picture entry. On the first one written, Format() tells the file's
  // video format.
  Placement Picture(const SpanEntry &s);
  // An audio entry; lastPictureMs: the time of the last picture entry (of
  // any channel) in front of it in the index.
  Placement Audio(const SpanEntry &s, int64_t lastPictureMs);

  bool Started() const { return m_started; }
  bool Mjpeg() const { return m_format.mjpeg; }
  const media::RecordedVideoFormat &Format() const { return m_format; }
  int64_t FirstMs() const { return m_firstMs; }  // the file's 0 on the recording's clock
  int64_t Pictures() const { return m_pictures; }
  // The last picture's time in the file, in milliseconds.
  int64_t LastPicturePts() const { return m_lastPts; }
  int64_t LeadInPictures() const { return m_leadIn; }
  const media::AudioTimeline &AudioLine() const { return m_audio; }
  // Of the last audio block placed.
  int64_t AudioSample() const { return m_audioSample; }
  int64_t AudioFrames() const { return m_audioFrames; }

 private:
  // Where an entry in front of the file's first picture goes.
  Placement::Kind NotYet(bool asked) const;

  const SpanPlan::Channel m_plan;
  const int64_t m_askedStartMs;
  media::RecordedVideoFormat m_format;
  bool m_started = false;
  int64_t m_firstMs = 0;
  int64_t m_pictures = 0;
  int64_t m_lastPts = 0;
  int64_t m_leadIn = 0;
  media::AudioTimeline m_audio;
  int64_t m_audioSample = 0;
  int64_t m_audioFrames = 0;
};

class MediaExportSink final : public IExportSink {
 public:
  // path: NAME.mkv or NAME.mp4, as chosen. channelMask: bit c exports
  // channel c (0..3).
  MediaExportSink(ExportFormat format, std::string path, unsigned channelMask,
                  platform::ReplacePolicy policy, const SpanPlan &plan, uint32_t askedStartSeconds);
  ~MediaExportSink() override;

  bool Take(const SpanEntry &entry) override;
  const Placement &LastPlacement() const override { return m_placement; }
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
  const std::array<SpanPlan::Channel, 4> m_planChannels;
  const uint32_t m_askedStartSeconds;
  std::array<std::unique_ptr<ChannelWriter>, 4> m_writers;
  int64_t m_lastPictureMs = -1;  // of any channel, for the audio behind it
  ExportStatistics m_statistics;
  Placement m_placement;
  std::vector<ExportedFile> m_files;
  uint64_t m_corrupt = 0;
  std::string m_error;
};

}  // namespace orvan::recorder
