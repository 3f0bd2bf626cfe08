#pragma once
// A window stand-in for the drawing tools: records what the tools asked of it.

#include "analysis/drawing/DrawingTools.h"

#include <map>

namespace kestrom::drawing::test {

struct FakeHost final : DrawingHost {
  bool open = true;
  PictureBounds bounds;
  int stops = 0, snapshots = 0, refreshes = 0, anglesChanged = 0, drawingReleases = 0, textReleases = 0,
      zoomResets = 0;
  bool textBoxShown = false;
  bool exporting = false;
  std::map<int, QString> status;

  bool VideoOpen() const override { return open; }
  PictureBounds Picture() const override { return bounds; }
  void StopPlayback() override { ++stops; }
  void SnapshotFrame() override { ++snapshots; }
  void RefreshFrame() override { ++refreshes; }
  void SetStatusText(int panel, const QString& text) override { status[panel] = text; }
  void AnglesChanged() override { ++anglesChanged; }
  void ShowTextBox(bool shown) override { textBoxShown = shown; }
  void ReleaseDrawingButtons() override { ++drawingReleases; }
  void ReleaseTextButtons() override { ++textReleases; }
  bool WarnExportRunning() override { return exporting; }
  void ResetZoom() override { ++zoomResets; }
};

}  // namespace kestrom::drawing::test
