#include "platform/dshow/sources/V4l2Tuner.h"

#include "platform/dshow/base/PropertyPages.h"
#include "platform/dshow/sources/AnalogPins.h"
#include "platform/dshow/sources/DeviceFilter.h"
#include "platform/dshow/sources/V4l2Devices.h"
#include "platform/registry/Registry.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <mutex>
#include <new>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kestrom::dshow {

using namespace com;

namespace {

int Ioctl(int fd, unsigned long request, void* arg) {
  if (fd < 0) {
    errno = ENODEV;
    return -1;
  }
  int rc;
  do rc = ::ioctl(fd, request, arg);
  while (rc < 0 && errno == EINTR);
  return rc;
}

// Real devices are left alone in test runs unless the test asks for them.
bool RealDevicesAllowed() {
  return !qEnvironmentVariableIsSet("KESTROM_TEST_RUN") || qEnvironmentVariable("KESTROM_REAL_DEVICES") == "1";
}

enum class ChannelPlan { NorthAmerica, Japan, WesternEurope };

// Countries by their telephone code, as tuning spaces number them.
ChannelPlan PlanOf(LONG country) {
  switch (country) {
    case 1: case 52: case 82: case 886: case 63: case 57: case 58: case 51: case 56: case 593: case 503: case 502:
    case 504: case 505: case 506: case 507: case 591: case 595: case 598: case 1809:
      return ChannelPlan::NorthAmerica;
    case 81: return ChannelPlan::Japan;
    default: return ChannelPlan::WesternEurope;
  }
}

constexpr LONG MHz(double mhz) { return static_cast<LONG>(mhz * 1000000.0 + 0.5); }

// Picture carriers of the public channel plans; 0 for a channel the plan does not have.
LONG PlanFrequency(ChannelPlan plan, TunerInputType input, LONG n) {
  switch (plan) {
    case ChannelPlan::NorthAmerica:
      if (input == TunerInputCable) {
        if (n == 1) return MHz(73.25);
        if (n >= 14 && n <= 22) return MHz(121.25 + (n - 14) * 6);
        if (n >= 23 && n <= 94) return MHz(217.25 + (n - 23) * 6);
        if (n >= 95 && n <= 99) return MHz(91.25 + (n - 95) * 6);
        if (n >= 100 && n <= 125) return MHz(649.25 + (n - 100) * 6);
      } else if (n >= 14 && n <= 69) {
        return MHz(471.25 + (n - 14) * 6);
      }
      if (n >= 2 && n <= 4) return MHz(55.25 + (n - 2) * 6);
      if (n >= 5 && n <= 6) return MHz(77.25 + (n - 5) * 6);
      if (n >= 7 && n <= 13) return MHz(175.25 + (n - 7) * 6);
      return 0;
    case ChannelPlan::Japan:
      if (n >= 1 && n <= 3) return MHz(91.25 + (n - 1) * 6);
      if (n >= 4 && n <= 7) return MHz(171.25 + (n - 4) * 6);
      if (n >= 8 && n <= 12) return MHz(193.25 + (n - 8) * 6);
      if (n >= 13 && n <= 62) return MHz(471.25 + (n - 13) * 6);
      return 0;
    case ChannelPlan::WesternEurope:
      if (n >= 2 && n <= 4) return MHz(48.25 + (n - 2) * 7);
      if (n >= 5 && n <= 12) return MHz(175.25 + (n - 5) * 7);
      if (n >= 21 && n <= 69) return MHz(471.25 + (n - 21) * 8);
      return 0;
  }
  return 0;
}

// Frequencies the registry holds for a tuning space: an override named after the channel, else
// the channel's auto-tune pair.
LONG StoredFrequency(LONG space, TunerInputType input, LONG channel) {
  registry::TRegistry reg(registry::HKEY_LOCAL_MACHINE, registry::KEY_READ);
  if (!reg.OpenKeyReadOnly(TunerFrequencyKey(space, input))) return 0;
  if (const auto value = reg.ReadInteger(QString::number(channel)); value && *value > 0) return *value;
  const auto pairs = reg.ReadBinaryData(QStringLiteral("AutoTune"));
  if (!pairs) return 0;
  for (qsizetype at = 0; at + 8 <= pairs->size(); at += 8) {
    int32_t c = 0, f = 0;
    std::memcpy(&c, pairs->constData() + at, 4);
    std::memcpy(&f, pairs->constData() + at + 4, 4);
    if (c == channel) return f > 0 ? f : 0;
  }
  return 0;
}

class CV4l2Tuner final : public CDeviceFilter, public IAMTVTuner {
 public:
  CV4l2Tuner(int fd, const QString& path, ULONG tunerIndex)
      : CDeviceFilter("V4L2 tuner", nullptr, CLSID_KestromV4l2Tuner),
        fd_(fd),
        path_(path),
        tuner_(tunerIndex),
        video_(this, &filterLock_, u"Analog Video", MEDIATYPE_AnalogVideo, V4l2TunerMedium(path)) {}
  ~CV4l2Tuner() override {
    if (fd_ >= 0) ::close(fd_);
  }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IAMTVTuner) return GetInterface(static_cast<IAMTVTuner*>(this), object);
    if (iid == IID_IAMTuner) return GetInterface(static_cast<IAMTuner*>(this), object);
    if (iid == IID_ISpecifyPropertyPages) return GetInterface(&pages_, object);
    return CDeviceFilter::NonDelegatingQueryInterface(iid, object);
  }

  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? &video_ : nullptr; }

  // ---- IAMTuner ----

  HRESULT put_Channel(LONG channel, LONG videoSub, LONG audioSub) override {
    std::lock_guard lock(tunerLock_);
    const LONG hz = TunerChannelFrequency(space_, country_, input_, channel);
    if (hz <= 0) return E_INVALIDARG;
    // The channel changes only when the device took its frequency.
    if (const HRESULT hr = SetFrequency(hz); FAILED(hr)) return hr;
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
    TunerChannelRange(country_, input_, min, max);
    return S_OK;
  }
  HRESULT put_CountryCode(LONG country) override {
    if (country <= 0) return E_INVALIDARG;
    std::lock_guard lock(tunerLock_);
    country_ = country;
    return S_OK;
  }
  HRESULT get_CountryCode(LONG* country) override { return Get(country_, country); }
  HRESULT put_TuningSpace(LONG space) override {
    std::lock_guard lock(tunerLock_);
    space_ = space;
    return S_OK;
  }
  HRESULT get_TuningSpace(LONG* space) override { return Get(space_, space); }
  HRESULT Logon(void*) override { return S_OK; }
  HRESULT Logout() override { return S_OK; }
  HRESULT SignalPresent(LONG* strength) override {
    if (!strength) return E_POINTER;
    v4l2_tuner t{};
    if (const HRESULT hr = ReadTuner(&t); FAILED(hr)) return hr;
    *strength = t.signal > 0 ? AMTUNER_SIGNALPRESENT : AMTUNER_NOSIGNAL;
    return S_OK;
  }
  HRESULT put_Mode(AMTunerModeType mode) override {
    LONG modes = 0;
    if (const HRESULT hr = GetAvailableModes(&modes); FAILED(hr)) return hr;
    return (modes & mode) && mode != AMTUNER_MODE_DEFAULT ? S_OK : E_INVALIDARG;
  }
  HRESULT get_Mode(AMTunerModeType* mode) override {
    if (!mode) return E_POINTER;
    LONG modes = 0;
    if (const HRESULT hr = GetAvailableModes(&modes); FAILED(hr)) return hr;
    *mode = static_cast<AMTunerModeType>(modes);
    return S_OK;
  }
  HRESULT GetAvailableModes(LONG* modes) override {
    if (!modes) return E_POINTER;
    v4l2_tuner t{};
    if (const HRESULT hr = ReadTuner(&t); FAILED(hr)) return hr;
    *modes = t.type == V4L2_TUNER_RADIO ? AMTUNER_MODE_FM_RADIO : AMTUNER_MODE_TV;
    return S_OK;
  }
  HRESULT RegisterNotificationCallBack(IUnknown*, LONG) override { return E_NOTIMPL; }
  HRESULT UnRegisterNotificationCallBack(IUnknown*) override { return E_NOTIMPL; }

  // ---- IAMTVTuner ----

  HRESULT get_AvailableTVFormats(LONG* standards) override {
    if (!standards) return E_POINTER;
    v4l2_input in{};
    if (const HRESULT hr = ReadTunerInput(&in); FAILED(hr)) return hr;
    *standards = AnalogStandardsOfV4l2(in.std);
    return S_OK;
  }
  HRESULT get_TVFormat(LONG* standard) override {
    if (!standard) return E_POINTER;
    v4l2_std_id id = 0;
    if (Ioctl(fd_, VIDIOC_G_STD, &id) != 0) return DeviceError();
    // A device reports a family; the first member stands for it.
    const LONG all = AnalogStandardsOfV4l2(id);
    *standard = all & -all;
    return S_OK;
  }
  HRESULT AutoTune(LONG channel, LONG* foundSignal) override {
    if (!foundSignal) return E_POINTER;
    *foundSignal = 0;
    const HRESULT hr = put_Channel(channel, AMTUNER_SUBCHAN_DEFAULT, AMTUNER_SUBCHAN_DEFAULT);
    if (FAILED(hr)) return hr;
    LONG strength = 0;
    if (SUCCEEDED(SignalPresent(&strength))) *foundSignal = strength == AMTUNER_SIGNALPRESENT ? 1 : 0;
    return S_OK;
  }
  HRESULT StoreAutoTune() override {
    // Keeps the frequency of the current channel for the tuning space, as a search found it.
    std::lock_guard lock(tunerLock_);
    v4l2_frequency f{};
    f.tuner = tuner_;
    if (Ioctl(fd_, VIDIOC_G_FREQUENCY, &f) != 0) return DeviceError();
    const LONG hz = FromDeviceUnits(f.frequency);
    registry::TRegistry reg(registry::HKEY_LOCAL_MACHINE);
    if (!reg.OpenKey(TunerFrequencyKey(space_, input_), true)) return E_FAIL;
    QByteArray pairs = reg.ReadBinaryData(QStringLiteral("AutoTune")).value_or(QByteArray());
    pairs.truncate(pairs.size() / 8 * 8);
    bool replaced = false;
    for (qsizetype at = 0; at + 8 <= pairs.size(); at += 8) {
      int32_t c = 0;
      std::memcpy(&c, pairs.constData() + at, 4);
      if (c == channel_) std::memcpy(pairs.data() + at + 4, &hz, 4), replaced = true;
    }
    if (!replaced) {
      const int32_t pair[2] = {channel_, hz};
      pairs.append(reinterpret_cast<const char*>(pair), sizeof pair);
    }
    return reg.WriteBinaryData(QStringLiteral("AutoTune"), pairs) ? S_OK : E_FAIL;
  }
  HRESULT get_NumInputConnections(LONG* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT put_InputType(LONG index, TunerInputType type) override {
    if (index != 0 || (type != TunerInputCable && type != TunerInputAntenna)) return E_INVALIDARG;
    std::lock_guard lock(tunerLock_);
    input_ = type;
    return S_OK;
  }
  HRESULT get_InputType(LONG index, TunerInputType* type) override {
    if (!type) return E_POINTER;
    if (index != 0) return E_INVALIDARG;
    std::lock_guard lock(tunerLock_);
    *type = input_;
    return S_OK;
  }
  HRESULT put_ConnectInput(LONG index) override { return index == 0 ? S_OK : E_INVALIDARG; }
  HRESULT get_ConnectInput(LONG* index) override {
    if (!index) return E_POINTER;
    *index = 0;
    return S_OK;
  }
  HRESULT get_VideoFrequency(LONG* hertz) override {
    if (!hertz) return E_POINTER;
    v4l2_frequency f{};
    f.tuner = tuner_;
    if (Ioctl(fd_, VIDIOC_G_FREQUENCY, &f) != 0) return DeviceError();
    *hertz = FromDeviceUnits(f.frequency);
    return S_OK;
  }
  HRESULT get_AudioFrequency(LONG* hertz) override {
    if (!hertz) return E_POINTER;
    LONG video = 0;
    if (const HRESULT hr = get_VideoFrequency(&video); FAILED(hr)) return hr;
    LONG standard = 0;
    if (FAILED(get_TVFormat(&standard))) standard = AnalogVideo_PAL_B;
    // The sound carrier sits a fixed distance above the picture carrier of the standard.
    double offset = 5.5;
    if (standard & (AnalogVideo_NTSC_M | AnalogVideo_NTSC_M_J | AnalogVideo_PAL_M | AnalogVideo_PAL_N | AnalogVideo_PAL_N_COMBO))
      offset = 4.5;
    else if (standard & AnalogVideo_PAL_I) offset = 6.0;
    else if (standard & (AnalogVideo_PAL_D | AnalogVideo_SECAM_D | AnalogVideo_SECAM_K | AnalogVideo_SECAM_K1)) offset = 6.5;
    else if (standard & (AnalogVideo_SECAM_L | AnalogVideo_SECAM_L1)) offset = 6.5;
    *hertz = video + MHz(offset);
    return S_OK;
  }

 private:
  // A device that is gone (or never was) answers as missing hardware.
  static HRESULT DeviceError() { return errno == ENODEV || errno == EBADF || errno == ENXIO ? VFW_E_NO_CAPTURE_HARDWARE : E_FAIL; }

  HRESULT ReadTuner(v4l2_tuner* t) {
    std::memset(t, 0, sizeof *t);
    t->index = tuner_;
    return Ioctl(fd_, VIDIOC_G_TUNER, t) == 0 ? S_OK : DeviceError();
  }
  HRESULT ReadTunerInput(v4l2_input* in) {
    for (uint32_t i = 0;; ++i) {
      std::memset(in, 0, sizeof *in);
      in->index = i;
      if (Ioctl(fd_, VIDIOC_ENUMINPUT, in) != 0) return i == 0 ? DeviceError() : VFW_E_NOT_FOUND;
      if (in->type == V4L2_INPUT_TYPE_TUNER && in->tuner == tuner_) return S_OK;
    }
  }
  // Frequencies go in 62.5 kHz steps, or 62.5 Hz steps for tuners that say so.
  bool LowUnits() {
    v4l2_tuner t{};
    return SUCCEEDED(ReadTuner(&t)) && (t.capability & V4L2_TUNER_CAP_LOW);
  }
  LONG FromDeviceUnits(uint32_t units) { return static_cast<LONG>(LowUnits() ? units * 125ull / 2 : units * 62500ull); }
  HRESULT SetFrequency(LONG hz) {
    v4l2_tuner t{};
    if (const HRESULT hr = ReadTuner(&t); FAILED(hr)) return hr;
    v4l2_frequency f{};
    f.tuner = tuner_;
    f.type = static_cast<v4l2_tuner_type>(t.type);
    f.frequency = (t.capability & V4L2_TUNER_CAP_LOW) ? static_cast<uint32_t>(hz * 2ull / 125) : static_cast<uint32_t>(hz / 62500);
    return Ioctl(fd_, VIDIOC_S_FREQUENCY, &f) == 0 ? S_OK : DeviceError();
  }
  HRESULT Get(const LONG& field, LONG* value) {
    if (!value) return E_POINTER;
    std::lock_guard lock(tunerLock_);
    *value = field;
    return S_OK;
  }

  int fd_;
  QString path_;
  ULONG tuner_;
  CAnalogOutputPin video_;
  std::recursive_mutex tunerLock_;
  LONG channel_ = 0, videoSub_ = AMTUNER_SUBCHAN_DEFAULT, audioSub_ = AMTUNER_SUBCHAN_DEFAULT;
  LONG country_ = 1, space_ = 1;
  TunerInputType input_ = TunerInputCable;
  CSpecifyPropertyPages pages_{GetOwner(), {{&IID_IAMTVTuner, &CLSID_TVTunerPage}}};
};

