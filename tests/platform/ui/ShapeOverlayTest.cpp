#include "platform/ui/ShapeOverlay.h"

#include <gtest/gtest.h>

namespace kestrom::ui {

using namespace core;

namespace {

// The bounding box of the pixels that are not the background.
QRect Drawn(const Canvas& canvas, TColor background) {
  QRect box;
  for (int y = 0; y < canvas.Height(); ++y)
    for (int x = 0; x < canvas.Width(); ++x)
      if (canvas.Pixel(x, y) != background) box |= QRect(x, y, 1, 1);
  return box;
}

}  // namespace

TEST(ShapeOverlay, EveryChangePublishesAPlainCopy) {
  ShapeOverlay shape;
  shape.hide();  // the capture component hides it: it is drawn into the video, not on the form
  const auto first = shape.Snapshot();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Shape, stRectangle);
  EXPECT_EQ(first->Width, 65);

  shape.SetShape(stCircle);
  shape.SetPen({clRed, 3});
  shape.SetBrush({clYellow, BrushStyle::Cross});
  shape.SetBounds(10, 20, 40, 30);
  const auto changed = shape.Snapshot();
  EXPECT_EQ(changed->Shape, stCircle);
  EXPECT_EQ(changed->Pen.Color, clRed);
  EXPECT_EQ(changed->Pen.Width, 3);
  EXPECT_EQ(changed->Brush.Style, BrushStyle::Cross);
  EXPECT_EQ((QRect(changed->Left, changed->Top, changed->Width, changed->Height)), QRect(10, 20, 40, 30));
  EXPECT_TRUE(changed->Enabled);
  EXPECT_EQ(first->Shape, stRectangle) << "a taken copy never changes";
  EXPECT_EQ(first->Width, 65);

  shape.setEnabled(false);
  EXPECT_FALSE(shape.Snapshot()->Enabled);
  EXPECT_TRUE(changed->Enabled);
}

TEST(ShapeOverlay, DrawsEachKindInsideItsBounds) {
  struct Case { TShapeType kind; int penWidth; QRect box; };
  // Bounds 40 x 30 at (10, 20): the square kinds take a 30 x 30 square 5 pixels in.
  const Case cases[] = {
      {stRectangle, 1, QRect(10, 20, 40, 30)},
      {stRoundRect, 1, QRect(10, 20, 40, 30)},
      {stEllipse, 1, QRect(10, 20, 40, 30)},
      {stSquare, 1, QRect(15, 20, 30, 30)},
      {stRoundSquare, 1, QRect(15, 20, 30, 30)},
      {stCircle, 1, QRect(15, 20, 30, 30)},
      {stRectangle, 5, QRect(8, 18, 40, 30)},  // 36 x 26 inside, the wide pen centred on its edge
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.kind) << " pen " << c.penWidth);
    Canvas canvas(80, 70);
    canvas.Brush = {clGray, BrushStyle::Solid};
    canvas.FillRect(Rect(0, 0, 80, 70));
    canvas.Pen = {clAqua, 1};
    ShapeSnapshot s;
    s.Shape = c.kind;
    s.Pen = {clBlack, c.penWidth};
    s.Brush = {clWhite, BrushStyle::Solid};
    s.Left = 10, s.Top = 20, s.Width = 40, s.Height = 30;
    DrawShape(canvas, s);
    EXPECT_EQ(Drawn(canvas, clGray), c.box);
    EXPECT_EQ(canvas.Pen.Color, clAqua) << "the canvas's own pen is restored";
    EXPECT_EQ(canvas.Brush.Color, clGray);
  }
}

}  // namespace kestrom::ui
