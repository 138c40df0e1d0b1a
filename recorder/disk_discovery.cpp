#include "recorder/disk_discovery.h"

#include <vector>

#include "platform/log.h"
#include "recorder/disk_layout.h"

namespace orvan::recorder {

namespace {
constexpr const char *kLogCategory = "disk";
}  // namespace

bool ProbeRecorderDisk(int driveNumber, const DriveTable &table, DriveOpenStatus &status,
                       std::string *message) {
  DiskSource source;
  status = source.Open(driveNumber, table);
  if (status != DriveOpenStatus::Ok) {
    if (message) *message = source.LastError();
    return false;
  }
  std::vector<uint8_t> probe(kProbeBytes);
  const bool ok = source.Seek(0) && source.Read(probe.data(), probe.size());
  return ok && IsRecorderDisk(probe);
}

std::vector<FoundDisk> ScanRecorderDisks(const DriveTable &table,
                                         std::vector<std::string> *messages) {
  std::vector<FoundDisk> found;
  for (int n = 0; n < kMaxDrives; ++n) {
    DriveOpenStatus status = DriveOpenStatus::Ok;
    std::string message;
    const bool isRecorder = ProbeRecorderDisk(n, table, status, &message);
    if (status == DriveOpenStatus::NoSuchDrive) break;
    if (status != DriveOpenStatus::Ok) {
      ORVAN_LOG_WARN(kLogCategory, "%s", message.c_str());
      if (messages) messages->push_back(message);
      continue;
    }
    if (isRecorder) found.push_back(FoundDisk{n, DeviceItemName(n), table.Find(n)->path});
  }
  return found;
}

std::string DeviceItemName(int driveNumber) { return "Device_" + std::to_string(driveNumber); }

bool DriveNumberFromItem(const std::string &item, int &driveNumber) {
  const size_t us = item.find('_');
  if (us == std::string::npos) return false;
  size_t i = us + 1;
  if (i >= item.size() || item[i] < '0' || item[i] > '9') return false;
  long long value = 0;
  for (; i < item.size() && item[i] >= '0' && item[i] <= '9'; ++i) {
    value = value * 10 + (item[i] - '0');
    if (value > 1000000) return false;
  }
  driveNumber = int(value);
  return true;
}

}  // namespace orvan::recorder
