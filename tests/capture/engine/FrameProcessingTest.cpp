#include "FrameTestSupport.h"
#include "LiveGraphFixture.h"

#include "capture/engine/Devices.h"
#include "capture/engine/FK.h"
#include "capture/engine/SyncManager.h"
#include "platform/core/Bmp.h"
#include "platform/dshow/writers/WriterInterfaces.h"
#include "platform/jpeg/Jpeg.h"
#include "platform/ui/ShapeOverlay.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <mutex>

namespace kestrom::engine::test {

namespace {

constexpr int64_t kFrame = 400'000;  // 25 fps in 100-ns units
constexpr QRgb kGrey = 0xFF808080, kGreen = 0xFF00FF00;

struct Capture {
  int frameNumber;
  int dest;
  QString file;
  bool success;
  QImage picture;
};

bool AllOf(const QImage& image, const QRect& area, QRgb colour) {
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if ((image.pixel(x, y) & 0xFFFFFF) != (colour & 0xFFFFFF)) return false;
  return true;
}

bool AnyOf(const QImage& image, const QRect& area, QRgb colour) {
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF)) return true;
  return false;
}

}  // namespace

// A preview runs on the test camera with no grabber of its own; the test hands the engine its
// own frames as the grabber would, so every frame's content and time is known.
class FrameProcessing : public LiveGraphTest {
 protected:
  void SetUp() override {
    LiveGraphTest::SetUp();
    fk_ = Camera(false);
    fk_->Events().OnFrameCaptureCompleted = [this](QObject*, const TFrameData& data, int dest, const QString& file,
                                                   bool success) {
      captures_.push_back({data.FrameNumber, dest, file, success, data.Bitmap});
    };
    fk_->Events().OnLog = [this](QObject*, int, const QString&, const QString& message) { logged_ << message; };
    ASSERT_TRUE(fk_->StartPreview());
    TakeOverFrames();
    fk_->DispatchKeptFrame();  // the GUI thread's step after a frame takes the current settings
  }
  void TearDown() override {
    fk_.reset();
    LiveGraphTest::TearDown();
  }
  /**
   * @brief Makes the test the only source of frames: without a grabber, the graph's notify thread
   * counts the camera's frames into the same counters. Needed after every build of the preview.
   */
  void TakeOverFrames() {
    fk_->ReleaseGraphEvents();
    fk_->ResetCounters(false);
  }
  /** @brief One frame through the streaming path, then the GUI thread's step. */
  void Step(SyntheticFrame& frame) {
    frame.FeedTo(*fk_, time_);
    time_ += kFrame;
    fk_->DispatchKeptFrame();
  }

  std::unique_ptr<TFK> fk_;
  std::vector<Capture> captures_;
  QStringList logged_;
  int64_t time_ = 10'000'000;
};

TEST_F(FrameProcessing, FrameNumbersAndTimesCountFromTheFirstFrame) {
  std::vector<TFrameInfo> seen;
  fk_->Events().OnFrameOverlayUsingDIB = [&](QObject*, const TFrameInfo& info, const dshow::BITMAPINFOHEADER& header,
                                             uint8_t* bits) {
    EXPECT_EQ(header.biWidth, 64);
    EXPECT_NE(bits, nullptr);
    seen.push_back(info);
  };
  SyntheticFrame frame = SyntheticFrame::Uniform(64, 48, kGrey);
  for (int i = 0; i < 30; ++i) Step(frame);
  ASSERT_EQ(seen.size(), 30u);
  for (int i = 0; i < 30; ++i) {
    EXPECT_EQ(seen[size_t(i)].FrameNumber, i + 1);
    EXPECT_EQ(seen[size_t(i)].Time, i * kFrame);
    EXPECT_EQ(seen[size_t(i)].Marker, 0x7FF52A8E);
  }
  // Frame 30 is 29 x 40 ms = 1.16 s in.
  EXPECT_EQ(seen.back().TotalSeconds, 1);
  EXPECT_EQ(seen.back().Hundredths, 16);
  EXPECT_EQ(fk_->FrameInfo().FrameNumber, 30);
}

