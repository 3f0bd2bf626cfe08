#include "analysis/playback/VideoOpening.h"

#include "FakePlayer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kestrom::playback {
namespace {

using test::FakeClip;
using test::FakePlayer;

class VideoOpeningTest : public ::testing::Test {
 protected:
  QString MakeFile(const QString& name, qint64 size) {
    const QString path = dir_.filePath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    EXPECT_TRUE(f.resize(size));
    return path;
  }

  QTemporaryDir dir_;
  FakePlayer player_;
};

TEST_F(VideoOpeningTest, RefusesFilesUnder200BytesWithoutTouchingThePlayer) {
  const QString small = MakeFile("small.avi", 199);
  const QString exact = MakeFile("exact.avi", 200);
  const QString missing = dir_.filePath("missing.avi");
  player_.clips[exact] = FakeClip{320, 240, 10, 400};
  player_.SetFileName("/videos/previous.avi");

  for (const QString& path : {small, missing, dir_.path()}) {
    const OpenOutcome out = OpenVideoFile(player_, path, "");
    EXPECT_EQ(out.status, OpenStatus::BadFormat) << path.toStdString();
    EXPECT_EQ(out.messages, QStringList({"Error : Incorrect video file format", path}));
    EXPECT_EQ(player_.FileName(), "/videos/previous.avi");
  }
  EXPECT_EQ(player_.openCalls, 0);

  const OpenOutcome ok = OpenVideoFile(player_, exact, "");
  EXPECT_EQ(ok.status, OpenStatus::Opened);
  EXPECT_TRUE(ok.messages.isEmpty());
  EXPECT_EQ(player_.FileName(), exact);
}

TEST_F(VideoOpeningTest, AShortScriptOpensAndOnlyAnEmptyOneIsRefused) {
  const QString script = MakeFile("Trimmed.AVS", 73);  // AVISource("...").Trim(10, 59)
  const QString empty = MakeFile("empty.avs", 0);
  const QString shortAvi = MakeFile("short.avi", 73);
  player_.clips[script] = FakeClip{320, 240, 50, 2000};
  player_.clips[shortAvi] = FakeClip{320, 240, 50, 2000};

  EXPECT_EQ(OpenVideoFile(player_, script, "").status, OpenStatus::Opened);
  EXPECT_EQ(player_.FileName(), script);
  for (const QString& path : {empty, shortAvi, dir_.filePath("missing.avs")})
    EXPECT_EQ(OpenVideoFile(player_, path, "").status, OpenStatus::BadFormat) << path.toStdString();
  EXPECT_EQ(player_.FileName(), script);
}

TEST_F(VideoOpeningTest, RefusesTheOtherWindowsFileByExactName) {
  const QString clip = MakeFile("clip.avi", 5000);
  player_.clips[clip] = FakeClip{};

  const OpenOutcome same = OpenVideoFile(player_, clip, clip);
  EXPECT_EQ(same.status, OpenStatus::SameFile);
  EXPECT_EQ(same.messages, QStringList({"You have selected the same video file name.\r\n"
                                        "This video is already shown in the other window.\r\n"
                                        "Please select a different video"}));
  EXPECT_EQ(player_.FileName(), "");
  EXPECT_EQ(player_.openCalls, 0);

  // Another letter case is another file on this system.
  QString upper = clip;
  upper.replace("clip.avi", "CLIP.avi");
  EXPECT_EQ(OpenVideoFile(player_, clip, upper).status, OpenStatus::Opened);
}

TEST_F(VideoOpeningTest, MeasuresA1000FrameClipOf40Seconds) {
  const QString clip = MakeFile("clip.avi", 4096);
  player_.clips[clip] = FakeClip{720, 576, 1000, 40000};

  const OpenOutcome out = OpenVideoFile(player_, clip, "/elsewhere/other.avi");
  ASSERT_EQ(out.status, OpenStatus::Opened);
  const VideoFacts& v = out.video;
  EXPECT_TRUE(v.VideoOpen);
  EXPECT_EQ(v.VideoFileName, clip);
  EXPECT_EQ(v.VideoName, dir_.filePath("clip"));
  EXPECT_EQ(v.FrameWidth, 720);
  EXPECT_EQ(v.FrameHeight, 576);
  EXPECT_EQ(v.LengthFrames, 1000);
  EXPECT_EQ(v.LengthMs, 40000);
  EXPECT_DOUBLE_EQ(v.FrameDuration, 40.0);
  EXPECT_EQ(v.FramesPerSecond, 25);
  EXPECT_EQ(FpsStatusText(v.FramesPerSecond), " 25 fps");

  const ScrollRange r = ScrollRangeFor(v.LengthMs, v.FrameDuration);
  EXPECT_EQ(r.minimum, 0);
  EXPECT_EQ(r.maximum, 39920);
  EXPECT_EQ(r.smallChange, 40);
  EXPECT_EQ(r.largeChange, 400);
}

TEST_F(VideoOpeningTest, CompanionNamesFollowTheVideoName) {
  const VideoCompanionNames n = VideoCompanionNames::ForVideoName(VideoNameOf("/home/coach/Jump 1.avi"));
  const QStringList suffixes = {".mrk", ".txt", ".font", ".frh", ".shp", ".str", ".grd",
                                ".fhg", ".trc", ".cal", ".ang", ".ent", ".zdf", ".zmf",
                                ".dat", ".XLS", "_Angle.XLS", ".hcal", ".vcal"};
  ASSERT_EQ(n.All().size(), suffixes.size());
  for (int i = 0; i < suffixes.size(); ++i) EXPECT_EQ(n.All()[i], "/home/coach/Jump 1" + suffixes[i]);
  EXPECT_EQ(n.MarkersFile, "/home/coach/Jump 1.mrk");
  EXPECT_EQ(n.MemoFile, "/home/coach/Jump 1.txt");
  EXPECT_EQ(n.AnglesSpreadsheetFile, "/home/coach/Jump 1_Angle.XLS");
  EXPECT_EQ(VideoNameOf("abc"), "");
}

TEST_F(VideoOpeningTest, AFileThePlayerCannotOpenLeavesThePreviousVideo) {
  const QString good = MakeFile("good.avi", 4096);
  const QString bad = MakeFile("bad.avi", 4096);
  player_.clips[good] = FakeClip{640, 480, 250, 10000};
  ASSERT_EQ(OpenVideoFile(player_, good, "").status, OpenStatus::Opened);
  player_.SetPosition(4000);

  const OpenOutcome out = OpenVideoFile(player_, bad, "");
  EXPECT_EQ(out.status, OpenStatus::OpenFailed);
  ASSERT_EQ(out.messages.size(), 1);
  EXPECT_TRUE(out.messages[0].contains(bad));
  EXPECT_TRUE(out.messages[0].contains("no video stream"));
  EXPECT_FALSE(out.video.VideoOpen);
  EXPECT_EQ(player_.FileName(), good);
  EXPECT_EQ(player_.OpenFile(), good);
  EXPECT_EQ(player_.LengthFrames(), 250);
  EXPECT_EQ(player_.Position(), 4000);
}

TEST(VideoFacts, DegenerateClipsNeverDivideByZero) {
  struct Case {
    int64_t frames, ms;
    double frameDuration;
    int fps;
    int scrollMax;
  } cases[] = {
      {0, 0, 40.0, 0, 0},
      {0, 1000, 40.0, 0, 920},
      {10, 0, 40.0, 0, 0},
      {1, 40, 40.0, 25, 0},  // a clip of fewer than 2 frames does not scroll
      {2, 80, 40.0, 25, 0},
      {3, 120, 40.0, 25, 40},
      {1000, 33367, 33.367, 30, 33367 - 66},
      {-5, 1000, 40.0, 0, 920},
  };
  for (const Case& c : cases) {
    const VideoFacts v = MeasureVideo("/v/clip.avi", 720, 576, c.frames, c.ms);
    EXPECT_DOUBLE_EQ(v.FrameDuration, c.frameDuration) << c.frames << "/" << c.ms;
    EXPECT_EQ(v.FramesPerSecond, c.fps) << c.frames << "/" << c.ms;
    EXPECT_EQ(ScrollRangeFor(v.LengthMs, v.FrameDuration).maximum, c.scrollMax) << c.frames << "/" << c.ms;
  }
  // Steps stay within what a scroll bar takes.
  const ScrollRange slow = ScrollRangeFor(100000, 5000.0);
  EXPECT_EQ(slow.smallChange, 5000);
  EXPECT_EQ(slow.largeChange, 32767);
  EXPECT_EQ(ScrollRangeFor(int64_t(1) << 40, 40.0).maximum, std::numeric_limits<int>::max());
}

TEST(VideoFacts, StepsGoFromFrameToFrameWithinTheRange) {
  for (const double fd : {1000.0 / 30, 1001.0 / 30, 20.0, 1001.0 / 60, 1000.0 / 24, 1001.0 / 24, 80.0, 40.0}) {
    const int64_t frames = 300, maximum = PositionOfFrame(frames, fd) - 2 * static_cast<int64_t>(fd + 0.5);
    int64_t p = 0, n = 0;
    for (;;) {
      const int64_t next = StepPosition(p, 1, fd, maximum);
      if (next == p) break;
      ASSERT_LE(next, maximum) << fd;
      ASSERT_EQ(FrameNumberAt(next, fd), ++n) << fd;
      p = next;
    }
    EXPECT_GE(n, frames - 3) << fd;
    EXPECT_EQ(FrameNumberAt(StepPosition(maximum, -1, fd, maximum), fd), n - 1) << fd;
    EXPECT_EQ(StepPosition(PositionOfFrame(5, fd), -10, fd, maximum), 0) << fd;
  }
  EXPECT_EQ(StepPosition(1000, 1, 0.0, 5000), 0);  // no frame duration: nowhere to go
}

TEST(VideoFacts, FrameNumbersRoundToEven) {
  EXPECT_EQ(FrameNumberAt(60, 40.0), 2);   // 1.5
  EXPECT_EQ(FrameNumberAt(100, 40.0), 2);  // 2.5
  EXPECT_EQ(FrameNumberAt(3336, 1000.0 / 29.97), 100);
  EXPECT_EQ(FrameNumberAt(500, 0.0), 0);
}

TEST_F(VideoOpeningTest, FileSizesBeyond4GBAreRead) {
  const qint64 big = (qint64(5) << 30) + 7;
  const QString path = MakeFile("big.avi", big);  // sparse: takes no room
  EXPECT_EQ(GetFileSize(path), big);
}

}  // namespace
}  // namespace kestrom::playback
