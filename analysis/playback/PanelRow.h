#pragma once
// The playback panel along the bottom of an analysis window holds, after its transport buttons,
// the position bar, the frame number, the zoom buttons and the player's own bar, at the places
// the wide window was drawn with. A narrower window narrows the position bar, down to a width a
// coach can still drag, so that the frame number after it stays in the window; what still does
// not fit is offered from the row's overflow button.

#include <vector>

namespace kestrom::playback {

/** @brief One control of a row: its gap to the control before it and its width. */
struct RowSlot {
  int gapBefore = 0;
  int width = 0;
  int minimumWidth = 0;  // below width: the control may be narrowed to this
};

/** @brief Where a control of a row goes. */
struct RowPlace {
  int left = 0;
  int width = 0;
  bool operator==(const RowPlace&) const = default;
};

/** @brief The narrowest position bar a narrow window gives. */
inline constexpr int kNarrowestPositionBar = 120;

/**
 * @brief Places the controls one after the other from start. While the row would end past end,
 * the narrowable controls give up width, the first one first, each down to its minimum.
 */
std::vector<RowPlace> PlaceRow(int start, int end, const std::vector<RowSlot>& controls);

}  // namespace kestrom::playback
