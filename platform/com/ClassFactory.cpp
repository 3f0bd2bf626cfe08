#include "platform/com/ClassFactory.h"

#include <new>

namespace kestrom::com {

CClassFactory::CClassFactory(NewComObjectFunction create, ModuleRefCount* module)
    : CUnknown("class factory", nullptr), create_(create), module_(module) {
  if (module_) module_->AddObject();
}

CClassFactory::~CClassFactory() {
  if (module_) module_->RemoveObject();
}

HRESULT CClassFactory::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IClassFactory) return GetInterface(static_cast<IClassFactory*>(this), object);
  return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT CClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  // An aggregated object must hand its identity to the outer object and nothing else.
  if (outer && !(iid == IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  HRESULT hr = S_OK;
  CUnknown* created = nullptr;
  try {
    created = create_(outer, &hr);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
  if (!created) return FAILED(hr) ? hr : E_OUTOFMEMORY;
  created->NonDelegatingAddRef();
  if (SUCCEEDED(hr)) hr = created->NonDelegatingQueryInterface(iid, object);
  created->NonDelegatingRelease();
  return hr;
}

HRESULT CClassFactory::LockServer(int32_t lock) {
  if (module_) module_->Lock(lock != 0);
  return S_OK;
}

}  // namespace kestrom::com
