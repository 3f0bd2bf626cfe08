#include "platform/com/ComRuntime.h"

#include "platform/registry/Registry.h"

#include <QFile>
#include <QFileInfo>
#include <cstdlib>
#include <dlfcn.h>
#include <map>
#include <mutex>
#include <vector>

namespace kestrom::com {
namespace {

struct ClassRegistration {
  DWORD cookie;
  CLSID clsid;
  IUnknown* classObject;
};

struct LoadedModule {
  QString path;
  void* handle;
  DllGetClassObjectFunction getClassObject;
  DllCanUnloadNowFunction canUnloadNow;
};

// Process-wide tables. Never destroyed: a module may still call in while the program exits, and
// modules are deliberately not unloaded at exit.
struct Runtime {
  // Recursive: loading a module runs its initialisers, which may register classes; a module's
  // DllGetClassObject may create objects in turn.
  std::recursive_mutex mutex;
  std::vector<ClassRegistration> classes;
  DWORD nextCookie = 1;
  std::vector<LoadedModule> modules;
};

Runtime& TheRuntime() {
  static Runtime* runtime = new Runtime;
  return *runtime;
}

QString InprocServerPath(REFCLSID clsid) {
  using namespace kestrom::registry;
  HKEY key = nullptr;
  const QString path = QStringLiteral("CLSID\\%1\\InprocServer32").arg(GuidToString(clsid));
  if (RegOpenKeyEx(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
  QString module;
  if (RegQueryStringValue(key, QString(), &module) != ERROR_SUCCESS) module.clear();
  RegCloseKey(key);
  return module.trimmed();
}

// Finds or loads the module; on failure returns the reason. The caller holds the runtime lock.
HRESULT LoadModule(const QString& path, DllGetClassObjectFunction* getClassObject) {
  Runtime& rt = TheRuntime();
  const QString canonical = QFileInfo(path).canonicalFilePath();
  const QString key = canonical.isEmpty() ? path : canonical;
  for (const LoadedModule& m : rt.modules) {
    if (m.path == key) {
      *getClassObject = m.getClassObject;
      return S_OK;
    }
  }
  if (canonical.isEmpty()) return CO_E_DLLNOTFOUND;
  void* handle = dlopen(QFile::encodeName(canonical).constData(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return CO_E_DLLNOTFOUND;
  auto get = reinterpret_cast<DllGetClassObjectFunction>(dlsym(handle, "DllGetClassObject"));
  if (!get) {
    dlclose(handle);
    return CO_E_ERRORINDLL;
  }
  auto canUnload = reinterpret_cast<DllCanUnloadNowFunction>(dlsym(handle, "DllCanUnloadNow"));
  rt.modules.push_back({key, handle, get, canUnload});
  *getClassObject = get;
  return S_OK;
}

}  // namespace

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void*, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  {
    Runtime& rt = TheRuntime();
    IUnknown* registered = nullptr;
    {
      std::lock_guard lock(rt.mutex);
      // The latest registration of a class hides the earlier ones until it is revoked.
      for (auto it = rt.classes.rbegin(); it != rt.classes.rend(); ++it) {
        const ClassRegistration& c = *it;
        if (c.clsid == clsid) {
          registered = c.classObject;
          registered->AddRef();
          break;
        }
      }
    }
    if (registered) {
      const HRESULT hr = registered->QueryInterface(iid, object);
      registered->Release();
      return hr;
    }
  }
  if (!(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
  const QString path = InprocServerPath(clsid);
  if (path.isEmpty()) return REGDB_E_CLASSNOTREG;
  // The class object is asked for under the lock, so that CoFreeUnusedLibraries cannot unload
  // the module between loading it and holding a reference into it.
  std::lock_guard lock(TheRuntime().mutex);
  DllGetClassObjectFunction get = nullptr;
  const HRESULT hr = LoadModule(path, &get);
  if (FAILED(hr)) return hr;
  return get(clsid, iid, object);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  ComPtr<IClassFactory> factory;
  HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, factory.PutVoid());
  if (FAILED(hr)) return hr;
  return factory->CreateInstance(outer, iid, object);
}

HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* classObject, DWORD, DWORD, DWORD* cookie) {
  if (!classObject || !cookie) return E_INVALIDARG;
  Runtime& rt = TheRuntime();
  std::lock_guard lock(rt.mutex);
  classObject->AddRef();
  *cookie = rt.nextCookie++;
  rt.classes.push_back({*cookie, clsid, classObject});
  return S_OK;
}

HRESULT CoRevokeClassObject(DWORD cookie) {
  Runtime& rt = TheRuntime();
  IUnknown* revoked = nullptr;
  {
    std::lock_guard lock(rt.mutex);
    for (auto it = rt.classes.begin(); it != rt.classes.end(); ++it) {
      if (it->cookie == cookie) {
        revoked = it->classObject;
        rt.classes.erase(it);
        break;
      }
    }
  }
  if (!revoked) return E_INVALIDARG;
  revoked->Release();
  return S_OK;
}

void CoFreeUnusedLibraries() {
  Runtime& rt = TheRuntime();
  std::lock_guard lock(rt.mutex);
  for (auto it = rt.modules.begin(); it != rt.modules.end();) {
    // A module without DllCanUnloadNow cannot say it is idle, so it stays.
    if (it->canUnloadNow && it->canUnloadNow() == S_OK) {
      dlclose(it->handle);
      it = rt.modules.erase(it);
    } else {
      ++it;
    }
  }
}

bool CoIsModuleLoaded(const QString& path) {
  const QString canonical = QFileInfo(path).canonicalFilePath();
  Runtime& rt = TheRuntime();
  std::lock_guard lock(rt.mutex);
  for (const LoadedModule& m : rt.modules)
    if (m.path == canonical || m.path == path) return true;
  return false;
}

void* CoTaskMemAlloc(size_t size) { return std::malloc(size); }

void CoTaskMemFree(void* memory) { std::free(memory); }

QString ModulePathOf(const void* address) {
  Dl_info info{};
  if (!dladdr(address, &info) || !info.dli_fname) return {};
  const QString path = QFile::decodeName(info.dli_fname);
  const QString canonical = QFileInfo(path).canonicalFilePath();
  return canonical.isEmpty() ? path : canonical;
}

}  // namespace kestrom::com
