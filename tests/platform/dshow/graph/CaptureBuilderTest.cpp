#include "deinterlacer/DeinterlaceSettings.h"
#include "platform/dshow/graph/CaptureGraphBuilder.h"
#include "tests/platform/dshow/graph/GraphTestSupport.h"
#include "tests/platform/dshow/support/TestFilters.h"

#include <QFile>
#include <sys/stat.h>

namespace kestrom::dshow::test {
namespace {

using namespace com;

// Stand-ins for the writers, registered under their class ids: a mux with one input and one
// output, and a file writer that keeps the name it is given.
class CFakeMux final : public CBaseFilter {
 public:
  explicit CFakeMux(IUnknown* outer) : CBaseFilter("fake mux", outer, &lock_, CLSID_AviDest), in_(this), out_(this) {}
  static CUnknown* CreateInstance(IUnknown* outer, HRESULT*) { return new CFakeMux(outer); }
  int GetPinCount() override { return 2; }
  CBasePin* GetPin(int n) override { return n == 0 ? static_cast<CBasePin*>(&in_) : n == 1 ? &out_ : nullptr; }

 private:
  struct In final : CBaseInputPin {
    explicit In(CFakeMux* f) : CBaseInputPin("mux in", f, &f->lock_, nullptr, u"Input 01") {}
    HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
  };
  struct Out final : CBaseOutputPin {
    explicit Out(CFakeMux* f) : CBaseOutputPin("mux out", f, &f->lock_, nullptr, u"AVI Out") {}
    HRESULT CheckMediaType(const CMediaType* t) override { return t->majortype == MEDIATYPE_Stream ? S_OK : S_FALSE; }
    HRESULT GetMediaType(int position, CMediaType* type) override {
      if (position != 0) return VFW_S_NO_MORE_ITEMS;
      *type = CMediaType();
      type->majortype = MEDIATYPE_Stream;
      type->subtype = MEDIASUBTYPE_Avi;
      return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* a, ALLOCATOR_PROPERTIES* r) override {
      r->cBuffers = 1;
      r->cbBuffer = 16;
      ALLOCATOR_PROPERTIES actual{};
      return a->SetProperties(r, &actual);
    }
  };
  std::recursive_mutex lock_;
  In in_;
  Out out_;
};

class CFakeFileWriter final : public CBaseRenderer, public IFileSinkFilter {
 public:
  explicit CFakeFileWriter(IUnknown* outer) : CBaseRenderer("fake file writer", outer, CLSID_FileWriter) {}
  static CUnknown* CreateInstance(IUnknown* outer, HRESULT*) { return new CFakeFileWriter(outer); }
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (iid == IID_IFileSinkFilter) return GetInterface(static_cast<IFileSinkFilter*>(this), object);
    return CBaseRenderer::NonDelegatingQueryInterface(iid, object);
  }
  HRESULT CheckMediaType(const CMediaType* t) override { return t->majortype == MEDIATYPE_Stream ? S_OK : S_FALSE; }
  HRESULT DoRenderSample(IMediaSample*) override { return S_OK; }
  HRESULT SetFileName(LPCWSTR file, const AM_MEDIA_TYPE*) override {
    file_ = file;
    return S_OK;
  }
  HRESULT GetCurFile(LPWSTR* file, AM_MEDIA_TYPE*) override {
    const size_t bytes = (file_.size() + 1) * sizeof(char16_t);
    *file = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    std::memcpy(*file, file_.c_str(), bytes);
    return S_OK;
  }

 private:
  std::u16string file_;
};

CUnknown* NewRecordingRenderer(IUnknown*, HRESULT*) { return new CRecordingRenderer(); }

bool VideoUpTo288(const CMediaType& mt) {
  const BITMAPINFOHEADER* h = GetBitmapInfoHeader(mt);
  return mt.subtype == MEDIASUBTYPE_RGB24 && h && h->biHeight <= 288;
}

class CaptureBuilder : public GraphFixture {
 protected:
  void SetUp() override {
    GraphFixture::SetUp();
    builder_ = Create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2);
    ASSERT_EQ(builder_->SetFiltergraph(graph_.Get()), S_OK);
  }
  void TearDown() override {
    builder_.Reset();
    graph::SetUpstreamFilterProvider({});
    GraphFixture::TearDown();
  }
  ComPtr<ICaptureGraphBuilder2> builder_;
};

