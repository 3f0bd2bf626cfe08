#include "analysis/window/HintForms.h"

#include "analysis/playback/PanelRow.h"
#include "platform/ui/FormSupport.h"
#include "common/startup/GlobalPaths.h"
#include "analysis/window/AppForms.h"
#include "analysis/window/CompanionPlacement.h"
#include "analysis/window/KestromForm.h"
#include "analysis/window/Sheets.h"
#include "platform/core/TextFile.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

namespace kestrom::window {

using ui::AddButton;
using ui::AddLabel;
using shell::Globals;

// ---- layout choosers ----------------------------------------------------------------------------

TInformationForm::TInformationForm(QWidget* parent) : QDialog(parent) {
  setObjectName("InformationForm");
  setWindowTitle("Information");
  ui::SetFixedDialogBorder(this);
  setFixedSize(190, 100);
  AddLabel(this, "Label1", "The Multi-Capture Facility for this size", 8, 4);
  AddLabel(this, "Label2", "is available in:- ", 8, 20);
  HorzLabel = AddLabel(this, "HorzLabel", "Standard Horizontal Mode", 8, 44);
  HorzButton = AddButton(this, "HorzButton", "H", 156, 40, 26, 24);
  HorzButton->setToolTip("Set Split Screen Horizontal System");
  VertLabel = AddLabel(this, "VertLabel", "Standard Vertical Mode", 8, 72);
  VertButton = AddButton(this, "VertButton", "V", 156, 68, 26, 24);
  VertButton->setToolTip("Set Split Screen Vertical System");
  connect(HorzButton, &QPushButton::clicked, this, [this] { HorzButtonClick(); });
  connect(VertButton, &QPushButton::clicked, this, [this] { VertButtonClick(); });
}

void TInformationForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (TKestromForm* w = WindowOfOwner(Forms().ActiveWindowNumber)) {
    MoveOnScreen(this, w, DefaultCompanionPlace(w->frameGeometry()));
  }
}

void TInformationForm::VertButtonClick() {
  if (TKestromForm* w = WindowOfOwner(Forms().ActiveWindowNumber)) w->VerticalClick();
  done(9);
}

void TInformationForm::HorzButtonClick() {
  if (TKestromForm* w = WindowOfOwner(Forms().ActiveWindowNumber)) w->HorizontalClick();
  done(9);
}

TOverlayInformationForm::TOverlayInformationForm(QWidget* parent) : QDialog(parent) {
  setObjectName("OverlayInformationForm");
  setWindowTitle("Information");
  ui::SetFixedDialogBorder(this);
  setFixedSize(191, 134);
  AddLabel(this, "Label1", "The Video Overlay Blending Function", 8, 4);
  AddLabel(this, "Label2", "is available in the following modes:- ", 8, 20);
  AddLabel(this, "Label3", "Standard Horizontal ", 8, 44);
  auto* horz = AddButton(this, "HorzButton", "H", 156, 40, 26, 24);
  AddLabel(this, "Label4", "or", 80, 64);
  AddLabel(this, "Label5", "Standard Vertical", 8, 80);
  auto* vert = AddButton(this, "VertButton", "V", 156, 76, 26, 24);
  AddLabel(this, "Label6", "or", 80, 100);
  AddLabel(this, "Label7", "Standard Dual", 8, 112);
  auto* dual = AddButton(this, "SplitScreenButton", "D", 156, 106, 26, 24);
  dual->setToolTip("Dual Screens i.e. Use Use ALL of the screen for both the Main and Best Windows");
  connect(horz, &QPushButton::clicked, this, [this] { HorzButtonClick(); });
  connect(vert, &QPushButton::clicked, this, [this] { VertButtonClick(); });
  connect(dual, &QPushButton::clicked, this, [this] { SplitScreenButtonClick(); });
  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(1000);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  Timer1->start();
}

void TOverlayInformationForm::HorzButtonClick() {
  Choice = 1;
  Timer1->start();
}

void TOverlayInformationForm::VertButtonClick() {
  Choice = 2;
  Timer1->start();
}

