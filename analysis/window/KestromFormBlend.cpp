// Comparing pictures on the screen: the overlay (MainWindow translucent over BestWindow), the
// background (a window translucent over a frozen frame of itself), the cutting rectangle carried
// from one window over the other, and the mirrored copy of a window's picture.
//
// Translucency never touches the window canvas: sheets, cuts, the mirror and export copy the
// canvas and must get the picture alone. Where the window system cannot blend, paintEvent
// composes the picture behind and the canvas at alpha / 255 (platform/ui/WindowBlend.h).
#include "analysis/drawing/DrawingControls.h"
#include "common/startup/GlobalPaths.h"
#include "platform/ui/ModalForms.h"
#include "analysis/window/AppForms.h"
#include "analysis/window/CompanionPlacement.h"
#include "analysis/window/CompanionForms.h"
#include "analysis/window/HintForms.h"
#include "analysis/window/KestromForm.h"
#include "platform/core/Format.h"
#include "platform/media/MediaPlayer.h"
#include "platform/ui/WindowBlend.h"

#include <QAction>
#include <QFileInfo>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QToolButton>

namespace kestrom::window {

using shell::Globals;

namespace {

constexpr int kOverlayAlpha = 200;  // where the overlay and the background start
constexpr int kScrollBar1Top = 10;  // ScrollBar1's place in the playback panel
constexpr int kScrollBar1AwayTop = 60;  // below the panel's edge: out of sight under the overlay
const char* const kBlendTabHint = "You can use RIGHT CLICK to get the help menu whilst blending.";

TKestromForm* OtherWindow(const TKestromForm* w) {
  TKestromForm* main = Forms().MainWindow;
  TKestromForm* best = Forms().BestWindow;
  return w == main ? best : w == best ? main : nullptr;
}

void SetQuietly(QScrollBar* bar, int value) {
  const QSignalBlocker block(bar);
  bar->setValue(value);
}

void SetUnderlined(QToolButton* button, bool underlined) {
  QFont font = button->font();
  font.setUnderline(underlined);
  button->setFont(font);
}

}  // namespace

void TKestromForm::CreateBlendControls() {
  ui::WindowBlendMethod();  // decided once, as the program starts, not in the middle of a blend
  OverlayButton = AddSpeedButton(System, "OverlayButton", "Set Overlay", "Overlay the Main Window on the Best Window",
                                 500, 2, false, 76);
  BackgroundButton = AddSpeedButton(System, "BackgroundButton", "Set Background",
                                    "Blend the video with a still frame of itself", 580, 2, false, 92);
  CuttingButtonMenu = AddSpeedButton(System, "CuttingButtonMenu", "Overlay",
                                     "Cut a rectangle out of the picture and carry it over the other window", 676, 2,
                                     false, 56);
  CuttingPopupMenu = new QMenu(this);
  CuttingPopupMenu->setObjectName("CuttingPopupMenu");
  Set1 = CuttingPopupMenu->addAction("Set");
  Set1->setObjectName("Set1");
  ShowCut1 = CuttingPopupMenu->addAction("Show");
  ShowCut1->setObjectName("ShowCut1");
  Hide1 = CuttingPopupMenu->addAction("Clear");
  Hide1->setObjectName("Hide1");

  ScrollBar2 = new QScrollBar(Qt::Horizontal, TransparentSheet);
  ScrollBar2->setObjectName("ScrollBar2");
  ScrollBar2->setToolTip("Blends the best and main videos");
  ScrollBar2->setRange(0, 255);
  ScrollBar2->setValue(255);
  ScrollBar2->setGeometry(4, 6, 255, 18);
  Button6 = new QPushButton("B", TransparentSheet);
  Button6->setObjectName("Button6");
  Button6->setToolTip("Show the Best Video only");
  Button6->setGeometry(264, 2, 28, 26);
  Button5 = new QPushButton("M", TransparentSheet);
  Button5->setObjectName("Button5");
  Button5->setToolTip("Show the Main Video only");
  Button5->setGeometry(296, 2, 28, 26);
  Button4 = new QPushButton("Reset", TransparentSheet);
  Button4->setObjectName("Button4");
  Button4->setToolTip("End blending");
  Button4->setGeometry(328, 2, 56, 26);
  // Which window the Blend tab belongs to.
  BlendPanelB = new QLabel("B", TransparentSheet);
  BlendPanelB->setObjectName("BlendPanelB");
  BlendPanelB->setFrameShape(QFrame::Panel);
  BlendPanelB->setAlignment(Qt::AlignCenter);
  BlendPanelB->setGeometry(392, 2, 26, 26);
  BlendPanelB->hide();
  BlendPanelM = new QLabel("M", TransparentSheet);
  BlendPanelM->setObjectName("BlendPanelM");
  BlendPanelM->setFrameShape(QFrame::Panel);
  BlendPanelM->setAlignment(Qt::AlignCenter);
  BlendPanelM->setGeometry(392, 2, 26, 26);
  BlendPanelM->hide();

  // Shows MainWindow's position on BestWindow while BestWindow's own bar lies out of sight.
  DummyScrollBar = new QScrollBar(Qt::Horizontal, Panel4);
  DummyScrollBar->setObjectName("DummyScrollBar");
  DummyScrollBar->setEnabled(false);
  DummyScrollBar->hide();

  connect(OverlayButton, &QToolButton::clicked, this, [this] { OverlayButtonClick(); });
  connect(BackgroundButton, &QToolButton::clicked, this, [this] { BackgroundButtonClick(); });
  connect(CuttingButtonMenu, &QToolButton::clicked, this, [this] { CuttingButtonMenuClick(); });
  connect(Set1, &QAction::triggered, this, [this] { Set1Click(); });
  connect(ShowCut1, &QAction::triggered, this, [this] { ShowCut1Click(); });
  connect(Hide1, &QAction::triggered, this, [this] { Hide1Click(); });
  connect(ScrollBar2, &QScrollBar::valueChanged, this, [this] { ScrollBar2Change(); });
  connect(Button4, &QPushButton::clicked, this, [this] { Button4Click(); });
  connect(Button5, &QPushButton::clicked, this, [this] { Button5Click(); });
  connect(Button6, &QPushButton::clicked, this, [this] { Button6Click(); });
  connect(FlipButton, &QToolButton::clicked, this, [this] { FlipButtonClick(); });
  connect(StatusBar1, &TStatusBar::PanelTextChanged, this,
          [this](int index, const QString& text) { CopyStatusPanel(index, text); });
  // A composed overlay shows BestWindow's picture: MainWindow repaints when it changes.
  connect(MediaPlayer1, &media::MediaPlayer::FrameShown, this, [this] {
    TKestromForm* main = Forms().MainWindow;
    if (main && main != this && main->OverlayOn && main->Blending) main->update();
  });
}

TBackgroundForm* TKestromForm::BackgroundForm() const {
  return this == Forms().BestWindow ? Forms().BackgroundForm2 : Forms().BackgroundForm1;
}

TCutForm* TKestromForm::CutForm() const { return this == Forms().BestWindow ? Forms().CutForm2 : Forms().CutForm1; }

// ---- blending -----------------------------------------------------------------------------------

void TKestromForm::SetBlending(bool on, int alpha) {
  Blending = on;
  BlendAlpha = on ? std::clamp(alpha, 0, 255) : 255;
  if (ui::WindowBlendMethod() == ui::BlendMethod::WindowOpacity) setWindowOpacity(BlendAlpha / 255.0);
  WMGetMinMaxInfo();  // a blending window keeps its size
  update();
}

bool TKestromForm::PaintComposedBlend(QPainter& painter) {
  if (!Blending || ui::WindowBlendMethod() != ui::BlendMethod::ComposedInPaint) return false;
  TKestromForm* best = Forms().BestWindow;
  if (BackgroundFormInUse) {
    const TBackgroundForm* form = BackgroundForm();
    ui::PaintBlend(painter, form ? form->FrameBitmap : QImage(), QPoint(0, MenuPanelHeight), WindowCanvas.Image(),
                   BlendAlpha);
    return true;
  }
  if (OverlayOn && best && best != this) {
    // BestWindow lies exactly under this window, at the same size.
    ui::PaintBlend(painter, best->WindowCanvas.Image(), QPoint(0, 0), WindowCanvas.Image(), BlendAlpha);
    return true;
  }
  return false;
}

void TKestromForm::SetBlendLocks(bool locked, bool zoomToo) {
  std::vector<QWidget*> controls = {Vertical,       Horizontal, Teaching,  SplitScreenButton, BestSpeedButton,
                                    BestSpeedButton2, FlipButton, CuttingButtonMenu};
  if (zoomToo) controls.insert(controls.end(), {ZoomInButton, ZoomOutButton, ZoomInButton2, ZoomOutButton2});
  for (QWidget* control : controls) control->setEnabled(!locked);
  if (locked) {
    HorzScrollBar->setEnabled(false);
    VertScrollBar->setEnabled(false);
  } else if (VideoOpen) {
    ApplyZoomDisplayRect(ZoomStep);  // the picture scroll bars where the picture overflows
  }
}

void TKestromForm::OverlayButtonClick() {
  AppForms& forms = Forms();
  TKestromForm* main = forms.MainWindow;
  TKestromForm* best = forms.BestWindow;
  if (!main || !best) return;
  const QRect at = main->Bounds();
  if (main->Layout == 0 || best->Layout == 0) {
    TOverlayInformationForm* chooser = forms.OverlayInformationForm;
    if (!chooser) return;
    chooser->move(at.left() + 64, at.top() + 86);
    for (const char* choice : {"HorzButton", "VertButton"})
      if (auto* button = chooser->findChild<QPushButton*>(choice)) button->show();
    if (ui::ShowModal(*chooser) == 9) {
      RefreshFrame();
      MessageDlgPosPaused(
          "Both Main and Best Windows have now been set for overlay.\r\nPlease check that both videos are:-\r\n"
          "i)  in their correct relative positions and\r\nii) have been synchronised\r\n"
          "Then return to 'Set Overlay' to continue blending",
          ui::MsgDlgType::mtInformation, ui::mbOK, at.left() + 64, at.top() + 86);
    }
    return;
  }
  if (!main->DrivesPair) {
    MessageDlgPosPaused("Both Main and Best videos must be synchronised\n\rfor overlay windows",
                        ui::MsgDlgType::mtInformation, ui::mbOK, at.left() + 64, at.top() + 86);
    return;
  }

  // A background of either window ends: only one picture can lie behind MainWindow.
  if (best->BackgroundFormInUse || best->BackgroundStep != 1) best->EndBackground();
  if (TBackgroundForm* form = best->BackgroundForm()) form->hide();
  if (main->BackgroundFormInUse || main->BackgroundStep != 1) main->EndBackground();
  best->resize(main->size());
  // The picture stands where Main's does, so the two blend point for point.
  best->BuildZoomTable(best->Layout);
  best->ApplyZoomDisplayRect(best->ZoomStep);
  best->RefreshFrame();
  main->SetBlendLocks(true);
  best->SetBlendLocks(true);
  best->SetBlending(false);
  best->BlendPanelB->show();
  best->BlendPanelM->hide();
  main->BlendPanelB->hide();
  main->BlendPanelM->show();
  main->SavedBestPosition = best->pos();
  best->move(main->pos());
  main->OverlayOn = true;
  main->BackgroundFormInUse = false;
  main->BackgroundButton->setEnabled(false);
  main->OverlayButton->setEnabled(false);
  main->BestSpeedButton2->hide();
  main->FileControls->setToolTip(kBlendTabHint);
  SetTabVisible(best->FileControls, best->TransparentSheet, true);
  SetTabVisible(best->FileControls, best->CameraSheet,
                main->FileControls->isTabVisible(main->FileControls->indexOf(main->CameraSheet)));
  ShowTab(main->FileControls, main->TransparentSheet);
  ShowTab(best->FileControls, best->TransparentSheet);
  SetQuietly(main->ScrollBar2, kOverlayAlpha);
  SetQuietly(best->ScrollBar2, kOverlayAlpha);
  main->SetBlending(true, kOverlayAlpha);
  best->SyncSpeedButton->hide();
  best->LoopButton2->show();
  best->Test->setText(main->Test->text());
  {
    const int tag = best->Playback->ScrollTag;
    best->Playback->ScrollTag = playback::kClockMovesScrollBar;
    best->ScrollBar1->setValue(std::min(main->ScrollBar1->value(), best->ScrollBar1->maximum()));
    best->Playback->ScrollTag = tag;
  }
  main->CopyMarkerCaptions();
  main->HorzScrollBar->setEnabled(false);
  main->VertScrollBar->setEnabled(false);
  main->StatusBar1->SetPanelText(6, "Sync On");
  const QRect bar = best->ScrollBar1->geometry();
  best->DummyScrollBar->setGeometry(bar.left(), kScrollBar1Top, bar.width(), bar.height());
  best->DummyScrollBar->setRange(0, main->ScrollBar1->maximum());
  best->DummyScrollBar->setValue(main->ScrollBar1->value());
  best->DummyScrollBar->show();
  best->ScrollBar1->move(bar.left(), kScrollBar1AwayTop);
  best->show();  // it must be there to be seen through Main
  main->raise();
  main->update();
}

void TKestromForm::ScrollBar2Change() {
  const int value = ScrollBar2->value();
  TKestromForm* main = Forms().MainWindow;
  TKestromForm* best = Forms().BestWindow;
  if (OverlayOn && this == main) {
    SetBlending(true, value);
    if (best && best != this) SetQuietly(best->ScrollBar2, value);
  }
  if (BackgroundFormInUse) {
    SetBlending(true, value);
    if (TBackgroundForm* form = BackgroundForm()) SetQuietly(form->ScrollBar2, value);
  }
}

void TKestromForm::Button5Click() { ScrollBar2->setValue(255); }
void TKestromForm::Button6Click() { ScrollBar2->setValue(0); }

void TKestromForm::Button4Click() {
  TKestromForm* main = Forms().MainWindow;
  TKestromForm* best = Forms().BestWindow;
  if (this == best && main && main != this && main->OverlayOn) {
    // Reset on BestWindow (or BestWindow closing) ends the whole overlay: Main must not stay
    // translucent over a window that no longer follows it.
    main->Button4Click();
  }
  if (main && best && main->OverlayOn) {
    best->SetBlendLocks(false);
    ShowTab(best->FileControls, best->MainSheet);
    best->OverlayOn = false;
  }
  if (OverlayOn && best && best != this) {
    best->move(SavedBestPosition);
    OverlayOn = false;
    SetTabVisible(FileControls, TransparentSheet, false);
    SetQuietly(ScrollBar2, 255);
    SetBlending(false);
    SetBlendLocks(false);
    best->SetBlendLocks(false);
    OverlayButton->setEnabled(true);
    BackgroundButton->setEnabled(true);
    OverlayButton->show();
    BestSpeedButton2->show();
    SetTabVisible(best->FileControls, best->CameraSheet, false);
    SetTabVisible(best->FileControls, best->TransparentSheet, false);
    best->SyncSpeedButton->show();
    best->LoopButton2->show();
    best->DummyScrollBar->hide();
    best->ScrollBar1->move(best->ScrollBar1->x(), kScrollBar1Top);
    best->ReloadMarkers();
    FileControls->setToolTip(QString());
    best->FileControls->setToolTip(QString());
    ShowTab(FileControls, MainSheet);
    ShowTab(best->FileControls, best->MainSheet);
    best->update();
  }
  // A background half set (first press only) ends too, so its locks never outlive it.
  if (BackgroundFormInUse || BackgroundStep != 1) EndBackground();
}

void TKestromForm::ReloadMarkers() {
  // The store still holds this window's markers; the file is read again only when that loses
  // nothing the coach has not saved.
  if (VideoOpen && !Drawings.Modified().markers && QFileInfo::exists(CompanionFiles.MarkersFile))
    Drawings.LoadMarkers(CompanionFiles.MarkersFile, FrameDuration, MediaPlayer1->LengthMs());
  if (Drawing) Drawing->ShowMarkerCaptions();
}

void TKestromForm::CopyMarkerCaptions() {
  if (!Drawing) return;
  const drawing::DrawingControlSet& mine = Drawing->WindowSet();
  if (BackgroundFormInUse) {
    if (TBackgroundForm* form = BackgroundForm()) {
      for (int n = 0; n < 8; ++n)
        if (mine.Std[n]) form->Std[n]->setText(mine.Std[n]->text());
      if (mine.Time) form->Time->setText(mine.Time->text());
    }
  }
  TKestromForm* best = Forms().BestWindow;
  if (OverlayOn && this == Forms().MainWindow && best && best != this && best->Drawing) {
    const drawing::DrawingControlSet& theirs = best->Drawing->WindowSet();
    for (int n = 0; n < 8; ++n)
      if (mine.Std[n] && theirs.Std[n]) theirs.Std[n]->setText(mine.Std[n]->text());
    if (mine.Time && theirs.Time) theirs.Time->setText(mine.Time->text());
  }
}

void TKestromForm::CopyStatusPanel(int index, const QString& text) {
  if (BackgroundFormInUse)
    if (TBackgroundForm* form = BackgroundForm()) form->StatusBar1->SetPanelText(index, text);
  TKestromForm* best = Forms().BestWindow;
  if (index == 0 && OverlayOn && this == Forms().MainWindow && best && best != this)
    best->StatusBar1->SetPanelText(0, text);
}

void TKestromForm::ShowOnBackgroundForm(int64_t frame, int scrollPosition) {
  if (!BackgroundFormInUse) return;
  TBackgroundForm* form = BackgroundForm();
  if (!form) return;
  form->Test->setText(QString::number(frame));
  if (scrollPosition >= 0) form->ScrollBar1->setValue(scrollPosition);
}

// ---- background ---------------------------------------------------------------------------------

void TKestromForm::BackgroundButtonClick() {
  TBackgroundForm* form = BackgroundForm();
  if (!form) return;
  TKestromForm* main = Forms().MainWindow;
  const bool isBest = this == Forms().BestWindow;
  if (isBest) {
    form->hide();
    for (QWidget* control : std::initializer_list<QWidget*>{OverlayButton, Teaching, BestSpeedButton,
                                                            BestSpeedButton2, FlipButton, SplitScreenButton})
      control->hide();
    ScrollBar1->setVisible(!(main && main->DrivesPair));
  }
  BuildZoomTable(Layout);
  ApplyZoomDisplayRect(ZoomStep);
  SetBlendLocks(true, false);
  form->BestSpeedButton2->setVisible(Layout != 3);

  if (BackgroundStep == 1) {
    // First press: the coach steps to the frame wanted, then presses again.
    if (!QFileInfo::exists(Globals().BackgroundHintFile))
      if (TBackgroundHint* hint = Forms().BackgroundHint) {
        const QRect at = Bounds();
        MoveOnScreen(hint, this, QPoint(at.left() + 100, at.top() + 150));
        ui::ShowModal(*hint);
      }
    SetUnderlined(BackgroundButton, true);
    form->resize(size());
    BackgroundStep = 2;
    return;
  }

  // Second press: the frame shown now is frozen behind the window.
  form->move(600, form->y());
  form->SetFrame(WindowCanvas.Image().copy(QRect(0, MenuPanelHeight, width(), height() - MenuPanelHeight)));
  BackgroundStep = 4;
  form->ScrollBar1->setMaximum(ScrollBar1->maximum());
  form->show();
  // Client area on client area: the frozen picture lies exactly behind the window's picture.
  form->setGeometry(geometry());
  OverlayOn = false;
  BackgroundFormInUse = true;
  FileControls->setToolTip(kBlendTabHint);
  SyncSpeedButtonClick();
  ShowTab(FileControls, TransparentSheet);
  ShowTab(form->FileControls, form->TransparentSheet);
  SetQuietly(ScrollBar2, kOverlayAlpha);
  SetQuietly(form->ScrollBar2, kOverlayAlpha);
  SetBlending(true, kOverlayAlpha);
  SetUnderlined(BackgroundButton, false);
  for (int panel = 0; panel < StatusBar1->PanelCount(); ++panel)
    form->StatusBar1->SetPanelText(panel, StatusBar1->PanelText(panel));
  form->ScrollBar1->setValue(ScrollBar1->value());
  form->Test->setText(Test->text());
  form->OverlayButton->hide();
  if (!isBest) {
    form->BestSpeedButton2->setChecked(BestSpeedButton2->isChecked());
  } else {
    SetTabVisible(form->FileControls, form->CameraSheet, false);
    form->SyncSpeedButton->move(464, form->SyncSpeedButton->y());
    form->FileControls->setTabText(0, "Best");
    form->SyncSpeedButton->setChecked(SyncSpeedButton->isChecked());
  }
  CopyMarkerCaptions();
  raise();
}

void TKestromForm::EndBackground() {
  BackgroundStep = 1;
  BackgroundFormInUse = false;
  if (TBackgroundForm* form = BackgroundForm()) form->hide();
  ShowTab(FileControls, MainSheet);
  SetQuietly(ScrollBar2, 255);
  SetBlending(false);
  SetUnderlined(BackgroundButton, false);
  SetBlendLocks(false);
  FileControls->setToolTip(QString());
}

// ---- cutting rectangle --------------------------------------------------------------------------

void TKestromForm::CuttingButtonMenuClick() {
  if (!VideoOpen) return;
  TKestromForm* main = Forms().MainWindow;
  TKestromForm* best = Forms().BestWindow;
  if (main && best && main->VideoOpen && best->VideoOpen) {
    const QRect at = (this == main ? main : best)->Bounds();
    CuttingPopupMenu->popup(at.topLeft() + QPoint(272, 80));
    return;
  }
  const QRect at = Bounds();
  MessageDlgPosPaused("Sorry : But you need both the Main and Best\r\nwindows on in order to use the Video Overlay",
                      ui::MsgDlgType::mtInformation, ui::mbOK, at.left() + 64, at.top() + 86);
}

void TKestromForm::Set1Click() {
  Hide1Click();
  if (!Drawing || !VideoOpen) return;
  Drawing->ClearBrushClick(true);
  Drawing->Tools().ResumeTool(drawing::Tool::Rectangle);  // mode 2, a rectangle, the pen of ShapesSpinEdit
  StatusBar1->SetPanelText(1, "Cutting Rectangle ON");
  Drawing->HideTextBox();
  TCutForm* form = CutForm();
  if (!form) return;
  form->hide();
  form->resize(100, 100);
  CutPending = true;
  CutArmed = true;
  Carrying = false;
}

bool TKestromForm::TakeCut(QPoint start, QPoint end) {
  TCutForm* form = CutForm();
  if (!CutPending || !Drawing || !form || Drawing->Tools().ShapeKindOfTool() != annotation::ShapeKind::Rectangle)
    return false;
  // A drawing tool the coach chose since "Set" draws for itself: the cut is given up.
  const drawing::DrawingControlSet& tools = Drawing->WindowSet();
  for (const QToolButton* tool : {tools.FreehandButton, tools.LineButton, tools.RectangleButton, tools.EllipseButton,
                                  tools.DrawVerticalLineSpeedButton, tools.HorizontalLineSpeedButton,
                                  tools.TextButton, tools.GridButton})
    if (tool && tool->isChecked()) {
      CutPending = false;
      return false;
    }
  // Dragged in any direction, the rectangle is the same; a slip of the mouse cuts nothing.
  const int x1 = std::min(start.x(), end.x()), x2 = std::max(start.x(), end.x());
  const int y1 = std::min(start.y(), end.y()), y2 = std::max(start.y(), end.y());
  const int dx = x2 - x1, dy = y2 - y1;
  if (dx < 3 || dy < 3) return true;  // nothing stored, the cut stays set for the next try
  QImage cut(dx, dy, QImage::Format_RGB32);
  cut.fill(core::ToQColor(Globals().BackgroundColour));
  {
    // The picture inside the rectangle, less its outline.
    QPainter painter(&cut);
    painter.drawImage(QRect(0, 0, dx, dy), WindowCanvas.Image(),
                      QRect(x1 + 1, y1 + 1, std::max(1, dx - 3), std::max(1, dy - 3)));
  }
  form->SetPicture(cut);
  const TKestromForm* other = OtherWindow(this);
  const QRect at = (other ? other : this)->Bounds();
  form->move(at.left() + 100, at.top() + 300);
  form->show();
  CutPending = false;
  Drawing->Tools().SetDrawingMode(drawing::kModeNone);
  StatusBar1->SetPanelText(1, QString());
  return true;
}

bool TKestromForm::CarryingOtherCut() const {
  const TKestromForm* other = OtherWindow(this);
  return other && other->CutArmed && other->CutForm() && other->CutForm()->isVisible();
}

void TKestromForm::FollowOtherCut(QPoint p) {
  TKestromForm* other = OtherWindow(this);
  if (!other) return;
  TCutForm* form = other->CutForm();
  if (!form) return;
  other->Carrying = true;
  form->raise();
  // Just beside the mouse, so the mouse stays over this window.
  form->move(mapToGlobal(p) + QPoint(5, 1));
}

void TKestromForm::EndCarryingOtherCut() {
  TKestromForm* other = OtherWindow(this);
  if (!other) return;
  other->RefreshFrame();
  other->Carrying = false;
}

void TKestromForm::ShowCut1Click() {
  if (TCutForm* form = CutForm()) form->show();
}

void TKestromForm::Hide1Click() {
  if (TCutForm* form = CutForm()) form->hide();
  CutPending = false;
  Carrying = false;
  if (TKestromForm* other = OtherWindow(this)) other->RefreshFrame();
}

// ---- mirror -------------------------------------------------------------------------------------

void TKestromForm::FlipButtonClick() {
  if (!VideoOpen) {
    FlipButton->setChecked(false);
    return;
  }
  // Only switching the mirror on asks; switching it off always takes it away.
  if (FlipButton->isChecked() && Layout != 1) {
    const QRect at = Bounds();
    const int answer = MessageDlgPosPaused(
        "You are about to use the Flip window. It is good\r\npractice to start any mirror sequences by using the\r\n"
        "Vertical mode window. Is this OK ?",
        ui::MsgDlgType::mtConfirmation, ui::mbYesNoCancel, at.left() + 64, at.top() + 86);
    if (answer == ui::mrYes) {
      VerticalClick();
    } else if (answer != ui::mrNo) {
      FlipButton->setChecked(false);  // Cancel, or the box closed: the mirror stays off
      return;
    }
  }
  TFlipForm* flip = Forms().FlipForm;
  if (!flip) return;
  if (FlipButton->isChecked()) {
    const QRect main = Forms().MainWindow ? Forms().MainWindow->Bounds() : Bounds();
    flip->SetClientSize(std::max(PicRight - PicLeft, 1), std::max(PicBottom - PicTop, 1) + 30);
    flip->setWindowTitle(this == Forms().BestWindow ? "Best Window Reverse" : "Main Window Reverse");
    ShowCompanion(flip, this, QPoint(main.left() + main.width() + 5, main.top() + 56));
  } else {
    flip->hide();
  }
  RedrawOverlays();
  SnapshotFrame();
  PausePlayback();
}

void TKestromForm::DrawMirror() {
  TFlipForm* flip = Forms().FlipForm;
  if (!flip || !FlipButton->isChecked() || AreaWidth <= 0 || AreaHeight <= 0) return;
  flip->SetClientSize(AreaWidth, AreaHeight + 30);
  const QImage area = WindowCanvas.Image().copy(QRect(0, MenuPanelHeight, AreaWidth, AreaHeight));
  QImage mirror(flip->size(), QImage::Format_RGB32);
  mirror.fill(core::ToQColor(Globals().BackgroundColour));
  {
    QPainter painter(&mirror);
    painter.drawImage(QPoint(0, 0), area.mirrored(true, false));
  }
  flip->MirrorBitmap = mirror;
  flip->update();
}

}  // namespace kestrom::window
