// The engine's graph: run state, creation, binding devices into it and its release.
#include "capture/engine/FK.h"

#include "capture/engine/DeviceProvider.h"
#include "capture/engine/GraphHelpers.h"
#include "capture/engine/SyncManager.h"
#include "platform/dshow/base/Guids.h"

#include <QFile>
#include <QThread>
#include <mutex>
#include <set>

namespace kestrom::engine {

using com::ComPtr;
using namespace dshow;
using com::E_FAIL;
using com::FAILED;
using com::S_OK;
using com::SUCCEEDED;

namespace {

struct InUse {
  std::mutex mutex;
  std::multiset<QString> keys;
};

InUse& DevicesInUse() {
  static auto* inUse = new InUse;
  return *inUse;
}


/** @brief Takes every filter out of a graph, gathered in one pass (a removal spoils an enumeration). */
void RemoveAllFilters(IGraphBuilder* graph) {
  if (!graph) return;
  std::vector<ComPtr<IBaseFilter>> present;
  ComPtr<IEnumFilters> filters;
  if (SUCCEEDED(graph->EnumFilters(filters.Put())) && filters) {
    ComPtr<IBaseFilter> filter;
    ULONG fetched = 0;
    while (filters->Next(1, filter.Put(), &fetched) == S_OK && filter) present.push_back(std::move(filter));
  }
  for (const ComPtr<IBaseFilter>& filter : present) graph->RemoveFilter(filter.Get());
}

}  // namespace

bool TFK::DeviceInUse(const QString& key) {
  InUse& u = DevicesInUse();
  std::lock_guard lock(u.mutex);
  return u.keys.count(key) > 0;
}

bool TFK::SetGraphState(int state, const QString& reason) {
  if (!control_) return false;
  HRESULT hr = E_FAIL;
  switch (state) {
    case 0:
      WriteLog(QStringLiteral("ch graph state stopped ") + reason);
      graphPaused_ = false;
      hr = control_->Stop();
      runState_ = 0;
      return SUCCEEDED(hr);
    case 1:
      WriteLog(QStringLiteral("ch graph state paused ") + reason);
      hr = control_->Pause();
      graphPaused_ = true;
      runState_ = 1;
      return SUCCEEDED(hr);
    case 2: {
      // A graph run straight from stopped is given a moment before and after, as devices need it;
      // a re-encoding graph reads a file and has none.
      const bool settle = runState_ == 0 && state_ != cs_Reencoding;
      if (settle) QThread::msleep(20);
      WriteLog(QStringLiteral("ch graph state running ") + reason);
      graphPaused_ = false;
      hr = control_->Run();
      if (FAILED(hr)) {
        control_->Stop();
        hr = control_->Run();
        if (SUCCEEDED(hr)) {
          WriteLog(QStringLiteral("successfully restarted ") + reason);
        } else {
          WriteLog(QStringLiteral("ERROR: failed to run") + reason);
          control_->Stop();
          // Both runs failed and the graph is stopped: so is the run state.
          runState_ = 0;
          return false;
        }
      }
      if (settle) QThread::msleep(20);
      runState_ = 2;
      if (speedRatioPending_ && seeking_) {
        seeking_->SetRate(PlayerSpeedRatio_);
        speedRatioPending_ = false;
      }
      return true;
    }
    default: return false;
  }
}

void TFK::SnapshotBuildParameters() {
  ClearGraph(false);
  BuildParameters& s = snapshot_;
  s.frameGrabber = FrameGrabber_;
  s.rgbFormat = FrameGrabberRGBFormat_;
  s.compressionMode = CompressionMode_;
  s.compressionType = CompressionType_;
  burstCounter_ = BurstCount_;
  burstIntervalCounter_ = BurstInterval_;
  s.recordingCanPause = RecordingCanPause_;
  s.audioDeviceRendering = AudioDeviceRendering_;
  s.playerAudioRendering = PlayerAudioRendering_;
  s.videoSource = VideoSource_;
  s.speakerControl = SpeakerControl_;
  s.recordingMethod = RecordingMethod_;
  s.audioRecording = AudioRecording_;
  s.associateAudioAndVideo = AssociateAudioAndVideoDevices_;
  s.videoRenderer = VideoRenderer_;
  s.motionDetector = MotionDetector_Enabled_;
  s.grabberOnCaptureStream = false;
  // The motion detector compares true-colour frames only.
  if (s.motionDetector && (s.rgbFormat == fgf_RGB565 || s.rgbFormat == fgf_RGB555 || s.rgbFormat == fgf_RGB8))
    s.rgbFormat = fgf_Default;
  snapshotRGBFormat_ = s.rgbFormat;
  builtWithCanPause_ = s.recordingCanPause;
  buildParametersTaken_ = true;
  ResetCounters(true);
}

bool TFK::CreateFilterGraph() {
  WriteLog(QStringLiteral("creating filter graph"));
  if (CheckAndLog(this, !buildParametersTaken_, ll_Error, QStringLiteral("current params not set"),
                  TLogType::e_set_filter_graph))
    return false;
  if (!CreateInstanceLogged(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2, builder_.PutVoid(),
                            QStringLiteral("Graph Builder"))) {
    CheckAndLog(this, true, ll_Error, QStringLiteral("DirectX 8 or higher required!"), TLogType::e_set_filter_graph);
    return false;
  }
  ChooseMpegWriter();
  if (!asfTemporaryFile_.isEmpty()) {
    QFile::remove(asfTemporaryFile_);
    asfTemporaryFile_.clear();
  }
  // A recording or re-encoding ends in a writer; a native MPEG stream is written by its raw writer.
  const bool writes = state_ == cs_Reencoding || (state_ == cs_Recording && !IsRecordingMpegNatively());
  if (writes && mpegWriterIdentity_.isEmpty()) {
    // The writing file's name is computed by the file naming; without one there is no output.
    QString output = writingFile_.isEmpty() ? recordingFile_ : writingFile_;
    const GUID* type = &MEDIASUBTYPE_Avi;
    if (snapshot_.recordingMethod == rm_ASF) {
      type = &MEDIASUBTYPE_Asf;
    } else if (IsAsfOutput()) {
      // Only streaming: the writer still needs a file name until its file sink is removed.
      type = &MEDIASUBTYPE_Asf;
      output = asfTemporaryFile_ = TempFileName(QStringLiteral("~as"));
    }
    const std::u16string file = output.toStdU16String();
    const HRESULT hr = output.isEmpty() ? E_FAIL : builder_->SetOutputFileName(type, file.c_str(), writer_.Put(), fileSink_.Put());
    if (!LogResult(this, hr, ll_Error, QStringLiteral("set outputfilename (mux/sink"), TLogType::e_set_output_file_name))
      return false;
    if (*type == MEDIASUBTYPE_Asf && !SetupASFWriter()) return false;
    if (!LogResult(this, builder_->GetFiltergraph(graph_.Put()), ll_Error, QStringLiteral("filter graph 1"),
                   TLogType::e_set_filter_graph))
      return false;
  } else {
    if (!CreateInstanceLogged(CLSID_FilterGraph, IID_IGraphBuilder, graph_.PutVoid(), QStringLiteral("Filter Graph")))
      return false;
    if (!LogResult(this, builder_->SetFiltergraph(graph_.Get()), ll_Error, QStringLiteral("filter graph 2"),
                   TLogType::e_set_filter_graph))
      return false;
    if (writes && !BindMPEGWriter()) return false;
  }
  if (!LogResult(this, graph_->QueryInterface(IID_IFilterGraph2, graph2_.PutVoid()), ll_Error,
                 QStringLiteral("filter graph 2"), TLogType::e_get_interface))
    return false;
  WriteLog(QStringLiteral("filter graph created"));
  return true;
}

bool TFK::TakeGraphControls() {
  if (!graph_) return false;
  const bool ok = SUCCEEDED(graph_->QueryInterface(IID_IMediaControl, control_.PutVoid())) &&
                  SUCCEEDED(graph_->QueryInterface(IID_IMediaSeeking, seeking_.PutVoid())) &&
                  SUCCEEDED(graph_->QueryInterface(IID_IMediaEventEx, events_.PutVoid()));
  graphActive_ = ok;
  return ok;
}

bool TFK::BindDevice(TDevices* list, int& index, const QString& inputName, bool logChoice, bool checkInUse,
                     ComPtr<IBaseFilter>& filter) {
  if (!list || !graph2_) return false;
  const QString kind = list->ListName();
  if (CheckAndLog(this, index == -1, ll_Error, kind + QStringLiteral(" not selected!"), TLogType::e_index_out_of_range))
    return false;
  if (list->Count() == 0) return false;
  if (index < 0 || index >= list->Count()) {
    CheckAndLog(this, true, ll_Warning, kind + QStringLiteral(" index out of range, index 0 used instead"),
                TLogType::e_index_out_of_range);
    index = 0;
  }
  const std::optional<TCapDeviceInfo> device = list->Entry(index);
  if (!device) return false;
  const QString name = device->FriendlyName;
  if (checkInUse && CheckAndLog(this, DeviceInUse(device->Key), ll_Error, name + QStringLiteral(" is already in use"),
                                TLogType::e_device_in_use_in_another_graph))
    return false;
  if (logChoice) {
    const QString text = inputName.isEmpty()
                             ? QStringLiteral("using ") + kind + QStringLiteral(": ") + name
                             : QStringLiteral("using ") + kind + QStringLiteral(":\r\n") + name +
                                   QStringLiteral("\r\non input ") + inputName;
    CheckAndLog(this, true, ll_Info, text, TLogType::i_binding_device_or_compressor);
  }
  QString friendly;
  DeviceMoniker moniker;
  HRESULT hr = E_FAIL;
  if (FindDeviceMoniker(list->Category(), device->Key, 3, friendly, moniker) && moniker.moniker) {
    const std::u16string filterName = (QString::number(index) + QLatin1Char(' ') + name).toStdU16String();
    hr = graph2_->AddSourceFilterForMoniker(moniker.moniker.Get(), nullptr, filterName.c_str(), filter.Put());
  }
  if (!LogResult(this, hr, ll_Error, QStringLiteral("bind ") + name + QStringLiteral(" device moniker to filter"),
                 TLogType::e_bind_moniker_to_filter))
    return false;
  if (checkInUse) {
    InUse& u = DevicesInUse();
    std::lock_guard lock(u.mutex);
    u.keys.insert(device->Key);
    devicesHeld_.push_back(device->Key);
  }
  return true;
}

bool TFK::AddFilterByMoniker(const QString& displayName, const QString& filterName, const QString& category,
                             ComPtr<IBaseFilter>& filter) {
  filter.Reset();
  const auto monikers = CurrentDeviceProvider()->Enumerate(category);
  if (monikers) {
    for (const DeviceMoniker& m : *monikers)
      if (m.displayName == displayName) {
        filter = BindFilter(m);
        break;
      }
  }
  if (CheckAndLog(this, !filter, ll_Error, QStringLiteral("bind ") + filterName + QStringLiteral(" device moniker to filter"),
                  TLogType::e_bind_moniker_to_filter))
    return false;
  if (AddFilterToGraph(filter.Get(), filterName)) return true;
  filter.Reset();
  return false;
}

void TFK::SetRecordingHold(bool hold) {
  if (hold == recordingHold_ || (hold && recordingWritingStarted_)) return;
  recordingHold_ = hold;
  if (hold || state_ != cs_Recording || recordingWritingStarted_) return;
  SetPinCapture(videoCapturePin_.Get(), QStringLiteral("video"), true);
  SetPinCapture(audioCapturePin_.Get(), QStringLiteral("audio"), true);
  {
    // The frames and time of a recording count from here, not from the graph's run: the user may
    // have kept the ready question open, and a relay or time limit would end the recording early.
    std::lock_guard lock(frameLock_);
    auto& c = counters_;
    c.startTime = c.streamTime;
    c.startFrame = c.frameNumber;
    c.startDropped = c.dropped;
    c.restartAtNext = true;
    DeriveFrameInfoLocked(state_);
  }
  AnnounceRecordingStart();
}

bool TFK::SetPinCapture(IPin* pin, const QString& name, bool run) {
  if (!pin) return false;
  ComPtr<IAMStreamControl> control;
  if (CheckAndLog(this, FAILED(pin->QueryInterface(IID_IAMStreamControl, control.PutVoid())) || !control, ll_Error,
                  QStringLiteral("no stream control on ") + name + QStringLiteral(" pin"), TLogType::e_no_stream_control))
    return true;
  const REFERENCE_TIME never = MAX_TIME;
  if (run) {
    control->StopAt(&never, 1, 0);  // cancels a pending stop
    control->StartAt(nullptr, 0);
  } else {
    control->StartAt(&never, 0);  // cancels a pending start
    control->StopAt(nullptr, 0, 0);
  }
  return true;
}

bool TFK::AddFilterToGraph(IBaseFilter* filter, const QString& name) {
  const std::u16string wide = name.toStdU16String();
  const HRESULT hr = graph_ && filter ? graph_->AddFilter(filter, wide.c_str()) : E_FAIL;
  return LogResult(this, hr, ll_Error, QStringLiteral("rejected: ") + name, TLogType::e_add_filter);
}

namespace {

QStringList GraphFilterNames(IGraphBuilder* graph) {
  QStringList names;
  ComPtr<IEnumFilters> filters;
  if (!graph || FAILED(graph->EnumFilters(filters.Put())) || !filters) return names;
  ComPtr<IBaseFilter> filter;
  ULONG fetched = 0;
  while (filters->Next(1, filter.Put(), &fetched) == S_OK && filter) names << FilterName(filter.Get());
  return names;
}

}  // namespace

TFK::TSaveFilterState TFK::SaveFilterState(IPin* pin) const {
  TSaveFilterState state;
  state.filters = GraphFilterNames(graph_.Get());
  if (!pin) return state;
  state.pinName = PinName(pin).left(128);
  PIN_INFO info{};
  if (SUCCEEDED(pin->QueryPinInfo(&info)) && info.pFilter) {
    ComPtr<IBaseFilter> owner = ComPtr<IBaseFilter>::Attach(info.pFilter);
    state.filterName = FilterName(owner.Get()).left(128);
  }
  return state;
}

bool TFK::RestoreFilterState(const TSaveFilterState& state, ComPtr<IPin>& pin) {
  if (!graph_) return false;
  // Removing a filter changes the enumeration, so it starts over after each removal.
  for (bool removed = true; removed;) {
    removed = false;
    ComPtr<IEnumFilters> filters;
    if (FAILED(graph_->EnumFilters(filters.Put())) || !filters) return false;
    ComPtr<IBaseFilter> filter;
    ULONG fetched = 0;
    while (filters->Next(1, filter.Put(), &fetched) == S_OK && filter) {
      if (state.filters.contains(FilterName(filter.Get()))) continue;
      removed = SUCCEEDED(graph_->RemoveFilter(filter.Get()));
      if (removed) break;
    }
  }
  ComPtr<IBaseFilter> owner;
  const std::u16string name = state.filterName.toStdU16String();
  if (FAILED(graph_->FindFilterByName(name.c_str(), owner.Put())) || !owner) return false;
  if (SUCCEEDED(FindPinByName(owner.Get(), PINDIR_OUTPUT, state.pinName, pin, false, false))) return true;
  return SUCCEEDED(FindPinByName(owner.Get(), PINDIR_OUTPUT, QString(), pin, true, true));
}

bool TFK::StartAudioRenderingGraph() {
  ReleaseAudioRenderingGraph();
  ComPtr<IFilterGraph2> graph2;
  const TDevices* list = AudioDeviceList();
  const int index = boundAudioDevice_ != -1 ? boundAudioDevice_ : AudioDevice_;
  const std::optional<TCapDeviceInfo> device = list ? list->Entry(index) : std::nullopt;
  QString friendly;
  DeviceMoniker moniker;
  ComPtr<IBaseFilter> source;
  bool ok = device &&
            CreateInstanceLogged(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2, audioBuilder_.PutVoid(),
                                 QStringLiteral("Graph Builder")) &&
            CreateInstanceLogged(CLSID_FilterGraph, IID_IGraphBuilder, audioGraph_.PutVoid(),
                                 QStringLiteral("Filter Graph")) &&
            SUCCEEDED(audioBuilder_->SetFiltergraph(audioGraph_.Get())) &&
            SUCCEEDED(audioGraph_->QueryInterface(IID_IFilterGraph2, graph2.PutVoid())) &&
            FindDeviceMoniker(list->Category(), device->Key, 3, friendly, moniker) && moniker.moniker;
  if (ok) {
    const std::u16string name = (QString::number(index) + QLatin1Char(' ') + device->FriendlyName).toStdU16String();
    ok = SUCCEEDED(graph2->AddSourceFilterForMoniker(moniker.moniker.Get(), nullptr, name.c_str(), source.Put())) &&
         SUCCEEDED(audioBuilder_->RenderStream(nullptr, &MEDIATYPE_Audio, source.Get(), nullptr, nullptr)) &&
         SUCCEEDED(audioGraph_->QueryInterface(IID_IMediaControl, audioControl_.PutVoid())) &&
         SUCCEEDED(audioControl_->Run());
  }
  LogYesNo(ok, QStringLiteral("audio rendering graph"));
  if (!ok) ReleaseAudioRenderingGraph();
  return ok;
}

void TFK::ReleaseAudioRenderingGraph() {
  if (audioControl_) audioControl_->Stop();
  audioControl_.Reset();
  RemoveAllFilters(audioGraph_.Get());
  audioBuilder_.Reset();
  audioGraph_.Reset();
}

QString TFK::CaptureFileExtension() const {
  if (!CaptureFileExt_.isEmpty() && CaptureFileExt_ != QLatin1String("default")) return CaptureFileExt_;
  return RecordingMethod_ == rm_ASF ? QStringLiteral("asf") : QStringLiteral("avi");
}

void TFK::ReleaseGraph() {
  ReleaseDeviceInterfaces();
  videoCapturePin_.Reset();
  audioCapturePin_.Reset();
  // No notices may reach the component once its event interface is gone.
  if (events_) events_->SetNotifyWindow(0, GraphNotifyMessage(), 0);
  events_.Reset();
  seeking_.Reset();
  control_.Reset();
  // Filters leave the graph before the graph goes; the graph keeps copies of their names.
  RemoveAllFilters(graph_.Get());
  writer_.Reset();
  fileSink_.Reset();
  ReleaseModuleHolders();
  for (int slot = 0; slot < DisplaySlots; ++slot) ReleaseDisplay(slot);
  for (auto& slot : thirdPartyFilters_)
    for (TThirdPartyFilter& entry : slot) entry.filter.Reset();
  graph2_.Reset();
  builder_.Reset();
  graph_.Reset();
  InUse& u = DevicesInUse();
  std::lock_guard lock(u.mutex);
  for (const QString& key : devicesHeld_)
    if (auto it = u.keys.find(key); it != u.keys.end()) u.keys.erase(it);
  devicesHeld_.clear();
}

}  // namespace kestrom::engine
