#pragma once
// A drawing surface with the platform's canvas rules over a QImage: pen, brush and font, a pen
// position, shapes filled with the brush and outlined with the pen, text, block copies, and the
// raster modes the rubber bands need. Not-xor and xor are exact per pixel, so drawing the same
// figure twice gives the picture back byte for byte. The image is always Format_RGB32; owners may
// paint into Image() directly (the media player draws frames there) but must keep that format.

#include "platform/core/Colour.h"
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

  int Width() const { return image_.width(); }
  int Height() const { return image_.height(); }
  /** @brief Resizes; what fits stays at the top left, new area is white. */
  void SetSize(int width, int height);

  QImage& Image() { return image_; }
  const QImage& Image() const { return image_; }

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
};

}  // namespace kestrom::ui
