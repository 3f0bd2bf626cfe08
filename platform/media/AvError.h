#pragma once
// The one place where an FFmpeg error code becomes words for a log line or a message.

#include <QString>

namespace kestrom::media {

/** @brief The library's own text for an FFmpeg error code (AVERROR(...) or one of its AVERROR_ tags). */
QString AvErrorText(int error);

}  // namespace kestrom::media
