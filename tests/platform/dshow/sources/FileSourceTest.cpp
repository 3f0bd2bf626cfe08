#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/FilterGraph.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/Decoders.h"
#include "platform/dshow/sources/FileSource.h"
#include "platform/dshow/sources/GraphInterfaces.h"
#include "platform/dshow/sources/Registration.h"
#include "platform/dshow/sources/StreamTypes.h"
#include "platform/registry/Registry.h"
#include "tests/platform/dshow/sources/Collector.h"
#include "tests/platform/dshow/sources/FrameReading.h"
#include "tools/ClipWriter.h"

#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>

namespace kestrom::dshow {
namespace {

using namespace com;
using namespace test;

ComPtr<IPin> PinOf(IBaseFilter* filter, int index) {
  ComPtr<IEnumPins> pins;
  filter->EnumPins(pins.Put());
  pins->Skip(static_cast<ULONG>(index));
  ComPtr<IPin> pin;
  ULONG fetched = 0;
  pins->Next(1, pin.Put(), &fetched);
  return pin;
}

ComPtr<CCollector> NewCollector(CCollector::Accept accept = nullptr) {
  auto* c = new CCollector(std::move(accept));
  c->NonDelegatingAddRef();
  return ComPtr<CCollector>::Attach(c);
}

class FileSource : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    registry::SetRegistryDirectory(dir_.filePath("registry"));
    ASSERT_EQ(RegisterSourceFilters(), S_OK);
  }
  void TearDown() override { registry::SetRegistryDirectory({}); }

  QString WriteClip(const QString& name, const QString& codec, int frames, bool audio, QSize size = {320, 240},
                    std::vector<int> dropped = {}) {
    tools::ClipSpec clipSpec;
    clipSpec.path = dir_.filePath(name);
    clipSpec.codec = codec;
    clipSpec.size = size;
    clipSpec.frames = frames;
    clipSpec.audio = audio;
    clipSpec.gop = 10;
    clipSpec.droppedFrames = std::move(dropped);
    QString error;
    EXPECT_TRUE(tools::WriteClip(clipSpec, &error)) << error.toStdString();
    return clipSpec.path;
  }

  ComPtr<IBaseFilter> Open(const QString& path, HRESULT expected = S_OK) {
    ComPtr<IBaseFilter> source;
    EXPECT_EQ(CoCreateInstance(CLSID_KestromFileSource, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, source.PutVoid()), S_OK);
    ComPtr<IFileSourceFilter> file;
    EXPECT_EQ(source->QueryInterface(IID_IFileSourceFilter, file.PutVoid()), S_OK);
    EXPECT_EQ(file->Load(reinterpret_cast<LPCWSTR>(path.utf16()), nullptr), expected);
    return source;
  }

  // Runs source -> decoder -> collector in a graph and returns the numbers of the pictures.
  std::vector<int> DecodeAll(IBaseFilter* source, REFCLSID decoderClass, LONGLONG firstFrame = -1,
                             std::vector<REFERENCE_TIME>* starts = nullptr) {
    ComPtr<IGraphBuilder> graph;
    EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.PutVoid()), S_OK);
    ComPtr<IBaseFilter> decoder;
    EXPECT_EQ(CoCreateInstance(decoderClass, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, decoder.PutVoid()), S_OK);
    auto collector = NewCollector([](const CMediaType& mt) { return mt.subtype == MEDIASUBTYPE_RGB24; });
    graph->AddFilter(source, u"Source");
    graph->AddFilter(decoder.Get(), u"Decoder");
    graph->AddFilter(collector.Get(), u"Collector");
    EXPECT_EQ(graph->ConnectDirect(PinOf(source, 0).Get(), PinOf(decoder.Get(), 0).Get(), nullptr), S_OK);
    EXPECT_EQ(graph->ConnectDirect(PinOf(decoder.Get(), 1).Get(), collector->Input(), nullptr), S_OK);
    if (firstFrame >= 0) {
      ComPtr<IMediaSeeking> seeking;
      EXPECT_EQ(PinOf(source, 0)->QueryInterface(IID_IMediaSeeking, seeking.PutVoid()), S_OK);
      EXPECT_EQ(seeking->SetTimeFormat(&TIME_FORMAT_FRAME), S_OK);
      EXPECT_EQ(seeking->SetPositions(&firstFrame, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
    }
    collector->Pause();
    decoder->Pause();
    EXPECT_EQ(source->Pause(), S_OK);
    EXPECT_TRUE(collector->WaitForEndOfStream());
    source->Stop();
    decoder->Stop();
    collector->Stop();
    std::vector<int> numbers;
    const CMediaType type = collector->Type();
    for (const ReceivedSample& s : collector->Samples()) {
      numbers.push_back(ReadNumber(type, s.bytes));
      if (starts) starts->push_back(s.start);
    }
    graph->RemoveFilter(collector.Get());
    graph->RemoveFilter(decoder.Get());
    graph->RemoveFilter(source);
    return numbers;
  }

  static std::vector<int> Range(int from, int to) {
    std::vector<int> r;
    for (int i = from; i < to; ++i) r.push_back(i);
    return r;
  }

  QTemporaryDir dir_;
};

