// The window directory: this process's file of windows, and reading every other process's file.
#include "platform/winmsg/Internal.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QUrl>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcWinMsg, "kestrom.winmsg")

namespace kestrom::winmsg {

namespace detail {

namespace {

constexpr char kFileMagic[] = "kestrom-windows 1";

QString WindowsFilePath(const QString& dir, int64_t pid) {
  return dir + QLatin1Char('/') + QString::number(pid) + QStringLiteral(".win");
}

QByteArray Encode(const QString& text) { return QUrl::toPercentEncoding(text); }

QString Decode(const QByteArray& text) { return QString::fromUtf8(QByteArray::fromPercentEncoding(text)); }

void ShutdownAtExit() { LocalWindows::Get().Shutdown(); }

}  // namespace

struct LocalWindows::Entry {
  QString className;
  QString title;
  bool visible = false;
  std::shared_ptr<const MessageHandler> handler;
};

LocalWindows& LocalWindows::Get() {
  // Never destroyed: windows and the listener may be touched from static destructors.
  static LocalWindows* instance = new LocalWindows;
  return *instance;
}

void LocalWindows::StartLocked() {
  if (started_) return;
  started_ = true;
  dir_ = RuntimeDir();
  static std::once_flag atExit;
  std::call_once(atExit, [] { std::atexit(ShutdownAtExit); });
  static bool postRoutine = false;
  if (!postRoutine && QCoreApplication::instance()) {
    postRoutine = true;
    qAddPostRoutine(ShutdownAtExit);
  }
  if (dir_.isEmpty()) {
    qCWarning(lcWinMsg) << "no usable runtime folder; this program's windows cannot be found by others";
    return;
  }
  if (!StartListener(SocketPath(getpid())))
    qCWarning(lcWinMsg) << "cannot listen for messages; this program's windows will not answer";
}

void LocalWindows::WriteFileLocked() {
  if (dir_.isEmpty()) return;
  const QString path = WindowsFilePath(dir_, getpid());
  if (windows_.empty()) {
    QFile::remove(path);
    return;
  }
  QByteArray text = kFileMagic;
  text += "\nprocess " + QByteArray::number(static_cast<qint64>(getpid())) + ' ' +
          QByteArray::number(static_cast<qulonglong>(ProcessStartTime(getpid()).value_or(0))) + '\n';
  for (const auto& [hwnd, entry] : windows_) {
    text += "window " + QByteArray::number(static_cast<qulonglong>(hwnd), 16) + ' ' +
            (entry->visible ? "1 " : "0 ") + Encode(entry->className) + ' ' + Encode(entry->title) + '\n';
  }
  // Written whole and renamed, so a reader never sees half a list.
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
    qCWarning(lcWinMsg) << "cannot write the window list" << path << file.errorString();
}

HWND LocalWindows::Add(const QString& className, const QString& title, bool visible, MessageHandler handler) {
  std::lock_guard lock(mutex_);
  StartLocked();
  auto entry = std::make_shared<Entry>();
  entry->className = className;
  entry->title = title;
  entry->visible = visible;
  if (handler) entry->handler = std::make_shared<const MessageHandler>(std::move(handler));
  const HWND hwnd = (static_cast<HWND>(getpid()) << 32) | ++counter_;
  windows_.emplace_back(hwnd, std::move(entry));
  WriteFileLocked();
  return hwnd;
}

void LocalWindows::Remove(HWND hwnd) {
  std::lock_guard lock(mutex_);
  for (auto it = windows_.begin(); it != windows_.end(); ++it) {
    if (it->first == hwnd) {
      windows_.erase(it);
      WriteFileLocked();
      return;
    }
  }
}

void LocalWindows::SetTitle(HWND hwnd, const QString& title) {
  std::lock_guard lock(mutex_);
  for (auto& [h, entry] : windows_) {
    if (h == hwnd && entry->title != title) {
      entry->title = title;
      WriteFileLocked();
    }
  }
}

void LocalWindows::SetVisible(bool visible, HWND hwnd) {
  std::lock_guard lock(mutex_);
  for (auto& [h, entry] : windows_) {
    if (h == hwnd && entry->visible != visible) {
      entry->visible = visible;
      WriteFileLocked();
    }
  }
}

void LocalWindows::SetHandler(HWND hwnd, MessageHandler handler) {
  std::lock_guard lock(mutex_);
  for (auto& [h, entry] : windows_) {
    if (h == hwnd) entry->handler = handler ? std::make_shared<const MessageHandler>(std::move(handler)) : nullptr;
  }
}

bool LocalWindows::Has(HWND hwnd) const {
  std::lock_guard lock(mutex_);
  for (const auto& [h, entry] : windows_)
    if (h == hwnd) return true;
  return false;
}

std::optional<WindowInfo> LocalWindows::Info(HWND hwnd) const {
  std::lock_guard lock(mutex_);
  for (const auto& [h, entry] : windows_)
    if (h == hwnd) return WindowInfo{h, getpid(), entry->className, entry->title, entry->visible};
  return std::nullopt;
}

std::shared_ptr<const MessageHandler> LocalWindows::HandlerOf(HWND hwnd, bool* exists) const {
  std::lock_guard lock(mutex_);
  for (const auto& [h, entry] : windows_) {
    if (h == hwnd) {
      *exists = true;
      return entry->handler;
    }
  }
  *exists = false;
  return nullptr;
}

std::vector<WindowInfo> LocalWindows::Snapshot() const {
  std::lock_guard lock(mutex_);
  std::vector<WindowInfo> list;
  for (const auto& [h, entry] : windows_)
    list.push_back(WindowInfo{h, getpid(), entry->className, entry->title, entry->visible});
  return list;
}

void LocalWindows::Shutdown() {
  QString dir;
  {
    std::lock_guard lock(mutex_);
    if (!started_) return;
    dir = dir_;
    windows_.clear();
    started_ = false;
    dir_.clear();
  }
  // Outside the lock: the listener thread looks windows up while it finishes a message.
  StopListener();
  if (!dir.isEmpty()) {
    QFile::remove(WindowsFilePath(dir, getpid()));
    QFile::remove(dir + QLatin1Char('/') + QString::number(getpid()) + QStringLiteral(".sock"));
  }
}

std::optional<uint64_t> ProcessStartTime(int64_t pid) {
  if (pid <= 0) return std::nullopt;
  QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!stat.open(QIODevice::ReadOnly)) return std::nullopt;
  const QByteArray line = stat.readAll();
  // The command name may hold blanks and parentheses; the fields after the last ')' are fixed.
  const int paren = line.lastIndexOf(')');
  if (paren < 0) return std::nullopt;
  const QList<QByteArray> fields = line.mid(paren + 1).simplified().split(' ');
  if (fields.size() < 20) return std::nullopt;
  if (fields[0] == "Z" || fields[0] == "X" || fields[0] == "x") return std::nullopt;  // killed, not yet reaped
  bool ok = false;
  const uint64_t start = fields[19].toULongLong(&ok);  // field 22 of the line: start time
  return ok ? std::optional<uint64_t>(start) : std::nullopt;
}

namespace {

struct ProcessFile {
  int64_t pid = 0;
  uint64_t startTime = 0;
  std::vector<WindowInfo> windows;
};

std::optional<ProcessFile> ReadProcessFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  const QList<QByteArray> lines = file.readAll().split('\n');
  if (lines.size() < 2 || lines[0] != kFileMagic) return std::nullopt;
  ProcessFile result;
  const QList<QByteArray> head = lines[1].split(' ');
  if (head.size() != 3 || head[0] != "process") return std::nullopt;
  bool okPid = false, okStart = false;
  result.pid = head[1].toLongLong(&okPid);
  result.startTime = head[2].toULongLong(&okStart);
  if (!okPid || !okStart) return std::nullopt;
  for (int i = 2; i < lines.size(); ++i) {
    const QList<QByteArray> f = lines[i].split(' ');
    if (f.size() != 5 || f[0] != "window") continue;
    bool ok = false;
    WindowInfo info;
    info.handle = f[1].toULongLong(&ok, 16);
    if (!ok || ProcessOf(info.handle) != result.pid) continue;
    info.pid = result.pid;
    info.visible = f[2] == "1";
    info.className = Decode(f[3]);
    info.title = Decode(f[4]);
    result.windows.push_back(std::move(info));
  }
  return result;
}

void RemoveStale(const QString& dir, int64_t pid) {
  qCDebug(lcWinMsg) << "pruning the entries of ended process" << pid;
  QFile::remove(WindowsFilePath(dir, pid));
  QFile::remove(SocketPath(pid));
}

}  // namespace

}  // namespace detail

