#pragma once
// The media libraries' messages, kept out of the terminal. Once in use, what the libraries say at
// warning level or worse goes into the programs' own library log (the latest messages, repeats
// counted rather than kept again) and nothing reaches the terminal; a program shows the log when
// something it did failed. One policy for every program: the readers and encoders put it in use.

#include <QString>
#include <QStringList>

namespace kestrom::media {

/** @brief Most messages the log keeps; the oldest go first. */
inline constexpr int kLibraryLogSize = 200;

/**
 * @brief Routes the libraries' messages into the library log, once per process (later calls do
 * nothing). A level a program set for itself before stays the least severe level kept.
 */
void UseLibraryLog();

/** @brief The messages kept, oldest first; a message said again n times ends in "(n times)". */
QStringList LibraryMessages();

/** @brief Forgets the messages kept (before a piece of work whose failure would show them). */
void ClearLibraryMessages();

}  // namespace kestrom::media