// The index of a node's first tuner of analog TV or radio; false when it has none.
bool TunerOf(int fd, ULONG* index) {
  v4l2_input in{};
  for (in.index = 0; Ioctl(fd, VIDIOC_ENUMINPUT, &in) == 0; ++in.index)
    if (in.type == V4L2_INPUT_TYPE_TUNER) return *index = in.tuner, true;
  return false;
}

}  // namespace

QString TunerFrequencyKey(LONG tuningSpace, TunerInputType input) {
  return QStringLiteral("\\Software\\Microsoft\\TV System Services\\TVAutoTune\\TS%1-%2").arg(tuningSpace).arg(1 - int(input));
}

LONG TunerChannelFrequency(LONG tuningSpace, LONG countryCode, TunerInputType input, LONG channel) {
  if (const LONG stored = StoredFrequency(tuningSpace, input, channel)) return stored;
  return PlanFrequency(PlanOf(countryCode), input, channel);
}

void TunerChannelRange(LONG countryCode, TunerInputType input, LONG* min, LONG* max) {
  switch (PlanOf(countryCode)) {
    case ChannelPlan::NorthAmerica: *min = input == TunerInputCable ? 1 : 2, *max = input == TunerInputCable ? 125 : 69; break;
    case ChannelPlan::Japan: *min = 1, *max = 62; break;
    case ChannelPlan::WesternEurope: *min = 2, *max = 69; break;
  }
}

