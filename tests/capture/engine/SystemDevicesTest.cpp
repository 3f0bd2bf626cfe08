// The engine's device lists over the graph's system device enumerator.
#include "EngineFixtures.h"

#include "capture/engine/DeviceProvider.h"
#include "capture/engine/Devices.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/sources/DeviceEnumerator.h"
#include "platform/dshow/sources/TestDevices.h"

#include <cstdlib>

namespace kestrom::engine::test {

namespace {

using dshow::kTestCameraName;
using dshow::kTestMicrophoneName;

const QString kTestCamera = QString::fromUtf16(kTestCameraName);
const QString kTestMicrophone = QString::fromUtf16(kTestMicrophoneName);

QStringList FriendlyNames(const std::vector<DeviceMoniker>& devices) {
  QStringList names;
  for (const auto& d : devices) names << d.friendlyName.value_or("<none>");
  return names;
}

class SystemDevicesTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    unsetenv("KESTROM_TEST_DEVICES");
    dshow::SetTestCameraPlugged(true);
    SetDeviceProvider(nullptr);  // the system's own: the adapter over the device enumerator
  }
  void TearDown() override {
    unsetenv("KESTROM_TEST_DEVICES");
    dshow::SetTestCameraPlugged(true);
    EngineTest::TearDown();
  }
};

}  // namespace

TEST_F(SystemDevicesTest, EveryCategoryListsWhatTheEnumeratorListsInItsOrder) {
  SystemDeviceProvider provider;
  const struct {
    const char* category;
    com::GUID id;
  } categories[] = {{CLSID_VideoInputDeviceCategory, dshow::CLSID_VideoInputDeviceCategory},
                    {CLSID_AudioInputDeviceCategory, dshow::CLSID_AudioInputDeviceCategory},
                    {CLSID_VideoCompressorCategory, dshow::CLSID_VideoCompressorCategory},
                    {CLSID_AudioCompressorCategory, dshow::CLSID_AudioCompressorCategory}};
  for (const auto& c : categories) {
    SCOPED_TRACE(c.category);
    const auto listed = provider.Enumerate(QString::fromLatin1(c.category));
    ASSERT_TRUE(listed.has_value());
    const std::vector<dshow::DeviceEntry> expected = dshow::ListDevices(c.id);
    ASSERT_EQ(listed->size(), expected.size());
    ASSERT_FALSE(expected.empty());
    for (size_t i = 0; i < expected.size(); ++i) {
      const DeviceMoniker& d = (*listed)[i];
      EXPECT_EQ(d.friendlyName, expected[i].friendlyName);
      EXPECT_EQ(d.displayName, expected[i].displayName);
      EXPECT_EQ(d.devicePath, expected[i].devicePath);
      EXPECT_EQ(d.classId, com::GuidToString(expected[i].clsid));
      EXPECT_TRUE(d.moniker);
    }
  }

  // The test devices, and the compressors under the names the capture program looks for.
  EXPECT_TRUE(FriendlyNames(*provider.Enumerate(CLSID_VideoInputDeviceCategory)).contains(kTestCamera));
  EXPECT_TRUE(FriendlyNames(*provider.Enumerate(CLSID_AudioInputDeviceCategory)).contains(kTestMicrophone));
  const QStringList videoCodecs = FriendlyNames(*provider.Enumerate(CLSID_VideoCompressorCategory));
  const QStringList audioCodecs = FriendlyNames(*provider.Enumerate(CLSID_AudioCompressorCategory));
  EXPECT_TRUE(videoCodecs.contains("Microsoft MPEG-4 Video Codec V2")) << videoCodecs.join(", ").toStdString();
  EXPECT_TRUE(videoCodecs.contains("MJPEG Compressor"));
  EXPECT_TRUE(audioCodecs.contains("Microsoft ADPCM")) << audioCodecs.join(", ").toStdString();
  EXPECT_TRUE(audioCodecs.contains("PCM"));
  EXPECT_TRUE(provider.Enumerate("{00000000-0000-0000-0000-000000000001}")->empty());
  EXPECT_TRUE(provider.Enumerate("not a class id")->empty());
}

