#pragma once
// The registry: keys and typed values in three hives (HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE,
// HKEY_CLASSES_ROOT), shared by every process of the user.
//
// Each hive is one text file in the REGEDIT4 export syntax, "<hive name>.reg" in the registry
// folder ($KESTROM_REGISTRY_DIR, else ~/.config/kestrom/registry/; see RegistryDirectory). Every
// change is written at once, atomically (temporary file + rename) under an exclusive lock on
// "<hive name>.lock"; every call sees the changes other processes made (the file is re-read when
// it changed). A damaged hive file is set aside as "<file>.bad" before it is ever rewritten, its
// readable keys and values are kept, and the damage is reported once through the damage handler.
//
// Two ways in:
// - the Windows-like calls (RegOpenKeyEx, RegQueryValueEx, ...) returning error codes;
// - TRegistry, a small class in the widget toolkit's style, whose typed reads check the stored
//   type and length. Nothing in this library throws: failures are return values (and LastError).
//
// Names of keys and values are compared without regard to case and stored as first written, with
// their case and any blanks. Strings (REG_SZ, REG_EXPAND_SZ) are stored as UTF-8 bytes ended by
// one NUL, as the ANSI calls store them; the data length of a string counts that NUL.
// All calls are safe from any thread.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>

namespace kestrom::registry {

using LONG = int32_t;
using DWORD = uint32_t;
using BYTE = uint8_t;
using REGSAM = uint32_t;

/** @brief An open key. Predefined root keys need no opening and no closing. */
struct HKEY__;
using HKEY = HKEY__*;

inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(uintptr_t{0x80000000u});
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(uintptr_t{0x80000001u});
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(uintptr_t{0x80000002u});

// Error codes, as the Windows calls return them.
inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;     // no such key or value
inline constexpr LONG ERROR_ACCESS_DENIED = 5;      // key opened without the right; key has subkeys
inline constexpr LONG ERROR_INVALID_HANDLE = 6;     // closed or unknown key handle
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_BAD_PATHNAME = 161;     // malformed key path or name
inline constexpr LONG ERROR_MORE_DATA = 234;        // buffer too small; the size needed is returned
inline constexpr LONG ERROR_NO_MORE_ITEMS = 259;    // enumeration index past the end
inline constexpr LONG ERROR_INVALID_DATATYPE = 1804;  // typed read of a value of another type/length
inline constexpr LONG ERROR_CANTWRITE = 1013;       // the hive file could not be written
inline constexpr LONG ERROR_KEY_DELETED = 1018;     // the open key was deleted meanwhile

// Value types.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_QWORD = 11;

// Access rights of an opened key.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// ---- Windows-like calls ----
// A sub-key path is a '\'-separated path below the given key; a leading or trailing '\' is ignored
// and an empty path names the key itself. An empty value name is the key's default value ("@").

/** @brief Opens an existing key; ERROR_FILE_NOT_FOUND when it is missing. */
LONG RegOpenKeyEx(HKEY key, const QString& subKey, DWORD options, REGSAM sam, HKEY* result);

/**
 * @brief Opens a key, creating it and any missing keys above it. keyClass and security are
 * accepted and ignored. disposition (may be null) says REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY.
 */
LONG RegCreateKeyEx(HKEY key, const QString& subKey, DWORD reserved, const char* keyClass,
                    DWORD options, REGSAM sam, const void* security, HKEY* result,
                    DWORD* disposition);

/** @brief Closes an opened key; closing a predefined root key does nothing. */
LONG RegCloseKey(HKEY key);

/**
 * @brief Reads a value. With data null, *dataSize receives the stored length. With a buffer
 * shorter than the stored length: ERROR_MORE_DATA and *dataSize = the stored length. type and
 * dataSize may be null when not wanted (dataSize not when data is given).
 */
LONG RegQueryValueEx(HKEY key, const QString& valueName, DWORD* reserved, DWORD* type, BYTE* data,
                     DWORD* dataSize);

/** @brief Writes a value of any type with exactly dataSize bytes (strings: include the NUL). */
LONG RegSetValueEx(HKEY key, const QString& valueName, DWORD reserved, DWORD type,
                   const BYTE* data, DWORD dataSize);

/** @brief Deletes one value. */
LONG RegDeleteValue(HKEY key, const QString& valueName);

/** @brief Deletes a key that has no subkeys (ERROR_ACCESS_DENIED when it has some), with its values. */
LONG RegDeleteKey(HKEY key, const QString& subKey);

/** @brief Deletes a key with everything below it; an empty subKey empties the key itself. */
LONG RegDeleteTree(HKEY key, const QString& subKey);

/** @brief The name of the subkey at index (in stored order); ERROR_NO_MORE_ITEMS past the end. */
LONG RegEnumKeyEx(HKEY key, DWORD index, QString* name);

/**
 * @brief The value at index (in stored order): its name, type and data as RegQueryValueEx gives
 * them (ERROR_MORE_DATA when the buffer is short; the name is still given).
 */
LONG RegEnumValue(HKEY key, DWORD index, QString* name, DWORD* type, BYTE* data, DWORD* dataSize);

/** @brief Counts and longest lengths of a key's subkey names, value names and value data (any may be null). */
LONG RegQueryInfoKey(HKEY key, DWORD* subKeys, DWORD* maxSubKeyLen, DWORD* values,
                     DWORD* maxValueNameLen, DWORD* maxValueLen);

/** @brief Writes pending changes: every change is written at once, so this only checks the handle. */
LONG RegFlushKey(HKEY key);

// ---- String helpers over the calls above ----

/** @brief Writes text as REG_SZ or REG_EXPAND_SZ (UTF-8 and one NUL). */
LONG RegSetStringValue(HKEY key, const QString& valueName, const QString& text, DWORD type = REG_SZ);

/**
 * @brief Reads a REG_SZ or REG_EXPAND_SZ value as text, ending at the first NUL;
 * ERROR_INVALID_DATATYPE for a value of another type.
 */
LONG RegQueryStringValue(HKEY key, const QString& valueName, QString* text);

// ---- Store control ----

/**
 * @brief The folder that holds the hive files: the override, else $KESTROM_REGISTRY_DIR, else
 * ~/.config/kestrom/registry; in a test run ($KESTROM_TEST_RUN set) a temporary folder of the
 * process instead of the last, so no test touches the user's own settings.
 */
QString RegistryDirectory();

/** @brief Puts the hives in another folder from now on (empty: back to the environment's); for tests and tools. */
void SetRegistryDirectory(const QString& folder);

/** @brief The file that holds a root key's hive (empty for a key that is not a root). */
QString HiveFilePath(HKEY rootKey);

/**
 * @brief Told once per damaged hive file: the file, where it was set aside (empty when that
 * failed) and one line per damaged place ("line 12: ...").
 */
using DamageHandler =
    std::function<void(const QString& hiveFile, const QString& setAsideAs, const QStringList& problems)>;

/** @brief Replaces the damage handler (nullptr: back to the default, a log line on stderr). */
void SetDamageHandler(DamageHandler handler);

// ---- The toolkit-style class ----

/** @brief Data types as TRegistry reports them. */
enum class TRegDataType { rdUnknown = 0, rdString = 1, rdExpandString = 2, rdInteger = 3, rdBinary = 4 };

struct TRegDataInfo {
  TRegDataType RegData = TRegDataType::rdUnknown;
  int DataSize = 0;
};

/**
 * @brief A registry object with a root key and one current key. Key paths are relative to the
 * current key, or to the root when they start with '\' (or when no key is open). Typed reads fail
 * (nothing, false, LastError() = ERROR_INVALID_DATATYPE) when the stored type or length does not
 * fit; a missing value fails with ERROR_FILE_NOT_FOUND. No call throws.
 */
class TRegistry {
 public:
  explicit TRegistry(HKEY rootKey = HKEY_CURRENT_USER, REGSAM access = KEY_ALL_ACCESS);
  ~TRegistry();
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  /** @brief The root key; setting it closes the current key. */
  HKEY RootKey() const { return root_; }
  void SetRootKey(HKEY rootKey);

