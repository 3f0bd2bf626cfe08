#include "capture/app/FilterSettings.h"

#include "platform/core/Format.h"
#include "platform/core/TextFile.h"
#include "platform/ui/FontFile.h"

#include <QFileInfo>

namespace kestrom::capture {

QString OverlayText(const QString& memoText) { return QStringLiteral("Kestrom\r\n") + memoText; }

int OverlayOffset(int videoSize, int position) {
  return static_cast<int>(core::Nearest(double(videoSize) * double(position) * 0.01));
}

bool SaveFilterFont(const QString& path, const ui::FontChoice& font) { return ui::WriteFontFile(path, font); }

bool LoadFilterFont(const QString& path, ui::FontChoice& font) {
  if (!QFileInfo(path).isFile()) return false;
  const std::optional<QString> text = core::ReadTextFile(path);
  if (!text) return false;
  const ui::FontFileFields fields = ui::ReadFontFileFields(*text);
  if (fields.name.isEmpty()) return false;
  return ui::ApplyFontFileFields(fields, font);
}

bool SaveFilterText(const QString& path, const QStringList& lines) {
  return static_cast<bool>(core::WriteTextLines(path, lines));
}

std::optional<QStringList> LoadFilterText(const QString& path) {
  if (!QFileInfo(path).isFile()) return std::nullopt;
  return core::ReadTextLines(path);
}

bool SaveSequenceDir(const QString& path, const QString& folder) {
  return static_cast<bool>(core::WriteTextLines(path, {folder}));
}

std::optional<QString> LoadSequenceDir(const QString& path) {
  if (!QFileInfo(path).isFile()) return std::nullopt;
  const std::optional<QStringList> lines = core::ReadTextLines(path);
  if (!lines || lines->isEmpty() || lines->first().isEmpty() || !QFileInfo(lines->first()).isDir()) return std::nullopt;
  return lines->first();
}

}  // namespace kestrom::capture
