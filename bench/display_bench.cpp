// Prints what presenting costs: one Present at 360 x 240 and at 720 x 480,
// and the whole decode -> convert -> present path per picture next to the
// bare decode of the same frames, for a tile of the grid (half size, mode 0)
// and for one channel over the whole panel (mode 1). Figures are CPU time of
// the measuring thread, so other work on the machine does not inflate them.
// Figures only; nothing is asserted.
#include <QGuiApplication>

#include <time.h>

#include <algorithm>
#include <cstdio>

#include "display/drawer.h"
#include "display/drawer_surface.h"
#include "media/picture_conversion.h"
#include "media/video_decoder.h"
#include "tests/display/helpers/coded_stream.h"
#include "tests/display/helpers/display_fixture.h"
#include "tests/support/test_support.h"

using namespace orvan::test;

namespace {

// CPU time of the calling thread.
struct Clock {
  using time_point = double;  // microseconds
  static time_point now() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e6 + double(ts.tv_nsec) / 1e3;
  }
};

double MicrosSince(Clock::time_point start) { return Clock::now() - start; }

double PresentMicros(DisplayFixture &fixture, int width, int height, int mode) {
  fixture.Place(0, RECT{0, 0, width, height});
  CVornDDrawer drawer(0, &fixture.Panel());
  CTeskAutoLock guard(drawer.GetLock());
  drawer.SetDisplayMode(mode);
  drawer.SetPictureRect(RECT{0, 0, width, height});
  drawer.SetWindow(&fixture.Quarter(0), fixture.Quarter(0).ScreenRect());
  const FILETIME time = orvan::RecorderSecondsToFileTime(1146491107);
  for (int i = 0; i < 20; ++i) drawer.Present(time);  // warm up
  const int rounds = 500;
  const auto start = Clock::now();
  for (int i = 0; i < rounds; ++i) drawer.Present(time);
  return MicrosSince(start) / rounds;
}

struct PathFigures {
  double decodeMicros = 0, fullMicros = 0, convertMicros = 0, presentMicros = 0;
  int pictures = 0;
};

// tile: the picture drawn at half size into a 360 x 240 window in mode 0,
// as in the grid; otherwise at full size into 720 x 480 in mode 1.
PathFigures DecodePath(const std::vector<CodedPicture> &stream, int codec, DisplayFixture &fixture,
                       bool tile) {
  PathFigures figures;
  std::vector<FramePtr> frames;
  for (const CodedPicture &p : stream) frames.push_back(MakeFrame(p));
  {
    CVideoDecoderMpeg4 decoder(codec);
    const auto start = Clock::now();
    for (const FramePtr &f : frames)
      if (decoder.Decode(f.get(), nullptr, nullptr, nullptr)) ++figures.pictures;
    figures.decodeMicros = MicrosSince(start) / std::max(1, figures.pictures);
  }
  fixture.Place(0, tile ? RECT{0, 0, 360, 240} : RECT{0, 0, 720, 480});
  CVornDDrawer drawer(0, &fixture.Panel());
  {
    CTeskAutoLock guard(drawer.GetLock());
    drawer.SetDisplayMode(tile ? 0 : 1);
    drawer.SetPictureRect(tile ? RECT{0, 0, 360, 240} : RECT{0, 0, 720, 480});
    drawer.SetWindow(&fixture.Quarter(0), fixture.Quarter(0).ScreenRect());
  }
  CDrawerPictureSurface surface(drawer);
  CVideoDecoderMpeg4 decoder(codec);
  CPictureConverter converter;
  int shown = 0;
  const auto start = Clock::now();
  for (const FramePtr &f : frames) {
    int32_t w = 0, h = 0;
    uint8_t format = 0;
    const AVFrame *picture = decoder.Decode(f.get(), &w, &h, &format);
    if (!picture) continue;
    const auto convertStart = Clock::now();
    converter.Draw(surface, picture, format, w, h, tile);
    figures.convertMicros += MicrosSince(convertStart);
    const auto presentStart = Clock::now();
    CTeskAutoLock guard(drawer.GetLock());
    drawer.Present(f->ftTime);
    figures.presentMicros += MicrosSince(presentStart);
    ++shown;
  }
  figures.fullMicros = MicrosSince(start) / std::max(1, shown);
  figures.convertMicros /= std::max(1, shown);
  figures.presentMicros /= std::max(1, shown);
  return figures;
}

}  // namespace

int main(int argc, char **argv) {
  SetTestEnvironment();
  QGuiApplication app(argc, argv);
  DisplayFixture fixture(720, 480);

  std::printf("Present, mode 0, 360 x 240 picture into a 360 x 240 window: %8.1f us\n",
              PresentMicros(fixture, 360, 240, 0));
  std::printf("Present, mode 1, 720 x 480 picture into a 720 x 480 window: %8.1f us\n",
              PresentMicros(fixture, 720, 480, 1));

  const int count = 150;
  const struct {
    const char *name;
    std::vector<CodedPicture> stream;
    int codec;
  } runs[] = {
      {"MPEG-4", Mpeg4Stream(720, 480, count, 15), kCodecMpeg4},
      {"MJPEG", MjpegStream(720, 480, count), kCodecMjpeg},
  };
  for (const auto &run : runs) {
    for (const bool tile : {true, false}) {
      const PathFigures f = DecodePath(run.stream, run.codec, fixture, tile);
      std::printf(
          "%-6s 720 x 480 %s, %d pictures: bare decode %8.1f us/picture, "
          "decode+convert+present %8.1f us/picture (x%.2f)\n",
          run.name, tile ? "in a 360 x 240 tile" : "over 720 x 480   ", f.pictures, f.decodeMicros,
          f.fullMicros, f.fullMicros / f.decodeMicros);
      std::printf("       of which convert %8.1f us, present %8.1f us\n", f.convertMicros,
                  f.presentMicros);
    }
  }
  return 0;
}
