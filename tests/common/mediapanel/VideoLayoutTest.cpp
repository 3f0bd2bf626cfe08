// Where the media panel places its video for each panel size, clip size, display size and
// scroll bar position.
#include "common/mediapanel/VideoLayout.h"

#include <gtest/gtest.h>

namespace kestrom::mediapanel {
namespace {

using Kind = VideoLayoutResult::Kind;
using enum TDisplaySize;

struct Case {
  const char* name;
  QSize panel, source;
  TDisplaySize size;
  int zoom;
  bool controls;
  double fx, fy;
  Kind kind;
  QRect video;
  bool horz, vert, corner;
};

const Case kCases[] = {
    // The limiting side decides fit: the height here, the width for a wide strip.
    {"FitTallClip", {400, 300}, {720, 576}, mpFitToSize, 100, false, .5, .5, Kind::Placed, {12, 0, 375, 300}, false, false, false},
    {"FitWideStrip", {500, 300}, {200, 40}, mpFitToSize, 100, false, .5, .5, Kind::Placed, {0, 100, 500, 100}, false, false, false},
    {"DefaultCentred", {400, 300}, {320, 240}, mpDefaultSize, 100, false, .5, .5, Kind::Placed, {40, 30, 320, 240}, false, false, false},
    {"DefaultTooLargeFits", {400, 300}, {720, 576}, mpDefaultSize, 100, false, .5, .5, Kind::Placed, {12, 0, 375, 300}, false, false, false},
    {"Half", {400, 300}, {720, 576}, mpHalfSize, 100, false, .5, .5, Kind::Placed, {20, 6, 360, 288}, false, false, false},
    {"DoubleInSmallPanelFits", {400, 300}, {320, 240}, mpDoubleSize, 100, false, .5, .5, Kind::Placed, {0, 0, 400, 300}, false, false, false},
    {"DoubleInLargePanel", {400, 300}, {100, 50}, mpDoubleSize, 100, false, .5, .5, Kind::Placed, {100, 100, 200, 100}, false, false, false},
    {"ControlsShownFill", {400, 300}, {720, 576}, mpFitToSize, 100, true, .5, .5, Kind::Fill, {0, 0, 400, 300}, false, false, false},
    {"NoSourceFill", {400, 300}, {0, 0}, mpDefaultSize, 100, false, .5, .5, Kind::Fill, {0, 0, 400, 300}, false, false, false},
    // Zoomed larger than the panel both ways: the far end shows the last column and row just
    // before the other bar, the near end the first ones.
    {"ZoomBothBarsFarEnd", {400, 300}, {320, 240}, mpCustomSize, 200, false, 1, 1, Kind::Placed, {384 - 640, 284 - 480, 640, 480}, true, true, true},
    {"ZoomBothBarsNearEnd", {400, 300}, {320, 240}, mpCustomSize, 200, false, 0, 0, Kind::Placed, {0, 0, 640, 480}, true, true, true},
    // Wider only: one bar along the bottom, the height centred above it.
    {"ZoomOneBar", {400, 300}, {320, 100}, mpCustomSize, 150, false, 1, .5, Kind::Placed, {400 - 480, 67, 480, 150}, true, false, false},
    // A bar that takes the room the other direction needed brings the second bar.
    {"ZoomBarBringsTheOther", {400, 300}, {320, 196}, mpCustomSize, 150, false, .5, 1, Kind::Placed, {-48, 284 - 294, 480, 294}, true, true, true},
    {"ZoomFitsCentred", {400, 300}, {320, 240}, mpCustomSize, 50, false, .5, .5, Kind::Placed, {120, 90, 160, 120}, false, false, false},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Layout : public testing::TestWithParam<Case> {};

TEST_P(Layout, PlacesTheVideo) {
  const Case& c = GetParam();
  LayoutInput in;
  in.panel = c.panel;
  in.source = c.source;
  in.clipOpen = true;
  in.controlsShown = c.controls;
  in.displaySize = c.size;
  in.zoomSize = c.zoom;
  in.horzFraction = c.fx;
  in.vertFraction = c.fy;
  const VideoLayoutResult r = LayoutVideo(in);
  EXPECT_EQ(r.kind, c.kind);
  EXPECT_EQ(r.video, c.video);
  EXPECT_EQ(r.horz.visible, c.horz);
  EXPECT_EQ(r.vert.visible, c.vert);
  EXPECT_EQ(r.cornerVisible, c.corner);
}

INSTANTIATE_TEST_SUITE_P(ActiveMovie, Layout, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(ActiveMovie, ScrollBarsShareTheEdgesWithTheCorner) {
  LayoutInput in;
  in.panel = {400, 300};
  in.source = {320, 240};
  in.clipOpen = true;
  in.displaySize = mpCustomSize;
  in.zoomSize = 200;
  in.horzFraction = 0.25;
  const VideoLayoutResult r = LayoutVideo(in);
  EXPECT_EQ(r.horz.bounds, QRect(0, 284, 384, 16));
  EXPECT_EQ(r.vert.bounds, QRect(384, 0, 16, 284));
  EXPECT_EQ(r.corner, QRect(384, 284, 16, 16));
  // Maximum: the size plus the thickness when both bars show; changes a 50th and a 10th.
  EXPECT_EQ(r.horz.maximum, 656);
  EXPECT_EQ(r.horz.position, 164);
  EXPECT_EQ(r.horz.smallChange, 12);
  EXPECT_EQ(r.horz.largeChange, 64);
  EXPECT_DOUBLE_EQ(ScrollFraction(r.horz.position, r.horz.maximum), 0.25);

  // Without bars a scrolled position still moves the picture over the whole panel.
  in.showScrollBars = false;
  in.horzFraction = 1;
  const VideoLayoutResult bare = LayoutVideo(in);
  EXPECT_EQ(bare.video, QRect(400 - 640, -90, 640, 480));
  EXPECT_FALSE(bare.horz.visible);
  EXPECT_FALSE(bare.vert.visible);
}

TEST(ActiveMovie, HiddenVideoGoesOutsideThePanel) {
  LayoutInput in;
  in.panel = {400, 300};
  in.source = {320, 240};
  in.clipOpen = true;
  in.hideVideo = true;
  VideoLayoutResult r = LayoutVideo(in);
  EXPECT_EQ(r.kind, Kind::Hidden);
  EXPECT_FALSE(QRect(0, 0, 400, 300).intersects(r.video));
  in.hideVideo = false;
  in.visible = false;
  EXPECT_EQ(LayoutVideo(in).kind, Kind::Hidden);
  in.panel = {0, 0};
  EXPECT_EQ(LayoutVideo(in).kind, Kind::Nothing);
}

}  // namespace
}  // namespace kestrom::mediapanel
