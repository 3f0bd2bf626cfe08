// Closing the analysis windows and the program with the questions that protect unsaved work,
// telling the system's other programs to quit, starting the capture and playlist programs, the
// help menu, and the tab control's hints, guards and right-click shortcuts.
#include "analysis/annotation/AnglesTableForm.h"
#include "analysis/drawing/DrawingControls.h"
#include "common/startup/DiagForm806.h"
#include "common/startup/GlobalPaths.h"
#include "platform/ui/ModalForms.h"
#include "analysis/window/AppForms.h"
#include "analysis/window/CompanionPlacement.h"
#include "analysis/window/CompanionForms.h"
#include "analysis/window/HintForms.h"
#include "analysis/window/KestromForm.h"
#include "analysis/window/Palettes.h"
#include "platform/core/Paths.h"
#include "platform/media/MediaPlayer.h"
#include "platform/shell/Shell.h"
#include "platform/winmsg/WinMsg.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

namespace kestrom::window {

using shell::Globals;

const QString TKestromForm::WebSiteAddress = QStringLiteral("https://www.kestrom-systems.example/");

namespace {

// The programs of the system that are told to quit whenever an analysis window closes, in order.
const QStringList& QuitTitles() {
  static const QStringList titles = {"Kestrom Capture", "Kestrom Playlist and Video Editing",
                                     shell::CaptureWindowTitle, "Kestrom Export AVI"};
  return titles;
}

void ReleaseBButtons(TKestromForm* w) {
  if (!w) return;
  w->BestSpeedButton->setChecked(false);
  w->BestSpeedButton2->setChecked(false);
}

void StopExportTimer(TKestromForm* w) {
  if (auto* timer = w->findChild<QTimer*>("ExportAVITimer")) timer->stop();
}

// Hides a form when it exists.
void CloseForm(QWidget* form) {
  if (form) form->hide();
}

int VisibleIndex(const QTabWidget* tabs, int index) {
  int visible = 0;
  for (int i = 0; i < index; ++i)
    if (tabs->isTabVisible(i)) ++visible;
  return visible;
}

// Runs the window's tab handlers for changes the coach makes (mouse or keys), as the toolkit's
// tab control does; tabs that the program shows itself run none.
class TabControlWatcher final : public QObject {
 public:
  TabControlWatcher(TKestromForm* form, QTabWidget* tabs)
      : QObject(tabs), form_(form), tabs_(tabs), bar_(tabs->tabBar()) {
    previous_ = tabs->currentIndex();
    bar_->installEventFilter(this);
    tabs->installEventFilter(this);
    connect(tabs, &QTabWidget::currentChanged, this, [this](int index) { Changed(index); });
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    // Only the pointer is compared: events also arrive while the tab control is being destroyed.
    const QEvent::Type type = event->type();
    if (inside_ || (type != QEvent::MouseButtonPress && type != QEvent::KeyPress && type != QEvent::Wheel))
      return false;
    if (type == QEvent::MouseButtonPress && watched == bar_) {
      auto* press = static_cast<QMouseEvent*>(event);
      form_->FileControlsMouseDown(press->buttons(), press->modifiers(), press->position().toPoint());
    }
    const bool onBar = watched == bar_;
    const bool onTabs = watched == tabs_ && type == QEvent::KeyPress;  // Ctrl+Tab and its kin
    if (!onBar && !onTabs) return false;
    // The event is handled inside this mark, so a tab change it makes is the coach's.
    inside_ = true;
    userChange_ = true;
    QCoreApplication::sendEvent(watched, event);
    userChange_ = false;
    inside_ = false;
    // What the tab control did not take goes on to its parents as usual.
    return event->isAccepted();
  }

 private:
  void Changed(int index) {
    const int from = previous_;
    previous_ = index;
    if (index == tabs_->indexOf(form_->MainSheet)) form_->MainSheetShow();
    if (!userChange_ || handling_) return;
    handling_ = true;
    bool allow = true;
    {
      // The question is asked with the tab that is being left still current.
      const QSignalBlocker block(tabs_);
      tabs_->setCurrentIndex(from);
      form_->FileControlsChanging(allow);
      if (allow) tabs_->setCurrentIndex(index);
      previous_ = tabs_->currentIndex();
    }
    if (allow) form_->FileControlsChange();
    previous_ = tabs_->currentIndex();
    handling_ = false;
  }

