#include "platform/dshow/sources/ScriptSource.h"

namespace kestrom::dshow {

com::CUnknown* CreateScriptSource(com::IUnknown*, HRESULT* hr) {
  if (hr) *hr = com::E_NOTIMPL;
  return nullptr;
}

}  // namespace kestrom::dshow
