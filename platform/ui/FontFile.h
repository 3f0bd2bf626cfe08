#pragma once
// The two-line font file both programs keep beside their texts: the memo pad's font beside each
// video and horse profile, and the capture program's overlay font. Free of widgets.

#include "platform/ui/Font.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

namespace kestrom::ui {

/**
 * @brief The two lines of a font file: the name, then colour (width 12), size in points (4),
 * bold, italic, underline, strike-out (2 each, 1 or 0), right-aligned. A number that fills its
 * field gets one blank before it, so a four-digit size never runs into the colour.
 */
QStringList FontFileLines(const FontChoice& font);

/**
 * @brief A font file's text as far as it reads: line 1 whole as the name, then the numbers in
 * free format, in order, up to the first missing, malformed or out-of-range one (the colour is a
 * signed 32-bit value, the size fits 16 bits), at most six.
 */
struct FontFileFields {
  QString name;
  std::vector<int64_t> numbers;
};
FontFileFields ReadFontFileFields(const QString& text);

/**
 * @brief Puts the fields read into the font: the name, the colour and size as far as they were
 * read, and the four styles only when all six numbers were; true when they were.
 */
bool ApplyFontFileFields(const FontFileFields& fields, FontChoice& font);

/**
 * @brief The font a font file's text holds: line 1 whole as the name, then six integers in
 * free format; a style is set only by exactly 1. Nothing when the name or any number is missing
 * or malformed, so a damaged file changes nothing.
 */
std::optional<FontChoice> ParseFontFile(const QString& text);

/** @brief Writes a font file (atomically, lines ending in CR LF); false when it failed. */
bool WriteFontFile(const QString& path, const FontChoice& font);

/** @brief Reads a font file; nothing when it is missing, unreadable or incomplete. */
std::optional<FontChoice> ReadFontFile(const QString& path);

}  // namespace kestrom::ui
