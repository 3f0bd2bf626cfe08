#pragma once
// For mail tests: a real SMTP server (tests/fixtures/smtp-server, aiosmtpd on 127.0.0.1) that
// stores every message it accepts, and mail accounts in a registry of the test's own.

#include "tests/TestSupport.h"
#include "platform/registry/Registry.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>
#include <vector>

namespace kestrom::test {

/** @brief A message as the server stored it. */
struct ReceivedMail {
  QString from;
  QStringList to;  // the envelope's recipients
  QList<QPair<QString, QString>> headers;
  QString body;
  std::map<QString, QByteArray> attachments;  // by file name
  qint64 size = 0;                            // --discard only

  QStringList Header(const QString& name) const {
    QStringList values;
    for (const auto& [key, value] : headers)
      if (key.compare(name, Qt::CaseInsensitive) == 0) values << value;
    return values;
  }
};

struct SmtpServerOptions {
  qint64 sizeLimit = 0;
  QString refuse;  // recipients starting with this are refused
  bool discard = false;
};

class SmtpServer {
 public:
  using Options = SmtpServerOptions;

  explicit SmtpServer(const Options& options = {}) {
    QStringList args = {FixturesDir() + "/smtp-server/smtp_server.py", "--store", store_.path()};
    if (options.sizeLimit) args << "--size-limit" << QString::number(options.sizeLimit);
    if (!options.refuse.isEmpty()) args << "--refuse" << options.refuse;
    if (options.discard) args << "--discard";
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start("/usr/bin/python3", args);
    if (!process_.waitForStarted(10000)) return;
    while (process_.state() == QProcess::Running && !process_.canReadLine()) process_.waitForReadyRead(200);
    const QByteArray line = process_.readLine().trimmed();
    if (line.startsWith("ready ")) port_ = line.mid(6).toInt();
  }
  ~SmtpServer() { Stop(); }

  /** @brief The port it listens on; 0 when it did not start. */
  int Port() const { return port_; }

  /** @brief Stops listening: later connections are refused. */
  void Stop() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.closeWriteChannel();
    if (!process_.waitForFinished(5000)) {
      process_.kill();
      process_.waitForFinished(5000);
    }
  }

  /** @brief Every message accepted so far, in order. */
  std::vector<ReceivedMail> Messages() const {
    std::vector<ReceivedMail> mails;
    for (int n = 1;; ++n) {
      const QDir dir(store_.path() + "/" + QString::number(n));
      if (!dir.exists()) break;
      ReceivedMail mail;
      const QJsonObject record = QJsonDocument::fromJson(Read(dir.filePath("envelope.json"))).object();
      mail.from = record["from"].toString();
      for (const QJsonValue& to : record["to"].toArray()) mail.to << to.toString();
      for (const QJsonValue& header : record["headers"].toArray())
        mail.headers.append({header.toArray()[0].toString(), header.toArray()[1].toString()});
      mail.size = record["size"].toInteger();
      mail.body = QString::fromUtf8(Read(dir.filePath("body.txt")));
      const QDir attachments(dir.filePath("attachments"));
      for (const QString& name : attachments.entryList(QDir::Files)) mail.attachments[name] = Read(attachments.filePath(name));
      mails.push_back(mail);
    }
    return mails;
  }

 private:
  static QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  QTemporaryDir store_;
  QProcess process_;
  int port_ = 0;
};

/** @brief Mail accounts in a registry of the test's own, for its lifetime. */
class MailAccountsFixture {
 public:
  MailAccountsFixture() { registry::SetRegistryDirectory(dir_.path()); }
  ~MailAccountsFixture() { registry::SetRegistryDirectory({}); }

  struct Account {
    QString key, address, server = "127.0.0.1";
    int port = 25;
    QString userName;
  };

  void Add(const Account& account) {
    registry::TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("\\Software\\Microsoft\\Internet Account Manager\\Accounts\\" + account.key, true));
    reg.WriteString("SMTP Email Address", account.address);
    if (!account.server.isEmpty()) reg.WriteString("SMTP Server", account.server);
    reg.WriteInteger("SMTP Port", account.port);
    reg.WriteInteger("SMTP Secure Connection", 0);
    if (!account.userName.isEmpty()) reg.WriteString("SMTP User Name", account.userName);
  }

  void SetDefault(const QString& key) {
    registry::TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("\\Software\\Microsoft\\Internet Account Manager", true));
    reg.WriteString("Default Mail Account", key);
  }

  QString Default() {
    registry::TRegistry reg;
    reg.OpenKeyReadOnly("\\Software\\Microsoft\\Internet Account Manager");
    return reg.ReadString("Default Mail Account").value_or("<none>");
  }

 private:
  QTemporaryDir dir_;
};

}  // namespace kestrom::test
