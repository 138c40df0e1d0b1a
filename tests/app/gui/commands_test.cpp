// The main window's snapshot, AVI saving and copy commands, with the copy
// window and the saving indicator, on real sample recordings.
#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/window/copy_form.h"
#include "app/window/event_form.h"
#include "app/window/live_form.h"
#include "app/window/picture_control.h"
#include "app/window/save_form.h"
#include "app/window/suggested_name.h"
#include "display/display_manager.h"
#include "platform/av_handles.h"
#include "platform/disk_source.h"
#include "recorder/export/copy_hdd_thread.h"
#include "recorder/playback/play_file_thread.h"
#include "recorder/playback/play_hdd_thread.h"
#include "tests/app/gui/window_fixture.h"
#include "tests/support/jpeg_tags.h"
#include "tests/support/test_support.h"
#include "tests/tools/tool_runner.h"
#include "tools/disk_image.h"
#include "tools/sample_recording.h"

using namespace orvan::app;
using orvan::DriveTable;

namespace {

constexpr int64_t kSampleStart = 1202982297;  // 2008-02-14 09:44:57 recorder time

bool WaitServicing(const std::function<bool()> &cond, int limitMs = 120000) {
  return QTest::qWaitFor(cond, limitMs);
}

std::string MakeSample(const orvan::test::TempDir &dir, const std::string &name, int seconds,
                       bool quad = false, int64_t start = kSampleStart) {
  orvan::tools::SampleOptions options;
  options.outputPath = dir.File(name);
  options.durationSeconds = seconds;
  options.quad = quad;
  options.events = 3;
  options.startSeconds = start;
  orvan::tools::SampleSummary summary;
  std::string error;
  EXPECT_TRUE(orvan::tools::MakeSampleRecording(options, summary, &error)) << error;
  return options.outputPath;
}

// What the display manager composes for the video panel, as 32-bit pixels.
QImage CapturePanel() {
  if (!DisplayManager) return {};
  int w = 0, h = 0;
  const int bytes = DisplayManager->Capture(nullptr, 0, &w, &h, nullptr);
  if (bytes <= 0) return {};
  std::vector<uint8_t> buffer(static_cast<size_t>(bytes));
  CaptureFormat format;
  if (DisplayManager->Capture(buffer.data(), buffer.size(), &w, &h, &format) != 0 ||
      format.nBitCount != 32)
    return {};
  return QImage(buffer.data(), w, h, w * 4, QImage::Format_RGB32).copy();
}

// The latest recorder time the window's viewers show; -1 before any.
int64_t ShownSeconds(const TLiveForm *form) {
  int64_t latest = -1;
  for (int ch = 0; ch < 4; ++ch) latest = std::max(latest, form->Viewer(ch)->ShownSeconds());
  return latest;
}

std::string ExifTime(int64_t seconds) {
  const SYSTEMTIME t = orvan::RecorderSecondsToSystemTime(seconds);
  return QString::asprintf("%04d:%02d:%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour,
                           t.wMinute, t.wSecond)
      .toStdString();
}

double MeanAbsoluteDifference(const QImage &a, const QImage &b) {
  const QImage x = a.convertToFormat(QImage::Format_RGB32);
  const QImage y = b.convertToFormat(QImage::Format_RGB32);
  int64_t sum = 0, count = 0;
  for (int row = 0; row < x.height(); row += 2)
    for (int col = 0; col < x.width(); col += 2) {
      const QRgb p = x.pixel(col, row), q = y.pixel(col, row);
      sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
             std::abs(qBlue(p) - qBlue(q));
      count += 3;
    }
  return count ? double(sum) / double(count) : 1e9;
}

// A still of the recorder's raw format: a level luma plane, neutral chroma.
std::string WriteGreyYuv(const orvan::test::TempDir &dir, const std::string &name, uint8_t luma) {
  std::vector<uint8_t> bytes(8 + 1080 * 480, 128);
  std::memset(bytes.data(), 0, 8);
  bytes[4] = 0x99;  // any recording time
  std::memset(bytes.data() + 8, luma, 720 * 480);
  std::ofstream(dir.File(name), std::ios::binary)
      .write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
  return dir.File(name);
}

struct AviFacts {
  bool opened = false;
  double videoRate = 0;
  int sampleRate = 0;
  int channels = 0;
  int64_t videoPackets = 0;
  int64_t audioPackets = 0;
  bool endedAtEof = false;
};

// Reads the whole file with libavformat.
AviFacts ProbeAvi(const std::string &path) {
  AviFacts facts;
  AVFormatContext *raw = nullptr;
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) != 0) return facts;
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext *)> ctx(
      raw, [](AVFormatContext *c) { avformat_close_input(&c); });
  if (avformat_find_stream_info(ctx.get(), nullptr) < 0) return facts;
  facts.opened = true;
  int video = -1, audio = -1;
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    const AVStream *s = ctx->streams[i];
    if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
      video = int(i);
      facts.videoRate = av_q2d(s->r_frame_rate);
    } else if (s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
      audio = int(i);
      facts.sampleRate = s->codecpar->sample_rate;
      facts.channels = s->codecpar->ch_layout.nb_channels;
    }
  }
  AVPacket *packet = av_packet_alloc();
  int rc = 0;
  while ((rc = av_read_frame(ctx.get(), packet)) >= 0) {
    if (packet->stream_index == video) ++facts.videoPackets;
    if (packet->stream_index == audio) ++facts.audioPackets;
    av_packet_unref(packet);
  }
  facts.endedAtEof = rc == AVERROR_EOF;
  av_packet_free(&packet);
  return facts;
}

// ffprobe's view of the streams, when ffprobe is installed; empty otherwise.
std::string FfprobeStreams(const std::string &path) {
  if (std::system("command -v ffprobe >/dev/null 2>&1") != 0) return {};
  const std::string command =
      "ffprobe -v error -show_entries "
      "stream=codec_type,r_frame_rate,sample_rate,channels -of csv=p=0 '" +
      path + "' 2>&1";
  std::string out;
  if (FILE *p = popen(command.c_str(), "r")) {
    char buf[512];
    while (fgets(buf, sizeof buf, p)) out += buf;
    if (pclose(p) != 0) out = "ffprobe failed: " + out;
  }
  return out;
}

struct CliClip {
  int exitCode = -1;
  int count = -1;
  std::string start, end;
  std::string message;
};

CliClip ClipByCli(const std::string &path) {
  CliClip clip;
  const auto r = orvan::test::RunTool("orvan-cli", {"clip", path, "--json"});
  clip.exitCode = r.exitCode;
  clip.message =
      r.out + r.err + " (" +
      std::to_string(std::filesystem::exists(path) ? std::filesystem::file_size(path) : 0) +
      " bytes)";
  const QString out = QString::fromStdString(r.out);
  const QRegularExpressionMatch m =
      QRegularExpression(R"re("count": (\d+).*"start": "([^"]+)", "end": "([^"]+)")re").match(out);
  if (m.hasMatch()) {
    clip.count = m.captured(1).toInt();
    clip.start = m.captured(2).toStdString();
    clip.end = m.captured(3).toStdString();
  }
  return clip;
}

SYSTEMTIME At(int64_t seconds) { return orvan::RecorderSecondsToSystemTime(seconds); }

