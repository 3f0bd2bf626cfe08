#include "platform/dshow/writers/FileWriter.h"

#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/writers/FfmpegTypes.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrom::dshow {

using namespace com;

namespace {

bool WriteAll(int fd, const BYTE* data, size_t length, off_t position) {
  while (length > 0) {
    const ssize_t n = pwrite(fd, data, length, position);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    data += n;
    length -= size_t(n);
    position += n;
  }
  return true;
}

}  // namespace

class CFileWriter::InputPin final : public CBaseInputPin, public IFileWriterStream {
 public:
  InputPin(CFileWriter* writer, std::recursive_mutex* lock)
      : CBaseInputPin("file writer input", writer, lock, nullptr, u"in"), writer_(writer) {}

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IFileWriterStream) return GetInterface(static_cast<IFileWriterStream*>(this), object);
    return CBaseInputPin::NonDelegatingQueryInterface(iid, object);
  }

  HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
  HRESULT Receive(IMediaSample* sample) override {
    const HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    return writer_->AppendSample(sample);
  }
  HRESULT EndOfStream() override {
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    writer_->StreamEnded();
    return S_OK;
  }

  HRESULT BeginSession() override { return writer_->BeginSession(); }
  HRESULT WriteAt(LONGLONG position, const BYTE* data, LONG length) override {
    return writer_->WriteAt(position, data, length);
  }
  HRESULT EndSession() override { return writer_->EndSession(); }
  HRESULT ReadAt(LONGLONG position, BYTE* data, LONG length, LONG* read) override {
    return writer_->ReadAt(position, data, length, read);
  }
  HRESULT GetSize(LONGLONG* size) override { return writer_->GetSize(size); }
  HRESULT SetSize(LONGLONG size) override { return writer_->SetSize(size); }

 private:
  CFileWriter* writer_;
};

CFileWriter::CFileWriter(IUnknown* outer) : CBaseFilter("file writer", outer, &filterLock_, CLSID_FileWriter) {
  pin_ = std::make_unique<InputPin>(this, &filterLock_);
}

CFileWriter::~CFileWriter() {
  std::lock_guard lock(fileLock_);
  CloseLocked();
}

CUnknown* CFileWriter::CreateInstance(IUnknown* outer, HRESULT* hr) {
  auto* f = new (std::nothrow) CFileWriter(outer);
  if (!f && hr) *hr = E_OUTOFMEMORY;
  return f;
}

HRESULT CFileWriter::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IFileSinkFilter2) return GetInterface(static_cast<IFileSinkFilter2*>(this), object);
  if (iid == IID_IFileSinkFilter) return GetInterface(static_cast<IFileSinkFilter*>(this), object);
  if (iid == IID_IAMFilterMiscFlags) return GetInterface(static_cast<IAMFilterMiscFlags*>(this), object);
  return CBaseFilter::NonDelegatingQueryInterface(iid, object);
}

CBasePin* CFileWriter::GetPin(int n) { return n == 0 ? pin_.get() : nullptr; }

HRESULT CFileWriter::Pause() {
  std::lock_guard lock(filterLock_);
  if (IsStopped()) {
    std::lock_guard file(fileLock_);
    stopped_ = false;
    const HRESULT hr = OpenLocked();
    if (FAILED(hr)) {
      stopped_ = true;
      return hr;
    }
  }
  return CBaseFilter::Pause();
}

HRESULT CFileWriter::Stop() {
  std::lock_guard lock(filterLock_);
  const HRESULT hr = CBaseFilter::Stop();
  std::lock_guard file(fileLock_);
  stopped_ = true;
  CloseIfIdleLocked();
  return hr;
}

HRESULT CFileWriter::SetFileName(LPCWSTR fileName, const AM_MEDIA_TYPE*) {
  if (!fileName) return E_POINTER;
  const QString name = QString::fromUtf16(fileName);
  if (name.isEmpty()) return E_INVALIDARG;
  std::lock_guard file(fileLock_);
  fileName_ = name;  // used when the next file is opened
  return S_OK;
}

HRESULT CFileWriter::GetCurFile(LPWSTR* fileName, AM_MEDIA_TYPE* type) {
  if (!fileName) return E_POINTER;
  std::lock_guard file(fileLock_);
  *fileName = nullptr;
  if (type) {
    *type = AM_MEDIA_TYPE{};
    type->majortype = MEDIATYPE_Stream;
    type->subtype = MEDIASUBTYPE_Avi;
    type->formattype = FORMAT_None;
  }
  if (fileName_.isEmpty()) return S_OK;
  const size_t bytes = size_t(fileName_.size() + 1) * sizeof(WCHAR);
  *fileName = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (!*fileName) return E_OUTOFMEMORY;
  std::memcpy(*fileName, fileName_.utf16(), bytes);
  return S_OK;
}

HRESULT CFileWriter::SetMode(DWORD flags) {
  if (flags & ~AM_FILE_OVERWRITE) return E_INVALIDARG;
  std::lock_guard file(fileLock_);
  mode_ = flags;
  return S_OK;
}

HRESULT CFileWriter::GetMode(DWORD* flags) {
  if (!flags) return E_POINTER;
  *flags = mode_;
  return S_OK;
}

HRESULT CFileWriter::OpenLocked() {
  if (fd_ >= 0) return S_OK;
  if (fileName_.isEmpty()) return E_INVALIDARG;
  // Read and write: a multiplexer reads back what it wrote when it must mend a cut-off file.
  int flags = O_RDWR | O_CREAT | O_CLOEXEC;
  if (mode_ & AM_FILE_OVERWRITE) flags |= O_TRUNC;
  fd_ = open(QFile::encodeName(fileName_).constData(), flags, 0666);
  end_ = 0;
  riffWritten_ = false;
  errorPosted_ = false;
  if (fd_ < 0) {
    const HRESULT hr = HResultFromErrno(errno);
    errorPosted_ = true;
    Notify(EC_ERRORABORT, hr, 0);
    return hr;
  }
  return S_OK;
}

