#include "recorder/layout/event_list.h"

#include <algorithm>

namespace orvan::recorder {

const CEventList::Row &CEventList::HeaderRow() {
  static const Row header{"Num", "Channel", "Time", "Type"};
  return header;
}

void CEventList::LoadEvents(ByteSource &source) {
  m_times.clear();
  m_rows.clear();
  m_records.clear();
  EventLog log = ReadEventLog(source);
  if (log.headerRead) m_header = log.header;
  m_eventCount = std::min(m_header.eventCount, kMaxEventCount);
  if (!log.headerRead) return;  // the old count stands, but no records were read

  m_rows.reserve(log.records.size());
  m_times.reserve(log.records.size());
  for (size_t i = 0; i < log.records.size() && log.numbers[i] < m_eventCount; ++i) {
    const EventRecord &rec = log.records[i];
    const uint32_t number = log.numbers[i];  // a lost sector's records are missing
    Row row;
    row[0] = std::to_string(number + 1);
    // Records of the first sector show no channel when it is 0 or above 4.
    const bool firstSector = number < uint32_t(kEventsInFirstSector);
    if (!(firstSector && (rec.channel == 0 || rec.channel > 4)))
      row[1] = std::to_string(rec.channel);
    row[2] = FormatRecorderTime(int64_t{rec.time});
    row[3] = EventKindName(rec.Kind());
    m_rows.push_back(std::move(row));
    m_times.push_back(rec.time);
    m_records.push_back(rec);
  }
}

const std::string &CEventList::Cell(int column, size_t row) const {
  static const std::string empty;
  if (column < 0 || column >= kColumns) return empty;
  if (row == 0) return HeaderRow()[size_t(column)];
  if (row - 1 >= m_rows.size()) return empty;
  return m_rows[row - 1][size_t(column)];
}

bool CEventList::JumpTime(size_t row, uint32_t &time) const {
  if (row == 0 || row > m_times.size()) return false;
  time = m_times[row - 1];
  return true;
}

}  // namespace orvan::recorder
