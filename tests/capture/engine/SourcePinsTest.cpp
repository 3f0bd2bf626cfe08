// The grabbers the source pins get on the test devices: samples as the device gives them, the
// DV recording date from a camcorder's live pin, the frame counting of a recording taken as the
// encoder streams it; and the subtype names and grabber format that follow the chosen subtype.
#include "LiveGraphFixture.h"

#include "capture/engine/FK.h"
#include "capture/engine/TextOverlay.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/base/MediaType.h"
#include "tests/platform/dshow/support/FixtureDevices.h"
#include "tools/FrameCode.h"

#include <QCoreApplication>
#include <QImage>
#include <QRegularExpression>
#include <QThread>
#include <atomic>
#include <functional>
#include <mutex>

namespace kestrom::engine::test {

using com::ComPtr;
using namespace dshow;

namespace {

class SourcePins : public LiveGraphTest {
 protected:
  /** @brief Waits (as a safety net only) until the condition holds; the condition's last answer. */
  static bool WaitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 1000 && !condition(); ++i) {
      QCoreApplication::processEvents();
      QThread::msleep(10);
    }
    return condition();
  }
  static int Count(const QStringList& names, const char* pattern) {
    return int(names.filter(QRegularExpression(QString::fromLatin1(pattern))).size());
  }
  int DeviceIndex(const char16_t* name) {
    return VideoDeviceList()->IndexOfName(QString::fromUtf16(name) + " (WDM)");
  }
};

/** @brief The frame code of a bottom-up 24-bit picture as a sample holds it. */
int CodeOfRgb24Sample(const TSampleData& d) {
  if (!d.BitmapHeader || d.BitmapHeader->biBitCount != 24) return -1;
  const int width = d.BitmapHeader->biWidth, height = std::abs(d.BitmapHeader->biHeight);
  const int stride = (width * 3 + 3) & ~3;
  if (d.DataLength < stride * height) return -1;
  QImage picture(width, height, QImage::Format_BGR888);
  for (int y = 0; y < height; ++y) std::memcpy(picture.scanLine(height - 1 - y), d.Buffer + y * stride, size_t(width) * 3);
  return tools::ReadFrameCode(picture);
}

}  // namespace

// Samples straight from the camera's pin, before anything splits or converts them: the pictures
// come in the order the camera made them, in preview and in recording.
TEST_F(SourcePins, VideoSamplesComeFromTheCamerasPinInTheNativeAndUnsplitModes) {
  for (const int mode : {sc_Native, sc_Unsplitted}) {
    for (const bool recording : {false, true}) {
      SCOPED_TRACE(testing::Message() << "mode " << mode << (recording ? " recording" : " preview"));
      auto fk = Camera(false);
      fk->SetSampleCapture_Video(mode);
      fk->SetSampleCaptureAsyncEvent(false);
      std::mutex lock;
      std::vector<int> codes;
      fk->Events().OnSampleCapture_Video = [&](QObject*, TSampleData& d) {
        std::lock_guard guard(lock);
        codes.push_back(CodeOfRgb24Sample(d));
      };
      ASSERT_TRUE(recording ? fk->StartRecording() : fk->StartPreview()) << ProcessLogLines().join("\n").toStdString();
      const QStringList names = FilterNames(*fk);
      EXPECT_EQ(Count(names, "^GRB_Sample\\d+$"), 1) << names.join(", ").toStdString();
      EXPECT_TRUE(WaitFor([&] {
        std::lock_guard guard(lock);
        return codes.size() >= 4;
      }));
      recording ? fk->StopRecording() : fk->StopPreview();
      std::lock_guard guard(lock);
      ASSERT_GE(codes.size(), 4u);
      for (size_t i = 1; i < codes.size(); ++i) {
        ASSERT_GE(codes[i - 1], 0) << i;
        EXPECT_GT(codes[i], codes[i - 1]) << i;
      }
    }
  }
}

