#include "platform/ui/Canvas.h"

#include <QFontMetrics>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <numbers>

namespace kestrom::ui {

namespace {

constexpr QRgb kOpaque = 0xFF000000u;

QRgb ToRgb(core::TColor c) { return core::ToQColor(c).rgb() | kOpaque; }

QRgb Combine(QRgb dst, QRgb src, PenMode mode) {
  switch (mode) {
    case PenMode::Copy: return src | kOpaque;
    case PenMode::Xor: return ((dst ^ src) & 0x00FFFFFFu) | kOpaque;
    case PenMode::NotXor: return (~(dst ^ src) & 0x00FFFFFFu) | kOpaque;
  }
  return src | kOpaque;
}

PenMode ModeOfCopy(CopyMode mode) {
  switch (mode) {
    case CopyMode::Copy: return PenMode::Copy;
    case CopyMode::Xor: return PenMode::Xor;
    case CopyMode::NotXor: return PenMode::NotXor;
  }
  return PenMode::Copy;
}

// Hatch lines repeat every 8 pixels and are anchored to the canvas, so neighbouring shapes
// line up.
bool HatchHit(BrushStyle style, int x, int y) {
  const int mx = x & 7, my = y & 7;
  switch (style) {
    case BrushStyle::Solid: return true;
    case BrushStyle::Clear: return false;
    case BrushStyle::Horizontal: return my == 0;
    case BrushStyle::Vertical: return mx == 0;
    case BrushStyle::FDiagonal: return ((mx - my) & 7) == 0;
    case BrushStyle::BDiagonal: return ((mx + my) & 7) == 7;
    case BrushStyle::Cross: return mx == 0 || my == 0;
    case BrushStyle::DiagCross: return ((mx - my) & 7) == 0 || ((mx + my) & 7) == 7;
  }
  return false;
}

// On/off run lengths of the thin pen styles.
const std::vector<int>& PatternOf(PenStyle style) {
  static const std::vector<int> solid{};
  static const std::vector<int> dash{18, 6};
  static const std::vector<int> dot{3, 3};
  static const std::vector<int> dashDot{9, 6, 3, 6};
  static const std::vector<int> dashDotDot{9, 3, 3, 3, 3, 3};
  switch (style) {
    case PenStyle::Dash: return dash;
    case PenStyle::Dot: return dot;
    case PenStyle::DashDot: return dashDot;
    case PenStyle::DashDotDot: return dashDotDot;
    default: return solid;
  }
}

bool PatternOn(const std::vector<int>& pattern, int step) {
  if (pattern.empty()) return true;
  int period = 0;
  for (int run : pattern) period += run;
  int pos = step % period;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pos < pattern[i]) return i % 2 == 0;
    pos -= pattern[i];
  }
  return true;
}

// Figures are drawn from coordinates within this distance of the origin: far beyond any picture,
// yet small enough that sizes and pen margins stay within int and the painter's fixed point.
constexpr int kFarCoordinate = 1 << 20;
// Wider pens cover any picture anyway.
constexpr int kWidestPen = 4096;

int Far(int v) { return std::clamp(v, -kFarCoordinate, kFarCoordinate); }

// A coordinate moved into a frame view's scratch picture, kept within int.
int64_t Shifted(int64_t v, int by) { return std::clamp<int64_t>(v - by, INT32_MIN, INT32_MAX); }

QRect Normalised(int x1, int y1, int x2, int y2) {
  x1 = Far(x1), y1 = Far(y1), x2 = Far(x2), y2 = Far(y2);
  return QRect(QPoint(std::min(x1, x2), std::min(y1, y2)), QPoint(std::max(x1, x2) - 1, std::max(y1, y2) - 1));
}

}  // namespace

// What one xor drawing call covers, per pixel of its bounding box: 0 nothing, 1 brush, 2 pen.
// Each pixel is then changed once, which is what makes xor and not-xor figures undo themselves.
struct Canvas::Mask {
  QRect area;
  QImage bits;  // Format_Grayscale8 over area

  explicit Mask(const QRect& a) : area(a) {
    if (!area.isEmpty()) {
      bits = QImage(area.size(), QImage::Format_Grayscale8);
      bits.fill(0);
    }
  }
  bool Empty() const { return bits.isNull(); }
  // Rasterises what draw paints (aliased) with the given grey level; pen (2) paints over brush (1).
  void Paint(uint8_t value, const std::function<void(QPainter&)>& draw, const QPen& pen, bool fill) {
    if (Empty()) return;
    QPainter p(&bits);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.translate(-area.left(), -area.top());
    const QColor level(value, value, value);
    if (fill) {
      p.setPen(Qt::NoPen);
      p.setBrush(level);
    } else {
      QPen coloured = pen;
      coloured.setColor(level);
      p.setPen(coloured);
      p.setBrush(Qt::NoBrush);
    }
    draw(p);
  }
};

