// Window layouts of the analysis windows: vertical, horizontal, full-screen teaching and split
// screen, and switching the pair's synchronisation off.
#include "analysis/shell/GlobalPaths.h"
#include "analysis/window/AppForms.h"
#include "analysis/window/KestromForm.h"
#include "platform/core/Format.h"

#include <QGuiApplication>
#include <QScreen>
#include <QScrollBar>
#include <QTabWidget>
#include <QToolButton>

namespace kestrom::window {

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
}  // namespace

void TKestromForm::SetBounds(int left, int top, int width, int height) {
  // Layouts give outer bounds; the window frame, once known, lies inside them.
  const QSize frame = frameGeometry().size() - size();
  move(left, top);
  resize(std::max(1, width - frame.width()), std::max(1, height - frame.height()));
  // A hidden window learns its frame only when shown; the bounds are then applied again.
  requestedBounds_ = QRect(left, top, width, height);
  boundsPending_ = !isVisible();
}

void TKestromForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (boundsPending_ && frameGeometry() != requestedBounds_) {
    const QRect bounds = requestedBounds_;
    SetBounds(bounds.left(), bounds.top(), bounds.width(), bounds.height());
  }
  boundsPending_ = false;
}

QRect TKestromForm::Bounds() const { return frameGeometry(); }

void TKestromForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // The menu panel stays across the top and the status bar along the bottom.
  MenuPanel->setGeometry(0, 0, width(), MenuPanel->height());
  FileControls->setGeometry(0, 0, width(), MenuPanel->height());
  StatusBar1->setGeometry(0, height() - 20, width(), 20);
  CentreImage2();
  if (WindowCanvas.Image().size() != size()) {
    QImage canvas(size(), QImage::Format_RGB32);
    canvas.fill(core::ToQColor(shell::Globals().BackgroundColour));
    WindowCanvas.Image() = canvas;  // the same picture object, which the media player draws into
  }
  UserResize(event);
}

void TKestromForm::CentreImage2() {
  const int areaWidth = width() - 16, areaHeight = height() - 120;
  Image2->move(static_cast<int>(core::Nearest((areaWidth - Image2->width()) / 2.0)),
               static_cast<int>(core::Nearest((areaHeight - Image2->height()) / 2.0)) + 56);
}

