#pragma once
// The Null Renderer: takes any type and discards every sample at its time, so that a stream
// can end somewhere without being shown.

#include "platform/dshow/base/Renderer.h"

namespace kestrom::dshow::graph {

class CNullRenderer final : public CBaseRenderer {
 public:
  explicit CNullRenderer(IUnknown* outer);
  static com::CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

  HRESULT CheckMediaType(const CMediaType*) override { return com::S_OK; }
  HRESULT DoRenderSample(IMediaSample*) override { return com::S_OK; }
};

}  // namespace kestrom::dshow::graph
