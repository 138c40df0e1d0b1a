// Opening disk images from the window: the Open image dialog and a drop on
// the window put the image at the top of the drive table and play it; what
// is not a recorder disk is refused by name; each listed drive says what it
// is in its tooltip and, once chosen, in the status line.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QUrl>
#include <filesystem>
#include <fstream>

#include "app/window/live_form.h"
#include "platform/disk_source.h"
#include "recorder/layout/disk_discovery.h"
#include "recorder/playback/play_hdd_thread.h"
#include "tests/app/gui/window_fixture.h"
#include "tests/support/ewf_writer.h"
#include "tools/disk_image.h"

using orvan::DriveTable;
namespace fs = std::filesystem;

namespace {

constexpr uint32_t kStart = 1202982297;  // 2008-02-14 09:44:57

// A recorder image of 2000 entries, ten a second from kStart (block 0 at
// 09:44:57, the last played entry at 09:48:16).
std::string MakeDisk(const orvan::test::TempDir &dir, const std::string &name) {
  orvan::tools::RecorderImage image;
  for (int64_t i = 0; i < 2000; ++i) {
    orvan::recorder::IndexEntry e;
    e.type = i % 8 == 0 ? 1 : 0;
    e.channel = uint8_t(i % 4);
    e.delayMs = 25;
    e.time = kStart + uint32_t(i / 10);
    e.size = 100;
    e.offset = image.data.size();
    image.data.insert(image.data.end(), 100, uint8_t(i));
    image.entries.push_back(e);
  }
  std::string error;
  EXPECT_TRUE(orvan::tools::WriteRecorderImage(dir.File(name), image, &error)) << error;
  return dir.File(name);
}

class OpenImageTest : public orvan::test::WindowFixture {
 protected:
  void MakeForm() {
    MakeWindow();
    form->ChooseOpenFile = [this](const QString &filter) {
      filters.push_back(filter);
      return chosenFile;
    };
    form->show();
    combo = form->findChild<QComboBox *>(QStringLiteral("DeviceCombo"));
    status = form->findChild<QLabel *>(QStringLiteral("StatusLabel"));
    ASSERT_NE(combo, nullptr);
    ASSERT_NE(status, nullptr);
  }
  QString Tip(int item) const { return combo->itemData(item, Qt::ToolTipRole).toString(); }
  void Drop(const std::string &path) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form, &drop);
  }

  QComboBox *combo = nullptr;
  QLabel *status = nullptr;
  std::vector<QString> filters;
  QString chosenFile;
};

}  // namespace

