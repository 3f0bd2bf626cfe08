#include "capture/app/TrimScript.h"

#include "capture/app/CaptureGlobals.h"
#include "platform/core/Format.h"
#include "platform/core/Paths.h"
#include "platform/core/TextFile.h"

namespace kestrom::capture {

QString TrimLine(int trimIn, int trimOut) {
  const int first = trimIn - 1;
  const int last = trimOut <= 1 ? -1 : trimOut - 1;
  return QStringLiteral("Trim(") + QString::number(trimOut <= 1 ? 0 : first) + QStringLiteral(" , ") +
         QString::number(last) + QStringLiteral(")");
}

std::optional<QStringList> ReencodeScriptLines(const QString& clip, int trimIn, int trimOut) {
  if (clip.contains(QLatin1Char('"')) || clip.contains(QLatin1Char('\r')) || clip.contains(QLatin1Char('\n')))
    return std::nullopt;
  return QStringList{QStringLiteral("DirectShowSource(\"") + clip + QStringLiteral("\") "), TrimLine(trimIn, trimOut),
                     QStringLiteral("SeparateFields"), QStringLiteral("SelectOdd"), QStringLiteral("Bob")};
}

bool WriteReencodeScript(const QString& scriptFile, const QString& clip, int trimIn, int trimOut) {
  const std::optional<QStringList> lines = ReencodeScriptLines(clip, trimIn, trimOut);
  return lines && static_cast<bool>(core::WriteTextLines(scriptFile, *lines));
}

QString ReencodeScriptFile() { return core::JoinPath(Globals().WorkingFolder, QStringLiteral("\\Input.avs")); }

std::optional<double> ClipFrameRate(int64_t frames, int64_t duration) {
  const double seconds = static_cast<double>(duration) / 10000000.0;
  if (seconds < 0.0001) return std::nullopt;
  return static_cast<double>(frames) / seconds;
}

double PlayerSpeedRatioFor(double rate) {
  if (rate < 40) return 0.4;
  if (rate > 70) return 0.1;
  return 0.2;
}

bool RenderOptionsOffered(int width, double rate) { return width >= 381 && rate < 40; }

int TrimInPanelWidth(int trimIn, int barWidth, int64_t frames) {
  if (frames <= 0) return 0;
  return static_cast<int>(core::Nearest(double(trimIn) * barWidth / double(frames)));
}

int TrimOutPanelWidth(int trimOut, int barWidth, int64_t frames) {
  if (frames <= 0) return 0;
  return static_cast<int>(core::Nearest(double(barWidth) * double(frames - trimOut) / double(frames)));
}

}  // namespace kestrom::capture
