// Changing the current video or audio device: the old device's settings are stored, the new
// one's restored, its formats loaded from the cache or discovered, and the selection announced.
#include "capture/engine/FK.h"

#include "capture/engine/Registry2.h"
#include "capture/engine/SyncManager.h"

#include <utility>

namespace kestrom::engine {

namespace {

QString KeyOf(const TDevices* list, int index) {
  return list && index >= 0 && index < list->Count() ? list->RegistryKeyOf(index) : QString();
}

}  // namespace

bool TFK::RestoreVideoDeviceSettings() {
  const QString key = KeyOf(VideoDeviceList(), boundVideoDevice_);
  if (!IsCaptureDeviceSource() || key.isEmpty()) return false;
  const bool restored = videoTable_.Restore(key, StoreDeviceSettingsInRegistry_);
  videoTableLoaded_ = true;
  return restored;
}

bool TFK::RestoreAudioDeviceSettings() {
  const QString key = KeyOf(AudioDeviceList(), boundAudioDevice_);
  if (key.isEmpty()) return false;
  const bool restored = audioTable_.Restore(key, StoreDeviceSettingsInRegistry_);
  audioTableLoaded_ = true;
  return restored;
}

void TFK::StoreVideoDeviceSettings() {
  const QString key = KeyOf(VideoDeviceList(), boundVideoDevice_);
  if (!IsCaptureDeviceSource() || key.isEmpty() || !videoTableLoaded_ || !videoTable_.Bool("_DeviceDiscovered")) return;
  videoTable_.Store(key);
}

void TFK::StoreAudioDeviceSettings() {
  const QString key = KeyOf(AudioDeviceList(), boundAudioDevice_);
  if (key.isEmpty() || !audioTableLoaded_ || !audioTable_.Bool("_DeviceDiscovered")) return;
  audioTable_.Store(key);
}

void TFK::OpenPageSaver(PageSaverRecord& record, const QString& name, const QString& keyPath) {
  // The component assigned to PropertyPageSaver makes the saver of this control.
  auto* maker = dynamic_cast<PageSaverMaker*>(PropertyPageSaver_.data());
  if (!maker) return;
  if (!record.saver) record.saver = maker->MakePageSaver(host_.sender);
  if (record.saver) record.saver->Configure(keyPath + QLatin1Char('\\'), name, QStringLiteral("PPSaver"));
}

bool TFK::ApplyPageSaver(PageSaverRecord& record, dshow::IBaseFilter* filter) {
  if (!record.saver || !filter) return false;
  const bool restored = record.saver->Restore(filter);
  if (!record.showPages) return restored;
  return record.saver->ShowPages();
}

void TFK::ClosePageSaver(PageSaverRecord& record) {
  if (!record.saver) return;
  if (record.storeOnClose) record.saver->Store();
  record.saver->Close();
}

bool TFK::ChangeVideoDevice() {
  if (GlobalDevicesState() != 2) return false;
  TDevices* list = VideoDeviceList();
  if (!list || list->Count() == 0) {
    Fire(&TFKEvents::OnNoVideoDevices);
    return false;
  }
  if (VideoDevice_ < 0 || changingVideoDevice_ ||
      CheckDeviceIndex(this, VideoDevice_, list->Count(), QStringLiteral("video capture device")))
    return false;
  SetBusyCursor(true);
  StoreVideoDeviceSettings();
  changingVideoDevice_ = true;
  boundVideoDevice_ = VideoDevice_;
  videoTable_.LoadDefaults();
  videoTableLoaded_ = false;
  // A restore that misses some values keeps all it did read: only a device seen for the first
  // time starts from the defaults.
  RestoreVideoDeviceSettings();
  bool discovered = LoadFormatCache();
  if (!discovered) discovered = DiscoverVideoDevice();
  videoTable_.SetBool("_DeviceDiscovered", discovered);
  // Stored indexes that do not fit this device's lists fall back to the default entry.
  if (videoTable_.Int("VideoSize") < 0 || videoTable_.Int("VideoSize") >= videoSizes_.size())
    videoTable_.SetInt("VideoSize", 0);
  if (videoTable_.Int("VideoSubtype") < 0 || videoTable_.Int("VideoSubtype") >= videoSubtypes_.size())
    videoTable_.SetInt("VideoSubtype", 0);
  const int inputs = static_cast<int>(videoTable_.Text("VideoInputs").split(QStringLiteral("\r\n"), Qt::SkipEmptyParts).size());
  if (videoTable_.Int("VideoInput") < 0 || (videoTable_.Int("VideoInput") >= inputs && inputs > 0) ||
      (inputs == 0 && videoTable_.Int("VideoInput") != 0))
    videoTable_.SetInt("VideoInput", 0);
  StoreVideoDeviceSettings();
  SetBusyCursor(false);
  if (discovered) {
    int w = 320, h = 240;
    if (!SelectedVideoSize(-1, w, h)) {
      w = 320;
      h = 240;
    }
    selectedWidth_ = w;
    selectedHeight_ = h;
    RepaintDisplays();
    WriteLog(QStringLiteral("call change video device"));
    Fire(&TFKEvents::OnVideoDeviceSelected);
    WriteLog(QStringLiteral("end call change video device"));
    if (AssociateAudioAndVideoDevices_) {
      const QString associated = videoTable_.Text("_AudioDeviceAssociated");
      const TDevices* audio = AudioDeviceList();
      if (!associated.isEmpty()) {
        const int index = audio ? audio->IndexOfName(associated) : -1;
        if (index >= 0) {
          AudioDevice_ = index;
          ChangeAudioDevice();
        }
      } else if (audio && boundAudioDevice_ >= 0) {
        videoTable_.SetText("_AudioDeviceAssociated", audio->Name(boundAudioDevice_));
      }
    }
  }
  OpenPageSaver(videoPageSaver_, GetVideoDeviceName(), KeyOf(list, boundVideoDevice_));
  changingVideoDevice_ = false;
  return discovered;
}

bool TFK::ChangeAudioDevice() {
  TDevices* list = AudioDeviceList();
  if (GlobalDevicesState() != 2 || !list || list->Count() == 0 ||
      CheckDeviceIndex(this, AudioDevice_, list->Count(), QStringLiteral("audio capture device")) || AudioDevice_ < 0)
    return false;
  SetBusyCursor(true);
  StoreAudioDeviceSettings();
  boundAudioDevice_ = AudioDevice_;
  audioTable_.LoadDefaults();
  audioTableLoaded_ = false;
  if (TRegistry2().KeyExists(KeyOf(list, boundAudioDevice_))) RestoreAudioDeviceSettings();
  // Each device is discovered the first time it becomes current, not only the first device.
  bool discovered = audioTable_.Bool("_DeviceDiscovered");
  if (!discovered) {
    discovered = DiscoverAudioDevice();
    audioTable_.SetBool("_DeviceDiscovered", discovered);
    audioTableLoaded_ = true;
  }
  StoreAudioDeviceSettings();
  if (discovered) {
    if (AssociateAudioAndVideoDevices_ && boundVideoDevice_ >= 0)
      videoTable_.SetText("_AudioDeviceAssociated", list->Name(boundAudioDevice_));
    if (audioSource_) SelectAudioInput();
    Fire(&TFKEvents::OnAudioDeviceSelected);
  }
  SetBusyCursor(false);
  return discovered;
}

void TFK::HandleDeviceArrival(bool isVideo, int index) {
  if (destroying_ || state_ != cs_None) return;
  if (!isVideo) {
    // An audio device asked for while it was away becomes the current one now.
    if (index == AudioDevice_ && index != boundAudioDevice_) ChangeAudioDevice();
    return;
  }
  if (index != VideoDevice_ || !IsCaptureDeviceSource()) return;
  if (index != boundVideoDevice_) ChangeVideoDevice();
  // Queued, so that the arrival is announced before the preview starts on the device again.
  if (std::exchange(previewLostWithDevice_, false)) PostSyncCommand(sy_StartPreview, this);
}

void TFK::FirstIdleStart() {
  if (firstIdleStartDone_) return;
  firstIdleStartDone_ = true;
  if (boundVideoDevice_ == VideoDevice_ || VideoDevice_ < 0) return;
  if (AudioDevice_ >= 0 && boundAudioDevice_ != AudioDevice_) ChangeAudioDevice();
  ChangeVideoDevice();
}

}  // namespace kestrom::engine
