#include "platform/dshow/graph/NullRenderer.h"

#include <new>

namespace kestrom::dshow::graph {

CNullRenderer::CNullRenderer(IUnknown* outer) : CBaseRenderer("null renderer", outer, CLSID_NullRenderer) {}

com::CUnknown* CNullRenderer::CreateInstance(IUnknown* outer, HRESULT* hr) {
  auto* filter = new (std::nothrow) CNullRenderer(outer);
  if (!filter && hr) *hr = com::E_OUTOFMEMORY;
  return filter;
}

}  // namespace kestrom::dshow::graph
