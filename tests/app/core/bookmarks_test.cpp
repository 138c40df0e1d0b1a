#include "app/core/bookmarks.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <fstream>

#include "platform/digest.h"

using namespace orvan::app;

namespace {
std::filesystem::path FreshFolder(const char *name) {
  const auto dir = std::filesystem::temp_directory_path() /
                   (std::string("orvan-bookmarks-") + name + "-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}
}  // namespace

TEST(Bookmarks, keptPerSourceInTheirFolder_comeBackInTimeOrder_withNotesOfAnyText) {
  const auto dir = FreshFolder("store");
  const std::string folder = (dir / "config").string();
  CBookmarks marks;
  marks.Open(folder, "1234-abcd");
  ASSERT_TRUE(marks.IsOpen());
  EXPECT_TRUE(marks.List().empty());
  EXPECT_TRUE(marks.Add({200, 5000, 2, "plate\tAB 123\nsecond line \\ end", "p.png"}));
  EXPECT_TRUE(marks.Add({100, 10, -1, "", ""}));
  EXPECT_TRUE(marks.Add({150, 800, 0, "face", ""}));
  EXPECT_TRUE(std::filesystem::exists(marks.ListPath()));
  EXPECT_EQ(std::filesystem::path(marks.ListPath()).parent_path(), std::filesystem::path(folder));

  CBookmarks again;
  again.Open(folder, "1234-abcd");
  ASSERT_EQ(again.List().size(), 3u);
  EXPECT_EQ(again.List()[0].seconds, 100u);
  EXPECT_EQ(again.List()[0].channel, -1);
  EXPECT_EQ(again.List()[1].note, "face");
  EXPECT_EQ(again.List()[2].note, "plate\tAB 123\nsecond line \\ end");
  EXPECT_EQ(again.List()[2].entry, 5000);
  EXPECT_EQ(again.List()[2].thumbnail, "p.png");
  // Edits and deletions are written at once.
  EXPECT_TRUE(again.SetNote(1, "face, left"));
  EXPECT_TRUE(again.Remove(0));
  CBookmarks third;
  third.Open(folder, "1234-abcd");
  ASSERT_EQ(third.List().size(), 2u);
  EXPECT_EQ(third.List()[0].note, "face, left");
  EXPECT_FALSE(third.Remove(7));
  // Another source has its own list.
  CBookmarks other;
  other.Open(folder, "99-ffff");
  EXPECT_TRUE(other.List().empty());
  std::filesystem::remove_all(dir);
}

TEST(Bookmarks, damagedListLines_areLeftOut_andPicturesNeverNamePaths) {
  const std::string text =
      "ORVAN bookmarks 1\n"
      "10\t1\t0\t\tgood\n"
      "x\t1\t0\t\tbad seconds\n"
      "11\t1\t9\t\tbad channel\n"
      "12\t1\n"
      "99999999999\t1\t0\t\ttoo late\n"
      "13\t2\t1\t../../etc/passwd\tpath picture\n";
  const auto list = CBookmarks::Parse(text);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].note, "good");
  EXPECT_EQ(list[1].note, "path picture");
  EXPECT_TRUE(list[1].thumbnail.empty());
  EXPECT_TRUE(CBookmarks::Parse("something else\n10\t1\t0\t\tx\n").empty());
  EXPECT_EQ(CBookmarks::Parse(CBookmarks::Serialize(list)).size(), 2u);
}

TEST(Bookmarks, sourceIdentity_isTheSizeAndTheFirstMebibytesDigest) {
  const auto dir = FreshFolder("identity");
  const auto path = (dir / "disk.img").string();
  std::string bytes(kIdentityBytes + 4096, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 7);
  std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
  orvan::platform::Sha256 sha;
  sha.Update(bytes.data(), kIdentityBytes);
  EXPECT_EQ(SourceIdentity(path),
            std::to_string(bytes.size()) + "-" + orvan::platform::HexOf(sha.Final()));
  // Beyond the first MiB nothing counts; inside it every byte does.
  const std::string first = SourceIdentity(path);
  bytes.back() = 'x';
  std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
  EXPECT_EQ(SourceIdentity(path), first);
  bytes[kIdentityBytes - 1] ^= 1;
  std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
  EXPECT_NE(SourceIdentity(path), first);
  EXPECT_EQ(SourceIdentity((dir / "missing").string()), "");
  std::filesystem::remove_all(dir);
}
