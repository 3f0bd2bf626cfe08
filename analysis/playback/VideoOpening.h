#pragma once
// Opening a video in an analysis window: the checks that come before the player is touched, the
// open itself, and the measuring of what was opened. Either the new video is open and measured,
// or the window's player and its video are as they were and the messages say why.

#include "analysis/playback/PlayerPort.h"
#include "analysis/playback/VideoFacts.h"

#include <QStringList>
#include <cstdint>

namespace kestrom::playback {

/** @brief Files smaller than this are no video. */
inline constexpr int64_t kMinVideoFileSize = 200;

/** @brief The size of a file in bytes; 0 when it is missing, unreadable or no regular file. */
int64_t GetFileSize(const QString& path);

enum class OpenStatus {
  Opened,      // the new video is open and measured
  SameFile,    // the other window shows this file already
  BadFormat,   // under 200 bytes, missing or unreadable
  OpenFailed,  // the player could not open it
};

struct OpenOutcome {
  OpenStatus status = OpenStatus::OpenFailed;
  /** @brief Information messages to show, in order (none when opened). */
  QStringList messages;
  /** @brief The opened video's facts (only when opened). */
  VideoFacts video;
};

/**
 * @brief Checks and opens a file on the window's player. otherWindowFile is the other window's
 * player file name, compared as an exact, case-sensitive string. The player's file name is set
 * only once the file has passed the checks, and put back when the open fails.
 */
OpenOutcome OpenVideoFile(PlayerPort& player, const QString& path, const QString& otherWindowFile);

/** @brief The open dialog's filter. */
QString VideoOpenFilter();

}  // namespace kestrom::playback
