#include "analysis/shell/FirstRunMarker.h"

#include "common/startup/GlobalPaths.h"
#include "platform/core/Paths.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace kestrom::shell {

namespace {
// The user's own folder for what the analysis program keeps across runs.
QString UserConfigFolder() {
  return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)).filePath(QStringLiteral("Kestrom"));
}
}  // namespace

QString ProgramFirstRunMarker() { return core::JoinPath(Globals().AppFolder, Globals().FirstRunMarkerFile); }

QString UserFirstRunMarker() { return core::JoinPath(UserConfigFolder(), Globals().FirstRunMarkerFile); }

bool FirstRunDone() { return QFileInfo::exists(ProgramFirstRunMarker()) || QFileInfo::exists(UserFirstRunMarker()); }

core::WriteResult WriteFirstRunMarker() {
  const QStringList text{Globals().FirstRunMarkerText};
  const core::WriteResult beside = core::WriteTextLines(ProgramFirstRunMarker(), text);
  if (beside) return beside;
  QDir().mkpath(UserConfigFolder());
  core::WriteResult own = core::WriteTextLines(UserFirstRunMarker(), text);
  if (!own) own.error = beside.error + "; " + own.error;
  return own;
}

}  // namespace kestrom::shell
