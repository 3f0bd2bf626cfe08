// The raw capture file writer: writes the bytes of every sample it receives, in order, into the
// file named through IFileSinkFilter. The file is created (emptied) when the writer leaves the
// stopped state and closed when it stops; a failed write posts EC_ERRORABORT.
#include "capture/filters/ModuleFilters.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/BaseFilter.h"
#include "platform/dshow/base/Codes.h"

#include <QFile>
#include <QString>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <new>
#include <unistd.h>

namespace kestrom::filters {

using namespace dshow;
using com::E_FAIL;
using com::E_OUTOFMEMORY;
using com::E_POINTER;
using com::FAILED;
using com::S_OK;

class CRawFileWriter final : public CBaseFilter, public IFileSinkFilter, public IAMFilterMiscFlags {
 public:
  explicit CRawFileWriter(IUnknown* outer)
      : CBaseFilter("RwCapFilter", outer, &filterLock_, CLSID_TfcRawWriter), module_(TfcatchModule()) {
    pin_ = std::make_unique<InputPin>(this, &filterLock_);
  }
  ~CRawFileWriter() override { CloseFile(); }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IFileSinkFilter) return com::GetInterface(static_cast<IFileSinkFilter*>(this), object);
    if (iid == IID_IAMFilterMiscFlags) return com::GetInterface(static_cast<IAMFilterMiscFlags*>(this), object);
    return CBaseFilter::NonDelegatingQueryInterface(iid, object);
  }

  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? pin_.get() : nullptr; }
  ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

  HRESULT Pause() override {
    std::lock_guard lock(filterLock_);
    if (state_ == State_Stopped) {
      const HRESULT hr = OpenFile();
      if (FAILED(hr)) return hr;
    }
    return CBaseFilter::Pause();
  }
  HRESULT Stop() override {
    std::lock_guard lock(filterLock_);
    const HRESULT hr = CBaseFilter::Stop();
    CloseFile();
    return hr;
  }

  HRESULT SetFileName(LPCWSTR file, const AM_MEDIA_TYPE*) override {
    if (!file) return E_POINTER;
    const QString name = QString::fromUtf16(file);
    if (name.isEmpty()) return com::E_INVALIDARG;
    std::lock_guard lock(fileLock_);
    name_ = name;  // used by the next file
    return S_OK;
  }
  HRESULT GetCurFile(LPWSTR* file, AM_MEDIA_TYPE* type) override {
    if (!file) return E_POINTER;
    std::lock_guard lock(fileLock_);
    *file = nullptr;
    if (type) {
      *type = AM_MEDIA_TYPE{};
      type->majortype = MEDIATYPE_Stream;
      type->formattype = FORMAT_None;
    }
    if (name_.isEmpty()) return S_OK;
    const size_t bytes = size_t(name_.size() + 1) * sizeof(WCHAR);
    *file = static_cast<LPWSTR>(com::CoTaskMemAlloc(bytes));
    if (!*file) return E_OUTOFMEMORY;
    std::memcpy(*file, name_.utf16(), bytes);
    return S_OK;
  }

  HRESULT Write(IMediaSample* sample) {
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data))) return E_FAIL;
    const LONG length = sample->GetActualDataLength();
    std::lock_guard lock(fileLock_);
    if (fd_ < 0) return E_FAIL;
    for (LONG done = 0; done < length;) {
      const ssize_t n = ::write(fd_, data + done, static_cast<size_t>(length - done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (!errorPosted_) NotifyEvent(EC_ERRORABORT, E_FAIL, 0);
        errorPosted_ = true;
        return E_FAIL;
      }
      done += static_cast<LONG>(n);
    }
    return S_OK;
  }

 private:
  class InputPin final : public CBaseInputPin {
   public:
    InputPin(CRawFileWriter* writer, std::recursive_mutex* lock)
        : CBaseInputPin("raw writer input", writer, lock, nullptr, u"in"), writer_(writer) {}
    HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
    HRESULT Receive(IMediaSample* sample) override {
      const HRESULT hr = CBaseInputPin::Receive(sample);
      return hr != S_OK ? hr : writer_->Write(sample);
    }
    HRESULT EndOfStream() override {
      const HRESULT hr = CheckStreaming();
      if (hr != S_OK) return hr;
      writer_->NotifyEvent(EC_COMPLETE, S_OK, 0);
      return S_OK;
    }

   private:
    CRawFileWriter* writer_;
  };

  HRESULT OpenFile() {
    std::lock_guard lock(fileLock_);
    if (name_.isEmpty()) return E_FAIL;
    const QByteArray path = QFile::encodeName(name_);
    fd_ = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    errorPosted_ = false;
    return fd_ < 0 ? E_FAIL : S_OK;
  }
  void CloseFile() {
    std::lock_guard lock(fileLock_);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  std::recursive_mutex filterLock_;
  com::ModuleObject module_;
  std::mutex fileLock_;
  std::unique_ptr<InputPin> pin_;
  QString name_;
  int fd_ = -1;
  bool errorPosted_ = false;
};

com::CUnknown* NewRawWriter(IUnknown* outer, HRESULT* hr) {
  auto* writer = new (std::nothrow) CRawFileWriter(outer);
  if (!writer && hr) *hr = E_OUTOFMEMORY;
  return writer;
}

}  // namespace kestrom::filters
