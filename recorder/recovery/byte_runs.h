// Byte ranges of the disk kept as merged runs: ranges that overlap or touch
// become one run, so memory grows with the number of separate runs, not with
// the number of records added (records the recorder wrote back to back are
// one run, however many).
//
// Each run remembers the recorder time of the record that begins it and of
// the record that ends it, so a position between runs can be bracketed by
// the times of the records nearest to it on either side.
//
// Threads: one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>

namespace orvan::recorder {

class ByteRuns {
 public:
  struct Run {
    uint64_t begin = 0, end = 0;  // [begin, end)
    uint32_t beginTime = 0;       // of the record that begins the run
    uint32_t endTime = 0;         // of the record that ends it
  };

  // Adds [begin, end) of a record recorded at `time`. Empty ranges are
  // ignored.
  void Add(uint64_t begin, uint64_t end, uint32_t time);
  // Whether any byte of [begin, end) lies in a run.
  bool Overlaps(uint64_t begin, uint64_t end) const;
  // The run that ends at or before `offset`, and the first that begins
  // after it; null when there is none.
  const Run *Before(uint64_t offset) const;
  const Run *After(uint64_t offset) const;
  // Calls `gap` for every stretch of [from, to) that no run covers, in order.
  void ForEachGap(uint64_t from, uint64_t to,
                  const std::function<void(uint64_t begin, uint64_t end)> &gap) const;
  // Runs in order.
  void ForEach(const std::function<void(const Run &)> &visit) const;

  uint64_t Runs() const { return m_runs.size(); }
  uint64_t Bytes() const { return m_bytes; }
  // Bytes of [from, to) that runs cover.
  uint64_t BytesWithin(uint64_t from, uint64_t to) const;

 private:
  std::map<uint64_t, Run> m_runs;  // by begin
  uint64_t m_bytes = 0;
  // The run the last Add() grew: records come mostly back to back.
  std::map<uint64_t, Run>::iterator m_last = m_runs.end();
};

}  // namespace orvan::recorder
