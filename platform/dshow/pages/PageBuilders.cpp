#include "platform/dshow/pages/PageBuilders.h"

#include "platform/dshow/base/FilterGraph.h"
#include "platform/dshow/base/MediaType.h"
#include "platform/dshow/sources/CapturePin.h"
#include "platform/dshow/sources/DeviceInterfaces.h"
#include "platform/dshow/writers/WriterInterfaces.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>

namespace kestrom::dshow::pages {

using namespace com;

namespace {

template <typename T>
ComPtr<T> FirstAnswering(const Objects& objects, REFIID iid) {
  for (const ComPtr<IUnknown>& object : objects) {
    ComPtr<T> itf;
    if (object && SUCCEEDED(object->QueryInterface(iid, itf.PutVoid())) && itf) return itf;
  }
  return {};
}

// "WhiteBalance" is shown as "White Balance".
QString Spaced(const QString& name) {
  QString label;
  for (int i = 0; i < name.size(); ++i) {
    if (i > 0 && name[i].isUpper() && name[i - 1].isLower()) label += ' ';
    label += name[i];
  }
  return label;
}

PageField Range(const QString& name, LONG min, LONG max, LONG step, LONG value) {
  PageField field;
  field.name = name;
  field.label = Spaced(name);
  field.kind = FieldKind::Range;
  field.min = min;
  field.max = max;
  field.step = step;
  field.defaultValue = min;
  field.value = value;
  return field;
}

PageField Check(const QString& name, const QString& label, bool on) {
  PageField field;
  field.name = name;
  field.label = label;
  field.kind = FieldKind::Check;
  field.max = 1;
  field.value = on ? 1 : 0;
  return field;
}

PageField Choice(const QString& name, const QStringList& choices, int index) {
  PageField field;
  field.name = name;
  field.label = Spaced(name);
  field.kind = FieldKind::Choice;
  field.choices = choices;
  field.value = std::max(index, 0);
  return field;
}

// ---- image and camera controls: act as they move ----

constexpr std::array<const char*, 10> kProcAmpNames{"Brightness", "Contrast", "Hue", "Saturation", "Sharpness",
                                                    "Gamma", "ColorEnable", "WhiteBalance", "BacklightCompensation", "Gain"};
constexpr std::array<const char*, 7> kCameraNames{"Pan", "Tilt", "Roll", "Zoom", "Exposure", "Iris", "Focus"};

template <typename Control, size_t N>
void BuildControlRows(const ComPtr<Control>& control, const std::array<const char*, N>& names, LONG autoFlag,
                      LONG manualFlag, PageModel* model) {
  for (LONG property = 0; property < static_cast<LONG>(N); ++property) {
    LONG min = 0, max = 0, step = 1, defaultValue = 0, caps = 0;
    if (FAILED(control->GetRange(property, &min, &max, &step, &defaultValue, &caps))) continue;
    LONG value = defaultValue, flags = manualFlag;
    if (FAILED(control->Get(property, &value, &flags))) {
      value = defaultValue;
      flags = manualFlag;
    }
    const QString name = names[static_cast<size_t>(property)];
    const QString autoName = name + "Auto";
    const bool canAuto = (caps & autoFlag) != 0;
    PageField row = Range(name, min, max, step, value);
    row.defaultValue = defaultValue;
    row.live = true;
    row.hasDefault = true;
    if (canAuto) row.turnsOff = autoName;
    // The value is set by hand first, then Auto again when its box is on: a control in Auto keeps
    // its own value, so this is how Cancel gets back both the value and the Auto the page found.
    const bool canManual = (caps & manualFlag) != 0;
    row.write = [control, model, property, autoName, canAuto, canManual, autoFlag, manualFlag](LONG v) {
      HRESULT hr = S_OK;
      if (canManual) hr = control->Set(property, v, manualFlag);
      if (canAuto && model->Value(autoName) != 0) hr = control->Set(property, v, autoFlag);
      return hr;
    };
    model->Add(std::move(row));
    if (!canAuto) continue;
    PageField box = Check(autoName, "Auto", (flags & autoFlag) != 0);
    box.live = true;
    box.rowOf = name;
    box.write = [control, model, property, name, autoFlag, manualFlag](LONG on) {
      return control->Set(property, model->Value(name), on ? autoFlag : manualFlag);
    };
    model->Add(std::move(box));
  }
}

bool BuildVideoProcAmp(const Objects& objects, PageModel* model) {
  auto control = FirstAnswering<IAMVideoProcAmp>(objects, IID_IAMVideoProcAmp);
  if (control) BuildControlRows(control, kProcAmpNames, VideoProcAmp_Flags_Auto, VideoProcAmp_Flags_Manual, model);
  return !model->Empty();
}

bool BuildCameraControl(const Objects& objects, PageModel* model) {
  auto control = FirstAnswering<IAMCameraControl>(objects, IID_IAMCameraControl);
  if (control) BuildControlRows(control, kCameraNames, CameraControl_Flags_Auto, CameraControl_Flags_Manual, model);
  return !model->Empty();
}

// ---- analog video decoder ----

struct StandardName {
  LONG bit;
  const char* name;
};
constexpr StandardName kStandards[] = {
    {AnalogVideo_NTSC_M, "NTSC_M"},   {AnalogVideo_NTSC_M_J, "NTSC_M_J"}, {AnalogVideo_NTSC_433, "NTSC_433"},
    {AnalogVideo_PAL_B, "PAL_B"},     {AnalogVideo_PAL_D, "PAL_D"},       {AnalogVideo_PAL_G, "PAL_G"},
    {AnalogVideo_PAL_H, "PAL_H"},     {AnalogVideo_PAL_I, "PAL_I"},       {AnalogVideo_PAL_M, "PAL_M"},
    {AnalogVideo_PAL_N, "PAL_N"},     {AnalogVideo_PAL_60, "PAL_60"},     {AnalogVideo_SECAM_B, "SECAM_B"},
    {AnalogVideo_SECAM_D, "SECAM_D"}, {AnalogVideo_SECAM_G, "SECAM_G"},   {AnalogVideo_SECAM_H, "SECAM_H"},
    {AnalogVideo_SECAM_K, "SECAM_K"}, {AnalogVideo_SECAM_K1, "SECAM_K1"}, {AnalogVideo_SECAM_L, "SECAM_L"},
    {AnalogVideo_SECAM_L1, "SECAM_L1"}, {AnalogVideo_PAL_N_COMBO, "PAL_N_COMBO"},
};

bool BuildVideoDecoder(const Objects& objects, PageModel* model) {
  auto decoder = FirstAnswering<IAMAnalogVideoDecoder>(objects, IID_IAMAnalogVideoDecoder);
  if (!decoder) return false;
  LONG available = 0, current = 0;
  if (SUCCEEDED(decoder->get_AvailableTVFormats(&available)) && available != 0) {
    QStringList names;
    std::vector<LONG> bits;
    int index = 0;
    decoder->get_TVFormat(&current);
    for (const StandardName& s : kStandards) {
      if (!(available & s.bit)) continue;
      if (s.bit == current) index = static_cast<int>(bits.size());
      bits.push_back(s.bit);
      names << s.name;
    }
    PageField row = Choice("VideoStandard", names, index);
    row.write = [decoder, bits](LONG i) { return decoder->put_TVFormat(bits[static_cast<size_t>(i)]); };
    model->Add(std::move(row));
  }
  LONG locking = 0;
  if (SUCCEEDED(decoder->get_VCRHorizontalLocking(&locking))) {
    PageField row = Check("VCRHorizontalLocking", "VCR Horizontal Locking", locking != 0);
    row.write = [decoder](LONG on) { return decoder->put_VCRHorizontalLocking(on); };
    model->Add(std::move(row));
  }
  LONG enable = 0;
  if (SUCCEEDED(decoder->get_OutputEnable(&enable))) {
    PageField row = Check("OutputEnable", "Output Enable", enable != 0);
    row.write = [decoder](LONG on) { return decoder->put_OutputEnable(on); };
    model->Add(std::move(row));
  }
  return !model->Empty();
}

// ---- stream format of a capture pin ----

struct TypeDeleter {
  void operator()(AM_MEDIA_TYPE* type) const { DeleteMediaType(type); }
};
using TypePtr = std::unique_ptr<AM_MEDIA_TYPE, TypeDeleter>;

TypePtr CurrentFormat(IAMStreamConfig* config) {
  AM_MEDIA_TYPE* type = nullptr;
  if (FAILED(config->GetFormat(&type))) return nullptr;
  return TypePtr(type);
}

QString SubtypeName(const GUID& subtype) {
  struct Named {
    const GUID* guid;
    const char* name;
  };
  static const Named kNames[] = {{&MEDIASUBTYPE_RGB24, "RGB24"}, {&MEDIASUBTYPE_RGB32, "RGB32"},
                                 {&MEDIASUBTYPE_RGB565, "RGB565"}, {&MEDIASUBTYPE_RGB555, "RGB555"},
                                 {&MEDIASUBTYPE_RGB8, "RGB8"}};
  for (const Named& n : kNames)
    if (*n.guid == subtype) return n.name;
  // Other subtypes are FOURCCs.
  QString fourcc;
  for (int i = 0; i < 4; ++i) fourcc += QChar(static_cast<char>((subtype.Data1 >> (8 * i)) & 0xFF));
  return fourcc;
}

QString SizeName(LONG width, LONG height) { return QStringLiteral("%1x%2").arg(width).arg(height); }

QString RateName(double rate) {
  QString text = QString::number(rate, 'f', 3);
  while (text.endsWith('0')) text.chop(1);
  if (text.endsWith('.')) text.chop(1);
  return text;
}

constexpr double kCommonRates[] = {5.0, 7.5, 10.0, 12.5, 15.0, 20.0, 24000.0 / 1001.0, 24.0, 25.0,
                                   30000.0 / 1001.0, 30.0, 50.0, 60000.0 / 1001.0, 60.0};
constexpr REFERENCE_TIME kIntervalTolerance = 10;

bool BuildVideoStreamFormat(const ComPtr<IAMStreamConfig>& config, const AM_MEDIA_TYPE& current, PageModel* model) {
  int count = 0, size = 0;
  if (FAILED(config->GetNumberOfCapabilities(&count, &size)) || count <= 0 ||
      size < static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS)))
    return false;
  struct Cap {
    int index;
    GUID subtype;
    LONG width, height;
    REFERENCE_TIME fastest, slowest;
  };
  auto caps = std::make_shared<std::vector<Cap>>();
  std::vector<BYTE> record(static_cast<size_t>(size));
  for (int i = 0; i < count; ++i) {
    AM_MEDIA_TYPE* type = nullptr;
    if (config->GetStreamCaps(i, &type, record.data()) != S_OK || !type) continue;
    TypePtr owned(type);
    VIDEO_STREAM_CONFIG_CAPS vscc;
    std::memcpy(&vscc, record.data(), sizeof vscc);
    const BITMAPINFOHEADER* h = GetBitmapInfoHeader(*type);
    if (!h || !(type->formattype == FORMAT_VideoInfo)) continue;
    caps->push_back({i, type->subtype, h->biWidth, std::abs(h->biHeight), vscc.MinFrameInterval, vscc.MaxFrameInterval});
  }
  if (caps->empty()) return false;
  const BITMAPINFOHEADER* now = GetBitmapInfoHeader(current);
  const auto* nowInfo = current.formattype == FORMAT_VideoInfo ? reinterpret_cast<const VIDEOINFOHEADER*>(current.pbFormat) : nullptr;

