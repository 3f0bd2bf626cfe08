// A capture filter's own state saved in the store and loaded back through its IPersistStream.
#include "EngineFixtures.h"

#include "capture/engine/DeviceProvider.h"
#include "capture/engine/Devices.h"
#include "capture/engine/Registry2.h"
#include "platform/com/ComPtr.h"
#include "platform/dshow/base/MediaType.h"
#include "platform/dshow/base/PersistStream.h"
#include "platform/dshow/sources/CaptureState.h"
#include "platform/dshow/sources/DeviceInterfaces.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/dshow/writers/WriterInterfaces.h"

namespace kestrom::engine::test {

namespace {

using namespace kestrom::dshow;
using com::ComPtr;
using com::FAILED;

// A test camera as the device list binds it.
ComPtr<IBaseFilter> BindTestCamera(QString* key = nullptr) {
  QString friendly;
  DeviceMoniker moniker;
  if (!FindDeviceMoniker(engine::CLSID_VideoInputDeviceCategory, QString::fromUtf16(kTestCameraName), 0, friendly,
                         moniker))
    return nullptr;
  if (key) *key = DeviceKey(moniker.displayName, friendly);
  return BindFilter(moniker);
}

ComPtr<IAMStreamConfig> FormatOf(IBaseFilter* filter) {
  ComPtr<IEnumPins> pins;
  filter->EnumPins(pins.Put());
  IPin* pin = nullptr;
  ComPtr<IAMStreamConfig> config;
  while (!config && pins->Next(1, &pin, nullptr) == com::S_OK) {
    ComPtr<IPin> held = ComPtr<IPin>::Attach(pin);
    if (FAILED(pin->QueryInterface(IID_IAMStreamConfig, config.PutVoid()))) config.Reset();
  }
  return config;
}

struct Format {
  GUID subtype{};
  LONG width = 0, height = 0;
  REFERENCE_TIME interval = 0;
};

Format CurrentFormat(IBaseFilter* filter) {
  Format f;
  AM_MEDIA_TYPE* type = nullptr;
  if (FAILED(FormatOf(filter)->GetFormat(&type)) || !type) return f;
  f.subtype = type->subtype;
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
  f.width = vih->bmiHeader.biWidth;
  f.height = vih->bmiHeader.biHeight;
  f.interval = vih->AvgTimePerFrame;
  DeleteMediaType(type);
  return f;
}

// Chooses 720x576 YUY2 at 25 frames per second among the camera's capabilities.
bool ChoosePalYuy2(IBaseFilter* filter) {
  ComPtr<IAMStreamConfig> config = FormatOf(filter);
  int count = 0, size = 0;
  config->GetNumberOfCapabilities(&count, &size);
  std::vector<BYTE> caps(static_cast<size_t>(size));
  for (int i = 0; i < count; ++i) {
    AM_MEDIA_TYPE* type = nullptr;
    if (FAILED(config->GetStreamCaps(i, &type, caps.data()))) continue;
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
    const bool wanted = type->subtype == MEDIASUBTYPE_YUY2 && vih->bmiHeader.biWidth == 720;
    vih->AvgTimePerFrame = 400000;
    const bool set = wanted && config->SetFormat(type) == com::S_OK;
    DeleteMediaType(type);
    if (set) return true;
  }
  return false;
}

LONG Brightness(IBaseFilter* filter, LONG* flags = nullptr) {
  ComPtr<IAMVideoProcAmp> procAmp;
  filter->QueryInterface(IID_IAMVideoProcAmp, procAmp.PutVoid());
  LONG value = -1, f = 0;
  procAmp->Get(VideoProcAmp_Brightness, &value, &f);
  if (flags) *flags = f;
  return value;
}

class FilterStateTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    SetDeviceProvider(nullptr);  // the graph's own devices
    EnableProcessLog();
  }
};

}  // namespace

