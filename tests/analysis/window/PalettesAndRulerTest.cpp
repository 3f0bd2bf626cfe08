// The floating palettes acting on the window of their owner index, the ruler with its
// calibration gate and length display, and the calibration entry points.
#include "WindowClipFixture.h"
#include "analysis/drawing/DrawingControls.h"
#include "common/startup/DiagForm806.h"
#include "analysis/window/Palettes.h"

#include <QAction>
#include <QMenu>
#include <QFileInfo>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <functional>

namespace kestrom::window {
namespace {

using drawing::Tool;

class PalettesAndRuler : public test::WindowClipFixture {
 protected:
  void OpenBoth() {
    Open(Main(), Clip("main.avi", 30));
    Open(Best(), Clip("best.avi", 30));
  }
  static drawing::DrawingTools& Tools(TKestromForm* w) { return w->Drawing->Tools(); }
  static void MakeCalibrationFile(TKestromForm* w) {
    QFile file(w->CompanionFiles.CalibrationFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }
  const ui::MessageRequest* LastMessage() const {
    for (auto it = dialogs.dialogs.Asked().rbegin(); it != dialogs.dialogs.Asked().rend(); ++it)
      if (const auto* m = std::get_if<ui::MessageRequest>(&*it)) return m;
    return nullptr;
  }
};

TEST_F(PalettesAndRuler, PaletteActsOnTheWindowOfItsOwnerIndexOnly) {
  OpenBoth();
  enum Palette { kMarkers, kShapes, kAngles };
  struct Row {
    const char* control;
    Palette palette;
    std::function<void(QWidget* palette, int index)> act;
    std::function<QString(TKestromForm*)> probe;
    std::function<void(TKestromForm*)> prepare = nullptr;
  };
  auto click = [](const char* name) {
    return [name](QWidget* palette, int) { palette->findChild<QToolButton*>(name)->click(); };
  };
  auto mode = [](TKestromForm* w) { return QString::number(Tools(w).ActiveMode()); };
  const Row rows[] = {
      {"Std1", kMarkers, click("Std1"), [](TKestromForm* w) { return QString::number(w->Drawings.Marker(1)); }},
      {"Time", kMarkers, click("Time"),
       [](TKestromForm* w) { return QString::number(w->Drawings.StopwatchState().running); }},
      {"SaveMarkerSpeedButton", kMarkers, click("SaveMarkerSpeedButton"),
       [](TKestromForm* w) { return QString::number(QFileInfo::exists(w->CompanionFiles.MarkersFile)); }},
      {"TextButton", kShapes,
       [](QWidget* p, int) {
         auto* b = p->findChild<QToolButton*>("TextButton");
         b->setChecked(false);
         b->click();  // goes down, and the window's text tool with it
       },
       mode},
      {"LineButton", kShapes, click("LineButton"), mode},
      {"ShapesSpinEdit", kShapes,
       [](QWidget* p, int index) { p->findChild<QSpinBox*>("ShapesSpinEdit")->setValue(5 + index); },
       [](TKestromForm* w) { return QString::number(Tools(w).Settings.penWidth); }},
      {"ClearBrush", kShapes,
       [](QWidget* p, int) {
         auto* b = p->findChild<QToolButton*>("ClearBrush");
         b->setChecked(true);
         b->click();
       },
       [](TKestromForm* w) { return QString::number(Tools(w).Settings.clearBrush); }},
      {"ClearAllSpeedButton", kShapes, click("ClearAllSpeedButton"),
       [](TKestromForm* w) { return QString::number(w->Drawings.Shapes().size()); },
       [](TKestromForm* w) { w->Drawings.AddShape({annotation::ShapeKind::Line, 1, 2, 30, 40}); }},
      {"GeneralAngleSpeedButton", kAngles, click("GeneralAngleSpeedButton"), mode},
      {"AnglesSpinEdit", kAngles,
       [](QWidget* p, int index) { p->findChild<QSpinBox*>("AnglesSpinEdit")->setValue(5 + index); },
       [](TKestromForm* w) { return QString::number(Tools(w).Settings.angleWidth); }},
      {"UndoAnglesSpeedButton", kAngles, click("UndoAnglesSpeedButton"),
       [](TKestromForm* w) { return QString::number(w->Drawings.Angles().size()); },
       [](TKestromForm* w) { w->Drawings.AddAngle(2, 10, 10, 50, 50, 90, 10, core::clRed); }},
  };
  for (const Row& row : rows) {
    for (int index : {1, 2, 3}) {
      SCOPED_TRACE(std::string(row.control) + " with owner index " + std::to_string(index));
      // Main's own palettes, given another index: the index decides, not the window that made them.
      QWidget* palettes[] = {Main()->MarkerForm, Main()->ShapesControlForm, Main()->AnglesControlForm};
      for (QWidget* p : palettes) static_cast<TPalette*>(p)->OwnerIndex = index;
      (index == 2 ? Main() : Best())->raise();  // the other window on top
      if (row.prepare) {
        row.prepare(Main());
        row.prepare(Best());
      }
      const QString mainBefore = row.probe(Main()), bestBefore = row.probe(Best());
      row.act(palettes[row.palette], index);
      EXPECT_EQ(row.probe(Main()) != mainBefore, index == 1);
      EXPECT_EQ(row.probe(Best()) != bestBefore, index == 2);
    }
  }
  EXPECT_TRUE(dialogs.dialogs.Errors().isEmpty()) << dialogs.dialogs.Errors().join("\n").toStdString();
}

TEST_F(PalettesAndRuler, PaletteLineButtonOnlySwitchesOnAndClearAllLeavesTheToolArmed) {
  Open(Main(), Clip("main.avi", 30));
  TKestromForm* w = Main();
  QToolButton* paletteLine = Button(w->ShapesControlForm, "LineButton");
  QToolButton* windowLine = Button(w->Shapes, "LineButton");
  paletteLine->click();
  paletteLine->click();  // already on: stays on
  EXPECT_TRUE(paletteLine->isChecked());
  EXPECT_TRUE(windowLine->isChecked());
  EXPECT_EQ(Tools(w).ActiveMode(), drawing::kModeShapes);
  EXPECT_EQ(w->StatusBar1->PanelText(1), "Line Drawing ON");

  // From the palette: the drawings go, the line tool and the playback stay.
  w->Drawings.AddShape({annotation::ShapeKind::Rectangle, 1, 2, 30, 40});
  w->Drawings.AddFreehandPoint({1, 2, 5, 5, core::clRed});
  w->Drawings.ClearModifiedFlags();
  w->PlayBitBtn->click();
  ASSERT_TRUE(w->Timer1->isActive());
  Button(w->ShapesControlForm, "ClearAllSpeedButton")->click();
  EXPECT_TRUE(w->Drawings.Shapes().empty());
  EXPECT_TRUE(w->Drawings.FreehandPoints().empty());
  EXPECT_TRUE(w->Drawings.Modified().shapes);
  EXPECT_EQ(Tools(w).ActiveMode(), drawing::kModeShapes);
  EXPECT_TRUE(windowLine->isChecked());
  EXPECT_TRUE(w->Timer1->isActive());

  // From the window: the tool is released and playback stops.
  Button(w->Shapes, "ClearAllSpeedButton")->click();
  EXPECT_EQ(Tools(w).ActiveMode(), drawing::kModeNone);
  EXPECT_FALSE(windowLine->isChecked());
  EXPECT_FALSE(paletteLine->isChecked());
  EXPECT_FALSE(w->Timer1->isActive());
}

TEST_F(PalettesAndRuler, PaletteGridButtonOpensThePalettesMenuBesideThePalette) {
  Open(Main(), Clip("main.avi", 30));
  TKestromForm* w = Main();
  TShapesControlForm* palette = w->ShapesControlForm;
  palette->move(300, 200);
  palette->show();
  auto* menu = palette->findChild<QMenu*>("GridPopupMenu");
  ASSERT_NE(menu, nullptr);
  ASSERT_NE(menu, w->GridPopupMenu);
  palette->findChild<QAction*>("CalibratedGrid1")->setChecked(true);
  w->PlayBitBtn->click();
  Button(palette, "GridButton")->click();
  EXPECT_FALSE(w->Timer1->isActive());
  EXPECT_TRUE(w->GridButton->isChecked());
  EXPECT_TRUE(Button(palette, "GridButton")->isChecked());
  EXPECT_FALSE(palette->findChild<QAction*>("CalibratedGrid1")->isChecked());
  EXPECT_TRUE(palette->findChild<QAction*>("FreeHandGrid1")->isChecked());
  EXPECT_TRUE(w->FreeHandGrid1->isChecked());
  ASSERT_TRUE(menu->isVisible());
  EXPECT_EQ(menu->pos(), palette->frameGeometry().topLeft() + QPoint(115, 80));
  EXPECT_FALSE(w->GridPopupMenu->isVisible());
  palette->findChild<QAction*>("FreeHandGrid1")->trigger();
  EXPECT_EQ(Tools(w).ActiveMode(), drawing::kModeFreehandGrid);
  menu->hide();
}

TEST_F(PalettesAndRuler, RulerNeedsTheVideosCalibrationFile) {
  TKestromForm* w = Main();
  EXPECT_FALSE(w->FileControls->isTabVisible(w->FileControls->indexOf(w->Digitisation)));
  EXPECT_EQ(w->LineButton2->toolTip(), "Line Drawing");
  w->LineButton2->click();  // no video
  EXPECT_FALSE(w->LineButton2->isChecked());

  Open(w, Clip("main.avi", 30));
  EXPECT_TRUE(w->CompanionFiles.CalibrationFile.endsWith("main.cal"));
  QToolButton* paletteLine = Button(w->ShapesControlForm, "LineButton");
  paletteLine->setChecked(true);
  dialogs.dialogs.Push(ui::mrOk);
  w->LineButton2->click();
  const ui::MessageRequest* message = LastMessage();
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(message->text, "This video needs to be calibrated before\r\nthe ruler function can be used");
  EXPECT_EQ(message->type, ui::MsgDlgType::mtWarning);
  EXPECT_EQ(message->buttons, ui::mbOK);
  EXPECT_EQ(message->position, w->Bounds().topLeft() + QPoint(64, 86));
  EXPECT_FALSE(w->LineButton2->isChecked());
  EXPECT_FALSE(paletteLine->isChecked());
  EXPECT_EQ(Tools(w).ActiveMode(), drawing::kModeNone);
  EXPECT_EQ(w->StatusBar1->PanelText(1), "");

  MakeCalibrationFile(w);
  w->LineButton2->click();
  EXPECT_TRUE(w->LineButton2->isChecked());
  EXPECT_EQ(Tools(w).ActiveMode(), drawing::kModeShapes);
  EXPECT_EQ(Tools(w).ShapeKindOfTool(), annotation::ShapeKind::Line);
  EXPECT_EQ(w->StatusBar1->PanelText(1), "Line Drawing ON");
  w->LineButton2->click();
  EXPECT_EQ(Tools(w).ActiveMode(), drawing::kModeNone);
  EXPECT_EQ(w->StatusBar1->PanelText(1), "");

  // Any click of the line tool releases the ruler.
  w->LineButton2->click();
  Button(w->Shapes, "LineButton")->click();
  EXPECT_FALSE(w->LineButton2->isChecked());
  EXPECT_EQ(Tools(w).ActiveMode(), drawing::kModeShapes);
}

TEST_F(PalettesAndRuler, RulerShowsTheCalibratedLengthOnlyWithBothScaleFactors) {
  TKestromForm* w = Main();
  Open(w, Clip("main.avi", 30));
  ASSERT_EQ(w->ZoomStep, 10);
  EXPECT_EQ(Tools(w).Settings.scaleX, -1.0);
  EXPECT_EQ(Tools(w).Settings.scaleY, -1.0);
  MakeCalibrationFile(w);
  w->LineButton2->click();
  auto drawLine = [&](QPoint videoFrom, QPoint videoTo) {
    const QPoint origin(w->PicLeft, w->PicTop);
    Mouse(w, QEvent::MouseButtonPress, origin + videoFrom);
    Mouse(w, QEvent::MouseMove, origin + (videoFrom + videoTo) / 2);
    Mouse(w, QEvent::MouseMove, origin + videoTo);
    Mouse(w, QEvent::MouseButtonRelease, origin + videoTo);
  };
  Tools(w).Settings.scaleX = 0.5;
  Tools(w).Settings.scaleY = 0.25;
  drawLine({10, 10}, {50, 90});  // 40 x 0.5 and 80 x 0.25: 20 and 20
  EXPECT_EQ(w->StatusBar1->PanelText(5), " 28.28   ");

  // One factor at the threshold is not a calibration.
  w->StatusBar1->SetPanelText(5, "");
  Tools(w).Settings.scaleY = 0.00001;
  drawLine({20, 10}, {60, 90});
  EXPECT_EQ(w->StatusBar1->PanelText(5), "");
  EXPECT_EQ(w->Drawings.Shapes().size(), 2u);

  // A newly opened video is not calibrated: the ruler draws and measures nothing.
  Tools(w).Settings.scaleX = Tools(w).Settings.scaleY = 2.0;
  // The unsaved lines are asked about first; the coach lets them go.
  onModal = [](QDialog& form) { form.findChild<QPushButton*>("ShapesNo")->click(); };
  Open(w, Clip("other.avi", 30));
  EXPECT_EQ(Tools(w).Settings.scaleX, -1.0);
  EXPECT_EQ(Tools(w).Settings.scaleY, -1.0);
  MakeCalibrationFile(w);
  w->LineButton2->setChecked(false);
  w->LineButton2->click();
  ASSERT_EQ(Tools(w).ActiveMode(), drawing::kModeShapes);
  drawLine({30, 10}, {70, 90});
  EXPECT_EQ(w->StatusBar1->PanelText(5), "");
  EXPECT_EQ(w->Drawings.Shapes().size(), 1u);
}

TEST_F(PalettesAndRuler, DistancePromptAndCalibrationEntryPoints) {
  TKestromForm* w = Main();
  dialogs.dialogs.Push(QString("12.5"));
  dialogs.dialogs.Push(ui::mrOk);
  w->Button7->click();
  const auto* asked = std::get_if<ui::InputRequest>(&dialogs.dialogs.Asked().front());
  ASSERT_NE(asked, nullptr);
  EXPECT_EQ(asked->caption, "Distance");
  EXPECT_EQ(asked->prompt, "Please Enter Distance");
  EXPECT_EQ(asked->defaultValue, "");
  EXPECT_EQ(dialogs.dialogs.MessageTexts(), QStringList{"You Entered 12.5"});
  dialogs.dialogs.Push(QString());  // an empty answer is not repeated
  w->Button7->click();
  dialogs.dialogs.Push(std::monostate{});  // nor is a cancelled box
  w->Button7->click();
  EXPECT_EQ(dialogs.dialogs.MessageTexts().size(), 1);

  Best()->LoadCalibrationButton->click();
  EXPECT_EQ(Forms().CalibrationWindowNumber, 2);
  Main()->LoadCalibrationButton->click();
  EXPECT_EQ(Forms().CalibrationWindowNumber, 1);

  // The calibrated grid has no mode: the palette's item changes nothing.
  Open(w, Clip("main.avi", 30));
  Button(w->Shapes, "EllipseButton")->click();
  w->ShapesControlForm->findChild<QAction*>("CalibratedGrid1")->trigger();
  EXPECT_EQ(Tools(w).ActiveMode(), drawing::kModeShapes);
  EXPECT_EQ(Tools(w).ShapeKindOfTool(), annotation::ShapeKind::Ellipse);

  w->Button1->click();
  EXPECT_TRUE(Forms().DiagForm806->isVisible());
}

}  // namespace
}  // namespace kestrom::window
