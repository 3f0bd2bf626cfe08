#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/FilterGraph.h"
#include "platform/dshow/base/Guids.h"
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

ComPtr<IPin> FirstPin(IBaseFilter* filter) {
  ComPtr<IEnumPins> pins;
  filter->EnumPins(pins.Put());
  ComPtr<IPin> pin;
  ULONG n = 0;
  pins->Next(1, pin.Put(), &n);
  return pin;
}

void DisconnectAll(IGraphBuilder* graph) {
  ComPtr<IEnumFilters> filters;
  graph->EnumFilters(filters.Put());
  IBaseFilter* f = nullptr;
  ULONG n = 0;
  while (filters->Next(1, &f, &n) == S_OK) {
    ComPtr<IBaseFilter> held = ComPtr<IBaseFilter>::Attach(f);
    ComPtr<IEnumPins> pins;
    f->EnumPins(pins.Put());
    IPin* p = nullptr;
    while (pins->Next(1, &p, &n) == S_OK) {
      p->Disconnect();
      p->Release();
    }
  }
}

class Converters : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    registry::SetRegistryDirectory(dir_.path());
    ASSERT_EQ(RegisterSourceFilters(), S_OK);
    SetTestDevicesLive(false);
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph_.PutVoid()), S_OK);
  }
  void TearDown() override {
    DisconnectAll(graph_.Get());
    graph_.Reset();
    SetTestDevicesLive(true);
    registry::SetRegistryDirectory({});
  }
  ComPtr<IGraphBuilder> graph_;
  QTemporaryDir dir_;
};

TEST_F(Converters, TheColourConverterTurnsYuy2IntoRgb) {
  ComPtr<IBaseFilter> camera;
  ASSERT_EQ(CoCreateInstance(CLSID_KestromTestCamera, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, camera.PutVoid()), S_OK);
  ComPtr<IAMStreamConfig> config;
  ASSERT_EQ(FirstPin(camera.Get())->QueryInterface(IID_IAMStreamConfig, config.PutVoid()), S_OK);
  CMediaType yuy2 = MakeCapabilityType({MEDIASUBTYPE_YUY2, MEDIASUBTYPE_YUY2.Data1, 16, 352, 288, {}}, 400000);
  ASSERT_EQ(config->SetFormat(&yuy2), S_OK);
  auto* c = new CCollector([](const CMediaType& mt) { return mt.subtype == MEDIASUBTYPE_RGB24; });
  c->NonDelegatingAddRef();
  auto collector = ComPtr<CCollector>::Attach(c);
  collector->SetLimit(5);
  graph_->AddFilter(camera.Get(), u"Camera");
  graph_->AddFilter(collector.Get(), u"Collector");
  ASSERT_EQ(graph_->Connect(FirstPin(camera.Get()).Get(), collector->Input()), S_OK);
  ComPtr<IBaseFilter> converter;
  EXPECT_EQ(graph_->FindFilterByName(u"Color Space Converter", converter.Put()), S_OK);
  ASSERT_TRUE(converter);
  collector->Pause();
  converter->Pause();
  camera->Pause();
  ASSERT_TRUE(collector->WaitForSamples(5));
  camera->Stop();
  converter->Stop();
  collector->Stop();
  const auto samples = collector->Samples();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(ReadNumber(collector->Type(), samples[size_t(i)].bytes), i);
}

TEST_F(Converters, TheAudioConverterChangesRateAndChannels) {
  ComPtr<IBaseFilter> mic;
  ASSERT_EQ(CoCreateInstance(CLSID_KestromTestMicrophone, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, mic.PutVoid()), S_OK);
  ComPtr<IAMStreamConfig> config;
  ASSERT_EQ(FirstPin(mic.Get())->QueryInterface(IID_IAMStreamConfig, config.PutVoid()), S_OK);
  CMediaType mono = MakePcmType(8000, 1, 16);
  ASSERT_EQ(config->SetFormat(&mono), S_OK);
  auto* c = new CCollector([](const CMediaType& mt) {
    const auto* w = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
    return mt.subtype == MEDIASUBTYPE_PCM && w->nSamplesPerSec == 48000 && w->nChannels == 2;
  });
  c->NonDelegatingAddRef();
  auto collector = ComPtr<CCollector>::Attach(c);
  collector->SetLimit(10);
  graph_->AddFilter(mic.Get(), u"Microphone");
  graph_->AddFilter(collector.Get(), u"Collector");
  ASSERT_EQ(graph_->Connect(FirstPin(mic.Get()).Get(), collector->Input()), S_OK);
  ComPtr<IBaseFilter> converter;
  ASSERT_EQ(graph_->FindFilterByName(u"Audio Converter", converter.Put()), S_OK);
  collector->Pause();
  converter->Pause();
  mic->Pause();
  ASSERT_TRUE(collector->WaitForSamples(10));
  mic->Stop();
  converter->Stop();
  collector->Stop();
  size_t bytes = 0;
  for (const auto& s : collector->Samples()) bytes += s.bytes.size();
  // Ten tenths of a second at 48000 Hz stereo 16-bit, less what the resampler still holds.
  EXPECT_NEAR(double(bytes), 192000.0, 4000.0);
}

}  // namespace
}  // namespace kestrom::dshow
