#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>

#include "display/multi_monitor.h"

namespace {
ScreenDevice Device(HMONITOR handle, const char *name, RECT rect, bool primary) {
  ScreenDevice d;
  d.handle = handle;
  d.name = name;
  d.geometry = rect;
  d.available = rect;
  d.primary = primary;
  return d;
}
}  // namespace

TEST(CMultiMonitor, oneScreen_givesOnePrimaryRecordWithNullIdentifier) {
  CMultiMonitor monitors({Device(0x10, "only", RECT{0, 0, 1024, 768}, false)});
  EXPECT_EQ(monitors.GetCount(), 1);
  MonitorRecord r;
  ASSERT_TRUE(monitors.GetMonitor(0, &r));
  EXPECT_TRUE(r.bPrimary);  // the single monitor is the primary one, whatever it said
  EXPECT_EQ(r.cbSize, 40u);
  EXPECT_EQ(r.rcMonitor, (RECT{0, 0, 1024, 768}));
  EXPECT_EQ(monitors.GetPrimary(), HMONITOR(0x10));
  const GUID *guid = reinterpret_cast<const GUID *>(1);
  ASSERT_TRUE(monitors.GetGuid(0, &guid));
  EXPECT_EQ(guid, nullptr);
  EXPECT_FALSE(monitors.GetMonitor(1, &r));
  EXPECT_FALSE(monitors.GetGuid(1, &guid));
}

TEST(CMultiMonitor, severalScreens_keepOrderPrimaryAndDistinctIdentifiers) {
  CMultiMonitor monitors({Device(0x10, "left", RECT{0, 0, 1280, 1024}, false),
                          Device(0x20, "right", RECT{1280, 0, 3200, 1080}, true)});
  EXPECT_EQ(monitors.GetCount(), 2);
  EXPECT_EQ(monitors.GetPrimary(), HMONITOR(0x20));
  MonitorRecord r;
  ASSERT_TRUE(monitors.GetMonitorByHandle(0x20, &r));
  EXPECT_EQ(r.rcMonitor, (RECT{1280, 0, 3200, 1080}));
  EXPECT_TRUE(r.bPrimary);
  const GUID *a = nullptr, *b = nullptr;
  ASSERT_TRUE(monitors.GetGuidByHandle(0x10, &a));
  ASSERT_TRUE(monitors.GetGuidByHandle(0x20, &b));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_FALSE(*a == *b);
  EXPECT_EQ(*a, CMultiMonitor::GuidForName("left"));
}

TEST(CMultiMonitor, unknownHandle_resolvesToRecordZero) {
  CMultiMonitor monitors({Device(0x10, "a", RECT{0, 0, 800, 600}, true),
                          Device(0x20, "b", RECT{800, 0, 1600, 600}, false)});
  EXPECT_EQ(monitors.IndexOf(0x99), 0u);
  MonitorRecord r;
  ASSERT_TRUE(monitors.GetMonitorByHandle(0x99, &r));
  EXPECT_EQ(r.hMonitor, HMONITOR(0x10));
}

TEST(CMultiMonitor, devicesWithoutMonitorOrArea_addNoRecord) {
  CMultiMonitor monitors({Device(0, "headless", RECT{0, 0, 800, 600}, false),
                          Device(0x10, "a", RECT{0, 0, 800, 600}, true),
                          Device(0x20, "empty", RECT{0, 0, 0, 0}, false)});
  MonitorRecord r;
  ASSERT_TRUE(monitors.GetMonitor(0, &r));
  EXPECT_EQ(r.hMonitor, HMONITOR(0x10));
  EXPECT_FALSE(monitors.GetMonitor(1, &r));
}

TEST(CMultiMonitor, guiScreens_areListedWithTheirGeometry) {
  CMultiMonitor monitors;
  const QList<QScreen *> screens = QGuiApplication::screens();
  ASSERT_FALSE(screens.isEmpty());
  EXPECT_EQ(monitors.GetCount(), screens.size());
  MonitorRecord r;
  ASSERT_TRUE(monitors.GetMonitorByHandle(monitors.GetPrimary(), &r));
  const QRect g = QGuiApplication::primaryScreen()->geometry();
  EXPECT_EQ(r.rcMonitor, (RECT{g.left(), g.top(), g.left() + g.width(), g.top() + g.height()}));
  EXPECT_EQ(r.hMonitor, reinterpret_cast<HMONITOR>(QGuiApplication::primaryScreen()));
}
