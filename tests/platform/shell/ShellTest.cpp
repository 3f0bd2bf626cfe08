#include "platform/shell/Shell.h"
#include "tests/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

using namespace kestrom::shell;

namespace {

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    record_ = dir_.filePath("record");
    qputenv("RECORDER_OUT", record_.toLocal8Bit());
    qunsetenv("RECORDER_WAIT_FOR");
    qunsetenv("RECORDER_EXIT");
    // A copy of the recorder under a Windows-style name in a folder with blanks.
    ASSERT_TRUE(QDir(dir_.path()).mkpath("My Programs"));
    program_ = dir_.filePath("My Programs/KestromExportAVI");
    ASSERT_TRUE(QFile::copy(kestrom::test::BinPath("shell-recorder"), program_));
  }

  // The recorded start, waited for with a bound: working folder first, then the arguments.
  QStringList Record(int boundMs = 10000) {
    QDeadlineTimer deadline(boundMs);
    while (!QFile::exists(record_) && !deadline.hasExpired()) QThread::msleep(5);
    QFile f(record_);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QStringList fields;
    for (const QByteArray& part : f.readAll().split('\0')) fields << QString::fromLocal8Bit(part);
    return fields;
  }

  // Lets a program that was left waiting end, and waits (bounded) until it is gone.
  static void Release(const QString& go, int64_t pid) {
    QFile(go).open(QIODevice::WriteOnly);
    QDeadlineTimer deadline(10000);
    while (QFile::exists(QStringLiteral("/proc/%1").arg(pid)) && !deadline.hasExpired()) QThread::msleep(5);
    EXPECT_FALSE(QFile::exists(QStringLiteral("/proc/%1").arg(pid))) << "left behind: " << pid;
  }

  QTemporaryDir dir_;
  QString record_;
  QString program_;
};

TEST(ShellParameters, SplitsAsTheCommandLineIsMeant) {
  const struct {
    QString text;
    QStringList arguments;
  } cases[] = {
      {"00025.00 \"/home/coach/my videos/jump 1.avi\" 97 720 576",
       {"00025.00", "/home/coach/my videos/jump 1.avi", "97", "720", "576"}},
      {"/home/coach/videos/jump", {"/home/coach/videos/jump"}},
      {"  a   b\tc  ", {"a", "b", "c"}},
      {"", {}},
      {"   ", {}},
      {"\"\" x", {"", "x"}},
      {"a\"b c\"d", {"ab cd"}},
      {"\"unclosed quote stays one", {"unclosed quote stays one"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitParameters(c.text), c.arguments) << qPrintable(c.text);
}

TEST(ShellParameters, ProgramNamesLoseExe) {
  EXPECT_EQ(ProgramPath("/opt/kestrom/KestromExportAVI.exe"), "/opt/kestrom/KestromExportAVI");
  EXPECT_EQ(ProgramPath("/opt/kestrom\\SendMail.EXE"), "/opt/kestrom/SendMail");
  EXPECT_EQ(ProgramPath("/opt/kestrom/tool.exe.sh"), "/opt/kestrom/tool.exe.sh");
  EXPECT_EQ(ProgramPath("xdg-open"), "xdg-open");
}

TEST_F(ShellTest, StartsAProgramWithItsArgumentsIntact) {
  const QString video = dir_.filePath("my videos/jump 1.avi");
  const ShellResult r = ShellExecuteParams(program_ + ".exe",
                                           "00025.00 \"" + video + "\" 97 720 576", dir_.path());
  ASSERT_TRUE(r) << qPrintable(r.reason);
  EXPECT_GT(r.pid, 0);
  EXPECT_EQ(Record(), (QStringList{QDir(dir_.path()).canonicalPath(), "00025.00", video, "97", "720", "576"}));
}

TEST_F(ShellTest, ArgumentsNeverReachACommandInterpreter) {
  const QStringList hostile{"$(touch " + dir_.filePath("pwned") + ")", "; touch " + dir_.filePath("pwned2"), "*", ""};
  ASSERT_TRUE(ShellExecute(program_, hostile));
  EXPECT_EQ(Record().mid(1), hostile);
  EXPECT_FALSE(QFile::exists(dir_.filePath("pwned")));
  EXPECT_FALSE(QFile::exists(dir_.filePath("pwned2")));
}

TEST_F(ShellTest, ProgramsThatCannotStartSayWhy) {
  QFile text(dir_.filePath("notes.txt"));
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.close();
  const struct {
    QString program;
    QString folder;
  } cases[] = {
      {dir_.filePath("missing/KestromExportAVI.exe"), {}},
      {dir_.filePath("notes.txt"), {}},
      {dir_.path(), {}},
      {"no-such-program-anywhere", {}},
      {"", {}},
      {program_, dir_.filePath("no such folder")},
  };
  for (const auto& c : cases) {
    const ShellResult r = ShellExecute(c.program, {}, c.folder);
    EXPECT_FALSE(r) << qPrintable(c.program);
    EXPECT_FALSE(r.reason.isEmpty());
    const WaitResult w = ExecuteAndWait(c.program, {}, c.folder);
    EXPECT_FALSE(w.started) << qPrintable(c.program);
    EXPECT_FALSE(w.reason.isEmpty());
  }
  EXPECT_TRUE(ShellExecute(program_, {}, {}).reason.isEmpty());
  EXPECT_FALSE(QFile::exists(record_ + "x"));
}

TEST_F(ShellTest, WaitingForAnExitCodeKeepsTheEventLoopRunning) {
  // The program ends only once our timer has fired a few times during the wait.
  const QString go = dir_.filePath("go");
  qputenv("RECORDER_WAIT_FOR", go.toLocal8Bit());
  qputenv("RECORDER_EXIT", "7");
  int ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (++ticks == 5) QFile(go).open(QIODevice::WriteOnly);
  });
  timer.start(10);
  const WaitResult r = ExecuteAndWait(program_ + ".exe", {"installer"}, dir_.path());
  EXPECT_TRUE(r.started);
  EXPECT_TRUE(r.finished);
  EXPECT_FALSE(r.crashed);
  EXPECT_EQ(r.exitCode, 7);
  EXPECT_GE(ticks, 5);
  EXPECT_EQ(Record().value(1), "installer");
}

