#include "analysis/playback/PanelRow.h"

#include <algorithm>

namespace kestrom::playback {

std::vector<RowPlace> PlaceRow(int start, int end, const std::vector<RowSlot>& controls) {
  int natural = start;
  for (const RowSlot& s : controls) natural += s.gapBefore + s.width;
  int excess = std::max(0, natural - end);
  std::vector<RowPlace> places;
  int left = start;
  for (const RowSlot& s : controls) {
    const int give = std::min(excess, std::max(0, s.width - s.minimumWidth));
    excess -= give;
    left += s.gapBefore;
    places.push_back({left, s.width - give});
    left += s.width - give;
  }
  return places;
}

}  // namespace kestrom::playback
