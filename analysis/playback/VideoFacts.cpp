#include "analysis/playback/VideoFacts.h"

#include "platform/core/Format.h"

#include <algorithm>
#include <limits>

namespace kestrom::playback {

using core::Nearest;

VideoFacts MeasureVideo(const QString& videoFileName, int frameWidth, int frameHeight, int64_t lengthFrames,
                        int64_t lengthMs) {
  VideoFacts v;
  v.VideoOpen = true;
  v.VideoFileName = videoFileName;
  v.VideoName = VideoNameOf(videoFileName);
  v.FrameWidth = frameWidth;
  v.FrameHeight = frameHeight;
  v.LengthFrames = lengthFrames;
  v.LengthMs = lengthMs;
  // A clip without frames or without a length must still turn positions into frame numbers.
  v.FrameDuration = (lengthFrames > 0 && lengthMs > 0) ? static_cast<double>(lengthMs) / lengthFrames
                                                       : kDefaultFrameDuration;
  v.FramesPerSecond = (lengthFrames > 0 && lengthMs > 0) ? static_cast<int>(Nearest(lengthFrames * 1000.0 / lengthMs)) : 0;
  return v;
}

QString VideoNameOf(const QString& videoFileName) {
  return videoFileName.left(std::max<qsizetype>(0, videoFileName.size() - 4));
}

int64_t FrameNumberAt(int64_t positionMs, double frameDuration) {
  if (!(frameDuration > 0)) return 0;
  return Nearest(positionMs / frameDuration);
}

int64_t PositionOfFrame(int64_t frame, double frameDuration) {
  if (!(frameDuration > 0)) return 0;
  return Nearest(static_cast<double>(frame) * frameDuration);
}

int64_t StepPosition(int64_t positionMs, int64_t frames, double frameDuration, int64_t maximum) {
  if (!(frameDuration > 0) || maximum <= 0) return 0;
  // The end of the range shows the last frame even where that frame's own position lies beyond it.
  const int64_t last = FrameNumberAt(maximum, frameDuration);
  const int64_t target = std::clamp<int64_t>(FrameNumberAt(positionMs, frameDuration) + frames, 0, last);
  return std::min(PositionOfFrame(target, frameDuration), maximum);
}

QString FpsStatusText(int framesPerSecond) { return core::Printf(" %d fps", framesPerSecond); }

ScrollRange ScrollRangeFor(int64_t lengthMs, double frameDuration) {
  const int64_t frame = Nearest(frameDuration);
  const int64_t intMax = std::numeric_limits<int>::max();
  ScrollRange r;
  r.maximum = static_cast<int>(std::clamp<int64_t>(lengthMs - 2 * frame, 0, intMax));
  r.smallChange = static_cast<int>(std::clamp<int64_t>(frame, 1, 32767));
  r.largeChange = static_cast<int>(std::clamp<int64_t>(10 * frame, 1, 32767));
  return r;
}

VideoCompanionNames VideoCompanionNames::ForVideoName(const QString& videoName) {
  VideoCompanionNames n;
  n.MarkersFile = videoName + ".mrk";
  n.MemoFile = videoName + ".txt";
  n.MemoFontFile = videoName + ".font";
  n.FreehandFile = videoName + ".frh";
  n.ShapesFile = videoName + ".shp";
  n.TextItemsFile = videoName + ".str";
  n.GridFile = videoName + ".grd";
  n.FreehandGridFile = videoName + ".fhg";
  n.TraceFile = videoName + ".trc";
  n.CalibrationFile = videoName + ".cal";
  n.AnglesFile = videoName + ".ang";
  n.EventLinesFile = videoName + ".ent";
  n.DigitisationFile = videoName + ".zdf";
  n.DigitisationFile2 = videoName + ".zmf";
  n.DataExportFile = videoName + ".dat";
  n.SpreadsheetFile = videoName + ".XLS";
  n.AnglesSpreadsheetFile = videoName + "_Angle.XLS";
  n.HorzCalibrationFile = videoName + ".hcal";
  n.VertCalibrationFile = videoName + ".vcal";
  return n;
}

QStringList VideoCompanionNames::All() const {
  return {MarkersFile,     MemoFile,       MemoFontFile,      FreehandFile,     ShapesFile,
          TextItemsFile,   GridFile,       FreehandGridFile,  TraceFile,        CalibrationFile,
          AnglesFile,      EventLinesFile, DigitisationFile,  DigitisationFile2, DataExportFile,
          SpreadsheetFile, AnglesSpreadsheetFile, HorzCalibrationFile, VertCalibrationFile};
}

}  // namespace kestrom::playback
