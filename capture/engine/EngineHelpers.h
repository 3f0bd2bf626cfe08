#pragma once
// Small shared routines of the capture engine: name tables, subtype and bitmap format names,
// drives, folders and temporary files, the monitor table, the display window settings record,
// the playback mixer and the media-writing module check.

#include <QRect>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

namespace kestrom::engine {

class EngineComponent;

// ---- audio formats ----

struct TPcmFormat {
  int SamplesPerSec = 22050;
  int BitsPerSample = 16;
  int Channels = 2;
  int BlockAlign = 4;
  int AvgBytesPerSec = 88200;
};

/** @brief The PCM format of a TAudioFormat value (0 af_default, 1..28 rate x bits x channels). */
std::optional<TPcmFormat> AudioFormatOf(int value);
/** @brief "default" and the 28 format names, one an entry. */
QStringList AudioFormatNames();

// ---- name tables ----

/** @brief The names of the analog video standards in a mask, in table order. */
QStringList AnalogVideoStandardNames(uint32_t mask);
/** @brief The transport mode of a DV command (0 for an unknown command). */
int DVCommandMode(int command);
/** @brief The name of a DV transport mode ("-" for an unknown mode). */
QString DVModeName(int mode);
/** @brief The name of an added-filter slot ("video source" ...); empty out of range. */
QString ThirdPartySlotName(int slot);

// ---- media types ----

/** @brief Where the bitmap header lies in the format block of a kind, -1 when it has none. */
int BitmapHeaderOffset(int kind);

/** @brief A short name for a subtype class id text ("RGB24", "YUY2", "MPEG2"); empty when it is not one. */
QString SubtypeName(const QString& subtype);
/** @brief The name a subtype list entry shows: made from its class id text, or the entry itself (a VfW format name). */
QString SubtypeEntryName(const QString& entry);
/** @brief Compression and bit count of a format name; both left unchanged for an unknown name. */
void BitmapFormatOf(const QString& name, uint32_t& compression, int& bitCount);
/** @brief Bytes per row of a bitmap, rows padded to 4 bytes. */
int64_t BitmapStride(int width, int bitCount);
/** @brief |height| x stride. */
int64_t ImageSize(int width, int height, int bitCount);
/** @brief The trimmed text when it is 38 characters long (a braced class id), else the null class id. */
QString GuidFromText(const QString& text);
inline constexpr const char* NullGuidText = "{00000000-0000-0000-0000-000000000000}";
/** @brief A graph filter name: name followed by a random number below 2^31 - 1. */
QString UniqueName(const QString& name);

// ---- drives, folders and files ----

/** @brief The drive letter ("C:") of a path, else of the current folder; nothing when neither has one. */
std::optional<QString> DriveOf(const QString& path);
/** @brief False for an empty path; at least 25,000,000 free bytes on the path's own volume (true when unknown). */
bool EnoughDiskSpace(const QString& path);
/** @brief Measures the free bytes of a path's volume; tests replace it (null: the real measurement). */
using FreeSpaceProbe = std::function<std::optional<uint64_t>(const QString& path)>;
void SetFreeSpaceProbe(FreeSpaceProbe probe);
/** @brief Free bytes measured by EnoughDiskSpace (the volume of the path or its nearest existing folder). */
std::optional<uint64_t> VolumeFreeSpace(const QString& path);
inline constexpr uint64_t MinimumFreeBytes = 25'000'000;
/** @brief The rule of EnoughDiskSpace on a measured amount (nothing: could not be measured). */
inline bool EnoughFreeSpace(std::optional<uint64_t> freeBytes) { return !freeBytes || *freeBytes >= MinimumFreeBytes; }
/** @brief 1 network file system, 2 CD/DVD, 0 otherwise. */
int DriveKind(const QString& path);
bool DirectoryExists(const QString& path);
/** @brief Creates a folder and its parents from the top down; true when it exists afterwards. */
bool ForceDirectories(const QString& path);
/** @brief The engine's private temporary folder (per user, mode 0700); empty when it cannot be had. */
QString EngineTempFolder();
/** @brief A new empty file in the temporary folder, named from the first three characters of prefix. */
QString TempFileName(const QString& prefix);
/** @brief The same with "tfk"; with clean, RemoveOldEngineTempFiles first. */
QString EngineTempFileName(bool clean);
/**
 * @brief Deletes the "tfk*" files that earlier runs left in the temporary folder, once per process
 * (and folder); files of the last minute may be another running process's and stay.
 */
void RemoveOldEngineTempFiles();

/** @brief 1-based position of the character's last occurrence, 0 when absent. */
int LastIndexOf(QChar c, const QString& text);
/** @brief Index of a line in a multi-line text (case-insensitive), -1 when absent. */
int IndexOfLine(const QString& text, const QString& line);
/** @brief The line at an index; empty for a negative or too large index. */
QString LineAt(const QString& text, int index);
/** @brief Moves an existing line (not already first) to the top of the list. */
void MoveToTop(QStringList& list, const QString& line);

// ---- monitors ----

struct TMonitorInfo {
  bool Exists = false;
  QRect Rect;
  void* Handle = nullptr;
  int Reserved = 0;
  int Index = 0;
};

/** @brief Fills the ten-entry monitor table from the screens (at most ten). */
void FillMonitorTable();
void ClearMonitorTable();
/** @brief The rectangle of monitor 0-9 when it exists. */
bool MonitorRect(int index, QRect& rect);

// ---- display window settings ----

/** @brief Settings of one of the component's two display windows (Display_ and DualDisplay_). */
class TVideoWindow {
 public:
  enum BoolIndex { Active = 0, AutoSize, Embedded, FullScreen, KeepAspectRatio, StayOnTop, MouseMovesWindow, VideoPortEnabled };
  enum IntIndex { Monitor = 8, Width2, Height2, Width, Height, Left, Top };
  using ChangeHandler = std::function<void(TVideoWindow& window, int index, int value)>;

