#include "platform/media/MediaPlayer.h"
#include "platform/media/MediaPlayerBar.h"
#include "platform/media/SoundOutput.h"
#include "tests/platform/media/MediaFixtures.h"
#include "tools/FrameCode.h"

#include <QToolButton>
#include <gtest/gtest.h>

namespace kestrom::media {
namespace {

using tools::ReadFrameCode;

QString SixtyFrames() {
  tools::ClipSpec clipSpec;
  clipSpec.codec = "msmpeg4v2";
  clipSpec.size = QSize(160, 120);
  clipSpec.frames = 60;
  clipSpec.gop = 12;
  return test::Clip("v2-12.avi", clipSpec);
}

struct MediaPlayerTest : ::testing::Test {
  MediaPlayerTest() : canvas(400, 300, QImage::Format_RGB32), player(nullptr, &clock) {
    canvas.fill(qRgb(0, 128, 128));
    player.SetDisplay(&canvas);
  }
  void OpenClip(const QString& path = SixtyFrames()) {
    player.SetFileName(path);
    ASSERT_TRUE(player.Open()) << player.ErrorString().toStdString();
    player.SetDisplayRect(QRect(10, 20, 160, 120));
  }
  int Shown() const { return ReadFrameCode(canvas.copy(player.DisplayRect())); }

