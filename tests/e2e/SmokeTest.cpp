// Starts KestromRuvodo as a coach would, on a real X display, from a clean system drive: it must
// come up with both analysis windows listed under their title, run its first-run checks, and end
// when another program posts it WM_QUIT.
#include "common/startup/GlobalPaths.h"
#include "platform/winmsg/WinMsg.h"
#include "tests/TestSupport.h"
#include "tests/e2e/ProgramTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QScopeGuard>
#include <gtest/gtest.h>

namespace kestrom {
namespace {

using winmsg::WindowInfo;
using test::WaitFor;
using test::WindowsOf;

TEST(Smoke, AnalysisProgramStartsOnACleanDriveAndQuits) {
  ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "run under xvfb-run";
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  const QString drive = root.filePath("drive"), runtime = root.filePath("runtime"),
                registry = root.filePath("registry"), home = root.filePath("home"),
                program = root.filePath("program");
  for (const QString& folder : {drive, runtime, registry, home, program}) ASSERT_TRUE(QDir().mkpath(folder));
  // The program keeps its first-run marker beside itself, so it runs from a folder of its own.
  const QString executable = program + "/KestromRuvodo";
  ASSERT_TRUE(QFile::copy(test::BinPath("KestromRuvodo"), executable));
  setenv("KESTROM_RUNTIME_DIR", QFile::encodeName(runtime).constData(), 1);

  const std::optional<QProcessEnvironment> env =
      test::ProgramEnvironment(root.path(), drive, runtime, registry, home);
  ASSERT_TRUE(env);
  QProcess app;
  app.setProcessEnvironment(*env);
  app.setProgram(executable);
  app.setWorkingDirectory(home);
  app.setProcessChannelMode(QProcess::ForwardedChannels);
  app.start();
  ASSERT_TRUE(app.waitForStarted(10000));
  const int64_t pid = app.processId();
  auto stop = qScopeGuard([&] {
    if (app.state() != QProcess::NotRunning) {
      app.kill();
      app.waitForFinished(5000);
    }
  });

  const QString marker = program + "/Kestrom Ruvodo Installation Upgrade 2.dat";
  ASSERT_TRUE(WaitFor([&] { return WindowsOf(pid, "TKestromForm").size() == 2; }, 60000))
      << "both analysis windows were not listed";
  // The start timer has run once the first-run marker is written.
  ASSERT_TRUE(WaitFor([&] { return QFileInfo::exists(marker); }, 60000)) << "first-run checks did not finish";
  QFile markerFile(marker);
  ASSERT_TRUE(markerFile.open(QIODevice::ReadOnly));
  EXPECT_EQ(markerFile.readAll(), QByteArray("Kestrom Ruvodo Upgrade 2 Installed OK\r\n"));
  EXPECT_TRUE(QFileInfo(drive + "/KestromWORKING/Temp").isDir());

  const std::vector<WindowInfo> windows = WindowsOf(pid, "TKestromForm");
  ASSERT_EQ(windows.size(), 2u);
  int visible = 0;
  for (const WindowInfo& w : windows) {
    EXPECT_EQ(w.title, shell::AnalysisWindowTitle);
    visible += w.visible ? 1 : 0;
  }
  EXPECT_EQ(visible, 1) << "Main shows, Best waits hidden";
  const std::vector<WindowInfo> diag = WindowsOf(pid, "TDiagForm806");
  ASSERT_EQ(diag.size(), 1u);
  EXPECT_FALSE(diag[0].visible);

  // A picture of the screen for whoever looks at the run.
  const QString shot = QDir::currentPath() + "/analysis-program.png";
  // Main fills the screen; its empty picture area shows the window colour. On a loaded machine
  // the first paint can come late, so take pictures until it shows (bounded).
  QColor centre;
  const bool painted = WaitFor(
      [&] {
        QFile::remove(shot);
        if (QProcess::execute("import", {"-window", "root", shot}) != 0) return false;
        const QImage screen(shot);
        if (screen.isNull()) return false;
        centre = screen.pixelColor(screen.width() / 2, 150);
        return centre == QColor(0, 128, 128);
      },
      30000);
  EXPECT_TRUE(painted) << "the screen shows " << centre.name().toStdString() << " where Main's picture area should be";

  // Another program ends it, as the analysis windows end the capture program.
  WindowInfo main;
  for (const WindowInfo& w : windows)
    if (w.visible) main = w;
  ASSERT_TRUE(winmsg::PostMessage(main.handle, winmsg::WM_QUIT, 0, 0));
  ASSERT_TRUE(app.waitForFinished(30000)) << "WM_QUIT did not end the program";
  EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(app.exitCode(), 0);
  EXPECT_TRUE(WindowsOf(pid, "TKestromForm").empty());
  winmsg::Shutdown();
}

}  // namespace
}  // namespace kestrom
