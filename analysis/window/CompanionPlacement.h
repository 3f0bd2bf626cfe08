#pragma once
// Where the analysis program puts a window it opens beside one of its own: whole on the screen of
// the window that opened it, and above that window.

#include <QPoint>
#include <QRect>
#include <QSize>
#include <optional>

class QWidget;

namespace kestrom::window {

/**
 * @brief The top-left of a window whose outer size (frame included) is `frame`, asked for at
 * `wanted`, moved as little as needed to lie whole within `screen` (the screen's available
 * area). A window larger than the screen keeps its top-left at the screen's.
 */
QPoint PlaceOnScreen(QPoint wanted, QSize frame, const QRect& screen);

/** @brief Where a companion window goes when its opener asks for no place: inside its top-left. */
QPoint DefaultCompanionPlace(const QRect& openerFrame);

/**
 * @brief Moves `window` (not shown yet, or shown) to `wanted`, the top-left of its frame, kept
 * whole on the opener's screen; for forms shown modally, which stand above every window anyway.
 */
void MoveOnScreen(QWidget* window, const QWidget* opener, QPoint wanted);

/**
 * @brief Shows `window` beside `opener`: at `wanted` (the top-left of its frame in screen
 * coordinates; by default where it stood before, or DefaultCompanionPlace the first time), whole
 * on the opener's screen, above the opener and active, also when it was already shown and lay
 * behind.
 */
void ShowCompanion(QWidget* window, const QWidget* opener, std::optional<QPoint> wanted = std::nullopt);

}  // namespace kestrom::window
