#include "common/startup/FirstRunChecks.h"
#include "common/startup/GlobalPaths.h"
#include "platform/ui/ModalForms.h"
#include "analysis/shell/RegistrationForms.h"
#include "StartupTestSupport.h"
#include "platform/core/Paths.h"
#include "platform/registry/Registry.h"
#include "platform/ui/Dialogs.h"
#include "platform/ui/Terminate.h"

#include <QCloseEvent>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

namespace kestrom::shell {
namespace {

TEST(FirstRunChecks, DirectXVersionNeedsEightOrNineInItsFourthCharacter) {
  const struct {
    const char* version;
    bool ok;
  } cases[] = {{"4.09.00.0904", true}, {"4.08.01.0881", true}, {"4.07.02.0095", false},
               {"4.0", false},         {"", false},             {"4.1", false}};
  for (const auto& c : cases) EXPECT_EQ(DirectXVersionIs8Or9(c.version), c.ok) << c.version;
}

void WriteBytes(const QString& path, qint64 size) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(QByteArray(size, 'x'));
}

TEST(FirstRunChecks, SystemFolderBackEndReadsFilesAndVersion) {
  QTemporaryDir system;
  QString version;
  SystemFolderFirstRunChecks checks(system.path(), [&] { return version; });
  EXPECT_FALSE(checks.IsAviSynthInstalled());
  EXPECT_FALSE(checks.IsCodecInstalled());
  EXPECT_FALSE(checks.HasDirectX8Or9());

  // Only a library of exactly the released size counts.
  const QString library = system.path() + "/AviSynth.dll";
  for (qint64 size : {284671, 284673}) {
    WriteBytes(library, size);
    EXPECT_FALSE(checks.IsAviSynthInstalled()) << size;
  }
  WriteBytes(library, 284672);
  EXPECT_TRUE(checks.IsAviSynthInstalled());

  // The analysis program asks for the video codec only; each codec's file answers for itself.
  WriteBytes(system.path() + "/MPG4C32.DLL", 0);
  EXPECT_TRUE(checks.IsCodecInstalled());
  EXPECT_TRUE(checks.IsVideoCodecInstalled());
  EXPECT_FALSE(checks.IsAudioCodecInstalled());
  WriteBytes(system.path() + "/MSADP32.ACM", 0);
  EXPECT_TRUE(checks.IsAudioCodecInstalled());
  version = "4.09.00.0904";
  EXPECT_TRUE(checks.HasDirectX8Or9());
}

TEST(FirstRunChecks, RunningSystemHasTheCodecsAndTheMediaLayer) {
  SystemFirstRunChecks checks;
  EXPECT_TRUE(checks.IsCodecInstalled());
  EXPECT_TRUE(checks.IsVideoCodecInstalled());
  EXPECT_TRUE(checks.IsAudioCodecInstalled());
  EXPECT_TRUE(checks.HasDirectX8Or9());
}

class RegistrationFormsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitGlobalPaths();
    Globals().ProgramTitle = "Kestrom";
    ui::ResetTerminated();
    ui::SetModalHandler([this](QDialog& form) {
      // As the modal loop would: the form is up while the coach acts on it.
      shown << form.objectName();
      form.setResult(0);
      form.show();
      if (onShow) onShow(form);
      form.hide();
      return form.result();
    });
  }
  void TearDown() override {
    ui::SetModalHandler(nullptr);
    ui::ResetTerminated();
  }
  test::CleanDrive clean;
  test::ScopedFirstRunChecks fake;
  ui::ScopedScriptedDialogs dialogs;
  QStringList shown;
  std::function<void(QDialog&)> onShow;
};

TEST_F(RegistrationFormsTest, AviSynthFormShowsOnceAndOnlyWhenMissing) {
  TRegistrationAviForm form;
  EXPECT_EQ(form.windowTitle(), "Video File Registration");
  fake.checks.aviSynth = false;
  onShow = [](QDialog& f) { f.findChild<QPushButton*>("BitBtn1")->click(); };
  EXPECT_FALSE(form.CheckAviSynth());
  EXPECT_EQ(shown, QStringList{"RegistrationAviForm"});
  // The installer is looked for in the program folder; it is not there, so "OK" stays disabled.
  ASSERT_EQ(fake.checks.installersRun.size(), 1);
  EXPECT_EQ(fake.checks.installersRun[0], QDir::currentPath() + "/AviSynth/AviSynth_255");
  EXPECT_FALSE(form.findChild<QPushButton*>("BitBtn1")->isEnabled());

  // A second call in the same run answers at once.
  const int asked = fake.checks.questions;
  EXPECT_TRUE(form.CheckAviSynth());
  EXPECT_EQ(fake.checks.questions, asked);
  EXPECT_EQ(shown.size(), 1);
}

TEST_F(RegistrationFormsTest, AviSynthPresentShowsNoForm) {
  TRegistrationAviForm form;
  EXPECT_TRUE(form.CheckAviSynth());
  EXPECT_TRUE(shown.isEmpty());
}

