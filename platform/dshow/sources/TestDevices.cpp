#include "platform/dshow/sources/TestDevices.h"

#include "platform/dshow/base/FilterGraph.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/base/PropertyPages.h"
#include "platform/dshow/sources/AnalogPins.h"
#include "platform/dshow/sources/CapturePin.h"
#include "platform/dshow/sources/CaptureState.h"
#include "platform/dshow/sources/ControlTable.h"
#include "platform/dshow/sources/DeviceFilter.h"
#include "platform/dshow/sources/MixerLinePin.h"
#include "platform/dshow/sources/TestPattern.h"
#include "platform/dshow/sources/V4l2Tuner.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace kestrom::dshow {

using namespace com;
using namespace std::chrono_literals;

namespace {

bool EnvIsZero(const char* name) {
  const char* value = std::getenv(name);
  return value && std::strcmp(value, "0") == 0;
}

std::atomic<bool>& LiveFlag() {
  static std::atomic<bool> live{!EnvIsZero("KESTROM_TEST_DEVICES_LIVE")};
  return live;
}

std::atomic<bool> g_cameraPlugged{true};
std::atomic<long> g_cameraDropped{0};

// Media of the test card's links: tuner video to crossbar, tuner audio to crossbar, crossbar to camera.
constexpr REGPINMEDIUM kCameraLink{KESTROM_TEST_CARD_MEDIUM, 0, 0};
constexpr REGPINMEDIUM kTunerVideoLink{KESTROM_TEST_CARD_MEDIUM, 1, 0};
constexpr REGPINMEDIUM kTunerAudioLink{KESTROM_TEST_CARD_MEDIUM, 2, 0};

/** @brief Pictures a capture driver keeps queued while the graph is late to take them. */
constexpr REFERENCE_TIME kQueuedFrames = 10;

// Waits one live block (or frame) slot: returns the stream time the block starts at, or -1 when
// the block is not to be delivered (not running, stopping). Counts skipped slots in *late.
struct LivePacer {
  REFERENCE_TIME next = 0;
  bool rebase = true;
};

// ---------------------------------------------------------------- test camera

class CTestCamera;

// Whether the picture at an analog input comes from a tuner on a channel without signal: the
// wire is followed up through the crossbars' routes (each output to the input routed to it).
bool TunerWithoutSignal(IPin* input) {
  ComPtr<IPin> at(input);
  for (int hops = 0; hops < 8 && at; ++hops) {
    ComPtr<IPin> upstream;
    if (FAILED(at->ConnectedTo(upstream.Put()))) return false;
    PIN_INFO info{};
    if (FAILED(upstream->QueryPinInfo(&info)) || !info.pFilter) return false;
    ComPtr<IBaseFilter> filter = ComPtr<IBaseFilter>::Attach(info.pFilter);
    ComPtr<IAMTuner> tuner;
    if (SUCCEEDED(filter->QueryInterface(IID_IAMTuner, tuner.PutVoid()))) {
      LONG signal = 0;
      return SUCCEEDED(tuner->SignalPresent(&signal)) && signal == AMTUNER_NOSIGNAL;
    }
    ComPtr<IAMCrossbar> crossbar;
    if (FAILED(filter->QueryInterface(IID_IAMCrossbar, crossbar.PutVoid()))) return false;
    // Crossbar pins are numbered among the pins of their direction.
    const auto outputs = FilterPins(filter.Get(), PINDIR_OUTPUT, false);
    const auto output = std::find_if(outputs.begin(), outputs.end(), [&](const ComPtr<IPin>& p) { return p.Get() == upstream.Get(); });
    LONG routed = -1;
    if (output == outputs.end() || FAILED(crossbar->get_IsRoutedTo(static_cast<LONG>(output - outputs.begin()), &routed)))
      return false;
    const auto inputs = FilterPins(filter.Get(), PINDIR_INPUT, false);
    if (routed < 0 || routed >= static_cast<LONG>(inputs.size())) return false;
    at = inputs[static_cast<size_t>(routed)];
  }
  return false;
}

// The test card's decoder: NTSC M, PAL B and SECAM B; the picture is locked unless the crossbar
// routes the tuner while it is on a channel without signal.
class CTestDecoder final : public IAMAnalogVideoDecoder {
 public:
  CTestDecoder(IUnknown* owner, IPin* analogIn) : owner_(owner), analogIn_(analogIn) {}
  HRESULT QueryInterface(REFIID iid, void** object) override { return owner_->QueryInterface(iid, object); }
  ULONG AddRef() override { return owner_->AddRef(); }
  ULONG Release() override { return owner_->Release(); }

