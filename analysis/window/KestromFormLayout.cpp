// The analysis windows as a pair: the four screen layouts (vertical, horizontal, full-screen
// teaching, split screen), opening the Best window from Main, synchronised play in which Main
// drives and Best follows at a fixed offset, and companion windows that follow a moved window.
#include "analysis/drawing/DrawingControls.h"
#include "analysis/playback/WindowPair.h"
#include "analysis/sheets/MemoPad.h"
#include "common/startup/DiagForm806.h"
#include "common/startup/GlobalPaths.h"
#include "analysis/window/AppForms.h"
#include "analysis/window/CompanionPlacement.h"
#include "analysis/window/HintForms.h"
#include "analysis/window/KestromForm.h"
#include "platform/core/Format.h"
#include "platform/media/MediaPlayer.h"

#include <QAction>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QMoveEvent>
#include <QScreen>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

namespace kestrom::window {

using shell::Globals;

namespace {
QSize ScreenSize() { return QGuiApplication::primaryScreen()->geometry().size(); }

void ShowBButtons(TKestromForm* w, bool visible) {
  w->BestSpeedButton->setVisible(visible);
  w->BestSpeedButton2->setVisible(visible);
}

void SetBButtonsDown(TKestromForm* w, bool down) {
  w->BestSpeedButton->setChecked(down);
  w->BestSpeedButton2->setChecked(down);
}

void ReleaseLoopButtons(TKestromForm* w) {
  w->LoopButton->setChecked(false);
  w->LoopButton2->setChecked(false);
}

// Controls that other parts of the window add by name; Best hides them while it follows Main.
void HideNamedControl(TKestromForm* w, const char* name, bool disable = false) {
  if (auto* control = w->findChild<QWidget*>(name)) {
    if (disable) control->setEnabled(false);
    control->hide();
  }
}

// Moves a scroll bar as a program step does: no seek follows.
void SetScrollBarQuietly(TKestromForm* w, int64_t position) {
  const int tag = w->Playback->ScrollTag;
  w->Playback->ScrollTag = playback::kClockMovesScrollBar;
  w->ScrollBar1->setValue(static_cast<int>(std::clamp<int64_t>(position, 0, w->ScrollBar1->maximum())));
  w->Playback->ScrollTag = tag;
}

QWidget* BackgroundFormOf(const TKestromForm* w) {
  const AppForms& forms = Forms();
  if (w == forms.MainWindow) return forms.BackgroundForm1;
  if (w == forms.BestWindow) return forms.BackgroundForm2;
  return nullptr;
}

TStatusBar* BackgroundStatusBar(const TKestromForm* w) {
  if (!w->BackgroundFormInUse) return nullptr;
  auto* background = static_cast<TBackgroundForm*>(BackgroundFormOf(w));
  return background ? background->StatusBar1 : nullptr;
}
}  // namespace

// ---- controls -----------------------------------------------------------------------------------

void TKestromForm::CreatePairControls() {
  RefreshVideo = new QTimer(this);
  RefreshVideo->setObjectName("RefreshVideo");
  RefreshVideo->setInterval(200);
  RefreshVideo->setSingleShot(true);
  connect(RefreshVideo, &QTimer::timeout, this, [this] { RefreshVideoTimer(); });

  connect(Vertical, &QToolButton::clicked, this, [this] { VerticalClick(); });
  connect(Horizontal, &QToolButton::clicked, this, [this] { HorizontalClick(); });
  connect(Teaching, &QToolButton::clicked, this, [this] { TeachingClick(); });
  connect(SplitScreenButton, &QToolButton::clicked, this, [this] { SplitScreenButtonClick(); });
  connect(BestSpeedButton, &QToolButton::clicked, this, [this] { BestSpeedButton2Click(); });
  connect(BestSpeedButton2, &QToolButton::clicked, this, [this] { BestSpeedButton2Click(); });
  connect(SyncSpeedButton, &QToolButton::clicked, this, [this] { SyncSpeedButtonClick(); });
  connect(MemoSpeedButton, &QToolButton::clicked, this, [this] { MemoSpeedButtonClick(); });
}

// ---- bounds -------------------------------------------------------------------------------------

void TKestromForm::SetBounds(int left, int top, int width, int height) {
  // Layouts give outer bounds; the window frame, once known, lies inside them.
  const QSize frame = frameGeometry().size() - size();
  requestedBounds_ = QRect(left, top, width, height);
  frameAtBounds_ = frame;
  requestedClientSize_ = QSize(std::max(1, width - frame.width()), std::max(1, height - frame.height()));
  move(left, top);
  resize(requestedClientSize_);
  // A window never shown learns its frame only when shown; the bounds are then applied again.
  boundsPending_ = !isVisible();
}

void TKestromForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (boundsPending_ && frameGeometry() != requestedBounds_) {
    const QRect bounds = requestedBounds_;
    SetBounds(bounds.left(), bounds.top(), bounds.width(), bounds.height());
    // The arrangement finishes here: the picture area follows the client size it now has.
    BuildZoomTable(Layout);
    if (VideoOpen) ApplyZoomDisplayRect(ZoomStep);
  }
  boundsPending_ = false;
}

