#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/core/viewer_layout.h"
#include "app/core/window_rules.h"

using namespace orvan::app;

TEST(SourceTable, eachSourceOffersItsOwnControls) {
  const SourceControls hdd = ControlsForSource(kHddPlay);
  EXPECT_TRUE(hdd.deviceComboVisible);
  EXPECT_FALSE(hdd.openBtnVisible);
  EXPECT_TRUE(hdd.copyEnabled);
  EXPECT_TRUE(hdd.searchEnabled);
  EXPECT_TRUE(hdd.videoPanelVisible);
  EXPECT_FALSE(hdd.videoImageVisible);

  const SourceControls file = ControlsForSource(kFilePlay);
  EXPECT_FALSE(file.deviceComboVisible);
  EXPECT_TRUE(file.openBtnVisible);
  EXPECT_TRUE(file.playButtonsEnabled);
  EXPECT_TRUE(file.aviButtonsEnabled);
  EXPECT_FALSE(file.copyEnabled);
  EXPECT_FALSE(file.searchEnabled);
  EXPECT_TRUE(file.playBarBtnEnabled);

  const SourceControls image = ControlsForSource(kImagePlay);
  EXPECT_TRUE(image.openBtnVisible);
  EXPECT_FALSE(image.playButtonsEnabled);
  EXPECT_FALSE(image.aviButtonsEnabled);
  EXPECT_FALSE(image.playBarBtnEnabled);
  EXPECT_FALSE(image.videoPanelVisible);
  EXPECT_TRUE(image.videoImageVisible);
  EXPECT_FALSE(image.fullScreenAndAudioEnabled);
}

TEST(SourceCaptions, englishIsFixed_russianComesFromTheFile) {
  LanguageTexts texts;
  texts.values[size_t(TextKey::HDD_Play)] = "HDD-RU";
  texts.values[size_t(TextKey::File_Play)] = "FILE-RU";
  texts.values[size_t(TextKey::Image_Play)] = "IMG-RU";
  texts.values[size_t(TextKey::File_Select)] = "SEL-RU";

  EXPECT_EQ(CaptionsForSource(kHddPlay, 0, texts).namePanel, "HDD Play");
  EXPECT_EQ(CaptionsForSource(kHddPlay, 0, texts).deviceGroup, "HDD Select");
  EXPECT_EQ(CaptionsForSource(kImagePlay, 0, texts).deviceGroup, "File Select");

  EXPECT_EQ(CaptionsForSource(kHddPlay, 1, texts).namePanel, "HDD-RU");
  EXPECT_EQ(CaptionsForSource(kHddPlay, 1, texts).deviceGroup, "HDD-RU");
  EXPECT_EQ(CaptionsForSource(kFilePlay, 1, texts).namePanel, "FILE-RU");
  EXPECT_EQ(CaptionsForSource(kFilePlay, 1, texts).deviceGroup, "SEL-RU");
  EXPECT_EQ(CaptionsForSource(kImagePlay, 1, texts).namePanel, "IMG-RU");

  // A key missing from the file reads "0" in Russian only.
  EXPECT_EQ(CaptionFor(TextKey::Pause, 1, texts), "0");
  EXPECT_EQ(CaptionFor(TextKey::Pause, 0, texts), "Pause");
}

TEST(PlayBar, knobStaysOnTheTrackWhileDragged) {
  const PlayBarGeometry bar{13, 720, 12};
  EXPECT_EQ(KnobLeftForDrag(-500, bar), 13);
  EXPECT_EQ(KnobLeftForDrag(13, bar), 13);
  EXPECT_EQ(KnobLeftForDrag(14, bar), 14);
  EXPECT_EQ(KnobLeftForDrag(721, bar), 721);
  EXPECT_EQ(KnobLeftForDrag(722, bar), 721);
  EXPECT_EQ(KnobLeftForDrag(5000, bar), 721);
}

