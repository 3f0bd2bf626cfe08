#include "platform/core/Clock.h"

#include <chrono>

namespace kestrom::core {

int64_t SteadyClock::NowMs() const {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

namespace {
SteadyClock steadyClock;
std::atomic<Clock*> installed{nullptr};
}  // namespace

Clock& SystemClock() {
  Clock* c = installed.load();
  return c ? *c : steadyClock;
}

void SetSystemClock(Clock* clock) { installed.store(clock); }

}  // namespace kestrom::core
