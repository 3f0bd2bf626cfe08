#include "platform/media/MediaPlayer.h"
#include "platform/media/ScriptSource.h"
#include "platform/media/VideoReader.h"
#include "tests/platform/media/MediaFixtures.h"
#include "tools/FrameCode.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace kestrom::media {
namespace {

using tools::ReadFrameCode;

// 20 interlaced frames, losslessly coded: in frame n the bottom field carries 2n (it comes first
// in time) and the top field 2n + 1.
QString Interlaced() {
  tools::ClipSpec clipSpec;
  clipSpec.codec = "ffv1";
  clipSpec.size = QSize(160, 120);
  clipSpec.frames = 20;
  clipSpec.fieldCoded = true;
  return test::Clip("interlaced.avi", clipSpec);
}

QString Script(const QString& name, const QString& text) {
  return test::RawFile(name, text.toUtf8());
}

// The script the capture program writes for each video of a sequence.
QString SequenceScript(const QString& clip) {
  return "DirectShowSource(\"" + clip + "\") \r\nSeparateFields\r\nBob\r\n";
}

// The script the capture program writes to save a trimmed clip.
QString ReencodeScript(const QString& clip, int trimIn, int trimOut) {
  return "DirectShowSource(\"" + clip + "\") \r\nTrim(" + QString::number(trimIn) + " , " + QString::number(trimOut) +
         ")\r\nSeparateFields\r\nSelectOdd\r\nBob\r\n";
}

TEST(Script, TheSequenceScriptGivesEveryFieldAtFullHeightAndDoubleRate) {
  VideoReader source, reader;
  ASSERT_TRUE(source.Open(Interlaced()));
  ASSERT_TRUE(reader.Open(Script("sequence.avs", SequenceScript(Interlaced())))) << reader.ErrorString().toStdString();
  EXPECT_EQ(reader.Info().frameCount, 40);
  EXPECT_EQ(reader.Info().size, QSize(160, 120));
  EXPECT_EQ(reader.Info().rateNum, 50);
  EXPECT_EQ(reader.Info().rateDen, 1);
  EXPECT_FALSE(reader.Info().fieldBased);
  for (int64_t k : {0, 1, 2, 3, 17, 38, 39, 10}) {
    SCOPED_TRACE(k);
    const QImage frame = reader.Frame(k);
    EXPECT_EQ(ReadFrameCode(frame), k) << "field k comes k-th: bottom field first";
    // The field's own lines stay in their true rows: even rows for a top field, odd for a bottom.
    const QImage original = source.Frame(k / 2);
    const int own = k % 2 == 1 ? 0 : 1;
    for (int y = own; y < 120; y += 20)
      EXPECT_EQ(memcmp(frame.constScanLine(y), original.constScanLine(y), 160 * 4), 0) << "row " << y;
  }
}

TEST(Script, TheReencodeScriptTrimsAndKeepsTheTopFieldOfEachFrame) {
  VideoReader reader;
  ASSERT_TRUE(reader.Open(Script("reencode.avs", ReencodeScript(Interlaced(), 3, 12))))
      << reader.ErrorString().toStdString();
  EXPECT_EQ(reader.Info().frameCount, 10);
  EXPECT_EQ(reader.Info().size, QSize(160, 120));
  EXPECT_EQ(reader.Info().rateNum, 25);
  EXPECT_EQ(reader.Info().rateDen, 1);
  for (int64_t j = 0; j < 10; ++j) EXPECT_EQ(ReadFrameCode(reader.Frame(j)), 2 * (3 + j) + 1) << j;

  // Trim counts from 0 and stops at the last frame when asked for more; equal ends give one frame.
  const struct {
    int in, out;
    int64_t frames;
    int firstCode;
  } trims[] = {{1, 20, 19, 3}, {0, 0, 20, 1}, {5, 5, 1, 11}, {19, 400, 1, 39}};
  for (const auto& t : trims) {
    SCOPED_TRACE(t.in);
    VideoReader trimmed;
    ASSERT_TRUE(trimmed.Open(Script("trim.avs", ReencodeScript(Interlaced(), t.in, t.out))));
    EXPECT_EQ(trimmed.Info().frameCount, t.frames);
    EXPECT_EQ(ReadFrameCode(trimmed.Frame(0)), t.firstCode);
  }
}

TEST(Script, TrimCutsTheSoundToTheSameSpan) {
  tools::ClipSpec clipSpec;
  clipSpec.codec = "mjpeg";
  clipSpec.size = QSize(160, 120);
  clipSpec.frames = 25;
  clipSpec.audio = true;
  const QString clip = test::Clip("sound.avi", clipSpec);
  VideoReader whole, cut;
  ASSERT_TRUE(whole.Open(clip));
  ASSERT_TRUE(cut.Open(Script("soundtrim.avs", "AVISource(\"" + clip + "\").Trim(5, 14)")));
  ASSERT_TRUE(cut.Info().hasAudio);
  std::vector<int16_t> all, part;
  ASSERT_TRUE(whole.ReadAudio(0, 22050, all));
  ASSERT_TRUE(cut.ReadAudio(0, 100000, part));
  ASSERT_EQ(part.size(), 10u * 882u) << "ten frames of 1/25 s at 22050 Hz";
  EXPECT_TRUE(std::equal(part.begin(), part.end(), all.begin() + 5 * 882));
}

TEST(Script, NamesChainsVariablesAndNestedCallsInAnyLetterCase) {
  const QString clip = Interlaced();
  const struct {
    const char* name;
    QString text;
    int64_t frames;
    int firstCode;
    bool interlaced;  // whole interlaced frames: the code is read from the top field
  } cases[] = {
      {"chain", "directshowsource(\"" + clip + "\").TRIM(2, 5).separatefields.selecteven", 4, 4, false},
      {"variable", "# a comment\nx = AVISource(\"" + clip + "\")\n\nx.Trim(0, 9)\nSelectOdd()\n", 5, 3, true},
      {"nested", "Bob(SeparateFields(Trim(AVISource(\"" + clip + "\"), 0, 1)))", 4, 0, false},
      {"return", "v = AVISource(\"interlaced.avi\")\nreturn v.Trim(4, -2)", 2, 9, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    VideoReader reader;
    ASSERT_TRUE(reader.Open(Script(QString(c.name) + ".AVS", c.text))) << reader.ErrorString().toStdString();
    EXPECT_EQ(reader.Info().frameCount, c.frames);
    const QImage first = reader.Frame(0);
    EXPECT_EQ(ReadFrameCode(c.interlaced ? tools::FieldOf(first, 0) : first), c.firstCode);
  }
}

// A planar picture as RGB32, to read its frame code.
QImage RgbOf(const AVFrame* picture) {
  QImage image(picture->width, picture->height, QImage::Format_RGB32);
  SwsContext* scaler = sws_getContext(picture->width, picture->height, AVPixelFormat(picture->format), picture->width,
                                      picture->height, AV_PIX_FMT_RGB32, SWS_POINT, nullptr, nullptr, nullptr);
  uint8_t* planes[4] = {image.bits()};
  const int strides[4] = {int(image.bytesPerLine())};
  sws_scale(scaler, picture->data, picture->linesize, 0, picture->height, planes, strides);
  sws_freeContext(scaler);
  return image;
}

TEST(Script, PlanarPicturesGiveTheSameFramesAsTheRgbOnesWithoutConversion) {
  const QString clip = Interlaced();
  const struct {
    const char* name;
    QString text;
    bool interlaced;  // whole interlaced frames: the code is read from the top field
  } cases[] = {
      {"save", ReencodeScript(clip, 3, 12), false},
      {"sequence", SequenceScript(clip), false},
      {"fields", "AVISource(\"" + clip + "\").Trim(2, 9).SeparateFields.SelectEven", false},
      {"bob", "AVISource(\"" + clip + "\").Bob", false},
      {"nested script", "AVISource(\"" + Script("inner.avs", "AVISource(\"" + clip + "\").Trim(4, 15)") + "\").SelectOdd",
       true},
  };
  AVFrame* picture = av_frame_alloc();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    VideoReader reader;
    QString error;
    std::unique_ptr<FrameSource> source = VideoReader::OpenSource(Script(QString(c.name) + ".avs", c.text), &error);
    ASSERT_TRUE(source && reader.Open(Script(QString(c.name) + ".avs", c.text))) << error.toStdString();
    const int64_t count = source->Info().frameCount;
    for (int64_t n = 0; n < count; ++n) {
      SCOPED_TRACE(n);
      ASSERT_TRUE(ScriptSource::PlanarFrame(*source, n, picture));
      EXPECT_EQ(picture->format, AV_PIX_FMT_YUV420P);
      EXPECT_EQ(QSize(picture->width, picture->height), source->Info().size);
      const QImage planar = RgbOf(picture), rgb = reader.Frame(n);
      EXPECT_EQ(ReadFrameCode(c.interlaced ? tools::FieldOf(planar, 0) : planar),
                ReadFrameCode(c.interlaced ? tools::FieldOf(rgb, 0) : rgb));
    }
    EXPECT_FALSE(ScriptSource::PlanarFrame(*source, count, picture));
    EXPECT_FALSE(ScriptSource::PlanarFrame(*source, -1, picture));
  }

  // A field keeps its frame's lines as they were decoded: a top field is the even rows of each plane.
  std::unique_ptr<FrameSource> file = VideoReader::OpenSource(clip, nullptr);
  QString error;
  std::unique_ptr<FrameSource> fields =
      VideoReader::OpenSource(Script("top.avs", "AVISource(\"" + clip + "\").SeparateFields"), &error);
  ASSERT_TRUE(file && fields) << error.toStdString();
  AVFrame* frame = av_frame_alloc();
  ASSERT_TRUE(ScriptSource::PlanarFrame(*file, 6, frame));
  ASSERT_TRUE(ScriptSource::PlanarFrame(*fields, 13, picture));  // frame 6, top field
  ASSERT_EQ(picture->height, 60);
  for (int plane = 0; plane < 3; ++plane)
    for (int y = 0; y < (plane ? 30 : 60); ++y)
      ASSERT_EQ(memcmp(picture->data[plane] + y * picture->linesize[plane],
                       frame->data[plane] + 2 * y * frame->linesize[plane], plane ? 80 : 160),
                0)
          << "plane " << plane << " row " << y;

  // Full-range (JPEG) pictures have no planar path: they are read as RGB.
  tools::ClipSpec jpeg;
  jpeg.codec = "mjpeg";
  jpeg.size = QSize(160, 120);
  jpeg.frames = 3;
  std::unique_ptr<FrameSource> full = VideoReader::OpenSource(
      Script("jpeg.avs", "AVISource(\"" + test::Clip("jpeg.avi", jpeg) + "\").Bob"), &error);
  ASSERT_TRUE(full) << error.toStdString();
  EXPECT_FALSE(ScriptSource::PlanarFrame(*full, 0, picture));
  av_frame_free(&frame);
  av_frame_free(&picture);
}

TEST(Script, AnythingElseFailsWithTheLineAndWhatWasNotUnderstood) {
  const QString clip = Interlaced();
  const QString folder = test::FixtureFolder();
  Script("loop-a.avs", "AVISource(\"loop-b.avs\")");
  Script("loop-b.avs", "DirectShowSource(\"" + folder + "/loop-a.avs\")\nBob");
  const struct {
    const char* name;
    QString text;
    QStringList expected;
  } cases[] = {
      {"unknown", "AVISource(\"" + clip + "\")\nFlipVertical()", {"line 2", "FlipVertical"}},
      {"quote", "AVISource(\"" + clip + ")", {"line 1", "closing quote"}},
      {"self", "\nDirectShowSource(\"self.avs\")", {"line 2", "opens itself"}},
      {"through another", "AVISource(\"loop-a.avs\")", {"line 1", "opens itself"}},
      {"missing source", "AVISource(\"nowhere.avi\")", {"line 1", "nowhere.avi"}},
      {"no clip", "SeparateFields", {"line 1", "no clip"}},
      {"bad argument", "AVISource(\"" + clip + "\").Trim(\"a\", 3)", {"line 1", "Trim"}},
      {"parenthesis", "Trim(AVISource(\"" + clip + "\"), 1, 2", {"line 1", "parenthesis"}},
      {"nothing", "# only a comment", {"no clip"}},
      {"trailing", "AVISource(\"" + clip + "\") Bob", {"line 1", "Bob"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QString path = Script(QString(c.name) == "self" ? "self.avs" : QString(c.name) + ".avs", c.text);
    VideoReader reader;
    EXPECT_FALSE(reader.Open(path));
    for (const QString& part : c.expected)
      EXPECT_TRUE(reader.ErrorString().contains(part)) << reader.ErrorString().toStdString() << " lacks " << part.toStdString();
  }
}

TEST(Script, TheMediaPlayerOpensAScriptLikeAVideo) {
  QImage canvas(160, 120, QImage::Format_RGB32);
  MediaPlayer player;
  player.SetDisplay(&canvas);
  player.SetFileName(Script("player.Avs", SequenceScript(Interlaced())));
  ASSERT_TRUE(player.Open()) << player.ErrorString().toStdString();
  EXPECT_EQ(player.LengthFrames(), 40);
  EXPECT_EQ(player.LengthMs(), 800);
  player.SetPosition(300);
  EXPECT_EQ(ReadFrameCode(canvas), 15);
}

}  // namespace
}  // namespace kestrom::media
