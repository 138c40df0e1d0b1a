// Finding recorder disks among the drives of the drive table, and the item
// names of the device list ("Device_" + drive number).
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "platform/disk_source.h"

namespace orvan::recorder {

constexpr int kMaxDrives = 100;

struct FoundDisk {
  int driveNumber = 0;
  std::string name;  // "Device_<n>"
  std::string path;
  uint64_t sizeBytes = 0;  // 0 when it cannot be told
  // The first and last recorded times (the block times the player shows as
  // Start and End); known only when the disk has a valid state.
  bool spanKnown = false;
  uint32_t firstSeconds = 0;
  uint32_t lastSeconds = 0;
};

// Probes drives 0, 1, 2, ... (at most 100) in order: a drive beyond the
// table, or one that no longer exists, ends the scan; a drive that exists
// but cannot be opened (no rights, no medium) is skipped with a message
// naming it and how to get access, and the scan goes on; a drive whose
// first 512 KiB cannot be read is skipped silently. Every drive opened is
// closed again before the next. Each disk found comes with its size and
// recorded span. `perDrive` (0: none) bounds the reads of each drive: its
// probe may take five times that (a slow disk is still listed), its span
// once that (unknown when the time ran out).
std::vector<FoundDisk> ScanRecorderDisks(const DriveTable &table,
                                         std::vector<std::string> *messages,
                                         std::chrono::milliseconds perDrive = {});

// True when drive n opens, its first 512 KiB read, and carry the signature.
// Open failures are reported in status (and the message, if given).
bool ProbeRecorderDisk(int driveNumber, const DriveTable &table, DriveOpenStatus &status,
                       std::string *message = nullptr);

// What a found disk is, for the user: its path, its size and its recorded
// span, one per line ("recorded 2008/02/14_09:44:57 - 2008/02/14_10:00:00").
std::string DescribeFoundDisk(const FoundDisk &disk);
// A byte count as the user reads it: "8.0 MiB (8388608 bytes)".
std::string SizeText(uint64_t bytes);

std::string DeviceItemName(int driveNumber);
// Drive number of an item text: the decimal number behind its first "_".
// False when there is none.
bool DriveNumberFromItem(const std::string &item, int &driveNumber);

}  // namespace orvan::recorder
