#pragma once
// Every form of the analysis program made as at start-up, on a clean system drive and program
// folder, with scripted message boxes, a first-run back end the test controls, and modal forms
// handled by the test.

#include "StartupTestSupport.h"
#include "platform/ui/ModalForms.h"
#include "analysis/window/AppForms.h"
#include "analysis/window/KestromForm.h"
#include "platform/ui/Dialogs.h"
#include "platform/ui/Terminate.h"

#include <QDialog>
#include <functional>
#include <gtest/gtest.h>

namespace kestrom::test {

class StartUpFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::ResetTerminated();
    ui::SetModalHandler([this](QDialog& form) {
      modalForms << form.objectName();
      form.setResult(0);
      form.show();
      if (onModal) onModal(form);
      form.hide();
      return form.result();
    });
    window::CreateForms();
  }
  void TearDown() override {
    window::DestroyForms();
    ui::SetModalHandler(nullptr);
    ui::ResetTerminated();
  }
  window::TKestromForm* Main() const { return window::Forms().MainWindow; }
  window::TKestromForm* Best() const { return window::Forms().BestWindow; }

  CleanDrive clean;
  ScopedFirstRunChecks fake;
  ui::ScopedScriptedDialogs dialogs;
  QStringList modalForms;
  std::function<void(QDialog&)> onModal;
};

}  // namespace kestrom::test
