#pragma once
// The file writer: the end of a recording graph. It writes the byte stream of a multiplexer at the
// positions the multiplexer gives (through IFileWriterStream, or samples whose times are byte
// positions) into the file named through IFileSinkFilter.
//
// An existing file is written into, not truncated, unless the mode says AM_FILE_OVERWRITE: a
// preallocated capture file keeps its allocation. When the written RIFF data ends before the end
// of such a file, a JUNK chunk covers the rest, so readers stop at the real end. The file is
// opened when the writer leaves the stopped state (or a multiplexer's session starts) and closed
// once both the writer is stopped and the session has ended; a name set in between applies to the
// next file. A failed write posts EC_ERRORABORT to the graph.

#include "platform/dshow/base/BaseFilter.h"
#include "platform/dshow/writers/WriterInterfaces.h"

#include <QString>
#include <memory>
#include <mutex>

namespace kestrom::dshow {

class CFileWriter final : public CBaseFilter, public IFileSinkFilter2, public IAMFilterMiscFlags {
 public:
  explicit CFileWriter(IUnknown* outer);
  ~CFileWriter() override;
  static com::CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override;

  HRESULT Stop() override;
  HRESULT Pause() override;

  /** @brief The end of a recording graph: the graph waits for its EC_COMPLETE. */
  ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

  // IFileSinkFilter2
  HRESULT SetFileName(LPCWSTR fileName, const AM_MEDIA_TYPE* type) override;
  HRESULT GetCurFile(LPWSTR* fileName, AM_MEDIA_TYPE* type) override;
  HRESULT SetMode(DWORD flags) override;
  HRESULT GetMode(DWORD* flags) override;

  // What the input pin calls.
  HRESULT BeginSession();
  HRESULT EndSession();
  HRESULT WriteAt(LONGLONG position, const BYTE* data, LONG length);
  HRESULT ReadAt(LONGLONG position, BYTE* data, LONG length, LONG* read);
  HRESULT GetSize(LONGLONG* size);
  HRESULT SetSize(LONGLONG size);
  HRESULT AppendSample(IMediaSample* sample);
  void StreamEnded();

 private:
  class InputPin;

  HRESULT OpenLocked();
  HRESULT CloseLocked();
  void CloseIfIdleLocked();
  void Notify(LONG code, LONG_PTR param1, LONG_PTR param2);

  std::recursive_mutex filterLock_;
  std::mutex fileLock_;
  std::unique_ptr<InputPin> pin_;
  QString fileName_;
  DWORD mode_ = 0;
  int fd_ = -1;
  LONGLONG end_ = 0;
  bool riffWritten_ = false;  // the bytes written at the start of the file begin with "RIFF"
  bool session_ = false;
  bool stopped_ = true;
  bool errorPosted_ = false;
};

/**
 * @brief Makes a file of the given size whose blocks are allocated on disk (a preallocated
 * capture file). An existing file is grown, never shrunk. False with errno set on failure.
 */
bool AllocateFile(const QString& path, int64_t bytes);

}  // namespace kestrom::dshow
