#include "platform/dshow/sources/V4l2Devices.h"

#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/AnalogPins.h"
#include "platform/dshow/sources/CapturePin.h"
#include "platform/dshow/sources/CaptureState.h"
#include "platform/dshow/sources/ControlTable.h"
#include "platform/dshow/sources/DeviceFilter.h"
#include "platform/dshow/sources/StreamTypes.h"
#include "platform/dshow/sources/V4l2Tuner.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <new>
#include <poll.h>
#include <set>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace kestrom::dshow {

using namespace com;
using namespace std::chrono_literals;

inline constexpr CLSID CLSID_KestromV4l2Capture = com::MakeGuid("{3F1C2A40-8B7D-4C55-9E21-6A0B5D4C7E50}");

namespace {

int Ioctl(int fd, unsigned long request, void* arg) {
  int rc;
  do rc = ::ioctl(fd, request, arg);
  while (rc < 0 && errno == EINTR);
  return rc;
}

// Real devices are left alone in test runs unless the test asks for them.
bool RealDevicesAllowed() {
  return !qEnvironmentVariableIsSet("KESTROM_TEST_RUN") || qEnvironmentVariable("KESTROM_REAL_DEVICES") == "1";
}

struct PixelKind {
  uint32_t v4l2;
  GUID subtype;
  DWORD compression;
  WORD bits;
};

const PixelKind* KindOf(uint32_t v4l2) {
  static const PixelKind kinds[] = {
      {V4L2_PIX_FMT_YUYV, MEDIASUBTYPE_YUY2, MEDIASUBTYPE_YUY2.Data1, 16},
      {V4L2_PIX_FMT_UYVY, MEDIASUBTYPE_UYVY, MEDIASUBTYPE_UYVY.Data1, 16},
      {V4L2_PIX_FMT_YUV420, MEDIASUBTYPE_I420, MEDIASUBTYPE_I420.Data1, 12},
      {V4L2_PIX_FMT_MJPEG, MEDIASUBTYPE_MJPG, MEDIASUBTYPE_MJPG.Data1, 24},
      {V4L2_PIX_FMT_JPEG, MEDIASUBTYPE_MJPG, MEDIASUBTYPE_MJPG.Data1, 24},
      {V4L2_PIX_FMT_DV, FourccSubtype(Fourcc('d', 'v', 's', 'd')), Fourcc('d', 'v', 's', 'd'), 24},
  };
  for (const PixelKind& k : kinds)
    if (k.v4l2 == v4l2) return &k;
  return nullptr;
}

// Sizes offered by a device with a continuous or stepped range: the common ones inside it.
constexpr struct {
  uint32_t w, h;
} kCommonSizes[] = {{160, 120}, {176, 144}, {320, 240}, {352, 288}, {640, 480}, {720, 480},
                    {720, 576}, {800, 600}, {1024, 768}, {1280, 720}, {1280, 960}, {1920, 1080}};

std::vector<REFERENCE_TIME> Intervals(int fd, uint32_t format, uint32_t w, uint32_t h) {
  std::vector<REFERENCE_TIME> result;
  v4l2_frmivalenum e{};
  e.pixel_format = format;
  e.width = w;
  e.height = h;
  for (e.index = 0; Ioctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &e) == 0; ++e.index) {
    if (e.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
      if (e.discrete.denominator) result.push_back(av_rescale(10000000, e.discrete.numerator, e.discrete.denominator));
    } else {
      for (double rate : {5.0, 10.0, 15.0, 25.0, 30.0, 50.0, 60.0}) {
        const double lo = double(e.stepwise.min.numerator) / std::max(1u, e.stepwise.min.denominator);
        const double hi = double(e.stepwise.max.numerator) / std::max(1u, e.stepwise.max.denominator);
        if (1.0 / rate >= lo - 1e-9 && 1.0 / rate <= hi + 1e-9) result.push_back(IntervalOfRate(rate));
      }
      break;
    }
  }
  if (result.empty()) result.push_back(IntervalOfRate(30.0));
  std::sort(result.begin(), result.end());
  result.erase(std::unique(result.begin(), result.end()), result.end());
  return result;
}