TEST_F(FilterStateTest, ATestCamerasFormatAndControlsComeBackFromTheStore) {
  QString key;
  ComPtr<IBaseFilter> camera = BindTestCamera(&key);
  ASSERT_TRUE(camera);
  const Format defaults = CurrentFormat(camera.Get());
  ASSERT_TRUE(ChoosePalYuy2(camera.Get()));
  ComPtr<IAMVideoProcAmp> procAmp;
  ASSERT_EQ(camera->QueryInterface(IID_IAMVideoProcAmp, procAmp.PutVoid()), com::S_OK);
  ASSERT_EQ(procAmp->Set(VideoProcAmp_Brightness, 200, VideoProcAmp_Flags_Manual), com::S_OK);
  ASSERT_EQ(procAmp->Set(VideoProcAmp_Gain, 40, VideoProcAmp_Flags_Manual), com::S_OK);
  ASSERT_EQ(procAmp->Set(VideoProcAmp_Gain, 0, VideoProcAmp_Flags_Auto), com::S_OK);
  ComPtr<IAMCameraControl> cameraControl;
  ASSERT_EQ(camera->QueryInterface(IID_IAMCameraControl, cameraControl.PutVoid()), com::S_OK);
  ASSERT_EQ(cameraControl->Set(CameraControl_Zoom, 120, CameraControl_Flags_Manual), com::S_OK);

  const QString path = DeviceKeyPath(key);
  ASSERT_TRUE(SaveFilterState(camera.Get(), path));
  {
    TRegistry2 reg;
    ASSERT_TRUE(reg.OpenKey(path, false));
    int32_t size = 0;
    ASSERT_TRUE(reg.ReadInteger("WDMStateSize", size));
    EXPECT_EQ(size, int32_t(kCaptureFilterStateSize));
    EXPECT_FALSE(reg.ValueExists("VfwState"));  // no capture driver dialogs on this platform
  }

  // A camera bound afresh starts from its defaults, and the store gives it back its settings.
  camera.Reset();
  ComPtr<IBaseFilter> again = BindTestCamera();
  ASSERT_TRUE(again);
  EXPECT_EQ(CurrentFormat(again.Get()).width, defaults.width);
  EXPECT_EQ(Brightness(again.Get()), 128);
  ASSERT_TRUE(LoadFilterState(again.Get(), path));
  const Format restored = CurrentFormat(again.Get());
  EXPECT_TRUE(restored.subtype == MEDIASUBTYPE_YUY2);
  EXPECT_EQ(restored.width, 720);
  EXPECT_EQ(restored.height, 576);
  EXPECT_EQ(restored.interval, 400000);
  EXPECT_EQ(Brightness(again.Get()), 200);
  ComPtr<IAMVideoProcAmp> againProcAmp;
  again->QueryInterface(IID_IAMVideoProcAmp, againProcAmp.PutVoid());
  LONG gain = -1, gainFlags = 0;
  againProcAmp->Get(VideoProcAmp_Gain, &gain, &gainFlags);
  EXPECT_EQ(gain, 40);
  EXPECT_EQ(gainFlags, VideoProcAmp_Flags_Auto);
  ComPtr<IAMCameraControl> againCamera;
  again->QueryInterface(IID_IAMCameraControl, againCamera.PutVoid());
  LONG zoom = -1, zoomFlags = 0;
  againCamera->Get(CameraControl_Zoom, &zoom, &zoomFlags);
  EXPECT_EQ(zoom, 120);
}

