// Zoom, view geometry and sizing of the analysis window: where the picture stands at each zoom
// step, the picture scroll bars, the margins, the snapshot that rubber bands restore, re-showing
// the current frame, the overlay redraw pass, and the window's own sizing gestures.
#include "common/startup/DiagForm806.h"
#include "common/startup/GlobalPaths.h"
#include "analysis/window/AppForms.h"
#include "analysis/window/KestromForm.h"
#include "platform/core/Format.h"
#include "platform/media/MediaPlayer.h"

#include <QAction>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>

namespace kestrom::window {

using shell::Globals;

namespace {

void ReadOut(int line, const QString& text) {
  if (Forms().DiagForm806) Forms().DiagForm806->ReadOut(line, text);
}

QColor Background() { return core::ToQColor(Globals().BackgroundColour); }

}  // namespace

// ---- conversions --------------------------------------------------------------------------------

int TKestromForm::ShowX(double x) const { return View.ShowX(x, ZoomStep, HorzScrollBar->value()); }
int TKestromForm::ShowY(double y) const { return View.ShowY(y, ZoomStep, VertScrollBar->value()); }
double TKestromForm::ScreenToVideoX(int x) const { return View.ScreenToVideoX(x, ZoomStep, HorzScrollBar->value()); }
double TKestromForm::ScreenToVideoY(int y) const { return View.ScreenToVideoY(y, ZoomStep, VertScrollBar->value()); }

// ---- zoom table and picture placement -----------------------------------------------------------

void TKestromForm::BuildZoomTable(int /*layout*/) {
  // A window that was never shown has had no resize event yet: its canvas still needs its size.
  if (WindowCanvas.Image().size() != size()) {
    QImage canvas(size(), QImage::Format_RGB32);
    canvas.fill(Background());
    WindowCanvas.Image() = canvas;  // the same picture object, which the media player draws into
  }
  View.FrameWidth = FrameWidth;
  View.FrameHeight = FrameHeight;
  View.BuildZoomTable(width(), height(), MenuPanelHeight);
  AreaWidth = View.AreaWidth;
  AreaHeight = View.AreaHeight;
  MediaPlayer1->SetPictureArea(QRect(0, MenuPanelHeight, AreaWidth, AreaHeight));
  // The picture scroll bars run along the area's bottom and right edges.
  HorzScrollBar->setGeometry(0, MenuPanelHeight + AreaHeight, std::max(AreaWidth, 1), 16);
  VertScrollBar->setGeometry(std::max(AreaWidth, 0), MenuPanelHeight, 16, std::max(AreaHeight, 1));
  // The playback panel stands at the foot of the area in every layout, not only the first.
  Panel4->move(0, AreaHeight);
}

void TKestromForm::ApplyZoomDisplayRect(int step) {
  TKestromForm* main = Forms().MainWindow;
  if (!VideoOpen || (main && main->Blending) || BackgroundFormInUse) return;
  const playback::PicturePlacement at = View.Place(step, HorzScrollBar->value(), VertScrollBar->value());
  MediaPlayer1->SetDisplayRect(at.display);
  if (!Blending && !BackgroundFormInUse) {
    HorzScrollBar->setEnabled(at.horzScroll);
    VertScrollBar->setEnabled(at.vertScroll);
  }
  PicLeft = at.display.left();
  PicTop = at.display.top();
  PicRight = PicLeft + at.display.width();
  PicBottom = PicTop + at.display.height();
  PaintMargins();
  ReadOut(3, QString("%1 %2").arg(PicLeft).arg(PicTop));
}

void TKestromForm::CheckZoomMenuItem() {
  for (QAction* item : {Z30, Z25, Z20, Z15, N12NTSC1, Z10}) item->setChecked(false);
  const QString marked = playback::ZoomMenuItemFor(ZoomStep);
  for (QAction* item : {Z30, Z25, Z20, Z15, N12NTSC1, Z10})
    if (item->objectName() == marked) item->setChecked(true);
}

void TKestromForm::ApplyZoomStep(int step, bool clearArea) {
  ZoomStep = playback::ClampZoomStep(step);
  CheckZoomMenuItem();
  BuildZoomTable(Layout);
  StatusBar1->SetPanelText(2, playback::ZoomStatusText(View.ZoomFactor[ZoomStep]));
  ApplyZoomDisplayRect(ZoomStep);
  if (clearArea) {
    QPainter painter(&WindowCanvas.Image());
    painter.fillRect(QRect(0, MenuPanelHeight, AreaWidth, AreaHeight), Background());
  }
  RefreshFrame();
  SnapshotFrame();
}

void TKestromForm::SetZoom(int step) {
  if (!VideoOpen) return;
  StopPlayback();
  ApplyZoomStep(step, true);
  if (Blending && Forms().BestWindow) Forms().BestWindow->ZoomInButtonClick();
  ZoomInButton2->setDown(false);
  ZoomOutButton2->setDown(false);
}

void TKestromForm::ZoomInButtonClick() {
  if (WarnExportRunning() || BackgroundFormInUse || !VideoOpen) return;
  if (ZoomStep < playback::kMaxZoomStep) {
    StopPlayback();
    ApplyZoomStep(ZoomStep + 1, false);
  }
  if (Blending && Forms().BestWindow && Forms().BestWindow != this) Forms().BestWindow->ZoomInButtonClick();
  ZoomInButton->setDown(false);
  ZoomInButton2->setDown(false);
}

void TKestromForm::ZoomOutButtonClick() {
  if (WarnExportRunning() || BackgroundFormInUse || !VideoOpen) return;
  if (ZoomStep > playback::kMinZoomStep) {
    StopPlayback();
    ApplyZoomStep(ZoomStep - 1, true);
  }
  if (Blending && Forms().BestWindow && Forms().BestWindow != this) Forms().BestWindow->ZoomOutButtonClick();
  ZoomOutButton->setDown(false);
  ZoomOutButton2->setDown(false);
}

void TKestromForm::ZoomInButton2MouseDown(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
  if (!VideoOpen) return;
  const bool ctrlLeft = buttons == Qt::LeftButton && modifiers == Qt::ControlModifier;
  const bool right = buttons == Qt::RightButton && modifiers == Qt::NoModifier;
  if (!ctrlLeft && !right) return;
  const QRect bounds = Bounds();
  ZoomPopupMenu->popup(QPoint(bounds.left() + 332, bounds.top() + AreaHeight - 50));
}

// ---- the picture area ---------------------------------------------------------------------------

void TKestromForm::RestoreFrame() {
  if (!WindowCanvas.Image().isNull() && !SnapshotPicture.isNull()) {
    QPainter painter(&WindowCanvas.Image());
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QPoint(0, MenuPanelHeight), SnapshotPicture);
  }
  PaintMargins();
}

