#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "display/filter_object.h"
#include "display/filter_object_killer.h"
#include "tests/display/helpers/coded_stream.h"
#include "tests/display/helpers/display_fixture.h"
#include "tests/support/test_support.h"

using namespace orvan::test;

namespace {

constexpr int64_t kBaseSeconds = 1146491107;  // 2006-05-01 13:45:07

FILETIME TimeOfPicture(int i) { return orvan::RecorderSecondsToFileTime(kBaseSeconds + i); }

VORN_TESK::tagFrame *DescriptionFrame(int32_t codec, int32_t width, int32_t height,
                                      int32_t kind = 1) {
  VORN_TESK::StreamDescription d = VORN_TESK::PlaybackDescription(codec == 0);
  d.videoCodec = codec;
  d.width = width;
  d.height = height;
  d.sourceKind = kind;
  return VORN_TESK::Frames().Create(VORN_TESK::FT_INFO, sizeof d, FILETIME{}, &d);
}

VORN_TESK::tagFrame *PictureFrame(const CodedPicture &p, int index) {
  return VORN_TESK::Frames().Create(p.key ? VORN_TESK::FT_IFRAME : VORN_TESK::FT_PFRAME,
                                    uint32_t(p.bytes.size()), TimeOfPicture(index), p.bytes.data());
}

bool SameTime(const SYSTEMTIME &st, const FILETIME &ft) {
  SYSTEMTIME want{};
  FileTimeToSystemTime(&ft, &want);
  return st.wYear == want.wYear && st.wMonth == want.wMonth && st.wDay == want.wDay &&
         st.wHour == want.wHour && st.wMinute == want.wMinute && st.wSecond == want.wSecond;
}

bool ShownTimeIs(VornFilterObj &filter, const FILETIME &ft) {
  SYSTEMTIME st{};
  filter.GetShownTime(&st);
  return SameTime(st, ft);
}

QImage Crop(const QImage &image, const QRect &r) { return image.copy(r); }

// Converts one full-range MJPEG picture twice with one converter: both
// results must agree.
bool ConverterKeepsFullRangeOnRedraw() {
  const std::vector<CodedPicture> stream = MjpegStream(176, 144, 1);
  CVideoDecoderMpeg4 decoder(kCodecMjpeg);
  FramePtr frame = MakeFrame(stream.at(0));
  uint8_t format = 0;
  AVFrame *picture = decoder.Decode(frame.get(), nullptr, nullptr, &format);
  if (!picture) return false;
  CPictureConverter converter;
  QImage first(176, 144, QImage::Format_RGB32), second(176, 144, QImage::Format_RGB32);
  for (QImage *image : {&first, &second}) {
    orvan::media::SurfaceView view;
    view.bits = image->bits();
    view.bitCount = 32;
    view.pitch = int(image->bytesPerLine());
    view.pixelFormat = orvan::media::kPixBgr32;
    view.rows = 144;
    if (!converter.DrawInto(view, picture, format, 176, 144, false)) return false;
  }
  return MeanAbsDiff(first, second) < 0.5;
}

// A filter object of channel 0 drawing into the fixture's window 0, deleted
// through a killer as the viewers do.
struct FilterHarness {
  explicit FilterHarness(DisplayFixture &fixture) : fixture(fixture) {
    filter = new VornFilterObj(0, &fixture.Panel());
  }
  ~FilterHarness() {
    VornFilterObjKiller killer;
    killer.Kill(filter);
  }
  void Push(VORN_TESK::tagFrame *f) { filter->PushFrame(f); }
  int32_t Queued() {
    int32_t n = 0;
    filter->GetQueueLength(&n);
    return n;
  }
  DisplayFixture &fixture;
  VornFilterObj *filter;
};

}  // namespace

class FilterObjectPresents : public testing::TestWithParam<const char *> {};

