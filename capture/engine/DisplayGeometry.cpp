#include "capture/engine/DisplayGeometry.h"

#include "platform/core/Format.h"

namespace kestrom::engine {

using core::Nearest;

QRect BoxVideo(QSize form, QSize native, bool keepAspect) {
  const QRect whole(QPoint(0, 0), form);
  // A native height (or width) of 0 gives no ratio: the video then fills the form.
  if (!keepAspect || native.width() <= 0 || native.height() <= 0 || form.isEmpty()) return whole;
  const double ratio = double(native.width()) / native.height();
  if (form.height() < Nearest(form.width() / ratio)) {
    const int width = int(Nearest(ratio * form.height()));
    return QRect((form.width() - width) / 2, 0, width, form.height());
  }
  const int height = int(Nearest(form.width() / ratio));
  return QRect(0, (form.height() - height) / 2, form.width(), height);
}

QSize ZoomVideoSize(QSize size, int zoomPercent) {
  if (zoomPercent <= 0 || zoomPercent == 100) return size;
  return QSize(int(Nearest(size.width() * double(zoomPercent) / 100.0)),
               int(Nearest(size.height() * double(zoomPercent) / 100.0)));
}

QSize FitInRoom(QSize wanted, QSize room) {
  return wanted.boundedTo(room).expandedTo(QSize(0, 0));
}

std::optional<QPoint> VideoPointOf(QPoint formPoint, QRect video, QSize native) {
  if (video.isEmpty() || native.isEmpty() || !video.contains(formPoint)) return std::nullopt;
  return QPoint(int(Nearest(double(formPoint.x() - video.left()) * native.width() / video.width())),
                int(Nearest(double(formPoint.y() - video.top()) * native.height() / video.height())));
}

}  // namespace kestrom::engine