QRect TKestromForm::Bounds() const { return frameGeometry(); }

bool TKestromForm::ReapplyBoundsForNewFrame() {
  // Still the program's placement (the client size it set), but the frame has changed since:
  // the outer bounds are what the layout asked for, so the client gives way to the frame.
  const QSize frame = frameGeometry().size() - size();
  if (!isVisible() || frame == frameAtBounds_ || size() != requestedClientSize_) return false;
  SetBounds(requestedBounds_.left(), requestedBounds_.top(), requestedBounds_.width(), requestedBounds_.height());
  BuildZoomTable(Layout);
  if (VideoOpen) {
    ApplyZoomDisplayRect(ZoomStep);
    RefreshFrame();
  }
  return true;
}

void TKestromForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // The menu panel stays across the top and the status bar along the bottom.
  MenuPanel->setGeometry(0, 0, width(), MenuPanel->height());
  FileControls->setGeometry(0, 0, width(), MenuPanel->height());
  StatusBar1->setGeometry(0, height() - 20, width(), 20);
  ArrangePlaybackPanel();
  CentreImage2();
  if (WindowCanvas.Image().size() != size()) {
    QImage canvas(size(), QImage::Format_RGB32);
    canvas.fill(core::ToQColor(Globals().BackgroundColour));
    WindowCanvas.Image() = canvas;  // the same picture object, which the media player draws into
  }
  if (event->spontaneous() && ReapplyBoundsForNewFrame()) return;
  UserResize(event);
}

void TKestromForm::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  if (!isVisible() || !event->spontaneous()) return;
  if (ReapplyBoundsForNewFrame()) return;
  // Only a move the window system made to a place the program did not ask for is the coach's.
  if (Bounds().topLeft() == requestedBounds_.topLeft()) return;
  if (!sizing_) {
    sizing_ = true;
    WMEnterSizeMove();
  }
  SizeMoveTimer->start();
  WMMoving();
}

void TKestromForm::WMMoving() { MoveCompanionWindows(); }

void TKestromForm::FormClick() {
  const AppForms& f = Forms();
  TKestromForm* other = this == f.MainWindow ? f.BestWindow : this == f.BestWindow ? f.MainWindow : nullptr;
  if (!other) return;
  other->DrawingGesture = false;
  if (other->Drawing) other->Drawing->Tools().ClearPressed();
}

void TKestromForm::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) FormClick();
  QWidget::mouseReleaseEvent(event);
}

void TKestromForm::MoveCompanionWindows() {
  const QRect bounds = Bounds();
  if (QWidget* background = BackgroundFormOf(this); background && BackgroundFormInUse) background->move(bounds.topLeft());
  TKestromForm* best = Forms().BestWindow;
  if (OverlayOn && best && best != this) {  // a window blending with its own background leaves Best alone
    const QRect at = best->Bounds();
    best->SetBounds(bounds.left(), bounds.top(), at.width(), at.height());
  }
}

void TKestromForm::CentreImage2() {
  const int areaWidth = width() - 16, areaHeight = height() - 120;
  Image2->move(static_cast<int>(core::Nearest((areaWidth - Image2->width()) / 2.0)),
               static_cast<int>(core::Nearest((areaHeight - Image2->height()) / 2.0)) + 56);
}

