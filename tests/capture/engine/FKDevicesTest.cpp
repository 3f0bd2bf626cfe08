// The engine on the test card: device change with discovery and the format cache, source pins
// and interfaces, formats given to the device, settings across restarts, crossbar routes,
// the microphone's inputs and TV tuning.
#include "TestCameraFixture.h"

#include "capture/engine/FK.h"
#include "capture/engine/GraphHelpers.h"
#include "capture/engine/Registry2.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/ControlInterfaces.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/base/MediaType.h"
#include "platform/dshow/sources/DvDecoder.h"
#include "platform/dshow/sources/DvMpegInterfaces.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/dshow/sources/V4l2Tuner.h"
#include "tests/platform/dshow/support/FixtureDevices.h"
#include "tests/platform/dshow/support/TestFilters.h"

#include <QThread>
#include <cmath>
#include <cstdlib>

namespace kestrom::engine::test {

using com::ComPtr;
using namespace dshow;

namespace {

class FKDevicesTest : public TestCameraTest {
 protected:
  static int AudioIndex(const char16_t* name) {
    const TDevices* list = AudioDeviceList();
    for (int i = 0; i < list->Count(); ++i)
      if (list->Name(i).startsWith(QString::fromUtf16(name))) return i;
    return -1;
  }
  static int AudioDiscoveries(const char16_t* name) {
    return ProcessLogLines().filter("one-time audio device discovery").filter(QString::fromUtf16(name)).size();
  }
  static int Discoveries() { return ProcessLogLines().filter("one-time video device discovery").size(); }
  /** @brief A component on the test camera (discovered or loaded from the cache). */
  std::unique_ptr<TFK> CameraComponent() {
    auto fk = std::make_unique<TFK>();
    fk->SetAudioRecording(false);
    EXPECT_GE(CameraIndex(), 0);
    fk->SetVideoDevice(CameraIndex());
    return fk;
  }
  /** @brief The device graph with its source pins, the preview pin rendered into a test renderer. */
  ComPtr<dshow::test::CTestRenderer> BuildAndRender(TFK& fk) {
    fk.SnapshotBuildParameters();
    EXPECT_TRUE(fk.CreateBaseGraph());
    auto renderer = dshow::test::MakeFilter<dshow::test::CTestRenderer>([](const CMediaType&) { return true; });
    EXPECT_TRUE(fk.AddFilterToGraph(renderer.Get(), "Renderer"));
    if (!fk.PreviewPin()) return renderer;
    EXPECT_EQ(fk.Graph()->ConnectDirect(fk.PreviewPin(), renderer->Input(), nullptr), com::S_OK);
    EXPECT_TRUE(fk.TakeGraphControls());
    return renderer;
  }
};

/**
 * @brief "filter/pin" of a pin, the filter being "device" for the device filter and otherwise
 * its name without the number that makes it unique in the graph; empty for no pin.
 */
QString PinPlace(IPin* pin, IBaseFilter* device) {
  if (!pin) return {};
  PIN_INFO info{};
  if (com::FAILED(pin->QueryPinInfo(&info))) return {};
  ComPtr<IBaseFilter> owner = ComPtr<IBaseFilter>::Attach(info.pFilter);
  QString filter = owner.Get() == device ? QStringLiteral("device") : FilterName(owner.Get());
  while (!filter.isEmpty() && filter.back().isDigit()) filter.chop(1);
  return filter + "/" + QString::fromUtf16(info.achName);
}

}  // namespace

TEST_F(FKDevicesTest, TheFirstSelectionDiscoversAndCachesAndAFreshComponentLoadsTheCache) {
  int selected = 0;
  QStringList sizes, subtypes;
  {
    auto fk = std::make_unique<TFK>();
    fk->Events().OnVideoDeviceSelected = [&](QObject*) { ++selected; };
    fk->SetVideoDevice(CameraIndex());
    EXPECT_EQ(selected, 1);
    EXPECT_EQ(Discoveries(), 1);
    const TSettingsTable& t = fk->VideoSettings();
    EXPECT_TRUE(t.Bool("_DeviceDiscovered"));
    EXPECT_TRUE(t.Bool("_IsAnalogVideoDecoderAvail"));
    EXPECT_TRUE(t.Bool("_IsTVTunerAvail"));
    EXPECT_TRUE(t.Bool("_IsVideoCrossbarAvail"));
    EXPECT_TRUE(t.Bool("_IsVideoQualityAvail"));
    EXPECT_TRUE(t.Bool("_IsCameraControlAvail"));
    EXPECT_FALSE(t.Bool("ExtTransportAvail"));
    EXPECT_FALSE(t.Bool("_IsDigitalVideoIn"));
    EXPECT_EQ(t.Text("VideoInputs"), "Tuner\r\nComposite\r\nSVideo");
    EXPECT_EQ(t.Int("VideoInput"), 1);  // the crossbar starts on composite
    EXPECT_EQ(t.Int("ANTVFormats"), AnalogVideo_NTSC_M | AnalogVideo_PAL_B | AnalogVideo_SECAM_B);
    EXPECT_EQ(t.Int("ANTVFormat"), AnalogVideo_PAL_B);  // the decoder ends on its earlier standard
    EXPECT_EQ(t.Record("VideoQualityValues", 0).maximum, 255);

    const TFormatLists& lists = fk->FormatLists();
    EXPECT_EQ(lists.sizes[sf_PAL], QStringList({"    320x240", " 160x120", " 320x240", " 352x288", " 640x480",
                                                " 720x576", "1280x720", "1920x1080"}));
    EXPECT_FALSE(lists.sizes[sf_NTSC].contains(" 352x288"));
    EXPECT_FALSE(lists.sizes[sf_NTSC].contains(" 720x576"));
    EXPECT_TRUE(lists.sizes[sf_NTSC].contains(" 640x480"));
    EXPECT_EQ(lists.subtypes, QStringList({com::GuidToString(MEDIASUBTYPE_RGB24), com::GuidToString(MEDIASUBTYPE_RGB24),
                                           com::GuidToString(MEDIASUBTYPE_RGB32), com::GuidToString(MEDIASUBTYPE_YUY2)}));
    sizes = fk->GetVideoSizesText().split("\r\n");
    subtypes = fk->GetVideoSubtypesText().split("\r\n");
    EXPECT_EQ(sizes.value(0), "default");
    EXPECT_EQ(fk->GetAnalogVideoStandardsText(), "NTSC M\r\nPAL B\r\nSECAM B\r\n");
    EXPECT_EQ(fk->GetAnalogVideoStandard(), 1);
  }
  // Read back from the store: the cache and the settings were written.
  TRegistry2 reg;
  const QString key = VideoDeviceList()->RegistryKeyOf(CameraIndex());
  ASSERT_TRUE(reg.OpenKey(key, false));
  QString first;
  EXPECT_TRUE(reg.ReadString("PFMT000", first));
  EXPECT_EQ(first, "    320x240");
  EXPECT_TRUE(reg.ValueExists("SUB003"));
  EXPECT_TRUE(reg.ValueExists("CameraControlValues "));

  auto again = CameraComponent();
  EXPECT_EQ(Discoveries(), 1);
  EXPECT_EQ(again->GetVideoSizesText().split("\r\n"), sizes);
  EXPECT_EQ(again->GetVideoSubtypesText().split("\r\n"), subtypes);
}

TEST_F(FKDevicesTest, TheChosenSizeSubtypeAndRateReachTheDeviceAndItsSamples) {
  auto fk = CameraComponent();
  const int size = static_cast<int>(fk->FormatLists().sizes[sf_PAL].indexOf(" 640x480"));
  ASSERT_GT(size, 0);
  fk->SetVideoSize(size);
  fk->SetVideoSubtype(3);  // YUY2
  fk->SetFrameRate(50.0);
  EXPECT_EQ(fk->GetVideoSizeWidth(), 640);
  auto renderer = BuildAndRender(*fk);
  ASSERT_TRUE(fk->PreviewPin());
  CMediaType connected;
  ASSERT_EQ(fk->PreviewPin()->ConnectionMediaType(&connected), com::S_OK);
  EXPECT_TRUE(connected.subtype == MEDIASUBTYPE_YUY2);
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(connected.pbFormat);
  EXPECT_EQ(vih->bmiHeader.biWidth, 640);
  EXPECT_EQ(vih->bmiHeader.biHeight, 480);
  EXPECT_EQ(vih->AvgTimePerFrame, 200000);
  ASSERT_TRUE(fk->SetGraphState(2, "t"));
  for (int i = 0; i < 500 && renderer->received < 2; ++i) QThread::msleep(10);
  fk->SetGraphState(0, "read");
  EXPECT_GE(renderer->received, 2);
  EXPECT_EQ(renderer->lastFrame.size(), 640u * 480u * 2u);
  EXPECT_EQ(renderer->lastStop - renderer->lastStart, 200000);
  fk->ReadCurrentFrameRate();
  EXPECT_EQ(fk->CurrentFrameRate(), 5000);

  // A rate the camera does not offer keeps the running one.
  fk->SetGraphState(2, "again");
  fk->SetFrameRate(15.0);
  EXPECT_DOUBLE_EQ(fk->GetCurrentFrameRate(), 50.0);
  fk->ClearGraph(true);

  // A size index past the list falls back to the default entry with an error.
  fk->VideoSettings().SetInt("VideoSize", 99);
  fk->SnapshotBuildParameters();
  EXPECT_TRUE(fk->CreateBaseGraph());
  EXPECT_TRUE(ProcessLogLines().filter("VideoSize index out of range, default size used").size() > 0);
  EXPECT_EQ(fk->GetVideoSize(), 0);
  fk->ClearGraph(true);
}

TEST_F(FKDevicesTest, SettingsSurviveARestart) {
  int brightness = 0;
  {
    auto fk = CameraComponent();
    fk->SnapshotBuildParameters();
    ASSERT_TRUE(fk->CreateBaseGraph());
    ComPtr<IAMVideoProcAmp> amp;
    ASSERT_EQ(fk->VideoSourceFilter()->QueryInterface(IID_IAMVideoProcAmp, amp.PutVoid()), com::S_OK);
    ASSERT_EQ(amp->Set(VideoProcAmp_Brightness, 200, VideoProcAmp_Flags_Manual), com::S_OK);
    fk->SetVideoInput(0);  // the tuner
    fk->ClearGraph(true);
    EXPECT_FALSE(fk->VideoSettings().Bool("VideoQualityAuto"));
    EXPECT_EQ(fk->VideoSettings().Record("VideoQualityValues", 0).value, 200);
  }
  auto fk = CameraComponent();
  EXPECT_EQ(Discoveries(), 1);
  EXPECT_EQ(fk->GetVideoInput(), 0);
  fk->SnapshotBuildParameters();
  ASSERT_TRUE(fk->CreateBaseGraph());
  ComPtr<IAMVideoProcAmp> amp;
  ASSERT_EQ(fk->VideoSourceFilter()->QueryInterface(IID_IAMVideoProcAmp, amp.PutVoid()), com::S_OK);
  LONG value = 0, flags = 0;
  amp->Get(VideoProcAmp_Brightness, &value, &flags);
  brightness = value;
  EXPECT_EQ(brightness, 200);
  EXPECT_EQ(flags, VideoProcAmp_Flags_Manual);
  // ...and shows in the pictures: a grabbed frame's background has the level 200.
  ComPtr<IBaseFilter> grabberFilter;
  ASSERT_EQ(com::CoCreateInstance(CLSID_SampleGrabber, nullptr, com::CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                  grabberFilter.PutVoid()),
            com::S_OK);
  ComPtr<ISampleGrabber> grabber;
  ASSERT_EQ(grabberFilter->QueryInterface(IID_ISampleGrabber, grabber.PutVoid()), com::S_OK);
  ASSERT_EQ(grabber->SetBufferSamples(1), com::S_OK);
  auto renderer = dshow::test::MakeFilter<dshow::test::CTestRenderer>([](const CMediaType&) { return true; });
  ASSERT_TRUE(fk->AddFilterToGraph(grabberFilter.Get(), "Grabber"));
  ASSERT_TRUE(fk->AddFilterToGraph(renderer.Get(), "Renderer"));
  const auto grabberPins = PinsOf(grabberFilter.Get());
  ASSERT_EQ(grabberPins.size(), 2u);
  ASSERT_EQ(fk->Graph()->ConnectDirect(fk->PreviewPin(), grabberPins[0].Get(), nullptr), com::S_OK);
  ASSERT_EQ(fk->Graph()->ConnectDirect(grabberPins[1].Get(), renderer->Input(), nullptr), com::S_OK);
  ASSERT_TRUE(fk->TakeGraphControls());
  ASSERT_TRUE(fk->SetGraphState(2, "t"));
  for (int i = 0; i < 500 && renderer->received < 2; ++i) QThread::msleep(10);
  fk->SetGraphState(0, "read");
  CMediaType grabbed;
  ASSERT_EQ(grabber->GetConnectedMediaType(&grabbed), com::S_OK);
  ASSERT_TRUE(grabbed.subtype == MEDIASUBTYPE_RGB24);
  const BITMAPINFOHEADER& header = reinterpret_cast<const VIDEOINFOHEADER*>(grabbed.pbFormat)->bmiHeader;
  LONG bytes = 0;
  ASSERT_EQ(grabber->GetCurrentBuffer(&bytes, nullptr), com::S_OK);
  std::vector<LONG> buffer(static_cast<size_t>(bytes) / sizeof(LONG) + 1);
  ASSERT_EQ(grabber->GetCurrentBuffer(&bytes, buffer.data()), com::S_OK);
  // The picture's bottom row: background but for the moving bar (an eighth of the width).
  const auto* pixels = reinterpret_cast<const uint8_t*>(buffer.data());
  const int width = header.biWidth, height = std::abs(header.biHeight);
  const uint8_t* bottom = pixels + static_cast<size_t>(RgbStride(width, 24)) * (header.biHeight > 0 ? 0 : height - 1);
  int background = 0;
  for (int x = 0; x < width; ++x)
    if (bottom[3 * x] == 200 && bottom[3 * x + 1] == 200 && bottom[3 * x + 2] == 200) ++background;
  EXPECT_GE(background, width * 3 / 4);
  // The crossbar routes the stored tuner input, with its sound.
  IAMCrossbar* crossbar = fk->VideoCrossbar();
  ASSERT_TRUE(crossbar);
  LONG routed = -1;
  crossbar->get_IsRoutedTo(0, &routed);
  EXPECT_EQ(routed, 0);
  crossbar->get_IsRoutedTo(1, &routed);
  EXPECT_EQ(routed, 3);
  fk->ClearGraph(true);
}

TEST_F(FKDevicesTest, WithoutStoringDeviceSettingsTheChoicesKeepTheirDefaults) {
  { CameraComponent(); }
  const QString key = VideoDeviceList()->RegistryKeyOf(CameraIndex());
  {
    registry::TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(key, false));
    reg.WriteInteger("VideoSize", 3);
    reg.WriteBool("_IsDVPal", true);
  }
  auto fk = std::make_unique<TFK>();
  fk->SetStoreDeviceSettingsInRegistry(false);
  fk->SetVideoDevice(CameraIndex());
  EXPECT_EQ(fk->GetVideoSize(), 0);
  EXPECT_TRUE(fk->VideoSettings().Bool("_IsDVPal"));

