#pragma once
// The analysis window. Two instances run side by side, "Main" and "Best"; each holds one video,
// its playback state, its drawings and its layout. The class is split by concern over several
// source files: controls (KestromFormControls.cpp), creation and start-up (KestromFormStart.cpp),
// layouts (KestromFormLayout.cpp), opening and playback (KestromFormPlayback.cpp), zoom and
// view geometry (KestromFormView.cpp).

#include "analysis/annotation/DrawingStore.h"
#include "analysis/playback/PlaybackClock.h"
#include "analysis/playback/PlayerPort.h"
#include "analysis/playback/VideoFacts.h"
#include "analysis/playback/ViewGeometry.h"
#include "platform/core/Colour.h"
#include "platform/ui/Canvas.h"
#include "platform/ui/Dialogs.h"

#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QWidget>
#include <memory>

class QAction;
class QFrame;
class QMenu;
class QPainter;
class QPushButton;
class QScrollBar;
class QSpinBox;
class QTabWidget;
class QTimer;
class QToolButton;

namespace kestrom::media {
class MediaPlayer;
class MediaPlayerBar;
}

namespace kestrom::drawing {
class DrawingControls;
class DrawingPort;
}  // namespace kestrom::drawing

namespace kestrom::sheets {
class TNewMemoPad;
}

namespace kestrom::winmsg {
struct CopyData;
}

namespace kestrom::window {

class TShapesControlForm;
class TMarkerForm;
class TAnglesControlForm;
using sheets::TNewMemoPad;
class TShowNTSCHint;
class TExportHintForm;
class TCapture1;
class TBackgroundForm;
class TCutForm;

/** @brief A status bar of fixed panels whose texts the window sets by index. */
class TStatusBar final : public QFrame {
  Q_OBJECT
 public:
  TStatusBar(QWidget* parent, const QList<int>& widths);
  QString PanelText(int index) const;
  void SetPanelText(int index, const QString& text);
  int PanelCount() const { return static_cast<int>(panels_.size()); }

 signals:
  void PanelTextChanged(int index, const QString& text);

 private:
  QList<QLabel*> panels_;
};

class TKestromForm : public QWidget {
  Q_OBJECT
 public:
  explicit TKestromForm(const QString& name, QWidget* parent = nullptr);
  ~TKestromForm() override;

  // ---- start-up ----
  /** @brief Creation: controls' first state, the program's globals, the window's companion forms. */
  void FormCreate();
  /** @brief Runs once on MainWindow shortly after start-up: initial state, layouts, first-run checks. */
  void StartTimerTimer();
  /** @brief The hidden "DiagForm" button: shows the window-title form. */
  void Button1Click();
  /** @brief The window's initial state. */
  void TempStart();

  // ---- messages ----
  /** @brief A message box at a position, with the playback clock stopped while it is up. */
  int MessageDlgPosPaused(const QString& text, ui::MsgDlgType type, ui::MsgDlgButtons buttons, int x, int y);
  /** @brief A centred message box, with the playback clock stopped while it is up. */
  int MessageDlgPaused(const QString& text, ui::MsgDlgType type, ui::MsgDlgButtons buttons);

  // ---- playback and view (filled in by playback and view code) ----
  void StopPlayback();
  void PausePlayback();
  void ResumePlayback();
  void BuildZoomTable(int layout);
  void SnapshotFrame();
  void CheckOnScreen();
  void ClearModifiedFlags();

  // ---- layouts ----
  /** @brief Places the window in a layout (1 vertical, 2 horizontal, 3 full screen, 4 split); 0 when refused. */
  int ArrangeWindows(int layout);
  void TeachingClick();
  void VerticalClick();
  void HorizontalClick();
  void SplitScreenButtonClick();
  void BestSpeedButton2Click();
  void SyncSpeedButtonClick();
  /** @brief While blending, tells the coach that the window cannot be resized; true then. */
  bool RefuseResizeWhileBlending();
  /** @brief Outer bounds, as layouts give them (the frame is inside them). */
  void SetBounds(int left, int top, int width, int height);
  QRect Bounds() const;