// ---- layouts ------------------------------------------------------------------------------------

int TKestromForm::ArrangeWindows(int layout) {
  AppForms& forms = Forms();
  const bool isMainWindow = this == forms.MainWindow;
  // The split screen is laid out from Main only; a refused call changes nothing.
  if (layout == playback::kSplitScreenLayout && !isMainWindow) return 0;
  const playback::PairBounds bounds = playback::LayoutBounds(layout, ScreenSize());
  PresetSize = true;
  if (layout == playback::kVerticalLayout || layout == playback::kHorizontalLayout) {
    const QRect at = isMainWindow ? *bounds.main : *bounds.best;
    Layout = layout;
    LayoutWidth = at.width();
    LayoutHeight = at.height();
    LayoutTop = at.top();
    LayoutLeft = at.left();
    SetBounds(LayoutLeft, LayoutTop, LayoutWidth, LayoutHeight);
    ShowBButtons(this, isMainWindow);
  } else if (layout == playback::kTeachingLayout) {
    Layout = layout;
    LayoutWidth = bounds.main->width();
    LayoutHeight = bounds.main->height();
    LayoutTop = LayoutLeft = 0;  // the caller applies them
    ShowBButtons(this, false);
  } else if (layout == playback::kSplitScreenLayout) {
    TKestromForm* main = forms.MainWindow;
    main->SetBounds(bounds.main->left(), bounds.main->top(), bounds.main->width(), bounds.main->height());
    main->PresetSize = false;
    ShowBButtons(main, true);
    SetBButtonsDown(main, true);
    main->Layout = layout;
    main->show();
    if (TKestromForm* best = forms.BestWindow) {
      best->SetBounds(bounds.best->left(), bounds.best->top(), bounds.best->width(), bounds.best->height());
      ShowBButtons(best, false);
      best->PresetSize = false;
      best->Layout = layout;
      best->show();
    }
  }
  BuildZoomTable(Layout);
  PreviousLayout = Layout;
  return Layout;
}

bool TKestromForm::RefuseResizeWhileBlending() {
  if (!BackgroundFormInUse && !Blending) return false;
  const QPoint at = frameGeometry().topLeft();
  MessageDlgPosPaused("Sorry but it is not possible to re-size " + Globals().ProgramTitle +
                          " when using the Blend function",
                      ui::MsgDlgType::mtInformation, ui::mbOK, at.x() + 64, at.y() + 86);
  if (isMaximized() || isMinimized()) showNormal();
  return true;
}

void TKestromForm::BlankSnapshot() {
  BuildZoomTable(Layout);
  SnapshotPicture = QImage(std::max(AreaWidth, 1), std::max(AreaHeight, 1), QImage::Format_RGB32);
  SnapshotPicture.fill(core::ToQColor(Globals().BackgroundColour));
}

void TKestromForm::ShowPictureAfterLayout() {
  if (!VideoOpen) {
    BlankSnapshot();
    return;
  }
  ApplyZoomDisplayRect(ZoomStep);
  RefreshFrame();
  SnapshotFrame();
}

void TKestromForm::VerticalClick() { LayoutClick(playback::kVerticalLayout); }

void TKestromForm::HorizontalClick() { LayoutClick(playback::kHorizontalLayout); }

void TKestromForm::LayoutClick(int layout) {
  AppForms& forms = Forms();
  TKestromForm* best = forms.BestWindow;
  if (RefuseResizeWhileBlending() || (best && best->RefuseResizeWhileBlending())) return;
  bool TKestromForm::*flag = layout == playback::kVerticalLayout ? &TKestromForm::VerticalChange
                                                                 : &TKestromForm::HorizontalChange;
  StopPlayback();
  ReleaseLoopButtons(this);
  this->*flag = true;
  if (layout == playback::kHorizontalLayout && best) best->ArrangeWindows(layout);
  if (this == forms.MainWindow && best && BestSpeedButton->isChecked()) {
    best->*flag = true;
    if (layout == playback::kVerticalLayout) {
      best->ArrangeWindows(layout);
      best->show();
      best->SetBounds(510, 0, best->LayoutWidth, best->LayoutHeight);
      best->ArrangeWindows(layout);
    } else {
      best->ArrangeWindows(layout);
      best->show();
    }
    best->LayoutClick(layout);
  }
  ArrangeWindows(layout);
  BestSpeedButton2->setEnabled(true);
  SetBounds(layout == playback::kHorizontalLayout ? LayoutLeft : Bounds().left(), LayoutTop, LayoutWidth,
            LayoutHeight);
  ArrangeWindows(layout);
  ShowPictureAfterLayout();
  PresetSize = true;
  this->*flag = false;
}

