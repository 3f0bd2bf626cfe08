// Starts KestromDDCapture as the analysis window starts it, on a real X display, from a clean
// system drive: beside a window titled as the analysis window it comes up listed under its title
// with its hidden forms and ends when WM_QUIT is posted to it, as a closing analysis window does;
// started alone, it ends by itself.
#include "common/startup/GlobalPaths.h"
#include "platform/winmsg/WinMsg.h"
#include "tests/TestSupport.h"
#include "tests/e2e/ProgramTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace kestrom {
namespace {

using winmsg::WindowInfo;
using test::WaitFor;
using test::WindowsOf;

class CaptureProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "run under xvfb-run";
    ASSERT_TRUE(root_.isValid());
    const QString drive = root_.filePath("drive"), runtime = root_.filePath("runtime"),
                  registry = root_.filePath("registry"), home = root_.filePath("home");
    for (const QString& folder : {drive, runtime, registry, home}) ASSERT_TRUE(QDir().mkpath(folder));
    // This process and the program meet in one window directory.
    setenv("KESTROM_RUNTIME_DIR", QFile::encodeName(runtime).constData(), 1);

    const std::optional<QProcessEnvironment> env =
        test::ProgramEnvironment(root_.path(), drive, runtime, registry, home);
    ASSERT_TRUE(env);
    app_.setProcessEnvironment(*env);
    app_.setProgram(test::BinPath("KestromDDCapture"));
    app_.setWorkingDirectory(home);
    app_.setProcessChannelMode(QProcess::ForwardedChannels);
  }
  void TearDown() override {
    if (app_.state() != QProcess::NotRunning) {
      app_.kill();
      app_.waitForFinished(5000);
    }
    winmsg::Shutdown();
  }
  void ExpectCleanEnd() {
    EXPECT_EQ(app_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app_.exitCode(), 0) << "a non-zero code under the sanitizers is a report in the log above";
  }

  QTemporaryDir root_;
  QProcess app_;
};

TEST_F(CaptureProgram, StartsBesideTheAnalysisWindowAndQuitsOnWMQuit) {
  // The analysis program as the capture program looks for it: a top-level window of that title.
  winmsg::Window analysis("TKestromForm", shell::AnalysisWindowTitle);
  ASSERT_NE(analysis.Handle(), 0u);
  app_.start();
  ASSERT_TRUE(app_.waitForStarted(10000));
  const int64_t pid = app_.processId();

  auto listed = [&](const QString& className) {
    for (const WindowInfo& w : WindowsOf(pid))
      if (w.className == className) return std::make_optional(w);
    return std::optional<WindowInfo>();
  };
  ASSERT_TRUE(WaitFor([&] { 
    return listed("TKestromCaptureForm") && listed("TDiagForm806") && listed("TCaptureDiagForm") &&
           listed("TPreallocatedCaptureForm");
  }, 60000))
      << "the capture program's forms were not listed";
  const WindowInfo form = *listed("TKestromCaptureForm");
  EXPECT_EQ(form.title, shell::CaptureWindowTitle);
  ASSERT_TRUE(WaitFor([&] { return listed("TKestromCaptureForm")->visible; }, 30000)) << "the capture form never showed";
  for (const WindowInfo& w : WindowsOf(pid))
    if (w.className != "TKestromCaptureForm") EXPECT_FALSE(w.visible) << w.className.toStdString();

  // The start step found the analysis window and chose the test camera, whose discovered formats
  // the component keeps in the registry; the program is still there after it.
  auto cameraStored = [&] {
    for (const QFileInfo& hive : QDir(root_.filePath("registry")).entryInfoList(QDir::Files)) {
      QFile file(hive.absoluteFilePath());
      if (file.open(QIODevice::ReadOnly) && file.readAll().contains("Kestrom Test Camera")) return true;
    }
    return false;
  };
  ASSERT_TRUE(WaitFor(cameraStored, 60000)) << "the start step did not choose the test camera";
  ASSERT_EQ(app_.state(), QProcess::Running) << "the program ended beside an analysis window";

  // A closing analysis window posts WM_QUIT to every top-level window of the capture title.
  for (const WindowInfo& w : winmsg::EnumWindows())
    if (w.title == shell::CaptureWindowTitle) winmsg::PostMessage(w.handle, winmsg::WM_QUIT, 0, 0);
  ASSERT_TRUE(app_.waitForFinished(30000)) << "WM_QUIT did not end the program";
  ExpectCleanEnd();
  EXPECT_TRUE(WindowsOf(pid).empty());
}

// Started again while it runs, the program ends at once and leaves the first one, which is asked
// to come forward: never two programs previewing the camera and recording into the same files.
TEST_F(CaptureProgram, ASecondStartLeavesOneProgram) {
  winmsg::Window analysis("TKestromForm", shell::AnalysisWindowTitle);
  ASSERT_NE(analysis.Handle(), 0u);
  app_.start();
  ASSERT_TRUE(app_.waitForStarted(10000));
  const int64_t pid = app_.processId();
  auto forms = [] {
    int count = 0;
    for (const WindowInfo& w : winmsg::EnumWindows()) count += w.className == "TKestromCaptureForm";
    return count;
  };
  ASSERT_TRUE(WaitFor([&] { return forms() == 1; }, 60000)) << "the first program's form was not listed";

  QProcess second;
  second.setProcessEnvironment(app_.processEnvironment());
  second.setProgram(app_.program());
  second.setWorkingDirectory(app_.workingDirectory());
  second.setProcessChannelMode(QProcess::ForwardedChannels);
  second.start();
  ASSERT_TRUE(second.waitForStarted(10000));
  ASSERT_TRUE(second.waitForFinished(60000)) << "the second program kept running";
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_EQ(forms(), 1);
  EXPECT_FALSE(WindowsOf(pid).empty());
  ASSERT_EQ(app_.state(), QProcess::Running);

  for (const WindowInfo& w : winmsg::EnumWindows())
    if (w.title == shell::CaptureWindowTitle) winmsg::PostMessage(w.handle, winmsg::WM_QUIT, 0, 0);
  ASSERT_TRUE(app_.waitForFinished(30000));
  ExpectCleanEnd();
}

TEST_F(CaptureProgram, StartedAloneEndsByItself) {
  app_.start();
  ASSERT_TRUE(app_.waitForStarted(10000));
  ASSERT_TRUE(app_.waitForFinished(60000)) << "the program kept running without an analysis window";
  ExpectCleanEnd();
}

}  // namespace
}  // namespace kestrom
