#pragma once
// The sample grabber's callback of the media panel. On the streaming thread it copies the frames a
// capture request asks for and posts the frame event (0x83E8) to the panel; the panel turns the
// pending frame into a picture on the GUI thread and then lets the callback take the next one.

#include "platform/com/ComPtr.h"
#include "platform/dshow/base/ControlInterfaces.h"
#include "platform/dshow/base/MediaType.h"

#include <QEvent>
#include <QImage>
#include <QObject>
#include <atomic>
#include <mutex>
#include <vector>

namespace kestrom::mediapanel {

using com::HRESULT;
using com::ULONG;
using dshow::BYTE;
using dshow::LONG;

/** @brief The frame event: wParam 1 a frame is ready; lParam 0 pause the player after it. */
inline constexpr int WM_FRAMEGRABBED = 0x83E8;

class FrameGrabbedEvent final : public QEvent {
 public:
  FrameGrabbedEvent(int wParam, int lParam) : QEvent(Type()), wParam(wParam), lParam(lParam) {}
  static QEvent::Type Type() { return QEvent::Type(WM_FRAMEGRABBED); }
  const int wParam;
  const int lParam;
};

/** @brief A copied frame: its bitmap header and the rows as the header lays them out. */
struct GrabbedFrame {
  dshow::BITMAPINFOHEADER header{};
  std::vector<uint8_t> bits;
};

/** @brief Bytes of an RGB bitmap's rows (stride x |height|); 0 for a header we cannot copy. */
int64_t DibImageSize(const dshow::BITMAPINFOHEADER& header);

/**
 * @brief A view over the rows of a 24- or 32-bit bitmap, in the order they are stored (no copy:
 * valid while bits are); *bottomUp tells whether the bottom row comes first. Null as for
 * ImageFromDib.
 */
QImage DibRows(const dshow::BITMAPINFOHEADER& header, const uint8_t* bits, int64_t size, bool* bottomUp);

/**
 * @brief The picture of a 24- or 32-bit bitmap, top row first, whichever way its rows are stored;
 * null when the header is not such a bitmap or size bytes do not hold its rows.
 */
QImage ImageFromDib(const dshow::BITMAPINFOHEADER& header, const uint8_t* bits, int64_t size);

class TSampleGrabberCB final : public dshow::ISampleGrabberCB {
 public:
  TSampleGrabberCB() = default;
  TSampleGrabberCB(const TSampleGrabberCB&) = delete;
  TSampleGrabberCB& operator=(const TSampleGrabberCB&) = delete;

  /** @brief A new callback holding one reference for its creator. */
  static com::ComPtr<TSampleGrabberCB> Create();

  // IUnknown: counted for real, the grabber holds a reference while it calls us.
  HRESULT QueryInterface(com::REFIID iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT SampleCB(double sampleTime, dshow::IMediaSample* sample) override;
  HRESULT BufferCB(double sampleTime, BYTE* buffer, LONG length) override;

  /** @brief The object that receives the frame event; null stops all posting. */
  void SetWindow(QObject* window);
  /** @brief Burst settings: the count (0 or more) and the interval (values below 1 ignored). */
  void SetBurst(bool burstMode, int burstCount, int burstInterval);
  /** @brief The grabber's connected type; the format kind follows from it (0 none, 1, 2). */
  void SetMediaType(const dshow::AM_MEDIA_TYPE* type);
  int FormatKind() const;

  /** @brief Opens a request: frames = burst count in burst mode (0: until stopped), else one. */
  void OpenRequest(bool pauseAfterLast);
  /** @brief Closes the request and drops the remaining frames. */
  void CancelRequest();
  bool Requested() const;

  /** @brief On the GUI thread while a frame event is being handled: the pending frame. */
  const GrabbedFrame* PendingFrame() const;
  double PendingSampleTime() const { return sampleTime_; }
  /** @brief Drops the pending frame and clears the busy flag (the next frame may come). */
  void ReleaseFrame();

 private:
  ~TSampleGrabberCB() = default;

  std::atomic<ULONG> references_{1};
  std::atomic<bool> busy_{false};
  // Read by the streaming thread only while it holds busy_; the GUI thread only while the frame
  // event is pending (busy_ still set).
  GrabbedFrame frame_;
  bool havePending_ = false;
  double sampleTime_ = 0;

  mutable std::mutex lock_;  // the window, the burst settings, the request, the media type
  QObject* window_ = nullptr;
  bool burstMode_ = false;
  int burstCount_ = 1;
  int burstInterval_ = 1;
  bool requested_ = false;
  int remaining_ = 0;
  int intervalCounter_ = 0;
  bool pauseAfterLast_ = false;
  int formatKind_ = 0;
  dshow::CMediaType mediaType_;
};

}  // namespace kestrom::mediapanel
