#pragma once
// The capture component's engine: every bit of state behind the capture panel, its public
// methods with their preconditions, the sync commands it runs and the mode teardown. It has no
// widgets, so tests drive it directly; the panel only forwards to it.
//
// Modes start and stop through posted sync commands only: a start method posts its command,
// pumps the GUI thread's messages once (which runs the command) and then reads the new state.

#include "capture/engine/EngineComponent.h"
#include "capture/engine/Crossbar.h"
#include "capture/engine/DeviceSettings.h"
#include "capture/engine/Devices.h"
#include "capture/engine/FormatLists.h"
#include "capture/engine/EngineHelpers.h"
#include "capture/engine/FKProperties.h"
#include "platform/core/Colour.h"
#include "platform/ui/Font.h"
#include "platform/com/ComPtr.h"
#include "platform/dshow/base/ControlInterfaces.h"
#include "platform/dshow/base/MediaType.h"
#include "platform/dshow/base/RendererInterfaces.h"
#include "platform/dshow/sources/DeviceInterfaces.h"
#include "platform/dshow/writers/WriterInterfaces.h"
#include "capture/engine/EngineLog.h"
#include "capture/engine/FKEvents.h"
#include "capture/engine/WorkerThreads.h"
#include "capture/filters/CompanionFilters.h"
#include "capture/engine/MotionDetector.h"
#include "capture/engine/TextOverlay.h"
#include "platform/core/FrameBits.h"
#include "platform/core/Published.h"
#include "platform/ui/ShapeOverlay.h"

#include <QDir>
#include <QFile>
#include <QObject>
#include <QPointer>
#include <QSlider>
#include <QVariant>
#include <QWidget>
#include <QString>
#include <QStringList>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <vector>

namespace kestrom::engine {

/** @brief The public methods whose preconditions the table lists. */
enum class TFKMethod {
  StartPreview,
  StartRecording,
  StopPreview,
  StopRecording,
  PauseRecording,
  ResumeRecording,
  OpenPlayer,
  RunPlayer,
  PausePlayer,
  StopPlayer,
  ClosePlayer,
  ReencodeFile,
  CreateVideoFromImagesFile,
};

class TFK;
class TDisplayForm;

/**
 * @brief One precondition of a public method. A row either runs the mode checks (allowed modes,
 * device needed), the device index check on the bound video device, or a plain test that fails
 * when `failed` answers true, logged with its level, text and code.
 */
struct TPrecondition {
  enum Kind { Mode, VideoDeviceIndex, Test };
  TFKMethod method;
  Kind kind;
  int allowed;        // Mode: cm_ flags
  bool deviceNeeded;  // Mode
  bool (*failed)(const TFK&);
  int level;
  const char* message;
  TLogType code;
};

/** @brief Every method's preconditions, in the order they run. */
const std::vector<TPrecondition>& Preconditions();

class TFK final : public EngineComponent, public PlayerStepSource, public NotifySource {
 public:
  using IUnknownPtr = com::ComPtr<com::IUnknown>;
  /** @brief What the engine needs of the panel it serves (null in widget-free tests). */
  struct Host {
    QObject* sender = nullptr;           // the Sender of every event
    std::function<QObject*()> form;      // the window the panel is placed on
    TFKEvents* events = nullptr;         // the panel's event slots (the engine's own when null)
  };

  TFK();
  explicit TFK(Host host);
  ~TFK() override;
  TFK(const TFK&) = delete;
  TFK& operator=(const TFK&) = delete;

  /** @brief The event slots events fire through: the panel's, or the engine's own without a panel. */
  TFKEvents& Events() { return *slots_; }
  const TFKEvents& Events() const { return *slots_; }

  // ---- public methods ----
  bool StartPreview() override;
  bool StartRecording();
  void StopPreview();
  void StopRecording();
  bool PauseRecording();
  bool ResumeRecording();
  bool IsRecordingPaused() const { return recordingPaused_; }
  bool OpenPlayer();
  void RunPlayer();
  bool RunPlayerBackwards();
  void PausePlayer();
  void StopPlayer();
  void ClosePlayer();
  bool IsPlayerPaused() const { return state_ == cs_Player && runState_ == 1; }
  void SetPlayerFramePosition(int64_t frame);
  void SetPlayerTimePosition(int64_t position);
  int64_t GetPlayerCurrentPosition() const;
  int64_t GetPlayerDuration() const { return clipDuration_; }
  int64_t GetPlayerFrameCount() const { return clipFrameCount_; }
  double GetPlayerFrameRate() const;
  int GetPlayerClipKind() const { return clipKind_; }
  /** @brief The open clip's own picture size (not the camera's); empty without a clip. */
  QSize GetPlayerVideoSize() const { return clipSize_; }
  int64_t GetFrameNumber() const;
  TCurrentState GetCurrentState() const { return state_; }
  QString GetLastRecordedFile() const;
  /**
   * @brief Why the last recording could not be written, as the graph reported it (S_OK when it
   * could): 0x80070070 when the disk is full (or the file may grow no further).
   */
  int32_t GetLastRecordingError() const { return lastRecordingError_; }
  /** @brief The last recording ended because its disk was full. */
  bool LastRecordingFailedForDiskFull() const { return uint32_t(lastRecordingError_.load()) == 0x80070070u; }
  bool TakeReencodingStarted();
  bool ReencodeFile(const QString& sourceFile, const QString& destFile, bool compressAudio,
                    bool compressVideo, bool applyVideoProcessing, bool includeAudio);
  bool CreatePreallocatedFile();
  bool CreateVideoFromImagesFile();
  void SetFrameRate(double fps);
  double GetCurrentFrameRate() const { return frameRate_ / 100.0; }
  bool ShowDialog(int kind);
  bool SendDVCommand(int command);
  bool IsPlayerPositionUpdating() const { return positionUpdating_.load(); }
  void SetVideoCompressor(int index);
  int GetVideoCompressor() const { return videoCompressor_; }
  void SetAudioCompressor(int index);
  int GetAudioCompressor() const { return audioCompressor_; }
  QString GetVideoCompressorName() const;
  QString GetAudioCompressorName() const;
  QString GetVideoDeviceName() const;
  void SetVideoSize(int index);
  int GetVideoSize() const { return videoTable_.Int("VideoSize"); }
  void SetVideoSubtype(int index);
  int GetVideoSubtype() const { return videoTable_.Int("VideoSubtype"); }
  int GetVideoSizeWidth() const { return selectedWidth_; }
  int GetVideoSizeHeight() const { return selectedHeight_; }
  /** @brief The recorded picture's size: the DV frame for a DV source recorded natively, else the selected size. */
  int GetVideoWidth() const;
  int GetVideoHeight() const;
  int GetVideoInput() const { return videoTable_.Int("VideoInput"); }
  /** @brief The selected crossbar input; routed at once while a graph holds the crossbar. */
  void SetVideoInput(int index);
  /** @brief The audio input, from the video device's values while the audio is associated with it. */
  int GetAudioInput() const;
  void SetAudioInput(int index);
  int GetSpeakerVolume() const;
  int GetSpeakerBalance() const;
  QString GetVideoInputsText() const;
  QString GetAudioInputsText() const;
  QString GetAnalogVideoStandardsText() const;
  QString GetVideoSizesText() const;
  QString GetVideoSubtypesText() const;
  QString GetAudioFormatsText() const;
  int GetAnalogVideoStandard() const;
  /** @brief Every entry of the slot gets the all-zero class id and is disabled. */
  void ClearThirdPartyFilters(int slot);
  struct TThirdPartyFilter {
    com::GUID clsid{};
    bool enabled = false;
    QString name;
    bool keepSettings = false;
    com::ComPtr<dshow::IBaseFilter> filter;  // while in the graph
  };
  static constexpr int ThirdPartyFilterSlots = 6, ThirdPartyFiltersPerSlot = 10;
  const TThirdPartyFilter& ThirdPartyFilter(int slot, int index) const { return thirdPartyFilters_[slot][index]; }
  /** @brief The preallocated file's size in bytes (64-bit: 2048 MB and more do not fit 32 bits). */
  int64_t PreallocCapFileSizeInBytes() const { return int64_t{PreallocCapFileSizeInMB_} * 1024 * 1024; }

