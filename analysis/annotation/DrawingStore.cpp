#include "analysis/annotation/DrawingStore.h"

#include "platform/core/Format.h"

#include <cmath>

namespace kestrom::annotation {

namespace {

template <typename T>
bool Append(std::vector<T>& items, const T& item, int capacity) {
  if (static_cast<int>(items.size()) >= capacity) return false;
  items.push_back(item);
  return true;
}

template <typename T>
bool EraseAt(std::vector<T>& items, int index) {
  if (index < 0 || index >= static_cast<int>(items.size())) return false;
  items.erase(items.begin() + index);
  return true;
}

template <typename T>
void DropLast(std::vector<T>& items) {
  if (!items.empty()) items.pop_back();
}

}  // namespace

QString CompanionFileNames::VideoNameOf(const QString& videoFileName) {
  return videoFileName.left(std::max<qsizetype>(0, videoFileName.size() - 4));
}

CompanionFileNames CompanionFileNames::ForVideo(const QString& videoFileName) {
  const QString base = VideoNameOf(videoFileName);
  CompanionFileNames n;
  n.MarkersFile = base + QStringLiteral(".mrk");
  n.FreehandFile = base + QStringLiteral(".frh");
  n.ShapesFile = base + QStringLiteral(".shp");
  n.TextItemsFile = base + QStringLiteral(".str");
  n.GridFile = base + QStringLiteral(".grd");
  n.FreehandGridFile = base + QStringLiteral(".fhg");
  n.AnglesFile = base + QStringLiteral(".ang");
  n.EventLinesFile = base + QStringLiteral(".ent");
  return n;
}

DrawingStore::DrawingStore() { markers_.fill(kUnsetMarker); }

bool DrawingStore::AddFreehandPoint(const FreehandPoint& p) {
  if (!Append(freehand_, p, kFreehandCapacity)) return false;
  modified_.shapes = true;
  return true;
}

bool DrawingStore::AddShape(const ShapeRecord& s) {
  if (!Append(shapes_, s, kShapeCapacity)) return false;
  modified_.shapes = true;
  return true;
}

bool DrawingStore::AddTextItem(const TextItem& t) {
  if (!Append(textItems_, t, kTextItemCapacity)) return false;
  modified_.shapes = true;
  return true;
}

bool DrawingStore::AddAngle(int32_t penWidth, double x1, double y1, double x2, double y2,
                            double x3, double y3, TColor colour) {
  AngleRecord a;
  a.penWidth = penWidth;
  a.x1 = x1, a.y1 = y1, a.x2 = x2, a.y2 = y2, a.x3 = x3, a.y3 = y3;
  a.colour = colour;
  a.result = ThreePointAngle(x1, y1, x2, y2, x3, y3);
  if (!Append(angles_, a, kAngleCapacity)) return false;
  modified_.angles = true;
  return true;
}

bool DrawingStore::AddEventLine(const EventLineRecord& e) {
  if (!Append(eventLines_, e, kEventLineCapacity)) return false;
  modified_.events = true;
  return true;
}

bool DrawingStore::RemoveShapeAt(int index) {
  if (!EraseAt(shapes_, index)) return false;
  modified_.shapes = true;
  return true;
}

bool DrawingStore::RemoveTextItemAt(int index) {
  if (!EraseAt(textItems_, index)) return false;
  modified_.shapes = true;
  return true;
}

bool DrawingStore::RemoveAngleAt(int index) {
  if (!EraseAt(angles_, index)) return false;
  modified_.angles = true;
  return true;
}

int DrawingStore::StrokeOfPoint(int pointIndex) const {
  if (pointIndex < 0 || pointIndex >= static_cast<int>(freehand_.size())) return 0;
  // Strokes are counted by their code-1 points; points before the first one belong to none.
  int stroke = 0;
  for (int i = 0; i <= pointIndex; ++i)
    if (freehand_[i].code == 1) ++stroke;
  return stroke;
}

bool DrawingStore::RemoveStroke(int stroke) {
  if (stroke < 1) return false;
  std::vector<FreehandPoint> kept;
  kept.reserve(freehand_.size());
  int current = 0;
  for (const FreehandPoint& p : freehand_) {
    if (p.code == 1) ++current;
    if (current != stroke) kept.push_back(p);
  }
  if (kept.size() == freehand_.size()) return false;
  freehand_ = std::move(kept);
  modified_.shapes = true;
  return true;
}

void DrawingStore::UndoFreehandPoints(int count) {
  const auto n = std::min<size_t>(freehand_.size(), static_cast<size_t>(std::max(count, 0)));
  freehand_.resize(freehand_.size() - n);
}

void DrawingStore::UndoLastShape() { DropLast(shapes_); }
void DrawingStore::UndoLastTextItem() { DropLast(textItems_); }
void DrawingStore::UndoLastAngle() { DropLast(angles_); }
void DrawingStore::ClearAngles() { angles_.clear(); }

void DrawingStore::ClearDrawings() {
  freehand_.clear();
  shapes_.clear();
  textItems_.clear();
  grid_.value = 0;
  freehandGrid_.on = 0;
  modified_.shapes = true;
}

int32_t DrawingStore::Marker(int n) const {
  return (n >= 1 && n <= kMarkerCount) ? markers_[n - 1] : kUnsetMarker;
}

void DrawingStore::SetMarker(int n, int32_t ms) {
  if (n >= 1 && n <= kMarkerCount) markers_[n - 1] = ms;
}

QString DrawingStore::MarkerCaption(int n, double frameDuration) const {
  const int32_t ms = Marker(n);
  if (ms == kUnsetMarker) return QString::number(n);
  return QString::number(core::Nearest(ms / UsableFrameDuration(frameDuration)));
}

void DrawingStore::ResetMarkers() { markers_.fill(kUnsetMarker); }

std::optional<QString> DrawingStore::StopwatchCaption(int64_t positionMs) const {
  if (!stopwatch_.running) return QStringLiteral("0.00");
  const double seconds = static_cast<double>(positionMs - stopwatch_.startMs) / 1000.0;
  if (seconds < 100.0) return core::Printf("%.2f", seconds);
  if (seconds < 1000.0) return core::Printf("%.1f", seconds);
  if (seconds < 10000.0) return core::Printf("%.0f", seconds);
  return std::nullopt;
}

void DrawingStore::ResetForNewVideo() {
  freehand_.clear();
  shapes_.clear();
  textItems_.clear();
  angles_.clear();
  eventLines_.clear();
  grid_.value = 0;
  freehandGrid_.on = 0;
  ResetMarkers();
  ClearModifiedFlags();
  partlyLoaded_.clear();
}

void DrawingStore::NoteLoad(const QString& path, const LoadResult& result) {
  if (!result.FileFound()) return;
  ForgetPartialLoad(path);
  if (result.outcome == LoadOutcome::Damaged || result.report) partlyLoaded_ << path;
}

bool DrawingStore::LoadedPartly(const QString& path) const { return partlyLoaded_.contains(path); }

void DrawingStore::ForgetPartialLoad(const QString& path) { partlyLoaded_.removeAll(path); }

QString DrawingStore::ReplacePartialQuestion(const QString& path) {
  return QStringLiteral("\"%1\" was loaded with some of its contents left out or changed.\r\n"
                        "Saving now replaces it without them. Save anyway?")
      .arg(path);
}

int DrawingStore::ShapeKindToCode(ShapeKind kind) {
  switch (kind) {
    case ShapeKind::Rectangle: return 2;
    case ShapeKind::Ellipse: return 3;
    case ShapeKind::RoundRectangle: return 4;
    case ShapeKind::Line: break;
  }
  return 1;
}

ShapeKind DrawingStore::CodeToShapeKind(int64_t code) {
  switch (code) {
    case 2: return ShapeKind::Rectangle;
    case 3: return ShapeKind::Ellipse;
    case 4: return ShapeKind::RoundRectangle;
    default: return ShapeKind::Line;
  }
}

int DrawingStore::BrushStyleToCode(BrushStyle style) {
  switch (style) {
    case BrushStyle::Solid: return 1;
    case BrushStyle::Horizontal: return 3;
    case BrushStyle::Vertical: return 4;
    case BrushStyle::Cross: return 5;
    default: return 2;
  }
}

BrushStyle DrawingStore::CodeToBrushStyle(int64_t code) {
  switch (code) {
    case 1: return BrushStyle::Solid;
    case 3: return BrushStyle::Horizontal;
    case 4: return BrushStyle::Vertical;
    case 5: return BrushStyle::Cross;
    default: return BrushStyle::Clear;
  }
}

double DrawingStore::UsableFrameDuration(double frameDuration) {
  // Below a microsecond a duration is no real video's and would blow frame numbers up.
  return (std::isfinite(frameDuration) && frameDuration >= 0.001) ? frameDuration
                                                                 : kDefaultFrameDuration;
}

}  // namespace kestrom::annotation
