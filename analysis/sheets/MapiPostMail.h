#pragma once
// TMapiPostMail: one mail through the platform's mail calls (platform/mail) — recipients in three
// classes, subject, text, attachments, an optional read receipt and review box — with the
// failures turned into events or an error box. The account that sends is the one whose address
// is FromEmail, else the default; the account settings are only ever read.

#include "platform/mail/SimpleMapi.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class QComboBox;
class QWidget;

namespace kestrom::sheets {

class TMapiPostMail : public QObject {
  Q_OBJECT
 public:
  using TNotifyEvent = std::function<void(TMapiPostMail* sender)>;

  explicit TMapiPostMail(QObject* parent = nullptr);

  // Published properties. The lists are the component's own copies of what they are given.
  QString FromEmail;
  QStringList TextToSend;
  QStringList ToEmail;
  QString Subject;
  QStringList ToCCEmail;
  QStringList ToBCCEmail;
  QStringList FileNames;
  bool ShowDialog = false;
  bool ReceiptRequested = false;
  /** @brief First part of the failure message; an empty text puts the default back. */
  QString ErrorMessage() const { return errorMessage_; }
  void SetErrorMessage(const QString& text);
  /** @brief When set, the combo box lists the account addresses with the default one chosen. */
  QComboBox* ComboAccounts() const { return comboAccounts_; }
  void SetComboAccounts(QComboBox* combo);
  TNotifyEvent OnAttachmentNotFound, OnAttachmentOpenFailure, OnTooManyFiles, OnTooManyRecips, OnTextTooLarge,
      OnUserAbort;

  /** @brief Where boxes and dialogs stand (the owning form). */
  QWidget* Owner = nullptr;

  // Account settings read when the component is made.
  QString DefaultAccount;
  QString DefaultAddress;
  int DefaultAccountIndex = -1;
  QStringList Accounts;

  /** @brief Sends the mail; a failure raises its event or shows the error box. True when sent. */
  bool Send();
  /** @brief The mail call's result code; blank lines of the lists are no recipients or files. */
  int SendMapiMail(const QString& subject, const QString& body, const QStringList& files, const QStringList& to,
                   const QStringList& cc, const QStringList& bcc, const QString& from);
  /** @brief Why the last send failed, for the user. */
  QString LastErrorReason() const { return lastReason_; }
  /** @brief True while a send runs (the windows keep running meanwhile). */
  bool Sending() const { return sending_; }
  /** @brief Clears the recipients, attachments, text and subject. */
  void ClearAll();
  /** @brief The address book; chosen addresses are appended to the lists given. True when chosen. */
  bool AddressBook(QStringList* to, QStringList* cc, QStringList* bcc, const QString& caption, int editFields);
  /** @brief Raises the event of a result code; true when an assigned event took it. */
  bool DispatchMapiError(int code);
  /** @brief Reads the account settings. */
  void LoadAccounts();

 private:
  QString errorMessage_ = QStringLiteral("Error sending mail");
  QComboBox* comboAccounts_ = nullptr;
  QString lastReason_;
  bool sending_ = false;
};

}  // namespace kestrom::sheets
