// The table of every index entry of a span: what it is, when it was
// recorded (to the millisecond, as the players and the exports time it),
// where an export puts it, where its record lies on the disk, and the MD5
// and SHA-256 of that record. Written beside every export (NAME.frames.csv)
// and by `orvan-cli frames`.
//
// Rows are written as they come, in recording order, so a day-long span
// costs no more memory than a minute. The timing analysis
// (recorder/export/timing_analysis.h) is fed its second pass from the rows.
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
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/digest.h"
#include "recorder/export/export_sink.h"
#include "recorder/export/span_reader.h"
#include "recorder/export/timing_analysis.h"
#include "recorder/layout/disk_layout.h"

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

// A FramesTable fed from one thread and written on a worker of its own: the
// digests of the records (most of a table's cost) run beside the reading
// and writing of the export instead of inside it. Row() copies the entry,
// its placement and its record into a batch; full batches go to the worker,
// which hands them to the table in order. At most kBatches batches wait, so
// a slow worker holds the feeder back rather than fill memory.
//
// Threads: Begin(), Row() and End() on the feeding thread; the table (and
// the timing analysis it feeds) belongs to the worker from Begin() to the
// end of End(), which joins it. m_lock guards the queue, the spare batches
// and the stop flag; the failed flag is an atomic.
class BackgroundFramesTable {
 public:
  static constexpr size_t kBatchBytes = 4 << 20;
  static constexpr size_t kBatches = 3;

  BackgroundFramesTable(FramesTable::Format format, FramesTable::Output output,
                        const DiskGeometry &geometry, bool hashes, TimingAnalysis *timing);
  ~BackgroundFramesTable();
  BackgroundFramesTable(const BackgroundFramesTable &) = delete;
  BackgroundFramesTable &operator=(const BackgroundFramesTable &) = delete;

  bool Begin(const std::string &head = {});
  // False once the table's output failed.
  bool Row(const SpanEntry &s, const Placement &placement);
  // Hands the rows still waiting to the worker and joins it: the table's
  // counts and the timing analysis are then complete. False once the
  // output failed.
  bool Drain();
  // Drain(), then ends the table (JSON: with `tail`).
  bool End(const std::string &tail = {});

  // After Drain().
  int64_t Rows() const { return m_table.Rows(); }
  int64_t CorruptRows() const { return m_table.CorruptRows(); }

 private:
  struct Item {
    IndexEntry entry;
    int64_t timeMs = 0;
    int64_t number = 0;
    bool unreadable = false;
    bool hasRecord = false;
    Placement placement;
    size_t at = 0;  // of its record in the batch's bytes
  };
  struct Batch {
    std::vector<Item> items;
    std::vector<uint8_t> bytes;
  };
  void Hand();  // the batch being filled, to the worker
  void Work();

  FramesTable m_table;
  const bool m_hashes;
  Batch m_filling;  // the feeder's
  std::thread m_worker;
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::deque<Batch> m_full;           // m_lock
  std::vector<Batch> m_spare;         // m_lock
  size_t m_waiting = 0;               // batches queued or in work; m_lock
  bool m_stop = false;                // m_lock
  std::atomic<bool> m_failed{false};  // the table's output failed; read without a lock
  bool m_started = false;             // the feeder's
};

}  // namespace orvan::recorder