  QStringList subtypes, sizes;
  std::vector<GUID> subtypeIds;
  for (const Cap& cap : *caps) {
    if (!subtypes.contains(SubtypeName(cap.subtype))) {
      subtypes << SubtypeName(cap.subtype);
      subtypeIds.push_back(cap.subtype);
    }
    if (!sizes.contains(SizeName(cap.width, cap.height))) sizes << SizeName(cap.width, cap.height);
  }
  std::vector<double> rates;
  auto offered = [&](REFERENCE_TIME interval) {
    return std::any_of(caps->begin(), caps->end(), [&](const Cap& c) {
      return interval >= c.fastest - kIntervalTolerance && interval <= c.slowest + kIntervalTolerance;
    });
  };
  for (double rate : kCommonRates)
    if (offered(IntervalOfRate(rate))) rates.push_back(rate);
  double nowRate = 0.0;
  if (nowInfo && nowInfo->AvgTimePerFrame > 0) {
    nowRate = 1e7 / double(nowInfo->AvgTimePerFrame);
    const bool listed = std::any_of(rates.begin(), rates.end(), [&](double r) {
      return std::llabs(IntervalOfRate(r) - nowInfo->AvgTimePerFrame) <= kIntervalTolerance;
    });
    if (!listed) rates.push_back(nowRate);
  }
  std::sort(rates.begin(), rates.end());
  QStringList rateNames;
  int rateIndex = 0;
  for (size_t i = 0; i < rates.size(); ++i) {
    rateNames << RateName(rates[i]);
    if (nowInfo && std::llabs(IntervalOfRate(rates[i]) - nowInfo->AvgTimePerFrame) <= kIntervalTolerance)
      rateIndex = static_cast<int>(i);
  }

