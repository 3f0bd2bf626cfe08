#include "platform/dshow/sources/AlsaDevices.h"

#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/CapturePin.h"
#include "platform/dshow/sources/DeviceFilter.h"
#include "platform/dshow/sources/MixerLinePin.h"

#include <memory>
#include <new>

#ifdef KESTROM_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

namespace kestrom::dshow {

using namespace com;
using namespace std::chrono_literals;

inline constexpr CLSID CLSID_KestromAlsaCapture = com::MakeGuid("{3F1C2A40-8B7D-4C55-9E21-6A0B5D4C7E51}");

namespace {

bool RealDevicesAllowed() {
  return !qEnvironmentVariableIsSet("KESTROM_TEST_RUN") || qEnvironmentVariable("KESTROM_REAL_DEVICES") == "1";
}

}  // namespace

#ifdef KESTROM_HAVE_ALSA

namespace {

class CAlsaCapture;

class CAlsaPin final : public CAudioCapturePin {
 public:
  CAlsaPin(CAlsaCapture* filter, std::recursive_mutex* lock, const QString& device);
  ~CAlsaPin() override { StopThread(); }

 protected:
  HRESULT OnThreadStart() override;
  void OnThreadStop() override;
  HRESULT FillBuffer(IMediaSample* sample) override;

 private:
  CAlsaCapture* capture_;
  QString device_;
  snd_pcm_t* pcm_ = nullptr;
  int64_t position_ = 0;
};

// One capture line of the card's mixer (a simple element with a capture switch or volume).
struct MixerLine {
  QString name;
  std::unique_ptr<CMixerLinePin> pin;
};

class CAlsaCapture final : public CDeviceFilter, public CMixerControl {
 public:
  CAlsaCapture(const QString& device, const QString& card) : CDeviceFilter("ALSA capture", nullptr, CLSID_KestromAlsaCapture), pin_(this, &filterLock_, device) {
    SetToneControls(false);
    MixerSettings master;
    master.enable = true;
    InitSettings(master);
    if (snd_mixer_open(&mixer_, 0) == 0 && snd_mixer_attach(mixer_, card.toUtf8().constData()) == 0 &&
        snd_mixer_selem_register(mixer_, nullptr, nullptr) == 0 && snd_mixer_load(mixer_) == 0) {
      for (snd_mixer_elem_t* e = snd_mixer_first_elem(mixer_); e; e = snd_mixer_elem_next(e)) {
        if (!snd_mixer_selem_is_active(e) || (!snd_mixer_selem_has_capture_switch(e) && !snd_mixer_selem_has_capture_volume(e)))
          continue;
        MixerLine line;
        line.name = QString::fromUtf8(snd_mixer_selem_get_name(e));
        line.pin = std::make_unique<CMixerLinePin>(this, &filterLock_, reinterpret_cast<LPCWSTR>(line.name.utf16()));
        line.pin->SetToneControls(false);
        MixerSettings s;
        int on = 1;
        if (snd_mixer_selem_has_capture_switch(e)) snd_mixer_selem_get_capture_switch(e, SND_MIXER_SCHN_FRONT_LEFT, &on);
        s.enable = on != 0;
        long min = 0, max = 0, value = 0;
        if (snd_mixer_selem_has_capture_volume(e) && snd_mixer_selem_get_capture_volume_range(e, &min, &max) == 0 && max > min &&
            snd_mixer_selem_get_capture_volume(e, SND_MIXER_SCHN_FRONT_LEFT, &value) == 0)
          s.level = double(value - min) / double(max - min);
        line.pin->InitSettings(s);
        snd_mixer_elem_t* element = e;
        line.pin->SetApply([element](const MixerSettings& m) {
          if (snd_mixer_selem_has_capture_switch(element) && snd_mixer_selem_set_capture_switch_all(element, m.enable ? 1 : 0) != 0)
            return false;
          long lo = 0, hi = 0;
          if (snd_mixer_selem_has_capture_volume(element) && snd_mixer_selem_get_capture_volume_range(element, &lo, &hi) == 0)
            return snd_mixer_selem_set_capture_volume_all(element, lo + std::lround(m.level * double(hi - lo))) == 0;
          return true;
        });
        lines_.push_back(std::move(line));
      }
    }
  }
  ~CAlsaCapture() override {
    Stop();
    lines_.clear();
    if (mixer_) snd_mixer_close(mixer_);
  }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IAMAudioInputMixer) return GetInterface(static_cast<IAMAudioInputMixer*>(this), object);
    if (iid == IID_ISpecifyPropertyPages) return GetInterface(&pages_, object);
    return CDeviceFilter::NonDelegatingQueryInterface(iid, object);
  }
  int GetPinCount() override { return 1 + static_cast<int>(lines_.size()); }
  CBasePin* GetPin(int n) override {
    if (n == 0) return &pin_;
    return n > 0 && n <= static_cast<int>(lines_.size()) ? lines_[static_cast<size_t>(n - 1)].pin.get() : nullptr;
  }
  bool IsLiveSource() const override { return true; }
  double MasterLevel() const { return Settings().enable ? Settings().level : 0.0; }