TEST_F(FileSource, DeliversTheStoredTypesOfAnMpeg4V2Recording) {
  const QString path = WriteClip("clip.avi", "msmpeg4v2", 10, true);
  ComPtr<IBaseFilter> source = Open(path);
  ComPtr<IPin> video = PinOf(source.Get(), 0), audio = PinOf(source.Get(), 1);
  ASSERT_TRUE(video && audio);

  ComPtr<IEnumMediaTypes> types;
  ASSERT_EQ(video->EnumMediaTypes(types.Put()), S_OK);
  AM_MEDIA_TYPE* type = nullptr;
  ULONG fetched = 0;
  ASSERT_EQ(types->Next(1, &type, &fetched), S_OK);
  EXPECT_TRUE(type->majortype == MEDIATYPE_Video);
  EXPECT_TRUE(type->subtype == dshow::FourccSubtype(dshow::Fourcc('M', 'P', '4', '2')));
  EXPECT_TRUE(type->formattype == FORMAT_VideoInfo);
  const BITMAPINFOHEADER* h = GetBitmapInfoHeader(*type);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->biCompression, dshow::Fourcc('M', 'P', '4', '2'));
  EXPECT_EQ(h->biWidth, 320);
  EXPECT_EQ(reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat)->AvgTimePerFrame, 400000);
  DeleteMediaType(type);

  types.Reset();
  ASSERT_EQ(audio->EnumMediaTypes(types.Put()), S_OK);
  ASSERT_EQ(types->Next(1, &type, &fetched), S_OK);
  EXPECT_TRUE(type->majortype == MEDIATYPE_Audio);
  ASSERT_TRUE(type->formattype == FORMAT_WaveFormatEx);
  const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(type->pbFormat);
  EXPECT_EQ(wfx->wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(wfx->nSamplesPerSec, 22050u);
  DeleteMediaType(type);

  // A stream copy: the stored frames pass unchanged to a pin that takes the stored type.
  auto copy = NewCollector();
  ASSERT_EQ(video->Connect(copy->Input(), nullptr), S_OK);
  ASSERT_EQ(copy->Pause(), S_OK);
  ASSERT_EQ(source->Pause(), S_OK);
  ASSERT_TRUE(copy->WaitForEndOfStream());
  source->Stop();
  copy->Stop();
  const auto samples = copy->Samples();
  ASSERT_EQ(samples.size(), 10u);
  EXPECT_TRUE(samples[0].sync);
  EXPECT_EQ(samples[3].start, 3 * 400000);
  video->Disconnect();
  copy->Input()->Disconnect();
}

TEST_F(FileSource, DecodersDeliverEveryFrameInOrder) {
  const struct {
    const char* name;
    const char* codec;
    CLSID decoder;
  } cases[] = {{"mp42.avi", "msmpeg4v2", CLSID_Mpeg4V2VideoDecoder},
               {"mjpeg.avi", "mjpeg", CLSID_MjpegVideoDecoder},
               {"mpeg4.avi", "mpeg4", CLSID_Mpeg4VideoDecoder}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codec);
    ComPtr<IBaseFilter> source = Open(WriteClip(c.name, c.codec, 25, false));
    EXPECT_EQ(DecodeAll(source.Get(), c.decoder), Range(0, 25));
  }
}

// An empty video chunk of an AVI is a frame the capture dropped: it keeps its position and its
// time and shows the frame before it, whether the frames depend on each other or not, read from
// the start or from a seek onto or just past it.
TEST_F(FileSource, ADroppedFrameShowsTheFrameBeforeItAtItsOwnTime) {
  constexpr int kFrames = 20;
  const std::vector<int> dropped = {3, 4, 12};
  std::vector<int> positions;
  for (int i = 0; i < kFrames; ++i)
    positions.push_back(std::find(dropped.begin(), dropped.end(), i) != dropped.end() ? positions.back() : i);
  const struct {
    const char* codec;
    CLSID decoder;
  } cases[] = {{"msmpeg4v2", CLSID_Mpeg4V2VideoDecoder}, {"mjpeg", CLSID_MjpegVideoDecoder}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codec);
    const QString path = WriteClip(QString("dropped-%1.avi").arg(c.codec), c.codec, kFrames, false, {320, 240}, dropped);
    for (const LONGLONG first : {LONGLONG(-1), LONGLONG(12), LONGLONG(13)}) {
      SCOPED_TRACE(first);
      ComPtr<IBaseFilter> source = Open(path);
      LONGLONG frames = 0;
      ComPtr<IMediaSeeking> seeking;
      ASSERT_EQ(source->QueryInterface(IID_IMediaSeeking, seeking.PutVoid()), S_OK);
      ASSERT_EQ(seeking->SetTimeFormat(&TIME_FORMAT_FRAME), S_OK);
      ASSERT_EQ(seeking->GetDuration(&frames), S_OK);
      EXPECT_EQ(frames, kFrames);
      std::vector<REFERENCE_TIME> starts;
      const size_t from = first < 0 ? 0 : size_t(first);
      EXPECT_EQ(DecodeAll(source.Get(), c.decoder, first, &starts),
                std::vector<int>(positions.begin() + std::ptrdiff_t(from), positions.end()));
      for (size_t i = 0; i < starts.size(); ++i) EXPECT_EQ(starts[i], REFERENCE_TIME(i) * 400000) << "position " << from + i;
    }
  }
}

