#include "analysis/window/HintForms.h"

#include "analysis/shell/FormSupport.h"
#include "analysis/shell/GlobalPaths.h"
#include "analysis/window/AppForms.h"
#include "analysis/window/KestromForm.h"
#include "analysis/window/Sheets.h"
#include "platform/core/TextFile.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

namespace kestrom::window {

using shell::AddButton;
using shell::AddLabel;
using shell::Globals;

// ---- layout choosers ----------------------------------------------------------------------------

TInformationForm::TInformationForm(QWidget* parent) : QDialog(parent) {
  setObjectName("InformationForm");
  setWindowTitle("Information");
  shell::SetFixedDialogBorder(this);
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
    const QPoint at = w->frameGeometry().topLeft();
    move(at.x() + 64, at.y() + 86);
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
  shell::SetFixedDialogBorder(this);
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

// ---- background form ----------------------------------------------------------------------------

TBackgroundForm::TBackgroundForm(const QString& name, QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(name);
  setWindowTitle("Background Form");
  resize(650, 612);
  FileControls = new QTabWidget(this);
  FileControls->setObjectName("FileControls");
  FileControls->setGeometry(0, 0, 650, 56);
  for (const char* tab : {"Main", "Markers", "Shapes", "Angles", "Capture"}) FileControls->addTab(new QWidget, tab);
  Digitisation = new QWidget;
  Digitisation->setObjectName("Digitisation");
  Digitisation->setToolTip("Show Animation Form");
  FileControls->addTab(Digitisation, "Digitisation");
  for (const char* tab : {"System", "Blend", "Help"}) FileControls->addTab(new QWidget, tab);
  EquineCalSheet = new QWidget;
  EquineCalSheet->setObjectName("EquineCalSheet");
  FileControls->addTab(EquineCalSheet, "Calibration");
  AnalysisSpeedButton = new QToolButton(FileControls->widget(0));
  AnalysisSpeedButton->setObjectName("AnalysisSpeedButton");
  AnalysisSpeedButton->setToolTip("Load Kestrom Analysis");
  AnalysisSpeedButton->setText("A");
  AnalysisSpeedButton->setGeometry(4, 2, 28, 26);
  Image1 = new QLabel(this);
  Image1->setObjectName("Image1");
  Image1->setGeometry(0, 56, 650, 536);
  StatusBar1 = new TStatusBar(this, {100, 150, 80, 80, 80, 80, 60});
  StatusBar1->setGeometry(0, 592, 650, 20);
  FormCreate();
}

void TBackgroundForm::FormCreate() {
  SetTabVisible(FileControls, EquineCalSheet, false);
  SetTabVisible(FileControls, Digitisation, false);
  AnalysisSpeedButton->hide();
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
  capture->show();
}

}  // namespace kestrom::window