  static constexpr LONG kStandards = AnalogVideo_NTSC_M | AnalogVideo_PAL_B | AnalogVideo_SECAM_B;
  HRESULT get_AvailableTVFormats(LONG* standards) override { return Out(standards, kStandards); }
  HRESULT put_TVFormat(LONG standard) override {
    if (standard == 0 || (standard & ~kStandards) != 0 || (standard & (standard - 1)) != 0) return E_INVALIDARG;
    standard_ = standard;
    return S_OK;
  }
  HRESULT get_TVFormat(LONG* standard) override { return Out(standard, standard_); }
  HRESULT get_HorizontalLocked(LONG* locked) override { return Out(locked, TunerWithoutSignal(analogIn_) ? 0 : 1); }
  HRESULT put_VCRHorizontalLocking(LONG locking) override {
    vcrLocking_ = locking != 0;
    return S_OK;
  }
  HRESULT get_VCRHorizontalLocking(LONG* locking) override { return Out(locking, vcrLocking_ ? 1 : 0); }
  HRESULT get_NumberOfLines(LONG* lines) override { return Out(lines, standard_ == AnalogVideo_NTSC_M ? 525 : 625); }
  HRESULT put_OutputEnable(LONG enable) override {
    outputEnable_ = enable != 0;
    return S_OK;
  }
  HRESULT get_OutputEnable(LONG* enable) override { return Out(enable, outputEnable_ ? 1 : 0); }

 private:
  static HRESULT Out(LONG* target, LONG value) {
    if (!target) return E_POINTER;
    *target = value;
    return S_OK;
  }
  IUnknown* owner_;
  IPin* analogIn_;  // the camera's own pin
  std::atomic<LONG> standard_{AnalogVideo_PAL_B};
  std::atomic<bool> vcrLocking_{false}, outputEnable_{true};
};

class CTestCameraPin final : public CVideoCapturePin {
 public:
  CTestCameraPin(CTestCamera* camera, std::recursive_mutex* lock);

 protected:
  HRESULT OnThreadStart() override;
  void OnThreadStop() override;
  HRESULT FillBuffer(IMediaSample* sample) override;

 private:
  CTestCamera* camera_;
  bool live_ = true;
  LONG frame_ = 0;
  LONG runStart_ = 0;  // the number of the run's first picture
  LivePacer pacer_;
  REFERENCE_TIME queued_ = 0;  // pictures still queued behind the last one delivered
};

class CTestCamera final : public CDeviceFilter {
 public:
  explicit CTestCamera(IUnknown* outer);
  ~CTestCamera() override;

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

  int GetPinCount() override { return 2; }
  CBasePin* GetPin(int n) override {
    if (n == 0) return &capture_;
    if (n == 1) return &analogIn_;
    return nullptr;
  }

  bool IsLiveSource() const override { return TestDevicesLive(); }
  int Brightness() const { return static_cast<int>(procAmp_.Value(VideoProcAmp_Brightness)); }
  void PostDeviceLost(bool lost) {
    NotifyEvent(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(GetOwner()), lost ? 0 : 1);
  }