namespace {

// The pen that rasterises an outline: thin pens keep their style, wide ones are solid with
// round ends and joins.
QPen ShapePen(const CanvasPen& pen, const QColor& colour) {
  QPen q(colour, std::clamp(pen.Width, 1, kWidestPen), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  if (pen.Width <= 1 && pen.Style != PenStyle::Solid) {
    QList<qreal> dashes;
    for (int run : PatternOf(pen.Style)) dashes << run;
    q.setCapStyle(Qt::FlatCap);
    q.setDashPattern(dashes);
  }
  return q;
}

// The brush as Qt paints it in copy mode: a hatch is an 8x8 texture anchored at the canvas
// origin, with the same pixels HatchHit gives.
QBrush FillBrush(const CanvasBrush& brush) {
  const QColor colour = core::ToQColor(brush.Color);
  if (brush.Style == BrushStyle::Solid) return QBrush(colour);
  QImage tile(8, 8, QImage::Format_ARGB32);
  tile.fill(Qt::transparent);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      if (HatchHit(brush.Style, x, y)) tile.setPixel(x, y, colour.rgb() | kOpaque);
  return QBrush(tile);
}

QRect Grown(const QRect& r, int penWidth) {
  const int margin = std::clamp(penWidth, 1, kWidestPen) / 2 + 2;
  return r.adjusted(-margin, -margin, margin, margin);
}

}  // namespace

Canvas::Canvas(int width, int height)
    : image_(std::max(0, width), std::max(0, height), QImage::Format_RGB32) {
  image_.fill(Qt::white);
}

Canvas::Canvas(const QImage& picture) : image_(picture.convertToFormat(QImage::Format_RGB32)) {}

void Canvas::SetSize(int width, int height) {
  if (view_ || (width == Width() && height == Height())) return;
  QImage resized(std::max(0, width), std::max(0, height), QImage::Format_RGB32);
  resized.fill(Qt::white);
  if (!image_.isNull() && !resized.isNull()) {
    QPainter p(&resized);
    p.drawImage(0, 0, image_);
  }
  image_ = std::move(resized);
}

namespace {

// Cuts a segment to a rectangle (Liang-Barsky); false when nothing of it is inside.
bool ClipSegment(QPoint& a, QPoint& b, const QRect& r) {
  const double x0 = a.x(), y0 = a.y(), dx = double(b.x()) - x0, dy = double(b.y()) - y0;
  double t0 = 0, t1 = 1;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {x0 - r.left(), r.right() - x0, y0 - r.top(), r.bottom() - y0};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0) return false;
    } else {
      const double t = q[i] / p[i];
      if (p[i] < 0) t0 = std::max(t0, t); else t1 = std::min(t1, t);
    }
  }
  if (t0 > t1) return false;
  const QPoint from(int(std::lround(x0 + t0 * dx)), int(std::lround(y0 + t0 * dy)));
  const QPoint to(int(std::lround(x0 + t1 * dx)), int(std::lround(y0 + t1 * dy)));
  a = from;
  b = to;
  return true;
}

}  // namespace

void Canvas::ThinLine(QPoint a, QPoint b, int& patternStep) {
  // A line reaching far beyond the picture (a damaged drawing file, say) is cut first, so it
  // costs no more than one across the picture; lines near the picture keep their exact pixels.
  constexpr int kFar = 1 << 14;
  const QRect near = image_.rect().adjusted(-kFar, -kFar, kFar, kFar);
  if ((!near.contains(a) || !near.contains(b)) && !ClipSegment(a, b, near)) return;
  const std::vector<int>& pattern = PatternOf(Pen.Style);
  const QRgb pen = ToRgb(Pen.Color);
  const QRect bounds = image_.rect();
  int x = a.x(), y = a.y();
  const int dx = std::abs(b.x() - x), dy = -std::abs(b.y() - y);
  const int sx = x < b.x() ? 1 : -1, sy = y < b.y() ? 1 : -1;
  int err = dx + dy;
  // The end pixel is left out, so joined segments and repeated xor lines meet without overlap.
  while (x != b.x() || y != b.y()) {
    if (bounds.contains(x, y) && PatternOn(pattern, patternStep)) {
      QRgb& px = reinterpret_cast<QRgb*>(image_.scanLine(y))[x];
      px = Combine(px, pen, Pen.Mode);
    }
    ++patternStep;
    const int e2 = 2 * err;
    if (e2 >= dy) { err += dy; x += sx; }
    if (e2 <= dx) { err += dx; y += sy; }
  }
}

