#pragma once
// The two analysis windows as a pair: where each stands in the four screen layouts, and where
// the following window's clip stands while the pair is synchronised.

#include <QRect>
#include <QSize>
#include <cstdint>
#include <optional>

namespace kestrom::playback {

/** @brief Layouts of the pair; 0 is the free size a coach's own resize leaves. */
enum WindowLayout : int {
  kFreeLayout = 0,
  kVerticalLayout = 1,
  kHorizontalLayout = 2,
  kTeachingLayout = 3,
  kSplitScreenLayout = 4,
};

/** @brief Outer bounds (frame included) of both windows in a layout; the Best window has none
 *  where the layout hides it (teaching) or places nothing (free size). */
struct PairBounds {
  std::optional<QRect> main;
  std::optional<QRect> best;
};

/** @brief The bounds a layout gives each window on a screen of the given size. */
PairBounds LayoutBounds(int layout, QSize screen);

/**
 * @brief Where the following clip stands while the leading one is at leaderPosition: the offset
 * taken when synchronisation went on is kept, and nothing stands before the clip's start.
 */
inline int64_t SyncedPosition(int64_t leaderPosition, int64_t offset) {
  const int64_t at = leaderPosition + offset;
  return at > 0 ? at : 0;
}

}  // namespace kestrom::playback
