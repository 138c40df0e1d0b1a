// The event log and its grid rows.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_source.h"
#include "recorder/layout/disk_layout.h"
#include "recorder/layout/event_list.h"

using namespace orvan::recorder;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  orvan::fuzz::WindowSource source(data, size, kEventLogOffset);
  const EventLog log = ReadEventLog(source);
  if (log.records.size() > kMaxEventCount) __builtin_trap();
  CEventList list;
  list.LoadEvents(source);
  if (list.Times().size() != log.records.size() || list.RowCount() != size_t{list.EventCount()} + 1)
    __builtin_trap();
  for (size_t row = 0; row <= list.Times().size(); ++row)
    for (int col = 0; col < CEventList::kColumns; ++col) list.Cell(col, row);
  uint32_t t;
  list.JumpTime(list.Times().size() + 1, t);
  return 0;
}
