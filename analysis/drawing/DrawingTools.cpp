#include "analysis/drawing/DrawingTools.h"

#include "analysis/annotation/AngleGeometry.h"
#include "analysis/annotation/DrawingLimits.h"
#include "analysis/drawing/HitTests.h"
#include "platform/core/Format.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrom::drawing {

using annotation::BrushStyle;
using annotation::DrawingStore;
using annotation::ShapeKind;

namespace {

const QString kNineBlanks = QStringLiteral("         ");
const QString kOneBlank = QStringLiteral(" ");

constexpr int kStatusPosition = 0;
constexpr int kStatusTool = 1;
constexpr int kStatusValue = 5;

int32_t TruncToInt32(double v) {
  if (!std::isfinite(v)) return 0;
  return static_cast<int32_t>(std::clamp(std::trunc(v), double(std::numeric_limits<int32_t>::min()),
                                         double(std::numeric_limits<int32_t>::max())));
}

// Video pixels are whole numbers by truncation. Zoom factors of n x 0.1 are not exact (3 x 0.1
// is a hair above 0.3), so a click on video pixel 100 can come back as 99.9999999; a value that
// close to a whole number is that number.
int32_t VideoPixel(double v) {
  const double whole = std::round(v);
  if (std::abs(v - whole) < 1e-6) v = whole;
  return TruncToInt32(v);
}

}  // namespace

DrawingTools::DrawingTools(ui::Canvas& canvas, DrawingStore& store, const DrawingView& view, DrawingHost& host)
    : canvas_(canvas), store_(store), view_(view), host_(host), renderer_(canvas, store, view) {}

QString DrawingTools::StatusOf(Tool tool) {
  switch (tool) {
    case Tool::Freehand: return QStringLiteral("Freehand Drawing ON");
    case Tool::Line: return QStringLiteral("Line Drawing ON");
    case Tool::Rectangle: return QStringLiteral("Rectangle Drawing ON");
    case Tool::Ellipse: return QStringLiteral("Circle Drawing ON");
    case Tool::VerticalLine: return QStringLiteral("Vertical Line ON");
    case Tool::HorizontalLine: return QStringLiteral("Horizontal Line ON");
    case Tool::Text: return QStringLiteral("Text Drawing ON");
    case Tool::FreehandGrid: return QStringLiteral("Grid Drawing ON");
    case Tool::GeneralAngle: return QStringLiteral("Angle Drawing ON");
    case Tool::VerticalAngle: return QStringLiteral("Vertical Angle Drawing ON");
    case Tool::HorizontalAngle: return QStringLiteral("Horizontal Angle Drawing ON");
    case Tool::ShapesPointer: return QStringLiteral("Shape and Text Pointer ON");
    case Tool::AnglesPointer: return QStringLiteral("Angle Pointer ON");
  }
  return {};
}

void DrawingTools::SetDrawingMode(int mode) {
  mode_ = mode;
  host_.ShowTextBox(false);
  // A figure half made with another tool is dropped, so a new tool never continues it.
  pressed_ = false;
  stroke_ = false;
  phase_ = 1;
  Selected = {};
  if (mode == kModeNone) {
    host_.SetDefaultCursor();
    host_.SetStatusText(kStatusTool, kNineBlanks);
  }
}

void DrawingTools::ToolButton(Tool tool, bool down) {
  if (!host_.VideoOpen()) return;
  if (!down) {
    SetDrawingMode(kModeNone);
    host_.SetStatusText(kStatusTool, QString());
    if (tool == Tool::Line) host_.RefreshFrame();
    return;
  }
  host_.StopPlayback();
  ResumeTool(tool);
  if (tool == Tool::Text) host_.ShowTextBox(true);
  if (tool == Tool::FreehandGrid) {
    // The grid remembers the pen it is drawn with; the calibrated grid shares it.
    auto grid = store_.FreehandGridRecord();
    grid.penColour = Settings.penColour;
    grid.penWidth = Settings.penWidth;
    store_.SetFreehandGrid(grid);
    auto calibrated = store_.Grid();
    calibrated.penColour = Settings.penColour;
    calibrated.penWidth = Settings.penWidth;
    store_.SetGrid(calibrated);
    store_.Modified().shapes = true;
  }
}

