#pragma once
// The media player panel: hosts the player control, sizes the video inside itself (default,
// half, double, fit, zoom with scroll bars), keeps a selection range, and delivers the player's
// state events later from a 50 ms timer so that no handler runs inside the player's notification.
// It can splice the sample grabber into the player's graph and save grabbed frames as BMP or JPEG.

#include "common/mediapanel/CaptureNames.h"
#include "common/mediapanel/MediaPlayerControl.h"
#include "common/mediapanel/SampleGrabberCB.h"
#include "common/mediapanel/VideoLayout.h"
#include "platform/jpeg/Jpeg.h"

#include <QColor>
#include <QImage>
#include <QWidget>
#include <functional>

class QScrollBar;
class QTimer;

// The player's pass-through properties, read and written on the player by dispatch id, by kind.
#define KESTROM_PANEL_BOOL_PROPERTIES(X)                                                                          \
  X(AllowScan) X(AnimationAtStart) X(AutoRewind) X(ClickToPlay) X(EnableContextMenu) X(Enabled)                  \
  X(EnableFullScreenControls) X(EnablePositionControls) X(EnableTracker) X(InvokeURLs) X(Mute) X(SendErrorEvents) \
  X(SendKeyboardEvents) X(SendMouseClickEvents) X(SendMouseMoveEvents) X(SendOpenStateChangeEvents)              \
  X(SendPlayStateChangeEvents) X(SendWarningEvents) X(ShowAudioControls) X(ShowCaptioning) X(ShowDisplay)        \
  X(ShowGotoBar) X(ShowPositionControls) X(ShowStatusBar) X(ShowTracker) X(VideoBorder3D)
#define KESTROM_PANEL_INT_PROPERTIES(X) \
  X(AudioStream) X(Balance) X(CursorType) X(Language) X(PlayCount) X(VideoBorderColor) X(VideoBorderWidth) X(Volume)
#define KESTROM_PANEL_TEXT_PROPERTIES(X) \
  X(BaseURL) X(CaptioningID) X(DefaultFrame) X(SAMIFileName) X(SAMILang) X(SAMIStyle)

namespace kestrom::mediapanel {

enum class TDisplayMode { mpTime, mpFrames };
enum class TFrameCapture_Dest { fcTBitmap, fcBmpFile, fcJpegFile };
using TJPEGPerformance = jpeg::JpegPerformance;

/** @brief Largest picture side a capture makes; larger ones are refused. */
inline constexpr int kMaxCaptureSide = 16384;

class TActiveMovie final : public QWidget {
  Q_OBJECT
 public:
  explicit TActiveMovie(QWidget* parent = nullptr);
  ~TActiveMovie() override;

  /** @brief Opens FileName (set first) in the player; the player's events follow. */
  bool Open(const QString& fileName);

  // Own properties.
  QString FileName() const { return fileName_; }
  void SetFileName(const QString& name) { fileName_ = name; }
  bool AutoStart() const { return autoStart_; }
  void SetAutoStart(bool on) { autoStart_ = on; }
  bool Loop() const { return loop_; }
  void SetLoop(bool on) { loop_ = on; }
  double Rate() const { return rate_; }
  void SetRate(double rate);
  TDisplayMode DisplayMode();
  void SetDisplayMode(TDisplayMode mode);
  TDisplaySize DisplaySize() const { return displaySize_; }
  void SetDisplaySize(TDisplaySize size);
  int ZoomSize() const { return zoomSize_; }
  void SetZoomSize(int percent);
  bool ShowControls();
  void SetShowControls(bool show);
  bool ShowScrollBars() const { return showScrollBars_; }
  void SetShowScrollBars(bool show);
  int ScrollBarsThickness() const { return thickness_; }
  void SetScrollBarsThickness(int t) { thickness_ = t; }
  bool FullScreenMode() const { return fullScreenMode_; }
  void SetFullScreenMode(bool on);
  bool DisplayLogo() const { return displayLogo_; }
  void SetDisplayLogo(bool on);
  double SelectionStart() const { return selectionStart_; }
  void SetSelectionStart(double seconds);
  double SelectionEnd() const { return selectionEnd_; }
  void SetSelectionEnd(double seconds);

  /** @brief The panel's own showing of the video: hidden, the video goes and the panel takes its
   *  parent's colour. (The widget's own visibility is QWidget::isVisible.) */
  bool Visible() const { return videoVisible_; }
  void SetVisible(bool visible);
  /** @brief The panel's own colour, used while ParentColor is false and the video is shown. */
  QColor Color() const { return color_; }
  void SetColor(const QColor& colour);
  bool ParentColor() const { return parentColor_; }
  void SetParentColor(bool on);

