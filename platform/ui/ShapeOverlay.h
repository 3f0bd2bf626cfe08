#pragma once
// A shape control as a form places it (rectangle, square, rounded, ellipse, circle with a pen and
// a brush), which the capture component draws into video frames instead of showing it. The frames
// are drawn on a streaming thread that must never read a widget, so every change publishes a
// plain copy of the shape, which any thread may take.

#include "platform/core/Published.h"
#include "platform/ui/Canvas.h"

#include <QWidget>
#include <memory>

namespace kestrom::ui {

enum TShapeType { stRectangle, stSquare, stRoundRect, stRoundSquare, stEllipse, stCircle };

/** @brief A shape as drawn: kind, pen, brush, bounds on the form (or in the frame) and enabled. */
struct ShapeSnapshot {
  TShapeType Shape = stRectangle;
  CanvasPen Pen;
  CanvasBrush Brush;
  int Left = 0, Top = 0, Width = 65, Height = 65;
  bool Enabled = true;
  bool operator==(const ShapeSnapshot&) const = default;
};

/**
 * @brief Draws the shape with its pen and brush at its left and top, within its width and height
 * less the pen width (plus one for a visible pen); squares, rounded squares and circles take the
 * smaller side, centred. The canvas's pen and brush are restored afterwards.
 */
void DrawShape(Canvas& canvas, const ShapeSnapshot& shape);

class ShapeOverlay : public QWidget {
  Q_OBJECT

 public:
  explicit ShapeOverlay(QWidget* parent = nullptr);

  TShapeType Shape() const { return state_.Shape; }
  void SetShape(TShapeType shape);
  const CanvasPen& Pen() const { return state_.Pen; }
  void SetPen(const CanvasPen& pen);
  const CanvasBrush& Brush() const { return state_.Brush; }
  void SetBrush(const CanvasBrush& brush);
  /** @brief Moves and sizes the control; use this (not move or resize) while it is hidden, as
   *  a hidden widget reports no geometry change. */
  void SetBounds(int left, int top, int width, int height);

  /** @brief The copy published by the last change (any thread). */
  std::shared_ptr<const ShapeSnapshot> Snapshot() const { return published_.Current(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void Publish();

  ShapeSnapshot state_;
  core::Published<ShapeSnapshot> published_;
};

}  // namespace kestrom::ui