void DrawingTools::ResumeTool(Tool tool) {
  int mode = kModeNone;
  switch (tool) {
    case Tool::Freehand: mode = kModeFreehand; break;
    case Tool::Line: mode = kModeShapes; shapeKind_ = ShapeKind::Line; break;
    case Tool::Rectangle: mode = kModeShapes; shapeKind_ = ShapeKind::Rectangle; break;
    case Tool::Ellipse: mode = kModeShapes; shapeKind_ = ShapeKind::Ellipse; break;
    case Tool::VerticalLine: mode = kModeVerticalLine; break;
    case Tool::HorizontalLine: mode = kModeHorizontalLine; break;
    case Tool::Text: mode = kModeText; break;
    case Tool::FreehandGrid: mode = kModeFreehandGrid; break;
    case Tool::GeneralAngle: mode = kModeAngle; break;
    case Tool::VerticalAngle: mode = kModeReferenceAngle; referenceVertical_ = true; break;
    case Tool::HorizontalAngle: mode = kModeReferenceAngle; referenceVertical_ = false; break;
    case Tool::ShapesPointer: mode = kModeShapesPointer; break;
    case Tool::AnglesPointer: mode = kModeAnglesPointer; break;
  }
  SetDrawingMode(mode);
  host_.SetStatusText(kStatusTool, StatusOf(tool));
  SetupToolPen();
}

void DrawingTools::UseShapesPen(ui::PenMode mode) {
  canvas_.Pen = {Settings.penColour, Settings.penWidth, ui::PenStyle::Solid, mode};
  canvas_.Brush.Color = Settings.fillColour;
  canvas_.Brush.Style = Settings.clearBrush ? ui::BrushStyle::Clear : ui::BrushStyle::Solid;
}

void DrawingTools::UseAnglePen(ui::PenMode mode) {
  canvas_.Pen = {Settings.angleColour, Settings.angleWidth, ui::PenStyle::Solid, mode};
}

void DrawingTools::SetupToolPen() {
  if (mode_ == kModeAngle || mode_ == kModeReferenceAngle || mode_ == kModeAnglesPointer)
    UseAnglePen(ui::PenMode::Copy);
  else
    UseShapesPen(ui::PenMode::Copy);
}

bool DrawingTools::IsNearLastPoint(QPoint p) {
  const bool near = std::abs(p.x() - last_.x()) <= 2 && std::abs(p.y() - last_.y()) <= 2;
  last_ = p;
  return near;
}

bool DrawingTools::IsInsidePicture(QPoint p) {
  if (host_.Picture().Contains(p)) return true;
  stroke_ = false;
  return false;
}

int DrawingTools::VideoX(int x) const { return VideoPixel(view_.ScreenToVideoX(x)); }
int DrawingTools::VideoY(int y) const { return VideoPixel(view_.ScreenToVideoY(y)); }

void DrawingTools::Band(QPoint a, QPoint b) {
  // A wide pen would leave a dot for a band of no length; skipping it keeps draw and erase paired.
  if (a == b) return;
  canvas_.Pen.Mode = ui::PenMode::NotXor;
  canvas_.MoveTo(a.x(), a.y());
  canvas_.LineTo(b.x(), b.y());
}

QImage DrawingTools::TextBoxPicture() const {
  ui::Canvas box(1, 1);
  box.Font = Settings.textFont;
  box.Font.color = core::clBlack;
  const int width = box.TextWidth(Settings.text) + 10;
  const int height = box.TextHeight(Settings.text) + 10;
  box.SetSize(width, height);
  box.Brush.Style = ui::BrushStyle::Clear;
  box.TextOut(0, 0, Settings.text);
  box.Brush = {core::clBlack, ui::BrushStyle::Solid};
  box.FrameRect(ui::Rect(0, 0, width, height));
  // Inverted, the white around the text becomes black, which an xor copy leaves untouched.
  QImage picture = box.Image();
  picture.invertPixels();
  return picture;
}

