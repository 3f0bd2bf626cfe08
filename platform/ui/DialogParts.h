#pragma once
// The pieces the real dialogs are built from, kept apart so they can be checked without
// running a modal loop.

#include "platform/ui/Dialogs.h"

#include <QDialog>
#include <QMessageBox>
#include <memory>

class QComboBox;
class QPushButton;
class QFontDialog;
class QLabel;

namespace kestrom::ui {

/** @brief The Qt name filters of a filter in the toolkit's "Name|*.a;*.b|..." form; "*.*" is
 *  every file. */
QStringList QtNameFilters(const QString& toolkitFilter);

/** @brief Line breaks written as CR LF, LF CR or CR become one new line each. */
QString NormaliseLineBreaks(const QString& text);

/** @brief The caption a message box of this kind shows when the request names none. */
QString MessageCaption(const MessageRequest& request);

/** @brief A message box as MessageDlg shows it: caption, icon, the toolkit's buttons in the
 *  toolkit's order, each carrying its modal result, and moved to the requested position. */
std::unique_ptr<QMessageBox> BuildMessageBox(const MessageRequest& request, QWidget* owner);

/** @brief The modal result carried by a button of a box from BuildMessageBox; mrCancel for none. */
int ModalResultOf(const QAbstractButton* button);

/** @brief A font dialog with a colour choice beside the font, as the programs' font dialogs offer. */
class FontColourDialog final : public QDialog {
 public:
  explicit FontColourDialog(const FontChoice& initial, QWidget* owner = nullptr);
  FontChoice Choice() const;
  void SetColor(core::TColor color);

 private:
  void PickOtherColour();

  QFontDialog* fonts_;
  QComboBox* colours_;
};

/**
 * @brief The property frame: a tab per page and OK, Cancel and Apply (objectNames "OK",
 * "Cancel", "Apply"). OK applies every page and closes (it stays open when a page refused a
 * value); Cancel, Escape and closing the window cancel every page; Apply applies and stays.
 */
class PropertyFrameDialog final : public QDialog {
 public:
  PropertyFrameDialog(const PropertyFrameRequest& request, QWidget* owner = nullptr);
  void reject() override;

 private:
  bool ApplyAll();
  void UpdateApply();

  std::vector<PropertyFramePage> pages_;
  QPushButton* apply_ = nullptr;
};

}  // namespace kestrom::ui