TEST_F(SystemDevicesTest, TheGlobalListsShowTheEnumeratorsDevicesWithStableIndexes) {
  InitGlobalDevices();
  EXPECT_TRUE(VideoDevicesText().contains(kTestCamera + " (WDM)\r\n")) << VideoDevicesText().toStdString();
  EXPECT_TRUE(AudioDevicesText().contains(kTestMicrophone + " (WDM)\r\n"));
  EXPECT_TRUE(VideoCompressorsText().startsWith("Microsoft MPEG-4 Video Codec V2\r\n"))
      << VideoCompressorsText().toStdString();
  EXPECT_TRUE(AudioCompressorsText().contains("Microsoft ADPCM\r\n"));

  TDevices& video = *VideoDeviceList();
  const int camera = video.IndexOfName(kTestCamera + " (WDM)");
  ASSERT_GE(camera, 0);
  const TCapDeviceInfo entry = *video.Entry(camera);
  EXPECT_EQ(entry.Key, DeviceKey("@device:pnp:kestrom:test-camera", kTestCamera));
  EXPECT_TRUE(entry.IsWDM);
  EXPECT_EQ(entry.DuplicateNumber, 1);
  const int count = video.Count();

  // Unplugged, the camera keeps its place and reads as absent; plugged back, it is present again
  // at the same index.
  dshow::SetTestCameraPlugged(false);
  video.Rebuild();
  EXPECT_EQ(video.Count(), count);
  EXPECT_FALSE(video.Entry(camera)->PresentNow);
  dshow::SetTestCameraPlugged(true);
  video.Rebuild();
  EXPECT_EQ(video.Count(), count);
  EXPECT_EQ(video.IndexOfName(kTestCamera + " (WDM)"), camera);
  EXPECT_TRUE(video.Entry(camera)->PresentNow);
  EXPECT_TRUE(video.Entry(camera)->PresentBefore == false);

  // The graph builder finds the listed device again by its key and binds its filter.
  QString friendly;
  DeviceMoniker moniker;
  ASSERT_TRUE(FindDeviceMoniker(CLSID_VideoInputDeviceCategory, entry.Key, 3, friendly, moniker));
  EXPECT_EQ(friendly, kTestCamera);
  const com::ComPtr<dshow::IBaseFilter> filter = BindFilter(moniker);
  ASSERT_TRUE(filter);
  com::CLSID clsid{};
  filter->GetClassID(&clsid);
  EXPECT_TRUE(clsid == dshow::CLSID_KestromTestCamera);
  EXPECT_FALSE(BindFilter(DeviceMoniker{}));

  EXPECT_EQ(GlobalAudioFormatNames().size(), 29);
  StopSyncManager();  // frees the lists even when the manager never ran
  EXPECT_EQ(GlobalDevicesState(), 0);
  EXPECT_EQ(VideoDeviceList(), nullptr);
}

TEST_F(SystemDevicesTest, TestDevicesCanBeSwitchedOff) {
  setenv("KESTROM_TEST_DEVICES", "0", 1);
  SystemDeviceProvider provider;
  EXPECT_FALSE(FriendlyNames(*provider.Enumerate(CLSID_VideoInputDeviceCategory)).contains(kTestCamera));
  EXPECT_FALSE(FriendlyNames(*provider.Enumerate(CLSID_AudioInputDeviceCategory)).contains(kTestMicrophone));
}

TEST_F(SystemDevicesTest, UnpluggingTheTestCameraChangesTheDeviceSignature) {
  const QString plugged = DeviceNodesSignature();
  dshow::SetTestCameraPlugged(false);
  EXPECT_NE(DeviceNodesSignature(), plugged);
  dshow::SetTestCameraPlugged(true);
  EXPECT_EQ(DeviceNodesSignature(), plugged);
}

}  // namespace kestrom::engine::test