  model->Add(Choice("ColorSpace", subtypes, std::max<int>(0, subtypes.indexOf(SubtypeName(current.subtype)))));
  model->Add(Choice("OutputSize", sizes, now ? std::max<int>(0, sizes.indexOf(SizeName(now->biWidth, std::abs(now->biHeight)))) : 0));
  if (!rateNames.isEmpty()) model->Add(Choice("FrameRate", rateNames, rateIndex));
  // The three rows make one format: the capability of that kind and size at the nearest rate it offers.
  model->SetCommit([config, caps, subtypeIds, sizes, rates, model]() -> HRESULT {
    const GUID subtype = subtypeIds[static_cast<size_t>(model->Value("ColorSpace"))];
    const QString size = sizes[model->Value("OutputSize")];
    const auto cap = std::find_if(caps->begin(), caps->end(),
                                  [&](const Cap& c) { return c.subtype == subtype && SizeName(c.width, c.height) == size; });
    if (cap == caps->end()) return VFW_E_INVALIDMEDIATYPE;
    AM_MEDIA_TYPE* type = nullptr;
    std::vector<BYTE> record(sizeof(VIDEO_STREAM_CONFIG_CAPS));
    if (config->GetStreamCaps(cap->index, &type, record.data()) != S_OK || !type) return E_FAIL;
    TypePtr owned(type);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
    if (!rates.empty()) {
      const REFERENCE_TIME wanted = IntervalOfRate(rates[static_cast<size_t>(model->Value("FrameRate"))]);
      vih->AvgTimePerFrame = std::clamp(wanted, cap->fastest, std::max(cap->fastest, cap->slowest));
    }
    return config->SetFormat(type);
  });
  return true;
}

