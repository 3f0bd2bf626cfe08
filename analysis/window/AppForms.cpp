#include "analysis/window/AppForms.h"

#include "analysis/annotation/AnglesTableForm.h"
#include "common/startup/DiagForm806.h"
#include "analysis/shell/RegistrationForms.h"
#include "analysis/window/CompanionForms.h"
#include "analysis/window/HintForms.h"
#include "analysis/window/KestromForm.h"
#include "analysis/window/Sheets.h"

#include <QWidget>
#include <vector>

namespace kestrom::window {

AppForms& Forms() {
  static AppForms forms;
  return forms;
}

TKestromForm* WindowOfOwner(int ownerIndex) {
  if (ownerIndex == 1) return Forms().MainWindow;
  if (ownerIndex == 2) return Forms().BestWindow;
  return nullptr;
}

void CreateForms() {
  AppForms& f = Forms();
  f.MainWindow = new TKestromForm("MainWindow");
  f.BestWindow = new TKestromForm("BestWindow");
  f.DiagForm806 = new shell::TDiagForm806();
  f.CloseFilesForm1 = new TCloseFilesForm("CloseFilesForm1");
  f.CloseFilesForm2 = new TCloseFilesForm("CloseFilesForm2");
  f.AnglesTableForm1 = new TAnglesTableForm();
  f.AnglesTableForm1->setObjectName("AnglesTableForm1");
  f.AnglesTableForm2 = new TAnglesTableForm();
  f.AnglesTableForm2->setObjectName("AnglesTableForm2");
  f.CutForm1 = new TCutForm("CutForm1");
  f.CutForm2 = new TCutForm("CutForm2");
  f.FlipForm = new TFlipForm();
  f.BackgroundForm1 = new TBackgroundForm("BackgroundForm1");
  f.BackgroundForm2 = new TBackgroundForm("BackgroundForm2");
  f.RegistrationAviForm = new shell::TRegistrationAviForm();
  f.RegistrationCodecForm = new shell::TRegistrationCodecForm();
  f.V_Capture_18_L = new TV_Capture_18_L();
  f.V_Capture_4 = new TV_Capture_4();
  f.V_Capture_4_L = new TV_Capture_4_L();
  f.V_Capture_6 = new TV_Capture_6();
  f.V_Capture_6_L = new TV_Capture_6_L();
  f.V_Capture_9 = new TV_Capture_9();
  f.V_Capture_12 = new TV_Capture_12();
  f.V_Capture_12_L = new TV_Capture_12_L();
  f.H_Capture_12 = new TH_Capture_12();
  f.H_Capture_4 = new TH_Capture_4();
  f.H_Capture_6 = new TH_Capture_6();
  f.H_Capture_9 = new TH_Capture_9();
  f.InformationForm = new TInformationForm();
  f.BackgroundHint = new TBackgroundHint();
  f.Kestrom903InstallForm = new shell::TKestrom903InstallForm();
  f.OverlayInformationForm = new TOverlayInformationForm();
  f.Capture1 = new TCapture1();
  f.EmailForm = new TEmailForm();
}

void DestroyForms() {
  AppForms& f = Forms();
  // Later forms may refer to earlier ones, so they go first.
  std::vector<QWidget*> forms = {
      f.MainWindow, f.BestWindow, f.DiagForm806, f.CloseFilesForm1, f.CloseFilesForm2, f.AnglesTableForm1,
      f.AnglesTableForm2, f.CutForm1, f.CutForm2, f.FlipForm, f.BackgroundForm1, f.BackgroundForm2,
      f.RegistrationAviForm, f.RegistrationCodecForm, f.V_Capture_18_L, f.V_Capture_4, f.V_Capture_4_L,
      f.V_Capture_6, f.V_Capture_6_L, f.V_Capture_9, f.V_Capture_12, f.V_Capture_12_L, f.H_Capture_12,
      f.H_Capture_4, f.H_Capture_6, f.H_Capture_9, f.InformationForm, f.BackgroundHint, f.Kestrom903InstallForm,
      f.OverlayInformationForm, f.Capture1, f.EmailForm, f.SplashForm};
  for (auto it = forms.rbegin(); it != forms.rend(); ++it) delete *it;
  f = AppForms();
}

}  // namespace kestrom::window
