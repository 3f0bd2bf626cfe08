#include "capture/engine/MotionDetector.h"

#include <QRect>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace kestrom::engine::test {

using core::FramePixels;

namespace {

// A frame in a buffer of exactly its size, so a read past it is caught by the sanitizer.
struct Frame {
  std::unique_ptr<uchar[]> bytes;
  core::FrameBits bits;

  Frame(int width, int height, FramePixels format = FramePixels::Rgb24, qsizetype stride = 0, uchar value = 0x40) {
    bits.Width = width;
    bits.Height = height;
    bits.Format = format;
    bits.Stride = stride;
    bytes = std::make_unique<uchar[]>(size_t(bits.ImageBytes()));
    bits.Bits = bytes.get();
    std::memset(bytes.get(), value, size_t(bits.ImageBytes()));
  }
  Frame(const Frame& other) : Frame(other.bits.Width, other.bits.Height, other.bits.Format, other.bits.Stride) {
    std::memcpy(bytes.get(), other.bytes.get(), size_t(bits.ImageBytes()));
  }
  // Sets every byte of the pixels in the area, measured from the picture's top.
  Frame& Paint(const QRect& area, uchar value) {
    for (int y = area.top(); y <= area.bottom(); ++y)
      for (int x = area.left(); x <= area.right(); ++x)
        std::fill_n(bits.Row(y) + qsizetype(x) * bits.BytesPerPixel(), bits.BytesPerPixel(), value);
    return *this;
  }
  const core::FrameBits* operator->() const { return &bits; }
  const core::FrameBits* get() const { return &bits; }
};

// A detector primed on the first frame, so the next call compares.
TImplMotionDetector Primed(const Frame& first, int columns = 10, int rows = 10) {
  TImplMotionDetector d;
  d.Enabled = true;
  d.SetGridSize(columns, rows);
  EXPECT_FALSE(d.Detect(nullptr, first.get(), 1, 1));
  EXPECT_FALSE(d.Detect(first.get(), first.get(), 2, 2)) << "the first comparison after a grid change";
  return d;
}

std::vector<QPoint> CellsWithChanges(const TImplMotionDetector& d) {
  std::vector<QPoint> cells;
  for (int r = 0; r < d.Rows(); ++r)
    for (int c = 0; c < d.Columns(); ++c)
      if (d.ChangedCount(c, r) > 0) cells.emplace_back(c, r);
  return cells;
}

}  // namespace

TEST(MotionDetector, StartsWithTenByTenFivesAndValidatesGridTexts) {
  TImplMotionDetector d;
  EXPECT_EQ(d.Columns(), 10);
  EXPECT_EQ(d.Rows(), 10);
  EXPECT_EQ(d.GridText(), QStringList(10, "5555555555").join(' '));
  EXPECT_EQ(d.CellThreshold(9, 9), 116);

  EXPECT_TRUE(d.SetGridSize(3, 2));
  d.SetGrid("120 987 ");  // trailing blank tolerated
  EXPECT_TRUE(d.GridValid());
  EXPECT_EQ(d.GridText(), "120 987");
  EXPECT_EQ(d.CellDigit(0, 0), 1);
  EXPECT_EQ(d.CellDigit(2, 0), 0);
  EXPECT_EQ(d.CellDigit(0, 1), 9);
  EXPECT_EQ(d.CellThreshold(2, 0), 256);
  EXPECT_EQ(d.CellThreshold(0, 1), 4);

  for (const char* bad : {"120", "120-987", "12a 987", " 120 987", "1200987"}) {
    SCOPED_TRACE(bad);
    d.SetGrid(bad);
    EXPECT_FALSE(d.GridValid());
    EXPECT_EQ(d.GridText(), "120 987") << "the previous grid stays";
    EXPECT_EQ(d.CellDigit(0, 1), 9);
  }
  TImplMotionDetector ten;
  ten.SetGrid("5555555555 1111111111");  // two groups for ten rows
  EXPECT_FALSE(ten.GridValid());
  EXPECT_EQ(ten.CellDigit(0, 1), 5);

  d.SetCell(1, 1, 3);
  EXPECT_EQ(d.GridText(), "120 937");
  d.SetGrid("120 987");  // the earlier text restores the cell
  EXPECT_EQ(d.CellDigit(1, 1), 8);
  d.SetAllCells(0);
  EXPECT_EQ(d.GridText(), "000 000");
  EXPECT_FALSE(d.SetGridSize(0, 4));
  EXPECT_FALSE(d.SetGridSize(4, -1));
}

