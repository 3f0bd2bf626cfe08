#include "common/mediapanel/VideoLayout.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace kestrom::mediapanel {

namespace {

// Nearest integer, ties to the even one.
int Nearest(double x) { return int(std::nearbyint(x)); }

int Centre(int area, int size) { return Nearest((area - size) / 2.0); }

QRect Centred(QSize panel, QSize size) {
  return {Centre(panel.width(), size.width()), Centre(panel.height(), size.height()), size.width(), size.height()};
}

ScrollBarLayout Bar(int size, int thickness, bool both, double fraction, QRect bounds) {
  ScrollBarLayout bar;
  bar.visible = true;
  bar.bounds = bounds;
  bar.smallChange = std::max(1, size / 50);
  bar.largeChange = std::max(1, size / 10);
  bar.maximum = size + (both ? thickness : 0);
  bar.position = Nearest(bar.maximum * fraction);
  return bar;
}

// Custom zoom: bars for the directions that overflow; offsets run over the area the bars leave
// visible, so at either end of a bar the picture's edge column or row is on screen.
void PlaceZoomed(const LayoutInput& in, QSize size, VideoLayoutResult& out) {
  const int W = in.panel.width(), H = in.panel.height(), t = in.thickness;
  const int w = size.width(), h = size.height();
  if (!in.showScrollBars) {
    const int left = (in.horzFraction != 0.5 && w > W) ? Nearest((W - w) * in.horzFraction) : Centre(W, w);
    const int top = (in.vertFraction != 0.5 && h > H) ? Nearest((H - h) * in.vertFraction) : Centre(H, h);
    out.video = QRect(left, top, w, h);
    return;
  }
  bool needH = w > W, needV = h > H;
  // One bar takes room from the other direction, which may then overflow too.
  for (int i = 0; i < 2; ++i) {
    if (needH && !needV && h > H - t) needV = true;
    if (needV && !needH && w > W - t) needH = true;
  }
  const bool both = needH && needV;
  const int visW = W - (needV ? t : 0), visH = H - (needH ? t : 0);
  int left = Centre(visW, w), top = Centre(visH, h);
  if (needH) {
    out.horz = Bar(w, t, both, in.horzFraction, QRect(0, H - t, both ? W - t : W, t));
    left = Nearest((visW - w) * in.horzFraction);
  }
  if (needV) {
    out.vert = Bar(h, t, both, in.vertFraction, QRect(W - t, 0, t, both ? H - t : H));
    top = Nearest((visH - h) * in.vertFraction);
  }
  if (both) {
    out.cornerVisible = true;
    out.corner = QRect(W - t, H - t, t, t);
  }
  out.video = QRect(left, top, w, h);
}

}  // namespace

QSize FitSize(QSize area, QSize source) {
  const int64_t W = area.width(), H = area.height(), w0 = source.width(), h0 = source.height();
  if (w0 <= 0 || h0 <= 0) return area;
  // The side that limits the picture is the one whose ratio is smaller.
  if (W * h0 < H * w0) return {int(W), Nearest(double(W) * h0 / w0)};
  return {Nearest(double(H) * w0 / h0), int(H)};
}

VideoLayoutResult LayoutVideo(const LayoutInput& in) {
  VideoLayoutResult out;
  if (in.panel.isEmpty()) return out;
  const int W = in.panel.width(), H = in.panel.height();
  if (!in.visible || in.hideVideo) {
    out.kind = VideoLayoutResult::Kind::Hidden;
    out.video = QRect(W + 500, H + 500, W, H);
    return out;
  }
  const int w0 = in.source.width(), h0 = in.source.height();
  if (!in.clipOpen || in.controlsShown || w0 <= 0 || h0 <= 0) {
    out.kind = VideoLayoutResult::Kind::Fill;
    out.video = QRect(0, 0, W, H);
    return out;
  }
  out.kind = VideoLayoutResult::Kind::Placed;
  QSize size;
  switch (in.displaySize) {
    case TDisplaySize::mpDefaultSize: size = {w0, h0}; break;
    case TDisplaySize::mpHalfSize: size = {w0 / 2, h0 / 2}; break;
    case TDisplaySize::mpDoubleSize: size = {2 * w0, 2 * h0}; break;
    case TDisplaySize::mpFitToSize: break;
    case TDisplaySize::mpCustomSize:
      PlaceZoomed(in, {Nearest(w0 * in.zoomSize / 100.0), Nearest(h0 * in.zoomSize / 100.0)}, out);
      return out;
  }
  if (size.isEmpty() || size.width() > W || size.height() > H) size = FitSize(in.panel, in.source);
  out.video = Centred(in.panel, size);
  return out;
}

double ScrollFraction(int position, int maximum) { return maximum > 0 ? double(position) / maximum : 0.0; }

}  // namespace kestrom::mediapanel
