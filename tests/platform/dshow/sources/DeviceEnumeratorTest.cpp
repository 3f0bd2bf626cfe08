#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/FilterGraph.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/graph/GraphClasses.h"
#include "platform/dshow/sources/AnalogPins.h"
#include "platform/dshow/sources/CapturePin.h"
#include "platform/dshow/sources/Decoders.h"
#include "platform/dshow/sources/DeviceEnumerator.h"
#include "platform/dshow/sources/DeviceInterfaces.h"
#include "platform/dshow/sources/Registration.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/registry/Registry.h"
#include "tests/platform/dshow/sources/Collector.h"

#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>

namespace kestrom::dshow {
namespace {

using namespace com;
using namespace test;

CMediaType MakeMono8k() { return MakePcmType(8000, 1, 16); }

struct Listed {
  QString friendlyName, displayName, clsid, devicePath;
  ComPtr<IMoniker> moniker;
};

QString ReadBag(IPropertyBag* bag, const char16_t* name) {
  VARIANT value;
  VariantInit(&value);
  if (FAILED(bag->Read(name, &value, nullptr))) return {};
  const QString text = QString::fromUtf16(value.bstrVal, SysStringLen(value.bstrVal));
  VariantClear(&value);
  return text;
}

std::vector<Listed> List(REFCLSID category) {
  std::vector<Listed> result;
  ComPtr<ICreateDevEnum> devices;
  EXPECT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum, devices.PutVoid()), S_OK);
  ComPtr<IEnumMoniker> monikers;
  if (devices->CreateClassEnumerator(category, monikers.Put(), 0) != S_OK) return result;
  IMoniker* m = nullptr;
  ULONG fetched = 0;
  while (monikers->Next(1, &m, &fetched) == S_OK) {
    Listed l;
    l.moniker = ComPtr<IMoniker>::Attach(m);
    LPWSTR display = nullptr;
    EXPECT_EQ(m->GetDisplayName(nullptr, nullptr, &display), S_OK);
    l.displayName = QString::fromUtf16(display);
    CoTaskMemFree(display);
    ComPtr<IPropertyBag> bag;
    EXPECT_EQ(m->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid()), S_OK);
    l.friendlyName = ReadBag(bag.Get(), u"FriendlyName");
    l.clsid = ReadBag(bag.Get(), u"CLSID");
    l.devicePath = ReadBag(bag.Get(), u"DevicePath");
    result.push_back(std::move(l));
  }
  return result;
}

class DeviceEnumerator : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    registry::SetRegistryDirectory(dir_.path());
    ASSERT_EQ(RegisterSourceFilters(), S_OK);
    SetTestCameraPlugged(true);
  }
  void TearDown() override {
    unsetenv("KESTROM_TEST_DEVICES");
    SetTestCameraPlugged(true);
    registry::SetRegistryDirectory({});
  }
  QTemporaryDir dir_;
};

TEST_F(DeviceEnumerator, ListsTheTestDevicesWithTheirProperties) {
  const auto video = List(CLSID_VideoInputDeviceCategory);
  ASSERT_FALSE(video.empty());
  EXPECT_EQ(video[0].friendlyName, QString::fromUtf16(kTestCameraName));
  EXPECT_EQ(video[0].clsid, GuidToString(CLSID_KestromTestCamera));
  EXPECT_FALSE(video[0].devicePath.isEmpty());
  EXPECT_TRUE(video[0].displayName.startsWith("@device:pnp:"));
  // A device is not a Video for Windows driver: its class id tells it apart.
  EXPECT_NE(video[0].clsid, GuidToString(CLSID_VfwCapture));

  ComPtr<IBaseFilter> camera;
  ASSERT_EQ(video[0].moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, camera.PutVoid()), S_OK);
  CLSID clsid{};
  ComPtr<IPersist> persist;
  ASSERT_EQ(camera->QueryInterface(IID_IPersist, persist.PutVoid()), S_OK);
  persist->GetClassID(&clsid);
  EXPECT_TRUE(clsid == CLSID_KestromTestCamera);

  const auto audio = List(CLSID_AudioInputDeviceCategory);
  ASSERT_FALSE(audio.empty());
  EXPECT_EQ(audio[0].friendlyName, QString::fromUtf16(kTestMicrophoneName));

  // Crossbar and tuner of the test card, and the registered decoders in the filter category.
  EXPECT_EQ(List(AM_KSCATEGORY_CROSSBAR).at(0).friendlyName, QString::fromUtf16(kTestCrossbarName));
  EXPECT_EQ(List(AM_KSCATEGORY_TVTUNER).at(0).friendlyName, QString::fromUtf16(kTestTunerName));
  bool dvDecoder = false;
  for (const Listed& l : List(CLSID_LegacyAmFilterCategory)) dvDecoder |= l.friendlyName == "DV Video Decoder";
  EXPECT_TRUE(dvDecoder);

  // A property a device does not have is refused.
  ComPtr<IPropertyBag> bag;
  ASSERT_EQ(video[0].moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid()), S_OK);
  VARIANT value;
  VariantInit(&value);
  EXPECT_EQ(bag->Read(u"NoSuchProperty", &value, nullptr), E_INVALIDARG);
}