 private:
  CAlsaPin pin_;
  snd_mixer_t* mixer_ = nullptr;
  std::vector<MixerLine> lines_;
  CSpecifyPropertyPages pages_{GetOwner(), {{&IID_IAMAudioInputMixer, &CLSID_AudioInputPage}}};
};

CAlsaPin::CAlsaPin(CAlsaCapture* filter, std::recursive_mutex* lock, const QString& device)
    : CAudioCapturePin("ALSA capture pin", filter, lock, u"Capture"), capture_(filter), device_(device) {
  AudioCapability cap;
  cap.minChannels = 1;
  cap.maxChannels = 2;
  cap.minBits = 8;
  cap.maxBits = 16;
  cap.rates = {8000, 11025, 16000, 22050, 32000, 44100, 48000};
  SetCapability(cap, 44100, 2, 16);
}

HRESULT CAlsaPin::OnThreadStart() {
  position_ = 0;
  const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt_.pbFormat);
  // The plug layer converts to the rate and layout asked for.
  if (snd_pcm_open(&pcm_, ("plug" + device_).toUtf8().constData(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK) < 0) {
    pcm_ = nullptr;
    return VFW_E_NO_CAPTURE_HARDWARE;
  }
  if (snd_pcm_set_params(pcm_, wfx->wBitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE,
                         SND_PCM_ACCESS_RW_INTERLEAVED, wfx->nChannels, wfx->nSamplesPerSec, 1, 500000) < 0) {
    snd_pcm_close(pcm_);
    pcm_ = nullptr;
    return VFW_E_NO_CAPTURE_HARDWARE;
  }
  snd_pcm_start(pcm_);
  return S_OK;
}

void CAlsaPin::OnThreadStop() {
  if (pcm_) snd_pcm_close(pcm_);
  pcm_ = nullptr;
}