TEST_F(CaptureBuilder, KeepsTheGraphItWasGivenOrMakesOne) {
  ComPtr<IGraphBuilder> held;
  ASSERT_EQ(builder_->GetFiltergraph(held.Put()), S_OK);
  EXPECT_EQ(held.Get(), graph_.Get());
  EXPECT_EQ(builder_->SetFiltergraph(graph_.Get()), E_UNEXPECTED);

  auto fresh = Create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2);
  ComPtr<IGraphBuilder> made;
  ASSERT_EQ(fresh->GetFiltergraph(made.Put()), S_OK);
  EXPECT_TRUE(made);
}

TEST_F(CaptureBuilder, SetOutputFileNameAddsTheMuxAndFileWriterByClassId) {
  const std::u16string file = u"/tmp/capture.avi";
  ComPtr<IBaseFilter> mux;
  ComPtr<IFileSinkFilter> sink;
  // Until the writer classes exist the call fails and adds nothing.
  EXPECT_EQ(builder_->SetOutputFileName(&MEDIASUBTYPE_Avi, file.c_str(), mux.Put(), sink.Put()), REGDB_E_CLASSNOTREG);
  EXPECT_TRUE(FilterNames(graph_.Get()).empty());

  InProcessClass muxClass(CLSID_AviDest, &CFakeMux::CreateInstance);
  InProcessClass writerClass(CLSID_FileWriter, &CFakeFileWriter::CreateInstance);
  ASSERT_EQ(builder_->SetOutputFileName(&MEDIASUBTYPE_Avi, file.c_str(), mux.Put(), sink.Put()), S_OK);
  EXPECT_EQ(FilterNames(graph_.Get()), (std::vector<std::u16string>{u"AVI Mux", u"File writer"}));
  LPWSTR current = nullptr;
  ASSERT_EQ(sink->GetCurFile(&current, nullptr), S_OK);
  EXPECT_EQ(std::u16string(current), file);
  CoTaskMemFree(current);
  ComPtr<IPin> muxOut, peer;
  ASSERT_EQ(mux->FindPin(u"AVI Out", muxOut.Put()), S_OK);
  EXPECT_EQ(muxOut->ConnectedTo(peer.Put()), S_OK);
}

TEST_F(CaptureBuilder, FindPinByDirectionCategoryTypeAndConnection) {
  auto source = Make<CPatternSource>(PatternOptions{});
  auto renderer = Make<CRecordingRenderer>();
  ASSERT_EQ(graph_->AddFilter(source.Get(), u"Source"), S_OK);
  ASSERT_EQ(graph_->AddFilter(renderer.Get(), u"Renderer"), S_OK);
  struct Case {
    PIN_DIRECTION direction;
    const GUID* category;
    const GUID* type;
    BOOL unconnected;
    int index;
    bool found;
  };
  const Case cases[] = {
      {PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, 1, 0, true},
      {PINDIR_OUTPUT, nullptr, nullptr, 1, 0, true},
      {PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, nullptr, 1, 1, false},
      {PINDIR_OUTPUT, &PIN_CATEGORY_PREVIEW, nullptr, 1, 0, false},
      {PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, 1, 0, false},
      {PINDIR_INPUT, nullptr, nullptr, 1, 0, false},
  };
  for (const Case& c : cases) {
    ComPtr<IPin> pin;
    const HRESULT hr = builder_->FindPin(static_cast<IBaseFilter*>(source.Get()), c.direction, c.category, c.type, c.unconnected, c.index, pin.Put());
    EXPECT_EQ(SUCCEEDED(hr), c.found) << &c - cases;
    if (c.found) {
      EXPECT_TRUE(IsSameObject(pin.Get(), source->Output()));
    }
  }
  ASSERT_EQ(graph_->Connect(source->Output(), renderer->Input()), S_OK);
  ComPtr<IPin> pin;
  EXPECT_EQ(builder_->FindPin(static_cast<IBaseFilter*>(source.Get()), PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, nullptr, 1, 0, pin.Put()), E_FAIL);
  EXPECT_EQ(builder_->FindPin(static_cast<IBaseFilter*>(source.Get()), PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, nullptr, 0, 0, pin.Put()), S_OK);
  // A pin given as the source is checked itself.
  EXPECT_EQ(builder_->FindPin(renderer->Input(), PINDIR_INPUT, nullptr, &MEDIATYPE_Video, 0, 0, pin.Put()), S_OK);
}