std::vector<VideoCapability> Capabilities(int fd) {
  std::vector<VideoCapability> caps;
  v4l2_fmtdesc desc{};
  desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  for (desc.index = 0; Ioctl(fd, VIDIOC_ENUM_FMT, &desc) == 0; ++desc.index) {
    const PixelKind* kind = KindOf(desc.pixelformat);
    if (!kind) continue;
    auto add = [&](uint32_t w, uint32_t h) {
      caps.push_back({kind->subtype, kind->compression, kind->bits, LONG(w), LONG(h), Intervals(fd, desc.pixelformat, w, h)});
    };
    v4l2_frmsizeenum size{};
    size.pixel_format = desc.pixelformat;
    for (size.index = 0; Ioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) == 0; ++size.index) {
      if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
        add(size.discrete.width, size.discrete.height);
      } else {
        const auto& s = size.stepwise;
        for (const auto& c : kCommonSizes)
          if (c.w >= s.min_width && c.w <= s.max_width && c.h >= s.min_height && c.h <= s.max_height &&
              (c.w - s.min_width) % std::max(1u, s.step_width) == 0 && (c.h - s.min_height) % std::max(1u, s.step_height) == 0)
            add(c.w, c.h);
        break;
      }
    }
  }
  return caps;
}

struct StandardBit {
  v4l2_std_id v4l2;
  LONG analog;
};
constexpr StandardBit kStandards[] = {
    {V4L2_STD_NTSC_M, AnalogVideo_NTSC_M},   {V4L2_STD_NTSC_M_JP, AnalogVideo_NTSC_M_J}, {V4L2_STD_NTSC_443, AnalogVideo_NTSC_433},
    {V4L2_STD_PAL_B, AnalogVideo_PAL_B},     {V4L2_STD_PAL_D, AnalogVideo_PAL_D},       {V4L2_STD_PAL_G, AnalogVideo_PAL_G},
    {V4L2_STD_PAL_H, AnalogVideo_PAL_H},     {V4L2_STD_PAL_I, AnalogVideo_PAL_I},       {V4L2_STD_PAL_M, AnalogVideo_PAL_M},
    {V4L2_STD_PAL_N, AnalogVideo_PAL_N},     {V4L2_STD_PAL_60, AnalogVideo_PAL_60},     {V4L2_STD_SECAM_B, AnalogVideo_SECAM_B},
    {V4L2_STD_SECAM_D, AnalogVideo_SECAM_D}, {V4L2_STD_SECAM_G, AnalogVideo_SECAM_G},   {V4L2_STD_SECAM_H, AnalogVideo_SECAM_H},
    {V4L2_STD_SECAM_K, AnalogVideo_SECAM_K}, {V4L2_STD_SECAM_K1, AnalogVideo_SECAM_K1}, {V4L2_STD_SECAM_L, AnalogVideo_SECAM_L},
    {V4L2_STD_SECAM_LC, AnalogVideo_SECAM_L1}, {V4L2_STD_PAL_Nc, AnalogVideo_PAL_N_COMBO},
};

LONG AnalogOf(v4l2_std_id id) {
  LONG result = 0;
  for (const StandardBit& s : kStandards)
    if (id & s.v4l2) result |= s.analog;
  return result;
}

v4l2_std_id V4l2Of(LONG analog) {
  v4l2_std_id result = 0;
  for (const StandardBit& s : kStandards)
    if (analog & s.analog) result |= s.v4l2;
  return result;
}

