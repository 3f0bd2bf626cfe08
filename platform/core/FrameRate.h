#pragma once
// Frame rates as exact fractions. Rates reach the programs rounded (a rate printed with two
// decimals, a frame time in whole 100 ns units); the common rates they stand for are given back
// exactly, so that a 30 fps video is stored at 30/1 and an NTSC one at 30000/1001.

#include <cstdint>

namespace kestrom::core {

/** @brief Frames per second as num / den (both above 0). */
struct RateFraction {
  int64_t num = 25;
  int64_t den = 1;
  bool operator==(const RateFraction&) const = default;
};

/**
 * @brief The rate a figure in frames per second stands for: a common rate (30, 29.97, 60, 59.94,
 * 24, 23.976, 50, 25, 12.5 and the other whole rates) when the figure is that rate to two
 * decimals, else the figure to a thousandth of a frame, reduced.
 */
RateFraction ExactFrameRate(double framesPerSecond);

/**
 * @brief The rate a frame time in 100 ns units stands for: a common rate whose frame time rounds
 * to it, else 10,000,000 / frameTime reduced. A frame time of 0 or less gives 25/1.
 */
RateFraction FrameRateOfFrameTime(int64_t frameTime);

/** @brief The frame time in 100 ns units of a rate, to the nearest unit. */
int64_t FrameTimeOf(RateFraction rate);

}  // namespace kestrom::core
