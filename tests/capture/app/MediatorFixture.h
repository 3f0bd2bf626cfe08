#pragma once
// The capture program's other forms as they meet the capture form: a mediator holding a real
// component (the test camera plugged, no device thread), a clean system drive with its working
// folder, scripted message boxes and modal forms handled by the test.

#include "StartupTestSupport.h"
#include "platform/ui/ModalForms.h"
#include "capture/app/CaptureGlobals.h"
#include "capture/app/CaptureMediator.h"
#include "capture/engine/Devices.h"
#include "capture/engine/Framecatcher.h"
#include "capture/engine/SyncManager.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/registry/Registry.h"
#include "platform/ui/Dialogs.h"
#include "platform/ui/Terminate.h"
#include "tools/EventLoopWait.h"

#include <QTemporaryDir>
#include <QWidget>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>

namespace kestrom::capture::test {

class MediatorFixture : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(registryDir_.isValid());
    registry::SetRegistryDirectory(registryDir_.path());
    unsetenv("KESTROM_TEST_DEVICES");
    engine::SetDeviceWatchThreadEnabled(false);
    dshow::SetTestCameraPlugged(true);
    ui::ResetTerminated();
    ASSERT_TRUE(InitCapturePaths().isEmpty());
    host_ = std::make_unique<QWidget>();
    framecatcher = new engine::TFramecatcher(host_.get());
    mediator.SetFramecatcher(framecatcher);
    mediator.SetCaptureFormPos({30, 120});
    // As the capture form passes them on: the component's preallocation completions.
    framecatcher->OnCreatePreallocFileCompleted = [this](QObject*, const QString& name, bool ok) {
      completions << qMakePair(name, ok);
      emit mediator.PreallocFileCompleted(name, ok);
    };
  }
  void TearDown() override {
    ui::SetModalHandler(nullptr);
    host_.reset();
    engine::StopSyncManager();
    engine::SetDeviceWatchThreadEnabled(true);
    registry::SetRegistryDirectory({});
    ui::ResetTerminated();
  }

  /** @brief Lets events run until the condition holds or the bound passes. */
  static bool WaitFor(const std::function<bool()>& condition, int boundMs = 5000) {
    return tools::WaitFor(condition, boundMs);
  }

  static int CameraIndex() {
    return engine::VideoDeviceList()->IndexOfName(QString::fromUtf16(dshow::kTestCameraName) + " (WDM)");
  }

  /** @brief Size and reserved bytes of a file; nothing when no plain file holds the name. */
  static std::optional<std::pair<int64_t, int64_t>> SizeAndReserved(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return std::make_pair(int64_t(st.st_size), int64_t(st.st_blocks) * 512);
  }

  kestrom::test::CleanDrive clean;
  ui::ScopedScriptedDialogs dialogs;
  CaptureMediator mediator;
  engine::TFramecatcher* framecatcher = nullptr;
  QList<QPair<QString, bool>> completions;

 private:
  QTemporaryDir registryDir_;
  std::unique_ptr<QWidget> host_;
};

}  // namespace kestrom::capture::test