// The controls of the image and camera tables: V4L2 control, and the control that switches it to automatic.
struct ControlMap {
  LONG property;
  uint32_t cid;
  uint32_t autoCid;
};
constexpr ControlMap kProcAmpControls[] = {
    {VideoProcAmp_Brightness, V4L2_CID_BRIGHTNESS, 0},
    {VideoProcAmp_Contrast, V4L2_CID_CONTRAST, 0},
    {VideoProcAmp_Hue, V4L2_CID_HUE, V4L2_CID_HUE_AUTO},
    {VideoProcAmp_Saturation, V4L2_CID_SATURATION, 0},
    {VideoProcAmp_Sharpness, V4L2_CID_SHARPNESS, 0},
    {VideoProcAmp_Gamma, V4L2_CID_GAMMA, 0},
    {VideoProcAmp_WhiteBalance, V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CID_AUTO_WHITE_BALANCE},
    {VideoProcAmp_BacklightCompensation, V4L2_CID_BACKLIGHT_COMPENSATION, 0},
    {VideoProcAmp_Gain, V4L2_CID_GAIN, V4L2_CID_AUTOGAIN},
};
constexpr ControlMap kCameraControls[] = {
    {CameraControl_Pan, V4L2_CID_PAN_ABSOLUTE, 0},
    {CameraControl_Tilt, V4L2_CID_TILT_ABSOLUTE, 0},
    {CameraControl_Zoom, V4L2_CID_ZOOM_ABSOLUTE, 0},
    {CameraControl_Exposure, V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CID_EXPOSURE_AUTO},
    {CameraControl_Iris, V4L2_CID_IRIS_ABSOLUTE, 0},
    {CameraControl_Focus, V4L2_CID_FOCUS_ABSOLUTE, V4L2_CID_FOCUS_AUTO},
};

bool QueryControl(int fd, uint32_t cid, v4l2_queryctrl* q) {
  std::memset(q, 0, sizeof *q);
  q->id = cid;
  return Ioctl(fd, VIDIOC_QUERYCTRL, q) == 0 && !(q->flags & V4L2_CTRL_FLAG_DISABLED);
}

void FillTable(int fd, ControlTable& table, const ControlMap* map, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    v4l2_queryctrl q;
    if (!QueryControl(fd, map[i].cid, &q)) continue;
    v4l2_queryctrl a;
    const bool canAuto = map[i].autoCid && QueryControl(fd, map[i].autoCid, &a);
    table.Define(map[i].property, q.minimum, q.maximum, q.step, q.default_value,
                 VideoProcAmp_Flags_Manual | (canAuto ? VideoProcAmp_Flags_Auto : 0));
    v4l2_control c{map[i].cid, 0};
    if (Ioctl(fd, VIDIOC_G_CTRL, &c) == 0) table.Set(map[i].property, c.value, VideoProcAmp_Flags_Manual);
  }
}

bool ApplyControl(int fd, const ControlMap* map, size_t count, LONG property, LONG value, LONG flags) {
  for (size_t i = 0; i < count; ++i) {
    if (map[i].property != property) continue;
    if (map[i].autoCid) {
      // Exposure's automatic mode is a menu (0 automatic, 1 manual); the others are switches.
      const bool exposure = map[i].autoCid == V4L2_CID_EXPOSURE_AUTO;
      v4l2_control a{map[i].autoCid, flags == VideoProcAmp_Flags_Auto ? (exposure ? V4L2_EXPOSURE_AUTO : 1)
                                                                      : (exposure ? V4L2_EXPOSURE_MANUAL : 0)};
      if (Ioctl(fd, VIDIOC_S_CTRL, &a) != 0 && flags == VideoProcAmp_Flags_Auto) return false;
      if (flags == VideoProcAmp_Flags_Auto) return true;
    }
    v4l2_control c{map[i].cid, value};
    return Ioctl(fd, VIDIOC_S_CTRL, &c) == 0;
  }
  return false;
}

// ---------------------------------------------------------------- filter

class CV4l2Capture;

class CV4l2Pin final : public CVideoCapturePin {
 public:
  CV4l2Pin(CV4l2Capture* filter, std::recursive_mutex* lock, int fd);
  ~CV4l2Pin() override { StopThread(); }

 protected:
  HRESULT ApplyFormat(const CMediaType& type) override;
  HRESULT OnThreadStart() override;
  void OnThreadStop() override;
  HRESULT FillBuffer(IMediaSample* sample) override;

 private:
  void Unmap();

  CV4l2Capture* capture_;
  int fd_;
  struct Mapped {
    void* start = MAP_FAILED;
    size_t length = 0;
  };
  std::vector<Mapped> buffers_;
  bool streaming_ = false;
  int64_t lastSequence_ = -1;
  LONG frame_ = 0;
  bool lostReported_ = false;
};

