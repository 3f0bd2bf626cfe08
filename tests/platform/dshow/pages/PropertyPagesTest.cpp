// The settings pages of devices and compressors: which rows a page has, what reaches the
// device and when, and the property frame as the scripted dialogs service drives it.
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/FilterGraph.h"
#include "platform/dshow/base/MediaType.h"
#include "platform/dshow/pages/PageBuilders.h"
#include "platform/dshow/pages/PropertyPage.h"
#include "platform/dshow/sources/DeviceInterfaces.h"
#include "platform/dshow/sources/Registration.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/dshow/writers/WriterFilters.h"
#include "platform/dshow/writers/WriterInterfaces.h"
#include "platform/registry/Registry.h"
#include "platform/ui/Dialogs.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kestrom::dshow {
namespace {

using namespace com;
using pages::PageModel;
using ui::PropertyFrameScript;

ComPtr<IBaseFilter> Make(REFCLSID clsid) {
  ComPtr<IBaseFilter> filter;
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.PutVoid()), S_OK);
  return filter;
}

ComPtr<IPin> OutputPin(IBaseFilter* filter) {
  auto pins = FilterPins(filter, PINDIR_OUTPUT, false);
  return pins.empty() ? ComPtr<IPin>() : pins.front();
}

LONG ProcAmp(IBaseFilter* camera, LONG property, LONG* flags = nullptr) {
  ComPtr<IAMVideoProcAmp> amp;
  EXPECT_EQ(camera->QueryInterface(IID_IAMVideoProcAmp, amp.PutVoid()), S_OK);
  LONG value = -1, f = 0;
  EXPECT_EQ(amp->Get(property, &value, &f), S_OK);
  if (flags) *flags = f;
  return value;
}

QStringList FieldNames(const PageModel& model) {
  QStringList names;
  for (const pages::PageField& f : model.Fields()) names << f.name;
  return names;
}

class PropertyPages : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(registryDir_.isValid());
    registry::SetRegistryDirectory(registryDir_.path());
    ASSERT_EQ(RegisterSourceFilters(), S_OK);
    ASSERT_EQ(RegisterWriterFilters(), S_OK);
    SetTestDevicesLive(false);
    camera_ = Make(CLSID_KestromTestCamera);
  }
  void TearDown() override {
    camera_.Reset();
    SetTestDevicesLive(true);
    registry::SetRegistryDirectory({});
  }
  // Shows the object's own pages through the scripted frame; true when it closed with OK.
  bool Show(IUnknown* object, const PropertyFrameScript& script, int x = 0, int y = 0) {
    frame_.dialogs.Push(script);
    bool ok = false;
    EXPECT_EQ(ShowObjectPages(nullptr, x, y, "Settings", object, &ok), S_OK);
    return ok;
  }
  const ui::PropertyFrameAsked* LastFrame() const {
    const auto& asked = frame_.dialogs.Asked();
    return asked.empty() ? nullptr : std::get_if<ui::PropertyFrameAsked>(&asked.back());
  }

  QTemporaryDir registryDir_;
  ui::ScopedScriptedDialogs frame_;
  ComPtr<IBaseFilter> camera_;
};

TEST_F(PropertyPages, BrightnessSetOnTheCameraPageHoldsAfterOkAndTheFrameIsRecorded) {
  EXPECT_TRUE(Show(camera_.Get(), PropertyFrameScript().Set("Brightness", 200).Press("OK"), 30, 30));
  LONG flags = 0;
  EXPECT_EQ(ProcAmp(camera_.Get(), VideoProcAmp_Brightness, &flags), 200);
  EXPECT_EQ(flags, VideoProcAmp_Flags_Manual);
  const ui::PropertyFrameAsked* asked = LastFrame();
  ASSERT_NE(asked, nullptr);
  EXPECT_EQ(asked->caption, "Settings");
  EXPECT_EQ(asked->position, QPoint(30, 30));
  EXPECT_EQ(asked->titles, QStringList({"Video Proc Amp", "Camera Control", "Video Decoder"}));
  EXPECT_TRUE(frame_.dialogs.Errors().isEmpty()) << frame_.dialogs.Errors().join("; ").toStdString();
}