  // ---- Main and Best together: opening Best, synchronised play, companion windows
  //      (KestromFormLayout.cpp) ----
  /** @brief The one-shot redraw after the Best window was opened: to the top, picture back. */
  void RefreshVideoTimer();
  /** @brief Keeps the background form, and Best while this window blends over it, on this window. */
  void MoveCompanionWindows();
  /** @brief The coach moves the window. */
  void WMMoving();
  /** @brief "Memo Pad": shows the window's memo pad beside it. */
  void MemoSpeedButtonClick();
  /** @brief While MainWindow drives the pair: moves Best to Main's position plus the offset. */
  void FollowInBest();
  /** @brief A click on this window ends a figure left half-made in the other window. */
  void FormClick();
  QTimer* RefreshVideo = nullptr;

  // ---- comparison sheets (KestromFormSheets.cpp) ----
  /** @brief While an export runs: stops the playback and export timers, warns, and answers
   *  true, so the caller does nothing. False when no export runs. */
  bool WarnExportRunning();
  /** @brief "Capture Style Menu": pops up the sheet choice when a video is open. */
  void CaptureMenuButtonClick();
  /** @brief Clears the check marks of the sheet choices. */
  void ShowCaptureStyle();
  void ImageCaptureX1Click();
  void ImageCapturex4Click();
  void ImageCapturex4L1Click();
  void ImageCaptureX6Click();
  void ImageCapturex6L1Click();
  void ImageCapturex9Click();
  void ImageCaptureX12Click();
  void ImageCapturex12L1Click();
  void ImageCapturex18L1Click();
  /** @brief Copies the picture area with its drawings into the chosen sheet or TCapture1. */
  void CaptureSpeedButtonClick();
  /** @brief Saves TCapture1's client image as JPEG through this window's save dialog. */
  void SaveCapture1AsJPEG(TCapture1* capture);
  /** @brief The picture area as the window shows it (frame and drawings), from its canvas. */
  QImage PictureAreaImage() const;

  // ---- mail (KestromFormMail.cpp) ----
  /** @brief The e-mail button: pops up the two ways of mailing when a video is open. */
  void EmailSpeedButtonClick();
  /** @brief The e-mail window with the video and its memo as attachments. */
  void MailToOutlookExpress1Click();
  /** @brief Starts the outside mail program with the video's base name, unless it is already running. */
  void MailToYourSMTPserver1Click();
  QMenu* EmailPopupMenu = nullptr;
  QAction *MailToOutlookExpress1 = nullptr, *MailToYourSMTPserver1 = nullptr;

  // ---- window state ----
  bool IsMain = false;
  bool IsBest = false;
  bool VideoOpen = false;
  bool Started = false;  // painting is active from TempStart on
  int FrameWidth = 720;
  int FrameHeight = 576;
  int MenuPanelHeight = 56;
  int AreaWidth = 0;
  int AreaHeight = 0;
  int Layout = 0;
  int PreviousLayout = 0;
  int LayoutWidth = 0, LayoutHeight = 0, LayoutTop = 0, LayoutLeft = 0;
  bool PresetSize = false;
  int ZoomStep = 10;
  bool OffScreen = false;
  bool DrivesPair = false;
  bool Follower = false;
  int SyncOffset = 0;  // on MainWindow: Best's position minus Main's when synchronisation went on
  bool TeachingChange = false, VerticalChange = false, HorizontalChange = false;
  bool Blending = false;            // this window is translucent (overlay on MainWindow, or its background)
  bool BackgroundFormInUse = false;
  int CaptureStyle = 1;             // comparison-sheet kind
  bool Exporting = false;
  // What changed since the last save, and how many drawings there are, is kept by the drawing
  // store (Drawings.Modified(), Drawings.Shapes().size(), ...): one truth for the close-file dialog.

