#include "capture/app/CaptureModes.h"

#include "capture/engine/EngineComponent.h"
#include "capture/engine/FKProperties.h"
#include "platform/core/Format.h"

namespace kestrom::capture {

bool PageEnabled(int page, bool noCameraMode) { return !noCameraMode || page >= SetupPage; }

const QList<DVButton>& DVButtons() {
  static const QList<DVButton> buttons = {
      {dvc_Play, "PlaySpeedButton", "Play Video", "Play Video"},
      {dvc_Stop, "StopSpeedButton", "Stop Video", "Stop Video"},
      {dvc_Freeze, "PauseSpeedButton", "Pause Video", "Pause Video"},
      {dvc_StepForward, "StepForwardSpeedButton", "Step Forward Video", "Step Forward"},
      {dvc_StepReverse, "StepBackSpeedButton", "Step Back Video", "Step Backward"},
      {dvc_FastestForward, "FastForwardSpeedButton", "Fast Forward", "Fast Forward"},
      {dvc_SlowestForward, "SlowForwardSpeedButton", "Slow Forward", "Play Slow Forward"},
      {dvc_FastestReverse, "FastBackSpeedButton", "Fast Rewind", "Fast Reverse"},
      {dvc_SlowestReverse, "SlowBackSpeedButton", "Slow Back", "Play Slow Backward"},
  };
  return buttons;
}

QString DVCommandLogText(int code) {
  for (const DVButton& button : DVButtons())
    if (button.code == code) return QString::fromLatin1(button.logText);
  return {};
}

QString DVCommandFailureText(int state) {
  if (state == engine::cs_Preview || state == engine::cs_Recording) return QStringLiteral("DV command failed.");
  return QStringLiteral("DV command failed. Preview must be running!");
}

DVCommandOutcome DVCommandResult(int code, bool sent, int state) {
  if (!sent) return {DVCommandFailureText(state), false, false};
  return {DVCommandLogText(code), true, true};
}

QList<int> PreviewKeyCommands(QChar key) {
  switch (key.toUpper().unicode()) {
    case ' ': return {dvc_Stop};
    case 'B': return {dvc_Freeze, dvc_StepForward};
    case 'C': return {dvc_Freeze, dvc_StepReverse};
    case 'M': return {dvc_FastestForward};
    case 'N': return {dvc_SlowestForward};
    case 'P': return {dvc_Play};
    case 'V': return {dvc_Freeze};
    case 'X': return {dvc_SlowestReverse};
    case 'Z': return {dvc_FastestReverse};
    default: return {};
  }
}

QString StateCaption(int state) { return QString::number(state); }

std::optional<QString> ComponentStateName(int state) {
  static const char* const names[] = {"Down", "Preview", "Recording", "PlayBack", "Compress"};
  if (state < 0 || state >= static_cast<int>(std::size(names))) return std::nullopt;
  return QString::fromLatin1(names[state]);
}

std::optional<QString> FrameGrabberName(int value) {
  switch (value) {
    case engine::fg_BothStreams: return QStringLiteral("fg_BothStreams");
    case engine::fg_PreviewStream: return QStringLiteral("fg_PreviewStream");
    case engine::fg_CaptureStream: return QStringLiteral("fg_CaptureStream");
    case engine::fg_Disabled: return QStringLiteral("fg_Disabled");
    default: return std::nullopt;
  }
}

QString TotalGbSizeCaption() { return core::Printf("%.2f", 0.21); }

}  // namespace kestrom::capture
