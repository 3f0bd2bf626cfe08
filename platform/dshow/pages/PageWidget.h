#pragma once
// The controls of a page, built from its model: a row per field (slider with its value, Auto
// box and Default button; check box; drop-down list), each named after its property.

#include "platform/dshow/pages/PageModel.h"

#include <functional>

class QWidget;

namespace kestrom::dshow::pages {

/** @brief A widget over the model (which must outlive it); changed is called after each change a control makes. */
QWidget* BuildPageWidget(PageModel* model, QWidget* parent, std::function<void()> changed);

}  // namespace kestrom::dshow::pages
