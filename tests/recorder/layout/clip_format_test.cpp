#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "recorder/layout/clip_format.h"
#include "tests/recorder/image_helpers.h"
#include "tests/support/test_support.h"

using namespace orvan;
using namespace orvan::recorder;

namespace {

std::vector<uint8_t> IndexFileBytes(const std::vector<IndexEntry> &entries, uint32_t magic,
                                    uint32_t count, bool trailer = true) {
  std::vector<uint8_t> bytes(20 * entries.size());
  for (size_t i = 0; i < entries.size(); ++i) entries[i].Serialize(bytes.data() + 20 * i);
  if (trailer) {
    uint8_t t[12] = {};
    StoreU32(t, magic);
    StoreU32(t + 4, count);
    bytes.insert(bytes.end(), t, t + 12);
  }
  return bytes;
}

std::vector<IndexEntry> Entries(size_t n) {
  std::vector<IndexEntry> v(n);
  for (size_t i = 0; i < n; ++i) {
    v[i].type = 1;
    v[i].time = uint32_t(1202982297 + i);
    v[i].size = 10;
    v[i].offset = 1000 + 10 * i;
  }
  return v;
}

ClipStatus Parse(const std::vector<uint8_t> &file, ClipTrailer &t) {
  if (file.size() < 2048) return ParseClipTrailer(file.size(), {}, t);
  return ParseClipTrailer(file.size(), std::span(file).subspan(file.size() - 2048), t);
}

}  // namespace

TEST(ClipTrailer, 102EntriesArePlayable_101AreTooShort) {
  ClipTrailer t;
  auto file = IndexFileBytes(Entries(102), kClipMagicInterleaved, 102);
  ASSERT_EQ(file.size(), 2052u);
  ASSERT_EQ(Parse(file, t), ClipStatus::Ok);
  EXPECT_EQ(t.count, 102u);
  EXPECT_EQ(t.layout, 0);
  file = IndexFileBytes(Entries(101), kClipMagicSingle, 101);
  ASSERT_EQ(file.size(), 2032u);
  EXPECT_EQ(Parse(file, t), ClipStatus::TooShort);
  EXPECT_EQ(std::string(kClipTooShortText), "The file too short to play video.");
}

TEST(ClipTrailer, missingTrailerOrWrongCount_isRejected) {
  ClipTrailer t;
  EXPECT_EQ(Parse(IndexFileBytes(Entries(200), 0, 0, false), t), ClipStatus::NoMagic);
  EXPECT_EQ(Parse(IndexFileBytes(Entries(200), kClipMagicSingle, 199), t), ClipStatus::BadCount);
  // A magic in the very last word has no count behind it.
  auto file = IndexFileBytes(Entries(200), 0, 0, false);
  StoreU32(file.data() + file.size() - 4, kClipMagicSingle);
  EXPECT_EQ(Parse(file, t), ClipStatus::BadCount);
}

TEST(ClipTrailer, aFalseMagicInAnEntry_doesNotHideTheRealTrailer) {
  auto entries = Entries(150);
  entries[148].time = kClipMagicInterleaved;  // inside the last 2048 bytes
  entries[149].offset = kClipMagicSingle;
  ClipTrailer t;
  ASSERT_EQ(Parse(IndexFileBytes(entries, kClipMagicSingle, 150), t), ClipStatus::Ok);
  EXPECT_EQ(t.magic, kClipMagicSingle);
  EXPECT_EQ(t.count, 150u);
  EXPECT_EQ(t.layout, 1);
  EXPECT_EQ(t.countOffset, 20u * 150 + 4);
}

TEST(ClipNames, companionCutsTheFileNameAtItsFirstDotIn) {
  EXPECT_EQ(CompanionDataName("clip.in"), "clip.da");
  EXPECT_EQ(CompanionDataName("/x/a.in.in"), "/x/a.da");
  EXPECT_EQ(CompanionDataName("/x/CLIP.IN"), "/x/CLIP.IN.da");
  EXPECT_EQ(CompanionDataName("/my.inbox/clip.in"), "/my.inbox/clip.da");
  EXPECT_EQ(CompanionDataName("/x/noext"), "/x/noext.da");
  SYSTEMTIME st{2008, 3, 0, 5, 7, 8, 9, 0};
  EXPECT_EQ(DefaultClipName(st), "20080305_070809.in");
  EXPECT_EQ(CompanionDataName(DefaultClipName(st)), "20080305_070809.da");
}