  // Drawing defaults of the window canvas.
  core::TColor PenColour = core::clRed;
  int PenWidth = 2;
  core::TColor BrushColour = core::clBlack;
  core::TColor ShapesBackgroundColour = core::clWhite;
  bool BrushClear = true;

  // Pictures owned by the window.
  QImage WorkBitmap1, WorkBitmap2;
  QImage ExportPicture;
  QImage SnapshotPicture;  // copy of the picture area
  QImage ScratchPicture;
  QImage StillCaptureBitmap;
  core::TColor SnapshotPen = core::clBlack;
  core::TColor SnapshotBrush = core::clWhite;
  /** @brief What the window shows below the menu panel; paintEvent only shows it. */
  ui::Canvas WindowCanvas;

  // Dialog settings (their initial folders, filters, names).
  ui::FileRequest OpenDialog1, OpenDialog2, OpenDialog3, SaveDialog1;

  // Companion forms owned by the window.
  TShapesControlForm* ShapesControlForm = nullptr;
  TMarkerForm* MarkerForm = nullptr;
  TAnglesControlForm* AnglesControlForm = nullptr;
  TNewMemoPad* MemoPad = nullptr;
  TShowNTSCHint* NTSCHint = nullptr;

  // Controls.
  QFrame* MenuPanel = nullptr;
  QTabWidget* FileControls = nullptr;
  QWidget *MainSheet = nullptr, *Markers = nullptr, *Shapes = nullptr, *Angles = nullptr,
          *CaptureStyleSheet = nullptr, *Digitisation = nullptr, *System = nullptr, *CameraSheet = nullptr,
          *TransparentSheet = nullptr, *HelpSheet = nullptr, *Working = nullptr, *EquineCalSheet = nullptr;
  QFrame* Panel1 = nullptr;
  QFrame* Panel4 = nullptr;
  QLabel* Image1 = nullptr;
  QLabel* Image2 = nullptr;
  TStatusBar* StatusBar1 = nullptr;
  QScrollBar* ScrollBar1 = nullptr;
  QLabel* Test = nullptr;
  QToolButton *PlayBitBtn2 = nullptr, *SpeedButton2 = nullptr, *ResetSpeedButton3 = nullptr;
  QToolButton *PlayListSpeedButton = nullptr, *BestSpeedButton = nullptr, *BestSpeedButton2 = nullptr,
              *MemoSpeedButton = nullptr, *EmailSpeedButton = nullptr, *CreateExportAVIButton = nullptr,
              *CancelAVIExportButton = nullptr, *SplitScreenButton = nullptr, *SpeedButton4 = nullptr,
              *Teaching = nullptr, *Vertical = nullptr, *Horizontal = nullptr, *SyncSpeedButton = nullptr,
              *TextFontButton = nullptr, *LineSpeedButton = nullptr, *CurveSpeedButton = nullptr,
              *CrossSpeedButton = nullptr, *CameraButton = nullptr, *CaptureMenuButton = nullptr,
              *CaptureSpeedButton = nullptr, *SpeedButton8 = nullptr, *LoopButton = nullptr,
              *LoopButton2 = nullptr, *FlipButton = nullptr, *GridButton = nullptr;
  QPushButton *HelpAboutButton = nullptr, *BitBtn2 = nullptr, *Button1 = nullptr, *Button9 = nullptr,
              *Button10 = nullptr;
  QSpinBox *ShapesSpinEdit = nullptr, *AnglesSpinEdit = nullptr;
  QMenu* PopupMenu4 = nullptr;  // help menu
  QAction *Help1 = nullptr, *KestromHelp1 = nullptr, *WebSite1 = nullptr, *Uninstall1 = nullptr;
  QMenu* GridPopupMenu = nullptr;
  QAction *CalibratedGrid1 = nullptr, *FreeHandGrid1 = nullptr;
  QTimer* StartTimer = nullptr;
  // The sheet choice menu and its nine items.
  QMenu* PopupMenu2 = nullptr;
  QAction *ImageCaptureX1 = nullptr, *ImageCapturex4 = nullptr, *ImageCapturex4L1 = nullptr,
          *ImageCaptureX6 = nullptr, *ImageCapturex6L1 = nullptr, *ImageCapturex9 = nullptr,
          *ImageCaptureX12 = nullptr, *ImageCapturex12L1 = nullptr, *ImageCapturex18L1 = nullptr;
  ui::FileRequest SaveDialogJpeg;  // the JPEG save dialog of TCapture1
  /** @brief Plays the window's video into WindowCanvas. */
  media::MediaPlayer* MediaPlayer1 = nullptr;

