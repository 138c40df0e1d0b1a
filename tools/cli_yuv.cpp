// "orvan-cli yuv": a recorder .yuv still as Image Play shows it, or its raw
// pixels (app/still_image_command.h).
#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/still_image_command.h"
#include "tools/cli_commands.h"
#include "tools/exit_codes.h"
#include "tools/json_writer.h"

namespace orvan::tools {
namespace {

struct YuvOptions {
  std::string input;
  std::string output;
  bool raw = false;
  CommonSwitches switches;  // --strict changes nothing: a still is read whole or refused
};

int RunYuv(const YuvOptions &o) {
  if (o.input.empty() || o.output.empty()) {
    std::fputs("usage: yuv FILE.yuv -o OUT.bmp [--json] [--raw] [--overwrite] [--strict]\n",
               stderr);
    return kExitError;
  }
  // The time stamp is drawn with Qt's fonts, which need the GUI
  // application object; no window is shown.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  int argc = 1;
  char name[] = "orvan-cli";
  char *argv[] = {name, nullptr};
  QGuiApplication app(argc, argv);
  app::StillFile written;
  std::string error;
  switch (app::WriteStillFile(o.input, o.output, o.raw, o.switches.Policy(), written, error)) {
    case app::StillFileStatus::kWritten:
      break;
    case app::StillFileStatus::kStillRefused:
      std::fprintf(stderr, "%s\n", error.c_str());
      return kExitRejected;
    case app::StillFileStatus::kNotWritten:
      std::fprintf(stderr, "%s\n", error.c_str());
      return kExitError;
  }
  if (o.switches.json) PrintJson({{"lines", written.lines}, {"time", written.time}});
  return kExitOk;
}

}  // namespace

void AddYuvCommand(CommandLine &cli) {
  auto o = std::make_shared<YuvOptions>();
  cli.AddCommand("yuv", "a still picture as Image Play shows it (or raw pixels)",
                 [o] { return RunYuv(*o); })
      .Positional("FILE.yuv", o->input, "a recorder still")
      .Text("-o,--output", o->output, "OUT.bmp", "the bitmap (or raw pixels) to write")
      .Flag("--raw", o->raw, "write the bare 720 x L conversion as B, G, R, 0 pixels")
      .Common(o->switches);
}

}  // namespace orvan::tools
