#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/FilterGraph.h"
#include "platform/registry/Registry.h"
#include "tests/platform/dshow/support/StreamFilters.h"

#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <thread>

namespace kestrom::dshow {
namespace {

using namespace com;
using namespace test;

std::vector<int> Range(int first, int last) {
  std::vector<int> v;
  for (int i = first; i <= last; ++i) v.push_back(i);
  return v;
}

class GraphRun : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(registryDir_.isValid());
    registry::SetRegistryDirectory(registryDir_.path());
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph_.PutVoid()), S_OK);
    ASSERT_EQ(graph_.As(IID_IMediaControl, &control_), S_OK);
    ASSERT_EQ(graph_.As(IID_IMediaEventEx, &events_), S_OK);
    ASSERT_EQ(graph_.As(IID_IMediaFilter, &filter_), S_OK);
  }
  void TearDown() override {
    if (control_) control_->Stop();
    control_.Reset();
    events_.Reset();
    filter_.Reset();
    graph_.Reset();
    SetGraphNotifyPoster({});
    registry::SetRegistryDirectory({});
  }

  template <typename Renderer>
  void Build(CPatternSource* source, Renderer* renderer) {
    ASSERT_EQ(graph_->AddFilter(source, u"Source"), S_OK);
    ASSERT_EQ(graph_->AddFilter(renderer, u"Renderer"), S_OK);
    ASSERT_EQ(graph_->Connect(source->Output(), renderer->Input()), S_OK);
  }

  /** @brief The next event (waiting up to 5 s), or 0. */
  LONG NextEvent(LONG_PTR* p1 = nullptr, LONG_PTR* p2 = nullptr) {
    LONG code = 0;
    LONG_PTR a = 0, b = 0;
    if (events_->GetEvent(&code, &a, &b, 5000) != S_OK) return 0;
    if (p1) *p1 = a;
    if (p2) *p2 = b;
    return code;
  }
  /** @brief Events until one with this code arrives; false when it never comes. */
  bool AwaitEvent(LONG wanted, LONG_PTR* p2 = nullptr) {
    for (;;) {
      LONG_PTR b = 0;
      const LONG code = NextEvent(nullptr, &b);
      if (code == 0) return false;
      if (code == wanted) {
        if (p2) *p2 = b;
        return true;
      }
    }
  }

  QTemporaryDir registryDir_;
  ComPtr<IGraphBuilder> graph_;
  ComPtr<IMediaControl> control_;
  ComPtr<IMediaEventEx> events_;
  ComPtr<IMediaFilter> filter_;
};