class CommandsTest : public orvan::test::WindowFixture {
 protected:
  void MakeForm() {
    MakeWindow();
    CopyForm = new TCopyForm(form);
    SaveForm = new TSaveForm(form);
    form->ChooseOpenFile = [this](const QString &) { return openFile; };
    form->ChooseSaveFile = [this](const QString &filter, const QString &suggested) {
      saveFilters.push_back(filter);
      saveSuggestions.push_back(suggested);
      if (saveInto.isEmpty()) return QString();
      return saveInto + QLatin1Char('/') + suggested;
    };
    HookCopyForm(CopyForm);
    form->show();
  }

  void HookCopyForm(TCopyForm *copy) {
    copy->Inform = [this](const QString &text, const QString &caption) {
      copyMessages.push_back({text, caption});
    };
    copy->AskYesNo = [this](const QString &text, const QString &caption) {
      copyQuestions.push_back({text, caption});
      return copyAnswerYes;
    };
    copy->ChooseSaveFile = [this](const QString &filter, const QString &suggested,
                                  QString *selected) {
      saveFilters.push_back(filter);
      saveSuggestions.push_back(suggested);
      if (!copyType.isEmpty()) *selected = copyType;
      return saveInto + QLatin1Char('/') + suggested;
    };
  }

  template <typename T>
  T *Get(QObject *parent, const char *name) {
    T *w = parent->findChild<T *>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }

  // HDD Play of the images, the first disk playing.
  void PlayDisks(const std::vector<std::string> &images) {
    UseImages(images);
    MakeForm();
    form->HDDPlayClick();
    ASSERT_NE(form->DiskThread(), nullptr);
    ASSERT_TRUE(WaitServicing([&] { return form->DiskThread()->DiskValid(); }));
    form->PlayBtnClick();
  }

  bool CompleteSeen() const {
    for (const auto &m : copyMessages)
      if (m.first.startsWith("Copy data complete!!")) return true;
    return false;
  }

  // SaveAVI into the test folder; true when the player closed the
  // indicator itself (a guard closes it after a minute otherwise).
  bool SaveAviUntilThePlayerEndsIt() {
    saveInto = QString::fromStdString(dir.Path().string());
    bool guardFired = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
      guardFired = true;
      SaveForm->close();
    });
    guard.start(60000);
    form->SaveAVIBtnClick();
    guard.stop();
    return !guardFired;
  }

  std::vector<std::pair<QString, QString>> copyMessages, copyQuestions;
  std::vector<QString> saveFilters, saveSuggestions;
  QString openFile;
  QString saveInto;
  QString copyType;  // the file type chosen in the copy window's dialog
  bool copyAnswerYes = false;
};

}  // namespace

TEST(SuggestedNameTest, fillsThePatternsWithFourDigitYearAndTwoDigitFields) {
  const QDateTime when(QDate(2008, 2, 14), QTime(9, 44, 57));
  EXPECT_EQ(SuggestedName(kSnapshotNamePattern, when), "Img_20080214_094457.jpg");
  EXPECT_EQ(SuggestedName(kQuadAviNamePattern, when), "AVI_QUAD_20080214_094457.avi");
  EXPECT_EQ(SuggestedName(kAviNamePattern, when), "AVI_20080214_094457.avi");
}

// ---- the saving indicator ----

TEST_F(CommandsTest, saveForm_flashesWhiteFirst_thenRed_andStopAviClosesIt) {
  TSaveForm indicator;
  EXPECT_EQ(indicator.windowTitle(), "Save");
  // The designed 207 x 106, and a line that says how long it has saved and
  // how much.
  EXPECT_EQ(indicator.size(), QSize(207, 118));
  auto *white = Get<QLabel>(&indicator, "WhitePanel");
  auto *red = Get<QLabel>(&indicator, "RedPanel");
  auto *stop = Get<QLabel>(&indicator, "Panel1");
  EXPECT_EQ(white->text(), "AVI Saving");
  EXPECT_EQ(red->text(), "AVI Saving");
  EXPECT_EQ(white->geometry(), red->geometry());
  EXPECT_EQ(stop->text(), "StopAVI");
  EXPECT_EQ(white->palette().color(QPalette::Window), QColor(Qt::white));
  EXPECT_EQ(red->palette().color(QPalette::Window), QColor(Qt::red));

  indicator.show();
  // The real one-second timer: its first tick shows the white sign.
  ASSERT_TRUE(WaitServicing([&] { return indicator.FlashTicks() >= 1; }, 60000));
  EXPECT_TRUE(indicator.WhiteInFront());
  ASSERT_TRUE(WaitServicing([&] { return indicator.FlashTicks() >= 2; }, 60000));
  EXPECT_FALSE(indicator.WhiteInFront());

  uint64_t bytes = 3u << 20;
  indicator.StartShowing([&bytes] { return bytes; });
  EXPECT_EQ(Get<QLabel>(&indicator, "ProgressLabel")->text(), "3.0 MiB written, 00:00:00");
  bytes = 5u << 19;
  const int ticks = indicator.FlashTicks();
  ASSERT_TRUE(WaitServicing([&] { return indicator.FlashTicks() > ticks; }, 60000));
  EXPECT_TRUE(
      Get<QLabel>(&indicator, "ProgressLabel")->text().startsWith("2.5 MiB written, 00:00:0"));

  QTest::mouseClick(stop, Qt::LeftButton);
  EXPECT_FALSE(indicator.isVisible());
}

// ---- snapshots ----

TEST_F(CommandsTest, snapshot_inHddPlay_isAJpegOfThePanelMatchingTheCapture) {
  PlayDisks({MakeSample(dir, "sample.img", 4)});
  ASSERT_TRUE(WaitServicing([&] { return form->DiskThread()->Counters(3).pictures.load() > 8; }));
  form->PauseBtnClick();
  // The last pictures reach the panel.
  ASSERT_TRUE(WaitServicing([&] {
    for (int c = 0; c < 4; ++c)
      if (!form->Viewer(c)->AllPresented()) return false;
    return true;
  }));
  const QImage captured = CapturePanel();
  ASSERT_EQ(captured.size(), QSize(720, 480));

  saveInto = QString::fromStdString(dir.Path().string());
  form->SnapShotBtnClick();
  ASSERT_EQ(saveSuggestions.size(), 1u);
  EXPECT_TRUE(QRegularExpression(R"(^Img_\d{8}_\d{6}\.jpg$)").match(saveSuggestions[0]).hasMatch())
      << saveSuggestions[0].toStdString();
  EXPECT_TRUE(saveFilters[0].startsWith("JPEG files (*.jpg *.jpeg"))
      << saveFilters[0].toStdString();
  EXPECT_TRUE(saveFilters[0].contains("Bitmap files (*.bmp")) << saveFilters[0].toStdString();
  const QString file = saveInto + "/" + saveSuggestions[0];
  QImageReader reader(file);
  EXPECT_EQ(reader.format(), "jpeg");
  const QImage shot = reader.read();
  ASSERT_EQ(shot.size(), QSize(720, 480));
  EXPECT_LT(MeanAbsoluteDifference(shot, captured), 6.0);
  QImage black(720, 480, QImage::Format_RGB32);
  black.fill(Qt::black);
  EXPECT_GT(MeanAbsoluteDifference(shot, black), 20.0);  // pictures, not an empty panel

  // A cancelled dialog writes nothing.
  auto files = [&] {
    return std::distance(std::filesystem::directory_iterator(dir.Path()),
                         std::filesystem::directory_iterator());
  };
  const auto before = files();
  saveInto.clear();
  form->SnapShotBtnClick();
  EXPECT_EQ(files(), before);
  EXPECT_EQ(saveSuggestions.size(), 2u);
}