  explicit TVideoWindow(int windowIndex);
  int WindowIndex() const { return windowIndex_; }
  void SetPartner(TVideoWindow* partner) { partner_ = partner; }
  TVideoWindow* Partner() const { return partner_; }
  void SetChangeHandler(ChangeHandler handler) { onChange_ = std::move(handler); }

  bool GetBool(int index) const;
  void SetBool(int index, bool value);
  int GetInt(int index) const;
  void SetInt(int index, int value);
  int CachedState() const { return cachedState_; }
  void SetCachedState(int state) { cachedState_ = state; }

 private:
  int windowIndex_;
  TVideoWindow* partner_ = nullptr;
  std::array<bool, 8> bools_{};
  std::array<int, 7> ints_{};
  int cachedState_ = -1;
  ChangeHandler onChange_;
};

// ---- mixer ----

/** @brief Left and right channel volumes (0-65535) from a volume and a balance (-32768..32767). */
void SplitSpeakerVolume(int volume, int balance, int& left, int& right);
/** @brief Volume and balance from left and right channel volumes. */
void JoinSpeakerVolume(int left, int right, int& volume, int& balance);
/** @brief The speakers' volume and balance of the first mixer; false without one. */
bool SpeakerVolume(int& volume, int& balance);
bool SetSpeakerVolume(int volume, int balance);
/** @brief Reads (set false) or sets the mute switch of a line of a mixer; true on success. */
bool LineMute(int mixer, const QString& line, bool set, bool& value);
/** @brief The names of the first mixer's lines (empty on a machine without a sound card). */
QStringList MixerLines();

// ---- modules and records ----

/**
 * @brief The media writing module: always present here (the filter graph writes ASF itself), so
 * the missing-module notice is never posted.
 */
bool LoadWmvcore(EngineComponent* component);
/** @brief "ProgramFilesDir" and "CommonFilesDir" of the machine's registry. */
void ProgramFolders(QString& programFiles, QString& commonFiles);
inline int64_t AddKeyOffset(int64_t value) { return value + 99'990'000; }
/** @brief The AVI multiplexer's master stream for a setting: 1 gives 1, 2 gives -1, any other 0. */
inline int MasterStreamIndex(int setting) { return setting == 1 ? 1 : setting == 2 ? -1 : 0; }

}  // namespace kestrom::engine
