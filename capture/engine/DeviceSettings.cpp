#include "capture/engine/DeviceSettings.h"

#include "capture/engine/EngineLog.h"
#include "capture/engine/Registry2.h"

#include <QtEndian>
#include <cstring>

namespace kestrom::engine {

namespace {

constexpr int32_t kMarker = 2147483647;

}  // namespace

TSettingsTable TSettingsTable::Video() {
  constexpr int I = sk_Integer, T = sk_Text, B = sk_Boolean, D = sk_Block;
  return TSettingsTable({
      {"DummyBEGIN", I, kMarker, false, 0},
      {"_AudioDeviceAssociated", T, 0, false, 0},
      {"_AudioInputAssociated", I, 0, false, 0},
      {"_AudioInputBalanceAssociated", I, 0, false, 0},
      {"_AudioInputLevelAssociated", I, 50000, false, 0},
      {"_AudioInputMonoAssociated", B, 0, false, 0},
      {"_AudioInputNameAssociated", T, 0, false, 0},
      {"_SpeakerVolumeAssociated", I, 50000, false, 0},
      {"_SpeakerBalanceAssociated", I, 0, false, 0},
      {"_DeviceDiscovered", B, 0, false, 0},
      {"_IsVfw", B, 0, false, 0},
      {"_IsDigitalVideoIn", B, 0, false, 0},
      {"_IsDVPal", B, 0, false, 0},
      {"_IsVideoPortAvailable", B, 0, false, 0},
      {"_IsVideoInterlaced", B, 0, false, 0},
      {"_IsTVTunerAvail", B, 0, false, 0},
      {"_IsTVAudioAvail", B, 0, false, 0},
      {"_IsAnalogVideoDecoderAvail", B, 0, false, 0},
      {"_IsVCRHorizontalLockingAvail", B, 0, false, 0},
      {"_IsAudioCrossbarAvail", B, 0, false, 0},
      {"_IsVideoCrossbarAvail", B, 0, false, 0},
      {"_IsVideoQualityAvail", B, 0, false, 0},
      {"_IsCameraControlAvail", B, 0, false, 0},
      {"_IsVideoControlAvail", B, 0, false, 0},
      {"_IsMpegStream", B, 0, false, 0},
      {"_VideoControlCaps", I, 0, false, 0},
      {"_VfwCaptureDialogFormat", B, 0, false, 0},
      {"_VfwCaptureDialogSource", B, 0, false, 0},
      {"_VfwCaptureDialogDisplay", B, 0, false, 0},
      {"VideoInputs", T, 0, false, 0},
      {"ExtTransportAvail", B, 0, false, 0},
      {"TimeCodeReaderAvail", B, 0, false, 0},
      {"ANTVFormats", I, 0, false, 0},
      {"VIDEOCROSSBARAVAIL", B, 0, false, 0},
      {"AUDIOCROSSBARAVAIL", B, 0, false, 0},
      {"DummyMAYNOTBESAVED", I, kMarker, false, 0},
      {"VideoSize", I, 0, false, 0},
      {"VideoInput", I, 0, false, 0},
      {"VideoInputName", I, 0, false, 0},
      {"VideoRenderer", I, 0, false, 0},
      {"VideoSubtype", I, 0, false, 0},
      {"_VideoControlMode", I, 0, false, 0},
      {"TVChannel", I, 0, false, 0},
      {"TVChannelFreq", I, 0, false, 0},
      {"TVInputType", I, 0, false, 0},
      {"TVConnectInput", I, kMarker, false, 0},
      {"TVTuningSpace", I, 0, false, 0},
      {"TVCountryCode", I, 0, false, 0},
      {"TVMode", I, 0, false, 0},
      {"ANTVFormat", I, 0, false, 0},
      {"ANVVCRHorzLocking", I, 0, false, 0},
      {"ANVOutputEnable", I, kMarker, false, 0},
      {"AMVideoCrossbar", T, 0, false, 0},
      {"AMAudioCrossbar", T, 0, false, 0},
      {"VideoQualityAuto", B, 0, true, 0},
      {"VideoQualityValues", D, 0, false, ProcAmpBlockSize},
      {"CameraControlAuto", B, 0, true, 0},
      {"CameraControlValues ", D, 0, false, CameraControlBlockSize},
      {"DummyEND", I, kMarker, false, 0},
  });
}

TSettingsTable TSettingsTable::Audio() {
  constexpr int I = sk_Integer, T = sk_Text, B = sk_Boolean;
  return TSettingsTable({
      {"DummyBEGIN", I, kMarker, false, 0},
      {"_DeviceDiscovered", B, 0, false, 0},
      {"AudioInputs", T, 0, false, 0},
      {"AudioInput", I, 0, false, 0},
      {"AudioInputBalance", I, 0, false, 0},
      {"AudioInputLevel", I, 50000, false, 0},
      {"AudioInputMono", B, 0, false, 0},
      {"AudioInputName", T, 0, false, 0},
      {"SpeakerVolume", I, 50000, false, 0},
      {"SpeakerBalance", I, 0, false, 0},
      {"AudioMute", B, 0, false, 0},
      {"AIsSoundCard", B, 0, false, 0},
      {"DummyMAYNOTBESAVED", I, kMarker, false, 0},
      {"AIsAudioCrossbarAvail", B, 0, false, 0},
      {"DummyEND", I, kMarker, false, 0},
  });
}

TSettingsTable::TSettingsTable(std::vector<Default> defaults) : defaults_(std::move(defaults)) {
  entries_.resize(defaults_.size());
  for (size_t i = 0; i < defaults_.size(); ++i) {
    entries_[i].name = QString::fromLatin1(defaults_[i].name);
    entries_[i].kind = defaults_[i].kind;
    if (entries_[i].name == QLatin1String("DummyMAYNOTBESAVED")) choicesStart_ = static_cast<int>(i);
  }
  LoadDefaults();
}

void TSettingsTable::LoadDefaults() {
  for (size_t i = 0; i < defaults_.size(); ++i) {
    SettingsEntry& e = entries_[i];
    e.integer = defaults_[i].integer;
    e.boolean = defaults_[i].boolean;
    e.text.clear();
    e.int64 = 0;
    e.block = QByteArray(defaults_[i].blockSize, '\0');
  }
}

int TSettingsTable::IndexOf(const QString& name) const {
  for (size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].name == name) return static_cast<int>(i);
  return -1;
}

