#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/base/MediaType.h"
#include "platform/dshow/sources/CapturePin.h"
#include "platform/dshow/sources/DeviceInterfaces.h"
#include "platform/dshow/sources/Registration.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/registry/Registry.h"
#include "tests/platform/dshow/sources/Collector.h"
#include "tests/platform/dshow/sources/FrameReading.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kestrom::dshow {
namespace {

using namespace com;
using namespace test;

template <typename T>
ComPtr<T> MakeCollector(CCollector::Accept accept = nullptr) {
  auto* c = new T(std::move(accept));
  c->NonDelegatingAddRef();
  return ComPtr<T>::Attach(c);
}

ComPtr<IBaseFilter> NewCamera() {
  ComPtr<IBaseFilter> camera;
  EXPECT_EQ(CoCreateInstance(CLSID_KestromTestCamera, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, camera.PutVoid()), S_OK);
  return camera;
}

ComPtr<IPin> PinOf(IBaseFilter* filter, int index) {
  ComPtr<IEnumPins> pins;
  filter->EnumPins(pins.Put());
  pins->Skip(static_cast<ULONG>(index));
  ComPtr<IPin> pin;
  ULONG fetched = 0;
  pins->Next(1, pin.Put(), &fetched);
  return pin;
}

class TestCamera : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(registryDir_.isValid());
    registry::SetRegistryDirectory(registryDir_.path());
    ASSERT_EQ(RegisterSourceFilters(), S_OK);
    SetTestDevicesLive(false);
    SetTestCameraPlugged(true);
  }
  void TearDown() override {
    SetTestDevicesLive(true);
    SetTestCameraPlugged(true);
    registry::SetRegistryDirectory({});
  }
  QTemporaryDir registryDir_;
};

TEST_F(TestCamera, StreamsNumberedFramesInEachFormat) {
  const struct {
    GUID subtype;
    LONG width, height;
    double rate;
  } cases[] = {{MEDIASUBTYPE_RGB24, 320, 240, 25.0},
               {MEDIASUBTYPE_RGB32, 160, 120, 30000.0 / 1001.0},
               {MEDIASUBTYPE_YUY2, 720, 576, 50.0},
               {MEDIASUBTYPE_RGB24, 1280, 720, 30.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.width);
    ComPtr<IBaseFilter> camera = NewCamera();
    ComPtr<IPin> out = PinOf(camera.Get(), 0);
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(out->QueryInterface(IID_IAMStreamConfig, config.PutVoid()), S_OK);
    AM_MEDIA_TYPE* current = nullptr;
    ASSERT_EQ(config->GetFormat(&current), S_OK);
    CMediaType wanted(*current);
    DeleteMediaType(current);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(wanted.pbFormat);
    wanted.subtype = c.subtype;
    vih->bmiHeader.biWidth = c.width;
    vih->bmiHeader.biHeight = c.height;
    vih->bmiHeader.biBitCount = c.subtype == MEDIASUBTYPE_RGB24 ? 24 : c.subtype == MEDIASUBTYPE_RGB32 ? 32 : 16;
    vih->bmiHeader.biCompression = c.subtype == MEDIASUBTYPE_YUY2 ? MEDIASUBTYPE_YUY2.Data1 : BI_RGB;
    vih->AvgTimePerFrame = 10000000.0 / c.rate;
    ASSERT_EQ(config->SetFormat(&wanted), S_OK);

    auto collector = MakeCollector<CCollector>();
    collector->SetLimit(12);
    ASSERT_EQ(out->Connect(collector->Input(), nullptr), S_OK);
    const CMediaType agreed = collector->Type();
    EXPECT_TRUE(agreed.subtype == c.subtype);
    const BITMAPINFOHEADER* h = GetBitmapInfoHeader(agreed);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->biWidth, c.width);
    ASSERT_EQ(collector->Pause(), S_OK);
    ASSERT_EQ(camera->Pause(), S_OK);
    ASSERT_TRUE(collector->WaitForSamples(12));
    camera->Stop();
    collector->Stop();

    const auto samples = collector->Samples();
    const REFERENCE_TIME interval = reinterpret_cast<const VIDEOINFOHEADER*>(agreed.pbFormat)->AvgTimePerFrame;
    for (size_t i = 0; i < 12; ++i) {
      EXPECT_EQ(ReadNumber(agreed, samples[i].bytes), static_cast<int>(i)) << "sample " << i;
      EXPECT_EQ(samples[i].start, static_cast<REFERENCE_TIME>(i) * interval);
    }
    out->Disconnect();
    collector->Input()->Disconnect();
  }
}

