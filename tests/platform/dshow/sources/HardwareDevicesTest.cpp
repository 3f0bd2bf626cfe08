#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/base/PersistStream.h"
#include "platform/dshow/sources/AlsaDevices.h"
#include "platform/dshow/sources/DeviceInterfaces.h"
#include "platform/dshow/sources/V4l2Devices.h"
#include "tests/platform/dshow/sources/Collector.h"

#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>

namespace kestrom::dshow {
namespace {

using namespace com;
using namespace test;

// Real devices are used only by the tests below, which ask for them, and only where the
// machine has them.
class HardwareDevices : public testing::Test {
 protected:
  void SetUp() override { setenv("KESTROM_REAL_DEVICES", "1", 1); }
  void TearDown() override { unsetenv("KESTROM_REAL_DEVICES"); }
};

TEST_F(HardwareDevices, AMissingOrWrongVideoNodeIsNotADevice) {
  ComPtr<IBaseFilter> filter;
  EXPECT_EQ(CreateV4l2Filter("/dev/video-that-is-not-there", IID_IBaseFilter, filter.PutVoid()), VFW_E_NOT_FOUND);
  EXPECT_EQ(CreateV4l2Filter("/dev/null", IID_IBaseFilter, filter.PutVoid()), VFW_E_NOT_FOUND);
  EXPECT_FALSE(filter);
  // Only the video capture category lists kernel video devices.
  EXPECT_TRUE(V4l2DeviceEntries(CLSID_AudioInputDeviceCategory).empty());
  unsetenv("KESTROM_REAL_DEVICES");
  EXPECT_TRUE(V4l2DeviceEntries(CLSID_VideoInputDeviceCategory).empty()) << "a test run leaves real devices alone";
}

TEST_F(HardwareDevices, AV4l2CameraStreamsAndOffersItsFormats) {
  const auto cameras = V4l2DeviceEntries(CLSID_VideoInputDeviceCategory);
  if (cameras.empty()) GTEST_SKIP() << "no video capture device on this machine";
  const DeviceEntry& camera = cameras.front();
  EXPECT_FALSE(camera.friendlyName.isEmpty());
  EXPECT_TRUE(camera.displayName.startsWith("@device:pnp:/dev/"));
  ComPtr<IBaseFilter> filter;
  ASSERT_EQ(camera.create(IID_IBaseFilter, filter.PutVoid()), S_OK);
  ComPtr<IEnumPins> pins;
  filter->EnumPins(pins.Put());
  ComPtr<IPin> out;
  ULONG n = 0;
  ASSERT_EQ(pins->Next(1, out.Put(), &n), S_OK);
  ComPtr<IAMStreamConfig> config;
  ASSERT_EQ(out->QueryInterface(IID_IAMStreamConfig, config.PutVoid()), S_OK);
  int count = 0, size = 0;
  ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
  EXPECT_GT(count, 0);
  EXPECT_EQ(size, 128);
  ComPtr<IAMTVTuner> tuner;
  EXPECT_EQ(filter->QueryInterface(IID_IAMTVTuner, tuner.PutVoid()), E_NOINTERFACE);

  auto* c = new CCollector();
  c->NonDelegatingAddRef();
  auto collector = ComPtr<CCollector>::Attach(c);
  ASSERT_EQ(out->Connect(collector->Input(), nullptr), S_OK);
  collector->Run(0);
  ASSERT_EQ(filter->Run(0), S_OK);
  EXPECT_TRUE(collector->WaitForSamples(3, std::chrono::seconds(10)));
  filter->Stop();
  collector->Stop();
  out->Disconnect();
  collector->Input()->Disconnect();
}

TEST_F(HardwareDevices, AnAlsaCaptureDeviceHasAMixerPinPerLine) {
  const auto cards = AlsaDeviceEntries(CLSID_AudioInputDeviceCategory);
  if (cards.empty()) GTEST_SKIP() << "no sound capture device on this machine";
  ComPtr<IBaseFilter> filter;
  ASSERT_EQ(cards.front().create(IID_IBaseFilter, filter.PutVoid()), S_OK);
  ComPtr<IAMAudioInputMixer> master;
  EXPECT_EQ(filter->QueryInterface(IID_IAMAudioInputMixer, master.PutVoid()), S_OK);
  ComPtr<IEnumPins> pins;
  filter->EnumPins(pins.Put());
  IPin* pin = nullptr;
  ULONG n = 0;
  int outputs = 0;
  while (pins->Next(1, &pin, &n) == S_OK) {
    ComPtr<IPin> held = ComPtr<IPin>::Attach(pin);
    PIN_DIRECTION dir;
    pin->QueryDirection(&dir);
    ComPtr<IAMAudioInputMixer> mixer;
    if (dir == PINDIR_INPUT) EXPECT_EQ(pin->QueryInterface(IID_IAMAudioInputMixer, mixer.PutVoid()), S_OK);
    else ++outputs;
  }
  EXPECT_EQ(outputs, 1);
}

TEST_F(HardwareDevices, AV4l2CamerasStateLoadsBackIntoAFreshFilter) {
  const auto cameras = V4l2DeviceEntries(CLSID_VideoInputDeviceCategory);
  if (cameras.empty()) GTEST_SKIP() << "no video capture device on this machine";
  ComPtr<IPersistStream> saved, loaded;
  {
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(cameras.front().create(IID_IBaseFilter, filter.PutVoid()), S_OK);
    ASSERT_EQ(filter->QueryInterface(IID_IPersistStream, saved.PutVoid()), S_OK);
  }
  ComPtr<IStream> stream;
  ASSERT_EQ(CreateMemoryStream(stream.Put()), S_OK);
  ASSERT_EQ(saved->Save(stream.Get(), 1), S_OK);
  ULONGLONG size = 0, max = 0;
  ASSERT_EQ(stream->Seek(0, STREAM_SEEK_END, &size), S_OK);
  ASSERT_EQ(saved->GetSizeMax(&max), S_OK);
  EXPECT_EQ(size, max);
  saved.Reset();  // the device is opened by one filter at a time
  ComPtr<IBaseFilter> fresh;
  ASSERT_EQ(cameras.front().create(IID_IBaseFilter, fresh.PutVoid()), S_OK);
  ASSERT_EQ(fresh->QueryInterface(IID_IPersistStream, loaded.PutVoid()), S_OK);
  ASSERT_EQ(stream->Seek(0, STREAM_SEEK_SET, nullptr), S_OK);
  EXPECT_EQ(loaded->Load(stream.Get()), S_OK);
}

}  // namespace
}  // namespace kestrom::dshow