void TKestromForm::PaintMargins() {
  if (WindowCanvas.Image().isNull()) return;
  const QColor colour = playback::WhiteMargins(VideoOpen, FrameHeight, Layout) ? QColor(Qt::white) : Background();
  QPainter painter(&WindowCanvas.Image());
  const QRect picture(PicLeft, PicTop, PicRight - PicLeft, PicBottom - PicTop);
  for (const QRect& r : View.MarginRects(picture, ZoomStep)) painter.fillRect(r, colour);
  update();
}

void TKestromForm::RefreshFrame() {
  if (VideoOpen) {
    const auto [away, back] = playback::RefreshSeeks(MediaPlayer1->Position(), LengthMs, FrameDuration);
    MediaPlayer1->SetPosition(away);
    MediaPlayer1->SetPosition(back);
  }
  RedrawOverlays();
  PaintMargins();
}

void TKestromForm::ShowScrollPosition() {
  if (!VideoOpen) return;
  MediaPlayer1->SetPosition(ScrollBar1->value());
  Test->setText(QString::number(playback::FrameNumberAt(MediaPlayer1->Position(), FrameDuration)));
  RedrawOverlays();
  SnapshotFrame();
  if (this == Forms().MainWindow) FollowInBest();
}

void TKestromForm::RedrawOverlays() {
  if (!VideoOpen) return;
  // Freehand, shapes, text, angles, the trace steps and the freehand grid, in that order.
  RedrawDrawings();
  if (SingleFrameButton->isChecked()) DrawSingleFrames();
  DrawExtraOverlay();
  if (!Timer1->isActive()) SnapshotFrame();
  DrawMirror();
  update();
}

// No tool of this window fills single frames or the extra overlay yet.
void TKestromForm::DrawSingleFrames() {}
void TKestromForm::DrawExtraOverlay() {}

// ---- window events ------------------------------------------------------------------------------

void TKestromForm::FormPaint() {
  // The canvas keeps what was drawn, so only a lost picture needs the snapshot back.
  if (Started && VideoOpen) RestoreFrame();
  if (BackgroundFormInUse && !isMinimized()) MoveCompanionWindows();
}

