#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "display/drawer.h"
#include "display/video_window.h"
#include "tests/display/helpers/display_fixture.h"

using orvan::test::DisplayFixture;

namespace {

constexpr uint32_t kRed = 0x00FF0000, kGreen = 0x0000FF00, kBlue = 0x000000FF;

// Fills the drawer's picture: left half red, right half green.
void PaintHalves(CDDrawer &drawer) {
  RECT pic;
  drawer.GetPictureRect(&pic);
  uint8_t *bits = drawer.GetBits();
  ASSERT_NE(bits, nullptr);
  for (int y = 0; y < pic.Height(); ++y) {
    auto *row = reinterpret_cast<uint32_t *>(bits + size_t(y) * drawer.GetPitch());
    for (int x = 0; x < pic.Width(); ++x) row[x] = x < pic.Width() / 2 ? kRed : kGreen;
  }
}

uint32_t Rgb(const QImage &image, int x, int y) { return image.pixel(x, y) & 0x00FFFFFF; }

// A box with a white background and some black text pixels.
bool HasLabelAt(const QImage &image, int x, int y, int w = 20, int h = 10) {
  int white = 0, black = 0;
  for (int yy = y; yy < y + h; ++yy)
    for (int xx = x; xx < x + w; ++xx) {
      const uint32_t c = Rgb(image, xx, yy);
      if (c == 0xFFFFFF) ++white;
      if (c == 0x000000) ++black;
    }
  return white > w * h / 4 && black > 4;
}

FILETIME TimeOf(int y, int mo, int d, int h, int mi, int s) {
  SYSTEMTIME st{uint16_t(y), uint16_t(mo), 0,           uint16_t(d),
                uint16_t(h), uint16_t(mi), uint16_t(s), 0};
  FILETIME ft{};
  SystemTimeToFileTime(&st, &ft);
  return ft;
}

// One drawer per quarter window, each holding a red/green 352 x 240 picture.
std::vector<std::unique_ptr<CVornDDrawer>> QuarterDrawers(DisplayFixture &fixture) {
  std::vector<std::unique_ptr<CVornDDrawer>> drawers;
  for (int c = 0; c < 4; ++c) {
    drawers.push_back(std::make_unique<CVornDDrawer>(c, &fixture.Panel()));
    CTeskAutoLock guard(drawers.back()->GetLock());
    drawers.back()->SetPictureRect(RECT{0, 0, 352, 240});
    drawers.back()->SetWindow(&fixture.Quarter(c), fixture.Quarter(c).ScreenRect());
    PaintHalves(*drawers.back());
  }
  return drawers;
}

}  // namespace

TEST(CDDrawerRects, modeTable_givesTheWorkedValuesFor720x480) {
  const RECT pic{0, 0, 720, 480};
  for (int mode = 0; mode <= 5; ++mode)
    EXPECT_EQ(CDDrawer::SourceRectForMode(pic, mode), (RECT{14, 18, 710, 474})) << mode;
  EXPECT_EQ(CDDrawer::SourceRectForMode(pic, 6), (RECT{14, 18, 348, 228}));
  EXPECT_EQ(CDDrawer::SourceRectForMode(pic, 7), (RECT{369, 18, 710, 237}));
  EXPECT_EQ(CDDrawer::SourceRectForMode(pic, 8), (RECT{14, 255, 348, 474}));
  EXPECT_EQ(CDDrawer::SourceRectForMode(pic, 9), (RECT{369, 255, 710, 474}));
  EXPECT_EQ(CDDrawer::SourceRectForMode(pic, 10), pic);  // unknown modes keep the picture
  EXPECT_EQ(CDDrawer::SourceRectForMode(pic, -1), pic);
}

TEST(CDDrawerRects, cropBorder_trimsOnlyWhenTheFlagIsOne) {
  const RECT pic{0, 0, 720, 480};
  EXPECT_EQ(CDDrawer::CropBorderRect(pic, 1), (RECT{14, 10, 710, 476}));
  EXPECT_EQ(CDDrawer::CropBorderRect(pic, 0), pic);
  EXPECT_EQ(CDDrawer::CropBorderRect(pic, 2), pic);
  EXPECT_EQ(CDDrawer::SourceRectForMode(CDDrawer::CropBorderRect(pic, 1), 0),
            (RECT{14, 18, 700, 470}));
  EXPECT_EQ(CDDrawer::SourceRectForMode(CDDrawer::CropBorderRect(pic, 1), 9),
            (RECT{357, 248, 700, 470}));
}

