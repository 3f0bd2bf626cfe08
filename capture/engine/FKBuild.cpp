// Building the live graphs: the preview chain, the recording chain into the file writer, and the
// recording files they write.
#include "capture/engine/FK.h"

#include "capture/engine/GraphHelpers.h"
#include "capture/engine/SyncManager.h"
#include "platform/com/ComRuntime.h"
#include "platform/core/Paths.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/writers/WriterInterfaces.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QDir>

namespace kestrom::engine {

using com::ComPtr;
using namespace dshow;
using com::FAILED;
using com::SUCCEEDED;

bool TFK::RestartGraph(TCurrentState mode) {
  if ((mode != cs_Preview && mode != cs_Recording) || GlobalDevicesState() != 2 || !initialised_) return false;
  TDevices* videos = VideoDeviceList();
  if (!videos || videos->Count() == 0) {
    CheckAndLog(this, true, ll_Error, QStringLiteral("no video capture device"), TLogType::e_no_video_input_device);
    return false;
  }
  if (VideoDevice_ < 0 || VideoDevice_ >= videos->Count() || restarting_) return false;
  restarting_ = true;
  WriteLog(QStringLiteral("BEGIN RestartGraph ") + QString::number(mode));
  bool result = false, busy = false;
  recordingCancelled_ = false;
  sequentialIndex_ = -1;
  [&] {
    StopCurrentMode();
    if (IsCaptureDeviceSource()) {
      if (boundVideoDevice_ != VideoDevice_ && !ChangeVideoDevice()) return;
      if (boundAudioDevice_ != AudioDevice_) ChangeAudioDevice();
    }
    if (!videoTable_.Bool("_DeviceDiscovered")) return;
    Fire(&TFKEvents::OnReinitializing);
    SetBusyCursor(true);
    busy = true;
    SnapshotBuildParameters();
    state_ = mode;
    if (mode != cs_Preview) previewFailed_ = false;
    if (mode == cs_Recording && MakeRecordingFileNames().isEmpty()) return;
    if (!CreateBaseGraph()) return;
    state_ = mode;
    if (!BuildChains(mode)) {
      CheckAndLog(this, true, ll_Trace, QStringLiteral("build graph failed"), TLogType::e_failed);
      return;
    }
    RenderAudio();
    if (!TakeGraphControls()) return;
    WriteLog(QStringLiteral("Preview BUILDOWN END"));
    result = StartBuiltGraph(mode);
  }();
  WriteLog(QStringLiteral("END RestartGraph"));
  if (!result) {
    ClearGraph(true);
    if (mode == cs_Preview) {
      previewFailed_ = true;
      CheckAndLog(this, true, ll_Error, QStringLiteral("failed to start preview"), TLogType::e_failed_to_start_preview);
    } else {
      recordingWritingStarted_ = false;
      // The number of a recording that never started is given back for the next one.
      if (sequentialIndex_ != -1) ReleaseSequentialNumber(sequentialIndex_);
      sequentialIndex_ = -1;
      if (recordingCancelled_) {
        CheckAndLog(this, true, ll_Warning, QStringLiteral("capture cancelled"), TLogType::w_recording_cancelled_by_user);
      } else {
        CheckAndLog(this, true, ll_Error, QStringLiteral("cannot start Recording"), TLogType::e_failed_to_start_recording);
        if (snapshot_.compressionMode == cm_CompressOnTheFly)
          CheckAndLog(this, true, ll_Warning, QStringLiteral("compressor possibly not suited"),
                      TLogType::e_compressor_possibly_not_suited);
      }
    }
    state_ = cs_None;
  }
  if (busy) SetBusyCursor(false);
  restarting_ = false;
  return result;
}

bool TFK::BuildChains(TCurrentState mode) {
  if (IsDVSource() || IsMpegSource()) {
    // The native DV and MPEG stream branches come with their own step.
    WriteLog(QStringLiteral("DV and MPEG sources not built yet"));
    return false;
  }
  if (mode == cs_Preview) return !IsPreviewStreamRequired() || BuildPreview();
  return BuildCapture();
}

bool TFK::StartBuiltGraph(TCurrentState mode) {
  if (mode == cs_Preview) return SetGraphState(2, QStringLiteral("bprev"));
  const bool held = recordingHold_;
  if (IsCaptureDeviceSource() && (held || (snapshot_.recordingMethod != rm_Stream && Events().OnRecordingReadyToStart))) {
    SetPinCapture(videoCapturePin_.Get(), QStringLiteral("video"), false);
    SetPinCapture(audioCapturePin_.Get(), QStringLiteral("audio"), false);
    if (!SetGraphState(2, QStringLiteral("bldcapnor2"))) return false;
    if (held) {
      CheckAndLog(this, true, ll_Warning, QStringLiteral("holding Recording writing"), TLogType::w_hold_recording);
      return true;
    }
    recordingHold_ = true;
    bool start = true;
    Fire(&TFKEvents::OnRecordingReadyToStart, start);
    if (!start) {
      recordingCancelled_ = true;
      return false;
    }
    SetRecordingHold(false);
    return true;
  }
  if (!SetGraphState(2, QStringLiteral("bldcapnor"))) return false;
  AnnounceRecordingStart();
  return true;
}

void TFK::AnnounceRecordingStart() {
  recordingWritingStarted_ = true;
  Fire(&TFKEvents::OnRecordingStarted, recordingFile_);
  WriteLog(QStringLiteral("Recording started"));
}

bool TFK::InsertFilter2(const GUID& clsid, const QString& name, ComPtr<IPin>& chain, ComPtr<IPin>& second) {
  if (!chain) return false;
  ComPtr<IPin> input, first;
  ComPtr<IBaseFilter> filter;
  if (!AddFilterGetInput2Outputs(clsid, name, second, first, input, filter)) {
    if (filter) graph_->RemoveFilter(filter.Get());
    return false;
  }
  if (FAILED(graph_->Connect(chain.Get(), input.Get()))) {
    graph_->RemoveFilter(filter.Get());
    WriteLog(QStringLiteral("ERROR: InsertFilter2 cannot connect ") + name);
    return false;
  }
  chain = first;  // the chain keeps its pin until the filter is in
  return true;
}

bool TFK::InsertCompressor(TDevices* list, int index, ComPtr<IPin>& chain) {
  ComPtr<IBaseFilter> compressor;
  ComPtr<IPin> input, output;
  if (!chain || !BindDevice(list, index, QString(), true, false, compressor)) return false;
  if (FAILED(FindPinByName(compressor.Get(), PINDIR_INPUT, QString(), input, true, true)) ||
      FAILED(graph_->Connect(chain.Get(), input.Get())) ||
      FAILED(FindPinByName(compressor.Get(), PINDIR_OUTPUT, QString(), output, true, true))) {
    graph_->RemoveFilter(compressor.Get());
    return false;
  }
  chain = output;
  return true;
}

bool TFK::ConnectNullRenderer(IPin* pin) {
  ComPtr<IBaseFilter> renderer;
  ComPtr<IPin> input;
  if (FAILED(com::CoCreateInstance(CLSID_NullRenderer, nullptr, com::CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   renderer.PutVoid())) ||
      !AddFilterToGraph(renderer.Get(), QStringLiteral("Null Renderer")) ||
      FAILED(FindPinByName(renderer.Get(), PINDIR_INPUT, QString(), input, true, true)))
    return false;
  return pin && SUCCEEDED(graph_->Connect(pin, input.Get()));
}

bool TFK::InsertVideoDisplay(IPin* pin) {
  if (!pin) return false;
  if (snapshot_.videoRenderer == vr_None) return ConnectNullRenderer(pin);
  const GUID& clsid = ColorKeyEnabled_ || snapshot_.videoRenderer == vr_StandardRenderer ? CLSID_VideoRenderer
                      : snapshot_.videoRenderer == vr_VMR9                                ? CLSID_VideoMixingRenderer9
                                                                                          : CLSID_VideoMixingRenderer;
  ComPtr<IPin> input;
  const bool ok = AddFilterGetInput(clsid, QStringLiteral("Video Renderer"), input, displayRenderer_) &&
                  SUCCEEDED(graph_->Connect(pin, input.Get()));
  if (!ok) CheckAndLog(this, true, ll_Trace, QStringLiteral("insert video display"), TLogType::e_failed);
  return ok;
}

void TFK::RenderAudio() {
  if (!snapshot_.audioDeviceRendering || !audioSourcePin_) return;
  if (state_ == cs_Recording)
    CheckAndLog(this, true, ll_Warning,
                QStringLiteral("AUDIO RENDERING DURING Recording CAN INCREASE DROPPED FRAMES AND CAUSE AUDIO SYNC PROBLEMS"),
                TLogType::w_player_audio_should_be_disabled);
  ComPtr<IBaseFilter> renderer;
  ComPtr<IPin> input;
  const bool rendered =
      SUCCEEDED(com::CoCreateInstance(CLSID_AudioRender, nullptr, com::CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                      renderer.PutVoid())) &&
      AddFilterToGraph(renderer.Get(), QStringLiteral("Audio Renderer")) &&
      SUCCEEDED(FindPinByName(renderer.Get(), PINDIR_INPUT, QString(), input, true, true)) &&
      SUCCEEDED(graph_->Connect(audioSourcePin_.Get(), input.Get()));
  if (!rendered) ConnectNullRenderer(audioSourcePin_.Get());
}

bool TFK::BuildPreview() {
  WriteLog(QStringLiteral("building preview..."));
  ComPtr<IPin> chain = previewPin_;
  bool ok = !CheckAndLog(this, !chain, ll_Trace, QStringLiteral("preview pin not assigned"), TLogType::e_pin_not_found);
  if (ok && (snapshot_.frameGrabber == fg_BothStreams || snapshot_.frameGrabber == fg_PreviewStream))
    ok = InsertGrabber(QStringLiteral("GRB_RGB"), chain);
  // The display takes the Smart Tee's preview output; its capture output stays free.
  ComPtr<IPin> preview;
  ok = ok && InsertFilter2(CLSID_SmartTee, QStringLiteral("Smart Tee"), chain, preview);
  ok = ok && InsertVideoDisplay(preview.Get());
  WriteLog(QStringLiteral("building preview ended"));
  return ok;
}

bool TFK::VideoCompressorNeeded() const {
  return ((snapshot_.compressionMode == cm_CompressOnTheFly && (state_ == cs_Preview || state_ == cs_Recording)) ||
          state_ == cs_Reencoding) &&
         (snapshot_.compressionType == ct_Video || snapshot_.compressionType == ct_AudioVideo) &&
         mpegWriterIdentity_.isEmpty() && snapshot_.recordingMethod == rm_AVI;
}

bool TFK::AudioCompressorNeeded() const {
  return ((snapshot_.compressionMode == cm_CompressOnTheFly && (state_ == cs_Preview || state_ == cs_Recording)) ||
          state_ == cs_Reencoding) &&
         (snapshot_.compressionType == ct_Audio || snapshot_.compressionType == ct_AudioVideo) &&
         mpegWriterIdentity_.isEmpty() && snapshot_.recordingMethod == rm_AVI;
}

bool TFK::BuildCapture() {
  WriteLog(QStringLiteral("Capture BUILDOWN BEGIN"));
  recordingWritingStarted_ = false;
  // A plain camera's one capture pin is found as the preview pin; the Smart Tee splits it.
  ComPtr<IPin> chain = capturePin_ ? capturePin_ : previewPin_;
  if (CheckAndLog(this, !chain, ll_Trace, QStringLiteral("Capture pin not assigned"), TLogType::e_pin_not_found))
    return false;
  WriteLog(QStringLiteral("building capture..."));
  if (snapshot_.frameGrabber == fg_BothStreams && !InsertGrabber(QStringLiteral("GRB_RGB"), chain)) return false;
  ComPtr<IPin> preview;
  if (!InsertFilter2(CLSID_SmartTee, QStringLiteral("Smart Tee"), chain, preview)) return false;
  if (snapshot_.frameGrabber == fg_CaptureStream) {
    ComPtr<IPin> unused;
    if (!InsertGrabber(QStringLiteral("GRB_RGB"), chain) ||
        !InsertFilter2(CLSID_SmartTee, QStringLiteral("Smart Tee 2"), chain, unused))
      return false;
  }
  if (snapshot_.frameGrabber == fg_PreviewStream && !InsertGrabber(QStringLiteral("GRB_RGB"), preview)) return false;
  if (!InsertVideoDisplay(preview.Get())) return false;
  if (VideoCompressorNeeded()) {
    WriteLog(QStringLiteral("inserting video compressor"));
    if (snapshot_.recordingCanPause && !InsertGrabber(QStringLiteral("GRB_Clear"), chain)) return false;
    if (!InsertCompressor(VideoCompressorList(), videoCompressor_, chain)) {
      CheckAndLog(this, true, ll_Error, QStringLiteral("video compressor ") + GetVideoCompressorName() +
                                            QStringLiteral(" not suitable"), TLogType::e_video_compressor_not_suitable);
      return false;
    }
  }
  if (snapshot_.recordingCanPause && !InsertGrabber(QStringLiteral("GRB_LockAndShift"), chain)) return false;
  ComPtr<IPin> videoControl, audioControl;
  if (!ConnectToWriter(chain, MEDIATYPE_Video, videoControl)) {
    WriteLog(QStringLiteral("ERROR: video connection to file mux failed"));
    return false;
  }
  bool audioWritten = false;
  if (audioSourcePin_ && snapshot_.audioRecording) {
    ComPtr<IPin> audio = audioSourcePin_;
    if (snapshot_.audioDeviceRendering) {
      // The sound is both written and heard: a tee gives the renderer its own branch.
      ComPtr<IPin> rendered;
      if (!InsertFilter2(CLSID_InfTee, QStringLiteral("Audio Tee"), audio, rendered)) return false;
      ComPtr<IBaseFilter> tee;
      PIN_INFO info{};
      if (SUCCEEDED(audio->QueryPinInfo(&info)) && info.pFilter) tee = ComPtr<IBaseFilter>::Attach(info.pFilter);
      audioSourcePin_.Reset();
      if (tee) FindPinByName(tee.Get(), PINDIR_OUTPUT, QString(), audioSourcePin_, true, true);
    }
    if (AudioCompressorNeeded()) {
      WriteLog(QStringLiteral("inserting audio compressor"));
      if (snapshot_.recordingCanPause && !InsertGrabber(QStringLiteral("GRB_Clear"), audio)) return false;
      if (!InsertCompressor(AudioCompressorList(), audioCompressor_, audio)) {
        CheckAndLog(this, true, ll_Error, QStringLiteral("audio compressor ") + GetAudioCompressorName() +
                                              QStringLiteral(" not suitable"), TLogType::e_audio_compressor_not_suitable);
        return false;
      }
    }
    if (snapshot_.recordingCanPause && !InsertGrabber(QStringLiteral("GRB_LockAndShift"), audio)) return false;
    if (!ConnectToWriter(audio, MEDIATYPE_Audio, audioControl)) return false;
    audioWritten = true;
    masterStream_ = 1;
  }
  if (!audioWritten) masterStream_ = 2;
  ConfigureFileWriter(audioWritten);
  SetCapturePins(videoControl, audioControl);
  return true;
}

}  // namespace kestrom::engine