TEST(MotionDetector, ReportsTheShareOfSampledPixelsThatChanged) {
  const Frame still(40, 20);
  TImplMotionDetector d = Primed(still);
  EXPECT_FALSE(d.Detect(still.get(), still.get(), 3, 3)) << "nothing changed";
  EXPECT_EQ(d.Level(), 0);

  Frame moved(still);
  moved.Paint(QRect(0, 0, 10, 20), 0xF0);  // a quarter of the picture
  ASSERT_TRUE(d.Detect(still.get(), moved.get(), 4, 7));
  EXPECT_DOUBLE_EQ(d.Level(), 0.25);
  EXPECT_EQ(d.Mark1(), 4);
  EXPECT_EQ(d.Mark2(), 7);

  // A difference at or below a cell's threshold is no change; digit 9 sees it.
  Frame faint(still);
  faint.Paint(QRect(0, 0, 40, 20), 0x40 + 100);
  EXPECT_FALSE(d.Detect(still.get(), faint.get(), 5, 5));
  d.SetAllCells(9);
  ASSERT_TRUE(d.Detect(still.get(), faint.get(), 6, 6));
  EXPECT_DOUBLE_EQ(d.Level(), 1.0);
}

TEST(MotionDetector, TopAndBottomHalvesWeighEqually) {
  const Frame still(64, 48);
  Frame top(still), bottom(still);
  top.Paint(QRect(0, 0, 64, 24), 0xFF);
  bottom.Paint(QRect(0, 24, 64, 24), 0xFF);
  TImplMotionDetector d = Primed(still, 1, 1);
  ASSERT_TRUE(d.Detect(still.get(), top.get(), 3, 3));
  const double topLevel = d.Level();
  ASSERT_TRUE(d.Detect(still.get(), bottom.get(), 4, 4));
  EXPECT_DOUBLE_EQ(topLevel, 0.5);
  EXPECT_DOUBLE_EQ(d.Level(), 0.5);
}

TEST(MotionDetector, FindsAChangeInItsCellAfterTheGridChanges) {
  struct Case { const char* name; int height; qsizetype stride; };
  const Case cases[] = {
      {"bottom-up", 40, 0},
      {"top-down", -40, 0},
      {"padded rows", 40, 256},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Frame still(62, c.height, FramePixels::Rgb24, c.stride);
    Frame corner(still);
    corner.Paint(QRect(58, 36, 4, 4), 0xFF);  // bottom-right corner
    TImplMotionDetector d = Primed(still);
    ASSERT_TRUE(d.Detect(still.get(), corner.get(), 3, 3));
    EXPECT_EQ(CellsWithChanges(d), std::vector<QPoint>{QPoint(9, 9)});

    ASSERT_TRUE(d.SetGridSize(3, 2));
    EXPECT_FALSE(d.Detect(still.get(), corner.get(), 4, 4)) << "the first comparison after a grid change";
    ASSERT_TRUE(d.Detect(still.get(), corner.get(), 5, 5));
    EXPECT_EQ(CellsWithChanges(d), std::vector<QPoint>{QPoint(2, 1)});
    EXPECT_EQ(d.SampledCount(2, 1), (62 - 41) * 20);

    ASSERT_TRUE(d.SetGridSize(12, 8));  // growing reaches the last cells too
    d.Detect(still.get(), corner.get(), 6, 6);
    ASSERT_TRUE(d.Detect(still.get(), corner.get(), 7, 7));
    EXPECT_EQ(CellsWithChanges(d), std::vector<QPoint>{QPoint(11, 7)});
  }
}