TEST_F(FrameProcessing, ABurstOfThreeEveryThirdFrameTakesFramesOneFourAndSeven) {
  SyntheticFrame frame = SyntheticFrame::Uniform(64, 48, kGrey);
  for (int i = 0; i < 5; ++i) Step(frame);  // the burst starts later in the preview
  fk_->SetBurstCount(3);
  fk_->SetBurstInterval(2);
  fk_->SetBurstType(fc_TBitmap);
  fk_->SetBurstMode(true);
  fk_->DispatchKeptFrame();
  for (int i = 0; i < 12; ++i) Step(frame);
  std::vector<int> numbers;
  for (const Capture& c : captures_) numbers.push_back(c.frameNumber - 5);
  EXPECT_EQ(numbers, (std::vector<int>{1, 4, 7}));
  EXPECT_FALSE(fk_->GetBurstMode());
  for (const Capture& c : captures_) EXPECT_TRUE(c.success && c.file.isEmpty() && c.dest == fc_TBitmap);
}

TEST_F(FrameProcessing, ABurstWithoutACountTakesEveryFrameUntilItIsSwitchedOff) {
  SyntheticFrame frame = SyntheticFrame::Uniform(32, 24, kGrey);
  fk_->SetBurstCount(0);
  fk_->SetBurstInterval(0);
  fk_->SetBurstMode(true);
  for (int i = 0; i < 6; ++i) Step(frame);
  fk_->SetBurstMode(false);
  for (int i = 0; i < 3; ++i) Step(frame);
  EXPECT_EQ(captures_.size(), 6u);
}

TEST_F(FrameProcessing, ZoomedPicturesAndTheirFiles) {
  QImage shown(720, 576, QImage::Format_BGR888);
  tools::PaintCodedFrame(shown, 7, 100);
  SyntheticFrame frame(shown);
  fk_->SetFrameCaptureZoomSize(50);
  const QString dir = workDir_.path() + "/pictures";
  ASSERT_TRUE(fk_->CaptureFrameTo(fc_BmpFile, dir + "/zoomed"));
  Step(frame);
  ASSERT_EQ(captures_.size(), 1u);
  EXPECT_TRUE(captures_[0].success);
  EXPECT_EQ(captures_[0].file, dir + "/zoomed.bmp");
  const QImage bmp = core::ReadBmpFile(dir + "/zoomed.bmp");
  EXPECT_EQ(bmp.size(), QSize(360, 288));
  EXPECT_EQ(tools::ReadFrameCode(bmp), 7);
  EXPECT_EQ(fk_->LastCapturedFile(false), dir + "/zoomed.bmp");

  // JPEG at full size, named automatically.
  fk_->SetFrameCaptureZoomSize(100);
  fk_->SetStoragePath(dir);
  ASSERT_TRUE(fk_->CaptureFrameTo(fc_JpegFile, QString()));
  Step(frame);
  ASSERT_EQ(captures_.size(), 2u);
  EXPECT_TRUE(captures_[1].success);
  EXPECT_TRUE(captures_[1].file.endsWith(".jpg"));
  const QImage jpeg = jpeg::DecompressFile(captures_[1].file);
  EXPECT_EQ(jpeg.size(), QSize(720, 576));
  EXPECT_EQ(tools::ReadFrameCode(jpeg), 7);
}

TEST_F(FrameProcessing, PictureNamesGetTheirKindsExtension) {
  const QString a = workDir_.path() + "/a";
  struct Case {
    QString name;
    int kind;
    QString expected;
  };
  const Case cases[] = {
      {a + "/b", 1, a + "/b.jpg"},         {a + "/b.BMP", 1, a + "/b.jpg"}, {a + "/b.JPG", 1, a + "/b.JPG"},
      {a + "/b.jpg", 0, a + "/b.bmp"},     {a + "/x.y/b", 0, a + "/x.y/b.bmp"},
  };
  for (const Case& c : cases) EXPECT_EQ(fk_->NormaliseCaptureFileName(c.name, c.kind), c.expected) << c.name.toStdString();
  EXPECT_TRUE(QFileInfo(a + "/x.y").isDir());  // missing folders are made
}

