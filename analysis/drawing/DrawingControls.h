#pragma once
// The drawing controls of an analysis window: the marker buttons and stopwatch, the shape and
// angle tools with their colour and width controls, the save, load, undo and clear buttons, and
// the mouse on the picture. The same controls can be put on the window's tabs and on its
// floating palettes; every set is kept in step. The window supplies a DrawingPort and forwards
// its redraw pass here.

#include "analysis/annotation/DrawingStore.h"
#include "analysis/drawing/DrawingTools.h"
#include "analysis/drawing/FrameMarkers.h"

#include <QObject>
#include <QPointer>
#include <array>
#include <deque>
#include <functional>
#include <map>

class QAbstractButton;
class QLabel;
class QLineEdit;
class QMenu;
class QAction;
class QSpinBox;
class QToolButton;
class QWidget;

namespace kestrom::drawing {

/** @brief What the drawing controls need of their window. */
class DrawingPort : public DrawingView {
 public:
  virtual bool VideoOpen() const = 0;
  virtual PictureBounds Picture() const = 0;
  virtual void StopPlayback() = 0;
  virtual void SnapshotFrame() = 0;
  virtual void RefreshFrame() = 0;
  virtual void SetStatusText(int panel, const QString& text) = 0;
  /** @brief Lists the angles in the results table and shows it; hides it when there are none. */
  virtual void ShowAnglesTable() = 0;
  virtual void HideAnglesTable() = 0;
  /** @brief The open video as the markers see it. */
  virtual MarkerVideo Video() const = 0;
  /** @brief Playback off, the player at the position, the scroll bar and the frame label to match. */
  virtual void SeekToMarker(int64_t positionMs, int64_t frame) = 0;
  virtual annotation::CompanionFileNames FileNames() const = 0;
  /** @brief A message box for a failed save or a damaged file. */
  virtual void ShowError(const QString& text) = 0;
  /** @brief A Yes/No question; true for Yes. */
  virtual bool Confirm(const QString& text) = 0;
  virtual bool WarnExportRunning() { return false; }
  virtual void ResetZoom() {}
  // The cutting rectangle (see DrawingHost).
  virtual bool CarryingCut() const { return false; }
  virtual void FollowCut(QPoint) {}
  virtual void EndCarrying() {}
  virtual bool TakeCut(QPoint, QPoint) { return false; }
  /** @brief The marker or stopwatch captions were shown anew (the window copies them on). */
  virtual void CaptionsShown() {}
  /** @brief Whether the shapes palette's save stops playback first (the Best window's does not). */
  virtual bool PaletteSaveStopsPlayback() const { return true; }
};

/** @brief One set of drawing controls: the window's tabs, or a palette. */
struct DrawingControlSet {
  std::array<QToolButton*, annotation::DrawingStore::kMarkerCount> Std{};
  QToolButton* Time = nullptr;
  QToolButton *SaveMarkerSpeedButton = nullptr, *LoadMarkerSpeedButton = nullptr,
              *ResetmarkerSpeedButton = nullptr;
  QToolButton *FreehandButton = nullptr, *LineButton = nullptr, *DrawVerticalLineSpeedButton = nullptr,
              *HorizontalLineSpeedButton = nullptr, *RectangleButton = nullptr, *EllipseButton = nullptr,
              *TextButton = nullptr, *GridButton = nullptr, *ShapesPointer = nullptr, *ClearBrush = nullptr,
              *ShapesColourButton = nullptr, *ShapesBackgroungColorButton = nullptr,
              *SaveShapesSpeedButton = nullptr, *LoadShapesSpeedButton = nullptr, *UndoSpeedButton = nullptr,
              *ClearAllSpeedButton = nullptr;
  QSpinBox* ShapesSpinEdit = nullptr;
  // The pen's own width and colour controls (the window's set only): the up-down control, the
  // label that shows the width in the pen's colour, and the colour button.
  QSpinBox* PenWidth = nullptr;
  QLabel* PenSize = nullptr;
  QToolButton* PenColor = nullptr;
  QMenu* GridPopupMenu = nullptr;
  QAction *CalibratedGrid1 = nullptr, *FreeHandGrid1 = nullptr;
  QToolButton *GeneralAngleSpeedButton = nullptr, *VerticalAngleSpeedButton = nullptr,
              *HorizontalAngleSpeedButton = nullptr, *AnglesPointer = nullptr, *AnglesSpeedButton = nullptr,
              *UndoAnglesSpeedButton = nullptr, *SaveAnglesSpeedButton = nullptr, *LoadAnglesSpeedButton = nullptr,
              *ResetAnglesSpeedButton = nullptr, *ShowResultsSpeedButton = nullptr;
  QSpinBox* AnglesSpinEdit = nullptr;
};

class DrawingControls final : public QObject, private DrawingHost {
  Q_OBJECT
 public:
  /** @brief Controls drawing on canvas, which the window paints; its mouse goes to the tools. */
  DrawingControls(QWidget* window, ui::Canvas& canvas, annotation::DrawingStore& store, DrawingPort& port);
  ~DrawingControls() override;

  /**
   * @brief Puts the controls on three pages (any may be null). Controls that already stand on a
   * page under their name are taken over. The first set is the window's; later ones are palettes,
   * whose tool buttons only switch a tool on.
   */
  DrawingControlSet& AddControlSet(QWidget* markersPage, QWidget* shapesPage, QWidget* anglesPage);
  DrawingControlSet& WindowSet() { return sets_.front(); }
  const std::deque<DrawingControlSet>& Sets() const { return sets_; }

