#include "capture/app/CodecCheck.h"

#include "common/startup/FirstRunChecks.h"

namespace kestrom::capture {

int LastIndexOf(const QStringList& items, const QString& text) {
  for (qsizetype i = items.size() - 1; i >= 0; --i)
    if (items[i] == text) return static_cast<int>(i);
  return -1;
}

CodecCheckOutcome CheckCodecs(shell::FirstRunChecks& checks, const QStringList& videoCompressors,
                              const QStringList& audioCompressors) {
  CodecCheckOutcome outcome;
  auto fail = [&](const QString& text) { outcome.messages << FormMessage{text, kCodecMessageLeft}; };
  if (!checks.IsVideoCodecInstalled())
    fail(QStringLiteral("The required Microsoft Video Codec is not installed.\r\nPlease load codec"));
  if (!checks.IsAudioCodecInstalled())
    fail(QStringLiteral("The required Microsoft Audio Codec is not installed.\r\nPlease load codec"));
  outcome.videoCompressor = LastIndexOf(videoCompressors, kVideoCodecName);
  if (outcome.videoCompressor < 0)
    fail(QStringLiteral("The required Microsoft Video Codec cannot be found.\r\n"
                        "Please check that the codec is registered"));
  outcome.audioCompressor = LastIndexOf(audioCompressors, kAudioCodecName);
  if (outcome.audioCompressor < 0)
    fail(QStringLiteral("The required Microsoft Audio Codec cannot be found.\r\n"
                        "Please check that the codec is registered"));
  return outcome;
}

}  // namespace kestrom::capture