using detail::LocalWindows;

QString RuntimeDir() {
  QByteArray path = qgetenv("KESTROM_RUNTIME_DIR");
  if (path.isEmpty()) {
    const QByteArray xdg = qgetenv("XDG_RUNTIME_DIR");
    path = xdg.isEmpty() ? "/tmp/kestrom-" + QByteArray::number(getuid()) : xdg + "/kestrom";
  }
  struct stat st {};
  if (lstat(path.constData(), &st) != 0) {
    if (errno != ENOENT) return {};
    const QString parent = QFileInfo(QString::fromLocal8Bit(path)).path();
    QDir().mkpath(parent);
    if (mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
      qCWarning(lcWinMsg) << "cannot create the runtime folder" << path;
      return {};
    }
    if (lstat(path.constData(), &st) != 0) return {};
  }
  // Another user's folder or a planted link would let others read or fake our messages.
  if (!S_ISDIR(st.st_mode) || st.st_uid != getuid()) {
    qCWarning(lcWinMsg) << "the runtime folder" << path << "is not a folder of this user";
    return {};
  }
  if ((st.st_mode & 077) != 0 && chmod(path.constData(), 0700) != 0) return {};
  return QString::fromLocal8Bit(path);
}

QString SocketPath(int64_t pid) {
  const QString dir = RuntimeDir();
  return dir.isEmpty() ? QString() : dir + QLatin1Char('/') + QString::number(pid) + QStringLiteral(".sock");
}

