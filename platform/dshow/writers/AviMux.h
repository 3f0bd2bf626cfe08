#pragma once
// The AVI multiplexer: takes each stream's samples unchanged (stream copy of compressed or raw
// types), interleaves them and writes the AVI through the file writer connected to its output.
// Files grow past 1 GB in the large-file (OpenDML) layout, with its index; the AVI 1.0 index of
// the first part is written as well. A new input pin appears whenever the last free one
// connects. Each run writes a new file: the container starts when the mux leaves the stopped
// state and ends (index written) when every input has ended or the mux is stopped.

#include "platform/dshow/base/BaseFilter.h"
#include "platform/dshow/writers/Muxer.h"
#include "platform/dshow/writers/WriterInterfaces.h"

#include <memory>
#include <mutex>
#include <vector>

namespace kestrom::dshow {

class CAviMux final : public CBaseFilter, public IConfigAviMux, public IConfigInterleaving, public IMediaSeeking {
 public:
  explicit CAviMux(IUnknown* outer);
  ~CAviMux() override;
  static com::CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

  int GetPinCount() override;
  CBasePin* GetPin(int n) override;

  HRESULT Stop() override;
  HRESULT Pause() override;

  // IConfigAviMux
  HRESULT SetMasterStream(LONG stream) override;
  HRESULT GetMasterStream(LONG* stream) override;
  HRESULT SetOutputCompatibilityIndex(BOOL compatible) override;
  HRESULT GetOutputCompatibilityIndex(BOOL* compatible) override;
  // IConfigInterleaving
  HRESULT put_Mode(InterleavingMode mode) override;
  HRESULT get_Mode(InterleavingMode* mode) override;
  HRESULT put_Interleaving(const REFERENCE_TIME* interleave, const REFERENCE_TIME* preroll) override;
  HRESULT get_Interleaving(REFERENCE_TIME* interleave, REFERENCE_TIME* preroll) override;
  // IMediaSeeking: the position is what has been written; the duration is the sources'.
  HRESULT GetCapabilities(DWORD* capabilities) override;
  HRESULT CheckCapabilities(DWORD* capabilities) override;
  HRESULT IsFormatSupported(const GUID* format) override;
  HRESULT QueryPreferredFormat(GUID* format) override;
  HRESULT GetTimeFormat(GUID* format) override;
  HRESULT IsUsingTimeFormat(const GUID* format) override;
  HRESULT SetTimeFormat(const GUID* format) override;
  HRESULT GetDuration(LONGLONG* duration) override;
  HRESULT GetStopPosition(LONGLONG* stop) override;
  HRESULT GetCurrentPosition(LONGLONG* current) override;
  HRESULT ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source, const GUID* sourceFormat) override;
  HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override;
  HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) override;
  HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
  HRESULT SetRate(double rate) override;
  HRESULT GetRate(double* rate) override;
  HRESULT GetPreroll(LONGLONG* preroll) override;

  class InputPin;
  class OutputPin;

  // What the pins call.
  HRESULT ReceiveFrom(InputPin* pin, IMediaSample* sample);
  HRESULT EndOfStreamFrom(InputPin* pin);
  void InputConnected();

 private:
  struct StreamState;

  HRESULT StartFileLocked();
  HRESULT FinishFileLocked();
  void Notify(LONG code, LONG_PTR param1, LONG_PTR param2);

  std::recursive_mutex filterLock_;
  std::mutex muxLock_;  // the container, across the inputs' streaming threads
  std::unique_ptr<OutputPin> output_;
  std::vector<std::unique_ptr<InputPin>> inputs_;

  LONG masterStream_ = -1;
  BOOL compatibilityIndex_ = TRUE;
  InterleavingMode mode_ = INTERLEAVE_CAPTURE;
  REFERENCE_TIME interleave_ = 10000000;  // 1 s
  REFERENCE_TIME preroll_ = 0;

  Muxer muxer_;
  std::unique_ptr<ByteSink> sink_;
  std::vector<StreamState> streams_;
  bool fileOpen_ = false;
  bool errorPosted_ = false;
  REFERENCE_TIME written_ = 0;  // the file's duration so far
  bool originKnown_ = false;
  REFERENCE_TIME origin_ = 0;  // stream time of the first sample written
};

}  // namespace kestrom::dshow
