#pragma once
// The engine's worker threads. They never touch graphs or forms themselves: they post commands
// to the sync manager or run a piece of work on the GUI thread through Synchronize.
//
// A thread is ended with TWaitingThread::Stop from the GUI thread, which asks it to end, keeps
// the GUI thread's events flowing (so a synchronised call in progress can finish), joins and frees
// it. A stop asked for from inside that thread's own synchronised call cannot wait for it: it
// only asks the thread to end, and the thread is joined and freed as soon as the call returns.

#include "capture/engine/EngineComponent.h"
#include "platform/core/Clock.h"

#include <QString>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace kestrom::engine {

struct SyncCall;

class TWaitingThread : public QThread {
 public:
  TWaitingThread();
  /** @brief Ends and joins a thread that is still running; threads are normally ended by Stop. */
  ~TWaitingThread() override;

  /** @brief Starts the loop (threads are created suspended). */
  void Resume();
  /** @brief True once the loop has ended (or when it never started). */
  bool Done() const { return done_.load(); }
  /** @brief Asks the loop to end; wakes its sleep and any synchronised call it waits for. */
  void RequestTerminate();
  bool Terminated() const { return terminated_.load(); }

  /** @brief Stops and frees a worker thread (GUI thread only); the pointer is empty afterwards. */
  template <class T>
  static void Stop(std::unique_ptr<T>& thread) {
    TWaitingThread* raw = thread.release();
    StopAndFree(raw);
  }
  static void StopAndFree(TWaitingThread* thread);

 protected:
  /** @brief The thread's work; returns when Terminated(). */
  virtual void Step() = 0;

  /** @brief Sleeps up to ms milliseconds; false when the thread was asked to end. */
  bool SleepFor(int ms);

  /**
   * @brief Runs fn on the GUI thread and waits for it. Returns false without running it when the
   * thread is asked to end before the GUI thread took the call up.
   */
  bool Synchronize(std::function<void()> fn);

  // Guards the thread's waits; wake_ is told of termination, finished calls and the end of the loop.
  std::mutex mutex_;
  std::condition_variable wake_;

 private:
  void run() final;
  static void RunSyncCall(const std::shared_ptr<SyncCall>& call);

  std::atomic<bool> done_{true};
  std::atomic<bool> terminated_{false};
  std::atomic<bool> started_{false};
  std::shared_ptr<SyncCall> pendingCall_;  // guarded by mutex_
  // GUI-thread state: the thread's synchronised call is running on the GUI stack; a stop was
  // asked for meanwhile.
  bool inSyncCall_ = false;
  bool stopDeferred_ = false;
};

/**
 * @brief Debounces device arrival and removal: each change pushes the deadline to now + 2000 ms;
 * once the deadline has passed, one rebuild is posted. Runs on the injectable clock.
 */
class DeviceChangeDebounce {
 public:
  static constexpr int64_t DebounceMs = 2000;
  explicit DeviceChangeDebounce(const core::Clock& clock) : clock_(clock) {}
  /** @brief A device came or went (any thread). */
  void Arm();
  /** @brief True (once) when an armed deadline has passed; the caller then posts the rebuild. */
  bool Poll(const std::function<void()>& post);
  int ArmState() const { return armState_.load(); }
  void Reset() { armState_.store(0); }

 private:
  const core::Clock& clock_;
  std::atomic<int64_t> deadline_{0};
  std::atomic<int> armState_{0};  // 0 idle, 1 armed, 2 posting
};

/**
 * @brief Watches the machine's capture device nodes and sound cards every 100 ms and posts
 * sy_RebuildDevices 2000 ms after the last change.
 */
class TDevChangeThread final : public TWaitingThread {
 public:
  using Signature = std::function<QString()>;
  using Poster = std::function<void()>;
  TDevChangeThread(const core::Clock& clock, Signature signature, Poster post);
  ~TDevChangeThread() override;

  /** @brief A device change reported from outside (the stand-in of the system's notice). */
  void Arm() { debounce_.Arm(); }
  /** @brief One pass of the loop: compare the device nodes, arm on a change, post when due. */
  void Poll();
  DeviceChangeDebounce& Debounce() { return debounce_; }

