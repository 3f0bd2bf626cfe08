// The companion files of a video: one plain text file per kind of drawing, numbers right-aligned
// in fixed minimum widths, CR LF line ends. Files made on Windows (Windows-1252) load as they are.

#include "analysis/annotation/DrawingStore.h"

#include "analysis/annotation/DrawingLimits.h"

#include "platform/core/Format.h"
#include "platform/core/TextFile.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cmath>
#include <limits>

namespace kestrom::annotation {

namespace {

using core::IntField;
using core::NumberReader;
using core::RealField;

// ---- writing ----

SaveResult WriteKind(const QString& what, const QString& path, const QStringList& lines) {
  const core::WriteResult w = core::WriteTextLines(path, lines);
  if (w.ok) return {SaveOutcome::Written, {}};
  return {SaveOutcome::Failed,
          QStringLiteral("The %1 could not be saved to \"%2\".\n%3").arg(what, path, w.error)};
}

// A kind with nothing left removes its old file, so deleted drawings do not come back on load.
SaveResult DeleteKind(const QString& what, const QString& path) {
  if (!QFileInfo(path).exists() && !QFileInfo(path).isSymLink()) return {SaveOutcome::Unchanged, {}};
  QFile file(path);
  if (file.remove()) return {SaveOutcome::Deleted, {}};
  return {SaveOutcome::Failed, QStringLiteral("The old %1 file \"%2\" could not be deleted.\n%3")
                                   .arg(what, path, file.errorString())};
}

// A line break inside a text would split its four-line record, so it becomes a blank.
QString OneLine(QString text) {
  text.replace(QLatin1Char('\r'), QLatin1Char(' '));
  text.replace(QLatin1Char('\n'), QLatin1Char(' '));
  return text;
}

QString ShapeFields(const ShapeRecord& s) {
  return IntField(DrawingStore::ShapeKindToCode(s.kind), 3) + IntField(s.x1, 6) +
         IntField(s.y1, 6) + IntField(s.x2, 6) + IntField(s.y2, 6) + IntField(s.penColour, 12) +
         IntField(s.penWidth, 5) + IntField(s.brushColour, 12) +
         IntField(DrawingStore::BrushStyleToCode(s.brushStyle), 5);
}

// ---- reading ----

// Opens a companion file for reading; a missing file is no error.
std::optional<QString> OpenKind(const QString& what, const QString& path, LoadResult& result) {
  if (!QFileInfo::exists(path)) {
    result.outcome = LoadOutcome::Missing;
    return std::nullopt;
  }
  std::optional<QString> text = core::ReadTextFile(path);
  if (!text) {
    result.outcome = LoadOutcome::Unreadable;
    result.report = true;
    result.error = QStringLiteral("The %1 file \"%2\" could not be read.").arg(what, path);
    return std::nullopt;
  }
  result.outcome = LoadOutcome::Loaded;
  return text;
}

// Reading stopped early; the coach is told, since a save would write the file without the rest.
void MarkDamaged(const QString& what, const QString& path, LoadResult& result) {
  result.outcome = LoadOutcome::Damaged;
  result.report = true;
  const QString read = result.records == 0   ? QStringLiteral("none of its records could be read")
                       : result.records == 1 ? QStringLiteral("only its first record was read")
                                             : QStringLiteral("only its first %1 records were read").arg(result.records);
  result.error = QStringLiteral("The %1 file \"%2\" is damaged; %3.").arg(what, path, read);
}

// Values beyond what can be drawn were pulled back into range; the coach is told as of a damaged
// file, since a save would write the changed values over the file's own. Damage, when there is
// also some, is what is told.
void MarkPulledBack(const QString& what, const QString& path, LoadResult& result) {
  if (result.report) return;
  result.report = true;
  result.error = QStringLiteral("The %1 file \"%2\" holds values beyond what can be drawn; "
                                "they were brought back within range.")
                     .arg(what, path);
}

// Fields are 32-bit: a number outside that range is as malformed as a word.
std::optional<int32_t> ReadInt32(NumberReader& reader) {
  const std::optional<int64_t> v = reader.NextInt();
  if (!v || *v < std::numeric_limits<int32_t>::min() || *v > std::numeric_limits<int32_t>::max())
    return std::nullopt;
  return static_cast<int32_t>(*v);
}

std::optional<double> ReadReal(NumberReader& reader) {
  const std::optional<double> v = reader.NextReal();
  if (!v || !std::isfinite(*v)) return std::nullopt;
  return v;
}

// Reads n 32-bit integers of one record; false when one is missing or malformed.
template <size_t N>
bool ReadInts(NumberReader& reader, std::array<int32_t, N>& out) {
  for (int32_t& v : out) {
    const std::optional<int32_t> r = ReadInt32(reader);
    if (!r) return false;
    v = *r;
  }
  return true;
}

const QString kMarkersWhat = QStringLiteral("markers");
const QString kFreehandWhat = QStringLiteral("freehand drawing");
const QString kShapesWhat = QStringLiteral("shapes");
const QString kTextWhat = QStringLiteral("text");
const QString kGridWhat = QStringLiteral("grid");
const QString kFreehandGridWhat = QStringLiteral("freehand grid");
const QString kAnglesWhat = QStringLiteral("angles");
const QString kEventsWhat = QStringLiteral("event lines");

}  // namespace

// ---------------------------------------------------------------- markers

SaveResult DrawingStore::SaveMarkers(const QString& path) {
  QString line;
  for (int32_t m : markers_) line += IntField(m, 5);
  SaveResult r = WriteKind(kMarkersWhat, path, {line});
  if (r.ok()) modified_.markers = false;
  return r;
}

MarkersLoadResult DrawingStore::LoadMarkers(const QString& path, double frameDuration, int64_t lengthMs) {
  MarkersLoadResult result = ReadMarkers(path, frameDuration);
  if (result.outcome != LoadOutcome::Loaded) {
    NoteLoad(path, result);
    return result;
  }
  // A marker the video cannot reach would show a meaningless caption and do nothing when clicked.
  int outside = 0;
  for (int32_t& m : markers_) {
    if (m == kUnsetMarker) continue;
    if (m < 0 || (lengthMs >= 0 && m > lengthMs)) {
      m = kUnsetMarker;
      ++outside;
    }
  }
  if (outside > 0) {
    result.report = true;
    result.error = QStringLiteral("%1 of the markers in \"%2\" lie outside the video and were left unset.")
                       .arg(outside)
                       .arg(path);
  }
  NoteLoad(path, result);
  return result;
}

MarkersLoadResult DrawingStore::ReadMarkers(const QString& path, double frameDuration) {
  MarkersLoadResult result;
  const std::optional<QString> text = OpenKind(kMarkersWhat, path, result);
  if (!text) return result;

  NumberReader reader(*text);
  std::array<int32_t, kMarkerCount> values{};
  if (!ReadInts(reader, values)) {
    MarkDamaged(kMarkersWhat, path, result);
    return result;
  }
  markers_ = values;
  result.records = 1;
  result.captionsChanged = true;

  // Older files hold frame numbers; they are told apart by a 10th value that is not -100.
  if (reader.AtEnd() || !reader.NextInt() || reader.AtEnd()) return result;
  const std::optional<int64_t> tenth = reader.NextInt();
  if (!tenth || *tenth == -100) return result;

  const double duration = UsableFrameDuration(frameDuration);
  constexpr double kLastPosition = std::numeric_limits<int32_t>::max();
  for (int32_t& m : markers_) {
    if (m <= 0) continue;
    // A frame number whose time does not fit a position is no marker at all.
    if (static_cast<double>(m) > kLastPosition / duration) {
      m = kUnsetMarker;
      continue;
    }
    const int64_t ms = core::Nearest(static_cast<double>(m) * duration);
    m = ms <= std::numeric_limits<int32_t>::max() ? static_cast<int32_t>(ms) : kUnsetMarker;
  }
  result.frameNumbers = true;
  modified_.markers = true;
  return result;
}

// ---------------------------------------------------------------- freehand

SaveResult DrawingStore::SaveFreehand(const QString& path) {
  if (freehand_.empty()) return DeleteKind(kFreehandWhat, path);
  QStringList lines;
  lines.reserve(static_cast<qsizetype>(freehand_.size()));
  for (const FreehandPoint& p : freehand_)
    lines << IntField(p.code, 3) + IntField(p.penWidth, 3) + IntField(p.x, 5) + IntField(p.y, 5) +
                 IntField(p.colour, 7);
  return WriteKind(kFreehandWhat, path, lines);
}

LoadResult DrawingStore::LoadFreehand(const QString& path) {
  LoadResult result;
  const std::optional<QString> text = OpenKind(kFreehandWhat, path, result);
  if (!text) return result;

  freehand_.clear();
  bool pulledBack = false;
  NumberReader reader(*text);
  while (static_cast<int>(freehand_.size()) < kFreehandCapacity && !reader.AtEnd()) {
    std::array<int32_t, 5> v{};
    if (!ReadInts(reader, v)) {
      MarkDamaged(kFreehandWhat, path, result);
      break;
    }
    reader.SkipLine();
    bool bounded = false;
    freehand_.push_back({v[0], BoundedPenWidth(v[1], bounded), BoundedCoordinate(v[2], bounded),
                         BoundedCoordinate(v[3], bounded), v[4]});
    if (bounded) {
      modified_.shapes = true;
      pulledBack = true;
    }
    ++result.records;
  }
  if (pulledBack) MarkPulledBack(kFreehandWhat, path, result);
  NoteLoad(path, result);
  return result;
}

// ---------------------------------------------------------------- shapes

SaveResult DrawingStore::SaveShapes(const QString& path) {
  if (shapes_.empty()) return DeleteKind(kShapesWhat, path);
  QStringList lines;
  lines.reserve(static_cast<qsizetype>(shapes_.size()));
  for (const ShapeRecord& s : shapes_) lines << ShapeFields(s);
  return WriteKind(kShapesWhat, path, lines);
}

LoadResult DrawingStore::LoadShapes(const QString& path, int frameWidth, int frameHeight) {
  LoadResult result;
  const std::optional<QString> text = OpenKind(kShapesWhat, path, result);
  if (!text) return result;

  shapes_.clear();
  NumberReader reader(*text);
  while (static_cast<int>(shapes_.size()) < kShapeCapacity && !reader.AtEnd()) {
    const std::optional<int64_t> kindCode = reader.NextInt();
    std::array<int32_t, 7> v{};
    const bool fields = kindCode && ReadInts(reader, v);
    const std::optional<int64_t> brushCode = fields ? reader.NextInt() : std::nullopt;
    if (!brushCode) {
      MarkDamaged(kShapesWhat, path, result);
      break;
    }
    reader.SkipLine();
    shapes_.push_back({CodeToShapeKind(*kindCode), v[0], v[1], v[2], v[3], v[4], v[5], v[6],
                       CodeToBrushStyle(*brushCode)});
    ++result.records;
  }

  // Corners off the picture are pulled back to its edges (no size known: to the common bound),
  // and every other value into what can be drawn. Only the latter is worth a word: a corner
  // past the picture's edge is an ordinary drawing of a larger clip.
  bool bounded = false, pulledBack = false;
  auto corner = [&bounded, &pulledBack](int32_t& c, int size) {
    BoundedCoordinate(c, pulledBack);
    c = size > 0 ? Bounded(c, 0, std::min(size, kCoordinateLimit), bounded) : BoundedCoordinate(c, bounded);
  };
  for (ShapeRecord& s : shapes_) {
    corner(s.x1, frameWidth);
    corner(s.x2, frameWidth);
    corner(s.y1, frameHeight);
    corner(s.y2, frameHeight);
    s.penWidth = BoundedPenWidth(s.penWidth, pulledBack);
  }
  if (bounded || pulledBack) modified_.shapes = true;
  if (pulledBack) MarkPulledBack(kShapesWhat, path, result);
  NoteLoad(path, result);
  return result;
}

// ---------------------------------------------------------------- text items

SaveResult DrawingStore::SaveTextItems(const QString& path) {
  if (textItems_.empty()) return DeleteKind(kTextWhat, path);
  QStringList lines;
  lines.reserve(static_cast<qsizetype>(textItems_.size()) * 4);
  for (const TextItem& t : textItems_) {
    lines << OneLine(t.text);
    lines << IntField(t.x, 6) + IntField(t.y, 6);
    lines << OneLine(t.fontName);
    lines << IntField(t.fontColour, 12) + IntField(t.fontSize, 4) + IntField(t.bold, 2) +
                 IntField(t.italic, 2) + IntField(t.underline, 2) + IntField(t.strikeOut, 2);
  }
  return WriteKind(kTextWhat, path, lines);
}

LoadResult DrawingStore::LoadTextItems(const QString& path) {
  LoadResult result;
  const std::optional<QString> text = OpenKind(kTextWhat, path, result);
  if (!text) return result;

  textItems_.clear();
  bool pulledBack = false;
  NumberReader reader(*text);
  while (static_cast<int>(textItems_.size()) < kTextItemCapacity && !reader.AtEnd()) {
    TextItem item;
    item.text = reader.ReadLine();
    std::array<int32_t, 2> position{};
    if (!ReadInts(reader, position)) {
      MarkDamaged(kTextWhat, path, result);
      break;
    }
    reader.SkipLine();
    item.fontName = reader.ReadLine();
    std::array<int32_t, 6> style{};
    if (!ReadInts(reader, style)) {
      MarkDamaged(kTextWhat, path, result);
      break;
    }
    reader.SkipLine();
    bool bounded = false;
    item.x = BoundedCoordinate(position[0], bounded);
    item.y = BoundedCoordinate(position[1], bounded);
    item.fontColour = style[0];
    item.fontSize = BoundedFontSize(style[1], bounded);
    if (bounded) {
      modified_.shapes = true;
      pulledBack = true;
    }
    item.bold = style[2];
    item.italic = style[3];
    item.underline = style[4];
    item.strikeOut = style[5];
    textItems_.push_back(std::move(item));
    ++result.records;
  }
  if (pulledBack) MarkPulledBack(kTextWhat, path, result);
  NoteLoad(path, result);
  return result;
}

// ---------------------------------------------------------------- grids

SaveResult DrawingStore::SaveGrid(const QString& path) {
  if (grid_.value == 0) return {SaveOutcome::Unchanged, {}};
  return WriteKind(kGridWhat, path,
                   {IntField(grid_.value, 6) + IntField(grid_.secondValue, 6) +
                    IntField(grid_.penColour, 12) + IntField(grid_.penWidth, 6)});
}

LoadResult DrawingStore::LoadGrid(const QString&) { return {}; }

SaveResult DrawingStore::SaveFreehandGrid(const QString& path) {
  if (freehandGrid_.on == 0) return DeleteKind(kFreehandGridWhat, path);
  const FreehandGrid& g = freehandGrid_;
  return WriteKind(kFreehandGridWhat, path,
                   {IntField(g.on, 6) + IntField(g.x1, 6) + IntField(g.y1, 6) + IntField(g.x2, 6) +
                    IntField(g.y2, 6) + IntField(g.penColour, 12) + IntField(g.penWidth, 6)});
}

LoadResult DrawingStore::LoadFreehandGrid(const QString& path) {
  LoadResult result;
  const std::optional<QString> text = OpenKind(kFreehandGridWhat, path, result);
  if (!text) return result;

  NumberReader reader(*text);
  std::array<int32_t, 7> v{};
  if (!ReadInts(reader, v)) {
    MarkDamaged(kFreehandGridWhat, path, result);
    NoteLoad(path, result);
    return result;
  }
  bool bounded = false;
  freehandGrid_ = {v[0],
                   BoundedCoordinate(v[1], bounded),
                   BoundedCoordinate(v[2], bounded),
                   BoundedCoordinate(v[3], bounded),
                   BoundedCoordinate(v[4], bounded),
                   v[5],
                   BoundedPenWidth(v[6], bounded)};
  result.records = 1;
  if (bounded) {
    modified_.shapes = true;
    MarkPulledBack(kFreehandGridWhat, path, result);
  }
  NoteLoad(path, result);
  return result;
}

// ---------------------------------------------------------------- angles

SaveResult DrawingStore::SaveAngles(const QString& path) {
  SaveResult r;
  if (angles_.empty()) {
    r = DeleteKind(kAnglesWhat, path);
  } else {
    QStringList lines;
    lines.reserve(static_cast<qsizetype>(angles_.size()));
    for (const AngleRecord& a : angles_)
      lines << RealField(a.x1, 9) + RealField(a.y1, 9) + RealField(a.x2, 9) + RealField(a.y2, 9) +
                   RealField(a.x3, 9) + RealField(a.y3, 9) + IntField(a.colour, 12) +
                   IntField(a.penWidth, 4);
    r = WriteKind(kAnglesWhat, path, lines);
  }
  if (r.ok()) modified_.angles = false;
  return r;
}

LoadResult DrawingStore::LoadAngles(const QString& path) {
  LoadResult result;
  const std::optional<QString> text = OpenKind(kAnglesWhat, path, result);
  if (!text) return result;

  angles_.clear();
  bool pulledBack = false;
  NumberReader reader(*text);
  while (static_cast<int>(angles_.size()) < kAngleCapacity && !reader.AtEnd()) {
    std::array<double, 6> p{};
    bool complete = true;
    for (double& c : p) {
      const std::optional<double> v = ReadReal(reader);
      if (!v) {
        complete = false;
        break;
      }
      c = *v;
    }
    std::array<int32_t, 2> colourAndWidth{};
    if (!complete || !ReadInts(reader, colourAndWidth)) {
      MarkDamaged(kAnglesWhat, path, result);
      break;
    }
    reader.SkipLine();
    bool bounded = false;
    const bool vertexInside = std::abs(p[2]) <= kCoordinateLimit && std::abs(p[3]) <= kCoordinateLimit;
    if (vertexInside) {
      // The arms shorten along themselves: the angle stays the one drawn.
      BoundArmEnd(p[2], p[3], p[0], p[1], bounded);
      BoundArmEnd(p[2], p[3], p[4], p[5], bounded);
    } else {
      for (double& c : p) c = BoundedCoordinate(c, bounded);
    }
    AngleRecord a;
    a.penWidth = BoundedPenWidth(colourAndWidth[1], bounded);
    if (bounded) {
      modified_.angles = true;
      pulledBack = true;
    }
    a.x1 = p[0], a.y1 = p[1], a.x2 = p[2], a.y2 = p[3], a.x3 = p[4], a.y3 = p[5];
    a.colour = colourAndWidth[0];
    a.result = ThreePointAngle(a.x1, a.y1, a.x2, a.y2, a.x3, a.y3);
    angles_.push_back(a);
    ++result.records;
  }
  if (pulledBack) MarkPulledBack(kAnglesWhat, path, result);
  NoteLoad(path, result);
  return result;
}

// ---------------------------------------------------------------- event lines

SaveResult DrawingStore::SaveEventLines(const QString& path) {
  QStringList lines;
  lines.reserve(static_cast<qsizetype>(eventLines_.size()));
  for (EventLineRecord& e : eventLines_) {
    // The field holds -1.00 to 9999.00; the record keeps what was written.
    if (std::isnan(e.distance) || e.distance < 0.0) e.distance = -1.0;
    if (e.distance > 9999.0) e.distance = 9999.0;
    lines << ShapeFields(e.shape) + RealField(e.distance, 8);
  }
  SaveResult r = WriteKind(kEventsWhat, path, lines);
  if (r.ok()) modified_.events = false;
  return r;
}

// ---------------------------------------------------------------- groups

SaveResult DrawingStore::SaveDrawings(const CompanionFileNames& names) {
  const SaveResult results[] = {SaveShapes(names.ShapesFile), SaveFreehand(names.FreehandFile),
                                SaveGrid(names.GridFile), SaveFreehandGrid(names.FreehandGridFile),
                                SaveTextItems(names.TextItemsFile)};
  for (const SaveResult& r : results)
    if (!r.ok()) return r;
  modified_.shapes = false;
  return {SaveOutcome::Written, {}};
}

LoadResult DrawingStore::LoadDrawings(const CompanionFileNames& names, int frameWidth,
                                      int frameHeight) {
  LoadGrid(names.GridFile);
  const LoadResult results[] = {LoadFreehandGrid(names.FreehandGridFile),
                                LoadShapes(names.ShapesFile, frameWidth, frameHeight),
                                LoadTextItems(names.TextItemsFile), LoadFreehand(names.FreehandFile)};
  LoadResult combined;
  for (const LoadResult& r : results) {
    if (r.FileFound() && combined.outcome == LoadOutcome::Missing) combined.outcome = LoadOutcome::Loaded;
    combined.records += r.records;
    if (r.report && !combined.report) {
      combined.outcome = r.outcome;
      combined.error = r.error;
      combined.report = true;
    }
  }
  return combined;
}

}  // namespace kestrom::annotation
