#include "analysis/drawing/DrawingControls.h"
#include "platform/core/Colour.h"
#include "platform/ui/Dialogs.h"

#include <QCoreApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QToolButton>
#include <QWidget>
#include <gtest/gtest.h>

namespace kestrom::drawing {
namespace {

// The window as the controls see it: a 320x240 video at zoom 1.0 whose picture stands at (20, 60).
struct FakePort final : DrawingPort {
  ZoomView view{1.0, 20, 60, 320, 240};
  bool open = true;
  MarkerVideo video{true, 2000, 10000, 40.0};
  QString videoFile;
  int refreshes = 0, tablesShown = 0;
  std::vector<std::pair<int64_t, int64_t>> seeks;
  QStringList errors;
  std::function<void()> onRefresh;

  int ShowX(double x) const override { return view.ShowX(x); }
  int ShowY(double y) const override { return view.ShowY(y); }
  double ScreenToVideoX(int x) const override { return view.ScreenToVideoX(x); }
  double ScreenToVideoY(int y) const override { return view.ScreenToVideoY(y); }
  int FrameWidth() const override { return 320; }
  int FrameHeight() const override { return 240; }
  bool VideoOpen() const override { return open; }
  PictureBounds Picture() const override { return {20, 60, 340, 300}; }
  void StopPlayback() override {}
  void SnapshotFrame() override {}
  void RefreshFrame() override {
    ++refreshes;
    if (onRefresh) onRefresh();
  }
  void SetStatusText(int, const QString&) override {}
  void ShowAnglesTable() override { ++tablesShown; }
  void HideAnglesTable() override {}
  MarkerVideo Video() const override { return video; }
  void SeekToMarker(int64_t ms, int64_t frame) override { seeks.emplace_back(ms, frame); }
  annotation::CompanionFileNames FileNames() const override {
    return annotation::CompanionFileNames::ForVideo(videoFile);
  }
  void ShowError(const QString& text) override { errors << text; }
  bool Confirm(const QString& text) override {
    questions << text;
    return answer;
  }
  QStringList questions;
  bool answer = false;
};

struct Window {
  Window() : canvas(400, 320) {
    widget.resize(400, 320);
    for (QWidget** page : {&markers, &shapes, &angles, &paletteMarkers, &paletteShapes, &paletteAngles})
      *page = new QWidget(&widget);
    controls = new DrawingControls(&widget, canvas, store, port);
    controls->AddControlSet(markers, shapes, angles);
    controls->AddControlSet(paletteMarkers, paletteShapes, paletteAngles);
    port.videoFile = dir.filePath("clip.avi");
    port.onRefresh = [this] {
      canvas.Image().fill(Qt::darkGray);
      controls->RedrawOverlays();
    };
  }
  template <typename T = QToolButton>
  T* Find(QWidget* page, const char* name) {
    return page->findChild<T*>(name);
  }
  void Mouse(QEvent::Type type, QPoint p) {
    QMouseEvent e(type, QPointF(p), widget.mapToGlobal(QPointF(p)), Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &e);
  }
  void Drag(QPoint from, QPoint to) {
    Mouse(QEvent::MouseButtonPress, from);
    Mouse(QEvent::MouseMove, (from + to) / 2);
    Mouse(QEvent::MouseMove, to);
    Mouse(QEvent::MouseButtonRelease, to);
  }

