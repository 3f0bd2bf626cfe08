#pragma once
// The capture program's main form: the capture component "Framecatcher" with its preview, the
// pages that follow the component's state, the device menu, the tape transport controls, and the
// one-shot timers through which every later step of a capture, relay, player or re-encoding run
// starts on the GUI thread. The form keeps no mode of its own: it reads the component's state.
// It reaches the program's other forms only through the mediator.

#include "capture/app/CaptureMediator.h"
#include "capture/app/OpenDirectory.h"
#include "platform/ui/Dialogs.h"
#include "platform/ui/Font.h"
#include "platform/winmsg/WinMsg.h"

#include <QString>
#include <QWidget>
#include <functional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QScrollBar;
class QSlider;
class QSpinBox;
class QTabWidget;
class QTimer;
class QToolButton;

namespace kestrom::capture {

/**
 * @brief Empties the box's text, replaces its items by the lines of the text (one item a line)
 * and, when the box then has an item, selects the index. Runs no handler: a combo box answers
 * only the user.
 */
void FillComboBox(QComboBox* box, const QString& lines, int index);

class TKestromCaptureForm final : public QWidget {
  Q_OBJECT

 public:
  explicit TKestromCaptureForm(CaptureMediator& mediator, QWidget* parent = nullptr);
  ~TKestromCaptureForm() override;

  /**
   * @brief How the start step learns whether an analysis window is open (the window-title scan
   * form's count); without one, the window directory is asked.
   */
  void SetAnalysisWindowScan(std::function<bool()> scan) { analysisWindowScan_ = std::move(scan); }

  // ---- form state ----
  bool NoCameraMode = true;
  QList<int> DeviceIndexMap;
  bool RelayMode = false;
  int RelayFileToggle = 2;
  bool RelaySaveAsked = false;
  bool RecordingCounted = false;
  bool VideoFromImagesRun = false;
  bool PlayerAudioSwitched = false;
  quint8 PlayerAudioMode = 0;
  QString LastCaptureFile = QStringLiteral(" ");
  /** @brief The last transport command succeeded (kept on the mediator, which other forms read). */
  bool DVTapeAvailable() const { return mediator_.DVTapeAvailable; }

  // ---- components ----
  engine::TFramecatcher* Framecatcher = nullptr;
  QTabWidget* PageControl1 = nullptr;
  QPlainTextEdit* mmoLog = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QComboBox* DeviceComboBox = nullptr;
  QComboBox *cboVideoDevices = nullptr, *cboAudioDevices = nullptr;
  QComboBox *cboVideoCompressors = nullptr, *cboVideoCompressors2 = nullptr, *cboAudioCompressors = nullptr;
  QComboBox *cboAnalogVideoStandard = nullptr, *cboVideoSizes = nullptr, *cboVideoSubtypes = nullptr,
            *cboVideoInputs = nullptr, *cboAudioFormats = nullptr, *cboAudioInputs = nullptr;
  QGroupBox* PreviewBox = nullptr;
  QWidget* PreviewPanel = nullptr;
  QCheckBox* PreviewCheckBox = nullptr;
  QSlider* tbrPreviewZoomSize = nullptr;
  QLineEdit* edtDisplaySize = nullptr;
  QPushButton *FullScreenButton = nullptr, *btnResetDisplaySize = nullptr, *Button2 = nullptr,
              *Button14 = nullptr, *SampleSetupButton = nullptr, *Button11 = nullptr;
  QTimer *StartTimer = nullptr, *StateTimer = nullptr, *PreviewTimer = nullptr, *StartRecordingTimer = nullptr,
         *StopRecordingTimer = nullptr, *StopRelayCaptureTimer = nullptr, *RelayTimer = nullptr,
         *SummaryTimer = nullptr, *PlayVideoTimer = nullptr, *ReCompressTimer = nullptr, *Phase1Timer = nullptr,
         *CreateBitmapTimer = nullptr, *BitmapTimer = nullptr;

  // ---- start-up and devices ----
  void FormCreate();
  void StartTimerTimer();
  bool CheckCodecs();
  void RefreshDeviceLists();
  void BuildDeviceMenu();
  void CheckCameraSignal();
  void SelectCaptureDevice();
  void ProbeDVTransport();
  void DeviceComboBoxChange();
  void Button2Click();

  // ---- component events ----
  void FramecatcherVideoDeviceSelected();
  void FramecatcherAudioDeviceSelected();
  void FramecatcherDeviceArrivalOrRemoval(bool isArrival, bool isVideo, const QString& name, int index);
  void FramecatcherDeviceLost();
  void FramecatcherLog(const QString& severity, const QString& message);
  void FramecatcherKeyPress(QChar key);
  void FramecatcherCreatePreallocFileStarted(const QString& fileName);
  void FramecatcherCreatePreallocFileCompleted(const QString& fileName, bool success);