TEST(PlayBar, trackReleaseRepositionsOnlyWithinTheTrack) {
  const PlayBarGeometry bar{13, 720, 12};
  EXPECT_FALSE(TrackReleaseRepositions(-1, bar));
  EXPECT_TRUE(TrackReleaseRepositions(0, bar));
  EXPECT_TRUE(TrackReleaseRepositions(720, bar));
  EXPECT_FALSE(TrackReleaseRepositions(721, bar));
  EXPECT_EQ(KnobLeftForTrackRelease(0, bar), 13);
  EXPECT_EQ(KnobLeftForTrackRelease(100, bar), 113);
  // At the very end the knob sits at the right end, not past it.
  EXPECT_EQ(KnobLeftForTrackRelease(720, bar), 721);
}

TEST(PickedTime, countsWallClockFieldsAsTheRecorderDoes) {
  EXPECT_EQ(PickedTimeToRecorderSeconds(2008, 2, 14, 9, 44, 57), 1202982297u);
  EXPECT_EQ(PickedTimeToRecorderSeconds(1970, 1, 1, 0, 0, 0), 0u);
  EXPECT_EQ(PickedTimeToRecorderSeconds(1960, 1, 1, 0, 0, 0), 0u);
  EXPECT_EQ(PickedTimeToRecorderSeconds(2200, 1, 1, 0, 0, 0), 0xFFFFFFFFu);
}

TEST(TypedTime, aWholeTimeWithOrWithoutColons_fillsTheFieldsAsItIsTyped) {
  const int now[3] = {13, 7, 42};
  auto parse = [&](const char *typed, int start = 0) { return ParseTypedTime(typed, start, now); };
  for (const char *whole : {"094520", "09:45:20", "9:45:20", "9:4520"}) {
    const TypedTime t = parse(whole);
    ASSERT_TRUE(t.valid) << whole;
    EXPECT_EQ(t.fields[0], 9) << whole;
    EXPECT_EQ(t.fields[1], 45) << whole;
    EXPECT_EQ(t.fields[2], 20) << whole;
    EXPECT_EQ(t.nextField, 3) << whole;
  }
  // Key by key: what is typed so far, the rest at zero.
  TypedTime t = parse("0");
  EXPECT_TRUE(t.valid);
  EXPECT_EQ(t.nextField, 0);
  t = parse("09");
  EXPECT_EQ(t.fields[0], 9);
  EXPECT_EQ(t.fields[1], 0);
  EXPECT_EQ(t.nextField, 1);
  t = parse("0945");
  EXPECT_EQ(t.fields[1], 45);
  EXPECT_EQ(t.fields[2], 0);
  EXPECT_EQ(t.nextField, 2);
  // A digit no second one could follow completes its field.
  t = parse("94");
  EXPECT_EQ(t.fields[0], 9);
  EXPECT_EQ(t.fields[1], 4);
  EXPECT_EQ(t.nextField, 1);
  t = parse("1:7");
  EXPECT_EQ(t.fields[0], 1);
  EXPECT_EQ(t.fields[1], 7);
  EXPECT_EQ(t.nextField, 2);
  // Typed from the minutes on (a click or Tab there): the hour stays.
  t = parse("4520", 1);
  EXPECT_TRUE(t.valid);
  EXPECT_EQ(t.fields[0], 13);
  EXPECT_EQ(t.fields[1], 45);
  EXPECT_EQ(t.fields[2], 20);
  // Out of range, too long, or not a time: refused.
  EXPECT_FALSE(parse("25").valid);
  EXPECT_FALSE(parse("24").valid);
  EXPECT_FALSE(parse("0945201").valid);
  EXPECT_FALSE(parse("09a").valid);
  EXPECT_FALSE(parse("1", 3).valid);
}

TEST(FullScreen, takesThePrimaryScreen_videoAndNothingElse) {
  const FullScreenGeometry g = FullScreenFor(1280, 1024);
  EXPECT_EQ(g.windowWidth, 1280);
  EXPECT_EQ(g.windowHeight, 1024);
  EXPECT_EQ(g.panelWidth, 1280);
  EXPECT_EQ(g.panelHeight, 1024);
}