TEST_F(GraphRun, PausesOnTheFirstFrameRunsAndStopsWithTheirStates) {
  auto source = Make<CPatternSource>(PatternOptions{});
  auto renderer = Make<CRecordingRenderer>();
  Build(source.Get(), renderer.Get());

  FILTER_STATE state;
  ASSERT_EQ(control_->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
  const HRESULT paused = control_->Pause();
  EXPECT_TRUE(paused == S_OK || paused == S_FALSE) << paused;
  ASSERT_EQ(control_->GetState(5000, &state), S_OK);
  EXPECT_EQ(state, State_Paused);
  EXPECT_EQ(renderer->Shown(), std::vector<int>{0});
  EXPECT_TRUE(renderer->Rendered().empty());

  ASSERT_EQ(control_->Run(), S_OK);
  ASSERT_EQ(control_->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Running);
  ASSERT_TRUE(WaitFor([&] { return renderer->Rendered().size() >= 3; }));
  ASSERT_EQ(control_->Pause(), S_OK);
  ASSERT_EQ(control_->Stop(), S_OK);
  ASSERT_EQ(control_->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
  // Every frame rendered once, in order, paced by the clock (not all 100 at once).
  const auto rendered = renderer->Rendered();
  EXPECT_EQ(rendered, Range(0, static_cast<int>(rendered.size()) - 1));
  EXPECT_LT(rendered.size(), 100u);
}

TEST_F(GraphRun, ALiveSourceCannotCueAndDeliversOnlyWhileRunning) {
  auto source = Make<CPatternSource>(PatternOptions{.frames = 1000, .live = true});
  auto renderer = Make<CRecordingRenderer>();
  Build(source.Get(), renderer.Get());
  ASSERT_EQ(filter_->SetSyncSource(nullptr), S_OK);

  EXPECT_EQ(control_->Pause(), VFW_S_CANT_CUE);
  FILTER_STATE state;
  EXPECT_EQ(control_->GetState(50, &state), VFW_S_CANT_CUE);
  EXPECT_EQ(state, State_Paused);
  EXPECT_EQ(source->FillCalls(), 0);

  ASSERT_EQ(control_->Run(), S_OK);
  ASSERT_TRUE(WaitFor([&] { return renderer->Rendered().size() >= 5; }));
  ASSERT_EQ(control_->Stop(), S_OK);
}

// Stop on the GUI thread, which pumps no messages, returns quickly whatever the streaming
// thread waits on.
TEST_F(GraphRun, StopReturnsQuicklyWhateverTheStreamingThreadWaitsOn) {
  enum Case { kPausedFrameHeld, kAllocatorExhausted, kSourceWaitsForDevice };
  for (Case c : {kPausedFrameHeld, kAllocatorExhausted, kSourceWaitsForDevice}) {
    SCOPED_TRACE(c);
    SetUp();
    auto source = Make<CPatternSource>(PatternOptions{.frames = 1000, .waitForDevice = c == kSourceWaitsForDevice});
    auto recorder = Make<CRecordingRenderer>();
    auto hoarder = Make<CHoardingRenderer>();
    if (c == kAllocatorExhausted) Build(source.Get(), hoarder.Get());
    else Build(source.Get(), recorder.Get());
    ASSERT_EQ(filter_->SetSyncSource(nullptr), S_OK);

    switch (c) {
      case kPausedFrameHeld:
        control_->Pause();
        ASSERT_TRUE(WaitFor([&] { return recorder->HoldsSample(); }));
        break;
      case kAllocatorExhausted:
        ASSERT_EQ(control_->Run(), S_OK);
        // Both buffers are kept downstream; the source then waits in GetBuffer.
        ASSERT_TRUE(WaitFor([&] { return hoarder->Kept() == 2 && source->FillCalls() == 2; }));
        break;
      case kSourceWaitsForDevice:
        ASSERT_EQ(control_->Run(), S_OK);
        ASSERT_TRUE(WaitFor([&] { return source->WaitingForDevice(); }));
        break;
    }
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(control_->Stop(), S_OK);
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_LT(took, std::chrono::milliseconds(500));
    FILTER_STATE state;
    control_->GetState(0, &state);
    EXPECT_EQ(state, State_Stopped);
    EXPECT_FALSE(recorder->HoldsSample());
    TearDown();
  }
}

TEST_F(GraphRun, QueuesEventsPostsNotificationsAndStopsPostingWhenSwitchedOff) {
  struct Post {
    OAHWND window;
    LONG msg;
    LONG_PTR w, l;
  };
  std::mutex mutex;
  std::vector<Post> posts;
  SetGraphNotifyPoster([&](OAHWND window, LONG msg, LONG_PTR w, LONG_PTR l) {
    std::lock_guard lock(mutex);
    posts.push_back({window, msg, w, l});
  });
  auto postCount = [&] {
    std::lock_guard lock(mutex);
    return posts.size();
  };

  auto source = Make<CPatternSource>(PatternOptions{.frames = 5});
  auto renderer = Make<CRecordingRenderer>();
  Build(source.Get(), renderer.Get());
  ASSERT_EQ(filter_->SetSyncSource(nullptr), S_OK);
  ASSERT_EQ(events_->SetNotifyWindow(42, 0x8001, 7), S_OK);
  ASSERT_EQ(control_->Run(), S_OK);
  ASSERT_TRUE(AwaitEvent(EC_COMPLETE));
  EXPECT_EQ(renderer->Rendered(), Range(0, 4));
  ASSERT_GE(postCount(), 1u);
  {
    std::lock_guard lock(mutex);
    EXPECT_EQ(posts.back().window, 42);
    EXPECT_EQ(posts.back().msg, 0x8001);
    EXPECT_EQ(posts.back().l, 7);
  }

  // Switched off: events from streaming threads are still queued but nothing is posted.
  ASSERT_EQ(events_->SetNotifyWindow(0, 0x8001, 0), S_OK);
  const size_t before = postCount();
  ComPtr<IMediaEventSink> sink;
  ASSERT_EQ(graph_.As(IID_IMediaEventSink, &sink), S_OK);
  std::thread streaming([&] {
    for (int i = 0; i < 50; ++i) sink->Notify(EC_USER + 1, i, 0);
  });
  streaming.join();
  EXPECT_EQ(postCount(), before);
  LONG_PTR p1 = -1;
  EXPECT_EQ(NextEvent(&p1), EC_USER + 1);
  EXPECT_EQ(p1, 0);

  // With notification flags off the graph keeps nothing.
  ASSERT_EQ(events_->SetNotifyFlags(AM_MEDIAEVENT_NONOTIFY), S_OK);
  sink->Notify(EC_USER + 2, 0, 0);
  LONG code;
  LONG_PTR a, b;
  EXPECT_EQ(events_->GetEvent(&code, &a, &b, 0), E_ABORT);
}

TEST_F(GraphRun, EventHandleIsSignalledExactlyWhileEventsAreQueued) {
  OAEVENT handle = -1;
  EXPECT_EQ(events_->GetEventHandle(nullptr), E_POINTER);
  ASSERT_EQ(events_->GetEventHandle(&handle), S_OK);
  OAEVENT again = -1;
  ASSERT_EQ(events_->GetEventHandle(&again), S_OK);
  EXPECT_EQ(again, handle);
  EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(-1, 0), WAIT_FAILED);

  // A program thread waiting on the handle wakes when the graph completes on its streaming thread.
  auto source = Make<CPatternSource>(PatternOptions{.frames = 5});
  auto renderer = Make<CRecordingRenderer>();
  Build(source.Get(), renderer.Get());
  ASSERT_EQ(filter_->SetSyncSource(nullptr), S_OK);
  ASSERT_EQ(control_->Run(), S_OK);
  ASSERT_EQ(WaitForSingleObject(handle, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_OBJECT_0);  // waiting does not reset it
  ASSERT_TRUE(AwaitEvent(EC_COMPLETE));
  EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_TIMEOUT);
  ASSERT_EQ(control_->Stop(), S_OK);

  // Reset only once the last queued event has been taken.
  ComPtr<IMediaEventSink> sink;
  ASSERT_EQ(graph_.As(IID_IMediaEventSink, &sink), S_OK);
  sink->Notify(EC_USER + 1, 0, 0);
  sink->Notify(EC_USER + 2, 0, 0);
  EXPECT_EQ(NextEvent(), EC_USER + 1);
  EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_OBJECT_0);
  EXPECT_EQ(NextEvent(), EC_USER + 2);
  EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_TIMEOUT);

  // Switching notification off drops the queue, and the handle with it.
  sink->Notify(EC_USER + 3, 0, 0);
  ASSERT_EQ(WaitForSingleObject(handle, 0), WAIT_OBJECT_0);
  ASSERT_EQ(events_->SetNotifyFlags(AM_MEDIAEVENT_NONOTIFY), S_OK);
  EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_TIMEOUT);
}

