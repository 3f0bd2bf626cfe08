#include "platform/ui/FontFile.h"

#include "platform/core/Format.h"
#include "platform/core/TextFile.h"

#include <QFileInfo>
#include <limits>

namespace kestrom::ui {

QStringList FontFileLines(const FontChoice& font) {
  using core::IntField;
  const QString numbers = IntField(font.color, 12) + IntField(font.size, 4) + IntField(font.bold ? 1 : 0, 2) +
                          IntField(font.italic ? 1 : 0, 2) + IntField(font.underline ? 1 : 0, 2) +
                          IntField(font.strikeOut ? 1 : 0, 2);
  return {font.name, numbers};
}

FontFileFields ReadFontFileFields(const QString& text) {
  core::NumberReader reader(text);
  FontFileFields fields;
  fields.name = reader.ReadLine();
  while (fields.numbers.size() < 6) {
    const std::optional<int64_t> next = reader.NextInt();
    if (!next) break;
    // The colour is a 32-bit toolkit colour (system colours are negative); the size is points.
    if (fields.numbers.empty() &&
        (*next < std::numeric_limits<int32_t>::min() || *next > std::numeric_limits<int32_t>::max()))
      break;
    if (fields.numbers.size() == 1 && (*next < -32768 || *next > 32767)) break;
    fields.numbers.push_back(*next);
  }
  return fields;
}

bool ApplyFontFileFields(const FontFileFields& fields, FontChoice& font) {
  const std::vector<int64_t>& values = fields.numbers;
  font.name = fields.name;
  if (values.size() > 0) font.color = static_cast<core::TColor>(values[0]);
  if (values.size() > 1) font.size = static_cast<int>(values[1]);
  if (values.size() < 6) return false;
  font.bold = values[2] == 1;
  font.italic = values[3] == 1;
  font.underline = values[4] == 1;
  font.strikeOut = values[5] == 1;
  return true;
}

std::optional<FontChoice> ParseFontFile(const QString& text) {
  const FontFileFields fields = ReadFontFileFields(text);
  if (fields.name.isEmpty() || fields.numbers.size() < 6) return std::nullopt;
  FontChoice font;
  ApplyFontFileFields(fields, font);
  return font;
}

bool WriteFontFile(const QString& path, const FontChoice& font) {
  return static_cast<bool>(core::WriteTextLines(path, FontFileLines(font)));
}

std::optional<FontChoice> ReadFontFile(const QString& path) {
  if (!QFileInfo(path).isFile()) return std::nullopt;
  const std::optional<QString> text = core::ReadTextFile(path);
  if (!text) return std::nullopt;
  return ParseFontFile(*text);
}

}  // namespace kestrom::ui
