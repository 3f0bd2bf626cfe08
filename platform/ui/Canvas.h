#pragma once
// A drawing surface with the platform's canvas rules over a QImage: pen, brush and font, a pen
// position, shapes filled with the brush and outlined with the pen, text, block copies, and the
// raster modes the rubber bands need. Not-xor and xor are exact per pixel, so drawing the same
// figure twice gives the picture back byte for byte. The image is always Format_RGB32; owners may
// paint into Image() directly (the media player draws frames there) but must keep that format.
// A canvas can also draw straight into a video frame's own bytes (OverFrame), in the frame's
// pixel layout and row order.

#include "platform/core/Colour.h"
#include "platform/core/FrameBits.h"
#include "platform/ui/Font.h"

#include <QImage>
#include <QPoint>
#include <QString>
#include <functional>
#include <vector>

class QPainter;

namespace kestrom::ui {

enum class PenStyle { Solid, Dash, Dot, DashDot, DashDotDot, Clear };
/** @brief How a pen or brush meets the picture: copy, not-xor (rubber bands), xor. */
enum class PenMode { Copy, NotXor, Xor };
enum class BrushStyle { Solid, Clear, Horizontal, Vertical, FDiagonal, BDiagonal, Cross, DiagCross };
/** @brief How a block copy meets the picture. */
enum class CopyMode { Copy, Xor, NotXor };

struct CanvasPen {
  core::TColor Color = core::clBlack;
  int Width = 1;  // pixels; a wider pen has round ends and joins and is always solid
  PenStyle Style = PenStyle::Solid;
  PenMode Mode = PenMode::Copy;
};

struct CanvasBrush {
  core::TColor Color = core::clWhite;
  BrushStyle Style = BrushStyle::Solid;  // hatches leave the gaps untouched
};

/** @brief A rectangle by its edges, right and bottom excluded; left > right mirrors a copy. */
struct TRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool operator==(const TRect&) const = default;
};

enum class TextAlign { Left, Center, Right };

/** @brief How DrawText lays out its text. */
struct TextFormat {
  TextAlign Align = TextAlign::Left;
  /** @brief Lines wider than the rectangle break at blanks; a longer word stays whole. */
  bool WordBreak = false;
  /** @brief Text beyond the rectangle is drawn too (it is always cut to the canvas). */
  bool NoClip = false;
  /** @brief Each line's cell is filled with Background first; else the picture shows through. */
  bool Opaque = false;
  core::TColor Background = core::clWhite;
};

inline TRect Rect(int left, int top, int right, int bottom) { return {left, top, right, bottom}; }
inline TRect Bounds(int left, int top, int width, int height) {
  return {left, top, left + width, top + height};
}

class Canvas {
 public:
  Canvas() : Canvas(0, 0) {}
  /** @brief A white canvas of the given size. */
  Canvas(int width, int height);
  /** @brief A canvas that starts as a copy of the picture. */
  explicit Canvas(const QImage& picture);

  CanvasPen Pen;
  CanvasBrush Brush;
  FontChoice Font{"Arial", 8};
  ui::CopyMode CopyMode = ui::CopyMode::Copy;
  /** @brief Stretched copies in copy mode are filtered rather than taking the nearest pixel
   *  (the platform's way, and the default); for pictures shrunk into sheets. */
  bool SmoothStretch = false;

  int Width() const { return view_ ? frame_.Width : image_.width(); }
  int Height() const { return view_ ? frame_.AbsHeight() : image_.height(); }
  /**
   * @brief A canvas drawing into the frame's own bytes: no copy, bottom-up or top-down rows, in
   * any of the frame layouts (8-bit frames take the nearest colour of their table). The bytes
   * must outlive the canvas and every copy of it, which draw into the same bytes. Image() is
   * null on such a canvas; Picture() copies what it shows. An invalid frame gives an empty canvas.
   */
  static Canvas OverFrame(const core::FrameBits& frame);
  bool IsFrameView() const { return view_; }

  /** @brief Resizes; what fits stays at the top left, new area is white. Not on a frame view. */
  void SetSize(int width, int height);

  QImage& Image() { return image_; }
  const QImage& Image() const { return image_; }
  /** @brief What the canvas shows, top row first, as an RGB32 picture (a copy for a frame view). */
  QImage Picture() const;