TEST(CDDrawerRects, labels_sitInEachChannelsQuarterOrTopLeft) {
  const RECT ref{0, 0, 720, 480};
  std::string text;
  int x = 0, y = 0;
  const struct {
    int mode, channel;
    const char *text;
    int x, y;
  } cases[] = {
      {0, 0, "CH1", 5, 5},     {0, 1, "CH2", 365, 5}, {0, 2, "CH3", 5, 245},
      {0, 3, "CH4", 365, 245}, {1, 3, "CH1", 5, 5},   {4, 0, "CH4", 5, 5},
      {5, 2, "QUAD", 5, 5},    {6, 1, "CH1", 5, 5},   {9, 0, "CH4", 5, 5},
  };
  for (const auto &c : cases) {
    ASSERT_TRUE(CDDrawer::LabelForMode(c.mode, c.channel, ref, &text, &x, &y)) << c.mode;
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(x, c.x);
    EXPECT_EQ(y, c.y);
  }
  EXPECT_FALSE(CDDrawer::LabelForMode(10, 0, ref, &text, &x, &y));
}

TEST(CDDrawer, zeroSizedPicture_makesNoSurface) {
  DisplayFixture fixture;
  CVornDDrawer drawer(0, &fixture.Panel());
  CTeskAutoLock guard(drawer.GetLock());
  drawer.SetWindow(&fixture.Quarter(0), fixture.Quarter(0).ScreenRect());
  drawer.SetPictureRect(RECT{0, 0, 720, 0});
  EXPECT_EQ(drawer.GetBits(), nullptr);
  EXPECT_TRUE(drawer.Present(FILETIME{}));  // nothing to show is not a failure
}

TEST(CDDrawer, pictureSurface_isBlue32BitWithPitch) {
  DisplayFixture fixture;
  CVornDDrawer drawer(0, &fixture.Panel());
  CTeskAutoLock guard(drawer.GetLock());
  drawer.SetWindow(&fixture.Quarter(0), fixture.Quarter(0).ScreenRect());
  drawer.SetPictureRect(RECT{0, 0, 360, 240});
  uint8_t *bits = drawer.GetBits();
  ASSERT_NE(bits, nullptr);
  EXPECT_EQ(drawer.GetBitCount(), 32);
  EXPECT_EQ(drawer.GetPixelFormat(), kSurfaceRgb32);
  EXPECT_GE(drawer.GetPitch(), 360 * 4);
  EXPECT_EQ(reinterpret_cast<uint32_t *>(bits + 239 * drawer.GetPitch())[359], kBlue);
  drawer.SetPictureRect(RECT{0, 0, 360, 240});  // same size keeps the surface
  EXPECT_EQ(drawer.GetBits(), bits);
}

TEST(CDDrawer, presentWithoutWindow_fails) {
  DisplayFixture fixture;
  CVornDDrawer drawer(0, &fixture.Panel());
  CTeskAutoLock guard(drawer.GetLock());
  EXPECT_FALSE(drawer.Present(FILETIME{}));
}

TEST(CDDrawer, present_stretchesThePictureIntoItsWindowAndAsksForARepaint) {
  DisplayFixture fixture;
  CVornDDrawer drawer(3, &fixture.Panel());
  {
    CTeskAutoLock guard(drawer.GetLock());
    drawer.SetPictureRect(RECT{0, 0, 720, 480});
    drawer.SetWindow(&fixture.Quarter(3), fixture.Quarter(3).ScreenRect());
    PaintHalves(drawer);
    EXPECT_TRUE(drawer.Present(TimeOf(2006, 5, 1, 13, 45, 7)));
  }
  const QImage shot = fixture.CapturePanel();
  ASSERT_EQ(shot.size(), QSize(720, 480));
  EXPECT_EQ(Rgb(shot, 380, 300), kRed);    // left half of the picture, left of channel 4's quarter
  EXPECT_EQ(Rgb(shot, 700, 300), kGreen);  // right half
  EXPECT_EQ(Rgb(shot, 100, 100), 0u);      // other quarters untouched (black)
  // The mode-0 crop {14,18,710,474}: the red/green edge (x 360 of the picture)
  // lands at 360 + (360-14) * 360/696 = about 539.
  EXPECT_EQ(Rgb(shot, 535, 400), kRed);
  EXPECT_EQ(Rgb(shot, 543, 400), kGreen);
  EXPECT_TRUE(HasLabelAt(shot, 365, 245));      // "CH4"
  EXPECT_TRUE(HasLabelAt(shot, 580, 460, 40));  // the time at (R - 140, B - 20)
  ASSERT_GE(fixture.Sink(3).Count(), 1);
  EXPECT_EQ(fixture.Sink(3).Requests().back(),
            (RECT{0, 0, 360, 240}));  // in the window's own coordinates
}

