#pragma once
// Streaming filters for graph tests, built on the source and renderer bases: a pattern source
// whose frames carry their numbers (optionally live, seekable, or stuck waiting for a device),
// a renderer that records which frames it rendered and showed, and one that keeps every
// sample it gets (so its upstream allocator runs dry).

#include "platform/com/ComPtr.h"
#include "platform/dshow/base/Renderer.h"
#include "platform/dshow/base/SourceFilter.h"
#include "platform/dshow/base/StreamControl.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

namespace kestrom::dshow::test {

inline constexpr REFERENCE_TIME kFrameDuration = 400000;  // 25 frames a second
inline constexpr int kPatternWidth = 32;
inline constexpr int kPatternHeight = 16;

/** @brief The frame number a pattern sample carries in its first four bytes. */
int FrameNumberOf(IMediaSample* sample);

struct PatternOptions {
  int frames = 100;        // then end of stream
  bool live = false;       // delivers only while running
  bool waitForDevice = false;  // FillBuffer blocks until Interrupt (a device with no frame)
  int buffers = 2;
  bool streamControl = true;  // the pin answers IAMStreamControl
  bool frameTimeFormat = true;  // seeking offers TIME_FORMAT_FRAME (a source that cannot count frames does not)
};

/** @brief A pattern source that also "opens files" (any existing file), for RenderFile. */
inline constexpr CLSID CLSID_TestFileSource = com::MakeGuid("{5E0C8E61-7C0B-4F2A-9E49-3F0D2C6B1A10}");

class CPatternSource final : public CSource, public IFileSourceFilter {
 public:
  explicit CPatternSource(const PatternOptions& options);
  ~CPatternSource() override;
  /** @brief The class of CLSID_TestFileSource. */
  static com::CUnknown* CreateFileSource(IUnknown* outer, HRESULT* hr);
  /** @brief The same file source whose seeking knows media time only. */
  static com::CUnknown* CreateFileSourceWithoutFrameTimes(IUnknown* outer, HRESULT* hr);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;
  HRESULT Load(LPCWSTR file, const AM_MEDIA_TYPE* type) override;
  HRESULT GetCurFile(LPWSTR* file, AM_MEDIA_TYPE* type) override;

  IPin* Output();
  /** @brief How many times FillBuffer was entered (for waits in tests). */
  int FillCalls();
  /** @brief True once FillBuffer waits for the device. */
  bool WaitingForDevice();

 private:
  class Pin;
  Pin* pin_;
  bool fileSource_ = false;
  std::u16string file_;
};

/** @brief Waits (bounded) until predicate holds; true when it did. */
bool WaitFor(const std::function<bool()>& predicate, int timeoutMs = 5000);

class CRecordingRenderer final : public CBaseRenderer {
 public:
  explicit CRecordingRenderer(bool offersClock = false);

  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;
  HRESULT CheckMediaType(const CMediaType* type) override;
  HRESULT DoRenderSample(IMediaSample* sample) override;
  void OnReceiveFirstSample(IMediaSample* sample) override;
  bool CanFrameStep() const override { return true; }

  std::vector<int> Rendered();
  std::vector<int> Shown();
  IPin* Input() { return InputPin(); }

 private:
  class Clock;
  std::mutex mutex_;
  std::vector<int> rendered_;
  std::vector<int> shown_;
  bool offersClock_;
  com::ComPtr<IReferenceClock> clock_;
};

/** @brief A renderer that renders as samples come (no clock) and blocks in each until the gate opens. */
class CGateRenderer final : public CBaseRenderer {
 public:
  CGateRenderer();
  HRESULT CheckMediaType(const CMediaType*) override { return com::S_OK; }
  HRESULT DoRenderSample(IMediaSample* sample) override;
  bool ScheduleSamples() const override { return false; }
  void Open();
  int Entered();
  /** @brief How many samples arrived without times. */
  int Untimed();
  /** @brief Samples whose contents changed while this renderer still had them. */
  int ChangedWhileRendered();
  IPin* Input() { return InputPin(); }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  int changed_ = 0;
  bool open_ = false;
  int entered_ = 0;
  int untimed_ = 0;
};

class CHoardingRenderer final : public CBaseRenderer {
 public:
  CHoardingRenderer();
  ~CHoardingRenderer() override;
  HRESULT CheckMediaType(const CMediaType* type) override;
  HRESULT DoRenderSample(IMediaSample* sample) override;
  bool ScheduleSamples() const override { return false; }
  /** @brief The samples stay kept through Stop, as a program holding a frame would keep them. */
  void ReleaseKept();
  int Kept();
  IPin* Input() { return InputPin(); }

 private:
  std::mutex mutex_;
  std::vector<IMediaSample*> kept_;
};

/** @brief Makes a CUnknown-derived object held by one reference. */
template <typename T, typename... Args>
com::ComPtr<T> Make(Args&&... args) {
  T* object = new T(std::forward<Args>(args)...);
  object->NonDelegatingAddRef();
  return com::ComPtr<T>::Attach(object);
}

}  // namespace kestrom::dshow::test