REGPINMEDIUM V4l2TunerMedium(const QString& devicePath) {
  // The same node under any of its names (by-id link or /dev/videoN) has the same wire.
  const QString canonical = QFileInfo(devicePath).canonicalFilePath();
  const QByteArray digest =
      QCryptographicHash::hash((canonical.isEmpty() ? devicePath : canonical).toUtf8(), QCryptographicHash::Sha1);
  REGPINMEDIUM m{KESTROM_V4L2_TUNER_MEDIUM, 0, 0};
  std::memcpy(&m.dw1, digest.constData(), sizeof m.dw1);
  std::memcpy(&m.dw2, digest.constData() + 4, sizeof m.dw2);
  return m;
}

HRESULT CreateV4l2TunerOn(int fd, const QString& devicePath, ULONG tunerIndex, REFIID iid, void** object) {
  if (!object) {
    if (fd >= 0) ::close(fd);
    return E_POINTER;
  }
  *object = nullptr;
  auto* filter = new (std::nothrow) CV4l2Tuner(fd, devicePath, tunerIndex);
  if (!filter) {
    if (fd >= 0) ::close(fd);
    return E_OUTOFMEMORY;
  }
  filter->NonDelegatingAddRef();
  const HRESULT hr = filter->NonDelegatingQueryInterface(iid, object);
  filter->NonDelegatingRelease();
  return hr;
}

