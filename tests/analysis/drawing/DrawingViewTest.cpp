#include "analysis/drawing/DrawingView.h"

#include <gtest/gtest.h>

namespace kestrom::drawing {
namespace {

TEST(ZoomView, ConvertsBothWaysAtEveryStepUsed) {
  // Step 20 doubles, ties go to the even pixel, and the way back is exact on whole video pixels.
  const ZoomView v = ZoomView::AtStep(20, 100, 56, 720, 576);
  EXPECT_EQ(v.ShowX(10), 120);
  EXPECT_EQ(v.ShowY(10), 76);
  EXPECT_DOUBLE_EQ(v.ScreenToVideoX(120), 10.0);
  EXPECT_DOUBLE_EQ(v.ScreenToVideoY(77), 10.5);
  const ZoomView half = ZoomView::AtStep(5, 0, 0, 720, 576);
  EXPECT_EQ(half.ShowX(5), 2);   // 2.5 -> 2
  EXPECT_EQ(half.ShowX(7), 4);   // 3.5 -> 4
}

}  // namespace
}  // namespace kestrom::drawing
