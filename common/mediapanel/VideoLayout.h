#pragma once
// Where the media panel puts its video: the picture's rectangle inside the panel for each display
// size (default, half, double, fit, custom zoom), and the scroll bars and corner square that a
// zoomed picture larger than the panel needs. Pure geometry; the panel applies the result.

#include <QRect>
#include <QSize>

namespace kestrom::mediapanel {

enum class TDisplaySize { mpDefaultSize, mpHalfSize, mpDoubleSize, mpFitToSize, mpCustomSize };

struct LayoutInput {
  QSize panel;                 // client size of the panel
  QSize source;                // the clip's picture size (0 when unknown)
  bool visible = true;         // the panel's Visible
  bool hideVideo = false;      // no video to show (and no logo wanted)
  bool clipOpen = false;
  bool controlsShown = false;  // the player's own bar sizes the picture then
  TDisplaySize displaySize = TDisplaySize::mpDefaultSize;
  int zoomSize = 100;          // percent, for mpCustomSize
  bool showScrollBars = true;
  int thickness = 16;          // of the scroll bars
  double horzFraction = 0.5;   // where the scroll bars stand, 0..1
  double vertFraction = 0.5;
};

struct ScrollBarLayout {
  bool visible = false;
  QRect bounds;
  int smallChange = 1, largeChange = 1, maximum = 0, position = 0;
};

struct VideoLayoutResult {
  enum class Kind { Nothing, Hidden, Placed, Fill } kind = Kind::Nothing;
  QRect video;  // where the video panel goes (Hidden: outside the panel)
  ScrollBarLayout horz, vert;
  bool cornerVisible = false;
  QRect corner;
};

/** @brief The fitted size of source inside area, keeping the aspect ratio of source. */
QSize FitSize(QSize area, QSize source);

/** @brief The layout for the given state (see LayoutInput). */
VideoLayoutResult LayoutVideo(const LayoutInput& in);

/** @brief The scroll fraction a scroll bar position stands for. */
double ScrollFraction(int position, int maximum);

}  // namespace kestrom::mediapanel
