#include "media/sound_device.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"

namespace {

// Sets environment variables for one test and puts back what was there.
class ScopedEnv {
 public:
  void Set(const char *name, const std::string &value) {
    const char *old = std::getenv(name);
    m_saved.push_back({name, old ? std::string(old) : std::string(), old != nullptr});
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
      if (it->had)
        setenv(it->name, it->value.c_str(), 1);
      else
        unsetenv(it->name);
    }
  }

 private:
  struct Saved {
    const char *name;
    std::string value;
    bool had;
  };
  std::vector<Saved> m_saved;
};

// PCM bytes with no zero byte, so silence the driver adds between records
// (all zero) can be told apart from what was written.
std::vector<uint8_t> Pcm(size_t bytes, int seed) {
  std::vector<uint8_t> out(bytes);
  for (size_t i = 0; i < bytes; ++i) out[i] = uint8_t(1 + (i * 7 + seed * 31) % 255);
  return out;
}

}  // namespace

TEST(SoundDeviceDisk, bytesPlayedEqualBytesWritten_inOrder_includingALongRecord) {
  orvan::test::TempDir dir;
  const std::string out = dir.File("played.raw");
  ScopedEnv env;
  env.Set("SDL_AUDIODRIVER", "disk");
  env.Set("SDL_DISKAUDIOFILE", out);
  env.Set("SDL_DISKAUDIODELAY", "2");

  std::vector<uint8_t> written;
  {
    CSoundDevice device;
    ASSERT_EQ(device.Open(2, 16, 16000), CSoundDevice::kOpenOk);
    EXPECT_TRUE(device.IsOpen());
    EXPECT_EQ(device.State(), CSoundDevice::kStateRun);
    const size_t sizes[] = {4000, 8197, 30000, 16, 0, 1200, 8198, 3000};
    int seed = 0;
    for (size_t size : sizes) {
      const auto record = Pcm(size, ++seed);
      device.Write(record.data(), uint32_t(record.size()));
      written.insert(written.end(), record.begin(), record.end());
    }
    EXPECT_EQ(device.DroppedRecords(), 0u);
    // Once the output has taken everything, closing it lets the driver
    // write the buffer it took last, and closes the file.
    ASSERT_TRUE(orvan::test::WaitUntil(
        [&] { return device.PendingBlocks() == 0 && device.QueuedBytes() == 0; }));
    EXPECT_EQ(device.Underruns(), 0u);
    device.Close();
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(device.State(), CSoundDevice::kStateEnded);
  }
  std::vector<uint8_t> played = orvan::test::ReadFileBytes(out);
  std::erase(played, uint8_t(0));
  ASSERT_EQ(played.size(), written.size());
  EXPECT_TRUE(played == written);
}

TEST(SoundDeviceOutput, startsOnlyOnceAPrefillIsQueued_andFillsAgainAfterRunningDry) {
  orvan::test::TempDir dir;
  ScopedEnv env;
  env.Set("SDL_AUDIODRIVER", "disk");
  env.Set("SDL_DISKAUDIOFILE", dir.File("prefill.raw"));
  env.Set("SDL_DISKAUDIODELAY", "2");
  // A stream never counts as ended here, however slow the machine.
  CSoundDevice device(128000, std::chrono::hours(1));
  ASSERT_EQ(device.Open(2, 16, 16000), CSoundDevice::kOpenOk);
  EXPECT_EQ(device.PrefillBytes(), 12800u);  // 200 ms of 16 kHz stereo
  const auto block = Pcm(2048, 1);           // 32 ms
  // Six blocks are 192 ms: all handed over, and the output still held.
  for (int i = 0; i < 6; ++i) device.Write(block.data(), uint32_t(block.size()));
  ASSERT_TRUE(orvan::test::WaitUntil([&] { return device.PendingBlocks() == 0; }));
  EXPECT_EQ(device.QueuedBytes(), 6u * 2048u);
  EXPECT_FALSE(device.OutputPlaying());
  // The seventh makes 224 ms: it plays, and the fast driver runs it dry.
  device.Write(block.data(), uint32_t(block.size()));
  ASSERT_TRUE(orvan::test::WaitUntil([&] { return device.QueuedBytes() == 0; }));
  ASSERT_TRUE(orvan::test::WaitUntil([&] { return !device.OutputPlaying(); }));
  EXPECT_EQ(device.Underruns(), 0u);  // nothing more came: no gap yet
  // The stream goes on: that was an underrun, and the output fills again.
  device.Write(block.data(), uint32_t(block.size()));
  ASSERT_TRUE(orvan::test::WaitUntil([&] { return device.Underruns() == 1; }));
  EXPECT_FALSE(device.OutputPlaying());
  EXPECT_EQ(device.QueuedBytes(), 2048u);
  // A reset starts a new stream: held until its prefill, and never an
  // underrun of the old one.
  device.Reset();
  for (int i = 0; i < 7; ++i) device.Write(block.data(), uint32_t(block.size()));
  ASSERT_TRUE(orvan::test::WaitUntil([&] { return device.QueuedBytes() == 0; }));
  EXPECT_EQ(device.Underruns(), 1u);
  device.Close();
}

