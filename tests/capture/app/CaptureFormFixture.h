#pragma once
// The capture form on the real component, graph and test camera as its tests set it up: a clean
// system drive and registry, no device watch thread, the test camera plugged, scripted message
// boxes and first-run checks, and the form started beside an analysis window.

#include "StartupTestSupport.h"
#include "capture/app/CaptureGlobals.h"
#include "capture/app/KestromCaptureForm.h"
#include "capture/engine/DeviceProvider.h"
#include "capture/engine/SyncManager.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/registry/Registry.h"
#include "platform/ui/Dialogs.h"
#include "platform/ui/Terminate.h"
#include "tools/EventLoopWait.h"

#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <variant>

namespace kestrom::capture {

using tools::WaitFor;

/**
 * @brief The machine's devices with the video inputs narrowed to the test camera, optionally
 * none, or followed by more names bound to the test camera.
 */
class CameraProvider final : public engine::DeviceProvider {
 public:
  bool noCamera = false;
  QStringList extraCameras;

  std::optional<std::vector<engine::DeviceMoniker>> Enumerate(const QString& category) override {
    auto found = system_.Enumerate(category);
    if (!found || category != QLatin1String(engine::CLSID_VideoInputDeviceCategory)) return found;
    std::vector<engine::DeviceMoniker> cameras;
    for (const engine::DeviceMoniker& m : *found)
      if (m.friendlyName && m.friendlyName->startsWith(QString::fromUtf16(dshow::kTestCameraName)))
        cameras.push_back(m);
    if (noCamera) cameras.clear();
    if (!cameras.empty()) {
      const engine::DeviceMoniker camera = cameras.front();
      for (int i = 0; i < extraCameras.size(); ++i) {
        engine::DeviceMoniker extra = camera;
        extra.displayName = camera.displayName + QString("#extra%1").arg(i);
        extra.friendlyName = extraCameras[i];
        cameras.push_back(extra);
      }
    }
    return cameras;
  }

 private:
  engine::SystemDeviceProvider system_;
};

/**
 * @brief The common ground of the capture form's tests. A test's own fixture calls SetUp first,
 * then narrows the devices or changes the test devices' pace; TearDown puts all of it back.
 */
class CaptureFormFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(registryDir_.isValid());
    registry::SetRegistryDirectory(registryDir_.path());
    ui::ResetTerminated();
    unsetenv("KESTROM_TEST_DEVICES");
    engine::SetDeviceWatchThreadEnabled(false);
    dshow::SetTestCameraPlugged(true);
  }
  void TearDown() override {
    EXPECT_TRUE(dialogs_.dialogs.Errors().isEmpty()) << dialogs_.dialogs.Errors().join('|').toStdString();
    form_.reset();
    engine::StopSyncManager();
    engine::SetDeviceProvider(nullptr);
    engine::SetDeviceWatchThreadEnabled(true);
    dshow::SetTestCameraPlugged(true);
    dshow::SetTestDevicesLive(true);
    registry::SetRegistryDirectory({});
    ui::ResetTerminated();
  }

  /** @brief Lists the test camera as the only video input (see provider_ for its options). */
  void UseTestCameraOnly() {
    provider_ = std::make_shared<CameraProvider>();
    engine::SetDeviceProvider(provider_);
  }
  /** @brief The form as at start-up, shown, beside an analysis window; then its start step. */
  TKestromCaptureForm& Start(bool runStartStep = true) {
    form_ = std::make_unique<TKestromCaptureForm>(mediator_);
    form_->SetAnalysisWindowScan([this] { return analysisWindowOpen_; });
    form_->show();
    engine::SyncIdleHandler();
    if (runStartStep) form_->StartTimerTimer();
    return *form_;
  }

  int State() const { return static_cast<int>(form_->Framecatcher->GetCurrentState()); }
  QStringList LogLines() const { return form_->mmoLog->toPlainText().split('\n', Qt::SkipEmptyParts); }
  QStringList Messages() const { return dialogs_.dialogs.MessageTexts(); }
  QList<ui::MessageRequest> MessageRequests() const {
    QList<ui::MessageRequest> messages;
    for (const ui::AskedItem& item : dialogs_.dialogs.Asked())
      if (auto* m = std::get_if<ui::MessageRequest>(&item)) messages << *m;
    return messages;
  }

  QTemporaryDir registryDir_;
  kestrom::test::CleanDrive drive_;
  kestrom::test::ScopedFirstRunChecks checks_;
  ui::ScopedScriptedDialogs dialogs_;
  std::shared_ptr<CameraProvider> provider_;
  CaptureMediator mediator_;
  bool analysisWindowOpen_ = true;
  std::unique_ptr<TKestromCaptureForm> form_;
};

}  // namespace kestrom::capture
