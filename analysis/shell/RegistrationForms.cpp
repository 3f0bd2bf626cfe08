#include "analysis/shell/RegistrationForms.h"

#include "common/startup/FirstRunChecks.h"
#include "platform/ui/FormSupport.h"
#include "common/startup/GlobalPaths.h"
#include "platform/ui/ModalForms.h"
#include "platform/core/Paths.h"
#include "platform/registry/Registry.h"
#include "platform/ui/Dialogs.h"
#include "platform/ui/Terminate.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace kestrom::shell {

namespace {
void AddIntroduction(QWidget* form) {
  ui::AddLabel(form, "Label1", "The Kestrom System needs to register some software utilities ", 8, 8);
  ui::AddLabel(form, "Label2", "onto your personal computer. Once this has been done you should not see", 8, 24);
  ui::AddLabel(form, "Label3", "this window again and Kestrom should then open in its Main Window", 8, 40);
}
}  // namespace

// ---- frame server -------------------------------------------------------------------------------

TRegistrationAviForm::TRegistrationAviForm(QWidget* parent) : QDialog(parent) {
  setObjectName("RegistrationAviForm");
  setWindowTitle("Video File Registration");
  ui::SetFixedDialogBorder(this);
  setFixedSize(386, 153);
  AddIntroduction(this);
  ui::AddLabel(this, "Label4", "This section will register a video software utility called 'AVISYNTH 2.5.5'", 8, 64);
  ui::AddLabel(this, "Label5", "Please use the default settings for AviSynth", 8, 80);
  ui::AddLabel(this, "Label6",
           "i.e. click \"I Agree\" then click \"Next >\" then click \"Install\" then click \"Finish\"", 8, 96);
  BitBtn1 = ui::AddButton(this, "BitBtn1", "OK", 156, 120, 75, 25);
  BitBtn1->setDefault(true);
  connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
  AviSynthPath = core::JoinPath(Globals().AppFolder, core::ProgramName("\\AviSynth\\AviSynth_255.exe"));
  ui::PlaceForm(this, 260, 120);
}

bool TRegistrationAviForm::IsAviSynthInstalled() { return AppFirstRunChecks().IsAviSynthInstalled(); }

bool TRegistrationAviForm::CheckAviSynth() {
  ++CallCount;
  if (CallCount > 1) return true;
  if (!IsAviSynthInstalled()) ui::ShowModal(*this);
  return IsAviSynthInstalled();
}

void TRegistrationAviForm::BitBtn1Click() {
  BitBtn1->setEnabled(false);
  // An installer that cannot be started leaves the form open with "OK" disabled; the coach closes it.
  AviSynthPath = core::JoinPath(Globals().AppFolder, core::ProgramName("\\AviSynth\\AviSynth_255.exe"));
  if (!AppFirstRunChecks().RunInstaller(AviSynthPath, Globals().AppFolder)) return;
  close();
}

void TRegistrationAviForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  BitBtn1->setFocus();
}

// ---- codec --------------------------------------------------------------------------------------

TRegistrationCodecForm::TRegistrationCodecForm(QWidget* parent) : QDialog(parent) {
  setObjectName("RegistrationCodecForm");
  setWindowTitle("Codec File Registration");
  ui::SetFixedDialogBorder(this);
  setFixedSize(452, 234);
  AddIntroduction(this);
  ui::AddLabel(this, "Label4", "This section has found that some video codecs ", 8, 64);
  ui::AddLabel(this, "Label5", "need to be installed on your personal computer", 8, 80);
  ui::AddLabel(this, "Label6", "When asked to upgrade newer or all components choose the option", 8, 104);
  ui::AddLabel(this, "Label7", "'Upgrade newer components only'", 8, 120);
  BitBtn1 = ui::AddButton(this, "BitBtn1", "OK", 188, 144, 75, 25);
  BitBtn1->setDefault(true);
  connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });

  Panel2 = new QFrame(this);
  Panel2->setObjectName("Panel2");
  Panel2->setFrameShape(QFrame::Panel);
  Panel2->setGeometry(8, 176, 436, 50);
  AviSynthReturnlabel = ui::AddLabel(Panel2, "AviSynthReturnlabel", QString(), 8, 4, 340, 40);
  AviSynthReturnlabel->setWordWrap(true);
  BitBtn2 = ui::AddButton(Panel2, "BitBtn2", "&Yes", 354, 12, 75, 25);
  BitBtn2->hide();
  connect(BitBtn2, &QPushButton::clicked, this, [this] { done(ui::mrYes); });
  Panel2->hide();

  CodecPath = core::JoinPath(Globals().AppFolder, core::ProgramName("\\Codecs\\wmpcdcs8.exe"));
  ui::PlaceForm(this, 260, 120);
}