constexpr int kCommonSampleRates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000, 96000};

QString ChannelsName(int channels) {
  return channels == 1 ? QStringLiteral("Mono") : channels == 2 ? QStringLiteral("Stereo") : QString::number(channels);
}

bool BuildAudioStreamFormat(const ComPtr<IAMStreamConfig>& config, const AM_MEDIA_TYPE& current, PageModel* model) {
  int count = 0, size = 0;
  if (FAILED(config->GetNumberOfCapabilities(&count, &size)) || count <= 0 ||
      size < static_cast<int>(sizeof(AUDIO_STREAM_CONFIG_CAPS)) || current.cbFormat < sizeof(WAVEFORMATEX))
    return false;
  std::vector<BYTE> record(static_cast<size_t>(size));
  AM_MEDIA_TYPE* type = nullptr;
  if (config->GetStreamCaps(0, &type, record.data()) != S_OK || !type) return false;
  DeleteMediaType(type);
  AUDIO_STREAM_CONFIG_CAPS ascc;
  std::memcpy(&ascc, record.data(), sizeof ascc);
  const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(current.pbFormat);

  std::vector<int> rates;
  for (int rate : kCommonSampleRates)
    if (rate >= static_cast<int>(ascc.MinimumSampleFrequency) && rate <= static_cast<int>(ascc.MaximumSampleFrequency))
      rates.push_back(rate);
  if (std::find(rates.begin(), rates.end(), static_cast<int>(wfx->nSamplesPerSec)) == rates.end())
    rates.push_back(static_cast<int>(wfx->nSamplesPerSec));
  std::sort(rates.begin(), rates.end());
  std::vector<int> bits, channels;
  const int bitStep = std::max<int>(8, static_cast<int>(ascc.BitsPerSampleGranularity));
  for (int b = static_cast<int>(ascc.MinimumBitsPerSample); b <= static_cast<int>(ascc.MaximumBitsPerSample) && b > 0; b += bitStep)
    bits.push_back(b);
  for (int c = static_cast<int>(ascc.MinimumChannels); c <= static_cast<int>(ascc.MaximumChannels) && c > 0; ++c)
    channels.push_back(c);
  if (bits.empty() || channels.empty()) return false;

  QStringList rateNames, bitNames, channelNames;
  for (int r : rates) rateNames << QString::number(r);
  for (int b : bits) bitNames << QString::number(b);
  for (int c : channels) channelNames << ChannelsName(c);
  auto indexOf = [](const std::vector<int>& list, int value) {
    const auto it = std::find(list.begin(), list.end(), value);
    return it == list.end() ? 0 : static_cast<int>(it - list.begin());
  };
  model->Add(Choice("SampleRate", rateNames, indexOf(rates, static_cast<int>(wfx->nSamplesPerSec))));
  model->Add(Choice("BitsPerSample", bitNames, indexOf(bits, wfx->wBitsPerSample)));
  model->Add(Choice("Channels", channelNames, indexOf(channels, wfx->nChannels)));
  model->SetCommit([config, rates, bits, channels, model]() -> HRESULT {
    CMediaType pcm = MakePcmType(rates[static_cast<size_t>(model->Value("SampleRate"))],
                                 channels[static_cast<size_t>(model->Value("Channels"))],
                                 bits[static_cast<size_t>(model->Value("BitsPerSample"))]);
    return config->SetFormat(&pcm);
  });
  return true;
}

