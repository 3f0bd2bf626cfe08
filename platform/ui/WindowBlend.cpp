#include "platform/ui/WindowBlend.h"

#include <QGuiApplication>
#include <QPainter>
#include <QtGui/qguiapplication_platform.h>
#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <xcb/xcb.h>

namespace kestrom::ui {

namespace {

std::optional<BlendMethod>& Decided() {
  static std::optional<BlendMethod> method;
  return method;
}

}  // namespace

bool CompositingManagerRunning() {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return false;
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
  if (!connection) return false;
  const int screens = xcb_setup_roots_length(xcb_get_setup(connection));
  for (int n = 0; n < screens; ++n) {
    const std::string name = "_NET_WM_CM_S" + std::to_string(n);
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
    if (!atom) continue;
    const xcb_atom_t selection = atom->atom;
    free(atom);
    if (selection == XCB_ATOM_NONE) continue;  // never interned: nobody can own it
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr);
    const bool owned = owner && owner->owner != XCB_NONE;
    free(owner);
    if (owned) return true;
  }
  return false;
}

BlendMethod WindowBlendMethod() {
  std::optional<BlendMethod>& method = Decided();
  if (!method)
    method = CompositingManagerRunning() ? BlendMethod::WindowOpacity : BlendMethod::ComposedInPaint;
  return *method;
}

void SetWindowBlendMethodForTest(BlendMethod method) { Decided() = method; }
void ResetWindowBlendMethodForTest() { Decided().reset(); }

void PaintBlend(QPainter& painter, const QImage& behind, QPoint behindAt, const QImage& front, int alpha) {
  painter.save();
  if (!behind.isNull()) painter.drawImage(behindAt, behind);
  painter.setOpacity(std::clamp(alpha, 0, 255) / 255.0);
  painter.drawImage(QPoint(0, 0), front);
  painter.restore();
}

}  // namespace kestrom::ui