  // A bad stored index is reset, and a partial restore keeps what it read.
  fk.reset();
  {
    registry::TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(key, false));
    reg.WriteInteger("VideoSize", 3);
    reg.WriteInteger("VideoSubtype", -4);
    reg.DeleteValue("TVMode");
  }
  fk = CameraComponent();
  EXPECT_EQ(fk->GetVideoSize(), 3);
  EXPECT_EQ(fk->GetVideoSubtype(), 0);
  EXPECT_TRUE(fk->VideoSettings().Bool("_IsDVPal"));
}

TEST_F(FKDevicesTest, TheMicrophonesLineInputDeliversItsToneAtTheSetLevel) {
  auto fk = CameraComponent();
  ASSERT_GE(MicrophoneIndex(), 0);
  fk->SetAssociateAudioAndVideoDevices(false);
  fk->SetAudioDevice(MicrophoneIndex());
  EXPECT_EQ(fk->GetAudioInputsText(), "Microphone\r\nLine In\r\n");
  fk->AudioSettings().SetInt("AudioInputLevel", 32767);
  fk->SetAudioInput(1);
  fk->SnapshotBuildParameters();
  ASSERT_TRUE(fk->CreateDeviceGraph());
  ASSERT_TRUE(fk->BindAudioSource());
  EXPECT_EQ(fk->AudioInputName(), "Line In");
  auto renderer = dshow::test::MakeFilter<dshow::test::CTestRenderer>([](const CMediaType&) { return true; });
  ASSERT_TRUE(fk->AddFilterToGraph(renderer.Get(), "Renderer"));
  ASSERT_EQ(fk->Graph()->ConnectDirect(fk->AudioSourcePin(), renderer->Input(), nullptr), com::S_OK);
  ASSERT_TRUE(fk->TakeGraphControls());
  ASSERT_TRUE(fk->SetGraphState(2, "t"));
  for (int i = 0; i < 500 && renderer->received < 2; ++i) QThread::msleep(10);
  fk->SetGraphState(0, "read");  // the renderer's last frame is read with the stream stopped
  ASSERT_GE(renderer->received, 2);
  const auto* wave = reinterpret_cast<const WAVEFORMATEX*>(renderer->lastType.pbFormat);
  ASSERT_EQ(wave->wBitsPerSample, 16);
  const auto* samples = reinterpret_cast<const int16_t*>(renderer->lastFrame.data());
  const size_t frames = renderer->lastFrame.size() / wave->nBlockAlign;
  int peak = 0, crossings = 0;
  for (size_t i = 0; i < frames; ++i) {
    const int s = samples[i * wave->nChannels];
    peak = std::max(peak, std::abs(s));
    if (i > 0 && (samples[(i - 1) * wave->nChannels] < 0) != (s < 0)) ++crossings;
  }
  const double hertz = crossings / 2.0 * wave->nSamplesPerSec / static_cast<double>(frames);
  EXPECT_NEAR(hertz, 880.0, 30.0);
  // Full level is half of full scale; 32,767 of 65,535 is half of that.
  EXPECT_NEAR(peak, 32767 * 0.5 * 32767.0 / 65535.0, 600.0);
  fk->ClearGraph(true);
}

