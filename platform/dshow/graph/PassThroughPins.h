#pragma once
// Output pins of filters that pass their input's samples on unchanged (tees, the sample
// grabber): they offer and accept only the input's type, hand the upstream allocator on, and
// answer IMediaSeeking by asking upstream of the input.

#include "platform/dshow/base/BaseFilter.h"
#include "platform/dshow/base/Seeking.h"

#include <memory>

namespace kestrom::dshow::graph {

class CPassThroughOutputPin : public CBaseOutputPin {
 public:
  CPassThroughOutputPin(const char* objectName, CBaseFilter* filter, std::recursive_mutex* lock, LPCWSTR name,
                        CBaseInputPin* input);

  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

  HRESULT CheckConnect(IPin* pin) override;
  HRESULT CheckMediaType(const CMediaType* type) override;
  HRESULT GetMediaType(int position, CMediaType* type) override;
  /** @brief The samples are the upstream allocator's; downstream gets that one, read-only. */
  HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) override;
  HRESULT DecideBufferSize(IMemAllocator*, ALLOCATOR_PROPERTIES*) override { return com::S_OK; }
  // The upstream pin commits and decommits its allocator.
  HRESULT Active() override { return com::S_OK; }
  HRESULT Inactive() override { return com::S_OK; }

 protected:
  CBaseInputPin* input_;
  std::unique_ptr<CPosPassThru> seeking_;
};

}  // namespace kestrom::dshow::graph
