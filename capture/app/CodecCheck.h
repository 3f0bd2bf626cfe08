#pragma once
// The start-up check of the two codecs the capture program records with: each codec must be
// installed (asked of the first-run back end, which tests replace) and listed among the
// component's compressors under its name.

#include "capture/app/FormMessage.h"

#include <QList>
#include <QStringList>

namespace kestrom::shell {
class FirstRunChecks;
}

namespace kestrom::capture {

/** @brief The compressor names the program looks for. */
inline const QString kVideoCodecName = QStringLiteral("Microsoft MPEG-4 Video Codec V2");
inline const QString kAudioCodecName = QStringLiteral("Microsoft ADPCM");

/** @brief Left offset of every codec message. */
inline constexpr int kCodecMessageLeft = 430;

struct CodecCheckOutcome {
  /** @brief Information boxes to show, in order; each one ends the program. */
  QList<FormMessage> messages;
  /** @brief The video compressor to apply and select in both video boxes; -1 when not listed. */
  int videoCompressor = -1;
  /** @brief The audio compressor to apply and select; -1 when not listed. */
  int audioCompressor = -1;
  /** @brief True when the program must end (any message). */
  bool Terminate() const { return !messages.isEmpty(); }
};

/** @brief The index of the last item equal to the text (a later duplicate wins); -1 when none. */
int LastIndexOf(const QStringList& items, const QString& text);

/**
 * @brief Checks both codecs: installed (video, then audio), then listed in the video and the audio
 * compressor names. Every check runs, whatever failed before it.
 */
CodecCheckOutcome CheckCodecs(shell::FirstRunChecks& checks, const QStringList& videoCompressors,
                              const QStringList& audioCompressors);

}  // namespace kestrom::capture