  QTemporaryDir dir;
  QWidget widget;
  QWidget *markers, *shapes, *angles, *paletteMarkers, *paletteShapes, *paletteAngles;
  ui::Canvas canvas;
  annotation::DrawingStore store;
  FakePort port;
  DrawingControls* controls;
};

TEST(DrawingControls, MarkerButtonsOfWindowAndPaletteStayInStep) {
  Window w;
  EXPECT_EQ(w.Find(w.markers, "Std3")->text(), "3");
  EXPECT_EQ(w.Find(w.markers, "Std3")->toolTip(), "Marker 3 : Press Control to Reset this Marker");
  w.Find(w.paletteMarkers, "Std3")->click();
  EXPECT_EQ(w.Find(w.markers, "Std3")->text(), "50");
  EXPECT_EQ(w.Find(w.paletteMarkers, "Std3")->text(), "50");
  w.port.video.positionMs = 6000;
  w.Find(w.markers, "Std3")->click();
  ASSERT_EQ(w.port.seeks.size(), 1u);
  EXPECT_EQ(w.port.seeks[0], (std::pair<int64_t, int64_t>{2000, 50}));

  QKeyEvent control(QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier);
  QCoreApplication::sendEvent(w.Find(w.paletteMarkers, "Std3"), &control);
  EXPECT_EQ(w.Find(w.markers, "Std3")->text(), "3");

  w.Find(w.markers, "Time")->click();
  EXPECT_TRUE(w.Find(w.paletteMarkers, "Time")->isChecked());
  w.port.video.positionMs = 8500;
  w.controls->RedrawOverlays();
  EXPECT_EQ(w.Find(w.paletteMarkers, "Time")->text(), "2.50");
}

TEST(DrawingControls, ToolButtonsFormOneGroupAcrossWindowAndPalette) {
  Window w;
  w.Find(w.shapes, "LineButton")->click();
  EXPECT_TRUE(w.Find(w.paletteShapes, "LineButton")->isChecked());
  EXPECT_EQ(w.controls->Tools().ActiveMode(), kModeShapes);
  w.Find(w.paletteShapes, "RectangleButton")->click();
  EXPECT_FALSE(w.Find(w.shapes, "LineButton")->isChecked());
  EXPECT_TRUE(w.Find(w.shapes, "RectangleButton")->isChecked());
  w.Find(w.paletteShapes, "RectangleButton")->click();  // a palette button only switches on
  EXPECT_TRUE(w.Find(w.shapes, "RectangleButton")->isChecked());
  w.Find(w.shapes, "RectangleButton")->click();  // the window's releases
  EXPECT_EQ(w.controls->Tools().ActiveMode(), kModeNone);

  w.Find<QSpinBox>(w.paletteShapes, "ShapesSpinEdit")->setValue(7);
  EXPECT_EQ(w.Find<QSpinBox>(w.shapes, "ShapesSpinEdit")->value(), 7);
  EXPECT_EQ(w.controls->Tools().Settings.penWidth, 7);

  w.Find(w.angles, "VerticalAngleSpeedButton")->click();
  w.Find(w.angles, "VerticalAngleSpeedButton")->click();  // the chosen angle tool stays down
  EXPECT_TRUE(w.Find(w.paletteAngles, "VerticalAngleSpeedButton")->isChecked());
  EXPECT_EQ(w.controls->Tools().ActiveMode(), kModeReferenceAngle);

  // Back on the shapes tab, the ellipse armed there is the tool again.
  w.Find(w.shapes, "EllipseButton")->click();
  w.Find(w.angles, "GeneralAngleSpeedButton")->click();
  EXPECT_EQ(w.controls->Tools().ActiveMode(), kModeAngle);
  w.controls->ResumeArmedTool(/*anglesTab=*/false);
  EXPECT_EQ(w.controls->Tools().ActiveMode(), kModeShapes);
  EXPECT_EQ(w.controls->Tools().ShapeKindOfTool(), annotation::ShapeKind::Ellipse);
}

TEST(DrawingControls, MouseOnTheWindowDrawsAndSavedDrawingsComeBack) {
  Window w;
  EXPECT_TRUE(w.widget.hasMouseTracking());
  w.Find(w.shapes, "EllipseButton")->click();
  w.Drag({60, 100}, {160, 180});
  w.Find(w.angles, "GeneralAngleSpeedButton")->click();
  w.Drag({100, 250}, {150, 200});
  w.Drag({200, 200}, {250, 250});
  ASSERT_EQ(w.store.Shapes().size(), 1u);
  ASSERT_EQ(w.store.Angles().size(), 1u);
  EXPECT_EQ(w.store.Shapes()[0].x1, 40);
  EXPECT_EQ(w.store.Shapes()[0].y1, 40);
  w.port.RefreshFrame();
  const QImage drawn = w.canvas.Image();

  w.Find(w.shapes, "SaveShapesSpeedButton")->click();
  w.Find(w.angles, "SaveAnglesSpeedButton")->click();
  w.Find(w.markers, "Std1")->click();
  w.Find(w.markers, "SaveMarkerSpeedButton")->click();
  EXPECT_TRUE(w.port.errors.isEmpty()) << w.port.errors.join("\n").toStdString();

  // Opened again: only the markers come back by themselves.
  w.store.ResetForNewVideo();
  w.store.LoadMarkers(w.port.FileNames().MarkersFile, 40.0);
  w.controls->ShowMarkerCaptions();
  EXPECT_EQ(w.Find(w.markers, "Std1")->text(), "50");
  w.port.RefreshFrame();
  EXPECT_NE(w.canvas.Image(), drawn);
  w.Find(w.shapes, "LoadShapesSpeedButton")->click();
  w.Find(w.angles, "LoadAnglesSpeedButton")->click();
  EXPECT_EQ(w.canvas.Image(), drawn);
  EXPECT_EQ(w.port.tablesShown, 1);
}

// Damaged or impossible files: every Load button tells the coach, naming the file, and a save
// over a file that loaded with parts left out asks first.
TEST(DrawingControls, DamagedFilesAreReportedAndNotReplacedWithoutAsking) {
  Window w;
  const annotation::CompanionFileNames n = w.port.FileNames();
  auto write = [](const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  };
  const struct {
    QString file;
    QByteArray content;
    const char* button;
    QWidget* Window::*page;
  } cases[] = {
      {n.AnglesFile, "1 2 3 4 5 6 255 2\r\n1 2 x\r\n", "LoadAnglesSpeedButton", &Window::angles},
      {n.AnglesFile, "100000000000.00 50.00 100.00 50.00 100000000000.00 -100000000000.00 255 2\r\n",
       "LoadAnglesSpeedButton", &Window::angles},
      {n.MarkersFile, "   25   -1    0\r\n", "LoadMarkerSpeedButton", &Window::markers},
      {n.MarkersFile, " 2147483647 -2147483647 -1 -1 -1 -1 -1 2000\r\n", "LoadMarkerSpeedButton",
       &Window::markers},
      {n.TextItemsFile, "A\r\n 1 2\r\nArial\r\n 0 12 0 0 0 0\r\nB\r\n 1 2\r\nArial\r\n 0 12\r\n",
       "LoadShapesSpeedButton", &Window::shapes},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file.toStdString() + " " + c.content.toStdString());
    w.port.errors.clear();
    write(c.file, c.content);
    w.Find(w.*c.page, c.button)->click();
    ASSERT_EQ(w.port.errors.size(), 1);
    EXPECT_TRUE(w.port.errors[0].contains(c.file));
  }
  // The markers beyond the video were left unset; the one within it stayed.
  EXPECT_EQ(w.Find(w.markers, "Std1")->text(), "1");
  EXPECT_EQ(w.Find(w.markers, "Std2")->text(), "2");
  EXPECT_EQ(w.Find(w.markers, "Std8")->text(), "50");

