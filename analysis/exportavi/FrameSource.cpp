#include "analysis/exportavi/FrameSource.h"

#include "analysis/exportavi/ExportProtocol.h"
#include "platform/core/Bmp.h"

#include <QFileInfo>
#include <cstring>

namespace kestrom::exportavi {

using namespace dshow;
using namespace com;

class CExportFrameSource::Pin final : public CSourceStream {
 public:
  Pin(CExportFrameSource* filter, const QString& folder, int count, int width, int height, REFERENCE_TIME frameTime)
      : CSourceStream("export frame pin", nullptr, filter, u"Output"),
        owner_(filter),
        folder_(folder),
        count_(count),
        width_(width),
        height_(height),
        frameTime_(frameTime),
        type_(MakeRgbVideoType(32, width, height, frameTime)) {}

  HRESULT GetMediaType(int position, CMediaType* type) override {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    *type = type_;
    return S_OK;
  }

  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    request->cBuffers = std::max<LONG>(request->cBuffers, 2);
    request->cbBuffer = std::max<LONG>(request->cbBuffer, static_cast<LONG>(type_.lSampleSize));
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < static_cast<LONG>(type_.lSampleSize) ? E_FAIL : S_OK;
  }

  HRESULT FillBuffer(IMediaSample* sample) override {
    if (next_ >= count_) return S_FALSE;  // every frame delivered: end of stream
    const QString path = ExportFrameFile(folder_, next_ + 1);
    QString error;
    const QImage picture = core::ReadBmpFile(path, &error);
    if (picture.isNull()) return Fail(path + ": " + error);
    if (picture.size() != QSize(width_, height_))
      return Fail(QString("%1 is %2 x %3 pixels, not %4 x %5.")
                      .arg(path).arg(picture.width()).arg(picture.height()).arg(width_).arg(height_));
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || sample->GetSize() < static_cast<LONG>(type_.lSampleSize))
      return Fail("The frame buffer is too small.");
    // RGB32 rows stored bottom-up, as an uncompressed RGB frame with a positive height is.
    const size_t stride = size_t(width_) * 4;
    for (int y = 0; y < height_; ++y)
      std::memcpy(data + size_t(height_ - 1 - y) * stride, picture.constScanLine(y), stride);
    sample->SetActualDataLength(static_cast<LONG>(type_.lSampleSize));
    REFERENCE_TIME start = next_ * frameTime_;
    REFERENCE_TIME stop = start + frameTime_;
    sample->SetTime(&start, &stop);
    sample->SetSyncPoint(1);
    ++next_;
    owner_->delivered_.fetch_add(1);
    return S_OK;
  }

 private:
  HRESULT Fail(const QString& error) {
    owner_->SetError(error);
    return E_FAIL;
  }

  CExportFrameSource* owner_;
  QString folder_;
  int count_, width_, height_;
  REFERENCE_TIME frameTime_;
  CMediaType type_;
  int next_ = 0;  // streaming thread only
};

CExportFrameSource::CExportFrameSource(const QString& folder, int count, int width, int height,
                                       REFERENCE_TIME frameTime)
    : CSource("export frame source", nullptr, GUID_NULL) {
  auto pin = std::make_unique<Pin>(this, folder, count, width, height, frameTime);
  pin_ = pin.get();
  AddPin(std::move(pin));
}

CExportFrameSource::~CExportFrameSource() = default;

IPin* CExportFrameSource::Output() { return pin_; }

QString CExportFrameSource::Error() const {
  std::lock_guard lock(errorMutex_);
  return error_;
}

void CExportFrameSource::SetError(const QString& error) {
  std::lock_guard lock(errorMutex_);
  if (error_.isEmpty()) error_ = error;
}

}  // namespace kestrom::exportavi