void DrawingTools::XorTextBox(QPoint at) {
  const ui::CopyMode mode = canvas_.CopyMode;
  canvas_.CopyMode = ui::CopyMode::Xor;
  canvas_.Draw(at.x(), at.y(), textBox_);
  canvas_.CopyMode = mode;
}

void DrawingTools::Full(const char* what, int capacity) {
  host_.SetStatusText(kStatusTool, core::Printf("No room for more %s (at most %d)", what, capacity));
}

void DrawingTools::MouseDown(QPoint p) {
  if (!host_.VideoOpen()) return;
  if (IsNearLastPoint(p)) return;
  if (!IsInsidePicture(p)) return;
  if (host_.CarryingCut()) return;
  SetupToolPen();
  switch (mode_) {
    case kModeFreehand: {
      host_.StopPlayback();
      stroke_ = true;
      strokeAt_ = p;
      if (!store_.AddFreehandPoint({1, Settings.penWidth, VideoX(p.x()), VideoY(p.y()), Settings.penColour})) {
        Full("freehand points", DrawingStore::kFreehandCapacity);
        stroke_ = false;
        return;
      }
      pressed_ = true;
      break;
    }
    case kModeShapes:
    case kModeFreehandGrid:
    case kModeEventLine:
      host_.StopPlayback();
      start_ = end_ = p;
      if (mode_ == kModeEventLine) shapeKind_ = ShapeKind::Line;
      pressed_ = true;
      break;
    case kModeText:
      start_ = end_ = p;
      textBox_ = TextBoxPicture();
      XorTextBox(p);
      pressed_ = true;
      break;
    case kModeAngle:
      if (phase_ == 1) {
        host_.StopPlayback();
        first_ = vertex_ = p;
      } else {
        UseAnglePen(ui::PenMode::NotXor);
        Band(vertex_, p);
        third_ = p;
      }
      host_.SetStatusText(kStatusValue, kOneBlank);
      pressed_ = true;
      break;
    case kModeReferenceAngle:
      host_.StopPlayback();
      first_ = vertex_ = p;
      host_.SetStatusText(kStatusValue, kOneBlank);
      pressed_ = true;
      break;
    case kModeRubberLine:
      first_ = vertex_ = p;
      pressed_ = true;
      break;
    case kModeVerticalLine:
      end_ = p;
      renderer_.DrawVerticalGridLine(p.x(), ui::PenMode::NotXor);
      pressed_ = true;
      break;
    case kModeHorizontalLine:
      end_ = p;
      renderer_.DrawHorizontalGridLine(p.y(), ui::PenMode::NotXor);
      pressed_ = true;
      break;
    default: break;
  }
}

