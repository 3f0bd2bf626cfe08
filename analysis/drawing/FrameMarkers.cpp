#include "analysis/drawing/FrameMarkers.h"

#include "platform/core/Format.h"

#include <algorithm>
#include <limits>

namespace kestrom::drawing {

using annotation::DrawingStore;

MarkerClick FrameMarkers::Click(int n, const MarkerVideo& video) {
  MarkerClick result;
  if (!video.open || n < 1 || n > DrawingStore::kMarkerCount) return result;
  const int32_t marker = store_.Marker(n);
  if (marker == DrawingStore::kUnsetMarker) {
    // Markers are 32-bit in the file; a position beyond that cannot be a real clip's.
    const int64_t pos = std::clamp<int64_t>(video.positionMs, 0, std::numeric_limits<int32_t>::max());
    store_.SetMarker(n, static_cast<int32_t>(pos));
    store_.Modified().markers = true;
    result.action = MarkerClick::Action::Set;
    result.position = static_cast<int32_t>(pos);
    return result;
  }
  result.position = marker;
  if (marker < 0 || marker > video.lengthMs) {
    result.action = MarkerClick::Action::Outside;
    return result;
  }
  result.action = MarkerClick::Action::Seek;
  result.frame = core::Nearest(marker / DrawingStore::UsableFrameDuration(video.frameDuration));
  return result;
}

bool FrameMarkers::KeyDown(int n, int key) {
  if (key != kControlKey || n < 1 || n > DrawingStore::kMarkerCount) return false;
  store_.SetMarker(n, DrawingStore::kUnsetMarker);
  return true;
}

QString FrameMarkers::Caption(int n, double frameDuration) const { return store_.MarkerCaption(n, frameDuration); }

std::optional<bool> FrameMarkers::TimeClick(const MarkerVideo& video) {
  if (!video.open) return std::nullopt;
  auto& watch = store_.StopwatchState();
  if (watch.running) {
    watch.running = false;
    return false;
  }
  watch.startMs = video.positionMs;
  watch.running = true;
  return true;
}

std::optional<QString> FrameMarkers::StopwatchCaption(int64_t positionMs) const {
  return store_.StopwatchCaption(positionMs);
}

}  // namespace kestrom::drawing
