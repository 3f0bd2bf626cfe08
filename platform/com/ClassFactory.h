#pragma once
// A class factory that makes one class's objects by calling its creation function.

#include "platform/com/Unknown.h"

namespace kestrom::com {

/** @brief Makes a new object (not yet referenced) or reports why not in *hr. */
using NewComObjectFunction = CUnknown* (*)(IUnknown* outer, HRESULT* hr);

class CClassFactory final : public CUnknown, public IClassFactory {
 public:
  /** @brief module (may be null): the module the factory and its objects keep loaded. */
  CClassFactory(NewComObjectFunction create, ModuleRefCount* module);
  ~CClassFactory() override;

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

  HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
  HRESULT LockServer(int32_t lock) override;

 private:
  NewComObjectFunction create_;
  ModuleRefCount* module_;
};

}  // namespace kestrom::com