class CV4l2Capture final : public CDeviceFilter, public IAMCrossbar, public IAMAnalogVideoDecoder {
 public:
  CV4l2Capture(int fd, const QString& path)
      : CDeviceFilter("V4L2 capture", nullptr, CLSID_KestromV4l2Capture), fd_(fd), path_(path), pin_(this, &filterLock_, fd) {
    FillTable(fd_, procAmp_, kProcAmpControls, std::size(kProcAmpControls));
    FillTable(fd_, camera_, kCameraControls, std::size(kCameraControls));
    procAmp_.SetApply([this](LONG p, LONG v, LONG f) { return ApplyControl(fd_, kProcAmpControls, std::size(kProcAmpControls), p, v, f); });
    camera_.SetApply([this](LONG p, LONG v, LONG f) { return ApplyControl(fd_, kCameraControls, std::size(kCameraControls), p, v, f); });
    v4l2_input input{};
    for (input.index = 0; Ioctl(fd_, VIDIOC_ENUMINPUT, &input) == 0; ++input.index) {
      inputs_.push_back(input);
      standards_ |= input.std;
    }
    hasTuner_ = std::any_of(inputs_.begin(), inputs_.end(), [](const v4l2_input& i) { return i.type == V4L2_INPUT_TYPE_TUNER; });
    // The card's tuner is a filter of its own, wired to this input.
    if (hasTuner_)
      tunerIn_ = std::make_unique<CAnalogInputPin>(this, &filterLock_, u"Video Tuner In", MEDIATYPE_AnalogVideo, V4l2TunerMedium(path));
  }
  ~CV4l2Capture() override {
    Stop();
    ::close(fd_);
  }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IAMVideoProcAmp) return GetInterface(&procAmpItf_, object);
    if (iid == IID_IAMCameraControl) return GetInterface(&cameraItf_, object);
    if (iid == IID_IAMDroppedFrames) return GetInterface(static_cast<IAMDroppedFrames*>(&pin_), object);
    if (iid == IID_IPersistStream) return GetInterface(&persist_, object);
    if (iid == IID_ISpecifyPropertyPages) return GetInterface(&pages_, object);
    // A capture card with several inputs has a crossbar; a webcam's single input has none.
    if (iid == IID_IAMCrossbar && (inputs_.size() > 1 || hasTuner_)) return GetInterface(static_cast<IAMCrossbar*>(this), object);
    if (iid == IID_IAMAnalogVideoDecoder && AnalogOf(standards_) != 0)
      return GetInterface(static_cast<IAMAnalogVideoDecoder*>(this), object);
    return CDeviceFilter::NonDelegatingQueryInterface(iid, object);
  }

  int GetPinCount() override { return tunerIn_ ? 2 : 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? static_cast<CBasePin*>(&pin_) : n == 1 ? tunerIn_.get() : nullptr; }
  bool IsLiveSource() const override { return true; }

  void DeviceLost() { NotifyEvent(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(GetOwner()), 0); }

  // ---- IAMCrossbar: the device's inputs to its one video output ----
  HRESULT get_PinCounts(LONG* outputs, LONG* inputs) override {
    if (!outputs || !inputs) return E_POINTER;
    *outputs = 1;
    *inputs = static_cast<LONG>(inputs_.size());
    return S_OK;
  }
  HRESULT CanRoute(LONG output, LONG input) override {
    if (output != 0 || input < -1 || input >= static_cast<LONG>(inputs_.size())) return E_INVALIDARG;
    return S_OK;
  }
  HRESULT Route(LONG output, LONG input) override {
    if (CanRoute(output, input) != S_OK || input < 0) return E_INVALIDARG;
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    int index = input;
    return Ioctl(fd_, VIDIOC_S_INPUT, &index) == 0 ? S_OK : E_FAIL;
  }
  HRESULT get_IsRoutedTo(LONG output, LONG* input) override {
    if (!input) return E_POINTER;
    if (output != 0) return E_INVALIDARG;
    int index = -1;
    if (Ioctl(fd_, VIDIOC_G_INPUT, &index) != 0) return E_FAIL;
    *input = index;
    return S_OK;
  }
  HRESULT get_CrossbarPinInfo(BOOL isInput, LONG index, LONG* related, LONG* type) override {
    if (!related || !type) return E_POINTER;
    *related = -1;
    if (!isInput) {
      if (index != 0) return E_INVALIDARG;
      *type = PhysConn_Video_VideoDecoder;
      return S_OK;
    }
    if (index < 0 || index >= static_cast<LONG>(inputs_.size())) return E_INVALIDARG;
    const v4l2_input& in = inputs_[static_cast<size_t>(index)];
    const QString name = QString::fromLatin1(reinterpret_cast<const char*>(in.name)).toLower();
    if (in.type == V4L2_INPUT_TYPE_TUNER) *type = PhysConn_Video_Tuner;
    else if (name.contains("s-video") || name.contains("svideo")) *type = PhysConn_Video_SVideo;
    else if (name.contains("composite")) *type = PhysConn_Video_Composite;
    else *type = PhysConn_Video_USB;
    return S_OK;
  }

  // ---- IAMAnalogVideoDecoder over the device's video standards ----
  HRESULT get_AvailableTVFormats(LONG* standards) override {
    if (!standards) return E_POINTER;
    *standards = AnalogOf(standards_);
    return S_OK;
  }
  HRESULT put_TVFormat(LONG standard) override {
    v4l2_std_id id = V4l2Of(standard);
    if (!id || !(id & standards_)) return E_INVALIDARG;
    return Ioctl(fd_, VIDIOC_S_STD, &id) == 0 ? S_OK : E_FAIL;
  }
  HRESULT get_TVFormat(LONG* standard) override {
    if (!standard) return E_POINTER;
    v4l2_std_id id = 0;
    if (Ioctl(fd_, VIDIOC_G_STD, &id) != 0) return E_FAIL;
    // A device reports a family; the first member stands for it.
    const LONG all = AnalogOf(id);
    *standard = all & -all;
    return S_OK;
  }
  HRESULT get_HorizontalLocked(LONG* locked) override {
    if (!locked) return E_POINTER;
    v4l2_input in{};
    int index = 0;
    if (Ioctl(fd_, VIDIOC_G_INPUT, &index) != 0) return E_FAIL;
    in.index = static_cast<uint32_t>(index);
    if (Ioctl(fd_, VIDIOC_ENUMINPUT, &in) != 0) return E_FAIL;
    *locked = (in.status & (V4L2_IN_ST_NO_H_LOCK | V4L2_IN_ST_NO_SIGNAL)) ? 0 : 1;
    return S_OK;
  }
  HRESULT put_VCRHorizontalLocking(LONG locking) override {
    vcrLocking_ = locking;
    return S_OK;
  }
  HRESULT get_VCRHorizontalLocking(LONG* locking) override {
    if (!locking) return E_POINTER;
    *locking = vcrLocking_;
    return S_OK;
  }
  HRESULT get_NumberOfLines(LONG* lines) override {
    if (!lines) return E_POINTER;
    v4l2_std_id id = 0;
    if (Ioctl(fd_, VIDIOC_G_STD, &id) != 0) return E_FAIL;
    *lines = (id & V4L2_STD_525_60) ? 525 : 625;
    return S_OK;
  }
  HRESULT put_OutputEnable(LONG enable) override {
    outputEnable_ = enable;
    return S_OK;
  }
  HRESULT get_OutputEnable(LONG* enable) override {
    if (!enable) return E_POINTER;
    *enable = outputEnable_;
    return S_OK;
  }

 private:
  int fd_;
  QString path_;
  CV4l2Pin pin_;
  ControlTable procAmp_{10};
  ControlTable camera_{7};
  TControlInterface<IAMVideoProcAmp> procAmpItf_{GetOwner(), &procAmp_};
  TControlInterface<IAMCameraControl> cameraItf_{GetOwner(), &camera_};
  CCaptureFilterPersist persist_{GetOwner(), CLSID_KestromV4l2Capture, &pin_, &procAmp_, &camera_};
  std::vector<v4l2_input> inputs_;
  v4l2_std_id standards_ = 0;
  bool hasTuner_ = false;
  std::unique_ptr<CAnalogInputPin> tunerIn_;
  LONG vcrLocking_ = 0, outputEnable_ = 1;
  // One image-control page for every camera; the others only where the device answers them.
  CSpecifyPropertyPages pages_{GetOwner(),
                               {{&IID_IAMVideoProcAmp, &CLSID_VideoProcAmpPage},
                                {&IID_IAMCameraControl, &CLSID_CameraControlPage},
                                {&IID_IAMCrossbar, &CLSID_CrossbarPage},
                                {&IID_IAMAnalogVideoDecoder, &CLSID_VideoDecoderPage}}};
};

