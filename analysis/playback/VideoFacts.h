#pragma once
// What the analysis window knows of its open video: sizes, lengths, the frame duration that turns
// positions (milliseconds) into frame numbers, the main scroll bar's range and the names of the
// companion files kept beside the video.

#include <QString>
#include <QStringList>
#include <cstdint>

namespace kestrom::playback {

/** @brief Frame duration used when a clip reports no frames or no length. */
inline constexpr double kDefaultFrameDuration = 40.0;

struct VideoFacts {
  bool VideoOpen = false;
  QString VideoFileName;
  QString VideoName;  // VideoFileName less its last 4 characters; also the window caption
  int FrameWidth = 720;
  int FrameHeight = 576;
  int64_t LengthFrames = 0;
  int64_t LengthMs = 0;
  double FrameDuration = kDefaultFrameDuration;  // milliseconds per frame
  int FramesPerSecond = 0;
};

/**
 * @brief The facts of a clip from what the player measured. FrameDuration is LengthMs /
 * LengthFrames, 40.0 when either is 0 or less; FramesPerSecond is nearest(frames x 1000 / ms),
 * 0 when either is 0 or less.
 */
VideoFacts MeasureVideo(const QString& videoFileName, int frameWidth, int frameHeight, int64_t lengthFrames,
                        int64_t lengthMs);

/** @brief The path less its last 4 characters (the dot and a 3-letter extension). */
QString VideoNameOf(const QString& videoFileName);

/** @brief The frame shown at a position: nearest(position / frame duration), ties to even. */
int64_t FrameNumberAt(int64_t positionMs, double frameDuration);

/** @brief The position that shows frame n: n frame durations to the nearest millisecond. */
int64_t PositionOfFrame(int64_t frame, double frameDuration);

/**
 * @brief The scroll position `frames` frames on from the frame shown at positionMs (back when
 * negative), never beyond maximum, which shows the last frame. Stepping by whole milliseconds
 * would repeat or skip frames wherever a frame does not last a whole number of them (30 fps).
 */
int64_t StepPosition(int64_t positionMs, int64_t frames, double frameDuration, int64_t maximum);

/** @brief The status bar's frame-rate text, " %d fps". */
QString FpsStatusText(int framesPerSecond);

/** @brief Range and steps of the main scroll bar, which runs in milliseconds. */
struct ScrollRange {
  int minimum = 0;
  int maximum = 0;       // LengthMs - 2 frames, never below 0
  int smallChange = 1;   // one frame, 1..32767
  int largeChange = 10;  // ten frames, 1..32767
};
ScrollRange ScrollRangeFor(int64_t lengthMs, double frameDuration);

/** @brief The names of the files kept beside one video, each VideoName + its suffix. */
struct VideoCompanionNames {
  QString MarkersFile;            // .mrk
  QString MemoFile;               // .txt
  QString MemoFontFile;           // .font
  QString FreehandFile;           // .frh
  QString ShapesFile;             // .shp
  QString TextItemsFile;          // .str
  QString GridFile;               // .grd
  QString FreehandGridFile;       // .fhg
  QString TraceFile;              // .trc
  QString CalibrationFile;        // .cal
  QString AnglesFile;             // .ang
  QString EventLinesFile;         // .ent
  QString DigitisationFile;       // .zdf
  QString DigitisationFile2;      // .zmf
  QString DataExportFile;         // .dat
  QString SpreadsheetFile;        // .XLS
  QString AnglesSpreadsheetFile;  // _Angle.XLS
  QString HorzCalibrationFile;    // .hcal
  QString VertCalibrationFile;    // .vcal

  static VideoCompanionNames ForVideoName(const QString& videoName);
  /** @brief Every name, in the order above. */
  QStringList All() const;
};

}  // namespace kestrom::playback
