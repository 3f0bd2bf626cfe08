#include "analysis/playback/WindowPair.h"

namespace kestrom::playback {

PairBounds LayoutBounds(int layout, QSize screen) {
  // The full-height layouts leave room for the desktop's task bar.
  const int fullHeight = screen.height() - 28;
  const int half = screen.width() / 2;
  switch (layout) {
    case kVerticalLayout: return {QRect(0, 0, 504, 721), QRect(510, 0, 504, 721)};
    case kHorizontalLayout: return {QRect(0, 0, 744, 380), QRect(0, 380, 744, 380)};
    case kTeachingLayout: return {QRect(0, 0, screen.width() - 2, fullHeight), std::nullopt};
    case kSplitScreenLayout: return {QRect(0, 0, half - 2, fullHeight), QRect(half, 0, half - 2, fullHeight)};
    default: return {};
  }
}

}  // namespace kestrom::playback
