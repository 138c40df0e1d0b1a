#include "recorder/export/frames_table.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

#include "platform/digest.h"

using namespace orvan::recorder;

namespace {

struct Table {
  std::string text;
  DiskGeometry geometry;
  TimingAnalysis timing;
  std::unique_ptr<FramesTable> table;
  explicit Table(FramesTable::Format format, bool hashes = true) {
    geometry.dataBase = 1048576;
    table = std::make_unique<FramesTable>(
        format,
        [this](const char *data, size_t length) {
          text.append(data, length);
          return true;
        },
        geometry, hashes, &timing);
  }
};

IndexEntry Entry(int8_t type, uint8_t channel, uint32_t size, uint64_t offset) {
  IndexEntry e;
  e.type = type;
  e.channel = channel;
  e.time = 1202982310;  // 2008/02/14_09:45:10
  e.delayMs = 40;
  e.size = size;
  e.offset = offset;
  return e;
}

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Hex(const std::vector<uint8_t> &bytes) { return orvan::platform::HexOf(bytes); }

}  // namespace

TEST(FramesTable, csvRows_sayWhatWhenWhereAndWhichBytes_andFlagRepeatsAndDamage) {
  Table t(FramesTable::Format::kCsv);
  const std::vector<uint8_t> record = {0, 0, 1, 0xB6, 0x10, 0x20};
  const std::vector<uint8_t> other = {0, 0, 1, 0xB6, 0x55};
  const IndexEntry key = Entry(kTypeKeyPicture, 2, 6, 512);
  const IndexEntry again = Entry(kTypePicture, 2, 6, 1024);
  const IndexEntry audio = Entry(kTypeAudio, 0, 5, 2048);
  const IndexEntry changed = Entry(kTypePicture, 2, 5, 4096);
  const IndexEntry lost = Entry(kTypePicture, 2, 6, 8192);
  ASSERT_TRUE(t.table->Begin());
  const Placement written{Placement::Kind::kWritten, 1234567};
  const Placement before{Placement::Kind::kBeforeStart, -1};
  ASSERT_TRUE(t.table->Row(SpanEntry{key, 1202982310040, record.data(), 7}, written));
  ASSERT_TRUE(t.table->Row(SpanEntry{again, 1202982310080, record.data(), 8}, before));
  ASSERT_TRUE(t.table->Row(SpanEntry{audio, 1202982310090, other.data(), 9}, written));
  ASSERT_TRUE(t.table->Row(SpanEntry{changed, 1202982310120, other.data(), 10}, written));
  ASSERT_TRUE(t.table->Row(SpanEntry{lost, 1202982310160, nullptr, 11, true},
                           Placement{Placement::Kind::kUnreadable, -1}));
  // A channel the export does not hold is no row.
  ASSERT_TRUE(t.table->Row(SpanEntry{key, 1202982310200, record.data(), 12},
                           Placement{Placement::Kind::kNotExported, -1}));
  ASSERT_TRUE(t.table->End());

  orvan::platform::Digest md5(orvan::platform::DigestKind::kMd5);
  md5.Update(record.data(), record.size());
  orvan::platform::Digest sha(orvan::platform::DigestKind::kSha256);
  sha.Update(record.data(), record.size());
  const std::string md5Text = Hex(md5.Final()), shaText = Hex(sha.Final());
  const auto lines = Lines(t.text);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], FramesTable::kCsvHeader);
  EXPECT_EQ(lines[1], "7,3,key,1202982310.040,2008/02/14_09:45:10.040,40,1.234567,1049088,6," +
                          md5Text + "," + shaText + ",,");
  EXPECT_EQ(lines[2], "8,3,predicted,1202982310.080,2008/02/14_09:45:10.080,40,,1049600,6," +
                          md5Text + "," + shaText + ",true,40");
  EXPECT_EQ(lines[3].substr(0, 60), "9,1,audio,1202982310.090,2008/02/14_09:45:10.090,40,1.234567");
  EXPECT_EQ(lines[3].substr(lines[3].size() - 2), ",,");  // no repeat or gap for audio
  EXPECT_NE(lines[4].find(",false,40"), std::string::npos) << lines[4];
  EXPECT_EQ(lines[5], "11,3,corrupt,1202982310.160,2008/02/14_09:45:10.160,40,,1056768,6,,,,40");
  EXPECT_EQ(t.table->Rows(), 5);
  EXPECT_EQ(t.table->CorruptRows(), 1);
}

TEST(FramesTable, jsonRows_carryTheSameNames_andTheTailAfterThem) {
  Table t(FramesTable::Format::kJson, /*hashes=*/false);
  const std::vector<uint8_t> junk = {1, 2, 3};
  const IndexEntry key = Entry(kTypeMjpegKey, 0, 3, 0);
  ASSERT_TRUE(t.table->Begin("\"source\":\"x\""));
  ASSERT_TRUE(t.table->Row(SpanEntry{key, 1202982310000, junk.data(), 0},
                           Placement{Placement::Kind::kCorrupt, -1}));
  ASSERT_TRUE(t.table->Row(SpanEntry{key, 1202982310500, junk.data(), 1},
                           Placement{Placement::Kind::kWritten, 0}));
  ASSERT_TRUE(t.table->End("\"rows\":2"));
  const auto j = nlohmann::json::parse(t.text, nullptr, false);
  ASSERT_TRUE(j.is_object()) << t.text;
  EXPECT_EQ(j["source"], "x");
  EXPECT_EQ(j["rows"], 2);
  ASSERT_EQ(j["frames"].size(), 2u);
  const auto &bad = j["frames"][0];
  EXPECT_EQ(bad["type"], "corrupt");
  EXPECT_EQ(bad["recordType"], kTypeMjpegKey);
  EXPECT_EQ(bad["damage"], "not what its entry says");
  EXPECT_TRUE(bad["md5"].is_null());  // no hashes asked for
  EXPECT_TRUE(bad["exportSeconds"].is_null());
  const auto &good = j["frames"][1];
  EXPECT_EQ(good["type"], "MJPEG");
  EXPECT_EQ(good["channel"], 1);
  EXPECT_DOUBLE_EQ(good["seconds"].get<double>(), 1202982310.5);
  EXPECT_EQ(good["time"], "2008/02/14_09:45:10.500");
  EXPECT_EQ(good["exportSeconds"], 0.0);
  EXPECT_EQ(good["offset"], 1048576);
  EXPECT_EQ(good["gapBeforeMs"], 500);
  EXPECT_TRUE(good["sameAsPrevious"].is_null());
}