TEST_F(FKDevicesTest, TheTunerTakesAChannelOnARunningGraphAndRefusesOneItCannotTune) {
  auto fk = CameraComponent();
  fk->SetTuneSettleTime(0);
  fk->SetVideoInput(0);
  std::vector<TTVChannelInfo> tuned;
  fk->Events().OnTVChannelSelected = [&](QObject*, TTVChannelInfo& info) { tuned.push_back(info); };
  BuildAndRender(*fk);
  ASSERT_TRUE(fk->SetGraphState(2, "t"));
  ASSERT_TRUE(fk->Tuner());
  ASSERT_TRUE(fk->AnalogVideoDecoder());
  EXPECT_EQ(fk->VideoSettings().Int("TVCountryCode"), 49);

  // Channel 5 of the country's plan: picture at 175.25 MHz, sound 5.5 MHz above it.
  EXPECT_TRUE(fk->SetTVChannel(5, -1));
  ASSERT_EQ(tuned.size(), 1u);
  EXPECT_TRUE(tuned[0].SignalPresent);
  EXPECT_EQ(tuned[0].Channel, 5);
  EXPECT_EQ(tuned[0].OverriddenVideoFrequency, -1);
  EXPECT_EQ(tuned[0].TunerVideoFrequency, 175250000);
  EXPECT_EQ(tuned[0].TunerAudioFrequency, 180750000);
  EXPECT_EQ(tuned[0].DefaultVideoFrequency, 175250000);

  // An override stored for the channel is what the tuner tunes, and it is reported as such.
  const QString overrideKey = TunerFrequencyKey(49 + 99990000, TunerInputCable);
  {
    registry::TRegistry machine(registry::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(machine.OpenKey(overrideKey, true));
    ASSERT_TRUE(machine.WriteInteger("5", 176000000));
  }
  EXPECT_TRUE(fk->SetTVChannel(5, -1));
  ASSERT_EQ(tuned.size(), 2u);
  EXPECT_EQ(tuned[1].OverriddenVideoFrequency, 176000000);
  EXPECT_EQ(tuned[1].TunerVideoFrequency, 176000000);
  EXPECT_EQ(tuned[1].DefaultVideoFrequency, -1);
  LONG space = 0;
  fk->Tuner()->get_TuningSpace(&space);
  EXPECT_EQ(space, 49 + 99990000);
  // Switching overrides off tunes the channel again: the plan's frequency comes back. Setting
  // the same value again tunes nothing.
  fk->SetTVUseFrequencyOverrides(false);
  ASSERT_EQ(tuned.size(), 3u);
  EXPECT_EQ(tuned[2].Channel, 5);
  EXPECT_EQ(tuned[2].OverriddenVideoFrequency, -1);
  EXPECT_EQ(tuned[2].TunerVideoFrequency, 175250000);
  fk->SetTVUseFrequencyOverrides(false);
  EXPECT_EQ(tuned.size(), 3u);

  // Channels the plan does not have are refused: false, a warning, no event, the tuner unmoved.
  for (const int refused : {15, 500}) {
    SCOPED_TRACE(refused);
    EXPECT_FALSE(fk->SetTVChannel(refused, -1));
    EXPECT_EQ(tuned.size(), 3u);
    EXPECT_EQ(ProcessLogLines().filter("TV channel refused: " + QString::number(refused)).size(), 1);
  }
  LONG channel = 0, videoSub = 0, audioSub = 0;
  fk->Tuner()->get_Channel(&channel, &videoSub, &audioSub);
  EXPECT_EQ(channel, 5);

  // A channel without a transmitter: tuned, but the decoder loses its lock, and finds it again
  // when the crossbar switches to another input.
  EXPECT_TRUE(fk->SetTVChannel(30, -1));
  ASSERT_EQ(tuned.size(), 4u);
  EXPECT_FALSE(tuned[3].SignalPresent);
  EXPECT_EQ(tuned[3].TunerVideoFrequency, 543250000);
  LONG locked = -1;
  EXPECT_EQ(fk->AnalogVideoDecoder()->get_HorizontalLocked(&locked), com::S_OK);
  EXPECT_EQ(locked, 0);
  ASSERT_EQ(fk->VideoCrossbar()->Route(0, 1), com::S_OK);
  EXPECT_EQ(fk->AnalogVideoDecoder()->get_HorizontalLocked(&locked), com::S_OK);
  EXPECT_EQ(locked, 1);

  // An input other than the tuner tunes nothing.
  fk->SetVideoInput(1);
  EXPECT_FALSE(fk->SetTVChannel(5, -1));
  EXPECT_EQ(tuned.size(), 4u);
  fk->ClearGraph(true);
}

TEST_F(FKDevicesTest, TheCardsCrossbarGivesOneRoutePerVideoInputAndItsRoutingText) {
  auto fk = CameraComponent();
  fk->SnapshotBuildParameters();
  ASSERT_TRUE(fk->CreateBaseGraph());
  ComPtr<IPin> analogIn;
  ASSERT_EQ(FindPinByName(fk->VideoSourceFilter(), PINDIR_INPUT, "Analog Video In", analogIn, false, false), com::S_OK);
  TCrossbarTree tree(analogIn.Get());
  ASSERT_EQ(tree.Routes().size(), 3u);  // audio inputs start no route
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(tree.Routes()[i]->depth, 0);
    EXPECT_EQ(tree.Routes()[i]->inputIndex, static_cast<long>(i));
  }
  EXPECT_EQ(tree.Routes()[0]->relatedInput, 3);
  EXPECT_EQ(tree.Routes()[0]->relatedOutput, 1);
  EXPECT_TRUE(tree.Routes()[0]->crossbar);
  EXPECT_EQ(tree.RouteTo(0), com::S_OK);  // the tuner with its sound
  IAMCrossbar* crossbar = fk->VideoCrossbar();
  EXPECT_EQ(RoutingToText(crossbar), "2!0!3!");
  EXPECT_FALSE(RoutingFromText(crossbar, "3!1!4!0!"));
  EXPECT_FALSE(RoutingFromText(crossbar, "2!x!4!"));
  EXPECT_TRUE(RoutingFromText(crossbar, "2!1!4!"));
  EXPECT_EQ(RoutingToText(crossbar), "2!1!4!");
  tree.RouteCurrentInput(crossbar);
  EXPECT_EQ(tree.CurrentRoute(), 1);
  EXPECT_EQ(tree.RouteTo(7), com::E_FAIL);

  // The camera's capture pin has no crossbar before it.
  TCrossbarTree none(fk->PreviewPin());
  EXPECT_TRUE(none.Routes().empty());
  EXPECT_EQ(none.RouteTo(0), com::E_FAIL);
  fk->ClearGraph(true);
}