  // Saving the text items asks; No keeps the file whole, Yes replaces it.
  const QByteArray damaged = [&] {
    QFile f(n.TextItemsFile);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }();
  w.Find(w.shapes, "SaveShapesSpeedButton")->click();
  ASSERT_EQ(w.port.questions.size(), 1);
  EXPECT_TRUE(w.port.questions[0].contains(n.TextItemsFile));
  QFile text(n.TextItemsFile);
  ASSERT_TRUE(text.open(QIODevice::ReadOnly));
  EXPECT_EQ(text.readAll(), damaged);
  text.close();
  w.port.answer = true;
  w.Find(w.shapes, "SaveShapesSpeedButton")->click();
  ASSERT_TRUE(text.open(QIODevice::ReadOnly));
  EXPECT_NE(text.readAll(), damaged);
  text.close();
  w.Find(w.shapes, "SaveShapesSpeedButton")->click();
  EXPECT_EQ(w.port.questions.size(), 2) << "asked once per partly loaded file";
}

TEST(DrawingControls, PenWidthAndColourControlsSetThePenOfTheDrawingTools) {
  Window w;
  auto* width = w.Find<QSpinBox>(w.shapes, "PenWidth");
  auto* size = w.Find<QLabel>(w.shapes, "PenSize");
  QToolButton* colour = w.Find(w.shapes, "PenColor");
  ASSERT_TRUE(width && size && colour);
  EXPECT_EQ(size->text(), "2");

  // The up-down control sets the width the tools draw with; every width control follows.
  width->stepBy(3);
  EXPECT_EQ(w.controls->Tools().Settings.penWidth, 5);
  EXPECT_EQ(size->text(), "5");
  EXPECT_EQ(w.Find<QSpinBox>(w.shapes, "ShapesSpinEdit")->value(), 5);
  EXPECT_EQ(w.Find<QSpinBox>(w.paletteShapes, "ShapesSpinEdit")->value(), 5);
  w.Find<QSpinBox>(w.paletteShapes, "ShapesSpinEdit")->setValue(7);
  EXPECT_EQ(width->value(), 7);
  EXPECT_EQ(size->text(), "7");

  // The colour comes from the colour dialog, opened on the current colour; cancel keeps it.
  ui::ScopedScriptedDialogs dialogs;
  dialogs.dialogs.Push(core::TColor(core::clTeal));
  colour->click();
  ASSERT_EQ(dialogs.dialogs.Asked().size(), 1u);
  EXPECT_EQ(std::get<core::TColor>(dialogs.dialogs.Asked()[0]), core::clRed);
  EXPECT_EQ(w.controls->Tools().Settings.penColour, core::clTeal);
  EXPECT_EQ(size->palette().color(QPalette::WindowText), core::ToQColor(core::clTeal));
  dialogs.dialogs.Push(std::monostate{});
  colour->click();
  EXPECT_EQ(w.controls->Tools().Settings.penColour, core::clTeal);

  // A stroke drawn now has that pen.
  w.Find(w.shapes, "FreehandButton")->click();
  w.Drag({100, 100}, {150, 150});
  ASSERT_FALSE(w.store.FreehandPoints().empty());
  EXPECT_EQ(w.store.FreehandPoints().back().penWidth, 7);
  EXPECT_EQ(w.store.FreehandPoints().back().colour, core::clTeal);
}

TEST(DrawingControls, AMarkerOutsideTheVideoSaysSoWhenClicked) {
  Window w;
  w.store.SetMarker(4, 20000);  // the video is 10000 ms long
  w.Find(w.markers, "Std4")->click();
  EXPECT_TRUE(w.port.seeks.empty());
  ASSERT_EQ(w.port.errors.size(), 1);
  EXPECT_TRUE(w.port.errors[0].contains(w.port.FileNames().MarkersFile));
}

}  // namespace
}  // namespace kestrom::drawing