TEST(CDDrawer, modeZeroLabels_landInEachChannelsQuarter) {
  DisplayFixture fixture;
  std::vector<std::unique_ptr<CVornDDrawer>> drawers = QuarterDrawers(fixture);
  for (auto &drawer : drawers) {
    CTeskAutoLock guard(drawer->GetLock());
    drawer->Present(FILETIME{});
  }
  const QImage shot = fixture.CapturePanel();
  EXPECT_TRUE(HasLabelAt(shot, 5, 5));
  EXPECT_TRUE(HasLabelAt(shot, 365, 5));
  EXPECT_TRUE(HasLabelAt(shot, 5, 245));
  EXPECT_TRUE(HasLabelAt(shot, 365, 245));
  EXPECT_FALSE(HasLabelAt(shot, 100, 100));
}

TEST(CDDrawer, timeOfAnyChannel_isRepaintedAtThePanelsCorner) {
  DisplayFixture fixture;
  // Channel 1 alone has a picture: its time lands in channel 4's quarter,
  // which the panel repaints.
  CVornDDrawer drawer(0, &fixture.Panel());
  {
    CTeskAutoLock guard(drawer.GetLock());
    drawer.SetPictureRect(RECT{0, 0, 352, 240});
    drawer.SetWindow(&fixture.Quarter(0), fixture.Quarter(0).ScreenRect());
    PaintHalves(drawer);
    EXPECT_TRUE(drawer.Present(TimeOf(2006, 5, 1, 13, 45, 7)));
  }
  EXPECT_TRUE(HasLabelAt(fixture.CapturePanel(), 580, 460, 40));
  ASSERT_GE(fixture.PanelSink().Count(), 1);
  const RECT time = fixture.PanelSink().Requests().back();
  EXPECT_EQ(time.left, 580);
  EXPECT_EQ(time.top, 460);
  EXPECT_GT(time.right, 680);
  EXPECT_EQ(fixture.Sink(3).Count(), 0);
}

TEST(CDDrawer, clear_fillsTheDestinationBlue) {
  DisplayFixture fixture;
  auto drawer = std::make_unique<CVornDDrawer>(1, &fixture.Panel());
  {
    CTeskAutoLock guard(drawer->GetLock());
    drawer->SetPictureRect(RECT{0, 0, 352, 240});
    drawer->SetWindow(&fixture.Quarter(1), fixture.Quarter(1).ScreenRect());
    PaintHalves(*drawer);
    drawer->Present(FILETIME{});
    drawer->Clear(nullptr);
  }
  QImage shot = fixture.CapturePanel();
  EXPECT_EQ(Rgb(shot, 400, 100), kBlue);
  EXPECT_EQ(Rgb(shot, 300, 100), 0u);
  {
    CTeskAutoLock guard(drawer->GetLock());
    drawer->Present(FILETIME{});
  }
  drawer.reset();  // the drawer's destructor clears its destination too
  shot = fixture.CapturePanel();
  EXPECT_EQ(Rgb(shot, 400, 100), kBlue);
}

TEST(CDDrawer, centredDestination_staysUntilTheWindowMoves) {
  DisplayFixture fixture(800, 600);
  CVideoWindow &window = fixture.Quarter(0);
  fixture.Place(0, RECT{0, 0, 800, 600});
  CVornDDrawer drawer(0, &fixture.Panel());
  CTeskAutoLock guard(drawer.GetLock());
  drawer.SetPictureRect(RECT{0, 0, 720, 480});
  drawer.SetWindow(&window, RECT{40, 60, 760, 540});
  drawer.Present(FILETIME{});
  EXPECT_EQ(drawer.GetDestRect(), (RECT{40, 60, 760, 540}));
  fixture.Place(0, RECT{0, 0, 400, 300});
  drawer.Present(FILETIME{});
  EXPECT_EQ(drawer.GetDestRect(), (RECT{0, 0, 400, 300}));
}

