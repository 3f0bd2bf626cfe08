#pragma once
// A monotonic millisecond clock that tests can drive by hand. Every elapsed-time computation
// (playback, time-outs, debounces) asks a Clock, never the system directly.

#include <atomic>
#include <cstdint>

namespace kestrom::core {

class Clock {
 public:
  virtual ~Clock() = default;
  /** @brief Milliseconds since an arbitrary fixed start; never goes backwards. */
  virtual int64_t NowMs() const = 0;
};

/** @brief The real monotonic clock. */
class SteadyClock final : public Clock {
 public:
  int64_t NowMs() const override;
};

/** @brief A clock that moves only when told to. */
class ManualClock final : public Clock {
 public:
  explicit ManualClock(int64_t startMs = 0) : now_(startMs) {}
  int64_t NowMs() const override { return now_.load(); }
  void Advance(int64_t ms) { now_ += ms; }
  void Set(int64_t ms) { now_ = ms; }

 private:
  std::atomic<int64_t> now_;
};

/** @brief The clock shared by the program; the real one unless a test put another in place. */
Clock& SystemClock();

/** @brief Puts a clock in place of the real one (nullptr restores it); for tests. */
void SetSystemClock(Clock* clock);

}  // namespace kestrom::core
