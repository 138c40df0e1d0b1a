#include "recorder/layout/disk_discovery.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

#include "platform/log.h"
#include "platform/wintime.h"
#include "recorder/layout/disk_layout.h"
#include "recorder/layout/index_search.h"

namespace orvan::recorder {

namespace {

constexpr const char *kLogCategory = "disk";
// How many per-drive limits a drive's probe may take.
constexpr int kProbeLimits = 5;

// The probe, and for a recorder disk its size and span into *described.
bool Probe(int driveNumber, const DriveTable &table, DriveOpenStatus &status, std::string *message,
           FoundDisk *described, std::chrono::milliseconds limit = {}) {
  // The probe may take a few of the limits (a slow disk is still listed),
  // the span, which only describes the disk, one.
  std::optional<platform::ReadDeadline> bound;
  if (limit.count() > 0) bound.emplace(limit * kProbeLimits);
  DiskSource source;
  status = source.Open(driveNumber, table);
  if (status != DriveOpenStatus::Ok) {
    if (message) *message = source.LastError();
    return false;
  }
  // The signature is looked for up to the first zero byte, and the header
  // and state table lie in the first 4 KiB: a disk with a zero byte there
  // is told from those alone (one small read, not 512 KiB, per drive).
  constexpr size_t kHeadBytes = 4096;
  std::vector<uint8_t> probe(kHeadBytes);
  if (!source.Seek(0) || !source.Read(probe.data(), probe.size())) return false;
  if (std::find(probe.begin(), probe.end(), uint8_t{0}) == probe.end()) {
    probe.resize(kProbeBytes);
    if (!source.Seek(0) || !source.Read(probe.data(), probe.size())) return false;
  }
  if (!IsRecorderDisk(probe)) return false;
  // As the 512 KiB read would: a disk shorter than that is not one.
  if (probe.size() < kProbeBytes && source.SizeBytes() < kProbeBytes) {
    std::vector<uint8_t> whole(kProbeBytes);
    if (!source.Seek(0) || !source.Read(whole.data(), whole.size())) return false;
  }
  if (described) {
    bound.reset();
    if (limit.count() > 0) bound.emplace(limit);
    described->sizeBytes = source.SizeBytes();
    DiskGeometry geometry;
    if (ParseGeometry(probe, geometry) == GeometryStatus::Ok) {
      // The recorded span ends at the last entry played, not at the start
      // of the block that holds it (which the players' end label shows).
      described->spanKnown = IndexBlockTime(0, source, described->firstSeconds) &&
                             (LastPlayedEntryTime(source, geometry, described->lastSeconds) ||
                              IndexBlockTime(geometry.playEnd, source, described->lastSeconds));
    }
  }
  return true;
}

}  // namespace

bool ProbeRecorderDisk(int driveNumber, const DriveTable &table, DriveOpenStatus &status,
                       std::string *message) {
  return Probe(driveNumber, table, status, message, nullptr);
}

std::vector<FoundDisk> ScanRecorderDisks(const DriveTable &table,
                                         std::vector<std::string> *messages,
                                         std::chrono::milliseconds perDrive) {
  std::vector<FoundDisk> found;
  for (int n = 0; n < kMaxDrives; ++n) {
    DriveOpenStatus status = DriveOpenStatus::Ok;
    std::string message;
    FoundDisk disk;
    const bool isRecorder = Probe(n, table, status, &message, &disk, perDrive);
    if (status == DriveOpenStatus::NoSuchDrive) break;
    if (status != DriveOpenStatus::Ok) {
      ORVAN_LOG_WARN(kLogCategory, "%s", message.c_str());
      if (messages) messages->push_back(message);
      continue;
    }
    if (!isRecorder) continue;
    disk.driveNumber = n;
    disk.name = DeviceItemName(n);
    disk.path = table.Find(n)->path;
    found.push_back(disk);
  }
  return found;
}

std::string SizeText(uint64_t bytes) {
  static const char *const units[] = {"bytes", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  double value = double(bytes);
  int unit = 0;
  while (value >= 1024 && unit < 6) {
    value /= 1024;
    ++unit;
  }
  if (unit == 0) return std::to_string(bytes) + " bytes";
  char text[64];
  std::snprintf(text, sizeof text, "%.1f %s (%llu bytes)", value, units[unit],
                static_cast<unsigned long long>(bytes));
  return text;
}

std::string DescribeFoundDisk(const FoundDisk &disk) {
  std::string text =
      disk.path + "\n" + (disk.sizeBytes ? SizeText(disk.sizeBytes) : "size unknown");
  if (disk.spanKnown)
    text += "\nrecorded " + FormatRecorderTime(int64_t{disk.firstSeconds}) + " \u2013 " +
            FormatRecorderTime(int64_t{disk.lastSeconds});
  else
    text += "\nrecorded span unknown";
  return text;
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
