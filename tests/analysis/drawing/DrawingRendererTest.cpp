#include "analysis/drawing/DrawingRenderer.h"

#include <gtest/gtest.h>

namespace kestrom::drawing {
namespace {

using annotation::DrawingStore;
using annotation::ShapeKind;
using core::TColor;

TEST(DrawingRenderer, GridCoversThePictureThroughItsFirstPoint) {
  // Points 20 window pixels apart across and 15 down: lines every 20 and 15 pixels, through the
  // first point, over the whole picture and nowhere else.
  ui::Canvas canvas(400, 300);
  const ZoomView view(1.0, 0, 0, 400, 300);
  DrawingStore store;
  store.SetFreehandGrid({1, 100, 100, 120, 115, core::clBlack, 1});
  DrawingRenderer(canvas, store, view).DrawFreehandGrid();

  const int freeRow = 7, freeColumn = 7;  // on no line
  ASSERT_NE((100 - freeRow) % 15, 0);
  ASSERT_NE((100 - freeColumn) % 20, 0);
  for (int x = 0; x < 400; ++x)
    EXPECT_EQ(canvas.Pixel(x, freeRow) == core::clBlack, x > 0 && x % 20 == 0) << "column " << x;
  for (int y = 0; y < 300; ++y)
    EXPECT_EQ(canvas.Pixel(freeColumn, y) == core::clBlack, y > 0 && (y - 100) % 15 == 0) << "row " << y;
}

TEST(DrawingRenderer, GridWithoutSpacingOrSwitchedOffDrawsNothing) {
  const ZoomView view(1.0, 0, 0, 200, 200);
  const QImage blank = ui::Canvas(200, 200).Image();
  for (const annotation::FreehandGrid grid : {annotation::FreehandGrid{1, 50, 50, 50, 80, 0, 1},
                                              annotation::FreehandGrid{1, 50, 50, 90, 50, 0, 1},
                                              annotation::FreehandGrid{0, 50, 50, 70, 70, 0, 1}}) {
    ui::Canvas canvas(200, 200);
    DrawingStore store;
    store.SetFreehandGrid(grid);
    DrawingRenderer(canvas, store, view).RedrawOverlays();
    EXPECT_EQ(canvas.Image(), blank);
  }
}

TEST(DrawingRenderer, TextIsUnderlinedWithoutBoldWhenOnlyUnderlineIsOne) {
  DrawingStore store;
  annotation::TextItem t;
  t.x = 10, t.y = 10, t.text = "Hop", t.fontName = "DejaVu Sans", t.fontSize = 14, t.fontColour = core::clRed;
  t.underline = 1;
  t.bold = 2;  // only 1 switches a style on
  store.AddTextItem(t);
  const ZoomView view(1.0, 0, 0, 200, 100);
  ui::Canvas drawn(200, 100);
  DrawingRenderer(drawn, store, view).DrawTextItems();

  auto reference = [](bool bold, bool underline) {
    ui::Canvas c(200, 100);
    c.Brush.Style = ui::BrushStyle::Clear;
    c.Font = {"DejaVu Sans", 14, bold, false, underline, false, core::clRed};
    c.TextOut(10, 10, "Hop");
    return c.Image();
  };
  EXPECT_EQ(drawn.Image(), reference(false, true));
  EXPECT_NE(drawn.Image(), reference(false, false));
  EXPECT_NE(drawn.Image(), reference(true, true));
}

class ShapeAtZoomStep : public ::testing::TestWithParam<int> {};

TEST_P(ShapeAtZoomStep, FollowsTheZoomWithItsPenWidthInWindowPixels) {
  const int step = GetParam();
  const ZoomView view = ZoomView::AtStep(step, 10, 56, 320, 240);
  ui::Canvas canvas(700, 600);
  DrawingStore store;
  annotation::ShapeRecord s;
  s.kind = ShapeKind::Rectangle;
  s.x1 = 50, s.y1 = 40, s.x2 = 100, s.y2 = 80;
  s.penColour = core::clBlue;
  s.penWidth = 1;
  s.brushColour = core::clRed;
  s.brushStyle = annotation::BrushStyle::Solid;
  store.AddShape(s);
  DrawingRenderer(canvas, store, view).DrawShapes();

  const int f = step / 10;
  const int left = 10 + 50 * f, top = 56 + 40 * f, right = 10 + 100 * f, bottom = 56 + 80 * f;
  EXPECT_EQ(canvas.Pixel(left, top), core::clBlue);
  EXPECT_EQ(canvas.Pixel(right - 1, bottom - 1), core::clBlue);
  EXPECT_EQ(canvas.Pixel(left + 1, top + 1), core::clRed);  // a one-pixel pen at every step
  EXPECT_EQ(canvas.Pixel((left + right) / 2, (top + bottom) / 2), core::clRed);
  EXPECT_EQ(canvas.Pixel(left - 1, top), core::clWhite);
  EXPECT_EQ(canvas.Pixel(right, bottom), core::clWhite);
}

INSTANTIATE_TEST_SUITE_P(Steps, ShapeAtZoomStep, ::testing::Values(10, 20));

TEST(DrawingRenderer, HatchedBrushLeavesItsGaps) {
  ui::Canvas canvas(100, 100);
  DrawingStore store;
  annotation::ShapeRecord s;
  s.kind = ShapeKind::Rectangle;
  s.x1 = 10, s.y1 = 10, s.x2 = 60, s.y2 = 60;
  s.brushColour = core::clGreen;
  s.brushStyle = annotation::BrushStyle::Horizontal;
  store.AddShape(s);
  DrawingRenderer(canvas, store, ZoomView(1.0, 0, 0, 100, 100)).DrawShapes();
  EXPECT_EQ(canvas.Pixel(30, 16), core::clGreen);
  EXPECT_EQ(canvas.Pixel(30, 17), core::clWhite);
}

TEST(DrawingRenderer, LaterKindsPaintOverEarlierOnesAndTheGridOverAll) {
  // One pixel, (50, 50), under a stroke, a line, an angle arm and a grid line: each kind drawn
  // later must win, whatever pen mode a rubber band left behind.
  struct Case {
    bool stroke, line, angle, grid;
    TColor expected;
  };
  const Case cases[] = {
      {true, false, false, false, core::clLime},
      {true, true, false, false, core::clRed},
      {true, true, true, false, core::clBlue},
      {true, true, true, true, core::clFuchsia},
  };
  for (const Case& c : cases) {
    DrawingStore store;
    if (c.stroke) {
      store.AddFreehandPoint({1, 3, 10, 50, core::clLime});
      store.AddFreehandPoint({2, 3, 90, 50, core::clLime});
    }
    if (c.line) {
      annotation::ShapeRecord s;
      s.x1 = 50, s.y1 = 10, s.x2 = 50, s.y2 = 90, s.penColour = core::clRed, s.penWidth = 3;
      store.AddShape(s);
    }
    if (c.angle) store.AddAngle(3, 10, 10, 50, 50, 90, 10, core::clBlue);
    if (c.grid) store.SetFreehandGrid({1, 50, 50, 80, 70, core::clFuchsia, 1});
    ui::Canvas canvas(100, 100);
    canvas.Pen.Mode = ui::PenMode::NotXor;
    DrawingRenderer(canvas, store, ZoomView(1.0, 0, 0, 100, 100)).RedrawOverlays();
    EXPECT_EQ(canvas.Pixel(50, 50), c.expected);
  }
}

TEST(DrawingRenderer, StrokesStartWherePointCodeOneMovesThePen) {
  DrawingStore store;
  store.AddFreehandPoint({2, 1, 40, 0, core::clBlack});  // drawn from wherever the pen was
  store.AddFreehandPoint({1, 1, 0, 20, core::clBlack});
  store.AddFreehandPoint({2, 1, 40, 20, core::clBlack});
  store.AddFreehandPoint({1, 1, 0, 30, core::clBlack});  // a stroke of one point shows nothing
  ui::Canvas canvas(50, 50);
  canvas.MoveTo(0, 0);
  DrawingRenderer(canvas, store, ZoomView(1.0, 0, 0, 50, 50)).DrawFreehand();
  EXPECT_EQ(canvas.Pixel(20, 0), core::clBlack);
  EXPECT_EQ(canvas.Pixel(20, 20), core::clBlack);
  EXPECT_EQ(canvas.Pixel(20, 10), core::clWhite);
  EXPECT_EQ(canvas.Pixel(0, 30), core::clWhite);
}

}  // namespace
}  // namespace kestrom::drawing
