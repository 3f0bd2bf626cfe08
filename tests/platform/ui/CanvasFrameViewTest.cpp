#include "platform/ui/Canvas.h"

#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace kestrom::ui {

using namespace core;

namespace {

constexpr uint32_t kPalette[] = {0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0xFFFFFF};

// A black frame in a buffer of exactly its size, with every padding byte and the fourth byte of
// 32-bit pixels set to 0xA5, so that a stray write shows.
struct Frame {
  FrameBits bits;
  std::unique_ptr<uchar[]> bytes;

  Frame(FramePixels format, int width, int height, qsizetype stride = 0) {
    bits.Width = width;
    bits.Height = height;
    bits.Format = format;
    bits.Stride = stride;
    if (format == FramePixels::Rgb8) {
      bits.Palette = kPalette;
      bits.PaletteSize = int(std::size(kPalette));
    }
    bytes = std::make_unique<uchar[]>(size_t(bits.ImageBytes()));
    bits.Bits = bytes.get();
    std::fill_n(bytes.get(), bits.ImageBytes(), uchar(0xA5));
    for (int y = 0; y < bits.AbsHeight(); ++y)
      for (int x = 0; x < width; ++x)
        std::fill_n(bits.Row(y) + qsizetype(x) * bits.BytesPerPixel(), format == FramePixels::Rgb32 ? 3 : bits.BytesPerPixel(), uchar(0));
  }
  std::vector<uchar> Copy() const { return {bytes.get(), bytes.get() + bits.ImageBytes()}; }
};

const char* NameOf(FramePixels f) {
  switch (f) {
    case FramePixels::Rgb8: return "RGB8";
    case FramePixels::Rgb555: return "RGB555";
    case FramePixels::Rgb565: return "RGB565";
    case FramePixels::Rgb24: return "RGB24";
    case FramePixels::Rgb32: return "RGB32";
  }
  return "?";
}

// Figures in colours every layout holds exactly.
void DrawFigures(Canvas& c) {
  c.Pen = {clRed, 1};
  c.Brush = {clBlue, BrushStyle::Solid};
  c.Rectangle(2, 3, 20, 12);
  c.Pen = {clLime, 3};
  c.Brush = {clYellow, BrushStyle::DiagCross};
  c.Ellipse(15, 10, 50, 30);
  c.Pen = {clWhite, 1, PenStyle::Dash};
  c.MoveTo(0, 39);
  c.LineTo(63, 0);
  c.Brush = {clFuchsia, BrushStyle::Solid};
  c.FillRect(Rect(60, 35, 70, 45));  // runs off the frame
  c.SetPixel(63, 39, clRed);
}

}  // namespace

TEST(CanvasFrameView, DrawsIntoTheFramesOwnBytesInEveryLayoutAndRowOrder) {
  Canvas reference(64, 40);
  reference.Brush = {clBlack, BrushStyle::Solid};
  reference.FillRect(Rect(0, 0, 64, 40));
  DrawFigures(reference);

  for (FramePixels format : {FramePixels::Rgb24, FramePixels::Rgb32, FramePixels::Rgb565, FramePixels::Rgb555,
                             FramePixels::Rgb8}) {
    for (int height : {40, -40}) {
      SCOPED_TRACE(testing::Message() << NameOf(format) << (height > 0 ? " bottom-up" : " top-down"));
      Frame frame(format, 64, height, 64 * 4 + 12);
      Canvas view = Canvas::OverFrame(frame.bits);
      ASSERT_TRUE(view.IsFrameView());
      EXPECT_EQ(view.Width(), 64);
      EXPECT_EQ(view.Height(), 40);
      DrawFigures(view);
      EXPECT_EQ(view.Picture(), reference.Image());
      EXPECT_EQ(view.Pixel(63, 39), clRed);
      EXPECT_EQ(view.PenPos(), QPoint(63, 0));

      // The picture's top row is the last row in memory of a bottom-up frame.
      const uchar* topRow = frame.bits.Bits + (height > 0 ? 39 * frame.bits.RowBytes() : 0);
      const uchar* bottomRow = frame.bits.Bits + (height > 0 ? 0 : 39 * frame.bits.RowBytes());
      const int bpp = frame.bits.BytesPerPixel();
      if (format == FramePixels::Rgb24 || format == FramePixels::Rgb32) {
        EXPECT_EQ(bottomRow[0], 0xFF) << "the dashed line starts white at the bottom left";
        EXPECT_EQ(topRow[0], 0x00);
        EXPECT_EQ(bottomRow[63 * bpp + 0], 0x00);
        EXPECT_EQ(bottomRow[63 * bpp + 2], 0xFF);
      }
      if (format == FramePixels::Rgb8) {
        EXPECT_EQ(bottomRow[63], 2);
        EXPECT_EQ(bottomRow[0], 1);
        EXPECT_EQ(topRow[0], 0);
      }
      // Bytes past each row's pixels, and the fourth byte of 32-bit pixels, stay as they were.
      for (int y = 0; y < 40; ++y) {
        const uchar* row = frame.bits.Bits + y * frame.bits.RowBytes();
        for (qsizetype i = qsizetype(64) * bpp; i < frame.bits.RowBytes(); ++i) ASSERT_EQ(row[i], 0xA5) << y;
        if (format == FramePixels::Rgb32) {
          for (int x = 0; x < 64; ++x) ASSERT_EQ(row[x * 4 + 3], 0xA5) << x << "," << y;
        }
      }
    }
  }
}

