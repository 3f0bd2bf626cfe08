#include "analysis/annotation/DrawingStore.h"

#include <gtest/gtest.h>

namespace kestrom::annotation {
namespace {

void AddStroke(DrawingStore& s, int points, int x) {
  for (int i = 0; i < points; ++i) s.AddFreehandPoint({i == 0 ? 1 : 2, 2, x + i, 0, 255});
}

TEST(DrawingStore, CollectionsStopAtTheirCapacity) {
  DrawingStore s;
  for (int i = 0; i < DrawingStore::kShapeCapacity; ++i) ASSERT_TRUE(s.AddShape({}));
  EXPECT_FALSE(s.AddShape({}));
  for (int i = 0; i < DrawingStore::kEventLineCapacity; ++i) ASSERT_TRUE(s.AddEventLine({}));
  EXPECT_FALSE(s.AddEventLine({}));
  EXPECT_EQ(s.Shapes().size(), 1000u);
  EXPECT_EQ(s.EventLines().size(), 100u);
}

TEST(DrawingStore, AddingSetsTheFlagOfItsGroupAndComputesAngles) {
  DrawingStore s;
  s.AddAngle(2, 0, 0, 10, 0, 10, 10, 255);
  EXPECT_TRUE(s.Modified().angles);
  EXPECT_FALSE(s.Modified().shapes);
  EXPECT_NEAR(s.Angles()[0].result.interior, 90.0, 1e-9);
  s.AddFreehandPoint({});
  EXPECT_TRUE(s.Modified().shapes);
  s.AddEventLine({});
  EXPECT_TRUE(s.Modified().events);
  s.ClearModifiedFlags();
  EXPECT_FALSE(s.Modified().Any());
}

TEST(DrawingStore, UndoTakesTenFreehandPointsAndLeavesTheFlags) {
  DrawingStore s;
  AddStroke(s, 25, 0);
  s.UndoFreehandPoints();
  EXPECT_EQ(s.FreehandPoints().size(), 15u);
  s.UndoFreehandPoints();
  s.UndoFreehandPoints();
  EXPECT_EQ(s.FreehandPoints().size(), 0u);

  s.AddShape({});
  s.ClearModifiedFlags();
  s.UndoLastShape();
  s.UndoLastShape();  // nothing left: no harm
  EXPECT_TRUE(s.Shapes().empty());
  EXPECT_FALSE(s.Modified().Any());
}

TEST(DrawingStore, RemovesOneStrokeAndKeepsTheOthersInOrder) {
  DrawingStore s;
  AddStroke(s, 3, 0);
  AddStroke(s, 4, 100);
  AddStroke(s, 2, 200);
  EXPECT_EQ(s.StrokeOfPoint(0), 1);
  EXPECT_EQ(s.StrokeOfPoint(6), 2);
  EXPECT_EQ(s.StrokeOfPoint(8), 3);
  EXPECT_EQ(s.StrokeOfPoint(9), 0);

  s.ClearModifiedFlags();
  ASSERT_TRUE(s.RemoveStroke(2));
  ASSERT_EQ(s.FreehandPoints().size(), 5u);
  EXPECT_EQ(s.FreehandPoints()[2].x, 2);
  EXPECT_EQ(s.FreehandPoints()[3].x, 200);
  EXPECT_TRUE(s.Modified().shapes);
  EXPECT_FALSE(s.RemoveStroke(3));
  EXPECT_FALSE(s.RemoveStroke(0));
}

TEST(DrawingStore, RemovingByIndexChecksTheIndex) {
  DrawingStore s;
  s.AddAngle(1, 0, 0, 1, 0, 1, 1, 0);
  s.AddAngle(1, 0, 0, 1, 0, 2, 0, 0);
  EXPECT_FALSE(s.RemoveAngleAt(2));
  EXPECT_FALSE(s.RemoveAngleAt(-1));
  EXPECT_TRUE(s.RemoveAngleAt(0));
  ASSERT_EQ(s.Angles().size(), 1u);
  EXPECT_NEAR(s.Angles()[0].result.interior, 180.0, 1e-9);
}

TEST(DrawingStore, MarkerCaptionsNeverDivideByZero) {
  DrawingStore s;
  s.SetMarker(1, 1000);
  EXPECT_EQ(s.MarkerCaption(1, 40), "25");
  EXPECT_EQ(s.MarkerCaption(1, 0), "25");
  EXPECT_EQ(s.MarkerCaption(1, -5), "25");
  EXPECT_EQ(s.MarkerCaption(1, std::numeric_limits<double>::quiet_NaN()), "25");
  EXPECT_EQ(s.MarkerCaption(1, 33.3667), "30");
  EXPECT_EQ(s.MarkerCaption(2, 40), "2");
  s.SetMarker(9, 5);  // out of range: ignored
  EXPECT_EQ(s.Marker(9), -1);
}

TEST(DrawingStore, StopwatchCaptionDropsDecimalsAsTimeGrows) {
  DrawingStore s;
  EXPECT_EQ(s.StopwatchCaption(5000), "0.00");
  s.StopwatchState() = {true, 1000};
  const struct {
    int64_t position;
    std::optional<QString> caption;
  } cases[] = {
      {1000, "0.00"},          {3500, "2.50"},        {123456, "122.5"},
      {1001000, "1000"},       {10000499, "9999"},    {10001000, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.position);
    EXPECT_EQ(s.StopwatchCaption(c.position), c.caption);
  }
}

TEST(DrawingStore, ANewVideoStartsWithAnEmptyStore) {
  DrawingStore s;
  AddStroke(s, 3, 0);
  s.AddShape({});
  s.AddAngle(1, 0, 0, 1, 1, 2, 0, 0);
  s.SetFreehandGrid({1, 0, 0, 5, 5, 0, 1});
  s.SetGrid({2, 0, 0, 1});
  s.SetMarker(4, 400);
  s.ResetForNewVideo();
  EXPECT_TRUE(s.FreehandPoints().empty());
  EXPECT_TRUE(s.Shapes().empty());
  EXPECT_TRUE(s.Angles().empty());
  EXPECT_EQ(s.FreehandGridRecord().on, 0);
  EXPECT_EQ(s.Grid().value, 0);
  EXPECT_EQ(s.Marker(4), -1);
  EXPECT_FALSE(s.Modified().Any());
}

}  // namespace
}  // namespace kestrom::annotation
