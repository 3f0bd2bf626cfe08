#pragma once
// The capture panel a form holds as its child "Framecatcher": the preview shows inside it. It
// keeps only its event slots and the initialised mark; every property and method forwards to its
// engine, which fires the events through the panel's slots with the panel as Sender.

#include "capture/engine/FK.h"

#include <QFrame>
#include <memory>

namespace kestrom::engine {

class TFramecatcher final : public QFrame, public TFKEvents {
  Q_OBJECT

 public:
  explicit TFramecatcher(QWidget* parent = nullptr);
  ~TFramecatcher() override;

  /** @brief The engine behind the panel, for the capture program's engine-level work and tests. */
  TFK& Engine() { return *engine_; }
  const TFK& Engine() const { return *engine_; }
  bool Initialised() const { return initialised_; }

  /** @brief The form starts loading its stored values (device setters only store meanwhile). */
  void BeginLoading();
  /** @brief The form's values are in: the loading mark ends and the caption is cleared. */
  void Loaded();

  /** @brief The panel's click events, fired for clicks on the panel and on its display windows. */
  Event<> OnClick, OnDblClick;
  Q_INVOKABLE void Click();
  Q_INVOKABLE void DblClick();

  // ---- public methods ----
  bool StartPreview() { return engine_->StartPreview(); }
  bool StartRecording() { return engine_->StartRecording(); }
  void StopPreview() { engine_->StopPreview(); }
  void StopRecording() { engine_->StopRecording(); }
  bool PauseRecording() { return engine_->PauseRecording(); }
  bool ResumeRecording() { return engine_->ResumeRecording(); }
  bool IsRecordingPaused() const { return engine_->IsRecordingPaused(); }
  bool OpenPlayer() { return engine_->OpenPlayer(); }
  void RunPlayer() { engine_->RunPlayer(); }
  bool RunPlayerBackwards() { return engine_->RunPlayerBackwards(); }
  void PausePlayer() { engine_->PausePlayer(); }
  void StopPlayer() { engine_->StopPlayer(); }
  void ClosePlayer() { engine_->ClosePlayer(); }
  bool IsPlayerPaused() const { return engine_->IsPlayerPaused(); }
  void SetPlayerFramePosition(int64_t frame) { engine_->SetPlayerFramePosition(frame); }
  void SetPlayerTimePosition(int64_t position) { engine_->SetPlayerTimePosition(position); }
  int64_t GetPlayerCurrentPosition() const { return engine_->GetPlayerCurrentPosition(); }
  int64_t GetPlayerDuration() const { return engine_->GetPlayerDuration(); }
  int64_t GetPlayerFrameCount() const { return engine_->GetPlayerFrameCount(); }
  double GetPlayerFrameRate() const { return engine_->GetPlayerFrameRate(); }
  int GetPlayerClipKind() const { return engine_->GetPlayerClipKind(); }
  QSize GetPlayerVideoSize() const { return engine_->GetPlayerVideoSize(); }
  bool IsPlayerPositionUpdating() const { return engine_->IsPlayerPositionUpdating(); }
  int64_t GetFrameNumber() const { return engine_->GetFrameNumber(); }
  TCurrentState GetCurrentState() const { return engine_->GetCurrentState(); }
  QString GetLastRecordedFile() const { return engine_->GetLastRecordedFile(); }
  int32_t GetLastRecordingError() const { return engine_->GetLastRecordingError(); }
  bool LastRecordingFailedForDiskFull() const { return engine_->LastRecordingFailedForDiskFull(); }
  bool TakeReencodingStarted() { return engine_->TakeReencodingStarted(); }
  bool ReencodeFile(const QString& sourceFile, const QString& destFile, bool compressAudio, bool compressVideo,
                    bool applyVideoProcessing, bool includeAudio) {
    return engine_->ReencodeFile(sourceFile, destFile, compressAudio, compressVideo, applyVideoProcessing,
                                 includeAudio);
  }
  bool CreatePreallocatedFile() { return engine_->CreatePreallocatedFile(); }
  bool CreateVideoFromImagesFile() { return engine_->CreateVideoFromImagesFile(); }
  void SetFrameRate(double fps) { engine_->SetFrameRate(fps); }
  double GetCurrentFrameRate() const { return engine_->GetCurrentFrameRate(); }
  bool ShowDialog(int kind) { return engine_->ShowDialog(kind); }
  bool SendDVCommand(int command) { return engine_->SendDVCommand(command); }
  void SetVideoCompressor(int index) { engine_->SetVideoCompressor(index); }
  int GetVideoCompressor() const { return engine_->GetVideoCompressor(); }
  void SetAudioCompressor(int index) { engine_->SetAudioCompressor(index); }
  int GetAudioCompressor() const { return engine_->GetAudioCompressor(); }
  QString GetVideoCompressorName() const { return engine_->GetVideoCompressorName(); }
  QString GetAudioCompressorName() const { return engine_->GetAudioCompressorName(); }
  QString GetVideoDeviceName() const { return engine_->GetVideoDeviceName(); }
  void SetVideoSize(int index) { engine_->SetVideoSize(index); }
  int GetVideoSize() const { return engine_->GetVideoSize(); }
  void SetVideoSubtype(int index) { engine_->SetVideoSubtype(index); }
  int GetVideoSubtype() const { return engine_->GetVideoSubtype(); }
  int GetVideoSizeWidth() const { return engine_->GetVideoSizeWidth(); }
  int GetVideoSizeHeight() const { return engine_->GetVideoSizeHeight(); }
  int GetVideoWidth() const { return engine_->GetVideoWidth(); }
  int GetVideoHeight() const { return engine_->GetVideoHeight(); }
  bool IsDVSource() const { return engine_->IsDVSource(); }
  int GetVideoInput() const { return engine_->GetVideoInput(); }
  int GetAudioInput() const { return engine_->GetAudioInput(); }
  int16_t GetSpeakerVolume() const { return engine_->GetSpeakerVolume(); }
  int16_t GetSpeakerBalance() const { return engine_->GetSpeakerBalance(); }
  QString GetVideoInputsText() const { return engine_->GetVideoInputsText(); }
  QString GetAudioInputsText() const { return engine_->GetAudioInputsText(); }
  QString GetAnalogVideoStandardsText() const { return engine_->GetAnalogVideoStandardsText(); }
  QString GetVideoSizesText() const { return engine_->GetVideoSizesText(); }
  QString GetVideoSubtypesText() const { return engine_->GetVideoSubtypesText(); }
  QString GetAudioFormatsText() const { return engine_->GetAudioFormatsText(); }
  int GetAnalogVideoStandard() const { return engine_->GetAnalogVideoStandard(); }
  void ClearThirdPartyFilters(int slot) { engine_->ClearThirdPartyFilters(slot); }

