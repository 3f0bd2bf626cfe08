// Videos made from the pictures in Temp at another program's request: the request text as read,
// and the capture form on the real component and test camera packing, recording and telling a
// window titled as the analysis window, with the files read back through the media layer.

#include "CaptureFormFixture.h"
#include "common/startup/GlobalPaths.h"
#include "capture/app/CaptureGlobals.h"
#include "capture/app/KestromCaptureForm.h"
#include "capture/app/VideoRequest.h"
#include "capture/engine/FKProperties.h"
#include "capture/engine/SyncManager.h"
#include "platform/core/Bmp.h"
#include "platform/core/Paths.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/media/VideoReader.h"
#include "platform/registry/Registry.h"
#include "platform/ui/Dialogs.h"
#include "platform/ui/Terminate.h"
#include "platform/winmsg/WidgetWindow.h"
#include "platform/winmsg/WinMsg.h"
#include "tests/platform/winmsg/PeerProcess.h"
#include "tools/FrameCode.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

namespace kestrom::capture {
namespace {

// ---------------------------------------------------------------- the request text

QByteArray Text(const QByteArray& text) { return text + QByteArray(1, '\0'); }

TEST(CaptureAppImagesRequest, ReadsRateAndPathAndRefusesWhatCannotBeRun) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QByteArray folder = QFile::encodeName(dir.path());
  // A text of exactly 100 bytes: the rate field and a path that fills the rest.
  QByteArray longest = "00050.00" + folder + "/";
  longest += QByteArray(100 - longest.size() - 4, 'v') + ".avi";
  ASSERT_EQ(longest.size(), 100);
  QByteArray tooLong = longest;
  tooLong.insert(8 + folder.size() + 1, 'w');

  const struct Case {
    const char* what;
    QByteArray bytes;
    uint32_t count;  // cbData
    double rate;
    QByteArray path;
    bool accepted;
  } cases[] = {
      {"rate and path", Text("00050.00" + folder + "/v.avi"), 0, 50.0, folder + "/v.avi", true},
      {"rate with blanks and a fraction", Text("   12.5 " + folder + "/v.avi"), 0, 12.5, folder + "/v.avi", true},
      {"rate not a number", Text("fiftyfps" + folder + "/v.avi"), 0, 25.0, folder + "/v.avi", true},
      {"rate 0", Text("00000.00" + folder + "/v.avi"), 0, 25.0, folder + "/v.avi", true},
      {"rate negative", Text("-0050.00" + folder + "/v.avi"), 0, 25.0, folder + "/v.avi", true},
      {"rate not finite", Text("     inf" + folder + "/v.avi"), 0, 25.0, folder + "/v.avi", true},
      {"rate nan", Text("     nan" + folder + "/v.avi"), 0, 25.0, folder + "/v.avi", true},
      {"stops at the first zero byte", Text("00050.00" + folder + "/v.avi") + "/elsewhere/x.avi", 0, 50.0,
       folder + "/v.avi", true},
      {"reads only the counted bytes", "00050.00" + folder + "/v.avi.junk", uint32_t(8 + folder.size() + 6), 50.0,
       folder + "/v.avi", true},
      {"exactly 100 bytes", Text(longest), 0, 50.0, longest.mid(8), true},
      {"100 bytes counted, no zero", longest + "junk", 100, 50.0, longest.mid(8), true},
      {"over 100 bytes is refused, not cut", Text(tooLong), 0, 25.0, "", false},
      {"empty path", Text("00050.00"), 0, 50.0, "", false},
      {"shorter than the rate field", Text("0005"), 0, 5.0, "", false},
      {"relative path", Text("00050.00v.avi"), 0, 50.0, "v.avi", false},
      {"folder missing", Text("00050.00" + folder + "/gone/v.avi"), 0, 50.0, folder + "/gone/v.avi", false},
      {"names a folder", Text("00050.00" + folder), 0, 50.0, folder, false},
      {"no bytes", QByteArray(), 0, 25.0, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const uint32_t count = c.count ? c.count : uint32_t(c.bytes.size());
    const VideoRequest request = ParseVideoRequest(c.bytes.isEmpty() ? nullptr : c.bytes.constData(), count);
    EXPECT_EQ(request.Accepted(), c.accepted) << request.refusal.toStdString();
    if (c.accepted || !c.path.isEmpty()) {
      EXPECT_EQ(request.path, QFile::decodeName(c.path));
    }
    if (c.accepted || c.rate != 25.0) {
      EXPECT_DOUBLE_EQ(request.RequestFrameRate, c.rate);
    }
  }
  // A path in UTF-8 is read as such.
  const QByteArray named = "00030.00" + folder + "/Sprung \xc3\xbc.avi";
  EXPECT_EQ(ParseVideoRequest(Text(named).constData(), uint32_t(named.size() + 1)).path,
            dir.path() + QString::fromUtf8("/Sprung \xc3\xbc.avi"));
}

// ---------------------------------------------------------------- the form's runs

/** @brief What a picture file of the run reads back as: its frame code per frame, rate and sound. */
struct ReadBack {
  QList<int> codes;
  double rate = 0;
  bool hasAudio = true;
};

ReadBack Read(const QString& path) {
  ReadBack out;
  media::VideoReader reader;
  if (!reader.Open(path)) return out;
  out.rate = double(reader.Info().rateNum) / reader.Info().rateDen;
  out.hasAudio = reader.Info().hasAudio;
  for (int64_t i = 0; i < reader.Info().frameCount; ++i) out.codes << tools::ReadFrameCode(reader.Frame(i));
  return out;
}

QList<int> Range(int first, int last) {
  QList<int> values;
  for (int v = first; v <= last; ++v) values << v;
  return values;
}

class CaptureAppImages : public CaptureFormFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(runtime_.isValid() && out_.isValid());
    // The test's own window directory: no other test's analysis window answers here.
    setenv("KESTROM_RUNTIME_DIR", QFile::encodeName(runtime_.path()).constData(), 1);
    CaptureFormFixture::SetUp();
  }
  void TearDown() override {
    analysis_.reset();
    CaptureFormFixture::TearDown();
    winmsg::Shutdown();
  }

