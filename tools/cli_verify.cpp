// "orvan-cli verify NAME.manifest.json": reads every file an export's
// manifest lists and says OK or FAILED (size or hash) for each.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "recorder/export/export_manifest.h"
#include "tools/cli_commands.h"
#include "tools/exit_codes.h"
#include "tools/json_writer.h"

namespace orvan::tools {
namespace {

struct VerifyOptions {
  std::string manifest;
  bool json = false;
};

// Exit 0 when every file matches; kExitVerifyFailed when any does not, or
// the manifest itself cannot be read.
int RunVerify(const CommandLine &cli, const VerifyOptions &o) {
  if (o.manifest.empty()) return cli.UsageFailure("no manifest given");
  std::vector<recorder::VerifiedFile> files;
  std::string error;
  if (!recorder::VerifyManifest(o.manifest, files, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    if (o.json)
      PrintJson(
          {{"manifest", o.manifest}, {"ok", false}, {"error", error}, {"files", Json::array()}});
    return kExitVerifyFailed;
  }
  bool all = true;
  Json list = Json::array();
  for (const recorder::VerifiedFile &f : files) {
    all = all && f.ok;
    if (o.json) {
      list.push_back({{"name", f.name},
                      {"ok", f.ok},
                      {"problem", f.ok ? "" : f.problem},
                      {"expectedBytes", f.expectedBytes},
                      {"actualBytes", f.actualBytes},
                      {"expectedSha256", f.expectedSha256},
                      {"actualSha256", f.actualSha256}});
    } else {
      const std::string verdict = f.ok ? "OK" : "FAILED (" + f.problem + ")";
      std::printf("%-15s %s\n", verdict.c_str(), f.name.c_str());
    }
  }
  if (o.json) PrintJson({{"manifest", o.manifest}, {"ok", all}, {"files", std::move(list)}});
  return all ? kExitOk : kExitVerifyFailed;
}

}  // namespace

void AddVerifyCommand(CommandLine &cli) {
  auto o = std::make_shared<VerifyOptions>();
  cli.AddCommand("verify", "check every file of an export against its manifest",
                 [o, &cli] { return RunVerify(cli, *o); })
      .Positional("NAME.manifest.json", o->manifest, "the manifest an export wrote")
      .Flag("--json", o->json, "print the result as JSON")
      .Footer(
          "Each file the manifest lists is read from the manifest's folder and its length\n"
          "and SHA-256 compared. Exit 0 when every file matches, 4 when any does not or\n"
          "the manifest cannot be read.");
}

}  // namespace orvan::tools
