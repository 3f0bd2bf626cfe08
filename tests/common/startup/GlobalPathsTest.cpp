#include "common/startup/GlobalPaths.h"
#include "StartupTestSupport.h"
#include "platform/core/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace kestrom::shell {
namespace {

TEST(GlobalPaths, FillsEveryPathFromTheProgramFolderAndSystemDrive) {
  test::CleanDrive clean;
  InitGlobalPaths();
  const GlobalPaths& g = Globals();
  const QString drive = QDir(clean.drive.path()).absolutePath() + "/";
  const QString app = QDir::currentPath();
  EXPECT_EQ(g.AppFolder, app);
  EXPECT_EQ(g.SystemDrive, drive);
  EXPECT_EQ(g.PlayListProgram, app + "/XPlayList/KestromPlayList");
  EXPECT_EQ(g.PlayListFolder, app + "/XPlayList");
  EXPECT_EQ(g.CaptureProgram, app + "/KestromDDCapture");
  EXPECT_EQ(g.CaptureFolder, app);
  EXPECT_EQ(g.WorkingFolder, drive + "KestromWORKING");
  EXPECT_EQ(g.WorkingTempFolder, drive + "KestromWORKING/Temp");
  // No samples folder anywhere: the system drive's candidate stays.
  EXPECT_EQ(g.SamplesFolder, SamplesFolderOn(drive));
}

TEST(GlobalPaths, CreatesTheWorkingFoldersHiddenOnce) {
  test::CleanDrive clean;
  InitGlobalPaths();
  const QString working = Globals().WorkingFolder;
  ASSERT_TRUE(QFileInfo(working).isDir());
  ASSERT_TRUE(QFileInfo(Globals().WorkingTempFolder).isDir());
  EXPECT_TRUE(core::IsHidden(working));
  EXPECT_TRUE(core::IsHidden(Globals().WorkingTempFolder));

  // The second window's run finds them and leaves them as they are.
  QFile keep(working + "/Sample.avi");
  ASSERT_TRUE(keep.open(QIODevice::WriteOnly));
  keep.close();
  InitGlobalPaths();
  EXPECT_TRUE(QFileInfo::exists(working + "/Sample.avi"));
  EXPECT_TRUE(core::IsHidden(working));
}

TEST(GlobalPaths, LeavesAnExistingVisibleWorkingFolderVisible) {
  test::CleanDrive clean;
  const QString working = core::WorkingFolder();
  ASSERT_TRUE(QDir().mkpath(working));
  InitGlobalPaths();
  EXPECT_FALSE(core::IsHidden(working));
  // Its Temp subfolder was missing, so that one is made hidden.
  EXPECT_TRUE(core::IsHidden(Globals().WorkingTempFolder));
}

TEST(GlobalPaths, TakesTheFirstFixedDriveThatHoldsASamplesFolder) {
  test::CleanDrive clean;
  QTemporaryDir d, e, f;
  const QString missing = d.path() + "/not-there";
  setenv("KESTROM_DRIVES", QString("D=%1;E=%2;F=%3").arg(missing, e.path(), f.path()).toLocal8Bit().constData(), 1);
  const QString onF = SamplesFolderOn(QDir(f.path()).absolutePath() + "/");
  const QString onE = SamplesFolderOn(QDir(e.path()).absolutePath() + "/");
  ASSERT_TRUE(QDir().mkpath(onF));
  InitGlobalPaths();
  EXPECT_EQ(Globals().SamplesFolder, onF);
  ASSERT_TRUE(QDir().mkpath(onE));
  InitGlobalPaths();
  EXPECT_EQ(Globals().SamplesFolder, onE);
  unsetenv("KESTROM_DRIVES");
}

}  // namespace
}  // namespace kestrom::shell