TEST_P(FilterObjectPresents, decodedPictures_matchAReferenceConversionAndStretch) {
  const std::string codec = GetParam();
  const bool mjpeg = codec == "mjpeg";
  // A converter used twice must keep MJPEG's full range on the second picture.
  if (mjpeg) {
    ASSERT_TRUE(ConverterKeepsFullRangeOnRedraw());
  }
  const std::vector<CodedPicture> stream =
      mjpeg ? MjpegStream(720, 480, 6) : Mpeg4Stream(720, 480, 6);
  ASSERT_EQ(stream.size(), 6u);
  const std::vector<QImage> reference = DecodeToRgb32(codec, stream);
  ASSERT_FALSE(reference.back().isNull());

  DisplayFixture fixture(720, 480);
  fixture.Place(0, RECT{0, 0, 720, 480});
  FilterHarness h(fixture);
  h.filter->SetDisplayMode(1);
  h.filter->SetOutputWindow(&fixture.Quarter(0), false);
  h.Push(DescriptionFrame(mjpeg ? 0 : 4, 720, 480));
  for (int i = 0; i < 6; ++i) h.Push(PictureFrame(stream[size_t(i)], i));
  ASSERT_TRUE(WaitUntil([&] { return ShownTimeIs(*h.filter, TimeOfPicture(5)); }));

  const QImage shot = fixture.CapturePanel();
  ASSERT_EQ(shot.size(), QSize(720, 480));
  // Modes 1..5 show the picture's {14, 18, 710, 474} over the whole window.
  const QImage expected = StretchNearest(reference.back(), QRect(14, 18, 696, 456), 720, 480);
  const QRect body(0, 40, 720, 400);  // clear of the label and the time text
  const double diff = MeanAbsDiff(Crop(shot, body), Crop(expected, body));
  EXPECT_LT(diff, 3.0) << codec;
  RecordProperty("meanAbsDiff", std::to_string(diff));
  // A picture two steps earlier differs clearly: the comparison can tell.
  const QImage older = StretchNearest(reference[3], QRect(14, 18, 696, 456), 720, 480);
  EXPECT_GT(MeanAbsDiff(Crop(shot, body), Crop(older, body)),
            MeanAbsDiff(Crop(shot, body), Crop(expected, body)));
  EXPECT_GT(fixture.Sink(0).Count(), 0);
}

TEST_P(FilterObjectPresents, inAGridTile_theCroppedHalfSizePictureFillsItsQuarter) {
  const std::string codec = GetParam();
  const bool mjpeg = codec == "mjpeg";
  const std::vector<CodedPicture> stream =
      mjpeg ? MjpegStream(720, 480, 6) : Mpeg4Stream(720, 480, 6);
  ASSERT_EQ(stream.size(), 6u);
  const std::vector<QImage> reference = DecodeToRgb32(codec, stream);
  ASSERT_FALSE(reference.back().isNull());

  DisplayFixture fixture(720, 480);  // quarters of 360 x 240
  FilterHarness h(fixture);
  h.filter->SetDisplayMode(0);
  h.filter->SetOutputWindow(&fixture.Quarter(3), false);
  h.Push(DescriptionFrame(mjpeg ? 0 : 4, 720, 480));
  for (int i = 0; i < 6; ++i) h.Push(PictureFrame(stream[size_t(i)], i));
  ASSERT_TRUE(WaitUntil([&] { return ShownTimeIs(*h.filter, TimeOfPicture(5)); }));
  ASSERT_TRUE(h.filter->IsHalfSize());

  const QImage shot = fixture.CapturePanel();
  ASSERT_EQ(shot.size(), QSize(720, 480));
  // At half size mode 0 shows {14, 18, 350, 234} of the half picture, that
  // is {28, 36, 700, 468} of the decoded one, over the bottom right quarter.
  const QRect body(0, 0, 360, 214);  // in the tile, clear of the time text
  const QImage tile = Crop(shot, QRect(360, 240, 360, 240));
  const QImage expected = StretchNearest(reference.back(), QRect(28, 36, 672, 432), 360, 240);
  const double diff = MeanAbsDiff(Crop(tile, body), Crop(expected, body));
  EXPECT_LT(diff, 4.0) << codec;
  RecordProperty("meanAbsDiff", std::to_string(diff));
  // Without the crop, or shifted by a few pixels, it would differ clearly.
  const QImage uncropped = StretchNearest(reference.back(), QRect(0, 0, 720, 480), 360, 240);
  EXPECT_GT(MeanAbsDiff(Crop(tile, body), Crop(uncropped, body)), 2 * diff);
  const QImage shifted = StretchNearest(reference.back(), QRect(44, 36, 672, 432), 360, 240);
  EXPECT_GT(MeanAbsDiff(Crop(tile, body), Crop(shifted, body)), 2 * diff);
  // The other quarters stay as they were (black).
  for (const QPoint p : {QPoint(100, 100), QPoint(500, 100), QPoint(100, 300)})
    EXPECT_EQ(shot.pixel(p) & 0xFFFFFF, 0u) << p.x() << "," << p.y();
}

