#include "platform/dshow/base/PersistStream.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace kestrom::dshow {

using namespace com;

namespace {

class CMemoryStream final : public CUnknown, public IStream {
 public:
  CMemoryStream() : CUnknown("memory stream", nullptr), bytes_(std::make_shared<std::vector<BYTE>>()) {}
  CMemoryStream(std::shared_ptr<std::vector<BYTE>> bytes, size_t position)
      : CUnknown("memory stream", nullptr), bytes_(std::move(bytes)), position_(position) {}

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IStream || iid == IID_ISequentialStream) return GetInterface(static_cast<IStream*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
  }

  HRESULT Read(void* data, ULONG count, ULONG* read) override {
    if (!data && count) return E_POINTER;
    std::lock_guard lock(mutex_);
    const size_t left = position_ < bytes_->size() ? bytes_->size() - position_ : 0;
    const size_t n = std::min<size_t>(count, left);
    if (n) std::memcpy(data, bytes_->data() + position_, n);
    position_ += n;
    if (read) *read = static_cast<ULONG>(n);
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Write(const void* data, ULONG count, ULONG* written) override {
    if (!data && count) return E_POINTER;
    std::lock_guard lock(mutex_);
    try {
      if (position_ + count > bytes_->size()) bytes_->resize(position_ + count);
    } catch (const std::bad_alloc&) {
      if (written) *written = 0;
      return E_OUTOFMEMORY;
    }
    if (count) std::memcpy(bytes_->data() + position_, data, count);
    position_ += count;
    if (written) *written = count;
    return S_OK;
  }
  HRESULT Seek(LONGLONG move, DWORD origin, ULONGLONG* newPosition) override {
    std::lock_guard lock(mutex_);
    LONGLONG base = 0;
    switch (origin) {
      case STREAM_SEEK_SET: base = 0; break;
      case STREAM_SEEK_CUR: base = static_cast<LONGLONG>(position_); break;
      case STREAM_SEEK_END: base = static_cast<LONGLONG>(bytes_->size()); break;
      default: return STG_E_INVALIDFUNCTION;
    }
    if (move < 0 && -move > base) return STG_E_INVALIDFUNCTION;  // before the start
    position_ = static_cast<size_t>(base + move);
    if (newPosition) *newPosition = position_;
    return S_OK;
  }
  HRESULT SetSize(ULONGLONG size) override {
    std::lock_guard lock(mutex_);
    try {
      bytes_->resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }
  HRESULT Commit(DWORD) override { return S_OK; }
  HRESULT Clone(IStream** clone) override {
    if (!clone) return E_POINTER;
    std::lock_guard lock(mutex_);
    // A clone shares the bytes and has a seek position of its own.
    auto* copy = new (std::nothrow) CMemoryStream(bytes_, position_);
    if (!copy) return E_OUTOFMEMORY;
    copy->NonDelegatingAddRef();
    const HRESULT hr = copy->NonDelegatingQueryInterface(IID_IStream, reinterpret_cast<void**>(clone));
    copy->NonDelegatingRelease();
    return hr;
  }

 private:
  std::mutex mutex_;
  std::shared_ptr<std::vector<BYTE>> bytes_;
  size_t position_ = 0;
};

}  // namespace

HRESULT CreateMemoryStream(IStream** stream) {
  if (!stream) return E_POINTER;
  *stream = nullptr;
  auto* s = new (std::nothrow) CMemoryStream();
  if (!s) return E_OUTOFMEMORY;
  s->NonDelegatingAddRef();
  const HRESULT hr = s->NonDelegatingQueryInterface(IID_IStream, reinterpret_cast<void**>(stream));
  s->NonDelegatingRelease();
  return hr;
}

}  // namespace kestrom::dshow
