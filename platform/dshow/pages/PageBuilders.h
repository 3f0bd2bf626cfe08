#pragma once
// The rows of each of our pages, read from the control interfaces the page's objects answer.
// Widget-free: a page's widget and the tests work on the model these fill.

#include "platform/com/ComPtr.h"
#include "platform/dshow/base/PropertyPages.h"
#include "platform/dshow/pages/PageModel.h"

#include <vector>

namespace kestrom::dshow::pages {

using Objects = std::vector<com::ComPtr<IUnknown>>;

/** @brief The title of one of our pages ("Video Proc Amp", ...); empty for any other class. */
QString PageTitle(REFCLSID page);

/**
 * @brief Fills the model of a page over the objects: one row per property the objects answer
 * (an image or camera control only when its range can be read). False when the page would be empty.
 */
bool BuildPage(REFCLSID page, const Objects& objects, PageModel* model);

}  // namespace kestrom::dshow::pages
