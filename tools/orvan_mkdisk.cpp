// orvan-mkdisk: writes a sample recorder disk image.
#include <charconv>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/disk_source.h"
#include "platform/wintime.h"
#include "tools/sample_recording.h"

namespace {

const char kUsage[] =
    "usage: orvan-mkdisk -o IMAGE [options]\n"
    "  -o, --output PATH     image file to write (replaced if it exists)\n"
    "  --duration SECONDS    length of the recording (default 60)\n"
    "  --start WHEN          first recorder time, \"YYYY-MM-DD hh:mm:ss\" or seconds\n"
    "                        (default 2008-02-14 09:44:57)\n"
    "  --codec mpeg4|mjpeg   picture coding (default mpeg4)\n"
    "  --alt-types           record types 18/17 (MPEG-4) or 19 (MJPEG)\n"
    "  --quad                one channel carrying a 2 x 2 composed picture\n"
    "  --fps N               pictures per second per channel (default 8)\n"
    "  --key-interval N      pictures between key pictures (default 2 x fps)\n"
    "  --events N            event log records (default 12)\n"
    "  --no-audio            no audio blocks\n"
    "  --state-slot N        state table slot of the valid entry (default 0)\n"
    "  --index-mib N         size of the index area in MiB (default: as needed)\n"
    "  --seed N              seed of the recording's variations (default 1)\n";

template <typename T>
bool ParseNumber(const std::string &text, T &value) {
  const char *end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && p == end;
}

int Fail(const std::string &message) {
  std::fprintf(stderr, "orvan-mkdisk: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<std::string> args(argv, argv + argc);
  orvan::TakeImageOptions(args);  // accepted by every program; unused here
  orvan::tools::SampleOptions o;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string &a = args[i];
    auto value = [&](std::string &out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string v;
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "-o" || a == "--output") {
      if (!value(o.outputPath)) return Fail("-o needs a path");
    } else if (a == "--duration") {
      if (!value(v) || !ParseNumber(v, o.durationSeconds))
        return Fail("--duration needs whole seconds");
    } else if (a == "--start") {
      int64_t s = 0;
      if (!value(v) || !orvan::ParseRecorderTime(v, s))
        return Fail("--start needs \"YYYY-MM-DD hh:mm:ss\" or seconds");
      o.startSeconds = s;
    } else if (a == "--codec") {
      if (!value(v) || (v != "mpeg4" && v != "mjpeg")) return Fail("--codec is mpeg4 or mjpeg");
      o.codec = v == "mjpeg" ? orvan::tools::SampleOptions::Codec::Mjpeg
                             : orvan::tools::SampleOptions::Codec::Mpeg4;
    } else if (a == "--alt-types") {
      o.altTypes = true;
    } else if (a == "--quad") {
      o.quad = true;
    } else if (a == "--fps") {
      if (!value(v) || !ParseNumber(v, o.fps)) return Fail("--fps needs a number");
    } else if (a == "--key-interval") {
      if (!value(v) || !ParseNumber(v, o.keyInterval)) return Fail("--key-interval needs a number");
    } else if (a == "--events") {
      if (!value(v) || !ParseNumber(v, o.events)) return Fail("--events needs a number");
    } else if (a == "--no-audio") {
      o.audio = false;
    } else if (a == "--state-slot") {
      if (!value(v) || !ParseNumber(v, o.stateSlot)) return Fail("--state-slot needs a number");
    } else if (a == "--index-mib") {
      if (!value(v) || !ParseNumber(v, o.indexAreaMiB)) return Fail("--index-mib needs a number");
    } else if (a == "--seed") {
      if (!value(v) || !ParseNumber(v, o.seed)) return Fail("--seed needs a number");
    } else {
      std::fputs(kUsage, stderr);
      return Fail("unknown argument: " + a);
    }
  }
  if (o.outputPath.empty()) {
    std::fputs(kUsage, stderr);
    return Fail("no output image given (-o)");
  }
  const auto began = std::chrono::steady_clock::now();
  orvan::tools::SampleSummary s;
  std::string error;
  if (!orvan::tools::MakeSampleRecording(o, s, &error)) return Fail(error);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  std::printf(
      "%s: %lld entries (%lld pictures, %lld audio blocks) + 300 tail, %s .. %s, "
      "%.1f MiB of records (largest %u bytes), image %.1f MiB, made in %.1f s\n",
      o.outputPath.c_str(), static_cast<long long>(s.entries), static_cast<long long>(s.pictures),
      static_cast<long long>(s.audioBlocks),
      orvan::FormatRecorderTime(int64_t{s.firstTime}).c_str(),
      orvan::FormatRecorderTime(int64_t{s.lastTime}).c_str(), double(s.dataBytes) / 1048576.0,
      s.largestRecord, double(s.imageBytes) / 1048576.0, seconds);
  return 0;
}