  /** @brief The access asked for by later OpenKey calls. */
  REGSAM Access() const { return access_; }
  void SetAccess(REGSAM access) { access_ = access; }

  /** @brief The open key (the root key when none is open) and its path below the root, without leading '\'. */
  HKEY CurrentKey() const { return current_ ? current_ : root_; }
  QString CurrentPath() const { return currentPath_; }

  /** @brief Makes a key current, creating it when canCreate; true on success. */
  bool OpenKey(const QString& key, bool canCreate);
  /** @brief Makes an existing key current for reading only. */
  bool OpenKeyReadOnly(const QString& key);
  /** @brief Closes the current key (the root becomes current). */
  void CloseKey();

  /** @brief Creates a key (and the keys above it) without making it current. */
  bool CreateKey(const QString& key);
  /** @brief Deletes a key with everything below it. */
  bool DeleteKey(const QString& key);
  bool KeyExists(const QString& key);
  bool HasSubKeys();
  QStringList GetKeyNames();

  bool ValueExists(const QString& name);
  bool DeleteValue(const QString& name);
  QStringList GetValueNames();
  /** @brief The type and stored length of a value; false when it is missing. */
  bool GetDataInfo(const QString& name, TRegDataInfo& info);
  /** @brief The stored length of a value, -1 when it is missing. */
  int GetDataSize(const QString& name);
  /** @brief The type of a value, rdUnknown when it is missing. */
  TRegDataType GetDataType(const QString& name);

  /** @brief A string or expandable string, ending at its first NUL. */
  std::optional<QString> ReadString(const QString& name);
  bool WriteString(const QString& name, const QString& value);
  bool WriteExpandString(const QString& name, const QString& value);

  /** @brief A DWORD value (type integer, 4 bytes). */
  std::optional<int32_t> ReadInteger(const QString& name);
  bool WriteInteger(const QString& name, int32_t value);

  /** @brief A DWORD value, true when not 0. */
  std::optional<bool> ReadBool(const QString& name);
  bool WriteBool(const QString& name, bool value);

  /** @brief An 8-byte floating value, stored as binary. */
  std::optional<double> ReadFloat(const QString& name);
  bool WriteFloat(const QString& name, double value);

  /** @brief A binary value (or one of a type TRegistry calls unknown), its bytes as stored. */
  std::optional<QByteArray> ReadBinaryData(const QString& name);
  /** @brief Reads a binary value into a buffer; fails with ERROR_MORE_DATA when it does not fit. Returns the length read or -1. */
  int ReadBinaryData(const QString& name, void* buffer, int bufferSize);
  bool WriteBinaryData(const QString& name, const void* buffer, int size);
  bool WriteBinaryData(const QString& name, const QByteArray& data);

  /** @brief The error code of the last call that failed (ERROR_SUCCESS after one that succeeded). */
  LONG LastError() const { return lastError_; }

 private:
  bool Done(LONG code);
  QString AbsolutePath(const QString& key) const;

  HKEY root_;
  REGSAM access_;
  HKEY current_ = nullptr;
  QString currentPath_;
  LONG lastError_ = ERROR_SUCCESS;
};

}  // namespace kestrom::registry
