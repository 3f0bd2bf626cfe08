// The analysis window's controls: the menu panel with its tab control and tool buttons, the
// picture area, the playback panel and the status bar.
#include "analysis/window/KestromForm.h"
#include "analysis/playback/PanelRow.h"
#include "platform/media/MediaPlayerBar.h"
#include "platform/ui/CaptionFit.h"
#include "platform/ui/RowOverflow.h"
#include "platform/media/MediaPlayer.h"

#include <algorithm>
#include <map>
#include <QAction>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

namespace kestrom::window {

TStatusBar::TStatusBar(QWidget* parent, const QList<int>& widths) : QFrame(parent) {
  setObjectName("StatusBar1");
  int left = 0;
  for (int i = 0; i < widths.size(); ++i) {
    auto* panel = new QLabel(this);
    panel->setObjectName(QString("Panel%1").arg(i));
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    panel->setGeometry(left, 0, widths[i], 20);
    left += widths[i] + 2;
    panels_.push_back(panel);
  }
}

QString TStatusBar::PanelText(int index) const {
  return index >= 0 && index < panels_.size() ? panels_[index]->text() : QString();
}

void TStatusBar::SetPanelText(int index, const QString& text) {
  if (index < 0 || index >= panels_.size()) return;
  panels_[index]->setText(text);
  emit PanelTextChanged(index, text);
}

void ShowTab(QTabWidget* tabs, QWidget* page) {
  const int index = tabs->indexOf(page);
  if (index < 0) return;
  tabs->setTabVisible(index, true);
  tabs->setCurrentIndex(index);
}

void SetTabVisible(QTabWidget* tabs, QWidget* page, bool visible) {
  const int index = tabs->indexOf(page);
  if (index >= 0) tabs->setTabVisible(index, visible);
}

QToolButton* TKestromForm::AddSpeedButton(QWidget* parent, const QString& name, const QString& caption,
                                          const QString& hint, int left, int top, bool checkable, int width) {
  auto* button = new QToolButton(parent);
  button->setObjectName(name);
  button->setText(caption);
  button->setToolTip(hint);
  button->setCheckable(checkable);
  button->setGeometry(left, top, width, 26);
  return button;
}

// The rows of buttons were drawn for narrower letters than a Linux font has: a button widens to
// its caption, and the buttons after it on its row move along, so no caption is cut.
void TKestromForm::FitButtonsToCaptions() {
  QList<QAbstractButton*> buttons;
  for (QToolButton* b : findChildren<QToolButton*>()) buttons << b;
  ui::FitButtonsToCaptions(buttons);
}

void TKestromForm::FitRowsToWindow() {
  // The speed bar follows the main tab's buttons, however far their captions widened them.
  int right = SpeedBarPanel->x();
  for (QToolButton* b : MainSheet->findChildren<QToolButton*>(QString(), Qt::FindDirectChildrenOnly))
    right = std::max(right, b->geometry().right() + 7);
  SpeedBarPanel->move(right, SpeedBarPanel->y());
  MediaPlayerBar1->adjustSize();
  ArrangePlaybackPanel();
  for (int i = 0; i < FileControls->count(); ++i) ui::RowOverflow::Attach(FileControls->widget(i));
  ui::RowOverflow::Attach(Panel4);
}

void TKestromForm::ArrangePlaybackPanel() {
  // As wide as the picture area: the picture's vertical scroll bar stands to its right.
  Panel4->resize(std::max(width() - 16, 0), Panel4->height());
  // After the transport buttons, at the gaps the wide window was drawn with; only the position
  // bar gives way. Heights and tops stay: blending moves the bar up and down.
  QWidget* const row[] = {ScrollBar1, Test, ZoomInButton2, ZoomOutButton2, MediaPlayerBar1};
  const std::vector<playback::RowSlot> controls = {
      {8, 600, playback::kNarrowestPositionBar}, {8, Test->width(), Test->width()},
      {8, ZoomInButton2->width(), ZoomInButton2->width()}, {2, ZoomOutButton2->width(), ZoomOutButton2->width()},
      {10, MediaPlayerBar1->width(), MediaPlayerBar1->width()}};
  const std::vector<playback::RowPlace> places =
      playback::PlaceRow(ResetSpeedButton3->geometry().right() + 1, Panel4->width() - 4, controls);
  for (size_t i = 0; i < places.size(); ++i)
    row[i]->setGeometry(places[i].left, row[i]->y(), places[i].width, row[i]->height());
}

void TKestromForm::CreateControls() {
  // Menu panel: fixed 56 pixels at the top; the picture area starts below it.
  MenuPanel = new QFrame(this);
  MenuPanel->setObjectName("MenuPanel");
  MenuPanel->setGeometry(0, 0, 1278, 56);

  FileControls = new QTabWidget(MenuPanel);
  FileControls->setObjectName("FileControls");
  FileControls->setGeometry(0, 0, 1278, 56);
  auto addSheet = [this](QWidget*& page, const QString& name, const QString& caption) {
    page = new QWidget;
    page->setObjectName(name);
    FileControls->addTab(page, caption);
  };
  addSheet(MainSheet, "MainSheet", "Main ");
  addSheet(Markers, "Markers", "Markers");
  addSheet(Shapes, "Shapes", "Shapes");
  addSheet(Angles, "Angles", "Angles");
  addSheet(CaptureStyleSheet, "CaptureStyle", "Capture");
  addSheet(Digitisation, "Digitisation", "Digitisation");
  addSheet(System, "System", "System");
  addSheet(CameraSheet, "CameraSheet", "Camera");
  addSheet(TransparentSheet, "TransparentSheet", "Blend");
  addSheet(HelpSheet, "HelpSheet", "Help");
  addSheet(Working, "Working", "Working");
  addSheet(EquineCalSheet, "EquineCalSheet", "Calibration");

  // Main tab.
  BestSpeedButton2 = AddSpeedButton(MainSheet, "BestSpeedButton2", "B", "Open Best Window", 4, 2, true);
  MemoSpeedButton = AddSpeedButton(MainSheet, "MemoSpeedButton", "Memo", "Memo Pad", 36, 2, false, 44);
  PlayListSpeedButton = AddSpeedButton(MainSheet, "PlayListSpeedButton", "PlayList", "Open PlayList", 84, 2, false, 56);
  EmailSpeedButton = AddSpeedButton(MainSheet, "EmailSpeedButton", "E-mail",
                                    "Function to email the current video and memo information", 144, 2, false, 52);
  EmailSpeedButton->hide();  // mail runs only where a later step shows the button
  CreateExportAVIButton = AddSpeedButton(MainSheet, "CreateExportAVIButton", "Create Export AVI", "Create Export AVI", 200, 2,
                                         false, 52);
  CancelAVIExportButton = AddSpeedButton(MainSheet, "CancelAVIExportButton", "Cancel AVI Export", "Cancel AVI Export", 256,
                                         2, false, 52);
  FlipButton = AddSpeedButton(MainSheet, "FlipButton", "Mirror", "Mirror Image", 312, 2, true, 52);

  // Shapes tab.
  TextFontButton = AddSpeedButton(Shapes, "TextFontButton", "Font", "Text Font", 4, 2, false, 44);
  GridButton = AddSpeedButton(Shapes, "GridButton", "Grid", "Grid", 52, 2, true, 44);
  ShapesSpinEdit = new QSpinBox(Shapes);
  ShapesSpinEdit->setObjectName("ShapesSpinEdit");
  ShapesSpinEdit->setRange(1, 20);
  ShapesSpinEdit->setValue(2);
  ShapesSpinEdit->setGeometry(100, 2, 48, 26);
  GridPopupMenu = new QMenu(this);
  GridPopupMenu->setObjectName("GridPopupMenu");
  CalibratedGrid1 = GridPopupMenu->addAction("Calibrated Grid");
  CalibratedGrid1->setObjectName("CalibratedGrid1");
  CalibratedGrid1->setCheckable(true);
  FreeHandGrid1 = GridPopupMenu->addAction("FreeHand Grid");
  FreeHandGrid1->setObjectName("FreeHandGrid1");
  FreeHandGrid1->setCheckable(true);

  // Angles tab.
  AnglesSpinEdit = new QSpinBox(Angles);
  AnglesSpinEdit->setObjectName("AnglesSpinEdit");
  AnglesSpinEdit->setRange(1, 20);
  AnglesSpinEdit->setValue(2);
  AnglesSpinEdit->setGeometry(4, 2, 48, 26);

  // Capture tab.
  CaptureMenuButton = AddSpeedButton(CaptureStyleSheet, "CaptureMenuButton", "Capture Style Menu",
                                     "Captures sequences of images in either portrait (P) or landscape (L) style",
                                     4, 2, false, 120);
  CaptureSpeedButton = AddSpeedButton(CaptureStyleSheet, "CaptureSpeedButton", "Capture", "Video Screen Capture",
                                      128, 2, false, 60);
  SpeedButton8 = AddSpeedButton(CaptureStyleSheet, "SpeedButton8", "Still", "Still Image Capture", 192, 2, false, 48);

  // Digitisation tab: the trace buttons.
  LineSpeedButton = AddSpeedButton(Digitisation, "LineSpeedButton", "Line", "Trace Figure", 4, 2, true, 44);
  CurveSpeedButton = AddSpeedButton(Digitisation, "CurveSpeedButton", "Curve", "Smoothed Trace", 52, 2, true, 44);
  CrossSpeedButton = AddSpeedButton(Digitisation, "CrossSpeedButton", "Cross", "Trace Crosses", 100, 2, true, 44);

  // System tab: layouts and synchronisation.
  Vertical = AddSpeedButton(System, "Vertical", "V", "Vertical Mode", 4, 2);
  Horizontal = AddSpeedButton(System, "Horizontal", "H", "Horizontal Mode", 36, 2);
  Teaching = AddSpeedButton(System, "Teaching", "T", "Teaching Mode", 68, 2);
  SplitScreenButton = AddSpeedButton(System, "SplitScreenButton", "D", "Dual Screens", 100, 2);
  BestSpeedButton = AddSpeedButton(System, "BestSpeedButton", "B", "Open Best Window", 132, 2, true);
  LoopButton = AddSpeedButton(System, "LoopButton", "Loop", "Loop", 164, 2, true, 40);
  LoopButton2 = AddSpeedButton(System, "LoopButton2", "Loop 2", "Loop", 208, 2, true, 44);
  SpeedButton4 = AddSpeedButton(System, "SpeedButton4", "Footscan", QString(), 256, 2, false, 60);
  SpeedButton4->hide();
  SyncSpeedButton = AddSpeedButton(System, "SyncSpeedButton", "S", "Synchronise both videos", 464, 4, true);
  SyncSpeedButton->hide();

  // Camera tab.
  CameraButton = AddSpeedButton(CameraSheet, "CameraButton", "Camera", "Open Camera System", 4, 2, false, 60);

  // Help tab and help menu.
  BitBtn2 = new QPushButton("Help", HelpSheet);
  BitBtn2->setObjectName("BitBtn2");
  BitBtn2->setToolTip("Help Menu");
  BitBtn2->setGeometry(4, 2, 60, 26);
  HelpAboutButton = new QPushButton(HelpSheet);
  HelpAboutButton->setObjectName("HelpAboutButton");
  HelpAboutButton->setGeometry(68, 2, 120, 26);
  PopupMenu4 = new QMenu(this);
  PopupMenu4->setObjectName("PopupMenu4");
  Help1 = PopupMenu4->addAction("Help");
  Help1->setObjectName("Help1");
  KestromHelp1 = PopupMenu4->addAction("About Kestrom ");
  KestromHelp1->setObjectName("KestromHelp1");
  WebSite1 = PopupMenu4->addAction("Web Site");
  WebSite1->setObjectName("WebSite1");
  Uninstall1 = PopupMenu4->addAction("Uninstall");
  Uninstall1->setObjectName("Uninstall1");

  // Working tab: the developer's read-outs.
  Button1 = new QPushButton("DiagForm", Working);
  Button1->setObjectName("Button1");
  Button1->setGeometry(4, 2, 72, 26);
  Button1->hide();
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  Button9 = new QPushButton(Working);
  Button9->setObjectName("Button9");
  Button9->setGeometry(80, 2, 60, 26);
  Button10 = new QPushButton(Working);
  Button10->setObjectName("Button10");
  Button10->setGeometry(144, 2, 60, 26);

  // Picture area.
  Image1 = new QLabel(this);
  Image1->setObjectName("Image1");
  Image1->setGeometry(0, 56, 0, 0);
  Image1->hide();
  // The program's picture, shown in the empty picture area until a video opens.
  Image2 = new QLabel(this);
  Image2->setObjectName("Image2");

  Panel1 = new QFrame(this);
  Panel1->setObjectName("Panel1");
  Panel1->setGeometry(0, 56, 0, 0);
  Panel1->hide();

  // Playback panel: position bar, frame number and transport. It stands over the foot of the
  // picture area, so it paints its own ground: a picture larger than the area must not show
  // through it.
  Panel4 = new QFrame(this);
  Panel4->setObjectName("Panel4");
  Panel4->setFrameShape(QFrame::Panel);
  Panel4->setAutoFillBackground(true);
  Panel4->setGeometry(0, 876, 1262, 40);
  Panel4->hide();
  PlayBitBtn2 = AddSpeedButton(Panel4, "PlayBitBtn2", "Play", "Play", 4, 6, false, 44);
  SpeedButton2 = AddSpeedButton(Panel4, "SpeedButton2", "Pause", "Pause", 52, 6, false, 44);
  ResetSpeedButton3 = AddSpeedButton(Panel4, "ResetSpeedButton3", "Rewind", "Rewind", 100, 6, false, 52);
  ScrollBar1 = new QScrollBar(Qt::Horizontal, Panel4);
  ScrollBar1->setObjectName("ScrollBar1");
  ScrollBar1->setGeometry(160, 10, 600, 18);
  Test = new QLabel("0", Panel4);
  Test->setObjectName("Test");
  Test->setToolTip("Frame Number");
  Test->setGeometry(768, 10, 60, 18);

  StatusBar1 = new TStatusBar(this, {150, 200, 100, 100, 100, 150, 100});

  MediaPlayer1 = new media::MediaPlayer(this);
  MediaPlayer1->setObjectName("MediaPlayer1");
  CreatePlaybackControls();
  CreatePairControls();

  StartTimer = new QTimer(this);
  StartTimer->setObjectName("StartTimer");
  connect(StartTimer, &QTimer::timeout, this, [this] { StartTimerTimer(); });

  CreateSheetControls();
  CreateMailControls();
  CreateBlendControls();
  CreateCalibrationControls();
  CreateExportControls();
}

}  // namespace kestrom::window
