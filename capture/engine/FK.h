#pragma once
// The capture component's engine: every bit of state behind the capture panel, its public
// methods with their preconditions, the sync commands it runs and the mode teardown. It has no
// widgets, so tests drive it directly; the panel only forwards to it.
//
// Modes start and stop through posted sync commands only: a start method posts its command,
// pumps the GUI thread's messages once (which runs the command) and then reads the new state.

#include "capture/engine/EngineComponent.h"
#include "capture/engine/EngineLog.h"
#include "capture/engine/WorkerThreads.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

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
};

class TFK;

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

class TFK final : public EngineComponent, public PlayerStepSource {
 public:
  /** @brief What the engine needs of the panel it serves (null in widget-free tests). */
  struct Host {
    QObject* sender = nullptr;    // the Sender of every event
    QObject* form = nullptr;      // the window the panel is placed on
  };

  TFK();
  explicit TFK(Host host);
  ~TFK() override;
  TFK(const TFK&) = delete;
  TFK& operator=(const TFK&) = delete;

  // ---- events (fire only when set and never while being destroyed) ----
  std::function<void(QObject* sender, int logType, const QString& severity, const QString& message)> OnLog;
  std::function<void(QObject* sender)> OnDeviceLost;
  std::function<void(QObject* sender, const QString& fileName, bool success)> OnRecordingCompleted;
  std::function<void(QObject* sender, const QString& sourceFile, const QString& destFile)> OnReencodingStarted;
  std::function<void(QObject* sender, const QString& sourceFile, const QString& destFile, bool success)>
      OnReencodingCompleted;

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
  int64_t GetPlayerCurrentPosition() const { return playerPosition_; }
  int64_t GetPlayerDuration() const { return clipDuration_; }
  int64_t GetPlayerFrameCount() const { return clipFrameCount_; }
  double GetPlayerFrameRate() const;
  int GetPlayerClipKind() const { return clipKind_; }
  int64_t GetFrameNumber() const;
  TCurrentState GetCurrentState() const { return state_; }
  QString GetLastRecordedFile() const;
  bool TakeReencodingStarted();
  bool ReencodeFile(const QString& sourceFile, const QString& destFile, bool compressAudio,
                    bool compressVideo, bool applyVideoProcessing, bool includeAudio);
  bool CreatePreallocatedFile();
  bool CreateVideoFromImagesFile();
  void SetFrameRate(double fps);
  double GetCurrentFrameRate() const { return frameRate_ / 100.0; }
  bool ShowDialog(int kind);
  bool SendDVCommand(int command);

  // ---- properties used by the methods ----
  int GetVideoDevice() const { return videoDevice_; }
  void SetVideoDevice(int index);
  bool GetRecordingCanPause() const { return recordingCanPause_; }
  void SetRecordingCanPause(bool value) { recordingCanPause_ = value; }
  QString GetPlayerFileName() const { return playerFileName_; }
  void SetPlayerFileName(const QString& name) { playerFileName_ = name; }
  bool GetAutoRefreshPreview() const { return autoRefreshPreview_; }
  void SetAutoRefreshPreview(bool value) { autoRefreshPreview_ = value; }

  // ---- graph run state and teardown ----
  int RunState() const { return runState_; }
  /** @brief Rebuilds the preview after a property change while previewing (or after a failed one). */
  void RefreshPreview(const QString& reason);
  /** @brief Asks for a stop through the sync queue; safe from any thread. */
  void PostStop();
  void StopCurrentMode() override;
  /** @brief Leaves the engine with no graph, no interfaces and no graph threads. */
  void ClearGraph(bool resetState);

  // ---- frame counters ----
  void ResetCounters(bool withPlayer);
  int64_t FrameCount() const { return frameCount_; }

  // ---- EngineComponent ----
  bool Initialised() const override { return initialised_; }
  bool Destroying() const override { return destroying_; }
  void FireLog(TLogType code, const QString& severity, const QString& message) override;
  TCurrentState CurrentState() const override { return state_; }
  int BoundVideoDevice() const override { return videoDevice_; }
  QObject* ParentForm() const override { return host_.form; }
  bool GraphActive() const override { return graphActive_; }
  void ExecuteSyncCommand(TSyncCommand command) override;

  // ---- PlayerStepSource ----
  bool SteppingEnabled() const override { return steppingBackwards_ || steppingForwards_; }
  bool TakeFrameProgressSeen() override;
  void PostThreadStep() override;

  TPlayerStepThread* PlayerStepThread() const { return playerStepThread_.get(); }

  // Engine state read by the precondition table.
  bool RecordingWritingStarted() const { return recordingWritingStarted_; }
  bool RecordingPausedFlag() const { return recordingPaused_; }
  bool RecordingCanPauseFlag() const { return recordingCanPause_; }
  bool PlayerFileNameEmpty() const { return playerFileName_.isEmpty(); }

 private:
  friend struct TFKTestAccess;
  /** @brief Runs the method's rows in order; true when every one passed. */
  bool CheckPreconditions(TFKMethod method);
  void FailStart(TSyncCommand command);
  /** @brief Moves the graph to 0 stopped, 1 paused or 2 running; true when the graph took it. */
  bool SetGraphState(int state, const QString& reason);
  template <class F, class... A>
  void Fire(const F& event, A&&... args) {
    if (event && !destroying_) event(host_.sender, std::forward<A>(args)...);
  }

  Host host_;
  bool initialised_ = false;
  bool destroying_ = false;
  TCurrentState state_ = cs_None;
  int runState_ = 0;
  bool graphActive_ = false;
  bool recordingWritingStarted_ = false;
  bool recordingPaused_ = false;
  bool recordingCanPause_ = false;
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
  int64_t playerPosition_ = 0;
  int64_t currentFrame_ = 0;
  int64_t frameCount_ = 0;
  int64_t droppedFrames_ = 0;
  int clipKind_ = 0;
  int videoDevice_ = -1;
  bool autoRefreshPreview_ = true;
  QString playerFileName_;
  QString recordingFileName_;
  QString lastRecordedFile_;
  std::unique_ptr<TPlayerStepThread> playerStepThread_;
};

/** @brief Unit-wide busy cursor depth: on raises it, off lowers it but never below 0. */
void SetBusyCursor(bool on);
int BusyCursorDepth();

}  // namespace kestrom::engine
