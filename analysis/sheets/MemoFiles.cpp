#include "analysis/sheets/MemoFiles.h"

#include "platform/core/Format.h"
#include "platform/core/TextFile.h"

#include <QFileInfo>
#include <limits>

namespace kestrom::sheets {

namespace {
const QString kSixBlanks(6, ' ');
}

QStringList FontFileLines(const ui::FontChoice& font) {
  using core::IntField;
  const QString numbers = IntField(font.color, 12) + IntField(font.size, 4) + IntField(font.bold ? 1 : 0, 2) +
                          IntField(font.italic ? 1 : 0, 2) + IntField(font.underline ? 1 : 0, 2) +
                          IntField(font.strikeOut ? 1 : 0, 2);
  return {font.name, numbers};
}

std::optional<ui::FontChoice> ParseFontFile(const QString& text) {
  core::NumberReader reader(text);
  const QString name = reader.ReadLine();
  if (name.isEmpty()) return std::nullopt;
  int64_t values[6];
  for (int64_t& value : values) {
    const std::optional<int64_t> next = reader.NextInt();
    if (!next) return std::nullopt;
    value = *next;
  }
  // The colour is a 32-bit toolkit colour (system colours are negative); the size is points.
  if (values[0] < std::numeric_limits<int32_t>::min() || values[0] > std::numeric_limits<int32_t>::max())
    return std::nullopt;
  if (values[1] < -32768 || values[1] > 32767) return std::nullopt;
  ui::FontChoice font;
  font.name = name;
  font.color = static_cast<core::TColor>(values[0]);
  font.size = static_cast<int>(values[1]);
  font.bold = values[2] == 1;
  font.italic = values[3] == 1;
  font.underline = values[4] == 1;
  font.strikeOut = values[5] == 1;
  return font;
}

bool WriteFontFile(const QString& path, const ui::FontChoice& font) {
  return static_cast<bool>(core::WriteTextLines(path, FontFileLines(font)));
}

std::optional<ui::FontChoice> ReadFontFile(const QString& path) {
  if (!QFileInfo(path).isFile()) return std::nullopt;
  const std::optional<QString> text = core::ReadTextFile(path);
  if (!text) return std::nullopt;
  return ParseFontFile(*text);
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