  // ---- pages, modes and display ----
  void EnableTabs();
  void PageControl1Change();
  void ShowModeCaption();
  void RestartPreview();
  void DVTransportCommand(int code);
  void FullScreenButtonClick();
  void PreviewCheckBoxClick();
  void tbrPreviewZoomSizeChange();
  void btnResetDisplaySizeClick();
  void SampleSetupButtonClick();
  /** @brief "Preallocate" on the Working page: preview stopped, a 512 MB Sample.avi reserved. */
  void Button11Click();
  /**
   * @brief True (and logged) when a recording, re-encoding or a run of steps is under way, so that a
   * button must not start another recording, player or re-encoding now.
   */
  bool StartRefused();
  /** @brief The start buttons are enabled exactly when a start would not be refused. */
  void UpdateStartControls();

  // ---- timers ----
  void StateTimerTimer();
  void PreviewTimerTimer();
  void StartRecordingTimerTimer();
  void StopRecordingTimerTimer();
  void StopRelayCaptureTimerTimer();
  void RelayTimerTimer();
  void SummaryTimerTimer();
  void PlayVideoTimerTimer();
  void ReCompressTimerTimer();
  void Phase1TimerTimer();
  void CreateBitmapTimerTimer();
  void BitmapTimerTimer();

  // ---- events shared by the recording and the player work ----
  void FramecatcherFrameProgress(const engine::TFrameInfo& info);
  void FramecatcherReencodingCompleted(const QString& source, const QString& dest, bool success);

  // ---- recording, sequences and relay (KestromCaptureRecording.cpp) ----
  /** @brief How the next recording is made. */
  struct TRecordingSettings {
    bool HalfSize = false;
    bool MaximumQuality = true;
    bool NoAudio = false;
    int SequenceJob = 0;  // 0 single capture or single re-encoding, 1 part of a sequence
  };
  quint8 CaptureJob = 0;  // 1 single capture, 2 relay capture, 3 sequential capture
  TRecordingSettings RecordingSettings;
  int RecordingTimeLimit = 0;  // seconds; 0 never stops a recording
  int64_t CapturedFrames = 0, DroppedFrameCount = 0, RecordedSeconds = 0;
  int SequenceCount = 0;
  int SequenceReencodeIndex = 0;
  QString CurrentSequenceFile;
  int RelayDuration = 5;
  double RelayPlaybackSpeed = 1.0;
  QString PlayerSourceFile;  // the clip a later re-encoding reads

  QPushButton *StartCaptureButton = nullptr, *VideoSettingsButton = nullptr, *RelayCaptureButton = nullptr,
              *StopCaptureButton2 = nullptr, *PauseCaptureButton = nullptr;
  QCheckBox *CaptureAudioPanel = nullptr, *SequenceCheckBox = nullptr;
  QGroupBox *VideoCaptureSize = nullptr, *VideoQualityRadioBox = nullptr;
  QLineEdit *FileDirectoryEditBox = nullptr, *FileNameEditBox = nullptr, *edtDVDateTime = nullptr;
  QSpinBox* SequenceNumberSpinEdit = nullptr;
  QComboBox *VideoCaptureDuration = nullptr, *RelayDelayTime = nullptr, *PlaybackSpeed = nullptr;
  QLineEdit *CaptureFrameCount = nullptr, *CaptureDroppedCount = nullptr, *CaptureTimeCount = nullptr,
            *RelayFrameCount = nullptr, *RelayDroppedCount = nullptr, *RelayTimeCount = nullptr;

  void BuildCapturePages(QWidget* capturePage, QWidget* relayPage);
  void WireRecordingEvents();
  void StartCaptureButtonClick();
  void PrepareRecording(const QString& file, bool halfSize, int frameGrabber, bool sequence, bool noAudio,
                        bool maximumQuality);
  void StopCaptureButton2Click();
  void PauseCaptureButtonClick();
  void FramecatcherRecordingReadyToStart(bool& okToStart);
  void FramecatcherRecordingStarted(const QString& fileName);
  /** @brief Frame progress of a recording (any mode but the player). */
  void RecordingFrameProgress(const engine::TFrameInfo& info);
  void FramecatcherRecordingCompleted(const QString& fileName, bool success);
  void PlayCapturedVideo();
  void RateCaptureQuality();
  void ShowSequenceControls();
  void SequenceCheckBoxClick();
  void NextSequenceFile();
  void StartSequenceCompression();
  /** @brief Writes the sequence video's script; false (with a message) when it cannot be written. */
  bool WriteSequenceScript(int index);
  void StartScriptReencode(const QString& script, const QString& target);
  /** @brief The sequence's part of a finished re-encoding; false when the run was not the sequence's. */
  bool SequenceReencodingCompleted(const QString& source, const QString& dest, bool success);
  void RelayCaptureButtonClick();
  void StartRelayCapture();
  void FramecatcherPlayerEndOfStream();
  bool AskReplayRelay();
  void SaveRelayVideo();
  void UpdateQualityControls();
  void VideoQualityRadioBoxClick();
  void CaptureAudioPanelClick();
  void VideoSettingsButtonClick();
  /**
   * @brief A recording that did not start, or ended in failure: the coach is told the folder and
   * why, and the form goes back to preview.
   */
  void RecordingFailed(const QString& file, bool started);

