#pragma once
// What a recording of the test camera must hold: every picture the camera delivered, in order.

#include "platform/dshow/sources/TestDevices.h"
#include "tools/FrameCode.h"

#include <gtest/gtest.h>
#include <vector>

namespace kestrom::dshow::test {

/** @brief What a recording's frame numbers show of the camera's drops. */
struct FrameGaps {
  int skipped = 0;   // numbers missing between one frame and the next
  int repeated = 0;  // frames showing the number before them: the empty chunk the writer puts in
                     // a dropped frame's time, which keeps the frames after it in their slots
};

/**
 * @brief Reads the numbers of a recording's frames (they wrap after kMaxFrameCode). A number
 * that goes back fails the test.
 */
inline FrameGaps FrameGapsOf(const std::vector<int>& codes) {
  EXPECT_FALSE(codes.empty());
  FrameGaps gaps;
  for (size_t i = 1; i < codes.size(); ++i) {
    const int step = (codes[i] - codes[i - 1] + tools::kMaxFrameCode + 1) % (tools::kMaxFrameCode + 1);
    EXPECT_LT(step, (tools::kMaxFrameCode + 1) / 2) << "frame " << i << " goes back";
    if (step == 0) ++gaps.repeated;
    if (step > 1) gaps.skipped += step - 1;
  }
  return gaps;
}

/**
 * @brief Every frame follows the one before, save where the test camera itself dropped frames
 * because the machine held it up past a frame slot (it counts each): nothing after the camera
 * loses or repeats a frame of its own accord.
 */
inline FrameGaps ExpectCameraFramesInOrder(const std::vector<int>& codes) {
  const FrameGaps gaps = FrameGapsOf(codes);
  const long dropped = TestCameraDroppedFrames();
  EXPECT_LE(gaps.skipped, dropped) << "frames lost after the camera delivered them";
  EXPECT_LE(gaps.repeated, dropped) << "frames repeated that the camera never dropped";
  return gaps;
}

}  // namespace kestrom::dshow::test
