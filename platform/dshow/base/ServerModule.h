#pragma once
// What a filter module needs to be a server: its table of factory templates, the class objects
// and unload test over that table, and registration of its classes and filters.

#include "platform/com/ClassFactory.h"
#include "platform/dshow/base/Types.h"

#include <QString>

namespace kestrom::dshow {

/** @brief One class of a module: name, class id, creation function and filter registration. */
struct CFactoryTemplate {
  LPCWSTR m_Name;
  const CLSID* m_ClsID;
  com::NewComObjectFunction m_lpfnNew;
  void (*m_lpfnInit)(bool loading, const CLSID* clsid);
  const AMOVIESETUP_FILTER* m_pAMovieSetup_Filter;
};

/** @brief The class factory of a class in the table; CLASS_E_CLASSNOTAVAILABLE for any other. */
HRESULT AMovieDllGetClassObject(const CFactoryTemplate* templates, int count, com::ModuleRefCount& module,
                                REFCLSID clsid, REFIID iid, void** object);

/**
 * @brief Registers (or unregisters) every class of the table: HKEY_CLASSES_ROOT\CLSID\{class id}
 * with the name, its InprocServer32 key with the module path and ThreadingModel "Both", and each
 * filter with its merit and pins in the filter category through the filter mapper. Unregistering
 * removes the same entries.
 */
HRESULT AMovieDllRegisterServer2(bool doRegister, const CFactoryTemplate* templates, int count,
                                 const QString& modulePath);

}  // namespace kestrom::dshow
