// Interface texts. English is fixed in the program; the Russian captions,
// and the message texts in both languages, come from the language file's
// section "STRINGS", read once at start. A missing key, or a missing file,
// gives the text "0".
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace orvan::app {

// The keys of section "STRINGS", in the order of LanguageTexts::values.
enum class TextKey {
  File_Select,
  Load_File,
  Play,
  Pause,
  Forward,
  Backup,
  Save_AVI,
  Stop_AVI,
  Copy,
  Snapshot,
  Search,
  Time_search,
  Event_search,
  Full_screen,
  PlayAudio,
  Language,
  Close,
  Source_select,
  HDD_Play,
  File_Play,
  Image_Play,
  Exit,
  About,
  Warning,
  Close_Player,
  CantdetectHDDdevice,
  ThiswillstopHDDplaycontinue,
  DiskStoppedAnswering,
  Count
};

constexpr size_t kTextKeyCount = static_cast<size_t>(TextKey::Count);

// The key's name in the file ("File_Select", ...).
std::string_view TextKeyName(TextKey key);
// The fixed English text of the place the key captions; empty for the
// recorder's own message keys, which have no English text of their own.
// DiskStoppedAnswering, a message of this program's, has one.
std::string_view EnglishText(TextKey key);

// The texts read from the file, as UTF-8.
struct LanguageTexts {
  std::array<std::string, kTextKeyCount> values;
  bool fileFound = false;
  std::string path;  // the file that was read, if any

  LanguageTexts();  // every text "0"
  const std::string &Get(TextKey key) const { return values[static_cast<size_t>(key)]; }
};

// Reads section "STRINGS" of an INI file. Keys match without regard to
// case; values are trimmed and lose one pair of surrounding quotes. The
// file may be UTF-8 (with or without a byte-order mark) or in the Windows
// Cyrillic code page (1251), as the recorder's own PCs write it.
LanguageTexts ReadLanguageFile(const std::string &path);

// Where "Language_Russian.ini" is taken from: the working directory, else
// beside the program (the build tree), else the installed data folder
// reached from the program's folder (`programDir`/../share/orvan-viewer
// with the usual layout, so an unpacked package finds it too). "" if none
// is there.
std::string FindLanguageFile(const std::string &programDir);

// The texts of FindLanguageFile(ProgramDirectory()), else all "0".
LanguageTexts LoadLanguageTexts();

// Windows-1251 bytes to UTF-8.
std::string Cp1251ToUtf8(std::string_view bytes);
bool IsValidUtf8(std::string_view bytes);

// The folder of the running program ("" if unknown).
std::string ProgramDirectory();

}  // namespace orvan::app
