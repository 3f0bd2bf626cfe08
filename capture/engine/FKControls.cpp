// The device controls the engine reads into the device's settings and puts back at every build:
// image and camera controls, crossbar input, audio input with its level, TV tuner, analog
// standard and the DV decoder's resolution.
#include "capture/engine/FK.h"

#include "capture/engine/GraphHelpers.h"
#include "capture/engine/Registry2.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/DvMpegInterfaces.h"
#include "platform/dshow/sources/V4l2Tuner.h"

#include <QThread>
#include <QtEndian>
#include <algorithm>

namespace kestrom::engine {

using com::ComPtr;
using namespace dshow;
using com::FAILED;
using com::S_OK;
using com::SUCCEEDED;

namespace {

/** @brief Reads every property's range and value; true when every property that can be automatic is. */
template <class Control>
bool ReadControls(Control* control, TSettingsTable& table, const char* block, const char* autoName, int count) {
  bool allAuto = true;
  for (int i = 0; i < count; ++i) {
    TControlRecord r;
    LONG min = 0, max = 0, step = 0, def = 0, caps = 0, value = 0, flags = 0;
    if (SUCCEEDED(control->GetRange(i, &min, &max, &step, &def, &caps))) {
      r = {1, def, min, max, step, def};
      if (SUCCEEDED(control->Get(i, &value, &flags))) {
        r.value = value;
        if ((caps & 1) && !(flags & 1)) allAuto = false;
      }
    }
    table.SetRecord(block, i, r);
  }
  table.SetBool(autoName, allAuto);
  return allAuto;
}

template <class Control>
void ApplyControls(Control* control, const TSettingsTable& table, const char* block, const char* autoName, int count) {
  const bool automatic = table.Bool(autoName);
  for (int i = 0; i < count; ++i) {
    const TControlRecord r = table.Record(block, i);
    if (automatic) control->Set(i, r.supported ? r.defaultValue : 0, 1);
    else if (r.supported) control->Set(i, r.value, 2);
  }
}

}  // namespace

void TFK::ReadProcAmp() {
  if (procAmp_) ReadControls(procAmp_.Get(), videoTable_, "VideoQualityValues", "VideoQualityAuto", ProcAmpCount);
}

void TFK::ReadCameraControl() {
  if (cameraControl_)
    ReadControls(cameraControl_.Get(), videoTable_, "CameraControlValues ", "CameraControlAuto", CameraControlCount);
}

void TFK::ApplyProcAmp() {
  if (VideoQualitySettings_ && procAmp_)
    ApplyControls(procAmp_.Get(), videoTable_, "VideoQualityValues", "VideoQualityAuto", ProcAmpCount);
}

void TFK::ApplyCameraControl() {
  if (CameraControlSettings_ && cameraControl_)
    ApplyControls(cameraControl_.Get(), videoTable_, "CameraControlValues ", "CameraControlAuto", CameraControlCount);
}

void TFK::SetVideoInput(int index) {
  const int count = static_cast<int>(videoTable_.Text("VideoInputs").split(QStringLiteral("\r\n"), Qt::SkipEmptyParts).size());
  if (index < 0 || (count > 0 && index >= count)) return;
  videoTable_.SetInt("VideoInput", index);
  if (videoCrossbar_) RouteVideoCrossbarInput();
}

void TFK::RouteVideoCrossbarInput() {
  if (!videoCrossbar_) return;
  const std::vector<TVideoInput> inputs = VideoInputNames(videoCrossbar_.Get());
  if (inputs.empty()) return;
  int selected = videoTable_.Int("VideoInput");
  if (selected < 0 || selected >= static_cast<int>(inputs.size())) {
    selected = 0;
    videoTable_.SetInt("VideoInput", 0);
  }
  const TVideoInput& input = inputs[static_cast<size_t>(selected)];
  if (RestoreCrossbarRouting(input.index)) return;
  if (CheckAndLog(this, FAILED(videoCrossbar_->Route(0, input.index)), ll_Error,
                  QStringLiteral("Cannot route video crossbar input"), TLogType::e_failed_to_connect_crossbar_pin))
    return;
  videoCrossbarPins_.Assign(videoCrossbar_.Get());
  if (crossbarTree_) {
    crossbarTree_->RouteCurrentInput(videoCrossbar_.Get());
    return;
  }
  // The sound of the input goes with it: its related audio input to the output's related output.
  LONG relatedInput = -1, inputType = 0, relatedOutput = -1, outputType = 0;
  if (FAILED(videoCrossbar_->get_CrossbarPinInfo(1, input.index, &relatedInput, &inputType)) || relatedInput < 0 ||
      FAILED(videoCrossbar_->get_CrossbarPinInfo(0, 0, &relatedOutput, &outputType)) || relatedOutput < 0)
    return;
  IAMCrossbar* audio = audioCrossbar_ ? audioCrossbar_.Get() : videoCrossbar_.Get();
  CheckAndLog(this, FAILED(audio->Route(relatedOutput, relatedInput)), ll_Warning,
              QStringLiteral("cannot route audio crossbar"), TLogType::w_cannot_route_audio_crossbar);
}

bool TFK::RestoreCrossbarRouting(long input) {
  // The routing kept with the device is put back only while it still gives the picture the
  // selected input: the sound chosen for that picture on the crossbar then stays with it.
  const QString saved = videoTable_.Text("AMVideoCrossbar");
  bool ok = false;
  const long savedInput = saved.section(QLatin1Char('!'), 1, 1).toLong(&ok);
  if (!ok || savedInput != input || !RoutingFromText(videoCrossbar_.Get(), saved)) return false;
  if (audioCrossbar_) RoutingFromText(audioCrossbar_.Get(), videoTable_.Text("AMAudioCrossbar"));
  LONG routed = -1;
  if (FAILED(videoCrossbar_->get_IsRoutedTo(0, &routed)) || routed != input) return false;
  videoCrossbarPins_.Assign(videoCrossbar_.Get());
  audioCrossbarPins_.Assign(audioCrossbar_.Get());
  WriteLog(QStringLiteral("crossbar routing restored: ") + saved);
  return true;
}

bool TFK::IsAudioAssociated() const { return snapshot_.associateAudioAndVideo && boundVideoDevice_ != -1; }

int TFK::GetAudioInput() const {
  return IsAudioAssociated() ? videoTable_.Int("_AudioInputAssociated") : audioTable_.Int("AudioInput");
}

void TFK::SetAudioInput(int index) {
  if (index < 0) return;
  if (IsAudioAssociated()) videoTable_.SetInt("_AudioInputAssociated", index);
  else audioTable_.SetInt("AudioInput", index);
  if (audioSource_) SelectAudioInput();
}

int TFK::GetSpeakerVolume() const {
  return IsAudioAssociated() ? videoTable_.Int("_SpeakerVolumeAssociated") : audioTable_.Int("SpeakerVolume");
}

int TFK::GetSpeakerBalance() const {
  return IsAudioAssociated() ? videoTable_.Int("_SpeakerBalanceAssociated") : audioTable_.Int("SpeakerBalance");
}

QString TFK::AudioInputName() const {
  const QStringList names = audioTable_.Text("AudioInputs").split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  const int index = GetAudioInput();
  return index >= 0 && index < names.size() ? names[index] : QString();
}

bool TFK::SelectAudioInput() {
  const QStringList names = audioTable_.Text("AudioInputs").split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  const char* inputName = IsAudioAssociated() ? "_AudioInputAssociated" : "AudioInput";
  if (videoTable_.Int(inputName) < 0 || audioTable_.Int(inputName) < 0 || GetAudioInput() >= names.size())
    (IsAudioAssociated() ? videoTable_ : audioTable_).SetInt(inputName, 0);
  const QString current = AudioInputName();
  (IsAudioAssociated() ? videoTable_ : audioTable_)
      .SetText(IsAudioAssociated() ? "_AudioInputNameAssociated" : "AudioInputName", current);
  pinMixer_.Reset();
  if (!audioSource_) return false;
  for (const ComPtr<IPin>& pin : PinsOf(audioSource_.Get())) {
    PIN_DIRECTION d = PINDIR_OUTPUT;
    ComPtr<IAMAudioInputMixer> mixer;
    if (FAILED(pin->QueryDirection(&d)) || d != PINDIR_INPUT ||
        FAILED(pin->QueryInterface(IID_IAMAudioInputMixer, mixer.PutVoid())) || !mixer)
      continue;
    if (PinName(pin.Get()).left(128) != current) {
      mixer->put_Enable(0);
      mixer->put_MixLevel(0.0);
    } else {
      mixer->put_Enable(1);
      pinMixer_ = mixer;
    }
  }
  if (!pinMixer_) return false;
  ApplyAudioInputLevels();
  return true;
}

void TFK::ApplyAudioInputLevels() {
  const bool associated = IsAudioAssociated();
  const int level = associated ? videoTable_.Int("_AudioInputLevelAssociated") : audioTable_.Int("AudioInputLevel");
  const int balance = associated ? videoTable_.Int("_AudioInputBalanceAssociated") : audioTable_.Int("AudioInputBalance");
  const bool mono = associated ? videoTable_.Bool("_AudioInputMonoAssociated") : audioTable_.Bool("AudioInputMono");
  const double mix = level <= 0 ? 0.0 : level >= 65535 ? 1.0 : level / 65535.0;
  // The balance runs linearly from -32,768 (left) to 32,767 (right).
  const double pan = balance <= -32768 ? -1.0 : balance >= 32767 ? 1.0 : balance / (balance < 0 ? 32768.0 : 32767.0);
  IAMAudioInputMixer* own = audioMixer_.Get();
  IAMAudioInputMixer* pin = pinMixer_.Get();
  const auto apply = [&](auto call) {
    bool done = pin && SUCCEEDED(call(pin));
    if (!done && own) done = SUCCEEDED(call(own));
    return done;
  };
  apply([&](IAMAudioInputMixer* m) { return m->put_Mono(mono); });
  apply([&](IAMAudioInputMixer* m) { return m->put_MixLevel(mix); });
  balanceSet_ = apply([&](IAMAudioInputMixer* m) { return m->put_Pan(pan); });
}

void TFK::SaveAnalogState() {
  if (decoder_) {
    LONG value = 0;
    if (SUCCEEDED(decoder_->get_TVFormat(&value))) videoTable_.SetInt("ANTVFormat", value);
    if (SUCCEEDED(decoder_->get_VCRHorizontalLocking(&value))) videoTable_.SetInt("ANVVCRHorzLocking", value);
    if (SUCCEEDED(decoder_->get_OutputEnable(&value))) videoTable_.SetInt("ANVOutputEnable", value);
  }
  if (videoCrossbar_) videoTable_.SetText("AMVideoCrossbar", RoutingToText(videoCrossbar_.Get()));
  if (audioCrossbar_) videoTable_.SetText("AMAudioCrossbar", RoutingToText(audioCrossbar_.Get()));
  ReadProcAmp();
  ReadCameraControl();
}

namespace {

/** @brief The frequency of a channel in the "AutoTune" pairs of a key; -1 when it has none. */
int ReadAutoTuneFrequency(TRegistry2& reg, int channel) {
  registry::TRegDataInfo info;
  if (!reg.GetDataInfo(QStringLiteral("AutoTune"), info) || info.DataSize <= 0) return -1;
  // Whole pairs only: a trailing part of a pair is not read.
  QByteArray bytes(info.DataSize, '\0');
  int stored = 0, type = 0;
  if (!reg.ReadRaw(QStringLiteral("AutoTune"), bytes.data(), static_cast<int>(bytes.size()), stored, type)) return -1;
  for (int at = 0; at + 8 <= stored; at += 8)
    if (qFromLittleEndian<int32_t>(bytes.constData() + at) == channel)
      return qFromLittleEndian<int32_t>(bytes.constData() + at + 4);
  return -1;
}

QString AutoTuneKey(int space, int inputType) { return TunerFrequencyKey(space, static_cast<TunerInputType>(inputType)); }

}  // namespace

bool TFK::SetTVChannel(int channel, int videoSubChannel) {
  const QStringList inputs = videoTable_.Text("VideoInputs").split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  const int input = videoTable_.Int("VideoInput");
  if (input < 0 || input >= inputs.size() || inputs[input] != QLatin1String("Tuner") || !tuner_ || !graphActive_)
    return false;
  SetBusyCursor(true);
  const int country = videoTable_.Int("TVCountryCode");
  const int inputType = videoTable_.Int("TVInputType");
  TRegistry2 machine(true);
  int autoTune = -1;
  if (machine.OpenKey(AutoTuneKey(country, inputType), false)) autoTune = ReadAutoTuneFrequency(machine, channel);
  int overridden = -1;
  const int overrideSpace = static_cast<int>(AddKeyOffset(country));
  if (TVUseFrequencyOverrides_) {
    // Overrides are machine-wide, where the tuner itself looks up the tuning space's frequencies.
    TRegistry2 overrides(true);
    int32_t frequency = 0;
    if (overrides.OpenKey(AutoTuneKey(overrideSpace, inputType), false) &&
        overrides.ReadInteger(QString::number(channel), frequency))
      overridden = frequency;
  }
  LONG connected = 0;
  tuner_->get_ConnectInput(&connected);
  tuner_->put_InputType(connected, static_cast<TunerInputType>(inputType));
  if (overridden < 0) {
    tuner_->put_TuningSpace(country);
    tuner_->put_CountryCode(country);
  } else {
    tuner_->put_CountryCode(country);
    tuner_->put_TuningSpace(overrideSpace);
    tuner_->put_CountryCode(country);
  }
  if (decoder_) {
    LONG tunerFormat = 0, decoderFormat = 0;
    if (SUCCEEDED(tuner_->get_TVFormat(&tunerFormat)) && SUCCEEDED(decoder_->get_TVFormat(&decoderFormat)) &&
        tunerFormat != decoderFormat)
      decoder_->put_TVFormat(tunerFormat);
  }
  const bool tuned = SUCCEEDED(tuner_->put_Channel(channel, videoSubChannel, videoSubChannel));
  if (tuned) QThread::msleep(tuneSettleMs_);
  TTVChannelInfo info{};
  info.Channel = channel;
  LONG signal = 0;
  if (decoder_) info.SignalPresent = SUCCEEDED(decoder_->get_HorizontalLocked(&signal)) && signal == 1;
  else info.SignalPresent = SUCCEEDED(tuner_->SignalPresent(&signal)) && signal != 0;
  LONG video = 0, audio = 0;
  if (FAILED(tuner_->get_VideoFrequency(&video))) video = 0;
  if (FAILED(tuner_->get_AudioFrequency(&audio))) audio = 0;
  info.TunerVideoFrequency = video;
  info.TunerAudioFrequency = audio;
  info.OverriddenVideoFrequency = overridden;
  info.DefaultVideoFrequency = overridden < 0 && autoTune == -1 && video != 0 ? video : autoTune;
  SetBusyCursor(false);
  // Only a channel the tuner took is announced; a refusal is no success, override or not.
  if (!tuned) {
    CheckAndLog(this, true, ll_Warning, QStringLiteral("TV channel refused: ") + QString::number(channel),
                TLogType::w_tv_tuner);
    return false;
  }
  videoTable_.SetInt("TVChannel", channel);
  lastTuning_ = {true, overridden >= 0, channel, videoSubChannel};
  Fire(&TFKEvents::OnTVChannelSelected, info);
  return true;
}

void TFK::SetTVUseFrequencyOverrides(bool value) {
  TVUseFrequencyOverrides_ = value;
  if (lastTuning_.tuned && value != lastTuning_.withOverride)
    SetTVChannel(lastTuning_.channel, lastTuning_.videoSubChannel);
}

void TFK::ReadTunerState() {
  if (!tuner_) return;
  LONG channel = 0, videoSub = 0, audioSub = 0, input = 0, space = 0, country = 0;
  TunerInputType type = TunerInputCable;
  AMTunerModeType mode = AMTUNER_MODE_DEFAULT;
  if (SUCCEEDED(tuner_->get_Channel(&channel, &videoSub, &audioSub))) videoTable_.SetInt("TVChannel", channel);
  if (SUCCEEDED(tuner_->get_ConnectInput(&input))) {
    videoTable_.SetInt("TVConnectInput", input);
    if (SUCCEEDED(tuner_->get_InputType(input, &type))) videoTable_.SetInt("TVInputType", type);
  }
  if (SUCCEEDED(tuner_->get_TuningSpace(&space))) videoTable_.SetInt("TVTuningSpace", space);
  if (SUCCEEDED(tuner_->get_CountryCode(&country))) videoTable_.SetInt("TVCountryCode", country);
  if (SUCCEEDED(tuner_->get_Mode(&mode))) videoTable_.SetInt("TVMode", mode);
}

void TFK::ApplyTunerState() {
  LONG format = 0;
  if (decoder_ && SUCCEEDED(decoder_->get_TVFormat(&format)) && videoTable_.Int("ANTVFormat") != 0)
    decoder_->put_TVFormat(videoTable_.Int("ANTVFormat"));
  AMTunerModeType mode = AMTUNER_MODE_DEFAULT;
  if (tuner_ && SUCCEEDED(tuner_->get_Mode(&mode))) tuner_->put_Mode(AMTUNER_MODE_TV);
}

void TFK::SetDVResolution(IBaseFilter* filter) {
  ComPtr<IIPDVDec> decoder;
  if (!filter || FAILED(filter->QueryInterface(IID_IIPDVDec, decoder.PutVoid())) || !decoder) return;
  if (videoSizes_.isEmpty()) {
    WriteLog(QStringLiteral("ERROR: NO FORMATS"));
    return;
  }
  int index = videoTable_.Int("VideoSize");
  if (index < 0 || index >= videoSizes_.size()) {
    index = 0;
    videoTable_.SetInt("VideoSize", 0);
    CheckAndLog(this, true, ll_Error, QStringLiteral("DV VideoSize index out of range, index 0 used instead"),
                TLogType::e_index_out_of_range);
  }
  if (nearestWidth_ > 0 && nearestHeight_ > 0) index = NearestVideoSize(nearestWidth_, nearestHeight_);
  const QString entry = videoSizes_[index].trimmed();
  const int resolution = entry == QLatin1String("dc")        ? 1003
                         : entry == QLatin1String("quarter") ? 1002
                         : entry == QLatin1String("full")    ? 1000
                                                             : 1001;
  decoder->put_IPDisplay(resolution);
  ComPtr<IDVRGB219> rgb219;
  if (SUCCEEDED(filter->QueryInterface(IID_IDVRGB219, rgb219.PutVoid())) && rgb219) rgb219->SetRGB219(DVRgb219_);
}

bool TFK::DVFrameDuration(int64_t& duration) {
  // No device here has an external transport to ask for the tape's signal.
  duration = 333667;
  return false;
}

}  // namespace kestrom::engine