 private:
  CTestCameraPin capture_;
  CAnalogInputPin analogIn_;
  ControlTable procAmp_{10};
  ControlTable camera_{7};
  TControlInterface<IAMVideoProcAmp> procAmpItf_{GetOwner(), &procAmp_};
  TControlInterface<IAMCameraControl> cameraItf_{GetOwner(), &camera_};
  CTestDecoder decoder_{GetOwner(), &analogIn_};
  CCaptureFilterPersist persist_{GetOwner(), CLSID_KestromTestCamera, &capture_, &procAmp_, &camera_};
  CSpecifyPropertyPages pages_{GetOwner(),
                               {{&IID_IAMVideoProcAmp, &CLSID_VideoProcAmpPage},
                                {&IID_IAMCameraControl, &CLSID_CameraControlPage},
                                {&IID_IAMAnalogVideoDecoder, &CLSID_VideoDecoderPage}}};
};

std::recursive_mutex g_camerasLock;
std::vector<CTestCamera*> g_cameras;

std::vector<VideoCapability> TestCameraCapabilities() {
  std::vector<REFERENCE_TIME> intervals;
  for (double rate : kTestCameraRates) intervals.push_back(IntervalOfRate(rate));
  std::sort(intervals.begin(), intervals.end());
  std::vector<VideoCapability> caps;
  const struct {
    GUID subtype;
    DWORD compression;
    WORD bits;
  } kinds[] = {{MEDIASUBTYPE_RGB24, BI_RGB, 24}, {MEDIASUBTYPE_RGB32, BI_RGB, 32}, {MEDIASUBTYPE_YUY2, MEDIASUBTYPE_YUY2.Data1, 16}};
  for (const auto& kind : kinds)
    for (const TestCameraMode& size : kTestCameraSizes)
      caps.push_back({kind.subtype, kind.compression, kind.bits, size.width, size.height, intervals});
  return caps;
}

CTestCameraPin::CTestCameraPin(CTestCamera* camera, std::recursive_mutex* lock)
    : CVideoCapturePin("test camera pin", camera, lock, u"Capture", PIN_CATEGORY_CAPTURE), camera_(camera) {
  // 320x240 RGB24 at 25 frames per second unless the caller chooses otherwise.
  SetCapabilities(TestCameraCapabilities(), 1, IntervalOfRate(25.0));
}

HRESULT CTestCameraPin::OnThreadStart() {
  live_ = TestDevicesLive();
  // The pictures go on counting across stops, as a camera's scene goes on; a run's times start at 0.
  runStart_ = frame_;
  pacer_ = {};
  queued_ = 0;
  ResetCounts();
  return S_OK;
}

void CTestCameraPin::OnThreadStop() {
  // A stop discards the pictures still queued, as a driver's queue is: they are dropped frames.
  for (REFERENCE_TIME i = 0; i < queued_; ++i) CountDropped(frame_++);
  g_cameraDropped += static_cast<long>(queued_);
  queued_ = 0;
}

HRESULT CTestCameraPin::FillBuffer(IMediaSample* sample) {
  if (!TestCameraPlugged()) {
    pacer_.rebase = true;
    WaitUnlessStopped(10ms);
    return VFW_S_NO_MORE_ITEMS;
  }
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt_.pbFormat);
  const REFERENCE_TIME interval = vih->AvgTimePerFrame > 0 ? vih->AvgTimePerFrame : IntervalOfRate(25.0);
  REFERENCE_TIME start = 0;
  if (live_) {
    // A live camera delivers only while the graph runs, one picture per frame slot.
    if (camera_->State() != State_Running) {
      pacer_.rebase = true;
      WaitUnlessStopped(5ms);
      return VFW_S_NO_MORE_ITEMS;
    }
    REFERENCE_TIME now = camera_->StreamTime();
    if (pacer_.rebase) {
      pacer_.next = now;
      pacer_.rebase = false;
    }
    if (now < pacer_.next) {
      if (!WaitUnlessStopped(std::chrono::nanoseconds((pacer_.next - now) * 100))) return VFW_S_NO_MORE_ITEMS;
      now = std::max(camera_->StreamTime(), pacer_.next);
    }
    // As a capture driver does, the camera keeps the pictures of a few slots while the graph holds
    // its thread up (a writer opening its file, a compressor starting on its first picture): they
    // come late, one after another, with their own times. Only slots past that queue are dropped
    // frames, their numbers skipped.
    const REFERENCE_TIME behind = (now - pacer_.next) / interval;
    if (behind > kQueuedFrames) {
      const REFERENCE_TIME late = behind - kQueuedFrames;
      for (REFERENCE_TIME i = 0; i < late; ++i) CountDropped(frame_++);
      g_cameraDropped += static_cast<long>(late);
      pacer_.next += late * interval;
    }
    queued_ = std::min(behind, kQueuedFrames);
    // Stamped with its slot, the moment the picture was taken, not the moment this thread got to
    // it: a thread woken late under load must not move the picture into the next frame time of
    // a recording (an empty frame there and every later picture one frame late against the sound).
    start = pacer_.next;
    pacer_.next += interval;
  } else {
    start = REFERENCE_TIME{frame_ - runStart_} * interval;
  }
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  const size_t size = static_cast<size_t>(sample->GetSize());
  if (!PaintTestFrame(data, size, mt_.subtype, vih->bmiHeader, frame_, camera_->Brightness())) return E_UNEXPECTED;
  const LONG length = static_cast<LONG>(TestFrameSize(mt_.subtype, vih->bmiHeader.biWidth, vih->bmiHeader.biHeight));
  REFERENCE_TIME stop = start + interval;
  LONGLONG mediaStart = frame_, mediaStop = LONGLONG{frame_} + 1;
  sample->SetActualDataLength(length);
  sample->SetTime(&start, &stop);
  sample->SetMediaTime(&mediaStart, &mediaStop);
  sample->SetSyncPoint(1);
  ++frame_;
  CountDelivered(length);
  return S_OK;
}

