#include "app/core/configuration.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/output_file.h"

#ifndef ORVAN_VERSION_MAJOR
#error "the build sets the program version"
#endif

namespace orvan::app {

std::string ConfigurationFolder() {
  if (const char *xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) return xdg;
  if (const char *home = std::getenv("HOME"); home && *home)
    return (std::filesystem::path(home) / ".config").string();
  return ".";
}

std::string ConfigurationPath() {
  return (std::filesystem::path(ConfigurationFolder()) / "ORVANConfig.txt").string();
}

std::optional<int> ReadLanguageSetting(const std::string &path) {
  std::FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) return std::nullopt;
  const int byte = std::fgetc(f);
  std::fclose(f);
  if (byte == EOF) return std::nullopt;
  return byte == '1' ? 1 : 0;
}

bool WriteLanguageSetting(const std::string &path, int languageIndex) {
  std::error_code ec;
  const auto parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);
  // The setting replaces itself whole or not at all.
  const std::string digits = std::to_string(languageIndex);
  return platform::WriteOutputFile(path, digits.data(), 1,
                                   platform::ReplacePolicy::kReplaceExisting, nullptr);
}

std::string AboutText(int major, int minor, int release, int build) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "ZanthViewer\n\n ver. %d.%d.%d.%d", major, minor, release, build);
  return buf;
}

std::string ProgramVersionText() {
  return std::to_string(ORVAN_VERSION_MAJOR) + "." + std::to_string(ORVAN_VERSION_MINOR) + "." +
         std::to_string(ORVAN_VERSION_RELEASE) + "." + std::to_string(ORVAN_VERSION_BUILD);
}

std::string AboutText() {
  return AboutText(ORVAN_VERSION_MAJOR, ORVAN_VERSION_MINOR, ORVAN_VERSION_RELEASE,
                   ORVAN_VERSION_BUILD);
}

}  // namespace orvan::app