  TKestromForm* form_;
  QTabWidget* tabs_;
  QObject* bar_;
  int previous_ = 0;
  bool inside_ = false;
  bool userChange_ = false;
  bool handling_ = false;
};

}  // namespace

void TKestromForm::ConnectClosingControls() {
  new TabControlWatcher(this, FileControls);
  connect(CameraButton, &QToolButton::clicked, this, [this] { CameraButtonClick(); });
  connect(PlayListSpeedButton, &QToolButton::clicked, this, [this] { PlayListSpeedButtonClick(); });
  connect(BitBtn2, &QPushButton::clicked, this, [this] { BitBtn2Click(); });
  connect(HelpAboutButton, &QPushButton::clicked, this, [this] { HelpAboutButtonClick(); });
  connect(Help1, &QAction::triggered, this, [this] { HelpClick(); });
  connect(KestromHelp1, &QAction::triggered, this, [this] { HelpAboutButtonClick(); });
  connect(WebSite1, &QAction::triggered, this, [this] { WebSite1Click(); });
  MainSheetShow();
}

// ---- unsaved work -------------------------------------------------------------------------------

bool TKestromForm::HasUnsavedWork() const {
  return Drawings.Modified().Any() || (MemoPad && MemoPad->MemoModified);
}

bool TKestromForm::AskToSaveWork() {
  if (!HasUnsavedWork()) return true;
  AppForms& f = Forms();
  const bool best = this == f.BestWindow;
  TCloseFilesForm* dialog = best ? f.CloseFilesForm2 : f.CloseFilesForm1;
  if (!dialog) return false;  // nobody to ask: nothing the coach made is dropped unasked
  dialog->OwnerIndex = best ? 2 : 1;
  ui::ShowModal(*dialog);
  // Closed from its frame with rows unanswered: whatever asked gives up, the work stays.
  return !HasUnsavedWork();
}

// ---- closing ------------------------------------------------------------------------------------

void TKestromForm::closeEvent(QCloseEvent* event) {
  // The application ends the program when its main form closes; the Best window only hides.
  bool canClose = true;
  if (!ClosingAnswered) FormCloseQuery(canClose);
  if (!canClose) {
    event->ignore();
    return;
  }
  FormClose();
  event->accept();
}

void TKestromForm::CloseAnswered() {
  ClosingAnswered = true;
  close();
  ClosingAnswered = false;
}

void TKestromForm::ResetBestWindow() {
  AppForms& f = Forms();
  StopPlayback();
  Timer1->stop();
  MediaPlayer1->Close();
  MediaPlayer1->SetFileName("Null");
  if (f.MainWindow) f.MainWindow->DrivesPair = false;
  SnapshotPicture.fill(core::ToQColor(Globals().BackgroundColour));
  Image2->show();
  IsBest = false;
  VideoOpen = false;
  CloseForm(MemoPad);
  CloseForm(f.AnglesTableForm2);
  // Blending over a window that has no video any more ends.
  Button4Click();
}

void TKestromForm::FormCloseQuery(bool& canClose) {
  AppForms& f = Forms();
  TKestromForm* main = f.MainWindow;
  TKestromForm* best = f.BestWindow;
  StopExportTimer(this);
  canClose = true;

  auto closeBest = [&] {
    best->ResetBestWindow();
    if (best->BackgroundFormInUse) CloseForm(f.BackgroundForm2);
    if (best != this) best->CloseAnswered();
  };

  if (this == best && TeachingChange) {
    // The teaching layout hides the Best window without a question; only its work is asked about.
    TeachingChange = false;
    f.ActiveWindowNumber = 2;
    if (!AskToSaveWork()) {
      canClose = false;
      return;
    }
    closeBest();
    ReleaseBButtons(main);
    return;
  }

  if (this == best) {
    f.ActiveWindowNumber = 2;
    if (!AskToSaveWork()) {
      canClose = false;
      ReleaseBButtons(main);
      return;
    }
    if (MessageDlgPaused("Do You Want To Close The Best Window ?", ui::MsgDlgType::mtConfirmation,
                         ui::mbYes | ui::mbNo) == ui::mrYes) {
      closeBest();
      ReleaseBButtons(best);
    } else {
      canClose = false;
    }
    ReleaseBButtons(main);
    return;
  }

  if (this == main) {
    // Best's work is asked about whenever the program may end with it, open or hidden.
    if (best && best->HasUnsavedWork()) {
      f.ActiveWindowNumber = 2;
      if (!best->AskToSaveWork()) {
        canClose = false;
        return;
      }
    }
    if (best && best->isVisible()) {
      if (MessageDlgPaused("Do You Want To Close The Best Window ?", ui::MsgDlgType::mtConfirmation,
                           ui::mbYes | ui::mbNo) == ui::mrYes) {
        closeBest();
        Button4Click();
      } else {
        canClose = false;
      }
    }
    ReleaseBButtons(main);
    f.ActiveWindowNumber = 1;
    if (!AskToSaveWork()) {
      canClose = false;
      return;
    }
    // This answer decides, whatever the Best window's answer was.
    canClose = MessageDlgPaused("Are You Sure You Want To Close The " + Globals().ProgramTitle + " System ?",
                                ui::MsgDlgType::mtConfirmation, ui::mbYes | ui::mbNo) == ui::mrYes;
  }
}

void TKestromForm::FormClose() {
  AppForms& f = Forms();
  Timer1->stop();
  if (this == f.BestWindow) {
    if (f.MainWindow) f.MainWindow->RefreshFrame();
    setWindowTitle("Best");
  }
  VideoOpen = false;
  Drawings.ResetMarkers();
  if (Drawing) Drawing->ShowMarkerCaptions();
  if (BackgroundFormInUse) CloseForm(this == f.BestWindow ? f.BackgroundForm2 : f.BackgroundForm1);
  CloseForm(f.FlipForm);
  CloseForm(f.CutForm1);
  CloseForm(f.CutForm2);
  for (TKestromForm* w : {f.MainWindow, f.BestWindow}) {
    if (!w) continue;
    w->DrawingGesture = false;
    if (w->Drawing) w->Drawing->Tools().SetDrawingMode(drawing::kModeNone);
  }
  for (const QString& title : QuitTitles()) KillApp(title);
}

bool TKestromForm::KillApp(const QString& title) {
  const winmsg::HWND window = winmsg::FindWindow(QString(), title, Qt::CaseSensitive);
  return window != 0 && winmsg::PostMessage(window, winmsg::WM_QUIT, 0, 0);
}

// ---- other programs -----------------------------------------------------------------------------

void TKestromForm::CameraButtonClick() {
  StopPlayback();
  // The capture program finds the analysis program by this caption.
  setWindowTitle(shell::AnalysisWindowTitle);
  const shell::GlobalPaths& g = Globals();
  shell::TDiagForm806* diag = Forms().DiagForm806;
  if (diag) {
    diag->ReadOut(50, g.CaptureProgram);
    diag->ReadOut(51, g.CaptureFolder);
  }
  const QPoint at = Bounds().topLeft();
  if (diag && diag->CountCaptureWindows()) {
    MessageDlgPosPaused("The Camera Window is already active and open!", ui::MsgDlgType::mtWarning, ui::mbOK,
                        at.x() + 64, at.y() + 86);
    return;
  }
  const shell::ShellResult started = shell::ShellExecute(g.CaptureProgram, {}, g.CaptureFolder);
  if (!started) MessageDlgPosPaused(started.reason, ui::MsgDlgType::mtError, ui::mbOK, at.x() + 64, at.y() + 86);
}

void TKestromForm::PlayListSpeedButtonClick() {
  StopPlayback();
  const shell::GlobalPaths& g = Globals();
  const QPoint at = Bounds().topLeft();
  if (shell::TDiagForm806* diag = Forms().DiagForm806; diag && diag->CountPlayListWindows()) {
    MessageDlgPosPaused("The Playlist Window is already active", ui::MsgDlgType::mtWarning, ui::mbOK, at.x() + 64,
                        at.y() + 86);
    return;
  }
  const shell::ShellResult started = shell::ShellExecute(g.PlayListProgram, {}, g.PlayListFolder);
  if (!started) MessageDlgPosPaused(started.reason, ui::MsgDlgType::mtError, ui::mbOK, at.x() + 64, at.y() + 86);
}

// ---- help ---------------------------------------------------------------------------------------

namespace {
void OpenHelp(TKestromForm* w, const QString& helpFile) {
  const QString& folder = Globals().AppFolder;
  const shell::ShellResult opened = shell::OpenHelpFile(core::JoinPath(folder, helpFile), folder);
  if (opened) return;
  const QPoint at = w->Bounds().topLeft();
  w->MessageDlgPosPaused(opened.reason, ui::MsgDlgType::mtInformation, ui::mbOK, at.x() + 64, at.y() + 86);
}
}  // namespace

void TKestromForm::HelpClick() { OpenHelp(this, "\\Help\\ZuzAzu9.hlp"); }

void TKestromForm::BitBtn2Click() {
  StopPlayback();
  const QPoint at = Bounds().topLeft();
  PopupMenu4->popup(QPoint(at.x() + 384, at.y() + 80));
}

void TKestromForm::HelpAboutButtonClick() {
  const QPoint at = Bounds().topLeft();
  MessageDlgPosPaused("Kestrom Ruvodo\r\n"
                      "Measuring Motion Frame by Frame\r\n\r\n"
                      "Video analysis for coaches: play, step and compare two videos,\r\n"
                      "draw and measure angles on them, and share the results.",
                      ui::MsgDlgType::mtInformation, ui::mbOK, at.x() + 64, at.y() + 86);
}

void TKestromForm::WebSite1Click() {
  const shell::ShellResult opened = shell::OpenDocument(WebSiteAddress);
  if (opened) return;
  const QPoint at = Bounds().topLeft();
  MessageDlgPosPaused(opened.reason, ui::MsgDlgType::mtInformation, ui::mbOK, at.x() + 64, at.y() + 86);
}

// ---- tabs ---------------------------------------------------------------------------------------

namespace {
// Shows a palette beside its window after its spin edit stepped up and back, so that the
// palette's width handler runs with the window's current settings.
void ShowPalette(QWidget* palette, QSpinBox* spin, QPoint at, const QWidget* opener) {
  if (!palette) return;
  if (spin) {
    const int value = spin->value();
    spin->stepBy(1);
    spin->setValue(value);
  }
  ShowCompanion(palette, opener, at);
}
}  // namespace

void TKestromForm::FileControlsMouseDown(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers,
                                         const QPoint& at) {
  if (Exporting) return;
  const bool rightClick = buttons == Qt::RightButton;
  const bool controlClick = buttons == Qt::LeftButton && modifiers == Qt::ControlModifier;
  if (!rightClick && !controlClick) return;
  const int index = FileControls->tabBar()->tabAt(at);
  if (index < 0) return;
  const QPoint bounds = Bounds().topLeft();
  const drawing::DrawingControlSet* palette =
      Drawing && Drawing->Sets().size() > 1 ? &Drawing->Sets()[1] : nullptr;
  switch (VisibleIndex(FileControls, index)) {
    case 8: OpenHelp(this, "\\Help\\Kestrom.hlp"); break;
    case 1: ShowPalette(MarkerForm, nullptr, bounds + QPoint(200, 100), this); break;
    case 2:
      ShowPalette(ShapesControlForm, palette ? palette->ShapesSpinEdit : nullptr, bounds + QPoint(250, 150), this);
      break;
    case 3:
      ShowPalette(AnglesControlForm, palette ? palette->AnglesSpinEdit : nullptr, bounds + QPoint(300, 200), this);
      break;
    default: break;
  }
}

void TKestromForm::FileControlsChanging(bool& allowChange) {
  if (MediaPlayer1->Mode() == media::MPMode::Playing) {
    ShowTab(FileControls, MainSheet);
    allowChange = false;
    return;
  }
  if (DigitisationMode && FileControls->currentWidget() != Digitisation) {
    allowChange = false;
    const QPoint at = Bounds().topLeft();
    MessageDlgPosPaused(Globals().ProgramTitle + " is now in Digitisation Mode. It is not\r\n" +
                            "possible to use any other Tab or Function while in this mode\r\n" +
                            "To exit this mode then use either 'Save Trace' or \r\n" + "Close the Digitisation Window ",
                        ui::MsgDlgType::mtWarning, ui::mbOK, at.x() + 68, at.y() + 86);
  }
}

void TKestromForm::FileControlsChange() {
  if (MediaPlayer1->Mode() == media::MPMode::Playing) {
    ShowTab(FileControls, MainSheet);
    return;
  }
  QWidget* page = FileControls->currentWidget();
  if (Exporting) {
    StopExportTimer(this);
    if (page != Shapes && page != Angles && page != CaptureStyleSheet && page != Digitisation) {
      ShowTab(FileControls, CaptureStyleSheet);
      WarnExportRunning();
      return;
    }
  }
  if (BackgroundFormInUse || Blending) ShowTab(FileControls, TransparentSheet);
  page = FileControls->currentWidget();

  static const std::pair<const char*, const char*> kHints[] = {
      {"MainSheet", "Video Control and Display Window"},
      {"Markers", "Set Frame Markers and Video Stopwatch : RIGHT CLICK for Alternative Marker Functions"},
      {"Shapes", "Drawing, Text and Grid Functions : RIGHT CLICK for Alternative Shape Functions"},
      {"Angles", "General, Vertical and Horizontal Drawing Functions : RIGHT CLICK for Alternative Angle Functions"},
      {"CaptureStyle", "Captures sequences of images in either portrait (P) or landscape (L) style"},
      {"Digitisation",
       "Video Calibration, Digitisation Templates, Traces, Animations and Measurement Functions"},
      {"System", "Main and Best Window Display Modes including Loop and Overlay functions"},
      {"CameraSheet", "Opens the Camcorder capturing and control functions "},
      {"TransparentSheet", "Blend and Overlay Videos : RIGHT CLICK to obtain the help menu whilst in this mode"},
      {"HelpSheet", "General Help Menu"},
  };
  for (const auto& [name, hint] : kHints)
    if (page && page->objectName() == QLatin1String(name)) FileControls->setToolTip(hint);
  if (auto* lineButton2 = findChild<QToolButton*>("LineButton2")) lineButton2->setChecked(false);

  TKestromForm* best = Forms().BestWindow;
  if ((Blending || BackgroundFormInUse) && best && best != this) {
    const QSignalBlocker block(best->FileControls);
    best->FileControls->setCurrentIndex(FileControls->currentIndex());
  }

  if (!VideoOpen) return;
  if (Drawing) Drawing->Tools().SetDrawingMode(drawing::kModeNone);
  StatusBar1->SetPanelText(1, QString());
  StatusBar1->SetPanelText(4, QString::asprintf(" %d fps", FramesPerSecond));
  unsetCursor();
  if (Drawings.Modified().trace && page != Digitisation) {
    const QPoint at = Bounds().topLeft();
    MessageDlgPosPaused("You are still in digitisation mode. Please return to the\r\n"
                        "digitisation menu to either SAVE, STOP or CONTINUE the trace",
                        ui::MsgDlgType::mtWarning, ui::mbOK, at.x() + 64, at.y() + 86);
    ShowTab(FileControls, Digitisation);
    return;
  }
  if (page == Shapes && Drawing) Drawing->ResumeArmedTool(false);
  if (page == Angles && Drawing) Drawing->ResumeArmedTool(true);
  if (page == CaptureStyleSheet) StopPlayback();
}

void TKestromForm::MainSheetShow() {
  const int index = FileControls->indexOf(MainSheet);
  FileControls->setTabText(index, objectName() == QLatin1String("BestWindow") ? "Best" : "Main");
}

}  // namespace kestrom::window