CTestCamera::CTestCamera(IUnknown* outer)
    : CDeviceFilter("test camera", outer, CLSID_KestromTestCamera),
      capture_(this, &filterLock_),
      analogIn_(this, &filterLock_, u"Analog Video In", MEDIATYPE_AnalogVideo, kCameraLink, PIN_CATEGORY_ANALOGVIDEOIN) {
  constexpr LONG kAuto = VideoProcAmp_Flags_Auto, kManual = VideoProcAmp_Flags_Manual;
  procAmp_.Define(VideoProcAmp_Brightness, 0, 255, 1, 128, kAuto | kManual);
  procAmp_.Define(VideoProcAmp_Contrast, 0, 255, 1, 128, kManual);
  procAmp_.Define(VideoProcAmp_Hue, -180, 180, 1, 0, kManual);
  procAmp_.Define(VideoProcAmp_Saturation, 0, 200, 1, 100, kManual);
  procAmp_.Define(VideoProcAmp_Sharpness, 0, 10, 1, 5, kManual);
  procAmp_.Define(VideoProcAmp_Gamma, 100, 300, 1, 100, kManual);
  procAmp_.Define(VideoProcAmp_ColorEnable, 0, 1, 1, 1, kManual);
  procAmp_.Define(VideoProcAmp_WhiteBalance, 2800, 6500, 100, 4600, kAuto | kManual);
  procAmp_.Define(VideoProcAmp_BacklightCompensation, 0, 1, 1, 0, kManual);
  procAmp_.Define(VideoProcAmp_Gain, 0, 100, 1, 0, kAuto | kManual);
  // A fixed camera on a stand: no roll and no iris.
  camera_.Define(CameraControl_Pan, -180, 180, 1, 0, kManual);
  camera_.Define(CameraControl_Tilt, -180, 180, 1, 0, kManual);
  camera_.Define(CameraControl_Zoom, 10, 600, 10, 10, kManual);
  camera_.Define(CameraControl_Exposure, -13, -1, 1, -6, kAuto | kManual);
  camera_.Define(CameraControl_Focus, 0, 255, 5, 0, kAuto | kManual);
  std::lock_guard lock(g_camerasLock);
  g_cameras.push_back(this);
}

CTestCamera::~CTestCamera() {
  Stop();
  std::lock_guard lock(g_camerasLock);
  std::erase(g_cameras, this);
}

HRESULT CTestCamera::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IAMVideoProcAmp) return GetInterface(&procAmpItf_, object);
  if (iid == IID_IAMCameraControl) return GetInterface(&cameraItf_, object);
  if (iid == IID_IAMAnalogVideoDecoder) return GetInterface(static_cast<IAMAnalogVideoDecoder*>(&decoder_), object);
  if (iid == IID_IAMDroppedFrames) return GetInterface(static_cast<IAMDroppedFrames*>(&capture_), object);
  if (iid == IID_IPersistStream) return GetInterface(&persist_, object);
  if (iid == IID_ISpecifyPropertyPages) return GetInterface(&pages_, object);
  return CDeviceFilter::NonDelegatingQueryInterface(iid, object);
}

// ---------------------------------------------------------------- crossbar

struct CrossbarPinInfo {
  const char16_t* name;
  LONG type;
  LONG related;
};

// Inputs first, then outputs: a crossbar's pin index is its place among the pins of its direction.
constexpr CrossbarPinInfo kCrossbarInputs[] = {{u"0: Video Tuner In", PhysConn_Video_Tuner, 3},
                                               {u"1: Video Composite In", PhysConn_Video_Composite, 4},
                                               {u"2: Video SVideo In", PhysConn_Video_SVideo, 4},
                                               {u"3: Audio Tuner In", PhysConn_Audio_Tuner, 0},
                                               {u"4: Audio Line In", PhysConn_Audio_Line, 1}};
constexpr CrossbarPinInfo kCrossbarOutputs[] = {{u"0: Video Decoder Out", PhysConn_Video_VideoDecoder, 1},
                                                {u"1: Audio Decoder Out", PhysConn_Audio_AudioDecoder, 0}};
constexpr LONG kCrossbarInputCount = 5;
constexpr LONG kCrossbarOutputCount = 2;

bool IsAudioConnector(LONG type) { return type >= 0x1000; }

