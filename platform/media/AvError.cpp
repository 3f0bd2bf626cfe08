#include "platform/media/AvError.h"

extern "C" {
#include <libavutil/error.h>
}

namespace kestrom::media {

QString AvErrorText(int error) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(error, text, sizeof text);
  return QString::fromUtf8(text);
}

}  // namespace kestrom::media
