#include <gtest/gtest.h>

#include <fstream>

#include <jpeglib.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <cstdio>
#include <filesystem>
#include <vector>

#include "platform/av_handles.h"
#include "platform/wintime.h"
#include "tests/support/test_support.h"
#include "tests/tools/tool_runner.h"

using orvan::test::RunTool;

namespace {

// The value of "key": N in a flat JSON text (first occurrence after from).
long long JsonNumber(const std::string &json, const std::string &key, size_t from = 0) {
  const size_t at = json.find("\"" + key + "\": ", from);
  if (at == std::string::npos) return -1;
  return std::atoll(json.c_str() + at + key.size() + 4);
}

struct JpegSize {
  int width = 0, height = 0;
};

JpegSize ReadJpegSize(const std::string &path) {
  JpegSize size;
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) return size;
  jpeg_decompress_struct info;
  jpeg_error_mgr err;
  info.err = jpeg_std_error(&err);
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, f);
  if (jpeg_read_header(&info, TRUE) == JPEG_HEADER_OK) {
    size.width = int(info.image_width);
    size.height = int(info.image_height);
  }
  jpeg_destroy_decompress(&info);
  std::fclose(f);
  return size;
}

// The snapshot's pixels as R, G, B rows.
struct RgbPicture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
};

RgbPicture ReadJpeg(const std::string &path) {
  RgbPicture picture;
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) return picture;
  jpeg_decompress_struct info;
  jpeg_error_mgr err;
  info.err = jpeg_std_error(&err);
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, f);
  if (jpeg_read_header(&info, TRUE) == JPEG_HEADER_OK) {
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    picture.width = int(info.output_width);
    picture.height = int(info.output_height);
    picture.rgb.resize(size_t(picture.width) * picture.height * 3);
    while (info.output_scanline < info.output_height) {
      JSAMPROW row = &picture.rgb[size_t(info.output_scanline) * picture.width * 3];
      jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
  }
  jpeg_destroy_decompress(&info);
  std::fclose(f);
  return picture;
}

// The sample recordings tint each channel's scene with its own Cb, Cr.
constexpr int kTintCb[4] = {112, 150, 120, 140};
constexpr int kTintCr[4] = {140, 112, 100, 150};

// The channel whose tint is nearest the mean colour of the middle of a
// quarter of the panel (labels and borders left out); -1 when the quarter
// is the blue of a window with no picture.
int ChannelShownIn(const RgbPicture &p, int quarter) {
  const int x0 = (quarter % 2) * p.width / 2, y0 = (quarter / 2) * p.height / 2;
  double cb = 0, cr = 0;
  int n = 0;
  for (int y = y0 + p.height / 8; y < y0 + p.height / 2 - p.height / 8; y += 2)
    for (int x = x0 + p.width / 8; x < x0 + p.width / 2 - p.width / 8; x += 2) {
      const uint8_t *px = &p.rgb[(size_t(y) * p.width + x) * 3];
      cb += 128 - 0.168736 * px[0] - 0.331264 * px[1] + 0.5 * px[2];
      cr += 128 + 0.5 * px[0] - 0.418688 * px[1] - 0.081312 * px[2];
      ++n;
    }
  if (n == 0) return -1;
  cb /= n;
  cr /= n;
  if (cb > 200) return -1;  // blue: 255, 107
  int best = -1;
  double bestDistance = 1e9;
  for (int c = 0; c < 4; ++c) {
    const double d = (cb - kTintCb[c]) * (cb - kTintCb[c]) + (cr - kTintCr[c]) * (cr - kTintCr[c]);
    if (d < bestDistance) {
      bestDistance = d;
      best = c;
    }
  }
  return best;
}

// The per-channel objects of a play's JSON report, in channel order.
std::vector<size_t> ChannelReports(const std::string &json) {
  std::vector<size_t> at;
  for (int c = 0; c < 4; ++c) {
    const size_t found = json.find("{\"channel\": " + std::to_string(c));
    if (found == std::string::npos) return {};
    at.push_back(found);
  }
  return at;
}