CV4l2Pin::CV4l2Pin(CV4l2Capture* filter, std::recursive_mutex* lock, int fd)
    : CVideoCapturePin("V4L2 capture pin", filter, lock, u"Capture", PIN_CATEGORY_CAPTURE), capture_(filter), fd_(fd) {
  std::vector<VideoCapability> caps = Capabilities(fd);
  // The device's current format is the default.
  size_t chosen = 0;
  v4l2_format current{};
  current.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (Ioctl(fd, VIDIOC_G_FMT, &current) == 0) {
    const PixelKind* kind = KindOf(current.fmt.pix.pixelformat);
    for (size_t i = 0; kind && i < caps.size(); ++i)
      if (caps[i].subtype == kind->subtype && caps[i].width == LONG(current.fmt.pix.width) &&
          caps[i].height == LONG(current.fmt.pix.height))
        chosen = i;
  }
  const REFERENCE_TIME interval = caps.empty() ? 0 : caps[chosen].intervals.back();
  SetCapabilities(std::move(caps), chosen, interval);
}

HRESULT CV4l2Pin::ApplyFormat(const CMediaType& type) {
  const BITMAPINFOHEADER* h = GetBitmapInfoHeader(type);
  if (!h) return VFW_E_TYPE_NOT_ACCEPTED;
  uint32_t pixel = 0;
  for (uint32_t candidate : {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_UYVY, V4L2_PIX_FMT_YUV420, V4L2_PIX_FMT_MJPEG, V4L2_PIX_FMT_JPEG,
                             V4L2_PIX_FMT_DV}) {
    const PixelKind* k = KindOf(candidate);
    if (k && k->subtype == type.subtype) {
      v4l2_fmtdesc d{};
      d.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      for (d.index = 0; Ioctl(fd_, VIDIOC_ENUM_FMT, &d) == 0; ++d.index)
        if (d.pixelformat == candidate) pixel = candidate;
      if (pixel) break;
    }
  }
  if (!pixel) return VFW_E_TYPE_NOT_ACCEPTED;
  v4l2_format format{};
  format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  format.fmt.pix.width = static_cast<uint32_t>(h->biWidth);
  format.fmt.pix.height = static_cast<uint32_t>(std::abs(h->biHeight));
  format.fmt.pix.pixelformat = pixel;
  format.fmt.pix.field = V4L2_FIELD_ANY;
  if (Ioctl(fd_, VIDIOC_S_FMT, &format) != 0 || format.fmt.pix.width != uint32_t(h->biWidth) ||
      format.fmt.pix.height != uint32_t(std::abs(h->biHeight)))
    return VFW_E_TYPE_NOT_ACCEPTED;
  const REFERENCE_TIME interval = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->AvgTimePerFrame;
  if (interval > 0) {
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    parm.parm.capture.timeperframe.numerator = static_cast<uint32_t>(interval);
    parm.parm.capture.timeperframe.denominator = 10000000;
    Ioctl(fd_, VIDIOC_S_PARM, &parm);  // not every device sets its rate
  }
  return S_OK;
}

