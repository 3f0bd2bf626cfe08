#include "platform/com/Unknown.h"

namespace kestrom::com {

CUnknown::CUnknown(const char* name, IUnknown* outer)
    : name_(name), inner_(*this), owner_(outer ? outer : &inner_) {}

CUnknown::~CUnknown() = default;

HRESULT CUnknown::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IUnknown) return GetInterface(&inner_, object);
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG CUnknown::NonDelegatingAddRef() { return static_cast<ULONG>(refs_.fetch_add(1) + 1); }

ULONG CUnknown::NonDelegatingRelease() {
  const long left = refs_.fetch_sub(1) - 1;
  if (left == 0) {
    // Guards against a destructor that takes and drops a reference to itself.
    refs_.store(1);
    delete this;
  }
  return static_cast<ULONG>(left < 0 ? 0 : left);
}

HRESULT GetInterface(IUnknown* unknown, void** object) {
  if (!object) return E_POINTER;
  *object = unknown;
  unknown->AddRef();
  return S_OK;
}

}  // namespace kestrom::com