// The sample maker marks each picture's corners with grey squares of known
// levels: a snapshot of the whole-picture view (key W) holds all four of
// every channel's, and says in its comment which view it was taken in; the
// trimmed view cuts them away.
TEST_F(CommandsTest, snapshot_ofTheWholePictureView_holdsEveryChannelsCornerMarks_andSaysSo) {
  PlayDisks({MakeSample(dir, "sample.img", 4)});
  ASSERT_TRUE(WaitServicing([&] { return form->DiskThread()->Counters(3).pictures.load() > 8; }));
  form->PauseBtnClick();
  auto presented = [&] {
    for (int c = 0; c < 4; ++c)
      if (!form->Viewer(c)->AllPresented()) return false;
    return true;
  };
  ASSERT_TRUE(WaitServicing(presented));
  form->show();
  QApplication::setActiveWindow(form);
  QTest::keyClick(form, Qt::Key_W);
  ASSERT_TRUE(form->WholePicture());
  EXPECT_TRUE(Get<QAction>(form, "WholePictureItem")->isChecked());
  ASSERT_TRUE(WaitServicing(presented));

  saveInto = QString::fromStdString(dir.Path().string());
  auto snapshot = [&](const char *name) {
    const size_t asked = saveSuggestions.size();
    form->ChooseSaveFile = [&, name](const QString &, const QString &suggested) {
      saveSuggestions.push_back(suggested);
      return saveInto + QLatin1Char('/') + QLatin1String(name);
    };
    form->SnapShotBtnClick();
    EXPECT_EQ(saveSuggestions.size(), asked + 1);
    return dir.File(name);
  };
  const std::string whole = snapshot("whole.jpg");
  const QImage shot(QString::fromStdString(whole));
  ASSERT_EQ(shot.size(), QSize(720, 480));
  // A 720 x 480 picture fills its 360 x 240 tile: the 16-pixel marks are 8
  // pixels there; each is read 3 pixels in from its corner.
  const int inset = 3;
  for (int tile = 0; tile < 4; ++tile) {
    const int left = (tile % 2) * 360, top = (tile / 2) * 240;
    const QPoint corners[4] = {{left + inset, top + inset},
                               {left + 359 - inset, top + inset},
                               {left + inset, top + 239 - inset},
                               {left + 359 - inset, top + 239 - inset}};
    for (int c = 0; c < 4; ++c)
      EXPECT_NEAR(qGray(shot.pixel(corners[c])), orvan::tools::kCornerMarkLuma[c], 24)
          << "channel " << tile + 1 << " corner " << c;
  }
  std::ifstream in(whole, std::ios::binary);
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  EXPECT_NE(orvan::test::ReadJpegTags(bytes).comment.find("; view: whole picture"),
            std::string::npos)
      << orvan::test::ReadJpegTags(bytes).comment;

  // W again: the designed border trim, which leaves the marks out.
  QTest::keyClick(form, Qt::Key_W);
  EXPECT_FALSE(form->WholePicture());
  ASSERT_TRUE(WaitServicing(presented));
  const std::string trimmed = snapshot("trimmed.jpg");
  const QImage cut(QString::fromStdString(trimmed));
  ASSERT_EQ(cut.size(), QSize(720, 480));
  for (int tile = 0; tile < 4; ++tile) {
    const int left = (tile % 2) * 360, top = (tile / 2) * 240;
    EXPECT_GT(
        std::abs(qGray(cut.pixel(left + inset, top + inset)) - orvan::tools::kCornerMarkLuma[0]),
        60)
        << "channel " << tile + 1;
  }
  std::ifstream again(trimmed, std::ios::binary);
  const std::vector<uint8_t> cutBytes{std::istreambuf_iterator<char>(again), {}};
  EXPECT_NE(orvan::test::ReadJpegTags(cutBytes).comment.find("; view: border trimmed"),
            std::string::npos);
}

// A snapshot is named after the recorder time of the picture, not the PC's
// clock; the status line names the file written; a bitmap, which carries
// no tags, gets a note of the same name beside it.
TEST_F(CommandsTest, snapshot_namedByTheRecorderTime_saysWhereItWent_aBitmapGetsItsNote) {
  PlayDisks({MakeSample(dir, "sample.img", 4)});
  ASSERT_TRUE(WaitServicing([&] { return ShownSeconds(form) > kSampleStart; }));
  form->PauseBtnClick();
  ASSERT_TRUE(WaitServicing([&] {
    for (int c = 0; c < 4; ++c)
      if (!form->Viewer(c)->AllPresented()) return false;
    return true;
  }));
  const int64_t shown = ShownSeconds(form);
  saveInto = QString::fromStdString(dir.Path().string());
  form->SnapShotBtnClick();
  ASSERT_EQ(saveSuggestions.size(), 1u);
  EXPECT_EQ(saveSuggestions[0],
            SuggestedName(kSnapshotNamePattern, QDateTime::fromSecsSinceEpoch(shown, Qt::UTC)));
  const QString jpeg = saveInto + "/" + saveSuggestions[0];
  EXPECT_TRUE(std::filesystem::exists(jpeg.toStdString()));
  EXPECT_EQ(form->statusBar()->currentMessage(), "Snapshot saved: " + jpeg);

  form->ChooseSaveFile = [&](const QString &, const QString &) { return saveInto + "/shot.bmp"; };
  form->SnapShotBtnClick();
  EXPECT_TRUE(std::filesystem::exists(dir.File("shot.bmp")));
  const std::string note = orvan::test::ReadFileText(dir.File("shot.txt"));
  EXPECT_NE(note.find("recorder time: " + orvan::FormatRecorderTime(shown)), std::string::npos)
      << note;
  EXPECT_NE(note.find("source: HDD Play, Device_0; channels: CH1 CH2 CH3 CH4"), std::string::npos)
      << note;
  EXPECT_EQ(form->statusBar()->currentMessage(), "Snapshot saved: " + saveInto + "/shot.bmp");
}

// The save dialog answering with the image being played (or a link to it):
// the snapshot and the AVI are refused in a message box naming both files,
// and the image keeps every byte.
TEST_F(CommandsTest, snapshotOrAviOverTheImageBeingPlayed_isRefusedInAMessageBox) {
  const std::string image = MakeSample(dir, "played.img", 4);
  std::filesystem::create_symlink(image, dir.File("link.jpg"));
  const std::string sum = orvan::test::FileSha256(image);
  PlayDisks({image});
  ASSERT_TRUE(WaitServicing([&] { return form->DiskThread()->Counters(0).pictures.load() > 2; }));
  QString answer;
  form->ChooseSaveFile = [&](const QString &, const QString &) { return answer; };
  for (const std::string &chosen : {image, dir.File("link.jpg")}) {
    answer = QString::fromStdString(chosen);
    messages.clear();
    form->SnapShotBtnClick();
    ASSERT_EQ(messages.size(), 1u) << chosen;
    EXPECT_EQ(messages[0].first.toStdString(),
              "refusing to write " + chosen + ": it is the source being read (" + image + ")");
  }
  answer = QString::fromStdString(image);
  messages.clear();
  form->SaveAVIBtnClick();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].first.indexOf("it is the source being read"), -1);
  EXPECT_FALSE(form->DiskThread()->AviOn());
  EXPECT_FALSE(SaveForm->isVisible());
  form->PauseBtnClick();
  EXPECT_EQ(orvan::test::FileSha256(image), sum);
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.jpg")));
}