HRESULT CV4l2Pin::OnThreadStart() {
  ResetCounts();
  frame_ = 0;
  lastSequence_ = -1;
  lostReported_ = false;
  v4l2_requestbuffers request{};
  request.count = 4;
  request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  request.memory = V4L2_MEMORY_MMAP;
  if (Ioctl(fd_, VIDIOC_REQBUFS, &request) != 0 || request.count < 2) return VFW_E_NO_CAPTURE_HARDWARE;
  buffers_.resize(request.count);
  for (uint32_t i = 0; i < request.count; ++i) {
    v4l2_buffer b{};
    b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    b.memory = V4L2_MEMORY_MMAP;
    b.index = i;
    if (Ioctl(fd_, VIDIOC_QUERYBUF, &b) != 0) return Unmap(), E_FAIL;
    buffers_[i].length = b.length;
    buffers_[i].start = ::mmap(nullptr, b.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, b.m.offset);
    if (buffers_[i].start == MAP_FAILED || Ioctl(fd_, VIDIOC_QBUF, &b) != 0) return Unmap(), E_FAIL;
  }
  int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (Ioctl(fd_, VIDIOC_STREAMON, &type) != 0) return Unmap(), E_FAIL;
  streaming_ = true;
  return S_OK;
}

void CV4l2Pin::Unmap() {
  if (streaming_) {
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    Ioctl(fd_, VIDIOC_STREAMOFF, &type);
    streaming_ = false;
  }
  for (Mapped& m : buffers_)
    if (m.start != MAP_FAILED) ::munmap(m.start, m.length);
  buffers_.clear();
  v4l2_requestbuffers request{};
  request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  request.memory = V4L2_MEMORY_MMAP;
  Ioctl(fd_, VIDIOC_REQBUFS, &request);
}

