#include "analysis/annotation/AngleGeometry.h"

#include <QString>
#include <gtest/gtest.h>

namespace kestrom::annotation {

TEST(ArcCosDeg, UsesTheArctangentFormWithNegativeResultsForNegativeCosines) {
  EXPECT_EQ(ArcCosDeg(0.0), 90.0);
  EXPECT_EQ(ArcCosDeg(0.00009), 90.0);
  EXPECT_EQ(ArcCosDeg(-0.00009), 90.0);
  EXPECT_NEAR(ArcCosDeg(0.5), 60.0, 1e-9);
  EXPECT_NEAR(ArcCosDeg(-0.5), -60.0, 1e-9);
  EXPECT_NEAR(ArcCosDeg(1.0), 0.0, 1e-12);
  EXPECT_NEAR(ArcCosDeg(-1.0), 0.0, 1e-12);
}

struct AngleCase {
  const char* name;
  double x1, y1, x2, y2, x3, y3;
  double cosine, interior, reflex;
  double tolerance;
};

TEST(ThreePointAngle, MeasuresTheAngleAtTheVertex) {
  const AngleCase cases[] = {
      {"right angle", 0, 0, 10, 0, 10, 10, 0.0, 90.0, 270.0, 1e-9},
      {"straight line", 0, 0, 10, 0, 20, 0, -1.0, 180.0, 180.0, 1e-9},
      {"first and third point coincide", 0, 0, 10, 0, 0, 0, 0.999999995, 0.0057295779, 359.9942704,
       1e-6},
      {"obtuse", 0, 0, 10, 0, 15, 8.66, -0.5, 120.0, 240.0, 0.005},
      {"companion file sample", 100, 200, 150, 150, 200, 200, 0.0, 90.0, 270.0, 1e-9},
      {"to the vertical", 100, 100, 150, 200, 150, 100, 0.894427191, 26.5650512, 333.4349488, 1e-6},
  };
  for (const AngleCase& c : cases) {
    SCOPED_TRACE(c.name);
    const AngleResult r = ThreePointAngle(c.x1, c.y1, c.x2, c.y2, c.x3, c.y3);
    EXPECT_TRUE(r.defined);
    EXPECT_NEAR(r.cosine, c.cosine, c.tolerance);
    EXPECT_NEAR(r.interior, c.interior, c.tolerance);
    EXPECT_NEAR(r.reflex, c.reflex, c.tolerance);
    EXPECT_DOUBLE_EQ(r.interior + r.reflex, 360.0);
    EXPECT_GE(r.interior, 0.0);
    EXPECT_LE(r.interior, 180.0);
  }
}

TEST(ThreePointAngle, AnArmOfNoLengthOrOverflowingCoordinatesHaveNoValue) {
  const struct {
    const char* name;
    double x1, y1, x2, y2, x3, y3;
  } cases[] = {
      {"all three points equal", 5, 5, 5, 5, 5, 5},
      {"vertex on the first point", 10, 0, 10, 0, 20, 0},
      {"vertex on the third point", 0, 0, 10, 0, 10, 0},
      {"squares beyond a double", -1e200, 0, 0, 0, 1e200, 1e200},
  };
  for (const auto& c : cases) {
    const AngleResult r = ThreePointAngle(c.x1, c.y1, c.x2, c.y2, c.x3, c.y3);
    EXPECT_FALSE(r.defined) << c.name;
    EXPECT_EQ(r.interior, 0.0) << c.name;  // never a NaN that a caller could print
  }
}

TEST(ThreePointAngle, ShowsTheCoincidingPointCaseAsOneHundredth) {
  const AngleResult r = ThreePointAngle(0, 0, 10, 0, 0, 0);
  EXPECT_EQ(QString::asprintf("%.2f", r.interior), "0.01");
  EXPECT_EQ(QString::asprintf("%.2f", r.reflex), "359.99");
}

}  // namespace kestrom::annotation
