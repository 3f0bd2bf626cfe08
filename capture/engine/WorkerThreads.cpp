#include "capture/engine/WorkerThreads.h"

#include "capture/engine/EngineHelpers.h"
#include "capture/engine/SyncManager.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <cmath>

namespace kestrom::engine {

struct SyncCall {
  enum State { Pending, Running, Finished, Cancelled };
  std::function<void()> fn;
  TWaitingThread* thread = nullptr;
  State state = Pending;  // guarded by the thread's mutex
};

TWaitingThread::TWaitingThread() = default;

TWaitingThread::~TWaitingThread() {
  if (isRunning()) {
    RequestTerminate();
    wait();
  }
}

void TWaitingThread::Resume() {
  if (started_.exchange(true)) return;
  done_.store(false);
  start();
}

void TWaitingThread::run() {
  done_.store(false);
  Step();
  std::lock_guard lock(mutex_);
  done_.store(true);
  wake_.notify_all();
}

void TWaitingThread::RequestTerminate() {
  std::lock_guard lock(mutex_);
  terminated_.store(true);
  requestInterruption();
  wake_.notify_all();
}

bool TWaitingThread::SleepFor(int ms) {
  std::unique_lock lock(mutex_);
  wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return terminated_.load(); });
  return !terminated_.load();
}

bool TWaitingThread::Synchronize(std::function<void()> fn) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return false;
  if (QThread::currentThread() == app->thread()) {  // already on the GUI thread
    if (terminated_.load()) return false;
    fn();
    return true;
  }
  auto call = std::make_shared<SyncCall>();
  call->fn = std::move(fn);
  call->thread = this;
  {
    std::lock_guard lock(mutex_);
    if (terminated_.load()) return false;
    pendingCall_ = call;
  }
  QMetaObject::invokeMethod(app, [call] { RunSyncCall(call); }, Qt::QueuedConnection);
  std::unique_lock lock(mutex_);
  // A call the GUI thread has taken up is waited for to its end; one still queued is given up
  // when the thread is asked to end.
  wake_.wait(lock, [&] {
    return call->state == SyncCall::Finished || (terminated_.load() && call->state == SyncCall::Pending);
  });
  pendingCall_.reset();
  if (call->state == SyncCall::Pending) {
    call->state = SyncCall::Cancelled;
    return false;
  }
  return true;
}

void TWaitingThread::RunSyncCall(const std::shared_ptr<SyncCall>& call) {
  TWaitingThread* thread = call->thread;
  {
    std::lock_guard lock(thread->mutex_);
    if (call->state != SyncCall::Pending) return;  // given up: the thread may be gone
    call->state = SyncCall::Running;
  }
  thread->inSyncCall_ = true;
  call->fn();
  thread->inSyncCall_ = false;
  const bool deferred = thread->stopDeferred_;
  {
    std::lock_guard lock(thread->mutex_);
    call->state = SyncCall::Finished;
    thread->wake_.notify_all();
  }
  if (deferred) {
    // The stop asked for inside the call: the thread is leaving its loop now.
    thread->wait();
    delete thread;
  }
}

void TWaitingThread::StopAndFree(TWaitingThread* thread) {
  if (!thread) return;
  if (!thread->started_.load()) {
    delete thread;
    return;
  }
  thread->RequestTerminate();
  if (thread->inSyncCall_) {
    thread->stopDeferred_ = true;
    return;
  }
  for (;;) {
    PumpMessagesOnce();
    std::unique_lock lock(thread->mutex_);
    if (thread->wake_.wait_for(lock, std::chrono::milliseconds(5), [&] { return thread->done_.load(); }))
      break;
  }
  thread->wait();
  delete thread;
}

void DeviceChangeDebounce::Arm() {
  if (armState_.load() < 2) {
    deadline_.store(clock_.NowMs() + DebounceMs);
    armState_.store(1);
  }
}

bool DeviceChangeDebounce::Poll(const std::function<void()>& post) {
  if (armState_.load() != 1 || deadline_.load() >= clock_.NowMs()) return false;
  armState_.store(2);
  if (post) post();
  armState_.store(0);
  return true;
}

TDevChangeThread::TDevChangeThread(const core::Clock& clock, Signature signature, Poster post)
    : debounce_(clock), signature_(std::move(signature)), post_(std::move(post)) {
  if (signature_) lastSignature_ = signature_();
}

