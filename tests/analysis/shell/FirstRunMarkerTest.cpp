// The first-run marker beside the program, or in the user's own folder where the program's folder
// cannot be written: written once, found at the next start, silently.
#include "analysis/shell/FirstRunMarker.h"
#include "common/startup/GlobalPaths.h"
#include "platform/core/Paths.h"
#include "platform/core/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

namespace kestrom::shell {
namespace {

constexpr char kMarkerName[] = "Kestrom Ruvodo Installation Upgrade 2.dat";

class FirstRunMarker : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(config_.isValid() && program_.isValid());
    previous_ = Globals();
    setenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()).constData(), 1);
    Globals().FirstRunMarkerFile = QStringLiteral("\\") + kMarkerName;
    Globals().FirstRunMarkerText = "Kestrom Ruvodo Upgrade 2 Installed OK";
  }
  void TearDown() override {
    QFile(program_.path()).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    unsetenv("XDG_CONFIG_HOME");
    Globals() = previous_;
  }
  // A program folder no one can write to (the superuser ignores permissions: a system folder).
  QString UnwritableFolder() {
    if (geteuid() == 0) return QStringLiteral("/proc");
    QFile(program_.path()).setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    return program_.path();
  }
  QString InUserFolder() const { return QDir(config_.path()).filePath(QStringLiteral("Kestrom/") + kMarkerName); }

  QTemporaryDir config_, program_;
  GlobalPaths previous_;
};

TEST_F(FirstRunMarker, AWritableProgramFolderKeepsTheMarkerBesideTheProgram) {
  Globals().AppFolder = program_.path();
  EXPECT_FALSE(FirstRunDone());
  ASSERT_TRUE(WriteFirstRunMarker().ok);
  EXPECT_TRUE(FirstRunDone());
  EXPECT_EQ(core::ReadTextLines(QDir(program_.path()).filePath(kMarkerName)),
            QStringList{"Kestrom Ruvodo Upgrade 2 Installed OK"});
  EXPECT_FALSE(QFileInfo::exists(InUserFolder()));
}

TEST_F(FirstRunMarker, AnUnwritableProgramFolderKeepsItInTheUsersFolderOnce) {
  Globals().AppFolder = UnwritableFolder();
  EXPECT_FALSE(FirstRunDone());
  const core::WriteResult written = WriteFirstRunMarker();
  ASSERT_TRUE(written.ok) << written.error.toStdString();
  EXPECT_EQ(core::ReadTextLines(InUserFolder()), QStringList{"Kestrom Ruvodo Upgrade 2 Installed OK"});
  EXPECT_FALSE(QFileInfo::exists(core::JoinPath(Globals().AppFolder, Globals().FirstRunMarkerFile)));
  // The next start finds it and runs no check.
  EXPECT_TRUE(FirstRunDone());
}

TEST_F(FirstRunMarker, FailsWithBothReasonsWhenNoFolderTakesIt) {
  Globals().AppFolder = UnwritableFolder();
  // The user's configuration folder is a file: nothing can be made in it.
  const QString blocked = QDir(config_.path()).filePath("blocked");
  ASSERT_TRUE(core::WriteFileAtomic(blocked, "x").ok);
  setenv("XDG_CONFIG_HOME", QFile::encodeName(blocked).constData(), 1);
  const core::WriteResult written = WriteFirstRunMarker();
  EXPECT_FALSE(written.ok);
  EXPECT_EQ(written.error.count("Cannot write"), 2) << written.error.toStdString();
  EXPECT_FALSE(FirstRunDone());
}

}  // namespace
}  // namespace kestrom::shell
