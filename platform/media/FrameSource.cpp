#include "platform/media/FrameSource.h"

#include <QPainter>

namespace kestrom::media {

bool FrameSource::FrameInto(int64_t n, QImage& target, const QRect& rect) {
  const QImage picture = Frame(n, rect.size());
  if (picture.isNull()) return false;
  QPainter painter(&target);
  painter.drawImage(rect.topLeft(), picture);
  return true;
}

}  // namespace kestrom::media
