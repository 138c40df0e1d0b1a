// The window's review aids driven as an examiner drives them: seeks that
// land on their picture, the zooming play bar, bookmarks, and the
// picture's identity line; synthesized mouse and key input on real
// players, real decoding and real files.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QWheelEvent>
#include <filesystem>

#include "app/window/live_form.h"
#include "app/window/magnifier.h"
#include "platform/disk_source.h"
#include "recorder/export/span_reader.h"
#include "recorder/layout/disk_layout.h"
#include "recorder/playback/play_hdd_thread.h"
#include "tests/app/gui/window_fixture.h"
#include "tests/support/jpeg_tags.h"
#include "tests/support/test_support.h"
#include "tools/sample_recording.h"

using namespace orvan::app;

namespace {

constexpr uint32_t kStart = orvan::test::kJunkDiskStart;

bool WaitServicing(const std::function<bool()> &cond) { return QTest::qWaitFor(cond, 120000); }

std::string MakeSample(const orvan::test::TempDir &dir, int seconds) {
  orvan::tools::SampleOptions options;
  options.outputPath = dir.File("sample.img");
  options.durationSeconds = seconds;
  options.events = 3;
  orvan::tools::SampleSummary summary;
  std::string error;
  EXPECT_TRUE(orvan::tools::MakeSampleRecording(options, summary, &error)) << error;
  return options.outputPath;
}

void Mouse(QWidget *w, QEvent::Type type, int x, int y, Qt::MouseButtons held) {
  const QPointF local(x, y);
  const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent event(type, local, w->mapToGlobal(local), button, held, Qt::NoModifier);
  QApplication::sendEvent(w, &event);
}

void Wheel(QWidget *w, int x, int delta) {
  const QPointF local(x, 11);
  QWheelEvent event(local, w->mapToGlobal(local), QPoint(), QPoint(0, delta), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(w, &event);
}

class ReviewAidsTest : public orvan::test::WindowFixture {
 protected:
  void MakeForm() {
    MakeWindow();
    form->show();
    QApplication::setActiveWindow(form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
  }
  void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(form, Qt::Key(key), modifiers);
  }
  void OpenDisk(const std::string &path) {
    UseImages({path});
    form->HDDPlayClick();
    ASSERT_NE(form->DiskThread(), nullptr);
    ASSERT_TRUE(WaitServicing([&] { return form->DiskThread()->DiskValid(); }));
    ASSERT_TRUE(WaitServicing([&] { return !form->RecordingMap().Empty(); }));
  }
  bool AllPresented() {
    for (int ch = 0; ch < 4; ++ch)
      if (!form->Viewer(ch)->AllPresented()) return false;
    return true;
  }
  // After a seek has been carried out and its pictures drawn.
  bool Landed(uint64_t seeks) { return form->DiskThread()->SeeksDone() >= seeks && AllPresented(); }
  QWidget *Bar() { return form->findChild<QWidget *>("PlayBarImage"); }
};

}  // namespace

// A click on the bar, the arrow keys and a time search show the picture
// recorded at the asked time at once, predicted pictures included: each
// tile shows the second asked for, and playing goes on from there.
TEST_F(ReviewAidsTest, seeks_showThePictureAtTheAskedTime_notTheNextKeyPicture) {
  MakeForm();
  OpenDisk(MakeSample(dir, 20));
  auto *player = form->DiskThread();
  player->SetPacingEnabled(false);
  form->PauseBtnClick();
  const int width = Bar()->width();
  // Pressed and released on the track, paused: the picture under x.
  const int x = width * 11 / 20 + 3;  // inside a key interval, not on a key picture
  const int64_t entry = form->PlayBarEntryAt(x);
  const uint32_t asked = form->RecordingMap().TimeAt(entry);
  Mouse(Bar(), QEvent::MouseButtonPress, x, 11, Qt::LeftButton);
  player->SetPacingEnabled(true);  // so that the pictures shown are those of the seek
  Mouse(Bar(), QEvent::MouseButtonRelease, x, 11, Qt::NoButton);
  ASSERT_TRUE(WaitServicing([&] { return player->SeeksDone() >= 1; }));
  EXPECT_NEAR(double(player->SeekLandedAt()), double(entry), 1.0);
  form->PauseBtnClick();
  ASSERT_TRUE(WaitServicing([&] { return AllPresented(); }));
  for (int ch = 0; ch < 4; ++ch) {
    EXPECT_GE(form->Viewer(ch)->ShownSeconds(), int64_t{asked}) << ch;
    EXPECT_LE(form->Viewer(ch)->ShownSeconds(), int64_t{asked} + 1) << ch;
  }
  // Left: ten seconds back, the pictures of that second.
  const int64_t shown = form->ShownRecorderSeconds() - 20;
  player->SetPacingEnabled(false);
  Key(Qt::Key_Left);
  ASSERT_TRUE(WaitServicing([&] { return player->SeeksDone() >= 2; }));
  form->PauseBtnClick();
  {
    orvan::DiskSource disk;
    ASSERT_EQ(disk.OpenPath(form->DiskHandle()->Path()), orvan::DriveOpenStatus::Ok);
    orvan::recorder::IndexEntry e;
    ASSERT_TRUE(orvan::recorder::ReadIndexEntry(disk, player->SeekLandedAt(), e));
    EXPECT_EQ(int64_t{e.time}, shown + 10);
    ASSERT_TRUE(orvan::recorder::ReadIndexEntry(disk, player->SeekLandedAt() - 1, e));
    EXPECT_LT(int64_t{e.time}, shown + 10);
  }
  // Playing went on with no wait for a key picture.
  for (int ch = 0; ch < 4; ++ch) EXPECT_EQ(player->Counters(ch).keyWaitDrops.load(), 0u) << ch;
}

// The wheel zooms about the pointer down to two minutes, + and - about the
// knob; dragging the background pans; the overview strip lights the part
// in view; ticks, the scale and the knob follow; a double click on the
// strip shows the whole recording.
TEST_F(ReviewAidsTest, playBar_zoomsAboutThePointer_pans_andComesBackWhole) {
  MakeForm();
  // 6000 entries at ten a second: ten minutes, events every 75 s.
  OpenDisk(orvan::test::MakeJunkDisk(dir, "z.img", 6000, 8, -1, 0));
  auto *player = form->DiskThread();
  player->SetPacingEnabled(false);
  QWidget *bar = Bar();
  const int width = bar->width();
  EXPECT_FALSE(form->PlayBarZoomed());
  EXPECT_EQ(form->TimeScaleStepSeconds(), 60);
  const int x = 500;
  const int64_t under = form->PlayBarEntryAt(x);
  Wheel(bar, x, 120);
  ASSERT_TRUE(form->PlayBarZoomed());
  EXPECT_EQ(form->PlayBarViewEntries(), 3000);
  EXPECT_NEAR(double(form->PlayBarEntryAt(x)), double(under), 5.0);  // about the pointer
  for (int k = 0; k < 6; ++k) Wheel(bar, x, 120);
  // The narrowest view: two minutes (599 s over 6000 entries).
  EXPECT_NEAR(double(form->PlayBarViewEntries()), 1200.0, 4.0);
  EXPECT_NEAR(double(form->PlayBarEntryAt(x)), double(under), 5.0);
  EXPECT_EQ(form->TimeScaleStepSeconds(), 10);
  const auto labels = form->TimeScaleLabels();
  ASSERT_GE(labels.size(), 10u);
  EXPECT_EQ(labels[0].seconds % 10, 0u);
  EXPECT_NEAR(double(labels[1].x - labels[0].x), 10.0 * width / 120.0, 2.0);
  // Ticks sit where their events are in the view; those outside are off it.
  for (const auto &tick : form->EventTicks()) {
    const bool inView = tick.entry >= form->PlayBarViewFirst() &&
                        tick.entry < form->PlayBarViewFirst() + form->PlayBarViewEntries();
    EXPECT_EQ(inView, tick.x >= 0 && tick.x < width) << tick.entry;
  }
  // The overview strip: lit over the view, dark elsewhere.
  const QImage track = static_cast<QLabel *>(bar)->pixmap().toImage();
  const int litFrom = int(form->PlayBarViewFirst() * (width - 2) / 6000) + 1;
  EXPECT_EQ(track.pixelColor(litFrom + 3, 2), QColor(0xc8, 0xd8, 0xf0));
  EXPECT_NE(track.pixelColor(litFrom > 40 ? 10 : width - 10, 2), QColor(0xc8, 0xd8, 0xf0));

  // Panning: 72 px right shows twelve seconds earlier; the release plays on
  // without moving the reader.
  const int64_t first = form->PlayBarViewFirst();
  Mouse(bar, QEvent::MouseButtonPress, 300, 11, Qt::LeftButton);
  Mouse(bar, QEvent::MouseMove, 340, 11, Qt::LeftButton);
  Mouse(bar, QEvent::MouseMove, 372, 11, Qt::LeftButton);
  Mouse(bar, QEvent::MouseButtonRelease, 372, 11, Qt::NoButton);
  EXPECT_EQ(form->PlayBarViewFirst(), first - 72 * form->PlayBarViewEntries() / width);
  EXPECT_EQ(player->SeeksDone(), 0u);
  // The knob keeps its meaning: it stands at the reader's place in the view
  // (the player moves it there).
  form->PauseBtnClick();
  player->SeekToEntry(form->PlayBarViewFirst() + 600);
  player->Play();
  ASSERT_TRUE(WaitServicing([&] { return player->SeeksDone() == 1; }));
  form->PauseBtnClick();
  const int knobX = form->findChild<QWidget *>("PlayBarBtn")->x() - bar->x();
  EXPECT_NEAR(double(form->PlayBarEntryAt(knobX)), double(form->PlayBarViewFirst() + 600), 200.0);
  // - widens about the knob; a double click on the strip shows it all.
  const int64_t narrowest = form->PlayBarViewEntries();
  Key(Qt::Key_Minus);
  EXPECT_EQ(form->PlayBarViewEntries(), 2 * narrowest);
  Key(Qt::Key_Plus);
  EXPECT_EQ(form->PlayBarViewEntries(), narrowest);
  QTest::mouseDClick(bar, Qt::LeftButton, Qt::NoModifier, QPoint(100, 2));
  EXPECT_FALSE(form->PlayBarZoomed());
  EXPECT_EQ(form->PlayBarViewEntries(), 6000);
}

// B marks the time and channel shown; the note box keeps what is typed
// at Enter; the mark is a tick of its own, is listed, kept in the
// configuration folder with its picture, and comes back with the source;
// the list jumps to it, edits its note and deletes it.
TEST_F(ReviewAidsTest, bookmarks_markTheShownPicture_keepANote_andComeBackWithTheSource) {
  MakeForm();
  const std::string path = MakeSample(dir, 12);
  OpenDisk(path);
  auto *player = form->DiskThread();
  form->PlayBtnClick();
  ASSERT_TRUE(WaitServicing([&] { return form->ShownRecorderSeconds() >= kStart + 3; }));
  Key(Qt::Key_2);  // channel 2 enlarged
  form->PauseBtnClick();
  ASSERT_TRUE(WaitServicing([&] { return AllPresented(); }));
  const int64_t shown = form->Viewer(1)->ShownSeconds();
  const int64_t entry = player->ShownEntry(1);
  Key(Qt::Key_B);
  QLineEdit *note = form->NoteBox();
  ASSERT_TRUE(note->isVisible());
  QTest::keyClicks(note, "white van");
  QTest::keyClick(note, Qt::Key_Return);
  EXPECT_FALSE(note->isVisible());
  ASSERT_EQ(form->Bookmarks().List().size(), 1u);
  const Bookmark b = form->Bookmarks().List()[0];
  EXPECT_EQ(int64_t{b.seconds}, shown);
  EXPECT_EQ(b.channel, 1);
  EXPECT_EQ(b.entry, entry);
  EXPECT_EQ(b.note, "white van");
  // Kept in the configuration folder, never beside the source.
  const std::filesystem::path folder = std::filesystem::path(dir.Path()) / "ORVANBookmarks";
  EXPECT_EQ(std::filesystem::path(form->Bookmarks().ListPath()).parent_path(), folder);
  EXPECT_TRUE(std::filesystem::exists(form->Bookmarks().ListPath()));
  EXPECT_TRUE(std::filesystem::exists(folder / b.thumbnail));
  for (const auto &f :
       std::filesystem::directory_iterator(std::filesystem::path(path).parent_path()))
    EXPECT_EQ(f.path().string().find(".txt"), std::string::npos) << f.path();
  // What the report takes.
  const auto report = form->BookmarksForReport();
  ASSERT_EQ(report.size(), 1u);
  EXPECT_FALSE(report[0].thumbnail.isNull());
  EXPECT_EQ(report[0].note, "white van");
  // A finding of the examination report, and a line of the case log.
  const std::string html = dir.File("findings.html");
  std::string sha256, error;
  ASSERT_TRUE(form->WriteExamReport(html, "K-1", "E", &sha256, &error)) << error;
  std::ifstream in(html);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t findings = text.find("Findings");
  ASSERT_NE(findings, std::string::npos);
  EXPECT_NE(text.find("white van", findings), std::string::npos);
  bool logged = false;
  for (const auto &e : form->CaseLogForRecording().Entries())
    for (const auto &[name, value] : e.params) logged = logged || value == "white van";
  EXPECT_TRUE(logged) << "the bookmark's note is in the case log";
  // Its tick: on the track's top, and its tooltip.
  const int tickX = form->PlayBarXOfEntry(entry);
  const QImage track = static_cast<QLabel *>(Bar())->pixmap().toImage();
  EXPECT_EQ(track.pixelColor(tickX, TLiveForm::kOverviewRows + 2), QColor(0x30, 0xe0, 0xe0));
  EXPECT_TRUE(form->PlayBarTipAt(tickX).contains("white van"));

  // The same disk opened again: its bookmark is back.
  form->CloseBtnClick();
  form->ImagePlayClick();
  OpenDisk(path);
  ASSERT_EQ(form->Bookmarks().List().size(), 1u);
  EXPECT_EQ(form->Bookmarks().List()[0].note, "white van");

  // The list: go to it (paused there, its channel enlarged), edit, delete.
  player = form->DiskThread();
  Key(Qt::Key_0);
  form->PlayBtnClick();
  ASSERT_TRUE(WaitServicing([&] { return form->ShownRecorderSeconds() >= shown + 4; }));
  form->BookmarksClick();
  auto *list = form->BookmarksWindow()->findChild<QListWidget *>("BookmarkList");
  ASSERT_EQ(list->count(), 1);
  EXPECT_TRUE(list->item(0)->text().contains("white van"));
  list->setCurrentRow(0);
  QTest::mouseClick(form->BookmarksWindow()->findChild<QPushButton *>("BookmarkGo"),
                    Qt::LeftButton);
  ASSERT_TRUE(WaitServicing([&] { return player->SeeksDone() >= 1 && AllPresented(); }));
  EXPECT_FALSE(player->Playing());
  EXPECT_EQ(form->Layout().ZoomedChannel(), 1);
  // The jump lands on the bookmarked entry. (The second the viewer showed
  // when B was pressed can lag the entry handed to it by a picture while
  // the pause is taken, so the entry's own time is the measure.)
  EXPECT_EQ(player->ShownEntry(1), entry);
  {
    orvan::DiskSource disk;
    ASSERT_EQ(disk.OpenPath(path), orvan::DriveOpenStatus::Ok);
    orvan::recorder::IndexEntry marked;
    ASSERT_TRUE(orvan::recorder::ReadIndexEntry(disk, entry, marked));
    EXPECT_EQ(form->Viewer(1)->ShownSeconds(), int64_t{marked.time});
  }
  auto *edit = form->BookmarksWindow()->findChild<QLineEdit *>("BookmarkNoteEdit");
  edit->setText("white van, plate AB 123");
  QTest::mouseClick(form->BookmarksWindow()->findChild<QPushButton *>("BookmarkEdit"),
                    Qt::LeftButton);
  EXPECT_EQ(form->Bookmarks().List()[0].note, "white van, plate AB 123");
  QTest::mouseClick(form->BookmarksWindow()->findChild<QPushButton *>("BookmarkDelete"),
                    Qt::LeftButton);
  EXPECT_TRUE(form->Bookmarks().List().empty());
  EXPECT_EQ(list->count(), 0);
  EXPECT_FALSE(std::filesystem::exists(folder / b.thumbnail));
}

// Paused or stepping, the line under the controls names the picture of
// the enlarged channel, or of the tile under the pointer: entry, key or
// predicted, the recorder time to the millisecond as the frames table
// computes it; playing, it is empty.
TEST_F(ReviewAidsTest, identityLine_namesTheEntryShown_itsKind_andItsMillisecond) {
  MakeForm();
  OpenDisk(MakeSample(dir, 8));
  auto *player = form->DiskThread();
  form->PlayBtnClick();
  ASSERT_TRUE(WaitServicing([&] { return form->ShownRecorderSeconds() >= kStart + 2; }));
  QLabel *line = form->IdentityLine();
  ASSERT_NE(line, nullptr);
  EXPECT_TRUE(form->IdentityText().isEmpty());  // playing
  Key(Qt::Key_3);
  Key(Qt::Key_Period);  // pauses, then steps channel 3
  ASSERT_TRUE(WaitServicing([&] { return AllPresented(); }));
  ASSERT_TRUE(WaitServicing([&] { return !form->IdentityText().isEmpty(); }));
  const int64_t n = player->ShownEntry(2);
  orvan::DiskSource disk;
  ASSERT_EQ(disk.OpenPath(form->DiskHandle()->Path()), orvan::DriveOpenStatus::Ok);
  orvan::recorder::IndexEntry e;
  const int64_t ms = orvan::recorder::EntryTimeMs(disk, player->Geometry(), n, &e);
  ASSERT_GE(ms, 0);
  const QString text = form->IdentityText();
  EXPECT_TRUE(text.startsWith("CH3")) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("entry %1").arg(n))) << text.toStdString();
  EXPECT_TRUE(text.contains(orvan::recorder::IsKeyPicture(e.type) ? "key" : "predicted"));
  EXPECT_TRUE(text.endsWith(QStringLiteral(".%1").arg(int(ms % 1000), 3, 10, QLatin1Char('0'))))
      << text.toStdString();
  // The grid: the tile under the pointer.
  Key(Qt::Key_0);
  QWidget *tile = form->Viewer(0)->Panel();
  Mouse(tile, QEvent::MouseMove, 20, 20, Qt::NoButton);
  EXPECT_TRUE(form->IdentityText().startsWith("CH1")) << form->IdentityText().toStdString();
  EXPECT_TRUE(form->IdentityText().contains(QStringLiteral("entry %1").arg(player->ShownEntry(0))));
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(tile, &leave);
  EXPECT_TRUE(form->IdentityText().isEmpty());
}