TEST_F(DeviceEnumerator, AnUnpluggedCameraIsNotListed) {
  SetTestCameraPlugged(false);
  for (const Listed& l : List(CLSID_VideoInputDeviceCategory)) EXPECT_NE(l.friendlyName, QString::fromUtf16(kTestCameraName));
  SetTestCameraPlugged(true);
  EXPECT_EQ(List(CLSID_VideoInputDeviceCategory).at(0).friendlyName, QString::fromUtf16(kTestCameraName));
}

TEST_F(DeviceEnumerator, WithoutTestDevicesOnlyRealDevicesRemain) {
  setenv("KESTROM_TEST_DEVICES", "0", 1);
  for (REFCLSID category : {CLSID_VideoInputDeviceCategory, CLSID_AudioInputDeviceCategory})
    for (const Listed& l : List(category)) EXPECT_FALSE(l.devicePath.startsWith("kestrom:")) << l.friendlyName.toStdString();
  // An empty category gives S_FALSE and no enumerator.
  ComPtr<ICreateDevEnum> devices;
  ASSERT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum, devices.PutVoid()), S_OK);
  ComPtr<IEnumMoniker> none;
  EXPECT_EQ(devices->CreateClassEnumerator(AM_KSCATEGORY_TVTUNER, none.Put(), 0), S_FALSE);
  EXPECT_FALSE(none);
}

TEST_F(DeviceEnumerator, ProvidersAddTheirDevices) {
  const int cookie = AddDeviceProvider([](REFCLSID category) {
    std::vector<DeviceEntry> entries;
    if (category == CLSID_VideoCompressorCategory) {
      DeviceEntry e;
      e.friendlyName = "Test Compressor";
      e.clsid = CLSID_Colour;
      e.displayName = SoftwareDisplayName(CLSID_VideoCompressorCategory, CLSID_Colour);
      entries.push_back(e);
    }
    return entries;
  });
  const auto listed = List(CLSID_VideoCompressorCategory);
  ASSERT_FALSE(listed.empty());
  EXPECT_EQ(listed.back().friendlyName, "Test Compressor");
  ComPtr<IBaseFilter> filter;
  EXPECT_EQ(listed.back().moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.PutVoid()), S_OK);
  RemoveDeviceProvider(cookie);
  for (const Listed& l : List(CLSID_VideoCompressorCategory)) EXPECT_NE(l.friendlyName, "Test Compressor");
}

