#pragma once
// The folder chooser with which the capture form picks the sequence folder: a non-visual
// component over the platform's folder dialog. A successful choice becomes the current folder
// unless NoChangeDir is set.

#include <QString>
#include <functional>

class QWidget;

namespace kestrom::capture {

class TOpenDirectory {
 public:
  using TNotifyEvent = std::function<void(TOpenDirectory& sender)>;

  /** @brief Caption of the dialog when not empty. */
  QString Title;
  /** @brief The dialog can be resized (the platform's folder dialog always can). */
  bool EnableSizing = true;
  /** @brief When false, a successful choice makes the chosen folder the current folder. */
  bool NoChangeDir = false;
  /** @brief Fired when the dialog is shown, when it closes, and when a folder was chosen in it. */
  TNotifyEvent OnShow, OnClose, OnFolderChange;

  /** @brief Folder the dialog opens in; the current folder when empty. */
  QString InitialDir;
  /** @brief The chosen folder after a successful Execute; empty otherwise. */
  QString Directory;
  /**
   * @brief The chosen folder in network (UNC) form. The platform names no folder that way, so it
   * stays empty.
   */
  QString UNCDirectory;

  /** @brief Runs the dialog (owned by owner); true when a folder was chosen. */
  bool Execute(QWidget* owner = nullptr);
};

}  // namespace kestrom::capture
