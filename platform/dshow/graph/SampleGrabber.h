#pragma once
// The sample grabber: passes every sample on unchanged and lets the program see it on the
// streaming thread (SampleCB with the sample, or BufferCB with a copy of its bytes), keep a
// copy of the last one (SetBufferSamples), or take a single one (SetOneShot: the stream ends
// after it). Its input accepts only types that match the partial type the program set.

#include "platform/com/ComPtr.h"
#include "platform/dshow/base/BaseFilter.h"
#include "platform/dshow/graph/PassThroughPins.h"

#include <memory>
#include <mutex>
#include <vector>

namespace kestrom::dshow::graph {

class CSampleGrabber final : public CBaseFilter, public ISampleGrabber {
 public:
  explicit CSampleGrabber(IUnknown* outer);
  ~CSampleGrabber() override;
  static com::CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

  int GetPinCount() override { return 2; }
  CBasePin* GetPin(int n) override;

  HRESULT Stop() override;
  HRESULT Pause() override;

  // ISampleGrabber
  HRESULT SetOneShot(BOOL oneShot) override;
  HRESULT SetMediaType(const AM_MEDIA_TYPE* type) override;
  HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* type) override;
  HRESULT SetBufferSamples(BOOL buffer) override;
  HRESULT GetCurrentBuffer(LONG* size, LONG* buffer) override;
  HRESULT GetCurrentSample(IMediaSample** sample) override;
  HRESULT SetCallback(ISampleGrabberCB* callback, LONG which) override;

 private:
  class InputPin;
  friend class InputPin;
  HRESULT CheckInput(const CMediaType* type);
  HRESULT Receive(IMediaSample* sample);
  HRESULT EndOfStream();
  void DropBuffer();

  std::recursive_mutex filterLock_;
  std::unique_ptr<InputPin> input_;
  std::unique_ptr<CPassThroughOutputPin> output_;

  std::mutex grabLock_;  // the settings the streaming thread reads, and the buffered copy
  CMediaType wanted_;
  bool oneShot_ = false;
  bool oneShotDone_ = false;
  bool bufferSamples_ = false;
  std::vector<BYTE> buffer_;
  bool haveBuffer_ = false;
  // What GetCurrentSample gives back besides the bytes.
  struct BufferedProperties {
    HRESULT timed = com::VFW_E_SAMPLE_TIME_NOT_SET;  // what GetTime answered
    REFERENCE_TIME start = 0, stop = 0;
    bool sync = false, preroll = false, discontinuity = false;
  } buffered_;
  com::ComPtr<ISampleGrabberCB> callback_;
  LONG callbackKind_ = SAMPLEGRABBER_CB_SAMPLE;
};

}  // namespace kestrom::dshow::graph
