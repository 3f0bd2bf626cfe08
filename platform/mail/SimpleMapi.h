#pragma once
// The mail calls the programs make, as the platform's simple mail interface offers them:
// MAPISendMail sends one message, MAPIAddress opens the address book. Here a message goes out over
// SMTP (libcurl) from a mail account kept in the registry (MailAccounts.h); the address book is our
// own, filled by every successful send. Results are the interface's published codes; the reason
// of the last failure, in words for the user, is kept per thread (MapiLastErrorText).

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

class QWidget;

namespace kestrom::mail {

using ULONG = uint32_t;
using FLAGS = uint32_t;
using LHANDLE = uintptr_t;

// Result codes.
inline constexpr ULONG SUCCESS_SUCCESS = 0;
inline constexpr ULONG MAPI_USER_ABORT = 1;
inline constexpr ULONG MAPI_E_FAILURE = 2;
inline constexpr ULONG MAPI_E_LOGIN_FAILURE = 3;
inline constexpr ULONG MAPI_E_INSUFFICIENT_MEMORY = 5;
inline constexpr ULONG MAPI_E_TOO_MANY_FILES = 9;
inline constexpr ULONG MAPI_E_TOO_MANY_RECIPIENTS = 10;
inline constexpr ULONG MAPI_E_ATTACHMENT_NOT_FOUND = 11;
inline constexpr ULONG MAPI_E_ATTACHMENT_OPEN_FAILURE = 12;
inline constexpr ULONG MAPI_E_UNKNOWN_RECIPIENT = 14;
inline constexpr ULONG MAPI_E_BAD_RECIPTYPE = 15;
inline constexpr ULONG MAPI_E_TEXT_TOO_LARGE = 18;
inline constexpr ULONG MAPI_E_NETWORK_FAILURE = 23;
inline constexpr ULONG MAPI_E_INVALID_EDITFIELDS = 24;

// Recipient classes.
inline constexpr ULONG MAPI_ORIG = 0;
inline constexpr ULONG MAPI_TO = 1;
inline constexpr ULONG MAPI_CC = 2;
inline constexpr ULONG MAPI_BCC = 3;

// Flags of the calls and of the message.
inline constexpr FLAGS MAPI_LOGON_UI = 0x1;
inline constexpr FLAGS MAPI_NEW_SESSION = 0x2;
inline constexpr FLAGS MAPI_DIALOG = 0x8;
inline constexpr FLAGS MAPI_RECEIPT_REQUESTED = 0x2;

/** @brief One recipient; the address may carry the "SMTP:" address type in front. */
struct MapiRecipDesc {
  ULONG ulReserved = 0;
  ULONG ulRecipClass = MAPI_TO;
  QString lpszName;
  QString lpszAddress;
};

/** @brief One attachment: the file on disk and the name the receiver sees (empty: the file's name). */
struct MapiFileDesc {
  ULONG ulReserved = 0;
  ULONG flFlags = 0;
  int32_t nPosition = -1;
  QString lpszPathName;
  QString lpszFileName;
};

/**
 * @brief One message. The originator, when given, chooses the mail account that sends it (the
 * account whose address it is, without regard to letter case; else the default account).
 */
struct MapiMessage {
  ULONG ulReserved = 0;
  QString lpszSubject;
  QString lpszNoteText;
  FLAGS flFlags = 0;
  std::optional<MapiRecipDesc> lpOriginator;
  std::vector<MapiRecipDesc> lpRecips;
  std::vector<MapiFileDesc> lpFiles;
};

/**
 * @brief Sends a message. Everything that can be checked is checked before a connection is made
 * (attachments readable, addresses and subject well formed, an account with a server); a
 * recipient refused by the server sends nothing. With MAPI_DIALOG a review box is shown first
 * (Cancel: MAPI_USER_ABORT). The transfer runs on a worker thread while this thread's events are
 * processed; the call returns at its end. The registry is only read, except for the address book,
 * which learns the recipients of a sent message.
 */
ULONG MAPISendMail(LHANDLE session, QWidget* parent, const MapiMessage& message, FLAGS flags, ULONG reserved = 0);

/**
 * @brief The address book: chooses recipients from the addresses mail has been sent to, into as
 * many classes as editFields allows (0 browse only, 1 To, 2 To and Cc, 3 or 4 To, Cc and Bcc).
 * Cancel: MAPI_USER_ABORT. The chosen recipients come back in newRecips.
 */
ULONG MAPIAddress(LHANDLE session, QWidget* parent, const QString& caption, ULONG editFields, const QString& labels,
                  const std::vector<MapiRecipDesc>& recips, FLAGS flags, ULONG reserved,
                  std::vector<MapiRecipDesc>* newRecips);

/** @brief Why the last call on this thread failed, in words for the user (empty after a success). */
QString MapiLastErrorText();

/** @brief The registry key of the address book (HKEY_CURRENT_USER). */
inline constexpr const char* kAddressBookKey = "\\Software\\Kestrom\\Address Book";

/** @brief The addresses in the address book, in the order they were first used. */
QStringList AddressBookEntries();

/** @brief Forgets the SMTP passwords asked for in this run (tests). */
void ForgetPasswords();

}  // namespace kestrom::mail
