#include "analysis/playback/MediaPlayerPort.h"
#include "analysis/playback/VideoOpening.h"
#include "platform/core/Format.h"
#include "platform/media/MediaPlayer.h"
#include "tools/ClipWriter.h"
#include "tools/FrameCode.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kestrom::playback {
namespace {

class MediaPlayerPortTest : public ::testing::Test {
 protected:
  QString Write(const QString& name, QSize size, int frames, int rateNum, int rateDen = 1) {
    tools::ClipSpec clipSpec;
    clipSpec.path = dir_.filePath(name);
    clipSpec.codec = "mjpeg";
    clipSpec.size = size;
    clipSpec.frames = frames;
    clipSpec.rateNum = rateNum;
    clipSpec.rateDen = rateDen;
    QString error;
    EXPECT_TRUE(tools::WriteClip(clipSpec, &error)) << error.toStdString();
    return clipSpec.path;
  }

  QTemporaryDir dir_;
  QImage canvas_{400, 300, QImage::Format_RGB32};
  media::MediaPlayer player_;
  MediaPlayerPort port_{player_};
};

TEST_F(MediaPlayerPortTest, OpensMeasuresAndShowsExactFramesOfARealClip) {
  const QString ntsc = Write("ntsc.avi", {320, 240}, 60, 30000, 1001);
  player_.SetDisplay(&canvas_);
  const OpenOutcome out = OpenVideoFile(port_, ntsc, "");
  ASSERT_EQ(out.status, OpenStatus::Opened) << out.messages.join(" ").toStdString();
  EXPECT_EQ(out.video.FrameWidth, 320);
  EXPECT_EQ(out.video.FrameHeight, 240);
  EXPECT_EQ(out.video.LengthFrames, 60);
  EXPECT_EQ(out.video.LengthMs, 2002);
  EXPECT_EQ(out.video.FramesPerSecond, 30);

  player_.SetDisplayRect(QRect(0, 0, 320, 240));
  for (int64_t frame : {0, 1, 29, 30, 59, 7}) {
    const int64_t at = core::Nearest(frame * out.video.FrameDuration);
    port_.SetPosition(at);
    EXPECT_EQ(tools::ReadFrameCode(canvas_.copy(0, 0, 320, 240)), frame);
    EXPECT_EQ(FrameNumberAt(port_.Position(), out.video.FrameDuration), frame);
  }
}

TEST_F(MediaPlayerPortTest, ADamagedFileLeavesTheOpenClip) {
  const QString good = Write("good.avi", {160, 120}, 25, 25);
  const QString bad = dir_.filePath("bad.avi");
  QFile f(bad);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(QByteArray(5000, '\x42'));
  f.close();

  ASSERT_EQ(OpenVideoFile(port_, good, "").status, OpenStatus::Opened);
  port_.SetPosition(400);
  const OpenOutcome out = OpenVideoFile(port_, bad, "");
  EXPECT_EQ(out.status, OpenStatus::OpenFailed);
  ASSERT_EQ(out.messages.size(), 1);
  EXPECT_TRUE(out.messages[0].contains(bad));
  EXPECT_EQ(port_.FileName(), good);
  EXPECT_EQ(port_.LengthFrames(), 25);
  EXPECT_EQ(port_.Position(), 400);
}

}  // namespace
}  // namespace kestrom::playback
