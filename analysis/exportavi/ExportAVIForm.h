#pragma once
// The export program's window: shows how far the join is, offers Cancel, and after a failure
// says why until it is closed. The join itself is FrameJoiner's.

#include "analysis/exportavi/FrameJoiner.h"

#include <QWidget>
#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace kestrom::exportavi {

class TExportAVIForm final : public QWidget {
  Q_OBJECT
 public:
  /** @brief A window for the program's arguments; the frames are read from frameFolder. */
  TExportAVIForm(const QStringList& arguments, const QString& frameFolder, QWidget* parent = nullptr);
  ~TExportAVIForm() override;

  /** @brief Starts the join, or shows why it cannot run. */
  void Start();
  /** @brief Cancel while joining (nothing is left at the target); Close after a failure. */
  void CancelButtonClick();
  /** @brief Follows the join: progress, and its end. */
  void PollTimerTimer();
  /** @brief WM_QUIT from another program: a running join is cancelled, then the program ends. */
  void Quit();

  FrameJoiner* Joiner() { return joiner_.get(); }

  QLabel* StatusLabel = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
  QPushButton* CancelButton = nullptr;
  QTimer* PollTimer = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  /** @brief The end: the analysis windows are told; success ends the program, a failure stays shown. */
  void Finish(const QString& error);
  void End(int exitCode);

  std::unique_ptr<FrameJoiner> joiner_;
  QString argumentsError_;
  bool announced_ = false;
  bool ended_ = false;
};

/** @brief The program: its window over the arguments, its message loop; the exit code. */
int ExportProgramMain(const QStringList& arguments);

}  // namespace kestrom::exportavi
