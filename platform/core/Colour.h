#pragma once
// The toolkit's colour integers: 0x00BBGGRR for a plain colour (red in the low byte), negative
// for a system colour (0x80000000 | index). Converted to and from QColor only here.

#include <QColor>
#include <QPalette>
#include <cstdint>

namespace kestrom::core {

using TColor = int32_t;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clMaroon = 0x000080;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clOlive = 0x008080;
inline constexpr TColor clNavy = 0x800000;
inline constexpr TColor clPurple = 0x800080;
inline constexpr TColor clTeal = 0x808000;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clFuchsia = 0xFF00FF;
inline constexpr TColor clAqua = 0xFFFF00;
inline constexpr TColor clWhite = 0xFFFFFF;

// System colours: the toolkit's values, 0x80000000 or'ed with the system colour index.
inline constexpr TColor clSystemColor = static_cast<TColor>(0x80000000u);
inline constexpr TColor clScrollBar = clSystemColor | 0;
inline constexpr TColor clBackground = clSystemColor | 1;
inline constexpr TColor clActiveCaption = clSystemColor | 2;
inline constexpr TColor clInactiveCaption = clSystemColor | 3;
inline constexpr TColor clMenu = clSystemColor | 4;
inline constexpr TColor clWindow = clSystemColor | 5;
inline constexpr TColor clWindowFrame = clSystemColor | 6;
inline constexpr TColor clMenuText = clSystemColor | 7;
inline constexpr TColor clWindowText = clSystemColor | 8;
inline constexpr TColor clCaptionText = clSystemColor | 9;
inline constexpr TColor clActiveBorder = clSystemColor | 10;
inline constexpr TColor clInactiveBorder = clSystemColor | 11;
inline constexpr TColor clAppWorkSpace = clSystemColor | 12;
inline constexpr TColor clHighlight = clSystemColor | 13;
inline constexpr TColor clHighlightText = clSystemColor | 14;
inline constexpr TColor clBtnFace = clSystemColor | 15;
inline constexpr TColor clBtnShadow = clSystemColor | 16;
inline constexpr TColor clGrayText = clSystemColor | 17;
inline constexpr TColor clBtnText = clSystemColor | 18;
inline constexpr TColor clInactiveCaptionText = clSystemColor | 19;
inline constexpr TColor clBtnHighlight = clSystemColor | 20;
inline constexpr TColor cl3DDkShadow = clSystemColor | 21;
inline constexpr TColor cl3DLight = clSystemColor | 22;
inline constexpr TColor clInfoText = clSystemColor | 23;
inline constexpr TColor clInfoBk = clSystemColor | 24;

/** @brief True for a system colour (negative value). */
inline bool IsSystemColor(TColor c) { return c < 0; }

/** @brief The QColor a toolkit colour shows; system colours through the application palette. */
QColor ToQColor(TColor c);

/** @brief The toolkit integer of a plain QColor (alpha dropped). */
TColor FromQColor(const QColor& c);

/** @brief The palette role a system colour is drawn with (and its group), when it has one. */
bool SystemColorRole(TColor c, QPalette::ColorGroup* group, QPalette::ColorRole* role);

/** @brief The system colour drawn with a palette role, the inverse of SystemColorRole. */
TColor SystemColorOfRole(QPalette::ColorGroup group, QPalette::ColorRole role);

}  // namespace kestrom::core