TEST_F(ShellTest, AWaitGivenUpLeavesTheProgramRunning) {
  const QString go = dir_.filePath("go");
  qputenv("RECORDER_WAIT_FOR", go.toLocal8Bit());
  int asked = 0;
  const WaitResult r = ExecuteAndWait(program_, {}, {}, [&] { return ++asked >= 3; });
  EXPECT_TRUE(r.started);
  EXPECT_FALSE(r.finished);
  EXPECT_EQ(r.exitCode, kStillActive);
  EXPECT_FALSE(Record().isEmpty());  // it ran, and is still waiting for its file
  EXPECT_TRUE(QFile::exists(QStringLiteral("/proc/%1").arg(r.pid)));
  Release(go, r.pid);  // and once it ends it is reaped, not left a zombie
}

TEST_F(ShellTest, OpensDocumentsAddressesAndHelpPages) {
  qputenv("KESTROM_OPENER", program_.toLocal8Bit());
  const QString help = dir_.filePath("resources/help");
  ASSERT_TRUE(QDir().mkpath(help));
  QFile page(help + "/ZuzAzu9.html");
  ASSERT_TRUE(page.open(QIODevice::WriteOnly));
  page.close();

  ShellResult r = OpenHelpFile("C:\\Kestrom\\Help\\ZuzAzu9.hlp", dir_.path());
  ASSERT_TRUE(r) << qPrintable(r.reason);
  EXPECT_EQ(Record().value(1), help + "/ZuzAzu9.html");
  QFile::remove(record_);
  r = OpenHelpFile("/opt/kestrom/Help/zuzazu9.HLP", dir_.path());  // letter case may differ
  ASSERT_TRUE(r) << qPrintable(r.reason);
  EXPECT_EQ(Record().value(1), help + "/ZuzAzu9.html");
  QFile::remove(record_);

  r = OpenHelpFile("C:\\Kestrom\\Help\\Kestrom.hlp", dir_.path());
  EXPECT_FALSE(r);
  EXPECT_TRUE(r.reason.startsWith("Help is not installed")) << qPrintable(r.reason);

  ASSERT_TRUE(OpenDocument("https://example.org/coaching"));
  EXPECT_EQ(Record().value(1), "https://example.org/coaching");
  QFile::remove(record_);

  r = OpenDocument(dir_.filePath("no such video.avi"));
  EXPECT_FALSE(r);
  EXPECT_TRUE(r.reason.contains("does not exist")) << qPrintable(r.reason);

  // No browser set up: the opener gives up with an error, and that is a failure to report.
  qputenv("KESTROM_OPENER", "false");
  r = OpenHelpFile("C:\\Kestrom\\Help\\ZuzAzu9.hlp", dir_.path());
  EXPECT_FALSE(r);
  EXPECT_TRUE(r.reason.contains("ZuzAzu9.html")) << qPrintable(r.reason);
  qunsetenv("KESTROM_OPENER");
}

// Last in the file: once the application was told to quit, no further event loop runs in this process.
TEST_F(ShellTest, WaitEndsWhenTheApplicationQuits) {
  const QString go = dir_.filePath("go");
  qputenv("RECORDER_WAIT_FOR", go.toLocal8Bit());
  QTimer::singleShot(30, [] { QCoreApplication::exit(0); });
  const WaitResult r = ExecuteAndWait(program_, {});
  EXPECT_TRUE(r.started);
  EXPECT_FALSE(r.finished);
  Release(go, r.pid);
}

}  // namespace