TEST(CanvasFrameView, CopiesAndTextGoIntoTheFrameToo) {
  Frame frame(FramePixels::Rgb24, 40, 30);
  Canvas view = Canvas::OverFrame(frame.bits);
  QImage picture(10, 10, QImage::Format_RGB32);
  picture.fill(qRgb(0, 0, 255));
  view.Draw(5, 5, picture);
  EXPECT_EQ(view.Pixel(5, 5), clBlue);
  EXPECT_EQ(view.Pixel(14, 14), clBlue);
  EXPECT_EQ(view.Pixel(15, 15), clBlack);
  Canvas other(8, 8);
  other.CopyRect(Rect(0, 0, 8, 8), view, Rect(4, 4, 12, 12));  // a view as the source
  EXPECT_EQ(other.Pixel(1, 1), clBlue);
  EXPECT_EQ(other.Pixel(0, 0), clBlack);

  const std::vector<uchar> before = frame.Copy();
  view.Font = {"DejaVu Sans", 8, false, false, false, false, clWhite};
  view.Brush.Style = BrushStyle::Clear;
  view.TextOut(1, 1, "Hi");
  EXPECT_NE(frame.Copy(), before);
  EXPECT_EQ(view.PenPos().x(), 1 + view.TextWidth("Hi"));

  // An invalid frame (an 8-bit one without colours) gives an empty canvas that draws nothing.
  FrameBits noColours = frame.bits;
  noColours.Format = FramePixels::Rgb8;
  Canvas empty = Canvas::OverFrame(noColours);
  EXPECT_FALSE(empty.IsFrameView());
  EXPECT_EQ(empty.Width(), 0);
}

namespace {

// The columns and rows holding pixels of the text colour.
QRect InkOf(const QImage& picture, QRgb ink) {
  QRect box;
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x)
      if (picture.pixel(x, y) == ink) box |= QRect(x, y, 1, 1);
  return box;
}

// The columns and rows of dark pixels, antialiased edges included.
QRect DarkOf(const QImage& picture) {
  QRect box;
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x)
      if (qGray(picture.pixel(x, y)) < 192) box |= QRect(x, y, 1, 1);
  return box;
}

}  // namespace

TEST(CanvasFrameView, DrawTextBreaksWordsAlignsAndFillsItsBackground) {
  Canvas canvas(300, 200);
  canvas.Font = {"DejaVu Sans", 10, false, false, false, false, clBlack};
  const int line = canvas.TextHeight("X");
  const TRect box = Rect(20, 10, 20 + canvas.TextWidth("wide word") + 4, 200);

  TextFormat wrap;
  wrap.WordBreak = true;
  EXPECT_EQ(canvas.DrawText(box, "wide word wide word\r\nx", wrap), 3 * line);
  EXPECT_EQ(canvas.DrawText(box, "wide word wide word\r\nx", TextFormat{}), 2 * line) << "no word break";
  EXPECT_EQ(canvas.DrawText(box, "averyveryverylongwordthatcannotbreak x", wrap), 2 * line) << "a long word stays whole";

  struct Case { TextAlign align; const char* name; };
  for (const Case& c : {Case{TextAlign::Left, "left"}, Case{TextAlign::Center, "centre"}, Case{TextAlign::Right, "right"}}) {
    SCOPED_TRACE(c.name);
    Canvas s(300, 60);
    s.Font = {"DejaVu Sans", 10, false, false, false, false, clBlack};
    TextFormat format;
    format.Align = c.align;
    s.DrawText(Rect(40, 5, 260, 60), "III", format);
    const QRect ink = DarkOf(s.Image());
    ASSERT_FALSE(ink.isEmpty());
    const int slack = 4;  // side bearings
    if (c.align == TextAlign::Left) {
      EXPECT_NEAR(ink.left(), 40, slack);
    } else if (c.align == TextAlign::Right) {
      EXPECT_NEAR(ink.right(), 259, slack);
    } else {
      EXPECT_NEAR(ink.center().x(), 150, slack);
    }
  }

  // Opaque: the line's cell takes the background; transparent: the picture shows around glyphs.
  for (bool opaque : {false, true}) {
    SCOPED_TRACE(opaque ? "opaque" : "transparent");
    Frame frame(FramePixels::Rgb24, 200, 40);
    Canvas view = Canvas::OverFrame(frame.bits);
    view.Font = {"DejaVu Sans", 10, false, false, false, false, clAqua};
    TextFormat format;
    format.Opaque = opaque;
    format.Background = clRed;
    view.DrawText(Rect(10, 10, 190, 40), "Text", format);
    const QImage shown = view.Picture();
    EXPECT_FALSE(InkOf(shown, qRgb(0, 255, 255)).isEmpty());
    const QRect red = InkOf(shown, qRgb(255, 0, 0));
    if (opaque) {
      EXPECT_EQ(red.topLeft(), QPoint(10, 10));
      EXPECT_EQ(red.width(), view.TextWidth("Text"));
    } else {
      EXPECT_TRUE(red.isEmpty());
    }
  }

  // Clipped to the rectangle unless NoClip; always cut to the canvas.
  for (bool noClip : {false, true}) {
    Canvas s(200, 60);
    s.Font = {"DejaVu Sans", 10, false, false, false, false, clBlack};
    TextFormat format;
    format.NoClip = noClip;
    s.DrawText(Rect(10, 5, 30, 60), "overflowing", format);
    const QRect ink = DarkOf(s.Image());
    if (noClip) {
      EXPECT_GT(ink.right(), 40);
    } else {
      EXPECT_LE(ink.right(), 29);
    }
  }
  Canvas small(20, 20);
  small.Font = {"DejaVu Sans", 10, false, false, false, false, clBlack};
  TextFormat format;
  format.NoClip = true;
  small.DrawText(Rect(0, 0, 0, INT32_MAX), "unbounded rectangle", format);
}

}  // namespace kestrom::ui