TEST_F(CaptureBuilder, FindInterfaceLooksAtTheFilterItsPinsDownstreamAndUpstreamOnlyWhenAsked) {
  auto source = Make<CPatternSource>(PatternOptions{});
  auto grabber = Create(CLSID_SampleGrabber);
  auto sink = Create(CLSID_NullRenderer);
  ASSERT_EQ(graph_->AddFilter(source.Get(), u"Source"), S_OK);
  ASSERT_EQ(graph_->AddFilter(grabber.Get(), u"Grabber"), S_OK);
  ASSERT_EQ(graph_->AddFilter(sink.Get(), u"Null Renderer"), S_OK);
  ASSERT_EQ(builder_->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, static_cast<IBaseFilter*>(source.Get()), grabber.Get(), sink.Get()), S_OK);

  struct Case {
    const GUID* category;
    IBaseFilter* filter;
    const IID* iid;
    HRESULT expected;
  };
  const Case cases[] = {
      {nullptr, source.Get(), &IID_IAMFilterMiscFlags, S_OK},                     // the filter itself
      {&PIN_CATEGORY_CAPTURE, source.Get(), &IID_IAMStreamControl, S_OK},         // its capture pin
      {&PIN_CATEGORY_CAPTURE, source.Get(), &IID_ISampleGrabber, S_OK},           // downstream
      {&PIN_CATEGORY_PREVIEW, source.Get(), &IID_ISampleGrabber, E_NOINTERFACE},  // no such path
      {nullptr, sink.Get(), &IID_IAMStreamControl, E_NOINTERFACE},                // not upstream by default
      {&LOOK_UPSTREAM_ONLY, sink.Get(), &IID_IAMStreamControl, S_OK},
      {&LOOK_UPSTREAM_ONLY, sink.Get(), &IID_ISampleGrabber, S_OK},
      {&LOOK_DOWNSTREAM_ONLY, source.Get(), &IID_ISampleGrabber, S_OK},
  };
  for (const Case& c : cases) {
    ComPtr<IUnknown> found;
    EXPECT_EQ(builder_->FindInterface(c.category, nullptr, c.filter, *c.iid, found.PutVoid()), c.expected) << &c - cases;
    EXPECT_EQ(bool(found), c.expected == S_OK);
  }
}

TEST_F(CaptureBuilder, RenderStreamAddsASmartTeeForAPreviewFromACapturePin) {
  auto source = Make<CPatternSource>(PatternOptions{.frames = 30});
  auto capture = Make<CRecordingRenderer>();
  auto preview = Create(CLSID_NullRenderer);
  ASSERT_EQ(graph_->AddFilter(source.Get(), u"Source"), S_OK);
  ASSERT_EQ(builder_->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, static_cast<IBaseFilter*>(source.Get()), nullptr, capture.Get()), S_OK);
  EXPECT_EQ(builder_->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, static_cast<IBaseFilter*>(source.Get()), nullptr, preview.Get()),
            VFW_S_NOPREVIEWPIN);
  EXPECT_EQ(FilterNames(graph_.Get()), (std::vector<std::u16string>{u"Source", u"Renderer", u"Renderer 0001", u"Smart Tee"}));
  ASSERT_EQ(control_->Run(), S_OK);
  ASSERT_TRUE(AwaitEvent(EC_COMPLETE));
  EXPECT_EQ(capture->Rendered(), Range(0, 29));  // the capture path still gets every frame
}

TEST_F(CaptureBuilder, RenderStreamConnectsThroughAConverterButNeverTheDeinterlacer) {
  InProcessClass decoy(kestrom::deinterlacer::CLSID_Deinterlacer, &CTestHalfScaler::CreateInstance);
  InProcessClass scaler(CLSID_TestHalfScaler, &CTestHalfScaler::CreateInstance);
  ASSERT_EQ(RegisterRgb24Filter(kestrom::deinterlacer::CLSID_Deinterlacer, u"Deinterlacer", MERIT_DO_NOT_USE), S_OK);
  auto source = Make<CTestSource>(MakeRgbVideoType(24, 720, 576, kFrameDuration));
  auto renderer = Make<CTestRenderer>(&VideoUpTo288);
  ASSERT_EQ(graph_->AddFilter(source.Get(), u"Source"), S_OK);
  ASSERT_EQ(graph_->AddFilter(renderer.Get(), u"Renderer"), S_OK);

  EXPECT_FALSE(SUCCEEDED(builder_->RenderStream(nullptr, nullptr, source->Output(), nullptr, renderer.Get())));
  EXPECT_EQ(FilterNames(graph_.Get()).size(), 2u);

  ASSERT_EQ(RegisterRgb24Filter(CLSID_TestHalfScaler, u"Half Scaler", MERIT_UNLIKELY), S_OK);
  ASSERT_EQ(builder_->RenderStream(nullptr, &MEDIATYPE_Video, static_cast<IBaseFilter*>(source.Get()), nullptr, renderer.Get()), S_OK);
  EXPECT_EQ(FilterNames(graph_.Get()), (std::vector<std::u16string>{u"Source", u"Renderer", u"Half Scaler"}));
}

