#include "platform/ui/ShapeOverlay.h"

#include <QEvent>
#include <QPainter>
#include <algorithm>

namespace kestrom::ui {

void DrawShape(Canvas& canvas, const ShapeSnapshot& shape) {
  const int penWidth = std::max(0, shape.Pen.Width);
  int x = shape.Left, y = shape.Top;
  int w = shape.Width - penWidth + (penWidth != 0 ? 1 : 0);
  int h = shape.Height - penWidth + (penWidth != 0 ? 1 : 0);
  const int side = std::min(w, h);
  if (shape.Shape == stSquare || shape.Shape == stRoundSquare || shape.Shape == stCircle) {
    x += (w - side) / 2;
    y += (h - side) / 2;
    w = h = side;
  }
  const CanvasPen pen = canvas.Pen;
  const CanvasBrush brush = canvas.Brush;
  canvas.Pen = shape.Pen;
  canvas.Brush = shape.Brush;
  switch (shape.Shape) {
    case stRectangle:
    case stSquare: canvas.Rectangle(x, y, x + w, y + h); break;
    case stRoundRect:
    case stRoundSquare: canvas.RoundRect(x, y, x + w, y + h, side / 4, side / 4); break;
    case stEllipse:
    case stCircle: canvas.Ellipse(x, y, x + w, y + h); break;
  }
  canvas.Pen = pen;
  canvas.Brush = brush;
}

ShapeOverlay::ShapeOverlay(QWidget* parent) : QWidget(parent) {
  QWidget::resize(state_.Width, state_.Height);
  Publish();
}

void ShapeOverlay::SetShape(TShapeType shape) {
  state_.Shape = shape;
  Publish();
  update();
}

void ShapeOverlay::SetPen(const CanvasPen& pen) {
  state_.Pen = pen;
  Publish();
  update();
}

void ShapeOverlay::SetBrush(const CanvasBrush& brush) {
  state_.Brush = brush;
  Publish();
  update();
}

void ShapeOverlay::SetBounds(int left, int top, int width, int height) {
  setGeometry(left, top, std::max(0, width), std::max(0, height));
  Publish();
}

void ShapeOverlay::Publish() {
  state_.Left = x();
  state_.Top = y();
  state_.Width = width();
  state_.Height = height();
  state_.Enabled = isEnabled();
  published_.Publish(std::make_shared<const ShapeSnapshot>(state_));
}

void ShapeOverlay::paintEvent(QPaintEvent*) {
  Canvas canvas(width(), height());
  QPainter painter(this);
  // The form shows through outside the figure.
  canvas.Brush = {core::FromQColor(palette().window().color()), BrushStyle::Solid};
  canvas.FillRect(Rect(0, 0, width(), height()));
  ShapeSnapshot here = state_;
  here.Left = here.Top = 0;
  DrawShape(canvas, here);
  painter.drawImage(0, 0, canvas.Image());
}

void ShapeOverlay::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  Publish();
}

void ShapeOverlay::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Publish();
}

void ShapeOverlay::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::EnabledChange) Publish();
}

}  // namespace kestrom::ui
