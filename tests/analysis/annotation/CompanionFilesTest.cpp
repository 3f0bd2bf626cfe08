#include "analysis/annotation/DrawingLimits.h"
#include "analysis/annotation/DrawingStore.h"

#include "platform/core/Format.h"
#include "tests/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

namespace kestrom::annotation {
namespace {

QByteArray ReadBytes(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return "<missing>";
  return f.readAll();
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
  f.write(bytes);
}

QString Golden(const QString& suffix) {
  return test::FixturesDir() + QStringLiteral("/annotation/clip") + suffix;
}

ShapeRecord Shape(ShapeKind kind, int x1, int y1, int x2, int y2, TColor pen, int width,
                  TColor brush, BrushStyle style) {
  return {kind, x1, y1, x2, y2, pen, width, brush, style};
}

// The drawings that the golden files in tests/fixtures/annotation hold.
void FillGolden(DrawingStore& s) {
  const int32_t markers[] = {12345, -1, 0, 40, -1, 999999, -1, 7};
  for (int n = 1; n <= 8; ++n) s.SetMarker(n, markers[n - 1]);

  s.AddFreehandPoint({1, 3, 100, 200, 255});
  s.AddFreehandPoint({2, 3, 110, 210, 255});
  s.AddFreehandPoint({2, 12, -5, 99999, 16777215});
  s.AddFreehandPoint({1, 100, 0, 0, core::clWindow});

  s.AddShape(Shape(ShapeKind::Line, 10, 20, 700, 500, 255, 2, 16777215, BrushStyle::Clear));
  s.AddShape(Shape(ShapeKind::Rectangle, -30, 40, 123456, 60, 65280, 1, 0, BrushStyle::Solid));
  s.AddShape(Shape(ShapeKind::Ellipse, 1, 2, 3, 4, 16711680, 12345, 255, BrushStyle::Cross));
  s.AddShape(Shape(ShapeKind::RoundRectangle, 5, 6, 7, 8, 0, 3, 8421504, BrushStyle::BDiagonal));
  s.AddShape(Shape(ShapeKind::Rectangle, 9, 9, 19, 19, 128, 1, 33023, BrushStyle::Horizontal));
  s.AddShape(Shape(ShapeKind::Ellipse, 0, 0, 10, 10, 0, 1, 0, BrushStyle::Vertical));

  s.AddTextItem({100, 50, "Hello coach", "DejaVu Sans", 0, 12, 1, 0, 1, 0});
  s.AddTextItem({0, -20, "", "Arial", 16711680, 8, 0, 0, 0, 1});

  s.SetGrid({5, 3, 255, 1});
  s.SetFreehandGrid({1, 100, 100, 120, 115, 65280, 1});

  s.AddAngle(2, 100, 200, 150, 150, 200, 200, 255);
  s.AddAngle(3, 0.5, 10.25, 300.75, 400, 123456.78, -7.25, 16711680);

  s.AddEventLine({Shape(ShapeKind::Line, 0, 0, 100, 100, 0, 2, 16777215, BrushStyle::Clear), 12.5});
  s.AddEventLine({Shape(ShapeKind::Line, 5, 5, 6, 6, 0, 2, 16777215, BrushStyle::Clear), -3});
  s.AddEventLine({Shape(ShapeKind::Rectangle, 1, 1, 2, 2, 255, 1, 0, BrushStyle::Solid), 12000});
}

class CompanionFiles : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
  QString Path(const QString& name) const { return dir_.filePath(name); }
  CompanionFileNames Names() const { return CompanionFileNames::ForVideo(Path("clip.avi")); }

