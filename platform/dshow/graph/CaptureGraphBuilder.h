#pragma once
// The capture graph builder: builds capture graphs on a filter graph of its own or one it was
// given — output files through a multiplexer and file writer, streams from a device pin
// through an optional compressor to a renderer or writer, stream control on capture paths,
// interface and pin searches, and preallocated capture files.

#include "platform/com/ComPtr.h"
#include "platform/dshow/base/ControlInterfaces.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kestrom::dshow::graph {

/**
 * @brief The filters that may feed a device's input pins (crossbar, tuner, TV audio), with their
 * names. RenderStream without a sink adds them upstream of the device. Without a provider the
 * filters registered under AM_KSCATEGORY_CROSSBAR, _TVTUNER and _TVAUDIO are tried.
 */
using UpstreamFilterProvider =
    std::function<std::vector<std::pair<com::ComPtr<IBaseFilter>, std::u16string>>(IBaseFilter* device)>;
void SetUpstreamFilterProvider(UpstreamFilterProvider provider);

/** @brief The pin's filter (with a reference), or null. */
com::ComPtr<IBaseFilter> FilterOfPin(IPin* pin);

class CCaptureGraphBuilder final : public com::CUnknown, public ICaptureGraphBuilder2 {
 public:
  explicit CCaptureGraphBuilder(IUnknown* outer);
  static com::CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

  HRESULT SetFiltergraph(IGraphBuilder* graph) override;
  /** @brief Makes a filter graph when none was set. */
  HRESULT GetFiltergraph(IGraphBuilder** graph) override;
  /** @brief MEDIASUBTYPE_Avi: AVI mux + file writer; MEDIASUBTYPE_Asf: the ASF writer; else type is a mux class. */
  HRESULT SetOutputFileName(const GUID* type, LPCWSTR file, IBaseFilter** mux, IFileSinkFilter** sink) override;
  /**
   * @brief The filter, then its pins of the category and type, then downstream of those; with
   * LOOK_UPSTREAM_ONLY the filter and then upstream; LOOK_DOWNSTREAM_ONLY every output.
   */
  HRESULT FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter, REFIID iid, void** object) override;
  HRESULT RenderStream(const GUID* category, const GUID* type, IUnknown* source, IBaseFilter* compressor,
                       IBaseFilter* renderer) override;
  HRESULT ControlStream(const GUID* category, const GUID* type, IBaseFilter* filter, REFERENCE_TIME* start,
                        REFERENCE_TIME* stop, WORD startCookie, WORD stopCookie) override;
  /** @brief Creates the file (or grows a smaller one) with size bytes really reserved on disk. */
  HRESULT AllocCapFile(LPCWSTR file, uint64_t size) override;
  /** @brief Copies what a capture wrote into a preallocated file (its RIFF chunks), not the reserve. */
  HRESULT CopyCaptureFile(LPWSTR oldFile, LPWSTR newFile, int allowEscAbort, IAMCopyCaptureFileProgress* callback) override;
  HRESULT FindPin(IUnknown* source, PIN_DIRECTION direction, const GUID* category, const GUID* type, BOOL unconnected,
                  int index, IPin** pin) override;

 private:
  HRESULT EnsureGraph();
  HRESULT EnsureInGraph(IBaseFilter* filter, const char16_t* name);
  HRESULT ConnectToFilter(IPin* out, IBaseFilter* target);
  void AddUpstreamFilters(IBaseFilter* device, int depth);

  com::ComPtr<IGraphBuilder> graph_;
};

}  // namespace kestrom::dshow::graph
