#include "app/core/snapshot_rules.h"

#include <gtest/gtest.h>

using namespace orvan::app;

TEST(SnapshotRules, theNameSaysTheFormat_elseThePlaySourceDoes) {
  for (const char *name : {"shot.JPG", "/x/a.b.JpEg"}) {
    EXPECT_EQ(SnapshotFormatOfName(name, true), SnapshotFormat::Jpeg) << name;
    EXPECT_EQ(SnapshotFormatOfName(name, false), SnapshotFormat::Jpeg) << name;
  }
  for (const char *name : {"SHOT.BMP"}) {
    EXPECT_EQ(SnapshotFormatOfName(name, true), SnapshotFormat::Bitmap) << name;
    EXPECT_EQ(SnapshotFormatOfName(name, false), SnapshotFormat::Bitmap) << name;
  }
  for (const char *name : {"shot", "jpg", "shot.jpg.txt"}) {
    EXPECT_EQ(SnapshotFormatOfName(name, true), SnapshotFormat::Bitmap) << name;
    EXPECT_EQ(SnapshotFormatOfName(name, false), SnapshotFormat::Jpeg) << name;
  }
}

TEST(SnapshotRules, channelsShown_followTheLayoutAndTheZoom) {
  EXPECT_EQ(ShownChannelsText(0, -1, 0, 1), "CH1 CH2 CH3 CH4");
  EXPECT_EQ(ShownChannelsText(0, -1, 0, 0), "CH1");
  EXPECT_EQ(ShownChannelsText(0, 2, 3, 0), "CH3");
  EXPECT_EQ(ShownChannelsText(1, -1, 5, 0), "CH1 CH2 CH3 CH4, one four-way picture");
  EXPECT_EQ(ShownChannelsText(1, -1, 7, 0), "CH2 of the four-way picture");
  EXPECT_EQ(SnapshotComment("Image Play, a.yuv", ""),
            "ORVAN Viewer snapshot; source: Image Play, a.yuv");
  EXPECT_EQ(SnapshotComment("HDD Play, HDD_0", "CH1"),
            "ORVAN Viewer snapshot; source: HDD Play, HDD_0; channels: CH1");
  EXPECT_EQ(SnapshotComment("HDD Play, HDD_0", "CH1", SnapshotViewText(true)),
            "ORVAN Viewer snapshot; source: HDD Play, HDD_0; channels: CH1; view: whole picture");
  EXPECT_EQ(SnapshotViewText(false), "border trimmed");
}
