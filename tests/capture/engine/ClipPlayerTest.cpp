// The clip player: opening a clip paused on its first frame, its times, sound and speed ratio,
// backward steps, DV clips at a reduced size, the forced codec, and clips that cannot be played.
// The clips' pictures carry their frame numbers, so a wrong frame is caught by value.
#include "ClipGraphFixture.h"

#include "capture/engine/Devices.h"
#include "capture/engine/FK.h"
#include "capture/engine/Framecatcher.h"
#include "platform/com/ComRuntime.h"
#include "platform/core/Clock.h"
#include "platform/core/Resources.h"
#include "platform/dshow/base/FilterGraph.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/Decoders.h"
#include "platform/dshow/writers/WriterInterfaces.h"
#include "tests/platform/dshow/support/StreamFilters.h"
#include "tests/platform/dshow/support/TestFilters.h"
#include "tools/ClipWriter.h"
#include "tools/FrameCode.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSlider>

namespace kestrom::engine::test {

namespace {

using com::ComPtr;
using namespace dshow;

}  // namespace

class ClipPlayer : public ClipGraphTest {
 protected:
  void SetUp() override {
    LiveGraphTest::SetUp();
    // The silent audio renderer keeps pace with the system clock: it must be the real one.
    core::SetSystemClock(nullptr);
  }

