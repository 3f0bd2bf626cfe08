#include "tests/platform/dshow/support/StreamFilters.h"

#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/ReferenceClock.h"
#include "platform/dshow/base/Seeking.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace kestrom::dshow::test {

using namespace com;

int FrameNumberOf(IMediaSample* sample) {
  BYTE* data = nullptr;
  if (FAILED(sample->GetPointer(&data)) || sample->GetActualDataLength() < 4) return -1;
  int32_t n = 0;
  std::memcpy(&n, data, 4);
  return n;
}

bool WaitFor(const std::function<bool()>& predicate, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!predicate()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

// ---- source ----

class CPatternSource::Pin final : public CSourceStream, public CSourceSeeking, public CBaseStreamControl {
 public:
  Pin(CPatternSource* filter, const PatternOptions& options)
      : CSourceStream("pattern pin", nullptr, filter, u"Capture"),
        CSourceSeeking(options.frames * kFrameDuration, options.frameTimeFormat ? kFrameDuration : 0),
        CBaseStreamControl(filter, this),
        options_(options),
        type_(MakeRgbVideoType(24, kPatternWidth, kPatternHeight, kFrameDuration)) {
    SetCategory(PIN_CATEGORY_CAPTURE);
  }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IMediaSeeking && !options_.live) return GetInterface(static_cast<IMediaSeeking*>(this), object);
    if (iid == IID_IAMStreamControl && options_.streamControl) return GetInterface(static_cast<IAMStreamControl*>(this), object);
    return CSourceStream::NonDelegatingQueryInterface(iid, object);
  }

  HRESULT GetMediaType(int position, CMediaType* type) override {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    *type = type_;
    return S_OK;
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    request->cBuffers = options_.buffers;
    request->cbBuffer = static_cast<LONG>(type_.lSampleSize);
    ALLOCATOR_PROPERTIES actual{};
    return allocator->SetProperties(request, &actual);
  }

  HRESULT OnThreadStartPlay() override {
    std::lock_guard lock(mutex_);
    segmentFirst_ = next_;
    return DeliverNewSegment(segmentFirst_ * kFrameDuration, SeekStop(), Rate());
  }

  HRESULT FillBuffer(IMediaSample* sample) override {
    fillCalls_.fetch_add(1);
    if (options_.waitForDevice) {
      std::unique_lock lock(mutex_);
      waiting_ = true;
      deviceWake_.wait(lock, [&] { return interrupted_ || StopRequested(); });
      interrupted_ = false;
      waiting_ = false;
      return S_FALSE;
    }
    for (;;) {
      int frame;
      {
        std::lock_guard lock(mutex_);
        frame = next_;
        if (frame >= options_.frames || frame * kFrameDuration >= SeekStop()) return S_FALSE;
        ++next_;
      }
      BYTE* data = nullptr;
      sample->GetPointer(&data);
      std::memset(data, frame & 0xFF, static_cast<size_t>(sample->GetSize()));
      const int32_t n = frame;
      std::memcpy(data, &n, 4);
      sample->SetActualDataLength(sample->GetSize());
      REFERENCE_TIME start = (frame - segmentFirst_) * kFrameDuration;
      REFERENCE_TIME stop = start + kFrameDuration;
      sample->SetTime(&start, &stop);
      sample->SetSyncPoint(1);
      SetCurrentPosition(frame * kFrameDuration);
      // The pin's stream control decides which frames leave.
      if (CheckStreamState(sample) == STREAM_FLOWING) return S_OK;
      if (StopRequested()) return S_FALSE;
    }
  }

  void Interrupt() override {
    std::lock_guard lock(mutex_);
    interrupted_ = true;
    deviceWake_.notify_all();
  }

  HRESULT ChangeStart() override {
    const REFERENCE_TIME start = SeekStart();
    return Restart([&] {
      std::lock_guard lock(mutex_);
      next_ = static_cast<int>(start / kFrameDuration);
    });
  }

  bool Waiting() {
    std::lock_guard lock(mutex_);
    return waiting_;
  }

  std::atomic<int> fillCalls_{0};

 private:
  PatternOptions options_;
  CMediaType type_;
  std::mutex mutex_;
  std::condition_variable deviceWake_;
  bool interrupted_ = false;
  bool waiting_ = false;
  int next_ = 0;
  int segmentFirst_ = 0;
};

CPatternSource::CPatternSource(const PatternOptions& options) : CSource("pattern source", nullptr, GUID_NULL) {
  auto pin = std::make_unique<Pin>(this, options);
  pin_ = pin.get();
  AddPin(std::move(pin));
  SetLive(options.live);
}

CPatternSource::~CPatternSource() = default;

CUnknown* CPatternSource::CreateFileSource(IUnknown*, HRESULT*) {
  auto* source = new CPatternSource(PatternOptions{.frames = 10});
  source->fileSource_ = true;
  return source;
}

