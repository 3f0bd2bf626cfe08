#include "analysis/sheets/MapiPostMail.h"

#include "platform/mail/MailAccounts.h"
#include "platform/ui/Dialogs.h"

#include <QComboBox>
#include <QWidget>

namespace kestrom::sheets {

using namespace kestrom::mail;

TMapiPostMail::TMapiPostMail(QObject* parent) : QObject(parent) { LoadAccounts(); }

void TMapiPostMail::SetErrorMessage(const QString& text) {
  errorMessage_ = text.isEmpty() ? QStringLiteral("Error sending mail") : text;
}

void TMapiPostMail::SetComboAccounts(QComboBox* combo) {
  comboAccounts_ = combo;
  if (!combo) return;
  combo->clear();
  combo->addItems(Accounts);
  combo->setCurrentIndex(DefaultAccountIndex);
}

void TMapiPostMail::LoadAccounts() {
  const MailAccounts accounts = ReadMailAccounts();
  DefaultAccount = accounts.defaultAccount;
  DefaultAddress = accounts.defaultAddress;
  DefaultAccountIndex = accounts.defaultIndex;
  Accounts = accounts.addresses;
}

void TMapiPostMail::ClearAll() {
  ToEmail.clear();
  ToCCEmail.clear();
  ToBCCEmail.clear();
  FileNames.clear();
  TextToSend.clear();
  Subject.clear();
}

bool TMapiPostMail::Send() {
  if (sending_) return false;  // a click that arrived while the last send was running
  QString body;
  for (const QString& line : TextToSend) body += line + "\r\n";
  const int code = SendMapiMail(Subject, body, FileNames, ToEmail, ToCCEmail, ToBCCEmail, FromEmail);
  if (code == 0) return true;
  if (!DispatchMapiError(code)) {
    QString text = errorMessage_ + " (" + QString::number(code) + ").";
    if (!lastReason_.isEmpty()) text += "\r\n" + lastReason_;
    ui::MessageRequest box;
    box.text = text;
    box.type = ui::MsgDlgType::mtError;
    ui::AppDialogs().MessageDlg(box, Owner);
  }
  return false;
}

int TMapiPostMail::SendMapiMail(const QString& subject, const QString& body, const QStringList& files,
                                const QStringList& to, const QStringList& cc, const QStringList& bcc,
                                const QString& from) {
  MapiMessage message;
  message.lpszSubject = subject;
  message.lpszNoteText = body;
  message.flFlags = ReceiptRequested ? MAPI_RECEIPT_REQUESTED : 0;
  const std::pair<const QStringList*, ULONG> lists[] = {{&to, MAPI_TO}, {&cc, MAPI_CC}, {&bcc, MAPI_BCC}};
  for (const auto& [lines, recipClass] : lists)
    for (const QString& line : *lines)
      if (!line.trimmed().isEmpty()) message.lpRecips.push_back({0, recipClass, line.trimmed(), "SMTP:" + line.trimmed()});
  for (const QString& file : files)
    if (!file.trimmed().isEmpty()) message.lpFiles.push_back({0, 0, -1, file.trimmed(), {}});
  if (!from.trimmed().isEmpty()) message.lpOriginator = MapiRecipDesc{0, MAPI_ORIG, from.trimmed(), from.trimmed()};

  QWidget* parent = Owner;
  sending_ = true;
  const ULONG code = MAPISendMail(0, parent, message, ShowDialog ? MAPI_LOGON_UI | MAPI_NEW_SESSION | MAPI_DIALOG : 0);
  sending_ = false;
  lastReason_ = MapiLastErrorText();
  return static_cast<int>(code);
}

bool TMapiPostMail::DispatchMapiError(int code) {
  const TNotifyEvent* event = nullptr;
  switch (code) {
    case MAPI_USER_ABORT: event = &OnUserAbort; break;
    case MAPI_E_TOO_MANY_FILES: event = &OnTooManyFiles; break;
    case MAPI_E_TOO_MANY_RECIPIENTS: event = &OnTooManyRecips; break;
    case MAPI_E_ATTACHMENT_NOT_FOUND: event = &OnAttachmentNotFound; break;
    case MAPI_E_ATTACHMENT_OPEN_FAILURE: event = &OnAttachmentOpenFailure; break;
    case MAPI_E_TEXT_TOO_LARGE: event = &OnTextTooLarge; break;
    default: return false;
  }
  if (!*event) return false;
  (*event)(this);
  return true;
}

bool TMapiPostMail::AddressBook(QStringList* to, QStringList* cc, QStringList* bcc, const QString& caption,
                                int editFields) {
  std::vector<MapiRecipDesc> chosen;
  const ULONG code = MAPIAddress(0, Owner, caption, static_cast<ULONG>(editFields), {}, {}, 0, 0, &chosen);
  if (code != SUCCESS_SUCCESS || editFields <= 0) return false;
  for (const MapiRecipDesc& recip : chosen) {
    QStringList* list = recip.ulRecipClass == MAPI_TO ? to : recip.ulRecipClass == MAPI_CC ? cc
                        : recip.ulRecipClass == MAPI_BCC ? bcc : nullptr;
    QString address = recip.lpszAddress;
    if (address.startsWith("SMTP:", Qt::CaseInsensitive)) address = address.mid(5);
    if (list) *list << address;
  }
  return true;
}

}  // namespace kestrom::sheets
