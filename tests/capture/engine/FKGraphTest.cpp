// The engine's graph on the test camera: binding, run state, teardown.
#include "EngineFixtures.h"

#include "capture/engine/FK.h"
#include "capture/engine/GraphHelpers.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/BaseFilter.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/dshow/writers/AudioRenderer.h"
#include "tests/platform/dshow/support/TestFilters.h"

#include <cstdlib>

namespace kestrom::engine::test {

using com::ComPtr;
using namespace dshow;

namespace {

/** @brief A pinless filter whose first failingRuns runs fail. */
class CFailingRun final : public CBaseFilter {
 public:
  explicit CFailingRun(int failingRuns)
      : CBaseFilter("failing run", nullptr, &lock_, com::GUID_NULL), failing_(failingRuns) {}
  int GetPinCount() override { return 0; }
  CBasePin* GetPin(int) override { return nullptr; }
  HRESULT Run(REFERENCE_TIME start) override {
    if (failing_ != 0) {
      if (failing_ > 0) --failing_;
      return com::E_FAIL;
    }
    return CBaseFilter::Run(start);
  }

 private:
  std::recursive_mutex lock_;
  int failing_;  // -1: every run fails
};

class FKGraphTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    unsetenv("KESTROM_TEST_DEVICES");
    SetDeviceWatchThreadEnabled(false);
    dshow::SetTestCameraPlugged(true);
    SetDeviceProvider(nullptr);
    EnableProcessLog();
  }
  int CameraIndex() { return VideoDeviceList()->IndexOfName(QString::fromUtf16(kTestCameraName) + " (WDM)"); }

  /** @brief The test camera bound into a new graph and rendered to a Null Renderer. */
  void BuildCameraGraph(TFK& fk) {
    fk.SnapshotBuildParameters();
    ASSERT_TRUE(fk.CreateFilterGraph());
    int index = CameraIndex();
    ASSERT_GE(index, 0);
    ComPtr<IBaseFilter> camera;
    ASSERT_TRUE(fk.BindDevice(VideoDeviceList(), index, QString(), true, true, camera));
    ComPtr<IBaseFilter> renderer;
    ASSERT_EQ(com::CoCreateInstance(CLSID_NullRenderer, nullptr, com::CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                    renderer.PutVoid()),
              com::S_OK);
    ASSERT_TRUE(fk.AddFilterToGraph(renderer.Get(), "Null Renderer"));
    ComPtr<IPin> out, in;
    ASSERT_EQ(FindPinOfType(camera.Get(), PINDIR_OUTPUT, MEDIATYPE_Video, out), com::S_OK);
    ASSERT_EQ(FindPinByName(renderer.Get(), PINDIR_INPUT, "", in, true, true), com::S_OK);
    ASSERT_EQ(fk.Graph()->Connect(out.Get(), in.Get()), com::S_OK);
    ASSERT_TRUE(fk.TakeGraphControls());
  }
  bool LogHas(const QString& text) const { return ProcessLogLines().filter(text).size() > 0; }
};

}  // namespace

TEST_F(FKGraphTest, TheCameraGraphRunsPausesStopsAndLeavesNothingHeldWhenCleared) {
  TFK fk;
  ASSERT_NO_FATAL_FAILURE(BuildCameraGraph(fk));
  const QString key = VideoDeviceList()->Entry(CameraIndex())->Key;
  EXPECT_TRUE(TFK::DeviceInUse(key));
  EXPECT_TRUE(LogHas("79 INFO: using video device: " + QString::fromUtf16(kTestCameraName)));

  EXPECT_TRUE(fk.SetGraphState(2, "t1"));
  EXPECT_EQ(fk.RunState(), 2);
  EXPECT_TRUE(fk.SetGraphState(1, "t2"));
  EXPECT_EQ(fk.RunState(), 1);
  EXPECT_TRUE(fk.SetGraphState(0, "t3"));
  EXPECT_EQ(fk.RunState(), 0);
  EXPECT_FALSE(fk.SetGraphState(3, "t4"));
  for (const char* line : {"ch graph state running t1", "ch graph state paused t2", "ch graph state stopped t3"})
    EXPECT_TRUE(LogHas(line)) << line;

  // A second component cannot take the camera while this graph holds it.
  {
    TFK other;
    other.SnapshotBuildParameters();
    ASSERT_TRUE(other.CreateFilterGraph());
    int index = CameraIndex();
    ComPtr<IBaseFilter> camera;
    EXPECT_FALSE(other.BindDevice(VideoDeviceList(), index, QString(), false, true, camera));
    EXPECT_TRUE(LogHas("is already in use"));
  }

  fk.SetGraphState(2, "again");
  fk.ClearGraph(true);
  EXPECT_FALSE(fk.HoldsGraphInterfaces());
  EXPECT_EQ(fk.RunState(), 0);
  EXPECT_FALSE(TFK::DeviceInUse(key));
  EXPECT_FALSE(fk.SetGraphState(2, "gone"));

  TFK next;
  ASSERT_NO_FATAL_FAILURE(BuildCameraGraph(next));
}