TEST_F(PropertyPages, CancelPutsBackWhatTheImagePageFoundOrLastApplied) {
  const struct {
    const char* name;
    PropertyFrameScript script;
    LONG brightness;
    LONG flags;
  } cases[] = {
      // The test camera's brightness starts at 128 in Auto; moving the slider takes it out of Auto.
      {"cancel", PropertyFrameScript().Set("Brightness", 200).Press("Cancel"), 128, VideoProcAmp_Flags_Auto},
      {"default then OK", PropertyFrameScript().Set("Brightness", 40).Press("BrightnessDefault").Press("OK"), 128,
       VideoProcAmp_Flags_Manual},
      {"apply then cancel", PropertyFrameScript().Set("Brightness", 60).Press("Apply").Set("Brightness", 90).Press("Cancel"),
       60, VideoProcAmp_Flags_Manual},
      {"auto again", PropertyFrameScript().Set("Brightness", 50).Set("BrightnessAuto", true).Press("OK"), 50,
       VideoProcAmp_Flags_Auto},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    camera_ = Make(CLSID_KestromTestCamera);
    Show(camera_.Get(), c.script);
    LONG flags = 0;
    EXPECT_EQ(ProcAmp(camera_.Get(), VideoProcAmp_Brightness, &flags), c.brightness);
    EXPECT_EQ(flags, c.flags);
  }
  EXPECT_TRUE(frame_.dialogs.Errors().isEmpty()) << frame_.dialogs.Errors().join("; ").toStdString();
}

TEST_F(PropertyPages, ImageControlsActAsTheyMoveWithValuesClampedToTheirRange) {
  PageModel model;
  ASSERT_TRUE(pages::BuildPage(CLSID_VideoProcAmpPage, {ComPtr<IUnknown>(camera_.Get())}, &model));
  const struct {
    const char* name;
    LONG asked, taken;
  } cases[] = {{"Brightness", 300, 255}, {"Brightness", -5, 0}, {"Hue", -181, -180},
               {"WhiteBalance", 4640, 4600}, {"WhiteBalance", 9000, 6500}, {"Gain", 55, 55}};
  const LONG properties[] = {VideoProcAmp_Brightness, VideoProcAmp_Brightness, VideoProcAmp_Hue,
                             VideoProcAmp_WhiteBalance, VideoProcAmp_WhiteBalance, VideoProcAmp_Gain};
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(model.SetValue(cases[i].name, cases[i].asked), cases[i].taken);
    // Live: the camera holds it before any OK.
    EXPECT_EQ(ProcAmp(camera_.Get(), properties[i]), cases[i].taken);
  }
  EXPECT_TRUE(model.IsDirty());
  EXPECT_EQ(model.Value("BrightnessAuto"), 0);
  model.Cancel();
  LONG flags = 0;
  EXPECT_EQ(ProcAmp(camera_.Get(), VideoProcAmp_Brightness, &flags), 128);
  EXPECT_EQ(flags, VideoProcAmp_Flags_Auto);
  EXPECT_EQ(ProcAmp(camera_.Get(), VideoProcAmp_WhiteBalance), 4600);
  EXPECT_FALSE(model.IsDirty());
}

TEST_F(PropertyPages, CameraControlPageHasARowPerReadableRangeAndAutoBoxesWhereAllowed) {
  PageModel model;
  ASSERT_TRUE(pages::BuildPage(CLSID_CameraControlPage, {ComPtr<IUnknown>(camera_.Get())}, &model));
  // The test camera has no roll and no iris; exposure and focus may run automatically.
  EXPECT_EQ(FieldNames(model), QStringList({"Pan", "Tilt", "Zoom", "Exposure", "ExposureAuto", "Focus", "FocusAuto"}));
  EXPECT_EQ(model.SetValue("Zoom", 605), 600);
  EXPECT_EQ(model.SetValue("Focus", 253), 255);  // steps of 5 from 0
  ComPtr<IAMCameraControl> control;
  ASSERT_EQ(camera_->QueryInterface(IID_IAMCameraControl, control.PutVoid()), S_OK);
  LONG value = 0, flags = 0;
  ASSERT_EQ(control->Get(CameraControl_Focus, &value, &flags), S_OK);
  EXPECT_EQ(value, 255);
  // A page over objects without the interface is left out of a frame.
  PageModel none;
  EXPECT_FALSE(pages::BuildPage(CLSID_CameraControlPage, {ComPtr<IUnknown>(OutputPin(camera_.Get()).Get())}, &none));
}