void DrawingTools::MouseMove(QPoint p) {
  if (!IsInsidePicture(p)) return;
  const double vx = view_.ScreenToVideoX(p.x()), vy = view_.ScreenToVideoY(p.y());
  if (mode_ == kModeAnglesPointer) Selected.angle = HighlightAngleAt(vx, vy);
  if (mode_ == kModeShapesPointer) {
    renderer_.DrawTextItems();
    renderer_.DrawShapes();
    renderer_.DrawFreehand();
    Selected = {};
    Selected.line = HighlightLineAt(vx, vy);
    if (Selected.line < 0) Selected.text = HighlightTextAt(vx, vy);
    if (Selected.line < 0 && Selected.text < 0) Selected.shape = HighlightShapeAt(vx, vy);
    if (Selected.line < 0 && Selected.text < 0 && Selected.shape < 0) Selected.stroke = HighlightFreehandAt(vx, vy);
  }
  if (host_.CarryingCut()) {
    host_.FollowCut(p);
    return;
  }
  if (pressed_) {
    switch (mode_) {
      case kModeFreehand: {
        const int code = stroke_ ? 2 : 1;
        if (!store_.AddFreehandPoint({code, Settings.penWidth, VideoX(p.x()), VideoY(p.y()), Settings.penColour})) {
          Full("freehand points", DrawingStore::kFreehandCapacity);
          pressed_ = stroke_ = false;
          break;
        }
        UseShapesPen(ui::PenMode::Copy);
        // From the stroke's own last point: a repaint in between may have moved the canvas pen.
        if (stroke_) {
          canvas_.MoveTo(strokeAt_.x(), strokeAt_.y());
          canvas_.LineTo(p.x(), p.y());
        }
        strokeAt_ = p;
        stroke_ = true;
        break;
      }
      case kModeFreehandGrid:
        UseShapesPen(ui::PenMode::NotXor);
        renderer_.DrawGridLines(start_, end_, ui::PenMode::NotXor);
        end_ = p;
        renderer_.DrawGridLines(start_, end_, ui::PenMode::NotXor);
        break;
      case kModeText:
        XorTextBox(end_);
        end_ = p;
        XorTextBox(end_);
        break;
      case kModeShapes: {
        UseShapesPen(ui::PenMode::NotXor);
        renderer_.DrawShape(start_, end_, ui::PenMode::NotXor, shapeKind_);
        end_ = p;
        renderer_.DrawShape(start_, end_, ui::PenMode::NotXor, shapeKind_);
        if (shapeKind_ == ShapeKind::Line && Settings.scaleX > 0.00001 && Settings.scaleY > 0.00001) {
          const double dx = view_.ScreenToVideoX(end_.x()) - view_.ScreenToVideoX(start_.x());
          const double dy = view_.ScreenToVideoY(end_.y()) - view_.ScreenToVideoY(start_.y());
          const double length = std::hypot(Settings.scaleX * dx, Settings.scaleY * dy);
          host_.SetStatusText(kStatusValue, core::Printf("%6.2f", length) + QStringLiteral("   "));
        }
        break;
      }
      case kModeAngle:
        UseAnglePen(ui::PenMode::NotXor);
        if (phase_ == 1) {
          Band(first_, vertex_);
          vertex_ = p;
          Band(first_, vertex_);
        } else {
          Band(vertex_, third_);
          third_ = p;
          Band(vertex_, third_);
          const auto r = annotation::ThreePointAngle(first_.x(), first_.y(), vertex_.x(), vertex_.y(), p.x(), p.y());
          host_.SetStatusText(kStatusValue, r.defined ? core::Printf("%6.2f", r.interior) : kOneBlank);
        }
        break;
      case kModeReferenceAngle:
      case kModeRubberLine:
        if (mode_ == kModeReferenceAngle) UseAnglePen(ui::PenMode::NotXor);
        else UseShapesPen(ui::PenMode::NotXor);
        Band(first_, vertex_);
        vertex_ = p;
        Band(first_, vertex_);
        break;
      case kModeVerticalLine:
        UseShapesPen(ui::PenMode::NotXor);
        renderer_.DrawVerticalGridLine(end_.x(), ui::PenMode::NotXor);
        end_ = p;
        renderer_.DrawVerticalGridLine(end_.x(), ui::PenMode::NotXor);
        break;
      case kModeHorizontalLine:
        UseShapesPen(ui::PenMode::NotXor);
        renderer_.DrawHorizontalGridLine(end_.y(), ui::PenMode::NotXor);
        end_ = p;
        renderer_.DrawHorizontalGridLine(end_.y(), ui::PenMode::NotXor);
        break;
      case kModeEventLine:
        canvas_.Pen = {core::clBlack, 2, ui::PenStyle::Solid, ui::PenMode::NotXor};
        Band(start_, end_);
        end_ = p;
        Band(start_, end_);
        break;
      default: break;
    }
  }
  if (host_.VideoOpen())
    host_.SetStatusText(kStatusPosition, QStringLiteral("(") + core::FormatFloat("0.00", vx) + QStringLiteral(",") +
                                             core::FormatFloat("0.00", vy) + QStringLiteral(")"));
}

