// recorder_bench: prints figures for the recorder disk readers.
//   - time search on a disk of over two million index entries: time and
//     sector reads per search;
//   - clip export throughput next to a plain sequential read of the same
//     data bytes;
//   - on a 60 s four-channel sample recording, with the page cache warm and
//     cold: the export's reading, and clip and Matroska exports, next to a
//     plain sequential read of its index and data area and next to a plain
//     copy of those bytes into a committed file.
// All run on disk images made here (in the folder given, default /tmp); the
// images are removed at the end.
//   recorder_bench [DIR] [--sample] [--runs N]
// --sample: only the sample recording's figures; --runs: rounds of it
// (default 5).
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_figures.h"
#include "platform/disk_source.h"
#include "platform/output_file.h"
#include "recorder/export/copy_hdd_thread.h"
#include "recorder/export/span_reader.h"
#include "recorder/layout/disk_layout.h"
#include "recorder/layout/index_search.h"
#include "recorder/layout/recording_map.h"
#include "tools/disk_image.h"
#include "tools/sample_recording.h"

using namespace orvan;
using namespace orvan::recorder;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint32_t kStart = 1202982297;
constexpr int64_t kEntries = 2100000;
constexpr int kEntriesPerSecond = 40;
constexpr int64_t kExportEntries = 24000;  // entries with real-sized records

class CountingSource final : public ByteSource {
 public:
  explicit CountingSource(ByteSource &inner) : m_inner(inner) {}
  bool Seek(uint64_t offset) override { return m_inner.Seek(offset); }
  bool Read(void *buffer, size_t length, size_t *got) override {
    sectors += length / kSectorBytes;
    return m_inner.Read(buffer, length, got);
  }
  uint64_t sectors = 0;

 private:
  ByteSource &m_inner;
};

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Pictures of 3 to 40 KB and audio blocks of 4000 bytes, like a recording.
uint32_t RecordSize(int64_t n) {
  if (n % 3 == 2) return 4000;
  return uint32_t(3000 + (n * 2654435761u) % 37000);
}

