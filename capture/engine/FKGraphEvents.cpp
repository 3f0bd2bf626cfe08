// The steps after a build that take the graph's interfaces, the graph's events and the
// notification thread's frame progress, and stepped playback.
#include "capture/engine/FK.h"

#include "capture/engine/GraphHelpers.h"
#include "capture/engine/SyncManager.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/writers/WindowIds.h"
#include "platform/dshow/writers/WriterInterfaces.h"

#include <QWidget>
#include <algorithm>
#include <cmath>
#include <set>

namespace kestrom::engine {

using com::ComPtr;
using namespace dshow;
using com::FAILED;
using com::SUCCEEDED;

namespace {

/** @brief Two packed BCD digits as a number (tens in the high nibble). */
int32_t FromBcd(uint32_t byte) { return static_cast<int32_t>(((byte >> 4) & 0xF) * 10 + (byte & 0xF)); }

}  // namespace

// ---- graph events ----

void TFK::ProcessGraphEvents() {
  LONG code = 0;
  LONG_PTR param1 = 0, param2 = 0;
  // Only flags and posts here: the events reach the application once this graph call has returned.
  while (events_ && SUCCEEDED(events_->GetEvent(&code, &param1, &param2, 0))) {
    switch (code) {
      case EC_COMPLETE:
        endOfStreamPending_ = true;
        PostDispatch();
        break;
      case EC_ERRORABORT:
      case EC_PAUSED:
        if ((state_ == cs_Recording || state_ == cs_Reencoding) && graphActive_ &&
            !EnoughFreeSpace(VolumeFreeSpace(FileBeingWritten()))) {
          diskFullPending_ = true;
          PostDispatch();
        } else if (code == EC_ERRORABORT && state_ == cs_Recording && graphActive_) {
          // Left alone, the recording would go on "recording" while its writer has given up.
          errorAbortResult_ = static_cast<int32_t>(param1);
          errorAbortPending_ = true;
          PostDispatch();
        }
        break;
      case EC_VIDEO_SIZE_CHANGED: ResizeDisplays(false); break;
      case EC_BUFFERING_DATA:
        if (param1) {
          bufferingStartedPending_ = true;
        } else {
          clipLoading_ = false;
          bufferingStoppedPending_ = true;
        }
        PostDispatch();
        break;
      case EC_DEVICE_LOST:
        // The second parameter is 0 for a removal and 1 when the device is back: only a removal counts.
        if (graphActive_ && param2 == 0) {
          deviceLostPending_ = true;
          PostDispatch();
        }
        break;
      case EC_LOADSTATUS: clipLoading_ = true; break;
      default: break;
    }
    if (events_) events_->FreeEventParams(code, param1, param2);
  }
}

void TFK::PostDispatch() { PostSyncCommand(sy_DispatchEvents, this); }

void TFK::DispatchDeferredEvents() {
  if (deviceLostPending_.exchange(false)) PostSyncCommand(sy_DeviceLost, this);
  if (diskFullPending_.exchange(false)) {
    // A recording the full disk ended keeps what reached the disk, but failed.
    if (state_ == cs_Recording && graphActive_) {
      lastRecordingError_ = static_cast<int32_t>(0x80070070u);
      graphErrorAborted_ = true;
    }
    PostStop();
    Fire(&TFKEvents::OnDiskFull);
  }
  if (errorAbortPending_.exchange(false) && state_ == cs_Recording && graphActive_) {
    CheckAndLog(this, true, ll_Error,
                QStringLiteral("graph error, recording stopped (0x") +
                    QString::number(static_cast<uint32_t>(errorAbortResult_.load()), 16).toUpper() + QLatin1Char(')'),
                TLogType::e_graph_error);
    graphErrorAborted_ = true;
    lastRecordingError_ = errorAbortResult_.load();
    PostStop();
  }
  if (bufferingStartedPending_.exchange(false)) Fire(&TFKEvents::OnPlayerBufferingData, true);
  if (bufferingStoppedPending_.exchange(false)) Fire(&TFKEvents::OnPlayerBufferingData, false);
  if (endOfStreamPending_.exchange(false)) {
    if (state_ == cs_Player) {
      SetGraphState(1, QStringLiteral("reps"));
      if (clipFrameCount_ > 0) SeekPlayer((clipFrameCount_ - 1) * frameDuration_);
    } else if (VideoSource_ == vs_VideoFromImages && !VideoFromImages_RepeatIndefinitely_) {
      StopCurrentMode();
    }
    Fire(&TFKEvents::OnPlayerEndOfStream);
  }
}

QString TFK::FileBeingWritten() const { return writingFile_.isEmpty() ? recordingFile_ : writingFile_; }

// ---- the notify thread ----

void TFK::StartNotifyThread() {
  TWaitingThread::Stop(notifyThread_);
  // Without a grabber that reports frames, the device's own statistics count them.
  countingDroppedFrames_ = !GrabberHolder(filters::gk_Notify).filter && !sampleNotifyHolder_.filter &&
                           (snapshot_.grabberOnCaptureStream || snapshot_.frameGrabber == fg_Disabled);
  framesNotDropped_ = -1;
  notificationPending_ = false;
  notifyThread_ = std::make_unique<TNotifyThread>(*this, countingDroppedFrames_);
  notifyThread_->Resume();
}

void TFK::ReleaseGraphEvents() {
  TWaitingThread::Stop(notifyThread_);
  timecodeReader_.Reset();
  frameStep_.Reset();
  inputFormatKnown_ = false;
  inputFormat_.ResetFormatBuffer();
  deviceLostPending_ = diskFullPending_ = endOfStreamPending_ = false;
  bufferingStartedPending_ = bufferingStoppedPending_ = errorAbortPending_ = false;
  {
    std::lock_guard lock(timeCodeLock_);
    dvTimeCode_.fill(0);
  }
  lastDVCommand_ = -1;
  lastSeekPosition_ = 0;
}

int64_t TFK::PlayerPosition() { return GetPlayerCurrentPosition(); }

void TFK::UpdateFramePosition(int64_t position) {
  if (state_ == cs_Player) {
    playerPosition_ = position;
    UpdateCounters(position);
    return;
  }
  // Outside the player the notify thread reports the device's frame count, which has no time.
  std::lock_guard lock(frameLock_);
  UpdateCountersLocked(kUntimedSample, state_, std::max<int64_t>(framesNotDropped_, 0));
}

void TFK::PeriodicCheck() {
  // The time code is read for a DV source while it previews or records; a clip has none to read.
  if (timecodeReader_ && state_ != cs_Player && IsDVSource()) ReadDVTimeCode();
}

std::optional<int64_t> TFK::FramesNotDropped() {
  LONG frames = 0;
  if (!droppedFramesSource_ || FAILED(droppedFramesSource_->GetNumNotDropped(&frames))) return std::nullopt;
  return frames;
}

void TFK::RefreshPausedPosition() {
  // While stepping, every step shows its frame: a redraw would only decode it once more.
  if (state_ == cs_Player && !SteppingEnabled()) SeekPlayer(GetPlayerCurrentPosition());
}

void TFK::FrameProgress() {
  // A call queued by the notify thread may arrive while the graph is being torn down.
  if (destroying_ || runState_ == 0 || !graphActive_) return;
  inFrameProgress_ = true;
  if (state_ == cs_Player) {
    const int64_t position = GetPlayerCurrentPosition();
    playerPosition_ = position;
    if (frameDuration_ > 0)
      currentFrame_ = std::llround(static_cast<double>(position + frameDuration_) / static_cast<double>(frameDuration_));
    UpdateCounters(position);
  } else if (countingDroppedFrames_ && framesNotDropped_ >= 0) {
    frameCount_ = framesNotDropped_;
  }
  if (slots_->OnFrameProgress) {
    if (state_ == cs_Player && PlayerTrackBar_)
      PlayerTrackBar_->setValue(static_cast<int>(std::clamp<int64_t>(currentFrame_, INT32_MIN, INT32_MAX)));
    Fire(&TFKEvents::OnFrameProgress, FrameInfo());
  }
  DispatchKeptFrame();
  frameProgressSeen_ = true;
  if (pauseAfterFrameProgress_.exchange(false)) SetGraphState(1, QStringLiteral("cspnf"));
  inFrameProgress_ = false;
}

void TFK::SetPlayerTrackBar(QSlider* slider) {
  trackBarContext_.reset();  // ends the connection with the previous track bar
  PlayerTrackBar_ = slider;
  if (!slider) return;
  trackBarContext_ = std::make_unique<QObject>();
  QObject::connect(slider, &QSlider::valueChanged, trackBarContext_.get(), [this](int value) {
    // A move FrameProgress made only shows where the player is.
    if (inFrameProgress_ || state_ != cs_Player || runState_ == 0) return;
    SetPlayerFramePosition(value);
  });
}

bool TFK::ReadDVTimeCode() {
  TIMECODE_SAMPLE sample{};
  sample.dwFlags = ED_DEVCAP_TIMECODE_READ;
  std::array<int32_t, 5> reading{};
  bool valid = timecodeReader_ && SUCCEEDED(timecodeReader_->GetTimecode(&sample));
  if (valid) {
    const uint32_t packed = sample.timecode.dwFrames;
    // 0xFF in the frames or seconds byte: the tape or stream carries no time code there.
    valid = (packed & 0xFF) != 0xFF && ((packed >> 8) & 0xFF) != 0xFF;
    if (valid) reading = {FromBcd(packed >> 24), FromBcd(packed >> 16), FromBcd(packed >> 8), FromBcd(packed), 0};
  }
  std::lock_guard lock(timeCodeLock_);
  if (!valid) {
    dvTimeCode_.fill(0);
    return false;
  }
  if (reading == dvTimeCode_) return true;
  dvTimeCode_ = reading;
  return false;
}

std::array<int32_t, 5> TFK::DVTimeCode() const {
  std::lock_guard lock(timeCodeLock_);
  return dvTimeCode_;
}

void TFK::FireDVCommandCompleted() {
  Fire(&TFKEvents::OnDVCommandCompleted, lastDVCommand_, DVModeName(DVCommandMode(lastDVCommand_)));
}

void TFK::FireDVCommandCompleted(int mode, const QString& label) { Fire(&TFKEvents::OnDVCommandCompleted, mode, label); }

void TFK::ReadInputFormat() {
  inputFormatKnown_ = false;
  IBaseFilter* grabber = GrabberHolder(filters::gk_RGB).filter.Get();
  if (!grabber || !builder_) return;
  ComPtr<IPin> input;
  if (FAILED(builder_->FindPin(grabber, PINDIR_INPUT, nullptr, nullptr, FALSE, 0, input.Put())) || !input) return;
  AM_MEDIA_TYPE type{};
  if (FAILED(input->ConnectionMediaType(&type))) return;
  inputFormat_ = type;
  FreeMediaType(type);
  inputFormatKnown_ = true;
}

// ---- after the build ----

void TFK::RegisterGraphEvents() {
  if (!events_) return;
  events_->SetNotifyFlags(0);
  if (auto* window = qobject_cast<QWidget*>(host_.sender))
    events_->SetNotifyWindow(WindowIdOf(window), static_cast<LONG>(GraphNotifyMessage()), 1);
  events_->CancelDefaultHandling(EC_REPAINT);
}

void TFK::LogGraphTree() {
  if (!graph_ || !ProcessLogEnabled()) return;
  QStringList seen;
  WriteLog(QStringLiteral("video tree"));
  if (videoSource_) LogFilterChain(videoSource_.Get(), 0, seen);
  WriteLog(QStringLiteral("video tree end"));
  WriteLog(QStringLiteral("audio tree"));
  if (audioSource_) LogFilterChain(audioSource_.Get(), 0, seen);
  WriteLog(QStringLiteral("audio tree end"));
  WriteLog(QStringLiteral("UNC"));
  for (const ComPtr<IBaseFilter>& filter : FiltersOf(graph_.Get())) {
    const QString name = FilterName(filter.Get());
    if (!seen.contains(name)) WriteLog(name);
  }
  WriteLog(QStringLiteral("UNC end"));
}

bool TFK::AfterBuild(bool startNotifyThread) {
  if (SpeakerControl_ && !savedSpeaker_) {
    int volume = 0, balance = 0;
    if (SpeakerVolume(volume, balance)) savedSpeaker_ = std::pair{volume, balance};
  }
  if (audioSource_) SelectAudioInput();
  if (snapshot_.audioDeviceRendering) {
    if (!audioRendered_ && audioSource_ && !audioTable_.Bool("AIsSoundCard")) StartAudioRenderingGraph();
    if (SpeakerControl_) SetSpeakerVolume(GetSpeakerVolume(), GetSpeakerBalance());
  }
  if (streamConfig_) ReadCurrentFrameRate();
  if (state_ == cs_Recording || state_ == cs_Reencoding) ApplyCompressionSettings();
  droppedFramesSource_.Reset();
  CheckAndLog(this,
              !builder_ || !videoSource_ ||
                  FAILED(builder_->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, videoSource_.Get(),
                                                 IID_IAMDroppedFrames, droppedFramesSource_.PutVoid())),
              ll_Trace, QStringLiteral("find dropped frames interface"), TLogType::e_trace_log);
  if (CheckAndLog(this, !graph_ || !TakeGraphControls(), ll_Error, QStringLiteral("get control interface"),
                  TLogType::e_get_interface))
    return false;
  for (int slot = 0; slot < DisplaySlots; ++slot) PrepareDisplay(slot);
  RegisterGraphEvents();
  WriteLog(QStringLiteral("d s source"));
  ChooseReferenceClock();
  WriteLog(QStringLiteral("tims"));
  WriteLog(QStringLiteral("ck key"));
  SetupColorKey();
  LogGraphTree();
  ComPtr<IVideoWindow> graphWindow;
  if (SUCCEEDED(graph_->QueryInterface(IID_IVideoWindow, graphWindow.PutVoid())) && graphWindow)
    graphWindow->put_AutoShow(0);
  PublishFrameSettings();  // the overlay-needed flag and what else the frames read, for this graph
  LinkDisplayWindows();
  ReadInputFormat();
  timecodeReader_.Reset();
  if (builder_ && videoSource_)
    builder_->FindInterface(nullptr, nullptr, videoSource_.Get(), IID_IAMTimecodeReader, timecodeReader_.PutVoid());
  graphErrorAborted_ = false;
  if (state_ == cs_Recording) lastRecordingError_ = 0;
  if (startNotifyThread) {
    graphActive_ = true;
    StartNotifyThread();
  }
  if (tuner_) SetTVChannel(videoTable_.Int("TVChannel"), -1);
  return true;
}