TEST(SoundDeviceRing, longRecordTakesSeveralBlocks_zeroByteRecordTakesOne) {
  CSoundDevice device;
  ASSERT_EQ(device.Open(2, 16, 16000), CSoundDevice::kOpenOk);  // dummy driver
  const auto record = Pcm(3 * CSoundDevice::kBlockBytes + 1, 1);
  device.Write(record.data(), uint32_t(record.size()));
  EXPECT_EQ(device.WritePosition(), 4);
  const uint8_t none = 0;
  device.Write(&none, 0);
  EXPECT_EQ(device.WritePosition(), 5);
  // The feeder hands every block over, the empty one included.
  EXPECT_TRUE(orvan::test::WaitUntil([&] { return device.PlayPosition() == 5; }));
  device.Close();
}

TEST(SoundDeviceRing, fullRing_dropsTheNewRecord_andNeverOverwritesUnplayedBlocks) {
  orvan::test::TempDir dir;
  ScopedEnv env;
  env.Set("SDL_AUDIODRIVER", "disk");
  env.Set("SDL_DISKAUDIOFILE", dir.File("slow.raw"));
  env.Set("SDL_DISKAUDIODELAY", "400");  // a very slow output

  // The feeder holds back while the output has a byte queued, so blocks
  // pile up in the ring.
  CSoundDevice device(/*maxQueuedBytes=*/1);
  ASSERT_EQ(device.Open(2, 16, 16000), CSoundDevice::kOpenOk);
  const auto big = Pcm(2 * CSoundDevice::kBlockBytes, 3);
  device.Write(big.data(), uint32_t(big.size()));
  ASSERT_TRUE(orvan::test::WaitUntil([&] { return device.PlayPosition() >= 1; }));

  const auto small = Pcm(100, 4);
  int accepted = 0;
  while (device.DroppedRecords() == 0 && accepted < 200) {
    device.Write(small.data(), uint32_t(small.size()));
    if (device.DroppedRecords() == 0) ++accepted;
  }
  EXPECT_EQ(device.DroppedRecords(), 1u);
  EXPECT_EQ(device.PendingBlocks(), CSoundDevice::kBlockCount - 1);
  const int writeBefore = device.WritePosition();
  device.Write(small.data(), uint32_t(small.size()));
  EXPECT_EQ(device.WritePosition(), writeBefore);
  EXPECT_EQ(device.DroppedRecords(), 2u);

  // A record larger than the whole ring is dropped, never cut.
  device.Reset();
  const auto huge = Pcm(CSoundDevice::kBlockCount * CSoundDevice::kBlockBytes, 5);
  device.Write(huge.data(), uint32_t(huge.size()));
  EXPECT_EQ(device.WritePosition(), 0);
  EXPECT_EQ(device.DroppedRecords(), 3u);
  // A length that would wrap a 32-bit block count is dropped, not copied.
  device.Write(huge.data(), 0xFFFFFFFFu);
  EXPECT_EQ(device.WritePosition(), 0);
  EXPECT_EQ(device.DroppedRecords(), 4u);
  device.Close();
}

TEST(SoundDeviceRing, reset_skipsBlocksNotHandedOver_andTheNextWriteFillsBlock0) {
  orvan::test::TempDir dir;
  ScopedEnv env;
  env.Set("SDL_AUDIODRIVER", "disk");
  env.Set("SDL_DISKAUDIOFILE", dir.File("reset.raw"));
  env.Set("SDL_DISKAUDIODELAY", "400");
  CSoundDevice device(1);
  ASSERT_EQ(device.Open(2, 16, 16000), CSoundDevice::kOpenOk);
  const auto record = Pcm(CSoundDevice::kBlockBytes, 6);
  for (int i = 0; i < 5; ++i) device.Write(record.data(), uint32_t(record.size()));
  device.Reset();
  EXPECT_EQ(device.PlayPosition(), 0);
  EXPECT_EQ(device.WritePosition(), 0);
  EXPECT_EQ(device.PendingBlocks(), 0);
  device.Write(record.data(), 10);
  EXPECT_EQ(device.WritePosition(), 1);
  device.Close();
}

TEST(SoundDeviceOpen, withoutAnAudioDriver_openFails_andWritesDoNothing) {
  ScopedEnv env;
  env.Set("SDL_AUDIODRIVER", "no-such-driver");
  CSoundDevice device;
  EXPECT_EQ(device.Open(2, 16, 16000), CSoundDevice::kOpenNoDevice);
  EXPECT_FALSE(device.IsOpen());
  const auto record = Pcm(100, 1);
  EXPECT_EQ(device.Write(record.data(), 100), 0);
  EXPECT_EQ(device.WritePosition(), 0);
  device.Reset();
  device.Close();  // closes only what exists
  device.Close();
  EXPECT_FALSE(device.IsOpen());
}

TEST(SoundDeviceOpen, unsupportedFormat_isRefused_andTheDeviceOpensAgainAfterClose) {
  CSoundDevice device;
  EXPECT_EQ(device.Open(2, 12, 16000), CSoundDevice::kOpenFailed);
  EXPECT_FALSE(device.IsOpen());
  ASSERT_EQ(device.Open(2, 16, 16000), CSoundDevice::kOpenOk);
  device.Close();
  EXPECT_EQ(device.State(), CSoundDevice::kStateEnded);
  ASSERT_EQ(device.Open(2, 16, 16000), CSoundDevice::kOpenOk);
  EXPECT_EQ(device.State(), CSoundDevice::kStateRun);
  EXPECT_EQ(device.WritePosition(), 0);
  // The destructor closes a device left open.
}
