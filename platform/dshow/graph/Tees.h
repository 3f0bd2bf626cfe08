#pragma once
// Tees. The Smart Tee splits a capture stream into a capture output, which gets every sample
// as it is (and obeys stream control), and a preview output, which gets untimed copies on its
// own thread and drops a frame rather than hold up the capture stream. The Infinite Pin Tee
// hands each sample to every connected output and always keeps one output free.

#include "platform/dshow/base/BaseFilter.h"
#include "platform/dshow/base/SourceFilter.h"
#include "platform/dshow/base/StreamControl.h"
#include "platform/dshow/graph/PassThroughPins.h"

#include <condition_variable>
#include <memory>
#include <thread>
#include <vector>

namespace kestrom::dshow::graph {

class CSmartTee final : public CBaseFilter {
 public:
  explicit CSmartTee(IUnknown* outer);
  ~CSmartTee() override;
  static com::CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

  int GetPinCount() override { return 3; }
  CBasePin* GetPin(int n) override;

  HRESULT Stop() override;
  HRESULT Pause() override;

  /** @brief Preview frames dropped because the preview was still busy (for tests and logs). */
  long DroppedPreviewFrames() const { return dropped_.load(); }

 private:
  class InputPin;
  class CapturePin;
  class PreviewPin;
  friend class InputPin;
  HRESULT Receive(IMediaSample* sample);

  std::recursive_mutex filterLock_;
  std::unique_ptr<InputPin> input_;
  std::unique_ptr<CapturePin> capture_;
  std::unique_ptr<PreviewPin> preview_;
  std::atomic<long> dropped_{0};
};

class CInfTee final : public CBaseFilter {
 public:
  explicit CInfTee(IUnknown* outer);
  ~CInfTee() override;
  static com::CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

  int GetPinCount() override;
  CBasePin* GetPin(int n) override;

 private:
  class InputPin;
  class OutputPin;
  friend class InputPin;
  friend class OutputPin;
  void OutputConnectionChanged();
  std::vector<CBaseOutputPin*> ConnectedOutputs();

  std::recursive_mutex filterLock_;
  std::unique_ptr<InputPin> input_;
  std::vector<std::unique_ptr<OutputPin>> outputs_;  // never shrinks while the filter lives
  int nextNumber_ = 1;
};

}  // namespace kestrom::dshow::graph
