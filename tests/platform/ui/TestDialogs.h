#pragma once
// For tests of forms: scripted dialogs whose faults (a dialog asked without a fitting answer, an
// answer left over at the end) fail the running test.

#include "platform/ui/Dialogs.h"

#include <gtest/gtest.h>

namespace kestrom::ui {

class ScopedTestDialogs : public ScopedScriptedDialogs {
 public:
  ScopedTestDialogs() {
    dialogs.SetFailureHandler([](const QString& message) { ADD_FAILURE() << message.toStdString(); });
  }
};

}  // namespace kestrom::ui