TEST_F(CommandsTest, snapshotInImagePlay_overTheStillShown_isRefused) {
  MakeForm();
  form->ImagePlayClick();
  const std::string still = WriteGreyYuv(dir, "grey.yuv", 120);
  const std::string sum = orvan::test::FileSha256(still);
  openFile = QString::fromStdString(still);
  form->OpenBtnClick();
  form->ChooseSaveFile = [&](const QString &, const QString &) { return openFile; };
  form->SnapShotBtnClick();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].first.indexOf("it is the source being read"), -1);
  EXPECT_EQ(orvan::test::FileSha256(still), sum);
}

TEST_F(CommandsTest, snapshot_inImagePlay_writesWhatTheNameSays_andSuggestsABitmap) {
  MakeForm();
  form->ImagePlayClick();
  openFile = QString::fromStdString(WriteGreyYuv(dir, "grey.yuv", 120));  // recorded at 0x99
  form->OpenBtnClick();
  const QImage shown = form->VideoImagePicture();
  ASSERT_EQ(shown.size(), QSize(720, 480));

  // The pop-up's item, after a right release over the picture.
  saveInto = QString::fromStdString(dir.Path().string());
  auto *menu = Get<QMenu>(form, "ViewerMenu");
  form->VideoImageMouseUp(kLeftButton, 10, 10);
  EXPECT_FALSE(menu->isVisible());
  form->VideoImageMouseUp(kRightButton, 10, 10);
  EXPECT_TRUE(menu->isVisible());
  menu->hide();
  Get<QAction>(form, "SnapShot1")->trigger();
  ASSERT_EQ(saveSuggestions.size(), 1u);
  EXPECT_TRUE(QRegularExpression(R"(^Img_\d{8}_\d{6}\.bmp$)").match(saveSuggestions[0]).hasMatch())
      << saveSuggestions[0].toStdString();
  EXPECT_TRUE(saveFilters[0].startsWith("Bitmap files (*.bmp")) << saveFilters[0].toStdString();
  EXPECT_TRUE(saveFilters[0].contains("JPEG files (*.jpg *.jpeg")) << saveFilters[0].toStdString();
  const QString bmp = saveInto + "/" + saveSuggestions[0];
  const std::vector<uint8_t> bmpBytes = orvan::test::ReadFileBytes(bmp.toStdString());
  ASSERT_GE(bmpBytes.size(), 2u);
  EXPECT_EQ(std::string(bmpBytes.begin(), bmpBytes.begin() + 2), "BM");
  const QImage written = QImageReader(bmp, "bmp").read();
  ASSERT_EQ(written.size(), QSize(720, 480));
  EXPECT_EQ(MeanAbsoluteDifference(written, shown), 0.0);

  // shot.jpg is a JPEG of the still, dated by the still's recording time.
  const QString shot = QString::fromStdString(dir.File("shot.jpg"));
  form->ChooseSaveFile = [&](const QString &, const QString &) { return shot; };
  form->SnapShotBtnClick();
  const std::vector<uint8_t> jpeg = orvan::test::ReadFileBytes(shot.toStdString());
  ASSERT_GE(jpeg.size(), 2u);
  EXPECT_EQ(jpeg[0], 0xFF);
  EXPECT_EQ(jpeg[1], 0xD8);
  QImageReader reader(shot);
  EXPECT_EQ(reader.format(), "jpeg");
  EXPECT_LT(MeanAbsoluteDifference(reader.read(), shown), 3.0);
  const orvan::test::JpegTags tags = orvan::test::ReadJpegTags(jpeg);
  EXPECT_EQ(tags.dateTimeOriginal, ExifTime(0x99));
  EXPECT_EQ(tags.comment, "ORVAN Viewer snapshot; source: Image Play, grey.yuv");
}

TEST_F(CommandsTest, snapshot_isThePictureOfThePress_notTheOneWhenTheDialogCloses) {
  PlayDisks({MakeSample(dir, "sample.img", 30)});
  ASSERT_TRUE(WaitServicing([&] { return ShownSeconds(form) > kSampleStart; }));
  // Pressed while paused, once the viewers have shown what they held, so
  // the picture of the press is known; playing resumes behind the dialog.
  form->PauseBtnClick();
  QImage atPress = CapturePanel(), previous;
  for (int i = 0; i < 150 && atPress != previous; ++i) {
    previous = atPress;
    QTest::qWait(200);
    atPress = CapturePanel();
  }
  ASSERT_EQ(atPress, previous) << "the panel never stood still";
  const int64_t shownAtPress = ShownSeconds(form);
  saveInto = QString::fromStdString(dir.Path().string());
  QImage atClose;
  form->ChooseSaveFile = [&](const QString &filter, const QString &suggested) {
    saveFilters.push_back(filter);
    saveSuggestions.push_back(suggested);
    form->PlayBtnClick();  // the user takes a while to name the file
    WaitServicing([&] { return ShownSeconds(form) >= shownAtPress + 3; });
    atClose = CapturePanel();
    return saveInto + "/" + suggested;
  };
  form->SnapShotBtnClick();
  ASSERT_EQ(saveSuggestions.size(), 1u);
  ASSERT_GT(MeanAbsoluteDifference(atClose, atPress), 15.0);
  const QString file = saveInto + "/" + saveSuggestions[0];
  const QImage shot = QImageReader(file).read();
  ASSERT_EQ(shot.size(), QSize(720, 480));
  EXPECT_LT(MeanAbsoluteDifference(shot, atPress), 6.0);

  // Dated by the recorder time on screen at the press; the comment names
  // the disk, the channels of the grid and the view.
  const orvan::test::JpegTags tags =
      orvan::test::ReadJpegTags(orvan::test::ReadFileBytes(file.toStdString()));
  EXPECT_EQ(tags.dateTimeOriginal, ExifTime(shownAtPress));
  const QString disk = Get<QComboBox>(form, "DeviceCombo")->currentText();
  EXPECT_EQ(tags.comment, "ORVAN Viewer snapshot; source: HDD Play, " + disk.toStdString() +
                              "; channels: CH1 CH2 CH3 CH4; view: border trimmed");
}

// ---- AVI saving ----

TEST_F(CommandsTest, saveAvi_withoutAPlayer_doesNothingNotEvenTheDialog) {
  MakeForm();
  saveInto = QString::fromStdString(dir.Path().string());
  form->SaveAVIBtnClick();
  EXPECT_TRUE(saveSuggestions.empty());
  EXPECT_EQ(SaveForm->FlashTicks(), 0);
  EXPECT_FALSE(SaveForm->isVisible());
}

TEST_F(CommandsTest, saveAvi_closedByStopAvi_writesTheSuggestedFileThatPlaysCleanly) {
  PlayDisks({MakeSample(dir, "sample.img", 30)});
  saveInto = QString::fromStdString(dir.Path().string());
  bool closedByTest = false, shownModally = false;
  QTimer::singleShot(0, form, [&] {
    shownModally = SaveForm->isVisible() && SaveForm->isModal();
    auto *player = form->DiskThread();
    WaitServicing([&] { return player->AviPictures() >= 14 && player->AviAudioBlocks() > 0; });
    closedByTest = true;
    QTest::mouseClick(SaveForm->findChild<QWidget *>("Panel1"), Qt::LeftButton);
  });
  form->SaveAVIBtnClick();
  EXPECT_TRUE(closedByTest);
  EXPECT_TRUE(shownModally);
  ASSERT_EQ(saveSuggestions.size(), 1u);
  EXPECT_TRUE(QRegularExpression(R"(^AVI_\d{8}_\d{6}\.avi$)").match(saveSuggestions[0]).hasMatch())
      << saveSuggestions[0].toStdString();
  EXPECT_EQ(saveFilters[0], "AVI files (*.avi *.AVI)");
  EXPECT_FALSE(form->DiskThread()->AviOn());
  EXPECT_TRUE(form->DiskThread()->Playing());  // playing goes on after saving

  const std::string file = (saveInto + "/" + saveSuggestions[0]).toStdString();
  const AviFacts facts = ProbeAvi(file);
  ASSERT_TRUE(facts.opened);
  EXPECT_DOUBLE_EQ(facts.videoRate, 7.0);
  EXPECT_EQ(facts.sampleRate, 16000);
  EXPECT_EQ(facts.channels, 2);
  EXPECT_EQ(facts.videoPackets, int64_t(form->DiskThread()->AviPictures()));
  EXPECT_GE(facts.videoPackets, 14);
  EXPECT_GT(facts.audioPackets, 0);
  EXPECT_TRUE(facts.endedAtEof);
  const std::string probe = FfprobeStreams(file);
  if (!probe.empty()) {
    EXPECT_NE(probe.find("video,7/1"), std::string::npos) << probe;
    EXPECT_NE(probe.find("audio,16000,2"), std::string::npos) << probe;
  }
}

