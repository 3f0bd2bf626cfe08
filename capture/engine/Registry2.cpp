#include "capture/engine/Registry2.h"

#include "capture/engine/EngineLog.h"
#include "platform/com/ComPtr.h"
#include "platform/dshow/base/PersistStream.h"

#include <QtEndian>
#include <cstring>
#include <vector>

namespace kestrom::engine {

using namespace kestrom::registry;

namespace {

int TypeOf(DWORD type) {
  switch (type) {
    case REG_SZ: return rt_String;
    case REG_EXPAND_SZ: return rt_ExpandString;
    case REG_DWORD: return rt_Integer;
    case REG_BINARY: return rt_Binary;
    default: return rt_Unknown;
  }
}

}  // namespace

TRegistry2::TRegistry2(bool machine) : registry_(machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER) {}

bool TRegistry2::OpenKey(const QString& path, bool create) { return registry_.OpenKey(path, create); }
bool TRegistry2::CreateKey(const QString& path) { return registry_.CreateKey(path); }
bool TRegistry2::DeleteKey(const QString& path) { return registry_.DeleteKey(path); }
bool TRegistry2::KeyExists(const QString& path) { return registry_.KeyExists(path); }
bool TRegistry2::ValueExists(const QString& name) { return registry_.ValueExists(name); }
bool TRegistry2::GetDataInfo(const QString& name, TRegDataInfo& info) {
  return registry_.GetDataInfo(name, info);
}

bool TRegistry2::WriteString(const QString& name, const QString& value) {
  return registry_.WriteString(name, value);
}
bool TRegistry2::WriteInteger(const QString& name, int32_t value) { return registry_.WriteInteger(name, value); }
bool TRegistry2::WriteBool(const QString& name, bool value) { return registry_.WriteBool(name, value); }
bool TRegistry2::WriteFloat(const QString& name, double value) { return registry_.WriteFloat(name, value); }
bool TRegistry2::WriteBinary(const QString& name, const void* buffer, int size) {
  if (size < 0 || (size > 0 && !buffer)) return false;
  return registry_.WriteBinaryData(name, buffer, size);
}

bool TRegistry2::ReadRaw(const QString& name, void* buffer, int size, int& storedSize, int& type) {
  storedSize = 0;
  type = rt_Unknown;
  if (size < 0) return false;
  DWORD regType = REG_NONE;
  DWORD length = 0;
  if (RegQueryValueEx(registry_.CurrentKey(), name, nullptr, &regType, nullptr, &length) != ERROR_SUCCESS)
    return false;
  storedSize = static_cast<int>(length);
  type = TypeOf(regType);
  if (length > static_cast<DWORD>(size)) return false;
  if (length == 0) return true;
  std::vector<BYTE> bytes(length);
  DWORD got = length;
  if (RegQueryValueEx(registry_.CurrentKey(), name, nullptr, &regType, bytes.data(), &got) != ERROR_SUCCESS ||
      got != length)
    return false;
  std::memcpy(buffer, bytes.data(), length);
  return true;
}

bool TRegistry2::ReadString(const QString& name, QString& text) {
  text.clear();
  DWORD regType = REG_NONE;
  DWORD length = 0;
  if (RegQueryValueEx(registry_.CurrentKey(), name, nullptr, &regType, nullptr, &length) != ERROR_SUCCESS)
    return false;
  const int type = TypeOf(regType);
  if (length == 0 || (type != rt_String && type != rt_ExpandString)) return false;
  std::vector<char> bytes(length + 1, '\0');
  int stored = 0, readType = rt_Unknown;
  if (!ReadRaw(name, bytes.data(), static_cast<int>(length), stored, readType)) return false;
  text = QString::fromUtf8(bytes.data());  // ends at the first NUL
  return true;
}

bool TRegistry2::ReadInteger(const QString& name, int32_t& value) {
  unsigned char bytes[4] = {};
  int stored = 0, type = rt_Unknown;
  if (!ReadRaw(name, bytes, 4, stored, type) || type != rt_Integer || stored != 4) return false;
  value = qFromLittleEndian<int32_t>(bytes);
  return true;
}

bool TRegistry2::ReadBool(const QString& name, bool& value) {
  int32_t number = 0;
  if (!ReadInteger(name, number)) return false;
  value = number != 0;
  return true;
}

bool TRegistry2::ReadFloat(const QString& name, double& value) {
  unsigned char bytes[8] = {};
  int stored = 0, type = rt_Unknown;
  if (!ReadRaw(name, bytes, 8, stored, type) || type != rt_Binary || stored != 8) return false;
  std::memcpy(&value, bytes, 8);
  return true;
}

bool TRegistry2::ReadBinary(const QString& name, void* buffer, int expectedSize, int& size) {
  size = 0;
  TRegDataInfo info;
  if (expectedSize < 0 || !registry_.GetDataInfo(name, info)) return false;
  if (info.RegData != TRegDataType::rdBinary && info.RegData != TRegDataType::rdUnknown) return false;
  if (info.DataSize != expectedSize) return false;
  int type = rt_Unknown;
  if (!ReadRaw(name, buffer, expectedSize, size, type)) return false;
  return size == expectedSize;
}

QString StorePath() { return QStringLiteral("\\Software\\TFramecatcher\\"); }

QString StoreVersionPath() {
  return StorePath() + QStringLiteral("v5.3 (build 5.3.4 rev c), October 2, 2003");
}

QString DeviceKeyPath(const QString& deviceKey) {
  return StorePath() + QStringLiteral("Devices\\") + deviceKey;
}

void WipeStore() {
  TRegistry2 reg;
  reg.DeleteKey(StorePath());
}

void CheckStoreVersion() {
  TRegistry2 reg;
  if (reg.KeyExists(StoreVersionPath())) return;
  WipeStore();
  TRegistry2 fresh;
  fresh.CreateKey(StoreVersionPath());
}

bool SaveFilterState(FilterStateAccess* filter, const QString& keyPath) {
  if (!filter || keyPath.isEmpty()) return false;
  TRegistry2 reg;
  if (!reg.OpenKey(keyPath, true)) return false;
  bool saved = false;
  if (filter->HasPersistStream()) {
    if (const auto stream = filter->SaveStream()) {
      const int length = static_cast<int>(stream->size());
      saved = reg.WriteBinary(QStringLiteral("WDMState"), stream->constData(), length) &&
              reg.WriteInteger(QStringLiteral("WDMStateSize"), length);
    }
  }
  if (filter->HasDriverState()) {
    const int size = filter->DriverStateSize();
    if (size > 0) {
      if (const auto state = filter->ReadDriverState(size); state && state->size() == size)
        saved = reg.WriteBinary(QStringLiteral("VfwState"), state->constData(), size) || saved;
    }
  }
  return saved;
}

bool LoadFilterState(FilterStateAccess* filter, const QString& keyPath) {
  if (!filter || keyPath.isEmpty()) return false;
  TRegistry2 reg;
  if (!reg.KeyExists(keyPath) || !reg.OpenKey(keyPath, false)) return false;
  bool loaded = false;
  if (filter->HasPersistStream()) {
    int32_t size = 0;
    if (reg.ReadInteger(QStringLiteral("WDMStateSize"), size) && size >= 0) {
      // A state saved by another version of the filter (or another filter under the same key)
      // has another size: loading it would misread every field, so the defaults stay.
      const std::optional<int> expected = filter->StreamSize();
      // The buffer is made only for a value of the recorded length: a damaged size never
      // decides how much memory is taken.
      registry::TRegDataInfo info;
      const bool lengthMatches = reg.GetDataInfo(QStringLiteral("WDMState"), info) && info.DataSize == size;
      bool read = false;
      QByteArray bytes;
      if (expected && *expected != size) {
        WriteLog(QStringLiteral("filter state not restored: ") + QString::number(size) +
                 QStringLiteral(" bytes stored, ") + QString::number(*expected) + QStringLiteral(" expected"));
      } else if (lengthMatches) {
        bytes.resize(size);
        int got = 0;
        read = reg.ReadBinary(QStringLiteral("WDMState"), bytes.data(), size, got);
      }
      if (read) {
        loaded = filter->LoadStream(bytes);
      } else if (!expected || *expected == size) {
        WriteLog(QStringLiteral("filter state not restored: stored state is not ") + QString::number(size) +
                 QStringLiteral(" bytes"));
      }
    }
  }
  if (filter->HasDriverState()) {
    const int size = filter->DriverStateSize();
    if (size > 0) {
      QByteArray bytes(size, '\0');
      int got = 0;
      if (reg.ReadBinary(QStringLiteral("VfwState"), bytes.data(), size, got))
        loaded = filter->WriteDriverState(bytes) || loaded;
    }
  }
  return loaded;
}

namespace {

using com::FAILED;
using com::SUCCEEDED;

class PersistStreamState final : public FilterStateAccess {
 public:
  explicit PersistStreamState(com::ComPtr<dshow::IPersistStream> persist) : persist_(std::move(persist)) {}

