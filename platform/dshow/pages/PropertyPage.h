#pragma once
// Our settings pages as objects, made by class id, and the property frame that shows pages over
// a set of objects through the program's dialogs service.

#include "platform/com/ComPtr.h"
#include "platform/dshow/base/PropertyPages.h"

#include <QString>

class QWidget;

namespace kestrom::dshow {

/** @brief One of our pages by its class id; null for a class that is no page of ours. */
com::ComPtr<IPropertyPage> CreatePropertyPage(REFCLSID clsid);

/**
 * @brief Shows the pages over the objects in a modal frame at (x, y) of parent (of the screen
 * without one), titled caption. Pages that take none of the objects are left out; when none is
 * left, nothing is shown and the answer is S_FALSE. *okPressed (may be null) tells whether the
 * frame closed with OK.
 */
HRESULT OleCreatePropertyFrame(QWidget* parent, int x, int y, const QString& caption, ULONG objectCount,
                               IUnknown** objects, ULONG pageCount, const CLSID* pages, bool* okPressed = nullptr);

/** @brief The pages an object names (ISpecifyPropertyPages) in a frame over it alone; S_FALSE when it names none it can show. */
HRESULT ShowObjectPages(QWidget* parent, int x, int y, const QString& caption, IUnknown* object,
                        bool* okPressed = nullptr);

}  // namespace kestrom::dshow
