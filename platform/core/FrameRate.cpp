#include "platform/core/FrameRate.h"

#include <cmath>
#include <numeric>

namespace kestrom::core {

namespace {

// The rates of film, television and cameras that are not whole numbers.
constexpr RateFraction kFractionalRates[] = {{30000, 1001}, {60000, 1001}, {24000, 1001}, {25, 2}};

RateFraction Reduced(int64_t num, int64_t den) {
  const int64_t divisor = std::gcd(num, den);
  return {num / divisor, den / divisor};
}

}  // namespace

RateFraction ExactFrameRate(double framesPerSecond) {
  if (!(framesPerSecond > 0) || framesPerSecond > 1e6) return {};
  // Two decimals (the way the rate is passed on) cannot tell more apart than this.
  constexpr double kTwoDecimals = 0.005 + 1e-9;
  for (const RateFraction& rate : kFractionalRates)
    if (std::abs(framesPerSecond - double(rate.num) / double(rate.den)) <= kTwoDecimals) return rate;
  const double whole = std::round(framesPerSecond);
  if (whole >= 1 && std::abs(framesPerSecond - whole) <= kTwoDecimals) return {int64_t(whole), 1};
  return Reduced(std::llround(framesPerSecond * 1000), 1000);
}

int64_t FrameTimeOf(RateFraction rate) { return std::llround(1e7 * double(rate.den) / double(rate.num)); }

RateFraction FrameRateOfFrameTime(int64_t frameTime) {
  if (frameTime <= 0) return {};
  for (const RateFraction& rate : kFractionalRates)
    if (FrameTimeOf(rate) == frameTime) return rate;
  // Whole rates: 30 fps is 333,333 units, not quite a third of a second's tenth.
  const int64_t whole = std::llround(1e7 / double(frameTime));
  if (whole >= 1 && FrameTimeOf({whole, 1}) == frameTime) return {whole, 1};
  return Reduced(10000000, frameTime);
}

}  // namespace kestrom::core