  // ---- drawing (KestromFormDrawing.cpp) ----
  /** @brief The drawing controls on the Markers, Shapes and Angles tabs and on the palettes. */
  void CreateDrawingControls();
  /** @brief The overlay steps of the redraw pass: the stored drawings, then the stopwatch. */
  void RedrawDrawings();
  /** @brief Lists the angles in this window's results table (Main's or Best's). */
  void ShowAnglesTable();
  annotation::DrawingStore Drawings;
  drawing::DrawingControls* Drawing = nullptr;
  // ---- closing, other programs, tabs and help (KestromFormClosing.cpp) ----
  /** @brief Asks what closing needs asked (Best window, unsaved work, the program); canClose says
   *  whether the window may close. */
  void FormCloseQuery(bool& canClose);
  /** @brief The window closes: its video and tool state go, the system's other programs are told to quit. */
  void FormClose();
  /** @brief Posts WM_QUIT to a top-level window with exactly this title; true when one was found and told. */
  static bool KillApp(const QString& title);
  /** @brief True when drawings, markers, angles, events, the trace or the memo changed since they were saved. */
  bool HasUnsavedWork() const;
  /** @brief Shows this window's close-file dialog when work is unsaved. False when the coach closed
   *  it with work still unsaved: the caller gives up what it was doing. */
  bool AskToSaveWork();
  /** @brief After the Best window closed: no video, no pair, the start picture, its forms hidden. */
  void ResetBestWindow();
  void CameraButtonClick();
  void PlayListSpeedButtonClick();
  void HelpClick();
  void BitBtn2Click();
  void HelpAboutButtonClick();
  void WebSite1Click();
  /** @brief A press on the tab control: right click (or Ctrl + left) opens a tab's palette or help. */
  void FileControlsMouseDown(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, const QPoint& at);
  /** @brief Whether the tab control may leave its current tab. */
  void FileControlsChanging(bool& allowChange);
  /** @brief A tab became current: hint, guards and the tab's tool made active again. */
  void FileControlsChange();
  void MainSheetShow();
  /** @brief The digitisation window is in use: no other tab may be chosen. */
  bool DigitisationMode = false;
  /** @brief The web page that the help menu's web-site item opens. */
  static const QString WebSiteAddress;
  /** @brief Closes the window with its questions already answered (the Best window, from Main's close). */
  void CloseAnswered();
  /** @brief Wires the buttons, help menu and tab control handled here. */
  void ConnectClosingControls();
  bool ClosingAnswered = false;  // set while CloseAnswered closes the window

  // ---- opening a video (KestromFormPlayback.cpp) ----
  /** @brief The open button: checks, opens and measures a video, then plays it at half speed. */
  void SpeedButton1Click();
  /** @brief Opens a chosen file as the open button does after its dialog (unsaved work is asked
   *  about first); false when refused or when the coach kept the old video. */
  bool OpenVideoFile(const QString& path);

