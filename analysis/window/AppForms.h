#pragma once
// The program's forms, created once at start-up in a fixed order and alive until exit. Forms
// reach each other through these pointers, as the windows and their companion forms do.

#include "platform/ui/Dialogs.h"

namespace kestrom::shell {
class TDiagForm806;
class TRegistrationAviForm;
class TRegistrationCodecForm;
class TKestrom903InstallForm;
}  // namespace kestrom::shell

namespace kestrom::annotation {
class TAnglesTableForm;
}  // namespace kestrom::annotation

namespace kestrom::sheets {
class TComparisonSheet;
class TEmailForm;
}  // namespace kestrom::sheets

namespace kestrom::window {

using annotation::TAnglesTableForm;
using sheets::TComparisonSheet;
using sheets::TEmailForm;
class TKestromForm;
class TSplashForm;
class TCloseFilesForm;
class TCutForm;
class TFlipForm;
class TBackgroundForm;
class TInformationForm;
class TBackgroundHint;
class TOverlayInformationForm;
class TCapture1;

struct AppForms {
  TSplashForm* SplashForm = nullptr;
  TKestromForm* MainWindow = nullptr;
  TKestromForm* BestWindow = nullptr;
  shell::TDiagForm806* DiagForm806 = nullptr;
  TCloseFilesForm* CloseFilesForm1 = nullptr;
  TCloseFilesForm* CloseFilesForm2 = nullptr;
  TAnglesTableForm* AnglesTableForm1 = nullptr;
  TAnglesTableForm* AnglesTableForm2 = nullptr;
  TCutForm* CutForm1 = nullptr;
  TCutForm* CutForm2 = nullptr;
  TFlipForm* FlipForm = nullptr;
  TBackgroundForm* BackgroundForm1 = nullptr;
  TBackgroundForm* BackgroundForm2 = nullptr;
  shell::TRegistrationAviForm* RegistrationAviForm = nullptr;
  shell::TRegistrationCodecForm* RegistrationCodecForm = nullptr;
  TComparisonSheet *V_Capture_18_L = nullptr, *V_Capture_4 = nullptr, *V_Capture_4_L = nullptr,
                   *V_Capture_6 = nullptr, *V_Capture_6_L = nullptr, *V_Capture_9 = nullptr,
                   *V_Capture_12 = nullptr, *V_Capture_12_L = nullptr, *H_Capture_12 = nullptr,
                   *H_Capture_4 = nullptr, *H_Capture_6 = nullptr, *H_Capture_9 = nullptr;
  TInformationForm* InformationForm = nullptr;
  TBackgroundHint* BackgroundHint = nullptr;
  shell::TKestrom903InstallForm* Kestrom903InstallForm = nullptr;
  TOverlayInformationForm* OverlayInformationForm = nullptr;
  TCapture1* Capture1 = nullptr;
  TEmailForm* EmailForm = nullptr;
  /** @brief Program-wide: 1 MainWindow, 2 BestWindow. */
  int ActiveWindowNumber = 1;
  /** @brief The window that asked for calibration last: 1 MainWindow, 2 BestWindow. */
  int CalibrationWindowNumber = 0;
  /** @brief The text font both windows share. */
  ui::FontChoice SharedTextFont;
};

/** @brief The program's forms. */
AppForms& Forms();

/** @brief The analysis window of an owner index (1 MainWindow, 2 BestWindow), else nothing. */
TKestromForm* WindowOfOwner(int ownerIndex);

/**
 * @brief Creates every form in the start-up order; each creation handler runs as its form is
 * made, so the pair wiring runs last but one, after every window, palette, dialog and sheet.
 */
void CreateForms();

/** @brief Frees every form (at exit, and between tests). */
void DestroyForms();

}  // namespace kestrom::window
