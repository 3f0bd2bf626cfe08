// The capture form's recordings on the real component, graph and test devices: single captures
// read back frame by frame (the camera's pictures carry their numbers), the time limit, the
// rating, saving a capture beside (never onto) its source, sequences re-encoded into numbered
// files, and relays played back and saved.

#include "CaptureFormFixture.h"
#include "capture/app/CaptureGlobals.h"
#include "capture/app/CaptureModes.h"
#include "capture/app/KestromCaptureForm.h"
#include "capture/app/RecordingRules.h"
#include "capture/engine/DeviceProvider.h"
#include "capture/engine/SyncManager.h"
#include "platform/core/Paths.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/media/VideoReader.h"
#include "platform/registry/Registry.h"
#include "platform/ui/Dialogs.h"
#include "platform/ui/Terminate.h"
#include "tests/TestSupport.h"
#include "tests/platform/dshow/support/CameraFrames.h"
#include "tests/platform/core/QtPrint.h"
#include "tools/FrameCode.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

extern "C" {
#include <libavformat/avformat.h>
}

namespace kestrom::capture {
namespace {

/** @brief Seconds of each stream, from the packets themselves (video: frames x frame time). */
struct StreamSeconds {
  double video = 0, audio = -1;
};
StreamSeconds MeasureStreams(const QString& file) {
  StreamSeconds out;
  AVFormatContext* ctx = nullptr;
  if (avformat_open_input(&ctx, QFile::encodeName(file).constData(), nullptr, nullptr) < 0) return out;
  avformat_find_stream_info(ctx, nullptr);
  std::vector<int64_t> ticks(ctx->nb_streams, 0);
  AVPacket* packet = av_packet_alloc();
  while (av_read_frame(ctx, packet) >= 0) {
    ticks[packet->stream_index] += packet->duration > 0 ? packet->duration : 1;
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    const AVStream* st = ctx->streams[i];
    const double seconds = double(ticks[i]) * av_q2d(st->time_base);
    if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) out.video = seconds;
    if (st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) out.audio = seconds;
  }
  avformat_close_input(&ctx);
  return out;
}

std::vector<int> Codes(const QString& file) {
  std::vector<int> codes;
  media::VideoReader reader;
  EXPECT_TRUE(reader.Open(file)) << file.toStdString() << ": " << reader.ErrorString().toStdString();
  for (int i = 0; i < reader.Info().frameCount; ++i) codes.push_back(tools::ReadFrameCode(reader.Frame(i)));
  return codes;
}

using kestrom::dshow::test::ExpectCameraFramesInOrder;
using kestrom::test::ReadAll;

class RecordingFormTest : public CaptureFormFixture {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(CaptureFormFixture::SetUp());
    dshow::SetTestDevicesLive(true);
    UseTestCameraOnly();
    connect_ = QObject::connect(&mediator_, &CaptureMediator::ReadoutWritten,
                                [this](int button, const QString& text) { readouts_ << qMakePair(button, text); });
    Start();
    ASSERT_EQ(State(), engine::cs_Preview);
  }
  void TearDown() override {
    EXPECT_EQ(dialogs_.dialogs.Pending(), 0u);
    QObject::disconnect(connect_);
    CaptureFormFixture::TearDown();
  }

  void Push(ui::ScriptedDialogs::Answer answer) { dialogs_.dialogs.Push(std::move(answer)); }
  void Choose(QGroupBox* group, int item) {
    group->findChild<QRadioButton*>(group->objectName() + QStringLiteral("_%1").arg(item))->setChecked(true);
  }
  QString Label(const char* name) const { return form_->findChild<QLabel*>(QString::fromLatin1(name))->text(); }
  bool Visible(const char* name) const { return form_->findChild<QWidget*>(QString::fromLatin1(name))->isVisible(); }

  /** @brief Waits for the prepared recording to start (its ready question answered by the script). */
  bool WaitRecording() { return WaitFor([this] { return State() == engine::cs_Recording && form_->RecordingCounted; }); }
  /** @brief Waits for the recording to end and the form to be back in preview or the player. */
  bool WaitRecordingEnd() { return WaitFor([this] { return State() != engine::cs_Recording; }); }

  QMetaObject::Connection connect_;
  QList<QPair<int, QString>> readouts_;
};

class CaptureAppRecording : public RecordingFormTest {};
class CaptureAppSequence : public RecordingFormTest {};
class CaptureAppRelay : public RecordingFormTest {};