namespace {

struct Call {
  int channel;
  std::string what;  // "hide", "show", "rect", "mode"
  RECT rect{};
  int code = 0;
};

class RecordingViewer : public IChannelViewer {
 public:
  RecordingViewer(int channel, std::vector<Call> &log) : m_channel(channel), m_log(log) {}
  void Command(int code, void *parameter) override {
    if (code == orvan::kViewerSetRect) {
      m_log.push_back({m_channel, "rect", *static_cast<RECT *>(parameter)});
      rect = *static_cast<RECT *>(parameter);
    } else if (code == orvan::kViewerDisplayMode) {
      m_log.push_back({m_channel, "mode", {}, *static_cast<int32_t *>(parameter)});
      mode = *static_cast<int32_t *>(parameter);
    }
  }
  void Hide() override {
    visible = false;
    m_log.push_back({m_channel, "hide"});
  }
  void Show() override {
    visible = true;
    m_log.push_back({m_channel, "show"});
  }
  int Channel() const override { return m_channel; }

  bool visible = false;
  RECT rect{};
  int mode = -1;

 private:
  int m_channel;
  std::vector<Call> &m_log;
};

struct LayoutFixture : ::testing::Test {
  LayoutFixture() : layout(displayMode) {
    for (int ch = 0; ch < 4; ++ch) viewers.emplace_back(ch, log);
    layout.SetViewers({&viewers[0], &viewers[1], &viewers[2], &viewers[3]});
    layout.SetPanelSize(720, 480);
  }
  uint8_t displayMode = 1;
  std::vector<Call> log;
  std::vector<RecordingViewer> viewers;
  CViewerLayout layout;
};

}  // namespace

TEST(GridRects, splitsOddPixelsToTheRightAndBottom) {
  const auto small = GridRects(720, 480);
  EXPECT_EQ(small[0], MakeRect(0, 0, 360, 240));
  EXPECT_EQ(small[1], MakeRect(360, 0, 720, 240));
  EXPECT_EQ(small[2], MakeRect(0, 240, 360, 480));
  EXPECT_EQ(small[3], MakeRect(360, 240, 720, 480));
  const auto full = GridRects(1275, 981);
  EXPECT_EQ(full[0].Width(), 637);
  EXPECT_EQ(full[1].Width(), 638);
  EXPECT_EQ(full[0].Height(), 490);
  EXPECT_EQ(full[3].Height(), 491);
  EXPECT_EQ(full[3], MakeRect(637, 490, 1275, 981));
}

TEST(QuadQuarter, picksTheQuarterUnderTheClick) {
  EXPECT_EQ(QuadQuarterCode(10, 10, 720, 480), 6);
  EXPECT_EQ(QuadQuarterCode(360, 100, 720, 480), 7);
  EXPECT_EQ(QuadQuarterCode(10, 300, 720, 480), 8);
  EXPECT_EQ(QuadQuarterCode(360, 240, 720, 480), 9);
  EXPECT_EQ(QuadQuarterCode(-1, 10, 720, 480), 9);
}

TEST_F(LayoutFixture, gridHidesThenPlacesAllBeforeShowingInChannelOrder) {
  layout.LayoutViewers(1);
  ASSERT_EQ(log.size(), 12u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(log[i].what, "hide");
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(log[4 + i].what, "rect");
    EXPECT_EQ(log[4 + i].channel, i);
    EXPECT_EQ(log[8 + i].what, "show");
    EXPECT_EQ(log[8 + i].channel, i);
  }
  EXPECT_EQ(viewers[3].rect, MakeRect(360, 240, 720, 480));
}

TEST_F(LayoutFixture, oneViewerModeAndUnknownModes) {
  layout.LayoutViewers(0);
  EXPECT_TRUE(viewers[0].visible);
  EXPECT_FALSE(viewers[1].visible);
  EXPECT_EQ(viewers[0].rect, MakeRect(0, 0, 720, 480));
  layout.LayoutViewers(7);
  for (auto &v : viewers) EXPECT_FALSE(v.visible);
}