bool BuildStreamFormat(const Objects& objects, PageModel* model) {
  auto config = FirstAnswering<IAMStreamConfig>(objects, IID_IAMStreamConfig);
  if (!config) return false;
  TypePtr current = CurrentFormat(config.Get());
  if (!current) return false;
  if (current->majortype == MEDIATYPE_Video) return BuildVideoStreamFormat(config, *current, model);
  if (current->majortype == MEDIATYPE_Audio) return BuildAudioStreamFormat(config, *current, model);
  return false;
}

// ---- crossbar ----

QString ConnectorName(LONG type) {
  switch (type) {
    case PhysConn_Video_Tuner: return "Video Tuner";
    case PhysConn_Video_Composite: return "Video Composite";
    case PhysConn_Video_SVideo: return "Video SVideo";
    case PhysConn_Video_RGB: return "Video RGB";
    case PhysConn_Video_USB: return "Video USB";
    case PhysConn_Video_VideoDecoder: return "Video Decoder";
    case PhysConn_Audio_Tuner: return "Audio Tuner";
    case PhysConn_Audio_Line: return "Audio Line";
    case PhysConn_Audio_Mic: return "Audio Mic";
    case PhysConn_Audio_AudioDecoder: return "Audio Decoder";
    default: return QStringLiteral("Connector %1").arg(type);
  }
}

