#pragma once
// The four unit-wide device lists: audio and video capture devices, video and audio compressors.
// Entries are never removed, so an index stays valid while the program runs: a device that goes
// away keeps its entry with its present-now mark cleared, and gets it back when it returns.

#include "capture/engine/DeviceProvider.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <mutex>
#include <vector>

namespace kestrom::engine {

enum TDevicesKind { dk_VideoCapture = 0, dk_AudioCapture = 1, dk_VideoCompressor = 2, dk_AudioCompressor = 3 };

/** @brief The class id of the codec that registers itself outside the enumerator. */
inline constexpr const char* CLSID_RegisteredCodec = "{41918F50-ADF0-4FF6-882E-A6DBAD1A8C06}";

/** @brief One entry of a device list. */
struct TCapDeviceInfo {
  QString Key;           // unique device key; also names the device's registry key
  QString FriendlyName;
  QString Vendor, Product;  // from a 1394 AV/C display name, else empty
  bool IsWDM = true;
  bool PresentBefore = false;
  bool PresentNow = false;
  bool MovedToSibling = false;  // a video-category device listed among the audio devices
  bool IsDV = false;
  int VfwDriverIndex = -1;
  int Reserved = 0;
  int DuplicateNumber = 1;
  QString Category;
  bool Manual = false;  // added from the registry rather than by enumeration
  QString ClassId;      // for a manual entry, the codec's class id
  QString DisplayName;  // the name the user picks from
};

class TDevices {
 public:
  /** @brief Stores the arguments and enumerates at once. */
  TDevices(TDevicesKind kind, TDevices* sibling, bool suffix, const QStringList& vfwDriverNames,
           const QString& skipList, const QString& category, const QString& listName);

  TDevices(const TDevices&) = delete;
  TDevices& operator=(const TDevices&) = delete;

  /** @brief Enumerates the category again and updates the presence marks. */
  void Rebuild();

  int Count() const;
  /** @brief The display names, one a line. */
  QString NamesText() const;
  /** @brief The display name at an index; empty out of range. */
  QString Name(int index) const;
  /** @brief A copy of the entry at an index; nothing out of range. */
  std::optional<TCapDeviceInfo> Entry(int index) const;
  /** @brief A copy of every entry, in list order. */
  std::vector<TCapDeviceInfo> Entries() const;
  /** @brief The entry's registry key path; empty out of range. */
  QString RegistryKeyOf(int index) const;
  /** @brief The index of the first entry whose display name equals name, -1 when none. */
  int IndexOfName(const QString& name) const;

  TDevicesKind Kind() const { return kind_; }
  QString ListName() const { return listName_; }
  QString Category() const { return category_; }
  /** @brief Devices seen in the last enumeration, and in the one before (-1 before the first). */
  int EnumeratedCount() const;
  int PreviousCount() const;

 private:
  TCapDeviceInfo* FindKey(const QString& key);
  int NextDuplicate(const QString& friendlyName) const;
  void Reorder();
  void AddRegisteredCodec();
  void Append(std::unique_ptr<TCapDeviceInfo> entry);

  const TDevicesKind kind_;
  TDevices* const sibling_;
  const bool suffix_;
  const QStringList vfwDriverNames_;
  const QString skipList_;
  const QString category_;
  const QString listName_;

  mutable std::recursive_mutex mutex_;
  std::vector<std::unique_ptr<TCapDeviceInfo>> entries_;
  int count_ = 0;
  int previousCount_ = -1;
};

/** @brief The device key: display name + friendly name, keeping blanks, '-', digits, letters, braces. */
QString DeviceKey(const QString& displayName, const QString& friendlyName);

/** @brief Vendor and product from a 1394 AV/C display name ("\\?\avc#..."); both empty otherwise. */
void AvcVendorAndProduct(const QString& displayName, QString& vendor, QString& product);

/** @brief The old-style capture driver descriptions 0 to 9; "." for each missing one (always 10 lines). */
QStringList VfwDriverNames();

/**
 * @brief Finds a device of a category: mode 0 the friendly name equals name, 1 contains it, 2
 * contains every non-empty "!"-separated token, 3 the device key equals name (case-sensitive).
 */
bool FindDeviceMoniker(const QString& category, const QString& name, int matchMode,
                       QString& friendlyName, DeviceMoniker& moniker);

/** @brief Upper-case words that move entries to the front of a compressor list, in order. */
void ReorderByPreference(std::vector<QString>& names, TDevicesKind kind,
                         std::vector<int>* order = nullptr);

}  // namespace kestrom::engine
