#include "StartUpFixture.h"
#include "analysis/drawing/DrawingControls.h"
#include "analysis/window/Palettes.h"
#include "platform/media/MediaPlayer.h"
#include "tools/ClipWriter.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QToolButton>

namespace kestrom::window {
namespace {

class DrawingWindow : public test::StartUpFixture {
 protected:
  // A 320x240 clip of 25 frames at 25 fps, open in Main with its picture at (20, 60).
  void OpenClip() {
    tools::ClipSpec clipSpec;
    clipSpec.path = dir.filePath("jump.avi");
    clipSpec.size = {320, 240};
    clipSpec.frames = 25;
    QString error;
    ASSERT_TRUE(tools::WriteClip(clipSpec, &error)) << error.toStdString();
    TKestromForm* w = Main();
    w->resize(800, 600);
    w->show();  // the window canvas takes its size here
    ASSERT_FALSE(w->WindowCanvas.Image().isNull());
    w->MediaPlayer1->SetFileName(clipSpec.path);
    ASSERT_TRUE(w->MediaPlayer1->Open());
    w->MediaPlayer1->SetDisplayRect(QRect(20, 60, 320, 240));
    w->FrameWidth = 320;
    w->FrameHeight = 240;
    w->ZoomStep = 10;
    w->LengthMs = w->MediaPlayer1->LengthMs();
    w->LengthFrames = 25;
    w->FrameDuration = 40.0;
    w->VideoOpen = true;
    w->MediaPlayer1->SetPosition(480);
  }
  QToolButton* Button(QWidget* in, const char* name) { return in->findChild<QToolButton*>(name); }
  void Mouse(QEvent::Type type, QPoint p) {
    QMouseEvent e(type, QPointF(p), Main()->mapToGlobal(QPointF(p)), Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(Main(), &e);
  }
  void Drag(QPoint from, QPoint to) {
    Mouse(QEvent::MouseButtonPress, from);
    Mouse(QEvent::MouseMove, (from + to) / 2);
    Mouse(QEvent::MouseMove, to);
    Mouse(QEvent::MouseButtonRelease, to);
  }
  QImage Shown() {
    Main()->Drawing->Tools();  // the controls exist
    Main()->MediaPlayer1->Refresh();
    Main()->RedrawDrawings();
    return Main()->WindowCanvas.Image().copy(QRect(20, 60, 320, 240));
  }

  QTemporaryDir dir;
};

TEST_F(DrawingWindow, ToolsStandOnTheTabsAndThePalettes) {
  for (TKestromForm* w : {Main(), Best()}) {
    EXPECT_TRUE(w->hasMouseTracking());
    EXPECT_EQ(Button(w->Markers, "Std8")->text(), "8");
    EXPECT_EQ(Button(w->MarkerForm, "Std8")->toolTip(), "Marker 8 : Press Control to Reset this Marker");
    EXPECT_NE(Button(w->Shapes, "FreehandButton"), nullptr);
    EXPECT_NE(Button(w->ShapesControlForm, "EllipseButton"), nullptr);
    EXPECT_NE(Button(w->Angles, "GeneralAngleSpeedButton"), nullptr);
    EXPECT_NE(Button(w->AnglesControlForm, "AnglesPointer"), nullptr);
    EXPECT_EQ(Button(w->Shapes, "GridButton"), w->GridButton);  // the window's own grid button
  }
  // Without a video the tools stay off.
  Button(Main()->Shapes, "LineButton")->click();
  EXPECT_EQ(Main()->Drawing->Tools().ActiveMode(), drawing::kModeNone);
}

TEST_F(DrawingWindow, DrawingsSavedBesideTheClipComeBackOnRequest) {
  OpenClip();
  TKestromForm* w = Main();
  Button(w->Shapes, "RectangleButton")->click();
  Drag({60, 100}, {160, 180});
  Button(w->ShapesControlForm, "FreehandButton")->click();
  Drag({200, 100}, {260, 150});
  Button(w->Angles, "VerticalAngleSpeedButton")->click();
  Drag({100, 120}, {150, 220});
  Button(w->Markers, "Std2")->click();
  EXPECT_EQ(Button(w->MarkerForm, "Std2")->text(), "12");
  ASSERT_EQ(w->Drawings.Shapes().size(), 1u);
  ASSERT_EQ(w->Drawings.FreehandPoints().size(), 3u);
  ASSERT_EQ(w->Drawings.Angles().size(), 1u);
  EXPECT_EQ(w->StatusBar1->PanelText(5), " 26.57");
  const annotation::DrawingStore drawn = w->Drawings;
  const QImage picture = Shown();

  Button(w->Shapes, "SaveShapesSpeedButton")->click();
  Button(w->Angles, "SaveAnglesSpeedButton")->click();
  Button(w->Markers, "SaveMarkerSpeedButton")->click();
  EXPECT_TRUE(dialogs.dialogs.MessageTexts().isEmpty()) << dialogs.dialogs.MessageTexts().join("\n").toStdString();

  // Opened again: only the markers come back at once.
  w->Drawings.ResetForNewVideo();
  w->Drawings.LoadMarkers(annotation::CompanionFileNames::ForVideo(w->MediaPlayer1->FileName()).MarkersFile, 40.0);
  w->Drawing->ShowMarkerCaptions();
  EXPECT_EQ(Button(w->Markers, "Std2")->text(), "12");
  EXPECT_TRUE(w->Drawings.Shapes().empty());
  EXPECT_NE(Shown(), picture);

  Button(w->Shapes, "LoadShapesSpeedButton")->click();
  Button(w->Angles, "LoadAnglesSpeedButton")->click();
  EXPECT_EQ(w->Drawings.Shapes(), drawn.Shapes());
  EXPECT_EQ(w->Drawings.FreehandPoints(), drawn.FreehandPoints());
  ASSERT_EQ(w->Drawings.Angles().size(), 1u);
  EXPECT_NEAR(w->Drawings.Angles()[0].result.interior, 26.57, 0.005);
  EXPECT_EQ(Shown(), picture);
}

}  // namespace
}  // namespace kestrom::window
