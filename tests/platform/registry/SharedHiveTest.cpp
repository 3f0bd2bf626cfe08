// The hives as several processes share them, and damaged hive files.
#include "platform/registry/HiveText.h"
#include "tests/TestSupport.h"
#include "tests/platform/registry/RegistryFixture.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <memory>
#include <thread>

namespace kestrom::registry {
namespace {

class SharedHiveTest : public RegistryTest {
 protected:
  std::unique_ptr<QProcess> StartWriter(const QStringList& args) {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("KESTROM_REGISTRY_DIR", dir_.path());
    process->setProcessEnvironment(env);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(test::BinPath("registry-writer"), args);
    return process;
  }

  void RunWriter(const QStringList& args) {
    auto process = StartWriter(args);
    ExpectFinishedWell(*process);
  }

  static void ExpectFinishedWell(QProcess& process) {
    ASSERT_TRUE(process.waitForFinished(120000)) << process.errorString().toStdString();
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
  }
};

TEST_F(SharedHiveTest, AChangeByAnotherProcessIsSeen) {
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("Software\\Shared", true));
  ASSERT_TRUE(reg.WriteString("Mine", "kept"));
  EXPECT_FALSE(reg.ValueExists("Theirs"));

  RunWriter({"set", "Software\\Shared", "Theirs", "v1"});
  EXPECT_EQ(reg.ReadString("Theirs"), QString("v1"));
  // A change of the same length, likely within the same time stamp tick.
  RunWriter({"set", "Software\\Shared", "Theirs", "v2"});
  EXPECT_EQ(reg.ReadString("Theirs"), QString("v2"));
  EXPECT_EQ(reg.ReadString("Mine"), QString("kept"));

  // And this process's next write keeps the other's change.
  ASSERT_TRUE(reg.WriteString("Mine", "changed"));
  ForgetLoadedHives();
  TRegistry fresh;
  ASSERT_TRUE(fresh.OpenKey("Software\\Shared", false));
  EXPECT_EQ(fresh.ReadString("Theirs"), QString("v2"));
  EXPECT_EQ(fresh.ReadString("Mine"), QString("changed"));
}

TEST_F(SharedHiveTest, ConcurrentWritersLoseNoValue) {
  constexpr int kEach = 120;
  {
    // Left by a writer that died before its rename.
    QFile stale(dir_.filePath("HKEY_CURRENT_USER.reg.Ab12Cd"));
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
  }
  auto first = StartWriter({"many", "Software\\Busy", "first", QString::number(kEach)});
  auto second = StartWriter({"many", "Software\\Busy", "second", QString::number(kEach)});
  ASSERT_TRUE(first->waitForStarted(30000));
  ASSERT_TRUE(second->waitForStarted(30000));
  // This process writes at the same time, from two threads.
  auto writeAll = [](const QString& prefix, int from, int to) {
    TRegistry reg;
    for (int i = from; i < to; ++i)
      if (!reg.OpenKey("\\Software\\Busy", true) || !reg.WriteInteger(prefix + QString::number(i), i)) return false;
    return true;
  };
  bool threadWrote = false;
  std::thread other([&] { threadWrote = writeAll("third", 0, kEach / 2); });
  EXPECT_TRUE(writeAll("third", kEach / 2, kEach));
  other.join();
  EXPECT_TRUE(threadWrote);
  ExpectFinishedWell(*first);
  ExpectFinishedWell(*second);

  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("\\Software\\Busy", false));
  EXPECT_EQ(reg.GetValueNames().size(), 3 * kEach);
  for (const char* prefix : {"first", "second", "third"})
    for (int i = 0; i < kEach; ++i) EXPECT_EQ(reg.ReadInteger(QString("%1%2").arg(prefix).arg(i)), i);
  EXPECT_TRUE(damage_.empty());
  // No temporary file is left behind.
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files).join(' '), "HKEY_CURRENT_USER.lock HKEY_CURRENT_USER.reg");
}

