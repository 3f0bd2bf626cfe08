#pragma once
// The drawings of one analysis window, in video pixels, and the companion files beside the video
// that keep them. Widget-free: routines that in the window also change captions or repaint
// return what happened, and the window acts on it.

#include "analysis/annotation/AngleGeometry.h"
#include "platform/core/Colour.h"

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace kestrom::annotation {

using core::TColor;

/** @brief Kinds of a shape as the tools make them. */
enum class ShapeKind : uint8_t { Line = 0, Rectangle = 1, Ellipse = 2, RoundRectangle = 3 };

/** @brief The toolkit's brush styles, in the toolkit's order. */
enum class BrushStyle : uint8_t {
  Solid = 0,
  Clear = 1,
  Horizontal = 2,
  Vertical = 3,
  FDiagonal = 4,
  BDiagonal = 5,
  Cross = 6,
  DiagCross = 7,
};

/** @brief One point of a freehand stroke; code 1 starts a stroke (moved to), others are drawn to. */
struct FreehandPoint {
  int32_t code = 2;
  int32_t penWidth = 1;
  int32_t x = 0;
  int32_t y = 0;
  TColor colour = core::clBlack;
  bool operator==(const FreehandPoint&) const = default;
};

/** @brief A line, rectangle, ellipse or rounded rectangle; (x1, y1) is where the mouse went down. */
struct ShapeRecord {
  ShapeKind kind = ShapeKind::Line;
  int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  TColor penColour = core::clBlack;
  int32_t penWidth = 1;
  TColor brushColour = core::clWhite;
  BrushStyle brushStyle = BrushStyle::Clear;
  bool operator==(const ShapeRecord&) const = default;
};

/** @brief A text placed on the picture; the style flags are on when 1. */
struct TextItem {
  int32_t x = 0, y = 0;  // top-left corner
  QString text;
  QString fontName;
  TColor fontColour = core::clBlack;
  int32_t fontSize = 10;  // points
  int32_t bold = 0, italic = 0, underline = 0, strikeOut = 0;
  bool operator==(const TextItem&) const = default;
};

/** @brief Three points with the vertex second, and the measured results (never stored in files). */
struct AngleRecord {
  int32_t penWidth = 1;
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0, x3 = 0, y3 = 0;
  TColor colour = core::clBlack;
  AngleResult result;
  bool operator==(const AngleRecord&) const = default;
};

/** @brief A shape with a distance; written to its own file, never read back. */
struct EventLineRecord {
  ShapeRecord shape;
  double distance = 0.0;
  bool operator==(const EventLineRecord&) const = default;
};

/** @brief The calibrated grid; it exists while its value is not 0. */
struct CalibratedGrid {
  int32_t value = 0;
  int32_t secondValue = 0;
  TColor penColour = core::clBlack;
  int32_t penWidth = 1;
  bool operator==(const CalibratedGrid&) const = default;
};

/** @brief The freehand grid: drawn when on is 1 or more, spaced by its two points. */
struct FreehandGrid {
  int32_t on = 0;
  int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  TColor penColour = core::clBlack;
  int32_t penWidth = 1;
  bool operator==(const FreehandGrid&) const = default;
};

/** @brief The stopwatch of the markers tab; positions are media milliseconds. */
struct Stopwatch {
  bool running = false;
  int64_t startMs = 0;
};

/** @brief The changes not yet saved, one flag per group of files (they feed HasUnsavedWork). */
struct ModifiedFlags {
  bool shapes = false;   // freehand, shapes, text items, both grids
  bool angles = false;
  bool events = false;
  bool markers = false;
  bool trace = false;    // the digitisation trace: asked about, never written
  bool Any() const { return shapes || angles || events || markers || trace; }
};

/** @brief The companion file names of one video (its path less the last 4 characters + suffix). */
struct CompanionFileNames {
  QString MarkersFile, FreehandFile, ShapesFile, TextItemsFile, GridFile, FreehandGridFile, AnglesFile,
      EventLinesFile;

  /** @brief The video's path less its last 4 characters (the dot and a 3-letter extension). */
  static QString VideoNameOf(const QString& videoFileName);
  /** @brief All names for the video file chosen in the open dialog. */
  static CompanionFileNames ForVideo(const QString& videoFileName);
};

/** @brief How a save ended: a file written, an old file deleted, nothing to do, or a failure. */
enum class SaveOutcome { Written, Deleted, Unchanged, Failed };

struct SaveResult {
  SaveOutcome outcome = SaveOutcome::Unchanged;
  QString error;  // for the window's message box when the save failed
  bool ok() const { return outcome != SaveOutcome::Failed; }
};

/** @brief How a load ended. Damaged: reading stopped early; the complete records stay loaded. */
enum class LoadOutcome { Missing, Loaded, Damaged, Unreadable };

struct LoadResult {
  LoadOutcome outcome = LoadOutcome::Missing;
  int records = 0;   // records taken into the store
  QString error;     // what went wrong, when it did
  bool report = false;  // the window shows error in a message box
  bool FileFound() const { return outcome != LoadOutcome::Missing; }
};

/** @brief The outcome of reading the markers file. */
struct MarkersLoadResult : LoadResult {
  bool captionsChanged = false;  // the window re-captions Std1..Std8 and its palette's buttons
  bool frameNumbers = false;     // the file held frame numbers and was converted to milliseconds
};

/**
 * @brief The drawing store of one analysis window: collections with fixed capacities (entries
 * are 0-based here, in drawing order), the grids, 8 frame markers, the stopwatch and the
 * modified flags, with every companion-file routine.
 */
class DrawingStore {
 public:
  static constexpr int kFreehandCapacity = 10000;
  static constexpr int kShapeCapacity = 1000;
  static constexpr int kTextItemCapacity = 1000;
  static constexpr int kAngleCapacity = 1000;
  static constexpr int kEventLineCapacity = 100;
  static constexpr int kMarkerCount = 8;
  static constexpr int32_t kUnsetMarker = -1;
  /** @brief Used in place of a frame duration that is 0, negative, tiny or not a number. */
  static constexpr double kDefaultFrameDuration = 40.0;

  DrawingStore();

  // --- collections (read) ---
  const std::vector<FreehandPoint>& FreehandPoints() const { return freehand_; }
  const std::vector<ShapeRecord>& Shapes() const { return shapes_; }
  const std::vector<TextItem>& TextItems() const { return textItems_; }
  const std::vector<AngleRecord>& Angles() const { return angles_; }
  const std::vector<EventLineRecord>& EventLines() const { return eventLines_; }
  const CalibratedGrid& Grid() const { return grid_; }
  const FreehandGrid& FreehandGridRecord() const { return freehandGrid_; }

  // --- editing by the tools; an add returns false when the collection is full ---
  /** @brief Appends a point and sets shapes modified. */
  bool AddFreehandPoint(const FreehandPoint& p);
  /** @brief Appends a shape and sets shapes modified. */
  bool AddShape(const ShapeRecord& s);
  /** @brief Appends a text item and sets shapes modified. */
  bool AddTextItem(const TextItem& t);
  /** @brief Appends an angle with its results computed, and sets angles modified. */
  bool AddAngle(int32_t penWidth, double x1, double y1, double x2, double y2, double x3, double y3,
                TColor colour);
  /** @brief Appends an event line and sets events modified. */
  bool AddEventLine(const EventLineRecord& e);

  /** @brief Removes one shape (pointer double click) and sets shapes modified. */
  bool RemoveShapeAt(int index);
  /** @brief Removes one text item and sets shapes modified. */
  bool RemoveTextItemAt(int index);
  /** @brief Removes one angle and sets angles modified. */
  bool RemoveAngleAt(int index);
  /** @brief Removes all points of stroke number `stroke` (1-based, store order); shapes modified. */
  bool RemoveStroke(int stroke);
  /** @brief The stroke number (1-based) that holds point `pointIndex`; 0 for none or out of range. */
  int StrokeOfPoint(int pointIndex) const;

  /** @brief Undo steps: they leave the modified flags alone. */
  void UndoFreehandPoints(int count = 10);
  void UndoLastShape();
  void UndoLastTextItem();
  void UndoLastAngle();
  void ClearAngles();

  /** @brief Clears freehand points, shapes, text items and both grids; sets shapes modified. */
  void ClearDrawings();

  void SetGrid(const CalibratedGrid& g) { grid_ = g; }
  void SetFreehandGrid(const FreehandGrid& g) { freehandGrid_ = g; }

  // --- markers and stopwatch ---
  const std::array<int32_t, kMarkerCount>& Markers() const { return markers_; }
  /** @brief Marker n (1..8) in milliseconds, -1 when unset. */
  int32_t Marker(int n) const;
  /** @brief Sets marker n (1..8); does not touch the markers flag (the window sets it on a click). */
  void SetMarker(int n, int32_t ms);
  /** @brief The caption of marker n: its digit when unset, else its frame number. */
  QString MarkerCaption(int n, double frameDuration) const;
  /** @brief All markers unset (captions become "1".."8"); the markers flag stays as it is. */
  void ResetMarkers();

  Stopwatch& StopwatchState() { return stopwatch_; }
  const Stopwatch& StopwatchState() const { return stopwatch_; }
  /**
   * @brief The stopwatch caption at a media position: 2 decimals below 100 s, 1 below 1000 s,
   * none below 10000 s; nothing at 10000 s or more (the caption stays as it was).
   */
  std::optional<QString> StopwatchCaption(int64_t positionMs) const;

  // --- modified flags ---
  ModifiedFlags& Modified() { return modified_; }
  const ModifiedFlags& Modified() const { return modified_; }
  void ClearModifiedFlags() { modified_ = {}; }

  /** @brief A new video: every collection emptied, grids off, markers unset, flags cleared. */
  void ResetForNewVideo();

  // --- companion files ---
  // Every save is atomic and reports a failure; a flag is cleared only when its file was
  // written (or, for a kind with nothing left, its old file deleted). A kind with nothing left
  // deletes its old file, except the calibrated grid, which is only ever written. Every load of
  // an existing file first empties its collection; a missing file changes nothing.

  /** @brief Writes the 8 markers; clears markers modified. */
  SaveResult SaveMarkers(const QString& path);
  /**
   * @brief Reads the markers (frame numbers of older files become milliseconds). Markers below 0
   * or, when the length is known (not negative), beyond it are left unset and reported.
   */
  MarkersLoadResult LoadMarkers(const QString& path, double frameDuration, int64_t lengthMs = -1);
  /** @brief Writes the freehand points or deletes the old file; flags stay (see SaveDrawings). */
  SaveResult SaveFreehand(const QString& path);
  LoadResult LoadFreehand(const QString& path);
  /** @brief Writes the shapes or deletes the old file; flags stay (see SaveDrawings). */
  SaveResult SaveShapes(const QString& path);
  /** @brief Reads shapes and pulls corners off the frame back to its edges (shapes modified). */
  LoadResult LoadShapes(const QString& path, int frameWidth, int frameHeight);
  /** @brief Writes the text items (line breaks become blanks) or deletes the old file. */
  SaveResult SaveTextItems(const QString& path);
  LoadResult LoadTextItems(const QString& path);
  /** @brief Writes the calibrated grid while its value is not 0; otherwise does nothing. */
  SaveResult SaveGrid(const QString& path);
  /** @brief The calibrated grid is never read back. */
  LoadResult LoadGrid(const QString& path);
  /** @brief Writes the freehand grid while it is on, or deletes the old file. */
  SaveResult SaveFreehandGrid(const QString& path);
  LoadResult LoadFreehandGrid(const QString& path);
  /** @brief Writes the angles or deletes the old file; clears angles modified. */
  SaveResult SaveAngles(const QString& path);
  /** @brief Reads angles and recomputes their results; the window refreshes its frame after. */
  LoadResult LoadAngles(const QString& path);
  /** @brief Always writes (no event lines: an empty file); clears events modified. */
  SaveResult SaveEventLines(const QString& path);

  /**
   * @brief Saves shapes, freehand, grid, freehand grid and text items; clears shapes modified
   * only when every one of them succeeded. The first failure's message is returned.
   */
  SaveResult SaveDrawings(const CompanionFileNames& names);
  /** @brief Reads freehand grid, shapes, text items and freehand; the first report-worthy error wins. */
  LoadResult LoadDrawings(const CompanionFileNames& names, int frameWidth, int frameHeight);

  /**
   * @brief True while the companion file at `path` was last loaded with records left out or values
   * changed (it was damaged or held values that could not be kept): saving would replace it so.
   */
  bool LoadedPartly(const QString& path) const;
  /** @brief The coach chose to replace a partly loaded file (or it was saved whole again). */
  void ForgetPartialLoad(const QString& path);
  /** @brief The question asked before a save replaces a partly loaded file. */
  static QString ReplacePartialQuestion(const QString& path);

  // --- the file codes ---
  static int ShapeKindToCode(ShapeKind kind);
  static ShapeKind CodeToShapeKind(int64_t code);
  static int BrushStyleToCode(BrushStyle style);
  static BrushStyle CodeToBrushStyle(int64_t code);

  /** @brief frameDuration when it is a usable positive number, else kDefaultFrameDuration. */
  static double UsableFrameDuration(double frameDuration);

 private:
  MarkersLoadResult ReadMarkers(const QString& path, double frameDuration);
  /** @brief Remembers whether a load left records out of the file at `path`. */
  void NoteLoad(const QString& path, const LoadResult& result);

  std::vector<FreehandPoint> freehand_;
  std::vector<ShapeRecord> shapes_;
  std::vector<TextItem> textItems_;
  std::vector<AngleRecord> angles_;
  std::vector<EventLineRecord> eventLines_;
  CalibratedGrid grid_;
  FreehandGrid freehandGrid_;
  std::array<int32_t, kMarkerCount> markers_{};
  Stopwatch stopwatch_;
  ModifiedFlags modified_;
  QStringList partlyLoaded_;
};

}  // namespace kestrom::annotation
