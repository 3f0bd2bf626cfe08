#include "FrameTestSupport.h"
#include "LiveGraphFixture.h"

#include "capture/engine/FK.h"
#include "capture/engine/TextOverlay.h"
#include "platform/dshow/base/Allocator.h"

#include <atomic>
#include <thread>

namespace kestrom::engine::test {

namespace {

/** @brief A media sample over the test's own bytes. */
struct Sample {
  std::vector<dshow::BYTE> bytes;
  dshow::CMediaSample sample;
  explicit Sample(std::vector<dshow::BYTE> data)
      : bytes(std::move(data)), sample(nullptr, bytes.data(), dshow::LONG(bytes.size())) {
    sample.AddRef();
    sample.SetActualDataLength(dshow::LONG(bytes.size()));
  }
};

}  // namespace

class GrabberCallbacks : public EngineTest {};

TEST_F(GrabberCallbacks, ADeferredCaptureWhileTheCopyIsDeliveredKeepsTheCopy) {
  TFK fk;
  std::vector<std::vector<uint8_t>> delivered;
  fk.Events().OnSampleCapture_Audio = [&](QObject*, TSampleData& d) {
    delivered.emplace_back(d.Buffer, d.Buffer + d.DataLength);
    EXPECT_EQ(d.FormatKind, 7);
    EXPECT_EQ(d.W2, 22);
  };
  Sample first({1, 2, 3, 4}), second({9, 9, 9, 9, 9, 9});
  TFK::SampleCapturedDeferred(&fk, dshow::FALSE, &first.sample, nullptr, 11, 22, 33, 44);
  TFK::TSampleCopy& copy = fk.SampleCopy(false);
  ASSERT_TRUE(copy.ready);
  copy.locked = true;  // the main thread is delivering it
  TFK::SampleCapturedDeferred(&fk, dshow::FALSE, &second.sample, nullptr, 0, 0, 0, 0);
  EXPECT_EQ(copy.data, (std::vector<uint8_t>{1, 2, 3, 4}));
  copy.locked = false;
  fk.FireDeferredSampleEvents();
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0], (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_FALSE(copy.ready);
  // Delivered once; the next sample of another size gets a buffer of its size.
  fk.FireDeferredSampleEvents();
  EXPECT_EQ(delivered.size(), 1u);
  TFK::SampleCapturedDeferred(&fk, dshow::FALSE, &second.sample, nullptr, 0, 22, 0, 0);
  fk.FireDeferredSampleEvents();
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[1].size(), 6u);
  // Without a handler nothing is copied.
  fk.Events().OnSampleCapture_Video = nullptr;
  TFK::SampleCapturedDeferred(&fk, dshow::TRUE, &first.sample, nullptr, 0, 0, 0, 0);
  EXPECT_FALSE(fk.SampleCopy(true).ready);
}

TEST_F(GrabberCallbacks, TheDVDateGivesADateOnlyWhenItIsARealOne) {
  struct Case {
    std::array<int32_t, 6> delivered;
    bool dated;
  };
  const Case cases[] = {
      {{2004, 2, 29, 10, 11, 12}, true},  {{2003, 2, 29, 10, 11, 12}, false}, {{2004, 13, 1, 0, 0, 0}, false},
      {{2004, 1, 0, 0, 0, 0}, false},     {{0, 0, 0, 0, 0, 0}, false},        {{2004, 1, 1, 24, 0, 0}, false},
      {{2004, 1, 1, 23, 59, 60}, false},  {{1999, 12, 31, 23, 59, 59}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.delivered[0] << "-" << c.delivered[1] << "-" << c.delivered[2] << " "
                                    << c.delivered[3] << ":" << c.delivered[4] << ":" << c.delivered[5]);
    const std::array<int32_t, 6> kept = TFK::ValidDVDate(c.delivered.data());
    TFrameInfo info;
    info.IsDV = true;
    info.SetDVDate(kept);
    const std::optional<QDateTime> date = DVDateTimeOf(info);
    ASSERT_EQ(date.has_value(), c.dated);
    if (date) {
      EXPECT_EQ(*date, QDateTime(QDate(c.delivered[0], c.delivered[1], c.delivered[2]),
                                 QTime(c.delivered[3], c.delivered[4], c.delivered[5])));
    }
    info.IsDV = false;
    EXPECT_FALSE(DVDateTimeOf(info));
  }
}

// The text is set on every keystroke while frames are drawn on another thread: every frame shows
// one whole text, and the last one set is the one that stays.
class GrabberCallbacksLive : public LiveGraphTest {};

TEST_F(GrabberCallbacksLive, ATextSetWhileFramesFlowEndsWithTheLastOne) {
  auto fk = Camera(false);
  ASSERT_TRUE(fk->StartPreview());
  fk->SetTextOverlay_Left(4);
  fk->SetTextOverlay_Top(4);
  fk->SetTextOverlay_Right(300);
  fk->SetTextOverlay_Enabled(true);
  fk->SetTextOverlay_String("start");
  fk->DispatchKeptFrame();
  std::atomic<bool> stop{false};
  std::thread frames([&] {
    int64_t time = 0;
    while (!stop) {
      SyntheticFrame frame = SyntheticFrame::Uniform(320, 64, 0xFF000000);
      frame.FeedTo(*fk, time += 400'000);
    }
  });
  for (int i = 1; i <= 200; ++i) fk->SetTextOverlay_String(QStringLiteral("text %1 %2").arg(i).arg(QString(i % 9, 'W')));
  stop = true;
  frames.join();
  SyntheticFrame frame = SyntheticFrame::Uniform(320, 64, 0xFF000000);
  frame.FeedTo(*fk, 1'000'000'000);
  EXPECT_EQ(fk->GetTextOverlay_String(), "text 200 WW");
  // What the frame shows is the last text drawn as the overlay draws it.
  SyntheticFrame expected = SyntheticFrame::Uniform(320, 64, 0xFF000000);
  ui::Canvas canvas = ui::Canvas::OverFrame({expected.bytes.data(), 320, 64, core::FramePixels::Rgb24, 0, nullptr, 0});
  TextOverlayStyle style;
  style.Left = 4;
  style.Top = 4;
  style.Right = 300;
  style.Font = fk->GetTextOverlay_Font();
  DrawTextOverlay(canvas, style, "text 200 WW");
  EXPECT_EQ(frame.Shown(), expected.Shown());
}

}  // namespace kestrom::engine::test
