// Recordings of the test camera through a running graph, cut by stream control on the AVI mux's
// input, read back frame by frame: the camera's pictures carry their frame numbers.
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/FilterGraph.h"
#include "platform/dshow/sources/DeviceInterfaces.h"
#include "platform/dshow/sources/Registration.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/dshow/writers/WriterFilters.h"
#include "platform/dshow/writers/WriterInterfaces.h"
#include "platform/media/VideoReader.h"
#include "platform/registry/Registry.h"
#include "tests/platform/dshow/support/CameraFrames.h"
#include "tests/platform/dshow/writers/WriterRig.h"
#include "tools/FrameCode.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kestrom::dshow {
namespace {

using namespace com;
using namespace test;

constexpr REFERENCE_TIME kInterval = 400000;  // 25 frames a second

class CameraRecording : public testing::Test {
 protected:
  // Registering every filter takes seconds; the tests share one registry.
  static void SetUpTestSuite() {
    registryDir_ = new QTemporaryDir;
    ASSERT_TRUE(registryDir_->isValid());
    registry::SetRegistryDirectory(registryDir_->path());
    ASSERT_EQ(RegisterSourceFilters(), S_OK);
    ASSERT_EQ(RegisterWriterFilters(), S_OK);
  }
  static void TearDownTestSuite() {
    registry::SetRegistryDirectory({});
    delete registryDir_;
    registryDir_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    SetTestCameraPlugged(true);
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph_.PutVoid()), S_OK);
    ASSERT_EQ(graph_.As(IID_IMediaControl, &control_), S_OK);
    ASSERT_EQ(graph_.As(IID_IMediaEventEx, &events_), S_OK);
  }
  void TearDown() override {
    if (control_) control_->Stop();
    control_.Reset();
    events_.Reset();
    graph_.Reset();
    SetTestDevicesLive(true);
  }

  ComPtr<IBaseFilter> Add(REFCLSID clsid, const char16_t* name) {
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.PutVoid()), S_OK);
    if (filter) {
      EXPECT_TRUE(SUCCEEDED(graph_->AddFilter(filter.Get(), name)));
    }
    return filter;
  }

  /** @brief Camera (RGB24 at 25 frames a second) -> [compressor] -> AVI mux -> file writer; the mux input's control. */
  ComPtr<IAMStreamControl> Build(const QString& file, LONG width, LONG height, bool compress) {
    ComPtr<IBaseFilter> camera = Add(CLSID_KestromTestCamera, u"Video Capture");
    ComPtr<IPin> capture = PinOf(camera.Get(), PINDIR_OUTPUT);
    ComPtr<IAMStreamConfig> config;
    EXPECT_EQ(capture->QueryInterface(IID_IAMStreamConfig, config.PutVoid()), S_OK);
    AM_MEDIA_TYPE* current = nullptr;
    EXPECT_EQ(config->GetFormat(&current), S_OK);
    CMediaType wanted(*current);
    DeleteMediaType(current);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(wanted.pbFormat);
    wanted.subtype = MEDIASUBTYPE_RGB24;
    vih->bmiHeader.biWidth = width;
    vih->bmiHeader.biHeight = height;
    vih->bmiHeader.biBitCount = 24;
    vih->bmiHeader.biCompression = BI_RGB;
    vih->bmiHeader.biSizeImage = DWORD(width * height * 3);
    wanted.lSampleSize = vih->bmiHeader.biSizeImage;
    vih->AvgTimePerFrame = kInterval;
    EXPECT_EQ(config->SetFormat(&wanted), S_OK);

    ComPtr<IBaseFilter> mux = Add(CLSID_AviDest, u"AVI Mux");
    ComPtr<IBaseFilter> writer = Add(CLSID_FileWriter, u"File Writer");
    ComPtr<IFileSinkFilter> sink;
    EXPECT_EQ(writer->QueryInterface(IID_IFileSinkFilter, sink.PutVoid()), S_OK);
    EXPECT_EQ(sink->SetFileName(reinterpret_cast<LPCWSTR>(file.utf16()), nullptr), S_OK);
    EXPECT_EQ(graph_->ConnectDirect(PinOf(mux.Get(), PINDIR_OUTPUT).Get(), PinOf(writer.Get(), PINDIR_INPUT).Get(), nullptr), S_OK);
    ComPtr<IPin> chain = capture;
    if (compress) {
      ComPtr<IBaseFilter> compressor = Add(CLSID_Mpeg4V2Compressor, u"Video Compressor");
      EXPECT_EQ(graph_->ConnectDirect(chain.Get(), PinOf(compressor.Get(), PINDIR_INPUT).Get(), nullptr), S_OK);
      chain = PinOf(compressor.Get(), PINDIR_OUTPUT);
    }
    muxInput_ = FreePin(mux.Get(), PINDIR_INPUT);
    EXPECT_EQ(graph_->ConnectDirect(chain.Get(), muxInput_.Get(), nullptr), S_OK);
    ComPtr<IAMStreamControl> control;
    EXPECT_EQ(muxInput_->QueryInterface(IID_IAMStreamControl, control.PutVoid()), S_OK);
    return control;
  }

  /** @brief Waits (bounded) for an event; its second parameter. */
  bool AwaitEvent(LONG wanted, LONG_PTR* param1 = nullptr, LONG_PTR* param2 = nullptr) {
    for (;;) {
      LONG code = 0;
      LONG_PTR a = 0, b = 0;
      if (events_->GetEvent(&code, &a, &b, 10000) != S_OK) return false;
      if (code == wanted) {
        if (param1) *param1 = a;
        if (param2) *param2 = b;
        return true;
      }
    }
  }

  static std::vector<int> Codes(const QString& file) {
    std::vector<int> codes;
    media::VideoReader reader;
    EXPECT_TRUE(reader.Open(file)) << reader.ErrorString().toStdString();
    for (int i = 0; i < reader.Info().frameCount; ++i) codes.push_back(tools::ReadFrameCode(reader.Frame(i)));

    return codes;
  }

  static inline QTemporaryDir* registryDir_ = nullptr;
  QTemporaryDir dir_;
  ComPtr<IGraphBuilder> graph_;
  ComPtr<IMediaControl> control_;
  ComPtr<IMediaEventEx> events_;
  ComPtr<IPin> muxInput_;
};