TEST_F(FKDevicesTest, ARoutingChosenOnTheCrossbarIsPutBackAtTheNextStartWhileItsInputStaysSelected) {
  {
    auto fk = CameraComponent();
    fk->SetVideoInput(1);  // composite, whose own sound is the line input
    fk->SnapshotBuildParameters();
    ASSERT_TRUE(fk->CreateBaseGraph());
    ASSERT_TRUE(fk->VideoCrossbar());
    EXPECT_EQ(RoutingToText(fk->VideoCrossbar()), "2!1!4!");
    // The coach gives the composite picture the tuner's sound, as on the crossbar's page.
    ASSERT_EQ(fk->VideoCrossbar()->Route(1, 3), com::S_OK);
    fk->ClearGraph(true);
  }
  const struct {
    const char* name;
    int input;  // selected before the build
    const char* routing;
  } cases[] = {
      {"the same input", 1, "2!1!3!"},
      {"another input, with its own sound", 2, "2!2!4!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto fk = CameraComponent();
    fk->SetVideoInput(c.input);
    fk->SnapshotBuildParameters();
    ASSERT_TRUE(fk->CreateBaseGraph());
    EXPECT_EQ(RoutingToText(fk->VideoCrossbar()), QString::fromLatin1(c.routing));
    EXPECT_EQ(fk->GetVideoInput(), c.input);
  }
}

TEST_F(FKDevicesTest, EachCameraBringsBackItsOwnMicrophoneAndEachDeviceIsDiscoveredOnce) {
  dshow::test::FixtureDevices fixtures;
  fixtures.AddSecondCameraAndMicrophone();
  auto fk = std::make_unique<TFK>();
  QStringList selected;  // the events in order, with the device current at each
  fk->Events().OnVideoDeviceSelected = [&](QObject*) { selected << "video " + fk->GetVideoDeviceName(); };
  fk->Events().OnAudioDeviceSelected = [&](QObject*) {
    selected << "audio " + AudioDeviceList()->Name(fk->GetAudioDevice());
  };
  const int cameraA = CameraIndex();
  const int cameraB = VideoDeviceList()->IndexOfName(QString::fromUtf16(dshow::test::kSecondCameraName) + " (WDM)");
  const int micA = MicrophoneIndex(), micB = AudioIndex(dshow::test::kSecondMicrophoneName);
  ASSERT_GE(cameraA, 0);
  ASSERT_GE(cameraB, 0);
  ASSERT_GE(micA, 0);
  ASSERT_GE(micB, 0);
  const QString nameA = AudioDeviceList()->Name(micA), nameB = AudioDeviceList()->Name(micB);

  // Camera A with microphone A; camera B then takes microphone B, which it keeps as its own.
  fk->SetAudioDevice(micA);
  fk->SetVideoDevice(cameraA);
  EXPECT_EQ(fk->VideoSettings().Text("_AudioDeviceAssociated"), nameA);
  fk->SetVideoDevice(cameraB);
  fk->SetAudioDevice(micB);
  EXPECT_EQ(fk->VideoSettings().Text("_AudioDeviceAssociated"), nameB);
  EXPECT_EQ(Discoveries(), 2);
  // The second microphone is discovered for itself and lists its own inputs.
  EXPECT_EQ(AudioDiscoveries(dshow::test::kSecondMicrophoneName), 1);
  EXPECT_TRUE(fk->AudioSettings().Bool("_DeviceDiscovered"));
  EXPECT_EQ(fk->GetAudioInputsText(), "Microphone\r\nLine In\r\n");

  // Back to camera A: its microphone comes back with it, then B's with B; nothing is discovered again.
  selected.clear();
  fk->SetVideoDevice(cameraA);
  EXPECT_EQ(fk->GetAudioDevice(), micA);
  fk->SetVideoDevice(cameraB);
  EXPECT_EQ(fk->GetAudioDevice(), micB);
  EXPECT_EQ(selected, QStringList({"video " + VideoDeviceList()->Name(cameraA), "audio " + nameA,
                                   "video " + VideoDeviceList()->Name(cameraB), "audio " + nameB}));
  EXPECT_EQ(Discoveries(), 2);
  EXPECT_EQ(AudioDiscoveries(dshow::test::kSecondMicrophoneName), 1);
  EXPECT_EQ(AudioDiscoveries(kTestMicrophoneName), 1);

  // The association is stored: a new component on camera B starts on microphone B.
  fk.reset();
  auto again = std::make_unique<TFK>();
  again->SetAudioDevice(micA);
  again->SetVideoDevice(cameraB);
  EXPECT_EQ(again->GetAudioDevice(), micB);

  // With the association off, a camera change leaves the microphone alone.
  again->SetAssociateAudioAndVideoDevices(false);
  again->SetVideoDevice(cameraA);
  EXPECT_EQ(again->GetAudioDevice(), micB);
}

TEST_F(FKDevicesTest, TwoChainedCrossbarsGiveTwoNodeRoutesListedTogether) {
  auto fk = CameraComponent();
  fk->SnapshotBuildParameters();
  ASSERT_TRUE(fk->CreateBaseGraph());
  ComPtr<IPin> analogIn, cardOut;
  ASSERT_EQ(FindPinByName(fk->VideoSourceFilter(), PINDIR_INPUT, "Analog Video In", analogIn, false, false), com::S_OK);
  ASSERT_EQ(analogIn->ConnectedTo(cardOut.Put()), com::S_OK);
  // A switch box between the card's crossbar and the camera: the card's video on its first input,
  // a front socket of its own, and two audio inputs that start no route.
  const REGPINMEDIUM wire{KESTROM_TEST_CARD_MEDIUM, 0, 0};
  auto box = dshow::test::MakeFilter<dshow::test::CTableCrossbar>(
      std::vector<dshow::test::CrossbarPinRow>{{u"0: Video From Card", PhysConn_Video_Composite, 2, wire},
                                               {u"1: Video Front In", PhysConn_Video_SVideo, 3},
                                               {u"2: Audio From Card", PhysConn_Audio_Line, 0},
                                               {u"3: Audio Front In", PhysConn_Audio_Line, 1}},
      std::vector<dshow::test::CrossbarPinRow>{{u"0: Video Out", PhysConn_Video_VideoDecoder, 1, wire},
                                               {u"1: Audio Out", PhysConn_Audio_AudioDecoder, 0}});
  ASSERT_TRUE(fk->AddFilterToGraph(box.Get(), "Switch Box"));
  ASSERT_EQ(fk->Graph()->Disconnect(analogIn.Get()), com::S_OK);
  ASSERT_EQ(fk->Graph()->Disconnect(cardOut.Get()), com::S_OK);
  ASSERT_EQ(fk->Graph()->ConnectDirect(cardOut.Get(), box->Input(0), nullptr), com::S_OK);
  ASSERT_EQ(fk->Graph()->ConnectDirect(box->Output(0), analogIn.Get(), nullptr), com::S_OK);

  // The card's three video inputs through the box, each as two nodes from the card's crossbar
  // down to the box, then the box's own socket as one node.
  TCrossbarTree tree(analogIn.Get());
  struct Node {
    int depth;
    long input;
    bool card;
  };
  const Node expected[] = {{1, 0, true}, {0, 0, false}, {1, 1, true}, {0, 0, false},
                           {1, 2, true}, {0, 0, false}, {0, 1, false}};
  ComPtr<IAMCrossbar> boxCrossbar;
  ASSERT_EQ(box->QueryInterface(IID_IAMCrossbar, boxCrossbar.PutVoid()), com::S_OK);
  ASSERT_EQ(tree.Routes().size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(tree.Routes()[i]->depth, expected[i].depth);
    EXPECT_EQ(tree.Routes()[i]->inputIndex, expected[i].input);
    EXPECT_EQ(tree.Routes()[i]->crossbar.Get() == boxCrossbar.Get(), !expected[i].card);
  }

  // Routing the card's tuner sets both crossbars, video and its related audio.
  IAMCrossbar* card = fk->VideoCrossbar();
  ASSERT_TRUE(card);
  EXPECT_EQ(tree.RouteTo(0), com::S_OK);
  EXPECT_EQ(RoutingToText(card), "2!0!3!");
  EXPECT_EQ(RoutingToText(boxCrossbar.Get()), "2!0!2!");
  // The front socket switches the box alone.
  EXPECT_EQ(tree.RouteTo(6), com::S_OK);
  EXPECT_EQ(RoutingToText(boxCrossbar.Get()), "2!1!3!");
  EXPECT_EQ(RoutingToText(card), "2!0!3!");
  fk->ClearGraph(true);
}

TEST_F(FKDevicesTest, ADvCamcorderUsesItsInterleavedPinUnlessTheSoundIsNotWantedAndFramesAreReduced) {
  dshow::test::FixtureDevices fixtures;
  fixtures.AddDvCamcorder();
  QObject visible;  // a component placed on a form
  // The chosen pin streams through the DV-data grabber, which reads the recording date.
  const QString interleaved = "GRB_DvData/XForm Out on device/" + QString::fromUtf16(dshow::test::kDvInterleavedPinName);
  const QString dvVideo = "GRB_DvData/XForm Out on device/" + QString::fromUtf16(dshow::test::kDvVideoPinName);
  const auto previewPlace = [](TFK& fk) {
    QString place = PinPlace(fk.PreviewPin(), fk.VideoSourceFilter());
    PIN_INFO info{};
    ComPtr<IPin> input, feeding;
    if (!place.startsWith("GRB_DvData/") || com::FAILED(fk.PreviewPin()->QueryPinInfo(&info))) return place;
    ComPtr<IBaseFilter> grabber = ComPtr<IBaseFilter>::Attach(info.pFilter);
    if (com::SUCCEEDED(FindPinByName(grabber.Get(), PINDIR_INPUT, QString(), input, false, true)) &&
        com::SUCCEEDED(input->ConnectedTo(feeding.Put())))
      place += " on " + PinPlace(feeding.Get(), fk.VideoSourceFilter());
    return place;
  };
  struct Case {
    const char* name;
    bool recording, rendering, reduce, onForm;
    QString preview;
    bool splitter;
  };
  const Case cases[] = {
      {"no sound", false, false, false, true, interleaved, false},
      {"sound recorded", true, false, false, true, "DV Splitter/DVVidOut0", true},
      {"sound rendered", false, true, false, true, "DV Splitter/DVVidOut0", true},
      {"frames reduced", false, false, true, true, dvVideo, false},
      {"frames reduced off a form", false, false, true, false, interleaved, false},
      {"frames reduced with sound", true, false, true, true, "DV Splitter/DVVidOut0", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TFK::Host host;
    host.sender = c.onForm ? &visible : nullptr;
    TFK fk(host);
    fk.SetAudioRecording(c.recording);
    fk.SetDVReduceFrameRate(c.reduce);
    const int index = VideoDeviceList()->IndexOfName(QString::fromUtf16(dshow::test::kDvCamcorderName) + " (WDM)");
    ASSERT_GE(index, 0);
    fk.SetVideoDevice(index);
    EXPECT_TRUE(fk.VideoSettings().Bool("_DeviceDiscovered"));
    EXPECT_TRUE(fk.IsDVSource());
    fk.SetAudioDeviceRendering(c.rendering);
    fk.SnapshotBuildParameters();
    ASSERT_TRUE(fk.CreateBaseGraph());
    EXPECT_EQ(previewPlace(fk), c.preview);
    // The sound comes from the splitter's audio output, and only when it is wanted.
    EXPECT_EQ(PinPlace(fk.AudioSourcePin(), fk.VideoSourceFilter()), c.splitter ? "DV Splitter/AudOut00" : QString());
    const auto names = dshow::test::FilterNames(fk.Graph());
    EXPECT_EQ(std::count_if(names.begin(), names.end(), [](const std::u16string& n) { return n.starts_with(u"DV Splitter"); }),
              c.splitter ? 1 : 0);
    fk.ClearGraph(true);
  }
}

TEST_F(FKDevicesTest, TheDvSizeListSetsTheDecodersOutputSize) {
  dshow::test::FixtureDevices fixtures;
  fixtures.AddDvCamcorder();
  TFK fk;
  fk.SetAudioRecording(false);
  fk.SetVideoDevice(VideoDeviceList()->IndexOfName(QString::fromUtf16(dshow::test::kDvCamcorderName) + " (WDM)"));
  EXPECT_EQ(fk.GetVideoSizesText(), "default\r\ndc\r\nquarter\r\nhalf\r\nfull\r\n");
  fk.SnapshotBuildParameters();
  ASSERT_TRUE(fk.CreateBaseGraph());
  HRESULT hr = com::S_OK;
  com::CUnknown* made = dshow::CreateDvDecoder(nullptr, &hr);
  ASSERT_TRUE(made);
  made->NonDelegatingAddRef();
  ComPtr<IBaseFilter> decoder;
  made->NonDelegatingQueryInterface(IID_IBaseFilter, decoder.PutVoid());
  made->NonDelegatingRelease();
  ASSERT_TRUE(fk.AddFilterToGraph(decoder.Get(), "DV Video Decoder"));
  const auto pins = PinsOf(decoder.Get());
  ASSERT_EQ(pins.size(), 2u);
  ASSERT_EQ(fk.Graph()->ConnectDirect(fk.PreviewPin(), pins[0].Get(), nullptr), com::S_OK);
  struct Size {
    LONG width, height;
  };
  const Size pal[] = {{360, 288}, {88, 72}, {180, 144}, {360, 288}, {720, 576}};
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    fk.SetVideoSize(i);
    fk.SetDVResolution(decoder.Get());
    CMediaType out;
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(pins[1]->EnumMediaTypes(types.Put()), com::S_OK);
    AM_MEDIA_TYPE* first = nullptr;
    ULONG n = 0;
    ASSERT_EQ(types->Next(1, &first, &n), com::S_OK);
    out = *first;
    DeleteMediaType(first);
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(out.pbFormat);
    EXPECT_EQ(vih->bmiHeader.biWidth, pal[i].width);
    EXPECT_EQ(std::abs(vih->bmiHeader.biHeight), pal[i].height);
  }
  fk.ClearGraph(true);
}

TEST_F(FKDevicesTest, AProgramStreamDeviceGetsTheDemultiplexerWithItsStreamsMapped) {
  dshow::test::FixtureDevices fixtures;
  fixtures.AddProgramStreamDevice();
  // The first unconnected output's type, and the stream ids mapped to it.
  auto typeAndIds = [](IPin* pin, CMediaType& type, std::vector<ULONG>& ids) {
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(pin->EnumMediaTypes(types.Put()), com::S_OK);
    AM_MEDIA_TYPE* first = nullptr;
    ULONG n = 0;
    ASSERT_EQ(types->Next(1, &first, &n), com::S_OK);
    type = *first;
    DeleteMediaType(first);
    ComPtr<IMPEG2StreamIdMap> map;
    ASSERT_EQ(pin->QueryInterface(IID_IMPEG2StreamIdMap, map.PutVoid()), com::S_OK);
    ComPtr<IEnumStreamIdMap> maps;
    ASSERT_EQ(map->EnumStreamIdMap(maps.Put()), com::S_OK);
    STREAM_ID_MAP m{};
    while (maps->Next(1, &m, &n) == com::S_OK && n == 1) {
      EXPECT_EQ(m.dwMediaSampleContent, static_cast<DWORD>(MPEG2_PROGRAM_ELEMENTARY_STREAM));
      ids.push_back(m.stream_id);
    }
  };
  for (const bool sound : {true, false}) {
    SCOPED_TRACE(sound ? "with sound" : "without sound");
    TFK fk;
    fk.SetAudioRecording(sound);
    const int index =
        VideoDeviceList()->IndexOfName(QString::fromUtf16(dshow::test::kProgramStreamDeviceName) + " (WDM)");
    ASSERT_GE(index, 0);
    fk.SetVideoDevice(index);
    EXPECT_TRUE(fk.VideoSettings().Bool("_DeviceDiscovered"));
    EXPECT_TRUE(fk.VideoSettings().Bool("_IsMpegStream"));
    EXPECT_EQ(fk.FormatLists().subtypes.value(1), com::GuidToString(MEDIASUBTYPE_MPEG2_VIDEO));
    // Without analog standards the encoder still lists the sizes it streams.
    EXPECT_EQ(fk.GetVideoSizesText().split("\r\n").value(6), "704x480");
    fk.SnapshotBuildParameters();
    ASSERT_TRUE(fk.CreateBaseGraph());
    EXPECT_TRUE(fk.IsMpegSource());
    EXPECT_EQ(PinPlace(fk.PreviewPin(), fk.VideoSourceFilter()), "MPEG-2 Demultiplexer/Video Out");
    ASSERT_TRUE(fk.PreviewPin());
    CMediaType video;
    std::vector<ULONG> videoIds;
    typeAndIds(fk.PreviewPin(), video, videoIds);
    EXPECT_EQ(videoIds, std::vector<ULONG>{0xE0});
    EXPECT_TRUE(video.majortype == MEDIATYPE_Video && video.subtype == MEDIASUBTYPE_MPEG2_VIDEO);
    EXPECT_EQ(video.cbFormat, 136u);
    if (sound) {
      EXPECT_EQ(PinPlace(fk.AudioSourcePin(), fk.VideoSourceFilter()), "MPEG-2 Demultiplexer/Audio Out");
      ASSERT_TRUE(fk.AudioSourcePin());
      CMediaType audio;
      std::vector<ULONG> audioIds;
      typeAndIds(fk.AudioSourcePin(), audio, audioIds);
      EXPECT_EQ(audioIds, std::vector<ULONG>{0xC0});
      EXPECT_EQ(audio.cbFormat, 40u);
      const auto* wave = reinterpret_cast<const WAVEFORMATEX*>(audio.pbFormat);
      EXPECT_EQ(wave->wFormatTag, 0x50);
      EXPECT_EQ(wave->nChannels, 2);
      EXPECT_EQ(wave->nSamplesPerSec, 48000u);
    } else {
      EXPECT_FALSE(fk.AudioSourcePin());  // the demultiplexer's sound is not taken
    }
    fk.ClearGraph(true);
  }
}

}  // namespace kestrom::engine::test
