#include "display/multi_monitor.h"

#include <QGuiApplication>
#include <QScreen>

namespace {

RECT ToRect(const QRect &r) {
  return RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

std::vector<ScreenDevice> ScreensOfTheGui() {
  std::vector<ScreenDevice> devices;
  if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance())) return devices;
  const QScreen *primary = QGuiApplication::primaryScreen();
  for (QScreen *screen : QGuiApplication::screens()) {
    ScreenDevice d;
    d.handle = reinterpret_cast<HMONITOR>(screen);
    d.name = (screen->name() + QLatin1Char('|') + screen->manufacturer() + QLatin1Char('|') +
              screen->model() + QLatin1Char('|') + screen->serialNumber())
                 .toStdString();
    d.geometry = ToRect(screen->geometry());
    d.available = ToRect(screen->availableGeometry());
    d.primary = screen == primary;
    devices.push_back(d);
  }
  return devices;
}

}  // namespace

CMultiMonitor::CMultiMonitor() {
  std::vector<ScreenDevice> devices = ScreensOfTheGui();
  if (devices.empty()) {
    ScreenDevice fallback;
    fallback.handle = 1;
    fallback.name = "virtual";
    fallback.geometry = RECT{0, 0, 1920, 1080};
    fallback.available = fallback.geometry;
    fallback.primary = true;
    devices.push_back(fallback);
  }
  Build(devices);
}

CMultiMonitor::CMultiMonitor(const std::vector<ScreenDevice> &devices) { Build(devices); }

void CMultiMonitor::Build(const std::vector<ScreenDevice> &devices) {
  m_count = uint32_t(devices.size());
  if (devices.size() == 1) {
    // One monitor: its record needs no identifier (GetGuid gives null).
    const ScreenDevice &d = devices.front();
    MonitorRecord r;
    r.rcMonitor = d.geometry;
    r.rcWork = d.available;
    r.bPrimary = true;
    r.hMonitor = d.handle;
    Add(r);
    return;
  }
  for (const ScreenDevice &d : devices) {
    if (d.handle == 0 || d.geometry.IsEmpty()) continue;
    MonitorRecord r;
    r.rcMonitor = d.geometry;
    r.rcWork = d.available;
    r.bPrimary = d.primary;
    r.guid = GuidForName(d.name);
    r.hMonitor = d.handle;
    Add(r);
  }
}

void CMultiMonitor::Add(const MonitorRecord &record) {
  if (record.bPrimary) {
    m_primaryIndex = m_records.size();
    m_primaryHandle = record.hMonitor;
  }
  m_records.push_back(record);
}

uint8_t CMultiMonitor::GetCount() const { return uint8_t(m_count); }

bool CMultiMonitor::GetMonitor(size_t index, MonitorRecord *out) const {
  if (index >= m_records.size()) return false;
  if (out) *out = m_records[index];
  return true;
}

bool CMultiMonitor::GetMonitorByHandle(HMONITOR monitor, MonitorRecord *out) const {
  return GetMonitor(IndexOf(monitor), out);
}

size_t CMultiMonitor::IndexOf(HMONITOR monitor) const {
  for (size_t i = 0; i < m_records.size(); ++i)
    if (m_records[i].hMonitor == monitor) return i;
  return 0;
}

bool CMultiMonitor::GetGuid(size_t index, const GUID **out) const {
  if (index >= m_records.size()) return false;
  if (out) *out = m_count == 1 ? nullptr : &m_records[index].guid;
  return true;
}

bool CMultiMonitor::GetGuidByHandle(HMONITOR monitor, const GUID **out) const {
  return GetGuid(IndexOf(monitor), out);
}

GUID CMultiMonitor::GuidForName(const std::string &name) {
  // Two FNV-1a passes with different seeds fill the 16 bytes.
  GUID g;
  uint64_t h1 = 0xcbf29ce484222325ULL, h2 = 0x84222325cbf29ce4ULL;
  for (unsigned char c : name) {
    h1 = (h1 ^ c) * 0x100000001b3ULL;
    h2 = (h2 ^ c) * 0x100000001b3ULL;
  }
  for (int i = 0; i < 8; ++i) {
    g.bytes[i] = uint8_t(h1 >> (8 * i));
    g.bytes[8 + i] = uint8_t(h2 >> (8 * i));
  }
  return g;
}

CMultiMonitor &MultiMonitor() {
  static CMultiMonitor monitors;
  return monitors;
}
