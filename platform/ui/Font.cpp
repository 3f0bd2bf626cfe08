#include "platform/ui/Font.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace kestrom::ui {

int FontPixelSize(int points) {
  // Rounded as the platform's own point-to-pixel conversion does, half away from zero; in 64 bits
  // and bounded, so any size a file or a caller sets gives a font that can be drawn.
  const int64_t magnitude = (std::abs(static_cast<int64_t>(points)) * 96 + 36) / 72;
  return static_cast<int>(std::clamp<int64_t>(magnitude, 1, kMaxFontPixelSize));
}

QFont ToQFont(const FontChoice& font) {
  QFont q(font.name);
  q.setPixelSize(FontPixelSize(font.size));
  q.setBold(font.bold);
  q.setItalic(font.italic);
  q.setUnderline(font.underline);
  q.setStrikeOut(font.strikeOut);
  return q;
}

FontChoice FromQFont(const QFont& font, core::TColor color) {
  FontChoice choice;
  choice.name = font.family();
  if (font.pointSize() > 0) {
    choice.size = font.pointSize();
  } else if (font.pixelSize() > 0) {
    choice.size = static_cast<int>(std::lround(font.pixelSize() * 72.0 / 96.0));
  }
  choice.bold = font.bold();
  choice.italic = font.italic();
  choice.underline = font.underline();
  choice.strikeOut = font.strikeOut();
  choice.color = color;
  return choice;
}

}  // namespace kestrom::ui
