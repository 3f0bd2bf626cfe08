#include "platform/core/Paths.h"

#include "platform/core/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace kestrom::core {

namespace {

// A folder as the programs keep it: absolute, clean, with exactly one trailing '/'.
QString FolderWithSlash(const QString& path) {
  QString clean = QDir::cleanPath(QDir(path).absolutePath());
  if (!clean.endsWith(QLatin1Char('/'))) clean += QLatin1Char('/');
  return clean;
}

QString EnvPath(const char* name) { return QString::fromLocal8Bit(qgetenv(name)).trimmed(); }

DriveType TypeOf(const QString& folder) {
  return !folder.isEmpty() && QFileInfo(folder).isDir() ? DriveType::Fixed : DriveType::NoRootDir;
}

// The folders of D: to H: from $KESTROM_DRIVES ("D=/mnt/data;E=/media/usb"); a letter given
// twice keeps its first folder, anything malformed is skipped.
QString ConfiguredFolder(QChar letter) {
  const QStringList entries = EnvPath("KESTROM_DRIVES").split(QLatin1Char(';'), Qt::SkipEmptyParts);
  for (const QString& entry : entries) {
    const qsizetype eq = entry.indexOf(QLatin1Char('='));
    if (eq < 0) continue;
    const QString key = entry.left(eq).trimmed();
    QString path = entry.mid(eq + 1).trimmed();
    if (key.size() == 1 && key[0].toUpper() == letter && !path.isEmpty()) return FolderWithSlash(path);
  }
  return QString();
}

// The file name that stands for a path in its parent's ".hidden" list.
bool SplitForHidden(const QString& path, QString* parent, QString* name) {
  QString clean = QDir::cleanPath(QDir(path).absolutePath());
  const QFileInfo info(clean);
  *name = info.fileName();
  *parent = info.absolutePath();
  return !name->isEmpty() && *name != QLatin1String(".") && *name != QLatin1String("..");
}

QStringList HiddenList(const QString& parent) {
  return ReadTextLines(parent + QStringLiteral("/.hidden")).value_or(QStringList());
}

/** @brief The canonical path of the name's folder (as it is, when the folder is missing) plus the name. */
QString CanonicalFolderAndName(const QString& path) {
  const QFileInfo info(path);
  QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
  if (folder.isEmpty()) folder = QDir::cleanPath(info.absolutePath());
  return folder.endsWith(QLatin1Char('/')) ? folder + info.fileName() : folder + QLatin1Char('/') + info.fileName();
}

}  // namespace

QString SystemDrive() {
  const QString configured = EnvPath("KESTROM_SYSTEM_DRIVE");
  return FolderWithSlash(configured.isEmpty() ? QDir::homePath() : configured);
}

QString GetSystemFolder() { return SystemDrive() + QStringLiteral("system"); }

QString WorkingFolder() { return SystemDrive() + QStringLiteral("KestromWORKING"); }

QList<Drive> Drives() {
  QList<Drive> drives;
  for (char l = 'C'; l <= 'H'; ++l) {
    Drive d;
    d.letter = QLatin1Char(l);
    d.folder = l == 'C' ? SystemDrive() : ConfiguredFolder(d.letter);
    d.type = TypeOf(d.folder);
    drives << d;
  }
  return drives;
}

std::optional<Drive> DriveOf(QChar letter) {
  letter = letter.toUpper();
  if (letter < QLatin1Char('C') || letter > QLatin1Char('H')) return std::nullopt;
  for (const Drive& d : Drives()) {
    if (d.letter == letter && !d.folder.isEmpty()) return d;
  }
  return std::nullopt;
}

std::optional<uint64_t> FreeSpace(const QString& path) {
  struct statvfs st {};
  if (path.isEmpty() || statvfs(QFile::encodeName(path).constData(), &st) != 0) return std::nullopt;
  return static_cast<uint64_t>(st.f_bavail) * static_cast<uint64_t>(st.f_frsize);
}

QString JoinPath(const QString& folder, const QString& fragment) {
  QString tail = fragment;
  tail.replace(QLatin1Char('\\'), QLatin1Char('/'));
  while (tail.startsWith(QLatin1Char('/'))) tail.remove(0, 1);
  if (folder.isEmpty()) return tail;  // relative to the current folder, never the root
  QString head = folder;
  while (head.size() > 1 && head.endsWith(QLatin1Char('/'))) head.chop(1);
  if (tail.isEmpty()) return head;
  if (head == QLatin1String("/")) return head + tail;
  return head + QLatin1Char('/') + tail;
}

bool SameFile(const QString& a, const QString& b) {
  if (a.isEmpty() || b.isEmpty()) return false;
  struct stat first {}, second {};
  if (stat(QFile::encodeName(a).constData(), &first) == 0 && stat(QFile::encodeName(b).constData(), &second) == 0)
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
  return CanonicalFolderAndName(a) == CanonicalFolderAndName(b);
}

QString ProgramName(const QString& name) {
  if (name.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive)) return name.left(name.size() - 4);
  return name;
}

bool SetHidden(const QString& path, bool hidden) {
  QString parent, name;
  if (!SplitForHidden(path, &parent, &name)) return false;
  QStringList list = HiddenList(parent);
  const bool listed = list.contains(name);
  if (listed == hidden) return true;
  if (hidden) {
    list << name;
  } else {
    list.removeAll(name);
  }
  QByteArray bytes;
  for (const QString& entry : list) bytes += EncodeText(entry) + '\n';  // the desktop reads LF lines
  return WriteFileAtomic(parent + QStringLiteral("/.hidden"), bytes).ok;
}

bool IsHidden(const QString& path) {
  QString parent, name;
  if (!SplitForHidden(path, &parent, &name)) return false;
  return HiddenList(parent).contains(name);
}

bool EnsureFolder(const QString& path) {
  if (path.isEmpty()) return false;
  QDir().mkpath(path);
  return QFileInfo(path).isDir();
}

bool EnsureHiddenFolder(const QString& path) {
  if (QFileInfo(path).isDir()) return true;  // an existing folder keeps its attributes
  if (!EnsureFolder(path)) return false;
  SetHidden(path, true);
  return true;
}

QString ProgramFolder() {
  const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
  if (!exe.isEmpty()) return QFileInfo(exe).absolutePath();
  return QDir::currentPath();
}

void EnterProgramFolder() { QDir::setCurrent(ProgramFolder()); }

}  // namespace kestrom::core
