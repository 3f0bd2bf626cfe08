#include "platform/mail/SimpleMapi.h"

#include "platform/mail/MailAccounts.h"
#include "platform/mail/SmtpTransfer.h"
#include "platform/registry/Registry.h"
#include "platform/ui/Dialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QThread>
#include <thread>

namespace kestrom::mail {

namespace {

thread_local QString t_lastError;

// Passwords asked for in this run, by user, server and port; never written anywhere.
QHash<QString, QString>& AskedPasswords() {
  static QHash<QString, QString> passwords;
  return passwords;
}

ULONG Fail(ULONG code, const QString& reason) {
  t_lastError = reason;
  return code;
}

QString BareAddress(const QString& address) {
  QString a = address.trimmed();
  if (a.startsWith("SMTP:", Qt::CaseInsensitive)) a = a.mid(5).trimmed();
  return a;
}

// What a header or an SMTP command could be made to carry beyond the address is refused.
bool IsSoundAddress(const QString& address) {
  if (address.isEmpty() || !address.contains('@')) return false;
  for (QChar c : address)
    if (c == '\r' || c == '\n' || c == '<' || c == '>' || c == ',' || c.isSpace() || c.unicode() < 0x20) return false;
  return true;
}

QString HeaderForm(const MapiRecipDesc& recip, const QString& address) {
  const QString name = recip.lpszName.trimmed();
  if (name.isEmpty() || BareAddress(name).compare(address, Qt::CaseInsensitive) == 0) return address;
  QString quoted = name;
  quoted.replace('\\', "\\\\").replace('"', "\\\"");
  const QByteArray encoded = EncodeHeaderText(name);
  return (encoded == name.toLatin1() ? "\"" + quoted + "\"" : QString::fromLatin1(encoded)) + " <" + address + ">";
}

std::optional<QString> NetrcPasswordFor(const MailAccount& account) {
  QFile netrc(QDir::home().filePath(".netrc"));
  if (!netrc.open(QIODevice::ReadOnly)) return std::nullopt;
  return NetrcPassword(QString::fromUtf8(netrc.readAll()), account.server, account.userName);
}

QString PasswordKey(const MailAccount& account) {
  return QString("%1@%2:%3").arg(account.userName, account.server).arg(account.port);
}

// The password of an account: from ~/.netrc, else asked once per run with hidden text.
std::optional<QString> PasswordFor(const MailAccount& account, QWidget* parent) {
  if (account.userName.isEmpty()) return QString();
  if (auto it = AskedPasswords().find(PasswordKey(account)); it != AskedPasswords().end()) return *it;
  if (std::optional<QString> fromFile = NetrcPasswordFor(account)) return fromFile;
  ui::InputRequest request;
  request.caption = "Mail Password";
  request.prompt = QString("Password of %1 on %2:").arg(account.userName, account.server);
  request.hidden = true;
  std::optional<QString> typed = ui::AppDialogs().InputQuery(request, parent);
  if (typed) AskedPasswords().insert(PasswordKey(account), *typed);
  return typed;
}

// Runs the transfer on a worker thread; this thread keeps handling its events meanwhile when it
// runs an event loop, so the program's windows stay alive during a long upload.
SmtpOutcome TransferOnWorker(const SmtpRequest& request, MimeStream& stream) {
  SmtpOutcome outcome;
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() != app->thread()) return SendOverSmtp(request, stream);
  QEventLoop loop;
  std::thread worker([&] {
    outcome = SendOverSmtp(request, stream);
    QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
  });
  loop.exec(QEventLoop::AllEvents);
  worker.join();
  return outcome;
}

void RememberAddresses(const QStringList& addresses) {
  registry::TRegistry reg(registry::HKEY_CURRENT_USER);
  if (!reg.OpenKey(QString::fromLatin1(kAddressBookKey), true)) return;
  for (const QString& address : addresses)
    if (!reg.ValueExists(address)) reg.WriteString(address, address);
}

QString ReviewText(const MimeContent& content, const QStringList& bcc) {
  QString text = "From: " + content.from + "\r\nTo: " + content.to.join(", ");
  if (!content.cc.isEmpty()) text += "\r\nCc: " + content.cc.join(", ");
  if (!bcc.isEmpty()) text += "\r\nBcc: " + bcc.join(", ");
  text += "\r\nSubject: " + content.subject;
  for (const MimeAttachment& a : content.attachments) text += "\r\nAttachment: " + a.name;
  return text + "\r\n\r\nSend this message?";
}

}  // namespace

QString MapiLastErrorText() { return t_lastError; }

void ForgetPasswords() { AskedPasswords().clear(); }