  // ---- properties ----
#define KESTROM_FC_FORWARD(type, Name, def, accepts, cond, reason) \
  type Get##Name() const { return engine_->Get##Name(); }          \
  void Set##Name(type v) { engine_->Set##Name(v); }
  KESTROM_FK_PLAIN_PROPERTIES(KESTROM_FC_FORWARD)
  KESTROM_FC_FORWARD(int, VideoDevice, , , , )
  KESTROM_FC_FORWARD(int, AudioDevice, , , , )
  KESTROM_FC_FORWARD(bool, SpeakerControl, , , , )
  KESTROM_FC_FORWARD(int, RecordingMethod, , , , )
  KESTROM_FC_FORWARD(bool, RecordingCanPause, , , , )
  KESTROM_FC_FORWARD(QString, RecordingFileName, , , , )
  KESTROM_FC_FORWARD(QString, AutoFilePrefix, , , , )
  KESTROM_FC_FORWARD(bool, BurstMode, , , , )
  KESTROM_FC_FORWARD(double, PlayerSpeedRatio, , , , )
  KESTROM_FC_FORWARD(bool, PlayerAudioRendering, , , , )
  KESTROM_FC_FORWARD(QString, PlayerForcedCodec, , , , )
  KESTROM_FC_FORWARD(QSlider*, PlayerTrackBar, , , , )
  KESTROM_FC_FORWARD(QString, TextOverlay_String, , , , )
  KESTROM_FC_FORWARD(QWidget*, ShapeOverlay, , , , )
  KESTROM_FC_FORWARD(int, VideoProcessing_Deinterlacing, , , , )
  KESTROM_FC_FORWARD(int, VideoProcessing_Rotation, , , , )
  KESTROM_FC_FORWARD(bool, MotionDetector_Enabled, , , , )
  KESTROM_FC_FORWARD(core::TColor, BackgroundColor, , , , )
  KESTROM_FC_FORWARD(QObject*, PropertyPageSaver, , , , )
  KESTROM_FC_FORWARD(QString, Version, , , , )
#undef KESTROM_FC_FORWARD
  const ui::FontChoice& GetTextOverlay_Font() const { return engine_->GetTextOverlay_Font(); }
  void SetTextOverlay_Font(const ui::FontChoice& font) { engine_->SetTextOverlay_Font(font); }
  int GetBorderStyle() const { return engine_->GetBorderStyle(); }
  /** @brief Stores the style and gives the panel its border (none, or single of the edge width). */
  void SetBorderStyle(int style);

#define KESTROM_FC_DISPLAY_BOOL(W, N)                           \
  bool Get##W##_##N() const { return engine_->Get##W##_##N(); } \
  void Set##W##_##N(bool v) { engine_->Set##W##_##N(v); }
#define KESTROM_FC_DISPLAY_INT(W, N)                           \
  int Get##W##_##N() const { return engine_->Get##W##_##N(); } \
  void Set##W##_##N(int v) { engine_->Set##W##_##N(v); }
  KESTROM_FK_DISPLAY_BOOLS(KESTROM_FC_DISPLAY_BOOL, Display)
  KESTROM_FK_DISPLAY_BOOLS(KESTROM_FC_DISPLAY_BOOL, DualDisplay)
  KESTROM_FK_DISPLAY_INTS(KESTROM_FC_DISPLAY_INT, Display)
  KESTROM_FK_DISPLAY_INTS(KESTROM_FC_DISPLAY_INT, DualDisplay)
#undef KESTROM_FC_DISPLAY_BOOL
#undef KESTROM_FC_DISPLAY_INT

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void ApplyBorder();

  std::unique_ptr<TFK> engine_;
  bool initialised_ = false;
};

}  // namespace kestrom::engine