class OrvanCliPlay : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = new orvan::test::TempDir;
    disk = dir->File("four.img");
    const auto r =
        RunTool("orvan-mkdisk", {"-o", disk, "--duration", "6", "--events", "2", "--seed", "3"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    mjpeg = dir->File("mjpeg.img");
    const auto m = RunTool("orvan-mkdisk", {"-o", mjpeg, "--codec", "mjpeg", "--duration", "8",
                                            "--events", "2", "--seed", "3"});
    ASSERT_EQ(m.exitCode, 0) << m.err;
    quad = dir->File("quad.img");
    const auto q =
        RunTool("orvan-mkdisk", {"-o", quad, "--duration", "4", "--quad", "--seed", "3"});
    ASSERT_EQ(q.exitCode, 0) << q.err;
  }
  static void TearDownTestSuite() { delete dir; }
  static orvan::test::TempDir *dir;
  static std::string disk, quad, mjpeg;
};
orvan::test::TempDir *OrvanCliPlay::dir = nullptr;
std::string OrvanCliPlay::disk, OrvanCliPlay::quad, OrvanCliPlay::mjpeg;

}  // namespace

TEST_F(OrvanCliPlay, wholeDisk_showsEveryChannelAndSnapshotsThePanel) {
  const std::string before = orvan::test::FileSha256(disk);
  ASSERT_FALSE(before.empty());
  const std::string jpg = dir->File("end.jpg");
  const auto r = RunTool("orvan-cli", {"play", disk, "--no-pacing", "--json", "--snapshot", jpg});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(JsonNumber(r.out, "layout"), 0);
  EXPECT_EQ(JsonNumber(r.out, "firstSeconds"), 1202982297);
  size_t at = 0;
  for (int c = 0; c < 4; ++c) {
    at = r.out.find("{\"channel\": " + std::to_string(c), at);
    ASSERT_NE(at, std::string::npos) << r.out;
    const long long delivered = JsonNumber(r.out, "delivered", at);
    EXPECT_GT(delivered, 0) << c;
    EXPECT_GT(JsonNumber(r.out, "decoded", at), 0) << c;
    EXPECT_GT(JsonNumber(r.out, "shown", at), 0) << c;
  }
  const JpegSize size = ReadJpegSize(jpg);
  EXPECT_EQ(size.width, 720);
  EXPECT_EQ(size.height, 480);
  EXPECT_EQ(orvan::test::FileSha256(disk), before);  // read-only
  // As the window's snapshot: the recorder time of the last picture shown
  // and the comment, read back by exiftool.
  const auto exif = orvan::test::RunProgram(
      "exiftool", {"-s", "-s", "-s", "-DateTimeOriginal", "-ImageDescription", "-Comment", jpg});
  ASSERT_EQ(exif.exitCode, 0) << exif.err;
  long long lastShown = 0;
  for (size_t at : ChannelReports(r.out))
    lastShown = std::max(lastShown, JsonNumber(r.out, "lastShown", at));
  const std::string last = orvan::FormatRecorderTime(int64_t(lastShown));
  const std::string exifTime =
      last.substr(0, 4) + ":" + last.substr(5, 2) + ":" + last.substr(8, 2) + " " + last.substr(11);
  const std::string comment = "ORVAN Viewer snapshot; source: orvan-cli play, " + disk +
                              "; channels: CH1 CH2 CH3 CH4; view: border trimmed";
  EXPECT_EQ(exif.out, exifTime + "\n" + comment + "\n" + comment + "\n");
}

