#pragma once
// Translucent top-level windows (alpha 0 transparent to 255 opaque). Where a compositing
// manager runs on X11 the window system blends the window with whatever lies behind it; anywhere
// else (no compositor, Wayland, offscreen) the window must compose the picture behind it itself
// in its paint. Which of the two applies is decided once per program run.

#include <QImage>
#include <QPoint>

class QPainter;
class QWidget;

namespace kestrom::ui {

enum class BlendMethod {
  WindowOpacity,    // setWindowOpacity: the window system blends
  ComposedInPaint,  // the window paints what lies behind it, then itself at alpha / 255
};

/** @brief How translucent windows are made in this run; decided at the first call. */
BlendMethod WindowBlendMethod();

/** @brief Puts a method in place of the decided one (tests); Reset lets the next call decide again. */
void SetWindowBlendMethodForTest(BlendMethod method);
void ResetWindowBlendMethodForTest();

/** @brief True when an X11 compositing manager owns the _NET_WM_CM_S<n> selection of a screen. */
bool CompositingManagerRunning();

/**
 * @brief Paints a blend: behind (at its own position) fully, then front at alpha / 255. Used by
 * windows that compose the blend themselves; neither picture is changed.
 */
void PaintBlend(QPainter& painter, const QImage& behind, QPoint behindAt, const QImage& front, int alpha);

}  // namespace kestrom::ui
