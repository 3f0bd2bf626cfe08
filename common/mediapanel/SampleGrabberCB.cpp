#include "common/mediapanel/SampleGrabberCB.h"

#include "platform/dshow/base/Guids.h"

#include <QCoreApplication>
#include <cstring>
#include <cstdlib>
#include <new>

namespace kestrom::mediapanel {

using namespace com;
using namespace dshow;

int64_t DibImageSize(const BITMAPINFOHEADER& header) {
  if (header.biWidth <= 0 || header.biHeight == 0 || (header.biBitCount != 24 && header.biBitCount != 32))
    return 0;
  return int64_t(RgbStride(header.biWidth, header.biBitCount)) * std::abs(int64_t(header.biHeight));
}

QImage DibRows(const BITMAPINFOHEADER& header, const uint8_t* bits, int64_t size, bool* bottomUp) {
  const int64_t needed = DibImageSize(header);
  if (needed == 0 || !bits || size < needed) return {};
  // A positive height stores the bottom row first.
  *bottomUp = header.biHeight > 0;
  const int height = int(std::abs(int64_t(header.biHeight)));
  return QImage(bits, header.biWidth, height, RgbStride(header.biWidth, header.biBitCount),
                header.biBitCount == 24 ? QImage::Format_BGR888 : QImage::Format_RGB32);
}

QImage ImageFromDib(const BITMAPINFOHEADER& header, const uint8_t* bits, int64_t size) {
  bool bottomUp = false;
  const QImage view = DibRows(header, bits, size, &bottomUp);
  return bottomUp ? view.mirrored() : view.copy();
}

ComPtr<TSampleGrabberCB> TSampleGrabberCB::Create() {
  return ComPtr<TSampleGrabberCB>::Attach(new TSampleGrabberCB());
}

HRESULT TSampleGrabberCB::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_ISampleGrabberCB) {
    *object = static_cast<ISampleGrabberCB*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG TSampleGrabberCB::AddRef() { return references_.fetch_add(1, std::memory_order_relaxed) + 1; }

ULONG TSampleGrabberCB::Release() {
  const ULONG left = references_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) delete this;
  return left;
}

HRESULT TSampleGrabberCB::SampleCB(double, IMediaSample*) { return S_OK; }

HRESULT TSampleGrabberCB::BufferCB(double sampleTime, BYTE* buffer, LONG length) {
  // One frame at a time: the flag stays set until the panel has handled the frame it posted.
  if (busy_.exchange(true, std::memory_order_acq_rel)) return S_OK;

  std::unique_lock lock(lock_);
  if (formatKind_ == 0 || !requested_ || !window_) {
    lock.unlock();
    busy_.store(false, std::memory_order_release);
    return S_OK;
  }
  // Burst mode takes every burst-interval-th frame.
  if (burstMode_ && intervalCounter_ - 1 > 0) {
    --intervalCounter_;
    lock.unlock();
    busy_.store(false, std::memory_order_release);
    return S_OK;
  }

  // Copy the rows the header describes, when the buffer holds them; a frame that cannot be copied
  // uses up nothing of the request, so the next one is taken.
  const BITMAPINFOHEADER* header = GetBitmapInfoHeader(mediaType_);
  const int64_t size = header ? DibImageSize(*header) : 0;
  bool copied = false;
  if (buffer && size > 0 && length >= size) {
    try {
      frame_.header = *header;
      frame_.header.biSizeImage = DWORD(size);
      frame_.bits.assign(buffer, buffer + size);
      copied = true;
    } catch (const std::bad_alloc&) {
      frame_.bits.clear();
    }
  }
  if (!copied) {
    lock.unlock();
    busy_.store(false, std::memory_order_release);
    return S_OK;
  }

  // A single frame is the last one too, so a pause asked for after it happens.
  --remaining_;
  if (burstMode_) intervalCounter_ = burstInterval_;
  else requested_ = false;
  int lParam = 1;
  if ((!burstMode_ || burstCount_ > 0) && remaining_ <= 0) {
    requested_ = false;
    if (pauseAfterLast_) {
      pauseAfterLast_ = false;
      lParam = 0;
    }
  }
  havePending_ = true;
  sampleTime_ = sampleTime;
  // Posted under the lock: the panel clears the window under it before it goes, and Qt drops
  // the events still queued for an object that is destroyed.
  QCoreApplication::postEvent(window_, new FrameGrabbedEvent(1, lParam));
  return S_OK;
}

void TSampleGrabberCB::SetWindow(QObject* window) {
  std::lock_guard lock(lock_);
  window_ = window;
}

void TSampleGrabberCB::SetBurst(bool burstMode, int burstCount, int burstInterval) {
  std::lock_guard lock(lock_);
  burstMode_ = burstMode;
  if (burstCount >= 0) burstCount_ = burstCount;
  if (burstInterval >= 1) burstInterval_ = burstInterval;
}

void TSampleGrabberCB::SetMediaType(const AM_MEDIA_TYPE* type) {
  std::lock_guard lock(lock_);
  mediaType_ = type ? CMediaType(*type) : CMediaType();
  formatKind_ = 0;
  if (type && type->majortype == MEDIATYPE_Video && GetBitmapInfoHeader(mediaType_)) {
    if (type->formattype == FORMAT_VideoInfo) formatKind_ = 1;
    else if (type->formattype == FORMAT_VideoInfo2) formatKind_ = 2;
  }
}

int TSampleGrabberCB::FormatKind() const {
  std::lock_guard lock(lock_);
  return formatKind_;
}

void TSampleGrabberCB::OpenRequest(bool pauseAfterLast) {
  std::lock_guard lock(lock_);
  requested_ = true;
  remaining_ = burstMode_ ? burstCount_ : 1;
  intervalCounter_ = 0;
  pauseAfterLast_ = pauseAfterLast;
}

void TSampleGrabberCB::CancelRequest() {
  std::lock_guard lock(lock_);
  requested_ = false;
  remaining_ = 0;
}

bool TSampleGrabberCB::Requested() const {
  std::lock_guard lock(lock_);
  return requested_;
}

const GrabbedFrame* TSampleGrabberCB::PendingFrame() const {
  return busy_.load(std::memory_order_acquire) && havePending_ ? &frame_ : nullptr;
}

void TSampleGrabberCB::ReleaseFrame() {
  if (!busy_.load(std::memory_order_acquire)) return;
  havePending_ = false;
  busy_.store(false, std::memory_order_release);
}

}  // namespace kestrom::mediapanel
