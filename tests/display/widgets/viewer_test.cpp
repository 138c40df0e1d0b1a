#include <gtest/gtest.h>

#include <QApplication>
#include <QPaintEvent>
#include <QPointer>
#include <QTest>
#include <QWidget>

#include <thread>

#include "display/display_manager.h"
#include "display/filter_object.h"
#include "display/widgets/viewer.h"
#include "display/widgets/viewer_panel.h"
#include "display/widgets/widget_window.h"
#include "tests/display/helpers/coded_stream.h"
#include "tests/support/test_support.h"

using namespace orvan::test;

namespace {

constexpr int64_t kBaseSeconds = 1146491107;

VORN_TESK::tagFrame *Description(int32_t codec, int32_t w, int32_t h) {
  VORN_TESK::StreamDescription d = VORN_TESK::PlaybackDescription(codec == 0);
  d.width = w;
  d.height = h;
  return VORN_TESK::Frames().Create(VORN_TESK::FT_INFO, sizeof d, FILETIME{}, &d);
}

VORN_TESK::tagFrame *Picture(const CodedPicture &p, int index, uint32_t type) {
  return VORN_TESK::Frames().Create(type, uint32_t(p.bytes.size()),
                                    orvan::RecorderSecondsToFileTime(kBaseSeconds + index),
                                    p.bytes.data());
}

bool ProcessUntil(const std::function<bool()> &cond) {
  return WaitUntil([&] {
    QApplication::processEvents();
    return cond();
  });
}

// The video panel (720 x 480, shown) with the display manager capturing it.
class ViewerTest : public testing::Test {
 protected:
  void SetUp() override {
    live = std::make_unique<QWidget>();
    live->resize(720, 480);
    live->show();
    manager = std::make_unique<CDisplayManager>(nullptr, CWidgetWindow::WindowOf(live.get()));
    DisplayManager = manager.get();
  }
  void TearDown() override {
    viewer.reset();
    DisplayManager = nullptr;
    manager.reset();
    live.reset();
  }
  CViewerVornMP4IPCamera *Impl() { return static_cast<CViewerVornMP4IPCamera *>(viewer->Impl()); }
  void MakeViewer(int channel, RECT rect) {
    viewer = std::make_unique<CViewer>();
    viewer->Create(kViewerVornMP4IPCamera, live.get(), 0, channel);
    viewer->m_channel = channel;
    viewer->Command(orvan::kViewerSetRect, &rect);
    viewer->Show();
  }
  int32_t Queued() {
    int32_t n = -1;
    viewer->Command(orvan::kViewerQueueLength, &n);
    return n;
  }
  QImage Capture() {
    int w = 0, h = 0;
    const int bytes = manager->Capture(nullptr, 0, &w, &h, nullptr);
    if (bytes <= 0) return {};
    QImage image(w, h, QImage::Format_RGB32);
    std::vector<uint8_t> buffer(static_cast<size_t>(bytes));
    if (manager->Capture(buffer.data(), buffer.size(), &w, &h, nullptr) != 0) return {};
    for (int y = 0; y < h; ++y)
      std::memcpy(image.scanLine(y), buffer.data() + size_t(y) * w * 4, size_t(w) * 4);
    return image;
  }

  std::unique_ptr<QWidget> live;
  std::unique_ptr<CDisplayManager> manager;
  std::unique_ptr<CViewer> viewer;
};

}  // namespace

