#include "analysis/annotation/AngleGeometry.h"

#include <algorithm>
#include <cmath>

namespace kestrom::annotation {

namespace {
constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr double kNearZeroCosine = 0.0001;
constexpr double kShortestSide = 0.001;

double Side(double ax, double ay, double bx, double by) {
  return std::max(std::hypot(bx - ax, by - ay), kShortestSide);
}
}  // namespace

double ArcCosDeg(double x) {
  if (std::fabs(x) < kNearZeroCosine) return 90.0;
  return std::atan(std::sqrt(1.0 - x * x) / x) * kDegreesPerRadian;
}

AngleResult ThreePointAngle(double x1, double y1, double x2, double y2, double x3, double y3) {
  const double ab = Side(x1, y1, x2, y2);
  const double bc = Side(x2, y2, x3, y3);
  const double ac = Side(x1, y1, x3, y3);

  AngleResult r;
  const double cosine = (bc * bc + ab * ab - ac * ac) / (2.0 * ab * bc);
  // Coordinates so large that the squares overflow give no number either.
  r.defined = ab > kShortestSide && bc > kShortestSide && std::isfinite(cosine);
  if (!r.defined) {
    r.interior = r.reflex = r.raw = 0.0;
    return r;
  }
  r.cosine = std::clamp(cosine, -1.0, 1.0);
  r.raw = ArcCosDeg(r.cosine);
  r.interior = (r.cosine > 0.0 || std::fabs(r.cosine) < kNearZeroCosine) ? r.raw : 180.0 + r.raw;
  r.reflex = 360.0 - r.interior;
  return r;
}

}  // namespace kestrom::annotation