void DrawingTools::StoreAngle(QPoint first, QPoint vertex, QPoint third) {
  if (first == vertex || third == vertex) {
    RefuseArmOfNoLength();
    return;
  }
  if (!store_.AddAngle(Settings.angleWidth, view_.ScreenToVideoX(first.x()), view_.ScreenToVideoY(first.y()),
                       view_.ScreenToVideoX(vertex.x()), view_.ScreenToVideoY(vertex.y()),
                       view_.ScreenToVideoX(third.x()), view_.ScreenToVideoY(third.y()), Settings.angleColour)) {
    Full("angles", DrawingStore::kAngleCapacity);
    host_.RefreshFrame();  // takes the arms that were not kept off the picture
    return;
  }
  host_.SetStatusText(kStatusValue, core::Printf("%6.2f", store_.Angles().back().result.interior));
  host_.SnapshotFrame();
  host_.AnglesChanged();
}

// An arm of no length has no angle: nothing is stored, and the coach is told how to draw one.
void DrawingTools::RefuseArmOfNoLength() {
  phase_ = 1;
  host_.SetStatusText(kStatusValue, kOneBlank);
  host_.SetStatusText(kStatusTool, QStringLiteral("Press, drag and release to draw the first arm of the angle"));
  host_.RefreshFrame();  // takes off an arm drawn before
}