TEST_F(RegistrationFormsTest, CodecInstallerOutcomeShowsOnTheForm) {
  struct Case {
    bool starts, installs;
    QString label;
    bool okEnabled, yesVisible;
  };
  const Case cases[] = {
      {true, true, "The required codecs have been installed.                 Continue ?", false, true},
      {true, false, "The required codecs have NOT been installed : Please contact Kestrom ", true, false},
      {false, false, "The required codecs have NOT been installed : Please contact Kestrom ", true, false},
  };
  for (const Case& c : cases) {
    fake.checks.codec = false;
    fake.checks.installerStarts = c.starts;
    fake.checks.installerInstallsCodec = c.installs;
    TRegistrationCodecForm form;
    form.BitBtn1Click();
    EXPECT_TRUE(form.findChild<QFrame*>("Panel2")->isVisibleTo(&form));
    EXPECT_EQ(form.findChild<QLabel*>("AviSynthReturnlabel")->text(), c.label);
    EXPECT_EQ(form.findChild<QPushButton*>("BitBtn1")->isEnabled(), c.okEnabled);
    EXPECT_EQ(form.findChild<QPushButton*>("BitBtn2")->isVisibleTo(&form), c.yesVisible);
  }
  EXPECT_TRUE(dialogs.dialogs.Asked().empty());
}

TEST_F(RegistrationFormsTest, ClosingTheCodecFormWithoutTheCodecEndsTheProgram) {
  fake.checks.codec = false;
  TRegistrationCodecForm form;
  onShow = [](QDialog& f) { f.close(); };
  dialogs.dialogs.Push(ui::mrOk);
  EXPECT_FALSE(form.CheckCodecs());
  EXPECT_TRUE(ui::Terminated());
  ASSERT_EQ(dialogs.dialogs.MessageTexts().size(), 1);
  EXPECT_TRUE(dialogs.dialogs.MessageTexts()[0].startsWith("Some of Microsofts's video codecs are not installed.\r\n"
                                                           "Video codecs are files which compress the size of your"));
  // A second call answers true without looking at the codec again.
  const int asked = fake.checks.questions;
  EXPECT_TRUE(form.CheckCodecs());
  EXPECT_EQ(fake.checks.questions, asked);
}

TEST_F(RegistrationFormsTest, InstalledCodecClosesWithYesQuietly) {
  fake.checks.codec = false;
  fake.checks.installerStarts = true;
  fake.checks.installerInstallsCodec = true;
  TRegistrationCodecForm form;
  onShow = [](QDialog& f) {
    f.findChild<QPushButton*>("BitBtn1")->click();
    f.findChild<QPushButton*>("BitBtn2")->click();
  };
  EXPECT_TRUE(form.CheckCodecs());
  EXPECT_EQ(form.result(), ui::mrYes);
  EXPECT_FALSE(ui::Terminated());
  EXPECT_TRUE(dialogs.dialogs.Asked().empty());
}

TEST_F(RegistrationFormsTest, SetupFormBuildsItsPathsOnceAndRefusesToClose) {
  TKestrom903InstallForm form;
  EXPECT_TRUE(form.InitSystemPaths());
  EXPECT_EQ(form.CodecFile, core::GetSystemFolder() + "/MPG4C32.DLL");
  EXPECT_FALSE(form.InitSystemPaths());
  form.show();
  EXPECT_FALSE(form.close());
  EXPECT_TRUE(form.isVisible());
}

}  // namespace
}  // namespace kestrom::shell

namespace kestrom::shell {
namespace {

TEST(FirstRunChecks, VersionTextComesFromTheMachineKeyOfTheRegistry) {
  QTemporaryDir folder;
  registry::SetRegistryDirectory(folder.path());
  auto readVersion = [] {
    QString version;
    TOtherInfo().GetDirectXVersion(version);
    return version;
  };
  SystemFolderFirstRunChecks checks(folder.path(), readVersion);
  EXPECT_FALSE(checks.HasDirectX8Or9());  // no value: not installed
  {
    registry::TRegistry reg(registry::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey("\\Software\\Microsoft\\DirectX", false));  // made by the first read
    ASSERT_TRUE(reg.WriteString("Version", "4.09.00.0904"));
  }
  EXPECT_TRUE(checks.HasDirectX8Or9());
  {
    registry::TRegistry reg(registry::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey("\\Software\\Microsoft\\DirectX", false));
    ASSERT_TRUE(reg.WriteString("Version", "4.07.02.0095"));
  }
  EXPECT_FALSE(checks.HasDirectX8Or9());
}

}  // namespace
}  // namespace kestrom::shell

namespace kestrom::shell {
namespace {

TEST(FirstRunChecks, ScriptInterpreterIsBuiltIntoTheProgram) {
  EXPECT_TRUE(SystemFirstRunChecks().IsAviSynthInstalled());
}

}  // namespace
}  // namespace kestrom::shell
