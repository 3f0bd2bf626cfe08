#pragma once
// What the capture form decides from the component's state, which is its only mode: the pages it
// enables, the tape transport commands and their log lines, the keys of the video window, the
// names its read-out buttons show, and writing a setting until the component reports it.

#include <QChar>
#include <QList>
#include <QString>
#include <optional>

namespace kestrom::capture {

/** @brief The pages of the capture form's page control, by index. */
enum CapturePage {
  PreviewPage = 0,
  CapturePageIndex = 1,
  RelayPage = 2,
  PlayerPage = 3,
  FiltersPage = 4,
  SetupPage = 5,
  WorkingPage = 6,
};
inline constexpr int kCapturePageCount = 7;

/** @brief Without a camera only Setup (and the hidden Working page) stays enabled. */
bool PageEnabled(int page, bool noCameraMode);

/** @brief Tape transport commands the form's buttons and keys send. */
enum TDVCommand {
  dvc_Play = 0,
  dvc_Stop = 1,
  dvc_Freeze = 2,
  dvc_StepForward = 9,
  dvc_StepReverse = 10,
  dvc_FastestForward = 12,
  dvc_SlowestForward = 13,
  dvc_FastestReverse = 14,
  dvc_SlowestReverse = 15,
};

struct DVButton {
  int code;
  const char* button;  // objectName of the button that sends it
  const char* hint;
  const char* logText;  // logged when the command succeeds
};

/** @brief The nine transport buttons of the Preview page. */
const QList<DVButton>& DVButtons();

/** @brief The log line of a command that succeeded; empty for a code no button sends. */
QString DVCommandLogText(int code);

/** @brief The log line of a command that failed, by the state after the form made sure of preview. */
QString DVCommandFailureText(int state);

/**
 * @brief The commands a key on the video window sends in preview, either case: Space stop, "B"
 * pause then step forward, "C" pause then step back, and so on; none for other keys.
 */
QList<int> PreviewKeyCommands(QChar key);

struct DVCommandOutcome {
  QString logLine;
  /** @brief The tape transport answers: recordings start and stop the tape. */
  bool DVTapeAvailable = false;
  /** @brief On success the form grabs the preview stream and deinterlaces at full size. */
  bool tapeSettings = false;
};

/**
 * @brief What the form does after sending a transport command: the state is the component's
 * after the form made sure of preview. Linux has no tape transport, so in practice every command
 * fails and logs "DV command failed.".
 */
DVCommandOutcome DVCommandResult(int code, bool sent, int state);

/** @brief The state timer's caption: the state as a decimal number. */
QString StateCaption(int state);

/** @brief "Down", "Preview", "Recording", "PlayBack" or "Compress" for states 0 to 4. */
std::optional<QString> ComponentStateName(int state);

/** @brief The name of a frame-grabber value ("fg_BothStreams" ...); nothing when out of range. */
std::optional<QString> FrameGrabberName(int value);

/** @brief The caption of the diagnostics form's size button: 0.21 with two decimals. */
QString TotalGbSizeCaption();

/** @brief How often a setting is written before the component is taken not to accept it. */
inline constexpr int kSettingAttempts = 10;

/**
 * @brief Writes a value and reads it back until the component reports it, at most attempts
 * times. False when the component never took it (the caller logs that).
 */
template <typename T, typename Set, typename Get>
bool WriteUntilRead(Set&& set, Get&& get, const T& value, int attempts = kSettingAttempts) {
  for (int i = 0; i < attempts; ++i) {
    set(value);
    if (get() == value) return true;
  }
  return false;
}

}  // namespace kestrom::capture
