// The reader's read-ahead worker: forward play is served from frames decoded ahead, anything
// else stops the run and still lands on its exact frame, and the worker is never left touching
// a source that is being closed.

#include "platform/media/MediaPlayer.h"
#include "platform/media/VideoReader.h"
#include "tests/platform/media/MediaFixtures.h"
#include "tools/FrameCode.h"

#include <gtest/gtest.h>
#include <chrono>
#include <thread>

namespace kestrom::media {
namespace {

using tools::ReadFrameCode;

constexpr int64_t kFrames = 120;
constexpr size_t kFrameBytes = 160 * 120 * 3 / 2;

QString LongClip() {
  tools::ClipSpec clipSpec;
  clipSpec.codec = "msmpeg4v2";
  clipSpec.size = QSize(160, 120);
  clipSpec.frames = int(kFrames);
  clipSpec.gop = 25;
  return test::Clip("ahead-120.avi", clipSpec);
}

// Waits, with a bound, until the worker has finished its run.
bool Settle(const VideoReader& reader) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (reader.Stats().readingAhead) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

TEST(ReadAhead, ForwardPlayIsServedFromFramesDecodedAhead) {
  VideoReader reader;
  reader.SetCacheBudget(40 * kFrameBytes);  // a third of the clip, as at full HD
  reader.SetReadAhead(8);
  ASSERT_TRUE(reader.Open(LongClip())) << reader.ErrorString().toStdString();
  // A clip just opened is read ahead at once: the first tick finds its frame.
  ASSERT_TRUE(Settle(reader));
  EXPECT_EQ(reader.Stats().readAheadFrames, 8);
  const ReaderStats opened = reader.Stats();

  // Play as the clock does, a late tick now and then skipping a frame.
  int requests = 0;
  for (int64_t n = 1, i = 0; n < kFrames; n += (++i % 7 == 0) ? 2 : 1, ++requests)
    ASSERT_EQ(ReadFrameCode(reader.Frame(n)), n);
  ASSERT_TRUE(Settle(reader));
  const ReaderStats played = reader.Stats();
  EXPECT_EQ(played.cacheHits - opened.cacheHits, requests) << "every tick found its frame decoded";
  EXPECT_EQ(played.decodedFrames, played.readAheadFrames + 1) << "only frame 0 at the opening was not decoded ahead";

  // Play starts again from the first frame (looping, or any play button): it is ready too.
  for (int64_t n : {0, 1, 2}) ASSERT_EQ(ReadFrameCode(reader.Frame(n)), n);
  EXPECT_EQ(reader.Stats().cacheHits - played.cacheHits, 3);
}

TEST(ReadAhead, AJumpOrAStepBackStopsTheRunAndLandsOnItsFrame) {
  VideoReader reader;
  reader.SetCacheBudget(24 * kFrameBytes);
  reader.SetReadAhead(8);
  ASSERT_TRUE(reader.Open(LongClip()));
  for (int64_t n = 1; n <= 40; ++n) ASSERT_EQ(ReadFrameCode(reader.Frame(n)), n);
  ASSERT_TRUE(Settle(reader));

  // Back to a frame the cache no longer holds: decoded from its keyframe, and the worker reads
  // on only a frame or two from there instead of finishing the run it was on.
  const int64_t before = reader.Stats().decodedFrames;
  ASSERT_EQ(ReadFrameCode(reader.Frame(5)), 5);
  ASSERT_TRUE(Settle(reader));
  EXPECT_LE(reader.Stats().decodedFrames - before, 6 + 2);

  // Steps back through the cache, a jump ahead into the next groups, play on from there, and
  // jumps back and forth while the worker is running.
  const int64_t targets[] = {4, 3, 6, 100, 101, 102, 103, 104, 105, 30, 31, 119, 0, 1, 2, 60, 58, 59, 61, 62, 10};
  for (int64_t n : targets) ASSERT_EQ(ReadFrameCode(reader.Frame(n)), n) << "asked for frame " << n;
}

// Every frame of an intra-only clip is a keyframe: a request decodes its own frame and nothing
// else, and only forward play is read ahead.
TEST(ReadAhead, OnAClipOfKeyframesOnlyEachFrameIsDecodedOnce) {
  tools::ClipSpec clipSpec;
  clipSpec.codec = "mjpeg";
  clipSpec.size = QSize(160, 120);
  clipSpec.frames = 60;
  clipSpec.gop = 1;
  VideoReader reader;
  reader.SetReadAhead(8);
  ASSERT_TRUE(reader.Open(test::Clip("ahead-intra.avi", clipSpec)));
  ASSERT_TRUE(Settle(reader));  // frames 0 to 8, readied for play at the opening
  ReaderStats before = reader.Stats();

  // Step back from the end: each frame decoded once at most, nothing read ahead.
  for (int64_t n = 59; n >= 0; --n) ASSERT_EQ(ReadFrameCode(reader.Frame(n)), n);
  ASSERT_TRUE(Settle(reader));
  EXPECT_LE(reader.Stats().decodedFrames - before.decodedFrames, 60);
  EXPECT_EQ(reader.Stats().readAheadFrames, before.readAheadFrames) << "nothing read ahead while stepping back";

  // Jumps, near and far, from wherever the decoder stands: one picture each at most.
  before = reader.Stats();
  const int64_t jumps[] = {30, 45, 33, 50, 10, 59};  // none a short step forward
  for (int64_t n : jumps) ASSERT_EQ(ReadFrameCode(reader.Frame(n)), n);
  ASSERT_TRUE(Settle(reader));
  EXPECT_LE(reader.Stats().decodedFrames - before.decodedFrames, 6);
  EXPECT_EQ(reader.Stats().readAheadFrames, before.readAheadFrames);
}

TEST(ReadAhead, ClosingReopeningOrDroppingTheReaderWhileItReadsAheadIsSafe) {
  tools::ClipSpec other;
  other.codec = "mpeg4";
  other.size = QSize(160, 120);
  other.frames = 80;
  other.gop = 12;
  other.bFrames = 2;
  const QString second = test::Clip("ahead-bframes.avi", other);

  VideoReader reader;
  reader.SetReadAhead(60);
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(reader.Open(LongClip()));
    ASSERT_EQ(ReadFrameCode(reader.Frame(1)), 1);
    reader.Close();  // the worker is most likely mid-run
    EXPECT_FALSE(reader.IsOpen());

    ASSERT_TRUE(reader.Open(LongClip()));
    ASSERT_EQ(ReadFrameCode(reader.Frame(2)), 2);
    ASSERT_TRUE(reader.Open(second));  // a new file replaces one being read ahead
    for (int64_t n : {0, 1, 2, 3, 40, 41, 79}) ASSERT_EQ(ReadFrameCode(reader.Frame(n)), n);

    VideoReader dropped;
    dropped.SetReadAhead(60);
    ASSERT_TRUE(dropped.Open(LongClip()));
    ASSERT_EQ(ReadFrameCode(dropped.Frame(1)), 1);
    reader = std::move(dropped);  // the replaced reader ends with its worker running
    ASSERT_EQ(ReadFrameCode(reader.Frame(2)), 2);
  }

  // The same through the media player, which reads ahead for its owner's playback.
  QImage canvas(160, 120, QImage::Format_RGB32);
  core::ManualClock clock(0);
  auto player = std::make_unique<MediaPlayer>(nullptr, &clock);
  player->SetDisplay(&canvas);
  player->SetFileName(LongClip());
  ASSERT_TRUE(player->Open());
  for (int64_t ms : {40, 80, 120}) player->SetPosition(ms);
  EXPECT_EQ(ReadFrameCode(canvas), 3);
  player->Close();
  player->SetFileName(second);
  ASSERT_TRUE(player->Open());
  player->SetPosition(1000);
  EXPECT_EQ(ReadFrameCode(canvas), 25);
  player.reset();
}

}  // namespace
}  // namespace kestrom::media
