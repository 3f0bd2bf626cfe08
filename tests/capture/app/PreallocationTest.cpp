// The preallocation check (with free space measured against what the set still lacks), the bars'
// progress and the run over the eleven files.

#include "StartupTestSupport.h"
#include "capture/app/Preallocation.h"
#include "platform/core/Paths.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace kestrom::capture {
namespace {

constexpr int64_t MB = 1 << 20;
constexpr int64_t kWholeSet = (216 + 10 * 108) * MB;  // 1.27 GB

TEST(CaptureAppPreallocationCheck, ChoosesThePanelFromWhatIsThereAndWhatFits) {
  const uint64_t halfGB = 1ull << 29;
  struct Case {
    const char* name;
    std::vector<std::pair<int, int64_t>> files;  // index, size in bytes
    std::optional<uint64_t> freeBytes;
    PreallocPanel panel;
    int64_t needed;
  };
  const QList<Case> cases = {
      // Free space minus the files present once passed a fixed 0.315 GB; the set needs 1.27 GB.
      {"no files, 0.5 GB free", {}, halfGB, PreallocPanel::Panel5, kWholeSet},
      {"no files, exactly the set free", {}, kWholeSet, PreallocPanel::Panel4, kWholeSet},
      {"no files, a byte short", {}, kWholeSet - 1, PreallocPanel::Panel5, kWholeSet},
      {"free space unknown", {}, std::nullopt, PreallocPanel::Panel5, kWholeSet},
      {"a sample of 0.21 GB counts as set up", {{0, 225485784}}, 0, PreallocPanel::Panel3, 216 * MB - 225485784 + 1080 * MB},
      {"a byte less does not", {{0, 225485783}}, 0, PreallocPanel::Panel5, 216 * MB - 225485783 + 1080 * MB},
      {"the rest of a partial set fits", {{1, 108 * MB}, {2, 50 * MB}}, kWholeSet - 158 * MB, PreallocPanel::Panel4,
       kWholeSet - 158 * MB},
      {"an oversized file lacks nothing, and gives nothing to the others", {{3, 200 * MB}}, kWholeSet - 108 * MB,
       PreallocPanel::Panel4, kWholeSet - 108 * MB},
      {"the whole set present", {{0, 216 * MB}}, 0, PreallocPanel::Panel3, 1080 * MB},
  };
  for (const Case& c : cases) {
    PresentSizes present;
    double reserved = 0;
    for (auto [index, size] : c.files) {
      present[static_cast<size_t>(index)] = size;
      reserved += static_cast<double>(size) / 1073741824.0;
    }
    const PreallocationCheck check = CheckPreallocation(present, c.freeBytes);
    EXPECT_EQ(check.panel, c.panel) << c.name;
    EXPECT_EQ(check.neededBytes, c.needed) << c.name;
    EXPECT_DOUBLE_EQ(check.ReservedGB, reserved) << c.name;
    EXPECT_DOUBLE_EQ(check.FreeGB, static_cast<double>(c.freeBytes.value_or(0)) / 1073741824.0) << c.name;
  }
}

TEST(CaptureAppPreallocationCheck, ReadsTheWorkingFolderAndItsVolume) {
  test::CleanDrive clean;
  InitCapturePaths();
  {
    QFile sample(CaptureFilePath(0));
    ASSERT_TRUE(sample.open(QIODevice::WriteOnly));
    ASSERT_TRUE(sample.resize(100 * MB));  // sparse: no real space taken
  }
  // A folder that holds a file's name is no file of the set.
  ASSERT_TRUE(QDir().mkpath(CaptureFilePath(5)));

  const PresentSizes present = PresentPreallocatedFiles();
  EXPECT_EQ(present[0], 100 * MB);
  EXPECT_FALSE(present[5]);
  EXPECT_FALSE(present[1]);
  const PreallocationCheck check = CheckPreallocationFiles();
  EXPECT_EQ(check.neededBytes, kWholeSet - 100 * MB);
  EXPECT_DOUBLE_EQ(check.ReservedGB, 100.0 / 1024);
  const std::optional<uint64_t> free = core::FreeSpace(Globals().WorkingFolder);
  ASSERT_TRUE(free);
  EXPECT_GT(check.FreeGB, 0);
  EXPECT_EQ(check.panel, *free < static_cast<uint64_t>(check.neededBytes) ? PreallocPanel::Panel5 : PreallocPanel::Panel4);
  EXPECT_EQ(SystemDriveLetter(), "C");
}

TEST(CaptureAppPreallocationCheck, BarsCountTwelfthsOfTheSet) {
  const int expected[] = {0, 17, 25, 33, 42, 50, 58, 67, 75, 83, 92, 100};
  for (int index = 0; index <= 11; ++index) EXPECT_EQ(PreallocationProgress(index), expected[index]) << index;
}

TEST(CaptureAppPreallocationCheck, TheRunCreatesElevenFilesThenAdvisesOrNamesWhatFailed) {
  test::CleanDrive clean;
  InitCapturePaths();
  PreallocationRun run;
  run.Start();
  QList<int> bars;
  for (int i = 0; i < kCaptureFileCount; ++i) {
    const PreallocationRun::Step step = run.Next();
    ASSERT_EQ(step.kind, PreallocationRun::Step::CreateFile) << i;
    EXPECT_EQ(step.fileIndex, i);
    EXPECT_EQ(step.fileName, CaptureFilePath(i));
    EXPECT_EQ(step.sizeMB, i == 0 ? 216 : 108);
    bars << step.progress.value_or(-1);
    run.FileCompleted(step.fileName, i != 5);
  }
  const PreallocationRun::Step last = run.Next();
  ASSERT_EQ(last.kind, PreallocationRun::Step::Finish);
  EXPECT_EQ(last.progress, 100);
  EXPECT_EQ(bars.mid(0, 4), QList<int>({0, 17, 25, 33}));
  EXPECT_EQ(run.FailedFiles(), QStringList({CaptureFilePath(5)}));
  // The failed file is named, and the box no longer claims every file was written.
  EXPECT_TRUE(last.message.contains(CaptureFilePath(5)));
  EXPECT_FALSE(last.message.contains("All pre-allocated files have now been written"));

  run.Start();
  EXPECT_TRUE(run.FailedFiles().isEmpty());
  for (int i = 0; i < kCaptureFileCount; ++i) run.FileCompleted(run.Next().fileName, true);
  const QString advice = run.Next().message;
  EXPECT_TRUE(advice.startsWith("All pre-allocated files have now been written to your \r\n"));
  EXPECT_TRUE(advice.endsWith("It is now good practice to close the Kestrom Programs\r\nand run the Disk Defragmenter."));
  EXPECT_EQ(advice.count("\r\n"), 17);  // 18 pieces
}

TEST(CaptureAppPreallocationCheck, CancelEndsTheRunAtTheNextFile) {
  PreallocationRun run;
  run.Start();
  run.Next();
  run.Cancel();
  const PreallocationRun::Step step = run.Next();
  EXPECT_EQ(step.kind, PreallocationRun::Step::Close);
  EXPECT_FALSE(step.progress);  // the bars stay where they were
  EXPECT_EQ(run.FileIndex(), 0);
}

}  // namespace
}  // namespace kestrom::capture
