// Four viewers in a 720 x 480 video panel with four channels playing:
// MPEG-4 on channels 1 and 3, MJPEG on 2 and 4, fed by a playback-like
// thread at 7.5 pictures a second with the same back pressure the playback
// threads use. Meant for a look under Xvfb (or any display).
//
//   orvan-display-demo [--seconds N] [--capture file.png] [--grab file.png]
//
// --capture saves the display manager's capture of the video panel,
// --grab the window as the widgets painted it, both at the end.
#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

#include "display/display_manager.h"
#include "display/widgets/viewer.h"
#include "display/widgets/widget_window.h"
#include "platform/thread.h"
#include "tests/display/helpers/coded_stream.h"

using namespace orvan::test;

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  int seconds = 5;
  QString capturePath, grabPath;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--seconds"))
      seconds = std::max(1, std::atoi(argv[i + 1]));
    else if (!std::strcmp(argv[i], "--capture"))
      capturePath = QString::fromLocal8Bit(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--grab"))
      grabPath = QString::fromLocal8Bit(argv[i + 1]);
  }

  std::printf("encoding four channels ...\n");
  std::vector<std::vector<CodedPicture>> streams;
  for (int c = 0; c < 4; ++c)
    streams.push_back(c % 2 == 0 ? Mpeg4Stream(720, 480, 60, 15) : MjpegStream(720, 480, 60));

  QWidget window;
  window.setWindowTitle(QStringLiteral("ORVAN display demo"));
  window.resize(720, 480);
  auto *livePanel = new QWidget(&window);
  livePanel->setGeometry(0, 0, 720, 480);
  window.show();
  CDisplayManager manager(nullptr, CWidgetWindow::WindowOf(livePanel));
  DisplayManager = &manager;

  std::vector<std::unique_ptr<CViewer>> viewers;
  for (int c = 0; c < 4; ++c) {
    auto viewer = std::make_unique<CViewer>();
    viewer->Create(kViewerVornMP4IPCamera, livePanel, 0, c);
    viewer->m_channel = c;
    RECT r{(c & 1) ? 360 : 0, (c & 2) ? 240 : 0, 0, 0};
    r.right = r.left + 360;
    r.bottom = r.top + 240;
    viewer->Command(orvan::kViewerSetRect, &r);
    bool off = false;
    viewer->Command(orvan::kViewerCaptionVisible, &off);
    int32_t mode = 0;
    viewer->Command(orvan::kViewerDisplayMode, &mode);
    viewer->Show();
    viewers.push_back(std::move(viewer));
  }

  std::atomic<bool> stop{false};
  std::thread playback([&] {
    for (int c = 0; c < 4; ++c) {
      VORN_TESK::StreamDescription d = VORN_TESK::PlaybackDescription(c % 2 == 1);
      viewers[size_t(c)]->Command(
          orvan::kViewerTakeFrame,
          VORN_TESK::Frames().Create(VORN_TESK::FT_INFO, sizeof d, FILETIME{}, &d));
    }
    for (int64_t tick = 0; !stop; ++tick) {
      for (int c = 0; c < 4 && !stop; ++c) {
        const CodedPicture &p = streams[size_t(c)][size_t(tick) % streams[size_t(c)].size()];
        int32_t queued = 0;
        viewers[size_t(c)]->Command(orvan::kViewerQueueLength, &queued);
        while (queued > 50 && !stop) {
          Sleep(10);
          viewers[size_t(c)]->Command(orvan::kViewerQueueLength, &queued);
        }
        const FILETIME time = orvan::RecorderSecondsToFileTime(1146491107 + tick * 2 / 15);
        viewers[size_t(c)]->Command(
            orvan::kViewerTakeFrame,
            VORN_TESK::Frames().Create(p.key ? VORN_TESK::FT_IFRAME : VORN_TESK::FT_PFRAME,
                                       uint32_t(p.bytes.size()), time, p.bytes.data()));
      }
      Sleep(133);
    }
  });

  QTimer::singleShot(seconds * 1000, &app, [&] {
    if (!capturePath.isEmpty()) {
      int w = 0, h = 0;
      const int bytes = manager.Capture(nullptr, 0, &w, &h, nullptr);
      std::vector<uint8_t> buffer(static_cast<size_t>(std::max(bytes, 0)));
      if (bytes > 0 && manager.Capture(buffer.data(), buffer.size(), &w, &h, nullptr) == 0) {
        QImage image(buffer.data(), w, h, w * 4, QImage::Format_RGB32);
        image.save(capturePath);
        std::printf("captured %d x %d into %s\n", w, h, capturePath.toLocal8Bit().constData());
      }
    }
    if (!grabPath.isEmpty()) window.grab().save(grabPath);
    app.quit();
  });
  app.exec();

  stop = true;
  playback.join();
  viewers.clear();  // each waits for its filter object's teardown
  DisplayManager = nullptr;
  return 0;
}
