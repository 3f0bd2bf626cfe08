#pragma once
// The angle arithmetic of the drawing tools: every angle the coach draws or loads is measured here.

namespace kestrom::annotation {

/** @brief The four results of ThreePointAngle, all in degrees except the cosine. */
struct AngleResult {
  double cosine = 0.0;
  double raw = 0.0;       // ArcCosDeg(cosine): negative for an obtuse angle
  double interior = 0.0;  // the measured angle, 0..180
  double reflex = 0.0;    // 360 - interior
  bool defined = true;    // false for an arm of no length or coordinates beyond measuring: no value
  bool operator==(const AngleResult&) const = default;
};

/**
 * @brief Arc cosine in degrees by the arctangent form: exactly 90 near 0, negative for x < 0
 * (-0.5 gives -60), 0 for x = -1; ThreePointAngle turns the negative values into 90..180.
 */
double ArcCosDeg(double x);

/**
 * @brief The angle at B = (x2, y2) between A = (x1, y1) and C = (x3, y3) by the law of cosines.
 * Sides shorter than 0.001 count as 0.001, so coinciding points never divide by zero; an arm
 * (AB or BC) that short has no angle, and the result is marked undefined.
 */
AngleResult ThreePointAngle(double x1, double y1, double x2, double y2, double x3, double y3);

}  // namespace kestrom::annotation
