#pragma once
// The range of every value a companion file may bring into the drawing store. A hand-edited or
// damaged file can hold any 32-bit number; these bounds keep what loads to what the drawing
// code draws sensibly at every zoom step, so a value that loads never misbehaves when drawn.

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace kestrom::annotation {

/** @brief Video-pixel coordinates lie within -kCoordinateLimit..kCoordinateLimit (beyond an 8K frame). */
inline constexpr int32_t kCoordinateLimit = 16384;
/** @brief Pen widths in window pixels: the tools' pen size range. */
inline constexpr int32_t kMinPenWidth = 1;
inline constexpr int32_t kMaxPenWidth = 20;
/** @brief Font sizes in points. */
inline constexpr int32_t kMinFontSize = 1;
inline constexpr int32_t kMaxFontSize = 200;

/** @brief A loaded value pulled into its range; `changed` is set when it had to move. */
template <typename T>
T Bounded(T value, T low, T high, bool& changed) {
  const T bounded = std::clamp(value, low, high);
  if (!(bounded == value)) changed = true;
  return bounded;
}

inline int32_t BoundedCoordinate(int32_t v, bool& changed) {
  return Bounded(v, -kCoordinateLimit, kCoordinateLimit, changed);
}
inline double BoundedCoordinate(double v, bool& changed) {
  return Bounded(v, static_cast<double>(-kCoordinateLimit), static_cast<double>(kCoordinateLimit), changed);
}
/**
 * @brief The far end (px, py) of an arm from the vertex (vx, vy), which lies within the range,
 * pulled back along the arm to where it leaves the range: the arm keeps its direction, so an
 * angle measured between two arms stays what it was.
 */
inline void BoundArmEnd(double vx, double vy, double& px, double& py, bool& changed) {
  constexpr double limit = kCoordinateLimit;
  if (std::abs(px) <= limit && std::abs(py) <= limit) return;
  changed = true;
  // Halves keep the difference finite for any two finite values.
  const double dx = px * 0.5 - vx * 0.5, dy = py * 0.5 - vy * 0.5;
  double s = 2.0;  // the end itself is at s = 2
  if (dx > 0) s = std::min(s, (limit - vx) / dx);
  if (dx < 0) s = std::min(s, (-limit - vx) / dx);
  if (dy > 0) s = std::min(s, (limit - vy) / dy);
  if (dy < 0) s = std::min(s, (-limit - vy) / dy);
  px = std::clamp(vx + s * dx, -limit, limit);
  py = std::clamp(vy + s * dy, -limit, limit);
}

inline int32_t BoundedPenWidth(int32_t v, bool& changed) { return Bounded(v, kMinPenWidth, kMaxPenWidth, changed); }
inline int32_t BoundedFontSize(int32_t v, bool& changed) { return Bounded(v, kMinFontSize, kMaxFontSize, changed); }

}  // namespace kestrom::annotation
