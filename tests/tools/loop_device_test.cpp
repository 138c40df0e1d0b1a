// The whole road of a pulled disk, on a real block device: a sample image
// attached read-only to a loop device is found by discovery among the
// machine's disks (/sys/block), and plays, exports and hashes exactly as the
// image itself does. Needs root and loop devices; skipped elsewhere.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include <nlohmann/json.hpp>

#include "tests/support/test_support.h"
#include "tests/tools/tool_runner.h"

using Json = nlohmann::json;

namespace {

Json ParseJson(const std::string &text) {
  return Json::parse(text, nullptr, /*allow_exceptions=*/false);
}

// An image attached read-only to a free loop device, detached again with
// the object (also when the test failed).
class LoopDevice {
 public:
  explicit LoopDevice(const std::string &image) {
    const auto r =
        orvan::test::RunProgram("losetup", {"--find", "--show", "--read-only", image}, 60);
    if (r.exitCode == 0 && r.out.rfind("/dev/loop", 0) == 0) {
      m_path = r.out.substr(0, r.out.find('\n'));
    } else {
      m_error = r.err;
    }
  }
  ~LoopDevice() {
    if (!m_path.empty()) orvan::test::RunProgram("losetup", {"-d", m_path}, 60);
  }
  LoopDevice(const LoopDevice &) = delete;
  LoopDevice &operator=(const LoopDevice &) = delete;
  const std::string &Path() const { return m_path; }
  const std::string &Error() const { return m_error; }

 private:
  std::string m_path, m_error;
};

std::string WhyNoLoopDevices() {
  if (geteuid() != 0) return "not running as root";
  if (!std::filesystem::exists("/dev/loop-control")) return "no /dev/loop-control";
  if (orvan::test::RunProgram("losetup", {"--version"}, 30).exitCode != 0)
    return "losetup is not installed";
  return {};
}

TEST(LoopDevice, attachedSampleImage_isFoundAsARecorderDisk_andPlaysExportsAndHashesAsTheImage) {
  const std::string why = WhyNoLoopDevices();
  if (!why.empty()) GTEST_SKIP() << "no loop devices to attach an image to: " << why;
  orvan::test::TempDir dir;
  const std::string image = dir.File("pulled.img");
  ASSERT_EQ(orvan::test::RunTool("orvan-mkdisk", {"-o", image, "--duration", "20"}).exitCode, 0);
  ASSERT_EQ(std::filesystem::file_size(image) % 512, 0u);
  LoopDevice loop(image);
  if (loop.Path().empty()) GTEST_SKIP() << "losetup could not attach the image: " << loop.Error();

  // Discovery: the machine's disks, as the window and "drives" list them.
  const auto drives = orvan::test::RunTool("orvan-cli", {"drives", "--json"});
  ASSERT_EQ(drives.exitCode, 0) << drives.err;
  int drive = -1;
  for (const Json &d : ParseJson(drives.out))
    if (d["path"] == loop.Path()) {
      EXPECT_TRUE(d["recorder"].get<bool>()) << drives.out;
      drive = d["drive"].get<int>();
    }
  ASSERT_GE(drive, 0) << loop.Path() << " is not listed: " << drives.out;

  // Hashes: the device's bytes are the image's.
  const auto imageHash = orvan::test::RunTool("orvan-cli", {"hash", image, "--json"});
  const auto deviceHash = orvan::test::RunTool("orvan-cli", {"hash", loop.Path(), "--json"});
  ASSERT_EQ(deviceHash.exitCode, 0) << deviceHash.err;
  EXPECT_EQ(ParseJson(deviceHash.out)["sha256"], ParseJson(imageHash.out)["sha256"]);

  // Exports by drive number and of the image: the same files.
  const auto fromImage = orvan::test::RunTool(
      "orvan-cli",
      {"export", image, "--from", "0", "--to", "4000000000", "-o", dir.File("image.in"), "--json"});
  const auto fromDevice = orvan::test::RunTool(
      "orvan-cli", {"export", "--drive", std::to_string(drive), "--from", "0", "--to", "4000000000",
                    "-o", dir.File("device.in"), "--json"});
  ASSERT_EQ(fromDevice.exitCode, 0) << fromDevice.err;
  const Json a = ParseJson(fromImage.out), b = ParseJson(fromDevice.out);
  EXPECT_EQ(b["entries"], a["entries"]);
  ASSERT_EQ(a["files"].size(), b["files"].size());
  for (size_t i = 0; i < a["files"].size(); ++i)
    EXPECT_EQ(b["files"][i]["sha256"], a["files"][i]["sha256"]) << i;
  EXPECT_TRUE(b["complete"].get<bool>());
  const Json manifest = ParseJson(orvan::test::ReadFileText(dir.File("device.manifest.json")));
  EXPECT_EQ(manifest["source"]["kind"], "block device");

  // Play: the same span, the same pictures shown (where orvan-cli plays:
  // builds without the widgets have no play command).
  if (orvan::test::RunTool("orvan-cli", {"help"}).out.find("\n  play") == std::string::npos) return;
  const auto playImage =
      orvan::test::RunTool("orvan-cli", {"play", image, "--no-pacing", "--json"}, 300);
  const auto playDevice =
      orvan::test::RunTool("orvan-cli", {"play", loop.Path(), "--no-pacing", "--json"}, 300);
  ASSERT_EQ(playDevice.exitCode, 0) << playDevice.err;
  const Json p = ParseJson(playImage.out), q = ParseJson(playDevice.out);
  EXPECT_EQ(q["firstSeconds"], p["firstSeconds"]);
  EXPECT_EQ(q["lastSeconds"], p["lastSeconds"]);
  for (size_t c = 0; c < 4; ++c)
    EXPECT_EQ(q["channels"][c]["delivered"], p["channels"][c]["delivered"]) << c;
  EXPECT_TRUE(q["lost"].empty());
}

}  // namespace
