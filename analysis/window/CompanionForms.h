#pragma once
// Companion forms of the analysis windows: the close-file dialog and the cutting form; the memo
// pad comes from the sheets folder.

#include "analysis/sheets/MemoPad.h"
#include "platform/ui/Dialogs.h"

#include <QDialog>
#include <QImage>
#include <QWidget>

class QAction;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace kestrom::window {

class TKestromForm;
using sheets::TNewMemoPad;

/** @brief Asks, kind by kind, whether to save the companion data that changed. */
class TCloseFilesForm final : public QDialog {
  Q_OBJECT
 public:
  explicit TCloseFilesForm(const QString& name, QWidget* parent = nullptr);
  int OwnerIndex = 0;
  QLineEdit* Edit1 = nullptr;
};

/** @brief A small stay-on-top form holding a rectangle cut out of a window's picture. */
class TCutForm final : public QWidget {
  Q_OBJECT
 public:
  explicit TCutForm(const QString& name, QWidget* parent = nullptr);
  /** @brief The client area and the picture take the size; the picture is shown in Image1. */
  void SetPicture(const QImage& picture);
  QImage Bitmap;
  QLabel* Image1 = nullptr;
};

}  // namespace kestrom::window
