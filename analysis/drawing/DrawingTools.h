#pragma once
// The drawing tools of an analysis window: one drawing mode at a time, chosen by the tool
// buttons, carried out by the mouse handlers. Rubber bands are drawn in not-xor (drawn twice,
// they give the picture back), the dragged text box by xor block copies; released figures go
// into the drawing store in video pixels. What the tools need of the window (playback, the
// snapshot, repaints, status texts, buttons) goes through DrawingHost.

#include "analysis/annotation/DrawingStore.h"
#include "analysis/drawing/DrawingRenderer.h"
#include "analysis/drawing/DrawingView.h"
#include "platform/ui/Canvas.h"
#include "platform/ui/Dialogs.h"

#include <QImage>
#include <QPoint>
#include <QString>
#include <optional>

namespace kestrom::drawing {

/** @brief The drawing modes; only SetDrawingMode changes the active one. */
enum Mode : int {
  kModeNone = 0,
  kModeFreehand = 1,
  kModeShapes = 2,        // line, rectangle, ellipse (and the cutting rectangle, the ruler)
  kModeAngle = 3,         // three-point angle, in two phases
  kModeReferenceAngle = 4,  // angle to the vertical or the horizontal
  kModeRubberLine = 6,    // a plain rubber band that stores nothing
  kModeVerticalLine = 7,
  kModeHorizontalLine = 8,
  kModeEventLine = 9,
  kModeText = 10,
  kModeFreehandGrid = 11,
  kModeNoZoomReset = 13,  // only keeps a double click from resetting the zoom
  kModeShapesPointer = 14,
  kModeAnglesPointer = 15,
};

/** @brief The tool buttons (and the grid popup's freehand item). */
enum class Tool {
  Freehand, Line, Rectangle, Ellipse, VerticalLine, HorizontalLine, Text, FreehandGrid,
  GeneralAngle, VerticalAngle, HorizontalAngle, ShapesPointer, AnglesPointer,
};

/** @brief What was drawn last, for the undo button. */
enum UndoKind : int { kUndoNone = 0, kUndoFreehand = 1, kUndoShape = 2, kUndoCalibratedGrid = 3, kUndoText = 4,
                      kUndoFreehandGrid = 5 };

/** @brief The tool controls of the window, which it keeps in step with its swatches and spin edits. */
struct ToolSettings {
  core::TColor penColour = core::clRed;    // ShapesSpinEdit's font colour
  int penWidth = 2;                        // ShapesSpinEdit's value
  core::TColor fillColour = core::clWhite; // ShapesSpinEdit's background colour
  bool clearBrush = true;                  // ClearBrush down
  core::TColor angleColour = core::clRed;  // AnglesSpinEdit's font colour
  int angleWidth = 2;                      // AnglesSpinEdit's value
  QString text = QStringLiteral("Sample Text");  // Edit1
  ui::FontChoice textFont;                 // Edit1's font and colour
  double scaleX = -1.0, scaleY = -1.0;     // calibration: real units per video pixel (unset: -1)
  double rulerScale = -1.0;
};

/** @brief The picture's rectangle in window pixels; every edge belongs to it. */
struct PictureBounds {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool Contains(QPoint p) const { return p.x() >= left && p.x() <= right && p.y() >= top && p.y() <= bottom; }
};

/** @brief The pointer tools' selections: indexes into the store (-1 none), a stroke number (0 none). */
struct Selections {
  int line = -1, text = -1, shape = -1, angle = -1;
  int stroke = 0;
  bool operator==(const Selections&) const = default;
};

/** @brief What the drawing tools need of their window. */
class DrawingHost {
 public:
  virtual ~DrawingHost() = default;
  virtual bool VideoOpen() const = 0;
  /** @brief Where the zoomed picture stands now. */
  virtual PictureBounds Picture() const = 0;
  virtual void StopPlayback() = 0;
  virtual void SnapshotFrame() = 0;
  /** @brief Shows the current frame again with every stored drawing over it. */
  virtual void RefreshFrame() = 0;
  virtual void SetStatusText(int panel, const QString& text) = 0;
  /** @brief The angles changed: the results table is listed again when it is shown. */
  virtual void AnglesChanged() = 0;
  /** @brief Shows or hides the text sample box and its font button. */
  virtual void ShowTextBox(bool shown) = 0;
  /** @brief Releases the drawing tool buttons of the window and of its shapes palette. */
  virtual void ReleaseDrawingButtons() = 0;
  /** @brief Releases the text buttons of the window and of its shapes palette. */
  virtual void ReleaseTextButtons() = 0;
  virtual void SetDefaultCursor() {}
  /** @brief The other window's cut picture is being carried over this one. */
  virtual bool CarryingCut() const { return false; }
  virtual void FollowCut(QPoint) {}
  virtual void EndCarrying() {}
  /** @brief A finished rectangle, offered as the cutting rectangle; true when it became the cut. */
  virtual bool TakeCut(QPoint, QPoint) { return false; }
  /** @brief Shows the export's warning and answers true while an export runs. */
  virtual bool WarnExportRunning() { return false; }
  /** @brief A double click on no object: the view goes back to zoom 1.0. */
  virtual void ResetZoom() {}
};

class DrawingTools {
 public:
  DrawingTools(ui::Canvas& canvas, annotation::DrawingStore& store, const DrawingView& view, DrawingHost& host);

