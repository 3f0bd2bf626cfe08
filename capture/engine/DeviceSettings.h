#pragma once
// The settings of a bound device as a table of named entries: what discovery found out about the
// device, the choices made on it and the values of its controls. One table serves the video
// device, one the audio device; each is stored under the device's registry key, entry by entry.

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <vector>

namespace kestrom::engine {

/** @brief Kinds of a settings entry, as their registry values are typed. */
enum TSettingKind { sk_None = 0, sk_Integer = 1, sk_Text = 2, sk_Boolean = 3, sk_Int64 = 4, sk_Block = 5 };

/** @brief One entry; the block of a data entry has a fixed size. */
struct SettingsEntry {
  QString name;
  int kind = sk_None;
  int32_t integer = 0;
  QString text;
  bool boolean = false;
  int64_t int64 = 0;
  QByteArray block;
};

/** @brief One property of the image or camera controls as the blocks hold it: six 32-bit integers. */
struct TControlRecord {
  int32_t supported = 0, value = 0, minimum = 0, maximum = 0, delta = 0, defaultValue = 0;
};
static_assert(sizeof(TControlRecord) == 24);
inline constexpr int ProcAmpCount = 10, CameraControlCount = 7;
inline constexpr int ProcAmpBlockSize = ProcAmpCount * 24, CameraControlBlockSize = CameraControlCount * 24;

class TSettingsTable {
 public:
  /** @brief The 59 entries of a video device, at their defaults. */
  static TSettingsTable Video();
  /** @brief The 15 entries of an audio device, at their defaults. */
  static TSettingsTable Audio();

  /** @brief Every entry back to its default value. */
  void LoadDefaults();

  int Count() const { return static_cast<int>(entries_.size()); }
  const SettingsEntry& At(int index) const { return entries_[static_cast<size_t>(index)]; }
  /** @brief Index of "DummyMAYNOTBESAVED": entries from there on are the user's choices. */
  int ChoicesStart() const { return choicesStart_; }
  int IndexOf(const QString& name) const;

  int Int(const char* name) const;
  void SetInt(const char* name, int32_t value);
  bool Bool(const char* name) const;
  void SetBool(const char* name, bool value);
  QString Text(const char* name) const;
  void SetText(const char* name, const QString& value);
  /** @brief Record i of a data block ("VideoQualityValues" or "CameraControlValues "). */
  TControlRecord Record(const char* name, int index) const;
  void SetRecord(const char* name, int index, const TControlRecord& record);

  /**
   * @brief Reads the entries from the key in index order (only those before ChoicesStart unless
   * all); false when the key is missing or any value is missing or of the wrong type or size,
   * which leaves that entry as it was while the others are still read.
   */
  bool Restore(const QString& keyPath, bool all);
  /** @brief Writes every entry to the key, creating it; a block is followed by its "Size" value. */
  bool Store(const QString& keyPath) const;

 private:
  struct Default {
    const char* name;
    int kind;
    int32_t integer;
    bool boolean;
    int blockSize;
  };
  explicit TSettingsTable(std::vector<Default> defaults);
  SettingsEntry* Find(const char* name);
  const SettingsEntry* Find(const char* name) const;

  std::vector<Default> defaults_;
  std::vector<SettingsEntry> entries_;
  int choicesStart_ = 0;
};

}  // namespace kestrom::engine