void TFK::ApplyCompressionSettings() {
  ComPtr<IAMVideoCompression> compression;
  if (!builder_ || !videoSource_ ||
      FAILED(builder_->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, videoSource_.Get(),
                                     IID_IAMVideoCompression, compression.PutVoid())) ||
      !compression)
    return;
  LONG keyFrameRate = 15, pFrames = 0, capabilities = 0;
  double quality = 1.0;
  if (FAILED(compression->GetInfo(nullptr, nullptr, nullptr, nullptr, &keyFrameRate, &pFrames, &quality, &capabilities)))
    return;
  const bool canKeyFrame = capabilities & CompressionCaps_CanKeyFrame, canBFrame = capabilities & CompressionCaps_CanBFrame,
             canQuality = capabilities & CompressionCaps_CanQuality, canWindow = capabilities & CompressionCaps_CanWindow;
  Fire(&TFKEvents::OnVideoCompressionSettings, canKeyFrame, canBFrame, canQuality, canWindow, int(keyFrameRate),
       int(pFrames), quality);
  if (canKeyFrame && VideoCompression_KeyFrameRate_ != -1) compression->put_KeyFrameRate(VideoCompression_KeyFrameRate_);
  if (canBFrame && VideoCompression_PFramesPerKeyFrame_ != -1)
    compression->put_PFramesPerKeyFrame(VideoCompression_PFramesPerKeyFrame_);
  if (canQuality && VideoCompression_Quality_ != -1.0) compression->put_Quality(VideoCompression_Quality_);
  if (canWindow && VideoCompression_WindowSize_ != -1)
    compression->put_WindowSize(static_cast<uint64_t>(VideoCompression_WindowSize_));
}