INSTANTIATE_TEST_SUITE_P(Codecs, FilterObjectPresents, testing::Values("mpeg4", "mjpeg"));

// A picture the decoder cannot take is counted, and the tile is marked
// (a red square at the picture's top right) on the picture still shown,
// for as long as the decoder waits for a key picture; the pictures passed
// over meanwhile count too. The next key picture ends the mark.
TEST(VornFilterObj, damagedPictures_areCounted_andMarkTheTileUntilTheNextKeyPicture) {
  const std::vector<CodedPicture> stream = Mpeg4Stream(352, 240, 12, 6);
  ASSERT_EQ(stream.size(), 12u);
  DisplayFixture fixture(720, 480);
  FilterHarness h(fixture);
  h.filter->SetDisplayMode(0);
  h.filter->SetOutputWindow(&fixture.Quarter(0), false);
  h.Push(DescriptionFrame(4, 352, 240));
  for (int i = 0; i < 3; ++i) h.Push(PictureFrame(stream[size_t(i)], i));
  ASSERT_TRUE(WaitUntil([&] { return ShownTimeIs(*h.filter, TimeOfPicture(2)); }));
  EXPECT_EQ(h.filter->DecodeErrors(), 0u);
  auto marked = [&] {
    const QImage shot = fixture.CapturePanel();
    const QRgb inside = shot.pixel(360 - 4 - CDDrawer::kDamageMarkPixels + 3, 4 + 2);
    return qRed(inside) > 200 && qGreen(inside) < 60 && qBlue(inside) < 60;
  };
  EXPECT_FALSE(marked());

  // A predicted picture that is noise, then the rest of the group.
  CodedPicture noise = stream[3];
  uint32_t seed = 12345;
  for (size_t i = 4; i < noise.bytes.size(); ++i) {
    seed = seed * 1103515245u + 12345u;
    noise.bytes[i] = uint8_t(seed >> 16);
  }
  h.Push(PictureFrame(noise, 3));
  for (int i = 4; i < 6; ++i) h.Push(PictureFrame(stream[size_t(i)], i));
  ASSERT_TRUE(WaitUntil([&] { return h.Queued() == 0 && h.filter->AllPresented(); }));
  EXPECT_GE(h.filter->DecodeErrors(), 1u);
  EXPECT_TRUE(h.filter->DecoderDamaged());
  EXPECT_TRUE(marked());

  // The next key picture (6) is shown clean, without the mark.
  for (int i = 6; i < 8; ++i) h.Push(PictureFrame(stream[size_t(i)], i));
  ASSERT_TRUE(WaitUntil([&] { return ShownTimeIs(*h.filter, TimeOfPicture(7)); }));
  ASSERT_TRUE(WaitUntil([&] { return h.filter->AllPresented(); }));
  EXPECT_FALSE(h.filter->DecoderDamaged());
  EXPECT_FALSE(marked());
}

TEST(VornFilterObj, firstDescription_alwaysCountsAsAChange_andTheSameOneFlushes) {
  DisplayFixture fixture;
  FilterHarness h(fixture);
  VORN_TESK::tagFrame *f = DescriptionFrame(4, 352, 240);
  EXPECT_TRUE(h.filter->PushFrame(f));
  EXPECT_EQ(f, nullptr);
  f = DescriptionFrame(4, 352, 240);
  EXPECT_FALSE(h.filter->PushFrame(f));
  int32_t w = 0, hgt = 0;
  h.filter->GetPictureSize(&w, &hgt);
  EXPECT_EQ(w, 352);
  EXPECT_EQ(hgt, 240);
}