  /**
   * @brief Whose controls act on a click on a palette (given the palette's form): those of the
   * palette's owner window, or none, and then the click does nothing. Unset: these controls.
   */
  using PaletteTarget = std::function<DrawingControls*(QWidget* palette)>;
  void SetPaletteTarget(PaletteTarget target) { paletteTarget_ = std::move(target); }

  /** @brief The window's ruler button: every click of the line tool releases it. */
  QToolButton* RulerButton = nullptr;
  /** @brief What the calibrated grid item does (the window's calibrated grid mode). */
  std::function<void()> CalibratedGridClick;

  QLineEdit* Edit1 = nullptr;
  QToolButton* FontSpeedButton = nullptr;

  DrawingTools& Tools() { return tools_; }
  FrameMarkers& Markers() { return markers_; }

  /** @brief The overlays over the frame, then the stopwatch caption. */
  void RedrawOverlays(const TraceButtons& traces = {});
  /** @brief Every marker button shows its caption again (after a load, reset or new video). */
  void ShowMarkerCaptions();

  /**
   * @brief A tab was shown: the tool of that tab whose button is down becomes active again (the
   * later of several wins). Shapes tab: the drawing tools; angles tab: the angle tools.
   */
  void ResumeArmedTool(bool anglesTab);
  /** @brief Hides the text sample box and its font button (every refresh of the frame does). */
  void HideTextBox() { ShowTextBox(false); }

  // The handlers, as the buttons call them.
  void StdClick(int n, int set = 0);
  void StdKeyDown(int n, int key);
  void TimeClick();
  void SaveMarkerSpeedButtonClick();
  void LoadMarkerSpeedButtonClick();
  void ResetmarkerSpeedButtonClick();
  /** @brief A tool button of the window: down starts the tool, up ends it. */
  void ToolClick(Tool tool);
  /**
   * @brief A tool button of a palette, acted on here: the window's button goes down (the text
   * button takes the palette's state, an angle button goes down only with the palette's), then
   * the window's handler runs; the grid button opens the palette's grid menu.
   */
  void PaletteToolClick(Tool tool, const DrawingControlSet& palette);
  void FreeHandGrid1Click();
  void SaveShapesSpeedButtonClick(bool fromPalette = false);
  void LoadShapesSpeedButtonClick();
  void UndoSpeedButtonClick();
  void ClearAllSpeedButtonClick(bool fromPalette = false);
  void SaveAnglesSpeedButtonClick();
  void LoadAnglesSpeedButtonClick();
  void UndoAnglesSpeedButtonClick();
  void ResetAnglesSpeedButtonClick();
  /** @brief The results button of the window or a palette went up or down. */
  void ShowResultsSpeedButtonClick(bool down);
  void ShapesColourButtonClick();
  void ShapesBackgroungColorButtonClick();
  void AnglesSpeedButtonClick();
  void FontSpeedButtonClick();
  void ShapesSpinEditChange(int value);
  /** @brief The up-down control PenWidth: the tools' pen width (every width control follows). */
  void PenSizeChange(int value);
  /** @brief The pen colour from the colour dialog; the label PenSize takes it. */
  void PenColorClick();
  void AnglesSpinEditChange(int value);
  void ClearBrushClick(bool down);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  /** @brief False when a file of `paths` was loaded partly and the coach would not replace it. */
  bool MayReplace(const QStringList& paths);

  // DrawingHost
  bool VideoOpen() const override { return port_.VideoOpen(); }
  PictureBounds Picture() const override { return port_.Picture(); }
  void StopPlayback() override { port_.StopPlayback(); }
  void SnapshotFrame() override { port_.SnapshotFrame(); }
  void RefreshFrame() override;
  void SetStatusText(int panel, const QString& text) override { port_.SetStatusText(panel, text); }
  void AnglesChanged() override;
  void ShowTextBox(bool shown) override;
  void ReleaseDrawingButtons() override;
  void ReleaseTextButtons() override;
  bool WarnExportRunning() override { return port_.WarnExportRunning(); }
  void ResetZoom() override { port_.ResetZoom(); }
  bool CarryingCut() const override { return port_.CarryingCut(); }
  void FollowCut(QPoint p) override { port_.FollowCut(p); }
  void EndCarrying() override { port_.EndCarrying(); }
  bool TakeCut(QPoint start, QPoint end) override { return port_.TakeCut(start, end); }

  QPoint Place(QWidget* page, int width);
  QToolButton* Button(QWidget* page, const QString& name, const QString& caption, const QString& hint,
                      bool checkable, int width = 28);
  QSpinBox* SpinEdit(QWidget* page, const QString& name);
  void WireSet(int index);
  void StartFreehandGrid(const DrawingControlSet& menuSet);
  QToolButton* ToolButtonOf(const DrawingControlSet& set, Tool tool) const;
  void SetAll(Tool tool, bool down);
  void ShowSwatches(const DrawingControlSet* alsoOn = nullptr);
  void SizeEdit1();
  void Repaint();

  QWidget* window_;
  ui::Canvas& canvas_;
  annotation::DrawingStore& store_;
  DrawingPort& port_;
  DrawingTools tools_;
  FrameMarkers markers_;
  std::deque<DrawingControlSet> sets_;
  std::map<QWidget*, QPoint> cursors_;  // where the next control goes on each page
  std::map<QString, QToolButton*> windowButtons_;  // the window's own buttons by name
  PaletteTarget paletteTarget_;
};

}  // namespace kestrom::drawing