// ---------------------------------------------------------------- rules without widgets

TEST(CaptureAppRecordingRules, RatingRoundsToAWholePercentageBeforeItCompares) {
  const struct {
    int64_t captured, dropped;
    int percent;
    const char* text;
    const char* quality;
  } cases[] = {
      {0, 0, 100, "100.00 %", "Very Poor"},  {0, 7, 100, "100.00 %", "Very Poor"},
      {999, 1, 0, "0.00 %", "Excellent"},    {995, 5, 0, "0.00 %", "Excellent"},
      {990, 10, 1, "1.00 %", "Adequate"},    {985, 15, 2, "2.00 %", "Adequate"},
      {950, 50, 5, "5.00 %", "Poor"},        {910, 90, 9, "9.00 %", "Poor"},
      {900, 100, 10, "10.00 %", "Very Poor"}, {1000, 0, 0, "0.00 %", "Excellent"},
  };
  for (const auto& c : cases) {
    const CaptureRating rating = RateCaptureQuality(c.captured, c.dropped);
    EXPECT_EQ(rating.percent, c.percent) << c.captured << "/" << c.dropped;
    EXPECT_EQ(rating.droppedText, c.text) << c.captured << "/" << c.dropped;
    EXPECT_EQ(rating.quality, c.quality) << c.captured << "/" << c.dropped;
  }
}

TEST(CaptureAppRecordingRules, LimitsNamesScriptsAndRelayChoices) {
  EXPECT_FALSE(TimeLimitReached(1'000'000, 0));  // 0 never stops
  EXPECT_FALSE(TimeLimitReached(1, 2));
  EXPECT_TRUE(TimeLimitReached(2, 2));
  EXPECT_TRUE(TimeLimitReached(3600, kRecordingTimeLimit));

  EXPECT_EQ(DVTimeCodeText(1, 2, 3), "01:02:03");
  EXPECT_EQ(DVTimeCodeText(0, 0, -1), "                     - - : - - : - -   - -");

  EXPECT_EQ(SequenceVideoName("/seq/", "Jump", 7), "/seq/Jump7.avi");
  EXPECT_EQ(SequenceVideoName("/seq", "Jump", 120), "/seq/Jump120.avi");

  const auto lines = SequenceScriptLines("/w/KestromWORKING/Sequence01.avi");
  ASSERT_TRUE(lines);
  EXPECT_EQ(*lines, QStringList({"DirectShowSource(\"/w/KestromWORKING/Sequence01.avi\") ", "SeparateFields", "Bob"}));
  EXPECT_FALSE(SequenceScriptLines("/w/a\"b.avi"));
  EXPECT_FALSE(SequenceScriptLines("/w/a\nb.avi"));

  const int durations[] = {5, 10, 15, 20, 30, 60};
  const int delays[] = {1, 5000, 10000, 15000, 20000, 30000};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(RelayDurationSeconds(i), durations[i]);
    EXPECT_EQ(RelayDelayMs(i), delays[i]);
  }
  EXPECT_EQ(RelayPlaybackSpeedOf(0), 1.0);
  EXPECT_EQ(RelayPlaybackSpeedOf(1), 0.5);
  EXPECT_EQ(RelayPlaybackSpeedOf(2), 0.25);
  EXPECT_TRUE(RelayPlaysAudio(1.0));
  EXPECT_FALSE(RelayPlaysAudio(0.5));
  EXPECT_FALSE(RelayPlaysAudio(0.25));

  QTemporaryDir dir;
  EXPECT_TRUE(SequenceFolderProblem(dir.path()).isEmpty());
  EXPECT_FALSE(SequenceFolderProblem(dir.filePath("missing")).isEmpty());
  EXPECT_FALSE(SequenceFolderProblem(QString()).isEmpty());
  EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());  // the probe leaves nothing
}

// ---------------------------------------------------------------- single capture

