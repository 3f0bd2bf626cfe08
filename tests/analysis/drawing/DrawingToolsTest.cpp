#include "analysis/drawing/DrawingTools.h"
#include "tests/analysis/drawing/FakeHost.h"

#include <gtest/gtest.h>

#include "platform/ui/Dialogs.h"

namespace kestrom::drawing {
namespace {

using annotation::DrawingStore;
using annotation::ShapeKind;
using test::FakeHost;

constexpr int kFrameWidth = 320, kFrameHeight = 240;
constexpr int kPictureLeft = 20, kPictureTop = 56;

// A striped picture, so a rubber band that does not erase itself shows in any colour.
QImage Background(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) image.setPixel(x, y, qRgb((x * 7) & 255, (y * 5) & 255, ((x + y) * 3) & 255));
  return image;
}

// A window's worth of drawing at one zoom step: the canvas, the store, the view and the tools.
struct Bench {
  explicit Bench(int step)
      : view(ZoomView::AtStep(step, kPictureLeft, kPictureTop, kFrameWidth, kFrameHeight)),
        canvas(Background(700, 600)),
        tools(canvas, store, view, host) {
    host.bounds = {view.ShowX(0), view.ShowY(0), view.ShowX(kFrameWidth), view.ShowY(kFrameHeight)};
    tools.Settings.penColour = core::clRed;
    tools.Settings.penWidth = 3;
    tools.Settings.fillColour = core::clYellow;
    tools.Settings.clearBrush = false;
    tools.Settings.angleColour = core::clBlue;
    tools.Settings.angleWidth = 2;
  }
  // Window point of a video point.
  QPoint W(double x, double y) const { return {view.ShowX(x), view.ShowY(y)}; }
  // Press at one video point, move through the others, release at the last.
  void Drag(std::initializer_list<QPointF> points) {
    const QPointF first = *points.begin();
    tools.MouseDown(W(first.x(), first.y()));
    QPoint last = W(first.x(), first.y());
    for (const QPointF& p : points) {
      if (&p == points.begin()) continue;
      last = W(p.x(), p.y());
      tools.MouseMove(last);
    }
    tools.MouseUp(last);
  }
  // The background with the stored drawings drawn over it: what the canvas must show once every
  // rubber band has been erased.
  QImage Expected() {
    ui::Canvas reference(Background(700, 600));
    DrawingRenderer(reference, store, view).RedrawOverlays();
    return reference.Image();
  }