TEST_F(CaptureBuilder, RenderStreamWithoutASinkAddsTheUpstreamFiltersAndRendersThePin) {
  // The "device" has an input (its analog input) and an output; a "crossbar" feeds the input.
  InProcessClass rendererClass(CLSID_TestHalfScaler, &NewRecordingRenderer);
  ASSERT_EQ(RegisterRgb24Filter(CLSID_TestHalfScaler, u"Test Renderer", MERIT_NORMAL), S_OK);
  auto device = Make<CTestHalfScaler>(nullptr);
  auto crossbar = Make<CTestSource>(MakeRgbVideoType(24, 720, 576, kFrameDuration));
  graph::SetUpstreamFilterProvider([&](IBaseFilter*) {
    std::vector<std::pair<ComPtr<IBaseFilter>, std::u16string>> filters;
    filters.emplace_back(ComPtr<IBaseFilter>(crossbar.Get()), u"Crossbar");
    return filters;
  });
  ASSERT_EQ(graph_->AddFilter(device.Get(), u"Device"), S_OK);
  ASSERT_EQ(builder_->RenderStream(nullptr, nullptr, static_cast<IBaseFilter*>(device.Get()), nullptr, nullptr), S_OK);
  EXPECT_EQ(FilterNames(graph_.Get()), (std::vector<std::u16string>{u"Device", u"Crossbar", u"Test Renderer"}));
  ComPtr<IUnknown> upstream;
  EXPECT_EQ(builder_->FindInterface(&LOOK_UPSTREAM_ONLY, nullptr, device.Get(), IID_IMediaFilter, upstream.PutVoid()), S_OK);
}

