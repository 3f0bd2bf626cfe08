#include "platform/ui/WidgetColours.h"

#include <QApplication>
#include <QVariant>
#include <QWidget>

namespace kestrom::ui {

namespace {
constexpr const char* kBackgroundProperty = "kestromBackgroundColor";
constexpr const char* kFontProperty = "kestromFontColor";

void SetRoles(QWidget* control, std::initializer_list<QPalette::ColorRole> roles, core::TColor color) {
  QPalette palette = control->palette();
  QPalette::ColorGroup group;
  QPalette::ColorRole role;
  const bool system = core::SystemColorRole(color, &group, &role);
  for (QPalette::ColorRole r : roles) {
    if (system) {
      // Every state of the control shows the desktop's colour of that role, as a control of
      // this kind has it by default.
      const QPalette desktop = QApplication::palette(control);
      for (auto g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setColor(g, r, desktop.color(group, role));
    } else {
      palette.setColor(r, core::ToQColor(color));
    }
  }
  control->setPalette(palette);
}
}  // namespace

void SetBackgroundColor(QWidget* control, core::TColor color) {
  if (!control) return;
  SetRoles(control, {QPalette::Window, QPalette::Base, QPalette::Button}, color);
  control->setAutoFillBackground(true);
  control->setProperty(kBackgroundProperty, color);
}

void SetFontColor(QWidget* control, core::TColor color) {
  if (!control) return;
  SetRoles(control, {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}, color);
  control->setProperty(kFontProperty, color);
}

core::TColor BackgroundColor(const QWidget* control) {
  const QVariant v = control ? control->property(kBackgroundProperty) : QVariant();
  return v.isValid() ? static_cast<core::TColor>(v.toInt()) : core::clBtnFace;
}

core::TColor FontColor(const QWidget* control) {
  const QVariant v = control ? control->property(kFontProperty) : QVariant();
  return v.isValid() ? static_cast<core::TColor>(v.toInt()) : core::clWindowText;
}

}  // namespace kestrom::ui