// The camcorder's frames carry their recording date: it reaches the frame information (and so the
// "%dv_time%" text) in preview and in both kinds of recording. The camcorder's sound is cut from
// its frames, so the recording keeps the video as the master stream.
TEST_F(SourcePins, ADvCamcordersRecordingDateComesFromItsLivePin) {
  dshow::test::FixtureDevices fixtures;
  fixtures.AddDvCamcorder();
  auto fk = Camera(false);
  fk->SetVideoDevice(DeviceIndex(dshow::test::kDvCamcorderName));
  const std::vector<TextOverlaySegment> text = ParseTextOverlay("%dv_time[dd/mm/yy hh:nn:ss]%");
  const std::array<int32_t, 6> expected = {2004, 2, 29, 12, 34, 58};
  struct Run {
    const char* what;
    bool recording, native, audio;
  };
  for (const Run& run : {Run{"preview", false, false, false}, Run{"native recording", true, true, false},
                         Run{"decoded recording with sound", true, false, true}}) {
    SCOPED_TRACE(run.what);
    fk->SetRecordingInNativeFormat(run.native);
    fk->SetAudioRecording(run.audio);
    ResetProcessLog();
    EnableProcessLog();
    ASSERT_TRUE(run.recording ? fk->StartRecording() : fk->StartPreview()) << ProcessLogLines().join("\n").toStdString();
    EXPECT_TRUE(fk->IsDVSource());
    EXPECT_EQ(Count(FilterNames(*fk), "^GRB_DvData\\d+$"), 1) << FilterNames(*fk).join(", ").toStdString();
    EXPECT_TRUE(WaitFor([&] { return fk->FrameInfo().DVYear != 0; }));
    const TFrameInfo info = fk->FrameInfo();
    EXPECT_EQ(fk->DVDate(), expected);
    EXPECT_TRUE(info.IsDV);
    EXPECT_EQ(ComposeTextOverlay(text, info, QDateTime::currentDateTime(), {}), "29/02/04 12:34:58");
    if (run.audio) {
      EXPECT_TRUE(LogHas("capture audio: YES"));
      EXPECT_EQ(fk->MasterStream(), 0);
    }
    run.recording ? fk->StopRecording() : fk->StopPreview();
  }
}

// Recorded as the encoder streams it, with no preview, only the sample-notify grabber sees the
// recording's samples: the frame counters follow it.
TEST_F(SourcePins, ANativeMpegRecordingIsCountedByItsSampleNotifyGrabber) {
  dshow::test::FixtureDevices fixtures;
  fixtures.AddProgramStreamDevice();
  auto fk = Camera(false);
  fk->SetVideoDevice(DeviceIndex(dshow::test::kProgramStreamDeviceName));
  fk->SetVideoRenderer(vr_None);
  fk->SetRecordingInNativeFormat(true);
  ASSERT_TRUE(fk->StartRecording()) << ProcessLogLines().join("\n").toStdString();
  EXPECT_TRUE(fk->IsMpegSource());
  const QStringList names = FilterNames(*fk);
  EXPECT_EQ(Count(names, "^GRB_Notify\\d+$"), 1) << names.join(", ").toStdString();
  EXPECT_TRUE(names.contains("FCATCHCTRL_RwCap.Grabber"));
  EXPECT_TRUE(WaitFor([&] { return fk->FrameInfo().FrameNumber >= 3; }));
  fk->StopRecording();
  const std::vector<int> codes = Codes(fk->GetLastRecordedFile());
  ASSERT_GE(codes.size(), 3u);
  ExpectConsecutive(codes);
}

// The subtype list names its subtypes; with the default grabber format the frame grabber gives
// frames of the chosen subtype's depth (32 bits for RGB32, else 24).
TEST_F(SourcePins, SubtypesAreListedByNameAndTheGrabberFollowsTheChosenOne) {
  auto fk = Camera(false);
  ASSERT_TRUE(fk->StartPreview());
  fk->StopPreview();
  const QStringList names = fk->GetVideoSubtypesText().split("\r\n", Qt::SkipEmptyParts);
  ASSERT_EQ(names, QStringList({"default", "RGB24", "RGB32", "YUY2"}));

  fk->SetFrameGrabber(fg_PreviewStream);
  fk->SetFrameGrabberRGBFormat(fgf_Default);
  for (const auto& [subtype, bits] : std::vector<std::pair<QString, int>>{{"RGB32", 32}, {"YUY2", 24}}) {
    SCOPED_TRACE(subtype.toStdString());
    fk->SetVideoSubtype(int(names.indexOf(subtype)));
    std::atomic<int> seen{0};
    fk->Events().OnFrameOverlayUsingDIB = [&](QObject*, const TFrameInfo&, const BITMAPINFOHEADER& header, uint8_t*) {
      seen = header.biBitCount;
    };
    ASSERT_TRUE(fk->StartPreview()) << ProcessLogLines().join("\n").toStdString();
    EXPECT_TRUE(WaitFor([&] { return seen.load() != 0; }));
    EXPECT_EQ(seen.load(), bits);
    fk->StopPreview();
    fk->Events().OnFrameOverlayUsingDIB = nullptr;
  }
}

}  // namespace kestrom::engine::test
