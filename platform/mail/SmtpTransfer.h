#pragma once
// One SMTP conversation through libcurl: envelope, then the message streamed from a MimeStream.
// Blocking; safe on any thread.

#include "platform/mail/MailAccounts.h"
#include "platform/mail/MimeMessage.h"
#include "platform/mail/SimpleMapi.h"

#include <QByteArray>
#include <QList>
#include <optional>

namespace kestrom::mail {

struct SmtpRequest {
  MailAccount account;
  QString password;                // used when the account has a user name
  QByteArray envelopeFrom;
  QList<QByteArray> envelopeTo;    // every recipient, Bcc included
};

struct SmtpOutcome {
  ULONG code = SUCCESS_SUCCESS;
  QString reason;  // for the user: the server's answer or what went wrong
};

/** @brief Sends the stream to every envelope recipient; a recipient refused ends it with nothing sent. */
SmtpOutcome SendOverSmtp(const SmtpRequest& request, MimeStream& message);

/**
 * @brief The password of login at host in a netrc text (machine/login/password entries, "default"
 * as the fallback); nothing when the text has none for them.
 */
std::optional<QString> NetrcPassword(const QString& netrcText, const QString& host, const QString& login);

}  // namespace kestrom::mail