TEST_F(FrameProcessing, SequentialNamesTakeTheNextFreeNumber) {
  const QString dir = workDir_.path() + "/seq/";
  QDir().mkpath(dir);
  QFile(dir + "fk000006.jpg").open(QIODevice::WriteOnly);
  fk_->SetStoragePath(dir);
  fk_->SetAutoFilePrefix("fk");
  EXPECT_EQ(fk_->MakeAutoFileName(1), dir + "fk000007.jpg");
  // A file that appeared meanwhile is never replaced: its number is passed over.
  QFile(dir + "fk000008.jpg").open(QIODevice::WriteOnly);
  EXPECT_EQ(fk_->MakeAutoFileName(1), dir + "fk000009.jpg");
  EXPECT_EQ(fk_->MakeAutoFileName(2, "png"), dir + "fk000001.png");
}

TEST_F(FrameProcessing, AFolderThatCannotBeMadeOrAFailedWriteGivesNoPicture) {
  SyntheticFrame frame = SyntheticFrame::Uniform(32, 24, kGrey);
  const QString blocker = workDir_.path() + "/file";
  QFile(blocker).open(QIODevice::WriteOnly);  // a file where the folder should be
  ASSERT_TRUE(fk_->CaptureFrameTo(fc_JpegFile, blocker + "/sub/pic"));
  Step(frame);
  ASSERT_EQ(captures_.size(), 1u);
  EXPECT_FALSE(captures_[0].success);
  EXPECT_TRUE(captures_[0].file.isEmpty());
  EXPECT_TRUE(logged_.contains("cannot create directory: " + blocker + "/sub"));

  // Folders stand where the pictures should go: the writes fail and leave nothing behind.
  const QString blocked = workDir_.path() + "/blocked";
  QDir().mkpath(blocked + "/pic.bmp");
  QDir().mkpath(blocked + "/pic.jpg");
  for (int dest : {fc_BmpFile, fc_JpegFile}) {
    ASSERT_TRUE(fk_->CaptureFrameTo(dest, blocked + "/pic"));
    Step(frame);
    EXPECT_FALSE(captures_.back().success);
  }
  EXPECT_EQ(QDir(blocked).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            (QStringList{"pic.bmp", "pic.jpg"}));
  EXPECT_FALSE(fk_->FrameCaptured());
}

TEST_F(FrameProcessing, CaptureNeedsARunningGraph) {
  fk_->StopPreview();
  EXPECT_FALSE(fk_->CaptureFrameTo(fc_TBitmap, QString()));
  EXPECT_TRUE(logged_.contains("not previewing"));
}

// The motion detector's grey scale and noise reduction work on its own copies: the picture
// saved is the frame as it came.
TEST_F(FrameProcessing, ACaptureWithGreyScaleAndNoiseReductionEqualsTheFrame) {
  fk_->SetMotionDetector_GreyScale(true);
  fk_->SetMotionDetector_ReduceVideoNoise(true);
  fk_->SetMotionDetector_Enabled(true);  // builds the preview again
  TakeOverFrames();
  fk_->DispatchKeptFrame();
  QImage shown(160, 120, QImage::Format_BGR888);
  for (int i = 0; i < 3; ++i) {
    tools::PaintCodedFrame(shown, i, 10);
    SyntheticFrame frame(shown);
    if (i == 2) {
      ASSERT_TRUE(fk_->CaptureFrameTo(fc_TBitmap, QString()));
    }
    Step(frame);
  }
  ASSERT_EQ(captures_.size(), 1u);
  EXPECT_EQ(captures_[0].picture.convertToFormat(QImage::Format_RGB32), shown.convertToFormat(QImage::Format_RGB32));
}