TEST_F(OpenImageTest, openImage_putsAnE01AtTheTop_selectsAndOpensIt_andEveryItemSaysWhatItIs) {
  const std::string first = MakeDisk(dir, "first.img");
  UseImages({first});
  MakeForm();
  std::string error;
  const auto segments = orvan::test::WriteEwfImage(MakeDisk(dir, "case.raw"), dir.File("case"),
                                                   orvan::test::EwfWriteOptions{}, &error);
  ASSERT_FALSE(segments.empty()) << error;

  chosenFile = QString::fromStdString(segments[0]);
  form->findChild<QAction *>(QStringLiteral("OpenImage"))->trigger();
  ASSERT_EQ(filters.size(), 1u);
  EXPECT_TRUE(filters[0].contains("*.E01")) << filters[0].toStdString();
  EXPECT_TRUE(filters[0].contains("*.dd")) << filters[0].toStdString();
  EXPECT_TRUE(messages.empty());

  // The image is drive 0 and the item chosen; the image given at start-up
  // moved down to drive 1.
  EXPECT_EQ(form->PlaySource(), 0);
  EXPECT_EQ(DriveTable::Process().Find(0)->path, segments[0]);
  EXPECT_EQ(DriveTable::Process().Find(1)->path, first);
  ASSERT_EQ(combo->count(), 2);
  EXPECT_EQ(combo->currentIndex(), 0);
  EXPECT_EQ(combo->itemText(0), "Device_0");
  ASSERT_NE(form->DiskThread(), nullptr);
  EXPECT_EQ(form->DiskThread()->DriveNumber(), 0);
  EXPECT_EQ(form->DiskHandle()->Path(), segments[0]);

  const QString span = QStringLiteral("recorded 2008/02/14_09:44:57 \u2013 2008/02/14_09:48:16");
  const uint64_t bytes = fs::file_size(first);
  const QString size = QString::fromStdString(orvan::recorder::SizeText(bytes));
  EXPECT_EQ(Tip(0), QString::fromStdString(segments[0]) + "\n" + size + "\n" + span);
  EXPECT_EQ(Tip(1), QString::fromStdString(first) + "\n" + size + "\n" + span);
  EXPECT_TRUE(size.endsWith(QStringLiteral(" (%1 bytes)").arg(bytes))) << size.toStdString();
  // The status line shows the chosen one, the whole text as its tooltip.
  EXPECT_EQ(status->toolTip(), Tip(0));
  EXPECT_TRUE(
      status->text().endsWith(size + "\nrecorded 2008/02/14_09:44:57 \u2013\n2008/02/14_09:48:16"))
      << status->text().toStdString();

  combo->setCurrentIndex(1);
  form->DeviceComboChange();
  EXPECT_EQ(form->DiskHandle()->Path(), first);
  EXPECT_EQ(status->toolTip(), Tip(1));
  EXPECT_TRUE(status->isVisible());
  // File Play: the status line says no clip is loaded, not the disk.
  form->FilePlayClick();
  EXPECT_EQ(status->text(), form->Tr(orvan::app::TextKey::No_clip_loaded));
  EXPECT_TRUE(status->isVisible());

  // Opening the same image again moves it to the top, listed once.
  Drop(first);
  EXPECT_EQ(DriveTable::Process().Drives().size(), 2u);
  EXPECT_EQ(DriveTable::Process().Find(0)->path, first);
  EXPECT_EQ(form->DiskHandle()->Path(), first);
  EXPECT_EQ(form->PlaySource(), 0);
}

TEST_F(OpenImageTest, filesThatAreNoRecorderDisk_areRefusedByName_andChangeNothing) {
  const std::string first = MakeDisk(dir, "first.img");
  UseImages({first});
  MakeForm();
  const std::string zeros = dir.File("zeros.dd");
  std::ofstream(zeros, std::ios::binary) << std::string(1 << 20, '\0');
  const std::string tiny = dir.File("tiny.bin");
  std::ofstream(tiny, std::ios::binary) << "VORN";
  // An E01 set whose second segment is gone.
  std::string error;
  orvan::test::EwfWriteOptions split;
  split.segmentBytes = 256 << 10;
  split.compress = false;
  const auto segments =
      orvan::test::WriteEwfImage(MakeDisk(dir, "case.raw"), dir.File("case"), split, &error);
  ASSERT_GE(segments.size(), 2u) << error;
  fs::remove(segments[1]);

  const std::pair<std::string, std::string> refused[] = {
      {zeros, zeros + " is not a recorder disk"},
      {tiny, tiny + " is not a recorder disk"},
      {dir.File("missing.img"), "No such drive: " + dir.File("missing.img")},
      {segments[0], segments[1]}};
  for (const auto &[file, text] : refused) {
    messages.clear();
    chosenFile = QString::fromStdString(file);
    form->OpenImageClick();
    ASSERT_EQ(messages.size(), 1u) << file;
    EXPECT_TRUE(messages[0].first.contains(QString::fromStdString(text)))
        << messages[0].first.toStdString();
    // Not the no-disk text, nor advice on rights to raw disks.
    EXPECT_FALSE(messages[0].first.contains("--image")) << file;
    messages.clear();
    Drop(file);
    EXPECT_EQ(messages.size(), 1u) << file;
  }
  EXPECT_EQ(DriveTable::Process().Drives().size(), 1u);
  EXPECT_EQ(form->DiskThread(), nullptr);
  EXPECT_EQ(form->PlaySource(), 1);
}