  ToolSettings Settings;
  /** @brief The pointer tools' current selections (double click deletes from them). */
  Selections Selected;

  int ActiveMode() const { return mode_; }
  annotation::ShapeKind ShapeKindOfTool() const { return shapeKind_; }
  int CurrentUndoKind() const { return undoKind_; }
  bool Pressed() const { return pressed_; }
  /** @brief Forgets a figure in progress (the mouse went to the other window). */
  void ClearPressed() { pressed_ = false; }
  int AnglePhase() const { return phase_; }

  /** @brief Changes the mode; mode 0 also restores the cursor and blanks status panel 1. */
  void SetDrawingMode(int mode);
  /** @brief A tool button went down (the tool starts) or up (mode 0). Nothing without a video. */
  void ToolButton(Tool tool, bool down);
  /** @brief Makes a tool whose button is down active again (a tab shown): mode, status, pen. */
  void ResumeTool(Tool tool);
  /** @brief The canvas pen (and brush) of the active tool, from the window's tool controls. */
  void SetupToolPen();

  void MouseDown(QPoint p);
  void MouseMove(QPoint p);
  void MouseUp(QPoint p);
  void DoubleClick();

  /** @brief Takes back the last freehand points, shape, text item or grid. */
  void Undo();
  /**
   * @brief Removes freehand points, shapes, text items and both grids (angles and markers
   * stay). From a palette no tool is released and playback goes on.
   */
  void ClearAll(bool fromPalette = false);
  void UndoAngle();
  void ResetAngles();

  // The colour and font buttons: each asks its dialog and, on OK, takes the choice for the
  // tools (the window then colours its swatches); nothing changes on cancel.
  /** @brief The pen width of the drawing tools, kept within the widths a pen may have. */
  void SetPenWidth(int width);
  /** @brief The pen colour of the drawing tools; playback stops first. */
  std::optional<core::TColor> ChoosePenColour(ui::Dialogs& dialogs);
  /** @brief The fill colour of rectangles and ellipses; playback stops first. */
  std::optional<core::TColor> ChooseFillColour(ui::Dialogs& dialogs);
  /** @brief The colour of the angle tools; playback stops first. */
  std::optional<core::TColor> ChooseAngleColour(ui::Dialogs& dialogs);
  /** @brief The font of the text sample; on cancel the frame is shown again. */
  std::optional<ui::FontChoice> ChooseTextFont(ui::Dialogs& dialogs);

  // Pointer hit tests on a video point; each highlights what it finds and returns the selection.
  int HighlightLineAt(double x, double y);
  int HighlightAngleAt(double x, double y);
  int HighlightTextAt(double x, double y);
  int HighlightShapeAt(double x, double y);
  int HighlightFreehandAt(double x, double y);

  /** @brief The text box as it is dragged: the sample text framed, inverted for an xor copy. */
  QImage TextBoxPicture() const;

  /** @brief The status texts of the tools. */
  static QString StatusOf(Tool tool);

 private:
  bool IsNearLastPoint(QPoint p);
  bool IsInsidePicture(QPoint p);
  int VideoX(int x) const;
  int VideoY(int y) const;
  void UseShapesPen(ui::PenMode mode);
  void UseAnglePen(ui::PenMode mode);
  void Band(QPoint a, QPoint b);  // a not-xor line with the current pen
  void XorTextBox(QPoint at);
  void StoreAngle(QPoint first, QPoint vertex, QPoint third);
  void RefuseArmOfNoLength();
  void Full(const char* what, int capacity);
  void ToolsUp();

  ui::Canvas& canvas_;
  annotation::DrawingStore& store_;
  const DrawingView& view_;
  DrawingHost& host_;
  DrawingRenderer renderer_;

  int mode_ = kModeNone;
  annotation::ShapeKind shapeKind_ = annotation::ShapeKind::Line;
  bool referenceVertical_ = true;
  bool pressed_ = false;
  bool stroke_ = false;
  int phase_ = 1;
  QPoint start_, end_;
  QPoint strokeAt_;  // the freehand stroke's last window point
  QPoint first_, vertex_, third_;
  QPoint last_{-100000, -100000};
  int undoKind_ = kUndoNone;
  QImage textBox_;
  // What each hit test highlighted last, to know when the highlight moved.
  int lastLine_ = -1, lastText_ = -1, lastShape_ = -1, lastAngle_ = -1;
};

}  // namespace kestrom::drawing
