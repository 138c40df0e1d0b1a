// orvan-extract: writes the coded pictures of each channel of a recorder
// disk as elementary streams (chN.m4v, or chN.mjpeg for MJPEG records), so
// that another decoder can be run over exactly the pictures the player
// decodes. For benchmarks and cross-checks; reads the disk read-only.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/disk_source.h"
#include "platform/output_file.h"
#include "recorder/layout/disk_layout.h"
#include "tools/command_line.h"
#include "tools/exit_codes.h"

using namespace orvan;
using namespace orvan::recorder;
using namespace orvan::tools;

namespace {

int Extract(const std::string &diskPath, const std::string &folder) {
  DiskSource disk;
  if (disk.OpenPath(diskPath) != DriveOpenStatus::Ok) {
    std::fprintf(stderr, "%s\n", disk.LastError().c_str());
    return kExitError;
  }
  DiskGeometry geometry;
  if (ReadGeometry(disk, geometry) != GeometryStatus::Ok) {
    std::fprintf(stderr, "not a playable recorder disk: %s\n", diskPath.c_str());
    return kExitRejected;
  }
  // Each run replaces its own streams; none is ever written over the disk.
  platform::OutputFile out[4];
  uint64_t pictures[4] = {};
  std::vector<uint8_t> record(kMaxRecordBytes);
  IndexReader reader;
  reader.Start(disk, 0);
  while (reader.Next() < geometry.playEnd && reader.ReadStep(disk)) {
    for (const IndexEntry &e : reader.Entries()) {
      if (e.channel >= 4 || e.type == kTypeAudio || !IsKnownRecordType(e.type)) continue;
      if (!ReadDataRecord(disk, geometry, e, record.data())) continue;
      platform::OutputFile &stream = out[e.channel];
      if (!stream.IsOpen()) {
        const std::string path = folder + "/ch" + std::to_string(e.channel) +
                                 (IsMjpegRecord(e.type) ? ".mjpeg" : ".m4v");
        if (!stream.Create(path, platform::ReplacePolicy::kReplaceExisting)) {
          std::fprintf(stderr, "%s\n", stream.Error().c_str());
          return kExitError;
        }
      }
      if (!stream.Write(record.data(), e.size)) {
        std::fprintf(stderr, "%s\n", stream.Error().c_str());
        return kExitError;
      }
      ++pictures[e.channel];
    }
    if (!reader.Resync(disk)) break;
  }
  for (int c = 0; c < 4; ++c) {
    if (out[c].IsOpen() && !out[c].Commit()) {
      std::fprintf(stderr, "%s\n", out[c].Error().c_str());
      return kExitError;
    }
    if (pictures[c]) std::printf("channel %d: %llu pictures\n", c, (unsigned long long)pictures[c]);
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char **argv) {
  std::string disk, folder;
  CommandLine cli("orvan-extract",
                  "Writes the coded pictures of each channel of a recorder disk as elementary "
                  "streams.");
  cli.Main()
      .Positional("DISK", disk, "a disk image or block device")
      .Positional("OUTDIR", folder, "the folder for ch0.m4v .. ch3.m4v (or .mjpeg)");
  cli.SetRun([&] {
    if (disk.empty() || folder.empty()) return cli.UsageFailure("give DISK and OUTDIR");
    return Extract(disk, folder);
  });
  return cli.Run(argc, argv);
}
