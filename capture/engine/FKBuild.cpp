// Building the live graphs: the preview chain, the recording chain into the file writer, and the
// recording files they write.
#include "capture/engine/FK.h"

#include "capture/engine/GraphHelpers.h"
#include "capture/engine/Registry2.h"
#include "capture/filters/CompanionFilters.h"
#include "capture/engine/SyncManager.h"
#include "platform/com/ComRuntime.h"
#include "platform/core/Paths.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/base/MediaType.h"
#include "platform/dshow/sources/Decoders.h"
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

namespace {

/** @brief The pin's interleaved (audio and video) type, as the pin offers it. */
bool InterleavedTypeOf(IPin* pin, CMediaType& type) {
  ComPtr<IEnumMediaTypes> types;
  if (FAILED(pin->EnumMediaTypes(types.Put())) || !types) return false;
  AM_MEDIA_TYPE* next = nullptr;
  ULONG fetched = 0;
  bool found = false;
  while (!found && types->Next(1, &next, &fetched) == com::S_OK && next) {
    found = next->majortype == MEDIATYPE_Interleaved;
    if (found) type = *next;
    DeleteMediaType(next);
  }
  return found;
}

}  // namespace

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
    TraceBuildChoices();
    CheckDualDisplay();
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
    if (!AfterBuild(true)) return;
    WriteLog(QStringLiteral("Preview BUILDOWN END"));
    result = StartBuiltGraph(mode);
  }();
  WriteLog(QStringLiteral("END RestartGraph"));
  if (!result) {
    const QString opened = writingFile_;  // the teardown forgets it
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
        // Nothing was written: the file the writer opened goes (a preallocated one stays).
        if (!PreallocCapFileEnabled_ && !opened.isEmpty()) QFile::remove(opened);
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

void TFK::TraceBuildChoices() const {
  if (!ProcessLogEnabled()) return;
  const auto name = [](const TDevices* list, int index) {
    return list && index >= 0 && index < list->Count() ? list->Name(index) : QString();
  };
  WriteLog(QStringLiteral("video device: ") + name(VideoDeviceList(), boundVideoDevice_));
  WriteLog(QStringLiteral("audio device: ") + name(AudioDeviceList(), boundAudioDevice_));
  WriteLog(QStringLiteral("video compressor: ") + name(VideoCompressorList(), videoCompressor_));
  WriteLog(QStringLiteral("audio compressor: ") + name(AudioCompressorList(), audioCompressor_));
  LogYesNo(snapshot_.audioRecording, QStringLiteral("capture audio"));
  LogYesNo(snapshot_.audioDeviceRendering, QStringLiteral("render audio"));
  LogYesNo(ColorKeyEnabled_, QStringLiteral("transparency"));
  LogYesNo(DVReduceFrameRate_, QStringLiteral("DV reduce frame rate"));
  LogYesNo(snapshot_.compressionMode == cm_CompressOnTheFly, QStringLiteral("Compress on the fly"));
  LogYesNo(snapshot_.compressionMode == cm_CompressAfterRecording, QStringLiteral("Compress after capture"));
}

bool TFK::BuildChains(TCurrentState mode) {
  if (mode == cs_Preview) {
    if (!IsPreviewStreamRequired()) return true;
    return IsDVSource() ? BuildDVPreview() : BuildPreview();
  }
  if (IsMpegSource()) {
    if (!RecordingInNativeFormat_) return BuildCapture();
    return BuildRawCapture() && (!IsPreviewStreamRequired() || BuildPreview());
  }
  if (IsDVSource() && RecordingInNativeFormat_)
    return ConnectNativeDV() && (!IsPreviewStreamRequired() || BuildPreview());
  return BuildCapture();
}

bool TFK::StartBuiltGraph(TCurrentState mode) {
  ShowDisplayWindows();
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

bool TFK::InsertCompressor(TDevices* list, int index, ComPtr<IPin>& chain) {
  ComPtr<IBaseFilter> compressor;
  if (!chain || !BindDevice(list, index, QString(), true, false, compressor)) return false;
  if (InsertExistingFilter(compressor.Get(), chain)) {
    // The settings made on its pages are saved under its name; the recording uses them too.
    LoadFilterState(compressor.Get(), list->RegistryKeyOf(index));
    return true;
  }
  graph_->RemoveFilter(compressor.Get());
  return false;
}

bool TFK::ConnectNullRenderer(IPin* pin) {
  ComPtr<IBaseFilter> renderer;
  ComPtr<IPin> input;
  const bool ok =
      pin &&
      CreateInstanceLogged(CLSID_NullRenderer, IID_IBaseFilter, renderer.PutVoid(), QStringLiteral("Null Renderer")) &&
      AddFilterToGraph(renderer.Get(), QStringLiteral("Null Renderer")) &&
      SUCCEEDED(FindPinByName(renderer.Get(), PINDIR_INPUT, QString(), input, true, true)) &&
      ConnectPins(pin, input.Get());
  if (!ok && renderer) graph_->RemoveFilter(renderer.Get());
  return ok;
}

void TFK::RenderAudio() {
  audioRendered_ = false;
  if (!snapshot_.audioDeviceRendering || !audioSourcePin_) return;
  if (state_ == cs_Recording)
    CheckAndLog(this, true, ll_Warning,
                QStringLiteral("AUDIO RENDERING DURING Recording CAN INCREASE DROPPED FRAMES AND CAUSE AUDIO SYNC PROBLEMS"),
                TLogType::w_player_audio_should_be_disabled);
  ComPtr<IPin> chain = audioSourcePin_;
  InsertExtraFilters(tpf_AudioSource, chain);
  InsertExtraFilters(tpf_AudioRender, chain);
  ComPtr<IBaseFilter> renderer;
  ComPtr<IPin> input;
  audioRendered_ =
      CreateInstanceLogged(CLSID_AudioRender, IID_IBaseFilter, renderer.PutVoid(), QStringLiteral("Audio Renderer")) &&
      AddFilterToGraph(renderer.Get(), QStringLiteral("Audio Renderer")) &&
      SUCCEEDED(FindPinByName(renderer.Get(), PINDIR_INPUT, QString(), input, true, true)) &&
      ConnectPins(chain.Get(), input.Get());
  if (audioRendered_) return;
  if (renderer) graph_->RemoveFilter(renderer.Get());
  ConnectNullRenderer(chain.Get());
}

bool TFK::BuildPreview() {
  WriteLog(QStringLiteral("building preview..."));
  ComPtr<IPin> chain = previewPin_;
  // A trace-level check does not stop the caller by itself.
  bool ok = static_cast<bool>(chain);
  CheckAndLog(this, !ok, ll_Trace, QStringLiteral("preview pin not assigned"), TLogType::e_pin_not_found);
  if (ok) {
    InsertExtraFilters(tpf_VideoSource, chain);
    ok = InsertVideoTransforms(chain);
  }
  if (ok && (snapshot_.frameGrabber == fg_BothStreams || snapshot_.frameGrabber == fg_PreviewStream))
    ok = InsertGrabber(QStringLiteral("GRB_RGB"), chain);
  else if (ok && snapshot_.frameGrabber == fg_CaptureStream)
    ok = InsertGrabberBranch(chain, nullptr);
  if (ok) InsertExtraFilters(tpf_VideoPreview, chain);
  // The display takes the Smart Tee's preview output; its capture output stays free.
  ComPtr<IPin> preview;
  ok = ok && InsertFilter2(CLSID_SmartTee, QStringLiteral("Smart Tee"), chain, preview);
  ok = ok && InsertVideoDisplay(preview.Get());
  WriteLog(QStringLiteral("building preview ended"));
  return ok;
}

bool TFK::BuildDVPreview() {
  WriteLog(QStringLiteral("Preview BUILDOWN BEGIN"));
  ComPtr<IPin> chain = previewPin_;
  if (!chain) {
    CheckAndLog(this, true, ll_Trace, QStringLiteral("preview pin not assigned"), TLogType::e_pin_not_found);
    return false;
  }
  const int placement = snapshot_.frameGrabber;
  if (placement == fg_CaptureStream && !InsertGrabberBranch(chain, &CLSID_DVVideoCodec)) return false;
  // At full size the renderer's own connection brings the decoder when no grabber needs RGB here.
  const bool undecoded = (placement == fg_CaptureStream || placement == fg_Disabled) && GetVideoSize() == 4;
  if (!undecoded) {
    ComPtr<IBaseFilter> decoder;
    if (!InsertFilterInline(CLSID_DVVideoCodec, QStringLiteral("DV Codec"), chain, &MEDIATYPE_Video, &decoder))
      return false;
    SetDVResolution(decoder.Get());
  }
  InsertExtraFilters(tpf_VideoSource, chain);
  if (!InsertVideoTransforms(chain)) return false;
  if ((placement == fg_BothStreams || placement == fg_PreviewStream) && !InsertGrabber(QStringLiteral("GRB_RGB"), chain))
    return false;
  InsertExtraFilters(tpf_VideoPreview, chain);
  ComPtr<IPin> preview;
  return InsertFilter2(CLSID_SmartTee, QStringLiteral("Smart Tee"), chain, preview) && InsertVideoDisplay(preview.Get());
}

bool TFK::ConnectNativeDV() {
  ComPtr<IPin> chain = capturePin_;
  if (snapshot_.recordingCanPause && !InsertGrabber(QStringLiteral("GRB_LockAndShift"), chain)) return false;
  // The interleaved stream goes into the file as it comes, under its own type: one stream, no master.
  ComPtr<IPin> input;
  CMediaType interleaved;
  const bool ok = chain && writer_ && InterleavedTypeOf(chain.Get(), interleaved) &&
                  SUCCEEDED(FindPinByName(writer_.Get(), PINDIR_INPUT, QString(), input, true, true)) &&
                  SUCCEEDED(graph_->ConnectDirect(chain.Get(), input.Get(), &interleaved));
  if (!ok) {
    WriteLog(QStringLiteral("ERROR: video connection to file mux failed"));
    return false;
  }
  masterStream_ = 2;
  ConfigureFileWriter(false);
  SetCapturePins(chain, nullptr);
  return true;
}

bool TFK::BuildRawCapture() {
  if (recordingFile_.isEmpty()) return false;
  ComPtr<IPin> chain = capturePin_;
  if (snapshot_.recordingCanPause && !InsertGrabber(QStringLiteral("GRB_LockAndShift"), chain)) return false;
  // The device's stream goes to the file as it comes, through the companion module's raw writer.
  ComPtr<IBaseFilter> rawWriter;
  ComPtr<IFileSinkFilter> sink;
  ComPtr<IPin> input;
  const std::u16string file = recordingFile_.toStdU16String();
  if (!CreateOwnFilter(FilterImage(), QString(), filters::kCreateRawWriter, rawWriterHolder_, rawWriter) ||
      !AddFilterToGraph(rawWriter.Get(), QStringLiteral("FCATCHCTRL_RwCap.Grabber")) ||
      FAILED(rawWriter->QueryInterface(IID_IFileSinkFilter, sink.PutVoid())) || !sink ||
      FAILED(sink->SetFileName(file.c_str(), nullptr)) ||
      FAILED(FindPinByName(rawWriter.Get(), PINDIR_INPUT, QString(), input, true, true)) ||
      !ConnectPins(chain.Get(), input.Get()))
    return false;
  rawWriterHolder_.filter = rawWriter;
  fileSink_ = sink;  // a renewal names the next file here
  return true;
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
  masterStream_ = 0;  // the video, unless the sound below takes it
  // A plain camera's one capture pin is found as the preview pin; the Smart Tee splits it.
  ComPtr<IPin> chain = capturePin_ ? capturePin_ : previewPin_;
  if (!chain) {
    CheckAndLog(this, true, ll_Trace, QStringLiteral("Capture pin not assigned"), TLogType::e_pin_not_found);
    return false;
  }
  WriteLog(QStringLiteral("building capture..."));
  if (IsDVSource()) {
    // The recording chain's decoder keeps its plain name.
    ComPtr<IBaseFilter> decoder;
    if (!CreateInstanceLogged(CLSID_DVVideoCodec, IID_IBaseFilter, decoder.PutVoid(), QStringLiteral("DV Codec")) ||
        !AddFilterToGraph(decoder.Get(), QStringLiteral("DV Codec")))
      return false;
    if (!InsertExistingFilter(decoder.Get(), chain)) {
      graph_->RemoveFilter(decoder.Get());
      return false;
    }
    SetDVResolution(decoder.Get());
  }
  InsertExtraFilters(tpf_VideoSource, chain);
  if (!InsertVideoTransforms(chain)) return false;
  if (snapshot_.frameGrabber == fg_BothStreams && !InsertGrabber(QStringLiteral("GRB_RGB"), chain)) return false;
  ComPtr<IPin> preview;
  if (!InsertFilter2(CLSID_SmartTee, QStringLiteral("Smart Tee"), chain, preview)) return false;
  if (snapshot_.frameGrabber == fg_CaptureStream) {
    ComPtr<IPin> unused;
    if (!InsertGrabber(QStringLiteral("GRB_RGB"), chain) ||
        !InsertFilter2(CLSID_SmartTee, QStringLiteral("Smart Tee 2"), chain, unused))
      return false;
  }
  InsertExtraFilters(tpf_VideoPreview, preview);
  InsertExtraFilters(tpf_VideoCapture, chain);
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
    if (SampleCapture_Video_ == sc_AfterCompression && !InsertGrabber(QStringLiteral("GRB_Sample"), chain)) return false;
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
    if (SampleCapture_Audio_ == sc_Native && !InsertGrabber(QStringLiteral("GRB_Sample"), audio)) return false;
    InsertExtraFilters(tpf_AudioSource, audio);
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
    InsertExtraFilters(tpf_AudioRecording, audio);
    if (AudioCompressorNeeded()) {
      WriteLog(QStringLiteral("inserting audio compressor"));
      if (snapshot_.recordingCanPause && !InsertGrabber(QStringLiteral("GRB_Clear"), audio)) return false;
      if (!InsertCompressor(AudioCompressorList(), audioCompressor_, audio)) {
        CheckAndLog(this, true, ll_Error, QStringLiteral("audio compressor ") + GetAudioCompressorName() +
                                              QStringLiteral(" not suitable"), TLogType::e_audio_compressor_not_suitable);
        return false;
      }
      if (SampleCapture_Audio_ == sc_AfterCompression && !InsertGrabber(QStringLiteral("GRB_Sample"), audio))
        return false;
    }
    if (snapshot_.recordingCanPause && !InsertGrabber(QStringLiteral("GRB_LockAndShift"), audio)) return false;
    if (!ConnectToWriter(audio, MEDIATYPE_Audio, audioControl)) return false;
    audioWritten = true;
    // A DV camcorder's sound is cut from its video frames: the video stays the master.
    if (!IsDVSource()) masterStream_ = 1;
  }
  if (!audioWritten) masterStream_ = 2;
  ConfigureFileWriter(audioWritten);
  SetCapturePins(videoControl, audioControl);
  return true;
}

}  // namespace kestrom::engine