TEST_F(CommandsTest, saveAvi_fromAPausedPlayer_holdsThePictureOnScreen_andLibavformatReadsIt) {
  PlayDisks({MakeSample(dir, "sample.img", 30)});
  ASSERT_TRUE(WaitServicing([&] { return form->DiskThread()->Counters(3).pictures.load() > 4; }));
  form->PauseBtnClick();
  saveInto = QString::fromStdString(dir.Path().string());
  uint64_t picturesWhileShown = 0;
  QRect indicator, panel, controls;
  QTimer::singleShot(0, form, [&] {
    picturesWhileShown = form->DiskThread()->AviPictures();
    indicator = SaveForm->frameGeometry();
    auto *live = Get<QWidget>(form, "LivePanel");
    auto *group = Get<QWidget>(form, "AVIGroup");
    panel = QRect(live->mapToGlobal(QPoint(0, 0)), live->size());
    controls = QRect(group->mapToGlobal(QPoint(0, 0)), group->size());
    SaveForm->Panel1Click();  // at once: the player never played meanwhile
  });
  form->SaveAVIBtnClick();
  EXPECT_EQ(picturesWhileShown, 1u);

  ASSERT_EQ(saveSuggestions.size(), 1u);
  const std::string file = (saveInto + "/" + saveSuggestions[0]).toStdString();
  const AviFacts facts = ProbeAvi(file);
  ASSERT_TRUE(facts.opened);
  EXPECT_EQ(facts.videoPackets, 1);
  EXPECT_DOUBLE_EQ(facts.videoRate, 7.0);
  EXPECT_TRUE(facts.endedAtEof);
  const std::string probe = FfprobeStreams(file);
  if (!probe.empty()) {
    EXPECT_NE(probe.find("video,7/1"), std::string::npos) << probe;
  }

  // The status line names the file; the indicator sat beside the controls
  // and off the video panel.
  EXPECT_TRUE(form->statusBar()->currentMessage().startsWith(
      "AVI saved: " + QString::fromStdString(file) + " ("))
      << form->statusBar()->currentMessage().toStdString();
  EXPECT_EQ(SaveForm->size(), QSize(207, 118));
  EXPECT_FALSE(indicator.intersects(panel));
  EXPECT_GT(indicator.left(), panel.right());
  EXPECT_EQ(indicator.top(), controls.top());
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_TRUE(screen.contains(indicator));
}

TEST(SaveFormPlace, besideTheWindow_elseOverTheControlsColumn_neverOverThePanel) {
  const QRect window(0, 0, 960, 600), panel(13, 42, 720, 480), controls(736, 221, 201, 65);
  const QSize frame(209, 130);
  // Room right of the window.
  EXPECT_EQ(TSaveForm::PlaceBesideControls(window, panel, controls, frame, QRect(0, 0, 1280, 1024)),
            QPoint(964, 221));
  // None: over the controls, right of the panel.
  const QPoint column =
      TSaveForm::PlaceBesideControls(window, panel, controls, frame, QRect(0, 0, 1000, 700));
  EXPECT_EQ(column, QPoint(737, 221));
  EXPECT_FALSE(QRect(column, frame).intersects(panel));
  // Kept on a short screen.
  EXPECT_EQ(TSaveForm::PlaceBesideControls(window, panel, QRect(736, 650, 201, 65), frame,
                                           QRect(0, 0, 1280, 700)),
            QPoint(964, 570));
}

TEST_F(CommandsTest, saveAvi_endsByItself_whenTheRecordingReachesItsEnd) {
  PlayDisks({MakeSample(dir, "short.img", 3)});
  EXPECT_TRUE(SaveAviUntilThePlayerEndsIt());
  EXPECT_TRUE(form->DiskThread()->AtEnd());
  ASSERT_EQ(saveSuggestions.size(), 1u);
  const AviFacts facts = ProbeAvi((saveInto + "/" + saveSuggestions[0]).toStdString());
  ASSERT_TRUE(facts.opened);
  EXPECT_DOUBLE_EQ(facts.videoRate, 7.0);
  EXPECT_EQ(facts.sampleRate, 16000);
  EXPECT_GE(facts.videoPackets, 1);
  EXPECT_TRUE(facts.endedAtEof);
}

TEST_F(CommandsTest, saveAvi_inFilePlay_recordsTheClipUntilItsEnd) {
  const std::string disk = MakeSample(dir, "clipsource.img", 4);
  const std::string clip = dir.File("clip.in");
  const auto r = orvan::test::RunTool("orvan-cli", {"export", disk, "--from", "2008-02-14 09:44:57",
                                                    "--to", "2008-02-14 09:45:00", "-o", clip});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  MakeForm();
  openFile = QString::fromStdString(clip);
  form->OpenBtnClick();
  ASSERT_NE(form->ClipThread(), nullptr);
  EXPECT_TRUE(SaveAviUntilThePlayerEndsIt());
  EXPECT_TRUE(form->ClipThread()->AtEnd());
  ASSERT_EQ(saveSuggestions.size(), 1u);  // asked once: for the clip player only
  const AviFacts facts = ProbeAvi((saveInto + "/" + saveSuggestions[0]).toStdString());
  ASSERT_TRUE(facts.opened);
  EXPECT_EQ(facts.sampleRate, 16000);
  EXPECT_GE(facts.videoPackets, 1);
  EXPECT_TRUE(facts.endedAtEof);
}

TEST_F(CommandsTest, saveAvi_suggestsTheQuadName_onceAQuadRecordingWasReported) {
  PlayDisks({MakeSample(dir, "quad.img", 3, true)});
  ASSERT_TRUE(WaitServicing([&] { return form->Layout().QuadRecording() == 1; }));
  form->SaveAVIBtnClick();  // cancelled: nothing starts
  ASSERT_EQ(saveSuggestions.size(), 1u);
  EXPECT_TRUE(saveSuggestions[0].startsWith("AVI_QUAD_")) << saveSuggestions[0].toStdString();
  EXPECT_FALSE(form->DiskThread()->AviOn());
  EXPECT_EQ(SaveForm->FlashTicks(), 0);
}

TEST_F(CommandsTest, saveAvi_aFileThatCannotBeMade_showsNoIndicator) {
  PlayDisks({MakeSample(dir, "sample.img", 3)});
  saveInto = QString::fromStdString(dir.File("no/such/folder"));
  form->SaveAVIBtnClick();
  EXPECT_FALSE(form->DiskThread()->AviOn());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].first.contains("no/such/folder"));
}

