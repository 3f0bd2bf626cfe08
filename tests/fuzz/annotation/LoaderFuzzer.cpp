// libFuzzer target for one companion-file loader, chosen at compile time with
// -DKESTROM_FUZZ_LOADER=<n>. Arbitrary bytes must load without a crash, a hang or a record past
// a collection's capacity, draw at the smallest and largest zoom steps without a sanitizer
// report, and what was loaded must save and load again to the same bytes.

#include "analysis/annotation/DrawingStore.h"
#include "analysis/drawing/DrawingRenderer.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

using kestrom::annotation::DrawingStore;

namespace {

enum Loader { kMarkers = 1, kFreehand, kShapes, kTextItems, kFreehandGrid, kAngles };

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
  }
}

const QString& Folder() {
  static QTemporaryDir dir;
  static const QString path = dir.path();
  return path;
}

void Write(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  Check(f.open(QIODevice::WriteOnly | QIODevice::Truncate), "temporary file");
  f.write(bytes);
}

QByteArray Read(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
}

void CheckCapacities(const DrawingStore& s) {
  Check(s.FreehandPoints().size() <= DrawingStore::kFreehandCapacity, "freehand capacity");
  Check(s.Shapes().size() <= DrawingStore::kShapeCapacity, "shape capacity");
  Check(s.TextItems().size() <= DrawingStore::kTextItemCapacity, "text capacity");
  Check(s.Angles().size() <= DrawingStore::kAngleCapacity, "angle capacity");
}

constexpr int kFrameWidth = 720, kFrameHeight = 576;

// Draws the store as a window does, over a canvas a little larger than the picture.
void Draw(const DrawingStore& s) {
  for (const int step : {1, 30}) {
    kestrom::ui::Canvas canvas(400, 300);
    const auto view = kestrom::drawing::ZoomView::AtStep(step, 20, 30, kFrameWidth, kFrameHeight);
    kestrom::drawing::DrawingRenderer(canvas, s, view).RedrawOverlays();
  }
}

// Loads the file into a fresh store, checks it, draws it, saves it to `saved`.
void LoadAndSave(const QString& input, const QString& saved, double frameDuration) {
  DrawingStore s;
  switch (KESTROM_FUZZ_LOADER) {
    case kMarkers: {
      s.LoadMarkers(input, frameDuration);
      for (int n = 1; n <= DrawingStore::kMarkerCount; ++n)
        Check(!s.MarkerCaption(n, frameDuration).isEmpty(), "marker caption");
      s.SaveMarkers(saved);
      break;
    }
    case kFreehand:
      s.LoadFreehand(input);
      s.SaveFreehand(saved);
      break;
    case kShapes:
      s.LoadShapes(input, kFrameWidth, kFrameHeight);
      for (const auto& shape : s.Shapes())
        Check(shape.x1 >= 0 && shape.x2 >= 0 && shape.y1 >= 0 && shape.y2 >= 0 && shape.x1 <= kFrameWidth &&
                  shape.x2 <= kFrameWidth && shape.y1 <= kFrameHeight && shape.y2 <= kFrameHeight,
              "clamp");
      s.SaveShapes(saved);
      break;
    case kTextItems:
      s.LoadTextItems(input);
      s.SaveTextItems(saved);
      break;
    case kFreehandGrid:
      s.LoadFreehandGrid(input);
      s.SaveFreehandGrid(saved);
      break;
    case kAngles:
      s.LoadAngles(input);
      for (const auto& a : s.Angles())
        Check(!(a.result.interior < 0.0) && !(a.result.interior > 180.0), "interior in 0..180");
      s.SaveAngles(saved);
      break;
  }
  CheckCapacities(s);
  Draw(s);
}

}  // namespace

// Text is measured and drawn with real fonts, which need the application object.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static QGuiApplication app(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString input = Folder() + QStringLiteral("/input");
  const QString first = Folder() + QStringLiteral("/first");
  const QString second = Folder() + QStringLiteral("/second");
  QFile::remove(first);
  QFile::remove(second);
  Write(input, QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));

  // The first byte also picks an odd frame duration now and then, 0 included.
  const double durations[] = {40.0, 0.0, -1.0, 33.3667, 1e-9, 1e300};
  const double frameDuration = size > 0 ? durations[data[0] % 6] : 40.0;

  LoadAndSave(input, first, frameDuration);
  // What the store writes it reads back the same: saving again gives the same bytes.
  if (QFile::exists(first)) {
    LoadAndSave(first, second, frameDuration);
    Check(Read(first) == Read(second), "save after load is stable");
  }
  return 0;
}
