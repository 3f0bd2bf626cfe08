#pragma once
// The records the capture component's events hand over. Events fire with the panel as Sender;
// some fire on streaming threads, so they are plain callbacks, not signals.

#include "platform/dshow/base/Types.h"

#include <QImage>
#include <QString>
#include <cstdint>

namespace kestrom::ui {
class Canvas;
}

namespace kestrom::engine {

/** @brief One frame's counters and times (and the DV date and time code when the source is DV). */
struct TFrameInfo {
  int32_t FrameNumber = 0;
  int32_t DroppedFrames = 0;
  int32_t TotalMinutes = 0;
  int32_t Hours = 0, Minutes = 0, Seconds = 0, Hundredths = 0;
  bool IsDV = false;
  int32_t DVYear = 0, DVMonth = 0, DVDay = 0, DVHour = 0, DVMinute = 0, DVSecond = 0;
  int32_t TCHours = 0, TCMinutes = 0, TCSeconds = 0, TCFrames = 0;
  int32_t TCExtra = 0;
  int32_t Marker = 0;
  int64_t Time = 0;  // 100-ns units since the start
  int64_t TotalSeconds = 0;
  int64_t TotalHundredths = 0;
};

/** @brief A kept video frame with its number and time. */
struct TFrameData {
  QImage Bitmap;
  int32_t FrameNumber = 0;
  int64_t FrameTime = 0;
};

/** @brief One grabbed sample as the sample-capture events see it. */
struct TSampleData {
  const uint8_t* Buffer = nullptr;
  int32_t BufferSize = 0;
  int32_t DataLength = 0;
  int32_t FormatKind = 0;
  const uint8_t* FormatBlock = nullptr;
  const dshow::BITMAPINFOHEADER* BitmapHeader = nullptr;
  int32_t W1 = 0, W2 = 0, W3 = 0, W4 = 0;
};

/** @brief How far a long operation has come. */
struct TProgressInfo {
  int32_t Percent = 0;
  int64_t Done = 0;
  int64_t Total = 0;
};

struct TTVChannelInfo {
  int32_t Channel = 0;
  bool SignalPresent = false;
  int32_t DefaultVideoFrequency = 0;
  int32_t OverriddenVideoFrequency = -1;
  int32_t TunerVideoFrequency = 0;
  int32_t TunerAudioFrequency = 0;
};

/** @brief The frame header handed to the third overlay event (times in milliseconds). */
struct TVideoHeader {
  uint8_t* Data = nullptr;
  uint32_t BufferLength = 0;
  uint32_t BytesUsed = 0;
  uint32_t TimeCaptured = 0;
};

}  // namespace kestrom::engine
