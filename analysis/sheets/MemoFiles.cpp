#include "analysis/sheets/MemoFiles.h"

#include "platform/core/Format.h"

namespace kestrom::sheets {

namespace {
const QString kSixBlanks(6, ' ');
}

QString HorseProfileFontFile(const QString& profilePath) { return profilePath.chopped(4) + ".fnt"; }

QString TimeOfDayText(const QDateTime& now) { return core::FormatDateTime("tt", now); }

QStringList NewMemoTemplate(const QDateTime& now) {
  return {"Name", kSixBlanks, "Date:    " + TimeOfDayText(now), kSixBlanks, "Activity  ", kSixBlanks,
          "Comments:  ", kSixBlanks};
}

QStringList HorseProfileTemplate() {
  return {"HORSE", kSixBlanks, "Name: ", kSixBlanks, "Age:  ", kSixBlanks, "Sex:  ", kSixBlanks,
          "Owner:", kSixBlanks, "History:", kSixBlanks};
}

QStringList SessionResultsTemplate(const QDateTime& now) {
  return {"Analysis Session: ", "Video Clips:", "1)", "2)", "3)", "User:", "Date: " + TimeOfDayText(now),
          "Location:", "Comments:", QString(9, ' ')};
}

}  // namespace kestrom::sheets
