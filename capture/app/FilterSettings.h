#pragma once
// The capture program's three settings files beside it, without widgets: the overlay's text, the
// overlay's font (the memo pad's two-line font file) and the sequence folder. Missing files are
// not read; a damaged one keeps what the caller had, and no error reaches the user.

#include "platform/ui/Font.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace kestrom::capture {

/** @brief The overlay's text as the component draws it: "Kestrom", a line break, then the memo's text. */
QString OverlayText(const QString& memoText);

/** @brief An overlay offset: Round(videoSize x position x 0.01), position 0 to 100. */
int OverlayOffset(int videoSize, int position);

/** @brief Writes the overlay font file; false when the write failed. */
bool SaveFilterFont(const QString& path, const ui::FontChoice& font);

/**
 * @brief Reads the overlay font file into font: the name, then colour and size as far as they
 * read; the style is cleared and bold, italic, underline and strike-out set (each by exactly 1)
 * only once all four flags read. A missing file or an empty name changes nothing; a bad number
 * keeps what was read before it. True when the whole file read.
 */
bool LoadFilterFont(const QString& path, ui::FontChoice& font);

/** @brief Writes the overlay text, one line a line; false when the write failed. */
bool SaveFilterText(const QString& path, const QStringList& lines);

/** @brief The overlay text's lines; nothing when the file is missing or cannot be read. */
std::optional<QStringList> LoadFilterText(const QString& path);

/** @brief Writes the sequence folder as the file's one line; false when the write failed. */
bool SaveSequenceDir(const QString& path, const QString& folder);

/** @brief The sequence folder the file holds, when the file exists and that folder still does. */
std::optional<QString> LoadSequenceDir(const QString& path);

}  // namespace kestrom::capture