TEST_F(FKGraphTest, ARunThatFailsOnceIsRestartedAndOneThatAlwaysFailsLeavesTheGraphStopped) {
  for (int failing : {1, -1}) {
    SCOPED_TRACE(failing);
    TFK fk;
    ASSERT_NO_FATAL_FAILURE(BuildCameraGraph(fk));
    auto fixture = dshow::test::MakeFilter<CFailingRun>(failing);
    ASSERT_TRUE(fk.AddFilterToGraph(fixture.Get(), "Fixture"));
    ResetProcessLog();
    EnableProcessLog();
    const bool ran = fk.SetGraphState(2, "fx");
    EXPECT_EQ(ran, failing == 1);
    EXPECT_EQ(fk.RunState(), failing == 1 ? 2 : 0);
    EXPECT_EQ(LogHas("successfully restarted fx"), failing == 1);
    EXPECT_EQ(LogHas("ERROR: failed to runfx"), failing == -1);
    fk.ClearGraph(true);
  }
}

TEST_F(FKGraphTest, BuildingNeedsTheParametersAndBindingNeedsADevice) {
  TFK fk;
  EXPECT_FALSE(fk.CreateFilterGraph());
  EXPECT_TRUE(LogHas("current params not set"));
  fk.SnapshotBuildParameters();
  ASSERT_TRUE(fk.CreateFilterGraph());
  ComPtr<IBaseFilter> camera;
  int none = -1;
  EXPECT_FALSE(fk.BindDevice(VideoDeviceList(), none, QString(), false, true, camera));
  EXPECT_TRUE(LogHas("36 ERROR: video device not selected!"));
  int past = 99;
  EXPECT_TRUE(fk.BindDevice(VideoDeviceList(), past, QString(), false, false, camera));
  EXPECT_EQ(past, 0);
  EXPECT_TRUE(LogHas("index out of range, index 0 used instead"));
  fk.ClearGraph(true);

  EXPECT_EQ(fk.CaptureFileExtension(), "avi");
  fk.SetRecordingMethod(rm_ASF);
  EXPECT_EQ(fk.CaptureFileExtension(), "asf");
  fk.SetCaptureFileExt("mkv");
  EXPECT_EQ(fk.CaptureFileExtension(), "mkv");
  fk.SetCaptureFileExt("default");
  EXPECT_EQ(fk.CaptureFileExtension(), "asf");

  fk.SetMotionDetector_Enabled(true);
  fk.SetFrameGrabberRGBFormat(fgf_RGB565);
  fk.SnapshotBuildParameters();
  EXPECT_EQ(fk.SnapshotRGBFormat(), fgf_Default);
  EXPECT_TRUE(fk.BuildParametersTaken());
  fk.ClearGraph(true);
  EXPECT_FALSE(fk.BuildParametersTaken());
}

}  // namespace kestrom::engine::test

namespace kestrom::engine::test {

TEST_F(FKGraphTest, ARefusedFrameRateKeepsTheRateAndTheRunningPreview) {
  TFK fk;
  ASSERT_NO_FATAL_FAILURE(BuildCameraGraph(fk));
  ASSERT_TRUE(fk.SetGraphState(2, "t"));
  fk.SetFrameRate(15);
  EXPECT_DOUBLE_EQ(fk.GetCurrentFrameRate(), 25.0);
  EXPECT_EQ(fk.RunState(), 2);
  EXPECT_TRUE(LogHas("frame rate refused: 15"));
  fk.ClearGraph(true);
}

}  // namespace kestrom::engine::test