 private:
  /** @brief The component reported a full disk since the recording was prepared. */
  bool diskFullReported_ = false;
  /** @brief The recording's controls on the form's panels (made after the pages). */
  void BuildRecordingPanels();
  /** @brief A recording box at the form's Left + leftOffset and Top + topOffset. */
  int AskRecording(const QString& text, ui::MsgDlgType type, ui::MsgDlgButtons buttons, int leftOffset,
                   int topOffset = 180);
  /** @brief Copies a finished capture to a file the user names, logging how it went. */
  void SaveCaptureCopy(const QString& source, const QString& filter);
  /** @brief Ends a sequence: hourglass gone, no sequence re-encoding pending. */
  void EndSequence();
  int sequenceStartNumber_ = 1;  // the number field's value when the sequence began

 public:
  // (end of recording, sequences and relay)

  // ---- video from images on request (KestromCaptureImages.cpp) ----
  void WireImagesEvents();
  /**
   * @brief A finished recording that a video-from-images run made; false when it was none of
   * theirs (the recording work asks this first).
   */
  bool ImagesRecordingCompleted(const QString& fileName, bool success);
  /** @brief The form's directory entry received a MakeVideoRequest; 1 when it was taken, 0 when refused. */
  intptr_t WMCopyData(const winmsg::CopyData& data);
  /** @brief Stops the component, points it at the Temp pictures and arms CreateBitmapTimer. */
  void MakeVideoFromBitmaps();
  void FramecatcherBitmapsLoadingProgress(const engine::TProgressInfo& info);
  /** @brief Sends the requested file's VideoCreatedNotice to the analysis window. */
  void ReplyToAnalysis();
  /** @brief Sends the record to the target window; the box when there is no such window. */
  void SendCopyData(winmsg::HWND target, const QByteArray& record);
  /** @brief "Create Bitmaps": the same run at 50 fps into Temp's "AVITemp1.avi", at once. */
  void Button13Click();

  double RequestFrameRate = 25.0;
  QLabel* Label40 = nullptr;
  QLineEdit* ReturnEdit = nullptr;
  QPushButton* Button13 = nullptr;

 private:
  /** @brief Stops player, recording or preview; keeps the camera's rate to come back to. */
  void StopForImagesRun();
  /** @brief Points the component at the Temp pictures, without audio, at the rate given. */
  void SetImagesSource(double frameRate);
  /** @brief Packs the pictures; a packing that gives none ends the run. */
  void PackImages();
  /** @brief The run is over: the camera with its rate is the source again and the preview back. */
  void EndImagesRun();

  double cameraFrameRate_ = 0;  // the component's rate before the run (0: the device's own)

 public:
  // (end of video from images)

  // ---- player, trimming and re-encoding (KestromCapturePlayer.cpp) ----
  void BuildPlayerPage(QWidget* page);
  void WirePlayerEvents();
  void OpenPlayerFile(const QString& path);
  /** @brief Frame progress in player mode. */
  void PlayerFrameProgress(const engine::TFrameInfo& info);
  /** @brief Keys of the video window in player mode. */
  void PlayerKeyPress(QChar key);
  void PlayerReencodingCompleted(const QString& source, const QString& dest, bool success);
  void ShowPlayerPage();
  void UpdateRecompressControls();
  /** @brief Closes the player around a dialog, keeping its clip and frame for ResumePlayer. */
  void SuspendPlayer();
  void ResumePlayer();
  /** @brief Reopens the player with sound (1) or without (2), keeping the frame shown. */
  void SetPlayerAudio(quint8 mode);
  void AnyClipButtonClick();
  void LastCaptureButtonClick();
  void SpeedButton1Click();
  void PlayBitBtnClick();
  void PauseBitBtnClick();
  void ResetButtonClick();
  void TriminButtonClick();
  void TrimOutButtonClick();
  void ScrollBar1Change();
  void ScrollBar1Scroll();
  void TrimInSpinEditChange();
  void TrimOutSpinEditChange();
  void RenderVideoCheckBoxClick();
  void SaveBitBtnClick();
  /** @brief Asks for the re-encoding's output until it is not the clip being read; false when cancelled. */
  bool AskOutputFileName();
  void FramecatcherPlayerStarted();
  void FramecatcherPreviewStarted();
  void FramecatcherReencodingStarted(const QString& source, const QString& dest);
  void FramecatcherReencodingProgress(const engine::TProgressInfo& progress);

