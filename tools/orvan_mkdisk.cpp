// orvan-mkdisk: writes a sample recorder disk image.
#include <cctype>
#include <chrono>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "platform/wintime.h"
#include "tools/command_line.h"
#include "tools/exit_codes.h"
#include "tools/sample_recording.h"

using orvan::tools::CommandLine;
using orvan::tools::SampleOptions;

namespace {

int Fail(const std::string &message) {
  std::fprintf(stderr, "orvan-mkdisk: %s\n", message.c_str());
  return orvan::tools::kExitError;
}

int MakeSample(const SampleOptions &o) {
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
  if (o.previousSeconds > 0)
    std::printf(
        "earlier recording: %lld entries, %lld left stale (%lld intact, %lld overwritten)\n",
        static_cast<long long>(s.previousIndexCount), static_cast<long long>(s.staleEntries),
        static_cast<long long>(s.staleIntact), static_cast<long long>(s.staleOverwritten));
  if (s.lostFirstEntry >= 0)
    std::printf("index entries %lld .. %lld lost (zeroed)\n",
                static_cast<long long>(s.lostFirstEntry), static_cast<long long>(s.lostLastEntry));
  return orvan::tools::kExitOk;
}

// A whole-number option of the sample; its one error for a missing or a
// bad value, as "--fps needs a number".
template <typename T>
void AddNumber(orvan::tools::Command &cmd, const std::string &name, T &target,
               const std::string &description, const std::string &needs = "needs a number") {
  const std::string error = name + " " + needs;
  cmd.Number(name, target, "N", description, error, std::numeric_limits<T>::lowest(),
             std::numeric_limits<T>::max(), error);
}

}  // namespace

int main(int argc, char **argv) {
  SampleOptions o;
  std::vector<std::string> images;  // accepted by every program; unused here
  CommandLine cli("orvan-mkdisk", "Writes a sample recorder disk image.", "orvan-mkdisk: ");
  cli.SetUnknownOptionText("unknown argument: ");
  cli.SetUnexpectedWordText("unknown argument: ");
  orvan::tools::Command &cmd = cli.Main();
  cmd.Text("-o,--output", o.outputPath, "PATH", "image file to write (replaced if it exists)",
           "-o needs a path");
  AddNumber(cmd, "--duration", o.durationSeconds, "length of the recording in seconds (default 60)",
            "needs whole seconds");
  cmd.Value(
      "--start", "WHEN", "first recorder time (default 2008-02-14 09:44:57)",
      [&o](const std::string &text, std::string &error) {
        uint32_t seconds = 0;
        if (!orvan::tools::ParseWhen(text, seconds, error)) {
          error = "--start needs \"YYYY-MM-DD hh:mm:ss\" or seconds";
          return false;
        }
        o.startSeconds = seconds;
        return true;
      },
      "--start needs \"YYYY-MM-DD hh:mm:ss\" or seconds");
  cmd.Value(
      "--codec", "mpeg4|mjpeg", "picture coding (default mpeg4)",
      [&o](const std::string &text, std::string &error) {
        if (text != "mpeg4" && text != "mjpeg") {
          error = "--codec is mpeg4 or mjpeg";
          return false;
        }
        o.codec = text == "mjpeg" ? SampleOptions::Codec::Mjpeg : SampleOptions::Codec::Mpeg4;
        return true;
      },
      "--codec is mpeg4 or mjpeg");
  cmd.Flag("--alt-types", o.altTypes, "record types 18/17 (MPEG-4) or 19 (MJPEG)");
  cmd.Flag("--quad", o.quad, "one channel carrying a 2 x 2 composed picture");
  AddNumber(cmd, "--fps", o.fps, "pictures per second per channel (default 8)");
  AddNumber(cmd, "--key-interval", o.keyInterval,
            "pictures between key pictures (default 2 x fps)");
  AddNumber(cmd, "--events", o.events, "event log records (default 12)");
  bool noAudio = false;
  cmd.Flag("--no-audio", noAudio, "no audio blocks");
  AddNumber(cmd, "--audio-delay", o.audioDelayMs,
            "pacing delay of every audio entry in ms (default: the block's own length)");
  AddNumber(cmd, "--state-slot", o.stateSlot, "state table slot of the valid entry (default 0)");
  AddNumber(cmd, "--index-mib", o.indexAreaMiB,
            "size of the index area in MiB (default: as needed)");
  AddNumber(cmd, "--gap", o.gapSeconds,
            "leave a span of N seconds without recording (default none)", "needs whole seconds");
  AddNumber(cmd, "--gap-at", o.gapAtSeconds,
            "where the gap starts, in seconds into the recording (default halfway)",
            "needs whole seconds");
  AddNumber(cmd, "--motion-at", o.motionAtSeconds,
            "a still scene that moves only from N seconds into the recording (default: "
            "moving all along)",
            "needs whole seconds");
  AddNumber(cmd, "--motion-seconds", o.motionSeconds,
            "how long the scene moves from --motion-at (default 0)", "needs whole seconds");
  AddNumber(cmd, "--loop", o.loopSeconds,
            "encode only the first N seconds and repeat their records for the rest "
            "(long recordings made quickly; records then repeat, not back to back)",
            "needs whole seconds");
  AddNumber(cmd, "--previous", o.previousSeconds,
            "write an earlier recording of N seconds first and this one over it, so part of "
            "the earlier one is left stale and intact and part overwritten",
            "needs whole seconds");
  cmd.Value(
      "--lose-index", "A:B",
      "zero index sectors A to B (counted from the index area's first sector) after writing",
      [&o](const std::string &text, std::string &error) {
        const size_t colon = text.find(':');
        int64_t a = -1, b = -1;
        if (colon == std::string::npos ||
            !orvan::tools::ParseWholeNumber(text.substr(0, colon), a) ||
            !orvan::tools::ParseWholeNumber(text.substr(colon + 1), b) || a < 0 || b < a) {
          error = "--lose-index needs two sector numbers A:B, A <= B";
          return false;
        }
        o.loseIndexFirst = a;
        o.loseIndexLast = b;
        return true;
      },
      "--lose-index needs two sector numbers A:B, A <= B");
  cmd.Value(
      "--size", "BYTES", "length of the image, sparse beyond what is written (K, M, G, T allowed)",
      [&o](const std::string &text, std::string &error) {
        uint64_t scale = 1;
        std::string digits = text;
        if (!digits.empty()) {
          const char unit = char(std::toupper(static_cast<unsigned char>(digits.back())));
          const std::string units = "KMGT";
          if (const size_t at = units.find(unit); at != std::string::npos) {
            scale = uint64_t{1} << (10 * (at + 1));
            digits.pop_back();
          }
        }
        int64_t value = 0;
        if (!orvan::tools::ParseWholeNumber(digits, value) || value < 0 ||
            uint64_t(value) > (uint64_t{1} << 50) / scale) {
          error = "--size needs a length in bytes (K, M, G, T allowed), at most 1 PiB";
          return false;
        }
        o.imageBytes = uint64_t(value) * scale;
        return true;
      },
      "--size needs a length in bytes");
  AddNumber(cmd, "--seed", o.seed, "seed of the recording's variations (default 1)");
  cmd.Images(images, true);
  cli.Footer(
      "WHEN is \"YYYY-MM-DD hh:mm:ss\" (recorder wall time) or a count of recorder seconds.\n"
      "The same options and seed always give the same image, byte for byte.");
  cli.SetRun([&] {
    if (o.outputPath.empty()) return cli.UsageFailure("no output image given (-o)");
    o.audio = !noAudio;
    return MakeSample(o);
  });
  return cli.Run(argc, argv);
}