TEST_F(DeviceEnumerator, TheTestCardsFiltersAreWiredByMediumAndRoute) {
  auto bind = [](REFCLSID category) {
    ComPtr<IBaseFilter> f;
    EXPECT_EQ(List(category).at(0).moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, f.PutVoid()), S_OK);
    return f;
  };
  ComPtr<IBaseFilter> camera = bind(CLSID_VideoInputDeviceCategory), crossbar = bind(AM_KSCATEGORY_CROSSBAR),
                      tuner = bind(AM_KSCATEGORY_TVTUNER);
  auto pins = [](IBaseFilter* f) {
    std::vector<ComPtr<IPin>> result;
    ComPtr<IEnumPins> e;
    f->EnumPins(e.Put());
    IPin* p = nullptr;
    ULONG n = 0;
    while (e->Next(1, &p, &n) == S_OK) result.push_back(ComPtr<IPin>::Attach(p));
    return result;
  };
  // Every wired pair shares a medium: tuner video -> crossbar input 0, crossbar output 0 -> camera.
  REGPINMEDIUM a{}, b{};
  ASSERT_TRUE(PinMedium(pins(tuner.Get())[0].Get(), &a));
  ASSERT_TRUE(PinMedium(pins(crossbar.Get())[0].Get(), &b));
  EXPECT_TRUE(SameMedium(a, b));
  ASSERT_TRUE(PinMedium(pins(crossbar.Get())[5].Get(), &a));
  ASSERT_TRUE(PinMedium(pins(camera.Get())[1].Get(), &b));
  EXPECT_TRUE(SameMedium(a, b));
  EXPECT_FALSE(PinMedium(pins(crossbar.Get())[1].Get(), &a));  // composite: a socket, not a wire
  ASSERT_EQ(pins(crossbar.Get())[5]->Connect(pins(camera.Get())[1].Get(), nullptr), S_OK);

  ComPtr<IAMCrossbar> xbar;
  ASSERT_EQ(crossbar->QueryInterface(IID_IAMCrossbar, xbar.PutVoid()), S_OK);
  LONG outputs = 0, inputs = 0, related = 0, type = 0, routed = 0;
  ASSERT_EQ(xbar->get_PinCounts(&outputs, &inputs), S_OK);
  EXPECT_EQ(outputs, 2);
  EXPECT_EQ(inputs, 5);
  ASSERT_EQ(xbar->get_CrossbarPinInfo(1, 0, &related, &type), S_OK);
  EXPECT_EQ(type, PhysConn_Video_Tuner);
  EXPECT_EQ(related, 3);  // its sound comes in on input 3
  EXPECT_EQ(xbar->CanRoute(0, 3), S_FALSE);  // sound cannot feed the picture
  EXPECT_EQ(xbar->Route(0, 3), E_FAIL);
  ASSERT_EQ(xbar->Route(0, 0), S_OK);
  ASSERT_EQ(xbar->get_IsRoutedTo(0, &routed), S_OK);
  EXPECT_EQ(routed, 0);

  ComPtr<IAMTVTuner> tv;
  ASSERT_EQ(tuner->QueryInterface(IID_IAMTVTuner, tv.PutVoid()), S_OK);
  LONG min = 0, max = 0, signal = 0, hertz = 0;
  ASSERT_EQ(tv->ChannelMinMax(&min, &max), S_OK);
  EXPECT_EQ(tv->put_Channel(max + 1, -1, -1), E_INVALIDARG);
  ASSERT_EQ(tv->put_Channel(4, AMTUNER_SUBCHAN_DEFAULT, AMTUNER_SUBCHAN_DEFAULT), S_OK);
  ASSERT_EQ(tv->SignalPresent(&signal), S_OK);
  EXPECT_EQ(signal, AMTUNER_SIGNALPRESENT);
  ASSERT_EQ(tv->get_VideoFrequency(&hertz), S_OK);
  EXPECT_EQ(hertz, 62250000);
  ASSERT_EQ(tv->put_Channel(40, -1, -1), S_OK);
  ASSERT_EQ(tv->SignalPresent(&signal), S_OK);
  EXPECT_EQ(signal, AMTUNER_NOSIGNAL);
  pins(crossbar.Get())[5]->Disconnect();
  pins(camera.Get())[1]->Disconnect();
}

