// The recorder's event log as the rows of the event grid: four cell texts
// per row ("Num", "Channel", "Time", "Type") and the event times the grid
// jumps to.
//
// Main thread only. Reads the disk directly, without a player's lock, so it
// is loaded while no player reads the same source.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/disk_source.h"
#include "recorder/layout/disk_layout.h"

namespace orvan::recorder {

class CEventList {
 public:
  static constexpr int kColumns = 4;
  using Row = std::array<std::string, kColumns>;

  // Header texts of row 0.
  static const Row &HeaderRow();

  // Replaces the whole list with the log of `source`. A failed header read
  // keeps the count of the previous load (0 before the first). The records
  // of a sector that cannot be read are left out (the numbers of the rows
  // read jump there); the disk's end or its going away ends the list, and
  // the rows behind it stay empty.
  void LoadEvents(ByteSource &source);

  // The event count the rows are made for: the header's count, capped at
  // the 14335 records the log area holds.
  uint32_t EventCount() const { return m_eventCount; }
  // The count as stored in the header, uncapped.
  uint32_t StoredEventCount() const { return m_header.eventCount; }

  // Rows, header included: EventCount() + 1.
  size_t RowCount() const { return size_t{m_eventCount} + 1; }
  // Cell text of a row (0 is the header); empty beyond the rows read.
  const std::string &Cell(int column, size_t row) const;
  // Rows that were read (the rest of RowCount() - 1 stay empty).
  const std::vector<Row> &Rows() const { return m_rows; }
  // Time of every listed event, in row order: element k belongs to row k+1.
  const std::vector<uint32_t> &Times() const { return m_times; }
  // The records listed, in row order (kind and channel as stored).
  const std::vector<EventRecord> &Records() const { return m_records; }

  // The jump rule of a double click on `row`: false for the header row and
  // for rows without a record; otherwise the event's time.
  bool JumpTime(size_t row, uint32_t &time) const;

 private:
  EventLogHeader m_header;
  uint32_t m_eventCount = 0;
  std::vector<Row> m_rows;
  std::vector<uint32_t> m_times;
  std::vector<EventRecord> m_records;
};

}  // namespace orvan::recorder
