#include "platform/shell/Shell.h"

#include "platform/core/Paths.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

Q_LOGGING_CATEGORY(lcShell, "kestrom.shell")

namespace kestrom::shell {

namespace {

ShellResult Fail(const QString& reason) {
  qCWarning(lcShell).noquote() << reason;
  return ShellResult{false, reason, 0};
}

// Finds the program to run; on failure, reason says why in words.
QString Resolve(const QString& program, QString* reason) {
  const QString path = ProgramPath(program);
  if (path.isEmpty()) {
    *reason = QStringLiteral("No program was given to start.");
    return {};
  }
  QString found = path;
  if (!path.contains(QLatin1Char('/'))) {
    found = QStandardPaths::findExecutable(path);
    if (found.isEmpty()) {
      *reason = QStringLiteral("Cannot start %1: no such program is installed.").arg(path);
      return {};
    }
  }
  const QFileInfo info(found);
  if (!info.exists()) {
    *reason = QStringLiteral("Cannot start %1: the program does not exist.").arg(QDir::toNativeSeparators(found));
    return {};
  }
  if (!info.isFile() || !info.isExecutable()) {
    *reason = QStringLiteral("Cannot start %1: it is not a program.").arg(QDir::toNativeSeparators(found));
    return {};
  }
  return info.absoluteFilePath();
}

bool CheckFolder(const QString& folder, QString* reason) {
  if (folder.isEmpty() || QFileInfo(folder).isDir()) return true;
  *reason = QStringLiteral("Cannot start the program in %1: the folder does not exist.").arg(folder);
  return false;
}

bool IsWebAddress(const QString& text) {
  static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
  // A drive letter ("C:") is not a scheme: schemes have two characters at least.
  return scheme.match(text).hasMatch();
}

}  // namespace

QString ProgramPath(const QString& name) {
  QString path = name.trimmed();
  path.replace(QLatin1Char('\\'), QLatin1Char('/'));
  return core::ProgramName(path);
}

QStringList SplitParameters(const QString& parameters) {
  QStringList arguments;
  QString current;
  bool inQuotes = false;
  bool have = false;  // an argument has begun (it may still be empty: "")
  for (const QChar c : parameters) {
    if (c == QLatin1Char('"')) {
      inQuotes = !inQuotes;
      have = true;
    } else if (!inQuotes && (c == QLatin1Char(' ') || c == QLatin1Char('\t'))) {
      if (have) arguments << current;
      current.clear();
      have = false;
    } else {
      current += c;
      have = true;
    }
  }
  if (have) arguments << current;
  return arguments;
}

ShellResult ShellExecute(const QString& program, const QStringList& arguments, const QString& workingFolder) {
  QString reason;
  const QString path = Resolve(program, &reason);
  if (path.isEmpty() || !CheckFolder(workingFolder, &reason)) return Fail(reason);
  qint64 pid = 0;
  if (!QProcess::startDetached(path, arguments, workingFolder, &pid))
    return Fail(QStringLiteral("Cannot start %1.").arg(QDir::toNativeSeparators(path)));
  return ShellResult{true, {}, pid};
}

ShellResult ShellExecuteParams(const QString& program, const QString& parameters, const QString& workingFolder) {
  return ShellExecute(program, SplitParameters(parameters), workingFolder);
}

WaitResult ExecuteAndWait(const QString& program, const QStringList& arguments, const QString& workingFolder,
                          const std::function<bool()>& giveUp) {
  WaitResult result;
  const QString path = Resolve(program, &result.reason);
  if (path.isEmpty() || !CheckFolder(workingFolder, &result.reason)) {
    qCWarning(lcShell).noquote() << result.reason;
    return result;
  }
  // Our own child rather than a QProcess: a QProcess kills its program when it goes, and a wait
  // that is given up must leave an installer running.
  QList<QByteArray> args{QFile::encodeName(path)};
  for (const QString& a : arguments) args << a.toLocal8Bit();
  std::vector<char*> argv;
  for (QByteArray& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const QByteArray folder = QFile::encodeName(workingFolder);
  if (!workingFolder.isEmpty()) posix_spawn_file_actions_addchdir_np(&actions, folder.constData());
  pid_t pid = 0;
  const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    result.reason = QStringLiteral("Cannot start %1: %2.").arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(strerror(error)));
    qCWarning(lcShell).noquote() << result.reason;
    return result;
  }
  result.started = true;
  result.pid = pid;

