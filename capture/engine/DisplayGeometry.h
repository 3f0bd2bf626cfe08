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
 * @brief The size of a display that sizes its panel to the video, in the room the panel's parent
 * leaves it: the wanted size, each side cut to the room's (never below 0). The video is then boxed
 * inside it, so the whole picture stays in sight however far it is zoomed.
 */
QSize FitInRoom(QSize wanted, QSize room);

/**
 * @brief A form point in video pixels; nothing for a point outside the video rectangle, or when
 * the rectangle or the native size is empty (there is no video to point at).
 */
std::optional<QPoint> VideoPointOf(QPoint formPoint, QRect video, QSize native);

}  // namespace kestrom::engine