TEST_F(CaptureBuilder, ControlStreamStartsAndStopsTheCapturePathAtTheTimesAsked) {
  auto source = Make<CPatternSource>(PatternOptions{.frames = 40, .streamControl = false});
  auto renderer = Make<CRecordingRenderer>();
  auto preview = Create(CLSID_NullRenderer);
  ASSERT_EQ(graph_->AddFilter(source.Get(), u"Source"), S_OK);
  ASSERT_EQ(builder_->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, static_cast<IBaseFilter*>(source.Get()), nullptr, preview.Get()),
            VFW_S_NOPREVIEWPIN);
  ASSERT_EQ(builder_->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, static_cast<IBaseFilter*>(source.Get()), nullptr, renderer.Get()), S_OK);

  // The device pin has no stream control; the Smart Tee's capture pin on its path has.
  REFERENCE_TIME start = 10 * kFrameDuration, stop = 20 * kFrameDuration;
  ASSERT_EQ(builder_->ControlStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source.Get(), &start, &stop, 5, 6), S_OK);
  EXPECT_EQ(builder_->ControlStream(&PIN_CATEGORY_CAPTURE, nullptr, renderer.Get(), &start, &stop, 5, 6), E_FAIL);

  ASSERT_EQ(control_->Run(), S_OK);
  LONG_PTR cookie = 0;
  ASSERT_TRUE(AwaitEvent(EC_STREAM_CONTROL_STARTED, &cookie));
  EXPECT_EQ(cookie, 5);
  ASSERT_TRUE(AwaitEvent(EC_STREAM_CONTROL_STOPPED, &cookie));
  EXPECT_EQ(cookie, 6);
  ASSERT_TRUE(AwaitEvent(EC_COMPLETE));
  EXPECT_EQ(renderer->Rendered(), Range(10, 19));
  control_->Stop();

  // Hold (start never, stop now), then release (start now, no stop): a recording's hold.
  ComPtr<IMediaSeeking> seeking;
  ASSERT_EQ(graph_.As(IID_IMediaSeeking, &seeking), S_OK);
  auto rewindAndRun = [&] {
    LONGLONG zero = 0;
    ASSERT_EQ(seeking->SetPositions(&zero, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
    ASSERT_EQ(control_->Run(), S_OK);
    ASSERT_TRUE(AwaitEvent(EC_COMPLETE));
    control_->Stop();
  };
  REFERENCE_TIME never = MAX_TIME;
  ASSERT_EQ(builder_->ControlStream(&PIN_CATEGORY_CAPTURE, nullptr, nullptr, &never, nullptr, 0, 0), S_OK);
  rewindAndRun();
  EXPECT_EQ(renderer->Rendered(), Range(10, 19));  // nothing while held
  ASSERT_EQ(builder_->ControlStream(&PIN_CATEGORY_CAPTURE, nullptr, nullptr, nullptr, &never, 0, 0), S_OK);
  rewindAndRun();
  auto expected = Range(10, 19);
  for (int i = 0; i < 40; ++i) expected.push_back(i);
  EXPECT_EQ(renderer->Rendered(), expected);
}

TEST_F(CaptureBuilder, RenderFileOpensTheSourceRegisteredForTheExtensionAndRendersIt) {
  QTemporaryDir dir;
  const QString clip = dir.filePath("clip.AVI");
  QFile(clip).open(QIODevice::WriteOnly);
  const QString other = dir.filePath("clip.xyz");
  QFile(other).open(QIODevice::WriteOnly);
  auto wide = [](const QString& s) { return reinterpret_cast<LPCWSTR>(s.utf16()); };
  InProcessClass sourceClass(CLSID_TestFileSource, &CPatternSource::CreateFileSource);
  InProcessClass rendererClass(CLSID_TestHalfScaler, &NewRecordingRenderer);
  ASSERT_EQ(RegisterRgb24Filter(CLSID_TestHalfScaler, u"Test Renderer", MERIT_NORMAL), S_OK);

  EXPECT_EQ(graph_->RenderFile(wide(clip), nullptr), VFW_E_UNKNOWN_FILE_TYPE);
  SetSourceFilterForExtension(".avi", CLSID_TestFileSource);
  EXPECT_EQ(graph_->RenderFile(wide(other), nullptr), VFW_E_UNKNOWN_FILE_TYPE);
  EXPECT_TRUE(FAILED(graph_->RenderFile(wide(dir.filePath("missing.avi")), nullptr)));
  EXPECT_TRUE(FilterNames(graph_.Get()).empty());

  ASSERT_EQ(graph_->RenderFile(wide(clip), nullptr), S_OK);
  EXPECT_EQ(FilterNames(graph_.Get()), (std::vector<std::u16string>{clip.toStdU16String(), u"Test Renderer"}));
  ASSERT_EQ(control_->Run(), S_OK);
  ASSERT_TRUE(AwaitEvent(EC_COMPLETE));
  control_->Stop();
  SetSourceFilterForExtension(".avi", GUID_NULL);
}

TEST_F(CaptureBuilder, AllocCapFileReservesTheSizeOnDiskAndCopyTakesOnlyWhatWasCaptured) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath("capture.avi");
  const uint64_t size = 8u << 20;
  ASSERT_EQ(builder_->AllocCapFile(reinterpret_cast<LPCWSTR>(path.utf16()), size), S_OK);
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
  EXPECT_EQ(static_cast<uint64_t>(st.st_size), size);
  EXPECT_GE(static_cast<uint64_t>(st.st_blocks) * 512, size);  // really reserved, not a sparse file

  // A file already large enough keeps its size.
  ASSERT_EQ(builder_->AllocCapFile(reinterpret_cast<LPCWSTR>(path.utf16()), 1024), S_OK);
  ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
  EXPECT_EQ(static_cast<uint64_t>(st.st_size), size);

  const QString missing = dir.filePath("no/such/folder/capture.avi");
  EXPECT_TRUE(FAILED(builder_->AllocCapFile(reinterpret_cast<LPCWSTR>(missing.utf16()), 1024)));

  // A capture wrote one RIFF chunk of 100 bytes at the start of the reserve.
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    QByteArray chunk("RIFF");
    const char length[4] = {100, 0, 0, 0};
    chunk.append(length, 4);
    chunk.append(QByteArray(100, 'x'));
    f.write(chunk);
  }
  const QString copy = dir.filePath("copy.avi");
  ASSERT_EQ(builder_->CopyCaptureFile(const_cast<LPWSTR>(reinterpret_cast<LPCWSTR>(path.utf16())),
                                      const_cast<LPWSTR>(reinterpret_cast<LPCWSTR>(copy.utf16())), 0, nullptr),
            S_OK);
  QFile copied(copy);
  ASSERT_TRUE(copied.open(QIODevice::ReadOnly));
  EXPECT_EQ(copied.size(), 108);
}

}  // namespace
}  // namespace kestrom::dshow::test