void TKestromForm::TeachingClick() {
  if (RefuseResizeWhileBlending()) return;
  TKestromForm* best = Forms().BestWindow;
  StopPlayback();
  ReleaseLoopButtons(this);
  const bool bestVisible = best && best != this && best->isVisible();
  if (bestVisible) {
    best->PausePlayback();
    const QPoint at = Bounds().topLeft();
    const int answer = MessageDlgPosPaused(
        "Using the Teaching Window will hide the Best Window\r\n Do you want to continue ? ",
        ui::MsgDlgType::mtWarning, ui::mbYes | ui::mbNo, at.x() + 64, at.y() + 86);
    // Best stays where the question stopped it, whatever the answer: no later box or resize of
    // Best may start its clock again behind the coach's back.
    best->Playback->ResumePending = false;
    if (answer != ui::mrYes) return;
  }
  DrivesPair = false;
  if (best && best != this) {
    best->SyncSpeedButton->setChecked(false);
    best->SyncSpeedButtonClick();
  }

  TeachingChange = true;
  if (best) best->TeachingChange = true;
  ArrangeWindows(playback::kTeachingLayout);
  BestSpeedButton2->setEnabled(true);
  SetBounds(LayoutLeft, LayoutTop, LayoutWidth, LayoutHeight);
  SetBButtonsDown(this, false);
  ArrangeWindows(playback::kTeachingLayout);
  ShowPictureAfterLayout();
  PresetSize = true;

  if (bestVisible) {
    SetBButtonsDown(best, false);
    best->hide();
  }
  TeachingChange = false;
  if (best) best->TeachingChange = false;
  SnapshotFrame();
  PausePlayback();
}

void TKestromForm::SplitScreenButtonClick() {
  AppForms& forms = Forms();
  TKestromForm* main = forms.MainWindow;
  TKestromForm* best = forms.BestWindow;
  if (!main || !best) return;
  if (main->RefuseResizeWhileBlending() || best->RefuseResizeWhileBlending()) return;
  if (main->Blending || best->Blending) return;
  StopPlayback();
  ReleaseLoopButtons(this);
  main->BestSpeedButton2Click();
  best->BestSpeedButton2Click();
  best->SyncSpeedButton->move(436, 4);
  best->SyncSpeedButton->show();
  if (main->RefuseResizeWhileBlending()) return;
  main->ArrangeWindows(playback::kSplitScreenLayout);
  for (TKestromForm* w : {main, best}) {
    if (w->VideoOpen) {
      w->BuildZoomTable(w->Layout);
      w->ShowPictureAfterLayout();
    } else {
      w->BlankSnapshot();
    }
    w->PresetSize = false;
  }
  main->BestSpeedButton2Click();
}

// ---- the Best window ----------------------------------------------------------------------------