void DrawingTools::MouseUp(QPoint p) {
  if (host_.CarryingCut()) {
    host_.EndCarrying();
    return;
  }
  // A release with nothing in progress (its press was filtered out) makes nothing.
  if (!pressed_) return;
  pressed_ = false;
  switch (mode_) {
    case kModeFreehand:
      stroke_ = false;
      store_.Modified().shapes = true;
      undoKind_ = kUndoFreehand;
      break;
    case kModeFreehandGrid: {
      UseShapesPen(ui::PenMode::NotXor);
      renderer_.DrawGridLines(start_, end_, ui::PenMode::NotXor);
      UseShapesPen(ui::PenMode::Copy);
      renderer_.DrawGridLines(start_, end_, ui::PenMode::Copy);
      annotation::FreehandGrid grid;
      grid.on = 1;
      grid.x1 = VideoX(start_.x()), grid.y1 = VideoY(start_.y());
      grid.x2 = VideoX(end_.x()), grid.y2 = VideoY(end_.y());
      grid.penColour = Settings.penColour;
      grid.penWidth = Settings.penWidth;
      store_.SetFreehandGrid(grid);
      undoKind_ = kUndoFreehandGrid;
      store_.Modified().shapes = true;
      break;
    }
    case kModeShapes: {
      UseShapesPen(ui::PenMode::NotXor);
      renderer_.DrawShape(start_, end_, ui::PenMode::NotXor, shapeKind_);
      const QPoint q = host_.Picture().Contains(p) ? p : end_;
      end_ = q;
      if (host_.TakeCut(start_, q)) break;
      annotation::ShapeRecord s;
      s.kind = shapeKind_;
      s.x1 = VideoX(start_.x()), s.y1 = VideoY(start_.y());
      s.x2 = VideoX(q.x()), s.y2 = VideoY(q.y());
      s.penColour = Settings.penColour;
      s.penWidth = Settings.penWidth;
      s.brushColour = Settings.fillColour;
      s.brushStyle = Settings.clearBrush ? BrushStyle::Clear : BrushStyle::Solid;
      if (!store_.AddShape(s)) {
        Full("shapes", DrawingStore::kShapeCapacity);
        break;
      }
      UseShapesPen(ui::PenMode::Copy);
      renderer_.DrawShape(start_, q, ui::PenMode::Copy, shapeKind_);
      undoKind_ = kUndoShape;
      break;
    }
    case kModeText: {
      XorTextBox(end_);
      host_.ReleaseTextButtons();
      annotation::TextItem t;
      t.x = VideoX(end_.x()), t.y = VideoY(end_.y());
      t.text = Settings.text;
      t.fontName = Settings.textFont.name;
      t.fontColour = Settings.textFont.color;
      t.fontSize = Settings.textFont.size;
      t.bold = Settings.textFont.bold ? 1 : 0;
      t.italic = Settings.textFont.italic ? 1 : 0;
      t.underline = Settings.textFont.underline ? 1 : 0;
      t.strikeOut = Settings.textFont.strikeOut ? 1 : 0;
      const bool stored = store_.AddTextItem(t);
      canvas_.Font = ui::Canvas().Font;
      SetDrawingMode(kModeNone);
      host_.SetStatusText(kStatusTool, QString());
      if (stored) undoKind_ = kUndoText;
      else Full("text items", DrawingStore::kTextItemCapacity);
      host_.RefreshFrame();
      break;
    }
    case kModeAngle:
      UseAnglePen(ui::PenMode::NotXor);
      if (phase_ == 1) {
        Band(first_, vertex_);
        vertex_ = p;  // the arm ends where the button came up
        if (vertex_ == first_) {  // a click, not a drag: no arm yet
          RefuseArmOfNoLength();
          break;
        }
        UseAnglePen(ui::PenMode::Copy);
        canvas_.MoveTo(first_.x(), first_.y());
        canvas_.LineTo(vertex_.x(), vertex_.y());
        phase_ = 2;
      } else {
        Band(vertex_, third_);
        third_ = p;
        UseAnglePen(ui::PenMode::Copy);
        canvas_.MoveTo(vertex_.x(), vertex_.y());
        canvas_.LineTo(third_.x(), third_.y());
        phase_ = 1;
        StoreAngle(first_, vertex_, third_);
      }
      break;
    case kModeReferenceAngle: {
      UseAnglePen(ui::PenMode::NotXor);
      Band(first_, vertex_);
      vertex_ = p;
      third_ = referenceVertical_ ? QPoint(vertex_.x(), first_.y()) : QPoint(first_.x(), vertex_.y());
      UseAnglePen(ui::PenMode::Copy);
      canvas_.Polyline({first_, vertex_, third_});
      StoreAngle(first_, vertex_, third_);
      break;
    }
    case kModeRubberLine:
      UseShapesPen(ui::PenMode::NotXor);
      Band(first_, vertex_);
      break;
    case kModeVerticalLine:
    case kModeHorizontalLine: {
      const bool vertical = mode_ == kModeVerticalLine;
      UseShapesPen(ui::PenMode::NotXor);
      if (vertical) renderer_.DrawVerticalGridLine(end_.x(), ui::PenMode::NotXor);
      else renderer_.DrawHorizontalGridLine(end_.y(), ui::PenMode::NotXor);
      annotation::ShapeRecord s;
      s.kind = ShapeKind::Line;
      if (vertical) {
        s.x1 = s.x2 = VideoX(p.x());
        s.y1 = 0, s.y2 = view_.FrameHeight();
      } else {
        s.y1 = s.y2 = VideoY(p.y());
        s.x1 = 0, s.x2 = view_.FrameWidth();
      }
      s.penColour = Settings.penColour;
      s.penWidth = Settings.penWidth;
      s.brushColour = Settings.fillColour;
      s.brushStyle = Settings.clearBrush ? BrushStyle::Clear : BrushStyle::Solid;
      if (!store_.AddShape(s)) {
        Full("shapes", DrawingStore::kShapeCapacity);
        break;
      }
      UseShapesPen(ui::PenMode::Copy);
      if (vertical) renderer_.DrawVerticalGridLine(p.x(), ui::PenMode::Copy);
      else renderer_.DrawHorizontalGridLine(p.y(), ui::PenMode::Copy);
      undoKind_ = kUndoShape;
      break;
    }
    case kModeEventLine: {
      canvas_.Pen = {core::clBlack, 2, ui::PenStyle::Solid, ui::PenMode::NotXor};
      Band(start_, end_);
      end_ = p;
      annotation::EventLineRecord e;
      e.shape.kind = ShapeKind::Line;
      e.shape.x1 = VideoX(start_.x()), e.shape.y1 = VideoY(start_.y());
      e.shape.x2 = VideoX(end_.x()), e.shape.y2 = VideoY(end_.y());
      e.shape.penColour = core::clBlack;
      e.shape.penWidth = 2;
      e.shape.brushColour = Settings.fillColour;
      e.shape.brushStyle = Settings.clearBrush ? BrushStyle::Clear : BrushStyle::Solid;
      if (!store_.AddEventLine(e)) {
        Full("event lines", DrawingStore::kEventLineCapacity);
        break;
      }
      canvas_.Pen.Mode = ui::PenMode::Copy;
      canvas_.MoveTo(start_.x(), start_.y());
      canvas_.LineTo(end_.x(), end_.y());
      break;
    }
    default: break;
  }
}

