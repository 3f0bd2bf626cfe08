#pragma once
// The records the capture component's events hand over. Events fire with the panel as Sender;
// some fire on streaming threads, so they are plain callbacks, not signals.

#include "platform/com/ComPtr.h"
#include "platform/core/Colour.h"
#include "platform/dshow/base/Types.h"

#include <QChar>
#include <QImage>
#include <QString>
#include <Qt>
#include <array>
#include <cstdint>
#include <functional>

class QObject;

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

  /** @brief Sets Time and the fields split from it: totals, whole minutes, hours to hundredths. */
  void SetTime(int64_t time) {
    Time = time;
    TotalHundredths = time / 100'000;
    TotalSeconds = TotalHundredths / 100;
    Hundredths = int32_t(TotalHundredths % 100);
    TotalMinutes = int32_t(TotalSeconds / 60);
    Seconds = int32_t(TotalSeconds % 60);
    Hours = TotalMinutes / 60;
    Minutes = TotalMinutes % 60;
  }
  /** @brief The DV recording date and time: year, month, day, hour, minute, second. */
  void SetDVDate(const std::array<int32_t, 6>& date) {
    DVYear = date[0];
    DVMonth = date[1];
    DVDay = date[2];
    DVHour = date[3];
    DVMinute = date[4];
    DVSecond = date[5];
  }
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
  QString Text;  // what is being done, where the operation says it
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

/**
 * @brief The component's events, one slot each, Sender first. An event fires only when its slot
 * is set and never while the component is being destroyed. Plain callbacks, not signals: the
 * overlay events fire on the streaming thread, and some hand values back by reference.
 */
struct TFKEvents {
  template <class... A>
  using Event = std::function<void(QObject* sender, A...)>;
  using IUnknownPtr = com::ComPtr<com::IUnknown>;

  Event<int /*TLogType*/, const QString& /*severity*/, const QString& /*message*/> OnLog;
  Event<> OnPreviewStarted, OnPlayerStarted, OnPlayerEndOfStream;
  Event<bool /*startingToBuffer*/> OnPlayerBufferingData;
  Event<bool& /*okToStart*/> OnRecordingReadyToStart;
  Event<const QString& /*fileName*/> OnRecordingStarted, OnCreatePreallocFileStarted;
  Event<const QString& /*fileName*/, bool /*success*/> OnRecordingCompleted, OnCreatePreallocFileCompleted;
  Event<const QString& /*source*/, const QString& /*dest*/> OnCopyPreallocDataStarted, OnReencodingStarted;
  Event<const TProgressInfo&> OnCopyPreallocDataProgress, OnReencodingProgress, OnBitmapsLoadingProgress;
  Event<const QString& /*source*/, const QString& /*dest*/, bool /*success*/> OnCopyPreallocDataCompleted,
      OnReencodingCompleted;
  Event<const TFrameInfo&> OnFrameProgress;
  Event<const TFrameInfo&, ui::Canvas&> OnFrameOverlayUsingDC;
  Event<const TFrameInfo&, const dshow::BITMAPINFOHEADER&, uint8_t* /*bits*/> OnFrameOverlayUsingDIB;
  Event<const TFrameInfo&, TVideoHeader&> OnFrameOverlayUsingVIDEOHDR;
  Event<const TFrameData&, int /*TFrameCaptureDest*/, const QString& /*fileName*/, bool /*success*/>
      OnFrameCaptureCompleted;
  Event<double /*globalMotionRatio*/, TFrameData&, bool& /*captureFrame*/> OnMotionDetected;
  Event<TFrameData&, bool& /*captureFrame*/> OnMotionNotDetected;
  Event<TSampleData&> OnSampleCapture_Audio, OnSampleCapture_Video;
  Event<> OnVideoDeviceSelected, OnAudioDeviceSelected;
  Event<bool /*isArrival*/, bool /*isVideo*/, const QString& /*name*/, int /*index*/> OnDeviceArrivalOrRemoval;
  Event<> OnDeviceLost, OnNoVideoDevices, OnDiskFull, OnReinitializing;
  Event<int /*sourceWidth*/, int /*sourceHeight*/> OnResizeVideo;
  Event<core::TColor> OnColorKeyChange;
  Event<int /*videoWindow*/, QChar& /*key*/, uint16_t /*physicalKey*/, Qt::KeyboardModifiers> OnKeyPress;
  Event<int /*videoWindow*/, Qt::MouseButton, Qt::KeyboardModifiers, int /*x*/, int /*y*/> OnMouseDown, OnMouseUp;
  Event<int /*videoWindow*/, Qt::KeyboardModifiers, int /*x*/, int /*y*/> OnMouseMove;
  Event<int /*newStateValue*/, const QString& /*newStateLabel*/> OnDVCommandCompleted;
  Event<TTVChannelInfo&> OnTVChannelSelected;
  Event<int /*minChannel*/, int /*maxChannel*/> OnTVChannelScanStarted;
  Event<> OnTVChannelScanCompleted, OnBacktimedFramesCountReached;
  Event<int /*TThirdPartyFilterList*/, int /*index*/, IUnknownPtr /*interface*/> OnThirdPartyFilterConnected;
  Event<bool, bool, bool, bool /*can: key frame rate, P frames, quality, window size*/, int /*defaultFrameRate*/,
        int /*defaultPFramesPerKey*/, double /*defaultQuality*/>
      OnVideoCompressionSettings;
  Event<const QString& /*hostUrl*/, const QString& /*hostName*/, uint16_t /*hostPort*/> OnDirectNetworkStreamingHostUrl;
};

}  // namespace kestrom::engine
