#pragma once
// What the engine's shared services (process log, checks, sync manager) need of a capture
// component. The capture component implements it; tests use small fakes.

#include <QString>
#include <atomic>
#include <cstdint>

class QObject;

namespace kestrom::engine {

enum class TLogType : int;

/** @brief The component-wide mode. */
enum TCurrentState { cs_None = 0, cs_Preview = 1, cs_Recording = 2, cs_Player = 3, cs_Reencoding = 4 };

/** @brief Sync commands, the first parameter of SyncCommandMessage. */
enum TSyncCommand {
  sy_RebuildDevices = 0,
  sy_DeviceLost = 1,
  sy_DispatchEvents = 2,
  sy_StartChannelScan = 3,
  sy_ChannelScanStep = 4,
  sy_Reserved5 = 5,
  sy_Reserved6 = 6,
  sy_Stop = 7,
  sy_PlayerStep = 8,
  sy_PlayerThreadStep = 9,
  sy_StartPreview = 10,
  sy_StartRecording = 11,
  sy_OpenPlayer = 12,
  sy_WmvcoreMissing = 13,
};

/** @brief Identifies a registered component in queued commands; 0 is no component. */
using ComponentId = uint64_t;

class EngineComponent;
void RegisterComponent(EngineComponent* component);
void UnregisterComponent(EngineComponent* component);
void StopSyncManager();

class EngineComponent {
 public:
  virtual ~EngineComponent() = default;

  // ---- checks and the log ----
  /** @brief True once a run-time instance has finished construction. */
  virtual bool Initialised() const = 0;
  /** @brief True while the component is being destroyed (no more events). */
  virtual bool Destroying() const { return false; }
  /** @brief Fires OnLog(Sender, LogType, Severity, InfoMsg) when it is assigned. */
  virtual void FireLog(TLogType code, const QString& severity, const QString& message) = 0;

  // ---- state read by CheckMode ----
  virtual TCurrentState CurrentState() const { return cs_None; }
  /** @brief The bound video device index, -1 for none. */
  virtual int BoundVideoDevice() const { return -1; }
  /** @brief The video source is the capture device (not images or a file). */
  virtual bool VideoSourceIsCaptureDevice() const { return true; }

  // ---- sync manager ----
  /** @brief The top-level window the component is placed on; a close of it stops the component. */
  virtual QObject* ParentForm() const { return nullptr; }
  virtual bool GraphActive() const { return false; }
  /** @brief Stops the current mode (graph teardown). */
  virtual void StopCurrentMode() {}
  /** @brief Runs one queued command of the table on the GUI thread (commands 1, 2, 7-12). */
  virtual void ExecuteSyncCommand(TSyncCommand command) { (void)command; }
  /** @brief Applies settings held back until the application runs (first idle moment). */
  virtual void ApplyPendingStartupSettings() {}
  virtual bool AutoStartPreview() const { return false; }
  virtual bool StartPreview() { return false; }
  /** @brief A device of the video (or audio) list arrived; the component may switch to it. */
  virtual void HandleDeviceArrival(bool isVideo, int index) { (void)isVideo; (void)index; }
  /** @brief Fires OnDeviceArrivalOrRemoval when assigned. */
  virtual void FireDeviceArrivalOrRemoval(bool arrival, bool isVideo, const QString& name, int index) {
    (void)arrival; (void)isVideo; (void)name; (void)index;
  }
  /** @brief Asks the shown display windows to repaint (a form is being dragged). */
  virtual void RepaintDisplays() {}

  /** @brief Set once when the component's form closes; a closing component ignores commands. */
  bool Closing() const { return closing_.load(); }
  void SetClosing() { closing_.store(true); }

  /** @brief The id the sync manager gave the component, 0 when not registered. */
  ComponentId SyncId() const { return syncId_.load(); }

 private:
  friend void RegisterComponent(EngineComponent*);
  friend void UnregisterComponent(EngineComponent*);
  friend void StopSyncManager();
  std::atomic<bool> closing_{false};
  std::atomic<ComponentId> syncId_{0};
};

}  // namespace kestrom::engine
