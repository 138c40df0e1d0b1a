// The one remembered setting: the interface language, stored as a single
// decimal digit ("0" English, "1" Russian, no newline) in ORVANConfig.txt in
// the user's configuration folder.
#pragma once

#include <optional>
#include <string>

namespace orvan::app {

// The folder of the configuration (and of the case logs): $XDG_CONFIG_HOME,
// else ~/.config.
std::string ConfigurationFolder();

// $XDG_CONFIG_HOME/ORVANConfig.txt, else ~/.config/ORVANConfig.txt.
std::string ConfigurationPath();

// The stored language: nullopt when the file is missing, unreadable or
// empty (the window keeps its designed captions); 1 for "1"; 0 for "0" and
// for any other byte, which is read as English.
std::optional<int> ReadLanguageSetting(const std::string &path);

// Writes the first character of the index's decimal text. False when the
// file cannot be written (the caller carries on silently).
bool WriteLanguageSetting(const std::string &path, int languageIndex);

// "ZanthViewer\n\n ver. 1.0.14.0" for the program's version.
std::string AboutText(int major, int minor, int release, int build);
// The about text of this build's version.
std::string AboutText();
// This build's version as the About box gives it ("1.0.14.0").
std::string ProgramVersionText();

}  // namespace orvan::app
