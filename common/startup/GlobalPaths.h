#pragma once
// Program-wide paths and values of the analysis program. The paths are filled by InitGlobalPaths
// (run by each analysis window as it is created); the other values by the windows themselves.

#include "platform/core/Colour.h"

#include <QString>

namespace kestrom::shell {

/** @brief Caption of the analysis windows; other programs find the analysis program by it. */
inline const QString AnalysisWindowTitle =
    QStringLiteral("Kestrom Systems Ltd.   Measuring Motion Frame by Frame...");

/** @brief Caption of the capture program's main window. */
inline const QString CaptureWindowTitle = QStringLiteral("Kestrom Ruvodo Capture");

/** @brief Application title of the analysis program. */
inline const QString AnalysisApplicationTitle = QStringLiteral("Kestrom Ruvodo");

struct GlobalPaths {
  QString AppFolder;          // the program folder (current folder at start-up)
  QString SamplesFolder;      // where the sample videos are
  QString SystemDrive;        // the system drive's folder, with one trailing '/'
  QString PlayListProgram;
  QString PlayListFolder;
  QString CaptureProgram;
  QString CaptureFolder;
  QString WorkingFolder;      // shared by both programs, hidden
  QString WorkingTempFolder;  // WorkingFolder's "Temp", hidden

  // Set by each analysis window as it is created (both set the same values).
  QString ProgramTitle;
  core::TColor BackgroundColour = core::clTeal;
  QString FirstRunMarkerFile;  // a "\Name" fragment, joined to AppFolder
  QString FirstRunMarkerText;
  QString BackgroundHintFile;
  QString ExportHintFile;
  QString CalibrationDefaultFile;
  QString NTSCHintFile;
};

/** @brief The program's globals. */
GlobalPaths& Globals();

/** @brief Fills the paths from the current folder and the drives; creates the working folders. */
void InitGlobalPaths();

/** @brief Sets SamplesFolder to the first fixed drive's samples folder that exists, C: to H:. */
void FindSamplesFolder();

/** @brief The samples folder a drive would hold (drive folder with its trailing '/'). */
QString SamplesFolderOn(const QString& driveFolder);

/** @brief Creates a folder hidden when it is absent; an existing folder is left as it is. */
void CreateHiddenFolder(const QString& path);

}  // namespace kestrom::shell