bool MakeImage(const std::string &path, uint64_t &exportDataBytes) {
  tools::ImageFile file;
  std::string error;
  if (!file.Create(path, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
  }
  const int64_t indexCount = kEntries + kUnplayedTailEntries;
  const uint32_t indexMiB = uint32_t((uint64_t(indexCount) * kEntryBytes + kMiB - 1) / kMiB);
  const uint64_t dataBase = kIndexAreaOffset + uint64_t(indexMiB) * kMiB;
  std::vector<uint8_t> head(kProbeBytes);
  const auto h = tools::MakeDiskHeader(indexMiB);
  std::copy(h.begin(), h.end(), head.begin());
  const auto s = tools::MakeStateEntry(kValidStateTag, uint64_t(indexCount));
  std::copy(s.begin(), s.end(), head.begin() + kStateTableOffset);
  bool ok = file.WriteAt(0, head.data(), head.size());

  // Records of the first kExportEntries entries back to back; the rest
  // share one small record (their data is never read here).
  std::vector<uint8_t> index(size_t(indexCount) * kEntryBytes);
  uint64_t offset = 0;
  std::vector<uint8_t> chunk;
  for (int64_t n = 0; n < indexCount; ++n) {
    IndexEntry e;
    e.type = n % 3 == 2 ? kTypeAudio : (n % 24 == 0 ? kTypeKeyPicture : kTypePicture);
    e.channel = uint8_t(n % 4);
    e.delayMs = 25;
    e.time = uint32_t(kStart + n / kEntriesPerSecond);
    if (n < kExportEntries) {
      e.size = RecordSize(n);
      e.offset = offset;
      offset += e.size;
    } else {
      e.size = 16;
      e.offset = 0;
    }
    e.Serialize(index.data() + size_t(n) * kEntryBytes);
  }
  exportDataBytes = offset;
  ok = ok && file.WriteAt(kIndexAreaOffset, index.data(), index.size());
  chunk.resize(8 << 20);
  for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = uint8_t(i * 31 + (i >> 13));
  for (uint64_t at = 0; ok && at < offset; at += chunk.size())
    ok = file.WriteAt(dataBase + at, chunk.data(),
                      size_t(std::min<uint64_t>(chunk.size(), offset - at)));
  ok = ok && file.SetSize((dataBase + offset + kMiB) / kSectorBytes * kSectorBytes);
  return ok && file.Close();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Exports of a 60 s four-channel recording (MPEG-4 pictures and audio)
// against plain work on the same bytes (the recording's index and data
// area), each in two cache states:
//   - warm: the image read through once before, so every run finds its
//     bytes in the page cache;
//   - cold: the image's pages dropped from the page cache before each run
//     (posix_fadvise DONTNEED), so every run reads the disk.
// The peers are a plain sequential read (1 MiB reads) and a plain copy (the
// same reads, each written to one output file, committed as an export
// commits its files: fsync, rename, folder sync). An export must write and
// make its files durable, which a read does not: both ratios are printed.
// Every run that writes makes new files: the previous run's outputs are
// removed and everything synced before the clock starts.
int BenchSampleExports(const std::string &dir, int runs) {
  tools::SampleOptions options;
  options.outputPath = dir + "/orvan-bench-sample-" + std::to_string(getpid()) + ".img";
  options.durationSeconds = 60;
  tools::SampleSummary summary;
  std::string error;
  if (!tools::MakeSampleRecording(options, summary, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  DiskSource disk;
  DiskGeometry g;
  if (disk.OpenPath(options.outputPath) != DriveOpenStatus::Ok ||
      ReadGeometry(disk, g) != GeometryStatus::Ok)
    return 1;
  // The bytes an export of the whole recording reads: its index and data.
  const uint64_t indexBytes = uint64_t(summary.indexCount) * kEntryBytes;
  const uint64_t bytes = indexBytes + summary.dataBytes;
  const std::string base = dir + "/orvan-bench-export-" + std::to_string(getpid());
  const std::vector<std::string> outputs{
      base + ".copy",    base + ".in",      base + ".da",      base + ".manifest.json",
      base + "_CH1.mkv", base + "_CH2.mkv", base + "_CH3.mkv", base + "_CH4.mkv"};
  auto removeOutputs = [&] {
    for (const std::string &path : outputs) std::filesystem::remove(path);
  };
  // Drops the image's pages from the page cache (they are clean: the image
  // was synced), so the next read goes to the disk.
  auto dropImageCache = [&] {
    const int fd = ::open(options.outputPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
  };
  double commitSeconds = 0;
  // Reads (and with `out`, writes) the index and data bytes 1 MiB at a time.
  auto plainPass = [&](platform::OutputFile *out) {
    std::vector<uint8_t> buffer(kMiB);
    const auto start = Clock::now();
    for (const auto &[from, length] : {std::pair<uint64_t, uint64_t>{kIndexAreaOffset, indexBytes},
                                       {g.dataBase, summary.dataBytes}}) {
      disk.Seek(from);
      for (uint64_t at = 0; at < length; at += kMiB) {
        const size_t n = size_t(std::min<uint64_t>(
            kMiB, (length - at + kSectorBytes - 1) / kSectorBytes * kSectorBytes));
        if (!disk.Read(buffer.data(), n)) break;
        if (out && !out->Write(buffer.data(), n)) return 0.0;
      }
    }
    if (out) {
      const auto commit = Clock::now();
      if (!out->Commit()) return 0.0;
      commitSeconds = Seconds(commit);
    }
    return double(bytes) / kMiB / Seconds(start);
  };
  auto plainRead = [&] { return plainPass(nullptr); };
  auto plainCopy = [&] {
    platform::OutputFile out;
    if (!out.Create(base + ".copy", platform::ReplacePolicy::kKeepExisting)) return 0.0;
    return plainPass(&out);
  };
  // The export's own reading: every record of the span through SpanReader.
  auto spanRead = [&] {
    const auto start = Clock::now();
    SpanReader span(disk, g);
    span.Start(summary.firstTime, int64_t{summary.lastTime} + 1);
    uint64_t got = 0;
    while (span.ReadSector(nullptr, [&](const SpanEntry &e) {
      got += e.entry.size;
      return true;
    }) == SpanReader::Step::kMore) {
    }
    return got ? double(bytes) / kMiB / Seconds(start) : 0.0;
  };
  DriveTable::SetProcess(DriveTable({options.outputPath}, "/nonexistent"));
  // CPU time of the whole process (every thread of the export) in ms.
  auto cpuMs = [] {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
  };
  double exportCpuMs = 0;
  auto exportRate = [&](ExportFormat format, const char *ext) {
    const double cpuStart = cpuMs();
    const auto start = Clock::now();
    ExportOptions exportOptions;
    exportOptions.format = format;
    CopyHDDThread copy(nullptr, 0, RecorderSecondsToSystemTime(summary.firstTime),
                       RecorderSecondsToSystemTime(int64_t{summary.lastTime} + 1), base + ext, {},
                       platform::ReplacePolicy::kKeepExisting, exportOptions);
    copy.WaitFor();
    if (copy.Failure() != CopyFailure::None) {
      std::fprintf(stderr, "export failed: %s\n", copy.ErrorText().c_str());
      return 0.0;
    }
    const double rate = double(bytes) / kMiB / Seconds(start);
    exportCpuMs = cpuMs() - cpuStart;
    return rate;
  };
  struct Figures {
    std::vector<double> read, span, copy, commitMs, clip, clipCpuMs, mkv, mkvCpuMs;
  };
  Figures warm, cold;
  // One run of every measurement; `prepare` sets the cache state before each.
  auto runAll = [&](Figures &f, const std::function<void()> &prepare) {
    auto measure = [&](std::vector<double> &into, const std::function<double()> &run) {
      removeOutputs();
      sync();
      prepare();
      into.push_back(run());
    };
    measure(f.read, plainRead);
    measure(f.span, spanRead);
    measure(f.copy, plainCopy);
    f.commitMs.push_back(commitSeconds * 1e3);
    measure(f.clip, [&] { return exportRate(ExportFormat::kClip, ".in"); });
    f.clipCpuMs.push_back(exportCpuMs);
    measure(f.mkv, [&] { return exportRate(ExportFormat::kMatroska, ".mkv"); });
    f.mkvCpuMs.push_back(exportCpuMs);
  };
  for (int round = 0; round < runs; ++round) {
    runAll(warm, [&] { plainRead(); });
    runAll(cold, dropImageCache);
  }
  removeOutputs();
  double load[3] = {};
  getloadavg(load, 3);
  std::printf(
      "sample: 60 s, 4 channels, %lld entries, %.1f MiB of index and records (medians of %d; "
      "load average %.2f %.2f %.2f)\n",
      static_cast<long long>(summary.entries), double(bytes) / kMiB, runs, load[0], load[1],
      load[2]);
  bool ok = true;
  for (const auto &[name, f] : {std::pair<const char *, const Figures &>{"page cache warm", warm},
                                {"page cache cold", cold}}) {
    const double read = Median(f.read), span = Median(f.span), copy = Median(f.copy),
                 clip = Median(f.clip), mkv = Median(f.mkv);
    const double copyMs = double(bytes) / kMiB / copy * 1e3;
    std::printf("  %s:\n", name);
    std::printf("    plain sequential read (1 MiB reads):      %6.0f MiB/s\n", read);
    std::printf("    the export's reading (span reader):       %6.0f MiB/s = %.2f of the read\n",
                span, span / read);
    std::printf(
        "    plain copy into one committed file:       %6.0f MiB/s (%.0f ms, fsync and rename "
        "%.0f ms of it)\n",
        copy, copyMs, Median(f.commitMs));
    std::printf(
        "    clip export (2 files and a manifest):     %6.0f MiB/s = %.2f of the read, %.2f of "
        "the copy (%.0f ms, %.0f ms CPU)\n",
        clip, clip / read, clip / copy, double(bytes) / kMiB / clip * 1e3, Median(f.clipCpuMs));
    std::printf(
        "    Matroska export (4 files and a manifest): %6.0f MiB/s = %.2f of the read, %.2f of "
        "the copy (%.0f ms, %.0f ms CPU)\n",
        mkv, mkv / read, mkv / copy, double(bytes) / kMiB / mkv * 1e3, Median(f.mkvCpuMs));
    ok = ok && read > 0 && span > 0 && copy > 0 && clip > 0 && mkv > 0;
  }
  std::filesystem::remove(options.outputPath);
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  std::string dir = "/tmp";
  bool sampleOnly = false;
  const int runs = test::RunsOption(argc, argv, 5);
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--sample")
      sampleOnly = true;
    else if (std::string(argv[i]) == "--runs")
      ++i;
    else
      dir = argv[i];
  }
  if (sampleOnly) return BenchSampleExports(dir, runs);
  const std::string image = dir + "/orvan-bench-" + std::to_string(getpid()) + ".img";
  const std::string clip = dir + "/orvan-bench-" + std::to_string(getpid()) + ".in";
  uint64_t exportBytes = 0;
  auto t0 = Clock::now();
  if (!MakeImage(image, exportBytes)) return 1;
  std::printf("image: %lld index entries, %.1f MiB of records, made in %.2f s\n",
              static_cast<long long>(kEntries), double(exportBytes) / kMiB, Seconds(t0));

  DiskSource disk;
  if (disk.OpenPath(image) != DriveOpenStatus::Ok) return 1;
  DiskGeometry g;
  if (ReadGeometry(disk, g) != GeometryStatus::Ok) return 1;

  // Search: targets spread over the whole recording.
  CountingSource counting(disk);
  constexpr int kSearches = 2000;
  uint64_t checksum = 0;
  t0 = Clock::now();
  for (int i = 0; i < kSearches; ++i) {
    const uint32_t target =
        uint32_t(kStart + (uint64_t(i) * 7919 * 13) % (kEntries / kEntriesPerSecond));
    checksum += uint64_t(SearchTime(counting, g, target));
  }
  const double searchSeconds = Seconds(t0);
  std::printf(
      "search: %d searches over %lld entries: %.1f us and %.1f sector reads per search (check "
      "%llu)\n",
      kSearches, static_cast<long long>(g.playEnd), searchSeconds * 1e6 / kSearches,
      double(counting.sectors) / kSearches, static_cast<unsigned long long>(checksum % 1000));

  // The play bar's map of the same index, as the window builds it on its
  // own thread when the disk opens: bounded by its entry reads.
  {
    CountingSource mapReads(disk);
    CRecordingMap map;
    t0 = Clock::now();
    map.BuildForDisk(mapReads, g);
    std::printf(
        "recording map: %d entry reads (%llu sectors) over %lld entries in %.1f ms, "
        "%zu gaps\n",
        map.Reads(), static_cast<unsigned long long>(mapReads.sectors),
        static_cast<long long>(g.playEnd), Seconds(t0) * 1e3, map.Gaps().size());
  }

  // Plain sequential read of the records' bytes, 1 MiB at a time, each
  // piece also written to `out` when given (the plain peer of an export).
  // MiB per second.
  auto plainPass = [&](tools::ImageFile *out) {
    std::vector<uint8_t> buffer(kMiB);
    const auto start = Clock::now();
    disk.Seek(g.dataBase);
    for (uint64_t at = 0; at < exportBytes; at += kMiB) {
      const size_t n = size_t(std::min<uint64_t>(
          kMiB, (exportBytes - at + kSectorBytes - 1) / kSectorBytes * kSectorBytes));
      if (!disk.Read(buffer.data(), n) || (out && !out->WriteAt(at, buffer.data(), n))) break;
    }
    if (out) out->Close();
    return double(exportBytes) / kMiB / Seconds(start);
  };
  auto plainRead = [&] { return plainPass(nullptr); };
  auto plainCopy = [&] {
    tools::ImageFile out;
    std::string error;
    if (!out.Create(clip + ".copy", &error)) return 0.0;
    const double rate = plainPass(&out);
    std::filesystem::remove(clip + ".copy");
    return rate;
  };
  plainRead();  // bring the bytes into the page cache, as the export will find them

  // Export through the copy thread: the same records plus their index.
  // Three rounds, each measurement started with no dirty pages behind it;
  // the medians are printed.
  DriveTable::SetProcess(DriveTable({image}, "/nonexistent"));
  const uint32_t endSeconds = uint32_t(kStart + kExportEntries / kEntriesPerSecond);
  std::vector<double> exportRates, readRates, copyRates;
  int64_t written = 0;
  for (int round = 0; round < 3; ++round) {
    sync();
    readRates.push_back(plainRead());
    sync();
    t0 = Clock::now();
    {
      // Each round replaces the clip of the round before.
      CopyHDDThread copy(nullptr, 0, RecorderSecondsToSystemTime(kStart),
                         RecorderSecondsToSystemTime(endSeconds), clip, {},
                         platform::ReplacePolicy::kReplaceExisting);
      copy.WaitFor();
      if (copy.Failure() != CopyFailure::None) {
        std::fprintf(stderr, "export failed: %s\n", copy.ErrorText().c_str());
        return 1;
      }
      written = copy.EntriesWritten();
    }
    exportRates.push_back(double(exportBytes) / kMiB / Seconds(t0));
    sync();
    copyRates.push_back(plainCopy());
  }
  const double exportRate = Median(exportRates), readRate = Median(readRates),
               copyRate = Median(copyRates);
  std::printf("export: %lld entries, %.1f MiB: %.0f MiB/s (median of 3)\n",
              static_cast<long long>(written), double(exportBytes) / kMiB, exportRate);
  std::printf("plain sequential read of the same bytes (1 MiB reads): %.0f MiB/s\n", readRate);
  std::printf("plain copy of the same bytes to a file (1 MiB reads and writes): %.0f MiB/s\n",
              copyRate);
  std::printf("export / plain read: %.2f, export / plain copy: %.2f\n", exportRate / readRate,
              exportRate / copyRate);

  std::filesystem::remove(image);
  std::filesystem::remove(clip);
  std::filesystem::remove(CompanionDataName(clip));
  std::filesystem::remove(ManifestPathOf(clip));
  return BenchSampleExports(dir, runs);
}