HRESULT CreateV4l2Tuner(const QString& devicePath, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  const int fd = ::open(QFile::encodeName(devicePath).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return VFW_E_NOT_FOUND;
  ULONG tuner = 0;
  if (!TunerOf(fd, &tuner)) {
    ::close(fd);
    return VFW_E_NOT_FOUND;
  }
  return CreateV4l2TunerOn(fd, devicePath, tuner, iid, object);
}

std::vector<DeviceEntry> V4l2TunerEntries(REFCLSID category) {
  std::vector<DeviceEntry> result;
  if (!(category == AM_KSCATEGORY_TVTUNER) || !RealDevicesAllowed()) return result;
  for (const DeviceEntry& capture : V4l2DeviceEntries(CLSID_VideoInputDeviceCategory)) {
    const int fd = ::open(QFile::encodeName(capture.devicePath).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    ULONG tuner = 0;
    const bool has = TunerOf(fd, &tuner);
    ::close(fd);
    if (!has) continue;
    DeviceEntry e;
    e.friendlyName = capture.friendlyName + QStringLiteral(" Tuner");
    e.devicePath = capture.devicePath;
    e.displayName = QStringLiteral("@device:pnp:") + capture.devicePath + QStringLiteral("#tuner");
    e.clsid = CLSID_KestromV4l2Tuner;
    const QString bound = capture.devicePath;
    e.create = [bound](REFIID iid, void** object) { return CreateV4l2Tuner(bound, iid, object); };
    result.push_back(std::move(e));
  }
  return result;
}

}  // namespace kestrom::dshow
