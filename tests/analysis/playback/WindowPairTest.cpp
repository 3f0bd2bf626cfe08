#include "analysis/playback/WindowPair.h"
#include "analysis/playback/PanelRow.h"

#include <gtest/gtest.h>

namespace kestrom::playback {
namespace {

TEST(WindowPair, LayoutBoundsFollowTheScreen) {
  const struct {
    int layout;
    QSize screen;
    std::optional<QRect> main, best;
  } cases[] = {
      {kVerticalLayout, {1280, 1024}, QRect(0, 0, 504, 721), QRect(510, 0, 504, 721)},
      {kHorizontalLayout, {1280, 1024}, QRect(0, 0, 744, 380), QRect(0, 380, 744, 380)},
      {kTeachingLayout, {1280, 1024}, QRect(0, 0, 1278, 996), std::nullopt},
      {kSplitScreenLayout, {1280, 1024}, QRect(0, 0, 638, 996), QRect(640, 0, 638, 996)},
      // An odd width: the halves come from integer division and Best starts at the half.
      {kSplitScreenLayout, {1921, 1080}, QRect(0, 0, 958, 1052), QRect(960, 0, 958, 1052)},
      {kTeachingLayout, {1920, 1080}, QRect(0, 0, 1918, 1052), std::nullopt},
      // The fixed layouts do not grow with the screen.
      {kVerticalLayout, {1920, 1080}, QRect(0, 0, 504, 721), QRect(510, 0, 504, 721)},
      {kFreeLayout, {1280, 1024}, std::nullopt, std::nullopt},
      {7, {1280, 1024}, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    const PairBounds bounds = LayoutBounds(c.layout, c.screen);
    EXPECT_EQ(bounds.main, c.main) << "layout " << c.layout << " on " << c.screen.width();
    EXPECT_EQ(bounds.best, c.best) << "layout " << c.layout << " on " << c.screen.width();
  }
}

TEST(WindowPair, SyncedPositionKeepsTheOffsetAndNeverGoesBeforeTheStart) {
  const struct {
    int64_t leader, offset, expected;
  } cases[] = {
      {0, 2000, 2000},  {500, 2000, 2500}, {3000, 2000, 5000},  // ahead stays ahead
      {500, -1000, 0},  {1000, -1000, 0},  {1040, -1000, 40},   // behind waits at the start
      {0, 0, 0},        {-40, 0, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SyncedPosition(c.leader, c.offset), c.expected) << c.leader << " + " << c.offset;
}

// The playback panel's row: the position bar narrows first, never below its narrowest.
TEST(PanelRow, OnlyThePositionBarGivesWayToANarrowWindow) {
  const std::vector<RowSlot> controls = {{8, 600, kNarrowestPositionBar}, {8, 60, 60}, {8, 26, 26}};
  const struct {
    int end;
    std::vector<RowPlace> places;
  } cases[] = {
      {1258, {{160, 600}, {768, 60}, {836, 26}}},  // the wide window: as drawn
      {862, {{160, 600}, {768, 60}, {836, 26}}},   // just room
      {500, {{160, 238}, {406, 60}, {474, 26}}},   // narrowed by 362
      {300, {{160, 120}, {288, 60}, {356, 26}}},   // narrowest: the rest runs past the end
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.end);
    EXPECT_EQ(PlaceRow(152, c.end, controls), c.places);
  }
}

}  // namespace
}  // namespace kestrom::playback
