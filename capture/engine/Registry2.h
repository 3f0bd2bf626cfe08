#pragma once
// The capture engine's registry store under HKEY_CURRENT_USER "\Software\TFramecatcher\": a thin
// wrapper whose typed reads check the stored type and size (a value of the wrong type or size
// counts as missing), the version check that wipes a store written by another version, and the
// saving and restoring of a capture filter's private state.

#include "platform/com/Unknown.h"
#include "platform/registry/Registry.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

namespace kestrom::engine {

/** @brief Data types as TRegistry2 reads report them. */
enum TRegistry2Type { rt_Unknown = 0, rt_String = 1, rt_ExpandString = 2, rt_Integer = 3, rt_Binary = 4 };

class TRegistry2 {
 public:
  /** @brief On HKEY_CURRENT_USER, or HKEY_LOCAL_MACHINE when machine is true. */
  explicit TRegistry2(bool machine = false);

  bool OpenKey(const QString& path, bool create);
  bool CreateKey(const QString& path);
  bool DeleteKey(const QString& path);
  bool KeyExists(const QString& path);
  bool ValueExists(const QString& name);
  bool GetDataInfo(const QString& name, registry::TRegDataInfo& info);

  bool WriteString(const QString& name, const QString& value);
  bool WriteInteger(const QString& name, int32_t value);
  bool WriteBool(const QString& name, bool value);
  bool WriteFloat(const QString& name, double value);
  bool WriteBinary(const QString& name, const void* buffer, int size);

  /**
   * @brief Reads at most size bytes of a value of the open key. storedSize receives the stored
   * length and type its TRegistry2Type whenever the value exists; true when the bytes were read.
   */
  bool ReadRaw(const QString& name, void* buffer, int size, int& storedSize, int& type);
  /** @brief A string or expandable string of length above 0, cut at its first NUL. */
  bool ReadString(const QString& name, QString& text);
  /** @brief A 4-byte integer value. */
  bool ReadInteger(const QString& name, int32_t& value);
  bool ReadBool(const QString& name, bool& value);
  /** @brief An 8-byte binary value. */
  bool ReadFloat(const QString& name, double& value);
  /** @brief A binary (or unknown-typed) value of exactly expectedSize bytes, copied into buffer. */
  bool ReadBinary(const QString& name, void* buffer, int expectedSize, int& size);

  registry::TRegistry& Registry() { return registry_; }

 private:
  registry::TRegistry registry_;
};

/** @brief "\Software\TFramecatcher\". */
QString StorePath();
/** @brief The version subkey whose presence marks a store written by this version. */
QString StoreVersionPath();
/** @brief StorePath() + "Devices\" + key. */
QString DeviceKeyPath(const QString& deviceKey);

/** @brief Wipes the store unless its version subkey exists, then creates that subkey. */
void CheckStoreVersion();
/** @brief Deletes the store's root key with everything below it. */
void WipeStore();

/**
 * @brief A capture filter's private state, as the filter offers it: a persisted stream and/or the
 * capture driver's state block (driver messages 0x5000 to read, 0x5001 to write).
 */
class FilterStateAccess {
 public:
  virtual ~FilterStateAccess() = default;
  virtual bool HasPersistStream() const { return false; }
  virtual std::optional<QByteArray> SaveStream() { return std::nullopt; }
  virtual bool LoadStream(const QByteArray& bytes) { (void)bytes; return false; }
  /** @brief The size of the state the filter saves now; nothing when it cannot tell. */
  virtual std::optional<int> StreamSize() { return std::nullopt; }

  virtual bool HasDriverState() const { return false; }
  /** @brief The state size the driver reports now (0x5000 with no buffer). */
  virtual int DriverStateSize() { return 0; }
  virtual std::optional<QByteArray> ReadDriverState(int size) { (void)size; return std::nullopt; }
  virtual bool WriteDriverState(const QByteArray& bytes) { (void)bytes; return false; }
};

/** @brief Saves "WDMState"/"WDMStateSize" and "VfwState"; true when either kind was saved. */
bool SaveFilterState(FilterStateAccess* filter, const QString& keyPath);
/**
 * @brief Restores what SaveFilterState stored, each kind only when its stored size matches (the
 * value's length, and the size the filter reports now); true when either kind was restored. A
 * state of the wrong size is left alone, so the filter keeps its defaults, and the process log
 * says so.
 */
bool LoadFilterState(FilterStateAccess* filter, const QString& keyPath);

/**
 * @brief The state access of a graph filter: its IPersistStream (saved into an in-memory stream,
 * sized by GetSizeMax). The filter has no capture driver state on this platform.
 */
std::unique_ptr<FilterStateAccess> FilterStateOf(com::IUnknown* filter);
/** @brief SaveFilterState and LoadFilterState of a graph filter (nothing for a null filter). */
bool SaveFilterState(com::IUnknown* filter, const QString& keyPath);
bool LoadFilterState(com::IUnknown* filter, const QString& keyPath);

}  // namespace kestrom::engine
