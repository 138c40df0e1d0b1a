// "orvan-cli hash": SHA-256 and MD5 of a whole source (a raw image, a block
// device, or the disk inside an E01) in one pass; for an E01 also whether
// the hashes stored in it match its data.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>

#include "platform/disk_source.h"
#include "platform/ewf_image.h"
#include "platform/source_hash.h"
#include "tools/cli_commands.h"
#include "tools/cli_report.h"
#include "tools/exit_codes.h"
#include "tools/json_writer.h"

namespace orvan::tools {

namespace {

struct HashCommandOptions {
  SourceArg source;
  CommonSwitches switches;  // --overwrite changes nothing: hash writes no file
};

std::string MegabytesPerSecond(double bytes, double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB/s", seconds > 0 ? bytes / seconds / 1e6 : 0.0);
  return text;
}

std::string Clock(double seconds) {
  const long s = long(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  return text;
}

// "hashing: 42% 310.5 MB/s, 0:00:12 left", redrawn in place on a terminal.
class ProgressLine {
 public:
  explicit ProgressLine(uint64_t total) : m_total(total), m_shown(isatty(STDERR_FILENO) == 1) {}
  void Update(uint64_t done) {
    if (!m_shown) return;
    const auto now = std::chrono::steady_clock::now();
    if (done < m_total && now - m_last < std::chrono::milliseconds(250)) return;
    m_last = now;
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    const double rate = seconds > 0 ? double(done) / seconds : 0;
    const std::string left = rate > 0 ? Clock(double(m_total - done) / rate) : "?";
    std::fprintf(stderr, "\rhashing: %3d%% %s, %s left   ",
                 m_total ? int(done * 100 / m_total) : 100,
                 MegabytesPerSecond(double(done), seconds).c_str(), left.c_str());
    std::fflush(stderr);
    m_drawn = true;
  }
  // Clears the line, so what follows starts on a clean one.
  void Clear() {
    if (m_drawn) std::fprintf(stderr, "\r%60s\r", "");
  }

 private:
  uint64_t m_total;
  bool m_shown;
  bool m_drawn = false;
  std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point m_last{};
};

// "matches" or "DOES NOT MATCH" for a stored hash; nothing stored: empty.
struct StoredCheck {
  std::string name;  // "MD5", "SHA-1"
  std::string stored, computed;
  bool Matches() const { return stored == computed; }
};

int RunHash(const HashCommandOptions &o) {
  ResolvedSource where;
  std::string error;
  if (!ResolveSource(o.source, "SOURCE", where, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return kExitError;
  }
  const std::string &path = where.path;
  DiskSource source;
  if (source.OpenPath(path) != DriveOpenStatus::Ok) {
    std::fprintf(stderr, "%s\n", source.LastError().c_str());
    return kExitError;
  }
  const platform::EwfImage *ewf = source.Ewf();
  const uint64_t total = source.SizeBytes();
  platform::HashOptions options;
  options.sha1 = ewf && !ewf->StoredSha1().empty();
  ProgressLine progress(total);
  options.progress = [&](uint64_t done) { progress.Update(done); };
  const auto started = std::chrono::steady_clock::now();
  const platform::SourceHashes hashes = platform::HashSource(source, options);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  progress.Clear();

  DamageReport damage;
  for (const ByteRange &r : hashes.unreadable)
    damage.losses.Add(
        recorder::LostPart{recorder::LostPart::What::kSectors, -1, -1, r.offset, r.bytes});
  damage.readErrors = hashes.unreadableSectors;
  damage.diskGone = hashes.gone;
  for (const std::string &e : hashes.readErrors) damage.Warn(e);
  if (!hashes.complete)
    damage.Warn("only " + std::to_string(hashes.bytes) + " of " + std::to_string(total) +
                " bytes were hashed");
  std::vector<StoredCheck> checks;
  if (ewf) {
    if (!ewf->StoredMd5().empty()) checks.push_back({"MD5", ewf->StoredMd5(), hashes.md5});
    if (!ewf->StoredSha1().empty()) checks.push_back({"SHA-1", ewf->StoredSha1(), hashes.sha1});
    for (const StoredCheck &c : checks)
      if (!c.Matches())
        damage.Warn("the " + c.name + " stored in " + path + " does not match its data");
  }
  bool allMatch = true;
  for (const StoredCheck &c : checks) allMatch = allMatch && c.Matches();
  const std::string kind = ewf ? "e01" : "raw";

  if (o.switches.json) {
    Json out = {{"source", path}, {"kind", kind}};
    if (ewf) out["segments"] = ewf->SegmentPaths();
    out["bytes"] = hashes.bytes;
    out["sha256"] = hashes.sha256;
    out["md5"] = hashes.md5;
    if (options.sha1) out["sha1"] = hashes.sha1;
    if (ewf) {
      Json stored = Json::object();
      for (const StoredCheck &c : checks) stored[c.name == "MD5" ? "md5" : "sha1"] = c.stored;
      out["stored"] = stored;
      out["storedMatch"] = checks.empty() ? Json(nullptr) : Json(allMatch);
    }
    out["unreadableSectors"] = hashes.unreadableSectors;
    out["seconds"] = seconds;
    damage.AddTo(out);
    PrintJson(out);
  } else {
    std::printf("source   %s", path.c_str());
    if (ewf)
      std::printf(" (E01 image, %zu segment file%s)", ewf->SegmentPaths().size(),
                  ewf->SegmentPaths().size() == 1 ? "" : "s");
    std::printf("\nbytes    %llu\nSHA-256  %s\nMD5      %s\n",
                static_cast<unsigned long long>(hashes.bytes), hashes.sha256.c_str(),
                hashes.md5.c_str());
    if (options.sha1) std::printf("SHA-1    %s\n", hashes.sha1.c_str());
    if (ewf && checks.empty()) std::printf("stored   none: the image holds no hash\n");
    for (const StoredCheck &c : checks)
      std::printf("stored %-6s %s: %s\n", c.name.c_str(), c.stored.c_str(),
                  c.Matches() ? "matches" : "DOES NOT MATCH the data");
    if (hashes.unreadableSectors)
      std::printf("unreadable %llu sectors, hashed as zeros\n",
                  static_cast<unsigned long long>(hashes.unreadableSectors));
    std::printf("time     %.2f s, %s\n", seconds,
                MegabytesPerSecond(double(hashes.bytes), seconds).c_str());
  }
  return damage.Finish(kExitOk, o.switches.strict);
}

}  // namespace

void AddHashCommand(CommandLine &cli) {
  auto o = std::make_shared<HashCommandOptions>();
  cli.AddCommand("hash", "SHA-256 and MD5 of a whole image, device or E01",
                 [o] { return RunHash(*o); })
      .Source(o->source, "SOURCE", "a raw image, a block device or an E01 image")
      .Common(o->switches)
      .TooMany("more than one SOURCE")
      .Footer(
          "SHA-256 and MD5 of the whole source in one pass; for an E01, of the disk it holds,\n"
          "and the hashes stored in it are compared with its data. A progress line is shown\n"
          "on a terminal only. Unreadable sectors are hashed as zeros and said.");
}

}  // namespace orvan::tools
