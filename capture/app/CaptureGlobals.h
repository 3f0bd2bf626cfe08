#pragma once
// Program-wide paths of the capture program, filled once by InitCapturePaths as the capture form is
// created. The working folder and its file table are shared with the analysis program.

#include <QString>
#include <QStringList>
#include <array>

namespace kestrom::capture {

struct CaptureGlobals {
  QString SystemFolder;           // core::GetSystemFolder()
  QString CaptureAppFolder;       // the current folder when the paths are filled (program folder)
  QString FilterTextFile;         // CaptureAppFolder + "\DefaultFilterText.txt"
  QString FilterFontFile;         // CaptureAppFolder + "\DefaultFilterFont.txt"
  QString SequenceDirFile;        // CaptureAppFolder + "\DefaultSequenceDir.txt"
  QString DefaultSequenceFolder;  // default folder of sequential captures
  QString SystemDrive;            // the system drive's folder, with one trailing '/'
  QString WorkingFolder;          // SystemDrive + "KestromWORKING", hidden
  QString SampleFile;             // WorkingFolder + "\Sample.avi", a full-size single capture
  QString HalfSampleFile;         // WorkingFolder + "\HalfSample.avi", a half-size single capture
};

/** @brief The capture program's globals. */
CaptureGlobals& Globals();

/** @brief Number of entries of CaptureFileNames. */
inline constexpr int kCaptureFileCount = 11;

/**
 * @brief The capture files of the working folder as "\Name" fragments: 0 "\Sample.avi", 1 to 10
 * "\Sequence01.avi" to "\Sequence10.avi".
 */
extern const std::array<QString, kCaptureFileCount> CaptureFileNames;

/** @brief WorkingFolder joined with CaptureFileNames[index] (index 0 to 10). */
QString CaptureFilePath(int index);

/** @brief The sequence folder a drive would hold (drive folder with its trailing '/'). */
QString SequenceFolderOn(const QString& driveFolder);

/**
 * @brief Replaces DefaultSequenceFolder by the first sequence folder that exists on a fixed drive,
 * D: to H: in order, then C:; when none exists it is left as it is.
 */
void FindSequenceFolder();

/**
 * @brief Rewrites WorkingFolder + "\test.dat" with one line; true when the write succeeded (a
 * failure is reported, never raised).
 */
bool TestWorkingFolderWrite();

/**
 * @brief Fills the globals and makes sure the working folder exists (created hidden) and can be
 * written. Gives back the messages to show, in order, each followed by the end of the program:
 * "Unable to create " + WorkingFolder when it could not be made (twice: the creation failed, and it
 * is still absent), "Unable to write to the directory " + WorkingFolder when it cannot be written.
 * The steps after a failure still run, as the program ends only when control returns to its loop.
 * The default sequence folder is made when it is missing.
 */
QStringList InitCapturePaths();

}  // namespace kestrom::capture