class CTestCrossbar final : public CDeviceFilter, public IAMCrossbar {
 public:
  explicit CTestCrossbar(IUnknown* outer)
      : CDeviceFilter("test crossbar", outer, CLSID_KestromTestCrossbar),
        tunerVideo_(this, &filterLock_, kCrossbarInputs[0].name, MEDIATYPE_AnalogVideo, kTunerVideoLink),
        composite_(this, &filterLock_, kCrossbarInputs[1].name, MEDIATYPE_AnalogVideo, {}),
        svideo_(this, &filterLock_, kCrossbarInputs[2].name, MEDIATYPE_AnalogVideo, {}),
        tunerAudio_(this, &filterLock_, kCrossbarInputs[3].name, MEDIATYPE_AnalogAudio, kTunerAudioLink),
        lineAudio_(this, &filterLock_, kCrossbarInputs[4].name, MEDIATYPE_AnalogAudio, {}),
        videoOut_(this, &filterLock_, kCrossbarOutputs[0].name, MEDIATYPE_AnalogVideo, kCameraLink),
        audioOut_(this, &filterLock_, kCrossbarOutputs[1].name, MEDIATYPE_AnalogAudio, {}) {}

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IAMCrossbar) return GetInterface(static_cast<IAMCrossbar*>(this), object);
    if (iid == IID_ISpecifyPropertyPages) return GetInterface(&pages_, object);
    return CDeviceFilter::NonDelegatingQueryInterface(iid, object);
  }

  int GetPinCount() override { return kCrossbarInputCount + kCrossbarOutputCount; }
  CBasePin* GetPin(int n) override {
    CBasePin* pins[] = {&tunerVideo_, &composite_, &svideo_, &tunerAudio_, &lineAudio_, &videoOut_, &audioOut_};
    return n >= 0 && n < GetPinCount() ? pins[n] : nullptr;
  }

  HRESULT get_PinCounts(LONG* outputs, LONG* inputs) override {
    if (!outputs || !inputs) return E_POINTER;
    *outputs = kCrossbarOutputCount;
    *inputs = kCrossbarInputCount;
    return S_OK;
  }
  HRESULT CanRoute(LONG output, LONG input) override {
    if (output < 0 || output >= kCrossbarOutputCount || input < -1 || input >= kCrossbarInputCount) return E_INVALIDARG;
    if (input == -1) return S_OK;
    return IsAudioConnector(kCrossbarInputs[input].type) == IsAudioConnector(kCrossbarOutputs[output].type) ? S_OK
                                                                                                           : S_FALSE;
  }
  HRESULT Route(LONG output, LONG input) override {
    const HRESULT can = CanRoute(output, input);
    if (can != S_OK) return FAILED(can) ? can : E_FAIL;
    std::lock_guard lock(routeLock_);
    routes_[output] = input;
    return S_OK;
  }
  HRESULT get_IsRoutedTo(LONG output, LONG* input) override {
    if (!input) return E_POINTER;
    if (output < 0 || output >= kCrossbarOutputCount) return E_INVALIDARG;
    std::lock_guard lock(routeLock_);
    *input = routes_[output];
    return S_OK;
  }
  HRESULT get_CrossbarPinInfo(BOOL isInput, LONG index, LONG* relatedIndex, LONG* physicalType) override {
    if (!relatedIndex || !physicalType) return E_POINTER;
    const LONG count = isInput ? kCrossbarInputCount : kCrossbarOutputCount;
    if (index < 0 || index >= count) return E_INVALIDARG;
    const CrossbarPinInfo& info = isInput ? kCrossbarInputs[index] : kCrossbarOutputs[index];
    *relatedIndex = info.related;
    *physicalType = info.type;
    return S_OK;
  }

 private:
  CAnalogInputPin tunerVideo_, composite_, svideo_, tunerAudio_, lineAudio_;
  CAnalogOutputPin videoOut_, audioOut_;
  std::mutex routeLock_;
  LONG routes_[kCrossbarOutputCount] = {1, 4};  // composite video with line audio
  CSpecifyPropertyPages pages_{GetOwner(), {{&IID_IAMCrossbar, &CLSID_CrossbarPage}}};
};

// ---------------------------------------------------------------- TV tuner

constexpr LONG kTunerStandards = AnalogVideo_NTSC_M | AnalogVideo_PAL_B | AnalogVideo_SECAM_B;

