#include "platform/media/VideoReader.h"
#include "tests/platform/media/MediaFixtures.h"
#include "tools/FrameCode.h"

#include <QFile>
#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace kestrom::media {
namespace {

using test::Clip;
using tools::ClipSpec;
using tools::ReadFrameCode;

ClipSpec Small(const QString& codec, int frames, int gop, int bFrames = 0) {
  ClipSpec clipSpec;
  clipSpec.codec = codec;
  clipSpec.size = QSize(160, 120);
  clipSpec.frames = frames;
  clipSpec.gop = gop;
  clipSpec.bFrames = bFrames;
  return clipSpec;
}

// DV has one picture size per television standard; a few frames are enough.
ClipSpec Dv() {
  ClipSpec clipSpec = Small("dvvideo", 12, 1);
  clipSpec.size = QSize(720, 576);
  return clipSpec;
}

struct Kind {
  const char* name;
  const char* file;
  ClipSpec clipSpec;
  std::vector<int64_t> targets;
};

// First, last, middle, around keyframes, backward runs and jumps, for every kind of stream the
// system meets: intra-only, short and long groups, B-frames, and other containers.
std::vector<Kind> Kinds() {
  const std::vector<int64_t> around12 = {0, 59, 30, 11, 12, 13, 23, 24, 25, 47, 46, 45, 44, 36, 35, 5, 58, 1, 0};
  const std::vector<int64_t> longGroup = {0, 59, 58, 57, 56, 55, 49, 50, 51, 10, 9, 8, 30, 29, 1};
  return {
      {"mjpeg", "intra.avi", Small("mjpeg", 60, 1), around12},
      {"msmpeg4v2 gop 12", "v2-12.avi", Small("msmpeg4v2", 60, 12), around12},
      {"msmpeg4v2 gop 50", "v2-50.avi", Small("msmpeg4v2", 60, 50), longGroup},
      {"mpeg4 B-frames", "bframes.avi", Small("mpeg4", 60, 12, 2), around12},
      {"mpeg4 B-frames in MP4", "bframes.mp4", Small("mpeg4", 60, 12, 2), around12},
      {"mpeg2 in MPEG program stream", "clip.mpg", Small("mpeg2video", 60, 12, 2), around12},
      {"wmv2 in ASF", "clip.wmv", Small("wmv2", 60, 12), around12},
      {"DV", "clip.dv", Dv(), {0, 11, 6, 5, 1, 10}},
  };
}

TEST(VideoReader, EveryTargetLandsOnItsFrameInEveryKindOfFile) {
  for (const Kind& kind : Kinds()) {
    SCOPED_TRACE(kind.name);
    VideoReader reader;
    ASSERT_TRUE(reader.Open(Clip(kind.file, kind.clipSpec))) << reader.ErrorString().toStdString();
    EXPECT_EQ(reader.Info().frameCount, kind.clipSpec.frames);
    EXPECT_EQ(reader.Info().size, kind.clipSpec.size);
    EXPECT_EQ(reader.Info().rateNum, 25);
    EXPECT_EQ(reader.Info().rateDen, 1);
    EXPECT_FALSE(reader.Info().hasAudio);
    for (int64_t target : kind.targets) {
      const QImage frame = reader.Frame(target);
      ASSERT_FALSE(frame.isNull()) << "frame " << target;
      EXPECT_EQ(frame.format(), QImage::Format_RGB32);
      EXPECT_EQ(ReadFrameCode(frame), target) << "asked for frame " << target;
    }
    // Stepping forward over the whole clip, then back over it.
    for (int64_t n = 0; n < kind.clipSpec.frames; ++n) ASSERT_EQ(ReadFrameCode(reader.Frame(n)), n);
    for (int64_t n = kind.clipSpec.frames - 1; n >= 0; --n) ASSERT_EQ(ReadFrameCode(reader.Frame(n)), n);
    EXPECT_TRUE(reader.Frame(-1).isNull());
    EXPECT_TRUE(reader.Frame(kind.clipSpec.frames).isNull());
  }
}

TEST(VideoReader, ReadingAheadGivesTheSameFramesInEveryKindOfFile) {
  for (const Kind& kind : Kinds()) {
    SCOPED_TRACE(kind.name);
    VideoReader reader;
    // A cache of a few frames, so that the worker's frames push out others and jumps miss.
    reader.SetCacheBudget(size_t(10) * kind.clipSpec.size.width() * kind.clipSpec.size.height() * 2);
    reader.SetReadAhead(4);
    ASSERT_TRUE(reader.Open(Clip(kind.file, kind.clipSpec))) << reader.ErrorString().toStdString();
    for (int64_t target : kind.targets) ASSERT_EQ(ReadFrameCode(reader.Frame(target)), target);
    // Forward play with a skipped frame now and then, to the end, and again after a jump back.
    for (int pass = 0; pass < 2; ++pass)
      for (int64_t n = pass, i = 0; n < kind.clipSpec.frames; n += (++i % 5 == 0) ? 2 : 1)
        ASSERT_EQ(ReadFrameCode(reader.Frame(n)), n) << "pass " << pass;
  }
}

TEST(VideoReader, ScalesFramesOnTheWayOut) {
  VideoReader reader;
  ASSERT_TRUE(reader.Open(Clip("v2-12.avi", Small("msmpeg4v2", 60, 12))));
  const QImage half = reader.Frame(17, QSize(80, 60));
  EXPECT_EQ(half.size(), QSize(80, 60));
  EXPECT_EQ(ReadFrameCode(half), 17);
  const QImage big = reader.Frame(18, QSize(400, 300));
  EXPECT_EQ(big.size(), QSize(400, 300));
  EXPECT_EQ(ReadFrameCode(big), 18);
}

TEST(VideoReader, SteppingBackThroughALongGroupDecodesItAboutOnce) {
  VideoReader reader;
  ASSERT_TRUE(reader.Open(Clip("v2-60.avi", Small("msmpeg4v2", 60, 60))));
  ASSERT_EQ(ReadFrameCode(reader.Frame(59)), 59);
  const int64_t decoded = reader.Stats().decodedFrames;
  for (int64_t n = 58; n >= 0; --n) ASSERT_EQ(ReadFrameCode(reader.Frame(n)), n);
  // The jump kept the frames just before 59; the first step past them keeps the rest.
  EXPECT_LE(reader.Stats().decodedFrames - decoded, 60) << "one step back must not cost a group decode";
  const int64_t settled = reader.Stats().decodedFrames;
  for (int64_t n = 0; n < 60; n += 7) ASSERT_EQ(ReadFrameCode(reader.Frame(n)), n);
  EXPECT_EQ(reader.Stats().decodedFrames, settled) << "the whole group is cached now";

  // With room for only a few frames the answers stay exact; each refill decodes from the keyframe.
  VideoReader tight;
  tight.SetCacheBudget(8 * 160 * 120 * 3 / 2);
  ASSERT_TRUE(tight.Open(Clip("v2-60.avi", Small("msmpeg4v2", 60, 60))));
  for (int64_t n = 59; n >= 0; --n) ASSERT_EQ(ReadFrameCode(tight.Frame(n)), n);
  EXPECT_LT(tight.Stats().decodedFrames, 60 * 60 / 4);
}

TEST(VideoReader, SteppingForwardDecodesOneFramePerStep) {
  VideoReader reader;
  ASSERT_TRUE(reader.Open(Clip("v2-60.avi", Small("msmpeg4v2", 60, 60))));
  ASSERT_EQ(ReadFrameCode(reader.Frame(20)), 20);
  const ReaderStats before = reader.Stats();
  for (int64_t n = 21; n < 40; ++n) ASSERT_EQ(ReadFrameCode(reader.Frame(n)), n);
  EXPECT_EQ(reader.Stats().decodedFrames - before.decodedFrames, 19);
  EXPECT_EQ(reader.Stats().seeks, before.seeks);
}

// A jump costs the pictures from the keyframe at or before its frame, no more: demuxers that seek
// by presentation time must not be sent a group early by a keyframe's earlier decoding time.
TEST(VideoReader, AJumpDecodesFromTheKeyframeAtOrBeforeItsFrame) {
  const struct {
    const char* name;
    const char* file;
    ClipSpec clipSpec;
    int slack;  // pictures of an open group that lean on the one before, decoded and dropped
  } cases[] = {
      {"H.264 with B-frames in MP4", "h264-bframes.mp4", Small("libx264", 150, 50, 3), 0},
      {"MPEG-4 with B-frames in MP4", "mpeg4-bframes.mp4", Small("mpeg4", 150, 50, 2), 2},
      {"MPEG-4 V2 in AVI", "v2-50-150.avi", Small("msmpeg4v2", 150, 50), 0},
  };
  // Each target is missing from the cache, and so far from the frame before it that a seek is due.
  const int64_t jumps[][2] = {{60, 50}, {140, 100}, {20, 0}, {99, 50}, {100, 100}, {149, 100}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (!avcodec_find_encoder_by_name(c.clipSpec.codec.toUtf8().constData())) {
      std::printf("no %s encoder: %s not tried\n", qPrintable(c.clipSpec.codec), c.name);
      continue;
    }
    VideoReader reader;
    ASSERT_TRUE(reader.Open(Clip(c.file, c.clipSpec))) << reader.ErrorString().toStdString();
    ASSERT_EQ(reader.Info().frameCount, 150);
    for (const auto& [target, key] : jumps) {
      const int64_t before = reader.Stats().decodedFrames;
      ASSERT_EQ(ReadFrameCode(reader.Frame(target)), target);
      EXPECT_LE(reader.Stats().decodedFrames - before, target - key + 1 + c.slack) << "jump to " << target;
    }
  }
}

// A capture file marks a frame it did not capture with an empty chunk. The position is still a
// frame of the clip, at its own time, showing the frame before it.
TEST(VideoReader, ADroppedFrameShowsTheFrameBeforeItAndEveryPositionKeepsItsTime) {
  struct Case {
    const char* name;
    const char* file;
    ClipSpec clipSpec;
    std::vector<int> dropped;
  };
  ClipSpec unfinished = Small("msmpeg4v2", 40, 12);
  unfinished.finish = false;
  const Case cases[] = {
      {"MJPEG", "drops-mjpeg.avi", Small("mjpeg", 40, 1), {1, 5, 6, 7, 20, 38}},
      {"MPEG-4 V2, groups of 12", "drops-v2.avi", Small("msmpeg4v2", 40, 12), {3, 12, 13, 25, 26, 37}},
      {"MPEG-4 V2 cut off before its index", "drops-unfinished.avi", unfinished, {3, 12, 30}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QString path = test::ClipWithDrops(c.file, c.clipSpec, c.dropped);
    // The picture each position shows: the last one captured at or before it.
    std::vector<int64_t> shown;
    for (int p = 0, picture = -1; p < c.clipSpec.frames; ++p) {
      if (std::find(c.dropped.begin(), c.dropped.end(), p) == c.dropped.end()) ++picture;
      shown.push_back(picture);
    }
    for (int readAhead : {0, 4}) {
      SCOPED_TRACE(readAhead ? "reading ahead" : "not reading ahead");
      VideoReader reader;
      reader.SetReadAhead(readAhead);
      ASSERT_TRUE(reader.Open(path)) << reader.ErrorString().toStdString();
      EXPECT_EQ(reader.Info().frameCount, c.clipSpec.frames);
      EXPECT_EQ(reader.Info().DurationMs(), c.clipSpec.frames * 40);
      for (int64_t n = 0; n < c.clipSpec.frames; ++n) ASSERT_EQ(ReadFrameCode(reader.Frame(n)), shown[n]) << "position " << n;
      for (int64_t n = c.clipSpec.frames - 1; n >= 0; --n) ASSERT_EQ(ReadFrameCode(reader.Frame(n)), shown[n]) << "position " << n;
      for (int64_t n : {13, 7, 26, 2, 38, 12, 25, 0, 39, 6})
        ASSERT_EQ(ReadFrameCode(reader.Frame(n)), shown[n]) << "jump to position " << n;
    }
  }
}

// The memory of decoded pictures follows what the cache may hold: it stays within the budget
// (beside the few pictures the decoder works with) and goes back when the budget is lowered.
TEST(VideoReader, PictureMemoryStaysWithinTheCacheBudgetAndGoesBackWhenItIsLowered) {
  ClipSpec clipSpec = Small("msmpeg4v2", 60, 60);
  clipSpec.size = QSize(720, 576);
  const int64_t picture = 720 * 576 * 3 / 2;
  const int64_t working = 12 * picture;  // the decoder's pictures and a few spare
  VideoReader reader;
  ASSERT_TRUE(reader.Open(Clip("v2-60-576.avi", clipSpec)));
  for (int64_t n = 59; n >= 0; --n) ASSERT_EQ(ReadFrameCode(reader.Frame(n)), n);
  EXPECT_GE(reader.Stats().pictureBytes, 60 * picture) << "stepping back cached the whole group";

  const int64_t budget = 10 * picture;
  reader.SetCacheBudget(size_t(budget));
  EXPECT_LE(reader.Stats().pictureBytes, budget + working) << "memory given back";
  for (int64_t n = 0; n < 60; n += 3) ASSERT_EQ(ReadFrameCode(reader.Frame(n)), n);
  for (int64_t n = 59; n >= 0; n -= 2) ASSERT_EQ(ReadFrameCode(reader.Frame(n)), n);
  EXPECT_LE(reader.Stats().pictureBytes, budget + working) << "and kept within the budget";
}

TEST(VideoReader, ACutOffRecordingOpensWithEveryCompleteFrame) {
  struct Case {
    const char* file;
    int cutBytes;
    int64_t frames;
  } cases[] = {
      {"unfinished.avi", 0, 40},     // header never updated, no index
      {"cut-mid-frame.avi", 50, 39}, // and the last frame only half written
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    ClipSpec clipSpec = Small("msmpeg4v2", 40, 12);
    clipSpec.finish = false;
    clipSpec.cutBytes = c.cutBytes;
    VideoReader reader;
    ASSERT_TRUE(reader.Open(Clip(c.file, clipSpec))) << reader.ErrorString().toStdString();
    EXPECT_EQ(reader.Info().frameCount, c.frames);
    for (int64_t n : {c.frames - 1, int64_t(0), int64_t(25), int64_t(13), int64_t(11)})
      EXPECT_EQ(ReadFrameCode(reader.Frame(n)), n);
  }
}

TEST(VideoReader, BadFilesFailWithAMessageAndLeaveTheReaderAsItWas) {
  const QString good = Clip("v2-12.avi", Small("msmpeg4v2", 60, 12));
  QFile source(good);
  ASSERT_TRUE(source.open(QIODevice::ReadOnly));
  const QByteArray goodBytes = source.readAll();
  QByteArray noise(4000, 0);
  for (int i = 0; i < noise.size(); ++i) noise[i] = char((i * 7919 + 13) % 251);
  QByteArray wav("RIFF");
  const int samples = 8000;
  auto le32 = [](QByteArray& b, uint32_t v) { for (int i = 0; i < 4; ++i) b.append(char(v >> (8 * i))); };
  auto le16 = [](QByteArray& b, uint16_t v) { b.append(char(v)); b.append(char(v >> 8)); };
  le32(wav, 36 + samples * 2);
  wav += "WAVEfmt ";
  le32(wav, 16); le16(wav, 1); le16(wav, 1); le32(wav, 8000); le32(wav, 16000); le16(wav, 2); le16(wav, 16);
  wav += "data";
  le32(wav, samples * 2);
  wav += QByteArray(samples * 2, 0);

  const struct {
    const char* what;
    QString path;
  } bad[] = {
      {"missing", test::FixtureFolder() + "/no-such-file.avi"},
      {"empty", test::RawFile("empty.avi", {})},
      {"random bytes", test::RawFile("noise.avi", noise)},
      {"truncated header", test::RawFile("header.avi", goodBytes.left(300))},
      {"no video stream", test::RawFile("sound.wav", wav)},
  };
  VideoReader reader;
  ASSERT_TRUE(reader.Open(good));
  ASSERT_EQ(ReadFrameCode(reader.Frame(33)), 33);
  for (const auto& b : bad) {
    SCOPED_TRACE(b.what);
    EXPECT_FALSE(reader.Open(b.path));
    EXPECT_FALSE(reader.ErrorString().isEmpty());
    EXPECT_TRUE(reader.ErrorString().contains(b.path)) << reader.ErrorString().toStdString();
    EXPECT_EQ(reader.FileName(), good);
    EXPECT_EQ(reader.Info().frameCount, 60);
    EXPECT_EQ(ReadFrameCode(reader.Frame(34)), 34);
  }
  VideoReader closed;
  EXPECT_FALSE(closed.Open(bad[2].path));
  EXPECT_FALSE(closed.IsOpen());
}

TEST(VideoReader, ReadsTheSoundBesideThePictures) {
  ClipSpec clipSpec = Small("mjpeg", 25, 1);
  clipSpec.audio = true;
  VideoReader reader;
  ASSERT_TRUE(reader.Open(Clip("sound.avi", clipSpec)));
  ASSERT_TRUE(reader.Info().hasAudio);
  EXPECT_EQ(reader.Info().audioRate, 22050);
  EXPECT_EQ(reader.Info().audioChannels, 1);
  std::vector<int16_t> samples;
  ASSERT_TRUE(reader.ReadAudio(11025, 1000, samples));
  ASSERT_EQ(samples.size(), 1000u);
  // The tone of the writer: sin(2 pi 440 s / 22050) x 3000 in the first second.
  for (int i = 0; i < 1000; i += 97)
    EXPECT_NEAR(samples[i], std::sin(2 * M_PI * 440.0 * (11025 + i) / 22050.0) * 3000, 2);
  ASSERT_TRUE(reader.ReadAudio(22000, 1000, samples));
  EXPECT_EQ(samples.size(), 50u) << "nothing past the end";
  EXPECT_EQ(ReadFrameCode(reader.Frame(24)), 24) << "reading sound does not disturb the pictures";
}

}  // namespace
}  // namespace kestrom::media