TEST_F(GraphRun, MediaPositionCountsSecondsWhateverTheSeekingTimeFormat) {
  ComPtr<IMediaPosition> position;
  ASSERT_EQ(graph_.As(IID_IMediaPosition, &position), S_OK);
  // Nothing in the graph seeks yet: failures, and a plain "cannot seek".
  REFTIME seconds = -1;
  EXPECT_TRUE(FAILED(position->get_Duration(&seconds)));
  EXPECT_TRUE(FAILED(position->put_CurrentPosition(1.0)));
  LONG can = OATRUE;
  ASSERT_EQ(position->CanSeekForward(&can), S_OK);
  EXPECT_EQ(can, OAFALSE);

  auto source = Make<CPatternSource>(PatternOptions{});
  auto renderer = Make<CRecordingRenderer>();
  Build(source.Get(), renderer.Get());
  ASSERT_EQ(filter_->SetSyncSource(nullptr), S_OK);
  ComPtr<IMediaSeeking> seeking;
  ASSERT_EQ(graph_.As(IID_IMediaSeeking, &seeking), S_OK);
  ASSERT_EQ(seeking->SetTimeFormat(&TIME_FORMAT_FRAME), S_OK);

  ASSERT_EQ(position->get_Duration(&seconds), S_OK);
  EXPECT_DOUBLE_EQ(seconds, 4.0);  // 100 frames of 40 ms
  for (auto canSeek : {&IMediaPosition::CanSeekForward, &IMediaPosition::CanSeekBackward}) {
    can = OAFALSE;
    ASSERT_EQ((position.Get()->*canSeek)(&can), S_OK);
    EXPECT_EQ(can, OATRUE);
  }

  control_->Pause();
  ASSERT_TRUE(WaitFor([&] { return renderer->Shown() == std::vector<int>{0}; }));
  ASSERT_EQ(position->put_CurrentPosition(0.8), S_OK);
  ASSERT_TRUE(WaitFor([&] { return !renderer->Shown().empty() && renderer->Shown().back() == 20; }));
  ASSERT_EQ(position->get_CurrentPosition(&seconds), S_OK);
  EXPECT_DOUBLE_EQ(seconds, 0.8);
  LONGLONG frames = 0;
  ASSERT_EQ(seeking->GetCurrentPosition(&frames), S_OK);
  EXPECT_EQ(frames, 20);

  ASSERT_EQ(position->put_StopTime(1.2), S_OK);
  ASSERT_EQ(position->get_StopTime(&seconds), S_OK);
  EXPECT_DOUBLE_EQ(seconds, 1.2);
  ASSERT_EQ(seeking->GetStopPosition(&frames), S_OK);
  EXPECT_EQ(frames, 30);

  ASSERT_EQ(position->put_Rate(2.0), S_OK);
  double rate = 0;
  ASSERT_EQ(position->get_Rate(&rate), S_OK);
  EXPECT_DOUBLE_EQ(rate, 2.0);
  ASSERT_EQ(position->put_Rate(1.0), S_OK);
  ASSERT_EQ(position->get_PrerollTime(&seconds), S_OK);
  EXPECT_DOUBLE_EQ(seconds, 0.0);

  ASSERT_EQ(control_->Run(), S_OK);
  ASSERT_TRUE(AwaitEvent(EC_COMPLETE));
  EXPECT_EQ(renderer->Rendered(), Range(20, 29));

  // What cannot be done is refused, never taken silently.
  EXPECT_EQ(position->put_PrerollTime(0.5), E_NOTIMPL);
  EXPECT_EQ(position->put_Rate(0.0), E_INVALIDARG);
  EXPECT_EQ(position->put_CurrentPosition(std::nan("")), E_INVALIDARG);
  EXPECT_EQ(position->put_StopTime(1e300), E_INVALIDARG);
  EXPECT_EQ(position->get_Duration(nullptr), E_POINTER);
  EXPECT_EQ(position->CanSeekBackward(nullptr), E_POINTER);
}

