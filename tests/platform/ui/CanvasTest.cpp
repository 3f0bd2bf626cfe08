#include "platform/ui/Canvas.h"

#include <QRandomGenerator>
#include <functional>
#include <gtest/gtest.h>

namespace kestrom::ui {

using namespace core;

namespace {

// A canvas of seeded noise, so every bit of every pixel takes part in the xor checks.
Canvas Noise(int w, int h, quint32 seed) {
  Canvas canvas(w, h);
  QRandomGenerator random(seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) canvas.SetPixel(x, y, static_cast<TColor>(random.generate() & 0xFFFFFF));
  return canvas;
}

bool SameBytes(const QImage& a, const QImage& b) {
  if (a.size() != b.size() || a.format() != b.format()) return false;
  for (int y = 0; y < a.height(); ++y)
    if (memcmp(a.constScanLine(y), b.constScanLine(y), static_cast<size_t>(a.bytesPerLine())) != 0) return false;
  return true;
}

int CountColour(const Canvas& c, TColor colour, QRect area) {
  int n = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) n += c.Pixel(x, y) == colour;
  return n;
}

}  // namespace

TEST(Canvas, RubberBandFiguresDrawnTwiceRestoreThePictureByteForByte) {
  struct Case { const char* name; PenMode mode; int width; PenStyle style; BrushStyle brush; };
  const Case cases[] = {
      {"thin not-xor", PenMode::NotXor, 1, PenStyle::Solid, BrushStyle::Clear},
      {"thin xor dashed", PenMode::Xor, 1, PenStyle::Dash, BrushStyle::Clear},
      {"thin not-xor dash-dot-dot", PenMode::NotXor, 1, PenStyle::DashDotDot, BrushStyle::Clear},
      {"wide not-xor", PenMode::NotXor, 7, PenStyle::Solid, BrushStyle::Clear},
      {"wide xor", PenMode::Xor, 12, PenStyle::Solid, BrushStyle::Clear},
      {"not-xor solid fill", PenMode::NotXor, 3, PenStyle::Solid, BrushStyle::Solid},
      {"not-xor hatched fill", PenMode::NotXor, 1, PenStyle::Dot, BrushStyle::DiagCross},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Canvas canvas = Noise(160, 120, 7);
    const QImage before = canvas.Image().copy();
    canvas.Pen = {clRed, c.width, c.style, c.mode};
    canvas.Brush = {clYellow, c.brush};
    auto draw = [&] {
      canvas.MoveTo(5, 7);
      canvas.LineTo(150, 90);
      canvas.LineTo(150, 10);  // a joint
      canvas.Polyline({{20, 100}, {60, 60}, {100, 110}, {20, 100}});
      canvas.Rectangle(90, 80, 30, 20);  // corners in reverse order
      canvas.Ellipse(10, 10, 70, 50);
      canvas.RoundRect(100, 20, 155, 70, 20, 16);
      canvas.Arc(40, 40, 120, 110, 120, 75, 80, 40);
    };
    draw();
    EXPECT_FALSE(SameBytes(canvas.Image(), before));
    draw();
    EXPECT_TRUE(SameBytes(canvas.Image(), before));
  }
}

