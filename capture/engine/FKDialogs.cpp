// The settings dialogs of devices and compressors, each on a temporary graph when none runs.
#include "capture/engine/FK.h"

#include "capture/engine/Registry2.h"
#include "capture/engine/SyncManager.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/base/PropertyPages.h"
#include "platform/dshow/pages/PropertyPage.h"

namespace kestrom::engine {

using com::ComPtr;
using namespace dshow;
using com::SUCCEEDED;

namespace {

constexpr int kDeviceDialogs = 0, kFormatDialog = 4, kSourceDialog = 5, kDisplayDialog = 6;

/** @brief The old driver dialog a ShowDeviceDialog kind stands for; 0 for none. */
int VfwDialogOf(int kind) {
  switch (kind) {
    case kFormatDialog: return VfwCaptureDialog_Format;
    case kSourceDialog: return VfwCaptureDialog_Source;
    case kDisplayDialog: return VfwCaptureDialog_Display;
    default: return 0;
  }
}

QString AudioDeviceName(int index) {
  const TDevices* list = AudioDeviceList();
  return list ? list->Name(index) : QString();
}

}  // namespace

bool TFK::DialogsAllowed() {
  if (GlobalDevicesState() != 2 || !initialised_) return false;
  return CheckMode(this, cm_None | cm_Preview, ll_Error, false);
}

bool TFK::DialogVideoDevice(bool select) {
  TDevices* list = VideoDeviceList();
  if (CheckAndLog(this, !list || list->Count() == 0 || VideoDevice_ < 0, ll_Error,
                  QStringLiteral("no video capture device"), TLogType::e_no_video_input_device))
    return false;
  // A device unplugged since it was chosen leaves an index past the list.
  if (CheckDeviceIndex(this, VideoDevice_, list->Count(), QStringLiteral("video capture device"))) return false;
  if (!select) return true;
  if (boundVideoDevice_ != VideoDevice_) ChangeVideoDevice();
  return boundVideoDevice_ == VideoDevice_ && videoTable_.Bool("_DeviceDiscovered");
}

bool TFK::DialogAudioDevice(bool select) {
  TDevices* list = AudioDeviceList();
  if (CheckAndLog(this, !list || list->Count() == 0 || AudioDevice_ < 0, ll_Error,
                  QStringLiteral("no Audio capture device"), TLogType::e_no_audio_input_device))
    return false;
  if (CheckDeviceIndex(this, AudioDevice_, list->Count(), QStringLiteral("audio capture device"))) return false;
  if (!select) return true;
  if (boundAudioDevice_ != AudioDevice_) ChangeAudioDevice();
  return boundAudioDevice_ == AudioDevice_;
}

bool TFK::PrepareDialogGraph(bool video) {
  // The running graph goes first: a device made current now may discover itself on graphs of
  // its own, and the build parameters are taken once it is current.
  ClearGraph(false);
  const bool ready = video ? DialogVideoDevice(true) : DialogAudioDevice(true);
  SnapshotBuildParameters();
  return ready;
}

void TFK::EndDialogGraph(TCurrentState before, const QString& reason) {
  ClearGraph(true);
  state_ = before;
  if (!reason.isEmpty()) RefreshPreview(reason);
}

bool TFK::ShowPagesAt(com::IUnknown* object, const QString& caption, int x, int y) {
  if (!object) return false;
  // The frame is modal: the busy cursor is down while the user works in it.
  const bool busy = BusyCursorDepth() > 0;
  if (busy) SetBusyCursor(false);
  const com::HRESULT hr = ShowObjectPages(ComponentWidget(), x, y, caption, object);
  if (busy) SetBusyCursor(true);
  WriteLog(QStringLiteral("pages of ") + caption + (hr == com::S_OK ? QStringLiteral(" shown") : QStringLiteral(" none")));
  return hr == com::S_OK;
}

bool TFK::ShowPropertyPages(com::IUnknown* object, const QString& caption) {
  return ShowPagesAt(object, caption, 0, 0);
}

bool TFK::ShowFilterPages(com::IUnknown* object, const QString& caption) {
  return ShowPagesAt(object, caption, 30, 30);
}

QString TFK::CompressorKey(bool video) const {
  const TDevices* list = video ? VideoCompressorList() : AudioCompressorList();
  const int index = video ? videoCompressor_ : audioCompressor_;
  return list ? list->RegistryKeyOf(index) : QString();
}

void TFK::ReadBackDeviceDialog() {
  // The standard may have changed on the decoder's page: its family's sizes become current
  // before the pin's format is looked up in them.
  if (decoder_) {
    LONG standard = 0;
    if (SUCCEEDED(decoder_->get_TVFormat(&standard)) && standard != 0) videoTable_.SetInt("ANTVFormat", standard);
    SyncCurrentSizeList();
  }
  ReadCurrentFormat();
}

bool TFK::BuildLiveDialogGraph() {
  // The device's sound is part of its graph while its pages are open.
  const bool rendering = AudioDeviceRendering_;
  AudioDeviceRendering_ = true;
  const bool ready = PrepareDialogGraph(true);
  AudioDeviceRendering_ = rendering;
  if (!ready || !CreateBaseGraph()) return false;
  const std::optional<TCapDeviceInfo> entry = VideoDeviceList()->Entry(boundVideoDevice_);
  if (!entry || !entry->IsWDM) return true;
  return InsertVideoDisplay(previewPin_.Get()) && AfterBuild(false) && SetGraphState(2, QStringLiteral("bnvfk"));
}

bool TFK::ShowDeviceDialog(int kind) {
  if (kind != kDeviceDialogs && VfwDialogOf(kind) == 0) return false;
  if (!DialogsAllowed() || !DialogVideoDevice(false)) return false;
  const TCurrentState before = state_;
  SetBusyCursor(true);
  bool shown = false, readBack = false;
  if (BuildLiveDialogGraph()) {
    if (kind == kDeviceDialogs) {
      if (videoPageSaver_.saver) {
        // The saver shows the pages and keeps what they hold under the device's key.
        SetBusyCursor(false);
        shown = videoPageSaver_.saver->ShowPages();
        SetBusyCursor(true);
        videoPageSaver_.saver->Store();
      } else {
        shown = ShowFilterPages(videoSource_.Get(), GetVideoDeviceName());
      }
      readBack = shown;
    } else {
      ComPtr<IAMVfwCaptureDialogs> dialogs;
      const int dialog = VfwDialogOf(kind);
      if (SUCCEEDED(videoSource_->QueryInterface(IID_IAMVfwCaptureDialogs, dialogs.PutVoid())) && dialogs &&
          dialogs->HasDialog(dialog) == com::S_OK) {
        SetBusyCursor(false);
        shown = SUCCEEDED(dialogs->ShowDialog(dialog, 0));
        SetBusyCursor(true);
        readBack = shown && kind == kFormatDialog;
      }
    }
    if (readBack) ReadBackDeviceDialog();
  }
  EndDialogGraph(before, QString());
  if (readBack) {
    StoreVideoDeviceSettings();
    Fire(&TFKEvents::OnVideoDeviceSelected);
  }
  SetBusyCursor(false);
  return shown;
}

bool TFK::ShowStreamFormatPages() {
  if (!DialogsAllowed() || !DialogVideoDevice(false) || IsDVSource()) return false;
  const TCurrentState before = state_;
  SetBusyCursor(true);
  bool shown = false;
  if (PrepareDialogGraph(true) && !IsDVSource() && CreateBaseGraph() && streamConfig_) {
    shown = ShowFilterPages(streamConfig_.Get(), GetVideoDeviceName());
    ReadCurrentFormat();
    ReadCurrentFrameRate();
    if (currentFrameRate_ > 0) frameRate_ = currentFrameRate_;
    int width = 320, height = 240;
    SelectedVideoSize(-1, width, height);
    selectedWidth_ = width;
    selectedHeight_ = height;
  }
  EndDialogGraph(before, QString());
  if (shown) StoreVideoDeviceSettings();
  SetBusyCursor(false);
  return shown;
}

bool TFK::ShowCompressorDialog(bool video) {
  if (!DialogsAllowed() || !(video ? DialogVideoDevice(false) : DialogAudioDevice(false))) return false;
  const TCurrentState before = state_;
  SetBusyCursor(true);
  ComPtr<IPin> chain;
  if (PrepareDialogGraph(video)) {
    if (!video) {
      if (CreateFilterGraph() && BindAudioSource()) chain = audioSourcePin_;
    } else if (CreateDeviceGraph()) {
      builder_->FindPin(videoSource_.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, TRUE, 0, chain.Put());
    }
  }
  TDevices* list = video ? VideoCompressorList() : AudioCompressorList();
  int index = video ? videoCompressor_ : audioCompressor_;
  ComPtr<IBaseFilter> compressor;
  bool inserted = chain && BindDevice(list, index, QString(), true, false, compressor);
  if (inserted && !InsertExistingFilter(compressor.Get(), chain)) {
    graph_->RemoveFilter(compressor.Get());
    inserted = false;
  }
  bool shown = false;
  if (CheckAndLog(this, !inserted, ll_Error,
                  video ? QStringLiteral("video compressor not suitable") : QStringLiteral("audio compressor not suitable"),
                  video ? TLogType::e_video_compressor_not_suitable : TLogType::e_audio_compressor_not_suitable)) {
    compressor.Reset();
  } else {
    const QString key = CompressorKey(video);
    engine::LoadFilterState(compressor.Get(), key);
    ComPtr<IAMVfwCompressDialogs> dialogs;
    if (SUCCEEDED(compressor->QueryInterface(IID_IAMVfwCompressDialogs, dialogs.PutVoid())) && dialogs) {
      SetBusyCursor(false);
      shown = SUCCEEDED(dialogs->ShowDialog(VfwCompressDialog_Config, 0));
      SetBusyCursor(true);
    } else {
      shown = ShowFilterPages(compressor.Get(), video ? GetVideoCompressorName() : GetAudioCompressorName());
    }
    CheckAndLog(this, !shown, ll_Warning,
                video ? QStringLiteral("no dialog for this video compressor") : QStringLiteral("no dialog for this audio compressor"),
                TLogType::e_no_dialog_for_this_compressor);
    // Kept whether or not a dialog was shown: what was restored stays with the compressor.
    engine::SaveFilterState(compressor.Get(), key);
    compressor.Reset();
  }
  EndDialogGraph(before, video ? QStringLiteral("dvcd") : QStringLiteral("dacd"));
  SetBusyCursor(false);
  return shown;
}

bool TFK::ShowVideoCompressorDialog() { return ShowCompressorDialog(true); }

bool TFK::ShowAudioCompressorDialog() { return ShowCompressorDialog(false); }

bool TFK::ShowAudioDevicePages() {
  if (!DialogsAllowed()) return false;
  // The running graph's device shows its pages where it is.
  if (audioSource_ && graphActive_) return ShowFilterPages(audioSource_.Get(), AudioDeviceName(boundAudioDevice_));
  if (!DialogAudioDevice(false)) return false;
  const TCurrentState before = state_;
  SetBusyCursor(true);
  bool shown = false;
  if (PrepareDialogGraph(false) && CreateFilterGraph() && BindAudioSource()) shown = ShowFilterPages(audioSource_.Get(), AudioDeviceName(boundAudioDevice_));
  EndDialogGraph(before, QStringLiteral("dadd"));
  if (shown) StoreAudioDeviceSettings();
  SetBusyCursor(false);
  return shown;
}

bool TFK::ShowDialog(int kind) {
  if (kind < 0 || kind > 11) return false;
  if (!DialogsAllowed()) return false;
  const bool wasPreview = state_ == cs_Preview;
  bool result = false, refresh = true;
  switch (kind) {
    case 0: {
      refresh = false;
      const bool wdmRunning = wasPreview && graphActive_ && runState_ == 2 && videoSource_ && !videoTable_.Bool("_IsVfw");
      if (!wdmRunning) {
        result = ShowDeviceDialog(kDeviceDialogs);
      } else if (videoPageSaver_.saver) {
        videoPageSaver_.saver->ShowPages();
        videoPageSaver_.saver->Store();
      } else if ((result = ShowFilterPages(videoSource_.Get(), GetVideoDeviceName()))) {
        // The running device keeps what was set; the settings follow it now.
        SaveAnalogState();
        StoreVideoDeviceSettings();
      }
      break;
    }
    case 1: result = ShowVideoCompressorDialog(); break;
    case 2: result = ShowAudioCompressorDialog(); break;
    case 3: result = videoTable_.Bool("_IsVfw") ? ShowDeviceDialog(kDeviceDialogs) : ShowStreamFormatPages(); break;
    case 4:
    case 5:
    case 6: result = ShowDeviceDialog(kind); break;
    case 7:
    case 8: {
      refresh = false;
      IAMCrossbar* crossbar = kind == 7 ? videoCrossbar_.Get() : audioCrossbar_.Get();
      result = crossbar && ShowFilterPages(crossbar, kind == 7 ? QStringLiteral("Video Crossbar") : QStringLiteral("Audio Crossbar"));
      if (result) {
        (kind == 7 ? videoCrossbarPins_ : audioCrossbarPins_).Assign(crossbar);
        if (kind == 7) videoTable_.SetInt("VideoInput", CurrentVideoInput());
        SaveAnalogState();
      }
      break;
    }
    case 9: {
      // Without a graph the tuner is reached through the device bound for the dialog.
      const TCurrentState before = state_;
      const bool temporary = before == cs_None;
      if (temporary) {
        if (!DialogVideoDevice(false)) break;
        SetBusyCursor(true);
        if (PrepareDialogGraph(true)) CreateBaseGraph();
      }
      if (tuner_ && (result = ShowFilterPages(tuner_.Get(), QStringLiteral("TV Tuner")))) {
        ReadTunerState();
        StoreVideoDeviceSettings();
      }
      if (temporary) {
        EndDialogGraph(before, QString());
        SetBusyCursor(false);
      }
      break;
    }
    case 10: refresh = false; break;  // no device here has TV audio
    case 11: result = ShowAudioDevicePages(); break;
    default: break;
  }
  // A preview the dialog took down comes back (the compressor and audio dialogs bring theirs back themselves).
  if (refresh && wasPreview && !graphActive_) {
    state_ = cs_Preview;
    RefreshPreview(QStringLiteral("dd"));
  }
  return result;
}

}  // namespace kestrom::engine
