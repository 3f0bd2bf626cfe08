// The four entry points of the filter module. Nothing thrown inside may leave the module.

#include "deinterlacer/DeinterlaceFilter.h"
#include "platform/com/ComRuntime.h"

#include <new>

using namespace kestrom;
using namespace kestrom::deinterlacer;

#define KESTROM_EXPORT extern "C" __attribute__((visibility("default")))

KESTROM_EXPORT com::HRESULT DllGetClassObject(com::REFCLSID clsid, com::REFIID iid, void** object) {
  try {
    return AMovieDllGetClassObject(g_Templates, g_cTemplates, DeinterlacerModule(), clsid, iid, object);
  } catch (const std::bad_alloc&) {
    return com::E_OUTOFMEMORY;
  } catch (...) {
    return com::E_FAIL;
  }
}

KESTROM_EXPORT com::HRESULT DllCanUnloadNow() { return DeinterlacerModule().CanUnloadNow(); }

namespace {
com::HRESULT RegisterAll(bool doRegister) {
  try {
    // The module's own file, as it was loaded.
    const QString path = com::ModulePathOf(reinterpret_cast<const void*>(&DllCanUnloadNow));
    return AMovieDllRegisterServer2(doRegister, g_Templates, g_cTemplates, path);
  } catch (const std::bad_alloc&) {
    return com::E_OUTOFMEMORY;
  } catch (...) {
    return com::E_FAIL;
  }
}
}  // namespace

KESTROM_EXPORT com::HRESULT DllRegisterServer() { return RegisterAll(true); }

KESTROM_EXPORT com::HRESULT DllUnregisterServer() { return RegisterAll(false); }
