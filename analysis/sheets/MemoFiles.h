#pragma once
// The memo pad's files and texts: where the font file of a horse profile lives (its format is
// platform/ui's), and the templates a new memo, a new horse profile and the session results start
// from. Free of widgets.

#include "platform/ui/FontFile.h"

#include <QDateTime>
#include <QStringList>
#include <optional>

namespace kestrom::sheets {

// The font file's format is shared with the capture program.
using ui::FontFileLines;
using ui::ParseFontFile;
using ui::ReadFontFile;
using ui::WriteFontFile;

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