  // ---- playback clock (KestromFormPlayback.cpp) ----
  void PlayBitBtnClick();
  void Slow2BitBtnClick();
  void Slow4BitBtnClick();
  void Slow8BitBtnClick();
  void Slow16BitBtnClick();
  void Timer1Timer();
  void ScrollBar1Change();
  void ScrollBar1Scroll(int scrollPos);
  void ScrollBarTimerTimer();
  void ResetSpeedButtonClick();
  void PauseSpeedButton2Click();
  void LoopSpeedButtonClick();
  void LoopButton2Click();
  void StopMediaPlayerPlay();
  void MediaPlayer1Click(bool* doDefault);
  void MediaPlayer1PostClick();
  void MediaPlayer1Notify();

  // ---- zoom, view geometry and sizing (KestromFormView.cpp) ----
  void ApplyZoomDisplayRect(int step);
  void SetZoom(int step);
  void ZoomInButtonClick();
  void ZoomOutButtonClick();
  void ZoomInButton2MouseDown(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers);
  void CheckZoomMenuItem();
  void RestoreFrame();
  void PaintMargins();
  void RefreshFrame();
  void ShowScrollPosition();
  void RedrawOverlays();
  void DrawSingleFrames();
  void DrawExtraOverlay();
  /** @brief Video x (double) to window x at the current step and scroll position. */
  int ShowX(double x) const;
  int ShowY(double y) const;
  /** @brief Window x to video x. */
  double ScreenToVideoX(int x) const;
  double ScreenToVideoY(int y) const;
  void FormPaint();
  void FormResize();
  /** @brief Smallest and largest size the window may take now. */
  void WMGetMinMaxInfo();
  void WMEnterSizeMove();
  void WMExitSizeMove();
  void HorzScrollBarChange();
  void VertScrollBarChange();
  void HorzScrollBarScroll(int scrollCode, int scrollPos);
  void VertScrollBarScroll(int scrollCode, int scrollPos);

  // Opened video.
  QString VideoFileName;
  QString VideoName;
  int64_t LengthFrames = 0;
  int64_t LengthMs = 0;
  double FrameDuration = 40.0;
  int FramesPerSecond = 0;
  playback::VideoCompanionNames CompanionFiles;
  QString MailVideoFile, MailMemoFile, MailBaseName;

  // View geometry: per-step tables (View.ZoomFactor[ZoomStep], View.XOffset[...]) and where the
  // picture stands now.
  playback::ViewGeometry View;
  int PicLeft = 0, PicTop = 0, PicRight = 0, PicBottom = 0;
  int ResizeCount = 0;
  bool Tracking = false;  // a picture scroll bar is being dragged
  bool MciPlaying = false;
  bool DrawingGesture = false;  // a drawing tool holds the mouse

  // The playback clock and the player it drives.
  std::unique_ptr<playback::PlaybackClock> Playback;
  media::MediaPlayerBar* MediaPlayerBar1 = nullptr;
  QTimer* Timer1 = nullptr;
  QTimer* ScrollBarTimer = nullptr;
  QTimer* SizeMoveTimer = nullptr;
  QScrollBar *HorzScrollBar = nullptr, *VertScrollBar = nullptr;
  QToolButton *SpeedButton1 = nullptr, *PlayBitBtn = nullptr, *Slow2BitBtn = nullptr, *Slow4BitBtn = nullptr,
              *Slow8BitBtn = nullptr, *Slow16BitBtn = nullptr, *ResetSpeedButton = nullptr,
              *PauseSpeedButton2 = nullptr, *ZoomInButton = nullptr,
              *ZoomInButton2 = nullptr, *ZoomOutButton = nullptr, *ZoomOutButton2 = nullptr,
              *SingleFrameButton = nullptr, *ZoomButton = nullptr;
  QToolButton* LoopSpeedButton = nullptr;  // the loop button of the System tab
  QFrame* SpeedBarPanel = nullptr;
  QMenu* ZoomPopupMenu = nullptr;
  QAction *Z30 = nullptr, *Z25 = nullptr, *Z20 = nullptr, *Z15 = nullptr, *N12NTSC1 = nullptr, *Z10 = nullptr,
          *Z05 = nullptr;