// Frame times come from the frame numbers (the camera not live, the graph without a clock), so
// the window holds exactly known frames; the frame sent at the stop time is written too.
TEST_F(CameraRecording, StreamControlWindowHoldsExactlyItsFramesAndTheOneSentAtTheStop) {
  SetTestDevicesLive(false);
  const QString file = dir_.filePath("window.avi");
  ComPtr<IAMStreamControl> control = Build(file, 320, 240, /*compress=*/true);
  ComPtr<IMediaFilter> filter;
  ASSERT_EQ(graph_.As(IID_IMediaFilter, &filter), S_OK);
  ASSERT_EQ(filter->SetSyncSource(nullptr), S_OK);
  const REFERENCE_TIME start = 10 * kInterval, stop = 20 * kInterval;
  ASSERT_EQ(control->StartAt(&start, 7), S_OK);
  ASSERT_EQ(control->StopAt(&stop, TRUE, 8), S_OK);

  ASSERT_EQ(control_->Run(), S_OK);
  LONG_PTR pin = 0, cookie = 0;
  ASSERT_TRUE(AwaitEvent(EC_STREAM_CONTROL_STARTED, &pin, &cookie));
  EXPECT_EQ(pin, reinterpret_cast<LONG_PTR>(muxInput_.Get()));
  EXPECT_EQ(cookie, 7);
  ASSERT_TRUE(AwaitEvent(EC_STREAM_CONTROL_STOPPED, &pin, &cookie));
  EXPECT_EQ(cookie, 8);
  ASSERT_EQ(control_->Stop(), S_OK);

  std::vector<int> expected;
  for (int n = 10; n <= 20; ++n) expected.push_back(n);
  EXPECT_EQ(Codes(file), expected);
}

// A live camera against the graph's clock: the window is given in clock time while it runs.
TEST_F(CameraRecording, LiveStreamControlWindowIsCutOnTheGraphClock) {
  SetTestDevicesLive(true);
  const QString file = dir_.filePath("live.avi");
  ComPtr<IAMStreamControl> control = Build(file, 320, 240, /*compress=*/false);
  ComPtr<IMediaFilter> filter;
  ASSERT_EQ(graph_.As(IID_IMediaFilter, &filter), S_OK);
  // Held from the run on by a start far ahead: no frame reaches the file before the window is
  // set, however late this thread gets to set it.
  const REFERENCE_TIME held = MAX_TIME / 2;
  for (int attempt = 0;; ++attempt) {
    ASSERT_LT(attempt, 10) << "the window was never set ahead of the clock";
    ASSERT_EQ(control->StopAt(&MAX_TIME, FALSE, 0), S_OK);  // no stop pending
    ASSERT_EQ(control->StartAt(&held, 0), S_OK);
    ASSERT_EQ(control_->Run(), S_OK);
    ComPtr<IReferenceClock> clock;
    ASSERT_EQ(filter->GetSyncSource(clock.Put()), S_OK);
    ASSERT_TRUE(clock);
    REFERENCE_TIME now = 0;
    ASSERT_EQ(clock->GetTime(&now), S_OK);
    const REFERENCE_TIME start = now + 200 * MILLISECONDS, stop = start + 10 * kInterval;
    ASSERT_EQ(control->StartAt(&start, 1), S_OK);
    ASSERT_EQ(control->StopAt(&stop, FALSE, 2), S_OK);
    ASSERT_EQ(clock->GetTime(&now), S_OK);
    if (now < start) break;
    // Held up past the window's start: nothing of it is written yet; run again.
    ASSERT_EQ(control_->Stop(), S_OK);
  }
  ASSERT_TRUE(AwaitEvent(EC_STREAM_CONTROL_STOPPED));
  ASSERT_EQ(control_->Stop(), S_OK);

  // Ten frame slots: the camera may drop frames under load (the writer fills their time with
  // empty frames, read back as repeats), never reorder one.
  const std::vector<int> codes = Codes(file);
  ASSERT_FALSE(codes.empty());
  EXPECT_GT(codes.front(), 0);
  test::ExpectCameraFramesInOrder(codes);
  EXPECT_GE(codes.back() - codes.front() + 1, 9 - TestCameraDroppedFrames());
  EXPECT_LE(codes.back() - codes.front() + 1, 11);
}

}  // namespace
}  // namespace kestrom::dshow
