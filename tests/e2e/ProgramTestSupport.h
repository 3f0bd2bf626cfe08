#pragma once
// What the tests that start the real programs share: the environment the programs start in, a
// bounded wait that looks now and then, and the windows a program has listed.
#include "platform/winmsg/WinMsg.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QThread>
#include <functional>
#include <optional>
#include <vector>

namespace kestrom::test {

/** @brief Waits until the condition holds, looking every 100 ms, at most timeoutMs. */
inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
  QElapsedTimer waited;
  waited.start();
  while (!condition()) {
    if (waited.elapsed() > timeoutMs) return false;
    QThread::msleep(100);
  }
  return true;
}

/** @brief The top-level windows the process has listed, of one class when className is given. */
inline std::vector<winmsg::WindowInfo> WindowsOf(int64_t pid, const QString& className = {}) {
  std::vector<winmsg::WindowInfo> found;
  for (const winmsg::WindowInfo& w : winmsg::EnumWindows())
    if (w.pid == pid && (className.isEmpty() || w.className == className)) found.push_back(w);
  return found;
}

/**
 * @brief The environment a program starts in on the X display, from a clean system drive, its own
 * window directory, registry and home. Leaks inside the system's own libraries are theirs (their
 * suppressions are written to root/lsan-suppressions.txt); our own still fail the run. Nothing
 * when that file cannot be written.
 */
inline std::optional<QProcessEnvironment> ProgramEnvironment(const QString& root, const QString& drive,
                                                             const QString& runtime, const QString& registry,
                                                             const QString& home) {
  const QString suppressions = QDir(root).filePath("lsan-suppressions.txt");
  QFile file(suppressions);
  if (!file.open(QIODevice::WriteOnly)) return std::nullopt;
  file.write("leak:libfontconfig\nleak:libQt6\nleak:libX11\nleak:libxcb\nleak:libglib\nleak:libdbus\n"
             "leak:libfreetype\nleak:libasound\n");
  file.close();
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("LSAN_OPTIONS", "suppressions=" + suppressions);
  env.insert("QT_QPA_PLATFORM", "xcb");
  env.insert("KESTROM_SYSTEM_DRIVE", drive);
  env.insert("KESTROM_RUNTIME_DIR", runtime);
  env.insert("KESTROM_REGISTRY_DIR", registry);
  env.insert("HOME", home);
  env.remove("KESTROM_DRIVES");
  env.remove("KESTROM_TEST_RUN");
  env.remove("KESTROM_TEST_DEVICES");
  return env;
}

}  // namespace kestrom::test
