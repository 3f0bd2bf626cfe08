#include "analysis/drawing/HitTests.h"

#include <cmath>

namespace kestrom::drawing {

using annotation::ShapeKind;

bool LineHit(double x1, double y1, double x2, double y2, double x, double y) {
  const double dx = x2 - x1, dy = y2 - y1;
  if (dx == 0 && dy == 0) return false;
  if (std::abs(dx) >= 12) {
    const double tx = (x - x1) / dx;
    if (!(tx > 0 && tx <= 1)) return false;
    if (std::abs(dy) < 12) return std::abs(y - y1) < 6;
    const double ty = (y - y1) / dy;
    if (!(ty > 0 && ty <= 1)) return false;
    const double slope = dy / dx;
    const double intercept = (x1 * y2 - y1 * x2) / (x1 - x2);
    return std::abs(y - (x * slope + intercept)) < 12;
  }
  // A steep or short line: measured across; a tiny horizontal one cannot be hit.
  if (dy == 0) return false;
  const double ty = (y - y1) / dy;
  return ty >= 0 && ty <= 1 && std::abs(x - x1) < 6;
}

int FindLineAt(const annotation::DrawingStore& store, double x, double y) {
  int found = -1;
  const auto& shapes = store.Shapes();
  for (int i = 0; i < static_cast<int>(shapes.size()); ++i) {
    const auto& s = shapes[i];
    if (s.kind != ShapeKind::Line) continue;
    // A zero-length line has no direction to measure from; it is passed over, not the end of the search.
    if (s.x1 == s.x2 && s.y1 == s.y2) continue;
    if (LineHit(s.x1, s.y1, s.x2, s.y2, x, y)) found = i;
  }
  return found;
}

int FindAngleAt(const annotation::DrawingStore& store, double x, double y) {
  int found = -1;
  const auto& angles = store.Angles();
  for (int i = 0; i < static_cast<int>(angles.size()); ++i) {
    const auto& a = angles[i];
    const bool ab = a.x1 == a.x2 && a.y1 == a.y2;
    const bool bc = a.x2 == a.x3 && a.y2 == a.y3;
    const bool ac = a.x1 == a.x3 && a.y1 == a.y3;
    if (ab || bc || ac) continue;
    if (LineHit(a.x1, a.y1, a.x2, a.y2, x, y) || LineHit(a.x2, a.y2, a.x3, a.y3, x, y)) found = i;
  }
  return found;
}

int FindTextAt(const annotation::DrawingStore& store, double x, double y) {
  int found = -1;
  const auto& items = store.TextItems();
  for (int i = 0; i < static_cast<int>(items.size()); ++i) {
    const auto& t = items[i];
    const double width = static_cast<double>(t.text.size()) * t.fontSize;
    if (x >= t.x && x < t.x + width && y >= t.y && y < t.y + t.fontSize) found = i;
  }
  return found;
}

int FindShapeAt(const annotation::DrawingStore& store, double x, double y) {
  int found = -1;
  const auto& shapes = store.Shapes();
  for (int i = 0; i < static_cast<int>(shapes.size()); ++i) {
    const auto& s = shapes[i];
    if (s.kind == ShapeKind::Line) continue;
    if (s.x1 <= x && x <= s.x2 && s.y1 <= y && y <= s.y2) found = i;
  }
  return found;
}

int FindStrokeAt(const annotation::DrawingStore& store, double x, double y) {
  int found = -1;
  const auto& points = store.FreehandPoints();
  for (int i = 0; i < static_cast<int>(points.size()); ++i)
    if (std::abs(x - points[i].x) < 5 && std::abs(y - points[i].y) < 5) found = i;
  return found < 0 ? 0 : store.StrokeOfPoint(found);
}

}  // namespace kestrom::drawing