TEST_F(CommandsTest, stopAvi_endsARecordingStartedOnThePlayer_andBringsSaveAviToTheFront) {
  PlayDisks({MakeSample(dir, "sample.img", 3)});
  const std::string file = dir.File("direct.avi");
  ASSERT_TRUE(form->DiskThread()->SetAviRecording(file, 0, true));
  ASSERT_TRUE(WaitServicing([&] { return form->DiskThread()->AviPictures() >= 2; }));
  form->CloseSavingIndicator();  // nothing shown: nothing happens
  form->StopAVIBtnClick();
  EXPECT_FALSE(form->DiskThread()->AviOn());
  EXPECT_TRUE(Get<QWidget>(form, "PlayBarBtn")->isEnabled());
  auto *group = Get<QWidget>(form, "AVIGroup");
  const QObjectList &order = group->children();
  EXPECT_GT(order.indexOf(Get<QWidget>(form, "SaveAVIBtn")),
            order.indexOf(Get<QWidget>(form, "StopAVIBtn")));
  const AviFacts facts = ProbeAvi(file);
  EXPECT_TRUE(facts.opened);
  EXPECT_TRUE(facts.endedAtEof);
  EXPECT_EQ(facts.videoPackets, int64_t(form->DiskThread()->AviPictures()));
}

// ---- the copy window ----

TEST(CopyFormDots, growFromOneToTwentyDots_restForATick_andStartAgain) {
  // The row as the timer builds it when the thread never finishes.
  int counter = 0;
  QString text;
  std::vector<QString> seen;
  for (int tick = 0; tick < 23; ++tick) {
    TCopyForm::AdvanceDots(counter, text);
    seen.push_back(text);
  }
  EXPECT_EQ(seen[0], "Processing .");
  EXPECT_EQ(seen[1], "Processing ..");
  EXPECT_EQ(seen[19], "Processing " + QString(20, '.'));
  EXPECT_EQ(seen[20], seen[19]);  // the rest
  EXPECT_EQ(seen[21], "Processing .");
}

TEST_F(CommandsTest, copyForm_keepsThePickersInsideTheDisksSpan) {
  TCopyForm copy;
  EXPECT_EQ(copy.windowTitle(), "Copy");
  EXPECT_EQ(copy.size(), QSize(327, 156));
  const SYSTEMTIME start = At(kSampleStart), end = At(kSampleStart + 600);
  copy.SetRange(3, start, end);
  EXPECT_EQ(copy.DriveNumber(), 3);
  auto seconds = [](const SYSTEMTIME &st) { return orvan::SystemTimeToRecorderSeconds(st); };
  EXPECT_EQ(seconds(copy.ChosenStart()), kSampleStart);
  EXPECT_EQ(seconds(copy.ChosenEnd()), kSampleStart + 600);

  copy.PickStart(At(kSampleStart - 1));
  EXPECT_EQ(seconds(copy.ChosenStart()), kSampleStart);
  copy.PickStart(At(kSampleStart - 86400 * 3));
  EXPECT_EQ(seconds(copy.ChosenStart()), kSampleStart);
  copy.PickEnd(At(kSampleStart + 601));
  EXPECT_EQ(seconds(copy.ChosenEnd()), kSampleStart + 600);
  copy.PickStart(At(kSampleStart + 300));
  EXPECT_EQ(seconds(copy.ChosenStart()), kSampleStart + 300);
  // An end before the start is accepted.
  copy.PickEnd(At(kSampleStart + 100));
  EXPECT_EQ(seconds(copy.ChosenEnd()), kSampleStart + 100);
  EXPECT_EQ(Get<QLabel>(&copy, "Label1")->text(), "StartTime");
  EXPECT_EQ(Get<QLabel>(&copy, "Label2")->text(), "EndTime");
  EXPECT_FALSE(Get<QPushButton>(&copy, "StopBtn")->isEnabled());
}

TEST_F(CommandsTest, copy_ofARange_makesAClipThatFilePlayPlays_andTheFirstDiskIsOpenAgain) {
  PlayDisks({MakeSample(dir, "first.img", 4),
             MakeSample(dir, "second.img", 20, false, kSampleStart + 3600)});
  // The second disk is the one copied. Its span ends where its last
  // 512-entry block starts, so it is made long enough to hold two blocks.
  auto *combo = Get<QComboBox>(form, "DeviceCombo");
  combo->setCurrentIndex(1);
  form->DeviceComboChange();
  ASSERT_NE(form->DiskThread(), nullptr);
  ASSERT_EQ(form->DiskThread()->DriveNumber(), 1);
  ASSERT_TRUE(WaitServicing([&] { return form->DiskThread()->DiskValid(); }));

  // A refusal leaves playing alone.
  answerYes = false;
  form->CopyBtnClick();
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0].first, form->Tr(orvan::app::TextKey::ThiswillstopHDDplaycontinue));
  EXPECT_EQ(questions[0].first, "This will stop HDD play. Continue?");
  EXPECT_NE(form->DiskThread(), nullptr);

  answerYes = true;
  saveInto = QString::fromStdString(dir.Path().string());
  bool playerGone = false;
  int drive = -1;
  std::string clip;
  QTimer::singleShot(0, form, [&] {
    playerGone = form->DiskThread() == nullptr;
    drive = CopyForm->DriveNumber();
    CopyForm->PickStart(At(kSampleStart + 3600));
    CopyForm->PickEnd(At(kSampleStart + 3600 + 3));
    Get<QPushButton>(CopyForm, "SaveBtn")->click();
    EXPECT_FALSE(Get<QPushButton>(CopyForm, "SaveBtn")->isEnabled());
    EXPECT_TRUE(Get<QPushButton>(CopyForm, "StopBtn")->isEnabled());
    WaitServicing([&] { return CompleteSeen(); });
    if (!saveSuggestions.empty()) clip = (saveInto + "/" + saveSuggestions.back()).toStdString();
    EXPECT_EQ(CopyForm->ProgressPerMille(), 1000);
    EXPECT_TRUE(CopyForm->ProgressText().isEmpty());
    EXPECT_TRUE(Get<QPushButton>(CopyForm, "SaveBtn")->isEnabled());
    Get<QPushButton>(CopyForm, "CloseBtn")->click();
  });
  form->CopyBtnClick();
  EXPECT_TRUE(playerGone);
  EXPECT_EQ(drive, 1);
  EXPECT_TRUE(CompleteSeen());
  EXPECT_TRUE(copyQuestions.empty());  // closing an idle window asks nothing
  ASSERT_FALSE(saveSuggestions.empty());
  EXPECT_EQ(saveSuggestions.back(), "20080214_104457.in");
  EXPECT_EQ(saveFilters.back(), "Clip (*.in);;Matroska, lossless (*.mkv);;MP4 (*.mp4)");

  // The rescan opened the first disk again.
  EXPECT_EQ(combo->currentIndex(), 0);
  ASSERT_NE(form->DiskThread(), nullptr);
  EXPECT_EQ(form->DiskThread()->DriveNumber(), 0);
  EXPECT_FALSE(form->DiskThread()->Playing());

  const CliClip cli = ClipByCli(clip);
  ASSERT_EQ(cli.exitCode, 0) << cli.message;
  EXPECT_GT(cli.count, 0);
  EXPECT_EQ(cli.start, "2008/02/14_10:44:57");
  EXPECT_EQ(cli.end, "2008/02/14_10:44:59");

  // File Play plays every entry of it, first to last time.
  form->FilePlayClick();
  openFile = QString::fromStdString(clip);
  form->OpenBtnClick();
  ASSERT_NE(form->ClipThread(), nullptr);
  form->ClipThread()->SetPacingEnabled(false);
  ASSERT_TRUE(WaitServicing([&] { return form->ClipThread()->AtEnd(); }));
  uint64_t handled = 0;
  for (int ch = 0; ch < 4; ++ch)
    handled += form->ClipThread()->Counters(ch).delivered.load() +
               form->ClipThread()->Counters(ch).keyWaitDrops.load();
  EXPECT_EQ(handled, uint64_t(cli.count));
  EXPECT_EQ(orvan::FormatRecorderTime(form->ClipThread()->FirstPlayedTime()), cli.start);
  EXPECT_EQ(orvan::FormatRecorderTime(form->ClipThread()->LastPlayedTime()), cli.end);
}