  // The player's pass-through properties; a boolean write lays the video out again.
#define KESTROM_BOOL_ACCESSORS(name) \
  bool name() const { return PassThrough(dispid::name).toInt() != 0; } \
  void Set##name(bool on) { SetPassThrough(dispid::name, on); }
#define KESTROM_INT_ACCESSORS(name) \
  int name() const { return PassThrough(dispid::name).toInt(); } \
  void Set##name(int value) { SetPassThrough(dispid::name, value); }
#define KESTROM_TEXT_ACCESSORS(name) \
  QString name() const { return PassThrough(dispid::name).toString(); } \
  void Set##name(const QString& text) { SetPassThrough(dispid::name, text.isEmpty() ? QString() : text); }
  KESTROM_PANEL_BOOL_PROPERTIES(KESTROM_BOOL_ACCESSORS)
  KESTROM_PANEL_INT_PROPERTIES(KESTROM_INT_ACCESSORS)
  KESTROM_PANEL_TEXT_PROPERTIES(KESTROM_TEXT_ACCESSORS)
#undef KESTROM_BOOL_ACCESSORS
#undef KESTROM_INT_ACCESSORS
#undef KESTROM_TEXT_ACCESSORS
  /** @brief A pass-through property by its name (an invalid value for another name). */
  QVariant PassThroughByName(const QString& name) const;
  /** @brief Sets a pass-through property by its name; false for another name or a value refused. */
  bool SetPassThroughByName(const QString& name, const QVariant& value);

  // Frame grabbing.
  bool FGrabber_Enabled() const { return grabberEnabled_; }
  void SetFGrabber_Enabled(bool on);
  bool FGrabber_BurstMode() const { return burstMode_; }
  void SetFGrabber_BurstMode(bool on);
  int FGrabber_BurstCount() const { return burstCount_; }
  void SetFGrabber_BurstCount(int count);
  int FGrabber_BurstInterval() const { return burstInterval_; }
  void SetFGrabber_BurstInterval(int interval);
  int CaptureSize() const { return captureSize_; }
  void SetCaptureSize(int percent) { captureSize_ = percent; }
  TAuto_Filename AutoFileName() const { return naming_.mode; }
  void SetAutoFileName(TAuto_Filename mode) { naming_.mode = mode; }
  QString AutoFilePrefix() const { return naming_.prefix; }
  void SetAutoFilePrefix(const QString& prefix) { naming_.prefix = prefix; }
  QString StoragePath() const { return naming_.storagePath; }
  void SetStoragePath(const QString& path) { naming_.storagePath = path; }
  int JPEGQuality() const { return jpegQuality_; }
  void SetJPEGQuality(int quality);
  TJPEGPerformance JPEGPerformance() const { return jpegPerformance_; }
  void SetJPEGPerformance(TJPEGPerformance performance) { jpegPerformance_ = performance; }
  bool JPEGProgressiveDisplay() const { return jpegProgressive_; }
  void SetJPEGProgressiveDisplay(bool on) { jpegProgressive_ = on; }
  QString GrabberStatus() const { return grabberStatus_; }
  /** @brief Whether the sample grabber class could be created when the panel was made. */
  bool SampleGrabberAvailable() const { return callback_ != nullptr; }
  bool SampleGrabberConnected() const { return grabberConnected_; }

  /** @brief Splices the sample grabber between the video's decoder and renderer; false leaves
   *  the former connection in place. */
  bool ConnectSampleGrabber();
  /** @brief Releases the graph interfaces and the grabber. */
  void ResetSampleGrabber();
  /**
   * @brief Opens a capture request: the next frame, or in burst mode FGrabber_BurstCount frames
   * (0: until the player stops), to the destination; an empty file name generates names. Without
   * a connected grabber the renderer's current picture is taken.
   */
  void RequestCapture(TFrameCapture_Dest destination, const QString& fileName = {}, bool pauseAfterLast = false);
  /** @brief Turns the grabbed (or the renderer's current) frame into the requested picture. */
  void CaptureFrame(bool pause);

  /** @brief The player control, for the pass-through properties by dispatch id. */
  TDerivedMovie_* Player() const { return player_; }
  QWidget* VideoPanel() const { return videoPanel_; }
  QTimer* StateTimer() const { return timer_; }

  void StopPlayback();
  bool PausePlayback();
  void SeekSeconds(double seconds);
  /** @brief Places the video panel, scroll bars and corner (not re-entrant). */
  void LayoutVideo();
  /** @brief The state timer's handler: pending full screen and pause, positions, keys, events. */
  void StateTimerTimer();

