#include "analysis/playback/ViewGeometry.h"

#include "platform/core/Format.h"

#include <algorithm>

namespace kestrom::playback {

using core::Nearest;
using core::Trunc;

void ViewGeometry::SetFrameSize(int frameWidth, int frameHeight) {
  FrameWidth = frameWidth;
  FrameHeight = frameHeight;
  for (int n = kMinZoomStep; n <= kMaxZoomStep; ++n) {
    ZoomedWidth[n] = static_cast<int>(Trunc(n * FrameWidth * 0.1 + 0.5));
    ZoomedHeight[n] = static_cast<int>(Trunc(n * FrameHeight * 0.1 + 0.5));
    ZoomFactor[n] = n * 0.1;
  }
}

void ViewGeometry::BuildZoomTable(int clientWidth, int clientHeight, int menuPanelHeight) {
  AreaHeight = clientHeight - 120;
  AreaWidth = clientWidth - 16;
  MenuPanelHeight = menuPanelHeight;
  SetFrameSize(FrameWidth, FrameHeight);
  for (int n = kMinZoomStep; n <= kMaxZoomStep; ++n) {
    const int dx = AreaWidth - ZoomedWidth[n];
    if (dx >= 0) {
      XOffset[n] = static_cast<int>(Nearest(dx / 2.0));
      XScrollStep[n] = 0;
      XOverflow[n] = false;
    } else {
      XOffset[n] = 0;
      XScrollStep[n] = -dx / static_cast<double>(kPictureScrollUnits);
      XOverflow[n] = true;
    }
    XRight[n] = XOffset[n] + ZoomedWidth[n];

    const int dy = AreaHeight - ZoomedHeight[n];
    if (dy >= 0) {
      YOffset[n] = static_cast<int>(Nearest(dy / 2.0)) + MenuPanelHeight;
      YScrollStep[n] = 0;
      YOverflow[n] = false;
    } else {
      YOffset[n] = MenuPanelHeight;
      YScrollStep[n] = -dy / static_cast<double>(kPictureScrollUnits);
      YOverflow[n] = true;
    }
    YBottom[n] = YOffset[n] + ZoomedHeight[n];
  }
}

PicturePlacement ViewGeometry::Place(int step, int horzPos, int vertPos) const {
  step = ClampZoomStep(step);
  const int x0 = static_cast<int>(Nearest(XOffset[step] - XScrollStep[step] * horzPos));
  const int y0 = static_cast<int>(Nearest(YOffset[step] - YScrollStep[step] * vertPos));
  return {QRect(x0, y0, ZoomedWidth[step], ZoomedHeight[step]), XOverflow[step], YOverflow[step]};
}

int ViewGeometry::ShowX(double x, int step, int horzPos) const {
  step = ClampZoomStep(step);
  return static_cast<int>(Nearest(x * ZoomFactor[step] - horzPos * XScrollStep[step] + XOffset[step]));
}

int ViewGeometry::ShowY(double y, int step, int vertPos) const {
  step = ClampZoomStep(step);
  return static_cast<int>(Nearest(y * ZoomFactor[step] - vertPos * YScrollStep[step] + YOffset[step]));
}

double ViewGeometry::ScreenToVideoX(int x, int step, int horzPos) const {
  step = ClampZoomStep(step);
  return (horzPos * XScrollStep[step] + x - XOffset[step]) / ZoomFactor[step];
}

double ViewGeometry::ScreenToVideoY(int y, int step, int vertPos) const {
  step = ClampZoomStep(step);
  return (vertPos * YScrollStep[step] + y - YOffset[step]) / ZoomFactor[step];
}

std::vector<QRect> ViewGeometry::MarginRects(const QRect& picture, int step) const {
  step = ClampZoomStep(step);
  // Corners as the canvas fills them: (left, top)-(right, bottom), right and bottom excluded.
  auto span = [](int l, int t, int r, int b) { return QRect(QPoint(l, t), QPoint(r - 1, b - 1)); };
  const int top = MenuPanelHeight;
  const int bottom = MenuPanelHeight + AreaHeight;
  const int picRight = picture.left() + picture.width();
  const int picBottom = picture.top() + picture.height();
  std::vector<QRect> rects;
  if (!XOverflow[step]) {
    rects.push_back(span(0, top, picture.left(), bottom));
    rects.push_back(span(picRight, top, AreaWidth, bottom));
  }
  if (!YOverflow[step]) {
    rects.push_back(span(0, top, AreaWidth, picture.top()));
    rects.push_back(span(0, picBottom, AreaWidth, bottom));
  }
  std::erase_if(rects, [](const QRect& r) { return r.isEmpty(); });
  return rects;
}

QRect ViewGeometry::ResizeOutline(int step) const {
  step = ClampZoomStep(step);
  const int left = static_cast<int>(Nearest((AreaWidth - ZoomedWidth[step]) / 2.0));
  const int top = static_cast<int>(Nearest((AreaHeight - ZoomedHeight[step]) / 2.0)) + MenuPanelHeight;
  return QRect(left, top, ZoomedWidth[step], ZoomedHeight[step]);
}

int ClampZoomStep(int step) { return std::clamp(step, kMinZoomStep, kMaxZoomStep); }

int ZoomInStep(int step) { return step < kMaxZoomStep ? step + 1 : kMaxZoomStep; }

int ZoomOutStep(int step) { return step > kMinZoomStep ? step - 1 : kMinZoomStep; }

QString ZoomMenuItemFor(int step) {
  switch (step) {
    case 30: return QStringLiteral("Z30");
    case 25: return QStringLiteral("Z25");
    case 20: return QStringLiteral("Z20");
    case 15: return QStringLiteral("Z15");
    case 12: return QStringLiteral("N12NTSC1");
    case 10: return QStringLiteral("Z10");
    default: return {};
  }
}

QString ZoomStatusText(double factor) { return core::Printf("Zoom %4.1f", factor); }

std::pair<int64_t, int64_t> RefreshSeeks(int64_t position, int64_t lengthMs, double frameDuration) {
  const int64_t f = Nearest(frameDuration);
  if (position == 0) return {f, 0};
  if (position > 0 && position < lengthMs - frameDuration) return {position - f, position};
  return {std::max<int64_t>(0, lengthMs - 2 * f), lengthMs};
}

}  // namespace kestrom::playback

namespace kestrom::playback {

bool IsPartlyOffScreen(const QRect& window, const QSize& screen) {
  return window.left() < 0 || window.top() < 0 || window.left() + window.width() > screen.width() ||
         window.top() + window.height() > screen.height();
}

bool WhiteMargins(bool videoOpen, int frameHeight, int layout) {
  return videoOpen && frameHeight == 480 && layout == 1;
}

QString StopwatchText(double seconds, const QString& previous) {
  if (seconds < 100) return core::Printf("%.2f", seconds);
  if (seconds < 1000) return core::Printf("%.1f", seconds);
  if (seconds < 10000) return core::Printf("%.0f", seconds);
  return previous;
}

}  // namespace kestrom::playback