  // ---- overlay blending, background, cutting rectangle and mirror (KestromFormBlend.cpp) ----
  /** @brief "Set Overlay": lays MainWindow over BestWindow, translucent, once the pair is synchronised. */
  void OverlayButtonClick();
  /** @brief The blend value (0 only the picture behind, 255 only this window) changed. */
  void ScrollBar2Change();
  /** @brief "Reset": ends the overlay and the background of this window. */
  void Button4Click();
  /** @brief "M": only this window (blend value 255). */
  void Button5Click();
  /** @brief "B": only the picture behind (blend value 0). */
  void Button6Click();
  /** @brief The marker buttons show this window's own markers again (after Main's were shown here). */
  void ReloadMarkers();
  /** @brief "Set Background": the first press arms it, the second freezes the frame behind the window. */
  void BackgroundButtonClick();
  /** @brief Marker and stopwatch captions to the background form and, under the overlay, to BestWindow. */
  void CopyMarkerCaptions();
  void CuttingButtonMenuClick();
  /** @brief "Set": the next rectangle drawn on this window becomes the cut. */
  void Set1Click();
  void ShowCut1Click();
  /** @brief "Clear": hides the cut form. */
  void Hide1Click();
  /** @brief The mirror button: shows or hides the left-right mirrored copy of the picture. */
  void FlipButtonClick();
  /** @brief The redraw pass's mirror copy, while the mirror button is down. */
  void DrawMirror();
  /** @brief This window's alpha blending on at alpha (0..255), or off (opaque). */
  void SetBlending(bool on, int alpha = 255);
  /** @brief The frame number and position shown on the background form while it is in use. */
  void ShowOnBackgroundForm(int64_t frame, int scrollPosition = -1);
  TBackgroundForm* BackgroundForm() const;
  TCutForm* CutForm() const;
  // What the drawing tools ask of the cutting rectangle: the other window's cut over this one,
  // and this window's own rectangle offered as its cut.
  bool CarryingOtherCut() const;
  void FollowOtherCut(QPoint p);
  void EndCarryingOtherCut();
  bool TakeCut(QPoint start, QPoint end);
  bool OverlayOn = false;     // meaningful on MainWindow: it lies translucent over BestWindow
  int BackgroundStep = 1;     // 2 after the first "Set Background" press
  int BlendAlpha = 255;       // while Blending
  QPoint SavedBestPosition;   // on MainWindow while the overlay is on
  bool CutPending = false;    // the next rectangle becomes the cut
  bool CutArmed = false, Carrying = false;
  QToolButton *OverlayButton = nullptr, *BackgroundButton = nullptr, *CuttingButtonMenu = nullptr;
  QMenu* CuttingPopupMenu = nullptr;
  QAction *Set1 = nullptr, *ShowCut1 = nullptr, *Hide1 = nullptr;
  QScrollBar *ScrollBar2 = nullptr, *DummyScrollBar = nullptr;
  QPushButton *Button4 = nullptr, *Button5 = nullptr, *Button6 = nullptr;
  QLabel *BlendPanelB = nullptr, *BlendPanelM = nullptr;

 private:
  void CreateBlendControls();
  void EndBackground();
  void SetBlendLocks(bool locked, bool zoomToo = true);
  void CopyStatusPanel(int index, const QString& text);
  /** @brief Paints the blend itself where the window system cannot; false when it does not apply. */
  bool PaintComposedBlend(QPainter& painter);

