#include "platform/dshow/base/PropertyPages.h"

#include "platform/com/ComRuntime.h"

namespace kestrom::dshow {

using namespace com;

HRESULT PagesAnswered(IUnknown* object, const std::vector<PageOffer>& offers, CAUUID* pages) {
  if (!pages) return E_POINTER;
  *pages = CAUUID{};
  if (!object) return E_POINTER;
  std::vector<GUID> answered;
  for (const PageOffer& offer : offers) {
    IUnknown* itf = nullptr;
    if (FAILED(object->QueryInterface(*offer.iid, reinterpret_cast<void**>(&itf))) || !itf) continue;
    itf->Release();
    answered.push_back(*offer.page);
  }
  if (answered.empty()) return S_OK;
  pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(answered.size() * sizeof(GUID)));
  if (!pages->pElems) return E_OUTOFMEMORY;
  for (size_t i = 0; i < answered.size(); ++i) pages->pElems[i] = answered[i];
  pages->cElems = static_cast<ULONG>(answered.size());
  return S_OK;
}

}  // namespace kestrom::dshow
