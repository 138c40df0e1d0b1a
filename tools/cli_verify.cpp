#include "tools/cli_verify.h"

#include <cstdio>

#include "recorder/export_manifest.h"
#include "tools/cli_report.h"

namespace orvan::tools {

namespace {

const char kVerifyUsage[] = "usage: orvan-cli verify NAME.manifest.json [--json]\n";

std::string Verdict(const recorder::VerifiedFile &f) {
  return f.ok ? "OK" : "FAILED (" + f.problem + ")";
}

}  // namespace

int RunVerifyCommand(const std::vector<std::string> &args) {
  bool json = false;
  std::string manifest;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--json") {
      json = true;
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      std::fputs(kVerifyUsage, stderr);
      std::fprintf(stderr, "unknown option: %s\n", args[i].c_str());
      return kExitError;
    } else if (manifest.empty()) {
      manifest = args[i];
    } else {
      std::fputs(kVerifyUsage, stderr);
      return kExitError;
    }
  }
  if (manifest.empty()) {
    std::fputs(kVerifyUsage, stderr);
    std::fprintf(stderr, "no manifest given\n");
    return kExitError;
  }
  std::vector<recorder::VerifiedFile> files;
  std::string error;
  if (!recorder::VerifyManifest(manifest, files, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    if (json)
      std::printf("{\"manifest\": %s, \"ok\": false, \"error\": %s, \"files\": []}\n",
                  JsonText(manifest).c_str(), JsonText(error).c_str());
    return kExitVerifyFailed;
  }
  bool all = true;
  std::string out;
  for (const auto &f : files) {
    all = all && f.ok;
    if (json) {
      if (!out.empty()) out += ", ";
      out += "{\"name\": " + JsonText(f.name) + ", \"ok\": " + (f.ok ? "true" : "false") +
             ", \"problem\": " + JsonText(f.ok ? "" : f.problem) +
             ", \"expectedBytes\": " + std::to_string(f.expectedBytes) +
             ", \"actualBytes\": " + std::to_string(f.actualBytes) +
             ", \"expectedSha256\": " + JsonText(f.expectedSha256) +
             ", \"actualSha256\": " + JsonText(f.actualSha256) + "}";
    } else {
      std::printf("%-15s %s\n", Verdict(f).c_str(), f.name.c_str());
    }
  }
  if (json)
    std::printf("{\"manifest\": %s, \"ok\": %s, \"files\": [%s]}\n", JsonText(manifest).c_str(),
                all ? "true" : "false", out.c_str());
  return all ? kExitOk : kExitVerifyFailed;
}

}  // namespace orvan::tools