TEST_F(GraphRun, OneCompletionForTheProgramOnceEveryRendererFinished) {
  auto source1 = Make<CPatternSource>(PatternOptions{.frames = 3});
  auto source2 = Make<CPatternSource>(PatternOptions{.frames = 30});
  auto renderer1 = Make<CRecordingRenderer>();
  auto renderer2 = Make<CRecordingRenderer>();
  Build(source1.Get(), renderer1.Get());
  ASSERT_EQ(graph_->AddFilter(source2.Get(), u"Source"), VFW_S_DUPLICATE_NAME);
  ASSERT_EQ(graph_->AddFilter(renderer2.Get(), u"Renderer"), VFW_S_DUPLICATE_NAME);
  ASSERT_EQ(graph_->Connect(source2->Output(), renderer2->Input()), S_OK);
  ASSERT_EQ(filter_->SetSyncSource(nullptr), S_OK);
  ASSERT_EQ(control_->Run(), S_OK);
  ASSERT_TRUE(AwaitEvent(EC_COMPLETE));
  EXPECT_EQ(renderer2->Rendered().size(), 30u);
  LONG code;
  LONG_PTR a, b;
  EXPECT_EQ(events_->GetEvent(&code, &a, &b, 0), E_ABORT);
}

TEST_F(GraphRun, AStepOnAPausedGraphShowsTheNextFrameAndPostsStepComplete) {
  auto source = Make<CPatternSource>(PatternOptions{});
  auto renderer = Make<CRecordingRenderer>();
  Build(source.Get(), renderer.Get());
  ComPtr<IVideoFrameStep> step;
  ASSERT_EQ(graph_.As(IID_IVideoFrameStep, &step), S_OK);
  EXPECT_EQ(step->CanStep(0, nullptr), S_OK);

  control_->Pause();
  FILTER_STATE state;
  ASSERT_EQ(control_->GetState(5000, &state), S_OK);
  for (int n = 1; n <= 3; ++n) {
    ASSERT_EQ(step->Step(1, nullptr), S_OK);
    ASSERT_TRUE(AwaitEvent(EC_STEP_COMPLETE));
    EXPECT_EQ(renderer->Shown(), Range(0, n));
  }
  ASSERT_EQ(step->Step(5, nullptr), S_OK);
  ASSERT_TRUE(AwaitEvent(EC_STEP_COMPLETE));
  EXPECT_EQ(renderer->Shown().back(), 8);
  ASSERT_EQ(control_->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Paused);
  EXPECT_TRUE(renderer->Rendered().empty());
}

