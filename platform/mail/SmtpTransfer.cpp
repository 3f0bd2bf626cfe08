#include "platform/mail/SmtpTransfer.h"

#include <QRegularExpression>
#include <curl/curl.h>
#include <mutex>

namespace kestrom::mail {

namespace {

struct Conversation {
  MimeStream* message = nullptr;
  QString readError;
  QByteArray lastCommand;     // the last command we sent
  QByteArray refusal;         // the server's first refusing reply (4xx, 5xx)
  QByteArray refusedCommand;  // the command it answered
};

size_t ReadMessage(char* buffer, size_t size, size_t count, void* user) {
  auto* c = static_cast<Conversation*>(user);
  const qint64 n = c->message->Read(buffer, static_cast<qint64>(size * count));
  if (n < 0) {
    c->readError = c->message->Error();
    return CURL_READFUNC_ABORT;  // the connection closes before the end mark: the server drops the message
  }
  return static_cast<size_t>(n);
}

QByteArray LastLine(const char* data, size_t size) {
  QByteArray text(data, static_cast<qsizetype>(size));
  const QList<QByteArray> lines = text.trimmed().split('\n');
  return lines.isEmpty() ? QByteArray() : lines.last().trimmed();
}

int Trace(CURL*, curl_infotype type, char* data, size_t size, void* user) {
  auto* c = static_cast<Conversation*>(user);
  if (type == CURLINFO_HEADER_IN && c->refusal.isEmpty()) {
    const QByteArray reply = LastLine(data, size);
    if (reply.startsWith('4') || reply.startsWith('5')) {
      c->refusal = reply;
      c->refusedCommand = c->lastCommand;
    }
  }
  if (type == CURLINFO_HEADER_OUT) c->lastCommand = LastLine(data, size);
  return 0;
}

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

SmtpOutcome SendOverSmtp(const SmtpRequest& request, MimeStream& message) {
  InitCurlOnce();
  CURL* curl = curl_easy_init();
  if (!curl) return {MAPI_E_INSUFFICIENT_MEMORY, "The mail library could not be started."};
  Conversation conversation;
  conversation.message = &message;
  char errorText[CURL_ERROR_SIZE] = {};

  const MailAccount& account = request.account;
  const QByteArray url = QString("%1://%2:%3")
                             .arg(account.security == SmtpSecurity::Tls ? "smtps" : "smtp", account.server)
                             .arg(account.port)
                             .toUtf8();
  curl_easy_setopt(curl, CURLOPT_URL, url.constData());
  if (account.security == SmtpSecurity::StartTls) curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
  const QByteArray user = account.userName.toUtf8();
  const QByteArray password = request.password.toUtf8();
  if (!user.isEmpty()) {
    curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
  }
  const QByteArray from = "<" + request.envelopeFrom + ">";
  curl_easy_setopt(curl, CURLOPT_MAIL_FROM, from.constData());
  curl_slist* recipients = nullptr;
  QList<QByteArray> rcpt;
  for (const QByteArray& to : request.envelopeTo) rcpt << "<" + to + ">";
  for (const QByteArray& to : rcpt) recipients = curl_slist_append(recipients, to.constData());
  curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
  curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(curl, CURLOPT_READFUNCTION, &ReadMessage);
  curl_easy_setopt(curl, CURLOPT_READDATA, &conversation);
  curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, &Trace);
  curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &conversation);
  curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);  // feeds Trace; nothing is printed
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  // A server that stops answering for a minute is given up.
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 60L);

  const CURLcode result = curl_easy_perform(curl);
  curl_slist_free_all(recipients);
  curl_easy_cleanup(curl);

  SmtpOutcome outcome;
  if (result == CURLE_OK) return outcome;
  const QString curlText = errorText[0] ? QString::fromUtf8(errorText) : QString::fromUtf8(curl_easy_strerror(result));
  const QString reply = QString::fromUtf8(conversation.refusal);
  const bool serverRefused = !reply.isEmpty();
  outcome.reason = serverRefused ? "The server answered: " + reply : curlText;
  if (!conversation.readError.isEmpty()) {
    outcome.code = MAPI_E_ATTACHMENT_OPEN_FAILURE;
    outcome.reason = "The attachment could not be read: " + conversation.readError;
  } else if (result == CURLE_LOGIN_DENIED) {
    outcome.code = MAPI_E_LOGIN_FAILURE;
  } else if (serverRefused && conversation.refusedCommand.startsWith("RCPT")) {
    outcome.code = MAPI_E_UNKNOWN_RECIPIENT;
    outcome.reason = "The server refused the recipient " +
                     QString::fromUtf8(conversation.refusedCommand.mid(8)) + ": " + reply;
  } else if (result == CURLE_COULDNT_CONNECT || result == CURLE_COULDNT_RESOLVE_HOST ||
             result == CURLE_OPERATION_TIMEDOUT || result == CURLE_SSL_CONNECT_ERROR ||
             result == CURLE_USE_SSL_FAILED || result == CURLE_PEER_FAILED_VERIFICATION ||
             result == CURLE_RECV_ERROR || result == CURLE_SEND_ERROR || result == CURLE_GOT_NOTHING) {
    outcome.code = serverRefused ? MAPI_E_FAILURE : MAPI_E_NETWORK_FAILURE;
    if (!serverRefused) outcome.reason = QString("%1 (%2:%3)").arg(curlText, account.server).arg(account.port);
  } else {
    outcome.code = MAPI_E_FAILURE;
  }
  return outcome;
}

std::optional<QString> NetrcPassword(const QString& netrcText, const QString& host, const QString& login) {
  // Tokens separated by blanks and line ends; a macro definition runs to the next empty line.
  QStringList tokens;
  const QStringList lines = QString(netrcText).replace("\r\n", "\n").split('\n');
  bool inMacro = false;
  for (const QString& line : lines) {
    if (inMacro) {
      if (line.trimmed().isEmpty()) inMacro = false;
      continue;
    }
    const QStringList words = line.split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
    for (int i = 0; i < words.size(); ++i) {
      if (words[i].startsWith('#') && i == 0) break;
      tokens << words[i];
      if (words[i] == "macdef") inMacro = true;
    }
  }
  std::optional<QString> fallback;
  for (int i = 0; i < tokens.size(); ++i) {
    const bool isDefault = tokens[i] == "default";
    if (tokens[i] != "machine" && !isDefault) continue;
    const QString machine = isDefault ? QString() : tokens.value(i + 1);
    QString entryLogin;
    std::optional<QString> entryPassword;
    int j = i + (isDefault ? 1 : 2);
    for (; j < tokens.size() && tokens[j] != "machine" && tokens[j] != "default"; ++j) {
      if (tokens[j] == "login") entryLogin = tokens.value(++j);
      else if (tokens[j] == "password") entryPassword = tokens.value(++j);
      else if (tokens[j] == "account" || tokens[j] == "macdef") ++j;
    }
    i = j - 1;
    if (!entryPassword || (!entryLogin.isEmpty() && entryLogin != login)) continue;
    if (isDefault) {
      if (!fallback) fallback = entryPassword;
    } else if (machine.compare(host, Qt::CaseInsensitive) == 0) {
      return entryPassword;
    }
  }
  return fallback;
}

}  // namespace kestrom::mail