 public:
  // ---- calibration and ruler (KestromFormCalibration.cpp), the export's frame steps
  //      (KestromFormExportFrames.cpp) ----
  /** @brief The ruler: the line tool, once the video has a calibration file. */
  void LineButton2Click();
  /** @brief Asks for a distance and repeats it. */
  void Button7Click();
  /** @brief Records this window as the one that asked for calibration, then loads it. */
  void LoadCalibrationClick();
  /** @brief Reads the video's calibration file; the calibration procedure does not exist yet. */
  void LoadCalibration();
  void Button11Click();
  void CalibratedGrid1Click();
  /** @brief The calibrated grid mode; no grid is calibrated yet. */
  void StartCalibratedGrid();
  /** @brief A video was opened: no calibration until one is loaded. */
  void ResetCalibrationForVideo();
  // Controls of the hidden Calibration and Digitisation tabs that have no behaviour yet.
  void HorizontalandVertical1Click() {}
  void Horizontalonly1Click() {}
  void Verticalonly1Click() {}
  void AnyDirection1Click() {}
  void Loadanexternalcalibrationfile1Click() {}
  void LineSpeedButtonClick() {}
  void CurveSpeedButtonClick() {}
  void CrossSpeedButtonClick() {}
  void StepTraceSpeedButtonClick() {}
  void SingleFrameButtonClick() {}
  void NewSequenceTrace1Click() {}
  void LoadTrace1Click() {}
  void LoadTrace2Click() {}
  void Loadanexistingtrace1Click() {}
  void LoadMultiTraceClick() {}
  void NewEventMarkersClick() {}
  void LoadEventMarkersMenuClick() {}
  void SaveEventMarkersMenuClick() {}
  void SaveEventMarkers1Click() {}
  void LoadEventMarkers1Click();
  void ReadEventMarkers() {}
  void Button3Click() {}
  void EditCurrentFrameDisplay1Click() {}
  void CreateFrameTemplates1Click() {}
  void DigitizationMenuButtonClick() {}
  void AnalysisSpeedButtonClick() {}
  void ZoomButtonClick() {}
  void Tota1Click() {}
  void Progressive1Click() {}
  void Individual1Click() {}
  void None1Click() {}
  void V3001Click() {}
  void V2001Click() {}
  void V1001Click() {}
  void V5001Click() {}
  QToolButton *LineButton2 = nullptr, *SpeedButton9 = nullptr, *SpeedButton10 = nullptr,
              *StepTraceSpeedButton = nullptr, *DigitizationMenuButton = nullptr, *AnalysisSpeedButton = nullptr,
              *TraceDisplayButton = nullptr;
  QPushButton *Button3 = nullptr, *Button7 = nullptr, *Button11 = nullptr, *LoadCalibrationButton = nullptr;
  QMenu *DigitisationMenu = nullptr, *TraceDisplayMenu = nullptr, *CalibrationDirectionMenu = nullptr;
  QAction *NewSequenceTrace1 = nullptr, *LoadTrace1 = nullptr, *LoadTrace2 = nullptr,
          *Loadanexistingtrace1 = nullptr, *LoadMultiTrace = nullptr, *NewEventMarkers = nullptr,
          *LoadEventMarkersMenu = nullptr, *SaveEventMarkersMenu = nullptr, *SaveEventMarkers1 = nullptr,
          *LoadEventMarkers1 = nullptr, *EditCurrentFrameDisplay1 = nullptr, *CreateFrameTemplates1 = nullptr;
  QAction *Tota1 = nullptr, *Progressive1 = nullptr, *Individual1 = nullptr, *None1 = nullptr, *V3001 = nullptr,
          *V2001 = nullptr, *V1001 = nullptr, *V5001 = nullptr;
  QAction *HorizontalandVertical1 = nullptr, *Horizontalonly1 = nullptr, *Verticalonly1 = nullptr,
          *AnyDirection1 = nullptr, *Loadanexternalcalibrationfile1 = nullptr;

  /**
   * @brief One frame of a running export, after the seek showed frame n: the picture as shown is
   * saved as the frame's file and the next step armed; near the end the export program starts.
   */
  void ExportFrameStep(int64_t n);
  /** @brief Starts the outside export program after the last frame; true when it started. */
  bool StartExportProgram();
  /** @brief One shot per export step (interval 2 ms until an export sets 5). */
  QTimer* ExportAVITimer = nullptr;
  /** @brief Non-zero while a scroll-bar drag holds the export: the seek does not re-arm it. */
  int ExportAVITimerTag = 0;
  /** @brief The last frame the export asked for. */
  int ExportFrameIndex = 0;