namespace kestrom::engine::test {

TEST_F(FKGraphTest, RestoringTheFilterStateRemovesExactlyTheFiltersAddedAfterTheSave) {
  TFK fk;
  ASSERT_NO_FATAL_FAILURE(BuildCameraGraph(fk));
  ComPtr<IBaseFilter> camera;
  ASSERT_EQ(fk.Graph()->FindFilterByName(
                (QString::number(CameraIndex()) + " " + QString::fromUtf16(kTestCameraName)).toStdU16String().c_str(),
                camera.Put()),
            com::S_OK);
  ComPtr<IPin> out;
  ASSERT_EQ(FindPinOfType(camera.Get(), PINDIR_OUTPUT, MEDIATYPE_Video, out), com::S_OK);
  const TFK::TSaveFilterState saved = fk.SaveFilterState(out.Get());
  EXPECT_EQ(saved.filters.size(), 2);

  for (const char* name : {"Extra 1", "Extra 2"})
    ASSERT_TRUE(fk.AddFilterToGraph(dshow::test::MakeFilter<CFailingRun>(0).Get(), name));
  ComPtr<IPin> pin;
  ASSERT_TRUE(fk.RestoreFilterState(saved, pin));
  QStringList left;
  ComPtr<IEnumFilters> filters;
  ASSERT_EQ(fk.Graph()->EnumFilters(filters.Put()), com::S_OK);
  ComPtr<IBaseFilter> f;
  ULONG fetched = 0;
  while (filters->Next(1, f.Put(), &fetched) == com::S_OK && f) left << FilterName(f.Get());
  left.sort();
  QStringList expected = saved.filters;
  expected.sort();
  EXPECT_EQ(left, expected);
  EXPECT_EQ(PinName(pin.Get()), saved.pinName);
  fk.ClearGraph(true);
}

}  // namespace kestrom::engine::test


namespace kestrom::engine::test {

TEST_F(FKGraphTest, TheAudioRenderingGraphPlaysTheMicrophoneIntoTheAudioRenderer) {
  TFK fk;
  const int microphone = AudioDeviceList()->IndexOfName(QString::fromUtf16(kTestMicrophoneName) + " (WDM)");
  ASSERT_GE(microphone, 0);
  fk.SetAudioDevice(microphone);
  ASSERT_TRUE(fk.StartAudioRenderingGraph());
  ComPtr<IBaseFilter> renderer;
  ASSERT_EQ(fk.AudioRenderingGraph()->FindFilterByName(u"Audio Renderer", renderer.Put()), com::S_OK);
  auto* audio = dynamic_cast<CAudioRenderer*>(renderer.Get());
  ASSERT_NE(audio, nullptr);
  for (int i = 0; i < 100 && audio->BytesRendered() == 0; ++i) QThread::msleep(20);
  EXPECT_GT(audio->BytesRendered(), 0);
  renderer.Reset();
  fk.ClearGraph(true);
  EXPECT_FALSE(fk.HoldsGraphInterfaces());
}

}  // namespace kestrom::engine::test

namespace kestrom::engine::test {

TEST_F(FKGraphTest, AFilterIsAddedByItsMonikersDisplayNameAndAPinWithoutStreamControlIsLogged) {
  TFK fk;
  ASSERT_NO_FATAL_FAILURE(BuildCameraGraph(fk));
  const QString category = QString::fromLatin1(CLSID_AudioInputDeviceCategory);
  QString displayName;
  const auto monikers = CurrentDeviceProvider()->Enumerate(category);
  ASSERT_TRUE(monikers.has_value());
  for (const DeviceMoniker& m : *monikers)
    if (m.friendlyName && m.friendlyName->contains(QString::fromUtf16(kTestMicrophoneName))) displayName = m.displayName;
  ASSERT_FALSE(displayName.isEmpty());
  ComPtr<IBaseFilter> microphone;
  ASSERT_TRUE(fk.AddFilterByMoniker(displayName, "Microphone", category, microphone));
  ComPtr<IBaseFilter> found;
  EXPECT_EQ(fk.Graph()->FindFilterByName(u"Microphone", found.Put()), com::S_OK);
  EXPECT_EQ(found.Get(), microphone.Get());
  EXPECT_FALSE(fk.AddFilterByMoniker("@device:none", "Nothing", category, found));
  EXPECT_EQ(found.Get(), nullptr);
  EXPECT_TRUE(LogHas("3 ERROR: bind Nothing device moniker to filter"));

  // The camera's own pin has no stream control: switching it is logged and left alone.
  ComPtr<IBaseFilter> camera;
  ASSERT_EQ(fk.Graph()->FindFilterByName(
                (QString::number(CameraIndex()) + " " + QString::fromUtf16(kTestCameraName)).toStdU16String().c_str(),
                camera.Put()),
            com::S_OK);
  ComPtr<IPin> capture;
  ASSERT_EQ(FindPinOfType(camera.Get(), PINDIR_OUTPUT, MEDIATYPE_Video, capture), com::S_OK);
  EXPECT_TRUE(fk.SetPinCapture(capture.Get(), "video", false));
  EXPECT_TRUE(LogHas("ERROR: no stream control on video pin"));
  EXPECT_FALSE(fk.SetPinCapture(nullptr, "audio", true));
  microphone.Reset();
  fk.ClearGraph(true);
  EXPECT_FALSE(fk.HoldsGraphInterfaces());
}

}  // namespace kestrom::engine::test