HRESULT CFileWriter::CloseLocked() {
  if (fd_ < 0) return S_OK;
  HRESULT result = S_OK;
  // A file larger than what was written (preallocated, or an older file written into) keeps its
  // size; a JUNK chunk makes AVI readers skip the rest. Whether it is a RIFF file is known from
  // what was written.
  struct stat st {};
  if (!errorPosted_ && riffWritten_ && fstat(fd_, &st) == 0) {
    LONGLONG at = end_ + (end_ & 1);
    const LONGLONG rest = LONGLONG(st.st_size) - at;
    if (rest >= 8) {
      const uint32_t size = uint32_t(std::min<LONGLONG>(rest - 8, 0xFFFFFFF0LL));
      BYTE junk[8] = {'J', 'U', 'N', 'K', BYTE(size), BYTE(size >> 8), BYTE(size >> 16), BYTE(size >> 24)};
      if (!WriteAll(fd_, junk, sizeof junk, off_t(at))) result = HResultFromErrno(errno);
    }
  }
  if (close(fd_) != 0 && SUCCEEDED(result)) result = HResultFromErrno(errno);
  fd_ = -1;
  if (FAILED(result) && !errorPosted_) {
    errorPosted_ = true;
    Notify(EC_ERRORABORT, result, 0);
  }
  return result;
}

void CFileWriter::CloseIfIdleLocked() {
  if (stopped_ && !session_) CloseLocked();
}

HRESULT CFileWriter::BeginSession() {
  std::lock_guard file(fileLock_);
  session_ = true;
  const HRESULT hr = OpenLocked();
  if (FAILED(hr)) session_ = false;
  return hr;
}

HRESULT CFileWriter::EndSession() {
  std::lock_guard file(fileLock_);
  session_ = false;
  CloseIfIdleLocked();
  return S_OK;
}

HRESULT CFileWriter::WriteAt(LONGLONG position, const BYTE* data, LONG length) {
  if (!data && length > 0) return E_POINTER;
  if (position < 0 || length < 0) return E_INVALIDARG;
  std::lock_guard file(fileLock_);
  if (fd_ < 0) return VFW_E_WRONG_STATE;
  if (!WriteAll(fd_, data, size_t(length), off_t(position))) {
    const HRESULT hr = HResultFromErrno(errno);
    if (!errorPosted_) {
      errorPosted_ = true;
      Notify(EC_ERRORABORT, hr, 0);
    }
    return hr;
  }
  end_ = std::max(end_, position + length);
  if (position == 0 && length >= 4) riffWritten_ = std::memcmp(data, "RIFF", 4) == 0;
  return S_OK;
}

HRESULT CFileWriter::ReadAt(LONGLONG position, BYTE* data, LONG length, LONG* read) {
  if (!read || (!data && length > 0)) return E_POINTER;
  if (position < 0 || length < 0) return E_INVALIDARG;
  *read = 0;
  std::lock_guard file(fileLock_);
  if (fd_ < 0) return VFW_E_WRONG_STATE;
  while (*read < length) {
    const ssize_t n = pread(fd_, data + *read, size_t(length - *read), off_t(position + *read));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return HResultFromErrno(errno);
    if (n == 0) break;
    *read += LONG(n);
  }
  return S_OK;
}

HRESULT CFileWriter::GetSize(LONGLONG* size) {
  if (!size) return E_POINTER;
  std::lock_guard file(fileLock_);
  if (fd_ < 0) return VFW_E_WRONG_STATE;
  struct stat st {};
  if (fstat(fd_, &st) != 0) return HResultFromErrno(errno);
  *size = LONGLONG(st.st_size);
  return S_OK;
}

HRESULT CFileWriter::SetSize(LONGLONG size) {
  if (size < 0) return E_INVALIDARG;
  std::lock_guard file(fileLock_);
  if (fd_ < 0) return VFW_E_WRONG_STATE;
  if (ftruncate(fd_, off_t(size)) != 0) return HResultFromErrno(errno);
  end_ = std::min(end_, size);
  return S_OK;
}

HRESULT CFileWriter::AppendSample(IMediaSample* sample) {
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  REFERENCE_TIME start = 0, stop = 0;
  LONGLONG position;
  {
    std::lock_guard file(fileLock_);
    position = end_;
  }
  // Samples of a byte stream carry their file position as their time.
  if (SUCCEEDED(sample->GetTime(&start, &stop))) position = start;
  return WriteAt(position, data, sample->GetActualDataLength());
}

void CFileWriter::StreamEnded() { Notify(EC_COMPLETE, S_OK, 0); }

void CFileWriter::Notify(LONG code, LONG_PTR param1, LONG_PTR param2) {
  IFilterGraph* graph = graph_;
  if (!graph) return;
  ComPtr<IMediaEventSink> sink;
  if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, sink.PutVoid())) && sink) sink->Notify(code, param1, param2);
}

bool AllocateFile(const QString& path, int64_t bytes) {
  if (bytes < 0) {
    errno = EINVAL;
    return false;
  }
  const int fd = open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  int error = posix_fallocate(fd, 0, off_t(bytes));
  // File systems without allocation still get a file of the size.
  if (error == EOPNOTSUPP || error == EINVAL) {
    struct stat st {};
    error = fstat(fd, &st) != 0 ? errno : (st.st_size < bytes && ftruncate(fd, off_t(bytes)) != 0 ? errno : 0);
  }
  if (close(fd) != 0 && error == 0) error = errno;
  errno = error;
  return error == 0;
}

}  // namespace kestrom::dshow