  // Events (Sender is this panel).
  std::function<void(int oldState, int newState)> OnOpenStateChange;
  std::function<void(int oldState, int newState)> OnPlayStateChange;
  std::function<void(int result)> OnEndOfStream;
  std::function<void(int result)> OnDisconnect;
  std::function<void()> OnOpenComplete;
  std::function<void(int readyState)> OnReadyStateChange;
  std::function<void(double oldTime, double newTime, unsigned oldFrame, unsigned newFrame)> OnPositionChange;
  std::function<void(int key, Qt::KeyboardModifiers shift)> OnFullScreenKeyPress;
  std::function<void(int code, const QString& message)> OnError;
  std::function<void(int type, int param, const QString& description)> OnWarning;
  std::function<void()> OnNewStream;
  std::function<void()> OnDisplayModeChange;
  std::function<void(bool& canShowHelp)> OnF1HelpInvoked;
  std::function<void(const QString& scType, const QString& param)> OnScriptCommand;
  std::function<void(int markerNum)> OnMarkerHit;
  std::function<void(bool start)> OnBuffering;
  /** @brief The player's window exists (the panel is first shown) and the video is laid out. */
  std::function<void()> OnCreate;
  std::function<void()> OnClick;
  std::function<void()> OnDblClick;
  /** @brief A capture is done; the picture is the panel's and goes when the handler returns. */
  std::function<void(const QImage& bitmap, TFrameCapture_Dest destination, const QString& fileName, bool success)>
      OnFGrabberCaptureCompleted;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool event(QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  QVariant PassThrough(int id) const;
  bool SetPassThrough(int id, const QVariant& value);
  void ApplyColour();
  /** @brief Passes the frame the paused player shows through the grabber once more. */
  void ShowFrameAgain();
  void PlayerOpenStateChange(int oldState, int newState);
  void PlayerPlayStateChange(int oldState, int newState);
  void PlayerReadyStateChange(int state);
  void PlayerEndOfStream(int result);
  void ApplyDisplaySize();
  void ScrollBarChange();
  bool ClipOpen() const { return player_->OpenState() == mpOpen; }
  void WMFrameGrabbed(const FrameGrabbedEvent& message);
  QImage RendererImage(bool pause);
  bool SaveCapture(const QImage& picture, bool bottomUp, TFrameCapture_Dest destination, QString* name);

  TDerivedMovie_* player_ = nullptr;
  QWidget* videoPanel_ = nullptr;
  QScrollBar* horz_ = nullptr;
  QScrollBar* vert_ = nullptr;
  QWidget* corner_ = nullptr;
  QTimer* timer_ = nullptr;
  QWidget* hookedRenderer_ = nullptr;

  QString fileName_;
  bool autoStart_ = true, loop_ = false;
  double rate_ = 1.0;
  TDisplaySize displaySize_ = TDisplaySize::mpDefaultSize;
  int zoomSize_ = 100;
  bool showScrollBars_ = true;
  int thickness_ = 16;
  bool fullScreenMode_ = false;
  bool displayLogo_ = true;
  double selectionStart_ = -1, selectionEnd_ = -1;
  bool showControlsCache_ = true;
  bool videoVisible_ = true;
  QColor color_ = QColor(0, 0, 0);
  bool parentColor_ = true;
  bool created_ = false;

  // What the timer delivers.
  int openOld_ = 0, openNew_ = 0, playOld_ = 0, playNew_ = 0, endResult_ = 0, disconnectResult_ = 0;
  bool openPending_ = false, playPending_ = false, endPending_ = false, disconnectPending_ = false;
  int pendingKey_ = 0;
  Qt::KeyboardModifiers pendingShift_;
  bool keyPending_ = false, fullScreenPending_ = false, pausePending_ = false, displaySizePending_ = false;
  bool justOpened_ = false;
  double lastPosition_ = -1.0;
  double durationSeconds_ = 0;
  double durationFrames_ = 0;
  bool hideVideo_ = false;
  double horzFraction_ = 0.5, vertFraction_ = 0.5;
  bool repaint_ = false;
  bool inLayout_ = false, inTimer_ = false;

  // Frame grabbing.
  com::ComPtr<TSampleGrabberCB> callback_;  // null when the grabber class is missing
  com::ComPtr<dshow::IBaseFilter> grabberFilter_;
  com::ComPtr<dshow::IGraphBuilder> grabberGraph_;
  com::ComPtr<dshow::IBasicVideo> basicVideo_;
  com::ComPtr<dshow::IMediaControl> mediaControl_;
  com::ComPtr<dshow::IMediaSeeking> mediaSeeking_;
  bool grabberConnected_ = false;
  bool grabberEnabled_ = false;
  bool burstMode_ = false;
  int burstCount_ = 0, burstInterval_ = 0;
  int captureSize_ = 100;
  CaptureNaming naming_;
  int jpegQuality_ = 100;
  TJPEGPerformance jpegPerformance_ = TJPEGPerformance::jpBestQuality;
  bool jpegProgressive_ = false;
  QString grabberStatus_;
  TFrameCapture_Dest requestDestination_ = TFrameCapture_Dest::fcTBitmap;
  QString requestFileName_;
};

}  // namespace kestrom::mediapanel
