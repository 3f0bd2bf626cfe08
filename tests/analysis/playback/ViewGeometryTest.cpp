#include "analysis/playback/ViewGeometry.h"

#include <QRegion>
#include <gtest/gtest.h>

namespace kestrom::playback {
namespace {

constexpr int kMenu = 56;

// A 720 x 576 video in a picture area of 1000 x 600 (client 1016 x 720).
ViewGeometry Pal1000x600() {
  ViewGeometry g;
  g.SetFrameSize(720, 576);
  g.BuildZoomTable(1016, 720, kMenu);
  return g;
}

TEST(ViewGeometry, CentresAtNormalSizeAndScrollsAtDoubleSize) {
  const ViewGeometry g = Pal1000x600();
  EXPECT_EQ(g.AreaWidth, 1000);
  EXPECT_EQ(g.AreaHeight, 600);

  EXPECT_EQ(g.ZoomedWidth[10], 720);
  EXPECT_EQ(g.XOffset[10], 140);
  EXPECT_EQ(g.YOffset[10], 12 + kMenu);
  EXPECT_FALSE(g.XOverflow[10]);
  EXPECT_FALSE(g.YOverflow[10]);
  EXPECT_EQ(g.XScrollStep[10], 0.0);
  const PicturePlacement at10 = g.Place(10, 0, 0);
  EXPECT_EQ(at10.display, QRect(140, 68, 720, 576));
  EXPECT_FALSE(at10.horzScroll);
  EXPECT_FALSE(at10.vertScroll);

  EXPECT_EQ(g.ZoomedWidth[20], 1440);
  EXPECT_EQ(g.ZoomedHeight[20], 1152);
  EXPECT_EQ(g.XOffset[20], 0);
  EXPECT_EQ(g.YOffset[20], kMenu);
  EXPECT_DOUBLE_EQ(g.XScrollStep[20], 44.0);
  EXPECT_DOUBLE_EQ(g.YScrollStep[20], 55.2);
  const PicturePlacement at20 = g.Place(20, 0, 0);
  EXPECT_TRUE(at20.horzScroll);
  EXPECT_TRUE(at20.vertScroll);
  EXPECT_EQ(g.XRight[20], 1440);
  EXPECT_EQ(g.YBottom[20], kMenu + 1152);
}

TEST(ViewGeometry, LastScrollUnitBringsTheFarEdgesTogether) {
  const ViewGeometry g = Pal1000x600();
  const QRect end = g.Place(20, kPictureScrollUnits, kPictureScrollUnits).display;
  EXPECT_EQ(end.left() + end.width(), g.AreaWidth);
  EXPECT_EQ(end.top() + end.height(), kMenu + g.AreaHeight);
  EXPECT_EQ(end.topLeft(), QPoint(-440, 56 - 552));
}

TEST(ViewGeometry, HalfOfAnOddMarginRoundsToEven) {
  // dx = 5 gives 2 and dx = 7 gives 4.
  for (auto [dx, offset] : {std::pair{5, 2}, std::pair{7, 4}, std::pair{6, 3}}) {
    ViewGeometry g;
    g.SetFrameSize(720, 576);
    g.BuildZoomTable(720 + dx + 16, 720, kMenu);
    EXPECT_EQ(g.XOffset[10], offset) << "dx " << dx;
  }
}

TEST(ViewGeometry, ConversionsRoundTripAtScrolledSteps) {
  const ViewGeometry g = Pal1000x600();
  for (int step : {1, 5, 12, 15, 20, 27, 30}) {
    for (int pos = 0; pos <= kPictureScrollUnits; pos += 3) {
      // The picture's top-left corner is video (0, 0).
      const QRect pic = g.Place(step, pos, pos).display;
      EXPECT_EQ(g.ShowX(0, step, pos), pic.left()) << step << "/" << pos;
      EXPECT_EQ(g.ShowY(0, step, pos), pic.top()) << step << "/" << pos;
      for (int screen : {0, 1, 77, 499, 999}) {
        EXPECT_EQ(g.ShowX(g.ScreenToVideoX(screen, step, pos), step, pos), screen) << step << "/" << pos;
        EXPECT_EQ(g.ShowY(g.ScreenToVideoY(screen + kMenu, step, pos), step, pos), screen + kMenu);
      }
      // Video to window and back lands within half a window pixel of where it started.
      for (double video : {0.0, 13.25, 359.5, 719.0}) {
        const double back = g.ScreenToVideoX(g.ShowX(video, step, pos), step, pos);
        EXPECT_NEAR(back, video, 0.5 / g.ZoomFactor[step] + 1e-9) << step << "/" << pos;
      }
    }
  }
}

TEST(ViewGeometry, ZoomStopsAtItsLimitsAndMarksOnlyMenuSteps) {
  EXPECT_EQ(ZoomInStep(30), 30);
  EXPECT_EQ(ZoomOutStep(1), 1);
  EXPECT_EQ(ZoomInStep(1), 2);
  EXPECT_EQ(ZoomOutStep(30), 29);
  EXPECT_EQ(ClampZoomStep(0), 1);
  EXPECT_EQ(ClampZoomStep(31), 30);

  const std::pair<int, const char*> items[] = {{30, "Z30"}, {25, "Z25"}, {20, "Z20"}, {15, "Z15"},
                                               {12, "N12NTSC1"}, {10, "Z10"}, {5, ""}, {11, ""}, {1, ""}};
  for (auto [step, item] : items) EXPECT_EQ(ZoomMenuItemFor(step), QString(item)) << step;

  EXPECT_EQ(ZoomStatusText(1.0), "Zoom  1.0");
  EXPECT_EQ(ZoomStatusText(0.5), "Zoom  0.5");
  EXPECT_EQ(ZoomStatusText(2.5), "Zoom  2.5");

  // The extreme steps still give sane tables: 0.1 fits, 3.0 scrolls both ways.
  const ViewGeometry g = Pal1000x600();
  EXPECT_EQ(g.Place(1, 0, 0).display, QRect(464, 56 + 271, 72, 58));
  EXPECT_DOUBLE_EQ(g.XScrollStep[30], (2160 - 1000) / 10.0);
  EXPECT_DOUBLE_EQ(g.YScrollStep[30], (1728 - 600) / 10.0);
}

TEST(ViewGeometry, MarginsCoverTheAreaAroundAFittingPictureOnly) {
  const ViewGeometry g = Pal1000x600();
  const QRect pic = g.Place(10, 0, 0).display;
  QRegion painted;
  for (const QRect& r : g.MarginRects(pic, 10)) {
    EXPECT_FALSE(r.intersects(pic)) << r.x() << "," << r.y();
    painted += r;
  }
  EXPECT_EQ(painted + pic, QRegion(QRect(0, kMenu, g.AreaWidth, g.AreaHeight)));

  EXPECT_TRUE(g.MarginRects(g.Place(20, 4, 4).display, 20).empty());

  // Wider than the area but not taller: only the bands above and below.
  ViewGeometry wide;
  wide.SetFrameSize(1920, 200);
  wide.BuildZoomTable(1016, 720, kMenu);
  const auto bands = wide.MarginRects(wide.Place(10, 0, 0).display, 10);
  ASSERT_EQ(bands.size(), 2u);
  EXPECT_EQ(bands[0], QRect(0, 56, 1000, 200));
  EXPECT_EQ(bands[1], QRect(0, 456, 1000, 200));
}

TEST(ViewGeometry, RefreshSeeksStepAwayAndBack) {
  struct Case {
    int64_t position, length;
    double frame;
    std::pair<int64_t, int64_t> seeks;
  } cases[] = {
      {0, 10000, 40.0, {40, 0}},          // at the start: the second frame, then the first
      {400, 10000, 40.0, {360, 400}},     // inside: the frame before, then back
      {9959, 10000, 40.0, {9919, 9959}},  // just before the last frame
      {9960, 10000, 40.0, {9920, 10000}}, // at the end: two frames back, then the end
      {0, 40, 40.0, {40, 0}},             // a one-frame clip
      {40, 40, 40.0, {0, 40}},            // never a negative seek
      {500, 33367, 33.367, {467, 500}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(RefreshSeeks(c.position, c.length, c.frame), c.seeks) << c.position << " of " << c.length;
}

TEST(ViewGeometry, ResizeOutlineIsTheCentredPicture) {
  const ViewGeometry g = Pal1000x600();
  EXPECT_EQ(g.ResizeOutline(10), QRect(140, 68, 720, 576));
  EXPECT_EQ(g.ResizeOutline(20), QRect(-220, 56 - 276, 1440, 1152));
}

}  // namespace
}  // namespace kestrom::playback

namespace kestrom::playback {
namespace {

TEST(ViewRules, OffScreenMarginsAndStopwatch) {
  const QSize screen(1280, 1024);
  EXPECT_FALSE(IsPartlyOffScreen(QRect(0, 0, 1280, 1024), screen));
  EXPECT_TRUE(IsPartlyOffScreen(QRect(-1, 0, 100, 100), screen));
  EXPECT_TRUE(IsPartlyOffScreen(QRect(0, -1, 100, 100), screen));
  EXPECT_TRUE(IsPartlyOffScreen(QRect(1181, 0, 100, 100), screen));
  EXPECT_TRUE(IsPartlyOffScreen(QRect(0, 925, 100, 100), screen));

  EXPECT_TRUE(WhiteMargins(true, 480, 1));
  EXPECT_FALSE(WhiteMargins(true, 480, 2));
  EXPECT_FALSE(WhiteMargins(true, 576, 1));
  EXPECT_FALSE(WhiteMargins(false, 480, 1));

  const std::pair<double, const char*> times[] = {
      {0.0, "0.00"}, {1.234, "1.23"}, {99.99, "99.99"}, {100.04, "100.0"},
      {999.9, "999.9"}, {1000.4, "1000"}, {9999.4, "9999"}, {10000.0, "keep"}, {-0.5, "-0.50"}};
  for (auto [t, text] : times) EXPECT_EQ(StopwatchText(t, "keep"), QString(text)) << t;
}

}  // namespace
}  // namespace kestrom::playback