TDevChangeThread::~TDevChangeThread() {
  if (isRunning()) {
    RequestTerminate();
    wait();
  }
}

void TDevChangeThread::Poll() {
  if (signature_) {
    QString now = signature_();
    if (now != lastSignature_) {
      lastSignature_ = std::move(now);
      debounce_.Arm();
    }
  }
  debounce_.Poll(post_);
}

void TDevChangeThread::Step() {
  debounce_.Reset();
  while (!Terminated()) {
    if (!SleepFor(PollMs)) break;
    Poll();
  }
}

TNotifyThread::TNotifyThread(NotifySource& source, bool countDroppedFrames)
    : source_(source), countDroppedFrames_(countDroppedFrames) {}

TNotifyThread::~TNotifyThread() {
  if (isRunning()) {
    RequestTerminate();
    wait();
  }
}

void TNotifyThread::Step() {
  while (!Terminated()) {
    if (!SleepFor(PollMs)) break;
    Pass();
  }
}

void TNotifyThread::Notify() {
  Synchronize([this] { source_.FrameProgress(); });
}

int64_t AlignToFrame(int64_t position, int64_t frameDuration) {
  if (frameDuration <= 0) return position;
  return static_cast<int64_t>(std::llround(static_cast<double>(position) / static_cast<double>(frameDuration))) *
         frameDuration;
}

void TNotifyThread::Pass() {
  if (Terminated() || !source_.GraphActive() || source_.Closing()) return;
  auto alignedPosition = [this] { return AlignToFrame(source_.PlayerPosition(), source_.FrameDuration()); };
  // The player's position becomes the frame shown, and the GUI thread is told at once.
  auto reportPosition = [this](int64_t position) {
    lastPosition_ = position;
    source_.UpdateFramePosition(position);
    source_.PendingNotification().store(true);
    Notify();
    source_.PendingNotification().store(false);
  };
  if (source_.CurrentState() == cs_Player) {
    if (!source_.PlayerPaused()) {
      const int64_t position = alignedPosition();
      if (position != lastPosition_) reportPosition(position);
    } else if (source_.PendingNotification().exchange(false)) {
      // A frame that a seek or a step brought to the paused player is reported at once, not at the
      // next refresh: stepped playback waits for it before its next step.
      reportPosition(alignedPosition());
    } else if (source_.PlayerRefreshPausedDisplay() && ++pausedPasses_ % 10 == 0) {
      Synchronize([this] { source_.RefreshPausedPosition(); });
      reportPosition(alignedPosition());
    }
  } else {
    source_.PeriodicCheck();
    if (countDroppedFrames_) {
      if (const auto frames = source_.FramesNotDropped(); frames && *frames != lastFrames_) {
        lastFrames_ = *frames;
        source_.SetFrameCount(*frames);
        source_.UpdateFramePosition(0);
        source_.PendingNotification().store(true);
        Notify();
        source_.PendingNotification().store(false);
      }
    } else if (source_.PendingNotification().load()) {
      Notify();
      source_.PendingNotification().store(false);
    }
  }
  if (source_.HasDVTransport() && ++dvPasses_ % 10 == 0) {
    if (const auto mode = source_.DVTransportMode(); mode && *mode != lastDVMode_) {
      lastDVMode_ = *mode;
      const int value = *mode;
      Synchronize([this, value] { source_.FireDVCommandCompleted(value, DVModeName(value)); });
    }
  }
}

TPlayerStepThread::TPlayerStepThread(PlayerStepSource& source, int intervalMs)
    : source_(source), interval_(intervalMs > 0 ? intervalMs : 1) {}

TPlayerStepThread::~TPlayerStepThread() {
  if (isRunning()) {
    RequestTerminate();
    wait();
  }
}

bool TPlayerStepThread::Pass() {
  if (Terminated() || !source_.SteppingEnabled() || !source_.TakeFrameProgressSeen()) return false;
  waiting_.store(true);
  source_.PostThreadStep();
  return true;
}

void TPlayerStepThread::ResumeStepping() {
  {
    std::lock_guard lock(mutex_);
    waiting_.store(false);
  }
  wake_.notify_all();
}

void TPlayerStepThread::Step() {
  while (!Terminated()) {
    if (!SleepFor(interval_.load())) break;
    if (!Pass()) continue;
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return !waiting_.load() || Terminated(); });
  }
}

}  // namespace kestrom::engine