TEST_F(GraphRun, ASeekWhilePausedShowsTheNewFrameInFrameUnits) {
  auto source = Make<CPatternSource>(PatternOptions{});
  auto renderer = Make<CRecordingRenderer>();
  Build(source.Get(), renderer.Get());
  ASSERT_EQ(filter_->SetSyncSource(nullptr), S_OK);
  ComPtr<IMediaSeeking> seeking;
  ASSERT_EQ(graph_.As(IID_IMediaSeeking, &seeking), S_OK);

  LONGLONG duration = 0;
  ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, 100 * kFrameDuration);
  ASSERT_EQ(seeking->IsFormatSupported(&TIME_FORMAT_FRAME), S_OK);
  ASSERT_EQ(seeking->SetTimeFormat(&TIME_FORMAT_FRAME), S_OK);
  ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, 100);

  control_->Pause();
  ASSERT_TRUE(WaitFor([&] { return renderer->Shown() == std::vector<int>{0}; }));
  LONGLONG target = 20;
  ASSERT_EQ(seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
  ASSERT_TRUE(WaitFor([&] { return !renderer->Shown().empty() && renderer->Shown().back() == 20; }));
  LONGLONG current = 0;
  ASSERT_EQ(seeking->GetCurrentPosition(&current), S_OK);
  EXPECT_EQ(current, 20);

  ASSERT_EQ(control_->Run(), S_OK);
  ASSERT_TRUE(AwaitEvent(EC_COMPLETE));
  EXPECT_EQ(renderer->Rendered(), Range(20, 99));
}

TEST_F(GraphRun, UsesARenderersClockByDefaultAnyClockGivenOrNone) {
  auto source = Make<CPatternSource>(PatternOptions{});
  auto renderer = Make<CRecordingRenderer>(/*offersClock=*/true);
  Build(source.Get(), renderer.Get());
  ASSERT_EQ(graph_->SetDefaultSyncSource(), S_OK);
  ComPtr<IReferenceClock> clock, offered;
  ASSERT_EQ(filter_->GetSyncSource(clock.Put()), S_OK);
  ASSERT_EQ(renderer->QueryInterface(IID_IReferenceClock, offered.PutVoid()), S_OK);
  EXPECT_TRUE(IsSameObject(clock.Get(), offered.Get()));

  ComPtr<IReferenceClock> system;
  ASSERT_EQ(CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_IReferenceClock, system.PutVoid()), S_OK);
  ASSERT_EQ(filter_->SetSyncSource(system.Get()), S_OK);
  ASSERT_EQ(filter_->GetSyncSource(clock.Put()), S_OK);
  EXPECT_EQ(clock.Get(), system.Get());
  ComPtr<IReferenceClock> rendererClock;
  ASSERT_EQ(renderer->GetSyncSource(rendererClock.Put()), S_OK);
  EXPECT_EQ(rendererClock.Get(), system.Get());

  ASSERT_EQ(filter_->SetSyncSource(nullptr), S_OK);
  ASSERT_EQ(control_->Run(), S_OK);
  EXPECT_EQ(filter_->SetSyncSource(system.Get()), VFW_E_NOT_STOPPED);
  // Without a clock every frame goes through at once.
  ASSERT_TRUE(AwaitEvent(EC_COMPLETE));
  EXPECT_EQ(renderer->Rendered(), Range(0, 99));
}

TEST_F(GraphRun, StreamControlPassesOnlyTheFramesBetweenStartAndStop) {
  auto source = Make<CPatternSource>(PatternOptions{.frames = 40});
  auto renderer = Make<CRecordingRenderer>();
  Build(source.Get(), renderer.Get());
  ASSERT_EQ(filter_->SetSyncSource(nullptr), S_OK);
  ComPtr<IAMStreamControl> control;
  ASSERT_EQ(source->Output()->QueryInterface(IID_IAMStreamControl, control.PutVoid()), S_OK);
  const REFERENCE_TIME start = 10 * kFrameDuration, stop = 20 * kFrameDuration;
  ASSERT_EQ(control->StartAt(&start, 11), S_OK);
  ASSERT_EQ(control->StopAt(&stop, 0, 12), S_OK);
  AM_STREAM_INFO info{};
  ASSERT_EQ(control->GetInfo(&info), S_OK);
  EXPECT_EQ(info.dwFlags, AM_STREAM_INFO_START_DEFINED | AM_STREAM_INFO_STOP_DEFINED);
  EXPECT_EQ(info.tStart, start);

  ASSERT_EQ(control_->Run(), S_OK);
  LONG_PTR cookie = 0;
  ASSERT_TRUE(AwaitEvent(EC_STREAM_CONTROL_STARTED, &cookie));
  EXPECT_EQ(cookie, 11);
  ASSERT_TRUE(AwaitEvent(EC_STREAM_CONTROL_STOPPED, &cookie));
  EXPECT_EQ(cookie, 12);
  ASSERT_TRUE(AwaitEvent(EC_COMPLETE));
  EXPECT_EQ(renderer->Rendered(), Range(10, 19));
}

}  // namespace
}  // namespace kestrom::dshow
