// Creation and start-up of the analysis window: the globals it sets, its first state, the start
// timer that arranges both windows and runs the first-run checks.
#include "analysis/drawing/DrawingControls.h"
#include "common/startup/DiagForm806.h"
#include "analysis/shell/FirstRunMarker.h"
#include "common/startup/GlobalPaths.h"
#include "analysis/shell/RegistrationForms.h"
#include "analysis/window/AppForms.h"
#include "analysis/window/KestromForm.h"
#include "analysis/window/Palettes.h"
#include "analysis/window/CompanionForms.h"
#include "analysis/window/HintForms.h"
#include "platform/core/Paths.h"
#include "platform/core/TextFile.h"
#include "platform/ui/Terminate.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

namespace kestrom::window {

using shell::Globals;

TKestromForm::TKestromForm(const QString& name, QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(name);
  setWindowTitle(name == "BestWindow" ? "Best" : "Main");
  CreateControls();
  ConnectClosingControls();
  FormCreate();
}

TKestromForm::~TKestromForm() {
  // The drawing controls filter this window's events and use its canvas; they go first.
  delete Drawing;
  Drawing = nullptr;
}

void TKestromForm::FormCreate() {
  ShowTab(FileControls, MainSheet);
  WorkBitmap1 = QImage();
  WorkBitmap2 = QImage();
  Image1->show();
  Exporting = false;

  SetTabVisible(FileControls, EquineCalSheet, false);
  setWindowTitle(shell::AnalysisWindowTitle);
  Globals().BackgroundColour = core::clTeal;
  Globals().ProgramTitle = "Kestrom";
  Panel1->show();
  SetTabVisible(FileControls, Digitisation, false);
  CalibratedGrid1->setVisible(false);

  Globals().FirstRunMarkerFile = "\\Kestrom Ruvodo Installation Upgrade 2.dat";
  Globals().FirstRunMarkerText = "Kestrom Ruvodo Upgrade 2 Installed OK";
  HelpAboutButton->setText("About Kestrom");
  PlayListSpeedButton->hide();

  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  SetBounds(0, 0, screen.width() - 2, screen.height() - 28);
  Uninstall1->setVisible(false);

  ExportPicture = QImage(720, 576, QImage::Format_RGB32);
  ExportPicture.fill(Qt::black);
  ScratchPicture = QImage(100, 100, QImage::Format_RGB32);
  SnapshotPicture = QImage(100, 100, QImage::Format_RGB32);
  StillCaptureBitmap = QImage(100, 100, QImage::Format_RGB32);

  const QString startFolder = QDir::currentPath();
  const QString& title = Globals().ProgramTitle;
  Globals().BackgroundHintFile = core::JoinPath(startFolder, "\\" + title + " Background Hint.dat");
  Globals().ExportHintFile = core::JoinPath(startFolder, "\\" + title + " Export Hint.dat");
  Globals().CalibrationDefaultFile = core::JoinPath(startFolder, "\\" + title + " Calibration Default.dat");
  Globals().NTSCHintFile = core::JoinPath(startFolder, "\\" + title + " NTSC Video Hint.dat");

  shell::InitGlobalPaths();

  VideoOpen = false;
  CaptureStyle = 1;

  ShapesControlForm = new TShapesControlForm(this);
  MarkerForm = new TMarkerForm(this);
  AnglesControlForm = new TAnglesControlForm(this);
  CreateDrawingControls();
  FitButtonsToCaptions();
  FitRowsToWindow();
  MemoPad = new TNewMemoPad(this);
  NTSCHint = new TShowNTSCHint(this);

  if (Forms().SplashForm) {
    Image2->setPixmap(QPixmap::fromImage(Forms().SplashForm->Picture));
    Image2->resize(Forms().SplashForm->Picture.size());
    CentreImage2();
  }
  CreateExportAVIButton->hide();
  CancelAVIExportButton->hide();
}

void TKestromForm::TempStart() {
  ClearModifiedFlags();
  FrameWidth = 720;
  FrameHeight = 576;
  Blending = false;
  BackgroundFormInUse = false;
  SnapshotPen = Globals().BackgroundColour;
  SnapshotBrush = Globals().BackgroundColour;
  DrivesPair = false;
  SyncOffset = 0;
  BestSpeedButton2->show();
  Started = true;
  MenuPanelHeight = MenuPanel->height();

  Layout = IsMain ? 3 : 1;
  ArrangeWindows(Layout);
  SnapshotFrame();

  VideoOpen = false;
  ZoomStep = 10;

  PenColour = core::clRed;
  PenWidth = 2;
  ShapesSpinEdit->setStyleSheet("color: red");
  BrushColour = core::clBlack;
  ShapesBackgroundColour = core::clWhite;
  BrushClear = true;
  AnglesSpinEdit->setStyleSheet("color: red");

  StatusBar1->SetPanelText(2, QString());

  BuildZoomTable(Layout);
  SnapshotPicture = QImage(std::max(AreaWidth, 1), std::max(AreaHeight, 1), QImage::Format_RGB32);
  FillSnapshot();
  Button9->setText(QString::number(AreaWidth));
  Button10->setText(QString::number(AreaHeight));
  SnapshotFrame();

  LineSpeedButton->setChecked(false);
  CurveSpeedButton->setChecked(false);
  ShowTab(FileControls, MainSheet);
  ClearModifiedFlags();
  QPalette colours = palette();
  colours.setColor(QPalette::Window, core::ToQColor(Globals().BackgroundColour));
  setPalette(colours);
  setAutoFillBackground(true);

  if (this == Forms().MainWindow) TeachingClick();

  if (TKestromForm* main = Forms().MainWindow; main && main->MemoPad) {
    main->MemoPad->File1->setVisible(true);
    main->MemoPad->EquineData1->setVisible(false);
    main->MemoPad->AddSessionResults1->setVisible(false);
  }
}

void TKestromForm::StartTimerTimer() {
  StartTimer->stop();
  AppForms& forms = Forms();
  if (forms.SplashForm) {
    forms.SplashForm->hide();
    delete forms.SplashForm;
    forms.SplashForm = nullptr;
  }
  TKestromForm* main = forms.MainWindow;
  TKestromForm* best = forms.BestWindow;
  best->EmailSpeedButton->hide();

  main->TempStart();
  best->TempStart();
  forms.Kestrom903InstallForm->InitSystemPaths();
  main->Panel4->show();
  best->Panel4->show();

  for (TKestromForm* w : {main, best}) {
    w->MemoPad->File1->setVisible(true);
    w->MemoPad->FontDialog1 = forms.SharedTextFont;
    w->MemoPad->EquineData1->setVisible(false);
    w->MemoPad->AddSessionResults1->setVisible(false);
  }
  main->raise();

  {
    const shell::GlobalPaths& g = Globals();
    if (shell::FirstRunDone()) return;

    const QPoint at = main->frameGeometry().topLeft();
    const int x = at.x() + 64, y = at.y() + 86;
    if (!forms.RegistrationAviForm->CheckAviSynth()) {
      main->MessageDlgPosPaused(
          "Avisynth is a software utility that helps with the capture\r\n"
          "of video files. Please re-run the application and install AviSynth.",
          ui::MsgDlgType::mtInformation, ui::mbOK, x, y);
      ui::Terminate();
      return;
    }
    bool codecsOk = forms.Kestrom903InstallForm->HasMpeg4Codec() || forms.RegistrationCodecForm->CheckCodecs();
    if (!codecsOk) {
      main->MessageDlgPosPaused(
          "Some of Microsofts's video codecs are not installed.\r\n"
          "Video codecs are files which compress the size of digital\r\n"
          "videos. Please load the codecs from either your\r\n",
          ui::MsgDlgType::mtInformation, ui::mbOK, x, y);
    }
    const bool directXOk = forms.Kestrom903InstallForm->HasDirectX8Or9();
    if (!directXOk) {
      main->MessageDlgPosPaused(
          "DirectX is not installed. This is a Microsoft video utility\r\n"
          "which is used to improve the quality of both video capture\r\n"
          "and display. Please load DirectX either from your Kestrom CD,\r\n"
          "the Kestrom website or from Microsoft's website.",
          ui::MsgDlgType::mtInformation, ui::mbOK, x, y);
    }
    if (codecsOk && directXOk) {
      const core::WriteResult written = shell::WriteFirstRunMarker();
      if (!written) {
        // Neither the program's folder nor the user's own took it: the checks run again next time.
        ui::AppDialogs().MessageDlgPos(written.error, ui::MsgDlgType::mtError, ui::mbOK, x, y, main);
        return;
      }
      for (TKestromForm* w : {main, best}) {
        for (ui::FileRequest* dialog : {&w->OpenDialog1, &w->OpenDialog2, &w->OpenDialog3, &w->SaveDialog1})
          dialog->initialDir = g.SamplesFolder;
      }
    } else {
      ui::AppDialogs().MessageDlgPos("Please load required utilities and then restart " + g.ProgramTitle,
                                     ui::MsgDlgType::mtInformation, ui::mbOK, x, y, main);
      ui::Terminate();
    }
  }
}

void TKestromForm::Button1Click() {
  if (Forms().DiagForm806) Forms().DiagForm806->show();
}

int TKestromForm::MessageDlgPosPaused(const QString& text, ui::MsgDlgType type, ui::MsgDlgButtons buttons, int x,
                                      int y) {
  // A box asked for while another of the program's boxes stands at that place goes beside it,
  // so that the first is not hidden under the second.
  // A box without a place is centred on its window and left as it is.
  static QList<QPoint> placesInUse;
  QPoint at(x, y);
  if (x >= 0 && y >= 0) {
    while (placesInUse.contains(at)) at += QPoint(24, 24);
    placesInUse << at;
  }
  PausePlayback();
  const int result = ui::AppDialogs().MessageDlgPos(text, type, buttons, at.x(), at.y(), this);
  if (x >= 0 && y >= 0) placesInUse.removeOne(at);
  ResumePlayback();
  return result;
}

int TKestromForm::MessageDlgPaused(const QString& text, ui::MsgDlgType type, ui::MsgDlgButtons buttons) {
  return MessageDlgPosPaused(text, type, buttons, -1, -1);
}

void TKestromForm::ClearModifiedFlags() { Drawings.ClearModifiedFlags(); }

void TKestromForm::CheckOnScreen() {
  OffScreen = false;
  if (!VideoOpen) return;
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  const QRect bounds = Bounds();
  OffScreen = bounds.left() < 0 || bounds.top() < 0 || bounds.left() + bounds.width() > screen.width() ||
              bounds.top() + bounds.height() > screen.height();
  if (Forms().DiagForm806) Forms().DiagForm806->ReadOut(2, OffScreen ? "OffScreen" : "OnScreen");
}

void TKestromForm::SnapshotFrame() {
  if (AreaWidth > 0 && AreaHeight > 0 && SnapshotPicture.size() != QSize(AreaWidth, AreaHeight)) {
    SnapshotPicture = QImage(AreaWidth, AreaHeight, QImage::Format_RGB32);
    FillSnapshot();
  }
  CheckOnScreen();
  OffScreen = false;
  if (!(Forms().MainWindow && Forms().MainWindow->DrivesPair)) raise();
  if (!WindowCanvas.Image().isNull() && !SnapshotPicture.isNull()) {
    QPainter painter(&SnapshotPicture);
    painter.drawImage(QPoint(0, 0), WindowCanvas.Image(), QRect(0, MenuPanelHeight, AreaWidth, AreaHeight));
  }
}

void TKestromForm::FillSnapshot() { SnapshotPicture.fill(core::ToQColor(SnapshotBrush)); }

void TKestromForm::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  if (!Started || WindowCanvas.Image().isNull()) return;
  QPainter painter(this);
  if (!PaintComposedBlend(painter)) painter.drawImage(QPoint(0, 0), WindowCanvas.Image());
}

// ---- splash -------------------------------------------------------------------------------------

TSplashForm::TSplashForm(QWidget* parent) : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint) {
  setObjectName("SplashForm");
  Picture = QImage(400, 240, QImage::Format_RGB32);
  Picture.fill(core::ToQColor(core::clTeal));
  QPainter painter(&Picture);
  painter.setPen(Qt::white);
  QFont font = painter.font();
  font.setPixelSize(36);
  font.setBold(true);
  painter.setFont(font);
  painter.drawText(QRect(0, 50, 400, 60), Qt::AlignCenter, "Kestrom Ruvodo");
  font.setPixelSize(16);
  font.setBold(false);
  painter.setFont(font);
  painter.drawText(QRect(0, 120, 400, 40), Qt::AlignCenter, "Measuring Motion Frame by Frame");
  painter.end();
  setFixedSize(Picture.size());
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  move(screen.center() - rect().center());
}

void TSplashForm::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(QPoint(0, 0), Picture);
}

}  // namespace kestrom::window
