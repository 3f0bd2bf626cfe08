#pragma once
// One hive kept in its file and shared with other processes.
//
// The tree in memory is a copy of the file: it is read again whenever the file changed (another
// process's write bumps a counter in the lock file; a hand edit changes the file's inode, size or
// time). A change is made under an exclusive flock on "<hive>.lock": read the file if it changed,
// apply the change, write the whole hive to a temporary file and rename it over the old one. A
// damaged file is copied aside as "<file>.bad" before it is rewritten; while that copy cannot
// be made, changes are refused so the damaged file stays as it is.

#include "platform/registry/HiveText.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <mutex>
#include <sys/types.h>
#include <vector>

namespace kestrom::registry {

struct DamageReport {
  QString file;
  QString setAsideAs;
  QStringList problems;
};

class HiveFile {
 public:
  explicit HiveFile(QString hiveName);
  ~HiveFile();
  HiveFile(const HiveFile&) = delete;
  HiveFile& operator=(const HiveFile&) = delete;

  const QString& Name() const { return name_; }
  /** @brief The hive's file in the current registry folder. */
  QString FilePath() const;

  /** @brief Runs a reader on the up-to-date tree; returns what it returns. */
  int32_t Read(const std::function<int32_t(const KeyNode&)>& reader);

  /**
   * @brief Runs a change on the up-to-date tree under the exclusive lock and writes the hive when
   * it says it changed something. A change that fails (non-zero result) or cannot be written
   * leaves tree and file as they were; a failed write gives `cannotWrite`.
   */
  int32_t Change(const std::function<int32_t(KeyNode&, bool& changed)>& change, int32_t cannotWrite);

 private:
  struct FileId {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    int64_t mtimeNs = 0;
    bool operator==(const FileId&) const = default;
  };
  struct Loaded {
    FileId id;
    ParsedHive parsed;
  };

  void FollowFolder();
  bool OpenLockFile(bool create);
  uint64_t ReadGeneration() const;
  FileId StatFile() const;
  bool NeedsLoad() const;
  Loaded ReadFile() const;
  void Adopt(Loaded&& loaded);
  bool TryRefreshShared();
  void RefreshExclusive(bool locked, std::vector<DamageReport>& reports);
  QString SetAside() const;
  bool WriteTree();
  void RemoveStaleTempFiles();

  std::mutex mutex_;
  const QString name_;
  QString folder_;
  int lockFd_ = -1;
  KeyNode root_;
  bool loaded_ = false;
  FileId fileId_;
  uint64_t generation_ = 0;
  FileId reportedDamage_;  // the damaged file already reported
  bool damageKept_ = false;  // the loaded file is damaged and could not be set aside
  bool tempFilesSwept_ = false;
};

/** @brief Tells the damage handler; called with no hive locked. */
void ReportDamage(const std::vector<DamageReport>& reports);

}  // namespace kestrom::registry
