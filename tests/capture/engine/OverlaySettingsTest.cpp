#include "capture/engine/TextOverlay.h"

#include "capture/engine/FKProperties.h"

#include <gtest/gtest.h>
#include <thread>

namespace kestrom::engine {

void PrintTo(const TextOverlaySegment& s, std::ostream* os) { *os << "{\"" << s.Text.toStdString() << "\", " << s.Code << "}"; }

namespace test {

namespace {

using Segments = std::vector<TextOverlaySegment>;

TFrameInfo SampleFrame() {
  TFrameInfo info;
  info.FrameNumber = 1234;
  info.Time = 37'250'000'000;  // 1 h 2 min 5.00 s
  info.TotalHundredths = info.Time / 100'000;
  info.TotalSeconds = info.TotalHundredths / 100;
  info.Hundredths = 0;
  info.TotalMinutes = 62;
  info.Hours = 1;
  info.Minutes = 2;
  info.Seconds = 5;
  return info;
}

}  // namespace

TEST(OverlaySettings, ParsesPlaceholdersIntoSegments) {
  struct Case { const char* text; Segments segments; };
  const Case cases[] = {
      {"plain", {{"plain", to_Literal}}},
      {"a%b", {{"a", to_Literal}}},  // never closed: the b goes
      {"%foo%", {{"", to_Literal}, {"%foo%", to_Literal}}},
      {"x%%y", {{"x", to_Literal}, {"%%", to_Literal}, {"y", to_Literal}}},
      {"%custom3%", {{"", to_Literal}, {"", 11}}},
      {"%custom10%%customx%", {{"", to_Literal}, {"%custom10%", to_Literal}, {"", to_Literal}, {"%customx%", to_Literal}}},
      {"%sys_time[hh:nn]%", {{"", to_Literal}, {"hh:nn", to_SysTime}}},
      {"%sys_time[%", {{"", to_Literal}, {"", to_SysTime}}},
      {"%dv_time[%", {{"", to_Literal}, {"", to_DVTime}}},
      {"%dv_time[dd/mm/yy]%", {{"", to_Literal}, {"dd/mm/yy", to_DVTime}}},
      {"n: %frame_count% t=%time_code%%time_100ns%%time_sec%%time_full%",
       {{"n: ", to_Literal}, {"", to_FrameCount}, {" t=", to_Literal}, {"", to_TimeCode}, {"", to_Literal},
        {"", to_Time100ns}, {"", to_Literal}, {"", to_TimeSec}, {"", to_Literal}, {"", to_TimeFull}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseTextOverlay(QString::fromUtf8(c.text)), c.segments);
  }

  // 30 placeholders make 60 segments; the first 40 stay.
  QString many;
  for (int i = 0; i < 30; ++i) many += QStringLiteral("L%1%frame_count%").arg(i);
  const Segments kept = ParseTextOverlay(many);
  ASSERT_EQ(kept.size(), 40u);
  EXPECT_EQ(kept[38], (TextOverlaySegment{"L19", to_Literal}));
  EXPECT_EQ(kept[39], (TextOverlaySegment{"", to_FrameCount}));
}

TEST(OverlaySettings, ComposesTheDefaultTextForAFrame) {
  const QString text = QString::fromLatin1(DefaultTextOverlayString);
  TFrameInfo info = SampleFrame();
  const QDateTime now(QDate(2024, 3, 9), QTime(14, 5, 6));
  const QString plain = ComposeTextOverlay(ParseTextOverlay(text), info, now, {});
  EXPECT_EQ(plain,
            "Note: the date/time formats are\r\nstandard and can be modified.\r\n\r\n"
            "system date/time: 09/03/24 14:05:06\r\nDV time code: \r\nDV date/time: \r\n"
            "frame count: 1234\r\ntime (full): 01:02:05 00\r\ntime (sec): 3725.00\r\ntime (ns): 37250000000");

  info.IsDV = true;
  info.TCHours = 1, info.TCMinutes = 2, info.TCSeconds = 3, info.TCFrames = 24;
  info.DVYear = 2004, info.DVMonth = 2, info.DVDay = 29, info.DVHour = 23, info.DVMinute = 59, info.DVSecond = 58;
  const QString dv = ComposeTextOverlay(ParseTextOverlay(text), info, now, {});
  EXPECT_TRUE(dv.contains("DV time code: 01:02:03:24\r\n"));
  EXPECT_TRUE(dv.contains("DV date/time: 29/02/04 23:59:58\r\n"));

  std::array<QString, 10> custom;
  custom[3] = "third";
  EXPECT_EQ(ComposeTextOverlay(ParseTextOverlay("<%custom3%|%custom4%>"), info, now, custom), "<third|>");
}

TEST(OverlaySettings, ClearedOrInvalidDVDatesGiveNoDate) {
  TFrameInfo info;
  info.IsDV = true;
  EXPECT_FALSE(DVDateTimeOf(info)) << "cleared to zeros";
  struct Case { int y, mo, d, h, mi, s; bool valid; };
  for (const Case& c : {Case{2004, 2, 29, 12, 0, 0, true}, Case{2003, 2, 29, 12, 0, 0, false},
                        Case{2004, 13, 1, 0, 0, 0, false}, Case{2004, 4, 31, 0, 0, 0, false},
                        Case{2004, 4, 30, 24, 0, 0, false}, Case{2004, 4, 30, 23, 60, 0, false},
                        Case{2004, 4, 30, 23, 59, 60, false}, Case{1, 1, 1, 0, 0, 0, true}}) {
    SCOPED_TRACE(testing::Message() << c.y << "-" << c.mo << "-" << c.d << " " << c.h << ":" << c.mi << ":" << c.s);
    info.DVYear = c.y, info.DVMonth = c.mo, info.DVDay = c.d, info.DVHour = c.h, info.DVMinute = c.mi,
    info.DVSecond = c.s;
    EXPECT_EQ(DVDateTimeOf(info).has_value(), c.valid);
  }
  info.DVYear = 2004, info.DVMonth = 2, info.DVDay = 29, info.DVHour = 0, info.DVMinute = 0, info.DVSecond = 0;
  info.IsDV = false;
  EXPECT_FALSE(DVDateTimeOf(info));
}

TEST(OverlaySettings, TheLastTextSetShowsAndNoReadIsTorn) {
  TextOverlayText overlay;
  EXPECT_EQ(overlay.Current(), nullptr);
  // Each text is "<i>%frame_count%<i>": a reader checks that both halves belong to one call.
  auto textOf = [](int i) { return QStringLiteral("%1%frame_count%%1").arg(i); };
  std::atomic<bool> done{false};
  std::atomic<int> reads{0}, torn{0};
  std::thread reader([&] {
    while (!done.load()) {
      const auto current = overlay.Current();
      if (!current) continue;
      ++reads;
      const auto& s = current->Segments;
      if (s.size() != 3 || s[0].Text != s[2].Text || s[1].Code != to_FrameCount || current->Source != textOf(s[0].Text.toInt()))
        ++torn;
    }
  });
  for (int i = 0; i < 200; ++i) overlay.Set(textOf(i));
  // Let the reader see the final text at least once before stopping it.
  const int before = reads.load();
  for (int spin = 0; spin < 1'000'000 && reads.load() < before + 10; ++spin) std::this_thread::yield();
  done = true;
  reader.join();
  EXPECT_EQ(torn.load(), 0);
  ASSERT_NE(overlay.Current(), nullptr);
  EXPECT_EQ(overlay.Current()->Source, textOf(199));
  EXPECT_EQ(overlay.Current()->Segments[0].Text, "199");
}

TEST(OverlaySettings, DrawsTheTextIntoTheFrameAtItsPlace) {
  const QString text = ComposeTextOverlay(ParseTextOverlay(QString::fromLatin1(DefaultTextOverlayString)), SampleFrame(),
                                          QDateTime(QDate(2024, 3, 9), QTime(14, 5, 6)), {});
  for (int align : {0, 2}) {
    SCOPED_TRACE(align);
    std::vector<uchar> bytes(size_t(400 * 3 * 300), 0);
    core::FrameBits frame;
    frame.Bits = bytes.data();
    frame.Width = 400;
    frame.Height = 300;
    ui::Canvas canvas = ui::Canvas::OverFrame(frame);
    canvas.Font = {"DejaVu Sans", 12, false, false, false, false, core::clRed};
    TextOverlayStyle style;
    style.Left = 60, style.Top = 40, style.Right = 360, style.Align = align;
    style.Font = {"DejaVu Sans", 8, false, false, false, false, core::clAqua};
    DrawTextOverlay(canvas, style, text);
    EXPECT_EQ(canvas.Font.color, core::clRed) << "the canvas keeps its own font";
    QRect ink;
    const QImage shown = canvas.Picture();
    for (int y = 0; y < shown.height(); ++y)
      for (int x = 0; x < shown.width(); ++x)
        if (qGreen(shown.pixel(x, y)) > 128) ink |= QRect(x, y, 1, 1);
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_GE(ink.left(), 60);
    EXPECT_GE(ink.top(), 40);
    EXPECT_LE(ink.right(), 360);
    ui::Canvas measure;
    measure.Font = style.Font;
    EXPECT_GT(ink.height(), 9 * measure.TextHeight("X")) << "ten lines and more";
    if (align == 0) {
      EXPECT_LE(ink.left(), 62);
    } else {
      EXPECT_GE(ink.right(), 355);
    }
  }
}

}  // namespace test
}  // namespace kestrom::engine
