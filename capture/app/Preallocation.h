#pragma once
// The preallocated capture files of the working folder: the check of what is there and what fits,
// and the run that creates the eleven files one after another.

#include "capture/app/CaptureGlobals.h"

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>

namespace kestrom::engine {
class TFramecatcher;
}

namespace kestrom::capture {

/** @brief The test buttons' preallocation: a 512 MB "\Sample.avi" in the working folder. */
inline constexpr int kTestSampleSizeMB = 512;
void PreallocateTestSample(engine::TFramecatcher& framecatcher);

/** @brief Size of one preallocated file in MB (of 1048576 bytes); "\Sample.avi" has twice it. */
inline constexpr int kPreallocFileSizeMB = 108;
/** @brief Bytes in one GB of the form's figures. */
inline constexpr double kBytesPerGB = 1073741824.0;
/** @brief From this many GB of existing files on, the set counts as made. */
inline constexpr double kSetUpCompletedGB = 0.21;
/** @brief The space recommended for the set. */
inline constexpr double kRecommendedGB = 1.585;

/** @brief The size in MB file index (0 to 10) of the set is made with. */
int PreallocFileSizeMB(int index);
/** @brief The same in bytes. */
int64_t PreallocFileBytes(int index);

/** @brief The set-up panel the check offers. */
enum class PreallocPanel {
  Panel3,  // the set exists already: offer to make it again
  Panel4,  // the set is missing and fits: offer to make it
  Panel5,  // the set is missing and does not fit: only OK, which ends the program
};

struct PreallocationCheck {
  PreallocPanel panel = PreallocPanel::Panel5;
  double ReservedGB = 0;  // the existing files of the set
  double FreeGB = 0;      // free space on the working folder's volume
  /** @brief Bytes still to reserve: over the 11 files, what each lacks of its size. */
  int64_t neededBytes = 0;
};

/** @brief Size of each file of the set as found; nothing where no file holds that name. */
using PresentSizes = std::array<std::optional<int64_t>, kCaptureFileCount>;

/**
 * @brief The check: the set counts as made from 0.21 GB of existing files on (Panel3); otherwise it
 * fits when the free bytes reach what the files still lack (Panel4), else Panel5. Unknown free
 * space counts as none.
 */
PreallocationCheck CheckPreallocation(const PresentSizes& present, std::optional<uint64_t> freeBytes);

/** @brief The sizes of the set's files in the working folder (a folder holding a name is no file). */
PresentSizes PresentPreallocatedFiles();

/** @brief The check on the working folder: its files and core::FreeSpace(WorkingFolder). */
PreallocationCheck CheckPreallocationFiles();

/** @brief The letter the panels name the system drive by. */
QString SystemDriveLetter();

/**
 * @brief Percent of the set written when file index starts (0 for the first; the share of the
 * twelfths before it, file 0 counting two); 100 for index 11, after the last.
 */
int PreallocationProgress(int fileIndex);

/**
 * @brief The closing advice: to defragment the disk when every file was made; when some failed,
 * the names of those files instead.
 */
QString PreallocationClosingMessage(const QStringList& failedFiles);

/** @brief The run over the files of the set, one at each tick of the form's timer. */
class PreallocationRun {
 public:
  struct Step {
    enum Kind {
      Close,       // cancelled: the form closes, the files made so far stay
      CreateFile,  // create file fileIndex at sizeMB
      Finish,      // all done: show message, then end the program
    } kind = Close;
    int fileIndex = -1;
    QString fileName;
    int sizeMB = 0;
    /** @brief The bars' new position (nothing for Close). */
    std::optional<int> progress;
    QString message;
  };

  /** @brief A new run: before the first file, nothing failed, not cancelled. */
  void Start();
  /** @brief A Cancel button was pressed: the run ends at the next step. */
  void Cancel() { cancelled_ = true; }
  bool Cancelled() const { return cancelled_; }
  /** @brief The next step, at the timer's tick. */
  Step Next();
  /** @brief The component reports a file as made or failed. */
  void FileCompleted(const QString& fileName, bool ok);
  int FileIndex() const { return fileIndex_; }
  const QStringList& FailedFiles() const { return failed_; }

 private:
  int fileIndex_ = -1;
  bool cancelled_ = false;
  QStringList failed_;
};

}  // namespace kestrom::capture
