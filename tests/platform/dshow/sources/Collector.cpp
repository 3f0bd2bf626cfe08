#include "tests/platform/dshow/sources/Collector.h"

#include "platform/dshow/base/Guids.h"

#include <thread>

namespace kestrom::dshow::test {

using namespace com;

class CCollector::Pin final : public CBaseInputPin {
 public:
  Pin(CCollector* owner, std::recursive_mutex* lock, Accept accept)
      : CBaseInputPin("collector pin", owner, lock, nullptr, u"In"), owner_(owner), accept_(std::move(accept)) {}

  HRESULT CheckMediaType(const CMediaType* type) override { return !accept_ || accept_(*type) ? S_OK : S_FALSE; }
  HRESULT Receive(IMediaSample* sample) override {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    if (owner_->firstHold_.count() > 0 && owner_->Samples().empty()) std::this_thread::sleep_for(owner_->firstHold_);
    ReceivedSample r;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    r.bytes.assign(data, data + sample->GetActualDataLength());
    sample->GetTime(&r.start, &r.stop);
    r.sync = sample->IsSyncPoint() == S_OK;
    std::lock_guard lock(owner_->dataLock_);
    if (owner_->limit_ && owner_->samples_.size() >= owner_->limit_) return S_FALSE;
    owner_->samples_.push_back(std::move(r));
    owner_->changed_.notify_all();
    return S_OK;
  }
  HRESULT EndOfStream() override {
    std::lock_guard lock(owner_->dataLock_);
    owner_->endOfStream_ = true;
    owner_->changed_.notify_all();
    return S_OK;
  }

 private:
  CCollector* owner_;
  Accept accept_;
};

CCollector::CCollector(Accept accept)
    : CBaseFilter("collector", nullptr, &lock_, GUID_NULL), pin_(std::make_unique<Pin>(this, &lock_, std::move(accept))) {}

CCollector::~CCollector() = default;

CBasePin* CCollector::GetPin(int n) { return n == 0 ? pin_.get() : nullptr; }
IPin* CCollector::Input() { return pin_.get(); }

bool CCollector::WaitForSamples(size_t count, std::chrono::milliseconds bound) {
  std::unique_lock lock(dataLock_);
  return changed_.wait_for(lock, bound, [&] { return samples_.size() >= count; });
}

bool CCollector::WaitForEndOfStream(std::chrono::milliseconds bound) {
  std::unique_lock lock(dataLock_);
  return changed_.wait_for(lock, bound, [&] { return endOfStream_; });
}

std::vector<ReceivedSample> CCollector::Samples() {
  std::lock_guard lock(dataLock_);
  return samples_;
}

CMediaType CCollector::Type() { return pin_->CurrentMediaType(); }

void CCollector::SetLimit(size_t limit) {
  std::lock_guard lock(dataLock_);
  limit_ = limit;
}

CEventRecorder::CEventRecorder() : CUnknown("event recorder", nullptr) {}

HRESULT CEventRecorder::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IFilterGraph) return GetInterface(static_cast<IFilterGraph*>(this), object);
  if (iid == IID_IMediaEventSink) return GetInterface(static_cast<IMediaEventSink*>(this), object);
  return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT CEventRecorder::AddFilter(IBaseFilter* filter, LPCWSTR name) { return filter->JoinFilterGraph(this, name); }
HRESULT CEventRecorder::RemoveFilter(IBaseFilter* filter) { return filter->JoinFilterGraph(nullptr, nullptr); }

HRESULT CEventRecorder::Notify(LONG code, LONG_PTR param1, LONG_PTR param2) {
  std::lock_guard lock(lock_);
  events_.push_back({code, param1, param2});
  return S_OK;
}

std::vector<CEventRecorder::Event> CEventRecorder::Events() {
  std::lock_guard lock(lock_);
  return events_;
}

}  // namespace kestrom::dshow::test