// The shape and the text go into the frame, and into captures unless they are asked for
// without; with motion detection on they go onto the capture at the frame's scale.
TEST_F(FrameProcessing, OverlaysShowInTheFrameAndInCapturesUnlessLeftOut) {
  ui::ShapeOverlay shape;
  ui::CanvasBrush brush;
  brush.Color = core::clLime;
  shape.SetBrush(brush);
  ui::CanvasPen pen;
  pen.Style = ui::PenStyle::Clear;
  pen.Width = 0;
  shape.SetPen(pen);
  shape.SetBounds(8, 8, 40, 40);
  fk_->SetShapeOverlay(&shape);
  fk_->SetShapeOverlayEnabled(true);
  fk_->SetTextOverlay_String("WWWW");
  fk_->SetTextOverlay_Left(100);
  fk_->SetTextOverlay_Top(100);
  fk_->SetTextOverlay_Enabled(true);
  fk_->DispatchKeptFrame();
  const QRect block(12, 12, 30, 30), text(100, 100, 60, 20);
  const QRgb aqua = 0xFF00FFFF;

  struct Case {
    bool withoutOverlay, motion;
    int zoom;
    bool shown;
    QRect block, text;
  };
  const Case cases[] = {
      {false, false, 100, true, block, text},
      {true, false, 100, false, block, text},
      {false, true, 50, true, QRect(6, 6, 15, 15), QRect(50, 50, 30, 10)},
      {true, true, 100, false, block, text},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.withoutOverlay << c.motion << c.zoom);
    fk_->SetFrameCaptureWithoutOverlay(c.withoutOverlay);
    fk_->SetMotionDetector_Enabled(c.motion);
    fk_->SetFrameCaptureZoomSize(c.zoom);
    fk_->DispatchKeptFrame();
    captures_.clear();
    SyntheticFrame frame = SyntheticFrame::Uniform(320, 240, kGrey);
    ASSERT_TRUE(fk_->CaptureFrameTo(fc_TBitmap, QString()));
    Step(frame);
    // The frame itself always shows them.
    EXPECT_TRUE(AllOf(frame.Shown(), block, kGreen));
    EXPECT_TRUE(AnyOf(frame.Shown(), text, aqua));
    ASSERT_EQ(captures_.size(), 1u);
    const QImage picture = captures_[0].picture.convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(picture.width(), 320 * c.zoom / 100);
    if (c.shown) {
      // Scaling blends the edges, so only the block's inside is looked at.
      EXPECT_TRUE(AllOf(picture, c.block.adjusted(2, 2, -2, -2), kGreen));
      if (c.zoom == 100) {
        EXPECT_TRUE(AnyOf(picture, c.text, aqua));
      }
      EXPECT_FALSE(AllOf(picture, c.text, kGrey));
    } else {
      EXPECT_TRUE(AllOf(picture, c.block, kGrey));
      EXPECT_TRUE(AllOf(picture, c.text, kGrey));
    }
  }
  fk_->SetShapeOverlay(nullptr);
}

TEST_F(FrameProcessing, MotionEventsStartAtTheFourthFrameAndKeepToTheirRateCountedFromADetection) {
  std::vector<int> detected, notDetected;
  fk_->Events().OnMotionDetected = [&](QObject*, double level, TFrameData& data, bool&) {
    EXPECT_GT(level, 0.0);
    detected.push_back(data.FrameNumber);
  };
  fk_->Events().OnMotionNotDetected = [&](QObject*, TFrameData& data, bool&) { notDetected.push_back(data.FrameNumber); };
  fk_->SetMotionDetector_Enabled(true);  // builds the preview again
  TakeOverFrames();
  fk_->SetMotionDetector_MaxDetectionsPerSecond(2);  // at least half a second from one detection to the next
  fk_->DispatchKeptFrame();
  // Frames a quarter of a second apart by their own times; white ones differ from the black
  // before and after them. The first comparison after the start reports nothing, frame 3's
  // detection is before the events start, frames 4 and 7 come too soon after a detection.
  const bool white[] = {false, true, false, false, false, true, false, false, true};
  for (const bool w : white) {
    SyntheticFrame frame = SyntheticFrame::Uniform(64, 48, w ? 0xFFFFFFFF : 0xFF000000);
    frame.FeedTo(*fk_, time_);
    time_ += 2'500'000;
    fk_->DispatchKeptFrame();
    fk_->DispatchKeptFrame();  // no new frame: nothing is compared again
  }
  EXPECT_EQ(detected, (std::vector<int>{6, 9}));
  EXPECT_EQ(notDetected, (std::vector<int>{5, 8}));
}