  QPoint PenPos() const { return penPos_; }
  void SetPenPos(QPoint p) { penPos_ = p; }
  void MoveTo(int x, int y) { penPos_ = {x, y}; }
  /** @brief A line from the pen position to (x, y), whose end pixel a thin pen leaves out. */
  void LineTo(int x, int y);
  /** @brief Lines through the points; a thin pen leaves out the last one. */
  void Polyline(const std::vector<QPoint>& points);

  /** @brief Filled with the brush, outlined with the pen; corners in any order, right/bottom out. */
  void Rectangle(int x1, int y1, int x2, int y2);
  void Ellipse(int x1, int y1, int x2, int y2);
  /** @brief A rectangle whose corners are ellipses of w x h. */
  void RoundRect(int x1, int y1, int x2, int y2, int w, int h);
  /** @brief The counter-clockwise arc of the ellipse in (x1,y1)-(x2,y2) from the ray to
   *  (x3,y3) to the ray to (x4,y4). */
  void Arc(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4);

  /** @brief Fills with the brush, ignoring the pen and the pen mode. */
  void FillRect(const TRect& r);
  /** @brief A one-pixel frame in the brush colour. */
  void FrameRect(const TRect& r);

  /** @brief Text whose cell's top left is (x, y); a solid brush fills the cell behind it. The
   *  pen position moves to the text's right end. */
  void TextOut(int x, int y, const QString& text);
  /**
   * @brief Text laid out in the rectangle: lines end at line breaks (and, with WordBreak, at
   * blanks where they would pass the right edge), each aligned between left and right, drawn in
   * the font's colour. Returns the height of the text.
   */
  int DrawText(const TRect& rect, const QString& text, const TextFormat& format = {});
  int TextWidth(const QString& text) const;
  int TextHeight(const QString& text) const;

  /** @brief Copies source's rectangle into dest, stretching as needed, in CopyMode. A dest whose
   *  left exceeds its right (or top its bottom) mirrors the picture on that axis. */
  void CopyRect(const TRect& dest, const Canvas& source, const TRect& sourceRect);
  void CopyRect(const TRect& dest, const QImage& source, const TRect& sourceRect);
  /** @brief The whole picture stretched into dest, in CopyMode. */
  void StretchDraw(const TRect& dest, const QImage& picture);
  void StretchDraw(const TRect& dest, const Canvas& source) { StretchDraw(dest, source.Image()); }
  /** @brief The picture at its own size with its top left at (x, y). */
  void Draw(int x, int y, const QImage& picture);

  /** @brief The colour at a pixel; -1 outside the canvas. */
  core::TColor Pixel(int x, int y) const;
  void SetPixel(int x, int y, core::TColor color);

 private:
  struct Mask;
  struct TextLine {
    QString text;
    QRect cell;
  };
  std::vector<TextLine> LayOutText(const TRect& rect, const QString& text, const TextFormat& format) const;
  // A frame view draws through an RGB32 copy of the area an operation can touch: read from the
  // frame, drawn on by the same code as any canvas, and written back in the frame's layout.
  void ThroughScratch(QRect area, const std::function<void(Canvas& scratch, QPoint origin)>& draw);
  void ReadFrame(const QRect& area, QImage& into) const;
  void WriteFrame(const QRect& area, const QImage& from, const QImage& before);
  // Thin pens are plotted directly: a line visits each pixel once and leaves out its end, so
  // even xor lines need no mask.
  void ThinLine(QPoint a, QPoint b, int& patternStep);
  void FillArea(const QRect& area);
  // A figure rasterised by Qt: painted straight onto the picture in copy mode, through a mask
  // (each pixel changed once) in the xor modes.
  void Figure(const QRect& bounds, const std::function<void(QPainter&)>& fillShape,
              const std::function<void(QPainter&)>& outlineShape);
  void ApplyMask(const Mask& mask);
  void CopyBlock(const TRect& dest, const QImage& source, const TRect& sourceRect, ui::CopyMode mode);

  QImage image_;
  QPoint penPos_{0, 0};
  bool view_ = false;
  core::FrameBits frame_;
};

}  // namespace kestrom::ui
