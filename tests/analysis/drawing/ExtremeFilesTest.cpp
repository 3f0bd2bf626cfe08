// Hand-edited companion files with the most extreme numbers their fields hold: each must load,
// draw at the smallest, normal and largest zoom steps without a sanitizer report (this suite
// runs under UndefinedBehaviorSanitizer, which stops on the first overflow) with every value
// within the loaders' bounds, and save what was drawn.

#include "analysis/annotation/DrawingLimits.h"
#include "analysis/drawing/DrawingRenderer.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kestrom::drawing {
namespace {

using annotation::DrawingStore;

constexpr int kFrameWidth = 320, kFrameHeight = 240;
// The canvas is larger than the picture, as the window's client area is.
constexpr int kCanvasWidth = 1200, kCanvasHeight = 900;
constexpr int kPictureLeft = 40, kPictureTop = 60;

struct ExtremeFile {
  const char* name;
  const char* suffix;
  const char* content;
};

const ExtremeFile kFiles[] = {
    {"freehand", ".frh",
     "  1 2147483647 2147483647 -2147483648 255\r\n  2 -2147483648 -2147483648 2147483647 255\r\n"
     "  2   3    10    10   0\r\n"},
    {"shapes", ".shp",
     "  2 -2147483648 -2147483648 2147483647 2147483647 255 2147483647 65280 1\r\n"
     "  4 -2147483648 100 2147483647 -2147483648 255 -2147483648 65280 5\r\n"
     "  3 2147483647 2147483647 -2147483648 -2147483648 255 5 65280 2\r\n"
     "  1 -2147483648 2147483647 2147483647 -2147483648 255 2147483647 0 1\r\n"},
    {"text", ".str",
     "far away\r\n2147483647 -2147483648\r\nDejaVu Sans\r\n255 2147483647 1 1 1 1\r\n"
     "tiny\r\n-2147483648 2147483647\r\nDejaVu Sans\r\n255 -2147483648 0 0 0 0\r\n"},
    {"freehand grid", ".fhg", "1 -2147483648 2147483647 2147483647 -2147483648 255 2147483647\r\n"},
    {"angles", ".ang",
     "1e308 -1e308 0.00 0.00 -1e308 1e308 255 2147483647\r\n"
     "99999999999.00 5.00 6.00 7.00 8.00 9.00 255 -2147483648\r\n"},
};

void Write(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

QByteArray Read(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void LoadKind(DrawingStore& store, const QString& suffix, const QString& path) {
  if (suffix == ".frh") store.LoadFreehand(path);
  if (suffix == ".shp") store.LoadShapes(path, kFrameWidth, kFrameHeight);
  if (suffix == ".str") store.LoadTextItems(path);
  if (suffix == ".fhg") store.LoadFreehandGrid(path);
  if (suffix == ".ang") store.LoadAngles(path);
}

void SaveKind(DrawingStore& store, const QString& suffix, const QString& path) {
  if (suffix == ".frh") store.SaveFreehand(path);
  if (suffix == ".shp") store.SaveShapes(path);
  if (suffix == ".str") store.SaveTextItems(path);
  if (suffix == ".fhg") store.SaveFreehandGrid(path);
  if (suffix == ".ang") store.SaveAngles(path);
}

// True when every value that reaches the drawing code lies within the loaders' bounds.
bool WithinBounds(const DrawingStore& s) {
  using namespace annotation;
  auto coordinate = [](double v) { return v >= -kCoordinateLimit && v <= kCoordinateLimit; };
  auto pen = [](int w) { return w >= kMinPenWidth && w <= kMaxPenWidth; };
  for (const auto& p : s.FreehandPoints())
    if (!coordinate(p.x) || !coordinate(p.y) || !pen(p.penWidth)) return false;
  for (const auto& r : s.Shapes())
    if (r.x1 < 0 || r.x2 > kFrameWidth || r.y1 < 0 || r.y2 > kFrameHeight || !pen(r.penWidth)) return false;
  for (const auto& t : s.TextItems())
    if (!coordinate(t.x) || !coordinate(t.y) || t.fontSize < kMinFontSize || t.fontSize > kMaxFontSize) return false;
  for (const auto& a : s.Angles())
    if (!coordinate(a.x1) || !coordinate(a.y3) || !pen(a.penWidth)) return false;
  const FreehandGrid& g = s.FreehandGridRecord();
  return coordinate(g.x1) && coordinate(g.y2) && pen(g.penWidth);
}

TEST(ExtremeFiles, LoadDrawAtEveryZoomAndSaveWhatWasDrawn) {
  for (const ExtremeFile& file : kFiles) {
    SCOPED_TRACE(file.name);
    QTemporaryDir dir;
    const QString suffix = QString::fromLatin1(file.suffix);
    const QString input = dir.filePath("clip" + suffix), saved = dir.filePath("saved" + suffix);
    Write(input, file.content);

    DrawingStore store;
    LoadKind(store, suffix, input);
    ASSERT_FALSE(store.FreehandPoints().empty() && store.Shapes().empty() && store.TextItems().empty() &&
                 store.Angles().empty() && store.FreehandGridRecord().on == 0);
    EXPECT_TRUE(WithinBounds(store));
    for (const int step : {1, 10, 30}) {
      SCOPED_TRACE(step);
      ui::Canvas canvas(kCanvasWidth, kCanvasHeight);
      const ZoomView view = ZoomView::AtStep(step, kPictureLeft, kPictureTop, kFrameWidth, kFrameHeight);
      DrawingRenderer(canvas, store, view).RedrawOverlays();
    }

    // The save holds what was drawn: reading it back gives the same store, and saving that the
    // same bytes.
    SaveKind(store, suffix, saved);
    DrawingStore reread;
    LoadKind(reread, suffix, saved);
    EXPECT_EQ(reread.FreehandPoints(), store.FreehandPoints());
    EXPECT_EQ(reread.Shapes(), store.Shapes());
    EXPECT_EQ(reread.TextItems(), store.TextItems());
    EXPECT_EQ(reread.FreehandGridRecord(), store.FreehandGridRecord());
    ASSERT_EQ(reread.Angles().size(), store.Angles().size());
    for (size_t i = 0; i < store.Angles().size(); ++i) {
      EXPECT_EQ(reread.Angles()[i].x1, store.Angles()[i].x1);
      EXPECT_EQ(reread.Angles()[i].penWidth, store.Angles()[i].penWidth);
    }
    SaveKind(reread, suffix, dir.filePath("again" + suffix));
    EXPECT_EQ(Read(dir.filePath("again" + suffix)), Read(saved));
  }
}

TEST(ExtremeFiles, CanvasDrawsAnyValueAProgramSets) {
  // Beyond what a loader lets in: the canvas itself must stay defined for every int.
  constexpr int kMin = std::numeric_limits<int>::min(), kMax = std::numeric_limits<int>::max();
  ui::Canvas canvas(200, 150);
  for (const int width : {kMin, -1, 0, 1, 7, kMax}) {
    canvas.Pen.Width = width;
    canvas.Brush.Style = ui::BrushStyle::Solid;
    for (const ui::PenMode mode : {ui::PenMode::Copy, ui::PenMode::NotXor}) {
      canvas.Pen.Mode = mode;
      canvas.Rectangle(kMin, kMin, kMax, kMax);
      canvas.Rectangle(kMax, 10, kMin, 20);
      canvas.Ellipse(kMin, 5, kMax, 50);
      canvas.RoundRect(kMin, kMin, kMax, kMax, kMin, kMax);
      canvas.MoveTo(kMin, kMax);
      canvas.LineTo(kMax, kMin);
      canvas.Polyline({{kMin, kMin}, {100, 75}, {kMax, kMin}});
    }
  }
  for (const int size : {kMin, 0, kMax}) {
    canvas.Font.size = size;
    canvas.TextOut(kMax, kMin, QStringLiteral("x"));
    canvas.TextOut(10, 10, QStringLiteral("x"));
    EXPECT_GT(canvas.TextHeight(QStringLiteral("x")), 0);
  }
  EXPECT_EQ(ui::FontPixelSize(kMin), ui::kMaxFontPixelSize);
  EXPECT_EQ(ui::FontPixelSize(12), 16);
}

}  // namespace
}  // namespace kestrom::drawing
