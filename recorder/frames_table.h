// The table of every index entry of a span: what it is, when it was
// recorded (to the millisecond, as the players and the exports time it),
// where an export puts it, where its record lies on the disk, and the MD5
// and SHA-256 of that record. Written beside every export (NAME.frames.csv)
// and by `orvan-cli frames`.
//
// Rows are written as they come, in recording order, so a day-long span
// costs no more memory than a minute. The timing analysis
// (recorder/timing_analysis.h) is fed its second pass from the rows.
//
// CSV columns:
//   entry,channel,type,seconds,time,delayMs,exportSeconds,offset,size,md5,sha256,sameAsPrevious,gapBeforeMs
// channel is 1..4; type is key, predicted, MJPEG, audio, unknown, or
// corrupt for a record that is not what its entry says or cannot be read
// (then md5 and sha256 are empty); offset counts from the start of the
// disk; exportSeconds is empty for an entry the export does not hold;
// sameAsPrevious and gapBeforeMs are empty for audio and for a channel's
// first picture (sameAsPrevious also without hashes). The JSON rows carry
// the same names, with the record type's number and the damage spelt out.
//
// Threads: one thread at a time.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/digest.h"
#include "recorder/disk_layout.h"
#include "recorder/export_sink.h"
#include "recorder/span_reader.h"
#include "recorder/timing_analysis.h"

namespace orvan::recorder {

class FramesTable {
 public:
  enum class Format { kCsv, kJson };
  // Takes the table's text in pieces; false stops the table (the output
  // failed).
  using Output = std::function<bool(const char *data, size_t length)>;

  static constexpr const char *kCsvHeader =
      "entry,channel,type,seconds,time,delayMs,exportSeconds,offset,size,md5,sha256,"
      "sameAsPrevious,gapBeforeMs";

  // timing: the analysis surveyed over the same span (may be null); its
  // rows pass comes from here. hashes: false leaves the digests out (and
  // with them sameAsPrevious), for speed.
  FramesTable(Format format, Output output, const DiskGeometry &geometry, bool hashes,
              TimingAnalysis *timing);

  // JSON: the opening, up to the rows ("{...,\"frames\":["): `head` is
  // the members written before the rows (without braces), may be empty.
  bool Begin(const std::string &head = {});
  // One entry of the span and what the export did with it.
  bool Row(const SpanEntry &s, const Placement &placement);
  // JSON: the members after the rows (without braces), may be empty, and
  // the closing. CSV: flushes.
  bool End(const std::string &tail = {});

  int64_t Rows() const { return m_rows; }
  int64_t CorruptRows() const { return m_corrupt; }
  bool Failed() const { return m_failed; }

 private:
  bool Flush();
  void AppendTime(int64_t ms);

  const Format m_format;
  const Output m_output;
  const DiskGeometry m_geometry;
  const bool m_hashes;
  TimingAnalysis *const m_timing;
  platform::Digest m_md5{platform::DigestKind::kMd5};
  platform::Digest m_sha256{platform::DigestKind::kSha256};
  struct Previous {
    int64_t pictureMs = -1;
    uint32_t size = 0;
    std::vector<uint8_t> sha256;  // of the channel's last picture; empty: unknown
  };
  std::array<Previous, 4> m_previous{};
  std::string m_buffer;
  int64_t m_cachedSecond = -1;  // the date text of this second is in m_cachedDate
  std::string m_cachedDate;
  int64_t m_rows = 0;
  int64_t m_corrupt = 0;
  bool m_failed = false;
};

}  // namespace orvan::recorder