TEST_F(TestCamera, CapabilityRecordsCoverEveryFormatSizeAndRate) {
  ComPtr<IBaseFilter> camera = NewCamera();
  ComPtr<IAMStreamConfig> config;
  ASSERT_EQ(PinOf(camera.Get(), 0)->QueryInterface(IID_IAMStreamConfig, config.PutVoid()), S_OK);
  int count = 0, size = 0;
  ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
  EXPECT_EQ(size, 128);
  EXPECT_EQ(count, 3 * 7);
  std::vector<BYTE> record(static_cast<size_t>(size));
  bool saw1080Yuy2 = false;
  for (int i = 0; i < count; ++i) {
    AM_MEDIA_TYPE* type = nullptr;
    ASSERT_EQ(config->GetStreamCaps(i, &type, record.data()), S_OK);
    VIDEO_STREAM_CONFIG_CAPS caps;
    std::memcpy(&caps, record.data(), sizeof caps);
    const BITMAPINFOHEADER* h = GetBitmapInfoHeader(*type);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(caps.guid == FORMAT_VideoInfo);
    EXPECT_EQ(caps.MinOutputSize.cx, h->biWidth);
    EXPECT_EQ(caps.MaxOutputSize.cy, h->biHeight);
    EXPECT_EQ(caps.MinFrameInterval, 200000);  // 50 frames per second
    EXPECT_EQ(caps.MaxFrameInterval, 400000);  // 25 frames per second
    EXPECT_GT(caps.MaxBitsPerSecond, caps.MinBitsPerSecond);
    saw1080Yuy2 |= type->subtype == MEDIASUBTYPE_YUY2 && h->biWidth == 1920 && h->biHeight == 1080;
    DeleteMediaType(type);
  }
  EXPECT_TRUE(saw1080Yuy2);
  AM_MEDIA_TYPE* type = nullptr;
  EXPECT_EQ(config->GetStreamCaps(count, &type, record.data()), S_FALSE);

  // Discovery asks sizes one by one: offered sizes are taken, others refused.
  ComPtr<IPin> out = PinOf(camera.Get(), 0);
  EXPECT_EQ(out->QueryAccept(&static_cast<const AM_MEDIA_TYPE&>(MakeRgbVideoType(24, 640, 480, 400000))), S_OK);
  EXPECT_NE(out->QueryAccept(&static_cast<const AM_MEDIA_TYPE&>(MakeRgbVideoType(24, 1280, 960, 400000))), S_OK);
  EXPECT_NE(out->QueryAccept(&static_cast<const AM_MEDIA_TYPE&>(MakeRgbVideoType(24, 640, 480, 123456))), S_OK);
  CMediaType odd = MakeRgbVideoType(24, 1280, 960, 400000);
  EXPECT_EQ(config->SetFormat(&odd), VFW_E_INVALIDMEDIATYPE);
}

TEST_F(TestCamera, ControlsKeepToTheirRangesAndModes) {
  ComPtr<IBaseFilter> camera = NewCamera();
  ComPtr<IAMVideoProcAmp> procAmp;
  ComPtr<IAMCameraControl> cameraControl;
  ASSERT_EQ(camera->QueryInterface(IID_IAMVideoProcAmp, procAmp.PutVoid()), S_OK);
  ASSERT_EQ(camera->QueryInterface(IID_IAMCameraControl, cameraControl.PutVoid()), S_OK);

  LONG min, max, step, def, caps, value, flags;
  ASSERT_EQ(procAmp->GetRange(VideoProcAmp_Brightness, &min, &max, &step, &def, &caps), S_OK);
  EXPECT_EQ(min, 0);
  EXPECT_EQ(max, 255);
  EXPECT_EQ(def, 128);
  EXPECT_EQ(caps, VideoProcAmp_Flags_Auto | VideoProcAmp_Flags_Manual);
  EXPECT_EQ(procAmp->Set(VideoProcAmp_Brightness, 200, VideoProcAmp_Flags_Manual), S_OK);
  EXPECT_EQ(procAmp->Get(VideoProcAmp_Brightness, &value, &flags), S_OK);
  EXPECT_EQ(value, 200);
  EXPECT_EQ(flags, VideoProcAmp_Flags_Manual);
  const struct {
    LONG property, value, flags;
    HRESULT expected;
  } refused[] = {
      {VideoProcAmp_Brightness, 256, VideoProcAmp_Flags_Manual, E_INVALIDARG},
      {VideoProcAmp_Brightness, -1, VideoProcAmp_Flags_Manual, E_INVALIDARG},
      {VideoProcAmp_Contrast, 10, VideoProcAmp_Flags_Auto, E_INVALIDARG},  // manual only
      {VideoProcAmp_WhiteBalance, 2850, VideoProcAmp_Flags_Manual, E_INVALIDARG},  // off the 100 K steps
      {VideoProcAmp_Gain, 5, 0, E_INVALIDARG},
      {42, 0, VideoProcAmp_Flags_Manual, E_PROP_ID_UNSUPPORTED},
  };
  for (const auto& r : refused) EXPECT_EQ(procAmp->Set(r.property, r.value, r.flags), r.expected) << r.property;
  EXPECT_EQ(procAmp->Get(VideoProcAmp_Brightness, &value, &flags), S_OK);
  EXPECT_EQ(value, 200);  // refused values change nothing
  EXPECT_EQ(procAmp->Set(VideoProcAmp_Brightness, 0, VideoProcAmp_Flags_Auto), S_OK);
  EXPECT_EQ(procAmp->Get(VideoProcAmp_Brightness, &value, &flags), S_OK);
  EXPECT_EQ(flags, VideoProcAmp_Flags_Auto);

  ASSERT_EQ(cameraControl->GetRange(CameraControl_Zoom, &min, &max, &step, &def, &caps), S_OK);
  EXPECT_EQ(step, 10);
  EXPECT_EQ(cameraControl->Set(CameraControl_Zoom, 610, CameraControl_Flags_Manual), E_INVALIDARG);
  EXPECT_EQ(cameraControl->Set(CameraControl_Exposure, -3, CameraControl_Flags_Manual), S_OK);
  // A fixed camera has neither roll nor iris.
  EXPECT_EQ(cameraControl->GetRange(CameraControl_Roll, &min, &max, &step, &def, &caps), E_PROP_ID_UNSUPPORTED);
  EXPECT_EQ(cameraControl->Get(CameraControl_Iris, &value, &flags), E_PROP_ID_UNSUPPORTED);
}

