#pragma once
// Which stored object lies under the mouse, for the two pointer tools. All positions are video
// pixels; over each collection the last matching object in store order wins. Results are
// 0-based indexes into the store, or -1 for none (strokes: 1-based numbers, 0 for none).

#include "analysis/annotation/DrawingStore.h"

namespace kestrom::drawing {

/** @brief The line rule: how near (x, y) lies to the segment (x1, y1)-(x2, y2). */
bool LineHit(double x1, double y1, double x2, double y2, double x, double y);

/** @brief The last line shape hit; lines of zero length are passed over. */
int FindLineAt(const annotation::DrawingStore& store, double x, double y);
/** @brief The last angle one of whose arms is hit; angles with coinciding points are passed over. */
int FindAngleAt(const annotation::DrawingStore& store, double x, double y);
/** @brief The last text item whose box (characters x size by size) holds the point. */
int FindTextAt(const annotation::DrawingStore& store, double x, double y);
/** @brief The last rectangle, ellipse or rounded rectangle holding the point (drawn top-left first). */
int FindShapeAt(const annotation::DrawingStore& store, double x, double y);
/** @brief The stroke number (1-based) of the last freehand point within 5 pixels; 0 for none. */
int FindStrokeAt(const annotation::DrawingStore& store, double x, double y);

}  // namespace kestrom::drawing