TEST_F(ViewerTest, framesFromAPlaybackThread_arePaintedIntoThePanel) {
  const std::vector<CodedPicture> stream = Mpeg4Stream(720, 480, 8);
  MakeViewer(3, RECT{360, 240, 720, 480});
  std::thread playback([&] {
    viewer->Command(orvan::kViewerTakeFrame, Description(4, 720, 480));
    for (size_t i = 0; i < stream.size(); ++i)
      viewer->Command(
          orvan::kViewerTakeFrame,
          Picture(stream[i], int(i), stream[i].key ? VORN_TESK::FT_IFRAME : VORN_TESK::FT_PFRAME));
  });
  playback.join();
  ASSERT_TRUE(ProcessUntil([&] {
    SYSTEMTIME st{};
    Impl()->Filter()->GetShownTime(&st);
    return st.wYear == 2006 && st.wSecond == 7 + 7;
  }));
  QApplication::processEvents();
  // The panel shows its part of the composition: the picture, not blue.
  const QImage panel = Impl()->Panel()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(panel.size(), QSize(360, 240));
  const QImage shot = Capture();
  ASSERT_EQ(shot.size(), QSize(720, 480));
  EXPECT_EQ(panel.pixel(100, 100), shot.pixel(460, 340));
  EXPECT_NE(panel.pixel(100, 100) & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(shot.pixel(100, 100) & 0xFFFFFF, 0u);  // other quarters were never drawn
}

TEST_F(ViewerTest, overflowAbove90_dropsUntil10Remain_thenWaitsForAKeyPicture) {
  const std::vector<CodedPicture> stream = MjpegStream(176, 144, 1);
  const CodedPicture &pic = stream.at(0);
  MakeViewer(0, RECT{0, 0, 360, 240});
  viewer->Command(orvan::kViewerTakeFrame, Description(0, 176, 144));
  viewer->Command(orvan::kViewerTakeFrame, Picture(pic, 0, VORN_TESK::FT_IFRAME));
  VornFilterObj *filter = Impl()->Filter();
  ASSERT_TRUE(WaitUntil([&] {
    SYSTEMTIME st{};
    filter->GetShownTime(&st);
    return st.wYear == 2006;
  }));
  filter->Pause();
  // Paused, the filter holds one picture drawn and one pending, then takes nothing.
  for (int i = 1; i <= 2; ++i)
    viewer->Command(orvan::kViewerTakeFrame, Picture(pic, i, VORN_TESK::FT_PFRAME));
  ASSERT_TRUE(WaitUntil([&] {
    return filter->HasPendingPicture() && filter->ShownTimesLength() == 1 && Queued() == 0;
  }));

  int index = 3;
  while (Queued() < 91)
    viewer->Command(orvan::kViewerTakeFrame, Picture(pic, index++, VORN_TESK::FT_PFRAME));
  EXPECT_FALSE(Impl()->Overflow());
  viewer->Command(orvan::kViewerTakeFrame, Picture(pic, index++, VORN_TESK::FT_PFRAME));
  EXPECT_EQ(Queued(), 91);  // dropped
  EXPECT_TRUE(Impl()->Overflow());
  EXPECT_TRUE(Impl()->WaitForKey());
  viewer->Command(orvan::kViewerTakeFrame, Picture(pic, index++, VORN_TESK::FT_IFRAME));
  EXPECT_EQ(Queued(), 91);  // even a key picture, while more than 10 wait

  // Exactly 10 left, the filter still holding its two pictures.
  // (Two at first, so that no skipping under a long queue takes extra ones.)
  filter->ClearQueues();
  for (int i = 0; i < 2; ++i) {
    VORN_TESK::tagFrame *f = Picture(pic, index++, VORN_TESK::FT_PFRAME);
    filter->PushFrame(f);
  }
  ASSERT_TRUE(WaitUntil([&] {
    return filter->HasPendingPicture() && filter->ShownTimesLength() == 1 && Queued() == 0;
  }));
  for (int i = 0; i < 10; ++i) {
    VORN_TESK::tagFrame *f = Picture(pic, index++, VORN_TESK::FT_PFRAME);
    filter->PushFrame(f);
  }
  ASSERT_EQ(Queued(), 10);
  viewer->Command(orvan::kViewerTakeFrame, Picture(pic, index++, VORN_TESK::FT_PFRAME));
  EXPECT_FALSE(Impl()->Overflow());
  EXPECT_TRUE(Impl()->WaitForKey());
  EXPECT_EQ(Queued(), 10);  // predicted picture still dropped
  viewer->Command(orvan::kViewerTakeFrame, Picture(pic, index++, VORN_TESK::FT_IFRAME));
  EXPECT_FALSE(Impl()->WaitForKey());
  EXPECT_EQ(Queued(), 11);  // the key picture passes
}

TEST_F(ViewerTest, sameDescriptionTwice_isReleasedAndChangesNothing) {
  const std::vector<CodedPicture> stream = MjpegStream(176, 144, 1);
  MakeViewer(0, RECT{0, 0, 360, 240});
  viewer->Command(orvan::kViewerTakeFrame, Description(0, 176, 144));
  EXPECT_TRUE(Impl()->WaitForKey());
  EXPECT_FALSE(Impl()->Started());
  viewer->Command(orvan::kViewerTakeFrame, Picture(stream[0], 0, VORN_TESK::FT_IFRAME));
  EXPECT_FALSE(Impl()->WaitForKey());
  EXPECT_TRUE(Impl()->Started());
  viewer->Command(orvan::kViewerTakeFrame, Description(0, 176, 144));
  EXPECT_FALSE(Impl()->WaitForKey());
  EXPECT_TRUE(Impl()->Started());
}

TEST_F(ViewerTest, aZeroWidthPanel_releasesFramesAndStopsTheFilterOnce) {
  const std::vector<CodedPicture> stream = MjpegStream(176, 144, 1);
  MakeViewer(0, RECT{0, 0, 360, 240});
  viewer->Command(orvan::kViewerTakeFrame, Picture(stream[0], 0, VORN_TESK::FT_IFRAME));
  EXPECT_TRUE(Impl()->Started());
  RECT none{0, 0, 0, 240};
  viewer->Command(orvan::kViewerSetRect, &none);
  Impl()->Filter()->Resume();
  viewer->Command(orvan::kViewerTakeFrame, Picture(stream[0], 1, VORN_TESK::FT_IFRAME));
  EXPECT_EQ(Queued(), 0);
  EXPECT_TRUE(Impl()->Filter()->IsPaused());
  EXPECT_FALSE(Impl()->Started());
  EXPECT_FALSE(Impl()->Showing());
  EXPECT_TRUE(Impl()->WaitForKey());
  Impl()->Filter()->Resume();  // a second refused frame does not stop it again
  viewer->Command(orvan::kViewerTakeFrame, Picture(stream[0], 2, VORN_TESK::FT_IFRAME));
  EXPECT_FALSE(Impl()->Filter()->IsPaused());
}

TEST_F(ViewerTest, hideStopsAndEmptiesTheFilter_showResumesIt) {
  MakeViewer(1, RECT{360, 0, 720, 240});
  viewer->Hide();
  EXPECT_FALSE(Impl()->Panel()->isVisible());
  EXPECT_TRUE(Impl()->Filter()->IsPaused());
  EXPECT_FALSE(Impl()->Showing());
  const std::vector<CodedPicture> stream = MjpegStream(176, 144, 1);
  viewer->Command(orvan::kViewerTakeFrame, Picture(stream[0], 0, VORN_TESK::FT_IFRAME));
  EXPECT_EQ(Queued(), 0);  // a hidden viewer takes nothing
  viewer->Show();
  EXPECT_TRUE(Impl()->Panel()->isVisible());
  EXPECT_TRUE(Impl()->Showing());
  EXPECT_TRUE(Impl()->Started());
  EXPECT_FALSE(Impl()->Filter()->IsPaused());
}

TEST_F(ViewerTest, commands_setModeLabelsAndKeepSize) {
  MakeViewer(0, RECT{0, 0, 720, 480});
  int32_t mode = 7;
  viewer->Command(orvan::kViewerDisplayMode, &mode);
  {
    CTeskAutoLock guard(Impl()->Filter()->Drawer().GetLock());
    EXPECT_EQ(Impl()->Filter()->Drawer().GetDisplayMode(), 7);
  }
  bool on = true;
  viewer->Command(orvan::kViewerCaptionVisible, &on);
  EXPECT_TRUE(Impl()->CaptionLabel()->isVisible());
  viewer->Command(orvan::kViewerTimeLabel, &on);
  EXPECT_TRUE(Impl()->TimeLabel()->isVisible());
  EXPECT_EQ(Impl()->TimeLabel()->text(), QStringLiteral("1601/01/01_00:00:00"));
  EXPECT_EQ(Impl()->TimeLabel()->geometry(), QRect(720 - 125, 5, 120, 20));
  bool off = false;
  viewer->Command(orvan::kViewerTimeLabel, &off);
  EXPECT_FALSE(Impl()->TimeLabel()->isVisible());
  viewer->Command(99, nullptr);  // unknown codes do nothing

  viewer->Command(orvan::kViewerTakeFrame, Description(4, 352, 240));
  bool keep = true;
  viewer->Command(orvan::kViewerKeepSize, &keep);
  EXPECT_EQ(Impl()->Filter()->Drawer().GetDestRect(), (RECT{184, 120, 536, 360}));
}

TEST_F(ViewerTest, mouseEvents_reachTheOwnersSlotsWithTheViewerAsSender) {
  MakeViewer(2, RECT{0, 240, 360, 480});
  std::vector<std::string> seen;
  CViewer *sender = nullptr;
  viewer->OnClick = [&](CViewer *s) { seen.push_back("click"), sender = s; };
  viewer->OnDblClick = [&](CViewer *) { seen.push_back("dbl"); };
  viewer->OnMouseDown = [&](CViewer *, TMouseButton b, TShiftState, int x, int y) {
    seen.push_back("down " + std::to_string(int(b)) + " " + std::to_string(x) + "," +
                   std::to_string(y));
  };
  viewer->OnMouseUp = [&](CViewer *, TMouseButton, TShiftState, int, int) {
    seen.push_back("up");
    Impl()->CaptionLabel()->show();  // a handler shows the caption ...
  };
  QTest::mouseClick(Impl()->Panel(), Qt::RightButton, {}, QPoint(30, 40));
  ASSERT_GE(seen.size(), 3u);
  EXPECT_EQ(seen[0], "down 1 30,40");
  EXPECT_EQ(seen[1], "click");
  EXPECT_EQ(seen[2], "up");
  EXPECT_EQ(sender, viewer.get());
  EXPECT_FALSE(Impl()->CaptionLabel()->isVisible());  // ... and its flag hides it again
  QTest::mouseDClick(Impl()->Panel(), Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_NE(std::find(seen.begin(), seen.end(), "dbl"), seen.end());
}

TEST_F(ViewerTest, createTwice_deletesTheFirstImplementation) {
  MakeViewer(0, RECT{0, 0, 360, 240});
  QPointer<QWidget> firstPanel = Impl()->Panel();
  viewer->Create(kViewerVornMP4IPCamera, live.get(), 0, 0);
  EXPECT_TRUE(firstPanel.isNull());
  EXPECT_NE(Impl()->Panel(), nullptr);
}

TEST_F(ViewerTest, destroyingAViewer_returnsAfterItsFilterObjectIsGone) {
  const std::vector<CodedPicture> stream = MjpegStream(352, 240, 1);
  MakeViewer(1, RECT{360, 0, 720, 240});
  viewer->Command(orvan::kViewerTakeFrame, Description(0, 352, 240));
  for (int i = 0; i < 30; ++i)
    viewer->Command(orvan::kViewerTakeFrame, Picture(stream[0], i, VORN_TESK::FT_IFRAME));
  ASSERT_TRUE(WaitUntil([&] { return Queued() < 28; }));
  QPointer<QWidget> panel = Impl()->Panel();
  viewer.reset();
  EXPECT_TRUE(panel.isNull());
  // The drawer's destructor cleared its window blue before the viewer returned.
  const QImage shot = Capture();
  EXPECT_EQ(shot.pixel(500, 100) & 0xFFFFFF, 0x0000FFu);
}

TEST_F(ViewerTest, labelMouseEvents_reachTheMoveUpAndDoubleClickSlots) {
  MakeViewer(0, RECT{0, 0, 360, 240});
  bool on = true;
  viewer->Command(orvan::kViewerCaptionVisible, &on);
  std::vector<std::string> seen;
  viewer->OnClick = [&](CViewer *) { seen.push_back("click"); };
  viewer->OnDblClick = [&](CViewer *) { seen.push_back("dbl"); };
  viewer->OnMouseDown = [&](CViewer *, TMouseButton, TShiftState, int, int) {
    seen.push_back("down");
  };
  viewer->OnMouseUp = [&](CViewer *, TMouseButton, TShiftState, int x, int y) {
    seen.push_back("up " + std::to_string(x) + "," + std::to_string(y));
  };
  QTest::mouseClick(Impl()->CaptionLabel(), Qt::LeftButton, {}, QPoint(12, 8));
  EXPECT_EQ(seen, std::vector<std::string>{"up 12,8"});  // a press on a label is not passed on
  QTest::mouseDClick(Impl()->CaptionLabel(), Qt::LeftButton, {}, QPoint(12, 8));
  EXPECT_NE(std::find(seen.begin(), seen.end(), "dbl"), seen.end());
  EXPECT_TRUE(Impl()->CaptionLabel()->isVisible());  // its flag is on
}

TEST(ViewerPanel, aPanelMadeBeforeTheVideoPanelsRecord_stillSitsInsideIt) {
  QWidget live;
  live.resize(720, 480);
  CViewerPanel panel(&live);
  panel.setGeometry(360, 240, 360, 240);
  live.show();
  EXPECT_EQ(panel.Window()->Parent(), CWidgetWindow::WindowOf(&live));
  EXPECT_EQ(panel.Window()->ScreenRect(), (RECT{360, 240, 720, 480}));
  EXPECT_TRUE(panel.Window()->IsShowing());
  live.hide();
  EXPECT_FALSE(panel.Window()->IsShowing());
}

namespace {

class PaintCounter : public QWidget {
 public:
  using QWidget::QWidget;
  int paints = 0;
  QRegion painted;

 protected:
  void paintEvent(QPaintEvent *event) override {
    ++paints;
    painted += event->region();
  }
};

}  // namespace

TEST_F(ViewerTest, aRepaintOfThePanel_reachesTheWindowsOverThatPart) {
  auto *over = new PaintCounter(live.get());
  over->setGeometry(360, 240, 360, 240);
  auto *elsewhere = new PaintCounter(live.get());
  elsewhere->setGeometry(0, 0, 360, 240);
  // Opaque, as the viewers' panels and the window's video panel are: a
  // repaint of the parent alone does not reach them.
  live->setAttribute(Qt::WA_OpaquePaintEvent);
  for (QWidget *w : {static_cast<QWidget *>(over), static_cast<QWidget *>(elsewhere)}) {
    w->setAttribute(Qt::WA_OpaquePaintEvent);
    w->show();
  }
  ASSERT_TRUE(QTest::qWaitForWindowExposed(live.get()));
  ASSERT_TRUE(ProcessUntil([&] { return over->paints > 0 && elsewhere->paints > 0; }));
  over->paints = elsewhere->paints = 0;
  over->painted = QRegion();
  CWidgetWindow::WindowOf(live.get())->Repaint(RECT{580, 460, 700, 474});
  ASSERT_TRUE(ProcessUntil([&] { return over->paints > 0; }));
  EXPECT_TRUE(over->painted.contains(QRect(220, 220, 120, 14)));
  QApplication::processEvents();
  EXPECT_EQ(elsewhere->paints, 0);
}

TEST_F(ViewerTest, repaints_keepReachingTheWindow_whileRequestsComeAndAfterTheyPause) {
  auto *panel = new PaintCounter(live.get());
  panel->setGeometry(0, 0, 360, 240);
  panel->setAttribute(Qt::WA_OpaquePaintEvent);
  panel->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(live.get()));
  ASSERT_TRUE(ProcessUntil([&] { return panel->paints > 0; }));
  HWND window = CWidgetWindow::WindowOf(panel);
  // Requests in a row join the running tick; after a pause longer than a
  // tick the flushing has stopped, and the next request starts it again.
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 5; ++i) {
      panel->paints = 0;
      window->Repaint(RECT{10 * i, 0, 10 * i + 10, 10});
      ASSERT_TRUE(ProcessUntil([&] { return panel->paints > 0; })) << round << " " << i;
    }
    QTest::qWait(100);
  }
}