void TOverlayInformationForm::SplitScreenButtonClick() {
  Choice = 3;
  Timer1->start();
}

void TOverlayInformationForm::Timer1Timer() {
  Timer1->stop();
  TKestromForm* main = Forms().MainWindow;
  TKestromForm* best = Forms().BestWindow;
  if (main && best) {
    switch (Choice) {
      case 1:
        main->HorizontalClick();
        best->HorizontalClick();
        break;
      case 2:
        main->VerticalClick();
        best->VerticalClick();
        break;
      case 3:
        main->SplitScreenButtonClick();
        break;
      default:
        break;
    }
  }
  done(9);
}

// ---- hints --------------------------------------------------------------------------------------

THintForm::THintForm(QWidget* parent, const QString& name, const QString& caption, const QStringList& lines)
    : QDialog(parent) {
  setObjectName(name);
  setWindowTitle(caption);
  int top = 8, width = 0;
  for (int i = 0; i < lines.size(); ++i) {
    QLabel* label = AddLabel(this, QString("Label%1").arg(i + 1), lines[i], 8, top);
    width = std::max(width, label->width());
    top += 18;
  }
  CheckBox1 = new QCheckBox("Do not show this hint again", this);
  CheckBox1->setObjectName("CheckBox1");
  CheckBox1->adjustSize();
  CheckBox1->move(8, top + 8);
  auto* ok = AddButton(this, "BitBtn1", "OK", std::max(width, 200) - 67, top + 36, 75, 25);
  connect(ok, &QPushButton::clicked, this, [this] { done(9); });
  setFixedSize(std::max(width, 200) + 16, top + 70);
  connect(CheckBox1, &QCheckBox::clicked, this, [this] { CheckBox1Click(); });
}

void THintForm::CheckBox1Click() {
  const QString file = MarkerFile();
  if (CheckBox1->isChecked()) {
    // A marker that cannot be written only means the hint shows again next time.
    if (!QFileInfo::exists(file)) core::WriteTextLines(file, {MarkerLine()});
  } else if (QFileInfo::exists(file)) {
    QFile::remove(file);
  }
}

TShowNTSCHint::TShowNTSCHint(QWidget* parent)
    : THintForm(parent, "ShowNTSCHint", "Still Capture Information",
                {"HINT: If a video has a height of 480 pixels  (i.e.USA NTSC Standard )",
                 "then better quality still pictures will be obtained by setting the zoom", "window size to 1.2"}) {
  setWindowFlag(Qt::WindowStaysOnTopHint);
}

QString TShowNTSCHint::MarkerFile() const { return Globals().NTSCHintFile; }

QString TShowNTSCHint::MarkerLine() const { return " " + Globals().ProgramTitle + " NTSC Video Hint"; }

TBackgroundHint::TBackgroundHint(QWidget* parent)
    : THintForm(parent, "BackgroundHint", "Information",
                {"Please set the required background frame by first scrolling to that frame.",
                 "When this has been done then re-click the ''Set Background'' button",
                 "to complete the background frame sequence."}) {}

QString TBackgroundHint::MarkerFile() const { return Globals().BackgroundHintFile; }

QString TBackgroundHint::MarkerLine() const { return " " + Globals().ProgramTitle + " Background Hint"; }

TExportHintForm::TExportHintForm(QWidget* parent)
    : THintForm(parent, "ExportHintForm", "Information",
                {"Your own AVI video is made in two stages.",
                 "First every frame of the video is shown and saved with everything drawn on it.",
                 "While this runs you may pause, move the scroll bar and add drawings on the",
                 "Shapes and Angles tabs; Pause/Continue goes on from the frame shown.",
                 "Then the saved frames are joined into the video file that you name."}) {}

QString TExportHintForm::MarkerFile() const { return Globals().ExportHintFile; }

QString TExportHintForm::MarkerLine() const { return " " + Globals().ProgramTitle + " Export Hint"; }

// ---- background form ----------------------------------------------------------------------------