// Pictures spoilt on the disk (its data overwritten with noise, the index
// intact) are counted per channel as decodeErrors; an intact disk has none.
TEST_F(OrvanCliPlay, damagedPictures_areCountedPerChannel_asDecodeErrors) {
  std::string bytes = orvan::test::ReadFileText(disk);
  ASSERT_GT(bytes.size(), size_t(3) << 20);
  uint32_t seed = 7;
  for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + (256 << 10); ++i) {
    seed = seed * 1103515245u + 12345u;
    bytes[i] = char(seed >> 16);
  }
  const std::string damaged = dir->File("noise.img");
  std::ofstream(damaged, std::ios::binary) << bytes;
  for (const auto &[path, spoilt] : {std::pair{disk, false}, std::pair{damaged, true}}) {
    const auto r = RunTool("orvan-cli", {"play", path, "--no-pacing", "--json"}, 120);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<size_t> reports = ChannelReports(r.out);
    ASSERT_EQ(reports.size(), 4u) << r.out;
    long long errors = 0;
    for (size_t at : reports) {
      ASSERT_NE(r.out.find("\"decodeErrors\": ", at), std::string::npos) << r.out;
      errors += JsonNumber(r.out, "decodeErrors", at);
    }
    EXPECT_EQ(errors > 0, spoilt) << path << ": " << r.out;
  }
}

TEST_F(OrvanCliPlay, mjpegWithAudio_pacedPlay_showsEveryChannelInItsQuarter_diskAndClip) {
  const std::string clip = dir->File("mjpeg-part.in");
  const auto e = RunTool("orvan-cli", {"export", mjpeg, "--from", "2008-02-14 09:44:57", "--to",
                                       "2008-02-14 09:45:04", "-o", clip});
  ASSERT_EQ(e.exitCode, 0) << e.err;
  for (const std::string &source : {mjpeg, clip}) {
    SCOPED_TRACE(source);
    const std::string jpg = dir->File("mjpeg.jpg");
    std::filesystem::remove(jpg);
    const auto r = RunTool(
        "orvan-cli", {"play", source, "--duration", "3", "--audio", "--json", "--snapshot", jpg});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_GT(JsonNumber(r.out, "audioBlocks"), 0);
    const std::vector<size_t> reports = ChannelReports(r.out);
    ASSERT_EQ(reports.size(), 4u) << r.out;
    for (int c = 0; c < 4; ++c) {
      // Described once: the decoder was opened once and never reset by
      // the audio blocks between the pictures.
      EXPECT_EQ(JsonNumber(r.out, "decoderOpens", reports[c]), 1) << c;
      EXPECT_GT(JsonNumber(r.out, "shown", reports[c]), 0) << c;
    }
    const RgbPicture snapshot = ReadJpeg(jpg);
    ASSERT_EQ(snapshot.width, 720);
    for (int q = 0; q < 4; ++q) EXPECT_EQ(ChannelShownIn(snapshot, q), q) << "quarter " << q;
  }
}