  // ---- properties ----
#define KESTROM_FK_ACCESSORS(type, Name, def, accepts, cond, reason)  \
  type Get##Name() const { return Name##_; }                          \
  void Set##Name(type v) {                                            \
    if (!(accepts) || v == Name##_) return;                           \
    Name##_ = v;                                                      \
    PlainPropertyChanged(&Name##_);                                   \
    if (*(reason) && (cond)) RefreshPreview(QStringLiteral(reason));  \
  }
  KESTROM_FK_PLAIN_PROPERTIES(KESTROM_FK_ACCESSORS)
#undef KESTROM_FK_ACCESSORS
  /** @brief What a plain property's change does besides rebuilding: a new zoom lays the displays out again. */
  template <class T>
  void PlainPropertyChanged(const T* field) {
    if constexpr (std::is_same_v<T, int>)
      if (field == &PreviewZoomSize_) ResizeDisplays(true);
    if constexpr (std::is_same_v<T, bool>)
      if (field == &VideoFromImages_RepeatIndefinitely_) imagesRepeat_ = *field;
  }

  int GetVideoDevice() const { return VideoDevice_; }
  void SetVideoDevice(int index);
  int GetAudioDevice() const { return AudioDevice_; }
  void SetAudioDevice(int index);
  bool GetSpeakerControl() const { return SpeakerControl_; }
  void SetSpeakerControl(bool value);
  int GetRecordingMethod() const { return RecordingMethod_; }
  void SetRecordingMethod(int value);
  bool GetRecordingCanPause() const { return RecordingCanPause_; }
  void SetRecordingCanPause(bool value);
  QString GetRecordingFileName() const { return RecordingFileName_; }
  void SetRecordingFileName(const QString& name);
  QString GetAutoFilePrefix() const { return AutoFilePrefix_; }
  void SetAutoFilePrefix(const QString& prefix);
  bool GetBurstMode() const {
    std::lock_guard lock(frameLock_);
    return BurstMode_;
  }
  void SetBurstMode(bool value);
  double GetPlayerSpeedRatio() const { return PlayerSpeedRatio_; }
  void SetPlayerSpeedRatio(double ratio);
  bool GetPlayerAudioRendering() const { return PlayerAudioRendering_; }
  void SetPlayerAudioRendering(bool value);
  bool GetTVUseFrequencyOverrides() const { return TVUseFrequencyOverrides_; }
  /** @brief Stores; a channel tuned the other way (with or without an override) is tuned again. */
  void SetTVUseFrequencyOverrides(bool value);
  QString GetPlayerForcedCodec() const { return PlayerForcedCodec_; }
  void SetPlayerForcedCodec(const QString& codec) { PlayerForcedCodec_ = codec.trimmed(); }
  QSlider* GetPlayerTrackBar() const { return PlayerTrackBar_; }
  /** @brief The track bar the player drives; the user's moves position the player. */
  void SetPlayerTrackBar(QSlider* slider);
  QString GetTextOverlay_String() const { return TextOverlay_String_; }
  /** @brief Stores the text and publishes it parsed: frames drawn from now on show it whole. */
  void SetTextOverlay_String(const QString& text);
  const ui::FontChoice& GetTextOverlay_Font() const { return TextOverlay_Font_; }
  void SetTextOverlay_Font(const ui::FontChoice& font);
  QWidget* GetShapeOverlay() const { return ShapeOverlay_; }
  /** @brief Keeps the shape and hides it: it is drawn into the video, not on the form. */
  void SetShapeOverlay(QWidget* shape);
  /** @brief Frames get overlays drawn: a shape or text overlay is on, or the drawing event is set. */
  bool OverlaysNeeded() const {
    return ShapeOverlayEnabled_ || TextOverlay_Enabled_ || static_cast<bool>(slots_->OnFrameOverlayUsingDC);
  }
  int GetVideoProcessing_Deinterlacing() const;
  void SetVideoProcessing_Deinterlacing(int value);
  int GetVideoProcessing_Rotation() const { return VideoProcessing_Rotation_; }
  void SetVideoProcessing_Rotation(int value);
  bool GetMotionDetector_Enabled() const { return MotionDetector_Enabled_; }
  void SetMotionDetector_Enabled(bool value);
  core::TColor GetBackgroundColor() const { return BackgroundColor_; }
  void SetBackgroundColor(core::TColor colour) { BackgroundColor_ = colour; }
  int GetBorderStyle() const { return BorderStyle_; }
  void SetBorderStyle(int style);
  /** @brief The panel's border: twice the edge width while single, else none. */
  int BorderThickness() const { return BorderStyle_ == bsSingle ? 4 : 0; }
  QObject* GetPropertyPageSaver() const { return PropertyPageSaver_; }
  /** @brief The dynamic property through which a saver reaches the panel it serves. */
  static constexpr const char* SaverBackReference = "Framecatcher";
  void SetPropertyPageSaver(QObject* saver);
  QString GetVersion() const { return QString::fromLatin1(ComponentVersion); }
  void SetVersion(const QString&) {}

#define KESTROM_FK_DISPLAY_BOOLS(X, W) \
  X(W, Active) X(W, AutoSize) X(W, Embedded) X(W, FullScreen) X(W, KeepAspectRatio) X(W, StayOnTop) \
  X(W, MouseMovesWindow) X(W, VideoPortEnabled)
#define KESTROM_FK_DISPLAY_INTS(X, W) X(W, Monitor) X(W, Width) X(W, Height) X(W, Left) X(W, Top)
#define KESTROM_FK_DISPLAY_BOOL(W, N)                                          \
  bool Get##W##_##N() const { return W##Window_.GetBool(TVideoWindow::N); } \
  void Set##W##_##N(bool v) { W##Window_.SetBool(TVideoWindow::N, v); }
#define KESTROM_FK_DISPLAY_INT(W, N)                                          \
  int Get##W##_##N() const { return W##Window_.GetInt(TVideoWindow::N); } \
  void Set##W##_##N(int v) { W##Window_.SetInt(TVideoWindow::N, v); }
  KESTROM_FK_DISPLAY_BOOLS(KESTROM_FK_DISPLAY_BOOL, Display)
  KESTROM_FK_DISPLAY_BOOLS(KESTROM_FK_DISPLAY_BOOL, DualDisplay)
  KESTROM_FK_DISPLAY_INTS(KESTROM_FK_DISPLAY_INT, Display)
  KESTROM_FK_DISPLAY_INTS(KESTROM_FK_DISPLAY_INT, DualDisplay)
#undef KESTROM_FK_DISPLAY_BOOL
#undef KESTROM_FK_DISPLAY_INT
  TVideoWindow& DisplayWindow() { return DisplayWindow_; }
  TVideoWindow& DualDisplayWindow() { return DualDisplayWindow_; }

  /** @brief The form is being loaded: device setters only store. Loaded ends it. */
  void BeginLoading() { loading_ = true; }
  void Loaded() { loading_ = false; }
  bool Loading() const { return loading_; }

  // ---- graph run state and teardown ----
  int RunState() const { return runState_; }
  /** @brief Rebuilds the preview after a property change while previewing (or after a failed one). */
  void RefreshPreview(const QString& reason);
  /** @brief Asks for a stop through the sync queue; safe from any thread. */
  void PostStop();
  void StopCurrentMode() override;
  /** @brief Leaves the engine with no graph, no interfaces and no graph threads. */
  void ClearGraph(bool resetState);
  /** @brief Moves the graph to 0 stopped, 1 paused or 2 running; false without a graph to move. */
  bool SetGraphState(int state, const QString& reason);
  /** @brief Tears the graph down and takes the property values the next build depends on. */
  void SnapshotBuildParameters();
  /** @brief Creates the empty graph (and, when recording, its AVI output) for the next build. */
  bool CreateFilterGraph();
  /** @brief Takes the graph's control, seeking and event interfaces once a build is done. */
  bool TakeGraphControls();
  /**
   * @brief Binds the device at index of the list into the graph under "<index> <name>". -1 is
   * refused, an index past the list falls back to 0; checkInUse refuses a device another graph holds.
   */
  bool BindDevice(TDevices* list, int& index, const QString& inputName, bool logChoice, bool checkInUse,
                  com::ComPtr<dshow::IBaseFilter>& filter);
  bool AddFilterToGraph(dshow::IBaseFilter* filter, const QString& name);
  /** @brief A pin and the graph's filters, kept by name, so the graph can be put back as it was. */
  struct TSaveFilterState {
    QString pinName, filterName;
    QStringList filters;
  };
  TSaveFilterState SaveFilterState(dshow::IPin* pin) const;
  /** @brief Removes the filters added since the save; finds the kept pin again (or the filter's first free output). */
  bool RestoreFilterState(const TSaveFilterState& state, com::ComPtr<dshow::IPin>& pin);
  /**
   * @brief Plays the selected audio device through a second graph (to hear the sound while
   * previewing); false, with nothing kept, when any step fails.
   */
  bool StartAudioRenderingGraph();
  dshow::IGraphBuilder* AudioRenderingGraph() const { return audioGraph_.Get(); }
  /** @brief The recording file's extension: CaptureFileExt, else "asf" or "avi" by RecordingMethod. */
  QString CaptureFileExtension() const;
  dshow::IGraphBuilder* Graph() const { return graph_.Get(); }
  bool HoldsGraphInterfaces() const {
    return graph_ || builder_ || control_ || seeking_ || events_ || audioGraph_ || audioBuilder_;
  }
  /** @brief True while some component's graph holds the device of that key. */
  static bool DeviceInUse(const QString& key);
  bool BuildParametersTaken() const { return buildParametersTaken_; }

  // Mode predicates the builders read, on the build parameters unless said otherwise.
  bool IsRecordingWithoutCaptureGrabber() const {
    return state_ == cs_Recording && (RecordingInNativeFormat_ || snapshot_.frameGrabber == fg_PreviewStream ||
                                      snapshot_.frameGrabber == fg_Disabled);
  }
  bool IsRecordingInNativeFormat() const { return state_ == cs_Recording && RecordingInNativeFormat_; }
  bool IsRecordingMpegNatively() const { return IsRecordingWithoutCaptureGrabber() && sourceIsMpeg_; }
  bool IsPreviewWhileRecording() const {
    return IsRecordingWithoutCaptureGrabber() &&
           (snapshot_.frameGrabber == fg_PreviewStream || snapshot_.videoRenderer != vr_None);
  }
  bool IsPreviewStreamRequired() const {
    return IsPreviewWhileRecording() || snapshot_.videoRenderer != vr_None || FrameGrabber_ != fg_Disabled;
  }
  bool IsCaptureDeviceSource() const { return VideoSource_ == vs_VideoCaptureDevice; }
  bool IsDVSource() const { return IsCaptureDeviceSource() && (sourceIsDV_ || videoTable_.Bool("_IsDigitalVideoIn")); }
  bool IsMpegSource() const { return IsCaptureDeviceSource() && sourceIsMpeg_; }
  bool IsAsfOutput() const {
    return snapshot_.recordingMethod == rm_ASF || (snapshot_.recordingMethod == rm_Stream && NetworkStreaming_ != ns_Disabled);
  }
  int SnapshotRGBFormat() const { return snapshotRGBFormat_; }

  /**
   * @brief Binds the filter whose moniker has that display name in the category (a device or
   * compressor category's class id text) and adds it to the graph under filterName.
   */
  bool AddFilterByMoniker(const QString& displayName, const QString& filterName, const QString& category,
                          com::ComPtr<dshow::IBaseFilter>& filter);
  /**
   * @brief Holds the recording's capture streams until the recording may start, or lets them run.
   * Nothing once the file receives samples; released while recording, it starts the file.
   */
  void SetRecordingHold(bool hold);
  bool RecordingHeld() const { return recordingHold_; }
  /** @brief Runs or holds one pin's capture stream; false only without a pin. */
  bool SetPinCapture(dshow::IPin* pin, const QString& name, bool run);
  /** @brief The capture pins whose streams the recording hold switches (the source-pin search fills them). */
  void SetCapturePins(com::ComPtr<dshow::IPin> video, com::ComPtr<dshow::IPin> audio) {
    videoCapturePin_ = std::move(video);
    audioCapturePin_ = std::move(audio);
  }
  /** @brief Unit-wide busy cursor: the depth goes up or down (never below 0), logged, with this component's cursors. */
  void SetBusyCursor(bool on);

  // ---- graph events, deferred events, the notify thread and stepped playback ----
  /** @brief Reads every event the graph queued into pending flags; fires nothing itself. */
  void ProcessGraphEvents();
  /** @brief Turns the pending flags into component events (run by the sync window). */
  void DispatchDeferredEvents();
  /** @brief Queues sy_DispatchEvents for this component. */
  void PostDispatch();
  /** @brief One step of stepped playback (first: the step that starts it). */
  void PlayerStep(bool first);
  /** @brief Seeks the open clip, clamped to its first and last frame. */
  void SeekPlayer(int64_t position);
  /** @brief Starts the thread that reports positions and frame counts of the running graph. */
  void StartNotifyThread();
  /** @brief Stops the notify thread and lets go of what the event handling holds of the graph. */
  void ReleaseGraphEvents();
  /** @brief Reads the source's time code; true when it equals the previous reading. */
  bool ReadDVTimeCode();
  /** @brief The last time code read: hours, minutes, seconds, frames and a spare value (zeros: none). */
  std::array<int32_t, 5> DVTimeCode() const;
  /** @brief Fires OnDVCommandCompleted with the last DV command and its mode's name. */
  void FireDVCommandCompleted();
  /** @brief The frame grabber's input type, read after each build (valid while InputFormatKnown). */
  bool InputFormatKnown() const { return inputFormatKnown_; }
  const dshow::CMediaType& InputFormat() const { return inputFormat_; }
  /** @brief True while FrameProgress runs (a track bar move then is the engine's own). */
  bool InFrameProgress() const { return inFrameProgress_; }
  /** @brief A clip is loading (EC_LOADSTATUS), until its buffering stopped. */
  bool ClipLoading() const { return clipLoading_; }

  // ---- NotifySource ----
  bool Closing() const override { return EngineComponent::Closing(); }
  bool PlayerPaused() const override { return state_ == cs_Player && runState_ == 1; }
  bool PlayerRefreshPausedDisplay() const override { return PlayerRefreshPausedDisplay_; }
  int64_t PlayerPosition() override;
  int64_t FrameDuration() const override { return frameDuration_; }
  void UpdateFramePosition(int64_t position) override;
  void PeriodicCheck() override;
  std::optional<int64_t> FramesNotDropped() override;
  void SetFrameCount(int64_t frames) override { framesNotDropped_ = frames; }
  std::atomic<bool>& PendingNotification() override { return notificationPending_; }
  void FrameProgress() override;
  void RefreshPausedPosition() override;
  void FireDVCommandCompleted(int mode, const QString& label) override;
  TNotifyThread* NotifyThread() const { return notifyThread_.get(); }

 private:
  friend struct TGraphEventsTestAccess;
  /** @brief Asks for graph notices on the component's window and takes the graph's time code reader. */
  void RegisterGraphEvents();
  /** @brief Logs the filters downstream of each source, then those of neither. */
  void LogGraphTree();
  /** @brief The file the running recording writes into (for the free-space check). */
  QString FileBeingWritten() const;
  std::unique_ptr<TNotifyThread> notifyThread_;
  bool countingDroppedFrames_ = false;
  std::atomic<int64_t> framesNotDropped_{-1};
  // Set per frame (by the frames' code) when a progress notification is due; the notify thread serves it.
  std::atomic<bool> notificationPending_{false};
  // Pending graph events, set by the event loop (or another thread's source), cleared by the dispatcher.
  std::atomic<bool> deviceLostPending_{false}, diskFullPending_{false}, endOfStreamPending_{false},
      bufferingStartedPending_{false}, bufferingStoppedPending_{false}, errorAbortPending_{false};
  std::atomic<int32_t> errorAbortResult_{0};
  // The recording was ended by a graph error: its completion reports failure.
  bool graphErrorAborted_ = false;
  // Why the last recording failed to be written (0 when it did not): kept for the application.
  std::atomic<int32_t> lastRecordingError_{0};
  bool clipLoading_ = false;
  bool inFrameProgress_ = false;
  bool inputFormatKnown_ = false;
  dshow::CMediaType inputFormat_;
  int lastDVCommand_ = -1;
  mutable std::mutex timeCodeLock_;
  std::array<int32_t, 5> dvTimeCode_{};
  com::ComPtr<dshow::IAMTimecodeReader> timecodeReader_;
  com::ComPtr<dshow::IVideoFrameStep> frameStep_;  // the player's frame stepping, when it has one
  std::unique_ptr<QObject> trackBarContext_;       // ends the track bar's connection with the engine

 public:
  // ---- what the display windows, the graph events and the per-frame processing ask of each other ----
  /** @brief Sizes the displays to the video (and the component when it sizes itself); fires OnResizeVideo. */
  void ResizeDisplays(bool processMessages);
  /** @brief GUI thread, after a frame progress: the motion check, the requested or burst capture, the deferred sample events. */
  void DispatchKeptFrame();
  /** @brief The counters and the frame information from a sample time (in the player, from its position). */
  void UpdateCounters(int64_t sampleTime);
  /** @brief A copy of the current frame information. */
  TFrameInfo FrameInfo() const;
  /** @brief Builds the graph of a mode (cs_Preview, cs_Recording) and runs it; false when it could not. */
  bool RestartGraph(TCurrentState mode);

  // ---- graph building ----
  /** @brief The preview chain from the preview pin: tees, grabber, display. */
  bool BuildPreview();
  /** @brief The recording chain from the capture pin into the file writer, with its display branch and audio. */
  bool BuildCapture();
  /** @brief Ends the pin in the chosen video renderer (a Null Renderer with vr_None). */
  bool InsertVideoDisplay(dshow::IPin* pin);
  /** @brief Adds a "Null Renderer" and connects the pin to it. */
  bool ConnectNullRenderer(dshow::IPin* pin);
  /** @brief Plays the audio pin through the "Audio Renderer" when audio rendering is on. */
  void RenderAudio();
  /** @brief Connects a two-output filter to the chain; the chain becomes its first output. */
  bool InsertFilter2(const dshow::GUID& clsid, const QString& name, com::ComPtr<dshow::IPin>& chain,
                     com::ComPtr<dshow::IPin>& second);
  /** @brief Connects the chain to the writer's next input; the pin whose stream control starts the writing. */
  bool ConnectToWriter(com::ComPtr<dshow::IPin>& chain, const dshow::GUID& major, com::ComPtr<dshow::IPin>& controlPin);
  bool VideoCompressorNeeded() const;
  bool AudioCompressorNeeded() const;
  /** @brief Inserts the companion module's transform after the pin (the pin then is its output):
   * the rotation with applyRotation, else the half-size deinterlacing. */
  bool InsertTransformFilter(com::ComPtr<dshow::IPin>& pin, bool applyRotation);

  // ---- file writers ----
  /** @brief Adds the chosen MPEG writer as the graph's writer, writing the writing file. */
  bool BindMPEGWriter();
  /** @brief Configures the writer once the chains are connected (live) or rendered (re-encoding). */
  void ConfigureFileWriter(bool audioPresent);
  /** @brief The ASF writer's profile and network sinks; fills the writer's input names. */
  bool SetupASFWriter();
  /** @brief The ASF writer's input pins for the video and the audio stream (from its profile). */
  QString asfVideoInputName_, asfAudioInputName_;
  dshow::IBaseFilter* FileWriter() const { return writer_.Get(); }
  int MasterStream() const { return masterStream_; }
  /**
   * @brief Edits a profile's XML text with the ASF settings (dropping the audio stream when no
   * audio is recorded), configures the ASF writer with it and fills the writer's input names.
   */
  bool ConfigureASFProfile(dshow::IConfigAsfWriter* config, dshow::IWMProfileManager* manager, const QString& xml);
  /** @brief The MPEG writer of this build: class id in braces or friendly name; empty for none. */
  QString MpegWriterIdentity() const { return mpegWriterIdentity_; }
  /** @brief Chooses the writer's identity from the selected video compressor: a manual entry is an MPEG writer. */
  void ChooseMpegWriter();

 private:
  QString mpegWriterIdentity_, mpegWriterName_;
  QString asfTemporaryFile_;  // the ASF writer's file while only streaming

 public:

  // ---- filter insertion, renderers, extra filters and display slots ----
  /** @brief A graph name that never collides: the purpose text and a random number below 2^31 - 1. */
  static QString RandomFilterName(const QString& purpose);
  /**
   * @brief Splices a one-input, one-output filter into the chain (its output of the major type,
   * any when null); on failure the filter leaves the graph and the chain keeps its pin.
   */
  bool InsertFilterInline(const dshow::GUID& clsid, const QString& name, com::ComPtr<dshow::IPin>& chain,
                          const dshow::GUID* major, com::ComPtr<dshow::IBaseFilter>* filter = nullptr);
  /** @brief Connects the chain to a new filter that ends it; the chain is empty afterwards. */
  bool InsertFilter(const dshow::GUID& clsid, const QString& name, com::ComPtr<dshow::IPin>& chain,
                    com::ComPtr<dshow::IBaseFilter>* filter = nullptr);
  /** @brief Splices a filter made elsewhere (a bound compressor) into the chain. */
  bool InsertExistingFilter(dshow::IBaseFilter* filter, com::ComPtr<dshow::IPin>& chain);
  /**
   * @brief Connects directly, else through intermediate filters, else once more after
   * reconnecting the output's filter upstream (that link is put back as it was when this fails).
   */
  bool ConnectPins(dshow::IPin* out, dshow::IPin* in);
  /** @brief The display slots: the first renderer, the second (dual display) and the video port's. */
  enum TDisplaySlot { ds_Display = 0, ds_DualDisplay = 1, ds_VideoPort = 2, DisplaySlots = 3 };
  struct TDisplayRecord {
    com::ComPtr<dshow::IBaseFilter> renderer;
    com::ComPtr<dshow::IVideoWindow> window;
    com::ComPtr<dshow::IQualProp> quality;  // the renderer's frame statistics
    bool inUse = false, linked = false;
    int left = 0, top = 0, width = 0, height = 0;
    int settings = -1;  // the window index of the linked display window settings, -1 none
  };
  const TDisplayRecord& DisplayRecord(int slot) const { return displays_[slot]; }
  /**
   * @brief Makes the slot's renderer (a mixing renderer when tryVMR allows it, else the standard
   * one), adds it under name and gives its free input. kind -1: the build's VideoRenderer.
   */
  bool AddRenderer(const QString& name, int slot, bool tryVMR, com::ComPtr<dshow::IPin>& input, int kind = -1);
  /** @brief Splices the enabled extra filters of a slot; a failing one is removed and skipped. */
  void InsertExtraFilters(int slot, com::ComPtr<dshow::IPin>& chain);
  /** @brief The registry key of an extra filter's kept settings, below the current video device's key. */
  QString ExtraFilterKey(const dshow::GUID& clsid) const;
  /** @brief Sets one entry of an extra-filter slot. */
  void SetThirdPartyFilter(int slot, int index, const dshow::GUID& clsid, const QString& name, bool enabled,
                           bool keepSettings);
  /** @brief Frame grabber on its own branch: an Infinite Pin Tee whose branch ends in a Null Renderer. */
  bool InsertGrabberBranch(com::ComPtr<dshow::IPin>& chain, const dshow::GUID* intermediate);
  /** @brief The deinterlacing and rotation transforms the processing settings ask for. */
  bool InsertVideoTransforms(com::ComPtr<dshow::IPin>& chain);
  /** @brief The preview chain of a DV source: its decoder, grabber, tee and display. */
  bool BuildDVPreview();
  /** @brief Records an MPEG source's stream as it comes, through the raw stream writer. */
  bool BuildRawCapture();
  /** @brief Records a DV source's interleaved stream as it comes into the file writer. */
  bool ConnectNativeDV();
  /** @brief The Overlay Mixer in front of the renderer for the window transparency. */
  void InsertOverlayMixer(com::ComPtr<dshow::IPin>& pin);
  /** @brief Dual display is on when both windows are active (not with a video port, nor a colour key). */
  void CheckDualDisplay();
  bool DualDisplayOn() const { return dualDisplay_; }
  /** @brief Renders a video pin into one renderer, or two with dual display. */
  bool InstallDisplay(dshow::IPin* pin, bool tryVMR);
  /** @brief Takes the slot's renderer out of the graph and forgets its window. */
  void ReleaseDisplay(int slot);
  /** @brief Shows the windows of the slots that have a renderer, hides the others. */
  void ShowDisplayWindows();
  /** @brief After a build: takes the graph's control and event interfaces and readies the displays. */
  bool AfterBuild(bool startNotifyThread);
  /** @brief After a build: the slot's form, and the renderer's window (shown only when asked) and statistics. */
  void PrepareDisplay(int slot);
  /** @brief Gives the slots with a renderer to the active display windows and places their forms. */
  void LinkDisplayWindows();
  /** @brief Nothing here: the colour key needs an overlay surface, which no renderer has. */
  void SetupColorKey();
  // ---- display windows ----
  /** @brief Makes the slot's form (once): hidden, borderless, at 10,10 in the native video size. */
  void CreateDisplayForm(int slot);
  TDisplayForm* DisplayForm(int slot) const;
  /** @brief Puts the slot's form inside parent (embedded) or on its own, and the video window into the form. */
  void AttachDisplay(int slot, QWidget* parent);
  /** @brief Lays the slot's form out (full screen, embedded or detached) and the video inside it. */
  void SizeDisplay(int slot);
  /** @brief The nearest video size when set, else the native size; zoomed by PreviewZoomSize. */
  QSize VideoDisplaySize() const;
  /** @brief VideoDisplaySize within the room the panel's parent leaves the panel (inside its border). */
  QSize AutoSizedDisplay() const;
  /** @brief The video's own size: the slot's connected renderer input, else the selected format. */
  QSize NativeVideoSize(int slot = ds_Display) const;
  /** @brief The settings linked to the slot; null when none. */
  TVideoWindow* SettingsOfSlot(int slot);
  const TVideoWindow* SettingsOfSlot(int slot) const;
  bool IsEmbedded(int slot) const;
  bool CanAutoSizeComponent(const TVideoWindow& settings) const;
  bool MouseMovesWindowApplies(int slot) const;
  /** @brief The change handler of the two display window settings. */
  void OnVideoWindowChanged(TVideoWindow& settings, int index, int value);
  /** @brief The panel widget the engine serves; null without one. */
  QWidget* ComponentWidget() const;
  /** @brief The panel was resized: embedded displays follow it. */
  void ComponentResized();
  // Input of a display form (form coordinates; global for the cursor).
  void DisplayClick(int slot, bool doubleClick);
  void DisplayKeyPress(int slot, QChar typed);
  void DisplayKeyRelease(int slot, uint16_t physicalKey, Qt::KeyboardModifiers modifiers);
  void DisplayMouseDown(int slot, Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint at, QPoint cursor);
  void DisplayMouseMove(int slot, Qt::KeyboardModifiers modifiers, QPoint at, QPoint cursor);
  void DisplayMouseUp(int slot, Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint at);
  /** @brief Reads the frame grabber's input connection type (see InputFormat). */
  void ReadInputFormat();

  // ---- recording files ----
  /** @brief The storage folder with its trailing separator, created when missing. */
  QString StorageFolder();
  /** @brief Names the recording and the writing file; the writing file, empty when the disk is full. */
  QString MakeRecordingFileNames();
  QString WritingFileName() const { return writingFile_; }
  /** @brief Closes the running recording's file and goes on into a newly named one. */
  void RenewRecordingFile();
  /** @brief Makes sure the preallocated file (empty name: the default one) has the wanted size. */
  bool PrepareCaptureFile(dshow::ICaptureGraphBuilder2* builder, QString name);
  QString RecordingFileNameInUse() const { return recordingFile_; }
  /** @brief Opens and renders PlayerFileName; false when the clip could not be played. */
  bool OpenClip();
  /** @brief Re-encodes a file through a graph; true when the graph ran to its end. */
  bool Reencode(const QString& source, const QString& dest, bool copyMode, bool compressAudio,
                bool compressVideo, bool withProcessing, bool includeAudio);
  /** @brief The file receives samples from now on: marks it and tells the application. */
  void AnnounceRecordingStart();
  /** @brief After the recording graph stopped: produces the recording file from the writing file. */
  bool FinishRecordingFile();
  // ---- re-encoding runs ----
  /** @brief A stop request for the running re-encoding: its graph stops and the run fails, the destination untouched. */
  void StopReencoding() { reencodeLooping_ = false; }
  bool ReencodingRunning() const { return reencodingRunning_; }
  /** @brief Binds the selected video (or audio) compressor into the re-encoding graph. */
  /**
   * @brief Waits until the re-encoding graph completes, aborts or is stopped, calling tick every
   * 250 ms meanwhile (the program's events go on being served); the completion's code, 0 when none.
   */
  dshow::LONG WaitForReencodingEnd(dshow::IMediaEventEx* events, const std::function<void()>& tick);
  bool BindReencodingCompressor(bool video, com::ComPtr<dshow::IBaseFilter>& compressor);
  /** @brief Gives the bound compressor the settings saved in the registry under its name. */
  void RestoreCompressorSettings(bool video, dshow::IBaseFilter* compressor);
  /** @brief Puts the transform and the frame grabber after head, which then is the last of them. */
  bool InsertReencodingProcessing(com::ComPtr<com::IUnknown>& head);
  /** @brief Adds the source file to the graph, by its extension or else by its content. */
  bool AddReencodingSource(const QString& source, com::ComPtr<dshow::IBaseFilter>& filter);
  /** @brief The capture stream drops its samples from now on; true when it paused. */
  bool PauseRecordingInternal();
  /** @brief The capture stream's samples flow again, the paused time taken off; true when it was paused. */
  bool ResumeRecordingInternal();
  /** @brief Stores the settings of the bound video (or audio) device with the device. */
  void StoreDeviceSettings(bool video) {
    if (video) StoreVideoDeviceSettings();
    else StoreAudioDeviceSettings();
  }
  /** @brief Makes the device at index the bound one, reading its stored settings. */
  void SelectVideoDevice(int index) {
    VideoDevice_ = index;
    ChangeVideoDevice();
  }
  void SelectAudioDevice(int index) {
    AudioDevice_ = index;
    ChangeAudioDevice();
  }

  // ---- devices: source pins and interfaces ----
  /** @brief A graph with the selected video device bound in it. */
  bool CreateDeviceGraph();
  /** @brief The device graph with its source pins and the audio source pin. */
  bool CreateBaseGraph();
  /** @brief Chooses the preview, capture and audio pins, inserting tees and splitters as needed. */
  bool RetrieveSourcePins();
  /** @brief Queries the device's configuration interfaces on the pin's filter and upstream. */
  bool FindCommonInterfaces(dshow::IPin* pin);
  void FindAudioSourcePin();
  /** @brief Binds the selected audio device with its mixer and audio pin, its input and format applied. */
  bool BindAudioSource();
  bool IsHauppaugePvr() const;
  /** @brief Demultiplexes a program stream: video pin mapped to 0xE0, audio to 0xC0. */
  bool SetupMpeg2Demux(dshow::IPin* pin, com::ComPtr<dshow::IPin>& audio, com::ComPtr<dshow::IPin>& video);
  bool AddFilterGetInput(const dshow::GUID& clsid, const QString& name, com::ComPtr<dshow::IPin>& input,
                         com::ComPtr<dshow::IBaseFilter>& filter);
  bool AddFilterGetInput2Outputs(const dshow::GUID& clsid, const QString& name, com::ComPtr<dshow::IPin>& output2,
                                 com::ComPtr<dshow::IPin>& output1, com::ComPtr<dshow::IPin>& input,
                                 com::ComPtr<dshow::IBaseFilter>& filter);
  /** @brief The first filter of a category whose friendly name contains the text, added to no graph. */
  bool FindFilterByName(const QString& category, const QString& namePart, QString& friendlyName,
                        com::ComPtr<dshow::IBaseFilter>& filter);
  bool ConnectToNamedPin(dshow::IPin* pin, dshow::IBaseFilter* filter, const QString& name);
  int CountAudioInputs() const;
  dshow::IPin* PreviewPin() const { return previewPin_.Get(); }
  dshow::IPin* CapturePin() const { return capturePin_.Get(); }
  dshow::IPin* AudioSourcePin() const { return audioSourcePin_.Get(); }
  dshow::IBaseFilter* VideoSourceFilter() const { return videoSource_.Get(); }
  dshow::IBaseFilter* AudioSourceFilter() const { return audioSource_.Get(); }
  TCrossbarTree* CrossbarTree() const { return crossbarTree_.get(); }
  dshow::IAMTVTuner* Tuner() const { return tuner_.Get(); }
  dshow::IAMAnalogVideoDecoder* AnalogVideoDecoder() const { return decoder_.Get(); }
  dshow::IAMCrossbar* VideoCrossbar() const { return videoCrossbar_.Get(); }
  bool DVSplitterUsed() const { return dvSplitterUsed_; }

  // ---- devices: formats ----
  bool DiscoverVideoDevice();
  bool DiscoverAudioDevice();
  /** @brief The current video device's lists from the registry; false when sizes or subtypes are empty. */
  bool LoadFormatCache();
  void ApplyVideoFormat();
  void ApplyDVFormat();
  void ApplyAudioFormat(dshow::IPin* pin);
  int NearestVideoSize(int width, int height) const;
  void SetNearestVideoSize(int width, int height) {
    nearestWidth_ = width;
    nearestHeight_ = height;
  }
  void ReadCurrentFormat();
  void ReadCurrentFrameRate();
  int CurrentFrameRate() const { return currentFrameRate_; }
  void ChooseAnalogStandard(int family);
  /** @brief Makes the standard of that index in the analog standards list current. */
  void SetAnalogVideoStandard(int index);
  int CurrentVideoInput() const;
  const TFormatLists& FormatLists() const { return formats_; }
  /** @brief The size list of the current standard's family. */
  const QStringList& SizeListForStandard() const;
  QString AnalogStandardFamily() const;
  /** @brief The selected size (index -1: the selected or nearest entry); 320 x 240, false, without one. */
  bool SelectedVideoSize(int index, int& width, int& height) const;
  /** @brief Runs once: starts with the requested devices when they are not the current ones yet. */
  void FirstIdleStart();

  // ---- devices: controls ----
  void ReadProcAmp();
  void ApplyProcAmp();
  void ReadCameraControl();
  void ApplyCameraControl();
  void RouteVideoCrossbarInput();
  /** @brief Puts back the device's saved crossbar routings when they route that input to the picture. */
  bool RestoreCrossbarRouting(long input);
  bool SelectAudioInput();
  void ApplyAudioInputLevels();
  /** @brief Puts back the speakers' volume and balance saved when a build took them over. */
  void RestoreMixer();
  /** @brief Reports the capture compressor's abilities and defaults, then applies the set VideoCompression_ values. */
  void ApplyCompressionSettings();
  bool IsAudioAssociated() const;
  QString AudioInputName() const;
  /** @brief Keeps the decoder's standard, the crossbar routings and the control values in the settings. */
  void SaveAnalogState();
  bool SetTVChannel(int channel, int videoSubChannel);
  void ReadTunerState();
  void ApplyTunerState();
  void SetDVResolution(dshow::IBaseFilter* filter);
  bool DVFrameDuration(int64_t& duration);
  /** @brief How long a tuned channel is given to settle before its signal is read (1000 ms). */
  void SetTuneSettleTime(int ms) { tuneSettleMs_ = ms; }

  // ---- devices: settings and device change ----
  TSettingsTable& VideoSettings() { return videoTable_; }
  TSettingsTable& AudioSettings() { return audioTable_; }
  bool RestoreVideoDeviceSettings();
  bool RestoreAudioDeviceSettings();
  void StoreVideoDeviceSettings();
  void StoreAudioDeviceSettings();
  /** @brief The saver of a device's own property pages (an outside component), seen through what the engine needs. */
  struct PageSaver {
    virtual ~PageSaver() = default;
    virtual void Configure(const QString& key, const QString& name, const QString& kind) = 0;
    virtual bool Restore(dshow::IBaseFilter* filter) = 0;
    virtual bool ShowPages() = 0;
    virtual void Store() = 0;
    virtual void Close() = 0;
  };
  /**
   * @brief What the component assigned to PropertyPageSaver offers besides its class name: it
   * makes the saver of one control, which the engine then owns.
   */
  struct PageSaverMaker {
    virtual ~PageSaverMaker() = default;
    virtual std::unique_ptr<PageSaver> MakePageSaver(QObject* control) = 0;
  };
  PageSaver* VideoPageSaver() const { return videoPageSaver_.saver.get(); }
  /** @brief The requested video device becomes the current one; true when it is discovered. */
  bool ChangeVideoDevice();
  bool ChangeAudioDevice();

  // ---- frame counters ----
  void ResetCounters(bool withPlayer);
  int64_t FrameCount() const { return frameCount_; }

  // ---- EngineComponent ----
  bool Initialised() const override { return initialised_; }
  bool Destroying() const override { return destroying_; }
  void FireLog(TLogType code, const QString& severity, const QString& message) override;
  TCurrentState CurrentState() const override { return state_; }
  int BoundVideoDevice() const override { return boundVideoDevice_; }
  QObject* ParentForm() const override { return host_.form ? host_.form() : nullptr; }
  bool GraphActive() const override { return graphActive_; }
  bool AutoStartPreview() const override { return AutoStartPreview_; }
  bool VideoSourceIsCaptureDevice() const override { return VideoSource_ == vs_VideoCaptureDevice; }
  void ExecuteSyncCommand(TSyncCommand command) override;
  void ApplyPendingStartupSettings() override { FirstIdleStart(); }
  /** @brief The requested device is back: it is taken up again, with the preview its loss stopped. */
  void HandleDeviceArrival(bool isVideo, int index) override;
  void FireDeviceArrivalOrRemoval(bool arrival, bool isVideo, const QString& name, int index) override {
    Fire(&TFKEvents::OnDeviceArrivalOrRemoval, arrival, isVideo, name, index);
  }

  // ---- PlayerStepSource ----
  bool SteppingEnabled() const override { return steppingBackwards_ || steppingForwards_; }
  bool TakeFrameProgressSeen() override;
  void PostThreadStep() override;

  TPlayerStepThread* PlayerStepThread() const { return playerStepThread_.get(); }

  // Engine state read by the precondition table.
  bool RecordingWritingStarted() const { return recordingWritingStarted_; }
  bool RecordingPausedFlag() const { return recordingPaused_; }
  bool PlayerFileNameEmpty() const { return PlayerFileName_.isEmpty(); }

 private:
  friend struct TFKTestAccess;
  /** @brief Runs the method's rows in order; true when every one passed. */
  bool CheckPreconditions(TFKMethod method);
  /** @brief Gives the stored rate to the running capture format; false when it was refused. */
  bool ApplyFrameRate();
  void WarnRecordingRestart();
  void WarnSpeedRatioWithAudio();
  template <class F, class... A>
  void Fire(F TFKEvents::*slot, A&&... args) {
    const F& event = slots_->*slot;
    if (event && !destroying_) event(host_.sender, std::forward<A>(args)...);
  }

  Host host_;
  TFKEvents ownEvents_;
  TFKEvents* slots_ = &ownEvents_;
  bool initialised_ = false;
  bool destroying_ = false;
  TCurrentState state_ = cs_None;
  std::atomic<int> runState_{0};  // read by the notify thread
  std::atomic<bool> graphActive_{false};
  bool recordingWritingStarted_ = false;
  bool recordingPaused_ = false;
  bool reencodingStarted_ = false;
  bool previewFailed_ = false;
  bool steppingPosted_ = false;
  bool steppingBackwards_ = false;
  bool steppingForwards_ = false;
  bool fastPlay_ = false;
  std::atomic<bool> frameProgressSeen_{false};
  bool clipSeekable_ = false;
  int frameRate_ = 2500;  // hundredths of a frame per second
  int64_t frameDuration_ = 416666;
  int64_t clipDuration_ = 0;
  int64_t clipFrameCount_ = 0;
  std::atomic<int64_t> playerPosition_{0};
  int64_t currentFrame_ = 0;
  int64_t frameCount_ = 0;
  int64_t droppedFrames_ = 0;
  int clipKind_ = 0;
  QSize clipSize_;  // the clip's pictures as its decoder gives them
  int boundVideoDevice_ = -1;
  int boundAudioDevice_ = -1;
  bool loading_ = false;
  bool builtWithCanPause_ = false;
  bool builtWithAudio_ = false;
  bool speedRatioPending_ = false;
  bool fileNameStale_ = true;
  bool deinterlaceHalf_ = false;
  bool deinterlaceFull_ = false;
  bool swapWidthHeight_ = false;
  int snapshotRGBFormat_ = fgf_Default;
  bool buildParametersTaken_ = false;
  bool sourceIsDV_ = false;    // set when the source pins are found
  bool sourceIsMpeg_ = false;
  bool graphPaused_ = false;
  double pendingSpeedRatio_ = 1.0;
  struct BuildParameters {
    int frameGrabber = fg_BothStreams, rgbFormat = fgf_Default, compressionMode = 0, compressionType = 0;
    bool recordingCanPause = false, audioDeviceRendering = false, playerAudioRendering = true;
    int videoSource = vs_VideoCaptureDevice;
    bool speakerControl = true;
    int recordingMethod = rm_AVI;
    bool audioRecording = false, associateAudioAndVideo = true;
    int videoRenderer = vr_VMR7;
    bool motionDetector = false, grabberOnCaptureStream = false;
  } snapshot_;
  com::ComPtr<dshow::ICaptureGraphBuilder2> builder_;
  com::ComPtr<dshow::IGraphBuilder> graph_;
  com::ComPtr<dshow::IFilterGraph2> graph2_;
  com::ComPtr<dshow::IMediaControl> control_;
  com::ComPtr<dshow::IMediaSeeking> seeking_;
  com::ComPtr<dshow::IMediaEventEx> events_;
  std::vector<QString> devicesHeld_;  // keys of the devices this graph marked in use
  void ReleaseGraph();
  void ReleaseDeviceInterfaces();
  bool InsertDVSplitter(dshow::IPin* pin);
  /** @brief Traces the devices, compressors and switches a build starts from (process log only). */
  void TraceBuildChoices() const;
  /** @brief The PVR card's encoder after its "656" pin; the pin becomes the encoder's stream output. */
  bool InsertPvrEncoder(com::ComPtr<dshow::IPin>& pin);
  void WdmSizeDiscovery();
  void VfwSizeDiscovery();
  void RecordSubtype(const dshow::GUID& subtype);
  void TrySize(const dshow::AM_MEDIA_TYPE& type, int width, int height, QStringList& rejected);
  void FinishLists();
  void SyncCurrentSizeList();
  int SelectedSubtypeIndex();
  struct PageSaverRecord {
    std::unique_ptr<PageSaver> saver;
    bool showPages = false, storeOnClose = false;
  };
  void OpenPageSaver(PageSaverRecord& record, const QString& name, const QString& keyPath);
  bool ApplyPageSaver(PageSaverRecord& record, dshow::IBaseFilter* filter);
  void ClosePageSaver(PageSaverRecord& record);
  void ReleaseAudioRenderingGraph();
  com::ComPtr<dshow::ICaptureGraphBuilder2> audioBuilder_;
  com::ComPtr<dshow::IGraphBuilder> audioGraph_;
  com::ComPtr<dshow::IMediaControl> audioControl_;
  int burstCounter_ = 0;
  int burstIntervalCounter_ = 0;
  QString lastRecordedFile_;
  QString recordingFile_;
  QString writingFile_;
  // ---- recording files and re-encoding runs: state ----
  QString lastRecordingFile_, lastWritingFile_;  // the recording's two files, kept past its teardown
  bool reencodingRunning_ = false;
  std::atomic<bool> reencodeLooping_{false};
  bool restarting_ = false;
  bool recordingCancelled_ = false;
  bool compressAfterRecording_ = false;
  int sequentialIndex_ = -1;
  int masterStream_ = 0;  // 0 video, 1 audio, 2 none
  com::ComPtr<dshow::IBaseFilter> writer_;
  com::ComPtr<dshow::IFileSinkFilter> fileSink_;
  /** @brief Inserts the frame grabber of that control name on the chain. */
  bool InsertGrabber(const QString& controlName, com::ComPtr<dshow::IPin>& chain);
  bool BuildChains(TCurrentState mode);
  /** @brief Binds the list's compressor into the graph and splices it into the chain. */
  bool InsertCompressor(TDevices* list, int index, com::ComPtr<dshow::IPin>& chain);
  bool StartBuiltGraph(TCurrentState mode);

#define KESTROM_FK_FIELD(type, Name, def, accepts, cond, reason) type Name##_ = def;
  KESTROM_FK_PLAIN_PROPERTIES(KESTROM_FK_FIELD)
#undef KESTROM_FK_FIELD
  int VideoDevice_ = 0;
  int AudioDevice_ = 0;
  bool SpeakerControl_ = true;
  int RecordingMethod_ = rm_AVI;
  bool RecordingCanPause_ = false;
  QString RecordingFileName_;
  QString AutoFilePrefix_ = QStringLiteral("fk");
  bool BurstMode_ = false;
  double PlayerSpeedRatio_ = 1.0;
  bool PlayerAudioRendering_ = true;
  QString PlayerForcedCodec_;
  bool TVUseFrequencyOverrides_ = true;
  // The channel last tuned through SetTVChannel, and whether an override gave its frequency.
  struct {
    bool tuned = false, withOverride = false;
    int channel = 0, videoSubChannel = -1;
  } lastTuning_;
  QPointer<QSlider> PlayerTrackBar_;
  int VideoProcessing_Rotation_ = rt_0_deg;
  bool MotionDetector_Enabled_ = false;
  core::TColor BackgroundColor_ = core::clBlack;
  int BorderStyle_ = bsSingle;
  QString TextOverlay_String_ = QString::fromLatin1(DefaultTextOverlayString);
  ui::FontChoice TextOverlay_Font_;
  QPointer<QWidget> ShapeOverlay_;
  QPointer<QObject> PropertyPageSaver_;  // cleared by itself when the saver is destroyed
  TVideoWindow DisplayWindow_{0};
  TVideoWindow DualDisplayWindow_{1};
  std::unique_ptr<TPlayerStepThread> playerStepThread_;
  std::atomic<bool> positionUpdating_{false};
  bool writingImagesFile_ = false;  // an images file is being written
  bool recordingHold_ = false;
  com::ComPtr<dshow::IPin> videoCapturePin_, audioCapturePin_;
  int videoCompressor_ = 0;
  int audioCompressor_ = 0;
  int selectedWidth_ = 320, selectedHeight_ = 240;
  int nearestWidth_ = 0, nearestHeight_ = 0;  // "nearest video size"; both positive when set
  // The current size list (that of the current standard's family) and the subtypes; entry 0 of
  // each is the default. Filled by format discovery or the cache.
  QStringList videoSizes_, videoSubtypes_;
  TFormatLists formats_;
  TSettingsTable videoTable_ = TSettingsTable::Video();
  TSettingsTable audioTable_ = TSettingsTable::Audio();
  bool videoTableLoaded_ = false, audioTableLoaded_ = false;  // restored or discovered since bound
  bool discovering_ = false;
  bool changingVideoDevice_ = false;
  bool firstIdleStartDone_ = false;
  bool previewLostWithDevice_ = false;  // a preview stopped by its device's loss, to come back with it
  int currentFrameRate_ = 0;
  com::ComPtr<dshow::IBaseFilter> videoSource_, audioSource_;
  com::ComPtr<dshow::IPin> previewPin_, capturePin_, captureStreamPin_, audioSourcePin_, videoSourcePin_;
  com::ComPtr<dshow::IAMTVTuner> tuner_;
  com::ComPtr<dshow::IAMAnalogVideoDecoder> decoder_;
  com::ComPtr<dshow::IAMStreamConfig> streamConfig_;
  com::ComPtr<dshow::IKsPropertySet> filterProperties_, pinProperties_;
  com::ComPtr<dshow::IAMVideoProcAmp> procAmp_;
  com::ComPtr<dshow::IAMCameraControl> cameraControl_;
  com::ComPtr<dshow::IAMCrossbar> videoCrossbar_, audioCrossbar_, audioDeviceCrossbar_;
  com::ComPtr<dshow::IAMAudioInputMixer> audioMixer_, pinMixer_;
  std::optional<std::pair<int, int>> savedSpeaker_;  // volume and balance before a build took the speakers
  com::ComPtr<dshow::IAMDroppedFrames> droppedFramesSource_;  // the capture device's frame statistics
  std::unique_ptr<TCrossbarTree> crossbarTree_;
  TCrossbar videoCrossbarPins_, audioCrossbarPins_;
  bool dvSplitterUsed_ = false;
  bool balanceSet_ = false;
  int tuneSettleMs_ = 1000;
  PageSaverRecord videoPageSaver_, writerPageSaver_;
  std::array<std::array<TThirdPartyFilter, ThirdPartyFiltersPerSlot>, ThirdPartyFilterSlots> thirdPartyFilters_{};

  // ---- companion module ----
 public:
  /** @brief One filter role's hold on the companion module: its handle, the filter and two more of its interfaces. */
  struct TModuleHolder {
    void* module = nullptr;  // kept: the module stays loaded for the life of the process
    com::ComPtr<dshow::IBaseFilter> filter;
    com::ComPtr<com::IUnknown> second;
    com::ComPtr<com::IUnknown> aux;
    void ReleaseInterfaces() {
      filter.Reset();
      second.Reset();
      aux.Reset();
    }
  };
  /** @brief Where the packed module image comes from (the program's resource, or a test's bytes). */
  using FilterImageGetter = std::function<std::optional<QByteArray>()>;
  /** @brief A copy of the packed module carried as the resource "TFCATCH"; nothing without it. */
  static std::optional<QByteArray> GetGrabberFilterImage();
  /**
   * @brief The expanded module of a packed image; nothing when a record runs past the image or
   * past the declared size, or the declared size is not in 1 byte .. 64 MB.
   */
  static std::optional<QByteArray> ExpandFilterModule(const QByteArray& image);
  /** @brief Expands the image into a new "tfk" file of the engine's temporary folder; empty on any failure (no file then). */
  static QString UnpackFilterModule(const FilterImageGetter& getter);
  /** @brief Loads the module (once per holder) and makes a filter through the named creator export. */
  static bool CreateFilterFromModule(const QString& file, TModuleHolder& holder, const char* exportName,
                                     com::ComPtr<dshow::IBaseFilter>& filter);
  /**
   * @brief Makes a filter of the companion module: the image is expanded and loaded once per
   * process (the file is deleted at exit); "cannot load filter " + logName on failure.
   */
  bool CreateOwnFilter(const FilterImageGetter& getter, const QString& logName, const char* exportName,
                       TModuleHolder& holder, com::ComPtr<dshow::IBaseFilter>& filter);
  /** @brief The engine's module image: GetGrabberFilterImage unless a test put another in place (null restores it). */
  void SetFilterImageGetter(FilterImageGetter getter) { filterImageGetter_ = std::move(getter); }
  FilterImageGetter FilterImage() const {
    return filterImageGetter_ ? filterImageGetter_ : FilterImageGetter(&TFK::GetGrabberFilterImage);
  }
  /** @brief The transform with the rotation (applyRotation) or the half-size deinterlacing, added as "TrnfFltr". */
  bool CreateTransformFilter(bool applyRotation, com::ComPtr<dshow::IBaseFilter>& filter);
  /** @brief The push source of video from images, added as "PushSrc"; output is its free output pin. */
  bool CreatePushSourceFilter(filters::PushSourceFill fill, void* data, filters::PushSourceFormat format,
                              com::ComPtr<dshow::IPin>& output);
  /** @brief Gives the frame rate to the push source of the graph; false without one or when it refuses the rate. */
  bool SetPushSourceRate();
  /** @brief The graph's clock: the custom clock at the player's speed ratio for a player without audio. */
  void ChooseReferenceClock();
  /** @brief The custom clock's rate value for a speed ratio: round(15,000 / 23 / ratio). */
  static int64_t ClockRateValue(double ratio);
  /** @brief Gives the running custom clock the current speed ratio; false without one. */
  bool ApplyClockRate();
  dshow::IReferenceClock* EngineClock() const { return engineClock_.Get(); }
  /**
   * @brief Creates, configures and splices a grabber of the kind into the chain (connected with
   * the type when one is given); the chain becomes its output. Failure leaves chain and graph as they were.
   */
  bool InsertGrabber(com::ComPtr<dshow::IPin>& chain, int kind, const dshow::AM_MEDIA_TYPE* type,
                     TModuleHolder& holder, int rgbFormat);
  /** @brief Gives the running frame grabber the current video processing values; false without one. */
  bool UpdateVideoProcessing();
  /** @brief The grabbers that drop samples during a paused recording drop them, or pass them again. */
  void SetGrabbersPaused(bool paused);
  /** @brief The DV recording date the last DV frame carried (year, month, day, hour, minute, second); zeros when invalid. */
  std::array<int32_t, 6> DVDate() const;
  /** @brief A DV date as delivered, kept only when year, month and day make a real calendar day; else zeros. */
  static std::array<int32_t, 6> ValidDVDate(const int32_t* values);
  /** @brief Frames the frame grabber delivered since the graph was built. */
  int64_t GrabbedFrames() const { return grabbedFrames_.load(); }
  /** @brief Releases every holder's interfaces; their module handles stay. */
  void ReleaseModuleHolders();
  TModuleHolder& GrabberHolder(int kind) { return grabberHolders_[static_cast<size_t>(kind & 7)]; }
  TModuleHolder& TransformHolder() { return transformHolder_; }
  TModuleHolder& PushSourceHolder() { return pushSourceHolder_; }
  TModuleHolder& ClockHolder() { return clockHolder_; }
  TModuleHolder& RawWriterHolder() { return rawWriterHolder_; }

 private:
  /** @brief One grabber into the chain; frameGrabber clears for a grabber that only converts for the next. */
  bool InsertGrabberFilter(com::ComPtr<dshow::IPin>& chain, int kind, const dshow::AM_MEDIA_TYPE* type,
                           TModuleHolder& holder, int rgbFormat, bool frameGrabber);
  static void SampleCaptured(void* owner, dshow::BOOL isVideo, dshow::IMediaSample* sample,
                             const dshow::AM_MEDIA_TYPE* type, int32_t w1, int32_t w2, int32_t w3, int32_t w4);
  static void FrameTimeReported(void* owner, int32_t x, dshow::IMediaSample* sample, int64_t frameTime, int32_t y,
                                int32_t z);
  static void DVDateReported(void* owner, const int32_t* values);
  static void FrameGrabbed(void* owner, dshow::IMediaSample* sample, const dshow::BITMAPINFOHEADER* header,
                           dshow::BYTE* bits, dshow::LONG length);
  FilterImageGetter filterImageGetter_;
  std::array<TModuleHolder, 8> grabberHolders_;
  TModuleHolder sampleNotifyHolder_, dvDataHolder_, furtherHolders_[2], rawWriterHolder_, clockHolder_,
      transformHolder_, pushSourceHolder_;
  filters::TPushSourceRecord pushSourceRecord_;  // what the graph's push source was given
  std::vector<com::ComPtr<filters::IGrabberControl>> grabbers_;  // every grabber of the graph
  com::ComPtr<dshow::IReferenceClock> engineClock_;
  mutable std::mutex dvDateLock_;
  std::array<int32_t, 6> dvDate_{};
  std::atomic<int64_t> grabbedFrames_{0};
  std::atomic<int64_t> lastFrameTime_{0};
  // Set by SeekPlayer; the counters read it while the player does not run.
  std::atomic<int64_t> lastSeekPosition_{0};
  // A capture-then-pause served by a frame: the next frame progress pauses the graph ("cspnf").
  std::atomic<bool> pauseAfterFrameProgress_{false};

  // ---- per-frame processing ----
 public:
  /** @brief Streaming thread, once per grabbed frame: counters, overlays, events and the kept copy. */
  void OnGrabberFrame(int64_t sampleTime, const dshow::BITMAPINFOHEADER* header, uint8_t* bits, int32_t length);
  /** @brief The frame information from the counters (under the engine's lock). */
  void DeriveFrameInfo();
  /** @brief The overlays, then the three overlay events, into the frame's own bytes. */
  void OfferFrameToApplication(const core::FrameBits& frame, const TFrameInfo& info);
  /**
   * @brief Makes the picture of the kept frame (zoomed by FrameCaptureZoomSize), saves it when
   * asked and fires OnFrameCaptureCompleted; true when the picture was made (and saved).
   */
  bool CaptureKeptFrame(int dest, const QString& fileName, bool save, bool isRequest);
  /** @brief Compares the last two kept frames, at most MotionDetector_MaxDetectionsPerSecond times a second. */
  void MotionCheck();
  /** @brief kind 0 "bmp", 1 "jpg", 2 the extension: storage folder + AutoFilePrefix + date-time or sequential stem. */
  QString MakeAutoFileName(int kind, const QString& extension = QString());
  /** @brief The name with the kind's extension, its folder made; empty (and logged) when the folder cannot be made. */
  QString NormaliseCaptureFileName(const QString& name, int kind);
  /** @brief Writes the picture as a BMP file in its own layout, atomically; false on an empty name or a failed write. */
  bool SaveBitmap(const QImage& picture, const QString& fileName);
  /** @brief Writes the picture as a JPEG file with the JPEG properties, atomically. */
  bool SaveJpeg(const QImage& picture, const QString& fileName);
  /** @brief The DV recording date and time of the current frame; none when not DV, cleared or invalid. */
  std::optional<QDateTime> EncodeDVDateTime() const;
  /**
   * @brief Asks for the next frame as a picture (fc_TBitmap, fc_BmpFile, fc_JpegFile; an empty
   * name makes one); OnFrameCaptureCompleted tells the outcome. False, "not previewing", without a running graph.
   */
  bool CaptureFrameTo(int dest, const QString& fileName);
  /** @brief The current kept frame (empty before the first one). */
  TFrameData KeptFrame() const;
  /** @brief The last picture saved for a request, or for a burst. */
  QString LastCapturedFile(bool burst) const;
  /** @brief Some capture succeeded since the counters were reset. */
  bool FrameCaptured() const { return frameCaptured_; }
  TImplMotionDetector& MotionDetector() { return motionDetector_; }
  /** @brief Takes the properties the streaming thread reads; a change applies from the next frame. */
  void PublishFrameSettings();
  /** @brief Fires the deferred sample events whose copies wait, video first (GUI thread). */
  void FireDeferredSampleEvents();
  /** @brief One stream's copy of its last sample for the deferred sample event. */
  struct TSampleCopy {
    std::vector<uint8_t> data;
    int32_t dataLength = 0, formatKind = 0;
    const dshow::BITMAPINFOHEADER* bitmapHeader = nullptr;
    const uint8_t* formatBlock = nullptr;
    std::atomic<bool> busy{false};    // the streaming thread copies into it
    std::atomic<bool> locked{false};  // the GUI thread delivers it
    std::atomic<bool> ready{false};   // a new copy waits
    int32_t w1 = 0, w2 = 0, w3 = 0, w4 = 0;
  };
  TSampleCopy& SampleCopy(bool video) { return sampleCopies_[video ? 0 : 1]; }
  static void SampleCapturedDeferred(void* owner, dshow::BOOL isVideo, dshow::IMediaSample* sample,
                                     const dshow::AM_MEDIA_TYPE* type, int32_t w1, int32_t w2, int32_t w3, int32_t w4);

 private:
  /** @brief What the streaming thread reads of the properties, replaced whole by PublishFrameSettings. */
  struct TFrameSettings {
    bool overlaysNeeded = false, textEnabled = false, shapeEnabled = false;
    TextOverlayStyle textStyle;
    std::shared_ptr<const ui::ShapeSnapshot> shape;
    bool withoutOverlay = false, motion = false;
    int state = cs_None;
    int burstCount = 0, burstInterval = 0;
    std::array<QString, 10> customTexts;
  };
  std::shared_ptr<const TFrameSettings> FrameSettings() const;
  /** @brief Copies the frame into a new current kept frame, reusing the old previous one's bytes when no one holds them. */
  void KeepFrame(const core::FrameBits& frame, const TFrameInfo& info);
  void FinishFrame(const core::FrameBits& frame, bool known, const TFrameInfo& info, const TFrameSettings& settings,
                   bool copy);
  /** @brief The shape overlay and the text overlay (then OnFrameOverlayUsingDC withEvent) into the frame. */
  void DrawOverlays(const core::FrameBits& frame, const TFrameInfo& info, const TFrameSettings& settings,
                    bool withEvent);
  /** @brief A frame whose sample carries no time (a preview stream's, a count from the device). */
  static constexpr int64_t kUntimedSample = INT64_MIN;
  /**
   * @brief The counters for one more frame; an untimed frame takes the graph clock's time, and
   * deviceFrames (when not negative) is the device's own count of frames since the start.
   */
  void UpdateCountersLocked(int64_t sampleTime, int state, int64_t deviceFrames = -1);
  /** @brief The graph clock's time (100-ns units); the system clock's without one. */
  int64_t GraphClockTime() const;
  void DeriveFrameInfoLocked(int state);
  mutable std::mutex frameLock_;  // the engine's critical section: counters, kept frames, requests, burst
  core::Published<TFrameSettings> frameSettings_;
  TextOverlayText textOverlayText_;
  std::array<QString, 10> customTexts_;
  TImplMotionDetector motionDetector_;
  TFrameInfo frameInfo_;
  struct {
    int64_t frameNumber = 0, dropped = 0, streamTime = 0, position = 0;
    int64_t startTime = -1, startFrame = -1, startDropped = -1;
    int64_t pausedTotal = 0, pauseStart = -1, pauseFrame = 0, pausedFrames = 0;
    bool positionHeld = false;
    bool restartAtNext = false;  // writing was released: the next frame starts the count
    int64_t durationDivisor = 1;
  } counters_;
  TFrameData keptCurrent_, keptPrevious_;
  TFrameInfo keptCurrentInfo_;
  QImage keptSpare_;  // the picture last displaced, whose bytes the next kept frame reuses
  std::array<int, 10> appliedProcessing_{};
  struct {
    bool pending = false;
    int dest = fc_TBitmap;
    QString fileName;
  } captureRequest_;
  bool burstCapturePending_ = false;
  bool captureThenPause_ = false;
  bool captureInProgress_ = false;
  bool frameCaptured_ = false;
  bool grabbersPaused_ = false;
  QString lastRequestFile_, lastBurstFile_;
  // The motion check, in the kept frames' own times: the last detection and the frame last compared.
  int64_t lastDetectionTime_ = INT64_MIN;
  int64_t lastComparedTime_ = INT64_MIN;
  int32_t lastComparedNumber_ = -1;
  std::array<TSampleCopy, 2> sampleCopies_;

  // ---- filter insertion and display slots ----
  std::array<TDisplayRecord, DisplaySlots> displays_{};
  bool dualDisplay_ = false;
  /** @brief The engine's display forms; they go with the engine. */
  struct TDisplayForms {
    std::array<QPointer<TDisplayForm>, DisplaySlots> forms;
    TDisplayForms() = default;
    TDisplayForms(const TDisplayForms&) = delete;
    TDisplayForms& operator=(const TDisplayForms&) = delete;
    ~TDisplayForms();
  } displayForms_;
  // Per display window (by window index): its slot, and the drag and key state of its form.
  struct TWindowInput {
    int slot = -1;
    bool linked = false;
    QPoint dragStart{-1, -1};
    QChar lastKey;
  };
  std::array<TWindowInput, 2> windowInput_{};
  bool resizingDisplays_ = false, sizingDisplay_ = false, storingDragPosition_ = false;
  void LinkSlot(int slot, TVideoWindow& settings);
  /** @brief The settings' monitor rectangle; a monitor index beyond the screens uses the first. */
  bool MonitorOf(const TVideoWindow& settings, QRect& rect) const;
  bool audioRendered_ = false;  // the graph's own audio renderer took the sound

  // ---- clip player (FKPlayer.cpp) ----
 public:
  /** @brief Frame stepping, seeking, duration, frame time and step interval of the rendered clip; false without seeking. */
  bool SetupSeeking();
  /** @brief Starts backward play by posted steps; false when the clip cannot be stepped back. */
  bool PlayBackwards();
  /** @brief Starts forward play by timed steps (the graph pauses between them). */
  bool PlayStepped();
  /** @brief Milliseconds between timed forward steps; 0 while the clip plays at its rate. */
  int PlayerStepInterval() const { return stepInterval_; }
  /** @brief The player's frame grabber could not be inserted: frames cannot be captured from the clip. */
  bool PlayerGrabberFailed() const { return playerGrabberFailed_; }
  /** @brief A DV clip's stream passes the DV data grabber before its decoder. */
  bool PlayerDVDataGrabber() const { return dvDataGrabber_; }

 private:
  /** @brief Steps 2 to 9 of opening a clip: codec, rendering, seeking, sound, picture chain and display. */
  bool BuildPlayerGraph();
  /** @brief The forced codec added under its friendly name; null (logged) when it is not found or not added. */
  com::ComPtr<dshow::IBaseFilter> AddForcedCodec();
  /** @brief Renders PlayerFileName, through the forced codec when one is in the graph. */
  bool RenderClip(dshow::IBaseFilter* codec);
  /** @brief The DV data grabber before a DV clip's decoder and the decoder's display size. */
  void SetupPlayerDVDecoder();
  /** @brief An open clip whose graph can seek whole frames, with the step thread to drive it. */
  bool SteppedPlaybackAvailable() const;
  int stepInterval_ = 0;
  bool rateRefused_ = false;  // the graph refused PlayerSpeedRatio: timed steps stand in
  bool playerGrabberFailed_ = false;
  bool dvDataGrabber_ = false;
  // (end of clip player)

  // ---- video from images (FKImages.cpp) ----
 public:
  /** @brief The push source's format callback: the pictures' info header with its palette, in task memory. */
  static com::HRESULT PushSourceFormat(void* data, dshow::LONG* formatSize, dshow::BYTE** format,
                                         dshow::BYTE** buffer);
  /** @brief The push source's fill callback: the next picture's pixels; at the end it wraps or ends the stream. */
  static com::HRESULT PushSourceFill(void* data, dshow::BYTE* buffer, dshow::LONG size, dshow::BOOL* endOfStream);
  /** @brief A file opened with the mode; none when it cannot be opened. */
  static std::unique_ptr<QFile> OpenFileStream(const QString& name, QIODevice::OpenMode mode);
  /** @brief True while a graph plays an images file. */
  bool ImagesStreamOpen() const;
  /** @brief Lets go of the images file a graph played. */
  void CloseImagesStream();

 private:
  /** @brief The image branch of the base graph: the push source playing the images file. */
  bool CreateImagesGraph();
  /** @brief Fills one frame under the stream's lock. */
  com::HRESULT FillFromImagesStream(dshow::BYTE* buffer, dshow::LONG size, dshow::BOOL* endOfStream);
  // The images file a graph plays; the push source reads it on the streaming thread.
  mutable std::mutex imagesLock_;
  std::unique_ptr<QFile> imagesStream_;
  QString imagesStreamName_;
  int32_t imagesCount_ = 0;
  std::atomic<bool> imagesRepeat_{false};  // VideoFromImages_RepeatIndefinitely, for the streaming thread
  // (end of video from images)

  // ---- settings dialogs (FKDialogs.cpp) ----
 public:
  // Each dialog runs on the GUI thread, only while the device lists are built and no recording,
  // re-encoding or clip runs. Without a running graph the device is bound in a graph of its own
  // for the dialog, which is torn down afterwards; the mode from before is put back.
  /** @brief The object's pages in a modal frame at (0, 0) of the component's window; false when it has none to show. */
  bool ShowPropertyPages(com::IUnknown* object, const QString& caption);
  /** @brief The same at (30, 30); true when the object has pages. */
  bool ShowFilterPages(com::IUnknown* object, const QString& caption);
  /** @brief The audio device's pages: on the running graph's device, else bound for the dialog. */
  bool ShowAudioDevicePages();
  /**
   * @brief The selected video compressor's dialog (its pages), spliced after the video device's
   * capture output; its settings are restored before and stored after, under its key.
   */
  bool ShowVideoCompressorDialog();
  /** @brief The same for the audio compressor after the audio device. */
  bool ShowAudioCompressorDialog();
  /** @brief The video capture pin's stream format page (not for DV); the chosen size and rate become the selected ones. */
  bool ShowStreamFormatPages();
  /** @brief kind 0: the video device's pages; 4, 5, 6: the old driver dialogs (format, source, display). */
  bool ShowDeviceDialog(int kind);
  /** @brief The registry key a compressor's own settings are kept under. */
  QString CompressorKey(bool video) const;

 private:
  friend struct TDialogsTestAccess;
  /** @brief The common preconditions: device lists built, no recording, re-encoding or clip. */
  bool DialogsAllowed();
  /**
   * @brief "no video capture device" when there is none, false for an index past the list; with
   * select, the requested device is made current (and must be discovered).
   */
  bool DialogVideoDevice(bool select);
  bool DialogAudioDevice(bool select);
  /** @brief Takes the running graph down, makes the requested device current and takes the build parameters. */
  bool PrepareDialogGraph(bool video);
  /** @brief Tears the dialog's graph down and puts the mode from before back (and rebuilds a preview for reason). */
  void EndDialogGraph(TCurrentState before, const QString& reason);
  /** @brief The device graph a device dialog acts on: a WDM device previews while its pages are open. */
  bool BuildLiveDialogGraph();
  bool ShowCompressorDialog(bool video);
  /** @brief The pages at (x, y) of the component's window, the busy cursor lowered meanwhile. */
  bool ShowPagesAt(com::IUnknown* object, const QString& caption, int x, int y);
  /** @brief Reads back what a device dialog may have changed: standard, size list, controls. */
  void ReadBackDeviceDialog();
  // (end of settings dialogs)
};

/** @brief One plain property of the table, for code that walks all of them. */
struct TPropertyRow {
  const char* name;
  const char* reason;  // empty when a change rebuilds nothing
  QVariant defaultValue;
  std::function<QVariant(const TFK&)> get;
  std::function<void(TFK&, const QVariant&)> set;
};
std::vector<TPropertyRow> PlainProperties();

/** @brief The unit-wide busy cursor depth (TFK::SetBusyCursor moves it). */
int BusyCursorDepth();

// ---- file writers ----
/** @brief Where a direct network stream is watched: the URL as clients use it, its host and port (0: none). */
struct TStreamingHostUrl {
  QString url, host;
  uint16_t port = 0;
};
/**
 * @brief The network sink's host URL as reported: an "http" URL becomes "mms://" + the rest, whose
 * part before the first ':' is the host and the number after it the port (0 when not a number).
 */
TStreamingHostUrl StreamingHostUrl(const QString& hostUrl);

}  // namespace kestrom::engine
