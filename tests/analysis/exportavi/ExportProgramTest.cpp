// The export program: its arguments, the join of the frame files into an AVI read back as a coach's
// program reads it, failures that leave nothing at the target, and the real program answering
// an analysis window (a peer of class TKestromForm).
#include "analysis/exportavi/ExportProtocol.h"
#include "analysis/exportavi/FrameJoiner.h"
#include "platform/core/Bmp.h"
#include "platform/core/Paths.h"
#include "platform/media/VideoReader.h"
#include "platform/registry/Registry.h"
#include "tests/TestSupport.h"
#include "tests/platform/winmsg/PeerProcess.h"
#include "tools/FrameCode.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kestrom::exportavi {
namespace {

using test::PeerProcess;
using test::WaitUntil;

constexpr int kWidth = 320, kHeight = 240;

TEST(ExportProgram, ArgumentsAreFiveCheckedFields) {
  QString error;
  const auto good = ParseExportArguments({"00025.00", "/v/my \"best\" jump.avi", "97", "720", "576"}, &error);
  ASSERT_TRUE(good) << error.toStdString();
  EXPECT_DOUBLE_EQ(good->rate, 25.0);
  EXPECT_EQ(good->file, "/v/my \"best\" jump.avi");
  EXPECT_EQ(good->count, 97);
  EXPECT_EQ(good->width, 720);
  EXPECT_EQ(good->height, 576);
  EXPECT_DOUBLE_EQ(ParseExportArguments({"00029.97", "v.avi", "1", "2", "2"}, nullptr)->rate, 29.97);

  const QStringList bad[] = {
      {},
      {"00025.00", "v.avi", "97", "720"},
      {"00025.00", "v.avi", "97", "720", "576", "extra"},
      {"25fps", "v.avi", "97", "720", "576"},
      {"00000.00", "v.avi", "97", "720", "576"},
      {"00025.00", "", "97", "720", "576"},
      {"00025.00", "v.avi", "0", "720", "576"},
      {"00025.00", "v.avi", "-3", "720", "576"},
      {"00025.00", "v.avi", "9x", "720", "576"},
      {"00025.00", "v.avi", "97", "wide", "576"},
      {"00025.00", "v.avi", "97", "720", " 576"},
      {"00025.00", "v.avi", "99999999999", "720", "576"},
  };
  for (const QStringList& arguments : bad) {
    SCOPED_TRACE(arguments.join('|').toStdString());
    QString reason;
    EXPECT_FALSE(ParseExportArguments(arguments, &reason));
    EXPECT_FALSE(reason.isEmpty());
  }
  // What the window passes is what the program reads.
  const auto round = ParseExportArguments(ExportCommandLine(30, "a b.avi", 12, 640, 480), nullptr);
  ASSERT_TRUE(round);
  EXPECT_EQ(round->file, "a b.avi");
  EXPECT_EQ(ExportCommandLine(30, "a b.avi", 12, 640, 480)[0], "00030.00");
}

class ExportProgramJoin : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    registry::SetRegistryDirectory(dir.filePath("registry"));
    frames = dir.filePath("Temp");
    videos = dir.filePath("videos");
    ASSERT_TRUE(QDir().mkpath(frames) && QDir().mkpath(videos));
  }
  void TearDown() override { registry::SetRegistryDirectory({}); }

  /** @brief Frames Sample101.bmp on, each carrying its number, as the window saves them. */
  void WriteFrames(int count, QSize size = {kWidth, kHeight}) {
    for (int n = 1; n <= count; ++n) WriteFrame(n, size);
  }
  void WriteFrame(int n, QSize size) {
    QImage picture(size, QImage::Format_RGB32);
    tools::PaintCodedFrame(picture, n, 100);
    ASSERT_TRUE(core::WriteBmpFile(ExportFrameFile(frames, n), picture));
  }
  static void ExpectVideo(const QString& file, int count) {
    media::VideoReader reader;
    ASSERT_TRUE(reader.Open(file)) << reader.ErrorString().toStdString();
    EXPECT_EQ(reader.Info().frameCount, count);
    EXPECT_EQ(reader.Info().size, QSize(kWidth, kHeight));
    EXPECT_EQ(reader.Info().rateNum * 1.0 / reader.Info().rateDen, 25.0);
    EXPECT_EQ(reader.Info().codec, "msmpeg4v2");
    EXPECT_FALSE(reader.Info().hasAudio);
    for (int i = 0; i < count; ++i) EXPECT_EQ(tools::ReadFrameCode(reader.Frame(i)), i + 1) << "frame " << i;
  }
  /** @brief What the target's folder holds besides the target: no half-written file stays. */
  QStringList VideoFolder() const { return QDir(videos).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

  static JoinState RunToEnd(FrameJoiner& joiner) {
    for (int i = 0; i < 600 && joiner.Poll(100) == JoinState::Running; ++i) {
    }
    return joiner.State();
  }

  ExportArguments Arguments(int count, const QString& file) const {
    return ExportArguments{25.0, file, count, kWidth, kHeight};
  }

  QTemporaryDir dir;
  QString frames, videos;
};

