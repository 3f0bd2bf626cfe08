#include "capture/app/RecordingRules.h"

#include "platform/core/Format.h"
#include "platform/core/Paths.h"

#include <QFileInfo>
#include <QTemporaryFile>
#include <array>

namespace kestrom::capture {

CaptureRating RateCaptureQuality(int64_t capturedFrames, int64_t droppedFrames) {
  CaptureRating rating;
  if (capturedFrames < 1) {
    rating.percent = 100;
  } else {
    const double share = static_cast<double>(droppedFrames) * 100.0 /
                         static_cast<double>(droppedFrames + capturedFrames);
    rating.percent = static_cast<int>(core::Nearest(share));
  }
  // The whole-number percentage is what is compared: 5 dropped in 1000 is 0 % and "Excellent".
  const double p = rating.percent;
  rating.droppedText = core::FormatFloat(QStringLiteral("0.00"), p) + QStringLiteral(" %");
  rating.quality = p < 0.1  ? QStringLiteral("Excellent")
                   : p < 1  ? QStringLiteral("Good")
                   : p < 5  ? QStringLiteral("Adequate")
                   : p < 10 ? QStringLiteral("Poor")
                            : QStringLiteral("Very Poor");
  return rating;
}

bool TimeLimitReached(int64_t recordedSeconds, int limitSeconds) {
  return limitSeconds > 0 && recordedSeconds >= limitSeconds;
}

QString DVTimeCodeText(int hours, int minutes, int seconds) {
  if (seconds == -1) return QStringLiteral("                     - - : - - : - -   - -");
  return core::Printf("%.2d:%.2d:%.2d", hours, minutes, seconds);
}

QString SequenceVideoName(const QString& folder, const QString& name, int number) {
  return core::JoinPath(folder, QStringLiteral("\\") + name + QString::number(number) + QStringLiteral(".avi"));
}

std::optional<QStringList> SequenceScriptLines(const QString& videoPath) {
  if (videoPath.contains(QLatin1Char('"')) || videoPath.contains(QLatin1Char('\n')) ||
      videoPath.contains(QLatin1Char('\r')))
    return std::nullopt;
  return QStringList{QStringLiteral("DirectShowSource(\"") + videoPath + QStringLiteral("\") "),
                     QStringLiteral("SeparateFields"), QStringLiteral("Bob")};
}

std::optional<QString> FolderWriteProblem(const QString& folder) {
  // Permissions alone do not tell (read-only mounts, access lists): try to make a file there.
  QTemporaryFile probe(core::JoinPath(folder, QStringLiteral("\\.kestrom-write-test-XXXXXX")));
  if (probe.open()) return std::nullopt;
  return probe.errorString();
}

QString RecordingFailureMessage(const QString& file, bool started, bool diskFullReported) {
  const QString folder = QFileInfo(file).absolutePath();
  QString reason;
  const std::optional<uint64_t> free = core::FreeSpace(folder);
  if (diskFullReported || (free && *free < kDiskFullBytes)) {
    reason = QStringLiteral("the disk is full");
  } else if (const std::optional<QString> problem = FolderWriteProblem(folder)) {
    reason = QStringLiteral("the folder cannot be written to (") + *problem + QStringLiteral(")");
  } else {
    reason = QStringLiteral("the recording stopped with an error (see the log)");
  }
  const QString head = started ? QStringLiteral("The recording of ") + file + QStringLiteral(" has failed:\r\n")
                               : QStringLiteral("The recording could not be started in the folder\r\n") + folder +
                                     QStringLiteral(":\r\n");
  return head + reason + QStringLiteral(".");
}

QString SequenceFolderProblem(const QString& folder) {
  const QFileInfo info(folder);
  if (folder.trimmed().isEmpty() || !info.isDir())
    return QStringLiteral("The sequence folder ") + folder + QStringLiteral(" does not exist.\r\n") +
           QStringLiteral("Please choose another folder with the Open button.");
  if (FolderWriteProblem(folder))
    return QStringLiteral("The sequence folder ") + folder + QStringLiteral(" cannot be written to.\r\n") +
           QStringLiteral("Please choose another folder with the Open button.");
  return {};
}

namespace {
constexpr std::array<int, 6> kRelayDurations = {5, 10, 15, 20, 30, 60};
constexpr std::array<int, 6> kRelayDelays = {1, 5000, 10000, 15000, 20000, 30000};
constexpr std::array<double, 3> kRelaySpeeds = {1.0, 0.5, 0.25};

template <typename T, size_t N>
T Item(const std::array<T, N>& table, int item) {
  return table[static_cast<size_t>(item >= 0 && item < int(N) ? item : 0)];
}
}  // namespace

int RelayDurationSeconds(int item) { return Item(kRelayDurations, item); }
int RelayDelayMs(int item) { return Item(kRelayDelays, item); }
double RelayPlaybackSpeedOf(int item) { return Item(kRelaySpeeds, item); }

bool RelayPlaysAudio(double speed) { return speed > 0.9 && speed < 1.1; }

}  // namespace kestrom::capture