TEST(VornFilterObj, sameDescriptionTwice_waitsForTheNextKeyPicture) {
  const std::vector<CodedPicture> stream = Mpeg4Stream(352, 240, 8, 4);  // keys at 0 and 4
  ASSERT_EQ(stream.size(), 8u);
  ASSERT_TRUE(stream[4].key);
  DisplayFixture fixture;
  FilterHarness h(fixture);
  h.filter->SetOutputWindow(&fixture.Quarter(0), false);
  h.Push(DescriptionFrame(4, 352, 240));
  h.Push(PictureFrame(stream[0], 0));
  h.Push(PictureFrame(stream[1], 1));
  ASSERT_TRUE(WaitUntil([&] { return ShownTimeIs(*h.filter, TimeOfPicture(1)); }));

  h.Push(DescriptionFrame(4, 352, 240));  // same: the decoder flushes
  h.Push(PictureFrame(stream[2], 2));
  h.Push(PictureFrame(stream[3], 3));
  ASSERT_TRUE(WaitUntil([&] { return h.Queued() == 0 && !h.filter->HasPendingPicture(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(ShownTimeIs(*h.filter, TimeOfPicture(1)));  // predicted pictures were not shown

  h.Push(PictureFrame(stream[4], 4));
  EXPECT_TRUE(WaitUntil([&] { return ShownTimeIs(*h.filter, TimeOfPicture(4)); }));
}

TEST(VornFilterObj, firstPictureAtANewSize_isPresentedByTheLayoutWithoutChangingTheShownTime) {
  const std::vector<CodedPicture> stream = MjpegStream(352, 240, 1);
  DisplayFixture fixture;
  FilterHarness h(fixture);
  h.filter->SetOutputWindow(&fixture.Quarter(0), false);
  h.Push(DescriptionFrame(0, 720, 480));  // the stream is really 352 x 240
  const int before = fixture.Sink(0).Count();
  h.Push(PictureFrame(stream[0], 0));
  ASSERT_TRUE(WaitUntil([&] {
    int32_t w = 0, hh = 0;
    h.filter->GetPictureSize(&w, &hh);
    return w == 352 && fixture.Sink(0).Count() > before;
  }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(h.filter->ShownTimesLength(), 0u);
  EXPECT_TRUE(ShownTimeIs(*h.filter, FILETIME{}));  // still 1601-01-01
  const QImage shot = fixture.CapturePanel();
  EXPECT_NE(shot.pixel(180, 120) & 0xFFFFFF, 0u);  // the picture is there
}

TEST(VornFilterObj, halfSize_atExactlyHalfThePictureWidth_fullSizeOnePixelWider) {
  DisplayFixture fixture(800, 600);
  FilterHarness h(fixture);
  h.Push(DescriptionFrame(4, 720, 480));
  fixture.Place(0, RECT{0, 0, 360, 240});
  h.filter->SetOutputWindow(&fixture.Quarter(0), false);
  EXPECT_TRUE(h.filter->IsHalfSize());
  RECT pic;
  h.filter->Drawer().GetPictureRect(&pic);
  EXPECT_EQ(pic, (RECT{0, 0, 360, 240}));
  fixture.Place(0, RECT{0, 0, 361, 240});
  h.filter->SetOutputWindow(&fixture.Quarter(0), false);
  EXPECT_FALSE(h.filter->IsHalfSize());
  h.filter->Drawer().GetPictureRect(&pic);
  EXPECT_EQ(pic, (RECT{0, 0, 720, 480}));
}

TEST(VornFilterObj, centre_placesA720x480PictureAt40_60In800x600) {
  DisplayFixture fixture(800, 600);
  fixture.Place(0, RECT{0, 0, 800, 600});
  FilterHarness h(fixture);
  h.Push(DescriptionFrame(4, 720, 480));
  h.filter->SetOutputWindow(&fixture.Quarter(0), true);
  EXPECT_EQ(h.filter->Drawer().GetDestRect(), (RECT{40, 60, 760, 540}));
  h.filter->SetOutputWindow(&fixture.Quarter(0), false);
  EXPECT_EQ(h.filter->Drawer().GetDestRect(), (RECT{0, 0, 800, 600}));
  fixture.Place(0, RECT{0, 0, 720, 480});  // not smaller than the window: fills it
  h.filter->SetOutputWindow(&fixture.Quarter(0), true);
  EXPECT_EQ(h.filter->Drawer().GetDestRect(), (RECT{0, 0, 720, 480}));
}

TEST(VornFilterObj, skipDivisors_followTheQueueLength) {
  const struct {
    uint32_t n, divisor;
  } table[] = {{0, 1},   {5, 1},   {9, 1},   {10, 2},    {15, 2},    {19, 2},  {20, 6},
               {29, 6},  {30, 12}, {40, 20}, {50, 30},   {60, 42},   {70, 56}, {80, 72},
               {89, 72}, {90, 90}, {99, 90}, {100, 100}, {5000, 100}};
  for (const auto &row : table) EXPECT_EQ(VornFilterObj::SkipDivisor(row.n), row.divisor) << row.n;
}

TEST(VornFilterObj, aLongQueue_isDrawnByTheSkipRule_andItsLastPicturesEachShown) {
  const std::vector<CodedPicture> stream = MjpegStream(176, 144, 1);
  DisplayFixture fixture;
  FilterHarness h(fixture);
  h.filter->SetOutputWindow(&fixture.Quarter(0), false);
  h.Push(DescriptionFrame(0, 176, 144));
  h.Push(PictureFrame(stream[0], 0));  // settles size and layout first
  ASSERT_TRUE(WaitUntil([&] { return ShownTimeIs(*h.filter, TimeOfPicture(0)); }));

  // With presenting paused the frame step stops taking frames once one
  // picture waits to be presented and one is pending, so the queue is
  // whole when presenting resumes: every decode then sees a known length,
  // whatever the threads' speed.
  h.filter->Pause();
  h.Push(PictureFrame(stream[0], 1));
  h.Push(PictureFrame(stream[0], 2));
  ASSERT_TRUE(WaitUntil([&] { return h.Queued() == 0 && h.filter->HasPendingPicture(); }));
  constexpr int kQueued = 45;
  for (int i = 0; i < kQueued; ++i) h.Push(PictureFrame(stream[0], 3 + i));
  const uint64_t decodedBefore = h.filter->DecodedPictures();
  const uint64_t presentedBefore = h.filter->PresentedPictures();
  h.filter->Resume();
  ASSERT_TRUE(WaitUntil([&] { return h.filter->AllPresented(); }));
  EXPECT_EQ(h.filter->DecodedPictures() - decodedBefore, uint64_t(kQueued));

  // The frames were taken with 45, 44, ..., 1 queued (the count includes
  // the frame taken); a picture is drawn when the skip counter, which
  // counts the decodes under a divisor above 1, is a multiple of it.
  uint64_t drawn = 0, counter = 0;
  for (int queued = kQueued; queued >= 1; --queued) {
    const uint32_t divisor = VornFilterObj::SkipDivisor(uint32_t(queued));
    if (divisor == 1) {
      ++drawn;
      continue;
    }
    if (counter % divisor == 0) ++drawn;
    ++counter;
  }
  // Pictures 1 and 2 (waiting and pending at the resume) are presented too.
  EXPECT_EQ(h.filter->PresentedPictures() - presentedBefore, drawn + 2);
  EXPECT_TRUE(ShownTimeIs(*h.filter, TimeOfPicture(2 + kQueued)));  // the last one
}

TEST(VornFilterObj, whilePaused_atMostOnePictureIsDrawn_andItIsShownFirstOnResume) {
  const std::vector<CodedPicture> stream = MjpegStream(176, 144, 5);
  DisplayFixture fixture;
  FilterHarness h(fixture);
  h.filter->SetOutputWindow(&fixture.Quarter(0), false);
  h.Push(DescriptionFrame(0, 176, 144));
  h.filter->Pause();
  const int before = fixture.Sink(0).Count();
  for (int i = 0; i < 5; ++i) h.Push(PictureFrame(stream[size_t(i)], i));
  // One drawn and waiting, one decoded and pending, the rest left queued.
  ASSERT_TRUE(WaitUntil([&] { return h.Queued() == 3 && h.filter->HasPendingPicture(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(80));
  EXPECT_EQ(h.Queued(), 3);
  EXPECT_EQ(h.filter->ShownTimesLength(), 1u);
  EXPECT_EQ(fixture.Sink(0).Count(), before);  // nothing presented
  EXPECT_TRUE(ShownTimeIs(*h.filter, FILETIME{}));

  SYSTEMTIME first{};
  std::atomic<bool> seen{false};
  std::thread watcher([&] {
    WaitUntil([&] {
      SYSTEMTIME st{};
      h.filter->GetShownTime(&st);
      if (st.wYear == 1601) return false;
      first = st;
      return true;
    });
    seen = true;
  });
  h.filter->Resume();
  watcher.join();
  ASSERT_TRUE(seen);
  EXPECT_TRUE(SameTime(first, TimeOfPicture(0)));
  EXPECT_TRUE(WaitUntil([&] { return ShownTimeIs(*h.filter, TimeOfPicture(4)); }));
}

TEST(VornFilterObj, framesOtherThanPictures_areReleasedAndNotQueued) {
  DisplayFixture fixture;
  FilterHarness h(fixture);
  h.filter->Pause();
  uint8_t payload[8] = {};
  VORN_TESK::tagFrame *audio =
      VORN_TESK::Frames().Create(VORN_TESK::FT_AUDIO, 8, FILETIME{}, payload);
  EXPECT_FALSE(h.filter->PushFrame(audio));
  EXPECT_EQ(audio, nullptr);
  VORN_TESK::tagFrame *odd = VORN_TESK::Frames().Create(9, 8, FILETIME{}, payload);
  EXPECT_FALSE(h.filter->PushFrame(odd));
  VORN_TESK::tagFrame *shortInfo =
      VORN_TESK::Frames().Create(VORN_TESK::FT_INFO, 8, FILETIME{}, payload);
  EXPECT_FALSE(h.filter->PushFrame(shortInfo));  // a damaged description is ignored
  VORN_TESK::tagFrame *none = nullptr;
  EXPECT_FALSE(h.filter->PushFrame(none));
  int32_t video = -1, audioCount = -1;
  h.filter->GetQueueLength(&video, &audioCount);
  EXPECT_EQ(video, 0);
  EXPECT_EQ(audioCount, 0);
}

TEST(VornFilterObj, stop_pausesAndEmptiesTheQueue) {
  const std::vector<CodedPicture> stream = Mpeg4Stream(176, 144, 3);
  DisplayFixture fixture;
  FilterHarness h(fixture);
  h.filter->Pause();
  // Without a description the decoder is closed: frames decode to nothing.
  for (int i = 0; i < 3; ++i) h.Push(PictureFrame(stream[size_t(i)], i));
  h.filter->Stop();
  EXPECT_TRUE(h.filter->IsPaused());
  EXPECT_EQ(h.Queued(), 0);
  EXPECT_EQ(h.filter->ShownTimesLength(), 0u);
}

TEST(VornFilterObj, shownTimeBeforeAnyPicture_is1601) {
  DisplayFixture fixture;
  FilterHarness h(fixture);
  SYSTEMTIME st{};
  h.filter->GetShownTime(&st);
  EXPECT_EQ(st.wYear, 1601);
  EXPECT_EQ(st.wMonth, 1);
  EXPECT_EQ(st.wDay, 1);
  EXPECT_EQ(st.wHour, 0);
}

TEST(VornFilterObj, cropSourceKinds_switchTheBorderTrimOn) {
  DisplayFixture fixture;
  FilterHarness h(fixture);
  const struct {
    int32_t kind, crop;
  } cases[] = {{1, 0}, {90, 1}, {91, 1}, {92, 1}, {93, 0}, {89, 0}};
  for (const auto &c : cases) {
    h.Push(DescriptionFrame(4, 352, 240, c.kind));
    CTeskAutoLock guard(h.filter->Drawer().GetLock());
    EXPECT_EQ(h.filter->Drawer().GetCropBorder(), c.crop) << c.kind;
  }
}

TEST(VornFilterObjKiller, destructor_returnsOnlyAfterEveryFilterObjectIsGone) {
  DisplayFixture fixture;
  const std::vector<CodedPicture> stream = MjpegStream(352, 240, 1);
  std::vector<VornFilterObj *> filters;
  {
    VornFilterObjKiller killer;
    for (int c = 0; c < 2; ++c) {
      auto *f = new VornFilterObj(c, &fixture.Panel());
      f->SetOutputWindow(&fixture.Quarter(c), false);
      VORN_TESK::tagFrame *d = DescriptionFrame(0, 352, 240);
      f->PushFrame(d);
      for (int i = 0; i < 20; ++i) {
        VORN_TESK::tagFrame *p = PictureFrame(stream[0], i);
        f->PushFrame(p);
      }
      killer.Kill(f);
    }
    EXPECT_GE(killer.PendingThreads(), 1u);  // a thread still running stays listed
    killer.Kill(nullptr);                    // names itself and finishes
  }
  // Each drawer's destructor cleared its window blue: both objects are gone.
  const QImage shot = fixture.CapturePanel();
  EXPECT_EQ(shot.pixel(100, 100) & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(shot.pixel(500, 100) & 0xFFFFFF, 0x0000FFu);
}