TEST(MotionDetector, PaddingBytesAreNeverCompared) {
  // 30 pixels of 3 bytes leave 2 padding bytes a row; the stride of 100 leaves 10.
  for (qsizetype stride : {qsizetype(0), qsizetype(100)}) {
    SCOPED_TRACE(stride);
    const Frame still(30, 10, FramePixels::Rgb24, stride);
    Frame padded(still);
    const size_t padding = size_t(padded->RowBytes() - 90);
    for (int y = 0; y < 10; ++y) std::memset(padded.bits.Row(y) + 90, 0xFF, padding);
    TImplMotionDetector d = Primed(still, 1, 1);
    EXPECT_FALSE(d.Detect(still.get(), padded.get(), 3, 3));
    Frame lastColumn(still);
    lastColumn.Paint(QRect(29, 0, 1, 10), 0xFF);
    ASSERT_TRUE(d.Detect(still.get(), lastColumn.get(), 4, 4));
    EXPECT_DOUBLE_EQ(d.Level(), 1.0 / 30);
  }
}

TEST(MotionDetector, AnyChangeOfLayoutStartsOver) {
  // Same size, other pixel layout, either way: the first frame reports nothing and the next
  // reads the new layout's bytes (the sanitizer catches a read past the smaller frame).
  for (auto [from, to] : {std::pair{FramePixels::Rgb24, FramePixels::Rgb32}, std::pair{FramePixels::Rgb32, FramePixels::Rgb24}}) {
    const Frame old(33, 21, from);
    const Frame still(33, 21, to);
    Frame moved(still);
    moved.Paint(QRect(0, 0, 33, 21), 0xFF);
    TImplMotionDetector d = Primed(old, 1, 1);
    EXPECT_FALSE(d.Detect(old.get(), still.get(), 3, 3));
    EXPECT_EQ(d.Mark1(), -1);
    EXPECT_FALSE(d.Detect(still.get(), still.get(), 4, 4));
    ASSERT_TRUE(d.Detect(still.get(), moved.get(), 5, 5));
    EXPECT_DOUBLE_EQ(d.Level(), 1.0);
  }
  // A new stride or row order at the same size and layout starts over too.
  const Frame still(40, 20);
  TImplMotionDetector d = Primed(still, 1, 1);
  const Frame wider(40, 20, FramePixels::Rgb24, 128);
  EXPECT_FALSE(d.Detect(&still.bits, wider.get(), 3, 3));
  EXPECT_FALSE(d.Detect(wider.get(), wider.get(), 4, 4));
  const Frame flipped(40, -20);
  EXPECT_FALSE(d.Detect(wider.get(), flipped.get(), 5, 5));
  Frame moved(flipped);
  moved.Paint(QRect(0, 0, 40, 20), 0xFF);
  EXPECT_TRUE(d.Detect(flipped.get(), moved.get(), 6, 6));
}

TEST(MotionDetector, FramesItCannotReadOrMayNotWatchGiveNoLevel) {
  Frame still(40, 20, FramePixels::Rgb565);
  Frame moved(still);
  moved.Paint(QRect(0, 0, 40, 20), 0xFF);
  TImplMotionDetector d;
  d.Enabled = true;
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(d.Detect(still.get(), moved.get(), i, i)) << "16-bit frame " << i;

  // A grid of zeros samples nothing.
  const Frame a(40, 20);
  Frame b(a);
  b.Paint(QRect(0, 0, 40, 20), 0xFF);
  TImplMotionDetector zeros = Primed(a);
  zeros.SetAllCells(0);
  EXPECT_FALSE(zeros.Detect(a.get(), b.get(), 3, 3));
  EXPECT_EQ(zeros.SampledCount(0, 0), 0);

  TImplMotionDetector off = Primed(a);
  off.Enabled = false;
  EXPECT_FALSE(off.Detect(a.get(), b.get(), 3, 3));
  EXPECT_FALSE(Primed(a).Detect(a.get(), nullptr, 3, 3));
}