ULONG MAPISendMail(LHANDLE, QWidget* parent, const MapiMessage& message, FLAGS flags, ULONG) {
  t_lastError.clear();
  MimeContent content;
  QStringList envelope, bcc;
  for (const MapiRecipDesc& recip : message.lpRecips) {
    const QString address = BareAddress(recip.lpszAddress.isEmpty() ? recip.lpszName : recip.lpszAddress);
    if (address.isEmpty()) continue;  // a blank line is no recipient
    if (!IsSoundAddress(address) || recip.lpszName.contains('\r') || recip.lpszName.contains('\n'))
      return Fail(MAPI_E_UNKNOWN_RECIPIENT, QString("\"%1\" is not an e-mail address.").arg(address.simplified()));
    switch (recip.ulRecipClass) {
      case MAPI_TO: content.to << HeaderForm(recip, address); break;
      case MAPI_CC: content.cc << HeaderForm(recip, address); break;
      case MAPI_BCC: bcc << address; break;
      default: return Fail(MAPI_E_BAD_RECIPTYPE, QString("The recipient %1 has no recipient class.").arg(address));
    }
    envelope << address;
  }
  if (envelope.isEmpty()) return Fail(MAPI_E_UNKNOWN_RECIPIENT, "The message has no recipient.");
  if (message.lpszSubject.contains('\r') || message.lpszSubject.contains('\n'))
    return Fail(MAPI_E_FAILURE, "The subject must be a single line.");
  content.subject = message.lpszSubject;
  content.body = message.lpszNoteText;
  content.receiptRequested = (message.flFlags & MAPI_RECEIPT_REQUESTED) != 0;

  for (const MapiFileDesc& file : message.lpFiles) {
    const QFileInfo info(file.lpszPathName);
    if (file.lpszPathName.isEmpty() || !info.exists() || info.isDir())
      return Fail(MAPI_E_ATTACHMENT_NOT_FOUND, QString("The attachment %1 was not found.").arg(file.lpszPathName));
    QFile probe(file.lpszPathName);
    if (!probe.open(QIODevice::ReadOnly))
      return Fail(MAPI_E_ATTACHMENT_OPEN_FAILURE,
                  QString("The attachment %1 could not be opened: %2").arg(file.lpszPathName, probe.errorString()));
    content.attachments.push_back(
        {file.lpszPathName, file.lpszFileName.isEmpty() ? info.fileName() : QFileInfo(file.lpszFileName).fileName()});
  }

  const MailAccounts accounts = ReadMailAccounts();
  const std::optional<MailAccount> account =
      SenderAccount(accounts, message.lpOriginator ? BareAddress(message.lpOriginator->lpszAddress) : QString());
  if (!account) return Fail(MAPI_E_LOGIN_FAILURE, "No mail account is set up.");
  if (account->server.isEmpty())
    return Fail(MAPI_E_LOGIN_FAILURE, QString("The mail account \"%1\" has no SMTP server.").arg(account->keyName));
  if (!IsSoundAddress(account->address))
    return Fail(MAPI_E_LOGIN_FAILURE,
                QString("The mail account \"%1\" has no valid e-mail address.").arg(account->keyName));
  content.from = account->address;

  if (flags & MAPI_DIALOG) {
    ui::MessageRequest review;
    review.text = ReviewText(content, bcc);
    review.type = ui::MsgDlgType::mtConfirmation;
    review.buttons = ui::mbOKCancel;
    review.caption = "Send Mail";
    if (ui::AppDialogs().MessageDlg(review, parent) != ui::mrOk) return Fail(MAPI_USER_ABORT, "Sending was cancelled.");
  }
  const std::optional<QString> password = PasswordFor(*account, parent);
  if (!password) return Fail(MAPI_USER_ABORT, "Sending was cancelled.");

  SmtpRequest request;
  request.account = *account;
  request.password = *password;
  request.envelopeFrom = account->address.toUtf8();
  for (const QString& address : envelope) request.envelopeTo << address.toUtf8();
  MimeStream stream(content);
  const SmtpOutcome outcome = TransferOnWorker(request, stream);
  if (outcome.code != SUCCESS_SUCCESS) {
    if (outcome.code == MAPI_E_LOGIN_FAILURE) AskedPasswords().remove(PasswordKey(*account));
    return Fail(outcome.code, outcome.reason);
  }
  RememberAddresses(envelope);
  return SUCCESS_SUCCESS;
}

QStringList AddressBookEntries() {
  registry::TRegistry reg(registry::HKEY_CURRENT_USER, registry::KEY_READ);
  QStringList entries;
  if (!reg.OpenKeyReadOnly(QString::fromLatin1(kAddressBookKey))) return entries;
  for (const QString& name : reg.GetValueNames())
    if (std::optional<QString> address = reg.ReadString(name)) entries << *address;
  return entries;
}

ULONG MAPIAddress(LHANDLE, QWidget* parent, const QString& caption, ULONG editFields, const QString&,
                  const std::vector<MapiRecipDesc>&, FLAGS, ULONG, std::vector<MapiRecipDesc>* newRecips) {
  t_lastError.clear();
  if (editFields > 4) return Fail(MAPI_E_INVALID_EDITFIELDS, "The address book has at most four lists.");
  ui::AddressBookRequest request;
  request.caption = caption;
  request.known = AddressBookEntries();
  request.editFields = static_cast<int>(editFields);
  const std::optional<ui::AddressLists> chosen = ui::AppDialogs().AddressBook(request, parent);
  if (!chosen) return Fail(MAPI_USER_ABORT, "The address book was closed.");
  if (newRecips) {
    newRecips->clear();
    const std::pair<const QStringList*, ULONG> lists[] = {{&chosen->to, MAPI_TO}, {&chosen->cc, MAPI_CC},
                                                          {&chosen->bcc, MAPI_BCC}};
    for (const auto& [list, recipClass] : lists)
      for (const QString& address : *list)
        if (!address.trimmed().isEmpty())
          newRecips->push_back({0, recipClass, address.trimmed(), "SMTP:" + address.trimmed()});
  }
  return SUCCESS_SUCCESS;
}

}  // namespace kestrom::mail
