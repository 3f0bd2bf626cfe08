#pragma once
// A font as the programs store and edit it: name, size in points, style flags and colour.

#include "platform/core/Colour.h"

#include <QFont>
#include <QString>

namespace kestrom::ui {

/** @brief A font with its colour, as the font dialog edits it and the canvas draws with it. */
struct FontChoice {
  QString name = "Arial";
  int size = 10;  // points
  bool bold = false, italic = false, underline = false, strikeOut = false;
  core::TColor color = core::clBlack;

  bool operator==(const FontChoice&) const = default;
};

/** @brief The largest font drawn, in pixels: taller than any screen. */
inline constexpr int kMaxFontPixelSize = 4096;

/** @brief Pixel height of a font of the given points on the 96-dpi screen the sizes assume (1..kMaxFontPixelSize). */
int FontPixelSize(int points);

/** @brief The QFont drawn for a choice (pixel-sized, so pictures do not depend on the screen). */
QFont ToQFont(const FontChoice& font);

/** @brief The choice a QFont stands for, with the given colour. */
FontChoice FromQFont(const QFont& font, core::TColor color);

}  // namespace kestrom::ui
