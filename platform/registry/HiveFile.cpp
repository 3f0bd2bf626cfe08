#include "platform/registry/HiveFile.h"

#include "platform/registry/Registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrom::registry {

namespace {

// Holds a flock for one scope; does nothing without a lock file.
class FlockGuard {
 public:
  FlockGuard(int fd, int operation) : fd_(fd) {
    if (fd_ < 0) return;
    while (flock(fd_, operation) != 0) {
      if (errno != EINTR) {
        fd_ = -1;
        return;
      }
    }
  }
  ~FlockGuard() {
    if (fd_ >= 0) flock(fd_, LOCK_UN);
  }
  bool Held() const { return fd_ >= 0; }
  FlockGuard(const FlockGuard&) = delete;
  FlockGuard& operator=(const FlockGuard&) = delete;

 private:
  int fd_;
};

bool WriteAll(int fd, const char* data, qsizetype size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, static_cast<size_t>(size));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= n;
  }
  return true;
}

}  // namespace

HiveFile::HiveFile(QString hiveName) : name_(std::move(hiveName)) { root_.name = name_; }

HiveFile::~HiveFile() {
  if (lockFd_ >= 0) close(lockFd_);
}

QString HiveFile::FilePath() const { return folder_ + u'/' + name_ + QStringLiteral(".reg"); }

// The registry folder may be moved (tests, tools); what was loaded from the old one is forgotten.
void HiveFile::FollowFolder() {
  const QString folder = RegistryDirectory();
  if (folder == folder_) return;
  if (lockFd_ >= 0) close(lockFd_);
  lockFd_ = -1;
  folder_ = folder;
  root_ = KeyNode();
  root_.name = name_;
  loaded_ = false;
  fileId_ = FileId();
  generation_ = 0;
  reportedDamage_ = FileId();
  damageKept_ = false;
  tempFilesSwept_ = false;
}

