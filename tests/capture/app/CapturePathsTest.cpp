// The capture program's paths: where they lead, the working folder made hidden and tried for
// writing, and the boxes when it cannot be made or written.

#include "StartupTestSupport.h"
#include "capture/app/CaptureGlobals.h"
#include "platform/core/Paths.h"
#include "platform/core/TextFile.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace kestrom::capture {
namespace {

using test::CleanDrive;

TEST(CaptureAppPaths, FillsThePathsAndPreparesTheWorkingFolder) {
  CleanDrive clean;
  EXPECT_TRUE(InitCapturePaths().isEmpty());
  const CaptureGlobals& g = Globals();
  const QString drive = clean.drive.path() + "/";
  const QString program = QFileInfo(clean.program.path()).canonicalFilePath();
  EXPECT_EQ(g.SystemDrive, drive);
  EXPECT_EQ(g.SystemFolder, drive + "system");
  // The whole drive folder stays in the path, however long it is.
  EXPECT_EQ(g.WorkingFolder, drive + "KestromWORKING");
  EXPECT_EQ(g.SampleFile, drive + "KestromWORKING/Sample.avi");
  EXPECT_EQ(g.HalfSampleFile, drive + "KestromWORKING/HalfSample.avi");
  EXPECT_EQ(QFileInfo(g.CaptureAppFolder).canonicalFilePath(), program);
  EXPECT_EQ(g.FilterTextFile, g.CaptureAppFolder + "/DefaultFilterText.txt");
  EXPECT_EQ(g.FilterFontFile, g.CaptureAppFolder + "/DefaultFilterFont.txt");
  EXPECT_EQ(g.SequenceDirFile, g.CaptureAppFolder + "/DefaultSequenceDir.txt");
  EXPECT_EQ(g.DefaultSequenceFolder, SequenceFolderOn(drive));
  // The first sequence must not find its default folder missing.
  EXPECT_TRUE(QFileInfo(g.DefaultSequenceFolder).isDir());

  EXPECT_TRUE(QFileInfo(g.WorkingFolder).isDir());
  EXPECT_TRUE(core::IsHidden(g.WorkingFolder));
  EXPECT_EQ(core::ReadTextFile(g.WorkingFolder + "/test.dat"),
            QString("Test ability to write to the video capture directory\r\n"));
  EXPECT_EQ(CaptureFilePath(0), g.WorkingFolder + "/Sample.avi");
  EXPECT_EQ(CaptureFilePath(10), g.WorkingFolder + "/Sequence10.avi");
  EXPECT_EQ(CaptureFilePath(11), QString());
}

TEST(CaptureAppPaths, AnExistingWorkingFolderKeepsItsAttributes) {
  CleanDrive clean;
  ASSERT_TRUE(core::EnsureFolder(core::WorkingFolder()));
  EXPECT_TRUE(InitCapturePaths().isEmpty());
  EXPECT_FALSE(core::IsHidden(core::WorkingFolder()));
}

TEST(CaptureAppPaths, AFileHoldingTheWorkingFolderNameGivesEveryBoxInOrder) {
  CleanDrive clean;
  QFile blocker(core::WorkingFolder());
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.write("not a folder");
  blocker.close();

  const QString folder = core::WorkingFolder();
  EXPECT_EQ(InitCapturePaths(), QStringList({"Unable to create " + folder, "Unable to create " + folder,
                                             "Unable to write to the directory " + folder}));
  // The later steps still ran; nothing was written beside or over the file.
  EXPECT_EQ(Globals().SampleFile, folder + "/Sample.avi");
  EXPECT_EQ(core::ReadTextFile(folder), QString("not a folder"));
  EXPECT_EQ(QDir(clean.drive.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList({"KestromSequences", "KestromWORKING"}));
}

TEST(CaptureAppPaths, AWorkingFolderThatCannotBeWrittenGivesTheWriteBox) {
  CleanDrive clean;
  // A folder in place of the test file makes the write fail for any user, root included.
  ASSERT_TRUE(core::EnsureFolder(core::WorkingFolder() + "/test.dat/inside"));
  EXPECT_EQ(InitCapturePaths(), QStringList({"Unable to write to the directory " + core::WorkingFolder()}));
  EXPECT_TRUE(QFileInfo(core::WorkingFolder() + "/test.dat/inside").isDir());
}

TEST(CaptureAppPaths, TheSequenceFolderIsSoughtOnTheOtherDrivesBeforeTheSystemDrive) {
  struct Case {
    const char* name;
    QStringList drivesWithFolder;  // letters whose drive holds a sequence folder
    QStringList absentDrives;      // letters configured to a folder that does not exist
    QChar expected;                // the drive whose folder wins; '-' keeps the default
  };
  const QList<Case> cases = {
      {"none anywhere keeps the default", {}, {}, '-'},
      {"only the system drive", {"C"}, {}, 'C'},
      {"a second drive before the system drive", {"C", "E"}, {}, 'E'},
      {"the first of the other drives", {"F", "E", "H"}, {}, 'E'},
      {"a drive that is not there is passed over", {"C"}, {"D"}, 'C'},
  };
  for (const Case& c : cases) {
    CleanDrive clean;
    QTemporaryDir drives;
    QStringList config;
    for (const QString& letter : QStringList{"D", "E", "F", "G", "H"}) {
      const QString folder = drives.path() + "/" + letter;
      if (!c.absentDrives.contains(letter)) QDir().mkpath(folder);
      config << letter + "=" + folder;
    }
    setenv("KESTROM_DRIVES", config.join(';').toLocal8Bit().constData(), 1);
    for (const QString& letter : c.drivesWithFolder) QDir().mkpath(SequenceFolderOn(core::DriveOf(letter[0])->folder));

    InitCapturePaths();
    const QString expected = c.expected == '-' ? SequenceFolderOn(core::SystemDrive())
                                               : SequenceFolderOn(core::DriveOf(c.expected)->folder);
    EXPECT_EQ(Globals().DefaultSequenceFolder, expected) << c.name;
    unsetenv("KESTROM_DRIVES");
  }
}

}  // namespace
}  // namespace kestrom::capture