SettingsEntry* TSettingsTable::Find(const char* name) {
  const int i = IndexOf(QString::fromLatin1(name));
  return i < 0 ? nullptr : &entries_[static_cast<size_t>(i)];
}

const SettingsEntry* TSettingsTable::Find(const char* name) const {
  const int i = IndexOf(QString::fromLatin1(name));
  return i < 0 ? nullptr : &entries_[static_cast<size_t>(i)];
}

int TSettingsTable::Int(const char* name) const {
  const SettingsEntry* e = Find(name);
  return e ? e->integer : 0;
}
void TSettingsTable::SetInt(const char* name, int32_t value) {
  if (SettingsEntry* e = Find(name)) e->integer = value;
}
bool TSettingsTable::Bool(const char* name) const {
  const SettingsEntry* e = Find(name);
  return e && e->boolean;
}
void TSettingsTable::SetBool(const char* name, bool value) {
  if (SettingsEntry* e = Find(name)) e->boolean = value;
}
QString TSettingsTable::Text(const char* name) const {
  const SettingsEntry* e = Find(name);
  return e ? e->text : QString();
}
void TSettingsTable::SetText(const char* name, const QString& value) {
  if (SettingsEntry* e = Find(name)) e->text = value;
}

TControlRecord TSettingsTable::Record(const char* name, int index) const {
  TControlRecord record;
  const SettingsEntry* e = Find(name);
  if (!e || index < 0 || (index + 1) * 24 > e->block.size()) return record;
  int32_t fields[6];
  for (int f = 0; f < 6; ++f) fields[f] = qFromLittleEndian<int32_t>(e->block.constData() + index * 24 + f * 4);
  record = {fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]};
  return record;
}