TEST_F(LayoutFixture, doubleClickZoomsChannelTwoAndBack) {
  layout.LayoutViewers(1);
  layout.OnViewerDblClick(2);
  EXPECT_EQ(layout.ZoomedChannel(), 2);
  EXPECT_EQ(viewers[2].mode, 3);
  EXPECT_TRUE(viewers[2].visible);
  EXPECT_FALSE(viewers[0].visible);
  EXPECT_EQ(viewers[2].rect, MakeRect(0, 0, 720, 480));

  // Any viewer's double click returns from the zoom.
  layout.OnViewerDblClick(0);
  EXPECT_EQ(layout.ZoomedChannel(), -1);
  EXPECT_EQ(viewers[2].mode, 0);
  for (auto &v : viewers) EXPECT_TRUE(v.visible);
  EXPECT_EQ(viewers[2].rect, MakeRect(0, 240, 360, 480));
}

TEST_F(LayoutFixture, zoomedChannelSurvivesRelayout) {
  layout.ToggleChannelZoom(1);
  layout.SetPanelSize(1275, 981);
  layout.LayoutViewers(1);
  EXPECT_TRUE(viewers[1].visible);
  EXPECT_FALSE(viewers[0].visible);
  EXPECT_EQ(viewers[1].rect, MakeRect(0, 0, 1275, 981));
}

TEST_F(LayoutFixture, quadRecordingCyclesBetweenWholeAndQuarters) {
  layout.SetRecordingLayout(1);
  EXPECT_EQ(displayMode, 0);
  EXPECT_EQ(layout.ZoomCode(), 5);
  EXPECT_EQ(viewers[0].mode, 5);
  EXPECT_TRUE(viewers[0].visible);
  EXPECT_FALSE(viewers[1].visible);

  layout.OnViewerMouseDown(1, 360, 100);
  layout.OnViewerDblClick(0);
  EXPECT_EQ(viewers[0].mode, 7);
  layout.OnViewerDblClick(0);
  EXPECT_EQ(viewers[0].mode, 5);

  // A right press does not move the remembered point.
  layout.OnViewerMouseDown(2, 10, 10);
  layout.OnViewerMouseDown(1, 360, 240);
  layout.OnViewerDblClick(0);
  EXPECT_EQ(viewers[0].mode, 9);
  layout.OnViewerDblClick(0);
  EXPECT_EQ(viewers[0].mode, 5);

  layout.SetRecordingLayout(0);
  EXPECT_EQ(displayMode, 1);
  EXPECT_EQ(viewers[0].mode, 0);
  for (auto &v : viewers) EXPECT_TRUE(v.visible);
}

TEST(Resizing, panelKeepsThreeToTwo_growsWithTheSmallerRoom_andNeverShrinksBelowDesign) {
  ResizedLayout l = LayoutForClient(956, 559);
  EXPECT_EQ(l.panelWidth, 720);
  EXPECT_EQ(l.panelHeight, 480);
  EXPECT_EQ(l.dx, 0);
  EXPECT_EQ(l.dy, 0);
  l = LayoutForClient(1400, 800);  // height limits: 800 - 79 = 721 rows of room
  EXPECT_EQ(l.panelHeight, 720);
  EXPECT_EQ(l.panelWidth, 1080);
  EXPECT_EQ(l.dx, 360);
  EXPECT_EQ(l.dy, 240);
  l = LayoutForClient(1100, 1000);  // width limits: 1100 - 236 = 864 columns
  EXPECT_EQ(l.panelWidth, 864);
  EXPECT_EQ(l.panelHeight, 576);
  l = LayoutForClient(500, 300);
  EXPECT_EQ(l.panelWidth, 720);
  EXPECT_EQ(l.dy, 0);
}