TEST(MotionDetector, AutomaticStepFollowsTheFrameSize) {
  struct Case { int width, height, step; };
  for (const Case& c : {Case{720, 576, 8}, Case{320, 480, 8}, Case{640, 100, 8}, Case{420, 100, 6},
                        Case{352, 288, 6}, Case{160, 100, 4}, Case{100, 120, 4}, Case{80, 60, 2}}) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    TImplMotionDetector d;
    d.Enabled = true;
    d.RequestedStep = 0;
    const Frame f(c.width, c.height);
    d.Detect(nullptr, f.get(), 0, 0);
    EXPECT_EQ(d.Step(), c.step);
  }
  // 720 x 576 every 8th pixel: cells 72 pixels wide and 57.6 high take 9 columns and 7 or 8 rows.
  const Frame still(720, 576);
  Frame moved(still);
  moved.Paint(QRect(0, 0, 720, 576), 0xFF);
  TImplMotionDetector d;
  d.Enabled = true;
  d.RequestedStep = 0;
  d.Detect(nullptr, still.get(), 0, 0);
  d.Detect(still.get(), still.get(), 1, 1);
  ASSERT_TRUE(d.Detect(still.get(), moved.get(), 2, 2));
  EXPECT_EQ(d.SampledCount(0, 0), 9 * 8);   // rows 0..56
  EXPECT_EQ(d.SampledCount(0, 1), 9 * 7);   // rows 64..112
  int64_t total = 0;
  for (int r = 0; r < 10; ++r)
    for (int c = 0; c < 10; ++c) total += d.SampledCount(c, r);
  EXPECT_EQ(total, 90 * 72);
}

TEST(MotionDetector, GreyScaleAndNoiseReductionLeaveTheCallersFramesAlone) {
  for (FramePixels format : {FramePixels::Rgb24, FramePixels::Rgb32}) {
    SCOPED_TRACE(int(format));
    // Noisy frames in exactly sized buffers, so the blur's last pixel and last row are checked.
    Frame still(37, 23, format);
    for (qsizetype i = 0; i < still->ImageBytes(); ++i) still.bytes[size_t(i)] = uchar((i * 37) % 97);
    Frame moved(still);
    moved.Paint(QRect(10, 5, 12, 8), 0xFF);
    const Frame stillCopy(still), movedCopy(moved);

    TImplMotionDetector d;
    d.Enabled = true;
    d.GreyScale = true;
    d.ReduceVideoNoise = true;
    d.SetGridSize(1, 1);
    d.Detect(nullptr, still.get(), 0, 0);
    EXPECT_FALSE(d.Detect(still.get(), still.get(), 1, 1));
    EXPECT_FALSE(d.Detect(still.get(), still.get(), 2, 2)) << "processed against processed";
    ASSERT_TRUE(d.Detect(still.get(), moved.get(), 3, 3));
    EXPECT_GT(d.Level(), 0);
    EXPECT_LT(d.Level(), 0.2);
    EXPECT_FALSE(d.Detect(moved.get(), moved.get(), 4, 4));
    // A previous frame that is not the last current one is processed afresh.
    ASSERT_TRUE(d.Detect(still.get(), moved.get(), 5, 5));

    EXPECT_TRUE(std::equal(still.bytes.get(), still.bytes.get() + still->ImageBytes(), stillCopy.bytes.get()));
    EXPECT_TRUE(std::equal(moved.bytes.get(), moved.bytes.get() + moved->ImageBytes(), movedCopy.bytes.get()));
  }
}

}  // namespace kestrom::engine::test