void Canvas::FillArea(const QRect& area) {
  const QRect c = area.intersected(image_.rect());
  if (c.isEmpty() || Brush.Style == BrushStyle::Clear) return;
  const QRgb brush = ToRgb(Brush.Color);
  for (int y = c.top(); y <= c.bottom(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(image_.scanLine(y));
    for (int x = c.left(); x <= c.right(); ++x)
      if (HatchHit(Brush.Style, x, y)) row[x] = Combine(row[x], brush, Pen.Mode);
  }
}

void Canvas::Figure(const QRect& bounds, const std::function<void(QPainter&)>& fillShape,
                    const std::function<void(QPainter&)>& outlineShape) {
  const bool fill = fillShape && Brush.Style != BrushStyle::Clear;
  const bool outline = outlineShape && Pen.Style != PenStyle::Clear;
  if ((!fill && !outline) || image_.isNull()) return;
  if (Pen.Mode == PenMode::Copy) {
    QPainter p(&image_);
    p.setRenderHint(QPainter::Antialiasing, false);
    if (fill) {
      p.setPen(Qt::NoPen);
      p.setBrush(FillBrush(Brush));
      fillShape(p);
    }
    if (outline) {
      p.setPen(ShapePen(Pen, core::ToQColor(Pen.Color)));
      p.setBrush(Qt::NoBrush);
      outlineShape(p);
    }
    return;
  }
  Mask mask(Grown(bounds, Pen.Width).intersected(image_.rect()));
  if (fill) mask.Paint(1, fillShape, QPen(), true);
  if (outline) mask.Paint(2, outlineShape, ShapePen(Pen, Qt::white), false);
  ApplyMask(mask);
}

void Canvas::ApplyMask(const Mask& mask) {
  if (mask.Empty()) return;
  const QRgb pen = ToRgb(Pen.Color);
  const QRgb brush = ToRgb(Brush.Color);
  for (int y = mask.area.top(); y <= mask.area.bottom(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(image_.scanLine(y));
    const uchar* bits = mask.bits.constScanLine(y - mask.area.top());
    for (int i = 0; i < mask.area.width(); ++i) {
      if (!bits[i]) continue;
      const int x = mask.area.left() + i;
      if (bits[i] == 2) {
        row[x] = Combine(row[x], pen, Pen.Mode);
      } else if (HatchHit(Brush.Style, x, y)) {
        row[x] = Combine(row[x], brush, Pen.Mode);
      }
    }
  }
}

void Canvas::LineTo(int x, int y) {
  Polyline({penPos_, QPoint(x, y)});
  penPos_ = {x, y};
}

void Canvas::Polyline(const std::vector<QPoint>& points) {
  if (points.size() < 2 || Pen.Style == PenStyle::Clear) return;
  if (view_) {
    QRect box(QPoint(Far(points.front().x()), Far(points.front().y())), QSize(1, 1));
    for (const QPoint& p : points) box |= QRect(QPoint(Far(p.x()), Far(p.y())), QSize(1, 1));
    ThroughScratch(Grown(box, Pen.Width), [&](Canvas& c, QPoint o) {
      std::vector<QPoint> moved;
      moved.reserve(points.size());
      for (const QPoint& p : points) moved.emplace_back(int(Shifted(p.x(), o.x())), int(Shifted(p.y(), o.y())));
      c.Polyline(moved);
    });
    return;
  }
  if (Pen.Width <= 1) {
    int step = 0;
    for (std::size_t i = 1; i < points.size(); ++i) ThinLine(points[i - 1], points[i], step);
    return;
  }
  const QRect far(-kFarCoordinate, -kFarCoordinate, 2 * kFarCoordinate, 2 * kFarCoordinate);
  if (!std::all_of(points.begin(), points.end(), [&](QPoint p) { return far.contains(p); })) {
    // Cut each segment to the far square; with round ends and joins the pieces meet as before.
    for (std::size_t i = 1; i < points.size(); ++i) {
      QPoint a = points[i - 1], b = points[i];
      if (ClipSegment(a, b, far)) Polyline({a, b});
    }
    return;
  }
  QRect box(points.front(), points.front());
  for (const QPoint& p : points) box |= QRect(p, p);
  Figure(box, nullptr, [&](QPainter& p) {
    if (points.size() == 2) {
      p.drawLine(QPointF(points[0]) + QPointF(0.5, 0.5), QPointF(points[1]) + QPointF(0.5, 0.5));
      return;
    }
    QPainterPath path(QPointF(points.front()) + QPointF(0.5, 0.5));
    for (std::size_t i = 1; i < points.size(); ++i) path.lineTo(QPointF(points[i]) + QPointF(0.5, 0.5));
    p.drawPath(path);
  });
}

void Canvas::Rectangle(int x1, int y1, int x2, int y2) {
  if (view_) {
    x1 = Far(x1), y1 = Far(y1), x2 = Far(x2), y2 = Far(y2);
    ThroughScratch(Grown(Normalised(x1, y1, x2, y2), Pen.Width), [&](Canvas& c, QPoint o) {
      c.Rectangle(x1 - o.x(), y1 - o.y(), x2 - o.x(), y2 - o.y());
    });
    return;
  }
  const QRect r = Normalised(x1, y1, x2, y2);  // last pixel inside
  if (r.isEmpty()) return;
  const bool pen = Pen.Style != PenStyle::Clear;
  if (!pen || Pen.Width <= 1) {
    // Without a pen the filled area is one pixel smaller, as the platform draws it.
    if (!pen) {
      FillArea(r.adjusted(0, 0, -1, -1));
      return;
    }
    FillArea(r.adjusted(1, 1, -1, -1));
    int step = 0;
    if (r.width() <= 2 || r.height() <= 2) {
      // Too small for an inside: every pixel is border, plotted once each.
      for (int y = r.top(); y <= r.bottom(); ++y) ThinLine({r.left(), y}, {r.right() + 1, y}, step);
      return;
    }
    ThinLine(r.topLeft(), r.topRight(), step);
    ThinLine(r.topRight(), r.bottomRight(), step);
    ThinLine(r.bottomRight(), r.bottomLeft(), step);
    ThinLine(r.bottomLeft(), r.topLeft(), step);
    return;
  }
  Figure(r, [&](QPainter& p) { p.drawRect(r); },
         [&](QPainter& p) { p.drawRect(QRectF(r.left() + 0.5, r.top() + 0.5, r.width() - 1, r.height() - 1)); });
}

void Canvas::Ellipse(int x1, int y1, int x2, int y2) {
  if (view_) {
    x1 = Far(x1), y1 = Far(y1), x2 = Far(x2), y2 = Far(y2);
    ThroughScratch(Grown(Normalised(x1, y1, x2, y2), Pen.Width), [&](Canvas& c, QPoint o) {
      c.Ellipse(x1 - o.x(), y1 - o.y(), x2 - o.x(), y2 - o.y());
    });
    return;
  }
  const QRect r = Normalised(x1, y1, x2, y2);
  if (r.isEmpty()) return;
  const QRectF outline(r.left() + 0.5, r.top() + 0.5, r.width() - 1, r.height() - 1);
  auto shape = [&](QPainter& p) { p.drawEllipse(outline); };
  Figure(r, shape, shape);
}

void Canvas::RoundRect(int x1, int y1, int x2, int y2, int w, int h) {
  if (view_) {
    x1 = Far(x1), y1 = Far(y1), x2 = Far(x2), y2 = Far(y2);
    ThroughScratch(Grown(Normalised(x1, y1, x2, y2), Pen.Width), [&](Canvas& c, QPoint o) {
      c.RoundRect(x1 - o.x(), y1 - o.y(), x2 - o.x(), y2 - o.y(), w, h);
    });
    return;
  }
  const QRect r = Normalised(x1, y1, x2, y2);
  if (r.isEmpty()) return;
  const qreal rx = std::min<qreal>(std::abs(static_cast<qreal>(w)) / 2.0, r.width() / 2.0);
  const qreal ry = std::min<qreal>(std::abs(static_cast<qreal>(h)) / 2.0, r.height() / 2.0);
  const QRectF outline(r.left() + 0.5, r.top() + 0.5, r.width() - 1, r.height() - 1);
  auto shape = [&](QPainter& p) { p.drawRoundedRect(outline, rx, ry); };
  Figure(r, shape, shape);
}

void Canvas::Arc(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4) {
  if (view_) {
    x1 = Far(x1), y1 = Far(y1), x2 = Far(x2), y2 = Far(y2);
    ThroughScratch(Grown(Normalised(x1, y1, x2, y2), Pen.Width), [&](Canvas& c, QPoint o) {
      c.Arc(x1 - o.x(), y1 - o.y(), x2 - o.x(), y2 - o.y(), x3 - o.x(), y3 - o.y(), x4 - o.x(), y4 - o.y());
    });
    return;
  }
  const QRect r = Normalised(x1, y1, x2, y2);
  if (r.isEmpty()) return;
  const QRectF outline(r.left() + 0.5, r.top() + 0.5, r.width() - 1, r.height() - 1);
  const QPointF c = outline.center();
  // Angles counter-clockwise on the screen, with y pointing down.
  auto angleOf = [&](int x, int y) {
    return std::atan2(-(y + 0.5 - c.y()), x + 0.5 - c.x()) * 180.0 / std::numbers::pi;
  };
  const double start = angleOf(x3, y3);
  double span = angleOf(x4, y4) - start;
  while (span <= 0) span += 360.0;
  Figure(r, nullptr, [&](QPainter& p) {
    p.drawArc(outline, static_cast<int>(std::lround(start * 16)), static_cast<int>(std::lround(span * 16)));
  });
}

void Canvas::FillRect(const TRect& r) {
  if (view_) {
    const QRect area = Normalised(r.Left, r.Top, r.Right, r.Bottom);
    ThroughScratch(area, [&](Canvas& c, QPoint o) { c.FillRect(Bounds(area.left() - o.x(), area.top() - o.y(), area.width(), area.height())); });
    return;
  }
  const QRect area = Normalised(r.Left, r.Top, r.Right, r.Bottom).intersected(image_.rect());
  if (area.isEmpty() || Brush.Style == BrushStyle::Clear) return;
  const QRgb brush = ToRgb(Brush.Color);
  for (int y = area.top(); y <= area.bottom(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(image_.scanLine(y));
    for (int x = area.left(); x <= area.right(); ++x)
      if (HatchHit(Brush.Style, x, y)) row[x] = brush;
  }
}

void Canvas::FrameRect(const TRect& r) {
  if (view_) {
    const QRect area = Normalised(r.Left, r.Top, r.Right, r.Bottom);
    ThroughScratch(area, [&](Canvas& c, QPoint o) { c.FrameRect(Bounds(area.left() - o.x(), area.top() - o.y(), area.width(), area.height())); });
    return;
  }
  const QRect f = Normalised(r.Left, r.Top, r.Right, r.Bottom);
  if (f.isEmpty()) return;
  const QRgb brush = ToRgb(Brush.Color);
  auto put = [&](int x, int y) {
    if (image_.rect().contains(x, y)) reinterpret_cast<QRgb*>(image_.scanLine(y))[x] = brush;
  };
  for (int x = f.left(); x <= f.right(); ++x) { put(x, f.top()); put(x, f.bottom()); }
  for (int y = f.top(); y <= f.bottom(); ++y) { put(f.left(), y); put(f.right(), y); }
}

void Canvas::TextOut(int x, int y, const QString& text) {
  x = Far(x), y = Far(y);
  const QFont font = ToQFont(Font);
  const QFontMetrics metrics(font);
  const int width = metrics.horizontalAdvance(text);
  if (view_ && !text.isEmpty()) {
    const int margin = metrics.height();
    ThroughScratch(QRect(x - margin, y - margin, width + 2 * margin, metrics.height() + 2 * margin),
                   [&](Canvas& c, QPoint o) { c.TextOut(x - o.x(), y - o.y(), text); });
  } else if (!image_.isNull() && !text.isEmpty()) {
    QPainter p(&image_);
    if (Brush.Style == BrushStyle::Solid) p.fillRect(QRect(x, y, width, metrics.height()), core::ToQColor(Brush.Color));
    p.setFont(font);
    p.setPen(core::ToQColor(Font.color));
    p.drawText(QPoint(x, y + metrics.ascent()), text);
  }
  penPos_ = {x + width, y};
}

int Canvas::TextWidth(const QString& text) const { return QFontMetrics(ToQFont(Font)).horizontalAdvance(text); }

int Canvas::TextHeight(const QString& text) const {
  Q_UNUSED(text);
  return QFontMetrics(ToQFont(Font)).height();
}

void Canvas::CopyRect(const TRect& dest, const Canvas& source, const TRect& sourceRect) {
  CopyBlock(dest, source.view_ ? source.Picture() : source.image_, sourceRect, CopyMode);
}

void Canvas::CopyRect(const TRect& dest, const QImage& source, const TRect& sourceRect) {
  CopyBlock(dest, source, sourceRect, CopyMode);
}

void Canvas::StretchDraw(const TRect& dest, const QImage& picture) {
  CopyBlock(dest, picture, Rect(0, 0, picture.width(), picture.height()), CopyMode);
}

void Canvas::Draw(int x, int y, const QImage& picture) {
  CopyBlock(Bounds(x, y, picture.width(), picture.height()), picture,
            Rect(0, 0, picture.width(), picture.height()), CopyMode);
}

void Canvas::CopyBlock(const TRect& dest, const QImage& source, const TRect& sourceRect, ui::CopyMode mode) {
  if (dest.Width() == 0 || dest.Height() == 0 || sourceRect.Width() == 0 || sourceRect.Height() == 0) return;
  if (view_) {
    const QRect area = Normalised(dest.Left, dest.Top, dest.Right, dest.Bottom);
    ThroughScratch(area, [&](Canvas& c, QPoint o) {
      const TRect moved{dest.Left - o.x(), dest.Top - o.y(), dest.Right - o.x(), dest.Bottom - o.y()};
      c.CopyBlock(moved, source, sourceRect, mode);
    });
    return;
  }
  if (source.isNull() || image_.isNull()) return;
  const bool flipX = (dest.Width() < 0) != (sourceRect.Width() < 0);
  const bool flipY = (dest.Height() < 0) != (sourceRect.Height() < 0);
  const QRect d = Normalised(dest.Left, dest.Top, dest.Right, dest.Bottom);
  const QRect s = Normalised(sourceRect.Left, sourceRect.Top, sourceRect.Right, sourceRect.Bottom);
  const QRect clipped = d.intersected(image_.rect());
  if (clipped.isEmpty()) return;

  // A copy of the source rectangle, so copying within one canvas reads the picture as it was.
  const QImage src = source.copy(s).convertToFormat(QImage::Format_RGB32);

  if (SmoothStretch && mode == ui::CopyMode::Copy && !flipX && !flipY && d.size() != s.size()) {
    QPainter p(&image_);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    p.drawImage(d, src.scaled(d.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    return;
  }
  // Nearest source pixel for each destination pixel, as the platform stretches by default;
  // beyond the source's edge the copy reads black.
  const PenMode op = ModeOfCopy(mode);
  std::vector<int> columns(static_cast<std::size_t>(clipped.width()));
  for (int x = clipped.left(); x <= clipped.right(); ++x) {
    int sx = static_cast<int>((static_cast<int64_t>(x - d.left()) * s.width()) / d.width());
    columns[static_cast<std::size_t>(x - clipped.left())] = flipX ? s.width() - 1 - sx : sx;
  }
  for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
    int sy = static_cast<int>((static_cast<int64_t>(y - d.top()) * s.height()) / d.height());
    if (flipY) sy = s.height() - 1 - sy;
    const auto* srcRow = reinterpret_cast<const QRgb*>(src.constScanLine(sy));
    auto* row = reinterpret_cast<QRgb*>(image_.scanLine(y)) + clipped.left();
    for (std::size_t i = 0; i < columns.size(); ++i) row[i] = Combine(row[i], srcRow[columns[i]] | kOpaque, op);
  }
}

// ---- Frame views ----

namespace {

// The colours of the 16-bit layouts widened to 8 bits a channel, so that writing a pixel back
// unchanged gives the same bits.
QRgb From565(uint16_t v) {
  const int r = (v >> 11) & 31, g = (v >> 5) & 63, b = v & 31;
  return qRgb((r << 3) | (r >> 2), (g << 2) | (g >> 4), (b << 3) | (b >> 2));
}
QRgb From555(uint16_t v) {
  const int r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
  return qRgb((r << 3) | (r >> 2), (g << 3) | (g >> 2), (b << 3) | (b >> 2));
}
uint16_t To565(QRgb c) { return uint16_t(((qRed(c) >> 3) << 11) | ((qGreen(c) >> 2) << 5) | (qBlue(c) >> 3)); }
uint16_t To555(QRgb c) { return uint16_t(((qRed(c) >> 3) << 10) | ((qGreen(c) >> 3) << 5) | (qBlue(c) >> 3)); }

int NearestIndex(const core::FrameBits& frame, QRgb c, QHash<QRgb, int>& cache) {
  const auto hit = cache.constFind(c);
  if (hit != cache.constEnd()) return *hit;
  int best = 0;
  int bestDistance = INT32_MAX;
  for (int i = 0; i < frame.PaletteSize; ++i) {
    const QRgb p = frame.Palette[i];
    const int dr = qRed(p) - qRed(c), dg = qGreen(p) - qGreen(c), db = qBlue(p) - qBlue(c);
    const int distance = dr * dr + dg * dg + db * db;
    if (distance < bestDistance) {
      best = i;
      bestDistance = distance;
    }
  }
  cache.insert(c, best);
  return best;
}

}  // namespace

Canvas Canvas::OverFrame(const core::FrameBits& frame) {
  Canvas canvas;
  if (!frame.Valid()) return canvas;
  canvas.image_ = QImage();
  canvas.view_ = true;
  canvas.frame_ = frame;
  return canvas;
}

QImage Canvas::Picture() const {
  if (!view_) return image_;
  QImage picture(Width(), Height(), QImage::Format_RGB32);
  if (!picture.isNull()) ReadFrame(picture.rect(), picture);
  return picture;
}

void Canvas::ReadFrame(const QRect& area, QImage& into) const {
  const int bpp = frame_.BytesPerPixel();
  for (int y = area.top(); y <= area.bottom(); ++y) {
    const uchar* p = frame_.Row(y) + qsizetype(area.left()) * bpp;
    auto* out = reinterpret_cast<QRgb*>(into.scanLine(y - area.top()));
    for (int i = 0; i < area.width(); ++i, p += bpp) {
      switch (frame_.Format) {
        case core::FramePixels::Rgb32:
        case core::FramePixels::Rgb24: out[i] = qRgb(p[2], p[1], p[0]); break;
        case core::FramePixels::Rgb565: out[i] = From565(uint16_t(p[0] | (p[1] << 8))); break;
        case core::FramePixels::Rgb555: out[i] = From555(uint16_t(p[0] | (p[1] << 8))); break;
        case core::FramePixels::Rgb8:
          out[i] = p[0] < frame_.PaletteSize ? (frame_.Palette[p[0]] | kOpaque) : kOpaque;
          break;
      }
    }
  }
}

void Canvas::WriteFrame(const QRect& area, const QImage& from, const QImage& before) {
  const int bpp = frame_.BytesPerPixel();
  QHash<QRgb, int> nearest;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    uchar* p = frame_.Row(y) + qsizetype(area.left()) * bpp;
    const auto* in = reinterpret_cast<const QRgb*>(from.constScanLine(y - area.top()));
    for (int i = 0; i < area.width(); ++i, p += bpp) {
      const QRgb c = in[i];
      switch (frame_.Format) {
        case core::FramePixels::Rgb32:  // the fourth byte is the frame's own
        case core::FramePixels::Rgb24:
          p[0] = uchar(qBlue(c));
          p[1] = uchar(qGreen(c));
          p[2] = uchar(qRed(c));
          break;
        case core::FramePixels::Rgb565: {
          const uint16_t v = To565(c);
          p[0] = uchar(v);
          p[1] = uchar(v >> 8);
          break;
        }
        case core::FramePixels::Rgb555: {
          const uint16_t v = uint16_t(To555(c) | ((p[0] | (p[1] << 8)) & 0x8000));
          p[0] = uchar(v);
          p[1] = uchar(v >> 8);
          break;
        }
        case core::FramePixels::Rgb8:
          // Only drawn pixels change: a table may hold one colour twice.
          if (c != reinterpret_cast<const QRgb*>(before.constScanLine(y - area.top()))[i])
            p[0] = uchar(NearestIndex(frame_, c, nearest));
          break;
      }
    }
  }
}

void Canvas::ThroughScratch(QRect area, const std::function<void(Canvas& scratch, QPoint origin)>& draw) {
  area = area.intersected(QRect(0, 0, Width(), Height()));
  if (area.isEmpty()) return;
  // Hatches are anchored at the canvas origin: keep the scratch on the same 8-pixel grid.
  area.setLeft(area.left() & ~7);
  area.setTop(area.top() & ~7);
  Canvas scratch;
  scratch.image_ = QImage(area.size(), QImage::Format_RGB32);
  if (scratch.image_.isNull()) return;
  ReadFrame(area, scratch.image_);
  const QImage before = frame_.Format == core::FramePixels::Rgb8 ? scratch.image_.copy() : QImage();
  scratch.Pen = Pen;
  scratch.Brush = Brush;
  scratch.Font = Font;
  scratch.CopyMode = CopyMode;
  scratch.SmoothStretch = SmoothStretch;
  scratch.penPos_ = penPos_ - area.topLeft();
  draw(scratch, area.topLeft());
  WriteFrame(area, scratch.image_, before);
}

std::vector<Canvas::TextLine> Canvas::LayOutText(const TRect& rect, const QString& text, const TextFormat& format) const {
  const QFontMetrics metrics(ToQFont(Font));
  const int left = Far(std::min(rect.Left, rect.Right)), right = Far(std::max(rect.Left, rect.Right));
  const int width = right - left;
  std::vector<QString> lines;
  auto addParagraph = [&](const QString& paragraph) {
    if (!format.WordBreak || metrics.horizontalAdvance(paragraph) <= width) {
      lines.push_back(paragraph);
      return;
    }
    const QStringList words = paragraph.split(QLatin1Char(' '));
    QString line = words.front();
    for (qsizetype i = 1; i < words.size(); ++i) {
      const QString longer = line + QLatin1Char(' ') + words[i];
      if (!line.isEmpty() && metrics.horizontalAdvance(longer) > width) {
        lines.push_back(line);
        line = words[i];
      } else {
        line = longer;
      }
    }
    lines.push_back(line);
  };
  qsizetype start = 0;
  for (qsizetype i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != QLatin1Char('\r') && text[i] != QLatin1Char('\n')) continue;
    addParagraph(text.mid(start, i - start));
    if (i + 1 < text.size() && text[i] == QLatin1Char('\r') && text[i + 1] == QLatin1Char('\n')) ++i;
    start = i + 1;
  }
  std::vector<TextLine> laid;
  int y = Far(std::min(rect.Top, rect.Bottom));
  for (const QString& line : lines) {
    const int lineWidth = metrics.horizontalAdvance(line);
    int x = left;
    if (format.Align == TextAlign::Center) x = left + (width - lineWidth) / 2;
    if (format.Align == TextAlign::Right) x = right - lineWidth;
    laid.push_back({line, QRect(x, y, lineWidth, metrics.height())});
    y += metrics.height();
  }
  return laid;
}

int Canvas::DrawText(const TRect& rect, const QString& text, const TextFormat& format) {
  const std::vector<TextLine> lines = LayOutText(rect, text, format);
  const QFont font = ToQFont(Font);
  const QFontMetrics metrics(font);
  const QRect box = Normalised(rect.Left, rect.Top, rect.Right, rect.Bottom);
  QRect touched;
  for (const TextLine& line : lines) touched |= line.cell;
  // Glyphs may reach a little past their cells (italics, accents).
  touched.adjust(-metrics.height(), -metrics.height() / 2, metrics.height(), metrics.height() / 2);
  if (!format.NoClip) touched &= box;
  auto paint = [&](QImage& target, QPoint origin) {
    QPainter p(&target);
    p.translate(-origin);
    if (!format.NoClip) p.setClipRect(box);
    p.setFont(font);
    p.setPen(core::ToQColor(Font.color));
    for (const TextLine& line : lines) {
      if (format.Opaque) p.fillRect(line.cell, core::ToQColor(format.Background));
      p.drawText(QPoint(line.cell.left(), line.cell.top() + metrics.ascent()), line.text);
    }
  };
  if (view_) {
    ThroughScratch(touched, [&](Canvas& scratch, QPoint origin) { paint(scratch.image_, origin); });
  } else if (!image_.isNull() && !touched.isEmpty()) {
    paint(image_, QPoint());
  }
  return int(lines.size()) * metrics.height();
}

core::TColor Canvas::Pixel(int x, int y) const {
  if (view_) {
    if (x < 0 || y < 0 || x >= Width() || y >= Height()) return -1;
    QImage one(1, 1, QImage::Format_RGB32);
    ReadFrame(QRect(x, y, 1, 1), one);
    return core::FromQColor(QColor::fromRgb(one.pixel(0, 0)));
  }
  if (!image_.rect().contains(x, y)) return -1;
  return core::FromQColor(QColor::fromRgb(image_.pixel(x, y)));
}

void Canvas::SetPixel(int x, int y, core::TColor color) {
  if (view_) {
    if (x < 0 || y < 0 || x >= Width() || y >= Height()) return;
    QImage before(1, 1, QImage::Format_RGB32), after(1, 1, QImage::Format_RGB32);
    ReadFrame(QRect(x, y, 1, 1), before);
    after.setPixel(0, 0, ToRgb(color));
    WriteFrame(QRect(x, y, 1, 1), after, before);
    return;
  }
  if (!image_.rect().contains(x, y)) return;
  reinterpret_cast<QRgb*>(image_.scanLine(y))[x] = ToRgb(color);
}

}  // namespace kestrom::ui