TEST_F(PropertyPages, SizeChosenOnTheStreamFormatPageBecomesThePinsFormat) {
  ComPtr<IPin> pin = OutputPin(camera_.Get());
  ASSERT_TRUE(pin);
  EXPECT_TRUE(Show(pin.Get(), PropertyFrameScript().Set("OutputSize", "640x480").Set("FrameRate", "30").Press("OK")));
  ASSERT_NE(LastFrame(), nullptr);
  EXPECT_EQ(LastFrame()->titles, QStringList({"Stream Format"}));
  ComPtr<IAMStreamConfig> config;
  ASSERT_EQ(pin->QueryInterface(IID_IAMStreamConfig, config.PutVoid()), S_OK);
  AM_MEDIA_TYPE* type = nullptr;
  ASSERT_EQ(config->GetFormat(&type), S_OK);
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
  EXPECT_EQ(vih->bmiHeader.biWidth, 640);
  EXPECT_EQ(vih->bmiHeader.biHeight, 480);
  EXPECT_TRUE(type->subtype == MEDIASUBTYPE_RGB24);
  EXPECT_EQ(vih->AvgTimePerFrame, 333333);
  DeleteMediaType(type);

  // Cancel leaves the format alone: the page acts only on OK or Apply.
  EXPECT_FALSE(Show(pin.Get(), PropertyFrameScript().Set("OutputSize", "160x120").Press("Cancel")));
  ASSERT_EQ(config->GetFormat(&type), S_OK);
  EXPECT_EQ(reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat)->bmiHeader.biWidth, 640);
  DeleteMediaType(type);
}

TEST_F(PropertyPages, MicrophonePagesSetTheCaptureFormatAndTheInputLines) {
  ComPtr<IBaseFilter> mic = Make(CLSID_KestromTestMicrophone);
  ComPtr<IPin> pin = OutputPin(mic.Get());
  EXPECT_TRUE(Show(pin.Get(), PropertyFrameScript().Set("SampleRate", "22050").Set("Channels", "Mono").Set("BitsPerSample", "8").Press("OK")));
  ComPtr<IAMStreamConfig> config;
  ASSERT_EQ(pin->QueryInterface(IID_IAMStreamConfig, config.PutVoid()), S_OK);
  AM_MEDIA_TYPE* type = nullptr;
  ASSERT_EQ(config->GetFormat(&type), S_OK);
  const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(type->pbFormat);
  EXPECT_EQ(wfx->nSamplesPerSec, 22050u);
  EXPECT_EQ(wfx->nChannels, 1);
  EXPECT_EQ(wfx->wBitsPerSample, 8);
  DeleteMediaType(type);

  EXPECT_TRUE(Show(mic.Get(), PropertyFrameScript().Set("Microphone Enable", false).Set("Line In Enable", true).Set("Line In Level", 40).Press("OK")));
  EXPECT_EQ(LastFrame()->titles, QStringList({"Audio Input"}));
  auto inputs = FilterPins(mic.Get(), PINDIR_INPUT, false);
  ASSERT_EQ(inputs.size(), 2u);
  ComPtr<IAMAudioInputMixer> microphone, line;
  ASSERT_EQ(inputs[0]->QueryInterface(IID_IAMAudioInputMixer, microphone.PutVoid()), S_OK);
  ASSERT_EQ(inputs[1]->QueryInterface(IID_IAMAudioInputMixer, line.PutVoid()), S_OK);
  BOOL enabled = TRUE;
  double level = 0;
  microphone->get_Enable(&enabled);
  EXPECT_FALSE(enabled);
  line->get_Enable(&enabled);
  line->get_MixLevel(&level);
  EXPECT_TRUE(enabled);
  EXPECT_DOUBLE_EQ(level, 0.4);
  EXPECT_TRUE(frame_.dialogs.Errors().isEmpty()) << frame_.dialogs.Errors().join("; ").toStdString();
}