  /** @brief A panel whose log the test reads; the player opens paused unless the test says otherwise. */
  std::unique_ptr<TFramecatcher> Panel() {
    auto panel = std::make_unique<TFramecatcher>();
    TFK& k = panel->Engine();
    k.SetAutoStartPlayer(false);
    KeepLog(k);
    return panel;
  }
  QString Clip(const QString& name, int frames, bool audio, const QString& codec = "msmpeg4v2",
               QSize size = {160, 120}, int gop = 12) {
    tools::ClipSpec clip;
    clip.codec = codec;
    clip.size = size;
    clip.frames = frames;
    clip.gop = gop;
    clip.audio = audio;
    return WriteClip(clip, name);
  }
  /** @brief The number the kept frame (the last one the grabber delivered) shows; -1 without one. */
  static int ShownCode(TFK& k) {
    const TFrameData frame = k.KeptFrame();
    return frame.Bitmap.isNull() ? -1 : tools::ReadFrameCode(frame.Bitmap);
  }
};

TEST_F(ClipPlayer, OpensPausedOnTheFirstFrameWithTheClipsTimesAndKind) {
  for (const bool audio : {true, false}) {
    SCOPED_TRACE(audio);
    const QString clip = Clip(audio ? "sound.avi" : "silent.avi", 50, audio);
    auto panel = Panel();
    TFK& k = panel->Engine();
    int started = 0;
    k.Events().OnPlayerStarted = [&](QObject*) { ++started; };
    QSlider slider;
    k.SetPlayerTrackBar(&slider);
    k.SetPlayerFileName(clip);
    ASSERT_TRUE(k.OpenPlayer());
    EXPECT_EQ(started, 1);
    EXPECT_EQ(slider.minimum(), 1);
    EXPECT_EQ(slider.maximum(), 50);
    EXPECT_EQ(slider.pageStep(), 1);
    EXPECT_EQ(k.GetCurrentState(), cs_Player);
    EXPECT_TRUE(k.IsPlayerPaused());
    EXPECT_EQ(k.GetPlayerClipKind(), audio ? 2 : 1);
    EXPECT_EQ(k.GetPlayerFrameCount(), 50);
    EXPECT_EQ(k.GetPlayerDuration(), 50 * kFrame);
    EXPECT_EQ(k.FrameDuration(), kFrame);
    EXPECT_EQ(k.PlayerStepInterval(), 0);
    EXPECT_EQ(k.GetFrameNumber(), 1);
    // The short run that shows the first frame may have gone on: the clip is back at its start.
    EXPECT_TRUE(WaitUntil([&] { return ShownCode(k) == 0 && Position(k) == 0; })) << ShownCode(k) << " " << Position(k);
    PumpFor(150);
    EXPECT_TRUE(k.IsPlayerPaused());
    EXPECT_EQ(ShownCode(k), 0);
    EXPECT_EQ(k.GetFrameNumber(), 1) << "the number follows the frame shown";
    // Sound is kept in its renderer only when the clip has some.
    EXPECT_EQ(FilterNames(k).contains("Audio Renderer"), audio) << FilterNames(k).join(", ").toStdString();
    k.ClosePlayer();
    EXPECT_EQ(k.GetCurrentState(), cs_None);
    EXPECT_EQ(k.Graph(), nullptr);
  }
}

TEST_F(ClipPlayer, ASpeedRatioTheSoundRefusesPlaysByTimedStepsAndWithoutSoundByTheClock) {
  const QString clip = Clip("ratio.avi", 50, true);
  {
    SCOPED_TRACE("with sound");
    auto panel = Panel();
    TFK& k = panel->Engine();
    k.SetAutoStartPlayer(true);
    k.SetPlayerSpeedRatio(0.5);
    k.SetPlayerFileName(clip);
    ASSERT_TRUE(k.OpenPlayer());
    EXPECT_TRUE(Logged(TLogType::e_failed_to_set_player_speed_ratio_with_audio, "WARNING"));
    EXPECT_EQ(k.PlayerStepInterval(), 80);
    // Each step shows the next frame; the graph stays paused between steps.
    ASSERT_TRUE(WaitUntil([&] { return k.GetFrameNumber() >= 4; }));
    EXPECT_TRUE(k.IsPlayerPaused());
    EXPECT_EQ(k.PlayerStepThread()->Interval(), 80);
    const int64_t from = k.GetFrameNumber();
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(WaitUntil([&] { return k.GetFrameNumber() >= from + 5; }));
    // Five steps of 80 ms take at least 320 ms (the first may be under way already).
    EXPECT_GE(timer.elapsed(), 320);
    k.PausePlayer();
    PumpFor(200);
    const int64_t paused = k.GetFrameNumber();
    PumpFor(300);
    EXPECT_EQ(k.GetFrameNumber(), paused);
    // Running again goes on by steps, at the pace of a ratio set meanwhile: the graph cannot take it.
    k.SetPlayerSpeedRatio(0.25);
    EXPECT_EQ(k.PlayerStepInterval(), 160);
    k.SetPlayerSpeedRatio(0.5);
    k.RunPlayer();
    ASSERT_TRUE(WaitUntil([&] { return k.GetFrameNumber() >= paused + 3; }));
    EXPECT_TRUE(k.IsPlayerPaused());
    EXPECT_EQ(k.PlayerStepThread()->Interval(), 80);
    // The sound's paused renderer never holds the steps up: they go on to the last frame.
    EXPECT_TRUE(WaitUntil([&] { return k.GetFrameNumber() == 50 && ShownCode(k) == 49; }, 20000))
        << k.GetFrameNumber() << " " << ShownCode(k);
    k.ClosePlayer();
  }
  {
    SCOPED_TRACE("without sound");
    logged_.clear();
    auto panel = Panel();
    TFK& k = panel->Engine();
    k.SetAutoStartPlayer(true);
    k.SetPlayerAudioRendering(false);
    k.SetPlayerSpeedRatio(0.5);
    k.SetPlayerFileName(clip);
    ASSERT_TRUE(k.OpenPlayer());
    EXPECT_FALSE(Logged(TLogType::e_failed_to_set_player_speed_ratio_with_audio, "WARNING"));
    EXPECT_EQ(k.PlayerStepInterval(), 0);
    EXPECT_EQ(k.GetPlayerClipKind(), 2);
    EXPECT_EQ(k.RunState(), 2);
    EXPECT_FALSE(FilterNames(k).contains("Audio Renderer"));
    // The clock runs at half speed: 10 frames take about 800 ms.
    ASSERT_TRUE(WaitUntil([&] { return k.GetFrameNumber() >= 2; }));
    QElapsedTimer timer;
    timer.start();
    const int64_t from = k.GetFrameNumber();
    ASSERT_TRUE(WaitUntil([&] { return k.GetFrameNumber() >= from + 10; }));
    EXPECT_GE(timer.elapsed(), 600);
    // A new ratio reaches the clock of the running player between a pause and a run.
    k.SetPlayerSpeedRatio(2.0);
    EXPECT_TRUE(LogHas("ch graph state paused spsr1"));
    EXPECT_TRUE(LogHas("ch graph state running spsr2"));
    EXPECT_EQ(k.RunState(), 2);
    k.ClosePlayer();
  }
}

TEST_F(ClipPlayer, ASourceThatCannotCountFramesIsTakenAs24FramesASecond) {
  dshow::test::InProcessClass sourceClass(dshow::test::CLSID_TestFileSource,
                                         &dshow::test::CPatternSource::CreateFileSourceWithoutFrameTimes);
  SetSourceFilterForExtension(".pat", dshow::test::CLSID_TestFileSource);
  const QString file = QDir(workDir_.path()).filePath("pattern.pat");
  QFile(file).open(QIODevice::WriteOnly);
  auto panel = Panel();
  TFK& k = panel->Engine();
  k.SetFrameGrabber(fg_Disabled);
  k.SetPlayerFileName(file);
  const bool opened = k.OpenPlayer();
  SetSourceFilterForExtension(".pat", com::GUID_NULL);
  ASSERT_TRUE(opened);
  // Ten frames of 40 ms: 4,000,000 units, read as 24 frames a second.
  EXPECT_EQ(k.FrameDuration(), 416666);
  EXPECT_EQ(k.GetPlayerDuration(), 10 * kFrame);
  EXPECT_EQ(k.GetPlayerFrameCount(), 10);
  k.ClosePlayer();
}

TEST_F(ClipPlayer, BackwardPlayShowsEachEarlierFrameInTurn) {
  const QString clip = Clip("backwards.avi", 50, false);
  auto panel = Panel();
  TFK& k = panel->Engine();
  k.SetPlayerFileName(clip);
  ASSERT_TRUE(k.OpenPlayer());
  k.SetPlayerFramePosition(30);
  ASSERT_TRUE(WaitUntil([&] { return ShownCode(k) == 29; })) << ShownCode(k);
  // The frames shown, watched between the steps (a step every frame time) rather than through the
  // progress events, which a busy machine may merge.
  std::vector<int64_t> frames;
  ASSERT_TRUE(k.RunPlayerBackwards());
  ASSERT_TRUE(WaitUntil([&] {
    const int code = ShownCode(k);
    if (code >= 0 && (frames.empty() || frames.back() != code + 1)) frames.push_back(code + 1);
    return !frames.empty() && frames.back() <= 26;
  })) << ::testing::PrintToString(frames);
  k.PausePlayer();
  // Each frame a step showed is one before the last: none skipped, none shown twice.
  std::erase_if(frames, [](int64_t f) { return f >= 30; });
  ASSERT_GE(frames.size(), 3u);
  EXPECT_EQ(std::vector<int64_t>(frames.begin(), frames.begin() + 3), (std::vector<int64_t>{29, 28, 27}));
  EXPECT_TRUE(k.IsPlayerPaused());
  k.ClosePlayer();
}

TEST_F(ClipPlayer, ADVClipAtHalfSizeIsDecodedTo360x288AfterItsDataGrabber) {
  tools::ClipSpec dv;
  dv.path = QDir(workDir_.path()).filePath("dv.avi");
  dv.codec = "dvvideo";
  dv.size = {720, 576};
  dv.frames = 10;
  dv.audio = true;
  dv.audioRate = 48000;
  dv.audioChannels = 2;
  QString error;
  ASSERT_TRUE(tools::WriteClip(dv, &error)) << error.toStdString();
  auto panel = Panel();
  TFK& k = panel->Engine();
  k.SetPlayerDVSize(dvHalf);
  k.SetPlayerFileName(dv.path);
  ASSERT_TRUE(k.OpenPlayer());
  EXPECT_TRUE(k.PlayerDVDataGrabber());
  const QStringList names = FilterNames(k);
  EXPECT_TRUE(names.contains("DV Video Decoder")) << names.join(", ").toStdString();
  EXPECT_EQ(names.filter("GRB_DvData").size(), 1) << names.join(", ").toStdString();
  ASSERT_TRUE(k.InputFormatKnown());
  const BITMAPINFOHEADER* header = BitmapHeaderOf(k.InputFormat());
  ASSERT_NE(header, nullptr);
  EXPECT_EQ(header->biWidth, 360);
  EXPECT_EQ(std::abs(header->biHeight), 288);
  EXPECT_TRUE(WaitUntil([&] { return ShownCode(k) == 0; })) << ShownCode(k);
  EXPECT_EQ(k.KeptFrame().Bitmap.size(), QSize(360, 288));
  k.ClosePlayer();
}

TEST_F(ClipPlayer, AForcedCodecIsFoundByClassIdOrNameAndAnUnknownOneIsOnlyLogged) {
  const QString clip = Clip("forced.avi", 12, false);
  struct Case {
    QString codec;
    bool found;
  };
  const QString decoder = QStringLiteral("MPEG-4 V2 Video Decoder");
  for (const Case& c : {Case{decoder, true}, Case{com::GuidToString(CLSID_Mpeg4V2VideoDecoder).toLower(), true},
                        Case{"{not a class id}", false}, Case{"No Such Codec", false},
                        Case{"{00000000-0000-0000-0000-000000000001}", false}}) {
    SCOPED_TRACE(c.codec.toStdString());
    logged_.clear();
    auto panel = Panel();
    TFK& k = panel->Engine();
    k.SetPlayerForcedCodec(c.codec);
    k.SetPlayerFileName(clip);
    ASSERT_TRUE(k.OpenPlayer());
    EXPECT_EQ(Logged(TLogType::e_failed_to_bind_codec, "ERROR", "player codec not found"), !c.found);
    // The forced codec decodes the clip: no second decoder comes in.
    EXPECT_EQ(FilterNames(k).filter(decoder).size(), 1) << FilterNames(k).join(", ").toStdString();
    EXPECT_TRUE(WaitUntil([&] { return ShownCode(k) == 0; })) << ShownCode(k);
    k.ClosePlayer();
  }
}

TEST_F(ClipPlayer, AClipWhoseFrameGrabberCannotBeMadeStillPlays) {
  const QString clip = Clip("nograbber.avi", 12, false);
  auto panel = Panel();
  TFK& k = panel->Engine();
  // A module of an older grabber record: the grabber is refused.
  k.SetFilterImageGetter([] { return core::FindResource(QStringLiteral("TFCATCH7026")); });
  k.SetPlayerFileName(clip);
  ASSERT_TRUE(k.OpenPlayer());
  EXPECT_TRUE(k.PlayerGrabberFailed());
  EXPECT_TRUE(Logged(TLogType::e_failed_to_bind_frame_grabber, "ERROR"));
  EXPECT_EQ(FilterNames(k).filter("GRB_RGB").size(), 0);
  EXPECT_TRUE(k.IsPlayerPaused());
  k.RunPlayer();
  EXPECT_EQ(k.RunState(), 2);
  k.ClosePlayer();
  k.SetFilterImageGetter(nullptr);
}

TEST_F(ClipPlayer, AClipThatCannotBePlayedLeavesNoGraphAndTheNextOnePlays) {
  const QString corrupt = QDir(workDir_.path()).filePath("corrupt.avi");
  {
    QFile file(corrupt);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("RIFF\x10\x00\x00\x00" "AVI LIST", 16));
    file.write(QByteArray(4000, '\x5A'));
  }
  const QString good = Clip("good.avi", 12, false);
  auto panel = Panel();
  TFK& k = panel->Engine();
  for (const QString& bad : {corrupt, QDir(workDir_.path()).filePath("missing.avi")}) {
    SCOPED_TRACE(bad.toStdString());
    logged_.clear();
    k.SetPlayerFileName(bad);
    EXPECT_FALSE(k.OpenPlayer());
    EXPECT_TRUE(Logged(TLogType::e_failed_to_render_file, "ERROR", "cannot play " + bad));
    EXPECT_EQ(k.GetCurrentState(), cs_None);
    EXPECT_EQ(k.Graph(), nullptr);
    EXPECT_FALSE(k.HoldsGraphInterfaces());
    EXPECT_EQ(k.GetPlayerClipKind(), 0);
    EXPECT_EQ(k.GetPlayerFrameCount(), 0);
  }
  k.SetPlayerFileName(good);
  ASSERT_TRUE(k.OpenPlayer());
  EXPECT_TRUE(WaitUntil([&] { return ShownCode(k) == 0; }));
  k.ClosePlayer();
}

}  // namespace kestrom::engine::test

