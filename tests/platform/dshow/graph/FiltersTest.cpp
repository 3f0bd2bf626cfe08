#include "platform/dshow/base/FilterMapper.h"
#include "platform/dshow/graph/Tees.h"
#include "tests/platform/dshow/graph/GraphTestSupport.h"
#include "tests/platform/dshow/support/TestFilters.h"

#include <mutex>

namespace kestrom::dshow::test {
namespace {

using namespace com;

class GraphFilters : public GraphFixture {};

TEST_F(GraphFilters, AreMadeByClassIdAndListedWithTheMapperUnderTheirNames) {
  ASSERT_EQ(graph::RegisterGraphFilters(), S_OK);
  std::vector<std::pair<QString, DWORD>> listed;
  for (const RegisteredFilter& f : ReadRegisteredFilters()) listed.emplace_back(f.name, f.merit);
  for (const char* name : {"Smart Tee", "Infinite Pin Tee Filter", "Null Renderer", "SampleGrabber"})
    EXPECT_NE(std::find(listed.begin(), listed.end(), std::make_pair(QString(name), MERIT_DO_NOT_USE)), listed.end()) << name;

  // Two Null Renderers share a graph under distinct names.
  auto first = Create(CLSID_NullRenderer);
  auto second = Create(CLSID_NullRenderer);
  ASSERT_EQ(graph_->AddFilter(first.Get(), u"Null Renderer"), S_OK);
  EXPECT_EQ(graph_->AddFilter(second.Get(), u"Null Renderer"), VFW_S_DUPLICATE_NAME);
  EXPECT_EQ(FilterNames(graph_.Get()), (std::vector<std::u16string>{u"Null Renderer", u"Null Renderer 0001"}));
  ComPtr<IBaseFilter> found;
  ASSERT_EQ(graph_->FindFilterByName(u"Null Renderer 0001", found.Put()), S_OK);
  EXPECT_TRUE(IsSameObject(found.Get(), second.Get()));

  // Filters answer only the interfaces they have.
  ComPtr<IUnknown> none;
  EXPECT_EQ(first->QueryInterface(IID_ISampleGrabber, none.PutVoid()), E_NOINTERFACE);
  EXPECT_EQ(first->QueryInterface(IID_IVideoFrameStep, none.PutVoid()), E_NOINTERFACE);
  auto tee = Create(CLSID_SmartTee);
  EXPECT_EQ(tee->QueryInterface(IID_IMediaSeeking, none.PutVoid()), E_NOINTERFACE);
}

// What the grabber's callback saw, on the streaming thread.
class RecordingCallback final : public ISampleGrabberCB {
 public:
  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (iid == IID_IUnknown || iid == IID_ISampleGrabberCB) {
      *object = this;
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT SampleCB(double time, IMediaSample* sample) override {
    std::lock_guard lock(mutex);
    frames.push_back(FrameNumberOf(sample));
    times.push_back(time);
    return S_OK;
  }
  HRESULT BufferCB(double time, BYTE* buffer, LONG length) override {
    std::lock_guard lock(mutex);
    int32_t n = -1;
    if (length >= 4) std::memcpy(&n, buffer, 4);
    buffer[0] ^= 0xFF;  // its own copy: changing it must not reach the stream
    frames.push_back(n);
    times.push_back(time);
    return S_OK;
  }
  std::vector<int> Frames() {
    std::lock_guard lock(mutex);
    return frames;
  }
  std::mutex mutex;
  std::vector<int> frames;
  std::vector<double> times;
};

TEST_F(GraphFilters, SampleGrabberSeesEveryFrameOnceInOrder) {
  for (LONG kind : {SAMPLEGRABBER_CB_SAMPLE, SAMPLEGRABBER_CB_BUFFER}) {
    SCOPED_TRACE(kind);
    SetUp();
    auto source = Make<CPatternSource>(PatternOptions{.frames = 60});
    auto renderer = Make<CRecordingRenderer>();
    auto grabberFilter = Create(CLSID_SampleGrabber);
    ComPtr<ISampleGrabber> grabber;
    ASSERT_EQ(grabberFilter.As(IID_ISampleGrabber, &grabber), S_OK);
    RecordingCallback callback;
    ASSERT_EQ(grabber->SetCallback(&callback, kind), S_OK);
    ASSERT_EQ(grabber->SetBufferSamples(1), S_OK);
    CMediaType wanted;
    wanted.majortype = MEDIATYPE_Video;
    wanted.subtype = MEDIASUBTYPE_RGB24;  // format type left open
    ASSERT_EQ(grabber->SetMediaType(&wanted), S_OK);

    ASSERT_EQ(graph_->AddFilter(source.Get(), u"Source"), S_OK);
    ASSERT_EQ(graph_->AddFilter(grabberFilter.Get(), u"Sample Grabber"), S_OK);
    ASSERT_EQ(graph_->AddFilter(renderer.Get(), u"Renderer"), S_OK);
    ASSERT_EQ(graph_->Connect(source->Output(), Pin(grabberFilter.Get(), u"Input").Get()), S_OK);
    ASSERT_EQ(graph_->Connect(Pin(grabberFilter.Get(), u"Output").Get(), renderer->Input()), S_OK);
    AM_MEDIA_TYPE connected{};
    ASSERT_EQ(grabber->GetConnectedMediaType(&connected), S_OK);
    EXPECT_EQ(connected.formattype, FORMAT_VideoInfo);
    FreeMediaType(connected);

    LONG size = 0;
    EXPECT_EQ(grabber->GetCurrentBuffer(&size, nullptr), VFW_E_WRONG_STATE);
    ASSERT_EQ(control_->Run(), S_OK);
    ASSERT_TRUE(AwaitEvent(EC_COMPLETE));
    EXPECT_EQ(callback.Frames(), Range(0, 59));
    EXPECT_EQ(renderer->Rendered(), Range(0, 59));  // passed on unchanged
    EXPECT_DOUBLE_EQ(callback.times[1], 0.04);

    ASSERT_EQ(grabber->GetCurrentBuffer(&size, nullptr), S_OK);
    std::vector<LONG> copy(static_cast<size_t>(size + 3) / 4);
    LONG small = 4;
    EXPECT_EQ(grabber->GetCurrentBuffer(&small, copy.data()), E_OUTOFMEMORY);
    ASSERT_EQ(grabber->GetCurrentBuffer(&size, copy.data()), S_OK);
    EXPECT_EQ(copy[0], 59);
    control_->Stop();
    grabber->SetCallback(nullptr, kind);
    TearDown();
  }
}

TEST_F(GraphFilters, CurrentSampleIsAnOwnCopyOfTheLastBufferedSample) {
  auto source = Make<CPatternSource>(PatternOptions{.frames = 30});
  auto renderer = Make<CRecordingRenderer>();
  auto grabberFilter = Create(CLSID_SampleGrabber);
  ComPtr<ISampleGrabber> grabber;
  ASSERT_EQ(grabberFilter.As(IID_ISampleGrabber, &grabber), S_OK);
  ASSERT_EQ(graph_->AddFilter(source.Get(), u"Source"), S_OK);
  ASSERT_EQ(graph_->AddFilter(grabberFilter.Get(), u"Sample Grabber"), S_OK);
  ASSERT_EQ(graph_->AddFilter(renderer.Get(), u"Renderer"), S_OK);
  ASSERT_EQ(graph_->Connect(source->Output(), Pin(grabberFilter.Get(), u"Input").Get()), S_OK);
  ASSERT_EQ(graph_->Connect(Pin(grabberFilter.Get(), u"Output").Get(), renderer->Input()), S_OK);

  ComPtr<IMediaSample> sample;
  EXPECT_EQ(grabber->GetCurrentSample(nullptr), E_POINTER);
  EXPECT_EQ(grabber->GetCurrentSample(sample.Put()), VFW_E_WRONG_STATE);  // not buffering
  ASSERT_EQ(grabber->SetBufferSamples(1), S_OK);
  EXPECT_EQ(grabber->GetCurrentSample(sample.Put()), VFW_E_WRONG_STATE);  // nothing yet
  EXPECT_FALSE(sample);

  ASSERT_EQ(control_->Run(), S_OK);
  ASSERT_TRUE(AwaitEvent(EC_COMPLETE));
  ASSERT_EQ(grabber->GetCurrentSample(sample.Put()), S_OK);
  ASSERT_TRUE(sample);
  EXPECT_EQ(FrameNumberOf(sample.Get()), 29);
  REFERENCE_TIME start = 0, stop = 0;
  ASSERT_EQ(sample->GetTime(&start, &stop), S_OK);
  EXPECT_EQ(start, 29 * kFrameDuration);
  EXPECT_EQ(stop, 30 * kFrameDuration);
  EXPECT_EQ(sample->IsSyncPoint(), S_OK);
  LONG size = 0;
  ASSERT_EQ(grabber->GetCurrentBuffer(&size, nullptr), S_OK);
  EXPECT_EQ(sample->GetActualDataLength(), size);

  // The copy is the program's: it outlives the graph and what streams after it.
  ComPtr<IMediaSeeking> seeking;
  ASSERT_EQ(graph_.As(IID_IMediaSeeking, &seeking), S_OK);
  ASSERT_EQ(control_->Stop(), S_OK);
  LONGLONG zero = 0, five = 5 * kFrameDuration;
  ASSERT_EQ(seeking->SetPositions(&zero, AM_SEEKING_AbsolutePositioning, &five, AM_SEEKING_AbsolutePositioning), S_OK);
  ASSERT_EQ(control_->Run(), S_OK);
  ASSERT_TRUE(AwaitEvent(EC_COMPLETE));
  ASSERT_EQ(control_->Stop(), S_OK);
  ComPtr<IMediaSample> later;
  ASSERT_EQ(grabber->GetCurrentSample(later.Put()), S_OK);
  EXPECT_EQ(FrameNumberOf(later.Get()), 4);
  EXPECT_EQ(FrameNumberOf(sample.Get()), 29);

  // Buffering switched off: nothing is handed out, even though a sample was kept.
  ASSERT_EQ(grabber->SetBufferSamples(0), S_OK);
  EXPECT_EQ(grabber->GetCurrentSample(later.Put()), VFW_E_WRONG_STATE);
  EXPECT_EQ(grabber->GetCurrentBuffer(&size, nullptr), E_INVALIDARG);
  graph_->RemoveFilter(grabberFilter.Get());
  grabberFilter.Reset();
  grabber.Reset();
  EXPECT_EQ(FrameNumberOf(sample.Get()), 29);
}

TEST_F(GraphFilters, OneShotGrabberTakesOneFrameAndEndsTheStream) {
  auto source = Make<CPatternSource>(PatternOptions{.frames = 60});
  auto renderer = Make<CRecordingRenderer>();
  auto grabberFilter = Create(CLSID_SampleGrabber);
  ComPtr<ISampleGrabber> grabber;
  ASSERT_EQ(grabberFilter.As(IID_ISampleGrabber, &grabber), S_OK);
  RecordingCallback callback;
  grabber->SetCallback(&callback, SAMPLEGRABBER_CB_SAMPLE);
  grabber->SetOneShot(1);
  ASSERT_EQ(graph_->AddFilter(source.Get(), u"Source"), S_OK);
  ASSERT_EQ(graph_->AddFilter(grabberFilter.Get(), u"Sample Grabber"), S_OK);
  ASSERT_EQ(graph_->AddFilter(renderer.Get(), u"Renderer"), S_OK);
  ASSERT_EQ(graph_->Connect(source->Output(), Pin(grabberFilter.Get(), u"Input").Get()), S_OK);
  ASSERT_EQ(graph_->Connect(Pin(grabberFilter.Get(), u"Output").Get(), renderer->Input()), S_OK);
  ASSERT_EQ(control_->Run(), S_OK);
  ASSERT_TRUE(AwaitEvent(EC_COMPLETE));
  EXPECT_EQ(callback.Frames(), std::vector<int>{0});
  EXPECT_EQ(renderer->Rendered(), std::vector<int>{0});
  control_->Stop();
  grabber->SetCallback(nullptr, SAMPLEGRABBER_CB_SAMPLE);
}

TEST_F(GraphFilters, SampleGrabberRefusesTypesOutsideThePartialTypeSet) {
  auto source = Make<CPatternSource>(PatternOptions{});
  auto grabberFilter = Create(CLSID_SampleGrabber);
  ComPtr<ISampleGrabber> grabber;
  ASSERT_EQ(grabberFilter.As(IID_ISampleGrabber, &grabber), S_OK);
  CMediaType wanted;
  wanted.majortype = MEDIATYPE_Video;
  wanted.subtype = MEDIASUBTYPE_RGB32;
  ASSERT_EQ(grabber->SetMediaType(&wanted), S_OK);
  ASSERT_EQ(graph_->AddFilter(source.Get(), u"Source"), S_OK);
  ASSERT_EQ(graph_->AddFilter(grabberFilter.Get(), u"Sample Grabber"), S_OK);
  EXPECT_TRUE(FAILED(graph_->ConnectDirect(source->Output(), Pin(grabberFilter.Get(), u"Input").Get(), nullptr)));
  AM_MEDIA_TYPE connected{};
  EXPECT_EQ(grabber->GetConnectedMediaType(&connected), VFW_E_NOT_CONNECTED);
  wanted.subtype = GUID_NULL;
  ASSERT_EQ(grabber->SetMediaType(&wanted), S_OK);
  EXPECT_EQ(graph_->ConnectDirect(source->Output(), Pin(grabberFilter.Get(), u"Input").Get(), nullptr), S_OK);
}

TEST_F(GraphFilters, SmartTeePreviewDropsFramesRatherThanHoldUpTheCapture) {
  auto source = Make<CPatternSource>(PatternOptions{.frames = 50});
  auto capture = Make<CRecordingRenderer>();
  auto preview = Make<CGateRenderer>();
  auto tee = Create(CLSID_SmartTee);
  ASSERT_EQ(graph_->AddFilter(source.Get(), u"Source"), S_OK);
  ASSERT_EQ(graph_->AddFilter(tee.Get(), u"Smart Tee"), S_OK);
  ASSERT_EQ(graph_->AddFilter(capture.Get(), u"Capture"), S_OK);
  ASSERT_EQ(graph_->AddFilter(preview.Get(), u"Preview"), S_OK);
  ASSERT_EQ(graph_->Connect(source->Output(), Pin(tee.Get(), u"Input").Get()), S_OK);
  auto capturePin = Pin(tee.Get(), u"Capture");
  auto previewPin = Pin(tee.Get(), u"Preview");
  EXPECT_EQ(PinCategoryOf(capturePin.Get()), PIN_CATEGORY_CAPTURE);
  EXPECT_EQ(PinCategoryOf(previewPin.Get()), PIN_CATEGORY_PREVIEW);
  ASSERT_EQ(graph_->Connect(capturePin.Get(), capture->Input()), S_OK);
  ASSERT_EQ(graph_->Connect(previewPin.Get(), preview->Input()), S_OK);

  ASSERT_EQ(control_->Run(), S_OK);
  // The preview renderer is stuck in its first frame; the capture stream still gets every frame.
  ASSERT_TRUE(WaitFor([&] { return capture->Rendered().size() == 50 && preview->Entered() == 1; }));
  EXPECT_EQ(capture->Rendered(), Range(0, 49));
  EXPECT_EQ(preview->Entered(), 1);
  EXPECT_EQ(preview->Untimed(), 1);  // preview copies carry no times
  IBaseFilter* raw = tee.Get();
  EXPECT_GT(dynamic_cast<graph::CSmartTee*>(raw)->DroppedPreviewFrames(), 40);
  preview->Open();
  ASSERT_EQ(control_->Stop(), S_OK);
}

TEST_F(GraphFilters, ASeekFlushesTheSmartTeeWhileItsPreviewIsStillDelivering) {
  auto source = Make<CPatternSource>(PatternOptions{.frames = 50});
  auto capture = Make<CRecordingRenderer>();
  auto preview = Make<CGateRenderer>();
  auto tee = Create(CLSID_SmartTee);
  ASSERT_EQ(graph_->AddFilter(source.Get(), u"Source"), S_OK);
  ASSERT_EQ(graph_->AddFilter(tee.Get(), u"Smart Tee"), S_OK);
  ASSERT_EQ(graph_->AddFilter(capture.Get(), u"Capture"), S_OK);
  ASSERT_EQ(graph_->AddFilter(preview.Get(), u"Preview"), S_OK);
  ASSERT_EQ(graph_->Connect(source->Output(), Pin(tee.Get(), u"Input").Get()), S_OK);
  ASSERT_EQ(graph_->Connect(Pin(tee.Get(), u"Capture").Get(), capture->Input()), S_OK);
  ASSERT_EQ(graph_->Connect(Pin(tee.Get(), u"Preview").Get(), preview->Input()), S_OK);
  ASSERT_EQ(control_->Run(), S_OK);
  ASSERT_TRUE(WaitFor([&] { return capture->Rendered().size() == 50 && preview->Entered() == 1; }));

  // The preview thread is inside the renderer with its copy when the seek flushes the tee.
  ComPtr<IMediaSeeking> seeking;
  ASSERT_EQ(graph_.As(IID_IMediaSeeking, &seeking), S_OK);
  LONGLONG start = 40 * kFrameDuration;
  ASSERT_EQ(seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
  ASSERT_TRUE(WaitFor([&] { return capture->Rendered().size() == 60; }));
  EXPECT_EQ(capture->Rendered().back(), 49);
  preview->Open();
  ASSERT_EQ(control_->Stop(), S_OK);
  EXPECT_EQ(preview->ChangedWhileRendered(), 0);
  // The buffers all came back: the graph runs again from the start.
  LONGLONG zero = 0;
  ASSERT_EQ(seeking->SetPositions(&zero, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
  ASSERT_EQ(control_->Run(), S_OK);
  ASSERT_TRUE(WaitFor([&] { return capture->Rendered().size() == 110; }));
}

TEST_F(GraphFilters, InfinitePinTeeFeedsEveryBranchAndKeepsAFreeOutput) {
  auto source = Make<CPatternSource>(PatternOptions{.frames = 20});
  auto a = Make<CRecordingRenderer>();
  auto b = Make<CRecordingRenderer>();
  auto tee = Create(CLSID_InfTee);
  ASSERT_EQ(graph_->AddFilter(source.Get(), u"Source"), S_OK);
  ASSERT_EQ(graph_->AddFilter(tee.Get(), u"Inf Tee"), S_OK);
  ASSERT_EQ(graph_->AddFilter(a.Get(), u"A"), S_OK);
  ASSERT_EQ(graph_->AddFilter(b.Get(), u"B"), S_OK);
  ASSERT_EQ(graph_->Connect(source->Output(), Pin(tee.Get(), u"Input").Get()), S_OK);
  ASSERT_EQ(graph_->Connect(Pin(tee.Get(), u"Output1").Get(), a->Input()), S_OK);
  ASSERT_EQ(graph_->Connect(Pin(tee.Get(), u"Output2").Get(), b->Input()), S_OK);
  ComPtr<IPin> free;
  EXPECT_EQ(tee->FindPin(u"Output3", free.Put()), S_OK);
  ASSERT_EQ(control_->Run(), S_OK);
  ASSERT_TRUE(AwaitEvent(EC_COMPLETE));
  EXPECT_EQ(a->Rendered(), Range(0, 19));
  EXPECT_EQ(b->Rendered(), Range(0, 19));
  // One completion for the two renderers.
  LONG code;
  LONG_PTR p1, p2;
  EXPECT_EQ(events_->GetEvent(&code, &p1, &p2, 0), E_ABORT);
}

TEST_F(GraphFilters, SeekingAndSteppingReachTheSourceThroughTeesAndTheNullRenderer) {
  auto source = Make<CPatternSource>(PatternOptions{});
  auto tee = Create(CLSID_InfTee);
  auto sink = Create(CLSID_NullRenderer);
  ASSERT_EQ(graph_->AddFilter(source.Get(), u"Source"), S_OK);
  ASSERT_EQ(graph_->AddFilter(tee.Get(), u"Inf Tee"), S_OK);
  ASSERT_EQ(graph_->AddFilter(sink.Get(), u"Null Renderer"), S_OK);
  ASSERT_EQ(graph_->Connect(source->Output(), Pin(tee.Get(), u"Input").Get()), S_OK);
  ASSERT_EQ(graph_->Connect(Pin(tee.Get(), u"Output1").Get(), Pin(sink.Get(), u"In").Get()), S_OK);
  ComPtr<IMediaSeeking> seeking;
  ASSERT_EQ(graph_.As(IID_IMediaSeeking, &seeking), S_OK);
  LONGLONG duration = 0;
  ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, 100 * kFrameDuration);
  // The Null Renderer shows nothing, so the graph has nothing to step with.
  ComPtr<IVideoFrameStep> step;
  ASSERT_EQ(graph_.As(IID_IVideoFrameStep, &step), S_OK);
  EXPECT_EQ(step->CanStep(0, nullptr), S_FALSE);
  EXPECT_EQ(step->Step(1, nullptr), VFW_E_FRAME_STEP_UNSUPPORTED);
}

}  // namespace
}  // namespace kestrom::dshow::test
