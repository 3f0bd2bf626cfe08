#pragma once
// The request another program sends the capture form (WM_COPYDATA) to join the pictures of the
// working folder's Temp subfolder into a video: a zero-terminated text of at most 100 bytes whose
// first 8 characters hold the frame rate as a decimal number and whose rest is the full path of
// the AVI file to make. The rate field is split off by position, never by a separator.

#include <QString>
#include <cstdint>

namespace kestrom::capture {

/** @brief Longest request text read; a longer one is refused rather than cut into another path. */
inline constexpr int kVideoRequestMaxBytes = 100;
/** @brief Characters of the rate field at the start of the text. */
inline constexpr int kVideoRequestRateChars = 8;
/** @brief The rate used when the rate field is not a usable number. */
inline constexpr double kVideoRequestDefaultRate = 25.0;

/** @brief A request as read: its rate and path, or why it is refused. */
struct VideoRequest {
  double RequestFrameRate = kVideoRequestDefaultRate;
  QString path;     // the text after the rate field
  QString refusal;  // empty when the request can be run
  bool Accepted() const { return refusal.isEmpty(); }
};

/**
 * @brief Reads a request from its bytes: at most byteCount bytes, up to the first zero byte. A
 * text over 100 bytes, an empty or relative path, a path naming no file, or a path whose folder
 * does not exist is refused. A rate that is not a number, not finite or not above 0 counts as 25.
 */
VideoRequest ParseVideoRequest(const void* data, uint32_t byteCount);

/** @brief The rate field's value: its number when finite and above 0, else 25. */
double RequestRate(const QString& field);

}  // namespace kestrom::capture
