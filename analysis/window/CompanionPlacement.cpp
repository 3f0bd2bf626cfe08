#include "analysis/window/CompanionPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace kestrom::window {

namespace {
// The same offset the program's boxes take from the window that shows them.
constexpr QPoint kCompanionOffset(64, 86);

int Fit(int wanted, int size, int low, int extent) {
  // Past the far edge first, then the near edge wins for a window larger than the screen.
  return std::max(low, std::min(wanted, low + extent - size));
}
}  // namespace

QPoint PlaceOnScreen(QPoint wanted, QSize frame, const QRect& screen) {
  return {Fit(wanted.x(), frame.width(), screen.left(), screen.width()),
          Fit(wanted.y(), frame.height(), screen.top(), screen.height())};
}

QPoint DefaultCompanionPlace(const QRect& openerFrame) { return openerFrame.topLeft() + kCompanionOffset; }

void MoveOnScreen(QWidget* window, const QWidget* opener, QPoint wanted) {
  if (!window) return;
  const QScreen* screen = opener ? opener->screen() : window->screen();
  if (!screen) screen = QGuiApplication::primaryScreen();
  // A window not yet shown has no frame of its own: the opener's frame is the best guess of it.
  QSize frame = window->frameGeometry().size();
  if (!window->isVisible() && opener) frame = window->size() + (opener->frameGeometry().size() - opener->size());
  window->move(screen ? PlaceOnScreen(wanted, frame, screen->availableGeometry()) : wanted);
}

void ShowCompanion(QWidget* window, const QWidget* opener, std::optional<QPoint> wanted) {
  if (!window) return;
  // Asked for no place, a window keeps the one it had (the coach may have moved it there); the
  // first time it goes beside its opener.
  constexpr const char* kPlaced = "kestromCompanionPlaced";
  const bool placedBefore = window->property(kPlaced).toBool();
  const QPoint asked = wanted                       ? *wanted
                       : placedBefore || !opener ? window->pos()
                                                 : DefaultCompanionPlace(opener->frameGeometry());
  window->setProperty(kPlaced, true);
  MoveOnScreen(window, opener, asked);
  window->show();
  // Kept above its opener by the window system, where there is one (set once shown: showing a
  // window without a parent widget clears it).
  if (QWindow* handle = window->windowHandle(); handle && opener && opener->window()->windowHandle())
    handle->setTransientParent(opener->window()->windowHandle());
  window->raise();
  window->activateWindow();
}

}  // namespace kestrom::window