TEST_F(ExportProgramJoin, FramesBecomeAnAviReadBackInOrderReplacingTheOldFile) {
  WriteFrames(97);
  const QString target = QDir(videos).filePath("jump.avi");
  ASSERT_TRUE(core::WriteFileAtomic(target, "an older video"));
  FrameJoiner joiner(Arguments(97, target), frames);
  ASSERT_TRUE(joiner.Start()) << joiner.Error().toStdString();
  ASSERT_EQ(RunToEnd(joiner), JoinState::Finished) << joiner.Error().toStdString();
  EXPECT_EQ(joiner.FramesDone(), 97);
  ExpectVideo(target, 97);
  EXPECT_EQ(VideoFolder(), QStringList{"jump.avi"});
}

TEST_F(ExportProgramJoin, AFailedOrCancelledJoinLeavesNothingAtTheTarget) {
  const struct {
    const char* what;
    std::function<void()> arrange;
    QString target;
    bool failsAtStart;
    QString reason;  // contained in the error
  } cases[] = {
      {"missing frame", [&] { QFile::remove(ExportFrameFile(frames, 20)); }, "v.avi", true, "Sample120.bmp"},
      {"frame of another size", [&] { WriteFrame(20, {160, 120}); }, "v.avi", false, "160 x 120"},
      {"damaged frame", [&] { core::WriteFileAtomic(ExportFrameFile(frames, 20), "BM no picture"); }, "v.avi", false,
       "Sample120.bmp"},
      {"folder that cannot take the file", [] {}, "missing-folder/v.avi", true, "cannot be written"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFrames(30);
    c.arrange();
    const QString target = QDir(videos).filePath(c.target);
    FrameJoiner joiner(Arguments(30, target), frames);
    EXPECT_EQ(joiner.Start(), !c.failsAtStart);
    EXPECT_EQ(RunToEnd(joiner), JoinState::Failed);
    EXPECT_TRUE(joiner.Error().contains(c.reason)) << joiner.Error().toStdString();
    EXPECT_FALSE(QFileInfo::exists(target));
    EXPECT_TRUE(VideoFolder().isEmpty()) << VideoFolder().join(' ').toStdString();
  }

  WriteFrames(30);
  const QString target = QDir(videos).filePath("cancelled.avi");
  FrameJoiner joiner(Arguments(30, target), frames);
  ASSERT_TRUE(joiner.Start());
  joiner.Cancel();
  EXPECT_EQ(joiner.State(), JoinState::Cancelled);
  EXPECT_TRUE(VideoFolder().isEmpty());
}

// ---- the program as a process ----------------------------------------------------------------

class ExportProgramProcess : public ExportProgramJoin {
 protected:
  void SetUp() override {
    ExportProgramJoin::SetUp();
    // The program's working folder, window directory and registry are this test's own.
    setenv("KESTROM_SYSTEM_DRIVE", QFile::encodeName(dir.path()).constData(), 1);
    setenv("KESTROM_RUNTIME_DIR", QFile::encodeName(dir.filePath("run")).constData(), 1);
    setenv("KESTROM_REGISTRY_DIR", QFile::encodeName(dir.filePath("registry")).constData(), 1);
    frames = core::JoinPath(core::WorkingFolder(), "\\Temp");
    ASSERT_TRUE(QDir().mkpath(frames));
  }
  void TearDown() override {
    if (program.state() != QProcess::NotRunning) {
      program.kill();
      program.waitForFinished(10000);
    }
    winmsg::Shutdown();
    ExportProgramJoin::TearDown();
  }
  void Start(const QStringList& arguments) { program.start(test::BinPath("KestromExportAVI"), arguments); }
  bool Ended() {
    return WaitUntil([&] { return program.state() == QProcess::NotRunning; }, 60000);
  }

  QProcess program;
};

TEST_F(ExportProgramProcess, MakesTheVideoThenTellsTheAnalysisWindow) {
  WriteFrames(97);
  PeerProcess analysis("Main", "TKestromForm", "Best", "TOtherForm");
  ASSERT_TRUE(analysis.Ready());
  const QString target = QDir(videos).filePath("my jump.avi");
  Start(ExportCommandLine(25, target, 97, kWidth, kHeight));
  ASSERT_TRUE(Ended()) << "still running";
  EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
  ExpectVideo(target, 97);
  EXPECT_EQ(VideoFolder(), QStringList{"my jump.avi"});
  EXPECT_EQ(analysis.WaitForLine("copydata "),
            QStringLiteral("copydata %1").arg(VideoCreatedRecord(target).size()));
  EXPECT_EQ(analysis.WaitForLine("message 2741"), "message 2741 0");
}

TEST_F(ExportProgramProcess, AFailureIsShownUntilClosedAndStillAnswersTheWindow) {
  WriteFrames(97);
  QFile::remove(ExportFrameFile(frames, 60));
  PeerProcess analysis("Main", "TKestromForm", "Best", "TOtherForm");
  ASSERT_TRUE(analysis.Ready());
  const struct {
    const char* what;
    QStringList arguments;
    QString reason;
  } cases[] = {
      {"missing frame", ExportCommandLine(25, QDir(videos).filePath("v.avi"), 97, kWidth, kHeight), "Sample160.bmp"},
      {"count below 1", ExportCommandLine(25, QDir(videos).filePath("v.avi"), 0, kWidth, kHeight), "below 1"},
      {"wrong argument count", {"00025.00", QDir(videos).filePath("v.avi")}, "Expected 5 arguments"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Start(c.arguments);
    EXPECT_EQ(analysis.WaitForLine("message 2741"), "message 2741 0");
    // The window says why until it is closed; the analysis program closes it with WM_QUIT.
    winmsg::HWND window = 0;
    ASSERT_TRUE(WaitUntil([&] { return (window = winmsg::FindWindow("TExportAVIForm", "Kestrom Export AVI")) != 0; }));
    EXPECT_EQ(program.state(), QProcess::Running);
    ASSERT_TRUE(winmsg::PostMessage(window, winmsg::WM_QUIT, 0, 0));
    ASSERT_TRUE(Ended());
    EXPECT_EQ(program.exitCode(), 1);
    EXPECT_TRUE(QString::fromLocal8Bit(program.readAllStandardError()).contains(c.reason));
    EXPECT_TRUE(VideoFolder().isEmpty()) << VideoFolder().join(' ').toStdString();
  }
}

}  // namespace
}  // namespace kestrom::exportavi
