#include "capture/engine/FK.h"

#include "capture/engine/SyncManager.h"

#include <QCursor>
#include <QGuiApplication>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cmath>

namespace kestrom::engine {

namespace {

using P = TPrecondition;
using M = TFKMethod;

bool IsRecording(const TFK& k) { return k.GetCurrentState() == cs_Recording; }
bool IsReencoding(const TFK& k) { return k.GetCurrentState() == cs_Reencoding; }
bool NotRecording(const TFK& k) { return k.GetCurrentState() != cs_Recording; }
bool NotPlayer(const TFK& k) { return k.GetCurrentState() != cs_Player; }
bool NotWriting(const TFK& k) { return !k.RecordingWritingStarted(); }
bool Paused(const TFK& k) { return k.RecordingPausedFlag(); }
bool NotPaused(const TFK& k) { return !k.RecordingPausedFlag(); }
bool PauseDisabled(const TFK& k) { return !k.GetRecordingCanPause(); }
bool NoPlayerFile(const TFK& k) { return k.PlayerFileNameEmpty(); }
bool ImagesSourceRunning(const TFK& k) {
  return k.GetCurrentState() != cs_None && k.GetVideoSource() == vs_VideoFromImages;
}

constexpr P Row(M m, bool (*failed)(const TFK&), int level, const char* message, TLogType code) {
  return {m, P::Test, 0, false, failed, level, message, code};
}
constexpr P ModeRow(M m, int allowed, bool deviceNeeded) {
  return {m, P::Mode, allowed, deviceNeeded, nullptr, ll_Error, "", TLogType::e_failed};
}
constexpr P DeviceRow(M m) {
  return {m, P::VideoDeviceIndex, 0, false, nullptr, ll_Error, "", TLogType::e_index_out_of_range};
}

std::atomic<int> busyDepth{0};
bool busyCursorShown = false;  // GUI thread only

}  // namespace

const std::vector<TPrecondition>& Preconditions() {
  using enum TLogType;
  static const std::vector<TPrecondition> table = {
      DeviceRow(M::StartPreview),
      ModeRow(M::StartPreview, cm_Preview | cm_Player, true),
      Row(M::StartRecording, IsRecording, ll_Error, "already capturing", e_stop_recording_first),
      // Re-encoding pumps messages; a recording started meanwhile would pull its graph away.
      Row(M::StartRecording, IsReencoding, ll_Error, "wait for reencoding completion", e_reencoding),
      DeviceRow(M::StartRecording),
      ModeRow(M::StopPreview, cm_Preview, false),
      Row(M::StopRecording, NotRecording, ll_Error, "not capturing", e_recording_not_running),
      Row(M::PauseRecording, NotWriting, ll_Error, "not recording", e_recording_cannot_pause),
      Row(M::PauseRecording, Paused, ll_Error, "Recording already paused", e_recording_cannot_pause),
      Row(M::PauseRecording, PauseDisabled, ll_Error, "RecordingCanPause property disabled",
          e_pause_resume_disabled),
      Row(M::ResumeRecording, NotWriting, ll_Error, "not recording", e_recording_cannot_pause),
      Row(M::ResumeRecording, NotPaused, ll_Error, "Recording not paused", e_recording_cannot_pause),
      Row(M::ResumeRecording, PauseDisabled, ll_Error, "RecordingCanPause property disabled",
          e_pause_resume_disabled),
      ModeRow(M::OpenPlayer, cm_Preview | cm_Player, false),
      Row(M::OpenPlayer, NoPlayerFile, ll_Error, "file name not specified", e_file_name_not_specified),
      Row(M::RunPlayer, NotPlayer, ll_Trace, "no clip opened", w_not_playing),
      Row(M::PausePlayer, NotPlayer, ll_Trace, "not playing", w_not_playing),
      Row(M::StopPlayer, NotPlayer, ll_Trace, "not playing", w_not_playing),
      Row(M::ClosePlayer, NotPlayer, ll_Trace, "already closed", e_trace_log),
      // Re-encoding first clears the graph, so it may start with no mode running as well.
      ModeRow(M::ReencodeFile, cm_None | cm_Preview, false),
      // The images file is the running source's input: it cannot be rewritten under it.
      Row(M::CreateVideoFromImagesFile, ImagesSourceRunning, ll_Error, "stop preview or recording first.",
          e_failed_to_load_set_of_bitmaps),
  };
  return table;
}

int BusyCursorDepth() { return busyDepth.load(); }

TFK::TFK() : TFK(Host{}) {}

TFK::TFK(Host host) : host_(host) {
  if (host_.events) slots_ = host_.events;
  TextOverlay_Font_ = ui::FromQFont(QFont(), core::clAqua);
  DisplayWindow_.SetPartner(&DualDisplayWindow_);
  DualDisplayWindow_.SetPartner(&DisplayWindow_);
  for (TVideoWindow* w : {&DisplayWindow_, &DualDisplayWindow_}) {
    const bool display = w == &DisplayWindow_;
    const bool values[] = {display, true, display, false, true, false, true, true};
    for (int i = TVideoWindow::Active; i <= TVideoWindow::VideoPortEnabled; ++i) w->SetBool(i, values[i]);
    w->SetInt(TVideoWindow::Monitor, 0);
    w->SetInt(TVideoWindow::Width, 320);
    w->SetInt(TVideoWindow::Height, 240);
    w->SetInt(TVideoWindow::Left, display ? 10 : 400);
    w->SetInt(TVideoWindow::Top, 10);
    w->SetChangeHandler([this](TVideoWindow& window, int index, int value) { OnVideoWindowChanged(window, index, value); });
  }
  InitGlobalDevices();
  StartSyncManager();
  ClearGraph(true);
  for (int slot = tpf_VideoSource; slot <= tpf_AudioRecording; ++slot) ClearThirdPartyFilters(slot);
  initialised_ = true;
  WriteLog(QStringLiteral("+"), QStringLiteral("component initialized"));
  if (SyncState() >= 2) RegisterComponent(this);
  playerStepThread_ = std::make_unique<TPlayerStepThread>(*this, 100);
}

TFK::~TFK() {
  destroying_ = true;
  UnregisterComponent(this);
  StopCurrentMode();
  ClearGraph(true);
  StoreDeviceSettings(true);
  StoreDeviceSettings(false);
  TWaitingThread::Stop(playerStepThread_);
}

void TFK::FireLog(TLogType code, const QString& severity, const QString& message) {
  Fire(&TFKEvents::OnLog, static_cast<int>(code), severity, message);
}

bool TFK::CheckPreconditions(TFKMethod method) {
  for (const TPrecondition& row : Preconditions()) {
    if (row.method != method) continue;
    bool failed = false;
    switch (row.kind) {
      case P::Mode: failed = !CheckMode(this, row.allowed, row.level, row.deviceNeeded); break;
      case P::VideoDeviceIndex: {
        const TDevices* list = VideoDeviceList();
        failed = CheckDeviceIndex(this, VideoDevice_, list ? list->Count() : 0,
                                  QStringLiteral("video capture device"));
        break;
      }
      case P::Test:
        failed = CheckAndLog(this, row.failed(*this), row.level, QString::fromLatin1(row.message), row.code);
        break;
    }
    if (failed) return false;
  }
  return true;
}

bool TFK::StartPreview() {
  if (!CheckPreconditions(M::StartPreview)) return false;
  PostSyncCommand(sy_StartPreview, this);
  PumpMessagesOnce();
  return state_ == cs_Preview;
}

bool TFK::StartRecording() {
  if (!CheckPreconditions(M::StartRecording)) return false;
  PostSyncCommand(sy_StartRecording, this);
  PumpMessagesOnce();
  return state_ == cs_Recording;
}

void TFK::StopPreview() {
  previewFailed_ = false;
  if (CheckPreconditions(M::StopPreview)) PostStop();
}

void TFK::StopRecording() {
  if (CheckPreconditions(M::StopRecording)) PostStop();
}

bool TFK::PauseRecording() {
  if (!CheckPreconditions(M::PauseRecording)) return false;
  recordingPaused_ = PauseRecordingInternal();
  return recordingPaused_;
}

bool TFK::ResumeRecording() {
  if (!CheckPreconditions(M::ResumeRecording)) return false;
  ResumeRecordingInternal();
  recordingPaused_ = false;
  return true;
}

bool TFK::OpenPlayer() {
  if (!CheckPreconditions(M::OpenPlayer)) return false;
  PostStop();
  PostSyncCommand(sy_OpenPlayer, this);
  PumpMessagesOnce();
  return state_ == cs_Player;
}

void TFK::RunPlayer() {
  if (!CheckPreconditions(M::RunPlayer) || runState_ == 2) return;
  if (graphActive_) steppingPosted_ = false;
  SetGraphState(1, QStringLiteral("drp"));
  steppingBackwards_ = false;
  fastPlay_ = false;
  if (playerPosition_ >= clipDuration_ - 100) SetPlayerTimePosition(0);
  // A graph that refused the speed ratio (it renders sound) plays it by timed steps.
  if (stepInterval_ != 0) PlayStepped();
  else SetGraphState(2, QStringLiteral("dpr2"));
}


void TFK::PausePlayer() {
  if (!CheckPreconditions(M::PausePlayer)) return;
  if (graphActive_) steppingPosted_ = false;
  steppingBackwards_ = false;
  steppingForwards_ = false;
  fastPlay_ = false;
  if (runState_ == 2 && graphActive_) {
    const int64_t position = GetPlayerCurrentPosition();
    SetGraphState(1, QStringLiteral("dpp"));
    // Seeking to where it stands makes the paused picture the current frame, not a later one.
    SeekPlayer(position);
  }
}

void TFK::StopPlayer() {
  if (!CheckPreconditions(M::StopPlayer)) return;
  PausePlayer();
  SetPlayerTimePosition(0);
}

void TFK::ClosePlayer() {
  if (CheckPreconditions(M::ClosePlayer)) PostStop();
}

void TFK::SetPlayerFramePosition(int64_t frame) {
  if (!clipSeekable_ || !graphActive_) return;
  // Clamped before the multiplication, so a wild frame number cannot overflow the position.
  frame = std::clamp<int64_t>(frame, 1, std::max<int64_t>(clipFrameCount_, 1));
  if (frame == currentFrame_) return;
  SeekPlayer((frame - 1) * frameDuration_);
}

void TFK::SetPlayerTimePosition(int64_t position) {
  if (!graphActive_ || position < 0 || !clipSeekable_ || position == playerPosition_) return;
  SeekPlayer(position);
}

int64_t TFK::GetPlayerCurrentPosition() const {
  // Not running, the player stands where the last seek put it (every pause of the player seeks);
  // right after a seek the graph itself may not know yet.
  if (runState_ != 2) return lastSeekPosition_;
  int64_t position = 0;
  if (seeking_ && com::SUCCEEDED(seeking_->GetCurrentPosition(&position))) return position;
  return playerPosition_;
}

double TFK::GetPlayerFrameRate() const {
  if (clipFrameCount_ <= 0 || clipDuration_ <= 0) return 0.0;
  return static_cast<double>(clipFrameCount_) * 10000000.0 / static_cast<double>(clipDuration_);
}

int64_t TFK::GetFrameNumber() const {
  if (!graphActive_) return 0;
  return state_ == cs_Player ? currentFrame_ : frameCount_;
}

QString TFK::GetLastRecordedFile() const {
  return state_ == cs_Recording ? recordingFile_ : lastRecordedFile_;
}

bool TFK::TakeReencodingStarted() { return std::exchange(reencodingStarted_, false); }

bool TFK::ReencodeFile(const QString& sourceFile, const QString& destFile, bool compressAudio, bool compressVideo,
                       bool applyVideoProcessing, bool includeAudio) {
  if (!CheckPreconditions(M::ReencodeFile)) return false;
  Fire(&TFKEvents::OnReencodingStarted, sourceFile, destFile);
  SetBusyCursor(true);
  ClearGraph(true);
  state_ = cs_Reencoding;
  const bool success = Reencode(sourceFile, destFile, false, compressAudio, compressVideo, applyVideoProcessing,
                                includeAudio);
  SetBusyCursor(false);
  state_ = cs_None;
  Fire(&TFKEvents::OnReencodingCompleted, sourceFile, destFile, success);
  return success;
}

bool TFK::CreatePreallocatedFile() {
  // Only an idle component with no graph work under way makes the file with a builder of its own.
  if (state_ != cs_None || restarting_ || graphActive_) return false;
  return PrepareCaptureFile(nullptr, PreallocCapFileName_);
}


void TFK::SetFrameRate(double fps) {
  if (fps < 0 || !std::isfinite(fps)) return;
  const int hundredths = static_cast<int>(std::lround(fps * 100.0));
  if (hundredths == frameRate_) return;
  const int previous = frameRate_;
  frameRate_ = hundredths;  // 0 leaves the device at its own rate
  if (!initialised_) return;
  if (CheckAndLog(this, IsDVSource(), ll_Warning, QStringLiteral("does not apply to DV"),
                  TLogType::w_does_not_apply_to_dv))
    return;
  if (!graphActive_) return;
  if (VideoSource_ != vs_VideoCaptureDevice) {
    // The pictures' push source takes a new rate as it runs; any other source is built again.
    if (VideoSource_ == vs_VideoFromImages && SetPushSourceRate()) return;
    RefreshPreview(QStringLiteral("dsfr"));
    return;
  }
  const int runState = runState_;
  if (runState != 0) SetGraphState(0, QStringLiteral("bldpla2"));
  if (!ApplyFrameRate()) {
    frameRate_ = previous;
    WriteLog(QStringLiteral("frame rate refused: ") + QString::number(hundredths / 100.0));
  }
  // The preview goes on in every case: a refused rate must not leave it frozen.
  if (runState != 0) SetGraphState(runState, QStringLiteral("bldpla2"));
}


bool TFK::SendDVCommand(int) { return false; }  // no device here has an external transport

void TFK::SetBusyCursor(bool on) {
  int depth = busyDepth.load();
  if (on) {
    depth = ++busyDepth;
  } else {
    while (depth > 0 && !busyDepth.compare_exchange_weak(depth, depth - 1)) {
    }
    depth = std::max(depth - 1, 0);
  }
  WriteLog((on ? QStringLiteral("cursor + ") : QStringLiteral("cursor - ")) + QString::number(depth));
  // A busy cursor of 0 is the default cursor: then the screen cursor is left alone.
  if (BusyCursor_ == 0 || !qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
  if (on && !busyCursorShown) {
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    busyCursorShown = true;
  } else if (!on && depth == 0 && busyCursorShown) {
    QGuiApplication::restoreOverrideCursor();
    busyCursorShown = false;
  }
}

namespace {

/** @brief A list as one text, one entry a line. */
QString LinesText(const QStringList& lines) {
  QString text;
  for (const QString& line : lines) text += line + QStringLiteral("\r\n");
  return text;
}

/** @brief A selection list with its first entry shown as "default". */
QString DefaultFirstText(QStringList lines) {
  for (QString& line : lines) line = line.trimmed();
  if (!lines.isEmpty()) lines[0] = QStringLiteral("default");
  return LinesText(lines);
}

void SetCompressor(EngineComponent* component, int& stored, int index, const TDevices* list, const char* kind) {
  if (index == stored) return;
  if (CheckDeviceIndex(component, index, list ? list->Count() : 0, QString::fromLatin1(kind))) return;
  stored = index;
}

QString NameAt(const TDevices* list, int index) {
  return list && GlobalDevicesState() == 2 ? list->Name(index) : QString();
}

}  // namespace

void TFK::SetVideoCompressor(int index) {
  SetCompressor(this, videoCompressor_, index, VideoCompressorList(), "video compressor");
}

void TFK::SetAudioCompressor(int index) {
  SetCompressor(this, audioCompressor_, index, AudioCompressorList(), "audio compressor");
}

QString TFK::GetVideoCompressorName() const { return NameAt(VideoCompressorList(), videoCompressor_); }
QString TFK::GetAudioCompressorName() const { return NameAt(AudioCompressorList(), audioCompressor_); }
QString TFK::GetVideoDeviceName() const { return NameAt(VideoDeviceList(), VideoDevice_); }

void TFK::SetVideoSize(int index) {
  if (index < 0 || index >= videoSizes_.size()) return;
  videoTable_.SetInt("VideoSize", index);
  int w = 0, h = 0;
  if (state_ == cs_None && SelectedVideoSize(index, w, h)) {
    selectedWidth_ = w;
    selectedHeight_ = h;
    ResizeDisplays(false);
  }
  if (nearestWidth_ > 0 && nearestHeight_ > 0)
    CheckAndLog(this, true, ll_Warning,
                QStringLiteral("disable nearest video size first (currently set to ") + QString::number(nearestWidth_) +
                    QLatin1Char('x') + QString::number(nearestHeight_) + QLatin1Char(')'),
                TLogType::w_using_nearest_video_size);
  RefreshPreview(QStringLiteral("dsvsz"));
}

void TFK::SetVideoSubtype(int index) {
  if (index < 0 || index >= videoSubtypes_.size()) return;
  videoTable_.SetInt("VideoSubtype", index);
  RefreshPreview(QStringLiteral("dsvsty"));
}

int TFK::GetVideoWidth() const {
  return IsDVSource() && RecordingInNativeFormat_ ? 720 : selectedWidth_;
}

int TFK::GetVideoHeight() const {
  if (IsDVSource() && RecordingInNativeFormat_) return videoTable_.Bool("_IsDVPal") ? 576 : 480;
  return selectedHeight_;
}

namespace {
bool ListsReady(const TFK& k) {
  const TDevices* videos = VideoDeviceList();
  return k.Initialised() && GlobalDevicesState() == 2 && videos && videos->Count() > 0;
}
}  // namespace

/** @brief A settings text of names, one a line, as a list. */
static QStringList Lines(const QString& text) {
  QStringList lines = text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  for (QString& line : lines) line = line.trimmed();
  lines.removeAll(QString());
  return lines;
}

QString TFK::GetVideoInputsText() const {
  return ListsReady(*this) ? LinesText(Lines(videoTable_.Text("VideoInputs"))) : QString();
}
QString TFK::GetAudioInputsText() const {
  return ListsReady(*this) ? LinesText(Lines(audioTable_.Text("AudioInputs"))) : QString();
}
QString TFK::GetAnalogVideoStandardsText() const {
  return ListsReady(*this)
             ? LinesText(AnalogVideoStandardNames(static_cast<uint32_t>(videoTable_.Int("ANTVFormats"))))
             : QString();
}
QString TFK::GetVideoSizesText() const { return ListsReady(*this) ? DefaultFirstText(videoSizes_) : QString(); }
QString TFK::GetVideoSubtypesText() const {
  if (!ListsReady(*this)) return QString();
  QStringList names;
  for (const QString& entry : videoSubtypes_) names << SubtypeEntryName(entry);
  return DefaultFirstText(names);
}
QString TFK::GetAudioFormatsText() const {
  return ListsReady(*this) ? LinesText(GlobalAudioFormatNames()) : QString();
}

int TFK::GetAnalogVideoStandard() const {
  const QStringList all = AnalogVideoStandardNames(static_cast<uint32_t>(videoTable_.Int("ANTVFormats")));
  const QStringList current = AnalogVideoStandardNames(static_cast<uint32_t>(videoTable_.Int("ANTVFormat")));
  return current.isEmpty() ? 0 : std::max<int>(0, static_cast<int>(all.indexOf(current[0])));
}

void TFK::ClearThirdPartyFilters(int slot) {
  if (slot < 0 || slot >= ThirdPartyFilterSlots) return;
  for (TThirdPartyFilter& entry : thirdPartyFilters_[slot]) entry = TThirdPartyFilter{};
}

namespace {

/** @brief The device setters' rule: -1 or an index that passes the list's check. */
bool DeviceIndexAccepted(EngineComponent* component, int index, const TDevices* list, const char* kind) {
  if (index == -1) return true;
  if (index < -1) return false;
  return !CheckDeviceIndex(component, index, list ? list->Count() : 0, QString::fromLatin1(kind));
}

}  // namespace

void TFK::SetVideoDevice(int index) {
  if (!DeviceIndexAccepted(this, index, VideoDeviceList(), "video capture device")) return;
  VideoDevice_ = index;
  if (index == -1 || GlobalDevicesState() != 2 || index == boundVideoDevice_) return;
  if (state_ == cs_None && !loading_) {
    StoreDeviceSettings(true);
    SelectVideoDevice(index);
  }
  RefreshPreview(QStringLiteral("dsvdev"));
}

void TFK::SetAudioDevice(int index) {
  if (!DeviceIndexAccepted(this, index, AudioDeviceList(), "audio capture device")) return;
  AudioDevice_ = index;
  if (index == -1 || GlobalDevicesState() != 2 || index == boundAudioDevice_) return;
  if (state_ == cs_None && !loading_) {
    StoreDeviceSettings(false);
    SelectAudioDevice(index);
  }
  RefreshPreview(QStringLiteral("dsadev"));
}

void TFK::SetSpeakerControl(bool value) {
  if (value == SpeakerControl_) return;
  SpeakerControl_ = value;
  CheckMode(this, cm_None, ll_Warning, false);  // takes effect at the next build
}

void TFK::WarnRecordingRestart() {
  CheckAndLog(this, true, ll_Warning, QStringLiteral("Recording needs to be restarted"),
              TLogType::e_graph_must_be_restarted);
}

void TFK::SetRecordingMethod(int value) {
  if (value < rm_AVI || value > rm_SendToDVCamcorder || value == RecordingMethod_) return;
  RecordingMethod_ = value;
  if (recordingWritingStarted_) WarnRecordingRestart();
}

void TFK::SetRecordingCanPause(bool value) {
  if (value == RecordingCanPause_) return;
  RecordingCanPause_ = value;
  if (recordingWritingStarted_ && value != builtWithCanPause_) WarnRecordingRestart();
}

void TFK::SetRecordingFileName(const QString& name) {
  if (name == RecordingFileName_) return;
  RecordingFileName_ = name;
  fileNameStale_ = true;
  RenewRecordingFile();
  // "RENEW" only asks the running recording for a new file; it is no name to keep.
  if (name == QLatin1String("RENEW")) RecordingFileName_.clear();
}

void TFK::SetAutoFilePrefix(const QString& prefix) {
  if (prefix == AutoFilePrefix_) return;
  AutoFilePrefix_ = prefix;
  if (prefix == QLatin1String("fcatchlog") && initialised_) EnableProcessLog();
  fileNameStale_ = true;
}

void TFK::SetBurstMode(bool value) {
  PublishFrameSettings();  // the burst runs with the count and interval set now
  std::lock_guard lock(frameLock_);  // the streaming thread ends a burst
  BurstMode_ = value;
  if (value) {
    burstCounter_ = BurstCount_;
    burstIntervalCounter_ = 0;
  }
}

void TFK::WarnSpeedRatioWithAudio() {
  const bool audio = state_ == cs_Player ? builtWithAudio_ : PlayerAudioRendering_;
  CheckAndLog(this, PlayerSpeedRatio_ != 1.0 && audio, ll_Warning,
              QStringLiteral("disable PlayerAudioRendering if the clip freezes when speed ratio < 1"),
              TLogType::w_player_audio_should_be_disabled);
}

void TFK::SetPlayerSpeedRatio(double ratio) {
  if (!(ratio > 0) || ratio == PlayerSpeedRatio_) return;
  PlayerSpeedRatio_ = ratio;
  WarnSpeedRatioWithAudio();
  if (state_ != cs_Player) return;
  if (builtWithAudio_) {
    // A running graph takes the rate now; otherwise it waits for the next run.
    if (runState_ == 2 && seeking_) seeking_->SetRate(ratio);
    else speedRatioPending_ = true;
    // The timed steps that stand in for a ratio the graph refused follow the new one.
    if (stepInterval_ != 0)
      stepInterval_ = std::max(1, static_cast<int>(std::lround(static_cast<double>(frameDuration_) / 1e4 / ratio)));
    return;
  }
  // Without sound the player runs on the custom clock, whose pace is the ratio.
  if (!ClockHolder().second) return;
  const bool running = runState_ == 2;
  if (running) SetGraphState(1, QStringLiteral("spsr1"));
  ApplyClockRate();
  if (running) SetGraphState(2, QStringLiteral("spsr2"));
}

void TFK::SetPlayerAudioRendering(bool value) {
  if (value == PlayerAudioRendering_) return;
  PlayerAudioRendering_ = value;
  CheckMode(this, cm_Preview | cm_Recording, ll_Warning, false);
  WarnSpeedRatioWithAudio();
}

int TFK::GetVideoProcessing_Deinterlacing() const {
  return deinterlaceFull_ ? di_FullSize : deinterlaceHalf_ ? di_HalfSize : di_Disabled;
}

void TFK::SetVideoProcessing_Deinterlacing(int value) {
  const bool half = deinterlaceHalf_;
  if (value == di_Disabled) deinterlaceHalf_ = deinterlaceFull_ = false;
  else if (value == di_HalfSize) deinterlaceHalf_ = true;
  else if (value == di_FullSize) deinterlaceFull_ = true;
  if (half != deinterlaceHalf_) RefreshPreview(QStringLiteral("spdi"));
}

void TFK::SetVideoProcessing_Rotation(int value) {
  if (value < rt_0_deg || value > rt_270_deg_mirror || value == VideoProcessing_Rotation_) return;
  VideoProcessing_Rotation_ = value;
  swapWidthHeight_ = (value % 2) == 1;  // a quarter turn swaps width and height
  RefreshPreview(QStringLiteral("spr"));
}

void TFK::SetMotionDetector_Enabled(bool value) {
  if (value == MotionDetector_Enabled_) return;
  MotionDetector_Enabled_ = value;
  // A running graph delivering 16- or 8-bit frames must be rebuilt for the detector's true colour.
  if (value && state_ != cs_None &&
      (snapshotRGBFormat_ == fgf_RGB565 || snapshotRGBFormat_ == fgf_RGB555 || snapshotRGBFormat_ == fgf_RGB8))
    RefreshPreview(QStringLiteral("scf"));
  else
    snapshot_.motionDetector = value;
}

void TFK::SetBorderStyle(int style) {
  if (style < bsNone || style > bsSingle || style == BorderStyle_) return;
  BorderStyle_ = style;
}

void TFK::SetPropertyPageSaver(QObject* saver) {
  // The class name without its namespace, as the saver's own code names it.
  const QByteArray name = saver ? QByteArray(saver->metaObject()->className()) : QByteArray();
  const bool accepted = name.mid(name.lastIndexOf(':') + 1).startsWith("TPropertyPageSaver");
  if (PropertyPageSaver_ && PropertyPageSaver_ != saver) PropertyPageSaver_->setProperty(SaverBackReference, {});
  // Savers another component made are not this one's.
  if (PropertyPageSaver_ != (accepted ? saver : nullptr)) {
    videoPageSaver_.saver.reset();
    writerPageSaver_.saver.reset();
  }
  PropertyPageSaver_ = accepted ? saver : nullptr;
  // The saver shows the pages of this panel's devices: it gets a reference back to the panel.
  if (PropertyPageSaver_) PropertyPageSaver_->setProperty(SaverBackReference, QVariant::fromValue(host_.sender));
}

void TFK::SetShapeOverlay(QWidget* shape) {
  ShapeOverlay_ = shape;
  if (shape) shape->hide();
  PublishFrameSettings();
}

std::vector<TPropertyRow> PlainProperties() {
  std::vector<TPropertyRow> rows;
#define KESTROM_FK_ROW(type, Name, def, accepts, cond, reason)                                  \
  rows.push_back({#Name, reason, QVariant::fromValue<type>(def),                                \
                  [](const TFK& k) { return QVariant::fromValue<type>(k.Get##Name()); },       \
                  [](TFK& k, const QVariant& v) { k.Set##Name(v.value<type>()); }});
  KESTROM_FK_PLAIN_PROPERTIES(KESTROM_FK_ROW)
#undef KESTROM_FK_ROW
  return rows;
}

void TFK::RefreshPreview(const QString& reason) {
  if (!AutoRefreshPreview_ || VideoDevice_ == -1) return;
  CheckMode(this, cm_Preview, ll_Error, true);
  if (state_ == cs_Preview || (state_ == cs_None && previewFailed_)) {
    WriteLog(QStringLiteral("REFRESHING PREVIEW FROM ") + reason);
    StartPreview();
  }
}

void TFK::PostStop() {
  const bool guiThread = QCoreApplication::instance() &&
                         QThread::currentThread() == QCoreApplication::instance()->thread();
  if (guiThread) PumpMessagesOnce();
  PostSyncCommand(sy_Stop, this);
  if (guiThread) PumpMessagesOnce();
}

void TFK::StopCurrentMode() {
  if (!graphActive_) return;
  PumpMessagesOnce();
  graphActive_ = false;
  SetBusyCursor(true);
  bool completionDue = false;
  bool success = false;
  // The stopped recording's name outlives the teardown until its completion event has fired.
  const QString recordedFile = recordingFile_;
  if (state_ == cs_Recording) {
    completionDue = recordingWritingStarted_;
    ClearGraph(true);
    if (completionDue) success = FinishRecordingFile();
    if (success) lastRecordedFile_ = recordedFile;
    // A recording a graph error ended keeps what it wrote, but is reported as failed.
    if (std::exchange(graphErrorAborted_, false)) success = false;
    state_ = cs_None;
    SetRecordingHold(false);
  } else if (state_ == cs_Preview || state_ == cs_Player) {
    const bool player = state_ == cs_Player;
    ClearGraph(true);
    if (player) ResetCounters(true);
  }
  SetBusyCursor(false);
  if (completionDue) Fire(&TFKEvents::OnRecordingCompleted, recordedFile, success);
}

void TFK::ClearGraph(bool resetState) {
  ReleaseGraphEvents();
  ClosePageSaver(videoPageSaver_);
  ClosePageSaver(writerPageSaver_);
  SaveAnalogState();
  ReleaseAudioRenderingGraph();
  graphActive_ = false;
  WriteLog(QStringLiteral("begin clear"));
  SetGraphState(0, QStringLiteral("clear"));
  WriteLog(QStringLiteral("stopped"));
  // What may wait for this graph are posted events (its notices, sync commands); delivering just
  // those keeps the teardown close to the graph's own stop and release.
  if (QCoreApplication::instance()) QCoreApplication::sendPostedEvents();
  if (resetState) {
    state_ = cs_None;
    buildParametersTaken_ = false;
  }
  recordingWritingStarted_ = false;
  WriteLog(QStringLiteral("cleared"));
  frameProgressSeen_ = false;
  ResetCounters(false);
  ReleaseGraph();
  CloseImagesStream();
  WriteLog(QStringLiteral("interfaces cl"));
  WriteLog(QStringLiteral("all cleared"));
  recordingPaused_ = false;
  recordingHold_ = false;
  recordingFile_.clear();
  writingFile_.clear();
  steppingPosted_ = steppingBackwards_ = steppingForwards_ = false;
  RestoreMixer();
  WriteLog(QStringLiteral("end clear"));
}


void TFK::ExecuteSyncCommand(TSyncCommand command) {
  switch (command) {
    case sy_Stop: StopCurrentMode(); break;
    case sy_DeviceLost:
      previewLostWithDevice_ = state_ == cs_Preview;
      StopCurrentMode();
      Fire(&TFKEvents::OnDeviceLost);
      break;
    case sy_DispatchEvents: DispatchDeferredEvents(); break;
    case sy_PlayerStep: PlayerStep(true); break;
    case sy_PlayerThreadStep: PlayerStep(false); break;
    case sy_StartPreview:
    case sy_StartRecording:
    case sy_OpenPlayer:
      // A start queued while re-encoding pumps messages would pull the graph from under it.
      if (state_ == cs_Reencoding) {
        WriteLog(QStringLiteral("command dropped while reencoding"));
        break;
      }
      // A mode started since the loss is what runs now: the device's return brings nothing back.
      previewLostWithDevice_ = false;
      if (command == sy_StartPreview && RestartGraph(cs_Preview)) Fire(&TFKEvents::OnPreviewStarted);
      if (command == sy_StartRecording) RestartGraph(cs_Recording);
      if (command == sy_OpenPlayer && OpenClip()) Fire(&TFKEvents::OnPlayerStarted);
      break;
    default: break;
  }
}

bool TFK::TakeFrameProgressSeen() { return frameProgressSeen_.exchange(false); }

void TFK::PostThreadStep() { PostSyncCommand(sy_PlayerThreadStep, this); }

}  // namespace kestrom::engine
