#include "capture/engine/DeviceProvider.h"

#include <QDir>
#include <QFile>
#include <mutex>

namespace kestrom::engine {

bool TestDevicesEnabled() { return qEnvironmentVariable("KESTROM_TEST_DEVICES") != QLatin1String("0"); }

std::optional<std::vector<DeviceMoniker>> SystemDeviceProvider::Enumerate(const QString& category) {
  std::vector<DeviceMoniker> devices;
  auto test = [&](const char* moniker, const char* name) {
    if (TestDevicesEnabled())
      devices.push_back({QString::fromLatin1(moniker), QString::fromLatin1(name), QString::fromLatin1(CLSID_Proxy)});
  };
  if (category.compare(QLatin1String(CLSID_VideoInputDeviceCategory), Qt::CaseInsensitive) == 0) {
    devices = ScanV4l2Devices();
    test(TestCameraMoniker, TestCameraName);
  } else if (category.compare(QLatin1String(CLSID_AudioInputDeviceCategory), Qt::CaseInsensitive) == 0) {
    devices = ScanAlsaCaptureDevices();
    test(TestMicrophoneMoniker, TestMicrophoneName);
  } else if (category.compare(QLatin1String(CLSID_VideoCompressorCategory), Qt::CaseInsensitive) == 0) {
    devices = ScanCompressors(true);
  } else if (category.compare(QLatin1String(CLSID_AudioCompressorCategory), Qt::CaseInsensitive) == 0) {
    devices = ScanCompressors(false);
  }
  return devices;
}

namespace {
std::mutex providerMutex;
std::shared_ptr<DeviceProvider> installedProvider;
}  // namespace

std::shared_ptr<DeviceProvider> CurrentDeviceProvider() {
  std::lock_guard lock(providerMutex);
  if (!installedProvider) installedProvider = std::make_shared<SystemDeviceProvider>();
  return installedProvider;
}

void SetDeviceProvider(std::shared_ptr<DeviceProvider> provider) {
  std::lock_guard lock(providerMutex);
  installedProvider = std::move(provider);
}

QString DeviceNodesSignature() {
  QStringList parts;
  parts << QDir(QStringLiteral("/dev")).entryList({QStringLiteral("video*")}, QDir::System | QDir::Files,
                                                  QDir::Name);
  parts << QDir(QStringLiteral("/dev/v4l/by-id")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot,
                                                            QDir::Name);
  parts << QDir(QStringLiteral("/dev/snd")).entryList({QStringLiteral("pcmC*c")}, QDir::System | QDir::Files,
                                                      QDir::Name);
  QFile cards(QStringLiteral("/proc/asound/cards"));
  if (cards.open(QIODevice::ReadOnly)) parts << QString::fromUtf8(cards.readAll());
  return parts.join(QLatin1Char('\n'));
}

}  // namespace kestrom::engine
