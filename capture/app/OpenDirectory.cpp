#include "capture/app/OpenDirectory.h"

#include "platform/ui/Dialogs.h"

#include <QDir>

namespace kestrom::capture {

bool TOpenDirectory::Execute(QWidget* owner) {
  Directory.clear();
  UNCDirectory.clear();
  const QString start = InitialDir.isEmpty() ? QDir::currentPath() : InitialDir;
  if (OnShow) OnShow(*this);
  const std::optional<QString> chosen = ui::AppDialogs().ChooseFolder(Title, start, owner);
  // A dialog closed without a folder (OK before any folder was entered or clicked) chooses none.
  const bool ok = chosen && !chosen->isEmpty();
  if (ok) {
    Directory = *chosen;
    if (OnFolderChange) OnFolderChange(*this);
    if (!NoChangeDir) QDir::setCurrent(Directory);
  }
  if (OnClose) OnClose(*this);
  return ok;
}

}  // namespace kestrom::capture