class CTestTuner final : public CDeviceFilter, public IAMTVTuner {
 public:
  explicit CTestTuner(IUnknown* outer)
      : CDeviceFilter("test tuner", outer, CLSID_KestromTestTuner),
        video_(this, &filterLock_, u"Analog Video", MEDIATYPE_AnalogVideo, kTunerVideoLink),
        audio_(this, &filterLock_, u"Analog Audio", MEDIATYPE_AnalogAudio, kTunerAudioLink),
        frequency_(TunerChannelFrequency(tuningSpace_, countryCode_, inputType_, channel_)) {}

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IAMTVTuner) return GetInterface(static_cast<IAMTVTuner*>(this), object);
    if (iid == IID_IAMTuner) return GetInterface(static_cast<IAMTuner*>(this), object);
    if (iid == IID_ISpecifyPropertyPages) return GetInterface(&pages_, object);
    return CDeviceFilter::NonDelegatingQueryInterface(iid, object);
  }

  int GetPinCount() override { return 2; }
  CBasePin* GetPin(int n) override { return n == 0 ? static_cast<CBasePin*>(&video_) : n == 1 ? &audio_ : nullptr; }

  // As the V4L2 tuner: a channel is tuned to the frequency stored for the tuning space (an
  // override or an auto-tune result), else to the country's channel plan; a channel without a
  // frequency is refused.
  HRESULT put_Channel(LONG channel, LONG videoSub, LONG audioSub) override {
    std::lock_guard lock(tunerLock_);
    const LONG hertz = TunerChannelFrequency(tuningSpace_, countryCode_, inputType_, channel);
    if (hertz <= 0) return E_INVALIDARG;
    frequency_ = hertz;
    channel_ = channel;
    videoSub_ = videoSub;
    audioSub_ = audioSub;
    return S_OK;
  }
  HRESULT get_Channel(LONG* channel, LONG* videoSub, LONG* audioSub) override {
    if (!channel || !videoSub || !audioSub) return E_POINTER;
    std::lock_guard lock(tunerLock_);
    *channel = channel_;
    *videoSub = videoSub_;
    *audioSub = audioSub_;
    return S_OK;
  }
  HRESULT ChannelMinMax(LONG* min, LONG* max) override {
    if (!min || !max) return E_POINTER;
    std::lock_guard lock(tunerLock_);
    TunerChannelRange(countryCode_, inputType_, min, max);
    return S_OK;
  }
  HRESULT put_CountryCode(LONG country) override { return Put(countryCode_, country); }
  HRESULT get_CountryCode(LONG* country) override { return Get(countryCode_, country); }
  HRESULT put_TuningSpace(LONG space) override { return Put(tuningSpace_, space); }
  HRESULT get_TuningSpace(LONG* space) override { return Get(tuningSpace_, space); }
  HRESULT Logon(void*) override { return S_OK; }
  HRESULT Logout() override { return S_OK; }
  HRESULT SignalPresent(LONG* strength) override {
    if (!strength) return E_POINTER;
    std::lock_guard lock(tunerLock_);
    *strength = HasSignal(channel_) ? AMTUNER_SIGNALPRESENT : AMTUNER_NOSIGNAL;
    return S_OK;
  }
  HRESULT put_Mode(AMTunerModeType mode) override {
    if (mode != AMTUNER_MODE_TV) return E_INVALIDARG;
    return S_OK;
  }
  HRESULT get_Mode(AMTunerModeType* mode) override {
    if (!mode) return E_POINTER;
    *mode = AMTUNER_MODE_TV;
    return S_OK;
  }
  HRESULT GetAvailableModes(LONG* modes) override {
    if (!modes) return E_POINTER;
    *modes = AMTUNER_MODE_TV;
    return S_OK;
  }
  HRESULT RegisterNotificationCallBack(IUnknown*, LONG) override { return E_NOTIMPL; }
  HRESULT UnRegisterNotificationCallBack(IUnknown*) override { return E_NOTIMPL; }

  HRESULT get_AvailableTVFormats(LONG* standards) override {
    if (!standards) return E_POINTER;
    *standards = kTunerStandards;
    return S_OK;
  }
  HRESULT get_TVFormat(LONG* standard) override {
    if (!standard) return E_POINTER;
    *standard = AnalogVideo_PAL_B;
    return S_OK;
  }
  HRESULT AutoTune(LONG channel, LONG* foundSignal) override {
    if (!foundSignal) return E_POINTER;
    *foundSignal = 0;
    if (const HRESULT hr = put_Channel(channel, AMTUNER_SUBCHAN_DEFAULT, AMTUNER_SUBCHAN_DEFAULT); FAILED(hr)) return hr;
    *foundSignal = HasSignal(channel) ? 1 : 0;
    return S_OK;
  }
  HRESULT StoreAutoTune() override { return S_OK; }
  HRESULT get_NumInputConnections(LONG* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT put_InputType(LONG index, TunerInputType type) override {
    if (index != 0 || (type != TunerInputCable && type != TunerInputAntenna)) return E_INVALIDARG;
    std::lock_guard lock(tunerLock_);
    inputType_ = type;
    return S_OK;
  }
  HRESULT get_InputType(LONG index, TunerInputType* type) override {
    if (!type) return E_POINTER;
    if (index != 0) return E_INVALIDARG;
    std::lock_guard lock(tunerLock_);
    *type = inputType_;
    return S_OK;
  }
  HRESULT put_ConnectInput(LONG index) override { return index == 0 ? S_OK : E_INVALIDARG; }
  HRESULT get_ConnectInput(LONG* index) override {
    if (!index) return E_POINTER;
    *index = 0;
    return S_OK;
  }
  // The frequency tuned; the sound carrier 5.5 MHz above the picture (PAL B).
  HRESULT get_VideoFrequency(LONG* hertz) override {
    if (!hertz) return E_POINTER;
    std::lock_guard lock(tunerLock_);
    *hertz = frequency_;
    return S_OK;
  }
  HRESULT get_AudioFrequency(LONG* hertz) override {
    if (!hertz) return E_POINTER;
    std::lock_guard lock(tunerLock_);
    *hertz = frequency_ + 5500000;
    return S_OK;
  }

 private:
  static bool HasSignal(LONG channel) { return channel >= 2 && channel <= 12; }
  HRESULT Put(LONG& field, LONG value) {
    std::lock_guard lock(tunerLock_);
    field = value;
    return S_OK;
  }
  HRESULT Get(const LONG& field, LONG* value) {
    if (!value) return E_POINTER;
    std::lock_guard lock(tunerLock_);
    *value = field;
    return S_OK;
  }

  CAnalogOutputPin video_, audio_;
  std::mutex tunerLock_;
  LONG channel_ = 4, videoSub_ = AMTUNER_SUBCHAN_DEFAULT, audioSub_ = AMTUNER_SUBCHAN_DEFAULT;
  LONG countryCode_ = 49, tuningSpace_ = 49;
  TunerInputType inputType_ = TunerInputCable;
  LONG frequency_;
  CSpecifyPropertyPages pages_{GetOwner(), {{&IID_IAMTVTuner, &CLSID_TVTunerPage}}};
};

