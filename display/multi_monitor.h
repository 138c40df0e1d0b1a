// The monitors the display can draw on, with each one's rectangle, handle
// and identifier, read from the screens the GUI reports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "display/display_types.h"

// Stands in for a drawing-driver identifier: 16 bytes that tell monitors
// apart. Handed back to the drawing layer only.
struct GUID {
  uint8_t bytes[16] = {};
  friend bool operator==(const GUID &, const GUID &) = default;
};

struct MonitorRecord {
  uint32_t cbSize = 40;
  RECT rcMonitor{};  // the monitor's rectangle on the desktop
  RECT rcWork{};     // its work area
  bool bPrimary = false;
  GUID guid{};
  HMONITOR hMonitor = 0;
};

// One screen as the windowing system describes it.
struct ScreenDevice {
  HMONITOR handle = 0;  // 0: no monitor behind this device
  std::string name;
  RECT geometry{};
  RECT available{};
  bool primary = false;
};

class CMultiMonitor {
 public:
  // From the screens of the running QGuiApplication (GUI thread). Without a
  // GUI application, or when it reports no screen, one 1920 x 1080 primary
  // monitor with handle 1 stands in, so a headless tool still has a surface.
  CMultiMonitor();
  // From a given list (tests, and the GUI constructor above). A device
  // without a handle or with an empty rectangle adds no record.
  explicit CMultiMonitor(const std::vector<ScreenDevice> &devices);

  uint8_t GetCount() const;
  bool GetMonitor(size_t index, MonitorRecord *out) const;
  bool GetMonitorByHandle(HMONITOR monitor, MonitorRecord *out) const;
  // Index of the first record with that handle; 0 when none has it.
  size_t IndexOf(HMONITOR monitor) const;
  // With a single monitor the identifier is null (the default driver);
  // otherwise it points at the record's guid. False past the end.
  bool GetGuid(size_t index, const GUID **out) const;
  bool GetGuidByHandle(HMONITOR monitor, const GUID **out) const;
  HMONITOR GetPrimary() const { return m_primaryHandle; }

  // A stable identifier for a screen name.
  static GUID GuidForName(const std::string &name);

 private:
  void Build(const std::vector<ScreenDevice> &devices);
  void Add(const MonitorRecord &record);

  // Written only while constructing; read-only afterwards, so any thread
  // may read it without a lock.
  uint32_t m_count = 0;  // screens reported, the skipped ones included
  std::vector<MonitorRecord> m_records;
  size_t m_primaryIndex = 0;
  HMONITOR m_primaryHandle = 0;
};

// The process-wide monitor list, built on first use. The first call must
// come from the GUI thread after the QGuiApplication exists (the display
// manager's constructor makes it).
CMultiMonitor &MultiMonitor();