bool BuildCrossbar(const Objects& objects, PageModel* model) {
  auto crossbar = FirstAnswering<IAMCrossbar>(objects, IID_IAMCrossbar);
  if (!crossbar) return false;
  LONG outputs = 0, inputs = 0;
  if (FAILED(crossbar->get_PinCounts(&outputs, &inputs))) return false;
  for (LONG out = 0; out < outputs; ++out) {
    LONG related = 0, type = 0;
    if (FAILED(crossbar->get_CrossbarPinInfo(FALSE, out, &related, &type))) continue;
    LONG routed = -1;
    crossbar->get_IsRoutedTo(out, &routed);
    QStringList names;
    std::vector<LONG> routes;
    int index = 0;
    for (LONG in = 0; in < inputs; ++in) {
      LONG inRelated = 0, inType = 0;
      if (crossbar->CanRoute(out, in) != S_OK || FAILED(crossbar->get_CrossbarPinInfo(TRUE, in, &inRelated, &inType))) continue;
      if (in == routed) index = static_cast<int>(routes.size());
      routes.push_back(in);
      names << QStringLiteral("%1: %2").arg(in).arg(ConnectorName(inType));
    }
    if (routes.empty()) continue;
    PageField row = Choice(QStringLiteral("Output%1").arg(out), names, index);
    row.label = QStringLiteral("%1: %2").arg(out).arg(ConnectorName(type));
    row.write = [crossbar, out, routes](LONG i) { return crossbar->Route(out, routes[static_cast<size_t>(i)]); };
    model->Add(std::move(row));
  }
  return !model->Empty();
}

// ---- TV tuner ----

bool BuildTVTuner(const Objects& objects, PageModel* model) {
  auto tuner = FirstAnswering<IAMTVTuner>(objects, IID_IAMTVTuner);
  if (!tuner) return false;
  // Applied in this order: the country and the input decide which frequency a channel has.
  LONG country = 0;
  if (SUCCEEDED(tuner->get_CountryCode(&country))) {
    PageField row = Range("CountryCode", 1, 999, 1, country);
    row.write = [tuner](LONG v) { return tuner->put_CountryCode(v); };
    model->Add(std::move(row));
  }
  LONG input = 0;
  TunerInputType inputType = TunerInputCable;
  if (SUCCEEDED(tuner->get_ConnectInput(&input)) && SUCCEEDED(tuner->get_InputType(input, &inputType))) {
    PageField row = Choice("InputType", {"Cable", "Antenna"}, inputType == TunerInputAntenna ? 1 : 0);
    row.write = [tuner, input](LONG i) { return tuner->put_InputType(input, i == 1 ? TunerInputAntenna : TunerInputCable); };
    model->Add(std::move(row));
  }
  LONG channel = 0, videoSub = 0, audioSub = 0, min = 0, max = 0;
  if (SUCCEEDED(tuner->get_Channel(&channel, &videoSub, &audioSub)) && SUCCEEDED(tuner->ChannelMinMax(&min, &max))) {
    PageField row = Range("Channel", min, max, 1, channel);
    row.write = [tuner](LONG v) { return tuner->put_Channel(v, AMTUNER_SUBCHAN_DEFAULT, AMTUNER_SUBCHAN_DEFAULT); };
    model->Add(std::move(row));
  }
  return !model->Empty();
}

// ---- audio input lines ----