void CV4l2Pin::OnThreadStop() { Unmap(); }

HRESULT CV4l2Pin::FillBuffer(IMediaSample* sample) {
  pollfd p{fd_, POLLIN, 0};
  const int ready = ::poll(&p, 1, 50);
  if (ready <= 0) return VFW_S_NO_MORE_ITEMS;  // nothing yet: the loop checks for a stop
  v4l2_buffer b{};
  b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  b.memory = V4L2_MEMORY_MMAP;
  if (Ioctl(fd_, VIDIOC_DQBUF, &b) != 0) {
    if (errno == ENODEV || errno == EIO || (p.revents & (POLLERR | POLLHUP))) {
      // Unplugged: tell the graph once and deliver nothing more.
      if (!lostReported_) capture_->DeviceLost();
      lostReported_ = true;
      WaitUnlessStopped(100ms);
    }
    return VFW_S_NO_MORE_ITEMS;
  }
  struct Requeue {
    int fd;
    v4l2_buffer* b;
    ~Requeue() { Ioctl(fd, VIDIOC_QBUF, b); }
  } requeue{fd_, &b};
  // Frames the driver skipped are dropped frames, and so are damaged ones.
  if (lastSequence_ >= 0 && int64_t(b.sequence) > lastSequence_ + 1)
    for (int64_t s = lastSequence_ + 1; s < int64_t(b.sequence); ++s) CountDropped(frame_++);
  lastSequence_ = b.sequence;
  const size_t expected = sources::UncompressedSize(mt_);
  if ((b.flags & V4L2_BUF_FLAG_ERROR) || b.bytesused == 0 || (expected && b.bytesused < expected) || b.index >= buffers_.size()) {
    CountDropped(frame_++);
    return VFW_S_NO_MORE_ITEMS;
  }
  if (capture_->State() != State_Running) return VFW_S_NO_MORE_ITEMS;  // live: only while running
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  const size_t bytes = std::min<size_t>(b.bytesused, static_cast<size_t>(sample->GetSize()));
  std::memcpy(data, buffers_[b.index].start, bytes);
  // The driver's capture time, not the moment this thread got to the buffer: a thread woken
  // late under load must not move the picture later against the sound.
  timespec monotonic{};
  ::clock_gettime(CLOCK_MONOTONIC, &monotonic);
  const std::optional<REFERENCE_TIME> captured = V4l2FrameStreamTime(
      b.flags, b.timestamp, REFERENCE_TIME{monotonic.tv_sec} * 10000000 + monotonic.tv_nsec / 100, capture_->StreamTime());
  if (!captured) return VFW_S_NO_MORE_ITEMS;  // taken before the stream started
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt_.pbFormat);
  REFERENCE_TIME start = *captured;
  REFERENCE_TIME stop = start + std::max<REFERENCE_TIME>(1, vih->AvgTimePerFrame);
  sample->SetActualDataLength(static_cast<LONG>(bytes));
  sample->SetTime(&start, &stop);
  sample->SetSyncPoint(1);
  ++frame_;
  CountDelivered(static_cast<LONG>(bytes));
  return S_OK;
}

