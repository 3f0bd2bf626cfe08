#include "analysis/playback/VideoOpening.h"

#include <QFileInfo>

namespace kestrom::playback {

int64_t GetFileSize(const QString& path) {
  const QFileInfo info(path);
  if (!info.exists() || !info.isFile() || !info.isReadable()) return 0;
  return info.size();
}

OpenOutcome OpenVideoFile(PlayerPort& player, const QString& path, const QString& otherWindowFile) {
  OpenOutcome out;
  if (path == otherWindowFile) {
    out.status = OpenStatus::SameFile;
    out.messages << QStringLiteral("You have selected the same video file name.\r\n"
                                   "This video is already shown in the other window.\r\n"
                                   "Please select a different video");
    return out;
  }
  // The size rule catches broken AVI files. A script is short by nature and its interpreter names
  // the line of any error, so only an empty or missing one is refused here.
  const bool script = path.endsWith(QStringLiteral(".avs"), Qt::CaseInsensitive);
  const int64_t bytes = GetFileSize(path);
  if (script ? bytes <= 0 : bytes < kMinVideoFileSize) {
    out.status = OpenStatus::BadFormat;
    out.messages << QStringLiteral("Error : Incorrect video file format") << path;
    return out;
  }

  const QString previous = player.FileName();
  player.SetFileName(path);
  if (!player.Open()) {
    player.SetFileName(previous);
    out.status = OpenStatus::OpenFailed;
    QString why = player.ErrorString();
    if (why.isEmpty()) why = QStringLiteral("The file is not a video that can be played.");
    out.messages << QStringLiteral("Cannot open the video file\r\n%1\r\n%2").arg(path, why);
    return out;
  }

  const QSize size = player.NaturalSize();
  out.status = OpenStatus::Opened;
  out.video = MeasureVideo(path, size.width(), size.height(), player.LengthFrames(), player.LengthMs());
  return out;
}

QString VideoOpenFilter() {
  return QStringLiteral("Avi Files|*.avi|WMV Files|*.WMV|MPeg Files|*.mpeg|Movie Files|*.mov|AviSynth|*.avs");
}

}  // namespace kestrom::playback