// ---------------------------------------------------------------- test microphone

class CTestMicrophone;

class CTestMicrophonePin final : public CAudioCapturePin {
 public:
  CTestMicrophonePin(CTestMicrophone* mic, std::recursive_mutex* lock);

 protected:
  HRESULT OnThreadStart() override;
  HRESULT FillBuffer(IMediaSample* sample) override;

 private:
  CTestMicrophone* mic_;
  bool live_ = true;
  int64_t position_ = 0;  // sample frames delivered
  LivePacer pacer_;
  std::vector<int16_t> block_;
};

class CTestMicrophone final : public CDeviceFilter, public CMixerControl {
 public:
  explicit CTestMicrophone(IUnknown* outer)
      : CDeviceFilter("test microphone", outer, CLSID_KestromTestMicrophone),
        capture_(this, &filterLock_),
        microphone_(this, &filterLock_, u"Microphone"),
        line_(this, &filterLock_, u"Line In") {
    MixerSettings on;
    on.enable = true;
    microphone_.InitSettings(on);
    MixerSettings off;
    line_.InitSettings(off);
    InitSettings(on);
  }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IAMAudioInputMixer) return GetInterface(static_cast<IAMAudioInputMixer*>(this), object);
    if (iid == IID_ISpecifyPropertyPages) return GetInterface(&pages_, object);
    return CDeviceFilter::NonDelegatingQueryInterface(iid, object);
  }

  int GetPinCount() override { return 3; }
  CBasePin* GetPin(int n) override {
    if (n == 0) return &capture_;
    if (n == 1) return &microphone_;
    if (n == 2) return &line_;
    return nullptr;
  }

  bool IsLiveSource() const override { return TestDevicesLive(); }

  /** @brief The tone of the first enabled line: 440 Hz from the microphone, 880 Hz from line in. */
  void Tone(double* hertz, double* level) const {
    const MixerSettings master = Settings();
    const MixerSettings mic = microphone_.Settings(), line = line_.Settings();
    const MixerSettings* chosen = mic.enable ? &mic : line.enable ? &line : nullptr;
    *hertz = chosen == &line ? 880.0 : 440.0;
    *level = chosen && master.enable ? 0.5 * chosen->level * master.level : 0.0;
  }

 private:
  CTestMicrophonePin capture_;
  CMixerLinePin microphone_, line_;
  CSpecifyPropertyPages pages_{GetOwner(), {{&IID_IAMAudioInputMixer, &CLSID_AudioInputPage}}};
};