  bool HasPersistStream() const override { return bool(persist_); }

  std::optional<QByteArray> SaveStream() override {
    com::ComPtr<dshow::IStream> stream;
    if (FAILED(dshow::CreateMemoryStream(stream.Put())) || FAILED(persist_->Save(stream.Get(), 1)))
      return std::nullopt;
    dshow::ULONGLONG length = 0;
    if (FAILED(stream->Seek(0, dshow::STREAM_SEEK_END, &length)) || length > 0x7FFFFFFF ||
        FAILED(stream->Seek(0, dshow::STREAM_SEEK_SET, nullptr)))
      return std::nullopt;
    QByteArray bytes(static_cast<qsizetype>(length), '\0');
    com::ULONG read = 0;
    if (FAILED(stream->Read(bytes.data(), static_cast<com::ULONG>(length), &read)) || read != length)
      return std::nullopt;
    return bytes;
  }

  bool LoadStream(const QByteArray& bytes) override {
    com::ComPtr<dshow::IStream> stream;
    com::ULONG written = 0;
    if (FAILED(dshow::CreateMemoryStream(stream.Put())) ||
        FAILED(stream->Write(bytes.constData(), static_cast<com::ULONG>(bytes.size()), &written)) ||
        written != static_cast<com::ULONG>(bytes.size()) || FAILED(stream->Seek(0, dshow::STREAM_SEEK_SET, nullptr)))
      return false;
    return SUCCEEDED(persist_->Load(stream.Get()));
  }

  std::optional<int> StreamSize() override {
    dshow::ULONGLONG size = 0;
    if (FAILED(persist_->GetSizeMax(&size)) || size > 0x7FFFFFFF) return std::nullopt;
    return static_cast<int>(size);
  }

 private:
  com::ComPtr<dshow::IPersistStream> persist_;
};

}  // namespace

std::unique_ptr<FilterStateAccess> FilterStateOf(com::IUnknown* filter) {
  com::ComPtr<dshow::IPersistStream> persist;
  if (filter && FAILED(filter->QueryInterface(dshow::IID_IPersistStream, persist.PutVoid()))) persist.Reset();
  return std::make_unique<PersistStreamState>(std::move(persist));
}

bool SaveFilterState(com::IUnknown* filter, const QString& keyPath) {
  if (!filter) return false;
  return SaveFilterState(FilterStateOf(filter).get(), keyPath);
}

bool LoadFilterState(com::IUnknown* filter, const QString& keyPath) {
  if (!filter) return false;
  return LoadFilterState(FilterStateOf(filter).get(), keyPath);
}

}  // namespace kestrom::engine