TEST_F(CommandsTest, copy_ofTheWholeOfferedSpan_reachesTheLastEntryOfTheRecording) {
  orvan::tools::SampleOptions options;
  options.outputPath = dir.File("whole.img");
  options.durationSeconds = 20;  // two blocks and a part of a third
  options.events = 3;
  orvan::tools::SampleSummary summary;
  std::string error;
  ASSERT_TRUE(orvan::tools::MakeSampleRecording(options, summary, &error)) << error;
  PlayDisks({options.outputPath});
  answerYes = true;
  saveInto = QString::fromStdString(dir.Path().string());
  int64_t offeredEnd = 0;
  QTimer::singleShot(0, form, [&] {
    offeredEnd = orvan::SystemTimeToRecorderSeconds(CopyForm->ChosenEnd());
    CopyForm->SaveBtnClick();
    WaitServicing([&] { return CompleteSeen(); });
    CopyForm->CloseBtnClick();
  });
  form->CopyBtnClick();
  // The End offered is the recording's last second, and it is copied too.
  EXPECT_EQ(offeredEnd, int64_t{summary.lastTime});
  ASSERT_FALSE(saveSuggestions.empty());
  const CliClip cli = ClipByCli(dir.File(saveSuggestions.back().toStdString()));
  ASSERT_EQ(cli.exitCode, 0) << cli.message;
  EXPECT_EQ(cli.count, summary.entries);
  EXPECT_EQ(cli.end, orvan::FormatRecorderTime(int64_t{summary.lastTime}));
}

TEST_F(CommandsTest, copy_refusesAnEndBeforeTheStart_andSaysWhenTheSpanHoldsNothing_writingNoFile) {
  UseImages({MakeSample(dir, "short.img", 4)});
  TCopyForm copy;
  HookCopyForm(&copy);
  saveInto = QString::fromStdString(dir.Path().string());
  auto clipFiles = [&] {
    int n = 0;
    for (const auto &e : std::filesystem::directory_iterator(dir.Path()))
      n += e.path().extension() == ".in" || e.path().extension() == ".da";
    return n;
  };
  copy.SetRange(0, At(kSampleStart), At(kSampleStart + 4));
  copy.PickStart(At(kSampleStart + 3));
  copy.PickEnd(At(kSampleStart + 1));
  copy.SaveBtnClick();
  ASSERT_EQ(copyMessages.size(), 1u);
  EXPECT_EQ(copyMessages[0].first, "The end time is before the start time: nothing is copied.");
  EXPECT_EQ(copyMessages[0].second, "Warning");
  EXPECT_TRUE(saveSuggestions.empty());  // not even asked for a name
  EXPECT_EQ(copy.CopyThread(), nullptr);
  EXPECT_TRUE(Get<QPushButton>(&copy, "SaveBtn")->isEnabled());

  // Start and end at the recording's first second: entries at the end are
  // not copied, and there is nothing before it.
  copy.PickStart(At(kSampleStart));
  copy.PickEnd(At(kSampleStart));
  copy.SaveBtnClick();
  ASSERT_TRUE(WaitServicing([&] { return copyMessages.size() == 2; }, 10000));
  EXPECT_EQ(copyMessages[1].first, "Nothing was recorded in the chosen span: no clip was written.");
  EXPECT_EQ(copyMessages[1].second, "Warning");
  EXPECT_FALSE(CompleteSeen());
  EXPECT_EQ(clipFiles(), 0);
  EXPECT_TRUE(Get<QPushButton>(&copy, "SaveBtn")->isEnabled());
}

TEST(CopyFormTypes, theTypeChosenDecidesTheNamesEnding) {
  const QString mkv = QString::fromLatin1(TCopyForm::kMatroskaFilter);
  const QString mp4 = QString::fromLatin1(TCopyForm::kMp4Filter);
  const QString clip = QString::fromLatin1(TCopyForm::kClipFilter);
  EXPECT_EQ(TCopyForm::NameForType("/d/20080214_094457.in", mkv), "/d/20080214_094457.mkv");
  EXPECT_EQ(TCopyForm::NameForType("/d/evidence", mp4), "/d/evidence.mp4");
  EXPECT_EQ(TCopyForm::NameForType("/d/Evidence.MKV", mkv), "/d/Evidence.MKV");
  EXPECT_EQ(TCopyForm::NameForType("/d/a.mp4", clip), "/d/a.in");
  EXPECT_EQ(TCopyForm::NameForType("/d/a.in", QString()), "/d/a.in");
}

TEST_F(CommandsTest, copy_asMatroska_writesAFilePerChannelAndTheManifest_beforeSayingComplete) {
  UseImages({MakeSample(dir, "disk.img", 6)});
  TCopyForm copy;
  HookCopyForm(&copy);
  saveInto = QString::fromStdString(dir.Path().string());
  copyType = QString::fromLatin1(TCopyForm::kMatroskaFilter);
  copy.SetRange(0, At(kSampleStart), At(kSampleStart + 5));
  copy.SaveBtnClick();
  ASSERT_TRUE(WaitServicing([&] { return !copyMessages.empty(); }));
  // It names what the files hold beside what was asked for.
  EXPECT_TRUE(copyMessages[0].first.startsWith("Copy data complete!!\nWritten: 2008/02/14_09:4"))
      << copyMessages[0].first.toStdString();
  EXPECT_TRUE(
      copyMessages[0].first.endsWith("(asked for 2008/02/14_09:44:57 \u2013 2008/02/14_09:45:02)"))
      << copyMessages[0].first.toStdString();
  ASSERT_EQ(saveFilters.size(), 1u);
  EXPECT_EQ(saveFilters[0], "Clip (*.in);;Matroska, lossless (*.mkv);;MP4 (*.mp4)");
  EXPECT_TRUE(Get<QPushButton>(&copy, "SaveBtn")->isEnabled());

  // The suggested clip name took the chosen type's ending.
  const std::string base = dir.File("20080214_094457");
  EXPECT_FALSE(std::filesystem::exists(base + ".in"));
  for (int c = 1; c <= 4; ++c) {
    const std::string file = base + "_CH" + std::to_string(c) + ".mkv";
    AVFormatContext *raw = nullptr;
    ASSERT_EQ(avformat_open_input(&raw, file.c_str(), nullptr, nullptr), 0) << file;
    orvan::av::InputFormatContextPtr media(raw);
    ASSERT_EQ(avformat_find_stream_info(media.get(), nullptr), 0);
    EXPECT_EQ(std::string(media->iformat->name).find("matroska"), 0u);
    EXPECT_EQ(media->streams[0]->codecpar->codec_id, AV_CODEC_ID_MPEG4);
  }
  const auto verify = orvan::test::RunTool("orvan-cli", {"verify", base + ".manifest.json"});
  EXPECT_EQ(verify.exitCode, 0) << verify.out << verify.err;
}

