#include "platform/core/Colour.h"

#include <QGuiApplication>
#include <array>

namespace kestrom::core {

namespace {

struct SystemColourEntry {
  bool hasRole;
  QPalette::ColorGroup group;
  QPalette::ColorRole role;
  QRgb fallback;  // shown when the colour has no palette role (the classic desktop scheme)
};

// Indexed by the system colour index. Each (group, role) pair appears at most once, so a role
// maps back to exactly the system colour it came from.
constexpr std::array<SystemColourEntry, 25> kSystemColours{{
    {true, QPalette::Active, QPalette::Mid, 0xC8C8C8},                // clScrollBar
    {false, QPalette::Active, QPalette::NoRole, 0x008080},            // clBackground (desktop)
    {false, QPalette::Active, QPalette::NoRole, 0x000080},            // clActiveCaption
    {false, QPalette::Active, QPalette::NoRole, 0x808080},            // clInactiveCaption
    {true, QPalette::Active, QPalette::Button, 0xC0C0C0},             // clMenu
    {true, QPalette::Active, QPalette::Base, 0xFFFFFF},               // clWindow
    {false, QPalette::Active, QPalette::NoRole, 0x000000},            // clWindowFrame
    {true, QPalette::Active, QPalette::WindowText, 0x000000},         // clMenuText
    {true, QPalette::Active, QPalette::Text, 0x000000},               // clWindowText
    {false, QPalette::Active, QPalette::NoRole, 0xFFFFFF},            // clCaptionText
    {false, QPalette::Active, QPalette::NoRole, 0xC0C0C0},            // clActiveBorder
    {false, QPalette::Active, QPalette::NoRole, 0xC0C0C0},            // clInactiveBorder
    {false, QPalette::Active, QPalette::NoRole, 0x808080},            // clAppWorkSpace
    {true, QPalette::Active, QPalette::Highlight, 0x000080},          // clHighlight
    {true, QPalette::Active, QPalette::HighlightedText, 0xFFFFFF},    // clHighlightText
    {true, QPalette::Active, QPalette::Window, 0xC0C0C0},             // clBtnFace
    {true, QPalette::Active, QPalette::Dark, 0x808080},               // clBtnShadow
    {true, QPalette::Disabled, QPalette::Text, 0x808080},             // clGrayText
    {true, QPalette::Active, QPalette::ButtonText, 0x000000},         // clBtnText
    {true, QPalette::Inactive, QPalette::WindowText, 0xC0C0C0},       // clInactiveCaptionText
    {true, QPalette::Active, QPalette::Light, 0xFFFFFF},              // clBtnHighlight
    {true, QPalette::Active, QPalette::Shadow, 0x000000},             // cl3DDkShadow
    {true, QPalette::Active, QPalette::Midlight, 0xDFDFDF},           // cl3DLight
    {true, QPalette::Active, QPalette::ToolTipText, 0x000000},        // clInfoText
    {true, QPalette::Active, QPalette::ToolTipBase, 0xFFFFE1},        // clInfoBk
}};

int SystemIndex(TColor c) { return static_cast<int>(static_cast<uint32_t>(c) & 0xFFu); }

QPalette AppPalette() {
  // Without an application object there is no palette to follow; the default one stands in.
  return qGuiApp ? QGuiApplication::palette() : QPalette();
}

}  // namespace

QColor ToQColor(TColor c) {
  if (IsSystemColor(c)) {
    const int index = SystemIndex(c);
    if (index >= static_cast<int>(kSystemColours.size())) return QColor(Qt::black);
    const SystemColourEntry& e = kSystemColours[index];
    if (e.hasRole) {
      QColor colour = AppPalette().color(e.group, e.role);
      colour.setAlpha(255);
      return colour;
    }
    return QColor::fromRgb(e.fallback);
  }
  const auto v = static_cast<uint32_t>(c);
  return QColor(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF);
}

TColor FromQColor(const QColor& c) {
  const QColor rgb = c.toRgb();
  return static_cast<TColor>(rgb.red() | (rgb.green() << 8) | (rgb.blue() << 16));
}

bool SystemColorRole(TColor c, QPalette::ColorGroup* group, QPalette::ColorRole* role) {
  if (!IsSystemColor(c)) return false;
  const int index = SystemIndex(c);
  if (index >= static_cast<int>(kSystemColours.size()) || !kSystemColours[index].hasRole) return false;
  if (group) *group = kSystemColours[index].group;
  if (role) *role = kSystemColours[index].role;
  return true;
}

TColor SystemColorOfRole(QPalette::ColorGroup group, QPalette::ColorRole role) {
  // Normal and Active are the same group to the palette.
  if (group == QPalette::Normal) group = QPalette::Active;
  for (std::size_t i = 0; i < kSystemColours.size(); ++i) {
    const SystemColourEntry& e = kSystemColours[i];
    if (e.hasRole && e.group == group && e.role == role) return clSystemColor | static_cast<TColor>(i);
  }
  // A role of another group stands for the active group's system colour; a role with no system
  // colour at all is given as the plain colour the palette shows for it.
  for (std::size_t i = 0; i < kSystemColours.size(); ++i) {
    const SystemColourEntry& e = kSystemColours[i];
    if (e.hasRole && e.group == QPalette::Active && e.role == role) return clSystemColor | static_cast<TColor>(i);
  }
  return FromQColor(AppPalette().color(group, role));
}

}  // namespace kestrom::core