TBackgroundForm::TBackgroundForm(const QString& name, QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(name);
  setWindowTitle("Background Form");
  resize(650, 612);
  FileControls = new QTabWidget(this);
  FileControls->setObjectName("FileControls");
  FileControls->setGeometry(0, 0, 650, 56);
  // The same tabs, in the same order, as the analysis window.
  auto addSheet = [this](const char* objectName, const char* caption) {
    auto* page = new QWidget;
    page->setObjectName(objectName);
    FileControls->addTab(page, caption);
    return page;
  };
  MainSheet = addSheet("MainSheet", "Main");
  Markers = addSheet("Markers", "Markers");
  addSheet("Shapes", "Shapes");
  addSheet("Angles", "Angles");
  addSheet("CaptureStyle", "Capture");
  Digitisation = addSheet("Digitisation", "Digitisation");
  Digitisation->setToolTip("Show Animation Form");
  System = addSheet("System", "System");
  CameraSheet = addSheet("CameraSheet", "Camera");
  TransparentSheet = addSheet("TransparentSheet", "Blend");
  addSheet("HelpSheet", "Help");
  EquineCalSheet = addSheet("EquineCalSheet", "Calibration");
  auto button = [](QWidget* page, const QString& objectName, const QString& caption, int left, int width = 28) {
    auto* b = new QToolButton(page);
    b->setObjectName(objectName);
    b->setText(caption);
    b->setGeometry(left, 2, width, 26);
    return b;
  };
  AnalysisSpeedButton = button(MainSheet, "AnalysisSpeedButton", "A", 4);
  AnalysisSpeedButton->setToolTip("Load Kestrom Analysis");
  BestSpeedButton2 = button(MainSheet, "BestSpeedButton2", "B", 36);
  BestSpeedButton2->setCheckable(true);
  for (int n = 1; n <= 8; ++n) Std[n - 1] = button(Markers, QString("Std%1").arg(n), QString::number(n), 4 + (n - 1) * 32, 30);
  Time = button(Markers, "Time", "0.00", 264, 48);
  Time->setCheckable(true);
  OverlayButton = button(System, "OverlayButton", "Set Overlay", 4, 80);
  SyncSpeedButton = button(System, "SyncSpeedButton", "S", 436);
  SyncSpeedButton->setCheckable(true);
  ScrollBar2 = new QScrollBar(Qt::Horizontal, TransparentSheet);
  ScrollBar2->setObjectName("ScrollBar2");
  ScrollBar2->setRange(0, 255);
  ScrollBar2->setValue(255);
  ScrollBar2->setGeometry(4, 6, 255, 18);

  Image1 = new QLabel(this);
  Image1->setObjectName("Image1");
  Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  HorzScrollBar = new QScrollBar(Qt::Horizontal, this);
  HorzScrollBar->setObjectName("HorzScrollBar");
  VertScrollBar = new QScrollBar(Qt::Vertical, this);
  VertScrollBar->setObjectName("VertScrollBar");
  // Over the foot of the picture, as on the analysis window: it paints its own ground.
  Panel4 = new QFrame(this);
  Panel4->setObjectName("Panel4");
  Panel4->setFrameShape(QFrame::Panel);
  Panel4->setAutoFillBackground(true);
  ScrollBar1 = new QScrollBar(Qt::Horizontal, Panel4);
  ScrollBar1->setObjectName("ScrollBar1");
  ScrollBar1->setRange(0, 0);
  ScrollBar1->setGeometry(160, 10, 600, 18);
  Test = new QLabel("0", Panel4);
  Test->setObjectName("Test");
  Test->setToolTip("Frame Number");
  Test->setGeometry(768, 10, 60, 18);
  StatusBar1 = new TStatusBar(this, {150, 200, 100, 100, 100, 150, 100});
  // The copies show the window's values; the coach works in the window itself.
  for (QWidget* copy : std::initializer_list<QWidget*>{ScrollBar1, ScrollBar2, HorzScrollBar, VertScrollBar})
    copy->setEnabled(false);
  FormCreate();
}

