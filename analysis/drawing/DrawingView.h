#pragma once
// What the drawing code needs of a window's view: the conversions between video pixels (where
// drawings are stored) and window pixels (where they are drawn and where the mouse is), and the
// video's size. The analysis window implements it from its zoom and scroll state.

#include <cstdint>

namespace kestrom::drawing {

class DrawingView {
 public:
  virtual ~DrawingView() = default;
  /** @brief Video x to window x. */
  virtual int ShowX(double x) const = 0;
  /** @brief Video y to window y. */
  virtual int ShowY(double y) const = 0;
  /** @brief Window x to video x. */
  virtual double ScreenToVideoX(int x) const = 0;
  /** @brief Window y to video y. */
  virtual double ScreenToVideoY(int y) const = 0;
  virtual int FrameWidth() const = 0;
  virtual int FrameHeight() const = 0;
};

/**
 * @brief A view at one zoom factor whose video origin stands at window (left, top), i.e. the
 * picture's offset less the scrolled distance. ShowX = nearest(x * factor + left).
 */
class ZoomView final : public DrawingView {
 public:
  ZoomView(double factor, double left, double top, int frameWidth, int frameHeight)
      : factor_(factor), left_(left), top_(top), frameWidth_(frameWidth), frameHeight_(frameHeight) {}
  /** @brief The view at a zoom step (factor step x 0.1), unscrolled, with the picture at (left, top). */
  static ZoomView AtStep(int step, int left, int top, int frameWidth, int frameHeight);

  int ShowX(double x) const override;
  int ShowY(double y) const override;
  double ScreenToVideoX(int x) const override;
  double ScreenToVideoY(int y) const override;
  int FrameWidth() const override { return frameWidth_; }
  int FrameHeight() const override { return frameHeight_; }

 private:
  double factor_;
  double left_, top_;
  int frameWidth_, frameHeight_;
};

}  // namespace kestrom::drawing
