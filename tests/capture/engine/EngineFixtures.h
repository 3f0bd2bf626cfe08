#pragma once
// Fakes and a fixture shared by the engine's tests: a component that records what the engine
// asked of it, a device provider whose devices the test plugs and unplugs, and a fixture that
// gives each test its own registry, current folder and process log.

#include "capture/engine/DeviceProvider.h"
#include "capture/engine/EngineComponent.h"
#include "capture/engine/EngineLog.h"
#include "capture/engine/SyncManager.h"
#include "platform/core/Clock.h"
#include "platform/registry/Registry.h"
#include "tests/platform/core/QtPrint.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>
#include <vector>

namespace kestrom::engine::test {

struct LoggedEvent {
  int code;
  QString severity;
  QString message;
};

class FakeComponent : public EngineComponent {
 public:
  bool Initialised() const override { return initialised; }
  bool Destroying() const override { return destroying; }
  void FireLog(TLogType code, const QString& severity, const QString& message) override {
    logged.push_back({static_cast<int>(code), severity, message});
  }
  TCurrentState CurrentState() const override { return state; }
  int BoundVideoDevice() const override { return videoDevice; }
  bool VideoSourceIsCaptureDevice() const override { return captureSource; }
  QObject* ParentForm() const override { return form; }
  void StopCurrentMode() override {
    ++stops;
    state = cs_None;
  }
  void ExecuteSyncCommand(TSyncCommand command) override { commands.push_back(command); }
  bool AutoStartPreview() const override { return autoStart; }
  bool StartPreview() override {
    ++previews;
    state = cs_Preview;
    return true;
  }
  void FireDeviceArrivalOrRemoval(bool arrival, bool isVideo, const QString& name, int index) override {
    deviceEvents.push_back({arrival, isVideo, name, index});
  }
  void RepaintDisplays() override { ++repaints; }

  struct DeviceEvent {
    bool arrival;
    bool isVideo;
    QString name;
    int index;
    bool operator==(const DeviceEvent&) const = default;
  };

  bool initialised = true;
  bool destroying = false;
  TCurrentState state = cs_None;
  int videoDevice = 0;
  bool captureSource = true;
  QObject* form = nullptr;
  bool autoStart = false;
  int stops = 0;
  int previews = 0;
  int repaints = 0;
  std::vector<LoggedEvent> logged;
  std::vector<TSyncCommand> commands;
  std::vector<DeviceEvent> deviceEvents;
};

/** @brief Devices by category that a test plugs in and out; an enumeration can be made to fail. */
class FakeProvider : public DeviceProvider {
 public:
  std::optional<std::vector<DeviceMoniker>> Enumerate(const QString& category) override {
    ++enumerations;
    if (failing) return std::nullopt;
    return devices[category];
  }
  void Plug(const char* category, const QString& moniker, const QString& name,
            const QString& clsid = QString::fromLatin1(CLSID_Proxy)) {
    devices[QString::fromLatin1(category)].push_back({moniker, name, clsid, {}, {}});
  }
  void Unplug(const char* category, const QString& moniker) {
    auto& list = devices[QString::fromLatin1(category)];
    std::erase_if(list, [&](const DeviceMoniker& m) { return m.displayName == moniker; });
  }
  std::map<QString, std::vector<DeviceMoniker>> devices;
  bool failing = false;
  int enumerations = 0;
};

class EngineTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(registryDir_.isValid() && workDir_.isValid());
    registry::SetRegistryDirectory(registryDir_.path());
    previousDir_ = QDir::currentPath();
    QDir::setCurrent(workDir_.path());
    ResetProcessLog();
    core::SetSystemClock(&logClock_);  // log lines carry no real elapsed times
    provider_ = std::make_shared<FakeProvider>();
    SetDeviceProvider(provider_);
  }
  void TearDown() override {
    StopSyncManager();
    SetDeviceProvider(nullptr);
    SetSyncClock(nullptr);
    SetDeviceSignature(nullptr);
    SetDeviceWatchThreadEnabled(true);
    core::SetSystemClock(nullptr);
    ResetProcessLog();
    QDir::setCurrent(previousDir_);
    registry::SetRegistryDirectory({});
  }

  QTemporaryDir registryDir_;
  QTemporaryDir workDir_;
  QString previousDir_;
  core::ManualClock logClock_{0};
  std::shared_ptr<FakeProvider> provider_;
};

}  // namespace kestrom::engine::test