// ---- the player's seeking and stepped playback ----

void TFK::SeekPlayer(int64_t position) {
  if (state_ != cs_Player || !seeking_) return;
  positionUpdating_ = true;
  position = std::max<int64_t>(position, 0);
  if (clipDuration_ > 0 && position >= clipDuration_) position = std::max<int64_t>(clipDuration_ - frameDuration_, 0);
  lastSeekPosition_ = position;
  LONGLONG current = position, stop = 0x7FFFFFFFFFFFFFFF;
  seeking_->SetPositions(&current, AM_SEEKING_AbsolutePositioning, &stop, AM_SEEKING_AbsolutePositioning);
  positionUpdating_ = false;
}

void TFK::PlayerStep(bool first) {
  steppingPosted_ = false;
  auto stopStepping = [this] { steppingBackwards_ = steppingForwards_ = false; };
  const int64_t frame = frameDuration_;
  if (state_ != cs_Player || !seeking_ || frame <= 0) {
    stopStepping();
    return;
  }
  int64_t position = AlignToFrame(GetPlayerCurrentPosition(), frame);
  if (first) {
    const bool wasPaused = runState_ == 1;
    if (!wasPaused) SetGraphState(1, QStringLiteral("spbw"));
    if (steppingBackwards_ && position <= frame) SeekPlayer(clipDuration_ - frame);
    else if (!steppingBackwards_ && position >= clipDuration_ - frame) SeekPlayer(0);
    else if (!wasPaused) SeekPlayer(position);  // the paused picture is the whole frame the steps start from
  } else if (steppingForwards_ && frameStep_ && !fastPlay_) {
    if (position < clipDuration_ - frame) {
      // The paused player stands on the frame the step shows (its position reads and redraws go there).
      if (SUCCEEDED(frameStep_->Step(1, nullptr))) lastSeekPosition_ = position + frame;
    } else {
      stopStepping();
    }
  } else if (steppingBackwards_) {
    position -= frame;
    if (position > 0) {
      SeekPlayer(position);
    } else {
      stopStepping();
      SeekPlayer(0);
    }
  } else if (steppingForwards_) {
    position += frame;
    if (position >= clipDuration_) stopStepping();
    else SeekPlayer(position);
  }
  if (!SteppingEnabled() || !playerStepThread_) return;
  // Timed forward steps that stand in for a refused speed ratio come at their own interval.
  int interval = stepInterval_ > 0 && steppingForwards_ ? stepInterval_
                                                         : static_cast<int>(std::lround(static_cast<double>(frame) / 10000.0));
  if (fastPlay_ && PlayerFastSeekSpeedRatio_ > 0) interval = static_cast<int>(std::lround(interval / double(PlayerFastSeekSpeedRatio_)));
  playerStepThread_->SetInterval(interval);
  playerStepThread_->Resume();
  playerStepThread_->ResumeStepping();
}

}  // namespace kestrom::engine