TEST(CDDrawer, fourRenderThreadsAndACapture_shareTheCompositionSurface) {
  DisplayFixture fixture;
  std::vector<std::unique_ptr<CVornDDrawer>> drawers = QuarterDrawers(fixture);
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int c = 0; c < 4; ++c)
    threads.emplace_back([&, c] {
      for (int i = 0; i < 30; ++i) {
        CTeskAutoLock guard(drawers[size_t(c)]->GetLock());
        drawers[size_t(c)]->Present(orvan::RecorderSecondsToFileTime(1146491107 + i));
      }
    });
  int captures = 0;
  for (; captures < 20; ++captures) ASSERT_FALSE(fixture.CapturePanel().isNull());
  for (auto &t : threads) t.join();
  const QImage shot = fixture.CapturePanel();
  EXPECT_EQ(Rgb(shot, 100, 200), kRed);
  EXPECT_EQ(Rgb(shot, 700, 200), kGreen);
  EXPECT_EQ(Rgb(shot, 100, 440), kRed);
}

TEST(CDDrawer, quadModes6To9_enlargeTheirQuarterOfTheFourPictureStream) {
  DisplayFixture fixture;
  fixture.Place(0, RECT{0, 0, 720, 480});
  CVornDDrawer drawer(0, &fixture.Panel());
  CTeskAutoLock guard(drawer.GetLock());
  drawer.SetPictureRect(RECT{0, 0, 720, 480});
  drawer.SetWindow(&fixture.Quarter(0), fixture.Quarter(0).ScreenRect());
  const uint32_t quarterColour[4] = {kRed, kGreen, kBlue, 0x00FFFF00};
  uint8_t *bits = drawer.GetBits();
  ASSERT_NE(bits, nullptr);
  for (int y = 0; y < 480; ++y) {
    auto *row = reinterpret_cast<uint32_t *>(bits + size_t(y) * drawer.GetPitch());
    for (int x = 0; x < 720; ++x) row[x] = quarterColour[(y >= 240 ? 2 : 0) + (x >= 360 ? 1 : 0)];
  }
  for (int mode = 6; mode <= 9; ++mode) {
    drawer.SetDisplayMode(mode);
    drawer.Present(FILETIME{});
    const QImage shot = fixture.CapturePanel();
    const uint32_t want = quarterColour[mode - 6];
    // The source rectangles reach a few rows or columns past the middle
    // (mode 7 ends at row 237, mode 8 starts at column 14 ...): check away
    // from the edges and the labels.
    for (QPoint p : {QPoint(100, 100), QPoint(600, 100), QPoint(100, 380), QPoint(600, 380)})
      EXPECT_EQ(Rgb(shot, p.x(), p.y()), want)
          << "mode " << mode << " at " << p.x() << "," << p.y();
    EXPECT_TRUE(HasLabelAt(shot, 5, 5)) << mode;
  }
}

TEST(CDDrawer, shownSurface_holdsTheShownPartAtTheWindowsSize_andPresentCopiesIt) {
  DisplayFixture fixture;  // quarters of 360 x 240
  CVornDDrawer drawer(1, &fixture.Panel());
  CTeskAutoLock guard(drawer.GetLock());
  drawer.SetPictureRect(RECT{0, 0, 720, 480});
  drawer.SetWindow(&fixture.Quarter(1), fixture.Quarter(1).ScreenRect());
  orvan::media::SurfaceView view;
  orvan::media::ShownPart part;
  ASSERT_TRUE(drawer.GetShownSurface(&view, &part));
  // Mode 0 shows {14, 18, 710, 474}; a reduction is drawn at the window's size.
  EXPECT_EQ((RECT{part.left, part.top, part.right, part.bottom}), (RECT{14, 18, 710, 474}));
  EXPECT_EQ(part.shownWidth, 360);
  EXPECT_EQ(part.shownHeight, 240);
  ASSERT_NE(view.bits, nullptr);
  EXPECT_GE(view.pitch, 360 * 4);
  EXPECT_EQ(view.rows, 240);
  EXPECT_GE(view.slackBytes, orvan::media::kConversionSlackBytes);
  // What the conversion would draw: left half red, right half green.
  for (int y = 0; y < 240; ++y) {
    auto *row = reinterpret_cast<uint32_t *>(view.bits + size_t(y) * view.pitch);
    for (int x = 0; x < 360; ++x) row[x] = x < 180 ? kRed : kGreen;
  }
  drawer.Present(FILETIME{});
  QImage shot = fixture.CapturePanel();
  EXPECT_EQ(Rgb(shot, 360 + 178, 120), kRed);  // copied pixel for pixel
  EXPECT_EQ(Rgb(shot, 360 + 181, 120), kGreen);
  EXPECT_EQ(Rgb(shot, 100, 120), 0u);  // other quarters untouched

  // A mode changed after the drawing shows that mode's part of what is
  // held: mode 7 is the right half's top, all green.
  drawer.SetDisplayMode(7);
  drawer.Present(FILETIME{});
  shot = fixture.CapturePanel();
  for (const int x : {380, 540, 700}) EXPECT_EQ(Rgb(shot, x, 120), kGreen) << x;

  // Asking for the picture surface again presents that one.
  drawer.SetDisplayMode(0);
  PaintHalves(drawer);
  EXPECT_TRUE(drawer.Present(FILETIME{}));
  shot = fixture.CapturePanel();
  EXPECT_EQ(Rgb(shot, 530, 120), kRed);  // edge at 360 + (360 - 14) * 360 / 696
  EXPECT_EQ(Rgb(shot, 545, 120), kGreen);
}

