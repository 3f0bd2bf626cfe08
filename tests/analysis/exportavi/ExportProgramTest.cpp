// The export program: its arguments, the join of the frame files into an AVI read back as a coach's
// program reads it, failures that leave nothing at the target, and the real program answering
// an analysis window (a peer of class TKestromForm).
#include "analysis/exportavi/ExportProtocol.h"
#include "analysis/exportavi/FrameJoiner.h"
#include "platform/core/Bmp.h"
#include "platform/core/FileCopy.h"
#include "platform/core/Paths.h"
#include "platform/jpeg/Jpeg.h"
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
#include <sys/stat.h>

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

// A frame file holds the frame's area of the canvas exactly, rows padded and bottom row first,
// whatever the canvas's pixel format.
TEST(ExportProgram, FrameFilesHoldTheCanvasAreaExactly) {
  QTemporaryDir dir;
  const struct {
    const char* what;
    QImage::Format format;
    QRect area;
  } cases[] = {
      {"RGB32, odd width", QImage::Format_RGB32, QRect(3, 5, 321, 7)},
      {"ARGB32, whole canvas", QImage::Format_ARGB32, QRect(0, 0, 40, 30)},
      {"24-bit canvas", QImage::Format_RGB888, QRect(1, 2, 13, 9)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    QImage canvas(c.area.right() + 4, c.area.bottom() + 3, QImage::Format_RGB32);
    for (int y = 0; y < canvas.height(); ++y)
      for (int x = 0; x < canvas.width(); ++x) canvas.setPixel(x, y, qRgb(x & 0xFF, y * 7 & 0xFF, (x + y) & 0xFF));
    canvas = canvas.convertToFormat(c.format);
    const QString path = ExportFrameFile(dir.path(), 1);
    ASSERT_TRUE(WriteExportFrame(path, canvas, c.area).ok);
    EXPECT_EQ(QFileInfo(path).size(), 54 + ((c.area.width() * 3 + 3) & ~3) * c.area.height());
    EXPECT_EQ(core::ReadBmpFile(path), canvas.copy(c.area).convertToFormat(QImage::Format_RGB32));
  }
  EXPECT_FALSE(WriteExportFrame(ExportFrameFile(dir.path(), 2), QImage(10, 10, QImage::Format_RGB32), QRect(5, 5, 10, 10)).ok);
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

// Common rates reach the program with two decimals and are stored as their exact fractions.
TEST_F(ExportProgramJoin, CommonRatesAreStoredAsExactFractions) {
  const struct {
    double rate;
    int num, den;
  } cases[] = {{30, 30, 1},    {29.97, 30000, 1001}, {60, 60, 1}, {59.94, 60000, 1001}, {24, 24, 1},
               {23.98, 24000, 1001}, {50, 50, 1},      {25, 25, 1}, {12.5, 25, 2},         {15, 15, 1}};
  WriteFrames(3);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rate);
    const QString target = QDir(videos).filePath("rate.avi");
    const auto arguments = ParseExportArguments(ExportCommandLine(c.rate, target, 3, kWidth, kHeight), nullptr);
    ASSERT_TRUE(arguments);
    FrameJoiner joiner(*arguments, frames);
    ASSERT_TRUE(joiner.Start()) << joiner.Error().toStdString();
    ASSERT_EQ(RunToEnd(joiner), JoinState::Finished) << joiner.Error().toStdString();
    media::VideoReader reader;
    ASSERT_TRUE(reader.Open(target));
    EXPECT_EQ(reader.Info().rateNum, c.num);
    EXPECT_EQ(reader.Info().rateDen, c.den);
    EXPECT_EQ(reader.Info().frameCount, 3);
  }
}

// Sets the process's umask for a scope.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : previous_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(previous_); }

 private:
  mode_t previous_;
};

mode_t Permissions(const QString& path) {
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// Every file made for the coach gets the permissions the user's umask gives a new file, whether it
// is written in place or through a temporary file renamed over the target.
TEST_F(ExportProgramJoin, FilesForTheCoachGetTheUmasksPermissions) {
  WriteFrames(3);
  QImage picture(kWidth, kHeight, QImage::Format_RGB32);
  picture.fill(Qt::darkCyan);
  const QString source = QDir(videos).filePath("source.txt");
  ASSERT_TRUE(core::WriteFileAtomic(source, "a companion file"));
  const struct {
    const char* what;
    std::function<bool(const QString&)> write;
  } writers[] = {
      {"export",
       [&](const QString& target) {
         FrameJoiner joiner(Arguments(3, target), frames);
         return joiner.Start() && RunToEnd(joiner) == JoinState::Finished;
       }},
      {"companion or settings file", [](const QString& target) { return core::WriteTextLines(target, {"1 2 3"}).ok; }},
      {"copy", [&](const QString& target) { return core::CopyFileAtomic(source, target).ok; }},
      {"BMP picture", [&](const QString& target) { return core::WriteBmpFile(target, picture).ok; }},
      {"JPEG picture or sheet",
       [&](const QString& target) {
         jpeg::CompressToFile(picture, target, {});
         return true;
       }},
  };
  for (const mode_t mask : {mode_t(022), mode_t(002), mode_t(077)}) {
    const ScopedUmask scoped(mask);
    for (const auto& w : writers) {
      SCOPED_TRACE(testing::Message() << w.what << " under umask 0" << std::oct << mask);
      const QString target = QDir(videos).filePath(QStringLiteral("made-%1").arg(int(mask)));
      QFile::remove(target);
      ASSERT_TRUE(w.write(target));
      EXPECT_EQ(Permissions(target), 0666 & ~mask) << std::oct << Permissions(target);
    }
  }
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
  void Start(const QStringList& arguments) {
    // A session's own runtime folder, as a desktop gives it: Qt has nothing to say about it then.
    const QString runtime = dir.filePath("xdg-runtime");
    QDir().mkpath(runtime);
    QFile(runtime).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", runtime);
    program.setProcessEnvironment(environment);
    program.start(test::BinPath("KestromExportAVI"), arguments);
  }
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
  EXPECT_EQ(program.exitCode(), 0);
  // Quiet on success: nothing the libraries said reaches the terminal.
  EXPECT_EQ(program.readAllStandardError().toStdString(), "");
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
