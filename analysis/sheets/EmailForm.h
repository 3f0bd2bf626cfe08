#pragma once
// The e-mail window shared by both analysis windows: composes one mail (sender account,
// To/Cc/Bcc lists, subject, attachments, text) and sends it through TMapiPostMail.

#include "analysis/sheets/MapiPostMail.h"
#include "platform/ui/Dialogs.h"

#include <QWidget>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QRadioButton;
class QToolButton;

namespace kestrom::sheets {

class TEmailForm final : public QWidget {
  Q_OBJECT
 public:
  explicit TEmailForm(QWidget* parent = nullptr);

  /** @brief "Send": the lists and texts into the component, then sent; the form stays open. */
  void SpeedButton1Click();
  /** @brief "TO", "CC", "BCC": the address book into the three address lists. */
  void SpeedButton6Click();
  /** @brief "Address Book": browse only. */
  void SpeedButton9Click();
  /** @brief "Add": a chosen file joins the attachments. */
  void Add1Click();
  /** @brief "Remove": the selected attachment leaves the list. */
  void Remove1Click();
  /** @brief "Reset All": every list and text emptied. */
  void SpeedButton5Click();
  /** @brief "Close": hides the form. */
  void SpeedButton4Click();
  void CheckBox1Click();
  /** @brief Both attachment events: "No Attachment Found". */
  void MapiPostMail1AttachmentNotFound(TMapiPostMail* sender);

  /** @brief The attachments, as full paths. */
  QStringList Attachments() const;
  void AddAttachment(const QString& path);

  QComboBox* ComboBox1 = nullptr;
  QToolButton *SpeedButton6 = nullptr, *SpeedButton8 = nullptr, *SpeedButton7 = nullptr, *SpeedButton9 = nullptr;
  QPlainTextEdit *Memo2 = nullptr, *Memo3 = nullptr, *Memo4 = nullptr, *Memo1 = nullptr;
  QLineEdit* Edit3 = nullptr;
  QListWidget* ListBox1 = nullptr;
  QMenu* PopupMenu1 = nullptr;
  QAction *Add1 = nullptr, *Remove1 = nullptr;
  QToolButton *SpeedButton2 = nullptr, *SpeedButton3 = nullptr;
  QToolButton *SpeedButton1 = nullptr, *SpeedButton5 = nullptr, *SpeedButton4 = nullptr;
  QGroupBox* RadioGroup1 = nullptr;  // "Show Dialog", hidden
  QRadioButton *ShowDialogTrue = nullptr, *ShowDialogFalse = nullptr;
  QCheckBox* CheckBox1 = nullptr;    // "Receipt", hidden
  ui::FileRequest OpenDialog1;
  TMapiPostMail* MapiPostMail1 = nullptr;

 private:
  QPoint BoxPosition() const;
};

}  // namespace kestrom::sheets
