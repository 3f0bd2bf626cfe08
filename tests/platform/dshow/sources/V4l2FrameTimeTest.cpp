#include "platform/dshow/sources/V4l2Devices.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>

namespace kestrom::dshow {
namespace {

// A frame of a V4L2 device carries the moment the driver captured it, not the moment it was
// dequeued: the graph's clock read at dequeue, less the frame's age on the monotonic clock.
TEST(V4l2FrameTime, FramesAreStampedWithTheDriversCaptureTime) {
  constexpr REFERENCE_TIME kMonotonicNow = 1000 * 10000000LL + 5000000;  // 1000.5 s since boot
  constexpr REFERENCE_TIME kStreamNow = 20000000;                        // 2 s into the stream
  constexpr uint32_t kMonotonic = V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC | V4L2_BUF_FLAG_TSTAMP_SRC_EOF;
  struct Case {
    const char* name;
    uint32_t flags;
    timeval captured;
    std::optional<REFERENCE_TIME> expected;
  };
  const Case cases[] = {
      {"monotonic, 40 ms before the dequeue", kMonotonic, {1000, 460000}, 20000000 - 400000},
      {"monotonic, taken at the start of the frame", V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC | V4L2_BUF_FLAG_TSTAMP_SRC_SOE,
       {999, 500000}, 10000000},
      {"monotonic, exactly at the stream start", kMonotonic, {998, 500000}, 0},
      {"monotonic, before the stream start", kMonotonic, {998, 499990}, std::nullopt},
      {"monotonic, after the clock read", kMonotonic, {1000, 600000}, kStreamNow},
      {"unknown source", V4L2_BUF_FLAG_TIMESTAMP_UNKNOWN, {1000, 460000}, kStreamNow},
      {"copied from an output buffer", V4L2_BUF_FLAG_TIMESTAMP_COPY, {3, 0}, kStreamNow},
      {"monotonic but zero", kMonotonic, {0, 0}, kStreamNow},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(V4l2FrameStreamTime(c.flags | V4L2_BUF_FLAG_DONE, c.captured, kMonotonicNow, kStreamNow), c.expected);
  }
}

}  // namespace
}  // namespace kestrom::dshow
