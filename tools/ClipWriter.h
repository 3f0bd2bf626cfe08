#pragma once
// Writes short video files through FFmpeg whose pictures carry their frame numbers (FrameCode.h):
// the sample clip a new user opens first, and the fixtures of the media tests and benchmarks.

#include <QSize>
#include <QString>
#include <vector>

namespace kestrom::tools {

struct ClipSpec {
  QString path;                 // the container follows the extension (.avi, .mp4, .mpg, .wmv...)
  QString codec = "msmpeg4v2";  // an FFmpeg encoder name: msmpeg4v2, mpeg4, mjpeg, ffv1, ...
  QSize size{720, 576};
  int rateNum = 25, rateDen = 1;  // frames per second as a fraction
  int frames = 50;
  int gop = 12;                 // frames from one keyframe to the next
  int bFrames = 0;
  int quality = 3;              // quantiser scale: lower is better
  bool audio = false;           // a tone as long as the video, 16-bit samples:
  QString audioCodec = "pcm_s16le";  // an FFmpeg audio encoder (mp2 for MPEG files, PCM for DV)
  int audioRate = 22050;
  int audioChannels = 1;
  bool fieldCoded = false;      // each field carries its own number: bottom 2n, top 2n + 1
  /**
   * @brief False leaves the file as a recording cut off by a crash: the header never updated,
   * no index written, and the last cutBytes bytes missing.
   */
  bool finish = true;
  int cutBytes = 0;
  /**
   * @brief Frames the camera "dropped": not encoded, so an AVI holds an empty chunk in their place
   * (their numbers are never shown).
   */
  std::vector<int> droppedFrames;
};

/** @brief Writes the clip; false with a message on failure. */
bool WriteClip(const ClipSpec& clipSpec, QString* error = nullptr);

}  // namespace kestrom::tools
