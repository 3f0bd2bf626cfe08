#pragma once
// Creating objects by class id. A class is found first among the class objects registered in
// this process, then under HKEY_CLASSES_ROOT\CLSID\{class id}\InprocServer32 in our registry,
// whose default value names a module (a shared library) that is loaded with dlopen and asked
// through its DllGetClassObject. A loaded module is unloaded only by CoFreeUnusedLibraries, and
// only after its DllCanUnloadNow answered S_OK; modules still loaded at exit stay loaded.

#include "platform/com/ComPtr.h"
#include "platform/com/Unknown.h"

#include <QString>
#include <cstddef>
#include <cstdint>

namespace kestrom::com {

using DWORD = uint32_t;

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
inline constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC | CLSCTX_LOCAL_SERVER;

inline constexpr DWORD REGCLS_MULTIPLEUSE = 1;

/** @brief The exports a module offers, by name. */
using DllGetClassObjectFunction = HRESULT (*)(REFCLSID clsid, REFIID iid, void** object);
using DllCanUnloadNowFunction = HRESULT (*)();
using DllRegisterServerFunction = HRESULT (*)();

/**
 * @brief The class object (normally IClassFactory) of a class: in-process registrations first,
 * then the registered module. REGDB_E_CLASSNOTREG when neither knows the class;
 * CO_E_DLLNOTFOUND when the module cannot be loaded; CO_E_ERRORINDLL when it has no
 * DllGetClassObject.
 */
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* reserved, REFIID iid, void** object);

/** @brief Makes an object of a class and queries it for iid (see CoGetClassObject). */
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object);

/** @brief Typed form of CoCreateInstance. */
template <typename T>
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, REFIID iid, ComPtr<T>* out) {
  return CoCreateInstance(clsid, outer, CLSCTX_INPROC_SERVER, iid, out->PutVoid());
}

/** @brief Registers a class object of this process (it gets a reference); *cookie revokes it. */
HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* classObject, DWORD context, DWORD flags,
                              DWORD* cookie);

/** @brief Withdraws an in-process registration and releases its class object. */
HRESULT CoRevokeClassObject(DWORD cookie);

/** @brief Unloads every loaded module whose DllCanUnloadNow answers S_OK. */
void CoFreeUnusedLibraries();

/** @brief True while the module with this path (as registered) is loaded by the runtime. */
bool CoIsModuleLoaded(const QString& path);

/** @brief Task memory, shared between a module and its callers: malloc and free. */
void* CoTaskMemAlloc(size_t size);
void CoTaskMemFree(void* memory);

/** @brief The absolute path of the loaded module (program or shared library) that holds address. */
QString ModulePathOf(const void* address);

}  // namespace kestrom::com
