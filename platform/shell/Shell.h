#pragma once
// Starting programs, documents, web addresses and help pages. Programs are started directly with
// an argument list, never through a command interpreter, so no file name can inject a command.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

namespace kestrom::shell {

/** @brief Exit code reported for a program that has not ended yet, as the platform's "still active". */
constexpr int kStillActive = 259;

/** @brief Outcome of starting something; reason says why it failed, in words for the user. */
struct ShellResult {
  bool ok = false;
  QString reason;
  int64_t pid = 0;  // of the started program, when known
  explicit operator bool() const { return ok; }
};

/** @brief Outcome of starting a program and waiting for it. */
struct WaitResult {
  bool started = false;
  bool finished = false;      // false when the wait was given up (the program keeps running)
  int exitCode = kStillActive;
  bool crashed = false;       // ended by a signal
  int64_t pid = 0;            // of the started program
  QString reason;             // why it did not start
};

/**
 * @brief A program name as the programs give it, made a Linux path: backslashes become '/', and a
 * trailing ".exe" is dropped ("C:/Kestrom/KestromExportAVI.exe" -> ".../KestromExportAVI").
 */
QString ProgramPath(const QString& name);

/**
 * @brief Splits a one-string parameter list into arguments: blanks separate arguments, a part in
 * double quotes stays one argument (quotes removed, may be empty), and quoted and unquoted pieces
 * that touch form one argument.
 */
QStringList SplitParameters(const QString& parameters);

/** @brief Starts a program with its own life (it outlives this one); the working folder may be empty. */
ShellResult ShellExecute(const QString& program, const QStringList& arguments, const QString& workingFolder = {});

/** @brief ShellExecute with a one-string parameter list split by SplitParameters. */
ShellResult ShellExecuteParams(const QString& program, const QString& parameters, const QString& workingFolder = {});

/**
 * @brief Starts a program and waits for its exit code while this program's event loop keeps running
 * (timers fire, windows repaint). The wait ends early, leaving the program running, when
 * `giveUp` returns true (looked at every 50 ms) or when the application quits.
 */
WaitResult ExecuteAndWait(const QString& program, const QStringList& arguments, const QString& workingFolder = {},
                          const std::function<bool()>& giveUp = {});

/**
 * @brief Opens a document with the desktop's program for it, or a web address in the browser
 * (xdg-open; $KESTROM_OPENER names another opener). A missing local file fails with its reason.
 */
ShellResult OpenDocument(const QString& pathOrUrl);

/**
 * @brief The help page that stands for a help file: the same name with ".html" in resources/help
 * beside the program (programFolder; default: the running program's folder).
 */
QString HelpPageFor(const QString& helpFile, const QString& programFolder = {});

/**
 * @brief Opens the help page of a help file; when it is missing, fails with a reason that says help
 * is not installed, for the caller to show.
 */
ShellResult OpenHelpFile(const QString& helpFile, const QString& programFolder = {});

}  // namespace kestrom::shell