TEST_F(FileSource, SeeksToAFrameAndCountsFramesFromTheIndex) {
  ComPtr<IBaseFilter> source = Open(WriteClip("seek.avi", "msmpeg4v2", 40, false));
  ComPtr<IMediaSeeking> seeking;
  ASSERT_EQ(source->QueryInterface(IID_IMediaSeeking, seeking.PutVoid()), S_OK);
  DWORD caps = 0;
  ASSERT_EQ(seeking->GetCapabilities(&caps), S_OK);
  EXPECT_TRUE(caps & AM_SEEKING_CanSeekAbsolute);
  EXPECT_EQ(seeking->IsFormatSupported(&TIME_FORMAT_FRAME), S_OK);
  ASSERT_EQ(seeking->SetTimeFormat(&TIME_FORMAT_FRAME), S_OK);
  LONGLONG frames = 0, duration = 0;
  ASSERT_EQ(seeking->GetDuration(&frames), S_OK);
  EXPECT_EQ(frames, 40);
  ASSERT_EQ(seeking->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME), S_OK);
  ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, 40 * 400000);
  // Frame 25 is not a keyframe (every tenth is): the frames before it only prime the decoder.
  EXPECT_EQ(DecodeAll(source.Get(), CLSID_Mpeg4V2VideoDecoder, 25), Range(25, 40));
}

TEST_F(FileSource, AutomaticConnectionFindsTheDecoder) {
  ComPtr<IBaseFilter> source = Open(WriteClip("auto.avi", "msmpeg4v2", 5, true));
  ComPtr<IGraphBuilder> graph;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.PutVoid()), S_OK);
  auto video = NewCollector([](const CMediaType& mt) { return mt.subtype == MEDIASUBTYPE_RGB24; });
  auto sound = NewCollector([](const CMediaType& mt) { return mt.subtype == MEDIASUBTYPE_PCM; });
  graph->AddFilter(source.Get(), u"Source");
  graph->AddFilter(video.Get(), u"Video");
  graph->AddFilter(sound.Get(), u"Sound");
  ASSERT_EQ(graph->Connect(PinOf(source.Get(), 0).Get(), video->Input()), S_OK);
  ASSERT_EQ(graph->Connect(PinOf(source.Get(), 1).Get(), sound->Input()), S_OK);  // PCM goes straight through
  ComPtr<IBaseFilter> decoder;
  EXPECT_EQ(graph->FindFilterByName(u"MPEG-4 V2 Video Decoder", decoder.Put()), S_OK);
  // Pins hold each other: disconnect everything before the graph goes.
  ComPtr<IEnumFilters> filters;
  graph->EnumFilters(filters.Put());
  IBaseFilter* f = nullptr;
  ULONG n = 0;
  while (filters->Next(1, &f, &n) == S_OK) {
    ComPtr<IBaseFilter> held = ComPtr<IBaseFilter>::Attach(f);
    for (int i = 0; ComPtr<IPin> pin = PinOf(f, i); ++i) pin->Disconnect();
  }
}

TEST_F(FileSource, NamesItsFileOnlyOnceLoaded) {
  ComPtr<IBaseFilter> source;
  ASSERT_EQ(CoCreateInstance(CLSID_KestromFileSource, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, source.PutVoid()), S_OK);
  ComPtr<IFileSourceFilter> file;
  ASSERT_EQ(source->QueryInterface(IID_IFileSourceFilter, file.PutVoid()), S_OK);
  LPWSTR name = reinterpret_cast<LPWSTR>(1);
  EXPECT_EQ(file->GetCurFile(&name, nullptr), E_FAIL);
  EXPECT_EQ(name, nullptr);

  // A name with a space and a letter outside Latin-1 comes back unchanged.
  const QString path = WriteClip(QStringLiteral("long jump \u0142.avi"), "msmpeg4v2", 2, false);
  ASSERT_EQ(file->Load(reinterpret_cast<LPCWSTR>(path.utf16()), nullptr), S_OK);
  AM_MEDIA_TYPE type;
  ASSERT_EQ(file->GetCurFile(&name, &type), S_OK);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(QString::fromUtf16(reinterpret_cast<const char16_t*>(name)), path);
  EXPECT_EQ(type.majortype, MEDIATYPE_Stream);
  CoTaskMemFree(name);
}

TEST_F(FileSource, RefusesWhatItCannotRead) {
  QFile junk(dir_.filePath("junk.avi"));
  ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
  junk.write(QByteArray(4096, 'x'));
  junk.close();
  Open(junk.fileName(), VFW_E_INVALID_FILE_FORMAT);
  Open(dir_.filePath("missing.avi"), HRESULT(0x80070002));
}

}  // namespace
}  // namespace kestrom::dshow
