#include "capture/app/Preallocation.h"

#include "capture/engine/Framecatcher.h"
#include "platform/core/Paths.h"

#include <QFileInfo>
#include <algorithm>

namespace kestrom::capture {

void PreallocateTestSample(engine::TFramecatcher& framecatcher) {
  framecatcher.SetPreallocCapFileName(CaptureFilePath(0));
  framecatcher.SetPreallocCapFileEnabled(true);
  framecatcher.SetPreallocCapFileSizeInMB(kTestSampleSizeMB);
  framecatcher.CreatePreallocatedFile();
}

int PreallocFileSizeMB(int index) { return index == 0 ? 2 * kPreallocFileSizeMB : kPreallocFileSizeMB; }

int64_t PreallocFileBytes(int index) { return int64_t{PreallocFileSizeMB(index)} << 20; }

PreallocationCheck CheckPreallocation(const PresentSizes& present, std::optional<uint64_t> freeBytes) {
  PreallocationCheck check;
  const uint64_t free = freeBytes.value_or(0);
  check.FreeGB = static_cast<double>(free) / kBytesPerGB;
  for (int i = 0; i < kCaptureFileCount; ++i) {
    const int64_t size = present[static_cast<size_t>(i)].value_or(0);
    check.ReservedGB += static_cast<double>(size) / kBytesPerGB;
    check.neededBytes += std::max<int64_t>(0, PreallocFileBytes(i) - size);
  }
  if (check.ReservedGB >= kSetUpCompletedGB)
    check.panel = PreallocPanel::Panel3;
  else
    // Every file still to be made must fit, not a fixed margin: a set that does not fit would fill
    // the disk and fail part-way.
    check.panel = free < static_cast<uint64_t>(check.neededBytes) ? PreallocPanel::Panel5 : PreallocPanel::Panel4;
  return check;
}

PresentSizes PresentPreallocatedFiles() {
  PresentSizes present;
  for (int i = 0; i < kCaptureFileCount; ++i) {
    const QFileInfo file(CaptureFilePath(i));
    if (file.isFile()) present[static_cast<size_t>(i)] = file.size();
  }
  return present;
}

PreallocationCheck CheckPreallocationFiles() {
  return CheckPreallocation(PresentPreallocatedFiles(), core::FreeSpace(Globals().WorkingFolder));
}

QString SystemDriveLetter() { return QString(core::Drives().front().letter); }

int PreallocationProgress(int fileIndex) {
  if (fileIndex <= 0) return 0;
  // File 0 is two twelfths of the set, every further file one.
  const int twelfthsDone = std::min(fileIndex + 1, 12);
  return (twelfthsDone * 100 + 6) / 12;
}

QString PreallocationClosingMessage(const QStringList& failedFiles) {
  if (failedFiles.isEmpty())
    return QStringLiteral(
        "All pre-allocated files have now been written to your \r\n"
        "hard drive. It is now strongly recommended that you:- \r\n"
        " \r\n"
        "i) Close the Kestrom System and all other programs    \r\n"
        "ii) Run the Microsoft Disk Defragmenter program.      \r\n"
        " \r\n"
        "This program is a Microsoft utility which will try to \r\n"
        "place all the pre-allocated files in one continuous   \r\n"
        "area on your disk. Once this has been completed then \r\n"
        "there is little chance of dropping frames during capture.\r\n"
        "The Microsoft utility can be found from the         \r\n"
        "Start/Programs/Accessories/System Tools \r\n"
        " \r\n"
        "Running the defragging program will complete the setup\r\n"
        "process for optimum video capture. \r\n"
        " \r\n"
        "It is now good practice to close the Kestrom Programs\r\n"
        "and run the Disk Defragmenter.");
  QString text = QStringLiteral("These pre-allocated files could not be written to your \r\nhard drive:\r\n");
  for (const QString& name : failedFiles) text += name + QStringLiteral("\r\n");
  text += QStringLiteral(" \r\nPlease free extra disk space or remove what holds these\r\n"
                         "names, then run the pre-allocation setup again.");
  return text;
}

void PreallocationRun::Start() {
  fileIndex_ = -1;
  cancelled_ = false;
  failed_.clear();
}

PreallocationRun::Step PreallocationRun::Next() {
  Step step;
  if (cancelled_) return step;
  ++fileIndex_;
  step.fileIndex = fileIndex_;
  step.progress = PreallocationProgress(fileIndex_);
  if (fileIndex_ >= kCaptureFileCount) {
    step.kind = Step::Finish;
    step.message = PreallocationClosingMessage(failed_);
    return step;
  }
  step.kind = Step::CreateFile;
  step.fileName = CaptureFilePath(fileIndex_);
  step.sizeMB = PreallocFileSizeMB(fileIndex_);
  return step;
}

void PreallocationRun::FileCompleted(const QString& fileName, bool ok) {
  if (!ok && !failed_.contains(fileName)) failed_ << fileName;
}

}  // namespace kestrom::capture
