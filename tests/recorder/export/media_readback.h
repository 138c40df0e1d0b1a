// Reading an exported file back with libavformat (and its audio with
// libavcodec), and what the recording says it should hold: the tests compare
// the two.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "recorder/layout/disk_layout.h"

namespace orvan::test {

struct ReadPacket {
  int64_t ptsMs = 0;
  bool key = false;
  std::vector<uint8_t> data;
};

struct ReadStream {
  AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
  AVCodecID codec = AV_CODEC_ID_NONE;
  std::vector<uint8_t> extradata;
  int width = 0, height = 0, sampleRate = 0, channels = 0;
  std::vector<ReadPacket> packets;
  int64_t decodedSamples = 0;  // audio, decoded
};

struct ReadChapter {
  int64_t startMs = 0, endMs = 0;
  std::string title;
};

struct ReadMedia {
  bool ok = false;
  std::vector<ReadChapter> chapters;
  std::string title;
  std::string creationTime;
  std::vector<ReadStream> streams;
  const ReadStream *Of(AVMediaType type) const {
    for (const auto &s : streams)
      if (s.type == type) return &s;
    return nullptr;
  }
};

// Demuxes every packet of `path` (times in ms, rescaled exactly from each
// stream's time base) and decodes its audio to count the samples.
ReadMedia ReadMediaFile(const std::string &path);

// What seeking a Matroska file costs: its cue points for the video, and the
// bytes read to open it, jump to `toMs` and read the picture there.
struct SeekCost {
  bool ok = false;
  int64_t videoCues = 0;  // index entries of the video once the demuxer read the cues
  int64_t landedMs = -1;  // the key picture the jump landed on
  uint64_t bytesRead = 0;
  uint64_t fileBytes = 0;
};
SeekCost MeasureSeek(const std::string &path, int64_t toMs);

// A recording's played entries, from its index, and those behind them in
// the sector of the last one (which a copy of the whole span takes too).
struct RecordedEntry {
  recorder::IndexEntry entry;
  int64_t number = 0;
};
std::vector<RecordedEntry> ReadRecordedEntries(const std::string &image,
                                               recorder::DiskGeometry *geometry = nullptr);
// The record of an entry, read from the image file with plain reads.
std::vector<uint8_t> ReadRecord(const std::string &image, const recorder::DiskGeometry &geometry,
                                const recorder::IndexEntry &entry);

}  // namespace orvan::test
