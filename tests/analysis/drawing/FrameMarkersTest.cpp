#include "analysis/drawing/FrameMarkers.h"

#include <gtest/gtest.h>

namespace kestrom::drawing {
namespace {

TEST(FrameMarkers, FirstClickSetsLaterClicksSeek) {
  annotation::DrawingStore store;
  FrameMarkers markers(store);
  MarkerVideo video{true, 2000, 10000, 40.0};
  const MarkerClick set = markers.Click(3, video);
  EXPECT_EQ(set.action, MarkerClick::Action::Set);
  EXPECT_EQ(store.Marker(3), 2000);
  EXPECT_EQ(markers.Caption(3, 40.0), "50");
  EXPECT_TRUE(store.Modified().markers);

  video.positionMs = 7000;
  const MarkerClick seek = markers.Click(3, video);
  EXPECT_EQ(seek.action, MarkerClick::Action::Seek);
  EXPECT_EQ(seek.position, 2000);
  EXPECT_EQ(seek.frame, 50);
  EXPECT_EQ(store.Marker(3), 2000);
}

TEST(FrameMarkers, CaptionsRoundHalvesToEven) {
  annotation::DrawingStore store;
  FrameMarkers markers(store);
  const struct { int32_t ms; const char* caption; } cases[] = {{60, "2"}, {100, "2"}, {140, "4"}, {0, "0"}};
  for (const auto& c : cases) {
    store.SetMarker(1, c.ms);
    EXPECT_EQ(markers.Caption(1, 40.0), c.caption) << c.ms;
  }
}

TEST(FrameMarkers, BeyondTheLengthIsOutsideAndWithoutVideoNothingHappens) {
  annotation::DrawingStore store;
  FrameMarkers markers(store);
  store.SetMarker(2, 5000);
  EXPECT_EQ(markers.Click(2, {true, 0, 4000, 40.0}).action, MarkerClick::Action::Outside);
  EXPECT_EQ(markers.Caption(2, 40.0), "125");
  EXPECT_EQ(markers.Click(2, {true, 0, 5000, 40.0}).action, MarkerClick::Action::Seek);  // the length counts

  EXPECT_EQ(markers.Click(4, {false, 1000, 4000, 40.0}).action, MarkerClick::Action::None);
  EXPECT_EQ(store.Marker(4), -1);
  EXPECT_FALSE(store.Modified().markers);
}

TEST(FrameMarkers, ControlUnsetsWithoutMarkingTheFileChanged) {
  annotation::DrawingStore store;
  FrameMarkers markers(store);
  store.SetMarker(3, 2000);
  EXPECT_FALSE(markers.KeyDown(3, 'A'));
  EXPECT_EQ(store.Marker(3), 2000);
  EXPECT_TRUE(markers.KeyDown(3, kControlKey));
  EXPECT_EQ(markers.Caption(3, 40.0), "3");
  EXPECT_FALSE(store.Modified().markers);
}

TEST(FrameMarkers, StopwatchStartsAtThePositionAndStopsOnTheNextClick) {
  annotation::DrawingStore store;
  FrameMarkers markers(store);
  EXPECT_EQ(markers.TimeClick({false, 1000, 200000, 40.0}), std::nullopt);
  EXPECT_EQ(markers.TimeClick({true, 1000, 200000, 40.0}), true);
  const struct { int64_t at; const char* caption; } cases[] = {
      {1000, "0.00"}, {123456, "122.5"}, {100990, "99.99"}, {1001000, "1000"}};
  for (const auto& c : cases) EXPECT_EQ(markers.StopwatchCaption(c.at), c.caption) << c.at;
  EXPECT_EQ(markers.StopwatchCaption(10001000), std::nullopt);  // the caption keeps its old text
  EXPECT_EQ(markers.TimeClick({true, 5000, 200000, 40.0}), false);
  EXPECT_EQ(markers.StopwatchCaption(9000), "0.00");
}

}  // namespace
}  // namespace kestrom::drawing