int OpenCaptureNode(const QString& path, v4l2_capability* cap) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  if (Ioctl(fd, VIDIOC_QUERYCAP, cap) != 0) {
    ::close(fd);
    return -1;
  }
  const uint32_t caps = (cap->capabilities & V4L2_CAP_DEVICE_CAPS) ? cap->device_caps : cap->capabilities;
  if (!(caps & V4L2_CAP_VIDEO_CAPTURE) || !(caps & V4L2_CAP_STREAMING)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::optional<REFERENCE_TIME> V4l2FrameStreamTime(uint32_t bufferFlags, const timeval& captured,
                                                  REFERENCE_TIME monotonicNow, REFERENCE_TIME streamNow) {
  const bool monotonic = (bufferFlags & V4L2_BUF_FLAG_TIMESTAMP_MASK) == V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
  if (!monotonic || (captured.tv_sec == 0 && captured.tv_usec == 0)) return streamNow;
  const REFERENCE_TIME at = REFERENCE_TIME{captured.tv_sec} * 10000000 + REFERENCE_TIME{captured.tv_usec} * 10;
  // A capture time after the dequeue (clock read in another order) counts as the dequeue itself.
  const REFERENCE_TIME age = std::max<REFERENCE_TIME>(0, monotonicNow - at);
  if (age > streamNow) return std::nullopt;
  return streamNow - age;
}

std::vector<DeviceEntry> V4l2DeviceEntries(REFCLSID category) {
  std::vector<DeviceEntry> result;
  if (!(category == CLSID_VideoInputDeviceCategory) || !RealDevicesAllowed()) return result;
  // Stable names first: a device keeps its by-id name (and its settings) on any port.
  std::map<QString, QString> stable;
  const QDir byId(QStringLiteral("/dev/v4l/by-id"));
  for (const QFileInfo& link : byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name))
    stable.emplace(link.canonicalFilePath(), link.absoluteFilePath());
  const QDir dev(QStringLiteral("/dev"));
  for (const QString& node : dev.entryList({QStringLiteral("video*")}, QDir::System | QDir::Files, QDir::Name)) {
    const QString path = dev.filePath(node);
    v4l2_capability cap{};
    const int fd = OpenCaptureNode(path, &cap);
    if (fd < 0) continue;
    const bool usable = !Capabilities(fd).empty();
    ::close(fd);
    if (!usable) continue;
    DeviceEntry e;
    e.friendlyName = QString::fromUtf8(reinterpret_cast<const char*>(cap.card)).trimmed();
    const auto s = stable.find(QFileInfo(path).canonicalFilePath());
    e.devicePath = s != stable.end() ? s->second : path;
    e.displayName = QStringLiteral("@device:pnp:") + e.devicePath;
    e.clsid = CLSID_KestromV4l2Capture;
    const QString bound = e.devicePath;
    e.create = [bound](REFIID iid, void** object) { return CreateV4l2Filter(bound, iid, object); };
    result.push_back(std::move(e));
  }
  return result;
}

HRESULT CreateV4l2Filter(const QString& devicePath, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  v4l2_capability cap{};
  const int fd = OpenCaptureNode(devicePath, &cap);
  if (fd < 0) return VFW_E_NOT_FOUND;
  auto* filter = new (std::nothrow) CV4l2Capture(fd, devicePath);
  if (!filter) {
    ::close(fd);
    return E_OUTOFMEMORY;
  }
  filter->NonDelegatingAddRef();
  const HRESULT hr = filter->NonDelegatingQueryInterface(iid, object);
  filter->NonDelegatingRelease();
  return hr;
}

LONG AnalogStandardsOfV4l2(uint64_t standards) { return AnalogOf(standards); }

}  // namespace kestrom::dshow