TEST_F(DeviceEnumerator, TheTestMicrophoneGivesTheToneOfItsChosenLine) {
  SetTestDevicesLive(false);
  ComPtr<IBaseFilter> mic;
  ASSERT_EQ(List(CLSID_AudioInputDeviceCategory).at(0).moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, mic.PutVoid()), S_OK);
  std::vector<ComPtr<IPin>> pins;
  {
    ComPtr<IEnumPins> e;
    mic->EnumPins(e.Put());
    IPin* p = nullptr;
    ULONG n = 0;
    while (e->Next(1, &p, &n) == S_OK) pins.push_back(ComPtr<IPin>::Attach(p));
  }
  ASSERT_EQ(pins.size(), 3u);  // capture, microphone line, line in
  ComPtr<IAMAudioInputMixer> micLine, lineIn;
  ASSERT_EQ(pins[1]->QueryInterface(IID_IAMAudioInputMixer, micLine.PutVoid()), S_OK);
  ASSERT_EQ(pins[2]->QueryInterface(IID_IAMAudioInputMixer, lineIn.PutVoid()), S_OK);
  EXPECT_EQ(micLine->put_MixLevel(1.5), E_INVALIDARG);
  ASSERT_EQ(micLine->put_Enable(0), S_OK);
  ASSERT_EQ(lineIn->put_Enable(1), S_OK);
  ASSERT_EQ(lineIn->put_MixLevel(1.0), S_OK);

  ComPtr<IAMStreamConfig> config;
  ASSERT_EQ(pins[0]->QueryInterface(IID_IAMStreamConfig, config.PutVoid()), S_OK);
  int count = 0, size = 0;
  ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
  EXPECT_EQ(size, int(sizeof(AUDIO_STREAM_CONFIG_CAPS)));
  CMediaType mono = MakeMono8k();
  ASSERT_EQ(config->SetFormat(&mono), S_OK);

  auto* c = new CCollector();
  c->NonDelegatingAddRef();
  auto collector = ComPtr<CCollector>::Attach(c);
  collector->SetLimit(3);
  ASSERT_EQ(pins[0]->Connect(collector->Input(), nullptr), S_OK);
  collector->Pause();
  ASSERT_EQ(mic->Pause(), S_OK);
  ASSERT_TRUE(collector->WaitForSamples(3));
  mic->Stop();
  collector->Stop();
  // 880 Hz at 8000 samples a second: count the rising zero crossings of the first block.
  const auto block = collector->Samples()[0].bytes;
  ASSERT_EQ(block.size(), 800u * 2);
  int crossings = 0;
  const auto* s = reinterpret_cast<const int16_t*>(block.data());
  for (size_t i = 1; i < block.size() / 2; ++i) crossings += s[i - 1] < 0 && s[i] >= 0;
  EXPECT_NEAR(crossings, 88, 2);
  pins[0]->Disconnect();
  collector->Input()->Disconnect();
  SetTestDevicesLive(true);
}

}  // namespace
}  // namespace kestrom::dshow

namespace kestrom::dshow {
namespace {

// What the capture engine does when it looks for a device's tuner and crossbars: render the
// capture pin without a sink (which brings the wired filters in front of the device), then
// search upstream.
TEST_F(DeviceEnumerator, TheCaptureGraphBuilderFindsTheTestCardsCrossbarAndTuner) {
  graph::EnsureGraphClassesRegistered();
  ComPtr<IGraphBuilder> graph;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.PutVoid()), S_OK);
  ComPtr<ICaptureGraphBuilder2> builder;
  ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2, builder.PutVoid()), S_OK);
  ASSERT_EQ(builder->SetFiltergraph(graph.Get()), S_OK);
  ComPtr<IBaseFilter> camera;
  ASSERT_EQ(List(CLSID_VideoInputDeviceCategory).at(0).moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, camera.PutVoid()), S_OK);
  ASSERT_EQ(graph->AddFilter(camera.Get(), u"Camera"), S_OK);
  builder->RenderStream(nullptr, nullptr, camera.Get(), nullptr, nullptr);

  ComPtr<IAMTVTuner> tuner;
  EXPECT_EQ(builder->FindInterface(&LOOK_UPSTREAM_ONLY, nullptr, camera.Get(), IID_IAMTVTuner, tuner.PutVoid()), S_OK);
  ComPtr<IAMCrossbar> crossbar;
  EXPECT_EQ(builder->FindInterface(&LOOK_UPSTREAM_ONLY, nullptr, camera.Get(), IID_IAMCrossbar, crossbar.PutVoid()), S_OK);
  // The camera itself has neither.
  ComPtr<IUnknown> none;
  EXPECT_EQ(camera->QueryInterface(IID_IAMTVTuner, none.PutVoid()), E_NOINTERFACE);

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

}  // namespace
}  // namespace kestrom::dshow
