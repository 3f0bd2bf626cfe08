#include "EngineFixtures.h"

#include "capture/engine/DeviceProvider.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdlib>

namespace kestrom::engine::test {

namespace {

QStringList FriendlyNames(const std::vector<DeviceMoniker>& devices) {
  QStringList names;
  for (const auto& d : devices) names << d.friendlyName.value_or("<none>");
  return names;
}

}  // namespace

TEST(SystemDevices, ListTheTestDevicesTheCompressorsAndThisMachinesDevices) {
  unsetenv("KESTROM_TEST_DEVICES");
  SystemDeviceProvider provider;
  const auto video = provider.Enumerate(CLSID_VideoInputDeviceCategory);
  const auto audio = provider.Enumerate(CLSID_AudioInputDeviceCategory);
  const auto videoCodecs = provider.Enumerate(CLSID_VideoCompressorCategory);
  const auto audioCodecs = provider.Enumerate(CLSID_AudioCompressorCategory);
  ASSERT_TRUE(video && audio && videoCodecs && audioCodecs);

  ASSERT_FALSE(video->empty());
  EXPECT_EQ(video->back().displayName, TestCameraMoniker);
  EXPECT_EQ(video->back().friendlyName, TestCameraName);
  ASSERT_FALSE(audio->empty());
  EXPECT_EQ(audio->back().friendlyName, TestMicrophoneName);

  // Every real camera is named by its driver and keyed by a path that reaches its node.
  for (size_t i = 0; i + 1 < video->size(); ++i) {
    const DeviceMoniker& d = (*video)[i];
    EXPECT_TRUE(QFileInfo((d.displayName)).canonicalFilePath().startsWith("/dev/video")) << d.displayName.toStdString();
    EXPECT_FALSE(d.friendlyName->isEmpty());
  }
  if (QDir("/dev").entryList({"video*"}, QDir::System).isEmpty()) EXPECT_EQ(video->size(), 1u);

  EXPECT_TRUE(FriendlyNames(*videoCodecs).contains("Microsoft MPEG-4 Video Codec V2"));
  EXPECT_TRUE(FriendlyNames(*videoCodecs).contains("DV Codec"));
  EXPECT_TRUE(FriendlyNames(*videoCodecs).contains("MJPEG Compressor"));
  EXPECT_TRUE(FriendlyNames(*audioCodecs).contains("Microsoft ADPCM"));
  EXPECT_TRUE(FriendlyNames(*audioCodecs).contains("PCM"));
  for (const auto& d : *videoCodecs) EXPECT_FALSE(EncoderOfCompressor(d.displayName).isEmpty());
  EXPECT_EQ(EncoderOfCompressor("@ffmpeg:msmpeg4v2"), "msmpeg4v2");
  EXPECT_EQ(EncoderOfCompressor("/dev/video0"), "");
  EXPECT_TRUE(provider.Enumerate("{00000000-0000-0000-0000-000000000000}")->empty());
}

TEST(SystemDevices, TestDevicesCanBeSwitchedOff) {
  setenv("KESTROM_TEST_DEVICES", "0", 1);
  SystemDeviceProvider provider;
  const auto video = provider.Enumerate(CLSID_VideoInputDeviceCategory);
  const auto audio = provider.Enumerate(CLSID_AudioInputDeviceCategory);
  unsetenv("KESTROM_TEST_DEVICES");
  EXPECT_FALSE(FriendlyNames(*video).contains(TestCameraName));
  EXPECT_FALSE(FriendlyNames(*audio).contains(TestMicrophoneName));
}

TEST_F(EngineTest, TheGlobalListsShowTheSystemDevicesInTheirOrder) {
  SetDeviceProvider(nullptr);  // the system's own
  InitGlobalDevices();
  EXPECT_TRUE(VideoDevicesText().contains(QString(TestCameraName) + " (WDM)\r\n"));
  EXPECT_TRUE(AudioDevicesText().contains(QString(TestMicrophoneName) + " (WDM)\r\n"));
  EXPECT_TRUE(VideoCompressorsText().startsWith("Microsoft MPEG-4 Video Codec V2\r\n"));
  EXPECT_TRUE(AudioCompressorsText().contains("Microsoft ADPCM\r\n"));
  EXPECT_EQ(GlobalAudioFormatNames().size(), 29);
  StopSyncManager();  // frees the lists even when the manager never ran
  EXPECT_EQ(GlobalDevicesState(), 0);
  EXPECT_EQ(VideoDeviceList(), nullptr);
}

}  // namespace kestrom::engine::test

namespace kestrom::engine::test {

TEST(SystemDevices, NodesThatAreNotCaptureDevicesAreSkipped) {
  QTemporaryDir dev;
  for (const char* name : {"video0", "video12", "videoX"}) {
    QFile f(dev.filePath(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  EXPECT_TRUE(ScanV4l2Devices(dev.path()).empty());
  EXPECT_TRUE(ScanV4l2Devices(dev.filePath("missing")).empty());
}

}  // namespace kestrom::engine::test
