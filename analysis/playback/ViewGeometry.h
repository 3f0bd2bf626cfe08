#pragma once
// Where the picture of an analysis window stands at each of the 30 zoom steps (factor 0.1 to
// 3.0), how the two picture scroll bars move it, and the conversions between video pixels and
// window pixels that every drawing tool uses. Tables are indexed by step, 1..30, as the window
// reads them; index 0 is unused.

#include <QRect>
#include <QString>
#include <array>
#include <cstdint>
#include <utility>
#include <vector>

namespace kestrom::playback {

inline constexpr int kMinZoomStep = 1;
inline constexpr int kMaxZoomStep = 30;
inline constexpr int kNormalZoomStep = 10;
/** @brief Units of the picture scroll bars: at the last one the far edges meet. */
inline constexpr int kPictureScrollUnits = 10;

/** @brief Smallest and largest size of a resizable analysis window. */
inline constexpr QSize kMinWindowSize{504, 380};
inline constexpr QSize kMaxWindowSize{10000, 10000};

template <typename T>
using StepTable = std::array<T, kMaxZoomStep + 1>;

/** @brief Where the picture goes now and which picture scroll bars are usable. */
struct PicturePlacement {
  QRect display;  // left, top, zoomed width, zoomed height in window pixels
  bool horzScroll = false;
  bool vertScroll = false;
};

class ViewGeometry {
 public:
  /** @brief The video's natural size; refills the zoomed sizes and factors. */
  void SetFrameSize(int frameWidth, int frameHeight);

  /**
   * @brief Recomputes the picture area from the client size (width - 16, height - 120) and every
   * per-step offset, scroll step and overflow flag.
   */
  void BuildZoomTable(int clientWidth, int clientHeight, int menuPanelHeight);

  /** @brief The picture at a step with the picture scroll bars at the given positions. */
  PicturePlacement Place(int step, int horzPos, int vertPos) const;

  /** @brief Video x to window x at a step and horizontal scroll position. */
  int ShowX(double x, int step, int horzPos) const;
  int ShowY(double y, int step, int vertPos) const;
  /** @brief Window x to video x; the inverse of ShowX up to its rounding. */
  double ScreenToVideoX(int x, int step, int horzPos) const;
  double ScreenToVideoY(int y, int step, int vertPos) const;

  /**
   * @brief The margin rectangles around a placed picture that are painted over: left and right
   * when it fits across, top and bottom when it fits down.
   */
  std::vector<QRect> MarginRects(const QRect& picture, int step) const;

  /** @brief The outline drawn while the window is being resized: the picture centred in the area. */
  QRect ResizeOutline(int step) const;

  int FrameWidth = 720;
  int FrameHeight = 576;
  int AreaWidth = 0;
  int AreaHeight = 0;
  int MenuPanelHeight = 56;

  StepTable<int> ZoomedWidth{};
  StepTable<int> ZoomedHeight{};
  StepTable<double> ZoomFactor{};
  StepTable<int> XOffset{}, YOffset{};
  StepTable<int> XRight{}, YBottom{};
  StepTable<double> XScrollStep{}, YScrollStep{};
  StepTable<bool> XOverflow{}, YOverflow{};
};

/** @brief A step kept inside 1..30. */
int ClampZoomStep(int step);

/** @brief The step after zooming in, or the same step at 3.0. */
int ZoomInStep(int step);
/** @brief The step after zooming out, or the same step at 0.1. */
int ZoomOutStep(int step);

/**
 * @brief The zoom menu item that carries the check mark at a step ("Z30", "Z25", "Z20", "Z15",
 * "N12NTSC1", "Z10"), empty for every other step (0.5 included).
 */
QString ZoomMenuItemFor(int step);

/** @brief The status bar's zoom text, "Zoom %4.1f". */
QString ZoomStatusText(double factor);

/**
 * @brief The two seeks that make the player draw the frame at position p again: one frame away
 * and back (at the start forward, at the end backward).
 */
std::pair<int64_t, int64_t> RefreshSeeks(int64_t position, int64_t lengthMs, double frameDuration);

}  // namespace kestrom::playback

namespace kestrom::playback {

/** @brief The window lies partly outside the screen. */
bool IsPartlyOffScreen(const QRect& window, const QSize& screen);

/** @brief Margins are white only for an open 480-line video in the vertical layout. */
bool WhiteMargins(bool videoOpen, int frameHeight, int layout);

/**
 * @brief The stopwatch label for t seconds: 2 decimals below 100, 1 below 1000, none below 10000;
 * from 10000 on the label keeps its previous text.
 */
QString StopwatchText(double seconds, const QString& previous);

}  // namespace kestrom::playback
