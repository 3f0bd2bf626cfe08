#pragma once
// The rules of the capture form's recordings that need no widgets: the quality rating of a
// finished capture, the time limit, the names and scripts of a sequence of videos, the relay's
// choice tables and the counters' DV time code.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace kestrom::capture {

/** @brief The time limit of single and sequence recordings, as for relays (seconds). */
inline constexpr int kRecordingTimeLimit = 3600;

/** @brief The summary of a finished capture as the report box shows it. */
struct CaptureRating {
  int percent = 0;       // dropped frames, as a whole-number percentage of all frames
  QString droppedText;   // the percentage with two decimals and " %" ("100.00 %")
  QString quality;       // "Excellent", "Good", "Adequate", "Poor" or "Very Poor"
};

/**
 * @brief Rates a capture: 100 % dropped when no frame was captured, else the dropped share
 * rounded to a whole percentage first, then compared ("Excellent" below 0.1, "Good" below 1,
 * "Adequate" below 5, "Poor" below 10, else "Very Poor").
 */
CaptureRating RateCaptureQuality(int64_t capturedFrames, int64_t droppedFrames);

/** @brief A counted recording has reached its limit; a limit of 0 never stops it. */
bool TimeLimitReached(int64_t recordedSeconds, int limitSeconds);

/** @brief The DV time code as the counters show it; the blank pattern when the source has none. */
QString DVTimeCodeText(int hours, int minutes, int seconds);

/** @brief folder + "\" + name + number + ".avi", the number written without leading zeros. */
QString SequenceVideoName(const QString& folder, const QString& name, int number);

/**
 * @brief The three lines of the script that re-encodes one recorded sequence video: its source
 * line, "SeparateFields" and "Bob". Nothing when the path cannot stand in a quoted script string
 * (a double quote or a line break in it).
 */
std::optional<QStringList> SequenceScriptLines(const QString& videoPath);

/**
 * @brief Why the sequence folder cannot take the sequence's videos, or an empty text when it can:
 * it must be an existing folder in which a file can be created.
 */
QString SequenceFolderProblem(const QString& folder);

/** @brief Why no file can be made in the folder (the system's words), or nothing when one can. */
std::optional<QString> FolderWriteProblem(const QString& folder);

/** @brief Free space below this on the recording's volume is taken for a full disk. */
inline constexpr uint64_t kDiskFullBytes = 1024 * 1024;

/**
 * @brief What the coach is told of a recording into the file that could not start or ended in
 * failure: the folder and the reason, "the disk is full" when the component said so or the
 * volume has (almost) no free space, else why the folder takes no file, else that the recording
 * stopped with an error.
 */
QString RecordingFailureMessage(const QString& file, bool started, bool diskFullReported);

/** @brief Relay choices by item index: recording seconds, delay before playback (ms), playback speed. */
int RelayDurationSeconds(int item);
int RelayDelayMs(int item);
double RelayPlaybackSpeedOf(int item);

/** @brief The relay plays its sound only at about normal speed. */
bool RelayPlaysAudio(double speed);

}  // namespace kestrom::capture