TEST(ClipFiles, writtenClip_readsBackEntryByEntry) {
  test::TempDir dir;
  CClipWriter w;
  std::string error;
  ASSERT_TRUE(w.Create(dir.File("c.in"), platform::ReplacePolicy::kKeepExisting, &error)) << error;
  auto entries = Entries(120);
  std::vector<uint8_t> data(10);
  for (size_t i = 0; i < entries.size(); ++i) {
    for (size_t b = 0; b < 10; ++b) data[b] = uint8_t(i + b);
    ASSERT_TRUE(w.WriteEntry(entries[i], data.data()));
  }
  ASSERT_TRUE(w.WriteTrailer(kClipMagicInterleaved, 120));
  w.Close();
  EXPECT_EQ(test::ReadFileBytes(dir.File("c.in")).size(), 20u * 120 + 12);
  EXPECT_EQ(test::ReadFileBytes(dir.File("c.da")).size(), 1200u);

  CClipReader r;
  ASSERT_TRUE(r.Open(dir.File("c.in")));
  ClipTrailer t;
  ASSERT_EQ(r.ReadClipTrailer(t), ClipStatus::Ok);
  EXPECT_EQ(t.count, 120u);
  IndexEntry first, e;
  ASSERT_TRUE(r.ReadEntry(0, first));
  ASSERT_TRUE(r.ReadEntry(77, e));
  EXPECT_EQ(e, entries[77]);
  std::vector<uint8_t> buf(kMaxRecordBytes);
  ASSERT_TRUE(r.ReadRecord(e, first.offset, buf.data()));
  EXPECT_EQ(buf[0], 77);
  EXPECT_EQ(buf[9], 86);
  // Hostile entries: before the base, larger than the buffer, past the end.
  e.offset = first.offset - 1;
  EXPECT_FALSE(r.ReadRecord(e, first.offset, buf.data()));
  e.offset = first.offset;
  e.size = kMaxRecordBytes + 1;
  EXPECT_FALSE(r.ReadRecord(e, first.offset, buf.data()));
  e.size = 100;
  e.offset = first.offset + 1150;
  EXPECT_FALSE(r.ReadRecord(e, first.offset, buf.data()));
  EXPECT_FALSE(r.ReadEntry(1000, e));
  EXPECT_FALSE(r.ReadEntry(~0ull, e));

  // Without the data file the clip does not open.
  std::filesystem::remove(dir.File("c.da"));
  EXPECT_FALSE(r.Open(dir.File("c.in")));
}

// The refusal the window and orvan-cli clip both give: an I/O error is
// told apart from a refused clip.
TEST(ClipFiles, refusal_namesTheIndexFile_andTellsAnUnreadableOneApart) {
  test::TempDir dir;
  bool unreadable = false;
  EXPECT_EQ(ClipRefusal(CClipReader(), "x.in", &unreadable), "Cannot read x.in");
  EXPECT_TRUE(unreadable);
  std::ofstream(dir.File("s.in")) << std::string(2032, '\0');
  CClipReader shortClip;
  ASSERT_TRUE(shortClip.OpenIndexOnly(dir.File("s.in")));
  EXPECT_EQ(ClipRefusal(shortClip, dir.File("s.in"), &unreadable),
            dir.File("s.in") + ": The file too short to play video.");
  EXPECT_FALSE(unreadable);
}

TEST(ClipFiles, writerRefusesDevicesAndTheDiskBeingRead) {
  test::TempDir dir;
  std::ofstream(dir.File("disk.img")) << "VORN";
  DiskSource src;
  ASSERT_EQ(src.OpenPath(dir.File("disk.img")), DriveOpenStatus::Ok);
  CClipWriter w;
  std::string error;
  const auto replace = platform::ReplacePolicy::kReplaceExisting;
  EXPECT_FALSE(w.Create("/dev/null", replace, &error));
  EXPECT_NE(error.find("it is a device"), std::string::npos) << error;
  // As the index file: it is the disk being read, replacing allowed or not.
  EXPECT_FALSE(w.Create(dir.File("disk.img"), replace, &error));
  EXPECT_EQ(error, "refusing to write " + dir.File("disk.img") + ": it is the source being read (" +
                       dir.File("disk.img") + ")");
  EXPECT_EQ(test::ReadFileBytes(dir.File("disk.img")).size(), 4u);
  // As the data file: refused before the index file is made.
  std::filesystem::rename(dir.File("disk.img"), dir.File("x.da"));
  DiskSource src2;
  ASSERT_EQ(src2.OpenPath(dir.File("x.da")), DriveOpenStatus::Ok);
  EXPECT_FALSE(w.Create(dir.File("x.in"), replace, &error));
  EXPECT_EQ(test::ReadFileBytes(dir.File("x.da")).size(), 4u);
  EXPECT_FALSE(std::filesystem::exists(dir.File("x.in")));
}

TEST(ClipFiles, abandonedOrFailedWriter_leavesNoClip_andKeepsExistingFiles) {
  test::TempDir dir;
  std::ofstream(dir.File("old.in")) << "old index";
  std::ofstream(dir.File("old.da")) << "old data";
  std::vector<uint8_t> data(10, 5);
  {
    CClipWriter w;
    std::string error;
    EXPECT_FALSE(w.Create(dir.File("old.in"), platform::ReplacePolicy::kKeepExisting, &error));
    EXPECT_NE(error.find("the file exists"), std::string::npos) << error;
    ASSERT_TRUE(w.Create(dir.File("old.in"), platform::ReplacePolicy::kReplaceExisting, &error));
    ASSERT_TRUE(w.WriteEntry(Entries(1)[0], data.data()));
    // Destroyed before Close: nothing replaced, no temporary left.
  }
  EXPECT_EQ(test::ReadFileBytes(dir.File("old.in")).size(), 9u);
  EXPECT_EQ(test::ReadFileBytes(dir.File("old.da")).size(), 8u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                          std::filesystem::directory_iterator()),
            2);
  // A clip finished whole replaces both.
  CClipWriter w;
  std::string error;
  ASSERT_TRUE(w.Create(dir.File("old.in"), platform::ReplacePolicy::kReplaceExisting, &error));
  ASSERT_TRUE(w.WriteEntry(Entries(1)[0], data.data()));
  ASSERT_TRUE(w.WriteTrailer(kClipMagicSingle, 1));
  ASSERT_TRUE(w.Close(&error)) << error;
  EXPECT_EQ(test::ReadFileBytes(dir.File("old.in")).size(), 20u + 12u);
  EXPECT_EQ(test::ReadFileBytes(dir.File("old.da")).size(), 10u);
}
