#include "platform/registry/Registry.h"

// First cut: every call fails until the store lands.

namespace kestrom::registry {
LONG RegOpenKeyEx(HKEY key, const QString& subKey, DWORD options, REGSAM sam, HKEY* result) { return ERROR_CANTWRITE; }
LONG RegCreateKeyEx(HKEY key, const QString& subKey, DWORD reserved, const char* keyClass,
                    DWORD options, REGSAM sam, const void* security, HKEY* result,
                    DWORD* disposition) { return ERROR_CANTWRITE; }
LONG RegCloseKey(HKEY key) { return ERROR_CANTWRITE; }
LONG RegQueryValueEx(HKEY key, const QString& valueName, DWORD* reserved, DWORD* type, BYTE* data,
                     DWORD* dataSize) { return ERROR_CANTWRITE; }
LONG RegSetValueEx(HKEY key, const QString& valueName, DWORD reserved, DWORD type,
                   const BYTE* data, DWORD dataSize) { return ERROR_CANTWRITE; }
LONG RegDeleteValue(HKEY key, const QString& valueName) { return ERROR_CANTWRITE; }
LONG RegDeleteKey(HKEY key, const QString& subKey) { return ERROR_CANTWRITE; }
LONG RegDeleteTree(HKEY key, const QString& subKey) { return ERROR_CANTWRITE; }
LONG RegEnumKeyEx(HKEY key, DWORD index, QString* name) { return ERROR_CANTWRITE; }
LONG RegEnumValue(HKEY key, DWORD index, QString* name, DWORD* type, BYTE* data, DWORD* dataSize) { return ERROR_CANTWRITE; }
LONG RegQueryInfoKey(HKEY key, DWORD* subKeys, DWORD* maxSubKeyLen, DWORD* values,
                     DWORD* maxValueNameLen, DWORD* maxValueLen) { return ERROR_CANTWRITE; }
LONG RegFlushKey(HKEY key) { return ERROR_CANTWRITE; }
LONG RegSetStringValue(HKEY key, const QString& valueName, const QString& text, DWORD type) { return ERROR_CANTWRITE; }
LONG RegQueryStringValue(HKEY key, const QString& valueName, QString* text) { return ERROR_CANTWRITE; }
QString RegistryDirectory() { return {}; }
void SetRegistryDirectory(const QString& folder) {  }
QString HiveFilePath(HKEY rootKey) { return {}; }
void SetDamageHandler(DamageHandler handler) {  }
}

namespace kestrom::registry {
TRegistry::TRegistry(HKEY rootKey, REGSAM access) : root_(rootKey), access_(access) {}
TRegistry::~TRegistry() = default;
void TRegistry::SetRootKey(HKEY rootKey) { root_ = rootKey; }
bool TRegistry::OpenKey(const QString&, bool) { return false; }
bool TRegistry::OpenKeyReadOnly(const QString&) { return false; }
void TRegistry::CloseKey() {}
bool TRegistry::CreateKey(const QString&) { return false; }
bool TRegistry::DeleteKey(const QString&) { return false; }
bool TRegistry::KeyExists(const QString&) { return false; }
bool TRegistry::HasSubKeys() { return false; }
QStringList TRegistry::GetKeyNames() { return {}; }
bool TRegistry::ValueExists(const QString&) { return false; }
bool TRegistry::DeleteValue(const QString&) { return false; }
QStringList TRegistry::GetValueNames() { return {}; }
bool TRegistry::GetDataInfo(const QString&, TRegDataInfo&) { return false; }
int TRegistry::GetDataSize(const QString&) { return -1; }
TRegDataType TRegistry::GetDataType(const QString&) { return TRegDataType::rdUnknown; }
std::optional<QString> TRegistry::ReadString(const QString&) { return {}; }
bool TRegistry::WriteString(const QString&, const QString&) { return false; }
bool TRegistry::WriteExpandString(const QString&, const QString&) { return false; }
std::optional<int32_t> TRegistry::ReadInteger(const QString&) { return {}; }
bool TRegistry::WriteInteger(const QString&, int32_t) { return false; }
std::optional<bool> TRegistry::ReadBool(const QString&) { return {}; }
bool TRegistry::WriteBool(const QString&, bool) { return false; }
std::optional<double> TRegistry::ReadFloat(const QString&) { return {}; }
bool TRegistry::WriteFloat(const QString&, double) { return false; }
std::optional<QByteArray> TRegistry::ReadBinaryData(const QString&) { return {}; }
int TRegistry::ReadBinaryData(const QString&, void*, int) { return -1; }
bool TRegistry::WriteBinaryData(const QString&, const void*, int) { return false; }
bool TRegistry::WriteBinaryData(const QString&, const QByteArray&) { return false; }
}
