#pragma once
// The filter graph: holds filters under unique names, connects their pins directly, and connects
// automatically through registered filters in merit order. Running the graph is added on top.

#include "platform/dshow/base/Interfaces.h"

#include <mutex>
#include <string>
#include <vector>

namespace kestrom::dshow {

class CFilterGraph : public com::CUnknown, public IGraphBuilder {
 public:
  explicit CFilterGraph(IUnknown* outer);
  ~CFilterGraph() override;
  static com::CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

  // IFilterGraph
  /** @brief A name already in use gets " 0001" (and so on) added, with VFW_S_DUPLICATE_NAME. */
  HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) override;
  HRESULT RemoveFilter(IBaseFilter* filter) override;
  HRESULT EnumFilters(IEnumFilters** filters) override;
  HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** filter) override;
  HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* type) override;
  HRESULT Reconnect(IPin* pin) override;
  HRESULT Disconnect(IPin* pin) override;
  HRESULT SetDefaultSyncSource() override;

  // IGraphBuilder
  /**
   * @brief Connects directly, else through registered filters of the filter category tried in
   * merit order (highest first); a filter of merit MERIT_DO_NOT_USE or less is never tried.
   */
  HRESULT Connect(IPin* out, IPin* in) override;
  HRESULT Render(IPin* out) override;
  HRESULT RenderFile(LPCWSTR file, LPCWSTR playList) override;
  HRESULT AddSourceFilter(LPCWSTR file, LPCWSTR filterName, IBaseFilter** filter) override;
  HRESULT SetLogFile(uintptr_t file) override;
  HRESULT Abort() override;
  HRESULT ShouldOperationContinue() override;

 protected:
  struct Entry {
    IBaseFilter* filter;  // referenced
    std::u16string name;
  };

  HRESULT AddFilterLocked(IBaseFilter* filter, LPCWSTR name);
  HRESULT ConnectThroughRegistered(IPin* out, IPin* in, int depth);
  HRESULT ConnectThroughRegisteredLocked(IPin* out, IPin* in, int depth);
  bool Contains(IBaseFilter* filter);
  bool PinInGraph(IPin* pin);
  void DisconnectAllPins(IBaseFilter* filter);

  std::recursive_mutex lock_;
  std::vector<Entry> filters_;
};

/** @brief The same object, compared by identity (the IUnknown each hands out). */
bool IsSameObject(IUnknown* a, IUnknown* b);

}  // namespace kestrom::dshow