void TBackgroundForm::FormCreate() {
  SetTabVisible(FileControls, EquineCalSheet, false);
  SetTabVisible(FileControls, Digitisation, false);
  AnalysisSpeedButton->hide();
}

void TBackgroundForm::SetFrame(const QImage& picture) {
  FrameBitmap = picture;
  Image1->setPixmap(QPixmap::fromImage(FrameBitmap));
  Image1->setGeometry(0, 56, FrameBitmap.width(), FrameBitmap.height());
  Image1->lower();  // the panels stand over the picture, as on the window
}

void TBackgroundForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FileControls->setGeometry(0, 0, width(), 56);
  const int areaWidth = std::max(width() - 16, 1), areaHeight = std::max(height() - 120, 1);
  HorzScrollBar->setGeometry(0, 56 + areaHeight, areaWidth, 16);
  VertScrollBar->setGeometry(areaWidth, 56, 16, areaHeight);
  Panel4->setGeometry(0, areaHeight, width(), 40);
  // The window's own position bar and frame number, placed as the window places them.
  const std::vector<playback::RowPlace> row =
      playback::PlaceRow(152, width() - 4, {{8, 600, playback::kNarrowestPositionBar}, {8, 60, 60}});
  ScrollBar1->setGeometry(row[0].left, ScrollBar1->y(), row[0].width, ScrollBar1->height());
  Test->setGeometry(row[1].left, Test->y(), row[1].width, Test->height());
  StatusBar1->setGeometry(0, height() - 20, width(), 20);
}

// ---- mirror form --------------------------------------------------------------------------------

namespace {
constexpr int kPanelHeight = 36;
}

TFlipForm::TFlipForm(QWidget* parent) : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                                            Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                                                            Qt::WindowMinimizeButtonHint) {
  setObjectName("FlipForm");
  setWindowTitle("Mirror Image");
  Panel1 = new QFrame(this);
  Panel1->setObjectName("Panel1");
  Panel1->setAutoFillBackground(true);
  SpeedButton8 = new QToolButton(Panel1);
  SpeedButton8->setObjectName("SpeedButton8");
  SpeedButton8->setToolTip("Still Image Capture x1");
  SpeedButton8->setText("x1");
  SpeedButton8->setGeometry(4, 4, 28, 26);
  CaptureSpeedButton = new QToolButton(Panel1);
  CaptureSpeedButton->setObjectName("CaptureSpeedButton");
  CaptureSpeedButton->setToolTip("Video Screen Capture");
  CaptureSpeedButton->setGeometry(36, 4, 28, 26);
  CaptureSpeedButton->hide();
  connect(SpeedButton8, &QToolButton::clicked, this, [this] { CaptureSpeedButtonClick(); });
  connect(CaptureSpeedButton, &QToolButton::clicked, this, [this] { CaptureSpeedButtonClick(); });
  SetClientSize(525, 257);
  FormCreate();
}

void TFlipForm::SetClientSize(int width, int height) { resize(width, height); }

void TFlipForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Panel1->setGeometry(0, height() - kPanelHeight, width(), kPanelHeight);
}

void TFlipForm::FormCreate() {
  const QColor background = core::ToQColor(Globals().BackgroundColour);
  MirrorBitmap = QImage(size(), QImage::Format_RGB32);
  MirrorBitmap.fill(background);
  QPalette colours = palette();
  colours.setColor(QPalette::Window, background);
  setPalette(colours);
  Panel1->setPalette(colours);
}

void TFlipForm::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(QPoint(0, 0), MirrorBitmap);
}

void TFlipForm::closeEvent(QCloseEvent* event) {
  if (TKestromForm* main = Forms().MainWindow) main->FlipButton->setChecked(false);
  event->accept();
}

void TFlipForm::CaptureSpeedButtonClick() {
  MirrorBitmap = grab().toImage().convertToFormat(QImage::Format_RGB32);
  TCapture1* capture = Forms().Capture1;
  if (!capture) return;
  capture->SetClientSize(width(), height() - 10);
  capture->SetPicture(MirrorBitmap);
  ShowCompanion(capture, this);
}

}  // namespace kestrom::window
