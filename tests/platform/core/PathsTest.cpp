#include "platform/core/Paths.h"
#include "tests/platform/core/QtPrint.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kestrom::core;

namespace {

// A system drive and further drives under a temporary folder, set through the environment the
// way a user's installation would set them.
class PathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.isValid());
    system_ = root_.filePath(QStringLiteral("c"));
    ASSERT_TRUE(QDir().mkpath(system_));
    ASSERT_TRUE(QDir().mkpath(root_.filePath(QStringLiteral("e"))));
    qputenv("KESTROM_SYSTEM_DRIVE", QFile::encodeName(system_));
    // D: is configured but missing, E: exists, G: given in lower case, junk ignored.
    qputenv("KESTROM_DRIVES", QFile::encodeName(QStringLiteral("E=%1;D=%2;junk;Z=/tmp;g=%3;E=/elsewhere")
                                                    .arg(root_.filePath(QStringLiteral("e")),
                                                         root_.filePath(QStringLiteral("d")), root_.path())));
  }
  void TearDown() override {
    qunsetenv("KESTROM_SYSTEM_DRIVE");
    qunsetenv("KESTROM_DRIVES");
  }

  QTemporaryDir root_;
  QString system_;
};

}  // namespace

TEST_F(PathsTest, SystemDriveAndItsFolders) {
  EXPECT_EQ(SystemDrive(), system_ + QLatin1Char('/'));
  EXPECT_EQ(GetSystemFolder(), system_ + QStringLiteral("/system"));
  EXPECT_EQ(WorkingFolder(), system_ + QStringLiteral("/KestromWORKING"));

  qputenv("KESTROM_SYSTEM_DRIVE", QFile::encodeName(system_ + QStringLiteral("///")));
  EXPECT_EQ(SystemDrive(), system_ + QLatin1Char('/')) << "one trailing slash, however it was given";

  qunsetenv("KESTROM_SYSTEM_DRIVE");
  EXPECT_EQ(SystemDrive(), QDir::homePath() + QLatin1Char('/'));
}

TEST_F(PathsTest, DrivesInLetterOrderWithTheirTypes) {
  const QList<Drive> drives = Drives();
  ASSERT_EQ(drives.size(), 6);
  const struct {
    char letter;
    QString folder;
    DriveType type;
  } want[] = {
      {'C', system_ + QLatin1Char('/'), DriveType::Fixed},
      {'D', root_.filePath(QStringLiteral("d/")), DriveType::NoRootDir},
      {'E', root_.filePath(QStringLiteral("e/")), DriveType::Fixed},
      {'F', QString(), DriveType::NoRootDir},
      {'G', root_.path() + QLatin1Char('/'), DriveType::Fixed},
      {'H', QString(), DriveType::NoRootDir},
  };
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(drives[i].letter, QLatin1Char(want[i].letter));
    EXPECT_EQ(drives[i].folder, want[i].folder) << want[i].letter;
    EXPECT_EQ(drives[i].type, want[i].type) << want[i].letter;
  }
  EXPECT_EQ(DriveOf(QLatin1Char('e'))->folder, root_.filePath(QStringLiteral("e/")));
  EXPECT_FALSE(DriveOf(QLatin1Char('F')).has_value());
  EXPECT_FALSE(DriveOf(QLatin1Char('Z')).has_value());

  // A drive becomes fixed as soon as its folder appears.
  ASSERT_TRUE(QDir().mkpath(root_.filePath(QStringLiteral("d"))));
  EXPECT_EQ(DriveOf(QLatin1Char('D'))->type, DriveType::Fixed);
}

TEST(Paths, JoinPathAndProgramNames) {
  const struct {
    const char* folder;
    const char* fragment;
    const char* want;
  } cases[] = {
      {"/home/u/KestromWORKING", "\\Temp", "/home/u/KestromWORKING/Temp"},
      {"/home/u/", "\\Sample.avi", "/home/u/Sample.avi"},
      {"/opt/k", "XPlayList\\KestromPlayList.exe", "/opt/k/XPlayList/KestromPlayList.exe"},
      {"/opt/k//", "//a", "/opt/k/a"},
      {"/", "\\Temp", "/Temp"},
      {"/opt/k", "", "/opt/k"},
      {"", "\\Kestrom Export Hint.dat", "Kestrom Export Hint.dat"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(JoinPath(QString::fromUtf8(c.folder), QString::fromUtf8(c.fragment)), QString::fromUtf8(c.want))
        << c.folder << " + " << c.fragment;
  EXPECT_EQ(ProgramName(QStringLiteral("/opt/k/KestromDDCapture.exe")), QStringLiteral("/opt/k/KestromDDCapture"));
  EXPECT_EQ(ProgramName(QStringLiteral("SendMail.EXE")), QStringLiteral("SendMail"));
  EXPECT_EQ(ProgramName(QStringLiteral("KestromExportAVI")), QStringLiteral("KestromExportAVI"));
  EXPECT_EQ(ProgramName(QStringLiteral("notes.exe.txt")), QStringLiteral("notes.exe.txt"));
}

TEST_F(PathsTest, HiddenAttributeRoundTrip) {
  const QString working = WorkingFolder();
  const QString temp = JoinPath(working, QStringLiteral("\\Temp"));
  EXPECT_FALSE(IsHidden(working));
  ASSERT_TRUE(EnsureHiddenFolder(working));
  ASSERT_TRUE(EnsureHiddenFolder(temp));
  EXPECT_TRUE(QFileInfo(temp).isDir());
  EXPECT_TRUE(IsHidden(working));
  EXPECT_TRUE(IsHidden(temp));
  EXPECT_TRUE(IsHidden(working + QLatin1Char('/')));

  // The parent's list keeps what others put there, and a name is listed once.
  QFile list(system_ + QStringLiteral("/.hidden"));
  ASSERT_TRUE(list.open(QIODevice::Append));
  list.write("snap\n");
  list.close();
  EXPECT_TRUE(SetHidden(working));
  ASSERT_TRUE(list.open(QIODevice::ReadOnly));
  EXPECT_EQ(list.readAll(), QByteArray("KestromWORKING\nsnap\n"));
  list.close();

  EXPECT_TRUE(SetHidden(working, false));
  EXPECT_FALSE(IsHidden(working));
  EXPECT_FALSE(IsHidden(system_ + QStringLiteral("/KestromWORK")));

  // An existing folder is not re-attributed.
  EXPECT_TRUE(EnsureHiddenFolder(working));
  EXPECT_FALSE(IsHidden(working));
}

TEST_F(PathsTest, FreeSpaceOfThePathItself) {
  EXPECT_GT(FreeSpace(system_).value_or(0), 0u);
  EXPECT_FALSE(FreeSpace(root_.filePath(QStringLiteral("nothing-here"))).has_value());
  EXPECT_FALSE(EnsureFolder(QString()));
  EXPECT_TRUE(EnsureFolder(root_.filePath(QStringLiteral("a/b/c"))));
}

TEST(Paths, ProgramFolderIsTheExecutablesFolder) {
  EXPECT_EQ(ProgramFolder(), QCoreApplication::applicationDirPath());
  const QString before = QDir::currentPath();
  EnterProgramFolder();
  EXPECT_EQ(QDir::currentPath(), QCoreApplication::applicationDirPath());
  QDir::setCurrent(before);
}