  /** @brief The form at start-up beside an analysis window, previewing the test camera. */
  TKestromCaptureForm& StartPreviewing() {
    Start();
    EXPECT_EQ(State(), engine::cs_Preview);
    return *form_;
  }
  /** @brief A window titled as the analysis window that keeps the notices it receives. */
  void OpenAnalysisWindow() {
    analysis_ = std::make_unique<winmsg::Window>(
        "TKestromForm", shell::AnalysisWindowTitle, true,
        [this](uint32_t msg, uintptr_t from, intptr_t, const winmsg::CopyData* data) -> intptr_t {
          if (msg != winmsg::WM_COPYDATA || !data) return 0;
          const QByteArray bytes(static_cast<const char*>(data->lpData), data->cbData);
          notices << bytes;
          noticeSenders << from;
          return 0;
        });
  }
  winmsg::HWND FormHandle() const { return winmsg::WidgetWindow::Of(form_.get())->Handle(); }

  static QString Temp() { return core::JoinPath(Globals().WorkingFolder, "\\Temp"); }
  /** @brief Sample<first>.bmp to Sample<last>.bmp in Temp, each carrying its number. */
  static void WritePictures(int first, int last) {
    ASSERT_TRUE(QDir().mkpath(Temp()));
    for (int n = first; n <= last; ++n) {
      QImage picture(320, 240, QImage::Format_RGB888);
      tools::PaintCodedFrame(picture, n, 2000);
      ASSERT_TRUE(core::WriteBmpFile(Temp() + QString("/Sample%1.bmp").arg(n), picture)) << n;
    }
  }
  /** @brief Sends a MakeVideoRequest as another program does; the handler's answer. */
  intptr_t Request(const QByteArray& rate, const QString& path) {
    const winmsg::SendResult sent =
        winmsg::SendCopyData(FormHandle(), 0, 0, rate + QFile::encodeName(path) + QByteArray(1, '\0'));
    EXPECT_TRUE(sent.delivered) << sent.error.toStdString();
    return sent.result;
  }
  /** @brief The two timers of a run, run as they fall due; then the recording's end. */
  void RunTimers() {
    ASSERT_TRUE(form_->CreateBitmapTimer->isActive());
    form_->CreateBitmapTimerTimer();
    if (!form_->BitmapTimer->isActive()) return;  // nothing packed: the run is over
    form_->BitmapTimerTimer();
    ASSERT_TRUE(WaitFor([&] { return !form_->VideoFromImagesRun; })) << LogLines().join('|').toStdString();
  }
  void ExpectCameraBack(double rate) {
    engine::TFramecatcher* fc = form_->Framecatcher;
    EXPECT_FALSE(form_->VideoFromImagesRun);
    EXPECT_EQ(fc->GetVideoSource(), engine::vs_VideoCaptureDevice);
    EXPECT_DOUBLE_EQ(fc->GetCurrentFrameRate(), rate);
    EXPECT_TRUE(WaitFor([&] { return State() == engine::cs_Preview; })) << "the preview did not come back";
  }
  QString Out(const QString& name) const { return out_.filePath(name); }