  // ---- export to the outside export program (KestromFormExportFrames.cpp) ----
  /** @brief Starts an export: checks, empties Temp, then steps through the frames. */
  void CreateExportAVIButtonClick();
  /** @brief One export step: asks for the next frame through the scroll bar. */
  void ExportAVITimerTimer();
  /** @brief Asks, then ends the export: Temp emptied, the window rewound. */
  void CancelAVIExportButtonClick();
  /** @brief The export program finished: the buttons come back (not while frames are being made). */
  void WMExportFinished();
  /** @brief VideoCreatedNotice: tells the coach that the video exists. */
  void WMCopyData(const winmsg::CopyData& data);
  /** @brief Handler of the window's directory entry: 0x2741 and WM_COPYDATA. */
  intptr_t WindowMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam, const winmsg::CopyData* data);
  /** @brief Lists the window in the window directory with WindowMessage as its handler. */
  void AttachWindowDirectory();
  /** @brief The video's length in frames when the export started. */
  int64_t ExportFrameCount = 0;
  /** @brief The video file chosen for the export. */
  QString ExportFileName;
  ui::FileRequest SaveDialog2;
  TExportHintForm* ExportHintForm = nullptr;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();
  void FitButtonsToCaptions();
  // Every row of controls in a window narrower than it was drawn for: the position bar narrows
  // and buttons past the window's edge are offered from the row's overflow button.
  void FitRowsToWindow();
  void ArrangePlaybackPanel();
  void CreateCalibrationControls();
  void CreateExportControls();
  class ClockHost;
  void CreatePlaybackControls();
  void ApplyZoomStep(int step, bool clearArea);
  void PictureScrollChange();
  void UserResize(QResizeEvent* event);
  bool sizing_ = false;
  void PictureScroll(int scrollCode, int scrollPos);
  void PlayAtSpeed(double speed);
  void StopClockForOwnPlay();
  static int ScrollCodeOf(int sliderAction);
  std::unique_ptr<playback::PlayerPort> playerPort_;
  std::unique_ptr<playback::PlaybackHost> clockHost_;
  void CreateSheetControls();
  void CreateMailControls();
  void ChooseSheet(QAction* item, int style, bool landscape);
  void LayoutClick(int layout);
  // Main and Best together (KestromFormLayout.cpp).
  void CreatePairControls();
  /** @brief After a layout change: the picture at the current step, or an empty area. */
  void ShowPictureAfterLayout();
  void BlankSnapshot();
  void CentreImage2();
  QToolButton* AddSpeedButton(QWidget* parent, const QString& name, const QString& caption, const QString& hint,
                              int left, int top, bool checkable = false, int width = 28);
  void FillSnapshot();
  std::unique_ptr<drawing::DrawingPort> drawingPort_;
  QRect requestedBounds_;
  bool boundsPending_ = false;
  // The frame the last placement allowed for, and the client size it gave; a window manager that
  // reports its frame only after the window is up gets the placement applied again.
  QSize frameAtBounds_, requestedClientSize_;
  bool ReapplyBoundsForNewFrame();
};

/** @brief The splash form shown while the program starts. */
class TSplashForm final : public QWidget {
  Q_OBJECT
 public:
  explicit TSplashForm(QWidget* parent = nullptr);
  QImage Picture;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

/**
 * @brief The notice that the export program made a video. A sentence too long for one line of
 * the box puts the video's name on a line of its own, so the box breaks no line in the middle.
 */
QString VideoCreatedMessage(const QString& videoName);

/** @brief Shows a tab of a tab control (by its page), keeping hidden tabs hidden. */
void ShowTab(QTabWidget* tabs, QWidget* page);
/** @brief Shows or hides a tab of a tab control (by its page). */
void SetTabVisible(QTabWidget* tabs, QWidget* page, bool visible);

}  // namespace kestrom::window