HRESULT CAlsaPin::FillBuffer(IMediaSample* sample) {
  const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt_.pbFormat);
  if (snd_pcm_wait(pcm_, 50) <= 0) return VFW_S_NO_MORE_ITEMS;
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  const snd_pcm_uframes_t room = static_cast<snd_pcm_uframes_t>(sample->GetSize() / wfx->nBlockAlign);
  snd_pcm_sframes_t frames = snd_pcm_readi(pcm_, data, room);
  if (frames == -EAGAIN) return VFW_S_NO_MORE_ITEMS;
  if (frames < 0) {
    if (frames == -ENODEV) {
      capture_->NotifyEvent(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(capture_->GetOwner()), 0);
      WaitUnlessStopped(100ms);
      return VFW_S_NO_MORE_ITEMS;
    }
    snd_pcm_recover(pcm_, static_cast<int>(frames), 1);  // an overrun: go on from now
    return VFW_S_NO_MORE_ITEMS;
  }
  if (capture_->State() != State_Running) return VFW_S_NO_MORE_ITEMS;
  const double level = capture_->MasterLevel();
  if (level < 1.0 && wfx->wBitsPerSample == 16) {
    auto* s = reinterpret_cast<int16_t*>(data);
    for (snd_pcm_sframes_t i = 0; i < frames * wfx->nChannels; ++i) s[i] = static_cast<int16_t>(s[i] * level);
  }
  const REFERENCE_TIME duration = REFERENCE_TIME{frames} * 10000000 / wfx->nSamplesPerSec;
  REFERENCE_TIME stop = capture_->StreamTime();
  REFERENCE_TIME start = stop - duration;
  sample->SetActualDataLength(static_cast<LONG>(frames * wfx->nBlockAlign));
  sample->SetTime(&start, &stop);
  sample->SetSyncPoint(1);
  position_ += frames;
  return S_OK;
}

}  // namespace

std::vector<DeviceEntry> AlsaDeviceEntries(REFCLSID category) {
  std::vector<DeviceEntry> result;
  if (!(category == CLSID_AudioInputDeviceCategory) || !RealDevicesAllowed()) return result;
  int card = -1;
  while (snd_card_next(&card) == 0 && card >= 0) {
    const QString hw = QStringLiteral("hw:%1").arg(card);
    snd_ctl_t* ctl = nullptr;
    if (snd_ctl_open(&ctl, hw.toUtf8().constData(), 0) < 0) continue;
    snd_ctl_card_info_t* info = nullptr;
    snd_ctl_card_info_alloca(&info);
    QString id, name;
    if (snd_ctl_card_info(ctl, info) == 0) {
      id = QString::fromUtf8(snd_ctl_card_info_get_id(info));
      name = QString::fromUtf8(snd_ctl_card_info_get_name(info));
    }
    int device = -1;
    while (snd_ctl_pcm_next_device(ctl, &device) == 0 && device >= 0) {
      snd_pcm_info_t* pcm = nullptr;
      snd_pcm_info_alloca(&pcm);
      snd_pcm_info_set_device(pcm, static_cast<unsigned>(device));
      snd_pcm_info_set_subdevice(pcm, 0);
      snd_pcm_info_set_stream(pcm, SND_PCM_STREAM_CAPTURE);
      if (snd_ctl_pcm_info(ctl, pcm) < 0) continue;
      DeviceEntry e;
      e.friendlyName = device == 0 ? name : QStringLiteral("%1 (%2)").arg(name, QString::fromUtf8(snd_pcm_info_get_name(pcm)));
      e.devicePath = QStringLiteral("hw:CARD=%1,DEV=%2").arg(id).arg(device);
      e.displayName = QStringLiteral("@device:pnp:alsa:") + e.devicePath;
      e.clsid = CLSID_KestromAlsaCapture;
      const QString path = e.devicePath, cardName = QStringLiteral("hw:CARD=%1").arg(id);
      e.create = [path, cardName](REFIID iid, void** object) { return CreateAlsaFilter(path, cardName, iid, object); };
      result.push_back(std::move(e));
    }
    snd_ctl_close(ctl);
  }
  return result;
}

HRESULT CreateAlsaFilter(const QString& device, const QString& card, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  auto* filter = new (std::nothrow) CAlsaCapture(device, card);
  if (!filter) return E_OUTOFMEMORY;
  filter->NonDelegatingAddRef();
  const HRESULT hr = filter->NonDelegatingQueryInterface(iid, object);
  filter->NonDelegatingRelease();
  return hr;
}

#else

std::vector<DeviceEntry> AlsaDeviceEntries(REFCLSID) { return {}; }

HRESULT CreateAlsaFilter(const QString&, const QString&, REFIID, void** object) {
  if (object) *object = nullptr;
  return VFW_E_NO_CAPTURE_HARDWARE;
}

#endif

}  // namespace kestrom::dshow