TEST_F(OrvanCliPlay, unpacedPlay_endsWhenEveryViewerShowsItsLastPicture) {
  for (const std::string &source : {mjpeg, disk}) {
    SCOPED_TRACE(source);
    const std::string jpg = dir->File("unpaced.jpg");
    const auto r = RunTool(
        "orvan-cli", {"play", source, "--no-pacing", "--json", "--snapshot", jpg, "--overwrite"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<size_t> reports = ChannelReports(r.out);
    ASSERT_EQ(reports.size(), 4u) << r.out;
    for (int c = 0; c < 4; ++c) {
      EXPECT_GT(JsonNumber(r.out, "shown", reports[c]), 0) << c;
      // The last picture handed to the viewer is the one on the screen.
      EXPECT_EQ(JsonNumber(r.out, "lastShown", reports[c]),
                JsonNumber(r.out, "lastDelivered", reports[c]))
          << c;
    }
    const RgbPicture snapshot = ReadJpeg(jpg);
    ASSERT_EQ(snapshot.width, 720);
    for (int q = 0; q < 4; ++q) EXPECT_EQ(ChannelShownIn(snapshot, q), q) << "quarter " << q;
  }
}

TEST_F(OrvanCliPlay, quadRecording_isShownInOneViewer) {
  const auto r = RunTool("orvan-cli", {"play", quad, "--no-pacing", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(JsonNumber(r.out, "layout"), 1);
  EXPECT_GT(JsonNumber(r.out, "shown"), 0);  // channel 0
}

TEST_F(OrvanCliPlay, fromAndDuration_startAtTheSearchedBlock) {
  const auto r = RunTool(
      "orvan-cli", {"play", disk, "--from", "2008-02-14 09:45:01", "--duration", "1", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const long long first = JsonNumber(r.out, "firstSeconds");
  EXPECT_GE(first, 1202982297);
  EXPECT_LE(first, 1202982301);
}

TEST_F(OrvanCliPlay, aviOfTheWholeRun_opensWithSevenPicturesASecond) {
  const std::string avi = dir->File("run.avi");
  const auto r = RunTool("orvan-cli", {"play", disk, "--duration", "3", "--avi", avi, "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_GT(JsonNumber(r.out, "aviPictures"), 5);
  AVFormatContext *raw = nullptr;
  ASSERT_EQ(avformat_open_input(&raw, avi.c_str(), nullptr, nullptr), 0);
  orvan::av::InputFormatContextPtr input(raw);
  ASSERT_GE(avformat_find_stream_info(input.get(), nullptr), 0);
  ASSERT_EQ(input->nb_streams, 2u);
  EXPECT_EQ(av_q2d(input->streams[0]->avg_frame_rate), 7.0);
  EXPECT_EQ(input->streams[1]->codecpar->sample_rate, 16000);
}

TEST_F(OrvanCliPlay, exportedClip_playsEveryChannel) {
  const std::string clip = dir->File("part.in");
  const auto e = RunTool("orvan-cli", {"export", disk, "--from", "2008-02-14 09:44:57", "--to",
                                       "2008-02-14 09:45:03", "-o", clip});
  ASSERT_EQ(e.exitCode, 0) << e.err;
  const auto r = RunTool("orvan-cli", {"play", clip, "--no-pacing", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(JsonNumber(r.out, "firstSeconds"), 1202982297);
  EXPECT_GT(JsonNumber(r.out, "shown"), 0);
}

TEST_F(OrvanCliPlay, badSources_endWithClearErrors) {
  const std::string shortClip = dir->File("short.in");
  {
    std::FILE *f = std::fopen(shortClip.c_str(), "wb");
    std::fputs("tiny", f);
    std::fclose(f);
  }
  {
    std::FILE *f = std::fopen(dir->File("short.da").c_str(), "wb");
    std::fclose(f);
  }
  const auto tooShort = RunTool("orvan-cli", {"play", shortClip});
  EXPECT_EQ(tooShort.exitCode, 2);
  EXPECT_NE(tooShort.err.find("The file too short to play video."), std::string::npos)
      << tooShort.err;

  const auto missing = RunTool("orvan-cli", {"play", dir->File("none.img")});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_FALSE(missing.err.empty());

  const std::string zeros = dir->File("zeros.img");
  {
    std::FILE *f = std::fopen(zeros.c_str(), "wb");
    std::vector<char> z(1 << 20);
    std::fwrite(z.data(), 1, z.size(), f);
    std::fclose(f);
  }
  const auto notDisk = RunTool("orvan-cli", {"play", zeros});
  EXPECT_EQ(notDisk.exitCode, 2);

  const auto usage = RunTool("orvan-cli", {"play", disk, "--bogus"});
  EXPECT_EQ(usage.exitCode, 1);
}

TEST(OrvanCliYuv, stillPictureToBitmap_andRefusedFileExits2) {
  orvan::test::TempDir dir;
  const std::string yuv = dir.File("still.yuv");
  {
    std::FILE *f = std::fopen(yuv.c_str(), "wb");
    const uint32_t header[2] = {0, 1202982297};  // 480 lines, recorder time
    std::fwrite(header, 4, 2, f);
    std::vector<uint8_t> samples(1080 * 480, 128);
    std::fwrite(samples.data(), 1, samples.size(), f);
    std::fclose(f);
  }
  const auto r = RunTool("orvan-cli", {"yuv", yuv, "-o", dir.File("still.bmp"), "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("\"lines\": 480"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("2008/02/14_09:44:57"), std::string::npos) << r.out;
  EXPECT_GT(std::filesystem::file_size(dir.File("still.bmp")), 720u * 480u * 4u);

  const auto refused =
      RunTool("orvan-cli", {"yuv", dir.File("still.bmp"), "-o", dir.File("x.bmp")});
  EXPECT_EQ(refused.exitCode, 2);
}
