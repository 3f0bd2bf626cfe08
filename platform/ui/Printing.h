#pragma once
// Printing to the target the print dialog chose: a printer by name, or a PDF file.

#include "platform/ui/Dialogs.h"

#include <QImage>
#include <QStringList>

namespace kestrom::ui {

/**
 * @brief Prints a picture on one page at its top left, scaled from screen pixels (96 per inch)
 * to the printer's resolution so it keeps its size on paper, and shrunk proportionally when it
 * does not fit. Returns an empty string on success, otherwise what went wrong.
 */
QString PrintPicture(const QImage& picture, const PrintTarget& target, const QString& documentName);

/** @brief Prints text lines in a font, as many pages as they need. Empty string on success. */
QString PrintTextLines(const QStringList& lines, const FontChoice& font, const PrintTarget& target,
                       const QString& documentName);

}  // namespace kestrom::ui
