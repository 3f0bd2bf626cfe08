#pragma once
// A message of the capture form: its text and how far right of the form's Left it stands (its top
// is the form's Top + 180).

#include <QString>

namespace kestrom::capture {

struct FormMessage {
  QString text;
  int leftOffset = 0;
  bool operator==(const FormMessage&) const = default;
};

}  // namespace kestrom::capture
