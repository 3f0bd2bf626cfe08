#pragma once
// The process-wide sync manager shared by every capture component. It lives on the GUI thread
// and runs there everything that touches graphs: queued commands (each carrying the id of its
// component, so a command for a component that is gone is dropped), device-list rebuilds after a
// device came or went, the auto-preview at the application's first idle moment, and the stop of
// the components of a form whose close was accepted. It also keeps the counters of sequentially
// numbered files.
//
// Life: InitGlobalDevices and StartSyncManager when the first component is made; StopSyncManager
// from main, after the forms are deleted and before the application object goes.

#include "capture/engine/Devices.h"
#include "capture/engine/EngineComponent.h"

#include <QEvent>
#include <QString>
#include <QStringList>
#include <functional>

namespace kestrom::core {
class Clock;
}

namespace kestrom::engine {

/** @brief The event type of queued sync commands. */
QEvent::Type SyncCommandMessage();
/** @brief The event type a filter graph uses to tell a component that events wait. */
QEvent::Type GraphNotifyMessage();

/** @brief A queued sync command. */
class SyncCommandEvent final : public QEvent {
 public:
  SyncCommandEvent(TSyncCommand command, ComponentId component)
      : QEvent(SyncCommandMessage()), command_(command), component_(component) {}
  TSyncCommand Command() const { return command_; }
  ComponentId Component() const { return component_; }

 private:
  TSyncCommand command_;
  ComponentId component_;
};

// ---- unit-wide set-up ----

/** @brief Builds the device lists, the monitor table and the audio format names once. */
void InitGlobalDevices();
/** @brief 0 not set up, 1 being set up or torn down, 2 set up. */
int GlobalDevicesState();
TDevices* AudioDeviceList();
TDevices* VideoDeviceList();
TDevices* VideoCompressorList();
TDevices* AudioCompressorList();
/** @brief The lists' display names, one a line (each first runs InitGlobalDevices). */
QString AudioDevicesText();
QString VideoDevicesText();
QString AudioCompressorsText();
QString VideoCompressorsText();
/** @brief The audio format names kept for the components' format lists. */
QStringList GlobalAudioFormatNames();

/** @brief Starts the manager once: store version check, command target, device watch, idle start, hook. */
void StartSyncManager();
/** @brief Ends the manager and frees the device lists; writes the END banner. */
void StopSyncManager();
/** @brief 0 not started, 1 starting or stopping, 2 running, 3 running and idle once. */
int SyncState();

/**
 * @brief The clock the device-change watch runs on (the system clock unless set); set it before
 * StartSyncManager.
 */
void SetSyncClock(const core::Clock* clock);
/**
 * @brief What the device-change watch compares between polls (the capture device nodes and sound
 * cards unless set); set it before StartSyncManager.
 */
void SetDeviceSignature(std::function<QString()> signature);
/** @brief Runs the device watch's poll loop on its thread (on by default; tests poll by hand). */
void SetDeviceWatchThreadEnabled(bool enabled);
/** @brief One poll of the device watch, as its thread runs it every 100 ms. */
void PollDeviceWatch();

// ---- components and commands ----

void RegisterComponent(EngineComponent* component);
void UnregisterComponent(EngineComponent* component);
/** @brief The live components, in creation order. */
std::vector<EngineComponent*> Components();

/** @brief Queues a command for a component (nullptr for command 0) to the GUI thread; from any thread. */
void PostSyncCommand(TSyncCommand command, EngineComponent* component);
/** @brief Processes the GUI thread's pending events once. */
void PumpMessagesOnce();
/** @brief A device came or went: the lists are rebuilt 2000 ms after the last such notice. */
void NotifyDeviceChange();
/** @brief Rebuilds the capture device lists and tells every component what arrived and left. */
void RebuildDevicesAndNotify();
/** @brief The application's idle handler: on its first call, starts the auto-previews. */
void SyncIdleHandler();

// ---- sequentially numbered files ----

/** @brief The next number for folder/prefix<6 digits>.extension (the folder is scanned once). */
int NextSequentialNumber(const QString& folder, const QString& prefix, const QString& extension);
/** @brief The stored number at a counter index; -1 for -1 or an index past the end. */
int SequentialCount(int index);
/** @brief Lowers the stored number at an index by one when it is above 0. */
void ReleaseSequentialNumber(int index);
/** @brief The counter index of a key (folder + prefix + extension), -1 when absent. */
int SequentialIndexOf(const QString& folder, const QString& prefix, const QString& extension);

}  // namespace kestrom::engine