  static constexpr int PollMs = 100;

 protected:
  void Step() override;

 private:
  DeviceChangeDebounce debounce_;
  Signature signature_;
  Poster post_;
  QString lastSignature_;
};

/** @brief A position rounded to whole frames; unchanged without a frame duration. */
int64_t AlignToFrame(int64_t position, int64_t frameDuration);

/** @brief What the notify thread reads and reports of a component whose graph runs. */
class NotifySource {
 public:
  virtual ~NotifySource() = default;
  // Read on the worker thread.
  virtual bool GraphActive() const = 0;
  virtual bool Closing() const = 0;
  virtual TCurrentState CurrentState() const = 0;
  virtual bool PlayerPaused() const = 0;
  virtual bool PlayerRefreshPausedDisplay() const { return false; }
  /** @brief Player position and frame duration, 100-ns units. */
  virtual int64_t PlayerPosition() = 0;
  virtual int64_t FrameDuration() const = 0;
  virtual void UpdateFramePosition(int64_t position) = 0;
  virtual void PeriodicCheck() {}
  /** @brief Frames not dropped by the capture device; nothing when it cannot tell. */
  virtual std::optional<int64_t> FramesNotDropped() { return std::nullopt; }
  virtual void SetFrameCount(int64_t frames) { (void)frames; }
  virtual bool HasDVTransport() const { return false; }
  virtual std::optional<int> DVTransportMode() { return std::nullopt; }
  /** @brief The flag that per-frame code sets when a progress notification is due. */
  virtual std::atomic<bool>& PendingNotification() = 0;
  // Run on the GUI thread.
  virtual void FrameProgress() = 0;
  virtual void RefreshPausedPosition() {}
  virtual void FireDVCommandCompleted(int mode, const QString& label) { (void)mode; (void)label; }
};

/** @brief Reports player positions, frame counts and DV transport changes every 10 ms. */
class TNotifyThread final : public TWaitingThread {
 public:
  TNotifyThread(NotifySource& source, bool countDroppedFrames);
  ~TNotifyThread() override;
  /** @brief One pass of the loop (without its sleep); for the loop and for tests. */
  void Pass();

  static constexpr int PollMs = 10;

 protected:
  void Step() override;

 private:
  void Notify();
  NotifySource& source_;
  const bool countDroppedFrames_;
  int64_t lastPosition_ = -1;
  int64_t lastFrames_ = -1;
  int lastDVMode_ = -1;
  int pausedPasses_ = 0;
  int dvPasses_ = 0;
};

/** @brief What the player step thread asks of its component. */
class PlayerStepSource {
 public:
  virtual ~PlayerStepSource() = default;
  /** @brief Stepped playback (backwards or fast forwards) is on. */
  virtual bool SteppingEnabled() const = 0;
  /** @brief True when a frame was shown since the last step; clears the mark. */
  virtual bool TakeFrameProgressSeen() = 0;
  /** @brief Queues sy_PlayerThreadStep for the component. */
  virtual void PostThreadStep() = 0;
};

/**
 * @brief Paces stepped playback: after each interval, once the last step's frame was shown, it
 * posts the next step and waits until the step resumes it (with the next interval).
 */
class TPlayerStepThread final : public TWaitingThread {
 public:
  explicit TPlayerStepThread(PlayerStepSource& source, int intervalMs = 100);
  ~TPlayerStepThread() override;

  int Interval() const { return interval_.load(); }
  void SetInterval(int ms) { interval_.store(ms > 0 ? ms : 1); }
  /** @brief Lets a thread that posted a step go on (any thread). */
  void ResumeStepping();
  bool WaitingForStep() const { return waiting_.load(); }
  /** @brief The check after a sleep: true when it posted a step (the thread then waits). */
  bool Pass();

 protected:
  void Step() override;

 private:
  PlayerStepSource& source_;
  std::atomic<int> interval_;
  std::atomic<bool> waiting_{false};
};

}  // namespace kestrom::engine
