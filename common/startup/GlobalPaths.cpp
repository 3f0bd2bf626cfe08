#include "common/startup/GlobalPaths.h"

#include "platform/core/Paths.h"

#include <QDir>
#include <QFileInfo>

namespace kestrom::shell {

namespace {
// The samples folder name, the same on every drive.
const QString kSamplesFolderName = QStringLiteral("KestromSamples");
}  // namespace

GlobalPaths& Globals() {
  static GlobalPaths globals;
  return globals;
}

QString SamplesFolderOn(const QString& driveFolder) {
  return core::JoinPath(driveFolder, kSamplesFolderName);
}

void FindSamplesFolder() {
  for (const core::Drive& drive : core::Drives()) {
    if (drive.type != core::DriveType::Fixed) continue;
    const QString candidate = SamplesFolderOn(drive.folder);
    if (QFileInfo(candidate).isDir()) {
      Globals().SamplesFolder = candidate;
      return;
    }
  }
}

void CreateHiddenFolder(const QString& path) {
  if (QFileInfo::exists(path)) return;
  // A folder that cannot be made is simply absent; whoever writes into it reports then.
  if (core::EnsureFolder(path)) core::SetHidden(path);
}

void InitGlobalPaths() {
  GlobalPaths& g = Globals();
  g.AppFolder = QDir::currentPath();
  g.SystemDrive = core::SystemDrive();
  g.SamplesFolder = SamplesFolderOn(g.SystemDrive);
  FindSamplesFolder();
  g.PlayListProgram = core::JoinPath(g.AppFolder, core::ProgramName("\\XPlayList\\KestromPlayList.exe"));
  g.PlayListFolder = core::JoinPath(g.AppFolder, "\\XPlayList");
  g.CaptureProgram = core::JoinPath(g.AppFolder, core::ProgramName("\\KestromDDCapture.exe"));
  g.CaptureFolder = g.AppFolder;
  g.WorkingFolder = core::WorkingFolder();
  g.WorkingTempFolder = core::JoinPath(g.WorkingFolder, "\\Temp");
  CreateHiddenFolder(g.WorkingFolder);
  CreateHiddenFolder(g.WorkingTempFolder);
}

}  // namespace kestrom::shell