TEST_F(CaptureAppRecording, FullSizeCaptureWithoutLimitKeepsConsecutiveFramesAndItsSoundInStep) {
  TKestromCaptureForm& form = *form_;
  form.CaptureAudioPanel->setChecked(false);  // full size at maximum quality keeps its sound all the same
  Push(ui::mrOk);                             // ready to start
  form.StartCaptureButton->click();
  EXPECT_TRUE(form.StartRecordingTimer->isActive());
  EXPECT_EQ(form.RecordingTimeLimit, kRecordingTimeLimit);
  EXPECT_TRUE(form.Framecatcher->GetAudioRecording());
  EXPECT_TRUE(form.Framecatcher->GetRecordingCanPause());
  ASSERT_TRUE(WaitRecording());
  EXPECT_EQ(MessageRequests().value(0).text, "Ready to start capture!");
  EXPECT_EQ(MessageRequests().value(0).position, QPoint(form.x() + 570, form.y() + 180));
  EXPECT_TRUE(Visible("StopRecordingPanel"));

  // The pause takes, and the captions say so; the fault was captions changing on a refusal.
  form.PauseCaptureButton->click();
  if (form.Framecatcher->IsRecordingPaused()) {
    EXPECT_EQ(form.PauseCaptureButton->text(), "Resume");
    EXPECT_EQ(Label("Label3"), "Recording paused...");
    form.PauseCaptureButton->click();
  }
  EXPECT_FALSE(form.Framecatcher->IsRecordingPaused());
  EXPECT_EQ(form.PauseCaptureButton->text(), "Pause");
  EXPECT_EQ(Label("Label3"), "Recording in progress...");

  // Past 1 s the recording goes on (a limit of 0 used to stop it at once), up to the user's stop:
  // 80 frames counted (3.2 s of stream however slowly a loaded machine delivers them).
  ASSERT_TRUE(WaitFor([&] { return State() != engine::cs_Recording || form.CapturedFrames >= 80; }, 120000));
  EXPECT_EQ(State(), engine::cs_Recording);
  Push(ui::mrNo);  // play the captured video?
  form.StopCaptureButton2->click();
  ASSERT_TRUE(WaitRecordingEnd());
  EXPECT_TRUE(form.SummaryTimer->isActive() || !Visible("ReportBox"));
  ASSERT_TRUE(WaitFor([&] { return !form.SummaryTimer->isActive() && dialogs_.dialogs.Pending() == 0; }));
  EXPECT_EQ(form.LastCaptureFile, Globals().SampleFile);
  EXPECT_EQ(form.PlayerSourceFile, Globals().SampleFile);
  EXPECT_TRUE(Label("DurationLabel").endsWith(" secs"));
  EXPECT_FALSE(Label("Qualitylabel").isEmpty());
  EXPECT_FALSE(Visible("ReportBox"));
  EXPECT_EQ(form.CaptureFrameCount->text(), " ");

  form_->Framecatcher->ClosePlayer();
  // Every frame the camera delivered is in the file; the form's summary counts the ones a loaded
  // machine made it drop up to its last progress record (the camera counts those it still held
  // when the stream stopped after that).
  ExpectCameraFramesInOrder(Codes(Globals().SampleFile));
  EXPECT_LE(form.DroppedFrameCount, dshow::TestCameraDroppedFrames());
  const StreamSeconds seconds = MeasureStreams(Globals().SampleFile);
  EXPECT_GE(seconds.video, 2.5);
  ASSERT_GE(seconds.audio, 0) << "no sound recorded";
  // The microphone delivers 100 ms blocks, so the two ends may lie a block apart; the pictures may
  // fall short by the frames the camera dropped besides (the writer fills a dropped frame's time
  // only when a later frame comes).
  const double lead = seconds.audio - seconds.video;
  EXPECT_GE(lead, -0.101) << "more pictures than sound";
  EXPECT_LE(lead, 0.101 + 0.04 * double(dshow::TestCameraDroppedFrames())) << "sound and pictures apart";
}