void DrawingTools::DoubleClick() {
  if (!host_.VideoOpen()) return;
  // Indexes move down after a removal, so every selection is dropped with it; a second double
  // click must not take the next object.
  if (mode_ == kModeAnglesPointer && Selected.angle >= 0) {
    store_.RemoveAngleAt(Selected.angle);
    Selected = {};
    lastAngle_ = -1;
    host_.SetStatusText(kStatusValue, kOneBlank);
    host_.RefreshFrame();
    host_.AnglesChanged();
    return;
  }
  if (mode_ == kModeShapesPointer) {
    bool removed = true;
    if (Selected.text >= 0) {
      store_.RemoveTextItemAt(Selected.text);
    } else if (Selected.line >= 0) {
      store_.RemoveShapeAt(Selected.line);
      host_.SetStatusText(kStatusValue, kOneBlank);
    } else if (Selected.shape >= 0) {
      store_.RemoveShapeAt(Selected.shape);
      host_.SetStatusText(kStatusValue, kOneBlank);
    } else if (Selected.stroke > 0) {
      store_.RemoveStroke(Selected.stroke);
    } else {
      removed = false;
    }
    if (removed) {
      Selected = {};
      lastLine_ = lastText_ = lastShape_ = -1;
      host_.RefreshFrame();
      return;
    }
  }
  if (host_.WarnExportRunning()) return;
  if (mode_ != kModeNoZoomReset) host_.ResetZoom();
}

void DrawingTools::ToolsUp() {
  host_.ReleaseDrawingButtons();
  SetDrawingMode(kModeNone);
  host_.SetStatusText(kStatusTool, QString());
}

void DrawingTools::Undo() {
  if (!host_.VideoOpen()) return;
  host_.StopPlayback();
  switch (undoKind_) {
    case kUndoFreehand: store_.UndoFreehandPoints(10); break;
    case kUndoShape:
      store_.UndoLastShape();
      host_.SetStatusText(kStatusValue, QString());
      break;
    case kUndoCalibratedGrid: {
      auto grid = store_.Grid();
      grid.value = 0;
      store_.SetGrid(grid);
      Settings.rulerScale = -1.0;
      break;
    }
    case kUndoText: store_.UndoLastTextItem(); break;
    case kUndoFreehandGrid: {
      auto grid = store_.FreehandGridRecord();
      grid.on = 0;
      store_.SetFreehandGrid(grid);
      break;
    }
    default: break;
  }
  ToolsUp();
  host_.RefreshFrame();
}

void DrawingTools::ClearAll(bool fromPalette) {
  if (!host_.VideoOpen()) return;
  if (!fromPalette) host_.StopPlayback();
  store_.ClearDrawings();
  Settings.rulerScale = -1.0;
  Selected = {};
  if (!fromPalette) {
    host_.SetStatusText(kStatusValue, QString());
    ToolsUp();
  }
  host_.RefreshFrame();
}