void TKestromForm::FormResize() {
  if (Exporting) {
    WarnExportRunning();
    return;
  }
  ReadOut(4, QString("%1 %2 Resizing now %3").arg(width()).arg(height()).arg(ResizeCount + 1));
  if (BackgroundFormInUse || Blending || MciPlaying) return;
  AreaHeight = height() - 120;
  AreaWidth = width() - 16;
  MediaPlayer1->SetPictureArea(QRect(0, MenuPanelHeight, AreaWidth, AreaHeight));
  Layout = 0;
  CentreImage2();
  Panel4->move(0, AreaHeight);  // whole, at the area's left: its controls stay inside the window
  if (!VideoOpen || WindowCanvas.Image().isNull()) return;
  QPainter painter(&WindowCanvas.Image());
  painter.fillRect(QRect(0, MenuPanelHeight, width(), height() - MenuPanelHeight), Background());
  View.AreaWidth = AreaWidth;
  View.AreaHeight = AreaHeight;
  painter.setPen(QPen(core::ToQColor(0x000080), 3));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(View.ResizeOutline(ZoomStep));
  update();
}

void TKestromForm::UserResize(QResizeEvent* event) {
  // The program's own placements (SetBounds, showing a window) are no sizing gesture; a resize
  // from the window system to another size is the coach dragging the frame, which ends once no
  // resize came for a moment.
  if (!event->spontaneous() || !isVisible() || frameGeometry().size() == requestedBounds_.size()) return;
  if (!sizing_) {
    sizing_ = true;
    WMEnterSizeMove();
  }
  FormResize();
  SizeMoveTimer->start();
}

void TKestromForm::WMGetMinMaxInfo() {
  const QSize frame = frameGeometry().size() - size();
  if (BackgroundFormInUse || Blending || MciPlaying) {
    setMinimumSize(size());
    setMaximumSize(size());
    return;
  }
  setMinimumSize(playback::kMinWindowSize - frame);
  setMaximumSize(playback::kMaxWindowSize - frame);
}

void TKestromForm::WMEnterSizeMove() {
  if (MciPlaying) return;
  ReadOut(4, "Enter Resizing");
  CheckOnScreen();
  if (OffScreen) RestoreFrame();
  ResizeCount = 1;
  if (!BackgroundFormInUse && !Blending && VideoOpen) PausePlayback();
}

void TKestromForm::WMExitSizeMove() {
  ReadOut(4, "Exit Resizing");
  ++ResizeCount;
  if (BackgroundFormInUse || Blending || MciPlaying || !Started || !VideoOpen || DrawingGesture) return;
  BuildZoomTable(Layout);
  ApplyZoomDisplayRect(ZoomStep);
  if (ResizeCount > 2 || OffScreen) {
    RefreshFrame();
    CheckOnScreen();
    SnapshotFrame();
  }
  Button9->setText(QString::number(SnapshotPicture.width()));
  Button10->setText(QString::number(SnapshotPicture.height()));
  ResumePlayback();
}

void TKestromForm::PictureScrollChange() {
  if (!VideoOpen) return;
  StopPlayback();
  BuildZoomTable(Layout);
  ApplyZoomDisplayRect(ZoomStep);
  RefreshFrame();
  SnapshotFrame();
  TKestromForm* best = Forms().BestWindow;
  if (Blending && best && best != this) {
    best->ZoomStep = ZoomStep;
    best->HorzScrollBar->setValue(HorzScrollBar->value());
    best->VertScrollBar->setValue(VertScrollBar->value());
    best->PictureScrollChange();
  }
}

void TKestromForm::HorzScrollBarChange() { PictureScrollChange(); }
void TKestromForm::VertScrollBarChange() { PictureScrollChange(); }

void TKestromForm::PictureScroll(int scrollCode, int scrollPos) {
  TKestromForm* main = Forms().MainWindow;
  if ((main && main->Blending) || BackgroundFormInUse) return;
  if (scrollCode >= 0 && scrollCode <= 4) {
    ReadOut(5, QString("tracking %1").arg(scrollPos));
    Tracking = false;
    if (VideoOpen) ApplyZoomDisplayRect(ZoomStep);
    TKestromForm* best = Forms().BestWindow;
    if (Blending && best && best != this) {
      best->ZoomStep = ZoomStep;
      best->ApplyZoomDisplayRect(ZoomStep);
    }
  } else if (scrollCode == 5) {
    Tracking = true;
    PausePlayback();
  }
}

void TKestromForm::HorzScrollBarScroll(int scrollCode, int scrollPos) { PictureScroll(scrollCode, scrollPos); }
void TKestromForm::VertScrollBarScroll(int scrollCode, int scrollPos) { PictureScroll(scrollCode, scrollPos); }

}  // namespace kestrom::window
