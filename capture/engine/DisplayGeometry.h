#pragma once
// The arithmetic of the display windows, apart from any widget: where the video goes inside its
// form, the zoomed display size and the mouse position in video pixels.

#include <QPoint>
#include <QRect>
#include <QSize>
#include <optional>

namespace kestrom::engine {

/**
 * @brief The video rectangle inside a form of that size. With keepAspect the video keeps the
 * native width / height ratio, centred (pillar-boxed or letter-boxed); without it, or without a
 * native size to take a ratio from, the video fills the form.
 */
QRect BoxVideo(QSize form, QSize native, bool keepAspect);

/** @brief Each side rounded to side x zoom / 100; a zoom of 0 or 100 leaves the size as it is. */
QSize ZoomVideoSize(QSize size, int zoomPercent);

/**
 * @brief A form point in video pixels; nothing for a point outside the video rectangle, or when
 * the rectangle or the native size is empty (there is no video to point at).
 */
std::optional<QPoint> VideoPointOf(QPoint formPoint, QRect video, QSize native);

}  // namespace kestrom::engine