// Z (or Ctrl and the wheel over a tile) opens the magnifier over the
// picture last composed; the wheel zooms 1x to 8x about the pointer, from
// 4x up in square pixels; dragging pans; the corner says the factor and
// the rectangle; a snapshot saves what it shows with the rectangle in its
// comment; nothing is decoded for it; Z or Escape close it.
TEST_F(ReviewAidsTest, magnifier_zoomsThePictureShown_inSquarePixels_andSnapshotsWhatItShows) {
  MakeForm();
  OpenDisk(MakeSample(dir, 6));
  auto *player = form->DiskThread();
  form->PlayBtnClick();
  ASSERT_TRUE(WaitServicing([&] { return form->ShownRecorderSeconds() >= kStart + 2; }));
  Key(Qt::Key_2);
  form->PauseBtnClick();
  ASSERT_TRUE(WaitServicing([&] { return AllPresented(); }));
  const uint64_t decodedBefore = player->Counters(1).pictures.load();

  // Ctrl and the wheel over the enlarged channel: open, at 2x.
  QWidget *tile = form->Viewer(1)->Panel();
  {
    const QPointF at(200, 150);
    QWheelEvent wheel(at, tile->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(tile, &wheel);
  }
  TMagnifier *m = form->Magnifier();
  ASSERT_TRUE(m->isVisible());
  EXPECT_DOUBLE_EQ(m->Factor(), 2.0);
  EXPECT_FALSE(m->Nearest());
  // The wheel on it: up to 8x and no further, about the pointer.
  for (int k = 0; k < 3; ++k) Wheel(m, 200, 120);
  EXPECT_DOUBLE_EQ(m->Factor(), 8.0);
  EXPECT_TRUE(m->Nearest());
  const QRect shown = m->Shown();
  EXPECT_EQ(shown.width(), m->width() / 8);
  EXPECT_EQ(shown.height(), m->height() / 8);
  // Square pixels: each picture pixel is an 8 x 8 block of one colour.
  const QImage magnified = m->ShownPicture();
  for (int y = 0; y < 64; y += 8)
    for (int x = 0; x < 64; x += 8)
      for (int d = 1; d < 8; ++d) ASSERT_EQ(magnified.pixel(x + d, y + d), magnified.pixel(x, y));
  // Dragging pans: 80 px right shows 10 picture pixels further left.
  QTest::mousePress(m, Qt::LeftButton, Qt::NoModifier, QPoint(300, 200));
  Mouse(m, QEvent::MouseMove, 380, 200, Qt::LeftButton);
  QTest::mouseRelease(m, Qt::LeftButton, Qt::NoModifier, QPoint(380, 200));
  EXPECT_EQ(m->Shown().x(), std::max(0, shown.x() - 10));
  // A snapshot now: what is shown, the rectangle in its comment.
  const QString file = QString::fromStdString(dir.File("zoomed.jpg"));
  form->ChooseSaveFile = [&](const QString &, const QString &) { return file; };
  form->SnapShotBtnClick();
  const QRect r = m->Shown();
  const auto tags = orvan::test::ReadJpegTags(orvan::test::ReadFileBytes(file.toStdString()));
  EXPECT_NE(tags.comment.find("magnified 8x, rectangle " + std::to_string(r.x()) + "," +
                              std::to_string(r.y()) + " " + std::to_string(r.width()) + "x" +
                              std::to_string(r.height())),
            std::string::npos)
      << tags.comment;
  // Zooming decoded nothing.
  EXPECT_EQ(player->Counters(1).pictures.load(), decodedBefore);
  // Z closes it; Z opens it at 1x; Escape closes it.
  Key(Qt::Key_Z);
  EXPECT_FALSE(m->isVisible());
  Key(Qt::Key_Z);
  EXPECT_TRUE(m->isVisible());
  EXPECT_DOUBLE_EQ(m->Factor(), 1.0);
  Key(Qt::Key_Escape);
  EXPECT_FALSE(m->isVisible());
}

// Under the bar, a row per channel shows where the scene moved: read on
// its own thread from the index alone, brighter over the moving stretch,
// and following the zoom.
TEST_F(ReviewAidsTest, activityStrip_showsTheMovingStretch_andFollowsTheZoom) {
  MakeForm();
  orvan::tools::SampleOptions o;
  o.outputPath = dir.File("stretch.img");
  o.durationSeconds = 60;
  o.motionAtSeconds = 20;
  o.motionSeconds = 12;
  orvan::tools::SampleSummary summary;
  std::string error;
  ASSERT_TRUE(orvan::tools::MakeSampleRecording(o, summary, &error)) << error;
  OpenDisk(o.outputPath);
  ASSERT_TRUE(WaitServicing([&] { return form->Activity() && form->Activity()->Complete(); }));
  auto *strip = form->findChild<QLabel *>("ActivityStrip");
  ASSERT_NE(strip, nullptr);
  auto brightness = [&](int x, int ch) {
    const QImage image = strip->pixmap().toImage();
    return qRed(image.pixel(x, ch * (image.height() / 4)));
  };
  const int width = strip->width();
  for (int ch = 0; ch < 4; ++ch)
    EXPECT_GT(brightness(width * 26 / 60, ch), brightness(width * 45 / 60, ch) + 40) << ch;
  // Zoomed onto the stretch's middle, it fills the strip.
  form->ZoomPlayBar(1, width * 26 / 60);
  form->ZoomPlayBar(1, width * 26 / 60);
  const int64_t first = form->PlayBarViewFirst(), span = form->PlayBarViewEntries();
  const int middle = int((summary.entries * 26 / 60 - first) * width / span);
  ASSERT_GT(middle, 0);
  ASSERT_LT(middle, width);
  EXPECT_GT(brightness(middle, 0), brightness(width * 45 / 60, 0) - 1);
}

// Hovering the bar shows each channel's key picture nearest the pointer
// and the time, decoded on the previews' own thread and handle: the
// players and viewers are not touched; a place seen before is not decoded
// again; leaving the bar hides them.
TEST_F(ReviewAidsTest, previews_showEachChannelNearThePointer_withoutTouchingThePlayers) {
  MakeForm();
  OpenDisk(MakeSample(dir, 20));
  auto *player = form->DiskThread();
  ASSERT_NE(form->Previews(), nullptr);
  const uint64_t handed = player->Counters(0).delivered.load();
  const int x = Bar()->width() * 2 / 3;
  Mouse(Bar(), QEvent::MouseMove, x, 11, Qt::NoButton);
  ASSERT_TRUE(
      WaitServicing([&] { return form->PreviewPopup() && form->PreviewPopup()->isVisible(); }));
  orvan::recorder::Preview preview;
  const int64_t entry = form->PlayBarEntryAt(x);
  ASSERT_TRUE(form->Previews()->Find(entry, preview));
  for (int ch = 0; ch < 4; ++ch) {
    const auto &pic = preview.channels[size_t(ch)];
    EXPECT_EQ(pic.width, 360) << ch;
    EXPECT_EQ(pic.height, 240) << ch;
    // The key picture at or before the span's middle, within a key interval.
    EXPECT_LE(pic.entry, preview.place + orvan::recorder::CPreviewReader::kSpanEntries / 2) << ch;
    EXPECT_GE(int64_t{pic.seconds} + 3, int64_t{form->RecordingMap().TimeAt(entry)}) << ch;
    // A real picture: not one colour.
    EXPECT_NE(std::count(pic.bgr32.begin(), pic.bgr32.end(), pic.bgr32[0]),
              std::ptrdiff_t(pic.bgr32.size()))
        << ch;
  }
  EXPECT_FALSE(form->PreviewPopup()->pixmap().isNull());
  EXPECT_EQ(player->Counters(0).delivered.load(), handed);
  EXPECT_FALSE(player->Playing());
  // The same place again: from the cache.
  const uint64_t made = form->Previews()->Decoded();
  Mouse(Bar(), QEvent::MouseMove, x, 11, Qt::NoButton);
  EXPECT_EQ(form->Previews()->Decoded(), made);
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(Bar(), &leave);
  EXPECT_FALSE(form->PreviewPopup()->isVisible());
}
