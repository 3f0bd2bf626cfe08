#pragma once
// Companion forms of the analysis windows: the close-file dialog, the cutting form and the memo
// pad.

#include "platform/ui/Dialogs.h"

#include <QDialog>
#include <QWidget>

class QAction;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace kestrom::window {

class TKestromForm;

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
};

/** @brief The memo pad of an analysis window. */
class TNewMemoPad final : public QWidget {
  Q_OBJECT
 public:
  explicit TNewMemoPad(TKestromForm* owner);
  QPlainTextEdit* Memo1 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QAction* File1 = nullptr;              // the "File" menu
  QAction* EquineData1 = nullptr;        // the "Equine Database" menu
  QAction* AddSessionResults1 = nullptr;
  ui::FontChoice FontDialog1;
  bool MemoModified = false;
};

}  // namespace kestrom::window
