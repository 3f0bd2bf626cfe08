// The engine's device graph: binding the video device, choosing its source pins (with the tees,
// splitters and demultiplexer that split or unpack one stream) and finding its configuration
// interfaces.
#include "capture/engine/FK.h"

#include "capture/engine/DeviceProvider.h"
#include "capture/engine/GraphHelpers.h"
#include "capture/engine/SyncManager.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/base/MediaType.h"
#include "platform/dshow/sources/DvMpegInterfaces.h"

#include <QRandomGenerator>
#include <cstring>

namespace kestrom::engine {

using com::ComPtr;
using namespace dshow;
using com::E_FAIL;
using com::FAILED;
using com::S_OK;
using com::SUCCEEDED;

namespace {

const std::vector<GUID>& DVSubtypes() {
  static const std::vector<GUID> subtypes = [] {
    std::vector<GUID> list;
    for (const char* tag : {"DVCS", "DVSD", "dvsd", "dvhd", "dvsl", "dv25", "dv50", "dvh1"})
      list.push_back(FourccSubtype(Fourcc(tag[0], tag[1], tag[2], tag[3])));
    return list;
  }();
  return subtypes;
}


QString RandomName(const QString& prefix) {
  return prefix + QString::number(QRandomGenerator::global()->bounded(2147483647));
}

bool OffersType(IPin* pin, const GUID& major, const GUID& subtype) { return PinSupportsType(pin, major, {subtype}); }

// The outside MPEG-2 filters tried on a transport stream.
constexpr GUID kTransportFilter = com::MakeGuid("{FBE18D61-BF69-11D2-BAAA-00A024D857B2}");
constexpr GUID kVideoDecoder = com::MakeGuid("{81C81A03-D68F-4598-9827-051D9B5CB891}");
constexpr GUID kVideoDecoderFallback = com::MakeGuid("{30146000-87BF-11D1-BE74-C94E44925F69}");
// The category of hardware encoders, where the PVR card lists its encoder.
constexpr GUID kEncoderCategory = com::MakeGuid("{19689BF6-C384-48FD-AD51-90E58C79F70B}");

}  // namespace

bool TFK::CreateDeviceGraph() {
  WriteLog(QStringLiteral("creating device graph"));
  if (!CreateFilterGraph() || !initialised_) return false;
  TDevices* list = VideoDeviceList();
  int index = boundVideoDevice_ != -1 ? boundVideoDevice_ : VideoDevice_;
  const QStringList inputs = videoTable_.Text("VideoInputs").split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  const int input = videoTable_.Int("VideoInput");
  const QString inputName = input >= 0 && input < inputs.size() ? inputs[input] : QString();
  if (!BindDevice(list, index, inputName, !discovering_, true, videoSource_)) return false;
  ApplyPageSaver(videoPageSaver_, videoSource_.Get());
  const std::optional<TCapDeviceInfo> entry = list->Entry(index);
  videoTable_.SetBool("_IsVfw", entry && !entry->IsWDM);
  ComPtr<IPin> port;
  const bool videoPort =
      builder_ && SUCCEEDED(builder_->FindPin(videoSource_.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_VIDEOPORT, nullptr, 0, 0,
                                              port.Put()));
  videoTable_.SetBool("_IsVideoPortAvailable", videoPort);
  LogYesNo(videoPort, QStringLiteral("WDM video port"));
  WriteLog(QStringLiteral("device graph created"));
  return true;
}

bool TFK::CreateBaseGraph() {
  WriteLog(QStringLiteral("creating base graph"));
  if (CheckAndLog(this, !initialised_ || !buildParametersTaken_, ll_Error, QStringLiteral("current params not set"),
                  TLogType::e_set_filter_graph))
    return false;
  // A device's discovery always needs the device itself, whatever the source.
  if (snapshot_.videoSource == vs_VideoFromImages && !discovering_) {
    if (!CreateImagesGraph()) return false;
    WriteLog(QStringLiteral("base graph created"));
    return true;
  }
  if (!CreateDeviceGraph() || !RetrieveSourcePins()) return false;
  FindAudioSourcePin();
  if (!discovering_ && StoreDeviceSettingsInRegistry_) {
    ApplyProcAmp();
    ApplyCameraControl();
  }
  CheckAndLog(this, true, ll_Trace, QStringLiteral("t audio device"), TLogType::e_trace_log);
  WriteLog(QStringLiteral("Subtypes:\r\n") + videoSubtypes_.join(QStringLiteral("\r\n")));
  WriteLog(QStringLiteral("analog standards:\r\n") +
           AnalogVideoStandardNames(static_cast<uint32_t>(videoTable_.Int("ANTVFormats"))).join(QStringLiteral("\r\n")));
  WriteLog(QStringLiteral("sizes\r\n") + videoSizes_.join(QStringLiteral("\r\n")));
  WriteLog(QStringLiteral("base graph created"));
  return true;
}

bool TFK::IsHauppaugePvr() const {
  const QString name = GetVideoDeviceName().toLower();
  return name.contains(QLatin1String("hauppauge")) && name.contains(QLatin1String("pvr"));
}

bool TFK::RetrieveSourcePins() {
  WriteLog(QStringLiteral("retrieving source pins"));
  if (!videoSource_ || !builder_) return false;
  IBaseFilter* device = videoSource_.Get();
  const auto findPin = [&](IBaseFilter* filter, const GUID* category, const GUID* type, int n, ComPtr<IPin>& pin) {
    pin.Reset();
    return SUCCEEDED(builder_->FindPin(filter, PINDIR_OUTPUT, category, type, 1, n, pin.Put())) && pin;
  };
  const bool audioWanted = snapshot_.audioRecording || snapshot_.audioDeviceRendering;
  sourceIsMpeg_ = sourceIsDV_ = false;
  dvSplitterUsed_ = false;
  bool unsplitSampled = false;  // the unsplit samples' grabber is in

  if (IsHauppaugePvr()) {
    WriteLog(QStringLiteral("is hauppauge pvr"));
    ComPtr<IPin> p656, capturer;
    FindPinByName(device, PINDIR_OUTPUT, QStringLiteral("656"), p656, true, false);
    FindPinByName(device, PINDIR_OUTPUT, QStringLiteral("Capturer"), capturer, true, false);
    if (p656 && capturer) {
      sourceIsMpeg_ = true;
      previewPin_ = capturer;
      FindCommonInterfaces(previewPin_.Get());
      // Recorded as it comes, the card's own encoder turns the "656" stream into the file's
      // stream; without it the recording takes the "Capturer" stream below.
      capturePin_.Reset();
      if (IsRecordingWithoutCaptureGrabber() && InsertPvrEncoder(p656)) capturePin_ = p656;
      findPin(device, nullptr, &MEDIATYPE_Audio, 0, audioSourcePin_);
    }
  }
  if (!previewPin_) {
    sourceIsMpeg_ = findPin(device, nullptr, &MEDIATYPE_Stream, 0, previewPin_);
    if (sourceIsMpeg_) WriteLog(QStringLiteral("is mpeg stream"));
  }
  videoTable_.SetBool("_IsMpegStream", sourceIsMpeg_);

  if (sourceIsMpeg_) {
    WriteLog(QStringLiteral("is mpeg source"));
    FindCommonInterfaces(previewPin_.Get());
    ComPtr<IBaseFilter> tee;
    if (IsPreviewWhileRecording()) {
      WriteLog(QStringLiteral("native capture splitter req"));
      if (SampleCapture_Video_ == sc_Unsplitted) {
        if (!InsertGrabber(QStringLiteral("GRB_Sample"), previewPin_)) return false;
        unsplitSampled = true;
      }
      ComPtr<IPin> teeIn;
      if (!AddFilterGetInput(CLSID_InfTee, QStringLiteral("Capture Inf Tee"), teeIn, tee) ||
          FAILED(graph_->ConnectDirect(previewPin_.Get(), teeIn.Get(), nullptr)) ||
          !findPin(tee.Get(), nullptr, nullptr, 0, previewPin_))
        return false;
    }
    if (IsPreviewStreamRequired()) {
      WriteLog(QStringLiteral("preview stream req"));
      if (OffersType(previewPin_.Get(), MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_TRANSPORT)) {
        // The outside transport filter and then one of the outside decoders, tried by class id;
        // whatever is missing leaves the chain where it was.
        if (InsertFilterInline(kTransportFilter, QStringLiteral("SnTS"), previewPin_, &MEDIATYPE_Video) &&
            !InsertFilterInline(kVideoDecoder, QStringLiteral("SnVDTN"), previewPin_, &MEDIATYPE_Video))
          InsertFilterInline(kVideoDecoderFallback, QStringLiteral("SnVD"), previewPin_, &MEDIATYPE_Video);
      } else if (OffersType(previewPin_.Get(), MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_PROGRAM)) {
        ComPtr<IPin> audio, video;
        if (!SetupMpeg2Demux(previewPin_.Get(), audio, video)) return false;
        previewPin_ = video;
        audioSourcePin_ = audioWanted ? audio : nullptr;
      }
    }
    if (IsPreviewWhileRecording() && !capturePin_ && tee) {
      WriteLog(QStringLiteral("inserting splitter tee"));
      findPin(tee.Get(), nullptr, nullptr, 0, capturePin_);
      captureStreamPin_ = capturePin_;
    } else if (IsRecordingWithoutCaptureGrabber()) {
      // The PVR card's encoder already gives the recorded stream; otherwise the preview pin does.
      if (!capturePin_) capturePin_ = std::move(previewPin_);
      WriteLog(QStringLiteral("inserting sample notify"));
      // The recording's frames are counted here: nothing else in the chain sees them.
      if (!InsertGrabber(capturePin_, filters::gk_Notify, nullptr, sampleNotifyHolder_, fgf_Default)) return false;
      captureStreamPin_ = capturePin_;
    }
  } else {
    ComPtr<IPin> dvPin, interleaved;
    if (!audioWanted) {
      ComPtr<IPin> candidate;
      for (int n = 0; findPin(device, &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, n, candidate); ++n)
        if (PinSupportsType(candidate.Get(), MEDIATYPE_Video, DVSubtypes())) {
          dvPin = candidate;
          break;
        }
      if (dvPin) {
        sourceIsDV_ = true;
        WriteLog(QStringLiteral("is DV 1"));
        FindCommonInterfaces(dvPin.Get());
      }
    }
    if (findPin(device, nullptr, &MEDIATYPE_Interleaved, 0, interleaved)) {
      sourceIsDV_ = true;
      WriteLog(QStringLiteral("is DV 2"));
      FindCommonInterfaces(interleaved.Get());
    }
    if (!sourceIsDV_) {
      WriteLog(QStringLiteral("normal video"));
      if (findPin(device, &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, 0, previewPin_))
        WriteLog(QStringLiteral("normal video cat capture"));
      else if (findPin(device, &PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, 0, previewPin_))
        WriteLog(QStringLiteral("normal video cat preview"));
      else if (findPin(device, nullptr, &MEDIATYPE_Video, 0, previewPin_))
        WriteLog(QStringLiteral("normal video cat not specified"));
      else
        return false;
      if (!FindCommonInterfaces(previewPin_.Get())) return false;
    } else {
      WriteLog(QStringLiteral("DV settings"));
      videoTable_.SetBool("_IsDigitalVideoIn", true);
      const bool reduce = DVReduceFrameRate_ && host_.sender;
      const bool useInterleaved = interleaved && (!dvPin || !(audioWanted || reduce));
      ComPtr<IPin>& chosen = useInterleaved ? interleaved : dvPin;
      // The recording date is read from the frames of the pin that streams (a grabber on the
      // pin left unused would see none); both pins carry whole DV frames.
      if (!InsertGrabber(chosen, filters::gk_DvData, nullptr, dvDataHolder_, fgf_Default)) return false;
      previewPin_ = chosen;
      if (SampleCapture_Video_ == sc_Unsplitted) {
        if (!InsertGrabber(QStringLiteral("GRB_Sample"), previewPin_)) return false;
        unsplitSampled = true;
      }
      if (IsRecordingInNativeFormat()) {
        ComPtr<IPin> teeIn, teeCapture, teePreview;
        ComPtr<IBaseFilter> tee;
        if (!AddFilterGetInput2Outputs(CLSID_SmartTee, QStringLiteral("Capture Smart Tee"), teePreview, teeCapture,
                                       teeIn, tee) ||
            FAILED(graph_->ConnectDirect(previewPin_.Get(), teeIn.Get(), nullptr)))
          return false;
        capturePin_ = teeCapture;
        captureStreamPin_ = teeCapture;
        previewPin_ = teePreview;
      }
      // A DV splitter takes the interleaved stream: on the preview branch when that pin was
      // chosen (its video goes on to preview), on the interleaved pin itself for the sound of a
      // camcorder whose DV video pin was chosen.
      if (audioWanted || (useInterleaved && reduce)) {
        IPin* splitInput = useInterleaved ? previewPin_.Get() : interleaved.Get();
        if (!splitInput || !InsertDVSplitter(splitInput)) return false;
        if (audioWanted && !audioSourcePin_) return false;
        if (!useInterleaved) {
          // Only the sound is wanted from this splitter.
        }
      }
    }
  }
  if (!previewPin_ && !capturePin_) return false;
  // Samples as the device gives them: from the capture pin, else from the one pin there is. Where
  // nothing splits the stream (a plain camera, an MPEG device previewed only) that pin also gives
  // the unsplit samples.
  if (SampleCapture_Video_ == sc_Native || (SampleCapture_Video_ == sc_Unsplitted && !unsplitSampled)) {
    ComPtr<IPin>& pin = capturePin_ ? capturePin_ : previewPin_;
    const bool stream = capturePin_ && captureStreamPin_ == capturePin_;
    if (!InsertGrabber(QStringLiteral("GRB_Sample"), pin)) return false;
    if (stream) captureStreamPin_ = capturePin_;
  }
  WriteLog(QStringLiteral("source pins retrieved"));
  return true;
}

bool TFK::InsertPvrEncoder(ComPtr<IPin>& pin) {
  QString friendly;
  ComPtr<IBaseFilter> encoder;
  ComPtr<IPin> input, output;
  const bool ok = pin &&
                  FindFilterByName(com::GuidToString(kEncoderCategory), QStringLiteral("PVR PCI II Encoder"), friendly,
                                   encoder) &&
                  AddFilterToGraph(encoder.Get(), RandomName(QStringLiteral("PVR PCI II Encoder"))) &&
                  SUCCEEDED(FindPinByName(encoder.Get(), PINDIR_INPUT, QString(), input, true, true)) &&
                  ConnectPins(pin.Get(), input.Get()) &&
                  SUCCEEDED(builder_->FindPin(encoder.Get(), PINDIR_OUTPUT, nullptr, &MEDIATYPE_Stream, 1, 0,
                                              output.Put())) &&
                  output;
  if (!ok) {
    WriteLog(QStringLiteral("ERROR: PVR encoder not inserted"));
    if (encoder) graph_->RemoveFilter(encoder.Get());
    return false;
  }
  pin = output;
  return true;
}

bool TFK::InsertDVSplitter(IPin* pin) {
  ComPtr<IPin> in;
  ComPtr<IBaseFilter> splitter;
  if (!AddFilterGetInput(CLSID_DVSplitter, QStringLiteral("DV Splitter"), in, splitter) ||
      FAILED(graph_->ConnectDirect(pin, in.Get(), nullptr)))
    return false;
  dvSplitterUsed_ = true;
  ComPtr<IDVSplitter> config;
  if (SUCCEEDED(splitter->QueryInterface(IID_IDVSplitter, config.PutVoid())) && config)
    config->DiscardAlternateVideoFrames(DVReduceFrameRate_ ? 1 : 0);
  ComPtr<IPin> video, audio;
  builder_->FindPin(splitter.Get(), PINDIR_OUTPUT, nullptr, &MEDIATYPE_Video, 1, 0, video.Put());
  builder_->FindPin(splitter.Get(), PINDIR_OUTPUT, nullptr, &MEDIATYPE_Audio, 1, 0, audio.Put());
  if (pin == previewPin_.Get()) previewPin_ = video;
  if (snapshot_.audioRecording || snapshot_.audioDeviceRendering) audioSourcePin_ = audio;
  return true;
}

bool TFK::FindCommonInterfaces(IPin* pin) {
  if (!IsCaptureDeviceSource() || !pin || !videoSource_ || !builder_) return false;
  IBaseFilter* device = videoSource_.Get();
  if (!sourceIsMpeg_) {
    // Rendering the pin brings the card's crossbar, tuner and TV audio filters in upstream. What
    // it rendered downstream goes again; a filter that was there before (the writer) stays.
    const std::vector<ComPtr<IBaseFilter>> before = FiltersOf(graph_.Get());
    builder_->RenderStream(nullptr, nullptr, pin, nullptr, nullptr);
    RemoveDownstream(graph_.Get(), pin, before);
  }
  const auto onDevice = [&](const IID& iid, void** object) {
    return SUCCEEDED(device->QueryInterface(iid, object)) ||
           SUCCEEDED(builder_->FindInterface(&LOOK_UPSTREAM_ONLY, nullptr, device, iid, object));
  };
  const auto trace = [&](bool found, const QString& what) {
    CheckAndLog(this, true, ll_Trace, what + (found ? QStringLiteral(": yes") : QStringLiteral(": no")),
                TLogType::e_trace_log);
    return found;
  };

  tuner_.Reset();
  videoTable_.SetBool("_IsTVTunerAvail",
                      trace(SUCCEEDED(builder_->FindInterface(&LOOK_UPSTREAM_ONLY, nullptr, device, IID_IAMTVTuner,
                                                              tuner_.PutVoid())),
                            QStringLiteral("tv tuner available")));
  decoder_.Reset();
  const bool decoder = trace(onDevice(IID_IAMAnalogVideoDecoder, decoder_.PutVoid()) && decoder_,
                             QStringLiteral("AnalogVideoDecoderAvail available"));
  videoTable_.SetBool("_IsAnalogVideoDecoderAvail", decoder);
  if (decoder) {
    LONG locking = 0;
    videoTable_.SetBool("_IsVCRHorizontalLockingAvail", SUCCEEDED(decoder_->get_VCRHorizontalLocking(&locking)));
    if (!discovering_) {
      if (videoTable_.Int("ANTVFormat") != 0) decoder_->put_TVFormat(videoTable_.Int("ANTVFormat"));
      decoder_->put_VCRHorizontalLocking(videoTable_.Int("ANVVCRHorzLocking"));
      if (videoTable_.Int("ANVOutputEnable") != 2147483647) decoder_->put_OutputEnable(videoTable_.Int("ANVOutputEnable"));
    }
  }
  streamConfig_.Reset();
  if (trace(SUCCEEDED(pin->QueryInterface(IID_IAMStreamConfig, streamConfig_.PutVoid())) && streamConfig_,
            QStringLiteral("find stream config")) &&
      !discovering_) {
    if (IsDVSource()) ApplyDVFormat();
    else ApplyVideoFormat();
  }
  filterProperties_.Reset();
  pinProperties_.Reset();
  trace(SUCCEEDED(device->QueryInterface(IID_IKsPropertySet, filterProperties_.PutVoid())), QStringLiteral("find propertyset"));
  trace(SUCCEEDED(pin->QueryInterface(IID_IKsPropertySet, pinProperties_.PutVoid())), QStringLiteral("find pinpropertyset"));
  procAmp_.Reset();
  cameraControl_.Reset();
  videoTable_.SetBool("_IsVideoQualityAvail",
                      trace(SUCCEEDED(builder_->FindInterface(nullptr, nullptr, device, IID_IAMVideoProcAmp, procAmp_.PutVoid())),
                            QStringLiteral("find video quality")));
  videoTable_.SetBool("_IsCameraControlAvail",
                      trace(SUCCEEDED(builder_->FindInterface(nullptr, nullptr, device, IID_IAMCameraControl,
                                                              cameraControl_.PutVoid())),
                            QStringLiteral("find camera control")));
  // This platform has no video control, transport, time code reader or TV audio interface.
  videoTable_.SetBool("_IsVideoControlAvail", trace(false, QStringLiteral("find video control")));
  videoTable_.SetBool("ExtTransportAvail", trace(false, QStringLiteral("find ext transport")));
  videoTable_.SetBool("TimeCodeReaderAvail", trace(false, QStringLiteral("time code available")));
  videoTable_.SetBool("_IsTVAudioAvail", trace(false, QStringLiteral("tv audio available")));

  videoCrossbar_.Reset();
  audioCrossbar_.Reset();
  crossbarTree_.reset();
  const bool crossbar = trace(onDevice(IID_IAMCrossbar, videoCrossbar_.PutVoid()) && videoCrossbar_,
                              QStringLiteral("video crossbar available"));
  videoTable_.SetBool("_IsVideoCrossbarAvail", crossbar);
  videoTable_.SetBool("VIDEOCROSSBARAVAIL", crossbar);
  if (crossbar) {
    QStringList names;
    for (const TVideoInput& input : VideoInputNames(videoCrossbar_.Get())) names << input.name;
    videoTable_.SetText("VideoInputs", names.join(QStringLiteral("\r\n")));
    WriteLog(QStringLiteral("video crossbar inputs\r\n") + names.join(QStringLiteral("\r\n")));
    if (discovering_) videoTable_.SetInt("VideoInput", CurrentVideoInput());
    ComPtr<IBaseFilter> crossbarFilter;
    videoCrossbar_->QueryInterface(IID_IBaseFilter, crossbarFilter.PutVoid());
    // Upstream of the crossbar, not the crossbar itself.
    bool audioCrossbar = false;
    for (const ComPtr<IPin>& in : PinsOf(crossbarFilter.Get())) {
      ComPtr<IPin> peer;
      PIN_INFO info{};
      if (audioCrossbar || FAILED(in->ConnectedTo(peer.Put())) || !peer || FAILED(peer->QueryPinInfo(&info)) ||
          !info.pFilter || info.dir != PINDIR_OUTPUT) {
        if (info.pFilter) info.pFilter->Release();
        continue;
      }
      ComPtr<IBaseFilter> up = ComPtr<IBaseFilter>::Attach(info.pFilter);
      audioCrossbar = SUCCEEDED(builder_->FindInterface(&LOOK_UPSTREAM_ONLY, nullptr, up.Get(), IID_IAMCrossbar,
                                                        audioCrossbar_.PutVoid()));
    }
    trace(audioCrossbar, QStringLiteral("audio crossbar on video available"));
    videoTable_.SetBool("_IsAudioCrossbarAvail", audioCrossbar);
    videoTable_.SetBool("AUDIOCROSSBARAVAIL", audioCrossbar);
    if (audioCrossbar && AutoConnectRelatedPins_) {
      WriteLog(QStringLiteral("routing crossbar"));
      ComPtr<IPin> analogIn;
      // An analog input may offer no types of its own: then the device's first input is it.
      if (SUCCEEDED(FindPinOfType(device, PINDIR_INPUT, MEDIATYPE_AnalogVideo, analogIn)) ||
          SUCCEEDED(FindPinByName(device, PINDIR_INPUT, QString(), analogIn, false, true))) {
        WriteLog(QStringLiteral("auto routing audio crossbar"));
        crossbarTree_ = std::make_unique<TCrossbarTree>(analogIn.Get());
      }
    }
    videoCrossbarPins_.Assign(videoCrossbar_.Get());
    audioCrossbarPins_.Assign(audioCrossbar_.Get());
    if (!discovering_) RouteVideoCrossbarInput();
  } else {
    videoTable_.SetText("VideoInputs", QString());
  }
  if (tuner_) {
    if (discovering_) ReadTunerState();
    else ApplyTunerState();
  }
  videoSourcePin_ = pin;
  return true;
}

bool TFK::BindAudioSource() {
  TDevices* list = AudioDeviceList();
  if (CheckAndLog(this, !list || list->Count() == 0, ll_Warning, QStringLiteral("no audio device found"),
                  TLogType::w_find_audio_device))
    return false;
  int index = boundAudioDevice_ != -1 ? boundAudioDevice_ : AudioDevice_;
  audioSource_.Reset();
  if (!BindDevice(list, index, QString(), !discovering_, false, audioSource_)) return false;
  audioMixer_.Reset();
  audioDeviceCrossbar_.Reset();
  audioSource_->QueryInterface(IID_IAMAudioInputMixer, audioMixer_.PutVoid());
  audioSource_->QueryInterface(IID_IAMCrossbar, audioDeviceCrossbar_.PutVoid());
  ComPtr<IPin> pin;
  if (builder_) builder_->FindPin(audioSource_.Get(), PINDIR_OUTPUT, nullptr, &MEDIATYPE_Audio, 1, 0, pin.Put());
  audioSourcePin_ = pin;
  if (!discovering_) {
    if (audioSourcePin_) ApplyAudioFormat(audioSourcePin_.Get());
    SelectAudioInput();
  }
  return static_cast<bool>(audioSourcePin_);
}

void TFK::FindAudioSourcePin() {
  if (audioSourcePin_ || !snapshot_.audioRecording || state_ != cs_Recording || sourceIsMpeg_ || sourceIsDV_) return;
  BindAudioSource();
}

bool TFK::SetupMpeg2Demux(IPin* pin, ComPtr<IPin>& audio, ComPtr<IPin>& video) {
  audio.Reset();
  video.Reset();
  QString friendly;
  ComPtr<IBaseFilter> demux;
  if (!pin || !FindFilterByName(com::GuidToString(CLSID_LegacyAmFilterCategory), QStringLiteral("MPEG-2 Demultiplexer"),
                                friendly, demux) ||
      !AddFilterToGraph(demux.Get(), RandomName(QStringLiteral("MPEG-2 Demultiplexer"))) ||
      !ConnectToNamedPin(pin, demux.Get(), QStringLiteral("MPEG-2 Stream")))
    return false;
  ComPtr<IMpeg2Demultiplexer> control;
  if (FAILED(demux->QueryInterface(IID_IMpeg2Demultiplexer, control.PutVoid())) || !control) return false;

  CMediaType videoType;
  videoType.SetType(MEDIATYPE_Video);
  videoType.SetSubtype(MEDIASUBTYPE_MPEG2_VIDEO);
  videoType.SetFormatType(FORMAT_MPEG2Video);
  auto* mpeg2 = reinterpret_cast<MPEG2VIDEOINFO*>(videoType.AllocFormatBuffer(sizeof(MPEG2VIDEOINFO)));
  if (!mpeg2) return false;
  std::memset(mpeg2, 0, sizeof(MPEG2VIDEOINFO));
  mpeg2->dwProfile = 2;
  mpeg2->dwLevel = 2;
  videoType.bFixedSizeSamples = 0;
  videoType.bTemporalCompression = 1;
  videoType.lSampleSize = 0;

  CMediaType audioType;
  audioType.SetType(MEDIATYPE_Audio);
  audioType.SetSubtype(MEDIASUBTYPE_MPEG1AudioPayload);
  audioType.SetFormatType(FORMAT_WaveFormatEx);
  auto* wave = reinterpret_cast<MPEG1WAVEFORMAT*>(audioType.AllocFormatBuffer(sizeof(MPEG1WAVEFORMAT)));
  if (!wave) return false;
  std::memset(wave, 0, sizeof(MPEG1WAVEFORMAT));
  wave->wfx.wFormatTag = 0x50;
  wave->wfx.nChannels = 2;
  wave->wfx.nSamplesPerSec = 48000;

  struct Out {
    CMediaType* type;
    const char16_t* name;
    ULONG id;
  } outs[] = {{&videoType, u"Video Out", 0xE0}, {&audioType, u"Audio Out", 0xC0}};
  for (Out& out : outs) {
    std::u16string name(out.name);
    ComPtr<IPin> made;
    if (FAILED(control->CreateOutputPin(out.type, name.data(), made.Put())) || !made) return false;
    ComPtr<IMPEG2StreamIdMap> map;
    ComPtr<IMPEG2PIDMap> pidMap;
    if (SUCCEEDED(made->QueryInterface(IID_IMPEG2StreamIdMap, map.PutVoid())) && map) {
      map->MapStreamId(out.id, MPEG2_PROGRAM_ELEMENTARY_STREAM, 0, 0);
    } else if (SUCCEEDED(made->QueryInterface(IID_IMPEG2PIDMap, pidMap.PutVoid())) && pidMap) {
      ULONG pid = out.id;
      pidMap->MapPID(1, &pid, MEDIA_ELEMENTARY_STREAM);
    }
  }
  builder_->FindPin(demux.Get(), PINDIR_OUTPUT, nullptr, &MEDIATYPE_Audio, 1, 0, audio.Put());
  builder_->FindPin(demux.Get(), PINDIR_OUTPUT, nullptr, &MEDIATYPE_Video, 1, 0, video.Put());
  return audio && video;
}

bool TFK::AddFilterGetInput(const GUID& clsid, const QString& name, ComPtr<IPin>& input, ComPtr<IBaseFilter>& filter) {
  input.Reset();
  filter.Reset();
  if (FAILED(com::CoCreateInstance(clsid, nullptr, com::CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.PutVoid())) ||
      !filter) {
    WriteLog(QStringLiteral("ERROR: AddFilterGetInput cocreate instance failed on filter ") + name);
    return false;
  }
  if (!AddFilterToGraph(filter.Get(), RandomName(name))) {
    WriteLog(QStringLiteral("ERROR: AddFilterGetInput cannot add filter ") + name);
    return false;
  }
  if (FAILED(FindPinByName(filter.Get(), PINDIR_INPUT, QString(), input, true, true))) {
    WriteLog(QStringLiteral("ERROR: AddFilterGetInput cannot find input pin in filter ") + name);
    return false;
  }
  WriteLog(QStringLiteral("AddFilterGetInput ok: ") + name);
  return true;
}

bool TFK::AddFilterGetInput2Outputs(const GUID& clsid, const QString& name, ComPtr<IPin>& output2,
                                    ComPtr<IPin>& output1, ComPtr<IPin>& input, ComPtr<IBaseFilter>& filter) {
  const QString prefix = QStringLiteral("ERROR: AddFilterGetInput2Outputs ");
  input.Reset();
  output1.Reset();
  output2.Reset();
  filter.Reset();
  if (FAILED(com::CoCreateInstance(clsid, nullptr, com::CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.PutVoid())) ||
      !filter) {
    WriteLog(prefix + QStringLiteral("cocreate instance failed on filter ") + name);
    return false;
  }
  if (!AddFilterToGraph(filter.Get(), RandomName(name))) return false;
  if (FAILED(FindPinByName(filter.Get(), PINDIR_INPUT, QString(), input, true, true))) {
    WriteLog(prefix + QStringLiteral("cannot find input pin in filter ") + name);
    return false;
  }
  std::vector<ComPtr<IPin>> outputs;
  for (const ComPtr<IPin>& p : PinsOf(filter.Get())) {
    PIN_DIRECTION d = PINDIR_INPUT;
    ComPtr<IPin> peer;
    if (SUCCEEDED(p->QueryDirection(&d)) && d == PINDIR_OUTPUT && FAILED(p->ConnectedTo(peer.Put())))
      outputs.push_back(p);
  }
  if (outputs.empty()) {
    WriteLog(prefix + QStringLiteral("cannot find output pin #1 in filter ") + name);
    return false;
  }
  output1 = outputs[0];
  if (outputs.size() < 2) {
    WriteLog(prefix + QStringLiteral("cannot find output pin #2 in filter ") + name);
    return false;
  }
  output2 = outputs[1];
  return true;
}

bool TFK::FindFilterByName(const QString& category, const QString& namePart, QString& friendlyName,
                           ComPtr<IBaseFilter>& filter) {
  WriteLog(QStringLiteral("create sys dev enum"));
  filter.Reset();
  const auto monikers = CurrentDeviceProvider()->Enumerate(category);
  if (!monikers) return false;
  for (const DeviceMoniker& m : *monikers) {
    if (!m.friendlyName || !m.friendlyName->contains(namePart)) continue;
    friendlyName = *m.friendlyName;
    filter = BindFilter(m);
    return static_cast<bool>(filter);
  }
  return false;
}

bool TFK::ConnectToNamedPin(IPin* pin, IBaseFilter* filter, const QString& name) {
  ComPtr<IPin> input;
  if (!pin || !filter || FAILED(FindPinByName(filter, PINDIR_INPUT, name, input, false, false))) return false;
  return graph_ && SUCCEEDED(graph_->Connect(pin, input.Get()));
}

int TFK::CountAudioInputs() const {
  int inputs = 0;
  for (const ComPtr<IPin>& pin : PinsOf(audioSource_.Get())) {
    PIN_DIRECTION d = PINDIR_OUTPUT;
    if (SUCCEEDED(pin->QueryDirection(&d)) && d == PINDIR_INPUT) ++inputs;
  }
  return inputs;
}

void TFK::ReleaseDeviceInterfaces() {
  crossbarTree_.reset();
  videoCrossbarPins_.Clear();
  audioCrossbarPins_.Clear();
  tuner_.Reset();
  decoder_.Reset();
  streamConfig_.Reset();
  filterProperties_.Reset();
  pinProperties_.Reset();
  procAmp_.Reset();
  cameraControl_.Reset();
  videoCrossbar_.Reset();
  audioCrossbar_.Reset();
  audioDeviceCrossbar_.Reset();
  audioMixer_.Reset();
  pinMixer_.Reset();
  previewPin_.Reset();
  capturePin_.Reset();
  captureStreamPin_.Reset();
  audioSourcePin_.Reset();
  videoSourcePin_.Reset();
  videoSource_.Reset();
  audioSource_.Reset();
}

}  // namespace kestrom::engine