  core::ManualClock clock{1000};
  QImage canvas;
  MediaPlayer player;
};

TEST_F(MediaPlayerTest, OpenMeasuresTheClipInBothTimeFormats) {
  EXPECT_EQ(player.Mode(), MPMode::NotReady);
  OpenClip();
  EXPECT_EQ(player.Mode(), MPMode::Stopped);
  player.SetDisplayRect(QRect(0, 0, 0, 0));
  EXPECT_EQ(player.DisplayRect(), QRect(0, 0, 160, 120));
  player.SetTimeFormat(MPTimeFormat::Frames);
  EXPECT_EQ(player.Length(), 60);
  player.SetTimeFormat(MPTimeFormat::Milliseconds);
  EXPECT_EQ(player.Length(), 2400);
  EXPECT_DOUBLE_EQ(player.FrameDuration(), 40.0);
}

TEST_F(MediaPlayerTest, APositionShowsTheNearestFrameTiesToEven) {
  OpenClip();
  const struct {
    int64_t position, frame, readBack;
  } cases[] = {
      {2019, 50, 2000}, {2020, 50, 2000}, {2021, 51, 2040}, {2060, 52, 2080}, {20, 0, 0}, {60, 2, 80},
      {-500, 0, 0},     {999999, 59, 2360},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.position);
    player.SetPosition(c.position);
    EXPECT_EQ(Shown(), c.frame) << "read from the owner's picture";
    EXPECT_EQ(player.CurrentFrame(), c.frame);
    EXPECT_EQ(player.Position(), c.readBack);
  }
  player.SetTimeFormat(MPTimeFormat::Frames);
  player.SetPosition(33);
  EXPECT_EQ(Shown(), 33);
  EXPECT_EQ(player.Position(), 33);
}

TEST_F(MediaPlayerTest, DrawsIntoTheDisplayRectangleAtEveryZoom) {
  OpenClip();
  for (const QRect& rect : {QRect(0, 0, 16, 12), QRect(5, 7, 80, 60), QRect(30, 40, 240, 180), QRect(0, 0, 400, 300)}) {
    SCOPED_TRACE(rect.width());
    canvas.fill(qRgb(0, 128, 128));
    player.SetDisplayRect(rect);
    player.SetPosition(1000);
    if (rect.width() >= 80) {
      EXPECT_EQ(Shown(), 25);
    }
    if (rect.right() < 399) {
      EXPECT_EQ(canvas.pixel(399, 299), qRgb(0, 128, 128)) << "nothing drawn outside";
    }
    EXPECT_NE(canvas.pixel(rect.center()), qRgb(0, 128, 128));
  }
  // Scrolled or zoomed past an edge: what lies outside the picture is simply cut off, and what
  // lies inside is the frame at that size, pixel for pixel.
  for (const QRect& rect : {QRect(-200, -100, 480, 360), QRect(300, 250, 160, 120), QRect(-20, 10, 160, 120)}) {
    SCOPED_TRACE(rect.x());
    canvas.fill(qRgb(0, 128, 128));
    player.SetDisplayRect(rect);
    player.SetPosition(400);
    EXPECT_EQ(player.CurrentFrame(), 10);
    const QImage expected = player.Reader().Frame(10, rect.size());
    for (const QPoint& p : {QPoint(0, 0), QPoint(399, 299), QPoint(279, 259), QPoint(280, 260), QPoint(310, 255),
                            QPoint(139, 129), QPoint(140, 130), rect.center()}) {
      if (!canvas.rect().contains(p)) continue;
      if (rect.contains(p))
        EXPECT_EQ(canvas.pixel(p), expected.pixel(p - rect.topLeft())) << p.x() << "," << p.y();
      else
        EXPECT_EQ(canvas.pixel(p), qRgb(0, 128, 128)) << p.x() << "," << p.y();
    }
  }
}

TEST_F(MediaPlayerTest, AClosedPlayerHasNoLengthAndIgnoresSeeks) {
  OpenClip();
  player.SetPosition(800);
  player.Close();
  player.SetFileName("Null");
  EXPECT_EQ(player.FileName(), "Null");
  EXPECT_EQ(player.Mode(), MPMode::NotReady);
  EXPECT_EQ(player.Length(), 0);
  canvas.fill(Qt::black);
  player.SetPosition(1200);
  player.Play();
  player.Step();
  EXPECT_EQ(player.Position(), 0);
  EXPECT_EQ(player.Mode(), MPMode::NotReady);
  EXPECT_EQ(canvas.pixel(50, 50), qRgb(0, 0, 0)) << "nothing drawn";
  EXPECT_FALSE(player.Open()) << "\"Null\" is no file";
}

TEST_F(MediaPlayerTest, AFailedOpenLeavesThePlayerAsItWas) {
  const QString good = SixtyFrames();
  const QString bad[] = {test::RawFile("empty.avi", {}), test::RawFile("junk.avi", QByteArray(5000, 'x')),
                         test::FixtureFolder() + "/missing.avi"};
  MediaPlayer closed(nullptr, &clock);
  closed.SetFileName(bad[0]);
  EXPECT_FALSE(closed.Open());
  EXPECT_EQ(closed.Mode(), MPMode::NotReady);
  EXPECT_EQ(closed.Length(), 0);

  OpenClip(good);
  player.SetPosition(1000);
  for (const QString& path : bad) {
    SCOPED_TRACE(path.toStdString());
    player.SetFileName(path);
    EXPECT_FALSE(player.Open());
    EXPECT_TRUE(player.ErrorString().contains(path));
    EXPECT_EQ(player.FileName(), good);
    EXPECT_EQ(player.Mode(), MPMode::Stopped);
    EXPECT_EQ(player.Position(), 1000);
    EXPECT_EQ(player.Length(), 2400);
    player.Refresh();
    EXPECT_EQ(Shown(), 25);
  }
}

TEST_F(MediaPlayerTest, ItsOwnPlayFollowsTheClockAndNotifiesAtTheEnd) {
  OpenClip();
  int notices = 0;
  QObject::connect(&player, &MediaPlayer::Notify, [&] { ++notices; });
  player.SetPosition(400);
  player.Play();
  EXPECT_EQ(player.Mode(), MPMode::Playing);
  EXPECT_EQ(Shown(), 10);
  clock.Advance(1000);
  player.PlayTick();
  EXPECT_EQ(Shown(), 35);
  player.Pause();
  EXPECT_EQ(player.Mode(), MPMode::Paused);
  clock.Advance(5000);
  player.PlayTick();
  EXPECT_EQ(Shown(), 35) << "paused";
  player.Play();
  clock.Advance(999);
  player.PlayTick();
  EXPECT_EQ(Shown(), 59);
  EXPECT_EQ(notices, 0);
  clock.Advance(40);
  player.PlayTick();
  EXPECT_EQ(notices, 1);
  EXPECT_EQ(player.Mode(), MPMode::Stopped);
  EXPECT_EQ(Shown(), 59);
  player.PlayTick();
  EXPECT_EQ(notices, 1) << "one notice per play";
  player.Play();
  EXPECT_EQ(Shown(), 0) << "playing from the end starts again";
  player.Stop();
}

// A sound device that takes at most `room` frames per write and keeps what it got.
struct FakeSink : SoundSink {
  std::vector<int16_t>* played;
  int* drops;
  int room;
  int Write(const int16_t* samples, int frames) override {
    const int taken = std::min(frames, room);
    played->insert(played->end(), samples, samples + taken);
    return taken;
  }
  void Drop() override { ++*drops; }
};

TEST_F(MediaPlayerTest, ItsOwnPlayFeedsTheSoundAheadOfTheClock) {
  tools::ClipSpec clipSpec;
  clipSpec.codec = "mjpeg";
  clipSpec.size = QSize(160, 120);
  clipSpec.frames = 25;
  clipSpec.audio = true;
  const QString clip = test::Clip("sound.avi", clipSpec);
  std::vector<int16_t> played;
  int drops = 0;
  player.SetSoundFactory([&](int rate, int channels) -> std::unique_ptr<SoundSink> {
    EXPECT_EQ(rate, 22050);
    EXPECT_EQ(channels, 1);
    auto sink = std::make_unique<FakeSink>();
    sink->played = &played;
    sink->drops = &drops;
    sink->room = 1 << 20;
    return sink;
  });
  OpenClip(clip);
  VideoReader reader;
  ASSERT_TRUE(reader.Open(clip));
  std::vector<int16_t> expected;

  player.Play();
  EXPECT_EQ(played.size(), 6615u) << "300 ms ahead of the picture";
  clock.Advance(500);
  player.PlayTick();
  ASSERT_EQ(played.size(), 17640u) << "up to 800 ms";
  ASSERT_TRUE(reader.ReadAudio(0, 17640, expected));
  EXPECT_EQ(played, expected);

  // A seek while playing throws away what is queued and goes on from the new place.
  player.SetPosition(200);
  EXPECT_GE(drops, 1);
  played.clear();
  player.PlayTick();
  ASSERT_EQ(played.size(), 6615u);
  ASSERT_TRUE(reader.ReadAudio(4410, 6615, expected));
  EXPECT_EQ(played, expected);
  player.Stop();
}

TEST_F(MediaPlayerTest, TheButtonBarAsksTheOwnerThenActsThenReports) {
  OpenClip();
  MediaPlayerBar bar(&player);
  std::vector<MPButton> post;
  QObject::connect(&bar, &MediaPlayerBar::PostClick, [&](MPButton b) { post.push_back(b); });
  bool refuse = false;
  QObject::connect(&bar, &MediaPlayerBar::Click, [&](MPButton, bool* doDefault) { *doDefault = !refuse; });
  player.SetPosition(400);
  bar.findChild<QToolButton*>("Step")->click();
  EXPECT_EQ(Shown(), 11);
  bar.Press(MPButton::Back);
  bar.Press(MPButton::Back);
  EXPECT_EQ(Shown(), 9);
  bar.Press(MPButton::Next);
  EXPECT_EQ(Shown(), 59);
  bar.Press(MPButton::Prev);
  EXPECT_EQ(Shown(), 0);
  refuse = true;
  bar.Press(MPButton::Step);
  EXPECT_EQ(Shown(), 0) << "the owner kept the player as it was";
  refuse = false;
  bar.Press(MPButton::Play);
  EXPECT_EQ(player.Mode(), MPMode::Playing);
  bar.Press(MPButton::Stop);
  EXPECT_EQ(player.Mode(), MPMode::Stopped);
  EXPECT_EQ(post.size(), 8u);
  EXPECT_EQ(post.back(), MPButton::Stop);
}

}  // namespace
}  // namespace kestrom::media
