// The clip player: a recorded clip played through the preview's display, grabber and filters.
#include "capture/engine/FK.h"

#include "capture/engine/DeviceProvider.h"
#include "capture/engine/GraphHelpers.h"
#include "capture/engine/SyncManager.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/Decoders.h"
#include "platform/dshow/sources/DvMpegInterfaces.h"

#include <QCoreApplication>
#include <cmath>
#include <cstdlib>

namespace kestrom::engine {

using com::ComPtr;
using namespace dshow;
using com::FAILED;
using com::S_OK;
using com::SUCCEEDED;

namespace {

// Every registered filter is listed in this category of the system device enumerator.
inline constexpr const char* kFilterCategory = "{083863F1-70DE-11D0-BD40-00A0C911CE86}";

// A source that cannot tell its frame count is taken as 24 frames a second.
inline constexpr int64_t kDefaultFrameTime = 416666;

const QString kGrabberFailedText = QStringLiteral(
    "failed to bind the frame grabber, it is probable that the current decompressor does not accept uncompressed "
    "RGB, you install another decompressor and use the PlayerForcedCodec property if necessary.");

std::u16string Wide(const QString& text) { return text.toStdU16String(); }

ComPtr<IBaseFilter> OwnerOf(IPin* pin) {
  PIN_INFO info{};
  if (!pin || FAILED(pin->QueryPinInfo(&info))) return {};
  return ComPtr<IBaseFilter>::Attach(info.pFilter);
}

CLSID ClassOf(IBaseFilter* filter) {
  CLSID clsid{};
  if (filter) filter->GetClassID(&clsid);
  return clsid;
}

/** @brief The peer of a connected pin; null when it is not connected. */
ComPtr<IPin> PeerOf(IPin* pin) {
  ComPtr<IPin> peer;
  if (pin) pin->ConnectedTo(peer.Put());
  return peer;
}

/**
 * @brief A renderer the rendering made: a filter without outputs whose connected input carries
 * the major type. Gives its input pin.
 */
bool FindRendered(IFilterGraph* graph, const GUID& major, ComPtr<IBaseFilter>& renderer, ComPtr<IPin>& input) {
  for (const ComPtr<IBaseFilter>& filter : FiltersOf(graph)) {
    const std::vector<ComPtr<IPin>> pins = PinsOf(filter.Get());
    bool sink = true;
    ComPtr<IPin> fed;
    for (const ComPtr<IPin>& pin : pins) {
      PIN_DIRECTION direction = PINDIR_INPUT;
      pin->QueryDirection(&direction);
      if (direction == PINDIR_OUTPUT) {
        sink = false;
        break;
      }
      AM_MEDIA_TYPE type{};
      if (!fed && SUCCEEDED(pin->ConnectionMediaType(&type))) {
        if (type.majortype == major) fed = pin;
        FreeMediaType(type);
      }
    }
    if (sink && fed) {
      renderer = filter;
      input = fed;
      return true;
    }
  }
  return false;
}

/** @brief Cuts the link into input and takes its filter out of the graph; gives the output that fed it. */
ComPtr<IPin> RemoveSink(IFilterGraph* graph, IBaseFilter* filter, IPin* input) {
  ComPtr<IPin> output = PeerOf(input);
  if (output) output->Disconnect();
  input->Disconnect();
  graph->RemoveFilter(filter);
  return output;
}

}  // namespace

bool TFK::SteppedPlaybackAvailable() const {
  return state_ == cs_Player && graphActive_ && seeking_ && frameDuration_ > 0 && playerStepThread_;
}

bool TFK::OpenClip() {
  Fire(&TFKEvents::OnReinitializing);
  SetBusyCursor(true);
  frameCount_ = 0;
  state_ = cs_Player;
  SnapshotBuildParameters();
  clipLoading_ = false;
  stepInterval_ = 0;
  playerGrabberFailed_ = dvDataGrabber_ = builtWithAudio_ = false;
  bool ok = CreateFilterGraph() && BuildPlayerGraph() && AfterBuild(true);
  if (ok) {
    lastFrameTime_ = 0;
    grabbedFrames_ = 0;
    QCoreApplication::processEvents();
    if (PlayerTrackBar_) {
      // The engine moves the bar as frames show; its own moves position the player.
      PlayerTrackBar_->setMinimum(1);
      PlayerTrackBar_->setTickInterval(1);
      PlayerTrackBar_->setPageStep(1);
      PlayerTrackBar_->setMaximum(static_cast<int>(std::clamp<int64_t>(clipFrameCount_, 1, INT32_MAX)));
    }
    ShowDisplayWindows();
    QCoreApplication::processEvents();
    if (!AutoStartPlayer_) {
      // Running shows the first frame; the short run may have moved on, so the clip goes back to its start.
      RunPlayer();
      PausePlayer();
      SeekPlayer(0);
      FrameProgress();
    } else if (stepInterval_ != 0) {
      PlayStepped();
    } else {
      SetGraphState(2, QStringLiteral("bldpla2"));
    }
  } else {
    CheckAndLog(this, true, ll_Error, QStringLiteral("cannot play ") + PlayerFileName_,
                TLogType::e_failed_to_render_file);
    LogGraphTree();
    // Nothing of a failed clip stays: no graph, no player state, and no stop left queued for a later mode.
    ClearGraph(true);
    ResetCounters(true);
    stepInterval_ = 0;
    builtWithAudio_ = false;
  }
  SetBusyCursor(false);
  return ok;
}

bool TFK::BuildPlayerGraph() {
  ComPtr<IBaseFilter> codec = AddForcedCodec();
  if (!RenderClip(codec.Get())) return false;
  if (!SetupSeeking()) return false;

  // Sound: kept in its renderer, or ended in a Null Renderer without audio rendering.
  ComPtr<IBaseFilter> audioRenderer;
  ComPtr<IPin> audioInput;
  const bool hasAudio = FindRendered(graph_.Get(), MEDIATYPE_Audio, audioRenderer, audioInput);
  clipKind_ = hasAudio ? 2 : 1;
  if (hasAudio && !snapshot_.playerAudioRendering) {
    ComPtr<IPin> sound = RemoveSink(graph_.Get(), audioRenderer.Get(), audioInput.Get());
    ConnectNullRenderer(sound.Get());
  } else if (!hasAudio) {
    // The clip is paced by the custom clock then: a rate the graph took would slow it twice.
    if (snapshot_.playerAudioRendering && !rateRefused_ && PlayerSpeedRatio_ != 1.0) seeking_->SetRate(1.0);
    snapshot_.playerAudioRendering = false;
  }
  builtWithAudio_ = snapshot_.playerAudioRendering;

  // Picture: the rendering's own renderer (and the converter in front of it) make way for ours.
  ComPtr<IBaseFilter> videoRenderer;
  ComPtr<IPin> videoInput;
  if (!FindRendered(graph_.Get(), MEDIATYPE_Video, videoRenderer, videoInput)) {
    WriteLog(QStringLiteral("no video renderer in the clip's graph"));
    return false;
  }
  // The clip's own size, as its decoder hands the pictures on.
  AM_MEDIA_TYPE shown{};
  if (SUCCEEDED(videoInput->ConnectionMediaType(&shown))) {
    if (const BITMAPINFOHEADER* header = BitmapHeaderOf(shown))
      clipSize_ = QSize(int(header->biWidth), int(std::abs(header->biHeight)));
    FreeMediaType(shown);
  }
  ComPtr<IPin> chain = RemoveSink(graph_.Get(), videoRenderer.Get(), videoInput.Get());
  ComPtr<IBaseFilter> feeder = OwnerOf(chain.Get());
  if (feeder && ClassOf(feeder.Get()) == CLSID_Colour) {
    ComPtr<IPin> converterInput;
    if (SUCCEEDED(FindPinByName(feeder.Get(), PINDIR_INPUT, QString(), converterInput, false, true)))
      chain = RemoveSink(graph_.Get(), feeder.Get(), converterInput.Get());
  }
  if (!chain) return false;

  InsertExtraFilters(tpf_VideoSource, chain);
  InsertExtraFilters(tpf_VideoCapture, chain);
  if (!InsertVideoTransforms(chain)) return false;
  if (snapshot_.frameGrabber != fg_Disabled && !InsertGrabber(QStringLiteral("GRB_RGB"), chain)) {
    playerGrabberFailed_ = true;
    CheckAndLog(this, true, ll_Error, kGrabberFailedText, TLogType::e_failed_to_bind_frame_grabber);
  }
  SetupPlayerDVDecoder();
  InsertExtraFilters(tpf_VideoPreview, chain);
  return InsertVideoDisplay(chain.Get());
}

ComPtr<IBaseFilter> TFK::AddForcedCodec() {
  const QString wanted = PlayerForcedCodec_;
  if (wanted.isEmpty()) return {};
  const bool byClassId = wanted.startsWith(QLatin1Char('{'));
  // A text in braces that is no class id names no filter.
  const std::optional<GUID> clsid = byClassId ? com::GuidFromString(wanted) : std::nullopt;
  const DeviceMoniker* found = nullptr;
  const auto filters = CurrentDeviceProvider()->Enumerate(QString::fromLatin1(kFilterCategory));
  if (filters && (!byClassId || clsid)) {
    for (const DeviceMoniker& m : *filters) {
      const bool match = byClassId ? com::GuidFromString(m.classId) == clsid : m.friendlyName && *m.friendlyName == wanted;
      if (match && m.friendlyName) {
        found = &m;
        break;
      }
    }
  }
  if (CheckAndLog(this, !found, ll_Error, QStringLiteral("player codec not found"), TLogType::e_failed_to_bind_codec))
    return {};
  ComPtr<IBaseFilter> filter = BindFilter(*found);
  const std::u16string name = Wide(*found->friendlyName);
  if (CheckAndLog(this, !filter || FAILED(graph_->AddFilter(filter.Get(), name.c_str())), ll_Error,
                  QStringLiteral("cannot bind player codec"), TLogType::e_failed_to_bind_codec))
    return {};
  return filter;
}

bool TFK::RenderClip(IBaseFilter* codec) {
  const std::u16string file = Wide(PlayerFileName_);
  HRESULT hr = com::E_FAIL;
  if (!codec) {
    hr = graph_->RenderFile(file.c_str(), nullptr);
  } else {
    // The rendering would look only at renderers already in the graph: the forced codec takes
    // the first stream it accepts by hand, and the graph renders what comes out of it.
    ComPtr<IBaseFilter> source;
    hr = graph_->AddSourceFilter(file.c_str(), file.c_str(), source.Put());
    if (SUCCEEDED(hr)) {
      int rendered = 0;
      bool codecUsed = false;
      for (const ComPtr<IPin>& out : PinsOf(source.Get())) {
        PIN_DIRECTION direction = PINDIR_INPUT;
        out->QueryDirection(&direction);
        if (direction != PINDIR_OUTPUT) continue;
        ComPtr<IPin> codecInput;
        if (!codecUsed && SUCCEEDED(FindPinByName(codec, PINDIR_INPUT, QString(), codecInput, true, true)) &&
            SUCCEEDED(graph_->ConnectDirect(out.Get(), codecInput.Get(), nullptr))) {
          codecUsed = true;
          bool all = true;
          for (const ComPtr<IPin>& next : PinsOf(codec)) {
            PIN_DIRECTION d = PINDIR_INPUT;
            next->QueryDirection(&d);
            if (d == PINDIR_OUTPUT && FAILED(graph_->Render(next.Get()))) all = false;
          }
          if (all) ++rendered;
          continue;
        }
        if (SUCCEEDED(graph_->Render(out.Get()))) ++rendered;
      }
      if (!codecUsed) WriteLog(QStringLiteral("player codec takes no stream of the clip"));
      hr = rendered > 0 ? S_OK : com::VFW_E_CANNOT_RENDER;
    }
  }
  return !CheckAndLog(this, FAILED(hr), ll_Trace, QStringLiteral("cannot render file"), TLogType::e_failed_to_render_file);
}

bool TFK::SetupSeeking() {
  frameStep_.Reset();
  rateRefused_ = false;
  ComPtr<IVideoFrameStep> step;
  if (!CheckAndLog(this, FAILED(graph_->QueryInterface(IID_IVideoFrameStep, step.PutVoid())) || !step, ll_Error,
                   QStringLiteral("video frame step"), TLogType::e_get_interface) &&
      step->CanStep(0, nullptr) == S_OK)
    frameStep_ = step;  // kept only when some renderer steps: otherwise forward steps seek
  if (CheckAndLog(this, FAILED(graph_->QueryInterface(IID_IMediaSeeking, seeking_.PutVoid())) || !seeking_, ll_Error,
                  QStringLiteral("find Media seeking"), TLogType::e_get_interface))
    return false;
  if (snapshot_.playerAudioRendering && FAILED(seeking_->SetRate(PlayerSpeedRatio_))) {
    CheckAndLog(this, true, ll_Warning,
                QStringLiteral("cannot set player speed ratio, you should enable PlayerSpeedRatioWithoutAudio."),
                TLogType::e_failed_to_set_player_speed_ratio_with_audio);
    rateRefused_ = true;
  }
  DWORD capabilities = 0;
  if (FAILED(seeking_->GetCapabilities(&capabilities))) capabilities = 0;
  clipSeekable_ = capabilities == 0 || (capabilities & AM_SEEKING_CanSeekAbsolute) != 0;
  LONGLONG frames = 0, duration = 0;
  if (seeking_->IsFormatSupported(&TIME_FORMAT_FRAME) == S_OK && SUCCEEDED(seeking_->SetTimeFormat(&TIME_FORMAT_FRAME)) &&
      FAILED(seeking_->GetDuration(&frames)))
    frames = 0;
  seeking_->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME);
  if (FAILED(seeking_->GetDuration(&duration)) || duration < 0) duration = 0;
  clipDuration_ = duration;
  if (frames > 0 && duration > 0) {
    clipFrameCount_ = frames;
    frameDuration_ = std::llround(static_cast<double>(duration) / static_cast<double>(frames));
  } else {
    frameDuration_ = kDefaultFrameTime;
    clipFrameCount_ = std::llround(static_cast<double>(duration) / static_cast<double>(kDefaultFrameTime));
  }
  stepInterval_ =
      rateRefused_ ? static_cast<int>(std::lround(static_cast<double>(frameDuration_) / 1e4 / PlayerSpeedRatio_)) : 0;
  return true;
}