bool TRegistrationCodecForm::IsCodecInstalled() { return AppFirstRunChecks().IsCodecInstalled(); }

bool TRegistrationCodecForm::CheckCodecs() {
  ++CallCount;
  if (CallCount > 1) return true;
  if (IsCodecInstalled()) return true;
  ui::ShowModal(*this);
  return IsCodecInstalled();
}

void TRegistrationCodecForm::BitBtn1Click() {
  BitBtn1->setEnabled(false);
  CodecPath = core::JoinPath(Globals().AppFolder, core::ProgramName("\\Codecs\\wmpcdcs8.exe"));
  AppFirstRunChecks().RunInstaller(CodecPath, Globals().AppFolder);
  Panel2->show();
  if (IsCodecInstalled()) {
    BitBtn2->show();
    AviSynthReturnlabel->setText("The required codecs have been installed.                 Continue ?");
  } else {
    BitBtn1->setEnabled(true);
    AviSynthReturnlabel->setText("The required codecs have NOT been installed : Please contact " +
                                 Globals().ProgramTitle + " ");
  }
}

void TRegistrationCodecForm::FormClose() {
  if (IsCodecInstalled()) return;
  const QPoint at = frameGeometry().topLeft();
  ui::AppDialogs().MessageDlgPos(
      "Some of Microsofts's video codecs are not installed.\r\n"
      "Video codecs are files which compress the size of your digital\r\n"
      "videos. You will need to load the codecs before using the application.",
      ui::MsgDlgType::mtInformation, ui::mbOK, at.x() + 64, at.y() + 86, this);
  ui::Terminate();
}

void TRegistrationCodecForm::done(int result) {
  FormClose();
  QDialog::done(result);
}

void TRegistrationCodecForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  BitBtn1->setFocus();
}

// ---- hidden set-up form -------------------------------------------------------------------------

void TOtherInfo::GetDirectXVersion(QString& version) {
  // Opened with the create flag, so a missing key is made empty and reads as "not installed".
  registry::TRegistry reg(registry::HKEY_LOCAL_MACHINE);
  version = reg.OpenKey("\\Software\\Microsoft\\DirectX", true) ? reg.ReadString("Version").value_or(QString())
                                                                  : QString();
}

TKestrom903InstallForm::TKestrom903InstallForm(QWidget* parent) : QDialog(parent) {
  setObjectName("Kestrom903InstallForm");
  setWindowTitle("Kestrom Ruvodo Initial Setup");
  resize(348, 121);
  OtherInfo1 = new TOtherInfo(this);
  OtherInfo1->setObjectName("OtherInfo1");
}

bool TKestrom903InstallForm::InitSystemPaths() {
  if (pathsDone_) return false;
  pathsDone_ = true;
  CodecFile = core::JoinPath(core::GetSystemFolder(), "\\MPG4C32.DLL");
  return true;
}

bool TKestrom903InstallForm::HasMpeg4Codec() { return AppFirstRunChecks().IsCodecInstalled(); }

bool TKestrom903InstallForm::HasDirectX8Or9() { return AppFirstRunChecks().HasDirectX8Or9(); }

void TKestrom903InstallForm::closeEvent(QCloseEvent* event) { event->ignore(); }

}  // namespace kestrom::shell