TEST_F(SharedHiveTest, ADamagedHiveIsSetAsideAndItsReadableValuesKept) {
  const QByteArray damaged =
      "REGEDIT4\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Account Manager]\r\n"
      "\"Default Mail Account\"=\"00000001\"\r\n"
      "\"Half written=\r\n"
      "\x01\x02\xff\xfe garbage\r\n"
      "[HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Account Manager\\Accounts\\00000001]\r\n"
      "\"SMTP Email Address\"=\"coach@example.org\"\r\n";
  {
    QFile file(HiveFilePath(HKEY_CURRENT_USER));
    ASSERT_TRUE(QDir().mkpath(dir_.path()));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(damaged);
  }
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("Software\\Microsoft\\Internet Account Manager", false));
  EXPECT_EQ(reg.ReadString("Default Mail Account"), QString("00000001"));
  ASSERT_TRUE(reg.OpenKey("Accounts\\00000001", false));
  EXPECT_EQ(reg.ReadString("SMTP Email Address"), QString("coach@example.org"));

  // Reported once, with the damaged file kept as it was.
  ASSERT_EQ(damage_.size(), 1u);
  EXPECT_EQ(damage_[0].file, HiveFilePath(HKEY_CURRENT_USER));
  EXPECT_EQ(damage_[0].setAsideAs, HiveFilePath(HKEY_CURRENT_USER) + ".bad");
  EXPECT_EQ(damage_[0].problems.size(), 2);
  QFile aside(damage_[0].setAsideAs);
  ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
  EXPECT_EQ(aside.readAll(), damaged);

  // The hive file now holds what could be read, and reads and writes go on without new reports.
  EXPECT_TRUE(ParseHive(HiveText(HKEY_CURRENT_USER), "HKEY_CURRENT_USER").problems.isEmpty());
  ASSERT_TRUE(reg.WriteString("SMTP Server", "127.0.0.1"));
  ForgetLoadedHives();
  EXPECT_EQ(reg.ReadString("SMTP Email Address"), QString("coach@example.org"));
  EXPECT_EQ(reg.ReadString("SMTP Server"), QString("127.0.0.1"));
  EXPECT_EQ(damage_.size(), 1u);

  // Damage found again later does not overwrite the first copy.
  {
    QFile file(HiveFilePath(HKEY_CURRENT_USER));
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("not a registry line\r\n");
  }
  EXPECT_EQ(reg.ReadString("SMTP Server"), QString("127.0.0.1"));
  ASSERT_EQ(damage_.size(), 2u);
  EXPECT_EQ(damage_[1].setAsideAs, HiveFilePath(HKEY_CURRENT_USER) + ".bad.2");
  EXPECT_TRUE(QFile::exists(HiveFilePath(HKEY_CURRENT_USER) + ".bad"));
}

TEST_F(SharedHiveTest, AHiveThatCannotBeSetAsideIsLeftAloneAndChangesAreRefused) {
  // The hive's name is taken by a folder: it cannot be read, nor copied aside.
  ASSERT_TRUE(QDir(dir_.path()).mkdir("HKEY_LOCAL_MACHINE.reg"));
  TRegistry reg(HKEY_LOCAL_MACHINE);
  EXPECT_FALSE(reg.KeyExists("Software"));
  EXPECT_FALSE(reg.OpenKey("Software\\Microsoft\\DirectX", true));
  EXPECT_EQ(reg.LastError(), ERROR_CANTWRITE);
  EXPECT_FALSE(reg.WriteString("Version", "4.09.00.0904"));
  ASSERT_EQ(damage_.size(), 1u);
  EXPECT_TRUE(damage_[0].setAsideAs.isEmpty());
  EXPECT_TRUE(QFileInfo(HiveFilePath(HKEY_LOCAL_MACHINE)).isDir());
  // The other hives are not touched by it.
  TRegistry user;
  EXPECT_TRUE(user.OpenKey("Software", true));
}

TEST(RegistryFolder, ATestRunNeverReachesTheUsersOwnHives) {
  const QByteArray saved = qgetenv("KESTROM_REGISTRY_DIR");
  qunsetenv("KESTROM_REGISTRY_DIR");
  SetRegistryDirectory({});
  const QString folder = RegistryDirectory();
  if (!saved.isNull()) qputenv("KESTROM_REGISTRY_DIR", saved);
  EXPECT_TRUE(folder.startsWith(QDir::tempPath())) << folder.toStdString();
  EXPECT_FALSE(folder.startsWith(QDir::homePath() + "/.config")) << folder.toStdString();
}

}  // namespace
}  // namespace kestrom::registry
