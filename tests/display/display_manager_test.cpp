#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "display/display_manager.h"
#include "display/video_window.h"
#include "tests/display/helpers/display_fixture.h"

using orvan::test::DisplayFixture;

namespace {
CMultiMonitor OneMonitor(int w, int h) {
  ScreenDevice d;
  d.handle = 0x42;
  d.name = "test";
  d.geometry = RECT{0, 0, w, h};
  d.available = d.geometry;
  d.primary = true;
  return CMultiMonitor({d});
}
}  // namespace

TEST(CDisplayManager, init_makesThePrimaryCompositionSurfaceMonitorSizedAndBlack) {
  const CMultiMonitor monitors = OneMonitor(1024, 768);
  CVideoWindow panel;
  CDisplayManager manager(nullptr, &panel, &monitors);
  std::shared_ptr<CPixelSurface> back = manager.GetBackSurface(0x42);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Width(), 1024);
  EXPECT_EQ(back->Height(), 768);
  EXPECT_EQ(back->BitCount(), 32);
  for (size_t i = 0; i < back->SizeBytes(); ++i) ASSERT_EQ(back->Bits()[i], 0) << i;
  EXPECT_EQ(manager.GetBackSurface(0x42), back);  // made once
  EXPECT_NE(manager.GetDirectDraw(&panel), nullptr);
}

TEST(CDisplayManager, aMonitorWithoutDevice_leavesNoDeviceAndNoSurface) {
  ScreenDevice good{0x1, "good", RECT{0, 0, 800, 600}, RECT{0, 0, 800, 600}, true};
  ScreenDevice huge{0x2, "huge", RECT{0, 0, 40000, 600}, RECT{0, 0, 40000, 600}, false};
  const CMultiMonitor monitors({good, huge});
  CVideoWindow panel;
  CDisplayManager manager(nullptr, &panel, &monitors);
  EXPECT_EQ(manager.GetDirectDraw(&panel), nullptr);
  EXPECT_EQ(manager.GetBackSurface(0x1), nullptr);
  int w = 0, h = 0;
  EXPECT_EQ(manager.Capture(nullptr, 0, &w, &h, nullptr), -1);
}

TEST(CDisplayManager, captureQuery_reportsBytesAndSizeOfThePanel) {
  DisplayFixture fixture(720, 480);
  int w = 0, h = 0;
  EXPECT_EQ(DisplayManager->Capture(nullptr, 0, &w, &h, nullptr), 1382400);
  EXPECT_EQ(w, 720);
  EXPECT_EQ(h, 480);
}

TEST(CDisplayManager, captureFill_copiesThePanelsPartAsPackedRowsWithFormat) {
  DisplayFixture fixture(720, 480);
  std::shared_ptr<CPixelSurface> back =
      DisplayManager->GetBackSurface(DisplayManager->MonitorFromWindow(&fixture.Panel()));
  ASSERT_TRUE(back);
  {
    std::lock_guard pixels(back->PixelLock());
    for (int y = 0; y < 480; ++y) {
      auto *row = reinterpret_cast<uint32_t *>(back->Bits() + size_t(y) * back->Pitch());
      for (int x = 0; x < 720; ++x) row[x] = uint32_t(y) << 16 | uint32_t(x);
    }
  }
  std::vector<uint8_t> buffer(720 * 480 * 4 + 16, 0xEE);
  int w = 0, h = 0;
  CaptureFormat format;
  ASSERT_EQ(DisplayManager->Capture(buffer.data(), buffer.size(), &w, &h, &format), 0);
  EXPECT_EQ(format.nFormat, kCaptureRgb32);
  EXPECT_EQ(format.bYuv, 0);
  EXPECT_EQ(format.nBitCount, 32);
  for (int y : {0, 1, 239, 479}) {
    for (int x : {0, 1, 500, 719}) {
      uint32_t v;
      std::memcpy(&v, buffer.data() + (size_t(y) * 720 + x) * 4, 4);
      EXPECT_EQ(v, uint32_t(y) << 16 | uint32_t(x)) << x << "," << y;
    }
  }
  for (size_t i = 720 * 480 * 4; i < buffer.size(); ++i)
    ASSERT_EQ(buffer[i], 0xEE);  // nothing beyond
}

