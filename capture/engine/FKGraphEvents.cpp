// The steps after a build that take the graph's interfaces, the graph's events and the
// notification thread's frame progress, and stepped playback.
#include "capture/engine/FK.h"

#include "capture/engine/GraphHelpers.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/writers/WriterInterfaces.h"

namespace kestrom::engine {

using com::ComPtr;
using namespace dshow;
using com::FAILED;
using com::SUCCEEDED;

void TFK::ReadInputFormat() {}

void TFK::FrameProgress() {}

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
  WriteLog(QStringLiteral("d s source"));
  ChooseReferenceClock();
  WriteLog(QStringLiteral("tims"));
  WriteLog(QStringLiteral("ck key"));
  SetupColorKey();
  ComPtr<IVideoWindow> graphWindow;
  if (SUCCEEDED(graph_->QueryInterface(IID_IVideoWindow, graphWindow.PutVoid())) && graphWindow)
    graphWindow->put_AutoShow(0);
  LinkDisplayWindows();
  ReadInputFormat();
  if (startNotifyThread) graphActive_ = true;
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

void TFK::PlayerStep(bool) {
  // Stepped playback comes with the player: a step asked for ends the stepping.
  steppingPosted_ = steppingBackwards_ = steppingForwards_ = false;
}

}  // namespace kestrom::engine