  ZoomView view;
  ui::Canvas canvas;
  DrawingStore store;
  FakeHost host;
  DrawingTools tools;
};

class ToolsAtZoomStep : public ::testing::TestWithParam<int> {};

TEST_P(ToolsAtZoomStep, ShapesAreStoredInVideoPixelsAsDragged) {
  struct Case {
    Tool tool;
    ShapeKind kind;
    QPointF from, to;
  };
  const Case cases[] = {
      {Tool::Line, ShapeKind::Line, {100, 100}, {200, 150}},
      {Tool::Rectangle, ShapeKind::Rectangle, {300, 200}, {150, 100}},  // right to left: kept so
      {Tool::Ellipse, ShapeKind::Ellipse, {40, 30}, {120, 90}},
  };
  for (const Case& c : cases) {
    Bench b(GetParam());
    b.tools.ToolButton(c.tool, true);
    EXPECT_EQ(b.tools.ActiveMode(), kModeShapes);
    b.Drag({c.from, {c.from.x() + 7, c.from.y() + 9}, {(c.from.x() + c.to.x()) / 2, c.to.y()}, c.to});
    ASSERT_EQ(b.store.Shapes().size(), 1u);
    const annotation::ShapeRecord& s = b.store.Shapes()[0];
    EXPECT_EQ(s.kind, c.kind);
    EXPECT_EQ(QPoint(s.x1, s.y1), c.from.toPoint());
    EXPECT_EQ(QPoint(s.x2, s.y2), c.to.toPoint());
    EXPECT_EQ(s.penColour, core::clRed);
    EXPECT_EQ(s.penWidth, 3);
    EXPECT_EQ(s.brushColour, core::clYellow);
    EXPECT_EQ(s.brushStyle, annotation::BrushStyle::Solid);
    EXPECT_EQ(b.tools.CurrentUndoKind(), kUndoShape);
    EXPECT_TRUE(b.store.Modified().shapes);
  }
}

TEST_P(ToolsAtZoomStep, RubberBandsLeaveOnlyTheStoredFigure) {
  for (const Tool tool : {Tool::Rectangle, Tool::Ellipse}) {
    Bench b(GetParam());
    b.tools.ToolButton(tool, true);
    b.Drag({{60, 50}, {90, 70}, {200, 40}, {70, 160}, {150, 120}});
    ASSERT_EQ(b.store.Shapes().size(), 1u);
    EXPECT_EQ(b.canvas.Image(), b.Expected());
  }
}

TEST_P(ToolsAtZoomStep, FreehandStrokeKeepsEveryPoint) {
  Bench b(GetParam());
  b.tools.ToolButton(Tool::Freehand, true);
  b.Drag({{10, 10}, {20, 15}, {30, 25}, {45, 30}});
  const auto& points = b.store.FreehandPoints();
  ASSERT_EQ(points.size(), 4u);
  EXPECT_EQ(points[0], (annotation::FreehandPoint{1, 3, 10, 10, core::clRed}));
  EXPECT_EQ(points[3], (annotation::FreehandPoint{2, 3, 45, 30, core::clRed}));
  EXPECT_EQ(points[1].code, 2);
  EXPECT_FALSE(b.tools.Pressed());
  EXPECT_EQ(b.tools.CurrentUndoKind(), kUndoFreehand);
  // Leaving the picture ends the stroke; coming back starts a new one.
  b.tools.MouseDown(b.W(100, 100));
  b.tools.MouseMove(b.W(110, 100));
  b.tools.MouseMove(QPoint(0, 0));
  b.tools.MouseMove(b.W(120, 100));
  b.tools.MouseUp(b.W(120, 100));
  EXPECT_EQ(b.store.FreehandPoints().back().code, 1);
  EXPECT_EQ(b.store.FreehandPoints().size(), 7u);
}

TEST_P(ToolsAtZoomStep, TextBoxIsDraggedByXorAndStoredWhereItWasLeft) {
  Bench b(GetParam());
  b.tools.Settings.text = "Knee";
  b.tools.Settings.textFont = {"DejaVu Sans", 12, true, false, true, false, core::clGreen};
  b.tools.ToolButton(Tool::Text, true);
  EXPECT_TRUE(b.host.textBoxShown);
  const QImage before = b.canvas.Image();
  b.tools.MouseDown(b.W(50, 50));
  EXPECT_NE(b.canvas.Image(), before);
  b.tools.MouseMove(b.W(80, 60));
  b.tools.MouseMove(b.W(100, 70));
  b.tools.MouseUp(b.W(100, 70));
  EXPECT_EQ(b.canvas.Image(), before);  // the box is gone; the window's refresh draws the text
  ASSERT_EQ(b.store.TextItems().size(), 1u);
  const annotation::TextItem& t = b.store.TextItems()[0];
  EXPECT_EQ(QPoint(t.x, t.y), QPoint(100, 70));
  EXPECT_EQ(t.text, "Knee");
  EXPECT_EQ(t.fontName, "DejaVu Sans");
  EXPECT_EQ(t.fontSize, 12);
  EXPECT_EQ(t.fontColour, core::clGreen);
  EXPECT_EQ((std::array{t.bold, t.italic, t.underline, t.strikeOut}), (std::array{1, 0, 1, 0}));
  EXPECT_EQ(b.tools.ActiveMode(), kModeNone);
  EXPECT_EQ(b.host.textReleases, 1);
  EXPECT_GE(b.host.refreshes, 1);
  EXPECT_EQ(b.tools.CurrentUndoKind(), kUndoText);
}

TEST_P(ToolsAtZoomStep, GridTakesItsTwoPoints) {
  Bench b(GetParam());
  b.tools.ToolButton(Tool::FreehandGrid, true);
  EXPECT_EQ(b.tools.ActiveMode(), kModeFreehandGrid);
  b.Drag({{100, 100}, {110, 105}, {130, 120}, {120, 115}});
  const annotation::FreehandGrid& g = b.store.FreehandGridRecord();
  EXPECT_EQ(g.on, 1);
  EXPECT_EQ(QRect(QPoint(g.x1, g.y1), QPoint(g.x2, g.y2)), QRect(QPoint(100, 100), QPoint(120, 115)));
  EXPECT_EQ(g.penColour, core::clRed);
  EXPECT_EQ(b.tools.CurrentUndoKind(), kUndoFreehandGrid);
  EXPECT_EQ(b.canvas.Image(), b.Expected());
}

TEST_P(ToolsAtZoomStep, ThreePointAngleIsDrawnInTwoDrags) {
  Bench b(GetParam());
  b.tools.ToolButton(Tool::GeneralAngle, true);
  b.Drag({{100, 200}, {120, 170}, {150, 150}});
  EXPECT_EQ(b.tools.AnglePhase(), 2);
  EXPECT_TRUE(b.store.Angles().empty());
  b.Drag({{160, 160}, {180, 180}, {200, 200}});
  ASSERT_EQ(b.store.Angles().size(), 1u);
  const annotation::AngleRecord& a = b.store.Angles()[0];
  EXPECT_EQ((std::array{a.x1, a.y1, a.x2, a.y2, a.x3, a.y3}), (std::array<double, 6>{100, 200, 150, 150, 200, 200}));
  EXPECT_EQ(a.colour, core::clBlue);
  EXPECT_EQ(a.penWidth, 2);
  EXPECT_NEAR(a.result.interior, 90.0, 1e-9);
  EXPECT_EQ(b.host.status[5], " 90.00");
  EXPECT_EQ(b.tools.AnglePhase(), 1);
  EXPECT_EQ(b.host.anglesChanged, 1);
  EXPECT_GE(b.host.snapshots, 1);
  EXPECT_TRUE(b.store.Modified().angles);
}

TEST_P(ToolsAtZoomStep, AngleToTheVerticalTakesItsReferenceArm) {
  Bench b(GetParam());
  b.tools.ToolButton(Tool::VerticalAngle, true);
  b.Drag({{100, 100}, {120, 150}, {150, 200}});
  ASSERT_EQ(b.store.Angles().size(), 1u);
  const annotation::AngleRecord& a = b.store.Angles()[0];
  EXPECT_EQ((std::array{a.x1, a.y1, a.x2, a.y2, a.x3, a.y3}), (std::array<double, 6>{100, 100, 150, 200, 150, 100}));
  EXPECT_EQ(b.host.status[5], " 26.57");
  EXPECT_EQ(b.canvas.Image(), b.Expected());
}

INSTANTIATE_TEST_SUITE_P(Steps, ToolsAtZoomStep, ::testing::Values(10, 20));

TEST(DrawingTools, WholeVideoPixelsStayWholeAtEveryZoomStep) {
  // Factors of n x 0.1 are inexact (3 x 0.1 > 0.3): truncating the way back must not lose a pixel.
  for (int step = 1; step <= 30; ++step) {
    Bench b(step);
    b.tools.ToolButton(Tool::Line, true);
    b.Drag({{100, 100}, {200, 150}});
    ASSERT_EQ(b.store.Shapes().size(), 1u) << step;
    const annotation::ShapeRecord& s = b.store.Shapes()[0];
    EXPECT_EQ(QRect(QPoint(s.x1, s.y1), QPoint(s.x2, s.y2)), QRect(QPoint(100, 100), QPoint(200, 150))) << step;
  }
}

TEST(DrawingTools, AnglesVertexIsWhereTheButtonCameUp) {
  // Released away from the last move: the arm and the vertex both end at the release.
  Bench b(10);
  b.tools.ToolButton(Tool::GeneralAngle, true);
  b.tools.MouseDown(b.W(100, 200));
  b.tools.MouseMove(b.W(140, 160));
  b.tools.MouseUp(b.W(150, 150));
  b.Drag({{200, 200}});
  ASSERT_EQ(b.store.Angles().size(), 1u);
  EXPECT_EQ(QPointF(b.store.Angles()[0].x2, b.store.Angles()[0].y2), QPointF(150, 150));
}

TEST(DrawingTools, AnArmOfNoLengthStoresNoAngleAndSaysHowToDrawOne) {
  const QString hint = "Press, drag and release to draw the first arm of the angle";
  {  // three clicks
    Bench b(10);
    b.tools.ToolButton(Tool::GeneralAngle, true);
    for (const QPoint p : {QPoint(100, 200), QPoint(150, 150), QPoint(200, 200)}) b.Drag({p});
    EXPECT_TRUE(b.store.Angles().empty());
    EXPECT_EQ(b.tools.AnglePhase(), 1);
    EXPECT_EQ(b.host.status[1], hint);
    EXPECT_EQ(b.host.anglesChanged, 0);
  }
  {  // a first arm dragged, then a click for the second
    Bench b(10);
    b.tools.ToolButton(Tool::GeneralAngle, true);
    b.Drag({{100, 200}, {150, 150}});
    EXPECT_EQ(b.tools.AnglePhase(), 2);
    const int refreshes = b.host.refreshes;
    b.Drag({{150, 150}});
    EXPECT_TRUE(b.store.Angles().empty());
    EXPECT_EQ(b.tools.AnglePhase(), 1);
    EXPECT_EQ(b.host.status[1], hint);
    EXPECT_EQ(b.host.status[5], " ");
    EXPECT_GT(b.host.refreshes, refreshes);  // the first arm is taken off the picture
  }
}

TEST(DrawingTools, PressesNearThePreviousOneOrOutsideThePictureAreIgnored) {
  Bench b(10);
  b.tools.ToolButton(Tool::Freehand, true);
  b.tools.MouseDown(b.W(100, 100));
  b.tools.MouseUp(b.W(100, 100));
  for (const int d : {1, 2}) {
    b.tools.MouseDown(b.W(100 + d, 100 - d));
    b.tools.MouseUp(b.W(100 + d, 100 - d));
  }
  EXPECT_EQ(b.store.FreehandPoints().size(), 1u);
  b.tools.MouseDown(b.W(105, 100));  // 3 pixels from the last press
  b.tools.MouseUp(b.W(105, 100));
  EXPECT_EQ(b.store.FreehandPoints().size(), 2u);
  b.tools.MouseDown(QPoint(kPictureLeft - 1, 100));
  b.tools.MouseUp(QPoint(kPictureLeft - 1, 100));
  EXPECT_EQ(b.store.FreehandPoints().size(), 2u);
}

TEST(DrawingTools, ReleaseWithoutAPressStoresNothing) {
  Bench b(10);
  // A double click: the second press is filtered out, and so must its release be.
  b.tools.ToolButton(Tool::Line, true);
  for (int i = 0; i < 2; ++i) {
    b.tools.MouseDown(b.W(150, 150));
    b.tools.MouseUp(b.W(150, 150));
  }
  EXPECT_EQ(b.store.Shapes().size(), 1u);
}

TEST(DrawingTools, VerticalAndHorizontalLinesSpanTheFrame) {
  Bench b(20);
  b.tools.ToolButton(Tool::VerticalLine, true);
  b.Drag({{100, 50}, {110, 60}, {120, 70}});
  b.tools.ToolButton(Tool::HorizontalLine, true);
  b.Drag({{10, 30}, {20, 40}});
  ASSERT_EQ(b.store.Shapes().size(), 2u);
  EXPECT_EQ(b.store.Shapes()[0], (annotation::ShapeRecord{ShapeKind::Line, 120, 0, 120, kFrameHeight, core::clRed, 3,
                                                          core::clYellow, annotation::BrushStyle::Solid}));
  EXPECT_EQ(QRect(QPoint(b.store.Shapes()[1].x1, b.store.Shapes()[1].y1),
                  QPoint(b.store.Shapes()[1].x2, b.store.Shapes()[1].y2)),
            QRect(QPoint(0, 40), QPoint(kFrameWidth, 40)));
}

TEST(DrawingTools, UndoTakesTenFreehandPointsAtATime) {
  for (const auto& [drawn, left] : {std::pair{25, 15}, std::pair{7, 0}}) {
    Bench b(10);
    b.tools.ToolButton(Tool::Freehand, true);
    b.tools.MouseDown(b.W(10, 10));
    for (int i = 1; i < drawn; ++i) b.tools.MouseMove(b.W(10 + 3 * i, 10 + i));
    b.tools.MouseUp(b.W(10 + 3 * drawn, 10));
    ASSERT_EQ(static_cast<int>(b.store.FreehandPoints().size()), drawn);
    b.store.ClearModifiedFlags();
    b.tools.Undo();
    EXPECT_EQ(static_cast<int>(b.store.FreehandPoints().size()), left);
    EXPECT_FALSE(b.store.Modified().shapes);  // undo leaves the flags alone
    EXPECT_EQ(b.tools.ActiveMode(), kModeNone);
    EXPECT_EQ(b.host.drawingReleases, 1);
  }
}

TEST(DrawingTools, UndoAndClearAllByWhatWasDrawnLast) {
  Bench b(10);
  b.tools.ToolButton(Tool::Rectangle, true);
  b.Drag({{10, 10}, {50, 50}});
  b.tools.ToolButton(Tool::Rectangle, true);
  b.Drag({{60, 60}, {90, 90}});
  b.tools.Undo();
  ASSERT_EQ(b.store.Shapes().size(), 1u);
  EXPECT_EQ(b.store.Shapes()[0].x1, 10);

  b.tools.ToolButton(Tool::FreehandGrid, true);
  b.Drag({{100, 100}, {120, 120}});
  b.store.AddAngle(1, 0, 0, 10, 0, 10, 10, 0);
  b.tools.Undo();
  EXPECT_EQ(b.store.FreehandGridRecord().on, 0);
  EXPECT_EQ(b.store.Shapes().size(), 1u);

  b.tools.ToolButton(Tool::Freehand, true);
  b.Drag({{30, 30}, {40, 40}});
  b.tools.ClearAll();
  EXPECT_TRUE(b.store.Shapes().empty());
  EXPECT_TRUE(b.store.FreehandPoints().empty());
  EXPECT_EQ(b.store.Angles().size(), 1u);  // angles stay
  EXPECT_EQ(b.tools.ActiveMode(), kModeNone);

  b.tools.ToolButton(Tool::Freehand, true);
  b.tools.ClearAll(/*fromPalette=*/true);
  EXPECT_EQ(b.tools.ActiveMode(), kModeFreehand);  // the palette leaves the tool armed
}

TEST(DrawingTools, FullCollectionsStopWithAMessage) {
  Bench b(10);
  for (int i = 0; i < DrawingStore::kShapeCapacity; ++i) b.store.AddShape({});
  b.tools.ToolButton(Tool::Ellipse, true);
  const QImage before = b.canvas.Image();
  b.Drag({{10, 10}, {40, 30}, {50, 50}});
  EXPECT_EQ(static_cast<int>(b.store.Shapes().size()), DrawingStore::kShapeCapacity);
  EXPECT_EQ(b.host.status[1], "No room for more shapes (at most 1000)");
  EXPECT_EQ(b.canvas.Image(), before);  // nothing drawn that is not kept

  for (int i = 0; i < DrawingStore::kFreehandCapacity - 2; ++i) b.store.AddFreehandPoint({});
  b.tools.ToolButton(Tool::Freehand, true);
  b.Drag({{100, 100}, {110, 100}, {120, 100}, {130, 100}});
  EXPECT_EQ(static_cast<int>(b.store.FreehandPoints().size()), DrawingStore::kFreehandCapacity);
  EXPECT_EQ(b.host.status[1], "No room for more freehand points (at most 10000)");
  EXPECT_FALSE(b.tools.Pressed());

  for (int i = 0; i < DrawingStore::kAngleCapacity; ++i) b.store.AddAngle(1, 0, 0, 1, 1, 2, 0, 0);
  b.tools.ToolButton(Tool::VerticalAngle, true);
  b.Drag({{150, 150}, {200, 200}});
  EXPECT_EQ(static_cast<int>(b.store.Angles().size()), DrawingStore::kAngleCapacity);
  EXPECT_EQ(b.host.status[1], "No room for more angles (at most 1000)");
}

TEST(DrawingTools, DoubleClickDeletesTheFirstSelectionInItsOrder) {
  Bench b(10);
  annotation::ShapeRecord line;
  line.x1 = 10, line.y1 = 10, line.x2 = 100, line.y2 = 100;
  b.store.AddShape(line);
  annotation::ShapeRecord rect = line;
  rect.kind = ShapeKind::Rectangle;
  b.store.AddShape(rect);
  b.store.AddShape(rect);
  b.tools.ToolButton(Tool::ShapesPointer, true);
  b.tools.Selected.line = 0;
  b.tools.Selected.shape = 1;
  b.tools.DoubleClick();
  ASSERT_EQ(b.store.Shapes().size(), 2u);
  EXPECT_EQ(b.store.Shapes()[0].kind, ShapeKind::Rectangle);
  // The selection went with the line; a second double click must not take the next shape.
  b.tools.DoubleClick();
  EXPECT_EQ(b.store.Shapes().size(), 2u);
  EXPECT_EQ(b.host.zoomResets, 1);

  // Found by moving the pointer, then deleted.
  b.tools.MouseMove(b.W(30, 30));
  EXPECT_EQ(b.tools.Selected.shape, 1);
  b.tools.DoubleClick();
  EXPECT_EQ(b.store.Shapes().size(), 1u);

  b.store.AddAngle(1, 10, 200, 100, 200, 100, 110, 0);
  b.tools.ToolButton(Tool::AnglesPointer, true);
  b.tools.MouseMove(b.W(50, 201));
  EXPECT_EQ(b.tools.Selected.angle, 0);
  b.tools.DoubleClick();
  EXPECT_TRUE(b.store.Angles().empty());
  EXPECT_EQ(b.host.anglesChanged, 1);

  b.host.exporting = true;
  b.tools.DoubleClick();
  EXPECT_EQ(b.host.zoomResets, 1);
}

TEST(DrawingTools, PointerMovesShowTheVideoPositionAndHighlight) {
  Bench b(20);
  annotation::ShapeRecord line;
  line.x1 = 10, line.y1 = 10, line.x2 = 100, line.y2 = 100, line.penWidth = 1;
  b.store.AddShape(line);
  b.tools.ToolButton(Tool::ShapesPointer, true);
  b.tools.MouseMove(b.W(50, 52));
  EXPECT_EQ(b.tools.Selected.line, 0);
  EXPECT_EQ(b.canvas.Pixel(b.view.ShowX(50), b.view.ShowY(50)), kHighlightColour);
  EXPECT_EQ(b.host.status[0], "(50.00,52.00)");
  const int refreshes = b.host.refreshes;
  b.tools.MouseMove(b.W(200, 50));
  EXPECT_EQ(b.tools.Selected, Selections{});
  EXPECT_EQ(b.host.refreshes, refreshes + 1);  // the highlight went away
}

TEST(DrawingTools, ToolButtonsSetModeStatusAndNothingWithoutVideo) {
  Bench b(10);
  b.host.open = false;
  b.tools.ToolButton(Tool::Line, true);
  EXPECT_EQ(b.tools.ActiveMode(), kModeNone);
  b.host.open = true;
  const struct { Tool tool; int mode; const char* status; } cases[] = {
      {Tool::Freehand, kModeFreehand, "Freehand Drawing ON"},
      {Tool::Ellipse, kModeShapes, "Circle Drawing ON"},
      {Tool::HorizontalAngle, kModeReferenceAngle, "Horizontal Angle Drawing ON"},
      {Tool::ShapesPointer, kModeShapesPointer, "Shape and Text Pointer ON"},
      {Tool::AnglesPointer, kModeAnglesPointer, "Angle Pointer ON"},
  };
  for (const auto& c : cases) {
    b.tools.ToolButton(c.tool, true);
    EXPECT_EQ(b.tools.ActiveMode(), c.mode);
    EXPECT_EQ(b.host.status[1], c.status);
  }
  const int stops = b.host.stops;
  b.tools.ToolButton(Tool::AnglesPointer, false);
  EXPECT_EQ(b.tools.ActiveMode(), kModeNone);
  EXPECT_EQ(b.host.status[1], "");
  EXPECT_EQ(b.host.stops, stops);
}

TEST(DrawingTools, ColourAndFontChoicesReachTheToolsOnlyOnOk) {
  Bench b(10);
  ui::ScriptedDialogs dialogs;
  dialogs.Push(core::TColor(core::clTeal));
  dialogs.Push(std::monostate{});
  dialogs.Push(core::TColor(core::clNavy));
  const ui::FontChoice font{"DejaVu Serif", 20, false, true, false, false, core::clMaroon};
  dialogs.Push(font);
  dialogs.Push(std::monostate{});

  EXPECT_EQ(b.tools.ChoosePenColour(dialogs), core::clTeal);
  EXPECT_EQ(b.tools.ChooseFillColour(dialogs), std::nullopt);
  EXPECT_EQ(b.tools.ChooseAngleColour(dialogs), core::clNavy);
  EXPECT_EQ(b.tools.Settings.penColour, core::clTeal);
  EXPECT_EQ(b.tools.Settings.fillColour, core::clYellow);
  EXPECT_EQ(b.tools.Settings.angleColour, core::clNavy);
  EXPECT_EQ(b.host.stops, 3);

  EXPECT_EQ(b.tools.ChooseTextFont(dialogs), font);
  EXPECT_EQ(b.tools.Settings.textFont, font);
  const int refreshes = b.host.refreshes;
  EXPECT_EQ(b.tools.ChooseTextFont(dialogs), std::nullopt);
  EXPECT_EQ(b.tools.Settings.textFont, font);
  EXPECT_EQ(b.host.refreshes, refreshes + 1);
  EXPECT_TRUE(dialogs.Errors().isEmpty());
  EXPECT_EQ(std::get<core::TColor>(dialogs.Asked()[0]), core::clRed);  // opened on the current colour
}

}  // namespace
}  // namespace kestrom::drawing