TEST(CDisplayManager, captureAfterResize_neverWritesMoreThanTheQueryReported) {
  DisplayFixture fixture(720, 480);
  int w = 0, h = 0;
  const int small = DisplayManager->Capture(nullptr, 0, &w, &h, nullptr);
  std::vector<uint8_t> buffer(size_t(small) + 64, 0xEE);
  ASSERT_EQ(DisplayManager->Capture(buffer.data(), size_t(small), &w, &h, nullptr), 0);

  fixture.Panel().SetGeometry(RECT{0, 0, 800, 600});  // the panel grows
  EXPECT_EQ(DisplayManager->Capture(buffer.data(), size_t(small), &w, &h, nullptr), -1);
  for (size_t i = size_t(small); i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xEE);

  const int large = DisplayManager->Capture(nullptr, 0, &w, &h, nullptr);
  EXPECT_EQ(large, 800 * 600 * 4);
  std::vector<uint8_t> big(static_cast<size_t>(large));
  ASSERT_EQ(DisplayManager->Capture(big.data(), big.size(), &w, &h, nullptr), 0);
  EXPECT_EQ(w, 800);
  EXPECT_EQ(h, 600);

  fixture.Panel().SetGeometry(RECT{0, 0, 360, 240});  // and shrinks: a smaller fill fits
  ASSERT_EQ(DisplayManager->Capture(big.data(), big.size(), &w, &h, nullptr), 0);
  EXPECT_EQ(w * h * 4, DisplayManager->Capture(nullptr, 0, &w, &h, nullptr));
}

TEST(CDisplayManager, anEmptyPanel_capturesNothing) {
  DisplayFixture fixture(0, 0);
  int w = -1, h = -1;
  EXPECT_EQ(DisplayManager->Capture(nullptr, 0, &w, &h, nullptr), 0);
  EXPECT_EQ(w, 0);
  uint8_t byte = 0;
  EXPECT_EQ(DisplayManager->Capture(&byte, 1, &w, &h, nullptr), -1);
}

TEST(CDisplayManager, surfacesAskedFromManyThreadsAtOnce_areMadeOnceEach) {
  ScreenDevice a{0x1, "a", RECT{0, 0, 640, 480}, RECT{0, 0, 640, 480}, true};
  ScreenDevice b{0x2, "b", RECT{640, 0, 1280, 480}, RECT{640, 0, 1280, 480}, false};
  const CMultiMonitor monitors({a, b});
  CVideoWindow panel;
  CDisplayManager manager(nullptr, &panel, &monitors);
  std::vector<std::shared_ptr<CPixelSurface>> got(8);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&, i] { got[size_t(i)] = manager.GetBackSurface(0x2); });
  for (auto &t : threads) t.join();
  for (auto &s : got) EXPECT_EQ(s, got[0]);
  ASSERT_TRUE(got[0]);
  EXPECT_EQ(got[0]->Width(), 640);
}

TEST(CDisplayManager, aRemadeCompositionSurface_isWhatTheNextRequestReturns) {
  const CMultiMonitor monitors = OneMonitor(640, 480);
  CVideoWindow panel;
  CDisplayManager manager(nullptr, &panel, &monitors);
  std::shared_ptr<CPixelSurface> old = manager.GetBackSurface(0x42);
  ASSERT_TRUE(old);
  old->Fill(0x00FFFFFF);
  ASSERT_EQ(manager.CreateBackSurface(0x42), 0);
  std::shared_ptr<CPixelSurface> fresh = manager.GetBackSurface(0x42);
  ASSERT_TRUE(fresh);
  EXPECT_NE(fresh, old);
  EXPECT_EQ(fresh->Bits()[0], 0);   // black again
  EXPECT_EQ(old->Bits()[0], 0xFF);  // a drawer still using the old one keeps valid memory
  EXPECT_NE(manager.CreateBackSurface(0x99), 0);  // no device for that monitor
}