// Live: the camera's frames through the frame grabber, with the shape drawn into the preview
// and into the recorded file; a paused stretch leaves no gap in the file.
TEST_F(LiveGraphTest, FrameProcessingOverlayReachesTheRecordingAndAPauseLeavesNoGap) {
  auto fk = Camera(false);
  fk->SetFrameGrabber(fg_BothStreams);
  fk->SetFrameGrabberRGBFormat(fgf_RGB24);
  fk->SetRecordingCanPause(true);
  ui::ShapeOverlay shape;
  ui::CanvasBrush brush;
  brush.Color = core::clLime;
  shape.SetBrush(brush);
  shape.SetBounds(0, 60, 64, 64);
  fk->SetShapeOverlay(&shape);
  fk->SetShapeOverlayEnabled(true);
  std::mutex lock;
  std::vector<int> numbers;
  fk->Events().OnFrameOverlayUsingDIB = [&](QObject*, const TFrameInfo& info, const dshow::BITMAPINFOHEADER&, uint8_t*) {
    std::lock_guard guard(lock);
    numbers.push_back(info.FrameNumber);
  };
  // The camera delivers at its own pace, dropping frames while a busy machine holds it up. Each
  // stretch lasts a number of the graph's frames, whatever the wall clock makes of them.
  dshow::SetTestDevicesLive(true);
  const auto seen = [&] {
    std::lock_guard guard(lock);
    return numbers.size();
  };
  const auto run = [&](size_t frames) {
    const size_t until = seen() + frames;
    QElapsedTimer safety;
    safety.start();
    while (seen() < until && safety.elapsed() < 60000) {
      QThread::msleep(10);
      fk->DispatchKeptFrame();
    }
    return seen() >= until;
  };
  const long droppedBefore = dshow::TestCameraDroppedFrames();
  ASSERT_TRUE(fk->StartRecording());
  ASSERT_TRUE(run(15));
  ASSERT_TRUE(fk->PauseRecording());
  const size_t pausedAt = seen();
  ASSERT_TRUE(run(50));
  ASSERT_TRUE(fk->ResumeRecording());
  const size_t paused = seen() - pausedAt;
  ASSERT_TRUE(run(15));
  fk->StopRecording();
  const long dropped = dshow::TestCameraDroppedFrames() - droppedBefore;
  const QString file = fk->GetLastRecordedFile();
  {
    std::lock_guard guard(lock);
    for (size_t i = 1; i < numbers.size(); ++i) EXPECT_EQ(numbers[i], numbers[i - 1] + 1) << i;
  }
  media::VideoReader reader;
  ASSERT_TRUE(reader.Open(file)) << file.toStdString();
  std::vector<int> codes;
  for (int i = 0; i < reader.Info().frameCount; ++i) {
    const QImage picture = reader.Frame(i);
    codes.push_back(tools::ReadFrameCode(picture));
    const QRgb c = picture.pixel(30, 92);
    EXPECT_LT(qRed(c), 80) << i;
    EXPECT_GT(qGreen(c), 170) << i;
  }
  // The stored frames are the camera's in order; the pause skips the frames it lasted, and
  // beyond it only what the camera itself dropped is missing or filled in.
  ASSERT_GT(codes.size(), 20u);
  int pauseGap = 0;
  for (size_t i = 1; i < codes.size(); ++i) pauseGap = std::max(pauseGap, codes[i] - codes[i - 1] - 1);
  const dshow::test::FrameGaps gaps = dshow::test::FrameGapsOf(codes);
  EXPECT_GE(pauseGap + 2, static_cast<int>(paused));
  EXPECT_LE(gaps.skipped - pauseGap, dropped);
  EXPECT_LE(gaps.repeated, dropped);
  // The file lasts what was recorded, not the paused stretch in between.
  EXPECT_LE(static_cast<size_t>(reader.Info().frameCount), seen() - paused + static_cast<size_t>(dropped) + 2);
  fk->SetShapeOverlay(nullptr);
}

