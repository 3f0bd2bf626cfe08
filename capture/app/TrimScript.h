#pragma once
// The player page's rules without widgets: the five-line script through which a trimmed clip is
// re-encoded, the speed the player plays a clip at, when the render options may be used, and the
// widths of the trim bar's two panels.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace kestrom::capture {

/**
 * @brief The script's trim line for the scroll bar's 1-based frames in..out. The frame server
 * counts from 0 and reads a last frame of 0 as "to the end", so out = 1 (the first frame alone)
 * is written as one frame from 0: "Trim(0 , -1)".
 */
QString TrimLine(int trimIn, int trimOut);

/**
 * @brief The five lines of the re-encoding script for a clip: its source, the trim line, and the
 * three lines that keep one field of each frame at full height. Nothing when the clip's path
 * would break the script's quoted string (a double quote or a line break in it).
 */
std::optional<QStringList> ReencodeScriptLines(const QString& clip, int trimIn, int trimOut);

/** @brief Writes the script (lines ended by CR LF); false when the path was refused or the write failed. */
bool WriteReencodeScript(const QString& scriptFile, const QString& clip, int trimIn, int trimOut);

/** @brief The script file the player's saves write: WorkingFolder + "\Input.avs". */
QString ReencodeScriptFile();

/**
 * @brief The clip's frame rate from its frame count and its duration in 100-nanosecond units;
 * nothing when the duration is under 0.0001 s.
 */
std::optional<double> ClipFrameRate(int64_t frames, int64_t duration);

/** @brief The player's speed ratio for a clip's rate: 0.4 under 40 fps, 0.1 over 70, else 0.2. */
double PlayerSpeedRatioFor(double rate);

/** @brief The size and rate options of a render are offered for clips 381 pixels wide or more, under 40 fps. */
bool RenderOptionsOffered(int width, double rate);

/** @brief Width of the trim bar's left panel: Round(trimIn x barWidth / frames); 0 without frames. */
int TrimInPanelWidth(int trimIn, int barWidth, int64_t frames);

/** @brief Width of the trim bar's right panel: Round(barWidth x (frames - trimOut) / frames); 0 without frames. */
int TrimOutPanelWidth(int trimOut, int barWidth, int64_t frames);

}  // namespace kestrom::capture
