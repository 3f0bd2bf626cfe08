// The analysis window's drawing: the drawing controls on its tabs and palettes, and what they
// need of the window (where the picture stands, repaints, the status bar, the player).

#include "analysis/annotation/AnglesTableForm.h"
#include "analysis/drawing/DrawingControls.h"
#include "analysis/window/AppForms.h"
#include "analysis/window/CompanionPlacement.h"
#include "analysis/window/KestromForm.h"
#include "analysis/window/Palettes.h"
#include "platform/media/MediaPlayer.h"

#include <QLabel>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QToolButton>

namespace kestrom::window {

namespace {

// The picture stands where the media player draws it, at the zoom of the window's step; drawings
// are converted against that rectangle, so they sit on the picture at every step and scroll.
class WindowDrawingPort final : public drawing::DrawingPort {
 public:
  explicit WindowDrawingPort(TKestromForm& window) : w_(window) {}

  int ShowX(double x) const override { return View().ShowX(x); }
  int ShowY(double y) const override { return View().ShowY(y); }
  double ScreenToVideoX(int x) const override { return View().ScreenToVideoX(x); }
  double ScreenToVideoY(int y) const override { return View().ScreenToVideoY(y); }
  int FrameWidth() const override { return w_.FrameWidth; }
  int FrameHeight() const override { return w_.FrameHeight; }

  bool VideoOpen() const override { return w_.VideoOpen; }
  drawing::PictureBounds Picture() const override {
    const QRect r = w_.MediaPlayer1->DisplayRect();
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
  }
  void StopPlayback() override { w_.StopPlayback(); }
  void SnapshotFrame() override { w_.SnapshotFrame(); }
  void RefreshFrame() override { w_.RefreshFrame(); }
  void SetStatusText(int panel, const QString& text) override { w_.StatusBar1->SetPanelText(panel, text); }
  void ShowAnglesTable() override { w_.ShowAnglesTable(); }
  void HideAnglesTable() override {
    if (TAnglesTableForm* table = w_.IsBest ? Forms().AnglesTableForm2 : Forms().AnglesTableForm1) table->hide();
  }
  drawing::MarkerVideo Video() const override {
    if (!w_.VideoOpen) return {};
    const media::MediaPlayer* p = w_.MediaPlayer1;
    return {true, p->Position(), p->LengthMs(), p->FrameDuration()};
  }
  void SeekToMarker(int64_t positionMs, int64_t frame) override {
    w_.StopPlayback();
    w_.MediaPlayer1->SetPosition(positionMs);
    {
      // The player is there already; the scroll bar only follows it.
      const QSignalBlocker block(w_.ScrollBar1);
      w_.ScrollBar1->setValue(static_cast<int>(positionMs));
    }
    w_.Test->setText(QString::number(frame));
    w_.RedrawDrawings();
    w_.update();
  }
  annotation::CompanionFileNames FileNames() const override {
    return annotation::CompanionFileNames::ForVideo(w_.MediaPlayer1->FileName());
  }
  void ShowError(const QString& text) override {
    w_.MessageDlgPosPaused(text, ui::MsgDlgType::mtError, ui::mbOK, w_.x() + 64, w_.y() + 86);
  }
  bool Confirm(const QString& text) override {
    return w_.MessageDlgPosPaused(text, ui::MsgDlgType::mtConfirmation, ui::mbYes | ui::mbNo, w_.x() + 64,
                                  w_.y() + 86) == ui::mrYes;
  }
  bool CarryingCut() const override { return w_.CarryingOtherCut(); }
  void FollowCut(QPoint p) override { w_.FollowOtherCut(p); }
  void EndCarrying() override { w_.EndCarryingOtherCut(); }
  bool TakeCut(QPoint start, QPoint end) override { return w_.TakeCut(start, end); }
  void CaptionsShown() override { w_.CopyMarkerCaptions(); }
  bool PaletteSaveStopsPlayback() const override { return !w_.IsBest; }

 private:
  drawing::ZoomView View() const {
    const QRect r = w_.MediaPlayer1->DisplayRect();
    return drawing::ZoomView::AtStep(w_.ZoomStep, r.left(), r.top(), w_.FrameWidth, w_.FrameHeight);
  }

  TKestromForm& w_;
};

bool Down(const QToolButton* button) { return button && button->isChecked(); }

}  // namespace

void TKestromForm::CreateDrawingControls() {
  drawingPort_ = std::make_unique<WindowDrawingPort>(*this);
  Drawing = new drawing::DrawingControls(this, WindowCanvas, Drawings, *drawingPort_);
  Drawing->AddControlSet(Markers, Shapes, Angles);
  Drawing->AddControlSet(MarkerForm, ShapesControlForm, AnglesControlForm);
  // A palette acts on the window of its owner index, which need not be the one that made it.
  Drawing->SetPaletteTarget([](QWidget* form) -> drawing::DrawingControls* {
    const auto* palette = qobject_cast<TPalette*>(form);
    TKestromForm* owner = palette ? palette->OwnerWindow() : nullptr;
    return owner ? owner->Drawing : nullptr;
  });
  Drawing->RulerButton = LineButton2;
  Drawing->CalibratedGridClick = [this] { CalibratedGrid1Click(); };
}

void TKestromForm::RedrawDrawings() {
  if (!Drawing) return;
  drawing::TraceButtons traces;
  traces.crosses = Down(CrossSpeedButton);
  traces.figure = Down(LineSpeedButton);
  traces.smoothed = Down(CurveSpeedButton);
  Drawing->RedrawOverlays(traces);
}

void TKestromForm::ShowAnglesTable() {
  AppForms& f = Forms();
  TAnglesTableForm* table = IsBest ? f.AnglesTableForm2 : f.AnglesTableForm1;
  if (!table) return;
  table->SetStores(f.MainWindow ? &f.MainWindow->Drawings : nullptr, f.BestWindow ? &f.BestWindow->Drawings : nullptr);
  table->SetShowing([table, this] { ShowCompanion(table, this); });
  if (IsBest)
    table->ShowBestTable();
  else
    table->ShowMainTable();
}

}  // namespace kestrom::window