void AddMixerLine(const ComPtr<IAMAudioInputMixer>& mixer, const QString& line, PageModel* model) {
  BOOL enable = FALSE;
  double level = 0.0;
  if (SUCCEEDED(mixer->get_Enable(&enable))) {
    PageField row = Check(line + " Enable", line, enable != 0);
    row.write = [mixer](LONG on) { return mixer->put_Enable(on ? TRUE : FALSE); };
    model->Add(std::move(row));
  }
  if (SUCCEEDED(mixer->get_MixLevel(&level))) {
    PageField row = Range(line + " Level", 0, 100, 1, static_cast<LONG>(std::lround(level * 100.0)));
    row.label = "Level";
    row.rowOf = line + " Enable";
    row.write = [mixer](LONG percent) { return mixer->put_MixLevel(percent / 100.0); };
    model->Add(std::move(row));
  }
}

QString PinName(IPin* pin) {
  PIN_INFO info{};
  if (FAILED(pin->QueryPinInfo(&info))) return {};
  if (info.pFilter) info.pFilter->Release();
  return QString::fromUtf16(info.achName);
}

bool BuildAudioInput(const Objects& objects, PageModel* model) {
  for (const ComPtr<IUnknown>& object : objects) {
    if (!object) continue;
    ComPtr<IBaseFilter> filter;
    ComPtr<IPin> pin;
    ComPtr<IAMAudioInputMixer> mixer;
    if (SUCCEEDED(object->QueryInterface(IID_IBaseFilter, filter.PutVoid())) && filter) {
      for (const ComPtr<IPin>& input : FilterPins(filter.Get(), PINDIR_INPUT, false)) {
        ComPtr<IAMAudioInputMixer> line;
        if (SUCCEEDED(input->QueryInterface(IID_IAMAudioInputMixer, line.PutVoid())) && line)
          AddMixerLine(line, PinName(input.Get()), model);
      }
    } else if (SUCCEEDED(object->QueryInterface(IID_IPin, pin.PutVoid())) && pin &&
               SUCCEEDED(pin->QueryInterface(IID_IAMAudioInputMixer, mixer.PutVoid())) && mixer) {
      AddMixerLine(mixer, PinName(pin.Get()), model);
    }
  }
  return !model->Empty();
}

// ---- compressors ----

bool BuildCompression(const Objects& objects, PageModel* model) {
  auto compression = FirstAnswering<IAMVideoCompression>(objects, IID_IAMVideoCompression);
  if (!compression) return false;
  LONG caps = 0;
  if (FAILED(compression->GetInfo(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &caps))) caps = 0;
  double quality = 0.0;
  if ((caps & CompressionCaps_CanQuality) && SUCCEEDED(compression->get_Quality(&quality))) {
    PageField row = Range("Quality", 0, 100, 1, static_cast<LONG>(std::lround(quality * 100.0)));
    row.write = [compression](LONG percent) { return compression->put_Quality(percent / 100.0); };
    model->Add(std::move(row));
  }
  LONG keyFrames = 0;
  if ((caps & CompressionCaps_CanKeyFrame) && SUCCEEDED(compression->get_KeyFrameRate(&keyFrames))) {
    PageField row = Range("KeyFrameRate", 0, 1000, 1, keyFrames);
    row.label = "Key Frame Every";
    row.write = [compression](LONG every) { return compression->put_KeyFrameRate(every); };
    model->Add(std::move(row));
  }
  // The data rate (kilobits per second, 0: no limit) is part of the output format.
  auto config = FirstAnswering<IAMStreamConfig>(objects, IID_IAMStreamConfig);
  TypePtr format = (caps & CompressionCaps_CanCrunch) && config ? CurrentFormat(config.Get()) : nullptr;
  if (format && format->formattype == FORMAT_VideoInfo && format->cbFormat >= sizeof(VIDEOINFOHEADER)) {
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(format->pbFormat);
    PageField row = Range("DataRate", 0, 100000, 1, static_cast<LONG>(vih->dwBitRate / 1000));
    row.write = [config](LONG kilobits) {
      TypePtr type = CurrentFormat(config.Get());
      if (!type || type->cbFormat < sizeof(VIDEOINFOHEADER)) return E_FAIL;
      reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->dwBitRate = static_cast<DWORD>(kilobits) * 1000;
      return config->SetFormat(type.get());
    };
    model->Add(std::move(row));
  }
  return !model->Empty();
}

