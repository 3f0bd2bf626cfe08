#pragma once
// What every sheet does with its picture: clipboard, JPEG file, printer or PDF.

#include "platform/ui/Dialogs.h"

#include <QImage>

class QWidget;

namespace kestrom::sheets {

/** @brief Puts the picture on the clipboard as a bitmap. */
void CopyPictureToClipboard(const QImage& picture);

/**
 * @brief Asks for a file name with the save dialog and writes the picture as JPEG (the
 * library's default settings). A name without an extension gets the dialog's default one. A
 * write error is shown to the user; returns true only when the file was written.
 */
bool SavePictureAsJpeg(const QImage& picture, const ui::FileRequest& dialog, QWidget* owner);

/** @brief Asks where to print and prints the picture on one page; an error is shown. True when
 *  printed. */
bool PrintPictureWithDialog(const QImage& picture, const QString& documentName, QWidget* owner);

/** @brief The save dialog of the sheets: "JPEG|*.jpg", default extension "jpg". */
ui::FileRequest JpegSaveDialog();

}  // namespace kestrom::sheets
