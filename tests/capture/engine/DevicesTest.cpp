#include "EngineFixtures.h"

#include "capture/engine/Devices.h"
#include "capture/engine/Registry2.h"

namespace kestrom::engine::test {

namespace {

const QString kVideo = QString::fromLatin1(CLSID_VideoInputDeviceCategory);
const QString kAudio = QString::fromLatin1(CLSID_AudioInputDeviceCategory);

QStringList Names(const TDevices& list) {
  QStringList names;
  for (int i = 0; i < list.Count(); ++i) names << list.Name(i);
  return names;
}

}  // namespace

class DevicesTest : public EngineTest {
 protected:
  std::unique_ptr<TDevices> audio_, video_;
  void MakeCaptureLists() {
    audio_ = std::make_unique<TDevices>(dk_AudioCapture, nullptr, true, QStringList(), QString(), kAudio,
                                        "audio device");
    video_ = std::make_unique<TDevices>(dk_VideoCapture, audio_.get(), true, VfwDriverNames(), QString(), kVideo,
                                        "video device");
  }
};

TEST_F(DevicesTest, TwinCamerasAreNumberedAndKeepTheirPlaceAcrossUnplugging) {
  provider_->Plug(CLSID_VideoInputDeviceCategory, "usb-1", "Cam");
  provider_->Plug(CLSID_VideoInputDeviceCategory, "usb-2", "Cam");
  provider_->Plug(CLSID_VideoInputDeviceCategory, "old", "Old Capture Driver", CLSID_VfwCapture);
  MakeCaptureLists();
  EXPECT_EQ(Names(*video_), (QStringList{"Cam (WDM)", "Cam #2 (WDM)", "Old Capture Driver (vfw)"}));
  EXPECT_EQ(video_->NamesText(), "Cam (WDM)\r\nCam #2 (WDM)\r\nOld Capture Driver (vfw)\r\n");
  EXPECT_EQ(video_->Entry(2)->VfwDriverIndex, -1);  // not among the (empty) driver names
  EXPECT_FALSE(video_->Entry(2)->IsWDM);

  provider_->Unplug(CLSID_VideoInputDeviceCategory, "usb-1");
  video_->Rebuild();
  ASSERT_EQ(video_->Count(), 3);
  EXPECT_FALSE(video_->Entry(0)->PresentNow);
  EXPECT_TRUE(video_->Entry(0)->PresentBefore);
  EXPECT_TRUE(video_->Entry(1)->PresentNow);

  provider_->Plug(CLSID_VideoInputDeviceCategory, "usb-1", "Cam");
  video_->Rebuild();
  EXPECT_EQ(Names(*video_), (QStringList{"Cam (WDM)", "Cam #2 (WDM)", "Old Capture Driver (vfw)"}));
  EXPECT_TRUE(video_->Entry(0)->PresentNow);
  EXPECT_FALSE(video_->Entry(0)->PresentBefore);
  EXPECT_EQ(video_->RegistryKeyOf(0), StorePath() + "Devices\\usb-1Cam");
  EXPECT_EQ(video_->RegistryKeyOf(3), "");
  EXPECT_EQ(video_->Name(-1), "");
}

TEST_F(DevicesTest, AnAudioNamedCameraIsListedOnceAmongTheAudioDevices) {
  provider_->Plug(CLSID_AudioInputDeviceCategory, "alsa-0", "Line In");
  provider_->Plug(CLSID_VideoInputDeviceCategory, "usb-1", "Cam");
  provider_->Plug(CLSID_VideoInputDeviceCategory, "usb-7", "Capture Card Audio");
  MakeCaptureLists();
  for (int i = 0; i < 5; ++i) {
    video_->Rebuild();
    audio_->Rebuild();
  }
  EXPECT_EQ(Names(*video_), (QStringList{"Cam (WDM)"}));
  EXPECT_EQ(Names(*audio_), (QStringList{"Line In (WDM)", "Capture Card Audio (WDM)"}));
  const TCapDeviceInfo moved = *audio_->Entry(1);
  EXPECT_TRUE(moved.MovedToSibling);
  EXPECT_EQ(moved.Category, kVideo);
  EXPECT_TRUE(moved.PresentNow);

  // Its presence follows the video enumeration that finds it.
  provider_->Unplug(CLSID_VideoInputDeviceCategory, "usb-7");
  video_->Rebuild();
  EXPECT_FALSE(audio_->Entry(1)->PresentNow);
  audio_->Rebuild();
  EXPECT_FALSE(audio_->Entry(1)->PresentNow);
  EXPECT_TRUE(audio_->Entry(0)->PresentNow);
}

TEST_F(DevicesTest, AFailedEnumerationKeepsThePresenceMarksAndIsLogged) {
  EnableProcessLog();
  provider_->Plug(CLSID_VideoInputDeviceCategory, "usb-1", "Cam");
  MakeCaptureLists();
  provider_->failing = true;
  video_->Rebuild();
  ASSERT_EQ(video_->Count(), 1);
  EXPECT_TRUE(video_->Entry(0)->PresentNow);
  EXPECT_TRUE(video_->Entry(0)->PresentBefore);
  EXPECT_TRUE(ProcessLogLines().join('\n').contains("ERROR: cannot enumerate the video device list"));
  EXPECT_TRUE(ProcessLogLines().join('\n').contains("instance: create sys dev enum: no"));
}

TEST_F(DevicesTest, RebuildsAreFramedInTheLog) {
  EnableProcessLog();
  provider_->Plug(CLSID_VideoInputDeviceCategory, "usb-1", "Cam");
  MakeCaptureLists();
  const QStringList lines = ProcessLogLines();
  EXPECT_TRUE(lines.contains("rebuilding video device") || lines.join('\n').contains(" rebuilding video device"));
  EXPECT_TRUE(lines.join('\n').contains("l= 1, adding Cam (WDM)"));
  EXPECT_TRUE(lines.contains(QString(80, 'v')));
  EXPECT_TRUE(lines.join('\n').contains("rebuilded video device"));
}

TEST_F(DevicesTest, CompressorsAreSkippedAndReorderedByPreference) {
  for (const char* name : {"Cinepak Codec", "Microsoft MPEG-4 Video Codec V2", "WMVideo8 Encoder DMO",
                           "MJPEG Compressor", "Indeo XLDecompress", "MPEG-1 Video Codec", "XviD MPEG-4 Codec"})
    provider_->Plug(CLSID_VideoCompressorCategory, QString("@c:") + name, name);
  for (const char* name : {"Microsoft ADPCM", "GSM 6.10", "PCM", "MPEG Layer-3", "Windows Media Audio V2",
                           "WMAudio Encoder DMO", "IMA ADPCM"})
    provider_->Plug(CLSID_AudioCompressorCategory, QString("@a:") + name, name);

  TDevices video(dk_VideoCompressor, nullptr, false, {}, "ENCODER DMO!XLDECOMPRESS",
                 CLSID_VideoCompressorCategory, "video compressor");
  TDevices audio(dk_AudioCompressor, nullptr, false, {}, "ENCODER DMO", CLSID_AudioCompressorCategory,
                 "audio compressor");
  EXPECT_EQ(Names(video), (QStringList{"Microsoft MPEG-4 Video Codec V2", "XviD MPEG-4 Codec",
                                       "MPEG-1 Video Codec", "MJPEG Compressor", "Cinepak Codec"}));
  // "PCM" does not pick the ADPCM codecs; they stay in their places after the preferred ones.
  EXPECT_EQ(Names(audio), (QStringList{"Windows Media Audio V2", "PCM", "MPEG Layer-3", "Microsoft ADPCM",
                                       "GSM 6.10", "IMA ADPCM"}));
}

TEST_F(DevicesTest, TheRegisteredCodecJoinsTheVideoCompressorsOnce) {
  {
    registry::TRegistry reg(registry::HKEY_CLASSES_ROOT);
    ASSERT_TRUE(reg.OpenKey(QString("\\CLSID\\") + CLSID_RegisteredCodec, true));
    reg.WriteString("", "Screen Codec");
  }
  provider_->Plug(CLSID_VideoCompressorCategory, "@c:mjpeg", "MJPEG Compressor");
  TDevices video(dk_VideoCompressor, nullptr, false, {}, "ENCODER DMO!XLDECOMPRESS",
                 CLSID_VideoCompressorCategory, "video compressor");
  video.Rebuild();
  video.Rebuild();
  ASSERT_EQ(Names(video), (QStringList{"MJPEG Compressor", "Screen Codec"}));
  const TCapDeviceInfo codec = *video.Entry(1);
  EXPECT_TRUE(codec.Manual);
  EXPECT_TRUE(codec.PresentNow);
  EXPECT_EQ(codec.ClassId, CLSID_RegisteredCodec);
  EXPECT_EQ(codec.Key, "Screen Codec");
}

TEST_F(DevicesTest, KeysNamesAndLookups) {
  EXPECT_EQ(DeviceKey("@device:pnp:\\\\?\\usb#vid_046d&pid_0825#{65e8773d-8f56}\\global", "Cam #1"),
            "devicepnpusbvid046dpid0825{65e8773d-8f56}globalCam 1");
  QString vendor, product;
  AvcVendorAndProduct("@device:pnp:\\\\?\\avc#sony&dcr-trv900#ab12#{x}", vendor, product);
  EXPECT_EQ(vendor, "sony dcr");
  EXPECT_EQ(product, "trv900");
  AvcVendorAndProduct("@device:pnp:\\\\?\\avc#panasonic#1#", vendor, product);
  EXPECT_EQ(vendor, "panasonic");
  EXPECT_EQ(product, "panasonic");
  AvcVendorAndProduct("/dev/video0", vendor, product);
  EXPECT_TRUE(vendor.isEmpty() && product.isEmpty());
  EXPECT_EQ(VfwDriverNames(), QStringList(10, "."));

  provider_->Plug(CLSID_VideoInputDeviceCategory, "usb-1", "HD Webcam C270");
  provider_->Plug(CLSID_VideoInputDeviceCategory, "usb-2", "Microsoft DV Camera and VCR");
  QString friendly;
  DeviceMoniker moniker;
  EXPECT_TRUE(FindDeviceMoniker(kVideo, "HD Webcam C270", 0, friendly, moniker));
  EXPECT_EQ(moniker.displayName, "usb-1");
  EXPECT_FALSE(FindDeviceMoniker(kVideo, "hd webcam", 1, friendly, moniker));  // case counts
  EXPECT_TRUE(FindDeviceMoniker(kVideo, "Camera", 1, friendly, moniker));
  EXPECT_EQ(friendly, "Microsoft DV Camera and VCR");
  EXPECT_TRUE(FindDeviceMoniker(kVideo, "DV!!VCR", 2, friendly, moniker));
  EXPECT_FALSE(FindDeviceMoniker(kVideo, "DV!Tape", 2, friendly, moniker));
  EXPECT_TRUE(FindDeviceMoniker(kVideo, "usb-1HD Webcam C270", 3, friendly, moniker));
  EXPECT_EQ(moniker.displayName, "usb-1");

  MakeCaptureLists();
  EXPECT_TRUE(video_->Entry(1)->IsDV);
  EXPECT_FALSE(video_->Entry(0)->IsDV);
}

}  // namespace kestrom::engine::test