bool HiveFile::OpenLockFile(bool create) {
  if (lockFd_ >= 0) return true;
  if (create && !QFileInfo::exists(folder_)) {
    // The user's settings are the user's own: a folder made here is private.
    if (!QDir().mkpath(folder_)) return false;
    QFile::setPermissions(folder_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  const QByteArray path = QFile::encodeName(folder_ + u'/' + name_ + QStringLiteral(".lock"));
  lockFd_ = open(path.constData(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0600);
  return lockFd_ >= 0;
}

// Every write bumps the counter at the start of the lock file, so a reader notices a change
// even when the new file happens to get the old one's inode, size and time stamp.
uint64_t HiveFile::ReadGeneration() const {
  if (lockFd_ < 0) return 0;
  uint64_t value = 0;
  if (pread(lockFd_, &value, sizeof value, 0) != static_cast<ssize_t>(sizeof value)) return 0;
  return value;
}

HiveFile::FileId HiveFile::StatFile() const {
  struct stat st {};
  FileId id;
  if (stat(QFile::encodeName(FilePath()).constData(), &st) != 0) return id;
  id.exists = true;
  id.dev = st.st_dev;
  id.ino = st.st_ino;
  id.size = st.st_size;
  id.mtimeNs = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
  return id;
}

bool HiveFile::NeedsLoad() const {
  return !loaded_ || StatFile() != fileId_ || ReadGeneration() != generation_;
}

HiveFile::Loaded HiveFile::ReadFile() const {
  Loaded result;
  result.parsed.root.name = name_;
  const QByteArray path = QFile::encodeName(FilePath());
  const int fd = open(path.constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return result;  // no file yet: an empty hive
    result.id = StatFile();
    result.id.exists = true;
    result.parsed.problems.append(QStringLiteral("the file cannot be read: %1").arg(QString::fromLocal8Bit(strerror(errno))));
    return result;
  }
  struct stat st {};
  fstat(fd, &st);
  result.id.exists = true;
  result.id.dev = st.st_dev;
  result.id.ino = st.st_ino;
  result.id.size = st.st_size;
  result.id.mtimeNs = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
  QByteArray bytes;
  char buffer[65536];
  bool readError = false;
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      readError = true;
      break;
    }
    bytes.append(buffer, n);
  }
  close(fd);
  result.parsed = ParseHive(bytes, name_);
  if (readError) result.parsed.problems.append(QStringLiteral("the file could not be read to its end"));
  return result;
}

void HiveFile::Adopt(Loaded&& loaded) {
  root_ = std::move(loaded.parsed.root);
  fileId_ = loaded.id;
  generation_ = ReadGeneration();
  loaded_ = true;
}

// Under a shared lock; false when the file is damaged and must be handled under the exclusive one.
bool HiveFile::TryRefreshShared() {
  OpenLockFile(false);
  FlockGuard shared(lockFd_, LOCK_SH);
  if (!NeedsLoad()) return true;
  Loaded loaded = ReadFile();
  const bool damaged = !loaded.parsed.problems.isEmpty();
  if (damaged && loaded.id != reportedDamage_) return false;
  if (!damaged) damageKept_ = false;
  Adopt(std::move(loaded));
  return true;
}

void HiveFile::RefreshExclusive(bool locked, std::vector<DamageReport>& reports) {
  if (!NeedsLoad()) return;
  Loaded loaded = ReadFile();
  const bool damaged = !loaded.parsed.problems.isEmpty();
  if (!damaged || loaded.id == reportedDamage_) {
    if (!damaged) damageKept_ = false;
    Adopt(std::move(loaded));
    return;
  }
  DamageReport report;
  report.file = FilePath();
  report.problems = loaded.parsed.problems;
  if (locked) report.setAsideAs = SetAside();
  reportedDamage_ = loaded.id;
  Adopt(std::move(loaded));
  // Once the damaged file is safe aside, what could be read becomes the hive file, so the next
  // reader (in this process or another) meets a sound file.
  damageKept_ = report.setAsideAs.isEmpty();
  if (!damageKept_) WriteTree();
  reports.push_back(std::move(report));
}

QString HiveFile::SetAside() const {
  const QString path = FilePath();
  for (int n = 1; n < 1000; ++n) {
    const QString aside = path + (n == 1 ? QStringLiteral(".bad") : QStringLiteral(".bad.%1").arg(n));
    if (QFile::exists(aside)) continue;
    return QFile::copy(path, aside) ? aside : QString();
  }
  return {};
}

// A temporary file exists only while its writer holds the exclusive lock; one found by the
// holder of that lock was left by a writer that died.
void HiveFile::RemoveStaleTempFiles() {
  tempFilesSwept_ = true;
  const QDir folder(folder_);
  const QString prefix = name_ + QStringLiteral(".reg.");
  for (const QString& entry : folder.entryList({prefix + QStringLiteral("??????")}, QDir::Files | QDir::Hidden))
    QFile::remove(folder.filePath(entry));
}

bool HiveFile::WriteTree() {
  const QByteArray bytes = FormatHive(root_, name_);
  QByteArray tempPath = QFile::encodeName(FilePath()) + ".XXXXXX";
  const int fd = mkostemp(tempPath.data(), O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  const bool written = WriteAll(fd, bytes.constData(), bytes.size()) && fdatasync(fd) == 0 && fstat(fd, &st) == 0;
  if (close(fd) != 0 || !written || rename(tempPath.constData(), QFile::encodeName(FilePath()).constData()) != 0) {
    unlink(tempPath.constData());
    return false;
  }
  fileId_.exists = true;
  fileId_.dev = st.st_dev;
  fileId_.ino = st.st_ino;
  fileId_.size = st.st_size;
  fileId_.mtimeNs = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
  generation_ = ReadGeneration() + 1;
  if (lockFd_ >= 0) pwrite(lockFd_, &generation_, sizeof generation_, 0);
  loaded_ = true;
  return true;
}

int32_t HiveFile::Read(const std::function<int32_t(const KeyNode&)>& reader) {
  std::vector<DamageReport> reports;
  int32_t result;
  {
    std::lock_guard lock(mutex_);
    FollowFolder();
    if (!TryRefreshShared()) {
      const bool haveLockFile = OpenLockFile(true);
      FlockGuard exclusive(haveLockFile ? lockFd_ : -1, LOCK_EX);
      RefreshExclusive(exclusive.Held(), reports);
    }
    result = reader(root_);
  }
  ReportDamage(reports);
  return result;
}

int32_t HiveFile::Change(const std::function<int32_t(KeyNode&, bool&)>& change, int32_t cannotWrite) {
  std::vector<DamageReport> reports;
  int32_t result;
  {
    std::lock_guard lock(mutex_);
    FollowFolder();
    if (!OpenLockFile(true)) {
      result = cannotWrite;
    } else {
      FlockGuard exclusive(lockFd_, LOCK_EX);
      if (exclusive.Held() && !tempFilesSwept_) RemoveStaleTempFiles();
      RefreshExclusive(exclusive.Held(), reports);
      if (!exclusive.Held() || damageKept_) {
        result = cannotWrite;
      } else {
        KeyNode before = root_;
        bool changed = false;
        result = change(root_, changed);
        if (result != 0) {
          root_ = std::move(before);
        } else if (changed && !WriteTree()) {
          root_ = std::move(before);
          result = cannotWrite;
        }
      }
    }
  }
  ReportDamage(reports);
  return result;
}

}  // namespace kestrom::registry