bool EnumWindows(const std::function<bool(const WindowInfo&)>& callback) {
  for (const WindowInfo& info : EnumWindows())
    if (!callback(info)) return false;
  return true;
}

std::vector<WindowInfo> EnumWindows() {
  std::vector<WindowInfo> all = LocalWindows::Get().Snapshot();
  const QString dir = RuntimeDir();
  if (dir.isEmpty()) return all;
  const QStringList names = QDir(dir).entryList({QStringLiteral("*.win"), QStringLiteral("*.sock")},
                                                QDir::Files | QDir::System | QDir::Hidden, QDir::Name);
  QList<int64_t> seen;
  for (const QString& name : names) {
    bool ok = false;
    const int64_t pid = name.section(QLatin1Char('.'), 0, 0).toLongLong(&ok);
    if (!ok || pid <= 0 || pid == getpid() || seen.contains(pid)) continue;
    seen.append(pid);
    const std::optional<uint64_t> start = detail::ProcessStartTime(pid);
    const auto file = detail::ReadProcessFile(dir + QLatin1Char('/') + QString::number(pid) + QStringLiteral(".win"));
    // Gone, or the pid now belongs to another process: the entries are stale.
    if (!start || (file && file->startTime != 0 && file->startTime != *start)) {
      detail::RemoveStale(dir, pid);
      continue;
    }
    if (file) all.insert(all.end(), file->windows.begin(), file->windows.end());
  }
  return all;
}

namespace {
bool Matches(const WindowInfo& w, const QString& className, const QString& title, Qt::CaseSensitivity titleCase) {
  return (className.isEmpty() || w.className.compare(className, Qt::CaseInsensitive) == 0) &&
         (title.isEmpty() || w.title.compare(title, titleCase) == 0);
}
}  // namespace

HWND FindWindow(const QString& className, const QString& title, Qt::CaseSensitivity titleCase) {
  for (const WindowInfo& w : EnumWindows())
    if (Matches(w, className, title, titleCase)) return w.handle;
  return 0;
}

HWND FindWindow(const QString& className, const QString& title) {
  return FindWindow(className, title, Qt::CaseInsensitive);
}

std::optional<WindowInfo> GetWindowInfo(HWND hwnd) {
  if (ProcessOf(hwnd) == getpid()) return LocalWindows::Get().Info(hwnd);
  for (const WindowInfo& w : EnumWindows())
    if (w.handle == hwnd) return w;
  return std::nullopt;
}

QString GetWindowText(HWND hwnd, int maxCount) {
  if (maxCount <= 1) return {};
  const auto info = GetWindowInfo(hwnd);
  return info ? info->title.left(maxCount - 1) : QString();
}

bool IsWindow(HWND hwnd) { return hwnd != 0 && GetWindowInfo(hwnd).has_value(); }

void Shutdown() { LocalWindows::Get().Shutdown(); }

// Window

Window::Window(const QString& className, const QString& title, bool visible, MessageHandler handler)
    : handle_(LocalWindows::Get().Add(className, title, visible, std::move(handler))) {}

Window::~Window() { LocalWindows::Get().Remove(handle_); }

QString Window::ClassName() const {
  const auto info = LocalWindows::Get().Info(handle_);
  return info ? info->className : QString();
}

QString Window::Title() const {
  const auto info = LocalWindows::Get().Info(handle_);
  return info ? info->title : QString();
}

bool Window::Visible() const {
  const auto info = LocalWindows::Get().Info(handle_);
  return info && info->visible;
}

void Window::SetTitle(const QString& title) { LocalWindows::Get().SetTitle(handle_, title); }

void Window::SetVisible(bool visible) { LocalWindows::Get().SetVisible(visible, handle_); }

void Window::SetHandler(MessageHandler handler) { LocalWindows::Get().SetHandler(handle_, std::move(handler)); }

// The application window

namespace {
std::mutex appMutex;
std::unique_ptr<Window> appWindow;
}  // namespace

void SetApplicationTitle(const QString& title) {
  std::lock_guard lock(appMutex);
  if (title.isEmpty()) {
    appWindow.reset();
  } else if (appWindow && LocalWindows::Get().Has(appWindow->Handle())) {
    appWindow->SetTitle(title);
  } else {
    appWindow = std::make_unique<Window>(QStringLiteral("TApplication"), title, false);
  }
}

HWND ApplicationWindow() {
  std::lock_guard lock(appMutex);
  return appWindow && LocalWindows::Get().Has(appWindow->Handle()) ? appWindow->Handle() : 0;
}

}  // namespace kestrom::winmsg
