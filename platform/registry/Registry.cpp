#include "platform/registry/Registry.h"

#include "platform/registry/HiveFile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QStandardPaths>
#include <array>
#include <cstdio>
#include <cstring>
#include <unordered_set>

struct kestrom::registry::HKEY__ {
  int hive;
  QStringList path;  // names as stored, below the hive's root
  REGSAM access;
};

namespace kestrom::registry {

namespace {

constexpr int kMaxKeyNameLength = 255;
constexpr int kMaxValueNameLength = 16383;

// Function-local statics throughout: other libraries may call in while their own statics are
// being made, and the hives must outlive every caller at exit, so they are never destroyed.
const char* const kHiveNames[3] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"};

HiveFile& Hive(int index) {
  static std::array<HiveFile, 3>* hives = new std::array<HiveFile, 3>{
      HiveFile(QString::fromLatin1(kHiveNames[0])), HiveFile(QString::fromLatin1(kHiveNames[1])),
      HiveFile(QString::fromLatin1(kHiveNames[2]))};
  return (*hives)[index];
}

struct Settings {
  std::mutex mutex;
  QString folderOverride;
  DamageHandler damageHandler;
};

Settings& TheSettings() {
  static Settings* settings = new Settings;
  return *settings;
}

// Open key handles; a handle not in this set is refused, so a closed or stray handle is an
// error code instead of a crash.
struct HandleTable {
  std::mutex mutex;
  std::unordered_set<HKEY> live;
};

HandleTable& Handles() {
  static HandleTable* table = new HandleTable;
  return *table;
}

int PredefinedHive(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) return 0;
  if (key == HKEY_CURRENT_USER) return 1;
  if (key == HKEY_LOCAL_MACHINE) return 2;
  return -1;
}

// What an HKEY stands for, copied out of the handle table.
struct KeyRef {
  int hive = -1;
  QStringList path;
  REGSAM access = 0;
};

bool Resolve(HKEY key, KeyRef* ref) {
  const int predefined = PredefinedHive(key);
  if (predefined >= 0) {
    ref->hive = predefined;
    ref->path.clear();
    ref->access = KEY_ALL_ACCESS;
    return true;
  }
  HandleTable& table = Handles();
  std::lock_guard lock(table.mutex);
  if (!key || !table.live.count(key)) return false;
  ref->hive = key->hive;
  ref->path = key->path;
  ref->access = key->access;
  return true;
}

HKEY NewHandle(int hive, QStringList path, REGSAM access) {
  HKEY key = new HKEY__{hive, std::move(path), access};
  HandleTable& table = Handles();
  std::lock_guard lock(table.mutex);
  table.live.insert(key);
  return key;
}

// Splits "A\B\C" into names; leading, trailing and doubled separators are ignored.
LONG SplitPath(const QString& subKey, QStringList* names) {
  names->clear();
  for (const QString& part : subKey.split(u'\\', Qt::SkipEmptyParts)) {
    if (part.size() > kMaxKeyNameLength || !IsStorableName(part)) return ERROR_BAD_PATHNAME;
    names->append(part);
  }
  return ERROR_SUCCESS;
}

bool ValidValueName(const QString& name) {
  return name.size() <= kMaxValueNameLength && IsStorableName(name);
}

const KeyNode* Walk(const KeyNode& root, const QStringList& path) {
  const KeyNode* node = &root;
  for (const QString& name : path) {
    node = node->FindSubKey(name);
    if (!node) return nullptr;
  }
  return node;
}

KeyNode* Walk(KeyNode& root, const QStringList& path) {
  return const_cast<KeyNode*>(Walk(static_cast<const KeyNode&>(root), path));
}

// Looks up the handle's own key: ERROR_KEY_DELETED when it vanished since it was opened.
LONG FindKey(const KeyNode& root, const KeyRef& ref, const KeyNode** node) {
  *node = Walk(root, ref.path);
  return *node ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

// Copies a value out as the query calls do.
LONG CopyOut(const ValueEntry& value, DWORD* type, BYTE* data, DWORD* dataSize) {
  if (type) *type = value.type;
  const auto stored = static_cast<DWORD>(value.data.size());
  if (!dataSize) return ERROR_SUCCESS;
  if (data && *dataSize < stored) {
    *dataSize = stored;
    return ERROR_MORE_DATA;
  }
  if (data && stored > 0) std::memcpy(data, value.data.constData(), stored);
  *dataSize = stored;
  return ERROR_SUCCESS;
}

QString DefaultFolder() {
  const QString env = qEnvironmentVariable("KESTROM_REGISTRY_DIR");
  if (!env.isEmpty()) return env;
  // A test that names no folder must not reach the user's own settings: it gets hives of its
  // own, removed when the process ends.
  if (qEnvironmentVariableIsSet("KESTROM_TEST_RUN")) {
    static QTemporaryDir testFolder(QDir::tempPath() + QStringLiteral("/kestrom-registry-XXXXXX"));
    return testFolder.path();
  }
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/kestrom/registry");
}

}  // namespace

void ReportDamage(const std::vector<DamageReport>& reports) {
  if (reports.empty()) return;
  DamageHandler handler;
  {
    Settings& settings = TheSettings();
    std::lock_guard lock(settings.mutex);
    handler = settings.damageHandler;
  }
  for (const DamageReport& report : reports) {
    if (handler) {
      handler(report.file, report.setAsideAs, report.problems);
      continue;
    }
    const QString where = report.setAsideAs.isEmpty()
                              ? QStringLiteral("it could not be set aside and is left unchanged")
                              : QStringLiteral("it was kept as %1").arg(report.setAsideAs);
    std::fprintf(stderr, "registry: %s is damaged (%s); %s\n", qPrintable(report.file),
                 qPrintable(report.problems.join(QStringLiteral("; "))), qPrintable(where));
  }
}

QString RegistryDirectory() {
  Settings& settings = TheSettings();
  {
    std::lock_guard lock(settings.mutex);
    if (!settings.folderOverride.isEmpty()) return settings.folderOverride;
  }
  return DefaultFolder();
}

void SetRegistryDirectory(const QString& folder) {
  Settings& settings = TheSettings();
  std::lock_guard lock(settings.mutex);
  settings.folderOverride = folder;
}

QString HiveFilePath(HKEY rootKey) {
  const int hive = PredefinedHive(rootKey);
  if (hive < 0) return {};
  return RegistryDirectory() + u'/' + QString::fromLatin1(kHiveNames[hive]) + QStringLiteral(".reg");
}

void SetDamageHandler(DamageHandler handler) {
  Settings& settings = TheSettings();
  std::lock_guard lock(settings.mutex);
  settings.damageHandler = std::move(handler);
}

LONG RegOpenKeyEx(HKEY key, const QString& subKey, DWORD /*options*/, REGSAM sam, HKEY* result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  KeyRef ref;
  if (!Resolve(key, &ref)) return ERROR_INVALID_HANDLE;
  QStringList names;
  if (LONG rc = SplitPath(subKey, &names)) return rc;
  QStringList stored;
  const LONG rc = Hive(ref.hive).Read([&](const KeyNode& root) -> LONG {
    const KeyNode* node = nullptr;
    if (LONG found = FindKey(root, ref, &node)) return found;
    stored = ref.path;
    for (const QString& name : names) {
      node = node->FindSubKey(name);
      if (!node) return ERROR_FILE_NOT_FOUND;
      stored.append(node->name);
    }
    return ERROR_SUCCESS;
  });
  if (rc == ERROR_SUCCESS) *result = NewHandle(ref.hive, stored, sam);
  return rc;
}

LONG RegCreateKeyEx(HKEY key, const QString& subKey, DWORD /*reserved*/, const char* /*keyClass*/,
                    DWORD /*options*/, REGSAM sam, const void* /*security*/, HKEY* result,
                    DWORD* disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  KeyRef ref;
  if (!Resolve(key, &ref)) return ERROR_INVALID_HANDLE;
  QStringList names;
  if (LONG rc = SplitPath(subKey, &names)) return rc;
  // Most calls meet a key that is already there: open it without writing the hive.
  if (RegOpenKeyEx(key, subKey, 0, sam, result) == ERROR_SUCCESS) {
    if (disposition) *disposition = REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
  }
  if (!names.isEmpty() && !(ref.access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
  QStringList stored;
  bool createdAny = false;
  const LONG rc = Hive(ref.hive).Change(
      [&](KeyNode& root, bool& changed) -> LONG {
        KeyNode* node = Walk(root, ref.path);
        if (!node) return ERROR_KEY_DELETED;
        stored = ref.path;
        createdAny = false;
        for (const QString& name : names) {
          bool created = false;
          node = &node->SubKey(name, &created);
          createdAny = createdAny || created;
          stored.append(node->name);
        }
        changed = createdAny;
        return ERROR_SUCCESS;
      },
      ERROR_CANTWRITE);
  if (rc != ERROR_SUCCESS) return rc;
  *result = NewHandle(ref.hive, stored, sam);
  if (disposition) *disposition = createdAny ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  if (PredefinedHive(key) >= 0) return ERROR_SUCCESS;
  HandleTable& table = Handles();
  {
    std::lock_guard lock(table.mutex);
    if (!key || !table.live.erase(key)) return ERROR_INVALID_HANDLE;
  }
  delete key;
  return ERROR_SUCCESS;
}

LONG RegQueryValueEx(HKEY key, const QString& valueName, DWORD* /*reserved*/, DWORD* type, BYTE* data,
                     DWORD* dataSize) {
  if (data && !dataSize) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  if (!Resolve(key, &ref)) return ERROR_INVALID_HANDLE;
  if (!(ref.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  return Hive(ref.hive).Read([&](const KeyNode& root) -> LONG {
    const KeyNode* node = nullptr;
    if (LONG rc = FindKey(root, ref, &node)) return rc;
    const ValueEntry* value = node->FindValue(valueName);
    if (!value) return ERROR_FILE_NOT_FOUND;
    return CopyOut(*value, type, data, dataSize);
  });
}

LONG RegSetValueEx(HKEY key, const QString& valueName, DWORD /*reserved*/, DWORD type, const BYTE* data,
                   DWORD dataSize) {
  if (!data && dataSize > 0) return ERROR_INVALID_PARAMETER;
  if (!ValidValueName(valueName)) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  if (!Resolve(key, &ref)) return ERROR_INVALID_HANDLE;
  if (!(ref.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(dataSize));
  return Hive(ref.hive).Change(
      [&](KeyNode& root, bool& changed) -> LONG {
        KeyNode* node = Walk(root, ref.path);
        if (!node) return ERROR_KEY_DELETED;
        const ValueEntry* old = node->FindValue(valueName);
        changed = !old || old->type != type || old->data != bytes;
        if (changed) node->SetValue(valueName, type, bytes);
        return ERROR_SUCCESS;
      },
      ERROR_CANTWRITE);
}

LONG RegDeleteValue(HKEY key, const QString& valueName) {
  KeyRef ref;
  if (!Resolve(key, &ref)) return ERROR_INVALID_HANDLE;
  if (!(ref.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  return Hive(ref.hive).Change(
      [&](KeyNode& root, bool& changed) -> LONG {
        KeyNode* node = Walk(root, ref.path);
        if (!node) return ERROR_KEY_DELETED;
        changed = node->RemoveValue(valueName);
        return changed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
      },
      ERROR_CANTWRITE);
}

namespace {

// Deletes the key at base + names; with wholeTree false only a key without subkeys.
LONG DeleteKeyAt(HKEY key, const QString& subKey, bool wholeTree) {
  KeyRef ref;
  if (!Resolve(key, &ref)) return ERROR_INVALID_HANDLE;
  QStringList names;
  if (LONG rc = SplitPath(subKey, &names)) return rc;
  const QStringList target = ref.path + names;
  if (target.isEmpty()) return ERROR_ACCESS_DENIED;  // a hive's root cannot go
  return Hive(ref.hive).Change(
      [&](KeyNode& root, bool& changed) -> LONG {
        if (!Walk(root, ref.path)) return ERROR_KEY_DELETED;
        KeyNode* parent = Walk(root, target.mid(0, target.size() - 1));
        KeyNode* node = parent ? parent->FindSubKey(target.back()) : nullptr;
        if (!node) return ERROR_FILE_NOT_FOUND;
        if (!wholeTree && !node->subKeys.empty()) return ERROR_ACCESS_DENIED;
        changed = parent->RemoveSubKey(target.back());
        return ERROR_SUCCESS;
      },
      ERROR_CANTWRITE);
}

}  // namespace

LONG RegDeleteKey(HKEY key, const QString& subKey) { return DeleteKeyAt(key, subKey, false); }

LONG RegDeleteTree(HKEY key, const QString& subKey) {
  QStringList names;
  if (LONG rc = SplitPath(subKey, &names)) return rc;
  if (!names.isEmpty()) return DeleteKeyAt(key, subKey, true);
  // No sub-key: the key stays and loses everything in it.
  KeyRef ref;
  if (!Resolve(key, &ref)) return ERROR_INVALID_HANDLE;
  return Hive(ref.hive).Change(
      [&](KeyNode& root, bool& changed) -> LONG {
        KeyNode* node = Walk(root, ref.path);
        if (!node) return ERROR_KEY_DELETED;
        changed = !node->values.empty() || !node->subKeys.empty();
        node->values.clear();
        node->subKeys.clear();
        return ERROR_SUCCESS;
      },
      ERROR_CANTWRITE);
}

LONG RegEnumKeyEx(HKEY key, DWORD index, QString* name) {
  if (!name) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  if (!Resolve(key, &ref)) return ERROR_INVALID_HANDLE;
  if (!(ref.access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  return Hive(ref.hive).Read([&](const KeyNode& root) -> LONG {
    const KeyNode* node = nullptr;
    if (LONG rc = FindKey(root, ref, &node)) return rc;
    if (index >= node->subKeys.size()) return ERROR_NO_MORE_ITEMS;
    *name = node->subKeys[index].name;
    return ERROR_SUCCESS;
  });
}

LONG RegEnumValue(HKEY key, DWORD index, QString* name, DWORD* type, BYTE* data, DWORD* dataSize) {
  if (data && !dataSize) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  if (!Resolve(key, &ref)) return ERROR_INVALID_HANDLE;
  if (!(ref.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  return Hive(ref.hive).Read([&](const KeyNode& root) -> LONG {
    const KeyNode* node = nullptr;
    if (LONG rc = FindKey(root, ref, &node)) return rc;
    if (index >= node->values.size()) return ERROR_NO_MORE_ITEMS;
    const ValueEntry& value = node->values[index];
    if (name) *name = value.name;
    return CopyOut(value, type, data, dataSize);
  });
}

LONG RegQueryInfoKey(HKEY key, DWORD* subKeys, DWORD* maxSubKeyLen, DWORD* values, DWORD* maxValueNameLen,
                     DWORD* maxValueLen) {
  KeyRef ref;
  if (!Resolve(key, &ref)) return ERROR_INVALID_HANDLE;
  if (!(ref.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  return Hive(ref.hive).Read([&](const KeyNode& root) -> LONG {
    const KeyNode* node = nullptr;
    if (LONG rc = FindKey(root, ref, &node)) return rc;
    DWORD longestKey = 0, longestName = 0, longestData = 0;
    for (const KeyNode& sub : node->subKeys) longestKey = std::max<DWORD>(longestKey, sub.name.size());
    for (const ValueEntry& v : node->values) {
      longestName = std::max<DWORD>(longestName, v.name.size());
      longestData = std::max<DWORD>(longestData, v.data.size());
    }
    if (subKeys) *subKeys = static_cast<DWORD>(node->subKeys.size());
    if (maxSubKeyLen) *maxSubKeyLen = longestKey;
    if (values) *values = static_cast<DWORD>(node->values.size());
    if (maxValueNameLen) *maxValueNameLen = longestName;
    if (maxValueLen) *maxValueLen = longestData;
    return ERROR_SUCCESS;
  });
}

LONG RegFlushKey(HKEY key) {
  KeyRef ref;
  return Resolve(key, &ref) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegSetStringValue(HKEY key, const QString& valueName, const QString& text, DWORD type) {
  const QByteArray bytes = text.toUtf8() + '\0';
  return RegSetValueEx(key, valueName, 0, type, reinterpret_cast<const BYTE*>(bytes.constData()),
                       static_cast<DWORD>(bytes.size()));
}

LONG RegQueryStringValue(HKEY key, const QString& valueName, QString* text) {
  if (!text) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  if (!Resolve(key, &ref)) return ERROR_INVALID_HANDLE;
  if (!(ref.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  QByteArray bytes;
  const LONG rc = Hive(ref.hive).Read([&](const KeyNode& root) -> LONG {
    const KeyNode* node = nullptr;
    if (LONG found = FindKey(root, ref, &node)) return found;
    const ValueEntry* value = node->FindValue(valueName);
    if (!value) return ERROR_FILE_NOT_FOUND;
    if (value->type != REG_SZ && value->type != REG_EXPAND_SZ) return ERROR_INVALID_DATATYPE;
    bytes = value->data;
    return ERROR_SUCCESS;
  });
  if (rc != ERROR_SUCCESS) return rc;
  const qsizetype nul = bytes.indexOf('\0');
  *text = QString::fromUtf8(nul >= 0 ? bytes.left(nul) : bytes);
  return ERROR_SUCCESS;
}

// ---- TRegistry ----

namespace {

QString StoredPath(HKEY key) {
  KeyRef ref;
  return Resolve(key, &ref) ? ref.path.join(u'\\') : QString();
}

TRegDataType DataTypeOf(DWORD type) {
  switch (type) {
    case REG_SZ: return TRegDataType::rdString;
    case REG_EXPAND_SZ: return TRegDataType::rdExpandString;
    case REG_DWORD: return TRegDataType::rdInteger;
    case REG_BINARY: return TRegDataType::rdBinary;
    default: return TRegDataType::rdUnknown;
  }
}

}  // namespace

TRegistry::TRegistry(HKEY rootKey, REGSAM access) : root_(rootKey), access_(access) {}

TRegistry::~TRegistry() { CloseKey(); }

void TRegistry::SetRootKey(HKEY rootKey) {
  CloseKey();
  root_ = rootKey;
}

bool TRegistry::Done(LONG code) {
  lastError_ = code;
  return code == ERROR_SUCCESS;
}

QString TRegistry::AbsolutePath(const QString& key) const {
  if (key.startsWith(u'\\')) return key.mid(1);
  if (current_ && !currentPath_.isEmpty()) return key.isEmpty() ? currentPath_ : currentPath_ + u'\\' + key;
  return key;
}

bool TRegistry::OpenKey(const QString& key, bool canCreate) {
  HKEY opened = nullptr;
  const QString path = AbsolutePath(key);
  const LONG rc = canCreate ? RegCreateKeyEx(root_, path, 0, nullptr, 0, access_, nullptr, &opened, nullptr)
                            : RegOpenKeyEx(root_, path, 0, access_, &opened);
  if (!Done(rc)) return false;
  CloseKey();
  current_ = opened;
  currentPath_ = StoredPath(opened);
  return true;
}

bool TRegistry::OpenKeyReadOnly(const QString& key) {
  HKEY opened = nullptr;
  if (!Done(RegOpenKeyEx(root_, AbsolutePath(key), 0, KEY_READ, &opened))) return false;
  CloseKey();
  current_ = opened;
  currentPath_ = StoredPath(opened);
  return true;
}

void TRegistry::CloseKey() {
  if (current_) RegCloseKey(current_);
  current_ = nullptr;
  currentPath_.clear();
}

bool TRegistry::CreateKey(const QString& key) {
  HKEY created = nullptr;
  if (!Done(RegCreateKeyEx(root_, AbsolutePath(key), 0, nullptr, 0, access_, nullptr, &created, nullptr)))
    return false;
  RegCloseKey(created);
  return true;
}

bool TRegistry::DeleteKey(const QString& key) {
  const QString path = AbsolutePath(key);
  QStringList names;
  if (!Done(SplitPath(path, &names))) return false;
  if (names.isEmpty()) return Done(ERROR_ACCESS_DENIED);
  return Done(RegDeleteTree(root_, path));
}

bool TRegistry::KeyExists(const QString& key) {
  HKEY opened = nullptr;
  if (!Done(RegOpenKeyEx(root_, AbsolutePath(key), 0, KEY_READ, &opened))) return false;
  RegCloseKey(opened);
  return true;
}

bool TRegistry::HasSubKeys() {
  DWORD count = 0;
  return Done(RegQueryInfoKey(CurrentKey(), &count, nullptr, nullptr, nullptr, nullptr)) && count > 0;
}

QStringList TRegistry::GetKeyNames() {
  QStringList names;
  QString name;
  LONG rc;
  for (DWORD i = 0; (rc = RegEnumKeyEx(CurrentKey(), i, &name)) == ERROR_SUCCESS; ++i) names.append(name);
  Done(rc == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : rc);
  return names;
}

bool TRegistry::ValueExists(const QString& name) {
  return Done(RegQueryValueEx(CurrentKey(), name, nullptr, nullptr, nullptr, nullptr));
}

bool TRegistry::DeleteValue(const QString& name) { return Done(RegDeleteValue(CurrentKey(), name)); }

QStringList TRegistry::GetValueNames() {
  QStringList names;
  QString name;
  LONG rc;
  for (DWORD i = 0; (rc = RegEnumValue(CurrentKey(), i, &name, nullptr, nullptr, nullptr)) == ERROR_SUCCESS; ++i)
    names.append(name);
  Done(rc == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : rc);
  return names;
}

bool TRegistry::GetDataInfo(const QString& name, TRegDataInfo& info) {
  DWORD type = 0, size = 0;
  if (!Done(RegQueryValueEx(CurrentKey(), name, nullptr, &type, nullptr, &size))) {
    info = TRegDataInfo();
    return false;
  }
  info.RegData = DataTypeOf(type);
  info.DataSize = static_cast<int>(size);
  return true;
}

int TRegistry::GetDataSize(const QString& name) {
  TRegDataInfo info;
  return GetDataInfo(name, info) ? info.DataSize : -1;
}

TRegDataType TRegistry::GetDataType(const QString& name) {
  TRegDataInfo info;
  GetDataInfo(name, info);
  return info.RegData;
}

namespace {

// Reads a whole value with its type; the value may change between asking its size and reading
// it (another process), so a short buffer is retried.
LONG ReadWhole(HKEY key, const QString& name, DWORD* type, QByteArray* data) {
  DWORD size = 0;
  for (int attempt = 0; attempt < 8; ++attempt) {
    if (LONG rc = RegQueryValueEx(key, name, nullptr, type, nullptr, &size)) return rc;
    data->resize(static_cast<qsizetype>(size));
    DWORD got = size;
    const LONG rc = RegQueryValueEx(key, name, nullptr, type, reinterpret_cast<BYTE*>(data->data()), &got);
    if (rc == ERROR_SUCCESS) {
      data->resize(static_cast<qsizetype>(got));
      return ERROR_SUCCESS;
    }
    if (rc != ERROR_MORE_DATA) return rc;
  }
  return ERROR_MORE_DATA;
}

}  // namespace

std::optional<QString> TRegistry::ReadString(const QString& name) {
  QString text;
  if (!Done(RegQueryStringValue(CurrentKey(), name, &text))) return std::nullopt;
  return text;
}

bool TRegistry::WriteString(const QString& name, const QString& value) {
  return Done(RegSetStringValue(CurrentKey(), name, value, REG_SZ));
}

bool TRegistry::WriteExpandString(const QString& name, const QString& value) {
  return Done(RegSetStringValue(CurrentKey(), name, value, REG_EXPAND_SZ));
}

std::optional<int32_t> TRegistry::ReadInteger(const QString& name) {
  DWORD type = 0;
  QByteArray data;
  if (!Done(ReadWhole(CurrentKey(), name, &type, &data))) return std::nullopt;
  if (type != REG_DWORD || data.size() != 4) {
    Done(ERROR_INVALID_DATATYPE);
    return std::nullopt;
  }
  const auto* p = reinterpret_cast<const unsigned char*>(data.constData());
  return static_cast<int32_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24));
}

bool TRegistry::WriteInteger(const QString& name, int32_t value) {
  const auto n = static_cast<uint32_t>(value);
  const BYTE le[4] = {static_cast<BYTE>(n), static_cast<BYTE>(n >> 8), static_cast<BYTE>(n >> 16),
                      static_cast<BYTE>(n >> 24)};
  return Done(RegSetValueEx(CurrentKey(), name, 0, REG_DWORD, le, 4));
}

std::optional<bool> TRegistry::ReadBool(const QString& name) {
  const std::optional<int32_t> n = ReadInteger(name);
  if (!n) return std::nullopt;
  return *n != 0;
}

bool TRegistry::WriteBool(const QString& name, bool value) { return WriteInteger(name, value ? 1 : 0); }

std::optional<double> TRegistry::ReadFloat(const QString& name) {
  DWORD type = 0;
  QByteArray data;
  if (!Done(ReadWhole(CurrentKey(), name, &type, &data))) return std::nullopt;
  if (type != REG_BINARY || data.size() != static_cast<qsizetype>(sizeof(double))) {
    Done(ERROR_INVALID_DATATYPE);
    return std::nullopt;
  }
  double value;
  std::memcpy(&value, data.constData(), sizeof value);
  return value;
}

bool TRegistry::WriteFloat(const QString& name, double value) {
  return WriteBinaryData(name, &value, static_cast<int>(sizeof value));
}

std::optional<QByteArray> TRegistry::ReadBinaryData(const QString& name) {
  DWORD type = 0;
  QByteArray data;
  if (!Done(ReadWhole(CurrentKey(), name, &type, &data))) return std::nullopt;
  const TRegDataType kind = DataTypeOf(type);
  if (kind != TRegDataType::rdBinary && kind != TRegDataType::rdUnknown) {
    Done(ERROR_INVALID_DATATYPE);
    return std::nullopt;
  }
  return data;
}

int TRegistry::ReadBinaryData(const QString& name, void* buffer, int bufferSize) {
  if (bufferSize < 0 || (!buffer && bufferSize > 0)) {
    Done(ERROR_INVALID_PARAMETER);
    return -1;
  }
  const std::optional<QByteArray> data = ReadBinaryData(name);
  if (!data) return -1;
  if (data->size() > bufferSize) {
    Done(ERROR_MORE_DATA);
    return -1;
  }
  if (!data->isEmpty()) std::memcpy(buffer, data->constData(), static_cast<size_t>(data->size()));
  return static_cast<int>(data->size());
}

bool TRegistry::WriteBinaryData(const QString& name, const void* buffer, int size) {
  if (size < 0 || (!buffer && size > 0)) return Done(ERROR_INVALID_PARAMETER);
  return Done(RegSetValueEx(CurrentKey(), name, 0, REG_BINARY, static_cast<const BYTE*>(buffer),
                            static_cast<DWORD>(size)));
}

bool TRegistry::WriteBinaryData(const QString& name, const QByteArray& data) {
  return WriteBinaryData(name, data.constData(), static_cast<int>(data.size()));
}

}  // namespace kestrom::registry