TEST(Canvas, CopyAndXorModesCoverTheSamePixels) {
  // Black drawn in copy mode and white xor-ed onto white must give the same picture: the rubber
  // band a coach drags is exactly the figure that is then stored.
  struct Case { const char* name; int width; BrushStyle brush; std::function<void(Canvas&)> draw; };
  const Case cases[] = {
      {"wide polyline", 6, BrushStyle::Clear, [](Canvas& c) { c.Polyline({{5, 5}, {90, 40}, {20, 80}}); }},
      {"wide rectangle, solid", 5, BrushStyle::Solid, [](Canvas& c) { c.Rectangle(10, 10, 80, 70); }},
      {"thin ellipse, hatched", 1, BrushStyle::Cross, [](Canvas& c) { c.Ellipse(3, 8, 93, 77); }},
      {"wide ellipse, diagonal", 4, BrushStyle::BDiagonal, [](Canvas& c) { c.Ellipse(10, 10, 60, 90); }},
      {"round rectangle", 3, BrushStyle::FDiagonal, [](Canvas& c) { c.RoundRect(5, 5, 95, 60, 30, 20); }},
      {"arc", 2, BrushStyle::Clear, [](Canvas& c) { c.Arc(10, 10, 90, 90, 90, 50, 50, 10); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Canvas copy(100, 100), xored(100, 100);
    copy.Pen = {clBlack, c.width, PenStyle::Solid, PenMode::Copy};
    copy.Brush = {clBlack, c.brush};
    xored.Pen = {clWhite, c.width, PenStyle::Solid, PenMode::Xor};
    xored.Brush = {clWhite, c.brush};
    c.draw(copy);
    c.draw(xored);
    EXPECT_GT(CountColour(copy, clBlack, QRect(0, 0, 100, 100)), 50);
    EXPECT_TRUE(SameBytes(copy.Image(), xored.Image()));
  }
}

TEST(Canvas, XorBlockCopyTwiceRestoresThePicture) {
  Canvas canvas = Noise(200, 100, 11);
  const QImage before = canvas.Image().copy();
  Canvas box(60, 20);
  box.Font = {"DejaVu Sans", 10};
  box.TextOut(2, 2, "Sample Text");
  canvas.CopyMode = CopyMode::Xor;
  for (int pass = 0; pass < 2; ++pass) canvas.CopyRect(Bounds(150, 90, 60, 20), box, Rect(0, 0, 60, 20));  // runs off the edge
  EXPECT_TRUE(SameBytes(canvas.Image(), before));
  canvas.CopyMode = CopyMode::NotXor;
  canvas.Draw(30, 30, box.Image());
  EXPECT_FALSE(SameBytes(canvas.Image(), before));
  canvas.Draw(30, 30, box.Image());
  EXPECT_TRUE(SameBytes(canvas.Image(), before));
}

TEST(Canvas, ThinLinesLeaveOutTheirEndPointWideLinesHaveRoundEnds) {
  struct Case { const char* name; int width; QPoint from, to; std::vector<QPoint> pen, background; };
  const Case cases[] = {
      {"thin horizontal", 1, {10, 10}, {20, 10}, {{10, 10}, {19, 10}}, {{20, 10}, {9, 10}, {15, 11}}},
      {"thin vertical upwards", 1, {30, 40}, {30, 30}, {{30, 40}, {30, 31}}, {{30, 30}}},
      {"thin diagonal", 1, {0, 0}, {10, 10}, {{0, 0}, {5, 5}, {9, 9}}, {{10, 10}, {5, 6}}},
      {"thin single step draws nothing", 1, {50, 50}, {50, 50}, {}, {{50, 50}}},
      {"width 9 round caps", 9, {20, 60}, {60, 60}, {{60, 60}, {64, 60}, {16, 60}, {20, 64}, {40, 56}},
       {{66, 60}, {14, 60}, {40, 66}, {64, 64}}},
      {"width 2", 2, {10, 80}, {40, 80}, {{10, 80}, {40, 80}}, {{10, 83}, {44, 80}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Canvas canvas(100, 100);
    canvas.Pen.Color = clBlue;
    canvas.Pen.Width = c.width;
    canvas.MoveTo(c.from.x(), c.from.y());
    canvas.LineTo(c.to.x(), c.to.y());
    EXPECT_EQ(canvas.PenPos(), c.to);
    for (QPoint p : c.pen) EXPECT_EQ(canvas.Pixel(p.x(), p.y()), clBlue) << p.x() << "," << p.y();
    for (QPoint p : c.background) EXPECT_EQ(canvas.Pixel(p.x(), p.y()), clWhite) << p.x() << "," << p.y();
  }
}

TEST(Canvas, ThinPolylineInNotXorTogglesEachJointOnce) {
  Canvas canvas(50, 50);
  canvas.Pen = {clBlack, 1, PenStyle::Solid, PenMode::NotXor};  // black not-xor inverts
  canvas.Polyline({{10, 10}, {30, 10}, {30, 30}});
  EXPECT_EQ(canvas.Pixel(30, 10), clBlack);
  EXPECT_EQ(canvas.Pixel(20, 10), clBlack);
  EXPECT_EQ(canvas.Pixel(30, 29), clBlack);
  EXPECT_EQ(canvas.Pixel(30, 30), clWhite);
}

TEST(Canvas, DashedPenLeavesGapsAndClearPenDrawsNothing) {
  Canvas canvas(100, 20);
  canvas.Pen.Style = PenStyle::Dash;
  canvas.MoveTo(0, 5);
  canvas.LineTo(100, 5);
  EXPECT_EQ(canvas.Pixel(0, 5), clBlack);
  EXPECT_EQ(canvas.Pixel(17, 5), clBlack);
  EXPECT_EQ(canvas.Pixel(18, 5), clWhite);
  EXPECT_EQ(canvas.Pixel(24, 5), clBlack);
  canvas.Pen.Style = PenStyle::Clear;
  canvas.MoveTo(0, 10);
  canvas.LineTo(100, 10);
  EXPECT_EQ(CountColour(canvas, clBlack, QRect(0, 10, 100, 1)), 0);
}

TEST(Canvas, ShapesFillWithTheBrushAndOutlineWithThePen) {
  struct Case { BrushStyle style; std::vector<QPoint> hatch, gap; };
  // Hatches repeat every 8 canvas pixels.
  const Case cases[] = {
      {BrushStyle::Solid, {{12, 17}, {30, 30}}, {}},
      {BrushStyle::Clear, {}, {{12, 17}, {30, 30}}},
      {BrushStyle::Horizontal, {{12, 16}, {13, 24}}, {{12, 17}, {12, 23}}},
      {BrushStyle::Vertical, {{16, 12}, {24, 30}}, {{17, 12}, {23, 30}}},
      {BrushStyle::FDiagonal, {{10, 10}, {18, 10}, {11, 11}}, {{11, 10}, {10, 11}}},
      {BrushStyle::BDiagonal, {{9, 14}, {10, 13}}, {{10, 14}, {9, 13}}},
      {BrushStyle::Cross, {{16, 13}, {13, 16}}, {{13, 13}, {17, 17}}},
      {BrushStyle::DiagCross, {{10, 10}, {9, 14}}, {{11, 10}, {12, 14}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.style));
    Canvas canvas(50, 50);
    canvas.Pen.Color = clRed;
    canvas.Brush = {clGreen, c.style};
    canvas.Rectangle(4, 4, 36, 36);
    for (QPoint p : c.hatch) EXPECT_EQ(canvas.Pixel(p.x(), p.y()), clGreen) << p.x() << "," << p.y();
    for (QPoint p : c.gap) EXPECT_EQ(canvas.Pixel(p.x(), p.y()), clWhite) << p.x() << "," << p.y();
    // The outline runs along the first and last pixel inside the corners.
    EXPECT_EQ(canvas.Pixel(4, 20), clRed);
    EXPECT_EQ(canvas.Pixel(35, 20), clRed);
    EXPECT_EQ(canvas.Pixel(20, 35), clRed);
    EXPECT_EQ(canvas.Pixel(36, 20), clWhite);
    EXPECT_EQ(canvas.Pixel(3, 20), clWhite);
  }
}

TEST(Canvas, EllipseAndRoundRectStayInsideTheirCorners) {
  Canvas canvas(100, 100);
  canvas.Pen.Color = clRed;
  canvas.Brush.Color = clLime;
  canvas.Ellipse(10, 20, 90, 80);
  EXPECT_EQ(canvas.Pixel(50, 50), clLime);
  EXPECT_EQ(canvas.Pixel(10, 50), clRed);
  EXPECT_EQ(canvas.Pixel(50, 20), clRed);
  EXPECT_EQ(canvas.Pixel(12, 22), clWhite) << "corner of the bounding box";
  EXPECT_EQ(canvas.Pixel(91, 50), clWhite);

  Canvas round(100, 100);
  round.Pen.Color = clRed;
  round.Brush.Style = BrushStyle::Clear;
  round.RoundRect(10, 10, 90, 90, 40, 40);
  EXPECT_EQ(round.Pixel(50, 10), clRed);
  EXPECT_EQ(round.Pixel(10, 50), clRed);
  EXPECT_EQ(round.Pixel(11, 11), clWhite) << "the corner is rounded off";
}

TEST(Canvas, FillRectIgnoresThePenMode) {
  Canvas canvas(20, 20);
  canvas.Pen.Mode = PenMode::Xor;
  canvas.Brush.Color = clNavy;
  canvas.FillRect(Rect(2, 2, 10, 10));
  EXPECT_EQ(canvas.Pixel(2, 2), clNavy);
  EXPECT_EQ(canvas.Pixel(9, 9), clNavy);
  EXPECT_EQ(canvas.Pixel(10, 10), clWhite);
  EXPECT_EQ(CountColour(canvas, clNavy, QRect(0, 0, 20, 20)), 64);
}

TEST(Canvas, TextIsDrawnInTheFontColourInsideItsCell) {
  Canvas canvas(300, 80);
  canvas.Font = {"DejaVu Sans", 16, true, false, true, false, clPurple};
  canvas.Brush.Style = BrushStyle::Clear;
  const QString text = "Knee 42.5";
  const int w = canvas.TextWidth(text), h = canvas.TextHeight(text);
  ASSERT_GT(w, 40);
  ASSERT_GE(h, FontPixelSize(16));
  canvas.TextOut(20, 10, text);
  EXPECT_EQ(canvas.PenPos(), QPoint(20 + w, 10));
  EXPECT_GT(CountColour(canvas, clPurple, QRect(20, 10, w, h)), 20);
  int outside = 0;
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 300; ++x)
      if (!QRect(20, 10, w, h).contains(x, y) && canvas.Pixel(x, y) != clWhite) ++outside;
  EXPECT_EQ(outside, 0);

  // A solid brush fills the cell behind the text.
  canvas.Brush = {clYellow, BrushStyle::Solid};
  canvas.TextOut(20, 50, "i");
  EXPECT_EQ(canvas.Pixel(20, 50), clYellow);
}

TEST(Canvas, CopyRectStretchesAndMirrors) {
  Canvas source(4, 2);
  source.SetPixel(0, 0, clRed);
  source.SetPixel(3, 1, clBlue);

  Canvas canvas(20, 20);
  canvas.StretchDraw(Rect(0, 0, 8, 4), source);  // doubled
  EXPECT_EQ(canvas.Pixel(0, 0), clRed);
  EXPECT_EQ(canvas.Pixel(1, 1), clRed);
  EXPECT_EQ(canvas.Pixel(7, 3), clBlue);
  EXPECT_EQ(canvas.Pixel(5, 3), clWhite);

  canvas.CopyRect(Rect(14, 10, 10, 12), source, Rect(0, 0, 4, 2));  // right edge given first
  EXPECT_EQ(canvas.Pixel(13, 10), clRed);
  EXPECT_EQ(canvas.Pixel(10, 11), clBlue);

  // Smooth stretching blends neighbours; the default takes the nearest pixel.
  Canvas edge(2, 1);
  edge.SetPixel(0, 0, clBlack);
  Canvas sharp(20, 1), smooth(20, 1);
  smooth.SmoothStretch = true;
  sharp.StretchDraw(Rect(0, 0, 20, 1), edge);
  smooth.StretchDraw(Rect(0, 0, 20, 1), edge);
  EXPECT_EQ(CountColour(sharp, clBlack, QRect(0, 0, 20, 1)) + CountColour(sharp, clWhite, QRect(0, 0, 20, 1)), 20);
  EXPECT_LT(CountColour(smooth, clBlack, QRect(0, 0, 20, 1)) + CountColour(smooth, clWhite, QRect(0, 0, 20, 1)), 20);

  // Copying within one canvas reads the picture as it was before the copy.
  canvas.CopyRect(Rect(1, 0, 9, 4), canvas, Rect(0, 0, 8, 4));
  EXPECT_EQ(canvas.Pixel(1, 0), clRed);
  EXPECT_EQ(canvas.Pixel(2, 0), clRed);
  EXPECT_EQ(canvas.Pixel(8, 3), clBlue);
}

TEST(Canvas, PixelsSizeAndSystemColours) {
  Canvas canvas(10, 10);
  canvas.SetPixel(3, 4, 0x123456);
  EXPECT_EQ(canvas.Pixel(3, 4), 0x123456);
  EXPECT_EQ(canvas.Pixel(10, 0), -1);
  EXPECT_EQ(canvas.Pixel(-1, 0), -1);
  canvas.SetPixel(50, 50, clRed);  // ignored
  canvas.SetSize(20, 5);
  EXPECT_EQ(canvas.Image().format(), QImage::Format_RGB32);
  EXPECT_EQ(canvas.Pixel(3, 4), 0x123456);
  EXPECT_EQ(canvas.Pixel(15, 2), clWhite);
  canvas.SetPixel(0, 0, clBtnFace);
  EXPECT_EQ(canvas.Pixel(0, 0), FromQColor(ToQColor(clBtnFace)));

  // A line from far away costs no more than one across the picture and still shows its part.
  canvas.MoveTo(-2000000000, 2);
  canvas.LineTo(2000000000, 2);
  EXPECT_EQ(canvas.Pixel(10, 2), clBlack);
  canvas.Pen.Width = 3;
  canvas.MoveTo(5, -2000000000);
  canvas.LineTo(5, 2000000000);
  EXPECT_EQ(canvas.Pixel(5, 4), clBlack);

  Canvas empty;
  empty.LineTo(10, 10);
  empty.Rectangle(0, 0, 5, 5);
  empty.TextOut(0, 0, "x");
  EXPECT_EQ(empty.Width(), 0);
}

}  // namespace kestrom::ui