CTestMicrophonePin::CTestMicrophonePin(CTestMicrophone* mic, std::recursive_mutex* lock)
    : CAudioCapturePin("test microphone pin", mic, lock, u"Capture"), mic_(mic) {
  AudioCapability cap;
  cap.minChannels = 1;
  cap.maxChannels = 2;
  cap.minBits = 8;
  cap.maxBits = 16;
  cap.minRate = 8000;
  cap.maxRate = 48000;
  cap.rates = {8000, 11025, 16000, 22050, 32000, 44100, 48000};
  SetCapability(cap, 44100, 2, 16);
}

HRESULT CTestMicrophonePin::OnThreadStart() {
  live_ = TestDevicesLive();
  position_ = 0;
  pacer_ = {};
  return S_OK;
}

HRESULT CTestMicrophonePin::FillBuffer(IMediaSample* sample) {
  const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt_.pbFormat);
  const int rate = static_cast<int>(wfx->nSamplesPerSec), channels = wfx->nChannels;
  const int frames = std::max(1, rate / 10);
  const REFERENCE_TIME duration = REFERENCE_TIME{frames} * 10000000 / rate;
  REFERENCE_TIME start = 0;
  if (live_) {
    if (mic_->State() != State_Running) {
      pacer_.rebase = true;
      WaitUnlessStopped(5ms);
      return VFW_S_NO_MORE_ITEMS;
    }
    REFERENCE_TIME now = mic_->StreamTime();
    if (pacer_.rebase) {
      pacer_.next = now;
      pacer_.rebase = false;
    }
    // Sound is never dropped: a late block is delivered at once, the next ones catch up.
    if (now < pacer_.next) {
      if (!WaitUnlessStopped(std::chrono::nanoseconds((pacer_.next - now) * 100))) return VFW_S_NO_MORE_ITEMS;
    }
    start = pacer_.next;
    pacer_.next += duration;
  } else {
    start = position_ * 10000000 / rate;
  }
  double hertz = 440.0, level = 0.0;
  mic_->Tone(&hertz, &level);
  block_.resize(static_cast<size_t>(frames) * channels);
  PaintTestTone(block_.data(), frames, channels, rate, position_, hertz, level);
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  const LONG bytes = frames * wfx->nBlockAlign;
  if (sample->GetSize() < bytes) return E_UNEXPECTED;
  if (wfx->wBitsPerSample == 16) {
    std::memcpy(data, block_.data(), static_cast<size_t>(bytes));
  } else {  // 8-bit sound is unsigned
    for (size_t i = 0; i < block_.size(); ++i) data[i] = static_cast<BYTE>((block_[i] >> 8) + 128);
  }
  REFERENCE_TIME stop = start + duration;
  LONGLONG mediaStart = position_, mediaStop = position_ + frames;
  sample->SetActualDataLength(bytes);
  sample->SetTime(&start, &stop);
  sample->SetMediaTime(&mediaStart, &mediaStop);
  sample->SetSyncPoint(1);
  position_ += frames;
  return S_OK;
}

template <typename T>
CUnknown* Create(IUnknown* outer, HRESULT* hr) {
  auto* object = new (std::nothrow) T(outer);
  if (!object && hr) *hr = E_OUTOFMEMORY;
  return object;
}

}  // namespace

bool TestDevicesEnabled() { return !EnvIsZero("KESTROM_TEST_DEVICES"); }

void SetTestDevicesLive(bool live) { LiveFlag() = live; }
bool TestDevicesLive() { return LiveFlag(); }

void SetTestCameraPlugged(bool plugged) {
  std::lock_guard lock(g_camerasLock);
  if (g_cameraPlugged.exchange(plugged) == plugged) return;
  for (CTestCamera* camera : g_cameras) camera->PostDeviceLost(!plugged);
}

bool TestCameraPlugged() { return g_cameraPlugged; }

long TestCameraDroppedFrames() { return g_cameraDropped; }

CUnknown* CreateTestCamera(IUnknown* outer, HRESULT* hr) { return Create<CTestCamera>(outer, hr); }
CUnknown* CreateTestCrossbar(IUnknown* outer, HRESULT* hr) { return Create<CTestCrossbar>(outer, hr); }
CUnknown* CreateTestTuner(IUnknown* outer, HRESULT* hr) { return Create<CTestTuner>(outer, hr); }
CUnknown* CreateTestMicrophone(IUnknown* outer, HRESULT* hr) { return Create<CTestMicrophone>(outer, hr); }

}  // namespace kestrom::dshow
