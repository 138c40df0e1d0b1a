#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "app/core/configuration.h"
#include "app/core/language.h"
#include "app/core/window_rules.h"
#include "tests/support/test_support.h"

using namespace orvan::app;

namespace {
void WriteFile(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}
}  // namespace

TEST(LanguageFile, missingFileOrKey_givesZero) {
  const LanguageTexts none = ReadLanguageFile("/nonexistent/Language_Russian.ini");
  EXPECT_FALSE(none.fileFound);
  for (size_t k = 0; k < kTextKeyCount; ++k) EXPECT_EQ(none.values[k], "0");

  orvan::test::TempDir dir;
  WriteFile(dir.File("l.ini"), "[STRINGS]\nPlay=Go\n");
  const LanguageTexts some = ReadLanguageFile(dir.File("l.ini"));
  EXPECT_TRUE(some.fileFound);
  EXPECT_EQ(some.Get(TextKey::Play), "Go");
  EXPECT_EQ(some.Get(TextKey::Pause), "0");
}

TEST(LanguageFile, readsOnlySectionStringsWithIniRules) {
  orvan::test::TempDir dir;
  WriteFile(dir.File("l.ini"),
            "Play=outside\r\n[Other]\r\nPause=other section\r\n"
            "[ strings ]\r\n; comment\r\n  pause  =  \"Quoted text\"  \r\n"
            "Warning=first\r\nWarning=second\r\nnot a key line\r\nClose_Player=\r\n");
  const LanguageTexts t = ReadLanguageFile(dir.File("l.ini"));
  EXPECT_EQ(t.Get(TextKey::Play), "0");
  EXPECT_EQ(t.Get(TextKey::Pause), "Quoted text");
  EXPECT_EQ(t.Get(TextKey::Warning), "first");
  EXPECT_EQ(t.Get(TextKey::Close_Player), "");
}

TEST(LanguageFile, utf8AndWindowsCyrillicFilesGiveTheSameTexts) {
  orvan::test::TempDir dir;
  WriteFile(dir.File("utf8.ini"),
            "\xEF\xBB\xBF[STRINGS]\nPause=\xD0\x9F\xD0\xB0\xD1\x83\xD0\xB7\xD0\xB0\n");
  // "Пауза" in code page 1251, and "ё" (0xB8).
  WriteFile(dir.File("cp1251.ini"),
            "[STRINGS]\nPause=\xCF\xE0\xF3\xE7\xE0\nForward=\xC2\xEF\xE5\xF0\xB8\xE4\n");
  EXPECT_EQ(ReadLanguageFile(dir.File("utf8.ini")).Get(TextKey::Pause), "Пауза");
  const LanguageTexts cp = ReadLanguageFile(dir.File("cp1251.ini"));
  EXPECT_EQ(cp.Get(TextKey::Pause), "Пауза");
  EXPECT_EQ(cp.Get(TextKey::Forward), "Вперёд");
}

TEST(LanguageFile, shippedRussianFileHasEveryKey) {
  const LanguageTexts t = ReadLanguageFile(orvan::test::SourceDir() + "/app/Language_Russian.ini");
  ASSERT_TRUE(t.fileFound);
  for (size_t k = 0; k < kTextKeyCount; ++k) {
    EXPECT_NE(t.values[k], "0") << TextKeyName(static_cast<TextKey>(k));
    EXPECT_FALSE(t.values[k].empty()) << TextKeyName(static_cast<TextKey>(k));
  }
  EXPECT_EQ(t.Get(TextKey::Pause), "Пауза");
}

// Every English text of the table has its own Russian one, with the same
// values to fill in; Latin letters are left only in names (AVI, MP4,
// Matroska, ORVAN, the key caps Ctrl, Esc, PgUp, PgDn) and the file
// patterns.
TEST(LanguageFile, shippedRussianTexts_fillTheSameValues_inRussianWords) {
  const LanguageTexts t = ReadLanguageFile(orvan::test::SourceDir() + "/app/Language_Russian.ini");
  const std::vector<std::string> names = {
      "AVI",    "MP4",    "Matroska", "ORVAN", "Ctrl", "Esc", "PgUp", "PgDn", "IN",
      "YUV",    "JPEG",   "E01",      "in",    "mkv",  "mp4", "F11",  "F",    "UTC",
      "FFmpeg", "libewf", "SHA",      "MD5",   "html", "pdf", "Enter"};
  for (size_t k = 0; k < kTextKeyCount; ++k) {
    const std::string russian = t.values[k];
    const std::string english(EnglishText(static_cast<TextKey>(k)));
    const char *key = TextKeyName(static_cast<TextKey>(k)).data();
    for (const char *mark : {"%1", "%2", "%3", "%4"})
      EXPECT_EQ(english.find(mark) == std::string::npos, russian.find(mark) == std::string::npos)
          << key << " " << mark;
    std::string word;
    auto checkWord = [&] {
      // One letter alone is a key's cap (Ctrl+S).
      if (word.size() > 1)
        EXPECT_NE(std::find(names.begin(), names.end(), word), names.end()) << key << ": " << word;
      word.clear();
    };
    for (const char c : russian + " ") {
      if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
          (!word.empty() && c >= '0' && c <= '9'))
        word += c;
      else
        checkWord();
    }
  }
  EXPECT_EQ(t.Get(TextKey::Copy_complete).find('\n') != std::string::npos, true);
}

