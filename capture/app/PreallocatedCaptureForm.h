#pragma once
// The preallocation form: on the capture form's request it checks the preallocated capture files
// of the working folder against the free space, offers the one set-up panel that fits, and on the
// coach's confirmation has the capture component make the eleven files one after another, with
// four progress bars. A thin view over Preallocation.h; it reaches the capture form only through
// the mediator.

#include "capture/app/Preallocation.h"

#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTimer;

namespace kestrom::capture {

class CaptureMediator;

class TPreallocatedCaptureForm final : public QDialog {
  Q_OBJECT

 public:
  explicit TPreallocatedCaptureForm(CaptureMediator& mediator, QWidget* parent = nullptr);

  // What the last check found, in GB of 1073741824 bytes, and the space recommended for the set.
  double ReservedGB = 0;
  double FreeGB = 0;
  double RecommendedGB = kRecommendedGB;
  /** @brief The size of one preallocated file in MB; "\Sample.avi" has twice it. */
  int FileSizeMB = kPreallocFileSizeMB;
  /** @brief The file being made (index into CaptureFileNames); -1 before the first. */
  int FileIndex() const { return run_.FileIndex(); }
  /** @brief A Cancel button was pressed since the last check. */
  bool Cancelled() const { return run_.Cancelled(); }

  /** @brief Free bytes on the volume of a folder: core::FreeSpace unless a test puts another. */
  std::function<std::optional<uint64_t>(const QString&)> FreeSpaceProbe;

  /** @brief Places the form right of and below the capture form. */
  void FormShow();
  /** @brief The check: measures what is there and what is free and shows the fitting panel modally. */
  void ShowTimerTimer();
  /** @brief One step of the run: the next file, or the end. */
  void PreAllocationTimerTimer();
  /** @brief Hides every panel and makes the chosen one ready: buttons on, drive letters, height. */
  void ShowDiskPanel();
  void StartPreallocation();

  /** @brief "Yes" on Panel1 and Panel3: make the set again, once confirmed. */
  void BitBtn1Click();
  /** @brief "Yes" on Panel4: make the set, once confirmed. */
  void BitBtn5Click();
  /** @brief "Continue" on Panel6: make the set, once confirmed. */
  void BitBtn10Click();
  // Cancel on each panel: the form closes; a run under way stops before its next file.
  void BitBtn2Click() { CancelClick(); }
  void BitBtn4Click() { CancelClick(); }
  void BitBtn6Click() { CancelClick(); }
  void BitBtn11Click() { CancelClick(); }
  /** @brief OK on Panel5 and Yes on Panel6: the form closes and the program ends. */
  void BitBtn8Click();
  void BitBtn9Click();
  void SpinEdit1Change();
  /** @brief The form closes: the run is over, and the capture form is told. */
  void FormClose();

  void done(int result) override;

 private:
  /** @brief Widens the form and its panels to their longest line of text. */
  void FitToText();
  void CancelClick();
  void EndProgram(int modalResult);
  void ShowPanelModally(QFrame* panel, int clientHeight);
  void SetBars(int percent);
  void PreallocFileCompleted(const QString& fileName, bool success);

  CaptureMediator& mediator_;
  PreallocationRun run_;
  // The file the component is making; its completion re-arms the run's timer.
  QString awaitedFile_;
  bool open_ = false;
  bool programEnding_ = false;

  QTimer* ShowTimer = nullptr;
  QTimer* PreAllocationTimer = nullptr;
  QFrame* Panel1 = nullptr;
  QFrame* Panel3 = nullptr;
  QFrame* Panel4 = nullptr;
  QFrame* Panel5 = nullptr;
  QFrame* Panel6 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label4 = nullptr;
  QLabel* Label7 = nullptr;
  QLabel* DriveLabels[4] = {};
  QProgressBar* ProgressBars[4] = {};
  QSpinBox* SpinEdit1 = nullptr;
  QPushButton* BitBtn1 = nullptr;
  QPushButton* BitBtn3 = nullptr;
  QPushButton* BitBtn5 = nullptr;
  QPushButton* BitBtn10 = nullptr;
};

}  // namespace kestrom::capture