// The frame-progress records follow the recording's elapsed time whatever counts the frames: the
// device's statistics (no grabber), a grabber on the preview stream (whose samples carry no time,
// recording uncompressed or compressed), or a grabber on the timed capture stream.
TEST_F(LiveGraphTest, FrameProcessingRecordingTimeFollowsTheRecordingInEverySetUp) {
  struct Case {
    const char* name;
    int grabber;
    bool native, compressed;
  };
  const Case cases[] = {
      {"device statistics", fg_Disabled, true, false},
      {"preview grabber, uncompressed", fg_PreviewStream, false, false},
      {"preview grabber, compressed", fg_PreviewStream, false, true},
      {"capture-stream grabber", fg_BothStreams, false, false},
  };
  dshow::SetTestDevicesLive(true);  // the camera keeps real time, as a recording does
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto fk = Camera(false);
    fk->SetFrameGrabber(c.grabber);
    fk->SetRecordingInNativeFormat(c.native);
    fk->SetRecordingCanPause(true);
    if (c.compressed) {
      const TDevices* list = VideoCompressorList();
      int index = -1;
      for (int i = 0; list && i < list->Count() && index < 0; ++i)
        if (list->Entry(i)->Key.contains(com::GuidToString(dshow::CLSID_Mpeg4V2Compressor), Qt::CaseInsensitive)) index = i;
      ASSERT_GE(index, 0);
      fk->SetVideoCompressor(index);
      fk->SetCompressionMode(cm_CompressOnTheFly);
    } else {
      fk->SetCompressionMode(cm_NoCompression);
    }
    std::vector<TFrameInfo> records;
    QElapsedTimer elapsed;
    elapsed.start();
    // The ready question stays open a while, the graph running: the recording counts from the answer.
    qint64 released = -1;
    const auto pumpUntil = [&](const QElapsedTimer& clock, qint64 ms) {
      while (clock.elapsed() < ms) {
        PumpMessagesOnce();
        QThread::msleep(5);
      }
    };
    fk->Events().OnRecordingReadyToStart = [&](QObject*, bool& start) {
      pumpUntil(elapsed, 800);
      released = elapsed.elapsed();
      start = true;
    };
    fk->Events().OnFrameProgress = [&](QObject*, const TFrameInfo& info) {
      if (released >= 0) records.push_back(info);
    };
    ASSERT_TRUE(fk->StartRecording());
    ASSERT_GE(released, 0);
    pumpUntil(elapsed, released + 1700);
    fk->StopRecording();
    const int64_t recorded = (elapsed.elapsed() - released) * 10'000;
    ASSERT_GT(records.size(), 5u);
    for (size_t i = 1; i < records.size(); ++i) {
      EXPECT_GE(records[i].Time, records[i - 1].Time) << i;
      EXPECT_GE(records[i].FrameNumber, records[i - 1].FrameNumber) << i;
    }
    const TFrameInfo& last = records.back();
    EXPECT_GE(last.Time, 10'000'000) << "the time stood still";
    EXPECT_LE(last.Time, recorded);
    EXPECT_EQ(last.TotalSeconds, last.Time / 10'000'000);
    EXPECT_GE(last.TotalSeconds, 1);
    EXPECT_EQ(last.TotalHundredths, last.Time / 100'000);
    // 25 frames a second: the count keeps pace with the time (a loaded machine drops some).
    EXPECT_GE(last.FrameNumber, 10);
    EXPECT_LE(last.FrameNumber, last.Time / kFrame + 3);
  }
}

}  // namespace kestrom::engine::test