// The limit reads the elapsed time of the frame-progress records in every set-up: at half size
// the grabber sees the capture stream's timed frames; at full size the frames are counted from
// the device (maximum quality) or grabbed on the preview stream, neither with a time of its own.
TEST_F(CaptureAppRecording, ATwoSecondLimitStopsTheCapture) {
  TKestromCaptureForm& form = *form_;
  struct Case {
    const char* name;
    int size, quality;
  };
  const Case cases[] = {{"half size", 1, 1}, {"full size, maximum quality", 0, 0}, {"full size, compressed", 0, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool half = c.size == 1;
    Choose(form.VideoCaptureSize, c.size);
    Choose(form.VideoQualityRadioBox, c.quality);
    Push(ui::mrOk);
    Push(ui::mrNo);  // save the video? (half size) or play it? (full size)
    form.StartCaptureButton->click();
    form.RecordingTimeLimit = 2;
    ASSERT_TRUE(WaitRecording());
    ASSERT_TRUE(WaitRecordingEnd());
    EXPECT_GE(form.RecordedSeconds, 2);
    EXPECT_LT(form.RecordedSeconds, 4);
    ASSERT_TRUE(WaitFor([&] { return !form.SummaryTimer->isActive() && dialogs_.dialogs.Pending() == 0; }));
    form_->Framecatcher->ClosePlayer();
    const StreamSeconds seconds = MeasureStreams(half ? Globals().HalfSampleFile : Globals().SampleFile);
    EXPECT_GE(seconds.video, 1.5);
    EXPECT_LT(seconds.video, 3.5);
  }
}

TEST_F(CaptureAppRecording, APauseTheComponentRefusesLeavesTheCaptions) {
  TKestromCaptureForm& form = *form_;
  form.PauseCaptureButton->setText("Pause Capture");
  form.PauseCaptureButton->click();  // nothing is recording: the pause cannot take
  EXPECT_EQ(form.PauseCaptureButton->text(), "Pause Capture");
  EXPECT_EQ(Label("Label3"), "Recording in progress...");
}

TEST_F(CaptureAppRecording, AFailedCaptureIsNeitherSummarisedNorOfferedForSaving) {
  TKestromCaptureForm& form = *form_;
  for (bool half : {false, true}) {
    form.CaptureJob = 1;
    form.RecordingSettings.HalfSize = half;
    form.StopRecordingTimer->start();  // armed by frames that came while the recording stopped
    Push(ui::mrOk);                    // the coach is told it failed
    form.FramecatcherRecordingCompleted(Globals().SampleFile, false);
    EXPECT_TRUE(LogLines().contains("capture failed."));
    EXPECT_FALSE(form.SummaryTimer->isActive());
    EXPECT_FALSE(form.StopRecordingTimer->isActive()) << "it would stop the next recording";
  }
  // Only the failure is told: no save question, no summary.
  EXPECT_EQ(Messages().size(), 2);
  EXPECT_EQ(Messages().filter("The recording of " + Globals().SampleFile + " has failed").size(), 2);
  EXPECT_EQ(State(), engine::cs_Preview);
}

TEST_F(CaptureAppRecording, SavingCopiesExactlyAndNeverOntoTheSource) {
  TKestromCaptureForm& form = *form_;
  const QString source = Globals().HalfSampleFile;
  QByteArray bytes(300000, '\0');
  for (int i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 7);
  {
    QFile f(source);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
  }
  QTemporaryDir out;
  ASSERT_TRUE(QFile::link(source, out.filePath("link.avi")));
  const QString otherSpelling = Globals().WorkingFolder + "/../" + QFileInfo(Globals().WorkingFolder).fileName() +
                                "/HalfSample.avi";
  auto complete = [&] {
    form.CaptureJob = 1;
    form.RecordingSettings.HalfSize = true;
    form.FramecatcherRecordingCompleted(source, true);
  };
  // A saved file is identical to its source.
  Push(ui::mrYes);
  Push(out.filePath("saved.avi"));
  complete();
  EXPECT_EQ(ReadAll(out.filePath("saved.avi")), bytes);
  EXPECT_EQ(LogLines().filter("File Saved OK").size(), 1);
  EXPECT_TRUE(Messages().value(0).startsWith("This video has now been successfully captured"));

  // The source through a link or another spelling: asked again, then left alone.
  Push(ui::mrYes);
  Push(out.filePath("link.avi"));
  Push(ui::mrYes);  // choose another name
  Push(otherSpelling);
  Push(ui::mrNo);  // give up
  complete();
  EXPECT_EQ(ReadAll(source), bytes);
  EXPECT_EQ(Messages().filter("You cannot use the same name").size(), 2);

  // A target that cannot be written.
  Push(ui::mrYes);
  Push(out.filePath("no/such/folder/x.avi"));
  complete();
  EXPECT_TRUE(LogLines().contains("Erro File Not Saved"));
  EXPECT_EQ(ReadAll(source), bytes);
  EXPECT_EQ(State(), engine::cs_Preview);
}

// ---------------------------------------------------------------- sequences

TEST_F(CaptureAppSequence, ThreeVideosThenNoGiveNumberedFilesWithEveryFrameTwiceInOrder) {
  TKestromCaptureForm& form = *form_;
  QTemporaryDir folder;
  form.SequenceCheckBox->setChecked(true);
  EXPECT_EQ(form.StartCaptureButton->text(), "Capture Sequence of Videos");
  form.FileDirectoryEditBox->setText(folder.path());
  form.FileNameEditBox->setText("Jump");
  form.SequenceNumberSpinEdit->setValue(4);
  const int answers[] = {ui::mrYes, ui::mrYes, ui::mrNo};
  Push(ui::mrOk);
  form.StartCaptureButton->click();
  for (int video = 1; video <= 3; ++video) {
    ASSERT_TRUE(WaitRecording()) << video;
    EXPECT_EQ(form.Framecatcher->GetRecordingFileName(), CaptureFilePath(video));
    ASSERT_TRUE(WaitFor([&] { return form.CapturedFrames >= 12; }));
    Push(ui::ModalResult(answers[video - 1]));
    if (video < 3) Push(ui::mrOk);  // the next video's ready question
    form.StopCaptureButton2->click();
    ASSERT_TRUE(WaitRecordingEnd());
  }
  Push(ui::mrOk);  // the compression sequence has finished
  ASSERT_TRUE(WaitFor([&] { return dialogs_.dialogs.Pending() == 0 && State() == engine::cs_Preview; }, 60000))
      << LogLines().join('|').toStdString();
  EXPECT_EQ(Messages().filter("has been successfully captured").size(), 3);
  EXPECT_TRUE(Messages().last().startsWith("The video compression sequence has now finished"));
  EXPECT_TRUE(readouts_.contains(qMakePair(4, QString("Compression Seq 3"))));
  EXPECT_EQ(form.cursor().shape(), Qt::ArrowCursor);
  EXPECT_EQ(form.RecordingSettings.SequenceJob, 0);

  EXPECT_EQ(QDir(folder.path()).entryList({"*.avi"}, QDir::Files, QDir::Name),
            QStringList({"Jump4.avi", "Jump5.avi", "Jump6.avi"}));
  for (int video = 1; video <= 3; ++video) {
    const std::vector<int> source = Codes(CaptureFilePath(video));
    const std::vector<int> made = Codes(folder.filePath(QString("Jump%1.avi").arg(video + 3)));
    ASSERT_EQ(made.size(), 2 * source.size()) << video;
    for (size_t i = 0; i < made.size(); ++i) ASSERT_EQ(made[i], source[i / 2]) << video << " frame " << i;
  }
}

TEST_F(CaptureAppSequence, TheEleventhVideoAsksAndYesCompressesTen) {
  TKestromCaptureForm& form = *form_;
  form.SequenceCount = 10;
  form.RecordingSettings.HalfSize = false;
  Push(ui::mrYes);
  form.NextSequenceFile();
  const ui::MessageRequest asked = MessageRequests().value(0);
  EXPECT_TRUE(asked.text.startsWith("You have reached the maximum of 10 sequential capture files."));
  EXPECT_EQ(asked.position, QPoint(form.x() + 490, form.y() + 170));
  EXPECT_FALSE(form.StartRecordingTimer->isActive());  // the eleventh is never recorded
  EXPECT_EQ(form.SequenceCount, 10);
  EXPECT_EQ(form.SequenceReencodeIndex, 1);
  EXPECT_TRUE(form.Phase1Timer->isActive());
  EXPECT_TRUE(readouts_.contains(qMakePair(4, QString("Compression Seq 10"))));
  form.Phase1Timer->stop();

  // No instead: back to preview, nothing compressed.
  form.SequenceCount = 10;
  Push(ui::mrNo);
  form.NextSequenceFile();
  EXPECT_FALSE(form.Phase1Timer->isActive());
  EXPECT_EQ(form.cursor().shape(), Qt::ArrowCursor);
}

TEST_F(CaptureAppSequence, HalfSizeVideosAreNumberedFromTheStartNumber) {
  TKestromCaptureForm& form = *form_;
  QTemporaryDir folder;
  form.SequenceCheckBox->setChecked(true);
  Choose(form.VideoCaptureSize, 1);
  form.FileDirectoryEditBox->setText(folder.path());
  form.FileNameEditBox->setText("Seq");
  form.SequenceNumberSpinEdit->setValue(7);
  form.SequenceReencodeIndex = 5;  // left over from an earlier sequence: plays no part
  form.StartCaptureButton->click();
  form.StartRecordingTimer->stop();
  EXPECT_EQ(form.Framecatcher->GetRecordingFileName(), folder.filePath("Seq7.avi"));
  EXPECT_TRUE(readouts_.contains(qMakePair(3, folder.filePath("Seq7.avi"))));
  Push(ui::mrYes);  // next video
  form.FramecatcherRecordingCompleted(folder.filePath("Seq7.avi"), true);
  form.StartRecordingTimer->stop();
  EXPECT_EQ(form.Framecatcher->GetRecordingFileName(), folder.filePath("Seq8.avi"));
  Push(ui::mrNo);  // at half size No ends the sequence
  form.FramecatcherRecordingCompleted(folder.filePath("Seq8.avi"), true);
  EXPECT_FALSE(form.StartRecordingTimer->isActive());
  EXPECT_FALSE(form.Phase1Timer->isActive());
  EXPECT_EQ(form.PageControl1->currentIndex(), CapturePageIndex);
}

TEST_F(CaptureAppSequence, AFolderThatCannotTakeTheVideosIsRefusedBeforeTheFirst) {
  TKestromCaptureForm& form = *form_;
  QTemporaryDir base;
  form.SequenceCheckBox->setChecked(true);
  for (const QString& folder : {base.filePath("missing"), QString()}) {
    form.FileDirectoryEditBox->setText(folder);
    Push(ui::mrOk);
    form.StartCaptureButton->click();
    EXPECT_FALSE(form.StartRecordingTimer->isActive());
    EXPECT_EQ(form.SequenceCount, 0);
    EXPECT_EQ(State(), engine::cs_Preview);
  }
  EXPECT_EQ(Messages().filter("does not exist").size(), 2);
}

// ---------------------------------------------------------------- relay

TEST_F(CaptureAppRelay, RelaysGoAThenBAndOnlyFullSpeedPlaysSound) {
  TKestromCaptureForm& form = *form_;
  QTemporaryDir out;
  const QString fileA = Globals().WorkingFolder + "/RelayASample.Avi";
  const QString fileB = Globals().WorkingFolder + "/RelayBSample.Avi";
  struct Run {
    int speedItem;
    QString file;
    bool audio;
    bool save;
  } runs[] = {{0, fileA, true, true}, {1, fileB, false, false}};
  for (const Run& run : runs) {
    form.PlaybackSpeed->setCurrentIndex(run.speedItem);
    Push(ui::mrOk);  // ready
    form.RelayCaptureButton->click();
    form.RelayDuration = 1;  // shorter than any choice, to keep the test quick
    EXPECT_EQ(form.Framecatcher->GetRecordingFileName(), run.file);
    EXPECT_FALSE(form.PageControl1->isEnabled());
    ASSERT_TRUE(WaitRecording());
    ASSERT_TRUE(WaitFor([&] { return State() == engine::cs_Player; })) << LogLines().join('|').toStdString();
    EXPECT_EQ(form.Framecatcher->GetPlayerAudioRendering(), run.audio);
    EXPECT_EQ(form.PlayerAudioMode, run.audio ? 1 : 2);
    EXPECT_EQ(form.Framecatcher->GetPlayerFileName(), run.file);
    Push(ui::mrNo);  // play it again?
    if (run.save) {
      Push(ui::mrYes);
      Push(out.filePath("relay.avi"));
    } else {
      Push(ui::mrNo);
    }
    ASSERT_TRUE(WaitFor([&] { return State() == engine::cs_Preview && !form.RelayMode; }))
        << LogLines().join('|').toStdString();
    EXPECT_TRUE(form.RelaySaveAsked);
    EXPECT_TRUE(form.PageControl1->isEnabled());
    EXPECT_FALSE(form.Framecatcher->GetDisplay_FullScreen());
  }
  EXPECT_TRUE(LogLines().contains("relay recording started"));
  EXPECT_EQ(ReadAll(out.filePath("relay.avi")), ReadAll(fileA));
  EXPECT_FALSE(ReadAll(fileA).isEmpty());
  EXPECT_TRUE(QFile::exists(fileB));
  EXPECT_EQ(Messages().filter("Relay Video has been captured OK.").size(), 2);
}

}  // namespace
}  // namespace kestrom::capture
