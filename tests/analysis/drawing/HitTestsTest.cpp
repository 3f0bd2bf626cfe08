#include "analysis/drawing/HitTests.h"

#include <gtest/gtest.h>

namespace kestrom::drawing {
namespace {

using annotation::DrawingStore;
using annotation::ShapeKind;
using annotation::ShapeRecord;

ShapeRecord Shape(ShapeKind kind, int x1, int y1, int x2, int y2) {
  ShapeRecord s;
  s.kind = kind;
  s.x1 = x1, s.y1 = y1, s.x2 = x2, s.y2 = y2;
  return s;
}

TEST(HitTests, LineRuleByKindOfLine) {
  struct Case {
    const char* what;
    double x1, y1, x2, y2, x, y;
    bool hit;
  };
  const Case cases[] = {
      {"steep: 5 beside", 100, 100, 110, 130, 95, 115, true},
      {"steep: 6 beside", 100, 100, 110, 130, 94, 115, false},
      {"steep: past its end", 100, 100, 110, 130, 100, 131, false},
      {"steep: its start counts", 100, 100, 110, 130, 100, 100, true},
      {"slanted: 10 below", 100, 100, 200, 200, 150, 160, true},
      {"slanted: 13 below", 100, 100, 200, 200, 150, 163, false},
      {"slanted: before its start", 100, 100, 200, 200, 99, 99, false},
      {"flat: 5 below", 100, 100, 200, 105, 150, 105, true},
      {"flat: 6 below", 100, 100, 200, 105, 150, 106, false},
      {"flat: its start is open", 100, 100, 200, 105, 100, 100, false},
      {"flat: its end is closed", 100, 100, 200, 105, 200, 100, true},
      {"short and level: never", 100, 100, 105, 100, 102, 100, false},
      {"zero length: never", 100, 100, 100, 100, 100, 100, false},
  };
  for (const Case& c : cases) EXPECT_EQ(LineHit(c.x1, c.y1, c.x2, c.y2, c.x, c.y), c.hit) << c.what;
}

TEST(HitTests, ZeroLengthLinesAndDegenerateAnglesArePassedOver) {
  DrawingStore s;
  s.AddShape(Shape(ShapeKind::Line, 50, 50, 50, 50));     // a click without a drag
  s.AddShape(Shape(ShapeKind::Line, 100, 100, 200, 200));
  s.AddShape(Shape(ShapeKind::Rectangle, 0, 0, 300, 300));  // not a line
  EXPECT_EQ(FindLineAt(s, 150, 155), 1);
  EXPECT_EQ(FindLineAt(s, 50, 50), -1);

  s.AddAngle(1, 10, 10, 10, 10, 40, 40, 0);   // first point on the vertex
  s.AddAngle(1, 0, 100, 100, 100, 100, 0, 0);  // a right angle
  s.AddAngle(1, 20, 20, 60, 20, 20, 20, 0);   // first and third points together
  EXPECT_EQ(FindAngleAt(s, 50, 101), 1);
  EXPECT_EQ(FindAngleAt(s, 98, 50), 1);  // the second arm
  EXPECT_EQ(FindAngleAt(s, 40, 21), -1);
}

TEST(HitTests, LastObjectInStoreOrderWins) {
  DrawingStore s;
  s.AddShape(Shape(ShapeKind::Line, 100, 100, 200, 200));
  s.AddShape(Shape(ShapeKind::Line, 100, 110, 200, 210));
  EXPECT_EQ(FindLineAt(s, 150, 155), 1);
  EXPECT_EQ(FindLineAt(s, 150, 145), 0);
}

TEST(HitTests, TextBoxesShapesAndStrokes) {
  DrawingStore s;
  annotation::TextItem t;
  t.x = 50, t.y = 50, t.text = "AB", t.fontSize = 10;
  s.AddTextItem(t);
  EXPECT_EQ(FindTextAt(s, 50, 50), 0);
  EXPECT_EQ(FindTextAt(s, 69.5, 59.5), 0);
  EXPECT_EQ(FindTextAt(s, 70, 50), -1);
  EXPECT_EQ(FindTextAt(s, 50, 60), -1);

  s.AddShape(Shape(ShapeKind::Ellipse, 10, 10, 40, 30));
  s.AddShape(Shape(ShapeKind::Rectangle, 200, 200, 100, 100));  // dragged from bottom right
  s.AddShape(Shape(ShapeKind::Line, 0, 0, 400, 400));
  EXPECT_EQ(FindShapeAt(s, 40, 30), 0);
  EXPECT_EQ(FindShapeAt(s, 150, 150), -1);
  EXPECT_EQ(FindShapeAt(s, 300, 300), -1);

  for (int i = 0; i < 3; ++i) s.AddFreehandPoint({i == 0 ? 1 : 2, 1, 10 + 10 * i, 100, 0});
  for (int i = 0; i < 3; ++i) s.AddFreehandPoint({i == 0 ? 1 : 2, 1, 10 + 10 * i, 200, 0});
  EXPECT_EQ(FindStrokeAt(s, 24, 196), 2);
  EXPECT_EQ(FindStrokeAt(s, 16, 104.9), 1);
  EXPECT_EQ(FindStrokeAt(s, 16, 105), 0);
}

}  // namespace
}  // namespace kestrom::drawing