  bool PlayerOpening = false;
  bool PlayerSuspended = false;
  QString SuspendedPlayerFile;
  int64_t SuspendedPlayerFrame = 0;
  QString ReencodeTargetFile;
  /** @brief The scroll bar's tag: 1 when the player moved it (no seek), 0 when the user did. */
  int ScrollBar1Tag = 0;
  /** @brief The open clip's frame count (0: none, or a clip without frames). */
  int64_t PlayerFrames = 0;
  QPushButton *AnyClipButton = nullptr, *LastCaptureButton = nullptr, *SpeedButton1 = nullptr, *Test = nullptr,
              *PlayBitBtn = nullptr, *PauseBitBtn = nullptr, *ResetButton = nullptr, *TriminButton = nullptr,
              *TrimOutButton = nullptr, *Button7 = nullptr, *SaveBitBtn = nullptr;
  QGroupBox *PlayerBox = nullptr, *CompressionBox = nullptr, *VideoSizeRadioGroup = nullptr,
            *FramesRadioBox = nullptr;
  QScrollBar* ScrollBar1 = nullptr;
  QSpinBox *TrimInSpinEdit = nullptr, *TrimOutSpinEdit = nullptr;
  QWidget *TrimPanel = nullptr, *TrimInPanel = nullptr, *TrimOutPanel = nullptr;
  QCheckBox *CheckBox1 = nullptr, *AudioBox = nullptr, *RenderVideoCheckBox = nullptr;
  QLineEdit* edtSourceVideoClip = nullptr;
  // (end of player, trimming and re-encoding)

  // ---- filters, settings files and folder chooser (KestromCaptureFilters.cpp) ----
  void BuildFiltersPage(QWidget* page);
  void ApplyTextOverlay();
  void ResetFilters();
  void chkFlipVerticalClick();
  void chkFlipHorizontalClick();
  void chkInvertColorsClick();
  void chkGreyScaleClick();
  void tbrBrightnessChange();
  void tbrConstrastChange();
  void btnResetAllClick();
  void chkTextClick();
  void Memo1Change();
  void TrackBar1Change();
  void TrackBar2Change();
  void Button12Click();
  void rdgDeinterlacingClick();
  void SaveTextButtonClick();
  void SaveFilterFont(const QString& path);
  void LoadFilterFont(const QString& path);
  void SaveSequenceDir();
  void LoadSequenceDir();
  void OpenDirClick();
  /** @brief The overlay font: the memo's font with the colour the font dialog chose. */
  ui::FontChoice Memo1Font() const;
  void SetMemo1Font(const ui::FontChoice& font);

  QCheckBox *chkFlipVertical = nullptr, *chkFlipHorizontal = nullptr, *chkInvertColors = nullptr,
            *chkGreyScale = nullptr, *chkText = nullptr;
  QSlider *tbrBrightness = nullptr, *tbrConstrast = nullptr, *TrackBar1 = nullptr, *TrackBar2 = nullptr;
  QPushButton *btnResetAll = nullptr, *Button12 = nullptr, *SaveTextButton = nullptr, *OpenDir = nullptr;
  QGroupBox* rdgDeinterlacing = nullptr;
  TOpenDirectory OpenDirectory1;
  /** @brief The overlay text's font as the font dialog chose it (the memo shows it). */
  ui::FontChoice Memo1FontChoice;
  // (end of filters, settings files and folder chooser)

 protected:
  void moveEvent(QMoveEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void BuildPreviewPage(QWidget* page);
  void BuildWorkingPage(QWidget* page);
  QTimer* AddTimer(const char* name, int intervalMs, void (TKestromCaptureForm::*handler)());
  void WireComponentEvents();
  void Log(const QString& line);
  void LogSettingsNotTaken(const QStringList& lines);
  /** @brief A box at the form's Left + offset and Top + 180. */
  void ShowFormMessage(const QString& text, int leftOffset);
  void SetPreviewColour(int colour);
  void ShowDisplaySize();
  int State() const;
  /** @brief The running work refuses every start now. */
  bool StartsBlocked() const;
  /** @brief Closes an open clip or stops a recording, leaving the component in preview or idle. */
  void ClosePlayerOrStopRecording();

  CaptureMediator& mediator_;
  std::function<bool()> analysisWindowScan_;
  bool destroying_ = false;
  /** @brief The tab the user clicked, until the page change it causes (code changes run no handler). */
  int userPageClick_ = -1;
};

}  // namespace kestrom::capture