  QTemporaryDir runtime_, out_;
  std::unique_ptr<winmsg::Window> analysis_;
  QList<QByteArray> notices;
  QList<winmsg::HWND> noticeSenders;
};

TEST_F(CaptureAppImages, EmptyTempMakesNothingAndTheNextRequestRecordsThePicturesAt50Fps) {
  TKestromCaptureForm& form = StartPreviewing();
  OpenAnalysisWindow();
  const double cameraRate = form.Framecatcher->GetCurrentFrameRate();
  ASSERT_TRUE(QDir().mkpath(Temp()));

  // Nothing to pack: no file, no notice, no box, and the camera is back.
  const QString empty = Out("empty.avi");
  EXPECT_EQ(Request("00050.00", empty), 1);
  EXPECT_TRUE(form.VideoFromImagesRun);
  EXPECT_EQ(State(), engine::cs_None) << "the preview stops for the run";
  RunTimers();
  EXPECT_FALSE(form.BitmapTimer->isActive());
  EXPECT_TRUE(LogLines().contains("capture failed.")) << LogLines().join('|').toStdString();
  EXPECT_FALSE(QFile::exists(empty));
  EXPECT_TRUE(notices.isEmpty());
  EXPECT_TRUE(dialogs_.dialogs.Asked().empty());
  ExpectCameraBack(cameraRate);

  // Pictures whose names sort wrongly as plain text (1000 before 995): they go in by number.
  WritePictures(995, 1004);
  const QString video = Out("made.avi");
  form.mmoLog->clear();
  EXPECT_EQ(Request("00050.00", video), 1);
  engine::TFramecatcher* fc = form.Framecatcher;
  EXPECT_EQ(form.Label40->text(), video);
  EXPECT_DOUBLE_EQ(form.RequestFrameRate, 50.0);
  EXPECT_EQ(fc->GetVideoSource(), engine::vs_VideoFromImages);
  EXPECT_EQ(fc->GetVideoFromImages_SourceDirectory(), Temp());
  EXPECT_EQ(fc->GetVideoFromImages_TemporaryFile(), Temp() + "/Bitmaps.dat");
  EXPECT_FALSE(fc->GetAudioRecording());
  form.CreateBitmapTimerTimer();
  EXPECT_TRUE(form.BitmapTimer->isActive());
  const QStringList progress = LogLines().filter("% completed...");
  ASSERT_EQ(progress.size(), 10);
  EXPECT_EQ(progress.first(), "10% completed...");
  EXPECT_EQ(progress.last(), "100% completed...");
  form.BitmapTimerTimer();
  ASSERT_TRUE(WaitFor([&] { return !notices.isEmpty(); })) << LogLines().join('|').toStdString();

  // One notice, from the form, with the path and its zero byte; no question was asked on the way.
  ASSERT_EQ(notices.size(), 1);
  EXPECT_EQ(notices[0], QFile::encodeName(video) + QByteArray(1, '\0'));
  EXPECT_EQ(noticeSenders[0], FormHandle());
  EXPECT_EQ(form.ReturnEdit->text(), video);
  EXPECT_TRUE(dialogs_.dialogs.Asked().empty());
  ExpectCameraBack(cameraRate);

  const ReadBack made = Read(video);
  EXPECT_EQ(made.codes, Range(995, 1004));
  EXPECT_DOUBLE_EQ(made.rate, 50.0);
  EXPECT_FALSE(made.hasAudio);
}