TEST_F(FilterStateTest, AStateOfTheWrongSizeOrLayoutLeavesTheDefaults) {
  QString key;
  ComPtr<IBaseFilter> camera = BindTestCamera(&key);
  ASSERT_TRUE(camera);
  ASSERT_TRUE(ChoosePalYuy2(camera.Get()));
  ComPtr<IAMVideoProcAmp> procAmp;
  camera->QueryInterface(IID_IAMVideoProcAmp, procAmp.PutVoid());
  procAmp->Set(VideoProcAmp_Brightness, 10, VideoProcAmp_Flags_Manual);
  const QString path = DeviceKeyPath(key);
  ASSERT_TRUE(SaveFilterState(camera.Get(), path));
  QByteArray good(kCaptureFilterStateSize, '\0');
  {
    TRegistry2 reg;
    ASSERT_TRUE(reg.OpenKey(path, false));
    int got = 0;
    ASSERT_TRUE(reg.ReadBinary("WDMState", good.data(), good.size(), got));
  }

  const struct {
    const char* what;
    QByteArray state;
    int recordedSize;
    const char* logged;  // the process log's reason, or nothing
  } cases[] = {
      {"a shorter state of another layout", good.left(good.size() - 8), int(good.size()) - 8, "bytes stored"},
      {"a longer state", good + QByteArray(4, '\0'), int(good.size()) + 4, "bytes stored"},
      {"a recorded size that disagrees with the bytes", good, int(good.size()) - 1, "bytes stored"},
      {"bytes shorter than the recorded size", good.left(100), int(good.size()), "stored state is not"},
      {"another filter's state of the same size", QByteArray(good.size(), 'x'), int(good.size()), nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    {
      TRegistry2 reg;
      ASSERT_TRUE(reg.OpenKey(path, false));
      reg.WriteBinary("WDMState", c.state.constData(), int(c.state.size()));
      reg.WriteInteger("WDMStateSize", c.recordedSize);
    }
    ResetProcessLog();
    EnableProcessLog();
    ComPtr<IBaseFilter> fresh = BindTestCamera();
    ASSERT_TRUE(fresh);
    EXPECT_FALSE(LoadFilterState(fresh.Get(), path));
    EXPECT_EQ(CurrentFormat(fresh.Get()).width, 320);
    EXPECT_EQ(Brightness(fresh.Get()), 128);
    if (c.logged) {
      EXPECT_TRUE(ProcessLogLines().join("\n").contains(QString("filter state not restored: ")))
          << ProcessLogLines().join("\n").toStdString();
      EXPECT_TRUE(ProcessLogLines().join("\n").contains(c.logged));
    }
  }
}

TEST_F(FilterStateTest, AFilterWithoutAPersistedStreamSavesNothing) {
  // The test card's crossbar keeps its routes through the engine's own settings, not a stream.
  QString friendly;
  DeviceMoniker moniker;
  ASSERT_TRUE(FindDeviceMoniker(QStringLiteral("{A799A801-A46D-11D0-A18C-00A02401DCD4}"),
                                QString::fromUtf16(kTestCrossbarName), 0, friendly, moniker));
  ComPtr<IBaseFilter> crossbar = BindFilter(moniker);
  ASSERT_TRUE(crossbar);
  const QString path = DeviceKeyPath("Crossbar");
  EXPECT_FALSE(SaveFilterState(crossbar.Get(), path));
  EXPECT_FALSE(LoadFilterState(crossbar.Get(), path));
  TRegistry2 reg;
  ASSERT_TRUE(reg.OpenKey(path, false));  // the key is made, as the store always does
  EXPECT_FALSE(reg.ValueExists("WDMState"));
  EXPECT_FALSE(SaveFilterState(static_cast<com::IUnknown*>(nullptr), path));
}

}  // namespace kestrom::engine::test

namespace kestrom::engine::test {

TEST_F(FilterStateTest, ACompressorsSettingsComeBackUnderItsNameAndNotIntoAnotherCodec) {
  auto bind = [](const char* name) {
    QString friendly;
    DeviceMoniker moniker;
    if (!FindDeviceMoniker(CLSID_VideoCompressorCategory, name, 0, friendly, moniker)) return ComPtr<IBaseFilter>();
    return BindFilter(moniker);
  };
  auto compression = [](IBaseFilter* f) {
    ComPtr<IAMVideoCompression> c;
    f->QueryInterface(IID_IAMVideoCompression, c.PutVoid());
    return c;
  };
  const QString path = DeviceKeyPath(DeviceKey(QString(), "Microsoft MPEG-4 Video Codec V2"));
  {
    ComPtr<IBaseFilter> codec = bind("Microsoft MPEG-4 Video Codec V2");
    ASSERT_TRUE(codec);
    ASSERT_EQ(compression(codec.Get())->put_Quality(0.4), com::S_OK);
    ASSERT_EQ(compression(codec.Get())->put_KeyFrameRate(50), com::S_OK);
    ASSERT_TRUE(SaveFilterState(codec.Get(), path));
  }
  ComPtr<IBaseFilter> again = bind("Microsoft MPEG-4 Video Codec V2");
  double quality = 0;
  LONG keyFrames = 0;
  compression(again.Get())->get_Quality(&quality);
  EXPECT_NE(quality, 0.4);
  ASSERT_TRUE(LoadFilterState(again.Get(), path));
  compression(again.Get())->get_Quality(&quality);
  compression(again.Get())->get_KeyFrameRate(&keyFrames);
  EXPECT_DOUBLE_EQ(quality, 0.4);
  EXPECT_EQ(keyFrames, 50);

  // The MJPEG compressor's state has the same size but names another codec: it is refused.
  ComPtr<IBaseFilter> mjpeg = bind("MJPEG Compressor");
  ASSERT_TRUE(mjpeg);
  EXPECT_FALSE(LoadFilterState(mjpeg.Get(), path));
  compression(mjpeg.Get())->get_Quality(&quality);
  EXPECT_NE(quality, 0.4);
}

}  // namespace kestrom::engine::test
