#include "platform/mail/MailAccounts.h"

#include "platform/registry/Registry.h"

namespace kestrom::mail {

using registry::TRegistry;

MailAccounts ReadMailAccounts() {
  MailAccounts result;
  TRegistry reg(registry::HKEY_CURRENT_USER, registry::KEY_READ);
  const QString base = QString::fromLatin1(kAccountManagerKey);
  if (reg.OpenKeyReadOnly(base)) result.defaultAccount = reg.ReadString("Default Mail Account").value_or(QString());
  if (!reg.OpenKeyReadOnly(base + "\\Accounts")) return result;
  const QStringList names = reg.GetKeyNames();
  for (const QString& name : names) {
    if (!reg.OpenKeyReadOnly(base + "\\Accounts\\" + name)) continue;
    MailAccount account;
    account.keyName = name;
    account.address = reg.ReadString("SMTP Email Address").value_or(QString());
    account.server = reg.ReadString("SMTP Server").value_or(QString()).trimmed();
    account.port = reg.ReadInteger("SMTP Port").value_or(25);
    const int security = reg.ReadInteger("SMTP Secure Connection").value_or(0);
    account.security = security == 1 ? SmtpSecurity::StartTls : security == 2 ? SmtpSecurity::Tls : SmtpSecurity::None;
    account.userName = reg.ReadString("SMTP User Name").value_or(QString());
    if (reg.ValueExists("SMTP Email Address")) {
      if (name == result.defaultAccount) {
        result.defaultIndex = static_cast<int>(result.addresses.size());
        result.defaultAddress = account.address;
      }
      result.addresses << account.address;
    }
    result.accounts.push_back(account);
  }
  return result;
}

std::optional<MailAccount> SenderAccount(const MailAccounts& accounts, const QString& sender) {
  const QString wanted = sender.trimmed();
  if (!wanted.isEmpty()) {
    for (const MailAccount& account : accounts.accounts)
      if (!account.address.isEmpty() && account.address.compare(wanted, Qt::CaseInsensitive) == 0) return account;
  }
  for (const MailAccount& account : accounts.accounts)
    if (account.keyName == accounts.defaultAccount) return account;
  return std::nullopt;
}

}  // namespace kestrom::mail