TEST(CDDrawer, shownSurface_forAnEnlargement_isThePartsOwnSize_andPresentStretchesIt) {
  DisplayFixture fixture;
  fixture.Place(0, RECT{0, 0, 720, 480});
  CVornDDrawer drawer(0, &fixture.Panel());
  CTeskAutoLock guard(drawer.GetLock());
  drawer.SetDisplayMode(1);
  drawer.SetPictureRect(RECT{0, 0, 360, 240});  // a half-size picture over the whole panel
  drawer.SetWindow(&fixture.Quarter(0), fixture.Quarter(0).ScreenRect());
  orvan::media::SurfaceView view;
  orvan::media::ShownPart part;
  ASSERT_TRUE(drawer.GetShownSurface(&view, &part));
  EXPECT_EQ((RECT{part.left, part.top, part.right, part.bottom}), (RECT{14, 18, 350, 234}));
  EXPECT_EQ(part.shownWidth, 336);
  EXPECT_EQ(part.shownHeight, 216);
  // Columns in stripes of 8: each lands 720 / 336 times as wide.
  for (int y = 0; y < 216; ++y) {
    auto *row = reinterpret_cast<uint32_t *>(view.bits + size_t(y) * view.pitch);
    for (int x = 0; x < 336; ++x) row[x] = (x / 8) % 2 ? kGreen : kRed;
  }
  drawer.Present(FILETIME{});
  const QImage shot = fixture.CapturePanel();
  for (int x = 0; x < 720; ++x) {
    const int column = (2 * x + 1) * 336 / (2 * 720);
    ASSERT_EQ(Rgb(shot, x, 200), (column / 8) % 2 ? kGreen : kRed) << x;
  }
}

TEST(CDDrawerRects, wholePicture_keepsEveryColumnAndRow_quartersAreExactHalves) {
  const RECT pic{0, 0, 720, 480};
  for (int mode = 0; mode <= 5; ++mode)
    EXPECT_EQ(CDDrawer::WholeSourceRect(pic, mode), pic) << mode;
  EXPECT_EQ(CDDrawer::WholeSourceRect(pic, 6), (RECT{0, 0, 360, 240}));
  EXPECT_EQ(CDDrawer::WholeSourceRect(pic, 7), (RECT{360, 0, 720, 240}));
  EXPECT_EQ(CDDrawer::WholeSourceRect(pic, 8), (RECT{0, 240, 360, 480}));
  EXPECT_EQ(CDDrawer::WholeSourceRect(pic, 9), (RECT{360, 240, 720, 480}));
  // Letterboxed: the proportions kept, centred, the window filled where
  // they agree.
  EXPECT_EQ(CDDrawer::LetterboxRect(RECT{0, 0, 360, 240}, 720, 480), (RECT{0, 0, 360, 240}));
  EXPECT_EQ(CDDrawer::LetterboxRect(RECT{360, 0, 720, 240}, 352, 240), (RECT{364, 0, 716, 240}));
  EXPECT_EQ(CDDrawer::LetterboxRect(RECT{0, 0, 360, 240}, 720, 576), (RECT{30, 0, 330, 240}));
  EXPECT_EQ(CDDrawer::LetterboxRect(RECT{0, 0, 1280, 481}, 720, 480), (RECT{279, 0, 1000, 481}));
  EXPECT_EQ(CDDrawer::LetterboxRect(RECT{0, 0, 360, 240}, 0, 0), (RECT{0, 0, 360, 240}));
  // Labels go into a margin with room for them, else over the picture.
  bool over = true;
  const RECT tile{0, 0, 360, 240};
  EXPECT_EQ(CDDrawer::PlaceLabelOffPicture({5, 5}, 24, 14, tile, RECT{30, 0, 330, 240}, &over),
            (POINT{5, 5}));
  EXPECT_FALSE(over);  // already in the left margin
  EXPECT_EQ(CDDrawer::PlaceLabelOffPicture({220, 220}, 139, 14, tile, RECT{0, 20, 360, 220}, &over),
            (POINT{220, 220}));
  EXPECT_FALSE(over);  // already in the bottom margin
  EXPECT_EQ(CDDrawer::PlaceLabelOffPicture({5, 5}, 24, 14, tile, RECT{0, 16, 360, 224}, &over),
            (POINT{5, 2}));
  EXPECT_FALSE(over);  // moved up into the top margin
  EXPECT_EQ(CDDrawer::PlaceLabelOffPicture({5, 5}, 24, 14, tile, RECT{10, 0, 350, 240}, &over),
            (POINT{5, 5}));
  EXPECT_TRUE(over);  // no margin has room
  EXPECT_EQ(CDDrawer::PlaceLabelOffPicture({5, 5}, 24, 14, tile, tile, &over), (POINT{5, 5}));
  EXPECT_TRUE(over);
}

