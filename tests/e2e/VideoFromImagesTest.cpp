// The real analysis and capture programs on a real X display, from a clean system drive: another
// program asks the capture program for a video of the pictures in Temp; the video is made from
// them in number order at the requested rate, and the analysis program tells the coach in its box
// at 430,160. With Temp empty nothing is made and nothing is shown, and the next request works.
#include "common/startup/GlobalPaths.h"
#include "platform/core/Bmp.h"
#include "platform/media/VideoReader.h"
#include "platform/winmsg/WinMsg.h"
#include "tests/TestSupport.h"
#include "tests/e2e/ProgramTestSupport.h"
#include "tools/FrameCode.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kestrom {
namespace {

using winmsg::WindowInfo;
using test::WaitFor;
using test::WindowsOf;

/** @brief What xdotool prints, trimmed; empty when it fails. */
QString XDoTool(const QStringList& arguments) {
  QProcess tool;
  tool.start("xdotool", arguments);
  if (!tool.waitForFinished(10000) || tool.exitCode() != 0) return {};
  return QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
}

/** @brief The shown window titled "Information", if any. */
QString InformationBox() { return XDoTool({"search", "--onlyvisible", "--name", "^Information$"}).section('\n', 0, 0); }

/** @brief The window's top-left corner on the screen. */
QPoint PositionOf(const QString& window) {
  const QRegularExpressionMatch m =
      QRegularExpression("Position: (-?\\d+),(-?\\d+)").match(XDoTool({"getwindowgeometry", window}));
  return m.hasMatch() ? QPoint(m.captured(1).toInt(), m.captured(2).toInt()) : QPoint(-1, -1);
}

class VideoFromImages : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "run under xvfb-run";
    ASSERT_TRUE(root_.isValid());
    drive_ = root_.filePath("drive");
    const QString runtime = root_.filePath("runtime"), registry = root_.filePath("registry"),
                  home = root_.filePath("home"), program = root_.filePath("program");
    for (const QString& folder : {drive_, runtime, registry, home, program, root_.filePath("out")})
      ASSERT_TRUE(QDir().mkpath(folder));
    // The analysis program keeps its first-run marker beside itself, so it runs from a folder of its own.
    ASSERT_TRUE(QFile::copy(test::BinPath("KestromRuvodo"), program + "/KestromRuvodo"));
    setenv("KESTROM_RUNTIME_DIR", QFile::encodeName(runtime).constData(), 1);

    const std::optional<QProcessEnvironment> env =
        test::ProgramEnvironment(root_.path(), drive_, runtime, registry, home);
    ASSERT_TRUE(env);
    for (QProcess* app : {&analysis_, &capture_}) {
      app->setProcessEnvironment(*env);
      app->setWorkingDirectory(home);
      app->setProcessChannelMode(QProcess::ForwardedChannels);
    }
    analysis_.setProgram(program + "/KestromRuvodo");
    capture_.setProgram(test::BinPath("KestromDDCapture"));
  }
  void TearDown() override {
    for (QProcess* app : {&capture_, &analysis_}) {
      if (app->state() == QProcess::NotRunning) continue;
      app->kill();
      app->waitForFinished(5000);
    }
    winmsg::Shutdown();
  }

  QString Temp() const { return drive_ + "/KestromWORKING/Temp"; }
  QString Out(const QString& name) const { return root_.filePath("out/" + name); }
  void WritePictures() {
    for (int n = 995; n <= 1004; ++n) {
      QImage picture(320, 240, QImage::Format_RGB888);
      tools::PaintCodedFrame(picture, n, 2000);
      ASSERT_TRUE(core::WriteBmpFile(Temp() + QString("/Sample%1.bmp").arg(n), picture)) << n;
    }
  }
  void EmptyTemp() {
    for (const QString& name : QDir(Temp()).entryList(QDir::Files | QDir::Hidden)) QFile::remove(Temp() + "/" + name);
  }
  /** @brief Sends a MakeVideoRequest to the capture form as an outside program does. */
  void Request(const QString& path) {
    const QByteArray record = "00050.00" + QFile::encodeName(path) + QByteArray(1, '\0');
    const winmsg::SendResult sent = winmsg::SendCopyData(captureForm_, 0, 0, record, 30000);
    ASSERT_TRUE(sent.delivered) << sent.error.toStdString();
    EXPECT_EQ(sent.result, 1) << "the request was refused";
  }
  /** @brief Waits for the analysis program's box, checks its place and closes it with Return. */
  void ExpectBoxAndClose() {
    QString box;
    ASSERT_TRUE(WaitFor([&] { return !(box = InformationBox()).isEmpty(); }, 120000)) << "no box";
    EXPECT_EQ(PositionOf(box), QPoint(430, 160));
    XDoTool({"windowfocus", "--sync", box});
    XDoTool({"key", "--clearmodifiers", "Return"});
    ASSERT_TRUE(WaitFor([&] { return InformationBox().isEmpty(); }, 30000)) << "the box did not close";
  }
  static void ExpectPictures(const QString& path) {
    media::VideoReader reader;
    ASSERT_TRUE(reader.Open(path)) << reader.ErrorString().toStdString();
    EXPECT_EQ(reader.Info().rateNum, 50 * reader.Info().rateDen);
    EXPECT_FALSE(reader.Info().hasAudio);
    QList<int> codes, expected;
    for (int64_t i = 0; i < reader.Info().frameCount; ++i) codes << tools::ReadFrameCode(reader.Frame(i));
    for (int n = 995; n <= 1004; ++n) expected << n;
    EXPECT_EQ(codes, expected);
  }

  QTemporaryDir root_;
  QString drive_;
  QProcess analysis_, capture_;
  winmsg::HWND captureForm_ = 0;
};

