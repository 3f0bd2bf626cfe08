#pragma once
// The text the capture component draws into every frame: its placeholders (%frame_count%,
// %sys_time[dd/mm/yy]% ...) parsed into segments, and the parsed text published whole, so the
// thread that draws frames never sees a text half replaced and never waits while one is parsed.

#include "capture/engine/FKEvents.h"
#include "platform/core/Published.h"
#include "platform/ui/Canvas.h"

#include <QDateTime>
#include <QString>
#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace kestrom::engine {

/** @brief Segments kept of one text; the rest is dropped. */
inline constexpr int kMaxTextOverlaySegments = 40;

/** @brief What a segment adds to the literal text: 0 nothing, 1 time code, 2 frame count,
 *  3 time in 100 ns, 4 time in seconds, 5 full time, 6 system date-time, 7 DV date-time,
 *  8 to 17 custom text 0 to 9. */
enum TextOverlayCode {
  to_Literal = 0, to_TimeCode, to_FrameCount, to_Time100ns, to_TimeSec, to_TimeFull, to_SysTime, to_DVTime,
  to_Custom0
};

/** @brief A literal text, or a placeholder with its argument (the format of codes 6 and 7). */
struct TextOverlaySegment {
  QString Text;
  int Code = to_Literal;
  bool operator==(const TextOverlaySegment&) const = default;
};

/** @brief The segments of a text, at most kMaxTextOverlaySegments; an unterminated placeholder
 *  at the end is dropped, an unknown one stays as text with its percent signs. */
std::vector<TextOverlaySegment> ParseTextOverlay(const QString& text);

/** @brief One parsed text as published: never changed once made. */
struct TextOverlayBuffer {
  QString Source;
  std::vector<TextOverlaySegment> Segments;
};

/** @brief The current parsed text, replaced whole by each Set: the last call wins. */
class TextOverlayText {
 public:
  /** @brief Parses the text and publishes it (GUI thread). */
  void Set(const QString& text);
  /** @brief The text last published, or null before the first Set (any thread). */
  std::shared_ptr<const TextOverlayBuffer> Current() const { return current_.Current(); }

 private:
  core::Published<TextOverlayBuffer> current_;
};

/** @brief The DV recording date and time of a frame; none when the frame is not DV or its date
 *  or time is cleared or invalid. */
std::optional<QDateTime> DVDateTimeOf(const TFrameInfo& info);

/**
 * @brief The text drawn for a frame: each segment's literal followed by its value. The time code
 * and DV date appear only for DV frames; `now` is the local time the system-time placeholder shows.
 */
QString ComposeTextOverlay(const std::vector<TextOverlaySegment>& segments, const TFrameInfo& info,
                           const QDateTime& now, const std::array<QString, 10>& customTexts);

/** @brief Where and how the text goes into a frame (the component's TextOverlay_ properties). */
struct TextOverlayStyle {
  int Left = 0, Top = 0, Right = 320;
  ui::FontChoice Font;
  core::TColor BkColor = core::clWhite;
  bool Transparent = true;
  int Align = 0;  // TTextOverlayAlign: left, centre, right
};

/** @brief Draws the text word-wrapped from (Left, Top) between Left and Right, downwards without
 *  limit, in the style's font and colour; the canvas's own font is restored afterwards. */
void DrawTextOverlay(ui::Canvas& canvas, const TextOverlayStyle& style, const QString& text);

}  // namespace kestrom::engine