TEST_F(PropertyPages, CompressorQualityTakesEffectOnOkOrApplyOnly) {
  ComPtr<IBaseFilter> compressor = Make(CLSID_Mpeg4V2Compressor);
  ComPtr<IAMVideoCompression> compression;
  ASSERT_EQ(compressor->QueryInterface(IID_IAMVideoCompression, compression.PutVoid()), S_OK);
  double quality = 0;

  EXPECT_FALSE(Show(compressor.Get(), PropertyFrameScript().Set("Quality", 40).Press("Cancel")));
  compression->get_Quality(&quality);
  EXPECT_DOUBLE_EQ(quality, 0.85);
  EXPECT_EQ(LastFrame()->titles, QStringList({"Compression"}));

  EXPECT_FALSE(Show(compressor.Get(), PropertyFrameScript().Set("Quality", 40).Set("KeyFrameRate", 12).Press("Apply").Press("Cancel")));
  compression->get_Quality(&quality);
  EXPECT_DOUBLE_EQ(quality, 0.40);
  LONG keyFrames = 0;
  compression->get_KeyFrameRate(&keyFrames);
  EXPECT_EQ(keyFrames, 12);

  EXPECT_TRUE(Show(compressor.Get(), PropertyFrameScript().Set("Quality", 75).Press("OK")));
  compression->get_Quality(&quality);
  EXPECT_DOUBLE_EQ(quality, 0.75);
  EXPECT_TRUE(frame_.dialogs.Errors().isEmpty()) << frame_.dialogs.Errors().join("; ").toStdString();
}

TEST_F(PropertyPages, CrossbarAndTunerPagesRouteAndTuneOnOk) {
  ComPtr<IBaseFilter> crossbar = Make(CLSID_KestromTestCrossbar);
  EXPECT_TRUE(Show(crossbar.Get(), PropertyFrameScript().Set("Output0", "0: Video Tuner").Press("OK")));
  ComPtr<IAMCrossbar> routes;
  ASSERT_EQ(crossbar->QueryInterface(IID_IAMCrossbar, routes.PutVoid()), S_OK);
  LONG input = -1;
  routes->get_IsRoutedTo(0, &input);
  EXPECT_EQ(input, 0);

  ComPtr<IBaseFilter> tuner = Make(CLSID_KestromTestTuner);
  EXPECT_TRUE(Show(tuner.Get(), PropertyFrameScript().Set("Channel", 7).Press("OK")));
  EXPECT_EQ(LastFrame()->titles, QStringList({"TV Tuner"}));
  ComPtr<IAMTVTuner> tv;
  ASSERT_EQ(tuner->QueryInterface(IID_IAMTVTuner, tv.PutVoid()), S_OK);
  LONG channel = 0, videoSub = 0, audioSub = 0;
  tv->get_Channel(&channel, &videoSub, &audioSub);
  EXPECT_EQ(channel, 7);
  EXPECT_TRUE(frame_.dialogs.Errors().isEmpty()) << frame_.dialogs.Errors().join("; ").toStdString();
}

TEST_F(PropertyPages, ObjectsWithoutPagesShowNothingAndNoDriverDialogsExist) {
  // The DV encoder has no setting a page could show.
  ComPtr<IBaseFilter> dv = Make(CLSID_DvCompressor);
  EXPECT_EQ(ShowObjectPages(nullptr, 0, 0, "DV", dv.Get()), S_FALSE);
  EXPECT_EQ(ShowObjectPages(nullptr, 0, 0, "None", OutputPin(Make(CLSID_Mpeg4V2Compressor).Get()).Get()), S_FALSE);
  EXPECT_TRUE(frame_.dialogs.Asked().empty());
  for (REFCLSID clsid : {CLSID_KestromTestCamera, CLSID_KestromTestMicrophone, CLSID_Mpeg4V2Compressor, CLSID_AdpcmCompressor}) {
    ComPtr<IBaseFilter> filter = Make(clsid);
    void* itf = nullptr;
    EXPECT_EQ(filter->QueryInterface(IID_IAMVfwCaptureDialogs, &itf), E_NOINTERFACE);
    EXPECT_EQ(filter->QueryInterface(IID_IAMVfwCompressDialogs, &itf), E_NOINTERFACE);
  }
}

}  // namespace
}  // namespace kestrom::dshow
