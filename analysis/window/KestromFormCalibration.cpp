// The calibration and digitisation controls of the analysis window. Only the ruler's gate, its
// length display (in the line tool), the distance prompt and the calibration entry points act;
// the trace, event-marker, template and calibration-direction controls exist and do nothing yet.
// Both tabs are hidden when the window is created.
#include "analysis/drawing/DrawingControls.h"
#include "analysis/window/AppForms.h"
#include "analysis/window/KestromForm.h"
#include "analysis/window/Palettes.h"

#include <QAction>
#include <QFileInfo>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>

namespace kestrom::window {

void TKestromForm::CreateCalibrationControls() {
  // Digitisation tab, after the three trace buttons.
  StepTraceSpeedButton = AddSpeedButton(Digitisation, "StepTraceSpeedButton", "Step", "Step Trace", 148, 2, true, 44);
  LineButton2 = AddSpeedButton(Digitisation, "LineButton2", "Ruler", "Line Drawing", 196, 2, true, 44);
  SpeedButton9 = AddSpeedButton(Digitisation, "SpeedButton9", "Undo", "Undo Last Ruler Drawing", 244, 2, false, 44);
  SpeedButton10 =
      AddSpeedButton(Digitisation, "SpeedButton10", "Clear", "Clear All Ruler Drawings", 292, 2, false, 44);
  DigitizationMenuButton =
      AddSpeedButton(Digitisation, "DigitizationMenuButton", "Digitise", "Digitisation Menu", 340, 2, false, 60);
  AnalysisSpeedButton = AddSpeedButton(Digitisation, "AnalysisSpeedButton", "Analysis", "Analysis", 404, 2, true, 60);
  TraceDisplayButton =
      AddSpeedButton(Digitisation, "TraceDisplayButton", "Display", "Trace Display", 468, 2, false, 60);
  Button3 = new QPushButton("Data", Digitisation);
  Button3->setObjectName("Button3");
  Button3->setGeometry(532, 2, 60, 26);

  DigitisationMenu = new QMenu(this);
  DigitisationMenu->setObjectName("DigitisationMenu");
  auto item = [this](QMenu* menu, QAction*& action, const QString& name, const QString& caption,
                     void (TKestromForm::*handler)()) {
    action = menu->addAction(caption);
    action->setObjectName(name);
    connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
  };
  item(DigitisationMenu, NewSequenceTrace1, "NewSequenceTrace1", "New Sequence Trace",
       &TKestromForm::NewSequenceTrace1Click);
  item(DigitisationMenu, LoadTrace1, "LoadTrace1", "Load Trace", &TKestromForm::LoadTrace1Click);
  item(DigitisationMenu, LoadTrace2, "LoadTrace2", "Load Second Trace", &TKestromForm::LoadTrace2Click);
  item(DigitisationMenu, Loadanexistingtrace1, "Loadanexistingtrace1", "Load an existing trace",
       &TKestromForm::Loadanexistingtrace1Click);
  item(DigitisationMenu, LoadMultiTrace, "LoadMultiTrace", "Load Multi Trace", &TKestromForm::LoadMultiTraceClick);
  item(DigitisationMenu, EditCurrentFrameDisplay1, "EditCurrentFrameDisplay1", "Edit Current Frame Display",
       &TKestromForm::EditCurrentFrameDisplay1Click);
  item(DigitisationMenu, CreateFrameTemplates1, "CreateFrameTemplates1", "Create Frame Templates",
       &TKestromForm::CreateFrameTemplates1Click);
  item(DigitisationMenu, NewEventMarkers, "NewEventMarkers", "New Event Markers", &TKestromForm::NewEventMarkersClick);
  item(DigitisationMenu, LoadEventMarkersMenu, "LoadEventMarkersMenu", "Load Event Markers",
       &TKestromForm::LoadEventMarkersMenuClick);
  item(DigitisationMenu, SaveEventMarkersMenu, "SaveEventMarkersMenu", "Save Event Markers",
       &TKestromForm::SaveEventMarkersMenuClick);
  item(DigitisationMenu, SaveEventMarkers1, "SaveEventMarkers1", "Save Event Markers",
       &TKestromForm::SaveEventMarkers1Click);
  item(DigitisationMenu, LoadEventMarkers1, "LoadEventMarkers1", "Load Event Markers",
       &TKestromForm::LoadEventMarkers1Click);

  TraceDisplayMenu = new QMenu(this);
  TraceDisplayMenu->setObjectName("TraceDisplayMenu");
  item(TraceDisplayMenu, Tota1, "Tota1", "Total", &TKestromForm::Tota1Click);
  item(TraceDisplayMenu, Progressive1, "Progressive1", "Progressive", &TKestromForm::Progressive1Click);
  item(TraceDisplayMenu, Individual1, "Individual1", "Individual", &TKestromForm::Individual1Click);
  item(TraceDisplayMenu, None1, "None1", "None", &TKestromForm::None1Click);
  item(TraceDisplayMenu, V3001, "V3001", "300", &TKestromForm::V3001Click);
  item(TraceDisplayMenu, V2001, "V2001", "200", &TKestromForm::V2001Click);
  item(TraceDisplayMenu, V1001, "V1001", "100", &TKestromForm::V1001Click);
  item(TraceDisplayMenu, V5001, "V5001", "50", &TKestromForm::V5001Click);
  TraceDisplayButton->setMenu(TraceDisplayMenu);
  TraceDisplayButton->setPopupMode(QToolButton::InstantPopup);

  // Calibration tab.
  Button7 = new QPushButton("InputBox", EquineCalSheet);
  Button7->setObjectName("Button7");
  Button7->setGeometry(4, 2, 72, 26);
  LoadCalibrationButton = new QPushButton("Load Calibration", EquineCalSheet);
  LoadCalibrationButton->setObjectName("LoadCalibration");
  LoadCalibrationButton->setGeometry(80, 2, 110, 26);
  Button11 = new QPushButton("Video File Calibration", EquineCalSheet);
  Button11->setObjectName("Button11");
  Button11->setGeometry(194, 2, 140, 26);
  auto* direction = new QPushButton("Direction", EquineCalSheet);
  direction->setObjectName("CalibrationDirectionButton");
  direction->setGeometry(338, 2, 80, 26);
  CalibrationDirectionMenu = new QMenu(this);
  CalibrationDirectionMenu->setObjectName("CalibrationDirectionMenu");
  item(CalibrationDirectionMenu, HorizontalandVertical1, "HorizontalandVertical1", "Horizontal and Vertical",
       &TKestromForm::HorizontalandVertical1Click);
  item(CalibrationDirectionMenu, Horizontalonly1, "Horizontalonly1", "Horizontal only",
       &TKestromForm::Horizontalonly1Click);
  item(CalibrationDirectionMenu, Verticalonly1, "Verticalonly1", "Vertical only", &TKestromForm::Verticalonly1Click);
  item(CalibrationDirectionMenu, AnyDirection1, "AnyDirection1", "Any Direction", &TKestromForm::AnyDirection1Click);
  item(CalibrationDirectionMenu, Loadanexternalcalibrationfile1, "Loadanexternalcalibrationfile1",
       "Load an external calibration file", &TKestromForm::Loadanexternalcalibrationfile1Click);
  direction->setMenu(CalibrationDirectionMenu);

  ZoomButton->setToolTip("Show Animation Window");

  auto click = [this](QAbstractButton* button, void (TKestromForm::*handler)()) {
    connect(button, &QAbstractButton::clicked, this, [this, handler] { (this->*handler)(); });
  };
  click(LineButton2, &TKestromForm::LineButton2Click);
  // The ruler's undo and clear are those of the drawing tools.
  connect(SpeedButton9, &QToolButton::clicked, this, [this] {
    if (Drawing) Drawing->UndoSpeedButtonClick();
  });
  connect(SpeedButton10, &QToolButton::clicked, this, [this] {
    if (Drawing) Drawing->ClearAllSpeedButtonClick();
  });
  click(StepTraceSpeedButton, &TKestromForm::StepTraceSpeedButtonClick);
  click(DigitizationMenuButton, &TKestromForm::DigitizationMenuButtonClick);
  click(AnalysisSpeedButton, &TKestromForm::AnalysisSpeedButtonClick);
  click(Button3, &TKestromForm::Button3Click);
  click(Button7, &TKestromForm::Button7Click);
  click(LoadCalibrationButton, &TKestromForm::LoadCalibrationClick);
  click(Button11, &TKestromForm::Button11Click);
  click(LineSpeedButton, &TKestromForm::LineSpeedButtonClick);
  click(CurveSpeedButton, &TKestromForm::CurveSpeedButtonClick);
  click(CrossSpeedButton, &TKestromForm::CrossSpeedButtonClick);
  click(SingleFrameButton, &TKestromForm::SingleFrameButtonClick);
  click(ZoomButton, &TKestromForm::ZoomButtonClick);
  // The window's own calibrated-grid item is wired with the drawing controls.
}

void TKestromForm::LineButton2Click() {
  if (!VideoOpen || !Drawing) {
    LineButton2->setChecked(false);
    return;
  }
  drawing::DrawingTools& tools = Drawing->Tools();
  if (!QFileInfo::exists(CompanionFiles.CalibrationFile)) {
    if (Drawing->Sets().size() > 1)
      if (QToolButton* paletteLine = Drawing->Sets()[1].LineButton) paletteLine->setChecked(false);
    tools.SetDrawingMode(drawing::kModeNone);
    StatusBar1->SetPanelText(1, QString());
    const QRect bounds = Bounds();
    MessageDlgPosPaused(
        "This video needs to be calibrated before\r\n"
        "the ruler function can be used",
        ui::MsgDlgType::mtWarning, ui::mbOK, bounds.left() + 64, bounds.top() + 86);
    LineButton2->setChecked(false);
    return;
  }
  // The ruler is the line tool; its length shows once both scale factors are set.
  const QToolButton* line = Drawing->WindowSet().LineButton;
  tools.ToolButton(drawing::Tool::Line, LineButton2->isChecked() || (line && line->isChecked()));
}

void TKestromForm::Button7Click() {
  ui::InputRequest request;
  request.caption = "Distance";
  request.prompt = "Please Enter Distance";
  // A cancelled box answers its empty default.
  const QString answer =
      Playback->RunPaused([&] { return ui::AppDialogs().InputQuery(request, this); }).value_or(QString());
  if (!answer.isEmpty()) MessageDlgPaused("You Entered " + answer, ui::MsgDlgType::mtCustom, ui::mbOK);
}

void TKestromForm::LoadCalibrationClick() {
  Forms().CalibrationWindowNumber = this == Forms().BestWindow ? 2 : 1;
  LoadCalibration();
}

void TKestromForm::LoadCalibration() {}

void TKestromForm::Button11Click() {
  if (VideoOpen) AnyDirection1Click();
}

void TKestromForm::CalibratedGrid1Click() { StartCalibratedGrid(); }

void TKestromForm::StartCalibratedGrid() {}

void TKestromForm::LoadEventMarkers1Click() {
  if (VideoOpen) ReadEventMarkers();
}

void TKestromForm::ResetCalibrationForVideo() {
  if (Drawing) {
    drawing::ToolSettings& settings = Drawing->Tools().Settings;
    settings.scaleX = settings.scaleY = settings.rulerScale = -1.0;
  }
  if (QFileInfo::exists(CompanionFiles.CalibrationFile)) LoadCalibration();
  LoadTrace1->setEnabled(false);
  EditCurrentFrameDisplay1->setEnabled(false);
}

}  // namespace kestrom::window