TEST(Utf8, validationRejectsBrokenSequences) {
  EXPECT_TRUE(IsValidUtf8("plain"));
  EXPECT_TRUE(IsValidUtf8("Пауза"));
  EXPECT_FALSE(IsValidUtf8("\xCF\xE0"));      // 1251 bytes
  EXPECT_FALSE(IsValidUtf8("\xD0"));          // cut short at the end
  EXPECT_FALSE(IsValidUtf8("\xC0\x80"));      // overlong
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));  // surrogate
}

TEST(EnglishTexts, fixedCaptions) {
  EXPECT_EQ(EnglishText(TextKey::Snapshot), "SnapShot");
  EXPECT_EQ(EnglishText(TextKey::Time_search), "Time Search");
  // Messages have English words of their own too.
  EXPECT_EQ(EnglishText(TextKey::Warning), "Warning");
  EXPECT_EQ(EnglishText(TextKey::Close_Player), "Close the player?");
  EXPECT_EQ(TextKeyName(TextKey::ThiswillstopHDDplaycontinue), "ThiswillstopHDDplaycontinue");
}

TEST(EnglishTexts, diskStoppedAnswering_hasAnEnglishTextAndARussianOne) {
  EXPECT_EQ(EnglishText(TextKey::DiskStoppedAnswering), "The disk stopped answering");
  const LanguageTexts t = ReadLanguageFile(orvan::test::SourceDir() + "/app/Language_Russian.ini");
  EXPECT_EQ(t.Get(TextKey::DiskStoppedAnswering), "Диск перестал отвечать");
  EXPECT_EQ(CaptionFor(TextKey::DiskStoppedAnswering, 0, t), "The disk stopped answering");
  EXPECT_EQ(CaptionFor(TextKey::DiskStoppedAnswering, 1, t), "Диск перестал отвечать");
}

TEST(Configuration, languageByteIsWrittenAndReadBack) {
  orvan::test::TempDir dir;
  const std::string path = dir.File("sub/ORVANConfig.txt");
  EXPECT_FALSE(ReadLanguageSetting(path).has_value());  // missing: designed captions
  ASSERT_TRUE(WriteLanguageSetting(path, 1));
  EXPECT_EQ(ReadLanguageSetting(path), 1);
  ASSERT_TRUE(WriteLanguageSetting(path, 0));
  std::string content = orvan::test::ReadFileText(path);
  EXPECT_EQ(content, "0");  // one byte, no newline
  EXPECT_EQ(ReadLanguageSetting(path), 0);

  WriteFile(path, "-");
  EXPECT_EQ(ReadLanguageSetting(path), 0);  // not a 0 or 1: English
  WriteFile(path, "7");
  EXPECT_EQ(ReadLanguageSetting(path), 0);
  WriteFile(path, "");
  EXPECT_FALSE(ReadLanguageSetting(path).has_value());
  EXPECT_FALSE(WriteLanguageSetting(dir.File("sub/ORVANConfig.txt/x"), 1));  // not writable
}

TEST(Configuration, pathFollowsXdgConfigHome) {
  const char *saved = std::getenv("XDG_CONFIG_HOME");
  const std::string keep = saved ? saved : "";
  setenv("XDG_CONFIG_HOME", "/tmp/xdg-test", 1);
  EXPECT_EQ(ConfigurationPath(), "/tmp/xdg-test/ORVANConfig.txt");
  if (saved)
    setenv("XDG_CONFIG_HOME", keep.c_str(), 1);
  else
    unsetenv("XDG_CONFIG_HOME");
}

TEST(About, versionText) {
  EXPECT_EQ(AboutText(1, 0, 14, 0), "ZanthViewer\n\n ver. 1.0.14.0");
  EXPECT_EQ(AboutText(), "ZanthViewer\n\n ver. 1.0.14.0");
}

TEST(LanguageFile, foundBesideTheProgram_elseInTheInstalledDataFolder) {
  if (std::filesystem::exists("Language_Russian.ini")) GTEST_SKIP() << "one in the working folder";
  orvan::test::TempDir root;
  const std::string bin = root.File("usr/bin");
  const std::string data = root.File("usr/share/orvan-viewer");
  std::filesystem::create_directories(bin);
  std::filesystem::create_directories(data);
  EXPECT_EQ(FindLanguageFile(bin), "");
  WriteFile(data + "/Language_Russian.ini", "[STRINGS]\n");
  EXPECT_EQ(std::filesystem::weakly_canonical(FindLanguageFile(bin)),
            std::filesystem::path(data) / "Language_Russian.ini");
  WriteFile(bin + "/Language_Russian.ini", "[STRINGS]\n");
  EXPECT_EQ(FindLanguageFile(bin), bin + "/Language_Russian.ini");
  EXPECT_EQ(FindLanguageFile(""), "");
}
