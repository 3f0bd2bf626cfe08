#include "analysis/drawing/DrawingView.h"

#include "platform/core/Format.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace kestrom::drawing {

namespace {
// A zero factor would make every window point infinitely far in video pixels.
double Usable(double factor) { return factor > 0.0 ? factor : 1.0; }
// Saturates instead of wrapping, so a point far off the picture stays off it on the same side.
int WindowPixel(double v) {
  return static_cast<int>(std::clamp<int64_t>(core::Nearest(v), std::numeric_limits<int>::min(),
                                              std::numeric_limits<int>::max()));
}
}  // namespace

ZoomView ZoomView::AtStep(int step, int left, int top, int frameWidth, int frameHeight) {
  return ZoomView(step * 0.1, left, top, frameWidth, frameHeight);
}

int ZoomView::ShowX(double x) const { return WindowPixel(x * factor_ + left_); }
int ZoomView::ShowY(double y) const { return WindowPixel(y * factor_ + top_); }
double ZoomView::ScreenToVideoX(int x) const { return (x - left_) / Usable(factor_); }
double ZoomView::ScreenToVideoY(int y) const { return (y - top_) / Usable(factor_); }

}  // namespace kestrom::drawing