void TKestromForm::BestSpeedButton2Click() {
  AppForms& forms = Forms();
  TKestromForm* main = forms.MainWindow;
  TKestromForm* best = forms.BestWindow;
  if (!main || !best) return;
  best->ArrangeWindows(main->Layout);
  best->show();
  if (best->VideoOpen) best->RefreshVideo->start();
  best->StopPlayback();
  ShowTab(best->FileControls, best->MainSheet);
  best->PlayListSpeedButton->setEnabled(false);
  if (Blending || !(BestSpeedButton->isChecked() || BestSpeedButton2->isChecked())) return;

  best->TeachingChange = false;
  SetBButtonsDown(main, true);
  best->IsMain = false;
  best->IsBest = true;
  ShowBButtons(best, false);
  best->FlipButton->hide();
  best->Teaching->hide();
  SetTabVisible(best->FileControls, best->CameraSheet, false);
  for (const char* name : {"AnalysisSpeedButton", "SpeedButton6", "AnalysisSpeedButton2"}) HideNamedControl(best, name);
  HideNamedControl(best, "OverlayButton", true);
  best->CalibratedGrid1->setEnabled(false);
  best->SyncSpeedButton->move(464, 4);
  best->SyncSpeedButton->show();
  if (!best->VideoOpen) {
    // An empty Best window starts afresh.
    best->setWindowTitle("Best");
    SetScrollBarQuietly(best, 0);
    best->Test->setText("0");
    for (int panel : {0, 1, 2, 4, 5, 6}) best->StatusBar1->SetPanelText(panel, " ");
    best->StatusBar1->SetPanelText(3, "Best");
    best->Drawings.ResetMarkers();
    if (best->Drawing) best->Drawing->ShowMarkerCaptions();
    best->Image2->move(static_cast<int>(core::Nearest((best->AreaWidth - best->Image2->width()) / 2.0)),
                       static_cast<int>(core::Nearest((best->AreaHeight - best->Image2->height()) / 2.0)) + 56);
    best->SyncSpeedButton->setChecked(false);
    best->SyncSpeedButtonClick();
  }
  best->show();
  ShowTab(best->FileControls, best->MainSheet);
}

void TKestromForm::RefreshVideoTimer() {
  RefreshVideo->stop();
  raise();
  ApplyZoomDisplayRect(ZoomStep);
  RefreshFrame();
}

// ---- synchronisation ----------------------------------------------------------------------------

void TKestromForm::SyncSpeedButtonClick() {
  TKestromForm* main = Forms().MainWindow;
  TKestromForm* best = Forms().BestWindow;
  if (!main || !best || main == best) return;
  QWidget* const followerControls[] = {best->ScrollBar1, best->PlayBitBtn2, best->SpeedButton2,
                                       best->ResetSpeedButton3};
  TStatusBar* backgroundStatus = BackgroundStatusBar(this);
  if (SyncSpeedButton->isChecked() && main->VideoOpen && best->VideoOpen) {
    // Best's own clock would fight Main's ticks: from now on only Main moves it.
    best->StopPlayback();
    main->DrivesPair = true;
    best->DrivesPair = false;
    best->Follower = true;
    main->SyncOffset =
        static_cast<int>(best->MediaPlayer1->Position() - main->MediaPlayer1->Position());
    for (QWidget* control : followerControls) control->hide();
    best->StatusBar1->SetPanelText(6, "Sync On");
    if (backgroundStatus) backgroundStatus->SetPanelText(6, "Sync On");
  } else {
    main->DrivesPair = false;
    best->DrivesPair = false;
    best->Follower = false;
    for (QWidget* control : followerControls) control->show();
    best->StatusBar1->SetPanelText(6, "Sync Off");
    if (backgroundStatus) backgroundStatus->SetPanelText(6, "Sync Off");
    SetScrollBarQuietly(best, best->VideoOpen ? best->MediaPlayer1->Position() : 0);
    // A button left down would say the pair is synchronised and lock Best's play buttons.
    SyncSpeedButton->setChecked(false);
  }
  if (Forms().DiagForm806) Forms().DiagForm806->ReadOut(8, QString("Sync offset %1").arg(main->SyncOffset));
}

void TKestromForm::FollowInBest() {
  TKestromForm* best = Forms().BestWindow;
  if (!DrivesPair || !best || best == this || !best->VideoOpen) return;
  const int64_t at = playback::SyncedPosition(MediaPlayer1->Position(), SyncOffset);
  best->MediaPlayer1->SetPosition(at);
  const int64_t frame = playback::FrameNumberAt(at, best->FrameDuration);
  best->Test->setText(QString::number(frame));
  best->ShowOnBackgroundForm(frame);
  best->RedrawOverlays();
  best->update();
}

// ---- memo pad -----------------------------------------------------------------------------------

void TKestromForm::MemoSpeedButtonClick() {
  if (WarnExportRunning() || !VideoOpen) return;
  SnapshotFrame();
  PausePlayback();
  ShowCompanion(MemoPad, this, DefaultCompanionPlace(Bounds()));
}

}  // namespace kestrom::window
