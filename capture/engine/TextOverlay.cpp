#include "capture/engine/TextOverlay.h"

#include "platform/core/Format.h"

namespace kestrom::engine {

namespace {

// The argument of "sys_time[...]" or "dv_time[...]": what follows the prefix, less the closing
// bracket. A name that is only the prefix gives an empty argument.
QString ArgumentAfter(const QString& name, qsizetype prefix) {
  return name.mid(prefix, std::max<qsizetype>(0, name.size() - prefix - 1));
}

TextOverlaySegment PlaceholderOf(const QString& name) {
  if (name == QLatin1String("time_code")) return {QString(), to_TimeCode};
  if (name == QLatin1String("frame_count")) return {QString(), to_FrameCount};
  if (name == QLatin1String("time_full")) return {QString(), to_TimeFull};
  if (name == QLatin1String("time_100ns")) return {QString(), to_Time100ns};
  if (name == QLatin1String("time_sec")) return {QString(), to_TimeSec};
  if (name.startsWith(QLatin1String("sys_time["))) return {ArgumentAfter(name, 9), to_SysTime};
  if (name.startsWith(QLatin1String("dv_time["))) return {ArgumentAfter(name, 8), to_DVTime};
  if (name.size() == 7 && name.startsWith(QLatin1String("custom")) && name[6] >= QChar('0') && name[6] <= QChar('9'))
    return {QString(), to_Custom0 + (name[6].unicode() - '0')};
  return {QLatin1Char('%') + name + QLatin1Char('%'), to_Literal};
}

}  // namespace

std::vector<TextOverlaySegment> ParseTextOverlay(const QString& text) {
  std::vector<TextOverlaySegment> segments;
  QString literal, name;
  bool inside = false;
  for (const QChar c : text) {
    if (c != QChar('%')) {
      (inside ? name : literal) += c;
      continue;
    }
    if (inside) {
      segments.push_back(PlaceholderOf(name));
      name.clear();
    } else {
      segments.push_back({literal, to_Literal});
      literal.clear();
    }
    inside = !inside;
    if (segments.size() == size_t(kMaxTextOverlaySegments)) return segments;
  }
  if (!inside && !literal.isEmpty()) segments.push_back({literal, to_Literal});
  return segments;
}

void TextOverlayText::Set(const QString& text) {
  auto parsed = std::make_shared<TextOverlayBuffer>();
  parsed->Source = text;
  parsed->Segments = ParseTextOverlay(text);
  current_.Publish(std::move(parsed));
}

std::optional<QDateTime> DVDateTimeOf(const TFrameInfo& info) {
  if (!info.IsDV) return std::nullopt;
  const QDate date(info.DVYear, info.DVMonth, info.DVDay);
  if (info.DVYear < 1 || info.DVYear > 9999 || !date.isValid()) return std::nullopt;
  if (info.DVHour < 0 || info.DVHour > 23 || info.DVMinute < 0 || info.DVMinute > 59 || info.DVSecond < 0 ||
      info.DVSecond > 59)
    return std::nullopt;
  return QDateTime(date, QTime(info.DVHour, info.DVMinute, info.DVSecond));
}

QString ComposeTextOverlay(const std::vector<TextOverlaySegment>& segments, const TFrameInfo& info,
                           const QDateTime& now, const std::array<QString, 10>& customTexts) {
  QString out;
  const size_t count = std::min(segments.size(), size_t(kMaxTextOverlaySegments));
  for (size_t i = 0; i < count; ++i) {
    const TextOverlaySegment& s = segments[i];
    switch (s.Code) {
      case to_Literal: out += s.Text; break;
      case to_TimeCode:
        out += s.Text;
        if (info.IsDV)
          out += core::Printf("%.2u:%.2u:%.2u:%.2u", unsigned(info.TCHours), unsigned(info.TCMinutes),
                              unsigned(info.TCSeconds), unsigned(info.TCFrames));
        break;
      case to_FrameCount: out += s.Text + QString::number(info.FrameNumber); break;
      case to_Time100ns: out += s.Text + QString::number(info.Time); break;
      case to_TimeSec:
        out += s.Text + core::Printf("%lld.%.2d", static_cast<long long>(info.TotalSeconds), int(info.Hundredths));
        break;
      case to_TimeFull:
        out += s.Text + core::Printf("%.2d:%.2d:%.2d %.2d", int(info.Hours), int(info.Minutes), int(info.Seconds),
                                     int(info.Hundredths));
        break;
      case to_SysTime: out += core::FormatDateTime(s.Text, now); break;
      case to_DVTime:
        if (const auto dv = DVDateTimeOf(info)) out += core::FormatDateTime(s.Text, *dv);
        break;
      default:
        out += s.Text;
        if (s.Code >= to_Custom0 && s.Code < to_Custom0 + 10) out += customTexts[size_t(s.Code - to_Custom0)];
        break;
    }
  }
  return out;
}

void DrawTextOverlay(ui::Canvas& canvas, const TextOverlayStyle& style, const QString& text) {
  ui::TextFormat format;
  format.WordBreak = true;
  format.NoClip = true;
  format.Opaque = !style.Transparent;
  format.Background = style.BkColor;
  format.Align = style.Align == 1 ? ui::TextAlign::Center : style.Align == 2 ? ui::TextAlign::Right : ui::TextAlign::Left;
  const ui::FontChoice font = canvas.Font;
  canvas.Font = style.Font;
  canvas.DrawText(ui::Rect(style.Left, style.Top, style.Right, INT32_MAX), text, format);
  canvas.Font = font;
}

}  // namespace kestrom::engine