QString AudioFormatName(const AM_MEDIA_TYPE& type) {
  if (!(type.formattype == FORMAT_WaveFormatEx) || type.cbFormat < sizeof(WAVEFORMATEX)) return "Unknown";
  const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat);
  QString tag;
  switch (wfx->wFormatTag) {
    case WAVE_FORMAT_PCM: tag = "PCM"; break;
    case 0x0002: tag = "Microsoft ADPCM"; break;
    case 0x0161: tag = "Windows Media Audio V2"; break;
    default: tag = QStringLiteral("Format 0x%1").arg(wfx->wFormatTag, 4, 16, QChar('0'));
  }
  return QStringLiteral("%1, %2 Hz, %3 bit, %4 (%5 kbit/s)")
      .arg(tag)
      .arg(wfx->nSamplesPerSec)
      .arg(wfx->wBitsPerSample)
      .arg(ChannelsName(wfx->nChannels))
      .arg(wfx->nAvgBytesPerSec * 8 / 1000);
}

bool BuildAudioFormat(const Objects& objects, PageModel* model) {
  auto config = FirstAnswering<IAMStreamConfig>(objects, IID_IAMStreamConfig);
  if (!config) return false;
  TypePtr current = CurrentFormat(config.Get());
  int count = 0, size = 0;
  if (!current || !(current->majortype == MEDIATYPE_Audio) || FAILED(config->GetNumberOfCapabilities(&count, &size)))
    return false;
  auto formats = std::make_shared<std::vector<CMediaType>>();
  std::vector<BYTE> record(static_cast<size_t>(std::max(size, 1)));
  QStringList names;
  int index = 0;
  for (int i = 0; i < count; ++i) {
    AM_MEDIA_TYPE* type = nullptr;
    if (config->GetStreamCaps(i, &type, record.data()) != S_OK || !type) continue;
    TypePtr owned(type);
    if (SameMediaType(*type, *current)) index = static_cast<int>(formats->size());
    formats->emplace_back(*type);
    names << AudioFormatName(*type);
  }
  if (formats->empty()) return false;
  PageField row = Choice("Format", names, index);
  row.write = [config, formats](LONG i) { return config->SetFormat(&(*formats)[static_cast<size_t>(i)]); };
  model->Add(std::move(row));
  return true;
}

struct PageKind {
  const CLSID* clsid;
  const char* title;
  bool (*build)(const Objects&, PageModel*);
};

constexpr PageKind kPages[] = {
    {&CLSID_VideoProcAmpPage, "Video Proc Amp", BuildVideoProcAmp},
    {&CLSID_CameraControlPage, "Camera Control", BuildCameraControl},
    {&CLSID_VideoDecoderPage, "Video Decoder", BuildVideoDecoder},
    {&CLSID_StreamFormatPage, "Stream Format", BuildStreamFormat},
    {&CLSID_CrossbarPage, "Crossbar", BuildCrossbar},
    {&CLSID_TVTunerPage, "TV Tuner", BuildTVTuner},
    {&CLSID_AudioInputPage, "Audio Input", BuildAudioInput},
    {&CLSID_CompressionPage, "Compression", BuildCompression},
    {&CLSID_AudioFormatPage, "Format", BuildAudioFormat},
};

const PageKind* KindOf(REFCLSID page) {
  for (const PageKind& kind : kPages)
    if (*kind.clsid == page) return &kind;
  return nullptr;
}

}  // namespace

QString PageTitle(REFCLSID page) {
  const PageKind* kind = KindOf(page);
  return kind ? QString::fromLatin1(kind->title) : QString();
}

bool BuildPage(REFCLSID page, const Objects& objects, PageModel* model) {
  const PageKind* kind = KindOf(page);
  return kind && model && kind->build(objects, model);
}

}  // namespace kestrom::dshow::pages