TEST_F(CommandsTest, copy_thenClose_bringsHddPlayBackAtTheTimeItWasShowing) {
  PlayDisks({MakeSample(dir, "long.img", 40)});
  const int64_t target = kSampleStart + 25;
  JumpToEventTime(form, uint32_t(target));
  ASSERT_TRUE(WaitServicing([&] { return ShownSeconds(form) >= target; }));
  const int64_t shown = ShownSeconds(form);
  ASSERT_TRUE(WaitServicing([&] { return !form->EventTicks().empty(); }));
  // A search time the user picked.
  auto *date = Get<QDateEdit>(form, "DatePicker");
  auto *time = Get<QTimeEdit>(form, "TimePicker");
  time->setTime(QTime(9, 45, 33));
  const QDateTime picked(date->date(), time->time());
  const QString info = Get<QLabel>(form, "StatusLabel")->text();
  const size_t ticks = form->EventTicks().size();
  // While the copy window is open, the main window keeps its event ticks
  // and its info box; the copy window starts idle, even after a copy ran
  // in it (its progress back at 0, Stop disabled).
  bool ticksKept = false, infoKept = false, idle = false;
  answerYes = true;
  QTimer::singleShot(0, form, [&] {
    ticksKept = form->EventTicks().size() == ticks;
    infoKept = Get<QLabel>(form, "StatusLabel")->text() == info;
    idle = CopyForm->ProgressPerMille() == 0 &&
           !Get<QPushButton>(CopyForm, "StopBtn")->isEnabled() &&
           Get<QPushButton>(CopyForm, "SaveBtn")->isEnabled() && CopyForm->ProgressText().isEmpty();
    CopyForm->CloseBtnClick();
  });
  form->CopyBtnClick();
  EXPECT_TRUE(ticksKept);
  EXPECT_TRUE(infoKept);
  EXPECT_TRUE(idle);
  // The search time stays what it was, once the disk is read again.
  ASSERT_TRUE(WaitServicing([&] { return !form->RecordingMap().Empty(); }));
  EXPECT_EQ(QDateTime(date->date(), time->time()), picked);
  ASSERT_NE(form->DiskThread(), nullptr);
  EXPECT_TRUE(form->DiskThread()->Playing());  // as it was
  EXPECT_EQ(Get<QLabel>(form, "PlayLabel")->text(), "Play");
  ASSERT_TRUE(WaitServicing([&] { return form->DiskThread()->FirstPlayedTime() != 0; }));
  // From the start of the 512-entry block that holds the time shown, well
  // past the start of the disk.
  EXPECT_LE(int64_t{form->DiskThread()->FirstPlayedTime()}, shown);
  EXPECT_GT(int64_t{form->DiskThread()->FirstPlayedTime()}, kSampleStart + 10);
}

TEST_F(CommandsTest, copy_stoppedPartWay_asksFirst_andStillLeavesAPlayableClip) {
  UseImages({MakeSample(dir, "long.img", 20)});
  TCopyForm copy;
  HookCopyForm(&copy);
  saveInto = QString::fromStdString(dir.Path().string());
  copy.SetRange(0, At(kSampleStart), At(kSampleStart + 19));
  copy.SaveBtnClick();
  ASSERT_NE(copy.CopyThread(), nullptr);
  auto *thread = copy.CopyThread();
  // Past the 2048 bytes a clip's index file needs before it plays at all.
  ASSERT_TRUE(orvan::test::WaitUntil([&] { return thread->EntriesWritten() > 120; }));

  // No to both questions: the copy goes on and the window stays.
  copy.show();
  copyAnswerYes = false;
  copy.CloseBtnClick();
  copy.StopBtnClick();
  ASSERT_EQ(copyQuestions.size(), 2u);
  EXPECT_EQ(copyQuestions[0].first, "Close now may cause error data to the saving file, continue?");
  EXPECT_EQ(copyQuestions[1].first, "Stop now may cause error data to the saving file, continue?");
  EXPECT_EQ(copyQuestions[0].second, "Warning");
  EXPECT_EQ(copyQuestions[1].second, "Warning");
  EXPECT_TRUE(copy.isVisible());
  EXPECT_NE(copy.CopyThread(), nullptr);

  copyAnswerYes = true;
  copy.StopBtnClick();  // mid-way or just after the last entry: either way a trailer follows
  EXPECT_EQ(copy.CopyThread(), nullptr);
  EXPECT_TRUE(Get<QPushButton>(&copy, "SaveBtn")->isEnabled());
  EXPECT_FALSE(Get<QPushButton>(&copy, "StopBtn")->isEnabled());

  const CliClip cli = ClipByCli(dir.File(saveSuggestions.back().toStdString()));
  EXPECT_EQ(cli.exitCode, 0) << cli.message;
  EXPECT_GT(cli.count, 0);

  // The timer runs on and finds no thread; closing ends it.
  copy.close();
  EXPECT_FALSE(Get<QTimer>(&copy, "Timer1")->isActive());
}

TEST_F(CommandsTest, copy_fromADriveThatIsNotThere_isNotReportedComplete) {
  UseImages({});
  TCopyForm copy;
  HookCopyForm(&copy);
  saveInto = QString::fromStdString(dir.Path().string());
  copy.SetRange(5, At(kSampleStart), At(kSampleStart + 10));
  copy.SaveBtnClick();
  ASSERT_TRUE(WaitServicing([&] { return !copyMessages.empty(); }, 60000));
  EXPECT_NE(copyMessages[0].first, "Copy data complete!!");
  EXPECT_EQ(copyMessages[0].second, "Warning");
  EXPECT_EQ(copy.CopyThread(), nullptr);
  EXPECT_TRUE(Get<QPushButton>(&copy, "SaveBtn")->isEnabled());
}

TEST_F(CommandsTest, copy_ofADiskWithoutState_showsTheStateError_andReturnsToIdle) {
  orvan::tools::RecorderImage image;
  image.stateSlot = -1;
  for (int i = 0; i < 40; ++i) {
    orvan::recorder::IndexEntry e;
    e.type = 1;
    e.channel = uint8_t(i % 4);
    e.time = uint32_t(kSampleStart + i / 4);
    e.size = 64;
    e.offset = image.data.size();
    image.data.insert(image.data.end(), 64, uint8_t(i));
    image.entries.push_back(e);
  }
  std::string error;
  ASSERT_TRUE(orvan::tools::WriteRecorderImage(dir.File("nostate.img"), image, &error)) << error;
  UseImages({dir.File("nostate.img")});
  TCopyForm copy;
  HookCopyForm(&copy);
  saveInto = QString::fromStdString(dir.Path().string());
  copy.SetRange(0, At(kSampleStart), At(kSampleStart + 10));
  copy.SaveBtnClick();
  ASSERT_EQ(copyMessages.size(), 1u);
  EXPECT_EQ(copyMessages[0].first, "Check HDD State Error!!");
  // The thread ended without a clip: the timer brings the form back to idle
  // instead of growing dots for ever, and nothing claims a complete copy.
  ASSERT_TRUE(WaitServicing([&] { return copy.CopyThread() == nullptr; }, 60000));
  EXPECT_TRUE(Get<QPushButton>(&copy, "SaveBtn")->isEnabled());
  EXPECT_FALSE(Get<QPushButton>(&copy, "StopBtn")->isEnabled());
  EXPECT_FALSE(Get<QTimer>(&copy, "Timer1")->isActive());
  EXPECT_TRUE(copy.ProgressText().isEmpty());
  EXPECT_FALSE(CompleteSeen());
}