int TKestromForm::ArrangeWindows(int layout) {
  AppForms& forms = Forms();
  const bool isMainWindow = this == forms.MainWindow;
  const QSize screen = ScreenSize();
  PresetSize = true;
  if (layout == 1 || layout == 2) {
    Layout = layout;
    LayoutWidth = layout == 1 ? 504 : 744;
    LayoutHeight = layout == 1 ? 721 : 380;
    if (isMainWindow) {
      LayoutTop = 0;
      LayoutLeft = 0;
      SetBounds(LayoutLeft, LayoutTop, LayoutWidth, LayoutHeight);
      ShowBButtons(this, true);
    } else {
      LayoutTop = layout == 1 ? 0 : 380;
      LayoutLeft = layout == 1 ? 510 : 0;
      SetBounds(LayoutLeft, LayoutTop, LayoutWidth, LayoutHeight);
      ShowBButtons(this, false);
    }
  } else if (layout == 3) {
    Layout = 3;
    LayoutWidth = screen.width() - 2;
    LayoutHeight = screen.height() - 28;
    LayoutTop = LayoutLeft = 0;
    ShowBButtons(this, false);
  } else if (layout == 4) {
    if (!isMainWindow) return 0;
    TKestromForm* main = forms.MainWindow;
    TKestromForm* best = forms.BestWindow;
    const int half = screen.width() / 2;
    main->SetBounds(0, 0, half - 2, screen.height() - 28);
    main->PresetSize = false;
    ShowBButtons(main, true);
    SetBButtonsDown(main, true);
    main->Layout = 4;
    main->show();
    if (best) {
      best->SetBounds(half, 0, half - 2, screen.height() - 28);
      ShowBButtons(best, false);
      best->PresetSize = false;
      best->Layout = 4;
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
  MessageDlgPosPaused("Sorry but it is not possible to re-size " + shell::Globals().ProgramTitle +
                          " when using the Blend function",
                      ui::MsgDlgType::mtInformation, ui::mbOK, at.x() + 64, at.y() + 86);
  if (isMaximized() || isMinimized()) showNormal();
  return true;
}

void TKestromForm::TeachingClick() {
  if (RefuseResizeWhileBlending()) return;
  AppForms& forms = Forms();
  TKestromForm* best = forms.BestWindow;
  StopPlayback();
  LoopButton->setChecked(false);
  LoopButton2->setChecked(false);
  const bool bestVisible = best && best->isVisible();
  if (bestVisible) {
    best->PausePlayback();
    const int answer = MessageDlgPaused(
        "Using the Teaching Window will hide the Best Window\r\n Do you want to continue ? ",
        ui::MsgDlgType::mtWarning, ui::mbYes | ui::mbNo);
    if (answer != ui::mrYes) return;
  }
  DrivesPair = false;
  if (best) {
    best->SyncSpeedButton->setChecked(false);
    best->SyncSpeedButtonClick();
  }

  TeachingChange = true;
  if (best) best->TeachingChange = true;
  ArrangeWindows(3);
  BestSpeedButton2->setEnabled(true);
  SetBounds(LayoutLeft, LayoutTop, LayoutWidth, LayoutHeight);
  SetBButtonsDown(this, false);
  ArrangeWindows(3);

  if (!VideoOpen) {
    BuildZoomTable(Layout);
    SnapshotPicture = QImage(std::max(AreaWidth, 1), std::max(AreaHeight, 1), QImage::Format_RGB32);
    SnapshotPicture.fill(core::ToQColor(shell::Globals().BackgroundColour));
  }
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

void TKestromForm::SyncSpeedButtonClick() {
  TKestromForm* main = Forms().MainWindow;
  TKestromForm* best = Forms().BestWindow;
  if (!main || !best) return;
  // Switching on needs a video in both windows; until then the pair stays unsynchronised.
  main->DrivesPair = false;
  main->SyncRatio = 1.0;
  main->SyncIntercept = 0.0;
  best->Follower = false;
  for (QWidget* control : std::initializer_list<QWidget*>{best->ScrollBar1, best->PlayBitBtn2, best->SpeedButton2,
                                                          best->ResetSpeedButton3})
    control->show();
  best->StatusBar1->SetPanelText(6, "Sync Off");
}

}  // namespace kestrom::window

namespace kestrom::window {

void TKestromForm::BlankSnapshot() {
  BuildZoomTable(Layout);
  SnapshotPicture = QImage(std::max(AreaWidth, 1), std::max(AreaHeight, 1), QImage::Format_RGB32);
  SnapshotPicture.fill(core::ToQColor(shell::Globals().BackgroundColour));
}

void TKestromForm::VerticalClick() { LayoutClick(1); }

void TKestromForm::HorizontalClick() { LayoutClick(2); }

void TKestromForm::LayoutClick(int layout) {
  AppForms& forms = Forms();
  TKestromForm* best = forms.BestWindow;
  if (RefuseResizeWhileBlending() || (best && best->RefuseResizeWhileBlending())) return;
  bool TKestromForm::*flag = layout == 1 ? &TKestromForm::VerticalChange : &TKestromForm::HorizontalChange;
  StopPlayback();
  LoopButton->setChecked(false);
  LoopButton2->setChecked(false);
  this->*flag = true;
  if (layout == 2 && best) best->ArrangeWindows(2);
  if (this == forms.MainWindow && best && BestSpeedButton->isChecked()) {
    best->*flag = true;
    if (layout == 1) {
      best->ArrangeWindows(1);
      best->show();
      best->SetBounds(510, 0, best->LayoutWidth, best->LayoutHeight);
      best->ArrangeWindows(1);
    } else {
      best->ArrangeWindows(2);
      best->show();
    }
    best->LayoutClick(layout);
  }
  ArrangeWindows(layout);
  BestSpeedButton2->setEnabled(true);
  SetBounds(layout == 2 ? LayoutLeft : Bounds().left(), LayoutTop, LayoutWidth, LayoutHeight);
  ArrangeWindows(layout);
  if (!VideoOpen) BlankSnapshot();
  PresetSize = true;
  this->*flag = false;
}

void TKestromForm::SplitScreenButtonClick() {
  AppForms& forms = Forms();
  TKestromForm* main = forms.MainWindow;
  TKestromForm* best = forms.BestWindow;
  if (!main || !best) return;
  if (main->RefuseResizeWhileBlending() || best->RefuseResizeWhileBlending()) return;
  if (main->Blending || best->Blending) return;
  StopPlayback();
  LoopButton->setChecked(false);
  LoopButton2->setChecked(false);
  main->BestSpeedButton2Click();
  best->BestSpeedButton2Click();
  best->SyncSpeedButton->move(436, 4);
  best->SyncSpeedButton->show();
  if (main->RefuseResizeWhileBlending()) return;
  main->ArrangeWindows(4);
  for (TKestromForm* w : {main, best}) {
    if (!w->VideoOpen) w->BlankSnapshot();
    w->PresetSize = false;
  }
  main->BestSpeedButton2Click();
}

void TKestromForm::BestSpeedButton2Click() {
  AppForms& forms = Forms();
  TKestromForm* main = forms.MainWindow;
  TKestromForm* best = forms.BestWindow;
  if (!main || !best) return;
  best->ArrangeWindows(main->Layout);
  best->show();
  best->StopPlayback();
  ShowTab(best->FileControls, best->MainSheet);
  best->PlayListSpeedButton->setEnabled(false);
  if (!Blending && (BestSpeedButton->isChecked() || BestSpeedButton2->isChecked())) {
    best->TeachingChange = false;
    SetBButtonsDown(main, true);
    best->IsMain = false;
    best->IsBest = true;
    ShowBButtons(best, false);
    best->FlipButton->hide();
    best->Teaching->hide();
    SetTabVisible(best->FileControls, best->CameraSheet, false);
    best->CalibratedGrid1->setEnabled(false);
    best->SyncSpeedButton->move(464, 4);
    best->SyncSpeedButton->show();
    if (!best->VideoOpen) {
      best->setWindowTitle("Best");
      best->ScrollBar1->setValue(0);
      best->Test->setText("0");
      for (int panel : {0, 1, 2, 4, 5, 6}) best->StatusBar1->SetPanelText(panel, " ");
      best->StatusBar1->SetPanelText(3, "Best");
      best->Image2->move(static_cast<int>(core::Nearest((best->AreaWidth - best->Image2->width()) / 2.0)),
                         static_cast<int>(core::Nearest((best->AreaHeight - best->Image2->height()) / 2.0)) + 56);
      best->SyncSpeedButton->setChecked(false);
      best->SyncSpeedButtonClick();
    }
    best->show();
    ShowTab(best->FileControls, best->MainSheet);
  }
}

}  // namespace kestrom::window