TEST_F(VideoFromImages, RequestMakesTheVideoAndTheAnalysisProgramSaysSo) {
  ASSERT_TRUE(XDoTool({"version"}).startsWith("xdotool")) << "xdotool is not installed";
  analysis_.start();
  ASSERT_TRUE(analysis_.waitForStarted(10000));
  ASSERT_TRUE(WaitFor([&] { return !WindowsOf(analysis_.processId(), "TKestromForm").empty(); }, 60000))
      << "the analysis program did not come up";
  ASSERT_TRUE(WaitFor([&] { return QFileInfo(Temp()).isDir(); }, 60000)) << "no Temp folder";

  capture_.start();
  ASSERT_TRUE(capture_.waitForStarted(10000));
  ASSERT_TRUE(WaitFor(
      [&] {
        const std::vector<WindowInfo> forms = WindowsOf(capture_.processId(), "TKestromCaptureForm");
        captureForm_ = !forms.empty() && forms.front().visible ? forms.front().handle : 0;
        return captureForm_ != 0;
      },
      60000))
      << "the capture form never showed";
  // Its start step chose the test camera, whose discovered formats the component keeps in the registry.
  ASSERT_TRUE(WaitFor(
      [&] {
        for (const QFileInfo& hive : QDir(root_.filePath("registry")).entryInfoList(QDir::Files)) {
          QFile file(hive.absoluteFilePath());
          if (file.open(QIODevice::ReadOnly) && file.readAll().contains("Kestrom Test Camera")) return true;
        }
        return false;
      },
      60000))
      << "the start step did not choose the test camera";

  // Pictures whose names sort wrongly as plain text: the video takes them by number.
  WritePictures();
  const QString first = Out("first.avi");
  Request(first);
  ExpectBoxAndClose();
  ExpectPictures(first);

  // Nothing in Temp: the packing runs (its file appears) and ends the run; no video, no box.
  EmptyTemp();
  const QString none = Out("none.avi");
  Request(none);
  ASSERT_TRUE(WaitFor([&] { return QFileInfo::exists(Temp() + "/Bitmaps.dat"); }, 60000)) << "no packing";
  // The run has ended with the packing; the capture program still answers its messages.
  EXPECT_TRUE(winmsg::SendMessageTimeout(captureForm_, winmsg::WM_USER + 77, 0, 0, 10000).delivered);
  EXPECT_FALSE(QFileInfo::exists(none));
  EXPECT_TRUE(InformationBox().isEmpty());

  // The next request works.
  WritePictures();
  const QString next = Out("next.avi");
  Request(next);
  ExpectBoxAndClose();
  ExpectPictures(next);
  EXPECT_EQ(capture_.state(), QProcess::Running);
  EXPECT_EQ(analysis_.state(), QProcess::Running);
}

}  // namespace
}  // namespace kestrom