CUnknown* CPatternSource::CreateFileSourceWithoutFrameTimes(IUnknown*, HRESULT*) {
  auto* source = new CPatternSource(PatternOptions{.frames = 10, .frameTimeFormat = false});
  source->fileSource_ = true;
  return source;
}

HRESULT CPatternSource::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IFileSourceFilter && fileSource_) return GetInterface(static_cast<IFileSourceFilter*>(this), object);
  return CSource::NonDelegatingQueryInterface(iid, object);
}

HRESULT CPatternSource::Load(LPCWSTR file, const AM_MEDIA_TYPE*) {
  if (!file) return E_POINTER;
  file_ = file;
  return S_OK;
}

HRESULT CPatternSource::GetCurFile(LPWSTR* file, AM_MEDIA_TYPE*) {
  if (!file) return E_POINTER;
  const size_t bytes = (file_.size() + 1) * sizeof(char16_t);
  *file = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (!*file) return E_OUTOFMEMORY;
  std::memcpy(*file, file_.c_str(), bytes);
  return S_OK;
}

IPin* CPatternSource::Output() { return pin_; }
int CPatternSource::FillCalls() { return pin_->fillCalls_.load(); }
bool CPatternSource::WaitingForDevice() { return pin_->Waiting(); }

// ---- recording renderer ----

CRecordingRenderer::CRecordingRenderer(bool offersClock)
    : CBaseRenderer("recording renderer", nullptr, GUID_NULL), offersClock_(offersClock) {
  if (offersClock_) clock_ = ComPtr<IReferenceClock>::Attach(CSystemClock::Create());
}

HRESULT CRecordingRenderer::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IReferenceClock && offersClock_) {
    *object = clock_.Get();
    clock_->AddRef();
    return S_OK;
  }
  return CBaseRenderer::NonDelegatingQueryInterface(iid, object);
}

HRESULT CRecordingRenderer::CheckMediaType(const CMediaType* type) {
  return type->majortype == MEDIATYPE_Video ? S_OK : S_FALSE;
}

HRESULT CRecordingRenderer::DoRenderSample(IMediaSample* sample) {
  std::lock_guard lock(mutex_);
  rendered_.push_back(FrameNumberOf(sample));
  return S_OK;
}

void CRecordingRenderer::OnReceiveFirstSample(IMediaSample* sample) {
  std::lock_guard lock(mutex_);
  shown_.push_back(FrameNumberOf(sample));
}

std::vector<int> CRecordingRenderer::Rendered() {
  std::lock_guard lock(mutex_);
  return rendered_;
}

std::vector<int> CRecordingRenderer::Shown() {
  std::lock_guard lock(mutex_);
  return shown_;
}

// ---- gate renderer ----

CGateRenderer::CGateRenderer() : CBaseRenderer("gate renderer", nullptr, GUID_NULL) {}

HRESULT CGateRenderer::DoRenderSample(IMediaSample* sample) {
  REFERENCE_TIME start, stop;
  std::unique_lock lock(mutex_);
  ++entered_;
  if (FAILED(sample->GetTime(&start, &stop))) ++untimed_;
  const int frame = FrameNumberOf(sample);
  opened_.wait(lock, [&] { return open_; });
  // A sample is the renderer's while it renders: nobody may refill it meanwhile.
  if (FrameNumberOf(sample) != frame) ++changed_;
  return S_OK;
}

int CGateRenderer::ChangedWhileRendered() {
  std::lock_guard lock(mutex_);
  return changed_;
}

void CGateRenderer::Open() {
  {
    std::lock_guard lock(mutex_);
    open_ = true;
  }
  opened_.notify_all();
}

int CGateRenderer::Entered() {
  std::lock_guard lock(mutex_);
  return entered_;
}

int CGateRenderer::Untimed() {
  std::lock_guard lock(mutex_);
  return untimed_;
}

// ---- hoarding renderer ----

CHoardingRenderer::CHoardingRenderer() : CBaseRenderer("hoarding renderer", nullptr, GUID_NULL) {}

CHoardingRenderer::~CHoardingRenderer() { ReleaseKept(); }

HRESULT CHoardingRenderer::CheckMediaType(const CMediaType*) { return S_OK; }

HRESULT CHoardingRenderer::DoRenderSample(IMediaSample* sample) {
  std::lock_guard lock(mutex_);
  sample->AddRef();
  kept_.push_back(sample);
  return S_OK;
}

void CHoardingRenderer::ReleaseKept() {
  std::vector<IMediaSample*> kept;
  {
    std::lock_guard lock(mutex_);
    kept.swap(kept_);
  }
  for (IMediaSample* s : kept) s->Release();
}

int CHoardingRenderer::Kept() {
  std::lock_guard lock(mutex_);
  return static_cast<int>(kept_.size());
}

}  // namespace kestrom::dshow::test
