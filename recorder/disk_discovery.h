// Finding recorder disks among the drives of the drive table, and the item
// names of the device list ("Device_" + drive number).
#pragma once

#include <string>
#include <vector>

#include "platform/disk_source.h"

namespace orvan::recorder {

constexpr int kMaxDrives = 100;

struct FoundDisk {
  int driveNumber = 0;
  std::string name;  // "Device_<n>"
  std::string path;
};

// Probes drives 0, 1, 2, ... (at most 100) in order: a drive beyond the
// table, or one that no longer exists, ends the scan; a drive that exists
// but cannot be opened (no rights, no medium) is skipped with a message
// naming it and how to get access, and the scan goes on; a drive whose
// first 512 KiB cannot be read is skipped silently. Every drive opened is
// closed again before the next.
std::vector<FoundDisk> ScanRecorderDisks(const DriveTable &table,
                                         std::vector<std::string> *messages);

// True when drive n opens, its first 512 KiB read, and carry the signature.
// Open failures are reported in status (and the message, if given).
bool ProbeRecorderDisk(int driveNumber, const DriveTable &table, DriveOpenStatus &status,
                       std::string *message = nullptr);

std::string DeviceItemName(int driveNumber);
// Drive number of an item text: the decimal number behind its first "_".
// False when there is none.
bool DriveNumberFromItem(const std::string &item, int &driveNumber);

}  // namespace orvan::recorder
