#include "analysis/drawing/DrawingRenderer.h"

#include <cstdint>
#include <cstdlib>

namespace kestrom::drawing {

ui::BrushStyle ToCanvasBrush(annotation::BrushStyle style) {
  using S = annotation::BrushStyle;
  switch (style) {
    case S::Solid: return ui::BrushStyle::Solid;
    case S::Clear: return ui::BrushStyle::Clear;
    case S::Horizontal: return ui::BrushStyle::Horizontal;
    case S::Vertical: return ui::BrushStyle::Vertical;
    case S::FDiagonal: return ui::BrushStyle::FDiagonal;
    case S::BDiagonal: return ui::BrushStyle::BDiagonal;
    case S::Cross: return ui::BrushStyle::Cross;
    case S::DiagCross: return ui::BrushStyle::DiagCross;
  }
  return ui::BrushStyle::Clear;
}

ui::FontChoice FontOf(const TextItem& item) {
  ui::FontChoice f;
  f.name = item.fontName;
  f.size = item.fontSize;
  f.color = item.fontColour;
  // Only 1 switches a style on, as the files store it.
  f.bold = item.bold == 1;
  f.italic = item.italic == 1;
  f.underline = item.underline == 1;
  f.strikeOut = item.strikeOut == 1;
  return f;
}

void DrawingRenderer::RedrawOverlays(const TraceButtons& traces) {
  DrawFreehand();
  DrawShapes();
  DrawTextItems();
  DrawAngles();
  if (traces.crosses) DrawTraceCrosses();
  if (traces.figure) DrawTraceFigure();
  if (traces.smoothed) DrawSmoothedTrace();
  if (traces.singleFrames) DrawSingleFrames();
  DrawExtraOverlay();
  DrawFreehandGrid();
}

void DrawingRenderer::FreehandPass(int highlightStroke) {
  // Stored objects are always drawn in copy mode, whatever a rubber band left on the canvas.
  canvas_.Pen.Mode = ui::PenMode::Copy;
  canvas_.Pen.Style = ui::PenStyle::Solid;
  int stroke = 0;
  for (const auto& p : store_.FreehandPoints()) {
    if (p.code == 1) ++stroke;
    canvas_.Pen.Width = p.penWidth;
    canvas_.Pen.Color = (highlightStroke > 0 && stroke == highlightStroke) ? kHighlightColour : p.colour;
    const QPoint w = ToWindow(p.x, p.y);
    if (p.code == 1)
      canvas_.MoveTo(w.x(), w.y());
    else
      canvas_.LineTo(w.x(), w.y());
  }
}

void DrawingRenderer::DrawFreehand() { FreehandPass(0); }
void DrawingRenderer::DrawFreehandHighlighting(int stroke) { FreehandPass(stroke); }

void DrawingRenderer::DrawShapes() {
  canvas_.Pen.Style = ui::PenStyle::Solid;
  for (const ShapeRecord& s : store_.Shapes()) {
    canvas_.Pen.Color = s.penColour;
    canvas_.Pen.Width = s.penWidth;
    canvas_.Brush.Color = s.brushColour;
    canvas_.Brush.Style = ToCanvasBrush(s.brushStyle);
    DrawShape(ToWindow(s.x2, s.y2), ToWindow(s.x1, s.y1), ui::PenMode::Copy, s.kind);
  }
}

void DrawingRenderer::DrawShape(QPoint p, QPoint q, ui::PenMode mode, ShapeKind kind) {
  canvas_.Pen.Mode = mode;
  // A rubber band of no size draws nothing, so drawing and erasing it stay paired.
  if (mode != ui::PenMode::Copy && p == q) return;
  switch (kind) {
    case ShapeKind::Line:
      canvas_.MoveTo(p.x(), p.y());
      canvas_.LineTo(q.x(), q.y());
      break;
    case ShapeKind::Rectangle: canvas_.Rectangle(p.x(), p.y(), q.x(), q.y()); break;
    case ShapeKind::Ellipse: canvas_.Ellipse(p.x(), p.y(), q.x(), q.y()); break;
    case ShapeKind::RoundRectangle:
      // The corner ellipse is half the rectangle each way (integer halves, toward zero).
      // In 64 bits: corners far apart must not overflow; the halves fit an int again.
      canvas_.RoundRect(p.x(), p.y(), q.x(), q.y(), static_cast<int>((int64_t{p.x()} - q.x()) / 2),
                        static_cast<int>((int64_t{p.y()} - q.y()) / 2));
      break;
  }
}

void DrawingRenderer::DrawTextItems() {
  const ui::BrushStyle brush = canvas_.Brush.Style;
  const ui::FontChoice font = canvas_.Font;
  canvas_.Brush.Style = ui::BrushStyle::Clear;
  for (const TextItem& t : store_.TextItems()) {
    canvas_.Font = FontOf(t);
    const QPoint w = ToWindow(t.x, t.y);
    canvas_.TextOut(w.x(), w.y(), t.text);
  }
  canvas_.Brush.Style = brush;
  canvas_.Font = font;
}

void DrawingRenderer::DrawAngles() {
  canvas_.Pen.Mode = ui::PenMode::Copy;
  canvas_.Pen.Style = ui::PenStyle::Solid;
  for (const AngleRecord& a : store_.Angles()) {
    canvas_.Pen.Color = a.colour;
    canvas_.Pen.Width = a.penWidth;
    const QPoint first = ToWindow(a.x1, a.y1), vertex = ToWindow(a.x2, a.y2), third = ToWindow(a.x3, a.y3);
    canvas_.Polyline({first, vertex, third});
    canvas_.MoveTo(third.x(), third.y());
  }
}

void DrawingRenderer::DrawFreehandGrid() {
  const auto& g = store_.FreehandGridRecord();
  if (g.on < 1) return;
  canvas_.Pen.Color = g.penColour;
  canvas_.Pen.Width = g.penWidth;
  canvas_.Pen.Style = ui::PenStyle::Solid;
  DrawGridLines(ToWindow(g.x1, g.y1), ToWindow(g.x2, g.y2), ui::PenMode::Copy);
}

void DrawingRenderer::DrawGridLines(QPoint p, QPoint q, ui::PenMode mode) {
  // Positions in 64 bits, so no spacing or step can overflow whatever the points are.
  const int64_t dx = std::abs(int64_t{p.x()} - q.x());
  const int64_t dy = std::abs(int64_t{p.y()} - q.y());
  if (dx == 0 || dy == 0) return;
  const int64_t left = view_.ShowX(0), right = view_.ShowX(view_.FrameWidth());
  const int64_t top = view_.ShowY(0), bottom = view_.ShowY(view_.FrameHeight());
  DrawVerticalGridLine(p.x(), mode);
  DrawHorizontalGridLine(p.y(), mode);
  for (int64_t x = p.x() + dx; x < right; x += dx) DrawVerticalGridLine(static_cast<int>(x), mode);
  for (int64_t x = p.x() - dx; x > left; x -= dx) DrawVerticalGridLine(static_cast<int>(x), mode);
  for (int64_t y = p.y() + dy; y < bottom; y += dy) DrawHorizontalGridLine(static_cast<int>(y), mode);
  for (int64_t y = p.y() - dy; y > top; y -= dy) DrawHorizontalGridLine(static_cast<int>(y), mode);
}

void DrawingRenderer::DrawVerticalGridLine(int x, ui::PenMode mode) {
  canvas_.Pen.Mode = mode;
  canvas_.MoveTo(x, view_.ShowY(0));
  canvas_.LineTo(x, view_.ShowY(view_.FrameHeight()));
}

void DrawingRenderer::DrawHorizontalGridLine(int y, ui::PenMode mode) {
  canvas_.Pen.Mode = mode;
  canvas_.MoveTo(view_.ShowX(0), y);
  canvas_.LineTo(view_.ShowX(view_.FrameWidth()), y);
}

void DrawingRenderer::Circle(QPoint c) {
  const ui::CanvasBrush brush = canvas_.Brush;
  const int width = canvas_.Pen.Width;
  canvas_.Brush.Style = ui::BrushStyle::Clear;
  canvas_.Pen.Width = 1;
  canvas_.Ellipse(c.x() - 3, c.y() - 3, c.x() + 4, c.y() + 4);
  canvas_.Brush = brush;
  canvas_.Pen.Width = width;
}

void DrawingRenderer::HighlightLine(const ShapeRecord& line) {
  canvas_.Pen = {kHighlightColour, line.penWidth, ui::PenStyle::Solid, ui::PenMode::Copy};
  const QPoint a = ToWindow(line.x1, line.y1), b = ToWindow(line.x2, line.y2);
  DrawShape(a, b, ui::PenMode::Copy, ShapeKind::Line);
  Circle(a);
  Circle(b);
}

void DrawingRenderer::HighlightShape(const ShapeRecord& shape) {
  canvas_.Pen = {kHighlightColour, shape.penWidth, ui::PenStyle::Solid, ui::PenMode::Copy};
  canvas_.Brush.Color = shape.brushColour;
  canvas_.Brush.Style = ToCanvasBrush(shape.brushStyle);
  const QPoint a = ToWindow(shape.x1, shape.y1), b = ToWindow(shape.x2, shape.y2);
  DrawShape(b, a, ui::PenMode::Copy, shape.kind);
  for (const QPoint c : {a, b, QPoint(a.x(), b.y()), QPoint(b.x(), a.y())}) Circle(c);
}

void DrawingRenderer::HighlightAngle(const AngleRecord& angle) {
  canvas_.Pen = {kHighlightColour, angle.penWidth, ui::PenStyle::Solid, ui::PenMode::Copy};
  const QPoint first = ToWindow(angle.x1, angle.y1), vertex = ToWindow(angle.x2, angle.y2),
               third = ToWindow(angle.x3, angle.y3);
  canvas_.Polyline({first, vertex, third});
  for (const QPoint c : {first, vertex, third}) Circle(c);
}

void DrawingRenderer::HighlightText(const TextItem& item) {
  const ui::CanvasBrush brush = canvas_.Brush;
  const ui::FontChoice font = canvas_.Font;
  canvas_.Brush.Style = ui::BrushStyle::Clear;
  ui::FontChoice f;
  f.name = item.fontName;
  f.size = item.fontSize;
  f.bold = item.bold == 1;
  f.color = kHighlightColour;
  canvas_.Font = f;
  const QPoint w = ToWindow(item.x, item.y);
  canvas_.TextOut(w.x(), w.y(), item.text);
  canvas_.Brush = brush;
  canvas_.Font = font;
}

}  // namespace kestrom::drawing
