// Writes the sample clip a coach finds in the samples folder on first start: ten seconds of a
// runner at 720x576, 25 fps, MPEG-4 V2 in AVI, each picture carrying its frame number.
//   KestromSampleClip <file.avi>      write that file
//   KestromSampleClip --samples       write it into the default samples folder unless it is there

#include "tools/ClipWriter.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <cstdio>

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QStringList args = app.arguments().mid(1);
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: KestromSampleClip <file.avi> | --samples\n");
    return 2;
  }
  QString path = args[0];
  if (path == "--samples") {
    // The system drive is $KESTROM_SYSTEM_DRIVE, else the home folder (as the programs see it).
    const QString drive = qEnvironmentVariableIsEmpty("KESTROM_SYSTEM_DRIVE")
                              ? QDir::homePath()
                              : qEnvironmentVariable("KESTROM_SYSTEM_DRIVE");
    const QString folder = QDir(drive).filePath("KestromSamples");
    path = QDir(folder).filePath("Sample Runner.avi");
    if (QFileInfo::exists(path)) return 0;
    if (!QDir().mkpath(folder)) {
      std::fprintf(stderr, "cannot create %s\n", qPrintable(folder));
      return 1;
    }
  }
  kestrom::tools::ClipSpec clipSpec;
  clipSpec.path = path;
  clipSpec.frames = 250;
  clipSpec.gop = 25;
  QString error;
  if (!kestrom::tools::WriteClip(clipSpec, &error)) {
    std::fprintf(stderr, "%s\n", qPrintable(error));
    return 1;
  }
  std::printf("sample clip: %s\n", qPrintable(path));
  return 0;
}