void TFK::SetupPlayerDVDecoder() {
  ComPtr<IBaseFilter> decoder;
  if (FAILED(graph_->FindFilterByName(u"DV Video Decoder", decoder.Put())) || !decoder) return;
  ComPtr<IPin> input;
  if (SUCCEEDED(FindPinByName(decoder.Get(), PINDIR_INPUT, QString(), input, false, true))) {
    if (ComPtr<IPin> upstream = PeerOf(input.Get())) {
      // The DV data grabber reads the recording date from the stream before it is decoded.
      upstream->Disconnect();
      input->Disconnect();
      ComPtr<IPin> chain = upstream;
      if (InsertGrabber(QStringLiteral("GRB_DvData"), chain) && ConnectPins(chain.Get(), input.Get())) {
        dvDataGrabber_ = true;
      } else {
        if (chain != upstream) {
          ComPtr<IBaseFilter> grabber = OwnerOf(chain.Get());
          DisconnectAll(grabber.Get());
          graph_->RemoveFilter(grabber.Get());
        }
        ConnectPins(upstream.Get(), input.Get());
      }
    }
  }
  ComPtr<IIPDVDec> display;
  if (SUCCEEDED(decoder->QueryInterface(IID_IIPDVDec, display.PutVoid())) && display)
    LogResult(this, display->put_IPDisplay(DVRESOLUTION_FULL + PlayerDVSize_), ll_Trace,
              QStringLiteral("set DV display resolution"), TLogType::e_trace_log);
  // The mixing renderer 9 shows DV badly; the 7 takes its place.
  if (snapshot_.videoRenderer == vr_VMR9) snapshot_.videoRenderer = vr_VMR7;
}

bool TFK::RunPlayerBackwards() {
  fastPlay_ = false;
  return PlayBackwards();
}

bool TFK::PlayBackwards() {
  if (CheckAndLog(this, state_ != cs_Player, ll_Trace, QStringLiteral("no clip opened"), TLogType::w_not_playing))
    return false;
  if (CheckAndLog(this, !clipSeekable_, ll_Warning, QStringLiteral("this clip cannot be played backwards"),
                  TLogType::e_failed_to_play_backwards))
    return false;
  if (!SteppedPlaybackAvailable()) return false;
  steppingBackwards_ = true;
  steppingForwards_ = false;
  if (!steppingPosted_) {
    steppingPosted_ = true;
    PostSyncCommand(sy_PlayerStep, this);
  }
  return true;
}

bool TFK::PlayStepped() {
  if (!SteppedPlaybackAvailable()) return false;
  if (runState_ != 1) SetGraphState(1, QStringLiteral("spf"));
  steppingForwards_ = true;
  steppingBackwards_ = false;
  if (!steppingPosted_) {
    steppingPosted_ = true;
    PostSyncCommand(sy_PlayerStep, this);
  }
  return true;
}

}  // namespace kestrom::engine