TEST_F(CaptureAppImages, StoppedRecordingAndLaterCapturesSendNoNotice) {
  TKestromCaptureForm& form = StartPreviewing();
  OpenAnalysisWindow();
  WritePictures(1, 6);
  engine::TFramecatcher* fc = form.Framecatcher;
  const double cameraRate = fc->GetCurrentFrameRate();
  // A recording of the camera, as a capture leaves it running. (Any ready question is answered.)
  const auto startCapture = [&](const QString& file) {
    if (fc->OnRecordingReadyToStart) dialogs_.dialogs.Push(ui::mrOk);
    fc->SetRecordingFileName(file);
    fc->SetAudioRecording(false);
    fc->SetCompressionMode(engine::cm_CompressOnTheFly);
    fc->StartRecording();
    // Well past the first frames, so that the file holds more than the few the stop may cut off.
    return WaitFor([&] { return State() == engine::cs_Recording && fc->GetFrameNumber() > 8; });
  };
  const QString camera = Out("camera.avi");
  ASSERT_TRUE(startCapture(camera));

  // The request stops it; its end is logged, and no notice goes out for it.
  const QString video = Out("pictures.avi");
  EXPECT_EQ(Request("00025.00", video), 1);
  EXPECT_EQ(State(), engine::cs_None);
  EXPECT_TRUE(LogLines().contains(camera + " end recording")) << LogLines().join('|').toStdString();
  EXPECT_TRUE(form.VideoFromImagesRun);
  RunTimers();
  ASSERT_EQ(notices.size(), 1);
  EXPECT_EQ(notices[0], QFile::encodeName(video) + QByteArray(1, '\0'));
  EXPECT_EQ(Read(video).codes, Range(1, 6));
  EXPECT_DOUBLE_EQ(Read(video).rate, 25.0);
  ExpectCameraBack(cameraRate);

  // The next capture records the camera, at its own rate, and is no run's: no notice.
  const QString after = Out("after.avi");
  ASSERT_TRUE(startCapture(after));
  dialogs_.dialogs.Push(ui::mrNo);  // its summary: play the captured video?
  fc->StopRecording();
  ASSERT_TRUE(WaitFor([&] { return State() != engine::cs_Recording; }));
  ASSERT_TRUE(WaitFor([&] { return !form.SummaryTimer->isActive() && dialogs_.dialogs.Pending() == 0; }));
  EXPECT_FALSE(form.ImagesRecordingCompleted(after, true));
  EXPECT_EQ(notices.size(), 1);
  const ReadBack captured = Read(after);
  EXPECT_GT(captured.codes.size(), 3);
  EXPECT_EQ(fc->GetVideoSource(), engine::vs_VideoCaptureDevice);

  // A request during playback closes the player first.
  fc->SetPlayerFileName(video);
  ASSERT_TRUE(fc->OpenPlayer());
  EXPECT_EQ(Request("00025.00", Out("again.avi")), 1);
  EXPECT_EQ(State(), engine::cs_None);
  RunTimers();
  EXPECT_EQ(notices.size(), 2);
}

