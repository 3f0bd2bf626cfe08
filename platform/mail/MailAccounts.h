#pragma once
// Mail accounts in the registry (HKEY_CURRENT_USER): "Default Mail Account" under the account
// manager key names the default account; each account key under its "\Accounts" holds its
// "SMTP Email Address" and our SMTP settings: "SMTP Server", "SMTP Port" (DWORD, 25),
// "SMTP Secure Connection" (DWORD: 0 none, 1 STARTTLS, 2 TLS) and "SMTP User Name". No password
// is ever stored; see SmtpPassword.h. Reading never writes.

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace kestrom::mail {

inline constexpr const char* kAccountManagerKey = "\\Software\\Microsoft\\Internet Account Manager";

enum class SmtpSecurity { None = 0, StartTls = 1, Tls = 2 };

struct MailAccount {
  QString keyName;
  QString address;  // "SMTP Email Address"
  QString server;
  int port = 25;
  SmtpSecurity security = SmtpSecurity::None;
  QString userName;
};

struct MailAccounts {
  QString defaultAccount;    // "Default Mail Account"
  QString defaultAddress;    // the default account's address
  int defaultIndex = -1;     // its position in addresses
  QStringList addresses;     // of every account that has one, in the order of the account keys
  std::vector<MailAccount> accounts;  // every account key, in order
};

/** @brief Reads the accounts; missing keys and values give empty texts and lists. */
MailAccounts ReadMailAccounts();

/**
 * @brief The account that sends for this sender: the first whose address equals it without regard
 * to letter case, else the default account; nothing when neither exists.
 */
std::optional<MailAccount> SenderAccount(const MailAccounts& accounts, const QString& sender);

}  // namespace kestrom::mail
