#pragma once
// Colours of controls set in the toolkit's colour integers. A system colour stays a palette role
// reference, so it follows the desktop's palette; the integer set is kept on the control and
// read back unchanged.

#include "platform/core/Colour.h"

class QWidget;

namespace kestrom::ui {

/** @brief The control's background (window, base and button roles), filled by the control. */
void SetBackgroundColor(QWidget* control, core::TColor color);

/** @brief The control's text colour (window text, text and button text roles). */
void SetFontColor(QWidget* control, core::TColor color);

/** @brief The background last set, or clBtnFace when none was. */
core::TColor BackgroundColor(const QWidget* control);

/** @brief The text colour last set, or clWindowText when none was. */
core::TColor FontColor(const QWidget* control);

}  // namespace kestrom::ui
