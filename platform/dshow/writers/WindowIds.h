#pragma once
// Opaque window ids for widgets, as the graph's video windows take them (owner, message drain).
// An id stays valid only as long as its widget: the id of a destroyed widget finds nothing.

#include "platform/dshow/writers/SharedInterfaces.h"

class QWidget;

namespace kestrom::dshow {

/** @brief The id of a widget (the same id each time); 0 for none. GUI thread. */
OAHWND WindowIdOf(QWidget* widget);
/** @brief The widget of an id; null for 0, an unknown id, or a widget that is gone. GUI thread. */
QWidget* WidgetOfWindowId(OAHWND id);

}  // namespace kestrom::dshow