void DrawingTools::UndoAngle() {
  if (!host_.VideoOpen()) return;
  host_.StopPlayback();
  store_.UndoLastAngle();
  Selected.angle = -1;
  host_.SetStatusText(kStatusValue, kOneBlank);
  host_.AnglesChanged();
  host_.RefreshFrame();
}

void DrawingTools::ResetAngles() {
  if (!host_.VideoOpen()) return;
  host_.StopPlayback();
  store_.ClearAngles();
  Selected.angle = -1;
  host_.SetStatusText(kStatusValue, kOneBlank);
  host_.AnglesChanged();
  host_.RefreshFrame();
}

void DrawingTools::SetPenWidth(int width) {
  Settings.penWidth = std::clamp(width, annotation::kMinPenWidth, annotation::kMaxPenWidth);
  canvas_.Pen.Width = Settings.penWidth;
}

std::optional<core::TColor> DrawingTools::ChoosePenColour(ui::Dialogs& dialogs) {
  host_.StopPlayback();
  const auto colour = dialogs.ChooseColor(Settings.penColour);
  if (colour) {
    Settings.penColour = *colour;
    canvas_.Pen.Color = *colour;
  }
  return colour;
}

std::optional<core::TColor> DrawingTools::ChooseFillColour(ui::Dialogs& dialogs) {
  host_.StopPlayback();
  const auto colour = dialogs.ChooseColor(Settings.fillColour);
  if (colour) {
    Settings.fillColour = *colour;
    canvas_.Brush.Color = *colour;
  }
  return colour;
}

std::optional<core::TColor> DrawingTools::ChooseAngleColour(ui::Dialogs& dialogs) {
  host_.StopPlayback();
  const auto colour = dialogs.ChooseColor(Settings.angleColour);
  if (colour) {
    Settings.angleColour = *colour;
    canvas_.Pen.Color = *colour;
  }
  return colour;
}

std::optional<ui::FontChoice> DrawingTools::ChooseTextFont(ui::Dialogs& dialogs) {
  const auto font = dialogs.ChooseFont(Settings.textFont);
  if (font) {
    Settings.textFont = *font;
    canvas_.Font = *font;
  } else {
    host_.RefreshFrame();
  }
  return font;
}

// The highlights repaint the frame first when they move, then draw the new one in blue, so the
// highlight shows at once and the old one goes.
int DrawingTools::HighlightLineAt(double x, double y) {
  const int found = FindLineAt(store_, x, y);
  if (lastLine_ >= 0 && found != lastLine_) host_.RefreshFrame();
  if (found >= 0) renderer_.HighlightLine(store_.Shapes()[found]);
  lastLine_ = found;
  return found;
}

int DrawingTools::HighlightAngleAt(double x, double y) {
  const int found = FindAngleAt(store_, x, y);
  if (found != lastAngle_) host_.RefreshFrame();
  if (found >= 0) renderer_.HighlightAngle(store_.Angles()[found]);
  lastAngle_ = found;
  return found;
}

int DrawingTools::HighlightTextAt(double x, double y) {
  const int found = FindTextAt(store_, x, y);
  if (found != lastText_) host_.RefreshFrame();
  if (found >= 0) renderer_.HighlightText(store_.TextItems()[found]);
  lastText_ = found;
  return found;
}

int DrawingTools::HighlightShapeAt(double x, double y) {
  const int found = FindShapeAt(store_, x, y);
  if (found != lastShape_) host_.RefreshFrame();
  if (found >= 0) renderer_.HighlightShape(store_.Shapes()[found]);
  lastShape_ = found;
  return found;
}

int DrawingTools::HighlightFreehandAt(double x, double y) {
  const int stroke = FindStrokeAt(store_, x, y);
  if (stroke > 0) renderer_.DrawFreehandHighlighting(stroke);
  return stroke;
}

}  // namespace kestrom::drawing