namespace kestrom::engine::test {

// Files this system writes open with their true frame count and frame time: a re-encoding of a
// clip or of a script (compressed and copied) and a recording.
TEST_F(ClipPlayer, FilesTheEngineWroteOpenWithTheirFrameCountAndFrameTime) {
  const QString clip = Clip("ten.avi", 10, true);
  const QString script = QDir(workDir_.path()).filePath("Input.avs");
  {
    QFile f(script);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(("AVISource(\"" + clip + "\")\r\nTrim(0, 9)\r\n").toUtf8());
  }
  auto lists = Camera(false);  // builds the device and compressor lists
  int mpeg4 = -1;
  for (int i = 0; i < VideoCompressorList()->Count() && mpeg4 < 0; ++i)
    if (VideoCompressorList()->Entry(i)->Key.contains(com::GuidToString(CLSID_Mpeg4V2Compressor), Qt::CaseInsensitive))
      mpeg4 = i;
  ASSERT_GE(mpeg4, 0);
  struct Case {
    const char* name;
    QString source;
    bool copyMode, compress, processing, audio;
  };
  const Case cases[] = {
      {"clip compressed", clip, false, true, false, true},
      {"clip copied", clip, true, false, false, true},
      {"script compressed", script, false, true, false, false},
      {"script copied", script, true, false, false, false},
      {"clip through the grabber, compressed", clip, false, true, true, true},
      {"script through the grabber, compressed", script, false, true, true, true},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QString dest = QDir(workDir_.path()).filePath(QString("out%1.avi").arg(n++));
    {
      auto fk = Camera(false);
      fk->SetVideoCompressor(mpeg4);
      fk->SetFrameGrabber(c.processing ? fg_BothStreams : fg_Disabled);
      fk->SetAVIFormatOpenDML(true);
      ASSERT_TRUE(fk->Reencode(c.source, dest, c.copyMode, false, c.compress, c.processing, c.audio));
    }
    EXPECT_EQ(Codes(dest).size(), 10u);
    auto panel = Panel();
    TFK& k = panel->Engine();
    k.SetPlayerFileName(dest);
    ASSERT_TRUE(k.OpenPlayer());
    EXPECT_EQ(k.GetPlayerFrameCount(), 10);
    EXPECT_EQ(k.GetPlayerDuration(), 10 * kFrame);
    EXPECT_EQ(k.FrameDuration(), kFrame);
    // It rests on its first frame and seeks by its index.
    const auto codes = Codes(dest);
    EXPECT_TRUE(WaitUntil([&] { return ShownCode(k) == codes[0]; })) << ShownCode(k);
    PumpFor(150);
    EXPECT_EQ(k.GetFrameNumber(), 1);
    EXPECT_EQ(ShownCode(k), codes[0]);
    k.SetPlayerFramePosition(6);
    EXPECT_TRUE(WaitUntil([&] { return ShownCode(k) == codes[5]; })) << ShownCode(k);
    k.ClosePlayer();
  }
  // A recording: as many frames as the file holds, 40 ms each.
  QString recorded;
  {
    auto fk = Camera(true);
    fk->SetAVIFormatOpenDML(true);
    ASSERT_TRUE(fk->StartRecording());
    QThread::msleep(400);
    fk->StopRecording();
    recorded = fk->GetLastRecordedFile();
  }
  const size_t frames = Codes(recorded).size();
  ASSERT_GT(frames, 2u);
  auto panel = Panel();
  TFK& k = panel->Engine();
  k.SetPlayerFileName(recorded);
  ASSERT_TRUE(k.OpenPlayer());
  EXPECT_EQ(k.GetPlayerFrameCount(), static_cast<int64_t>(frames));
  EXPECT_EQ(k.FrameDuration(), kFrame);
  k.ClosePlayer();
}

}  // namespace kestrom::engine::test