TEST_F(TestCamera, AnswersNoInterfaceForWhatItLacks) {
  ComPtr<IBaseFilter> camera = NewCamera();
  ComPtr<IUnknown> any;
  for (const IID& iid : {IID_IAMTVTuner, IID_IAMCrossbar, IID_IAMAudioInputMixer, IID_IAMStreamConfig})
    EXPECT_EQ(camera->QueryInterface(iid, any.PutVoid()), E_NOINTERFACE);
  EXPECT_EQ(camera->QueryInterface(IID_IAMDroppedFrames, any.PutVoid()), S_OK);
  ComPtr<IPin> out = PinOf(camera.Get(), 0);
  EXPECT_EQ(out->QueryInterface(IID_IAMVideoProcAmp, any.PutVoid()), E_NOINTERFACE);
  EXPECT_TRUE(PinCategoryOf(out.Get()) == PIN_CATEGORY_CAPTURE);
  EXPECT_TRUE(PinCategoryOf(PinOf(camera.Get(), 1).Get()) == PIN_CATEGORY_ANALOGVIDEOIN);
}

TEST_F(TestCamera, UnplugPostsDeviceLostAndStopsThePictures) {
  SetTestDevicesLive(true);
  auto graph = ComPtr<CEventRecorder>::Attach(new CEventRecorder);
  graph->NonDelegatingAddRef();
  ComPtr<IBaseFilter> camera = NewCamera();
  auto collector = MakeCollector<CCollector>();
  ASSERT_EQ(graph->AddFilter(camera.Get(), u"Camera"), S_OK);
  ASSERT_EQ(PinOf(camera.Get(), 0)->Connect(collector->Input(), nullptr), S_OK);
  ASSERT_EQ(collector->Run(0), S_OK);
  ASSERT_EQ(camera->Run(0), S_OK);
  ASSERT_TRUE(collector->WaitForSamples(2));

  SetTestCameraPlugged(false);
  const size_t atUnplug = collector->Samples().size();
  auto events = graph->Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].code, EC_DEVICE_LOST);
  EXPECT_EQ(events[0].param2, 0);
  ComPtr<IUnknown> identity;
  camera->QueryInterface(IID_IUnknown, identity.PutVoid());
  EXPECT_EQ(reinterpret_cast<IUnknown*>(events[0].param1), identity.Get());
  // At most the picture being made when the cable went comes through.
  EXPECT_FALSE(collector->WaitForSamples(atUnplug + 2, std::chrono::milliseconds(300)));

  SetTestCameraPlugged(true);
  events = graph->Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].param2, 1);
  EXPECT_TRUE(collector->WaitForSamples(atUnplug + 3));
  camera->Stop();
  collector->Stop();

  // Live pictures carry increasing numbers and graph times; until the unplugging, each is stamped
  // with its own frame slot however late its thread woke, so a recording keeps it in its place.
  const auto samples = collector->Samples();
  const CMediaType type = collector->Type();
  const REFERENCE_TIME interval = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->AvgTimePerFrame;
  for (size_t i = 1; i < samples.size(); ++i) {
    EXPECT_GT(ReadNumber(type, samples[i].bytes), ReadNumber(type, samples[i - 1].bytes));
    EXPECT_GT(samples[i].start, samples[i - 1].start);
    if (i < atUnplug) {
      EXPECT_EQ(samples[i].start - samples[0].start,
                (ReadNumber(type, samples[i].bytes) - ReadNumber(type, samples[0].bytes)) * interval);
    }
  }
  PinOf(camera.Get(), 0)->Disconnect();
  collector->Input()->Disconnect();
  graph->RemoveFilter(camera.Get());
}