  QEventLoop loop;
  QTimer poll;
  const auto check = [&] {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      result.finished = true;
      if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
      } else {
        result.crashed = true;
        result.exitCode = 128 + WTERMSIG(status);
      }
      loop.quit();
    } else if (done < 0 && errno != EINTR) {
      result.reason = QStringLiteral("Lost track of %1.").arg(QDir::toNativeSeparators(path));
      loop.quit();
    } else if (giveUp && giveUp()) {
      loop.quit();
    }
  };
  QObject::connect(&poll, &QTimer::timeout, &loop, check);
  poll.start(50);
  check();
  // Quitting the application ends this loop too, and the wait is given up.
  if (!result.finished && result.reason.isEmpty() && !(giveUp && giveUp())) loop.exec();
  if (!result.finished) {
    // Given up: the program runs on; reap it when it ends so it leaves no zombie behind.
    std::thread([pid] {
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  }
  return result;
}

ShellResult OpenDocument(const QString& pathOrUrl) {
  QString target = pathOrUrl.trimmed();
  if (target.isEmpty()) return Fail(QStringLiteral("Nothing was given to open."));
  if (!IsWebAddress(target)) {
    target.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!QFileInfo::exists(target))
      return Fail(QStringLiteral("Cannot open %1: the file does not exist.").arg(QDir::toNativeSeparators(target)));
    target = QFileInfo(target).absoluteFilePath();
  }
  const QByteArray opener = qgetenv("KESTROM_OPENER");
  const QString program = opener.isEmpty() ? QStringLiteral("xdg-open") : QString::fromLocal8Bit(opener);
  // The opener ends at once with an error when no program is set up for the document; one that
  // is still busy after a moment has handed it on (or shows it itself) and runs on.
  QElapsedTimer waited;
  waited.start();
  const WaitResult w = ExecuteAndWait(program, {target}, {}, [&] { return waited.elapsed() > 1500; });
  if (!w.started) return Fail(QStringLiteral("Cannot open %1: %2").arg(pathOrUrl, w.reason));
  if (w.finished && w.exitCode != 0)
    return Fail(QStringLiteral("Cannot open %1: no program to show it is set up on this system (%2 ended with code %3).")
                    .arg(QDir::toNativeSeparators(target), program)
                    .arg(w.exitCode));
  return ShellResult{true, {}, w.pid};
}

QString HelpPageFor(const QString& helpFile, const QString& programFolder) {
  const QString folder = programFolder.isEmpty() ? core::ProgramFolder() : programFolder;
  const QDir help(QDir(folder).filePath(QStringLiteral("resources/help")));
  const QString base = QFileInfo(QString(helpFile).replace(QLatin1Char('\\'), QLatin1Char('/'))).completeBaseName();
  const QString page = base + QStringLiteral(".html");
  if (help.exists(page)) return help.filePath(page);
  // Files copied from another system may differ in letter case only.
  for (const QString& name : help.entryList({QStringLiteral("*.html")}, QDir::Files))
    if (name.compare(page, Qt::CaseInsensitive) == 0) return help.filePath(name);
  return help.filePath(page);
}

ShellResult OpenHelpFile(const QString& helpFile, const QString& programFolder) {
  const QString page = HelpPageFor(helpFile, programFolder);
  if (!QFileInfo::exists(page))
    return Fail(QStringLiteral("Help is not installed: %1 was not found.").arg(QDir::toNativeSeparators(page)));
  return OpenDocument(page);
}

}  // namespace kestrom::shell