  QTemporaryDir dir_;
  DrawingStore store_;
};

TEST(CompanionFileNamesTest, AreTheVideoPathLessFourCharactersPlusTheirSuffix) {
  const CompanionFileNames n = CompanionFileNames::ForVideo("/videos/long jump.avi");
  EXPECT_EQ(n.MarkersFile, "/videos/long jump.mrk");
  EXPECT_EQ(n.FreehandFile, "/videos/long jump.frh");
  EXPECT_EQ(n.ShapesFile, "/videos/long jump.shp");
  EXPECT_EQ(n.TextItemsFile, "/videos/long jump.str");
  EXPECT_EQ(n.GridFile, "/videos/long jump.grd");
  EXPECT_EQ(n.FreehandGridFile, "/videos/long jump.fhg");
  EXPECT_EQ(n.AnglesFile, "/videos/long jump.ang");
  EXPECT_EQ(n.EventLinesFile, "/videos/long jump.ent");
  EXPECT_EQ(CompanionFileNames::VideoNameOf("abc"), "");
}

TEST_F(CompanionFiles, WritesIntegersRightAlignedWithABlankBeforeAFullField) {
  const struct {
    int32_t value;
    const char* field;  // width 5, as the markers file writes it
  } cases[] = {
      {0, "    0"},       {-1, "   -1"},     {40, "   40"},          {9999, " 9999"},
      {12345, " 12345"},  {-1234, " -1234"}, {99999, " 99999"},     {2147483647, " 2147483647"},
      {-2147483647 - 1, " -2147483648"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    store_.SetMarker(1, c.value);
    ASSERT_TRUE(store_.SaveMarkers(Path("f.mrk")).ok());
    EXPECT_TRUE(ReadBytes(Path("f.mrk")).startsWith(c.field));
  }
}

TEST_F(CompanionFiles, WritesRealsWithTwoDecimalsRightAligned) {
  const struct {
    double value;
    const char* field;  // width 9, as the angles file writes coordinates
  } cases[] = {
      {100, "   100.00"}, {-7.25, "    -7.25"}, {12345.5, " 12345.50"}, {123456.78, " 123456.78"},
      {0.5, "     0.50"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    store_.ClearAngles();
    store_.AddAngle(1, c.value, 0, 0, 0, 1, 1, 0);
    ASSERT_TRUE(store_.SaveAngles(Path("f.ang")).ok());
    EXPECT_TRUE(ReadBytes(Path("f.ang")).startsWith(c.field)) << ReadBytes(Path("f.ang")).data();
  }
}

TEST_F(CompanionFiles, WritesEveryKindByteForByteAsTheGoldenFiles) {
  FillGolden(store_);
  const CompanionFileNames n = Names();
  EXPECT_EQ(store_.SaveMarkers(n.MarkersFile).outcome, SaveOutcome::Written);
  EXPECT_EQ(store_.SaveDrawings(n).outcome, SaveOutcome::Written);
  EXPECT_EQ(store_.SaveAngles(n.AnglesFile).outcome, SaveOutcome::Written);
  EXPECT_EQ(store_.SaveEventLines(n.EventLinesFile).outcome, SaveOutcome::Written);

  const std::pair<QString, QString> files[] = {
      {n.MarkersFile, ".mrk"},      {n.FreehandFile, ".frh"}, {n.ShapesFile, ".shp"},
      {n.TextItemsFile, ".str"},    {n.GridFile, ".grd"},     {n.FreehandGridFile, ".fhg"},
      {n.AnglesFile, ".ang"},       {n.EventLinesFile, ".ent"},
  };
  for (const auto& [written, suffix] : files) {
    SCOPED_TRACE(suffix.toStdString());
    EXPECT_EQ(ReadBytes(written), ReadBytes(Golden(suffix)));
  }
  // The event-line distances were brought into the field's range, and the store keeps that.
  EXPECT_EQ(store_.EventLines()[1].distance, -1.0);
  EXPECT_EQ(store_.EventLines()[2].distance, 9999.0);
  EXPECT_FALSE(store_.Modified().Any());
}

TEST_F(CompanionFiles, ReadsTheGoldenFilesBackIntoTheSameDrawings) {
  DrawingStore expected;
  FillGolden(expected);

  const CompanionFileNames golden = CompanionFileNames::ForVideo(Golden(".avi"));
  EXPECT_EQ(store_.LoadMarkers(golden.MarkersFile, 40.0).outcome, LoadOutcome::Loaded);
  EXPECT_EQ(store_.LoadDrawings(golden, 0, 0).outcome, LoadOutcome::Loaded);
  EXPECT_EQ(store_.LoadAngles(golden.AnglesFile).outcome, LoadOutcome::Loaded);

  // Values beyond what can be drawn come back within the loaders' bounds, which counts as a change.
  std::vector<FreehandPoint> points = expected.FreehandPoints();
  points[2].y = kCoordinateLimit;
  points[3].penWidth = kMaxPenWidth;
  EXPECT_EQ(store_.Markers(), expected.Markers());
  EXPECT_EQ(store_.FreehandPoints(), points);
  EXPECT_EQ(store_.TextItems(), expected.TextItems());
  EXPECT_EQ(store_.FreehandGridRecord(), expected.FreehandGridRecord());
  EXPECT_EQ(store_.Grid().value, 0) << "the calibrated grid is never read back";

  // Brush styles without a code of their own come back clear.
  std::vector<ShapeRecord> shapes = expected.Shapes();
  shapes[3].brushStyle = BrushStyle::Clear;
  shapes[1].x2 = kCoordinateLimit;
  shapes[2].penWidth = kMaxPenWidth;
  EXPECT_EQ(store_.Shapes(), shapes);

  ASSERT_EQ(store_.Angles().size(), 2u);
  EXPECT_EQ(store_.Angles()[0], expected.Angles()[0]);
  EXPECT_EQ(store_.Angles()[1].x3, kCoordinateLimit);
  EXPECT_NEAR(store_.Angles()[1].result.interior, expected.Angles()[1].result.interior, 0.005)
      << "its far arm was shortened along itself";
  // The sample line: vertex (150, 150), interior 90.00 and reflex 270.00, recomputed on reading.
  EXPECT_EQ(store_.Angles()[0].x2, 150.0);
  EXPECT_NEAR(store_.Angles()[0].result.interior, 90.0, 1e-9);
  EXPECT_NEAR(store_.Angles()[0].result.reflex, 270.0, 1e-9);
  EXPECT_EQ(store_.TextItems()[1].text, "") << "an empty text is an empty first line";
  EXPECT_TRUE(store_.Modified().shapes);
  EXPECT_TRUE(store_.Modified().angles);
  EXPECT_FALSE(store_.Modified().markers);
}

TEST_F(CompanionFiles, ReadsNoMoreThanEachCollectionHolds) {
  const struct {
    const char* name;
    QByteArray record;
    int capacity;
    std::function<LoadResult(DrawingStore&, const QString&)> load;
    std::function<size_t(const DrawingStore&)> count;
  } cases[] = {
      {"freehand", "  2  3  100  200    255\r\n", DrawingStore::kFreehandCapacity,
       [](DrawingStore& s, const QString& p) { return s.LoadFreehand(p); },
       [](const DrawingStore& s) { return s.FreehandPoints().size(); }},
      {"shapes", "  1    10    20   700   500         255    2    16777215    2\r\n",
       DrawingStore::kShapeCapacity,
       [](DrawingStore& s, const QString& p) { return s.LoadShapes(p, 720, 576); },
       [](const DrawingStore& s) { return s.Shapes().size(); }},
      {"text items", "T\r\n     1     2\r\nArial\r\n           0  12 0 0 0 0\r\n",
       DrawingStore::kTextItemCapacity,
       [](DrawingStore& s, const QString& p) { return s.LoadTextItems(p); },
       [](const DrawingStore& s) { return s.TextItems().size(); }},
      {"angles", "   100.00   200.00   150.00   150.00   200.00   200.00         255   2\r\n",
       DrawingStore::kAngleCapacity,
       [](DrawingStore& s, const QString& p) { return s.LoadAngles(p); },
       [](const DrawingStore& s) { return s.Angles().size(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // One record more than fits, and that last one differs so a wrong stop would show.
    QByteArray bytes = c.record.repeated(c.capacity);
    bytes += "garbage that is never read\r\n";
    WriteBytes(Path("full"), bytes);
    DrawingStore s;
    const LoadResult r = c.load(s, Path("full"));
    EXPECT_EQ(r.outcome, LoadOutcome::Loaded);
    EXPECT_EQ(r.records, c.capacity);
    EXPECT_EQ(c.count(s), static_cast<size_t>(c.capacity));
  }
}

TEST_F(CompanionFiles, TheTenThousandAndFirstPointIsNotRead) {
  QByteArray bytes;
  for (int i = 0; i < 10001; ++i)
    bytes += QByteArray("  2  1") + QByteArray::number(i).rightJustified(5) + "    7      0\r\n";
  WriteBytes(Path("many.frh"), bytes);
  EXPECT_EQ(store_.LoadFreehand(Path("many.frh")).records, 10000);
  ASSERT_EQ(store_.FreehandPoints().size(), 10000u);
  EXPECT_EQ(store_.FreehandPoints().back().x, 9999);
}

TEST_F(CompanionFiles, ReadsMarkersInMillisecondsOrAsFrameNumbersOfOlderFiles) {
  const struct {
    const char* name;
    QByteArray content;
    double frameDuration;
    std::array<int32_t, 8> markers;
    bool frameNumbers;
    QString caption1;
  } cases[] = {
      {"eight values", "   25   -1    0   -1   -1   -1   -1 3000\r\n", 40,
       {25, -1, 0, -1, -1, -1, -1, 3000}, false, "1"},
      {"a ninth value is ignored", "   25   -1   -1   -1   -1   -1   -1   -1    5\r\n", 40,
       {25, -1, -1, -1, -1, -1, -1, -1}, false, "1"},
      {"a tenth value of -100 keeps milliseconds",
       "   25   -1   -1   -1   -1   -1   -1   -1    0 -100\r\n", 40,
       {25, -1, -1, -1, -1, -1, -1, -1}, false, "1"},
      {"a tenth value of 5 means frame numbers",
       "   25   -1    0    3   -1   -1   -1   -1    0    5\r\n", 40,
       {1000, -1, 0, 120, -1, -1, -1, -1}, true, "25"},
      {"frame numbers on a video without a frame duration",
       "   25   -1   -1   -1   -1   -1   -1   -1 0 5\r\n", 0,
       {1000, -1, -1, -1, -1, -1, -1, -1}, true, "25"},
      {"a frame number whose time does not fit is dropped",
       " 2147483647 60000000   -1   -1   -1   -1   -1   -1 0 1\r\n", 40,
       {-1, -1, -1, -1, -1, -1, -1, -1}, true, "1"},
      {"values over several lines", "1000\n2000\n-1 -1 -1 -1 -1 -1", 40,
       {1000, 2000, -1, -1, -1, -1, -1, -1}, false, "25"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(Path("m.mrk"), c.content);
    DrawingStore s;
    const MarkersLoadResult r = s.LoadMarkers(Path("m.mrk"), c.frameDuration);
    EXPECT_EQ(r.outcome, LoadOutcome::Loaded);
    EXPECT_TRUE(r.captionsChanged);
    EXPECT_EQ(s.Markers(), c.markers);
    EXPECT_EQ(r.frameNumbers, c.frameNumbers);
    EXPECT_EQ(s.Modified().markers, c.frameNumbers);
    EXPECT_EQ(s.MarkerCaption(1, c.frameDuration), c.caption1);
  }
}

TEST_F(CompanionFiles, DamagedMarkersFilesLeaveTheMarkersAlone) {
  const QByteArray damaged[] = {
      "   25   -1    0\r\n",                                  // short
      "   25   -1    x   -1   -1   -1   -1   -1\r\n",         // a word
      "   25 99999999999   -1   -1   -1   -1   -1   -1\r\n",  // beyond 32 bits
  };
  for (const QByteArray& content : damaged) {
    SCOPED_TRACE(content.toStdString());
    WriteBytes(Path("m.mrk"), content);
    DrawingStore s;
    s.SetMarker(2, 480);
    const MarkersLoadResult r = s.LoadMarkers(Path("m.mrk"), 40);
    EXPECT_EQ(r.outcome, LoadOutcome::Damaged);
    EXPECT_FALSE(r.captionsChanged);
    EXPECT_TRUE(r.report) << "the coach is told, with the file's name";
    EXPECT_TRUE(r.error.contains(Path("m.mrk")));
    EXPECT_EQ(s.Marker(1), -1);
    EXPECT_EQ(s.Marker(2), 480);
  }
  EXPECT_EQ(store_.LoadMarkers(Path("none.mrk"), 40).outcome, LoadOutcome::Missing);
}

TEST_F(CompanionFiles, SavingMarkersClearsTheirFlagButResettingDoesNot) {
  store_.SetMarker(3, 2000);
  store_.Modified().markers = true;
  EXPECT_EQ(store_.MarkerCaption(3, 40), "50");
  ASSERT_TRUE(store_.SaveMarkers(Path("m.mrk")).ok());
  EXPECT_FALSE(store_.Modified().markers);
  EXPECT_EQ(ReadBytes(Path("m.mrk")), "   -1   -1 2000   -1   -1   -1   -1   -1\r\n");

  store_.Modified().markers = true;
  store_.ResetMarkers();
  EXPECT_TRUE(store_.Modified().markers);
  for (int n = 1; n <= 8; ++n) EXPECT_EQ(store_.MarkerCaption(n, 40), QString::number(n));
}

TEST_F(CompanionFiles, ShapesBeyondTheFrameArePulledBackToItsEdge) {
  WriteBytes(Path("s.shp"),
             "  1    10    20   800   500         255    2    16777215    2\r\n"
             "  2   730   600   100   577           0    1           0    1\r\n");
  const LoadResult r = store_.LoadShapes(Path("s.shp"), 720, 576);
  EXPECT_EQ(r.outcome, LoadOutcome::Loaded);
  ASSERT_EQ(store_.Shapes().size(), 2u);
  EXPECT_EQ(store_.Shapes()[0].x2, 720);
  EXPECT_EQ(store_.Shapes()[0].y2, 500);
  EXPECT_EQ(store_.Shapes()[1].x1, 720);
  EXPECT_EQ(store_.Shapes()[1].y1, 576);
  EXPECT_EQ(store_.Shapes()[1].y2, 576);
  EXPECT_TRUE(store_.Modified().shapes);

  DrawingStore inside;
  inside.LoadShapes(Path("s.shp"), 1920, 1080);
  EXPECT_EQ(inside.Shapes()[0].x2, 800);
  EXPECT_FALSE(inside.Modified().shapes);
}

TEST_F(CompanionFiles, UnknownCodesReadAsLineAndClear) {
  WriteBytes(Path("s.shp"), "  9     1     2     3     4           0    1           0   77\r\n");
  store_.LoadShapes(Path("s.shp"), 720, 576);
  ASSERT_EQ(store_.Shapes().size(), 1u);
  EXPECT_EQ(store_.Shapes()[0].kind, ShapeKind::Line);
  EXPECT_EQ(store_.Shapes()[0].brushStyle, BrushStyle::Clear);
}

TEST_F(CompanionFiles, SavingAKindWithNothingLeftDeletesItsOldFile) {
  FillGolden(store_);
  const CompanionFileNames n = Names();
  ASSERT_TRUE(store_.SaveDrawings(n).ok());
  ASSERT_TRUE(store_.SaveAngles(n.AnglesFile).ok());

  store_.ClearDrawings();
  store_.ClearAngles();
  store_.Modified().angles = true;
  EXPECT_EQ(store_.SaveShapes(n.ShapesFile).outcome, SaveOutcome::Deleted);
  EXPECT_EQ(store_.SaveFreehand(n.FreehandFile).outcome, SaveOutcome::Deleted);
  EXPECT_EQ(store_.SaveFreehandGrid(n.FreehandGridFile).outcome, SaveOutcome::Deleted);
  EXPECT_EQ(store_.SaveTextItems(n.TextItemsFile).outcome, SaveOutcome::Deleted);
  EXPECT_EQ(store_.SaveAngles(n.AnglesFile).outcome, SaveOutcome::Deleted);
  EXPECT_EQ(store_.SaveGrid(n.GridFile).outcome, SaveOutcome::Unchanged);
  for (const QString& gone : {n.ShapesFile, n.FreehandFile, n.FreehandGridFile, n.TextItemsFile, n.AnglesFile})
    EXPECT_FALSE(QFile::exists(gone)) << gone.toStdString();
  EXPECT_TRUE(QFile::exists(n.GridFile)) << "the calibrated grid file stays";
  EXPECT_FALSE(store_.Modified().angles);

  // Saving nothing again, with no file left, is no failure; loading gives nothing back.
  EXPECT_EQ(store_.SaveShapes(n.ShapesFile).outcome, SaveOutcome::Unchanged);
  EXPECT_EQ(store_.LoadDrawings(n, 720, 576).outcome, LoadOutcome::Missing);
  EXPECT_TRUE(store_.Shapes().empty());
}

TEST_F(CompanionFiles, EventLinesAreWrittenEvenWhenThereAreNone) {
  store_.Modified().events = true;
  EXPECT_EQ(store_.SaveEventLines(Path("e.ent")).outcome, SaveOutcome::Written);
  EXPECT_EQ(ReadBytes(Path("e.ent")), "");
  EXPECT_FALSE(store_.Modified().events);
}

TEST_F(CompanionFiles, AFailedSaveIsReportedAndKeepsTheFlag) {
  WriteBytes(Path("plain-file"), "x");
  const QString folders[] = {Path("missing-folder"), Path("plain-file")};
  for (const QString& folder : folders) {
    SCOPED_TRACE(folder.toStdString());
    DrawingStore s;
    FillGolden(s);
    s.Modified() = {true, true, true, true};
    const CompanionFileNames n = CompanionFileNames::ForVideo(folder + "/clip.avi");

    const SaveResult results[] = {s.SaveMarkers(n.MarkersFile), s.SaveAngles(n.AnglesFile),
                                  s.SaveEventLines(n.EventLinesFile), s.SaveDrawings(n)};
    for (const SaveResult& r : results) {
      EXPECT_EQ(r.outcome, SaveOutcome::Failed);
      EXPECT_TRUE(r.error.contains(folder)) << r.error.toStdString();
    }
    EXPECT_TRUE(s.Modified().markers);
    EXPECT_TRUE(s.Modified().angles);
    EXPECT_TRUE(s.Modified().events);
    EXPECT_TRUE(s.Modified().shapes);
  }
}

TEST_F(CompanionFiles, AnOldFileThatCannotBeDeletedIsReported) {
  // A folder standing where the shapes file would be cannot be removed as a file.
  ASSERT_TRUE(QDir(dir_.path()).mkpath("clip.shp/inside"));
  store_.Modified().shapes = true;
  const SaveResult r = store_.SaveDrawings(Names());
  EXPECT_EQ(r.outcome, SaveOutcome::Failed);
  EXPECT_TRUE(r.error.contains("clip.shp"));
  EXPECT_TRUE(store_.Modified().shapes);
}

TEST_F(CompanionFiles, ReadsWindowsTextItemsAndKeepsEveryRecordOnItsFourLines) {
  // Windows-1252: é is 0xE9, € is 0x80.
  WriteBytes(Path("w.str"),
             "Caf\xE9 \x80 5\r\n    10    20\r\nArial\r\n           0  12 0 0 0 0\r\n");
  ASSERT_EQ(store_.LoadTextItems(Path("w.str")).outcome, LoadOutcome::Loaded);
  ASSERT_EQ(store_.TextItems().size(), 1u);
  EXPECT_EQ(store_.TextItems()[0].text, QString::fromUtf8("Café € 5"));
  EXPECT_EQ(store_.TextItems()[0].x, 10);

  // A line break typed into a text or a font name must not split the record.
  store_.AddTextItem({1, 2, "two\nlines", "Odd\r\nFont", 0, 9, 0, 0, 0, 0});
  store_.AddTextItem({3, 4, "after", "Arial", 255, 10, 1, 1, 1, 1});
  ASSERT_TRUE(store_.SaveTextItems(Path("t.str")).ok());
  DrawingStore back;
  ASSERT_EQ(back.LoadTextItems(Path("t.str")).outcome, LoadOutcome::Loaded);
  ASSERT_EQ(back.TextItems().size(), 3u);
  EXPECT_EQ(back.TextItems()[0].text, QString::fromUtf8("Café € 5"));
  EXPECT_EQ(back.TextItems()[1].text, "two lines");
  EXPECT_EQ(back.TextItems()[1].fontName, "Odd  Font");
  EXPECT_EQ(back.TextItems()[2], store_.TextItems()[2]);
}

TEST_F(CompanionFiles, AMissingFileLeavesTheCurrentDrawings) {
  FillGolden(store_);
  const CompanionFileNames n = Names();
  EXPECT_EQ(store_.LoadTextItems(n.TextItemsFile).outcome, LoadOutcome::Missing);
  EXPECT_EQ(store_.LoadShapes(n.ShapesFile, 720, 576).outcome, LoadOutcome::Missing);
  EXPECT_EQ(store_.LoadAngles(n.AnglesFile).outcome, LoadOutcome::Missing);
  EXPECT_EQ(store_.TextItems().size(), 2u);
  EXPECT_EQ(store_.Shapes().size(), 6u);
  EXPECT_EQ(store_.Angles().size(), 2u);
}

TEST_F(CompanionFiles, ADamagedFileKeepsTheRecordsReadBeforeTheDamage) {
  const struct {
    const char* name;
    QByteArray content;
    std::function<LoadResult(DrawingStore&, const QString&)> load;
    int records;
  } cases[] = {
      {"freehand", "  1  3  100  200    255\r\n  2  3  1O1  200    255\r\n",
       [](DrawingStore& s, const QString& p) { return s.LoadFreehand(p); }, 1},
      {"shapes cut short", "  1 1 2 3 4 0 1 0 1\r\n  2 1 2 3 4 0 1\r\n",
       [](DrawingStore& s, const QString& p) { return s.LoadShapes(p, 720, 576); }, 1},
      {"text item cut short", "A\r\n 1 2\r\nArial\r\n 0 12 0 0 0 0\r\nB\r\n 1 2\r\nArial\r\n",
       [](DrawingStore& s, const QString& p) { return s.LoadTextItems(p); }, 1},
      {"angle with nan", "1 2 3 4 5 6 255 2\r\n1 2 nan 4 5 6 255 2\r\n",
       [](DrawingStore& s, const QString& p) { return s.LoadAngles(p); }, 1},
      {"freehand grid", "     1   100   100   120\r\n",
       [](DrawingStore& s, const QString& p) { return s.LoadFreehandGrid(p); }, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(Path("damaged"), c.content);
    DrawingStore s;
    const LoadResult r = c.load(s, Path("damaged"));
    EXPECT_EQ(r.outcome, LoadOutcome::Damaged);
    EXPECT_EQ(r.records, c.records);
    // Every kind tells the coach, naming the file, and a save will ask before replacing it.
    EXPECT_TRUE(r.report);
    EXPECT_TRUE(r.error.contains("damaged"));
    EXPECT_TRUE(r.error.contains(Path("damaged")));
    EXPECT_TRUE(s.LoadedPartly(Path("damaged")));
    // Counted as a coach would say it.
    EXPECT_TRUE(r.error.endsWith(c.records == 0 ? "; none of its records could be read."
                                                : "; only its first record was read."))
        << r.error.toStdString();
  }
  WriteBytes(Path("damaged"), "  1  3  100  200    255\r\n  2  3  101  200    255\r\n  2  3  x\r\n");
  DrawingStore s;
  EXPECT_TRUE(s.LoadFreehand(Path("damaged")).error.endsWith("; only its first 2 records were read."));
}

TEST_F(CompanionFiles, ValuesPulledIntoTheDrawableRangeAreReportedAsADamagedFileIs) {
  const struct {
    const char* name;
    QByteArray content;
    std::function<LoadResult(DrawingStore&, const QString&)> load;
  } cases[] = {
      {"freehand point far away", "  1  3  100 99999    255\r\n",
       [](DrawingStore& s, const QString& p) { return s.LoadFreehand(p); }},
      {"shape pen too wide", "  1 1 2 3 4 0 12345 0 1\r\n",
       [](DrawingStore& s, const QString& p) { return s.LoadShapes(p, 720, 576); }},
      {"text far away and too large", "A\r\n -99999 2\r\nArial\r\n 0 999 0 0 0 0\r\n",
       [](DrawingStore& s, const QString& p) { return s.LoadTextItems(p); }},
      {"freehand grid pen of no width", "     1   100   100   120   115       65280     0\r\n",
       [](DrawingStore& s, const QString& p) { return s.LoadFreehandGrid(p); }},
      {"angle beyond the range", "100000000000.00 50.00 100.00 50.00 100000000000.00 100000000000.00 255 2\r\n",
       [](DrawingStore& s, const QString& p) { return s.LoadAngles(p); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(Path("pulled"), c.content);
    DrawingStore s;
    const LoadResult r = c.load(s, Path("pulled"));
    EXPECT_EQ(r.records, 1) << "the record itself is kept";
    EXPECT_TRUE(r.report);
    EXPECT_TRUE(r.error.contains(Path("pulled")));
    EXPECT_TRUE(s.LoadedPartly(Path("pulled"))) << "a save asks before replacing the file";
  }

  // A shape corner beyond the frame's edge is pulled to the edge without a word, as before.
  WriteBytes(Path("edge.shp"), "  1    10    20   800   500         255    2    16777215    2\r\n");
  DrawingStore edge;
  EXPECT_FALSE(edge.LoadShapes(Path("edge.shp"), 720, 576).report);
  EXPECT_FALSE(edge.LoadedPartly(Path("edge.shp")));
}

TEST_F(CompanionFiles, AnglesPulledIntoTheDrawableRangeKeepTheirMeasure) {
  // Each arm is shortened along its own direction from the vertex, so the angle stays as drawn.
  WriteBytes(Path("far.ang"),
             "100000000000.00 50.00 100.00 50.00 100000000000.00 100000000000.00 255 2\r\n"
             "-100000000000.00 50.00 100.00 50.00 -100000000000.00 -100000000000.00 255 2\r\n"
             "0.00 0.00 -100000000000.00 0.00 0.00 100.00 255 2\r\n");
  const LoadResult r = store_.LoadAngles(Path("far.ang"));
  EXPECT_TRUE(r.report);
  const double expected[] = {45.0, 45.0, 0.0};
  ASSERT_EQ(store_.Angles().size(), 3u);
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    const AngleRecord& a = store_.Angles()[i];
    EXPECT_EQ(core::Printf("%.2f", a.result.interior), core::Printf("%.2f", expected[i]));
    EXPECT_EQ(core::Printf("%.2f", a.result.reflex), core::Printf("%.2f", 360.0 - expected[i]));
    for (double v : {a.x1, a.y1, a.x2, a.y2, a.x3, a.y3}) {
      EXPECT_LE(v, kCoordinateLimit);
      EXPECT_GE(v, -kCoordinateLimit);
    }
  }
  // A vertex beyond the range moves to its edge; the angle then cannot always stay, but every
  // point is drawable.
  const AngleRecord& far = store_.Angles()[2];
  EXPECT_EQ(far.x2, -kCoordinateLimit);
  for (double v : {far.x1, far.y1, far.x3, far.y3}) EXPECT_LE(std::abs(v), kCoordinateLimit);
}

TEST_F(CompanionFiles, LoadingDrawingsReportsTheFirstDamagedFile) {
  const CompanionFileNames n = Names();
  WriteBytes(n.FreehandGridFile, "     1   100   100   120   115       65280     1\r\n");
  LoadResult r = store_.LoadDrawings(n, 720, 576);
  EXPECT_EQ(r.outcome, LoadOutcome::Loaded);
  EXPECT_FALSE(r.report);
  EXPECT_EQ(store_.FreehandGridRecord().x2, 120);

  // A damaged second text item: the first stays, and the coach is told.
  WriteBytes(n.TextItemsFile, "A\r\n 1 2\r\nArial\r\n 0 12 0 0 0 0\r\nB\r\n 1 2\r\nArial\r\n 0 12 0 0\r\n");
  r = store_.LoadDrawings(n, 720, 576);
  EXPECT_TRUE(r.report);
  EXPECT_TRUE(r.error.contains(n.TextItemsFile));
  EXPECT_EQ(store_.TextItems().size(), 1u);
  EXPECT_TRUE(store_.LoadedPartly(n.TextItemsFile));
  WriteBytes(n.TextItemsFile, "A\r\n 1 2\r\nArial\r\n 0 12 0 0 0 0\r\n");

  WriteBytes(n.ShapesFile, "  1 1 2 3 4 0 1 0 1\r\n  2 1 2 x\r\n");
  r = store_.LoadDrawings(n, 720, 576);
  EXPECT_TRUE(r.report);
  EXPECT_EQ(r.outcome, LoadOutcome::Damaged);
  EXPECT_TRUE(r.error.contains(n.ShapesFile));
  EXPECT_EQ(store_.Shapes().size(), 1u);
}

}  // namespace
}  // namespace kestrom::annotation
