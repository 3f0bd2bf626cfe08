#pragma once
// The media player control: plays a file through the filter graph (file source, decoders, the
// "Video Renderer" as a child window, the "Audio Renderer"), answers its properties by dispatch
// id through one typed table, and raises its events on the GUI thread. It hands out its graph so
// that the panel can splice filters into it.

#include "common/mediapanel/PlayerProperties.h"
#include "platform/com/ComPtr.h"
#include "platform/dshow/base/ControlInterfaces.h"
#include "platform/dshow/base/RendererInterfaces.h"

#include <QPointer>
#include <QWidget>
#include <functional>

class QSocketNotifier;
class QSlider;
class QLabel;
class QToolButton;
class QTimer;

namespace kestrom::mediapanel {

using com::HRESULT;

/** @brief Graph events the player turns into its events: a script command (parameters 1 and 2
 *  point to the zero-terminated UTF-16 type and text, kept by the sender until the event is read)
 *  and a marker passed (parameter 1 the marker's number). */
inline constexpr long kScriptCommandEvent = 0x18;
inline constexpr long kMarkerHitEvent = 0x8000 + 0x48;

/** @brief Open states, play states and ready states the player reports. */
enum PlayerOpenState { mpClosed = 0, mpOpening = 5, mpOpen = 6 };
enum PlayerPlayState { mpStopped = 0, mpPaused = 1, mpPlaying = 2 };
enum PlayerReadyState { mpReadyStateLoading = 1, mpReadyStateComplete = 4 };

class TDerivedMovie_ final : public QWidget {
  Q_OBJECT
 public:
  explicit TDerivedMovie_(QWidget* parent = nullptr);
  ~TDerivedMovie_() override;

  /** @brief Opens the file and, with AutoStart, plays it; false after OnError when it cannot. */
  bool Open(const QString& fileName);
  void Close();
  HRESULT Play();
  HRESULT Pause();
  HRESULT Stop();

  int OpenState() const { return openState_; }
  int PlayState() const { return playState_; }
  int ReadyState() const { return properties_.Int(dispid::ReadyState); }
  QString FileName() const { return fileName_; }

  /** @brief A property by dispatch id (an invalid QVariant for an unknown one). */
  QVariant GetProperty(int id);
  /** @brief Sets a property by dispatch id; E_INVALIDARG for an unknown or read-only one. */
  HRESULT SetProperty(int id, const QVariant& value);

  /** @brief The player's graph (null while closed), referenced. */
  com::ComPtr<dshow::IGraphBuilder> FilterGraph() const { return graph_; }
  /** @brief The renderer's window (the "ActiveMovie Window"), or null. */
  QWidget* RendererWindow() const { return rendererWindow_; }
  /** @brief The frameless window holding the renderer in full screen, or null. */
  QWidget* FullScreenWindow() const { return fullScreen_; }
  /** @brief Clip duration in seconds and frames (0 when unknown). */
  double DurationSeconds() const { return durationSeconds_; }
  int64_t DurationFrames() const { return durationFrames_; }

  /** @brief Reads and handles the graph's queued events (also run from its event handle). */
  void ProcessGraphEvents();
  /** @brief Lays the renderer out again (after a size change or a display size). */
  void LayoutRenderer();
  /** @brief Puts the tracker where the clip's stream position is (not while it is dragged). */
  void UpdateTracker();

  // Events; the owner assigns them. Each is raised on the GUI thread.
  std::function<void(int oldState, int newState)> OnOpenStateChange;
  std::function<void(int oldState, int newState)> OnPlayStateChange;
  std::function<void(int readyState)> OnReadyStateChange;
  std::function<void(int result)> OnEndOfStream;
  std::function<void(int result)> OnDisconnect;
  std::function<void(int code, const QString& message)> OnError;
  std::function<void(int type, int param, const QString& description)> OnWarning;
  std::function<void()> OnNewStream;
  std::function<void()> OnDisplayModeChange;
  std::function<void()> OnClick;
  std::function<void()> OnDblClick;
  /** @brief A script command the clip carries (the graph's EC_OLE_EVENT: type and parameter). */
  std::function<void(const QString& type, const QString& param)> OnScriptCommand;
  /** @brief A marker of the clip was passed (kMarkerHitEvent, parameter 1 its number). */
  std::function<void(int marker)> OnMarkerHit;
  /** @brief The source starts (true) or ends (false) buffering (EC_BUFFERING_DATA). */
  std::function<void(bool start)> OnBuffering;
  /** @brief F1 on the player: the handler may clear canShowHelp to keep the player's help away. */
  std::function<void(bool& canShowHelp)> OnHelp;
  /** @brief Key and mouse notifications (gated by the Send...Events flags). */
  std::function<void(int key, Qt::KeyboardModifiers shift)> OnKeyUp;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void SetOpenState(int state);
  void SetPlayState(int state);
  void SetReadyState(int state);
  void Fail(HRESULT hr, const QString& message);
  void ApplyDisplaySize(int size);
  void ApplyVolume();
  HRESULT ApplyRate(double rate);
  void SetPosition(double value);
  double Position();
  void UpdateControlBar();
  void BuildControlBar();
  int ControlBarHeight() const;
  /** @brief The sound renderer's input and what fed it, while a rate it refuses plays silently. */
  void DetachSound();
  com::ComPtr<dshow::IBaseFilter> SoundRenderer() const;
  void ReattachSound();

  PlayerPropertyTable properties_;
  QString fileName_;
  int openState_ = mpClosed;
  int playState_ = mpStopped;
  int playsLeft_ = 0;
  double durationSeconds_ = 0;
  int64_t durationFrames_ = 0;
  double frameSeconds_ = 0;

  com::ComPtr<dshow::IGraphBuilder> graph_;
  com::ComPtr<dshow::IMediaControl> control_;
  com::ComPtr<dshow::IMediaPosition> position_;
  com::ComPtr<dshow::IMediaEventEx> events_;
  com::ComPtr<dshow::IBasicVideo> basicVideo_;
  com::ComPtr<dshow::IVideoWindow> videoWindow_;
  com::ComPtr<dshow::IBasicAudio> basicAudio_;
  QSocketNotifier* eventNotifier_ = nullptr;
  QPointer<QWidget> rendererWindow_;
  QPointer<QWidget> fullScreen_;
  com::ComPtr<dshow::IPin> soundInput_, soundFeed_;  // set while the sound is detached

  QWidget* bar_ = nullptr;
  QToolButton* playButton_ = nullptr;
  QToolButton* pauseButton_ = nullptr;
  QToolButton* stopButton_ = nullptr;
  QSlider* tracker_ = nullptr;
  QTimer* trackerTimer_ = nullptr;
  QSlider* volumeSlider_ = nullptr;
  QLabel* display_ = nullptr;
  QLabel* statusBar_ = nullptr;
};

}  // namespace kestrom::mediapanel