TEST(CDDrawer, wholePicture_showsEveryEdgeColumn_letterboxedBlack_withTheLabelsBlended) {
  DisplayFixture fixture;
  CVornDDrawer drawer(3, &fixture.Panel());
  {
    CTeskAutoLock guard(drawer.GetLock());
    drawer.SetWholePicture(true);
    drawer.SetPictureRect(RECT{0, 0, 352, 240});
    drawer.SetWindow(&fixture.Quarter(3), fixture.Quarter(3).ScreenRect());
    // Red and green halves, with one blue column at each edge: the columns
    // the border trim would cut.
    PaintHalves(drawer);
    uint8_t *bits = drawer.GetBits();
    for (int y = 0; y < 240; ++y) {
      auto *row = reinterpret_cast<uint32_t *>(bits + size_t(y) * drawer.GetPitch());
      row[0] = row[351] = kBlue;
    }
    EXPECT_TRUE(drawer.Present(TimeOf(2006, 5, 1, 13, 45, 7)));
  }
  const QImage shot = fixture.CapturePanel();
  // 352 x 240 in the 360 x 240 quarter at (360, 240): four columns of
  // black either side, then the picture from its very first column.
  EXPECT_EQ(Rgb(shot, 362, 300), 0u);
  EXPECT_EQ(Rgb(shot, 364, 300), kBlue);
  EXPECT_EQ(Rgb(shot, 365, 300), kRed);
  EXPECT_EQ(Rgb(shot, 714, 300), kGreen);
  EXPECT_EQ(Rgb(shot, 715, 300), kBlue);
  EXPECT_EQ(Rgb(shot, 717, 300), 0u);
  // The picture's first and last rows are shown too.
  EXPECT_EQ(Rgb(shot, 400, 240), kRed);
  EXPECT_EQ(Rgb(shot, 400, 479), kRed);
  // Neither label is an opaque box over the picture: the picture shows
  // through, and both stay in the channel's own quarter.
  EXPECT_FALSE(HasLabelAt(shot, 365, 245));
  EXPECT_FALSE(HasLabelAt(shot, 580, 460, 40));
  int blended = 0;
  for (int x = 365; x < 385; ++x)
    if (Rgb(shot, x, 250) != kRed && (Rgb(shot, x, 250) & 0xFF0000) != 0) ++blended;
  EXPECT_GT(blended, 0);
}

TEST(CDDrawer, wholePicture_blendsItsLabelsOnce_howeverOftenItPresents) {
  DisplayFixture fixture;
  CVornDDrawer drawer(0, &fixture.Panel());
  QImage first, again;
  {
    CTeskAutoLock guard(drawer.GetLock());
    drawer.SetWholePicture(true);
    drawer.SetPictureRect(RECT{0, 0, 360, 240});
    drawer.SetWindow(&fixture.Quarter(0), fixture.Quarter(0).ScreenRect());
    PaintHalves(drawer);
    drawer.Present(TimeOf(2006, 5, 1, 13, 45, 7));
  }
  first = fixture.CapturePanel();
  for (int i = 0; i < 5; ++i) {
    CTeskAutoLock guard(drawer.GetLock());
    drawer.Present(TimeOf(2006, 5, 1, 13, 45, 7));
  }
  again = fixture.CapturePanel();
  EXPECT_EQ(first, again);
}
