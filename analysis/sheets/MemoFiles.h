#pragma once
// The memo pad's files and texts: the two-line font file beside each video (and each horse
// profile), and the templates a new memo, a new horse profile and the session results start
// from. Free of widgets.

#include "platform/ui/Font.h"

#include <QDateTime>
#include <QStringList>
#include <optional>

namespace kestrom::sheets {

/**
 * @brief The two lines of a font file: the name, then colour (width 12), size in points (4),
 * bold, italic, underline, strike-out (2 each, 1 or 0), right-aligned. A number that fills its
 * field gets one blank before it, so a four-digit size never runs into the colour.
 */
QStringList FontFileLines(const ui::FontChoice& font);

/**
 * @brief The font a font file's text holds: line 1 whole as the name, then six integers in
 * free format; a style is set only by exactly 1. Nothing when the name or any number is missing
 * or malformed, so a damaged file changes nothing.
 */
std::optional<ui::FontChoice> ParseFontFile(const QString& text);

/** @brief Writes a font file (atomically, lines ending in CR LF); false when it failed. */
bool WriteFontFile(const QString& path, const ui::FontChoice& font);

/** @brief Reads a font file; nothing when it is missing, unreadable or incomplete. */
std::optional<ui::FontChoice> ReadFontFile(const QString& path);

/** @brief The font file of a horse profile: its path less the last 4 characters, plus ".fnt". */
QString HorseProfileFontFile(const QString& profilePath);

/** @brief The time of day as the memo templates show it ("14:05:09"). */
QString TimeOfDayText(const QDateTime& now);

/** @brief The lines a new memo starts with (eight lines, the time after "Date:    "). */
QStringList NewMemoTemplate(const QDateTime& now);

/** @brief The lines of a new horse profile. */
QStringList HorseProfileTemplate();

/** @brief The lines "Add Session Results" appends. */
QStringList SessionResultsTemplate(const QDateTime& now);

}  // namespace kestrom::sheets
