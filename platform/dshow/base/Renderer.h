#pragma once
// Renderers: a filter with one input pin that shows (or consumes) samples. Running with a
// reference clock, each sample waits for its time; without a clock it is rendered as it
// arrives. Paused, the renderer keeps the first sample it gets (the paused frame) and blocks
// the stream until it runs, steps, flushes or stops. At end of stream it posts EC_COMPLETE
// once running. A frame step shows the next frames while paused and posts EC_STEP_COMPLETE.

#include "platform/dshow/base/BaseFilter.h"
#include "platform/dshow/base/Seeking.h"

#include <condition_variable>
#include <memory>

namespace kestrom::dshow {

class CBaseRenderer;

class CRendererInputPin : public CBaseInputPin {
 public:
  CRendererInputPin(CBaseRenderer* renderer, HRESULT* hr, LPCWSTR name);

  HRESULT CheckMediaType(const CMediaType* type) override;
  HRESULT SetMediaType(const CMediaType* type) override;
  HRESULT BreakConnect() override;
  HRESULT CompleteConnect(IPin* receivePin) override;
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  REFERENCE_TIME SegmentStart() const { return segmentStart_; }

 private:
  CBaseRenderer* renderer_;
};

class CBaseRenderer : public CBaseFilter, public IAMFilterMiscFlags, public IVideoFrameStep {
 public:
  CBaseRenderer(const char* objectName, IUnknown* outer, REFCLSID clsid, LPCWSTR pinName = u"In");
  ~CBaseRenderer() override;

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

  // What the derived renderer decides.
  virtual HRESULT CheckMediaType(const CMediaType* type) = 0;
  /** @brief Renders one sample at its time (streaming thread). */
  virtual HRESULT DoRenderSample(IMediaSample* sample) = 0;
  /** @brief A sample became the paused frame (or a stepped frame): show it if the renderer shows anything. */
  virtual void OnReceiveFirstSample(IMediaSample*) {}
  virtual HRESULT SetMediaType(const CMediaType*) { return com::S_OK; }
  virtual HRESULT BreakConnect() { return com::S_OK; }
  virtual HRESULT CompleteConnect(IPin*) { return com::S_OK; }
  virtual void OnStartStreaming() {}
  virtual void OnStopStreaming() {}
  /** @brief A renderer that does not wait for sample times (e.g. one driven by its device) answers false. */
  virtual bool ScheduleSamples() const { return true; }

  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override;
  CRendererInputPin* InputPin() { return input_.get(); }

  HRESULT Stop() override;
  HRESULT Pause() override;
  HRESULT Run(REFERENCE_TIME start) override;
  /** @brief VFW_S_STATE_INTERMEDIATE while paused and no frame has arrived yet. */
  HRESULT GetState(DWORD timeoutMs, FILTER_STATE* state) override;

  ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

  /** @brief A renderer that shows video answers true: the graph steps frames through it. */
  virtual bool CanFrameStep() const { return false; }
  /** @brief Frame stepping (paused): shows the next frames; EC_STEP_COMPLETE after the last, which is held. */
  HRESULT Step(DWORD frames, IUnknown* stepObject) override;
  HRESULT CanStep(LONG multiple, IUnknown* stepObject) override;
  HRESULT CancelStep() override;
  /** @brief True while a held (paused) frame is kept. */
  bool HoldsSample();

  // Called by the input pin.
  HRESULT Receive(IMediaSample* sample);
  HRESULT EndOfStream();
  HRESULT BeginFlush();
  HRESULT EndFlush();

 protected:
  std::recursive_mutex filterLock_;
  std::unique_ptr<CRendererInputPin> input_;
  std::unique_ptr<CPosPassThru> seeking_;

 private:
  void ReleaseHeldLocked();
  bool MustLeaveLocked() const;
  /** @brief True when EC_COMPLETE is due now (sent by the caller once the render lock is free). */
  bool CompleteDueLocked();
  void SendComplete();

  std::mutex renderLock_;
  std::condition_variable changed_;
  IMediaSample* held_ = nullptr;  // referenced
  bool ready_ = false;            // a paused frame (or end of stream) has arrived
  bool eos_ = false;
  bool completeSent_ = false;
  bool flushing_ = false;
  DWORD stepLeft_ = 0;
  bool stepping_ = false;
};

}  // namespace kestrom::dshow
