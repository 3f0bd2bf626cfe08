// The engine's format discovery (once per device, cached under the device's key) and the format,
// rate and audio settings given to the device before each build.
#include "capture/engine/FK.h"

#include "capture/engine/GraphHelpers.h"
#include "capture/engine/Registry2.h"
#include "capture/engine/SyncManager.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/base/MediaType.h"
#include "platform/dshow/sources/DvMpegInterfaces.h"

#include <cmath>
#include <cstring>

namespace kestrom::engine {

using com::ComPtr;
using namespace dshow;
using com::FAILED;
using com::S_OK;
using com::SUCCEEDED;

namespace {

/** @brief A task-memory media type that frees itself. */
struct OwnedType {
  AM_MEDIA_TYPE* type = nullptr;
  ~OwnedType() {
    if (type) DeleteMediaType(type);
  }
  AM_MEDIA_TYPE** Put() {
    if (type) DeleteMediaType(type);
    type = nullptr;
    return &type;
  }
};

BITMAPINFOHEADER* MutableHeader(AM_MEDIA_TYPE& type) {
  const int offset = BitmapHeaderOffset(MediaFormatKind(type));
  if (offset < 0 || !type.pbFormat || type.cbFormat < static_cast<ULONG>(offset) + sizeof(BITMAPINFOHEADER))
    return nullptr;
  return reinterpret_cast<BITMAPINFOHEADER*>(type.pbFormat + offset);
}

bool HasTimePerFrame(const AM_MEDIA_TYPE& type) {
  const int kind = MediaFormatKind(type);
  return (kind == 0 || kind == 1 || kind == 3 || kind == 4) && type.pbFormat && type.cbFormat >= 48;
}

REFERENCE_TIME* TimePerFrame(AM_MEDIA_TYPE& type) {
  return HasTimePerFrame(type) ? reinterpret_cast<REFERENCE_TIME*>(type.pbFormat + 40) : nullptr;
}

void EmptyRects(AM_MEDIA_TYPE& type) {
  if (HasTimePerFrame(type)) std::memset(type.pbFormat, 0, 32);
}

/** @brief The bitmap compression and bit count of a subtype, as the device's header wants them. */
void BitmapFormatOfSubtype(const GUID& subtype, DWORD& compression, WORD& bitCount) {
  const QString name = SubtypeName(subtype);
  uint32_t c = subtype.Data1;
  int bits = bitCount;
  if (!name.isEmpty()) BitmapFormatOf(name, c, bits);
  if (subtype == MEDIASUBTYPE_RGB565 || subtype == MEDIASUBTYPE_RGB555) {
    c = subtype == MEDIASUBTYPE_RGB565 ? 3 : 0;
    bits = 16;
  }
  compression = c;
  bitCount = static_cast<WORD>(bits);
}

QString FourccText(const GUID& subtype) {
  QString text;
  for (int i = 0; i < 4; ++i) text += QChar(static_cast<char16_t>((subtype.Data1 >> (8 * i)) & 0xFF));
  return text.toLower();
}

}  // namespace

const QStringList& TFK::SizeListForStandard() const {
  if (videoTable_.Int("ANTVFormats") == 0) return formats_.sizes[sf_None];
  return formats_.sizes[FamilyOfStandard(videoTable_.Int("ANTVFormat"))];
}

QString TFK::AnalogStandardFamily() const {
  if (videoTable_.Int("ANTVFormats") == 0) return FamilyName(sf_None);
  return FamilyName(FamilyOfStandard(videoTable_.Int("ANTVFormat")));
}

void TFK::SyncCurrentSizeList() {
  videoSizes_ = SizeListForStandard();
  videoSubtypes_ = formats_.subtypes;
}

bool TFK::SelectedVideoSize(int index, int& width, int& height) const {
  width = 320;
  height = 240;
  if (videoSizes_.isEmpty()) return false;
  if (index == -1) {
    index = videoTable_.Int("VideoSize");
    if (index < 0 || index >= videoSizes_.size()) index = 0;
    if (nearestWidth_ > 0 && nearestHeight_ > 0) index = NearestVideoSize(nearestWidth_, nearestHeight_);
  }
  if (IsDVSource()) return DVSize(index, videoTable_.Bool("_IsDVPal"), width, height);
  if (index < 0 || index >= videoSizes_.size()) return false;
  int w = 0, h = 0;
  if (!ParseSize(videoSizes_[index], w, h)) return false;
  width = w;
  height = h;
  return true;
}

int TFK::NearestVideoSize(int width, int height) const {
  return NearestSizeIndex(videoSizes_, width, height, videoTable_.Int("VideoSize"));
}

bool TFK::LoadFormatCache() {
  const TDevices* list = VideoDeviceList();
  if (!IsCaptureDeviceSource() || !list || boundVideoDevice_ < 0) return false;
  TFormatLists read;
  ReadFormatCache(list->RegistryKeyOf(boundVideoDevice_), read);
  formats_ = read;
  SyncCurrentSizeList();
  if (videoSizes_.isEmpty() || videoSubtypes_.isEmpty()) {
    WriteLog(QStringLiteral("ERROR when loading from registry: Formats or Subtypes empty"));
    return false;
  }
  return true;
}

bool TFK::DiscoverVideoDevice() {
  const TDevices* list = VideoDeviceList();
  const QString name = GetVideoDeviceName();
  CheckAndLog(this, true, ll_Info,
              QStringLiteral("one-time video device discovery:\r\n") + name + QStringLiteral("\r\nplease wait..."),
              TLogType::i_begin_discovering_device);
  discovering_ = true;
  const TFormatLists before = formats_;
  formats_ = {};
  const int standardsBefore = videoTable_.Int("ANTVFormats");
  videoTable_.SetInt("ANTVFormats", 0);
  ClearGraph(true);
  SnapshotBuildParameters();
  bool result = false;
  if (list && boundVideoDevice_ >= 0 && CreateBaseGraph()) {
    ReadProcAmp();
    ReadCameraControl();
    if (IsDVSource()) ReadCurrentFrameRate();
    // No capture driver dialogs on this platform.
    videoTable_.SetBool("_VfwCaptureDialogFormat", false);
    videoTable_.SetBool("_VfwCaptureDialogSource", false);
    videoTable_.SetBool("_VfwCaptureDialogDisplay", false);
    LONG standards = 0, current = 0;
    bool restoreStandard = false;
    if (decoder_ && SUCCEEDED(decoder_->get_AvailableTVFormats(&standards))) {
      restoreStandard = SUCCEEDED(decoder_->get_TVFormat(&current));
    } else if (tuner_ && SUCCEEDED(tuner_->get_AvailableTVFormats(&standards))) {
      tuner_->get_TVFormat(&current);
    }
    videoTable_.SetInt("ANTVFormats", standards);
    if (standards != 0) videoTable_.SetInt("ANTVFormat", current);
    if (sourceIsMpeg_) {
      const QString mpeg2 = com::GuidToString(MEDIASUBTYPE_MPEG2_VIDEO);
      formats_.subtypes = {QLatin1Char(' ') + mpeg2, mpeg2};
      const QStringList sizes = {QStringLiteral("  360x240"), QStringLiteral(" 320x240"), QStringLiteral(" 352x240"),
                                 QStringLiteral(" 352x288"),  QStringLiteral(" 360x240"), QStringLiteral(" 640x480"),
                                 QStringLiteral(" 704x480"),  QStringLiteral(" 720x480"), QStringLiteral(" 720x576")};
      // An encoder without analog standards streams these sizes too: its size list is the
      // one of no standard, which would otherwise stay empty and fail the discovery.
      for (int family : {sf_None, sf_NTSC, sf_PAL, sf_SECAM}) formats_.sizes[static_cast<size_t>(family)] = sizes;
    } else if (standards != 0) {
      for (int family : {sf_NTSC, sf_PAL, sf_SECAM}) ChooseAnalogStandard(family);
    } else {
      ChooseAnalogStandard(0);
    }
    FilterByAspect(formats_.sizes);
    if (restoreStandard) {
      decoder_->put_TVFormat(current);
      videoTable_.SetInt("ANTVFormat", current);
    }
    SyncCurrentSizeList();
    result = !videoSizes_.isEmpty() && !videoSubtypes_.isEmpty();
    // A discovery that found nothing caches nothing: the lists found before stay.
    if (result) result = WriteFormatCache(list->RegistryKeyOf(boundVideoDevice_), formats_);
    WriteLog(QStringLiteral("Digital video in: ") + (IsDVSource() ? QStringLiteral("yes") : QStringLiteral("no")));
    if (result) WriteLog(QStringLiteral("END Discovering ") + name);
  }
  CheckAndLog(this, true, ll_Info, QStringLiteral("end of device discovery"), TLogType::i_end_discovering_device);
  // The device is left free for the graph that uses it.
  ClearGraph(true);
  discovering_ = false;
  if (!result) {
    formats_ = before;
    videoTable_.SetInt("ANTVFormats", standardsBefore);
  }
  SyncCurrentSizeList();
  return result;
}

void TFK::ChooseAnalogStandard(int family) {
  static const std::vector<LONG> kBits[4] = {
      {},
      {0x1, 0x2, 0x4},
      {0x10, 0x20, 0x80, 0x100, 0x200, 0x400, 0x800},
      {0x1000, 0x2000, 0x4000, 0x8000, 0x10000, 0x20000, 0x40000, 0x80000, 0x100000}};
  if (family >= 1 && family <= 3) {
    const LONG supported = videoTable_.Int("ANTVFormats");
    for (LONG bit : kBits[family]) {
      if (!(supported & bit)) continue;
      if (decoder_) {
        videoTable_.SetInt("ANTVFormat", bit);
        decoder_->put_TVFormat(bit);
      }
      break;
    }
  }
  if (videoTable_.Bool("_IsVfw")) VfwSizeDiscovery();
  else WdmSizeDiscovery();
}

void TFK::SetAnalogVideoStandard(int index) {
  const uint32_t supported = static_cast<uint32_t>(videoTable_.Int("ANTVFormats"));
  int n = 0;
  for (uint32_t bit = 1; bit != 0 && bit <= 0x100000; bit <<= 1) {
    if (bit == 0x40 || !(supported & bit)) continue;  // PAL G is not one of the listed standards
    if (n++ != index) continue;
    videoTable_.SetInt("ANTVFormat", static_cast<int32_t>(bit));
    if (decoder_) decoder_->put_TVFormat(static_cast<LONG>(bit));
    SyncCurrentSizeList();
    RefreshPreview(QStringLiteral("dsavs"));
    return;
  }
}

void TFK::RecordSubtype(const GUID& subtype) {
  const QString text = com::GuidToString(subtype);
  const QString code = FourccText(subtype);
  WriteLog(QStringLiteral("seen: ") + text + QStringLiteral(" -> ") + code);
  if (code == QLatin1String("dvsd") || code == QLatin1String("dvhd") || code == QLatin1String("dvsl"))
    videoTable_.SetBool("_IsDigitalVideoIn", true);
  if (formats_.subtypes.contains(text)) return;
  formats_.subtypes << text;
  CheckAndLog(this, true, ll_Info, QStringLiteral("video format: ") + code, TLogType::i_discovering_device);
}

void TFK::TrySize(const AM_MEDIA_TYPE& type, int width, int height, QStringList& rejected) {
  QStringList& list = formats_.sizes[videoTable_.Int("ANTVFormats") == 0
                                         ? sf_None
                                         : FamilyOfStandard(videoTable_.Int("ANTVFormat"))];
  const QString text = SizeText(width, height);
  if (list.contains(text) || rejected.contains(text) || !videoSourcePin_) return;
  CMediaType copy(type);
  BITMAPINFOHEADER* h = MutableHeader(copy);
  if (!h) return;
  h->biSize = 40;
  h->biWidth = width;
  h->biHeight = height;
  h->biSizeImage = static_cast<DWORD>(ImageSize(width, height, h->biBitCount));
  h->biClrUsed = h->biClrImportant = 0;
  EmptyRects(copy);
  if (videoSourcePin_->QueryAccept(&copy) != S_OK) {
    rejected << text;
    return;
  }
  if (list.isEmpty()) list << QStringLiteral("   ") + text;
  AddSorted(list, text);
  QString message = QStringLiteral("video size: ") + text;
  if (videoTable_.Int("ANTVFormats") != 0) message += QStringLiteral(" (") + AnalogStandardFamily() + QLatin1Char(')');
  CheckAndLog(this, true, ll_Info, message, TLogType::i_discovering_device);
}

void TFK::WdmSizeDiscovery() {
  if (!videoSourcePin_ || !streamConfig_) {
    WriteLog(QStringLiteral("ERROR: NO OUPTUT PIN FOUND IN FORMAT DISCOVERING"));
    return;
  }
  QStringList& list = formats_.sizes[videoTable_.Int("ANTVFormats") == 0
                                         ? sf_None
                                         : FamilyOfStandard(videoTable_.Int("ANTVFormat"))];
  list.clear();
  formats_.subtypes.clear();
  QStringList rejected;
  WriteLog(QStringLiteral("searching number of capabilities"));
  int count = 0, size = 0;
  if (FAILED(streamConfig_->GetNumberOfCapabilities(&count, &size))) {
    WriteLog(QStringLiteral("searching number of capabilities: no AMVideoStreamConfig"));
    count = 0;
  } else if (count == 0) {
    WriteLog(QStringLiteral("number of capabilities = 0"));
  } else {
    WriteLog(QStringLiteral("number of capabilities ok"));
  }
  if (count > 0) {
    WriteLog(QStringLiteral("CapAvail: looping capabilities ") + QString::number(count));
    std::vector<BYTE> caps(static_cast<size_t>(std::max<int>(size, sizeof(VIDEO_STREAM_CONFIG_CAPS))));
    for (int i = 0; i < count; ++i) {
      OwnedType type;
      if (FAILED(streamConfig_->GetStreamCaps(i, type.Put(), caps.data())) || !type.type) continue;
      RecordSubtype(type.type->subtype);
      const BITMAPINFOHEADER* h = BitmapHeaderOf(*type.type);
      if (!h) continue;
      VIDEO_STREAM_CONFIG_CAPS c;
      std::memcpy(&c, caps.data(), sizeof c);
      const auto tryOne = [&](int w, int hh) { TrySize(*type.type, w, hh, rejected); };
      for (const SIZE& start : {SIZE{h->biWidth, std::abs(h->biHeight)}, c.MinOutputSize, c.MaxOutputSize})
        EnumerateSizes(start.cx, start.cy, c.MinOutputSize.cx, c.MinOutputSize.cy, c.MaxOutputSize.cx,
                       c.MaxOutputSize.cy, tryOne);
    }
  } else {
    WriteLog(QStringLiteral("No CapAvail: enumerating media types"));
    ComPtr<IEnumMediaTypes> types;
    if (SUCCEEDED(videoSourcePin_->EnumMediaTypes(types.Put())) && types) {
      AM_MEDIA_TYPE* t = nullptr;
      ULONG fetched = 0;
      while (types->Next(1, &t, &fetched) == S_OK && t) {
        OwnedType owned{t};
        t = nullptr;
        const BITMAPINFOHEADER* h = BitmapHeaderOf(*owned.type);
        if (!h) continue;
        RecordSubtype(owned.type->subtype);
        EnumerateSizes(h->biWidth, std::abs(h->biHeight), 80, 60, 2048, 1536,
                       [&](int w, int hh) { TrySize(*owned.type, w, hh, rejected); });
      }
    }
  }
  const GUID Y422 = GUID{0x32323459, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
  for (const GUID* front : {&MEDIASUBTYPE_RGB565, &MEDIASUBTYPE_UYVY, &MEDIASUBTYPE_I420, &MEDIASUBTYPE_YUY2,
                            &MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_RGB555, &MEDIASUBTYPE_RGB24, &Y422}) {
    const QString text = com::GuidToString(*front);
    if (formats_.subtypes.removeAll(text) > 0) formats_.subtypes.prepend(text);
  }
  FinishLists();
  WriteLog(QStringLiteral("END Discovering formats for ") + GetVideoDeviceName());
}

void TFK::VfwSizeDiscovery() {
  // No old-style capture drivers on this platform: their devices are discovered as the others are.
  WriteLog(QStringLiteral("BEGIN Discovering vfw formats for ") + GetVideoDeviceName());
  WdmSizeDiscovery();
}

void TFK::FinishLists() {
  if (!formats_.subtypes.isEmpty()) formats_.subtypes.prepend(formats_.subtypes.first());
  QStringList& list = formats_.sizes[videoTable_.Int("ANTVFormats") == 0
                                         ? sf_None
                                         : FamilyOfStandard(videoTable_.Int("ANTVFormat"))];
  if (IsDVSource()) list = DVSizeList();
  else PreferDefaultSize(list);
}

int TFK::SelectedSubtypeIndex() {
  int index = videoTable_.Int("VideoSubtype");
  if (index < 0 || index >= videoSubtypes_.size()) {
    index = 0;
    videoTable_.SetInt("VideoSubtype", 0);
  }
  return index;
}

void TFK::ApplyVideoFormat() {
  const bool wdm = !videoTable_.Bool("_IsVfw");
  const bool nearest = nearestWidth_ > 0 && nearestHeight_ > 0;
  if (videoSizes_.isEmpty() || !streamConfig_ || !(wdm || videoTable_.Int("VideoSize") != 0 || nearest)) return;
  const int selected = videoTable_.Int("VideoSize");
  if (selected < 0 || selected >= videoSizes_.size()) {
    videoTable_.SetInt("VideoSize", 0);
    CheckAndLog(this, true, ll_Error, QStringLiteral("VideoSize index out of range, default size used"),
                TLogType::e_index_out_of_range);
    return;
  }
  int width = 0, height = 0;
  const bool sized = ParseSize(videoSizes_[nearest ? NearestVideoSize(nearestWidth_, nearestHeight_) : selected], width, height);
  OwnedType format;
  if (!LogResult(this, streamConfig_->GetFormat(format.Put()), ll_Error, QStringLiteral("get Video format"),
                 TLogType::e_get_video_format) ||
      !format.type)
    return;
  AM_MEDIA_TYPE& type = *format.type;
  const int kind = MediaFormatKind(type);
  if (kind == 8) return;
  BITMAPINFOHEADER* h = MutableHeader(type);
  if (wdm && !videoSubtypes_.isEmpty()) {
    const std::optional<GUID> subtype = com::GuidFromString(videoSubtypes_[SelectedSubtypeIndex()].trimmed());
    if (subtype) {
      type.subtype = *subtype;
      // The header must describe the subtype too: a device checks both.
      if (h) BitmapFormatOfSubtype(*subtype, h->biCompression, h->biBitCount);
    }
  }
  // A rate of 0 leaves the device's own interval.
  if (REFERENCE_TIME* time = TimePerFrame(type); time && frameRate_ > 0)
    *time = static_cast<REFERENCE_TIME>(std::llround(1e9 / frameRate_));
  if (h) {
    EmptyRects(type);
    if (sized) {
      h->biWidth = width;
      h->biHeight = height;
    }
    if (!wdm) {
      h->biSize = 40;
      h->biPlanes = 1;
      h->biClrUsed = h->biClrImportant = 0;
      uint32_t compression = h->biCompression;
      int bits = h->biBitCount;
      BitmapFormatOf(videoSubtypes_.isEmpty() ? QString() : videoSubtypes_[SelectedSubtypeIndex()].trimmed(),
                     compression, bits);
      h->biCompression = compression;
      h->biBitCount = static_cast<WORD>(bits);
    }
    h->biSizeImage = static_cast<DWORD>(ImageSize(h->biWidth, std::abs(h->biHeight), h->biBitCount));
    type.lSampleSize = type.bFixedSizeSamples ? h->biSizeImage : type.lSampleSize;
  }
  LogResult(this, streamConfig_->SetFormat(&type), ll_Trace, QStringLiteral("set video format"),
            TLogType::e_set_video_size);
}

void TFK::ApplyDVFormat() {
  if (!streamConfig_ || videoSizes_.isEmpty()) return;
  const int selected = videoTable_.Int("VideoSize");
  if (selected < 0 || selected >= videoSizes_.size()) {
    videoTable_.SetInt("VideoSize", 0);
    CheckAndLog(this, true, ll_Error, QStringLiteral("VideoSize index out of range, default size used"),
                TLogType::e_index_out_of_range);
    return;
  }
  OwnedType format;
  if (FAILED(streamConfig_->GetFormat(format.Put())) || !format.type) return;
  if (MediaFormatKind(*format.type) != 2 || videoSubtypes_.isEmpty()) return;
  if (const auto subtype = com::GuidFromString(videoSubtypes_[SelectedSubtypeIndex()].trimmed()))
    format.type->subtype = *subtype;
  LogResult(this, streamConfig_->SetFormat(format.type), ll_Error, QStringLiteral("set video format"),
            TLogType::e_set_video_size);
}

bool TFK::ApplyFrameRate() {
  if (IsDVSource()) return false;
  if (frameRate_ == 0) return true;
  if (!streamConfig_) return false;
  OwnedType format;
  if (FAILED(streamConfig_->GetFormat(format.Put())) || !format.type) return false;
  REFERENCE_TIME* time = TimePerFrame(*format.type);
  if (!time) return false;
  *time = static_cast<REFERENCE_TIME>(std::llround(1e9 / frameRate_));
  return SUCCEEDED(streamConfig_->SetFormat(format.type));
}

void TFK::ApplyAudioFormat(IPin* pin) {
  ComPtr<IAMStreamConfig> config;
  if (!pin || FAILED(pin->QueryInterface(IID_IAMStreamConfig, config.PutVoid())) || !config) return;
  OwnedType format;
  if (!LogResult(this, config->GetFormat(format.Put()), ll_Error, QStringLiteral("get audio format"),
                 TLogType::e_get_audio_format) ||
      !format.type)
    return;
  AM_MEDIA_TYPE& type = *format.type;
  if (!(type.formattype == FORMAT_WaveFormatEx) || type.cbFormat < sizeof(WAVEFORMATEX)) return;
  auto* wave = reinterpret_cast<WAVEFORMATEX*>(type.pbFormat);
  if (wave->wFormatTag != 1) {
    CheckAndLog(this, AudioFormat_ != af_default, ll_Warning, QStringLiteral("audio format applies only to PCM"),
                TLogType::w_set_audio_format);
    return;
  }
  const std::optional<TPcmFormat> pcm = AudioFormatOf(AudioFormat_);
  if (AudioFormat_ == af_default || !pcm) return;
  wave->nSamplesPerSec = static_cast<DWORD>(pcm->SamplesPerSec);
  wave->wBitsPerSample = static_cast<WORD>(pcm->BitsPerSample);
  wave->nChannels = static_cast<WORD>(pcm->Channels);
  wave->nBlockAlign = static_cast<WORD>(pcm->BlockAlign);
  wave->nAvgBytesPerSec = static_cast<DWORD>(pcm->AvgBytesPerSec);
  type.lSampleSize = wave->nBlockAlign;
  LogResult(this, config->SetFormat(&type), ll_Warning, QStringLiteral("set audio format"), TLogType::w_set_audio_format);
}

void TFK::ReadCurrentFormat() {
  OwnedType format;
  if (!streamConfig_ || FAILED(streamConfig_->GetFormat(format.Put())) || !format.type) return;
  const int subtype = static_cast<int>(videoSubtypes_.indexOf(com::GuidToString(format.type->subtype)));
  if (subtype >= 0) videoTable_.SetInt("VideoSubtype", subtype);
  const BITMAPINFOHEADER* h = BitmapHeaderOf(*format.type);
  if (!h) return;
  for (int i = 0; i < videoSizes_.size(); ++i) {
    int w = 0, hh = 0;
    if (ParseSize(videoSizes_[i], w, hh) && w == h->biWidth && hh == std::abs(h->biHeight)) {
      videoTable_.SetInt("VideoSize", i);
      return;
    }
  }
}

void TFK::ReadCurrentFrameRate() {
  int64_t time = 0;
  if (IsDVSource() && videoTable_.Bool("ExtTransportAvail")) {
    DVFrameDuration(time);
  } else {
    OwnedType format;
    if (!streamConfig_ || FAILED(streamConfig_->GetFormat(format.Put())) || !format.type) return;
    if (const REFERENCE_TIME* t = TimePerFrame(*format.type)) time = *t;
  }
  // A format without a frame time keeps the rate it had.
  if (time > 0) currentFrameRate_ = static_cast<int>(std::llround(1e9 / static_cast<double>(time)));
}

int TFK::CurrentVideoInput() const {
  LONG routed = -1;
  if (!videoCrossbar_ || FAILED(videoCrossbar_->get_IsRoutedTo(0, &routed))) return 0;
  const std::vector<TVideoInput> inputs = VideoInputNames(videoCrossbar_.Get());
  for (size_t i = 0; i < inputs.size(); ++i)
    if (inputs[i].index == routed) return static_cast<int>(i);
  return 0;
}

bool TFK::DiscoverAudioDevice() {
  const TDevices* list = AudioDeviceList();
  const QString name = list ? list->Name(boundAudioDevice_) : QString();
  WriteLog(QStringLiteral("BEGIN Discovering ") + name);
  CheckAndLog(this, true, ll_Info,
              QStringLiteral("one-time audio device discovery:\r\n") + name + QStringLiteral("\r\nplease wait..."),
              TLogType::i_begin_discovering_device);
  discovering_ = true;
  ClearGraph(true);
  bool result = false;
  if (GlobalDevicesState() == 2 && list && boundAudioDevice_ >= 0) {
    SnapshotBuildParameters();
    int index = boundAudioDevice_;
    ComPtr<IBaseFilter> filter;
    if (CreateFilterGraph() && BindDevice(AudioDeviceList(), index, QString(), false, false, filter)) {
      audioSource_ = filter;
      audioTable_.SetBool("AIsSoundCard", CountAudioInputs() > 4);
      ComPtr<IAMCrossbar> crossbar;
      const bool hasCrossbar =
          builder_ && SUCCEEDED(builder_->FindInterface(&LOOK_UPSTREAM_ONLY, nullptr, filter.Get(), IID_IAMCrossbar,
                                                        crossbar.PutVoid()));
      audioTable_.SetBool("AIsAudioCrossbarAvail", hasCrossbar);
      LogYesNo(hasCrossbar, QStringLiteral("audio crossbar available on audio device"));
      QStringList names;
      for (const ComPtr<IPin>& pin : PinsOf(filter.Get())) {
        PIN_DIRECTION d = PINDIR_OUTPUT;
        if (SUCCEEDED(pin->QueryDirection(&d)) && d == PINDIR_INPUT) names << PinName(pin.Get());
      }
      audioTable_.SetText("AudioInputs", names.join(QStringLiteral("\r\n")));
      WriteLog(QStringLiteral("Audio pin list\r\n") + names.join(QStringLiteral("\r\n")));
      audioTable_.SetInt("AudioInput", 0);
      result = true;
    }
  }
  WriteLog(QStringLiteral("END Discovering ") + name);
  CheckAndLog(this, true, ll_Info, QStringLiteral("end of device discovery"), TLogType::i_end_discovering_device);
  ClearGraph(true);
  discovering_ = false;
  return result;
}

}  // namespace kestrom::engine
