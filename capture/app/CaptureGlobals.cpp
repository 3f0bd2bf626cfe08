#include "capture/app/CaptureGlobals.h"

#include "platform/core/Paths.h"
#include "platform/core/TextFile.h"

#include <QDir>
#include <QFileInfo>

namespace kestrom::capture {

namespace {
// The same folder name on every drive: where sequences of captures go unless the coach picks one.
const QString kSequenceFolderName = QStringLiteral("KestromSequences");
}  // namespace

const std::array<QString, kCaptureFileCount> CaptureFileNames = {
    QStringLiteral("\\Sample.avi"),     QStringLiteral("\\Sequence01.avi"), QStringLiteral("\\Sequence02.avi"),
    QStringLiteral("\\Sequence03.avi"), QStringLiteral("\\Sequence04.avi"), QStringLiteral("\\Sequence05.avi"),
    QStringLiteral("\\Sequence06.avi"), QStringLiteral("\\Sequence07.avi"), QStringLiteral("\\Sequence08.avi"),
    QStringLiteral("\\Sequence09.avi"), QStringLiteral("\\Sequence10.avi"),
};

CaptureGlobals& Globals() {
  static CaptureGlobals globals;
  return globals;
}

QString CaptureFilePath(int index) {
  if (index < 0 || index >= kCaptureFileCount) return {};
  return core::JoinPath(Globals().WorkingFolder, CaptureFileNames[static_cast<size_t>(index)]);
}

QString SequenceFolderOn(const QString& driveFolder) { return core::JoinPath(driveFolder, kSequenceFolderName); }

void FindSequenceFolder() {
  const QList<core::Drive> drives = core::Drives();
  auto found = [](const core::Drive& drive) {
    if (drive.type != core::DriveType::Fixed) return false;
    const QString candidate = SequenceFolderOn(drive.folder);
    if (!QFileInfo(candidate).isDir()) return false;
    Globals().DefaultSequenceFolder = candidate;
    return true;
  };
  // The system drive comes last: a second drive keeps long recordings off it.
  for (const core::Drive& drive : drives)
    if (drive.letter != 'C' && found(drive)) return;
  for (const core::Drive& drive : drives)
    if (drive.letter == 'C' && found(drive)) return;
}

bool TestWorkingFolderWrite() {
  const QString file = core::JoinPath(Globals().WorkingFolder, "\\test.dat");
  return core::WriteTextLines(file, {QStringLiteral("Test ability to write to the video capture directory")}).ok;
}

QStringList InitCapturePaths() {
  CaptureGlobals& g = Globals();
  QStringList messages;
  g.SystemFolder = core::GetSystemFolder();
  g.CaptureAppFolder = QDir::currentPath();
  g.FilterTextFile = core::JoinPath(g.CaptureAppFolder, "\\DefaultFilterText.txt");
  g.FilterFontFile = core::JoinPath(g.CaptureAppFolder, "\\DefaultFilterFont.txt");
  g.SequenceDirFile = core::JoinPath(g.CaptureAppFolder, "\\DefaultSequenceDir.txt");
  g.SystemDrive = core::SystemDrive();
  g.DefaultSequenceFolder = SequenceFolderOn(g.SystemDrive);
  FindSequenceFolder();
  g.WorkingFolder = core::WorkingFolder();

  const QString cannotCreate = QStringLiteral("Unable to create ") + g.WorkingFolder;
  if (!QFileInfo(g.WorkingFolder).isDir()) {
    if (!core::EnsureHiddenFolder(g.WorkingFolder)) messages << cannotCreate;
    if (!QFileInfo(g.WorkingFolder).isDir()) messages << cannotCreate;
  }
  if (!TestWorkingFolderWrite()) messages << QStringLiteral("Unable to write to the directory ") + g.WorkingFolder;
  // The default sequence folder is made as the working folder is, so that the first sequence finds
  // it; one that cannot be made is named when a sequence is started.
  if (!QFileInfo(g.DefaultSequenceFolder).isDir()) QDir().mkpath(g.DefaultSequenceFolder);

  g.SampleFile = core::JoinPath(g.WorkingFolder, "\\Sample.avi");
  g.HalfSampleFile = core::JoinPath(g.WorkingFolder, "\\HalfSample.avi");
  return messages;
}

}  // namespace kestrom::capture