void TSettingsTable::SetRecord(const char* name, int index, const TControlRecord& record) {
  SettingsEntry* e = Find(name);
  if (!e || index < 0 || (index + 1) * 24 > e->block.size()) return;
  const int32_t fields[6] = {record.supported, record.value, record.minimum, record.maximum, record.delta,
                             record.defaultValue};
  for (int f = 0; f < 6; ++f) qToLittleEndian<int32_t>(fields[f], e->block.data() + index * 24 + f * 4);
}

bool TSettingsTable::Restore(const QString& keyPath, bool all) {
  TRegistry2 reg;
  if (!reg.KeyExists(keyPath) || !reg.OpenKey(keyPath, false)) return false;
  bool result = true;
  const int end = all ? Count() : choicesStart_;
  for (int i = 0; i < end; ++i) {
    SettingsEntry& e = entries_[static_cast<size_t>(i)];
    bool ok = false;
    switch (e.kind) {
      case sk_Integer: {
        int32_t v = 0;
        if ((ok = reg.ReadInteger(e.name, v))) e.integer = v;
        break;
      }
      case sk_Text: {
        // An empty text is a value like any other: only a missing or mistyped one is missing.
        int stored = 0, type = rt_Unknown;
        char probe = 0;
        reg.ReadRaw(e.name, &probe, 0, stored, type);
        if (type == rt_String || type == rt_ExpandString) {
          QString v;
          ok = stored <= 1 || reg.ReadString(e.name, v);
          if (ok) e.text = v;
        }
        break;
      }
      case sk_Boolean: {
        bool v = false;
        if ((ok = reg.ReadBool(e.name, v))) e.boolean = v;
        break;
      }
      case sk_Int64: {
        int64_t v = 0;
        int stored = 0, type = rt_Unknown;
        if ((ok = reg.ReadRaw(e.name, &v, 8, stored, type) && stored == 8)) e.int64 = qFromLittleEndian(v);
        break;
      }
      case sk_Block: {
        // The block's size is the engine's, never the registry's: a value of another length, or a
        // size value that names another, leaves the block as it was.
        QByteArray bytes(e.block.size(), '\0');
        int read = 0;
        int32_t size = 0;
        const bool blockRead = reg.ReadBinary(e.name, bytes.data(), static_cast<int>(bytes.size()), read);
        const bool sizeRead = reg.ReadInteger(e.name + QStringLiteral("Size"), size);
        if (blockRead && (!sizeRead || size == e.block.size())) e.block = bytes;
        ok = blockRead && sizeRead && size == e.block.size();
        break;
      }
      default: ok = true; break;
    }
    if (!ok) {
      WriteLog(QStringLiteral("setting not restored: ") + e.name);
      result = false;
    }
  }
  return result;
}

bool TSettingsTable::Store(const QString& keyPath) const {
  TRegistry2 reg;
  if (!reg.OpenKey(keyPath, true)) return false;
  bool ok = true;
  for (const SettingsEntry& e : entries_) {
    switch (e.kind) {
      case sk_Integer: ok &= reg.WriteInteger(e.name, e.integer); break;
      case sk_Text: ok &= reg.WriteString(e.name, e.text); break;
      case sk_Boolean: ok &= reg.WriteBool(e.name, e.boolean); break;
      case sk_Int64: {
        const int64_t v = qToLittleEndian(e.int64);
        ok &= reg.WriteBinary(e.name, &v, 8);
        break;
      }
      case sk_Block:
        ok &= reg.WriteBinary(e.name, e.block.constData(), static_cast<int>(e.block.size()));
        ok &= reg.WriteInteger(e.name + QStringLiteral("Size"), static_cast<int32_t>(e.block.size()));
        break;
      default: break;
    }
  }
  return ok;
}

}  // namespace kestrom::engine
