#pragma once
// Drives and folders as the programs see them. The system drive is a folder of its own
// ($KESTROM_SYSTEM_DRIVE, else the home folder); the drives D: to H: come from $KESTROM_DRIVES
// ("D=/mnt/data;E=/media/usb"). A drive is fixed when its folder exists.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace kestrom::core {

enum class DriveType { NoRootDir, Fixed };

struct Drive {
  QChar letter;    // 'C' for the system drive
  QString folder;  // with one trailing '/'
  DriveType type = DriveType::NoRootDir;
};

/** @brief The system drive's folder with one trailing '/'. */
QString SystemDrive();

/** @brief SystemDrive() + "system". */
QString GetSystemFolder();

/** @brief SystemDrive() + "KestromWORKING", the working folder both programs share. */
QString WorkingFolder();

/**
 * @brief The drives C: to H:, always six, in letter order, each with its folder and type; a letter
 * that is not configured has an empty folder and type NoRootDir.
 */
QList<Drive> Drives();

/** @brief The drive of a letter ('C'..'H', either case), when it is configured. */
std::optional<Drive> DriveOf(QChar letter);

/** @brief Free bytes on the volume that holds the path itself (statvfs); nothing when unknown. */
std::optional<uint64_t> FreeSpace(const QString& path);

/**
 * @brief Joins a folder and a "\Name" fragment as the programs write them ("\Temp",
 * "\Sample.avi", "Sub\File.txt"): backslashes become '/', exactly one '/' between the two.
 * With an empty folder the fragment is taken relative to the current folder.
 */
QString JoinPath(const QString& folder, const QString& fragment);

/**
 * @brief True when both names lead to one file: the same device and inode when both exist (so
 * "./a.avi", a symbolic link and a hard link all count as "a.avi"); when either is missing, the
 * same canonical folder and file name. Empty names are never the same file.
 */
bool SameFile(const QString& a, const QString& b);

/** @brief A program name as the programs give it, with a trailing ".exe" dropped. */
QString ProgramName(const QString& name);

/** @brief Hides a file or folder: adds its name to the parent folder's ".hidden" file. */
bool SetHidden(const QString& path, bool hidden = true);

/** @brief True when the name is listed in the parent folder's ".hidden" file. */
bool IsHidden(const QString& path);

/** @brief Creates a folder (and its parents) when missing; true when it exists afterwards. */
bool EnsureFolder(const QString& path);

/**
 * @brief Creates a folder (and its parents) and hides it, when it is missing; an existing folder
 * is left as it is. True when the folder exists afterwards.
 */
bool EnsureHiddenFolder(const QString& path);

/** @brief The folder of the running program, with no trailing '/'. */
QString ProgramFolder();

/** @brief Makes the program folder the current folder, as the desktop shortcut does. */
void EnterProgramFolder();

}  // namespace kestrom::core