TEST_F(CaptureAppImages, FailuresEndTheRunWithoutNotice) {
  TKestromCaptureForm& form = StartPreviewing();
  OpenAnalysisWindow();
  WritePictures(1, 3);
  const double cameraRate = form.Framecatcher->GetCurrentFrameRate();

  // A refused request changes nothing and is logged.
  form.Label40->setText("earlier");
  EXPECT_EQ(Request("00050.00", "relative.avi"), 0);
  EXPECT_EQ(Request("00050.00", Out("missing/v.avi")), 0);
  EXPECT_EQ(LogLines().filter("video request refused: ").size(), 2) << LogLines().join('|').toStdString();
  EXPECT_FALSE(form.VideoFromImagesRun);
  EXPECT_FALSE(form.CreateBitmapTimer->isActive());
  EXPECT_EQ(form.Label40->text(), "earlier");
  EXPECT_EQ(State(), engine::cs_Preview);

  // The folder goes away before the recording: it cannot start, and the run ends.
  ASSERT_TRUE(QDir().mkpath(Out("sub")));
  EXPECT_EQ(Request("00050.00", Out("sub/v.avi")), 1);
  form.CreateBitmapTimerTimer();
  ASSERT_TRUE(form.BitmapTimer->isActive());
  ASSERT_TRUE(QDir(Out("sub")).removeRecursively());
  form.mmoLog->clear();
  form.BitmapTimerTimer();
  EXPECT_TRUE(LogLines().contains("capture failed.")) << LogLines().join('|').toStdString();
  EXPECT_TRUE(notices.isEmpty());
  ExpectCameraBack(cameraRate);

  // A recording that completes as failed: logged, no notice.
  EXPECT_EQ(Request("00050.00", Out("failed.avi")), 1);
  form.mmoLog->clear();
  EXPECT_TRUE(form.ImagesRecordingCompleted(Out("failed.avi"), false));
  EXPECT_TRUE(LogLines().contains("capture failed."));
  EXPECT_TRUE(notices.isEmpty());
  ExpectCameraBack(cameraRate);
  EXPECT_TRUE(dialogs_.dialogs.Asked().empty());
}

TEST_F(CaptureAppImages, CreateBitmapsReportsItsOwnFile) {
  TKestromCaptureForm& form = StartPreviewing();
  OpenAnalysisWindow();
  WritePictures(7, 9);
  form.Label40->setText(Out("an-earlier-request.avi"));
  form.Button13->click();
  // Packed at once, no delay timer.
  EXPECT_FALSE(form.CreateBitmapTimer->isActive());
  ASSERT_TRUE(form.BitmapTimer->isActive());
  form.BitmapTimerTimer();
  ASSERT_TRUE(WaitFor([&] { return !notices.isEmpty(); })) << LogLines().join('|').toStdString();
  const QString own = Temp() + "/AVITemp1.avi";
  EXPECT_EQ(notices[0], QFile::encodeName(own) + QByteArray(1, '\0'));
  const ReadBack made = Read(own);
  EXPECT_EQ(made.codes, Range(7, 9));
  EXPECT_DOUBLE_EQ(made.rate, 50.0);
}

TEST_F(CaptureAppImages, MissingAnalysisWindowGivesTheBoxButALateAnswerIsOnlyLogged) {
  TKestromCaptureForm& form = StartPreviewing();
  const QByteArray record = QByteArray("/tmp/v.avi") + QByteArray(1, '\0');

  // No window of the title: the box.
  dialogs_.dialogs.Push(ui::mrOk);
  form.Label40->setText("/tmp/v.avi");
  form.ReplyToAnalysis();
  ASSERT_EQ(dialogs_.dialogs.Asked().size(), 1u);
  const auto* box = std::get_if<ui::MessageRequest>(&dialogs_.dialogs.Asked()[0]);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text, "Capture Program needs to be open");

  // An analysis window whose program hangs: the notice times out, which is logged, not boxed.
  test::PeerProcess peer(shell::AnalysisWindowTitle, "TKestromForm", "Hidden", "TPeerHidden");
  ASSERT_TRUE(peer.Ready());
  EXPECT_FALSE(winmsg::SendMessageTimeout(peer.Visible(), winmsg::WM_USER + 2, 0, 0, 100));
  form.SendCopyData(peer.Visible(), record);
  EXPECT_EQ(dialogs_.dialogs.Asked().size(), 1u);
  EXPECT_EQ(LogLines().filter("no answer from the analysis window: ").size(), 1) << LogLines().join('|').toStdString();
}

}  // namespace
}  // namespace kestrom::capture
