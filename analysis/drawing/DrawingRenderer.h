#pragma once
// Paints a window's drawing store over the current frame. Stored positions are video pixels,
// turned into window pixels at every draw, so drawings follow zoom and scrolling; pen widths
// stay window pixels at every zoom step.

#include "analysis/annotation/DrawingStore.h"
#include "analysis/drawing/DrawingView.h"
#include "platform/ui/Canvas.h"

#include <QPoint>

namespace kestrom::drawing {

using annotation::AngleRecord;
using annotation::DrawingStore;
using annotation::ShapeKind;
using annotation::ShapeRecord;
using annotation::TextItem;

/** @brief The pure blue that pointer highlights are drawn in. */
inline constexpr core::TColor kHighlightColour = core::clBlue;

/** @brief Which trace display buttons are down (their drawing steps are hooks that draw nothing). */
struct TraceButtons {
  bool crosses = false;       // CrossSpeedButton
  bool figure = false;        // LineSpeedButton
  bool smoothed = false;      // CurveSpeedButton
  bool singleFrames = false;  // SingleFrameButton
};

/** @brief The canvas brush style a stored brush style stands for. */
ui::BrushStyle ToCanvasBrush(annotation::BrushStyle style);

/** @brief The font a text item is drawn in. */
ui::FontChoice FontOf(const TextItem& item);

class DrawingRenderer {
 public:
  DrawingRenderer(ui::Canvas& canvas, const DrawingStore& store, const DrawingView& view)
      : canvas_(canvas), store_(store), view_(view) {}

  /**
   * @brief The overlay part of the redraw pass: freehand, shapes, text, angles, the trace hooks
   * of the buttons that are down, the extra overlay, and the freehand grid over everything.
   */
  void RedrawOverlays(const TraceButtons& traces = {});

  /** @brief All freehand points; code 1 moves the pen, any other code draws to the point. */
  void DrawFreehand();
  /** @brief All freehand points, the given stroke (1-based) in the highlight colour. */
  void DrawFreehandHighlighting(int stroke);
  /** @brief All shapes in store order, each from its end corner to its start corner. */
  void DrawShapes();
  /** @brief One figure with the canvas's pen and brush in the given pen mode. */
  void DrawShape(QPoint p, QPoint q, ui::PenMode mode, ShapeKind kind);
  void DrawTextItems();
  void DrawAngles();
  /** @brief The freehand grid, when it is on. */
  void DrawFreehandGrid();
  /** @brief Grid lines spaced by p and q (window pixels) through p, across the whole picture. */
  void DrawGridLines(QPoint p, QPoint q, ui::PenMode mode);
  /** @brief A line at window x over the picture's height. */
  void DrawVerticalGridLine(int x, ui::PenMode mode);
  /** @brief A line at window y over the picture's width. */
  void DrawHorizontalGridLine(int y, ui::PenMode mode);

  // Steps of the redraw pass kept for the trace tools; they draw nothing.
  void DrawExtraOverlay() {}
  void DrawTraceCrosses() {}
  void DrawTraceFigure() {}
  void DrawSmoothedTrace() {}
  void DrawSingleFrames() {}

  // Pointer highlights: the object again in blue with small circles at its points.
  void HighlightLine(const ShapeRecord& line);
  void HighlightShape(const ShapeRecord& shape);
  void HighlightAngle(const AngleRecord& angle);
  void HighlightText(const TextItem& item);

  QPoint ToWindow(double x, double y) const { return {view_.ShowX(x), view_.ShowY(y)}; }

 private:
  void FreehandPass(int highlightStroke);
  void Circle(QPoint centre);

  ui::Canvas& canvas_;
  const DrawingStore& store_;
  const DrawingView& view_;
};

}  // namespace kestrom::drawing