// A graph that holds the camera's thread up for a few frame times (a writer opening its file, a
// compressor starting on its first picture) loses no picture: as a capture driver keeps a queue
// of frames, the pictures of those slots come late with their own times, none is counted dropped.
TEST_F(TestCamera, AShortHoldUpOfItsThreadDropsNoPicture) {
  SetTestDevicesLive(true);
  ComPtr<IBaseFilter> camera = NewCamera();
  auto collector = MakeCollector<CCollector>();
  collector->SetFirstSampleHold(std::chrono::milliseconds(170));  // over four frame times at 25 fps
  ASSERT_EQ(PinOf(camera.Get(), 0)->Connect(collector->Input(), nullptr), S_OK);
  const long droppedBefore = TestCameraDroppedFrames();
  ASSERT_EQ(collector->Run(0), S_OK);
  ASSERT_EQ(camera->Run(0), S_OK);
  ASSERT_TRUE(collector->WaitForSamples(12));
  // Pictures still queued when the stream stops count as dropped: the hold-up itself must not.
  const long droppedWhileRunning = TestCameraDroppedFrames();
  camera->Stop();
  collector->Stop();
  const auto samples = collector->Samples();
  const CMediaType type = collector->Type();
  const REFERENCE_TIME interval = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->AvgTimePerFrame;
  for (size_t i = 1; i < samples.size(); ++i) {
    EXPECT_EQ(ReadNumber(type, samples[i].bytes), ReadNumber(type, samples[i - 1].bytes) + 1) << "picture " << i;
    EXPECT_EQ(samples[i].start, samples[i - 1].start + interval) << "picture " << i;
  }
  EXPECT_EQ(droppedWhileRunning, droppedBefore);
  PinOf(camera.Get(), 0)->Disconnect();
  collector->Input()->Disconnect();
}

TEST_F(TestCamera, DecodesThreeStandardsAndTakesAnIntervalWithinItsRatesAsTheNearestOffered) {
  ComPtr<IBaseFilter> camera = NewCamera();
  ComPtr<IAMAnalogVideoDecoder> decoder;
  ASSERT_EQ(camera->QueryInterface(IID_IAMAnalogVideoDecoder, decoder.PutVoid()), S_OK);
  LONG value = 0;
  ASSERT_EQ(decoder->get_AvailableTVFormats(&value), S_OK);
  EXPECT_EQ(value, AnalogVideo_NTSC_M | AnalogVideo_PAL_B | AnalogVideo_SECAM_B);
  ASSERT_EQ(decoder->get_TVFormat(&value), S_OK);
  EXPECT_EQ(value, AnalogVideo_PAL_B);
  EXPECT_EQ(decoder->put_TVFormat(AnalogVideo_NTSC_M), S_OK);
  EXPECT_NE(decoder->put_TVFormat(AnalogVideo_PAL_I), S_OK);
  decoder->get_TVFormat(&value);
  EXPECT_EQ(value, AnalogVideo_NTSC_M);

  ComPtr<IAMStreamConfig> config;
  ASSERT_EQ(PinOf(camera.Get(), 0)->QueryInterface(IID_IAMStreamConfig, config.PutVoid()), S_OK);
  const struct {
    double fps;
    bool accepted;
    double taken;
  } cases[] = {{27.0, true, 25.0}, {40.0, true, 50.0}, {30.0, true, 30.0}, {15.0, false, 0}, {60.0, false, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fps);
    CMediaType type = MakeRgbVideoType(24, 640, 480, IntervalOfRate(c.fps));
    EXPECT_EQ(SUCCEEDED(config->SetFormat(&type)), c.accepted);
    if (!c.accepted) continue;
    AM_MEDIA_TYPE* now = nullptr;
    ASSERT_EQ(config->GetFormat(&now), S_OK);
    EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER*>(now->pbFormat)->AvgTimePerFrame, IntervalOfRate(c.taken));
    DeleteMediaType(now);
  }
}


}  // namespace
}  // namespace kestrom::dshow
