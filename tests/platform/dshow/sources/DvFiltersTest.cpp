#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/FilterGraph.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/graph/GraphClasses.h"
#include "platform/dshow/sources/Decoders.h"
#include "platform/dshow/sources/DvFormat.h"
#include "platform/dshow/sources/DvMpegInterfaces.h"
#include "platform/dshow/sources/FileSource.h"
#include "platform/dshow/sources/GraphInterfaces.h"
#include "platform/dshow/sources/Registration.h"
#include "platform/registry/Registry.h"
#include "tests/platform/dshow/sources/Collector.h"
#include "tests/platform/dshow/sources/FrameReading.h"
#include "tools/ClipWriter.h"

#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>
#include <mutex>

namespace kestrom::dshow {
namespace {

using namespace com;
using namespace test;

constexpr int kFrames = 12;

// Frame numbers and picture types seen by the grabber's callback.
class NumberingCallback final : public ISampleGrabberCB {
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
  HRESULT SampleCB(double, IMediaSample*) override { return S_OK; }
  HRESULT BufferCB(double, BYTE* buffer, LONG length) override {
    std::lock_guard lock(mutex_);
    std::vector<uint8_t> bytes(buffer, buffer + length);
    numbers_.push_back(ReadNumber(type_, bytes));
    lowest_ = std::min<int>(lowest_, *std::min_element(bytes.begin(), bytes.end()));
    highest_ = std::max<int>(highest_, *std::max_element(bytes.begin(), bytes.end()));
    return S_OK;
  }
  void SetType(const CMediaType& type) { type_ = type; }
  void Reset() {
    std::lock_guard lock(mutex_);
    numbers_.clear();
    lowest_ = 255;
    highest_ = 0;
  }
  std::vector<int> Numbers() {
    std::lock_guard lock(mutex_);
    return numbers_;
  }
  int lowest_ = 255, highest_ = 0;

 private:
  std::mutex mutex_;
  CMediaType type_;
  std::vector<int> numbers_;
};

ComPtr<CCollector> NewCollector() {
  auto* c = new CCollector([](const CMediaType& mt) { return mt.majortype == MEDIATYPE_Audio; });
  c->NonDelegatingAddRef();
  return ComPtr<CCollector>::Attach(c);
}

class DvFilters : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    registry::SetRegistryDirectory(dir_.filePath("registry"));
    graph::EnsureGraphClassesRegistered();
    ASSERT_EQ(RegisterSourceFilters(), S_OK);
    tools::ClipSpec clip;
    clip.path = dir_.filePath("clip.dv");
    clip.codec = "dvvideo";
    clip.size = {720, 576};
    clip.frames = kFrames;
    clip.audio = true;
    clip.audioRate = 48000;
    clip.audioChannels = 2;
    QString error;
    ASSERT_TRUE(tools::WriteClip(clip, &error)) << error.toStdString();
    path_ = clip.path;
  }
  void TearDown() override {
    Release();
    registry::SetRegistryDirectory({});
  }
  void Release() {
    if (control_) control_->Stop();
    control_.Reset();
    grabber_.Reset();
    source_.Reset();
    splitter_.Reset();
    decoder_.Reset();
    grabberFilter_.Reset();
    sound_.Reset();
    graph_.Reset();
  }

  template <typename T = IBaseFilter>
  ComPtr<T> Create(REFCLSID clsid, REFIID iid = IID_IBaseFilter) {
    ComPtr<T> made;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, made.PutVoid()), S_OK);
    return made;
  }
  ComPtr<IPin> Pin(IBaseFilter* filter, const char16_t* name) {
    ComPtr<IPin> pin;
    EXPECT_EQ(filter->FindPin(name, pin.Put()), S_OK);
    return pin;
  }

  // file source -> DV Splitter -> DV Video Decoder -> Sample Grabber -> Null Renderer, with the
  // splitter's sound in a collector.
  void Build(int resolution, bool discard, bool rgb219 = false) {
    graph_ = Create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    ASSERT_EQ(graph_.As(IID_IMediaControl, &control_), S_OK);
    ComPtr<IMediaFilter> clockless;
    ASSERT_EQ(graph_.As(IID_IMediaFilter, &clockless), S_OK);
    ASSERT_EQ(clockless->SetSyncSource(nullptr), S_OK);
    ASSERT_EQ(graph_->AddSourceFilter(reinterpret_cast<LPCWSTR>(path_.utf16()), u"Source", source_.Put()), S_OK);
    splitter_ = Create(CLSID_DVSplitter);
    decoder_ = Create(CLSID_DVVideoCodec);
    grabberFilter_ = Create(CLSID_SampleGrabber);
    auto renderer = Create(CLSID_NullRenderer);
    sound_ = NewCollector();
    ASSERT_EQ(grabberFilter_.As(IID_ISampleGrabber, &grabber_), S_OK);
    CMediaType wanted;
    wanted.majortype = MEDIATYPE_Video;
    wanted.subtype = MEDIASUBTYPE_RGB24;
    ASSERT_EQ(grabber_->SetMediaType(&wanted), S_OK);
    ASSERT_EQ(grabber_->SetCallback(&callback_, 1), S_OK);
    ComPtr<IDVSplitter> split;
    ASSERT_EQ(splitter_.As(IID_IDVSplitter, &split), S_OK);
    ASSERT_EQ(split->DiscardAlternateVideoFrames(discard), S_OK);
    ComPtr<IIPDVDec> display;
    ASSERT_EQ(decoder_.As(IID_IIPDVDec, &display), S_OK);
    ASSERT_EQ(display->put_IPDisplay(resolution), S_OK);
    ComPtr<IDVRGB219> range;
    ASSERT_EQ(decoder_.As(IID_IDVRGB219, &range), S_OK);
    ASSERT_EQ(range->SetRGB219(rgb219), S_OK);

    ASSERT_EQ(graph_->AddFilter(splitter_.Get(), u"DV Splitter"), S_OK);
    ASSERT_EQ(graph_->AddFilter(decoder_.Get(), u"DV Video Decoder"), S_OK);
    ASSERT_EQ(graph_->AddFilter(grabberFilter_.Get(), u"Grabber"), S_OK);
    ASSERT_EQ(graph_->AddFilter(renderer.Get(), u"Null Renderer"), S_OK);
    ASSERT_EQ(graph_->AddFilter(sound_.Get(), u"Sound"), S_OK);
    ASSERT_EQ(graph_->ConnectDirect(Pin(source_.Get(), u"DV A/V Out").Get(), Pin(splitter_.Get(), u"Input").Get(), nullptr), S_OK);
    ASSERT_EQ(graph_->ConnectDirect(Pin(splitter_.Get(), u"DVVidOut0").Get(), Pin(decoder_.Get(), u"XForm In").Get(), nullptr), S_OK);
    ASSERT_EQ(graph_->Connect(Pin(decoder_.Get(), u"XForm Out").Get(), Pin(grabberFilter_.Get(), u"Input").Get()), S_OK);
    ASSERT_EQ(graph_->Connect(Pin(grabberFilter_.Get(), u"Output").Get(), Pin(renderer.Get(), u"In").Get()), S_OK);
    ASSERT_EQ(graph_->ConnectDirect(Pin(splitter_.Get(), u"AudOut00").Get(), sound_->Input(), nullptr), S_OK);
  }

  CMediaType Grabbed() {
    AM_MEDIA_TYPE connected{};
    EXPECT_EQ(grabber_->GetConnectedMediaType(&connected), S_OK);
    CMediaType type(connected);
    FreeMediaType(connected);
    return type;
  }

  void Play() {
    callback_.SetType(Grabbed());
    ComPtr<IMediaEventEx> events;
    ASSERT_EQ(graph_.As(IID_IMediaEventEx, &events), S_OK);
    ASSERT_EQ(control_->Run(), S_OK);
    LONG code = 0;
    LONG_PTR a = 0, b = 0;
    while (code != EC_COMPLETE) ASSERT_EQ(events->GetEvent(&code, &a, &b, 10000), S_OK);
    ASSERT_TRUE(sound_->WaitForEndOfStream());
    control_->Stop();
  }

  size_t SoundBytes() {
    size_t bytes = 0;
    for (const ReceivedSample& s : sound_->Samples()) bytes += s.bytes.size();
    return bytes;
  }

  QTemporaryDir dir_;
  QString path_;
  ComPtr<IGraphBuilder> graph_;
  ComPtr<IMediaControl> control_;
  ComPtr<IBaseFilter> source_, splitter_, decoder_, grabberFilter_;
  ComPtr<ISampleGrabber> grabber_;
  ComPtr<CCollector> sound_;
  NumberingCallback callback_;
};

std::vector<int> Numbers(int from, int to, int step) {
  std::vector<int> v;
  for (int i = from; i < to; i += step) v.push_back(i);
  return v;
}

TEST_F(DvFilters, DvFileOpensAsInterleavedDv) {
  ComPtr<IBaseFilter> source = Create(CLSID_KestromFileSource);
  ComPtr<IFileSourceFilter> file;
  ASSERT_EQ(source.As(IID_IFileSourceFilter, &file), S_OK);
  ASSERT_EQ(file->Load(reinterpret_cast<LPCWSTR>(path_.utf16()), nullptr), S_OK);
  ComPtr<IEnumPins> pins;
  ASSERT_EQ(source->EnumPins(pins.Put()), S_OK);
  IPin* raw[2] = {};
  ULONG fetched = 0;
  pins->Next(2, raw, &fetched);
  ASSERT_EQ(fetched, 1u);  // the sound stays inside the frames
  ComPtr<IPin> pin = ComPtr<IPin>::Attach(raw[0]);
  ComPtr<IEnumMediaTypes> types;
  ASSERT_EQ(pin->EnumMediaTypes(types.Put()), S_OK);
  AM_MEDIA_TYPE* type = nullptr;
  ASSERT_EQ(types->Next(1, &type, &fetched), S_OK);
  EXPECT_TRUE(type->majortype == MEDIATYPE_Interleaved);
  EXPECT_TRUE(type->subtype == MEDIASUBTYPE_dvsd);
  ASSERT_TRUE(type->formattype == FORMAT_DvInfo);
  ASSERT_EQ(type->cbFormat, sizeof(DVINFO));
  EXPECT_EQ(type->lSampleSize, 144000u);
  const auto* info = reinterpret_cast<const DVINFO*>(type->pbFormat);
  EXPECT_EQ(sources::DvAudioRate(info->dwDVAAuxSrc), 48000);
  EXPECT_TRUE(sources::DvGeometryOfType(*type).pal);
  DeleteMediaType(type);
}

TEST_F(DvFilters, EveryFrameInOrderAtEachDisplaySize) {
  const struct {
    int resolution;
    LONG width, height;
  } cases[] = {{DVRESOLUTION_FULL, 720, 576}, {DVRESOLUTION_HALF, 360, 288}, {DVRESOLUTION_QUARTER, 180, 144}, {DVRESOLUTION_DC, 88, 72}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.resolution);
    callback_.Reset();
    Build(c.resolution, false);
    const CMediaType type = Grabbed();
    const BITMAPINFOHEADER* h = GetBitmapInfoHeader(type);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->biWidth, c.width);
    EXPECT_EQ(std::abs(h->biHeight), c.height);
    Play();
    EXPECT_EQ(callback_.Numbers(), Numbers(0, kFrames, 1));
    // 48 kHz stereo, 1920 samples to each 25th of a second.
    EXPECT_EQ(SoundBytes(), size_t{kFrames} * 1920 * 4);
    Release();
  }
}

TEST_F(DvFilters, DiscardingAlternateFramesKeepsEverySecondFrameAndAllSound) {
  Build(DVRESOLUTION_QUARTER, true);
  Play();
  EXPECT_EQ(callback_.Numbers(), Numbers(0, kFrames, 2));
  EXPECT_EQ(SoundBytes(), size_t{kFrames} * 1920 * 4);
}

TEST_F(DvFilters, StudioRangeKeepsRgbWithin16To235) {
  Build(DVRESOLUTION_QUARTER, false, true);
  Play();
  EXPECT_EQ(callback_.Numbers(), Numbers(0, kFrames, 1));
  EXPECT_GE(callback_.lowest_, 16);
  EXPECT_LE(callback_.highest_, 235);
}

TEST_F(DvFilters, NewDisplaySizeReconnectsTheOutputOnlyWhenStopped) {
  Build(DVRESOLUTION_HALF, false);
  ComPtr<IIPDVDec> display;
  ASSERT_EQ(decoder_.As(IID_IIPDVDec, &display), S_OK);
  EXPECT_EQ(display->put_IPDisplay(999), E_INVALIDARG);
  ASSERT_EQ(display->put_IPDisplay(DVRESOLUTION_FULL), S_OK);
  int now = 0;
  ASSERT_EQ(display->get_IPDisplay(&now), S_OK);
  EXPECT_EQ(now, DVRESOLUTION_FULL);
  EXPECT_EQ(GetBitmapInfoHeader(Grabbed())->biWidth, 720);
  ASSERT_TRUE(SUCCEEDED(control_->Pause()));
  EXPECT_EQ(display->put_IPDisplay(DVRESOLUTION_DC), VFW_E_NOT_STOPPED);
  control_->Stop();
  Play();
  EXPECT_EQ(callback_.Numbers(), Numbers(0, kFrames, 1));
}

TEST_F(DvFilters, TheDecoderAlsoTakesInterleavedDvWithoutASplitter) {
  graph_ = Create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
  ASSERT_EQ(graph_.As(IID_IMediaControl, &control_), S_OK);
  ComPtr<IMediaFilter> clockless;
  ASSERT_EQ(graph_.As(IID_IMediaFilter, &clockless), S_OK);
  ASSERT_EQ(clockless->SetSyncSource(nullptr), S_OK);
  ASSERT_EQ(graph_->AddSourceFilter(reinterpret_cast<LPCWSTR>(path_.utf16()), u"Source", source_.Put()), S_OK);
  decoder_ = Create(CLSID_DVVideoCodec);
  grabberFilter_ = Create(CLSID_SampleGrabber);
  auto renderer = Create(CLSID_NullRenderer);
  ASSERT_EQ(grabberFilter_.As(IID_ISampleGrabber, &grabber_), S_OK);
  ASSERT_EQ(grabber_->SetCallback(&callback_, 1), S_OK);
  ASSERT_EQ(graph_->AddFilter(decoder_.Get(), u"DV Codec"), S_OK);
  ASSERT_EQ(graph_->AddFilter(grabberFilter_.Get(), u"Grabber"), S_OK);
  ASSERT_EQ(graph_->AddFilter(renderer.Get(), u"Null Renderer"), S_OK);
  ASSERT_EQ(graph_->ConnectDirect(Pin(source_.Get(), u"DV A/V Out").Get(), Pin(decoder_.Get(), u"XForm In").Get(), nullptr), S_OK);
  ASSERT_EQ(graph_->Connect(Pin(decoder_.Get(), u"XForm Out").Get(), Pin(grabberFilter_.Get(), u"Input").Get()), S_OK);
  ASSERT_EQ(graph_->Connect(Pin(grabberFilter_.Get(), u"Output").Get(), Pin(renderer.Get(), u"In").Get()), S_OK);
  const CMediaType grabbed = Grabbed();
  const BITMAPINFOHEADER* h = GetBitmapInfoHeader(grabbed);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->biWidth, 720);  // full size unless asked otherwise
  callback_.SetType(grabbed);
  ComPtr<IMediaEventEx> events;
  ASSERT_EQ(graph_.As(IID_IMediaEventEx, &events), S_OK);
  ASSERT_EQ(control_->Run(), S_OK);
  LONG code = 0;
  LONG_PTR a = 0, b = 0;
  while (code != EC_COMPLETE) ASSERT_EQ(events->GetEvent(&code, &a, &b, 10000), S_OK);
  control_->Stop();
  EXPECT_EQ(callback_.Numbers(), Numbers(0, kFrames, 1));
}

TEST_F(DvFilters, DvAviGivesDvVideoAndPcmPins) {
  tools::ClipSpec clip;
  clip.path = dir_.filePath("clip.avi");
  clip.codec = "dvvideo";
  clip.frames = kFrames;
  clip.audio = true;
  clip.audioRate = 48000;
  clip.audioChannels = 2;
  QString error;
  ASSERT_TRUE(tools::WriteClip(clip, &error)) << error.toStdString();
  path_ = clip.path;

  graph_ = Create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
  ASSERT_EQ(graph_.As(IID_IMediaControl, &control_), S_OK);
  ComPtr<IMediaFilter> clockless;
  ASSERT_EQ(graph_.As(IID_IMediaFilter, &clockless), S_OK);
  ASSERT_EQ(clockless->SetSyncSource(nullptr), S_OK);
  ASSERT_EQ(graph_->AddSourceFilter(reinterpret_cast<LPCWSTR>(path_.utf16()), u"Source", source_.Put()), S_OK);
  ComPtr<IEnumMediaTypes> types;
  ASSERT_EQ(Pin(source_.Get(), u"Video")->EnumMediaTypes(types.Put()), S_OK);
  AM_MEDIA_TYPE* offered = nullptr;
  ULONG fetched = 0;
  ASSERT_EQ(types->Next(1, &offered, &fetched), S_OK);
  EXPECT_TRUE(offered->majortype == MEDIATYPE_Video);
  EXPECT_TRUE(sources::IsDvType(*offered));
  EXPECT_EQ(GetBitmapInfoHeader(*offered)->biWidth, 720);
  DeleteMediaType(offered);
  types.Reset();
  ASSERT_EQ(Pin(source_.Get(), u"Audio")->EnumMediaTypes(types.Put()), S_OK);
  ASSERT_EQ(types->Next(1, &offered, &fetched), S_OK);
  EXPECT_TRUE(offered->subtype == MEDIASUBTYPE_PCM);
  EXPECT_EQ(reinterpret_cast<const WAVEFORMATEX*>(offered->pbFormat)->nSamplesPerSec, 48000u);
  DeleteMediaType(offered);

  // A DV video pin of whole frames may go through the splitter too, as a camcorder's would.
  splitter_ = Create(CLSID_DVSplitter);
  decoder_ = Create(CLSID_DVVideoCodec);
  grabberFilter_ = Create(CLSID_SampleGrabber);
  auto renderer = Create(CLSID_NullRenderer);
  ASSERT_EQ(grabberFilter_.As(IID_ISampleGrabber, &grabber_), S_OK);
  ASSERT_EQ(grabber_->SetCallback(&callback_, 1), S_OK);
  ComPtr<IIPDVDec> display;
  ASSERT_EQ(decoder_.As(IID_IIPDVDec, &display), S_OK);
  ASSERT_EQ(display->put_IPDisplay(DVRESOLUTION_QUARTER), S_OK);
  ASSERT_EQ(graph_->AddFilter(splitter_.Get(), u"DV Splitter"), S_OK);
  ASSERT_EQ(graph_->AddFilter(decoder_.Get(), u"DV Video Decoder"), S_OK);
  ASSERT_EQ(graph_->AddFilter(grabberFilter_.Get(), u"Grabber"), S_OK);
  ASSERT_EQ(graph_->AddFilter(renderer.Get(), u"Null Renderer"), S_OK);
  ASSERT_EQ(graph_->ConnectDirect(Pin(source_.Get(), u"Video").Get(), Pin(splitter_.Get(), u"Input").Get(), nullptr), S_OK);
  ASSERT_EQ(graph_->ConnectDirect(Pin(splitter_.Get(), u"DVVidOut0").Get(), Pin(decoder_.Get(), u"XForm In").Get(), nullptr), S_OK);
  ASSERT_EQ(graph_->Connect(Pin(decoder_.Get(), u"XForm Out").Get(), Pin(grabberFilter_.Get(), u"Input").Get()), S_OK);
  ASSERT_EQ(graph_->Connect(Pin(grabberFilter_.Get(), u"Output").Get(), Pin(renderer.Get(), u"In").Get()), S_OK);
  callback_.SetType(Grabbed());
  ComPtr<IMediaEventEx> events;
  ASSERT_EQ(graph_.As(IID_IMediaEventEx, &events), S_OK);
  ASSERT_EQ(control_->Run(), S_OK);
  LONG code = 0;
  LONG_PTR a = 0, b = 0;
  while (code != EC_COMPLETE) ASSERT_EQ(events->GetEvent(&code, &a, &b, 10000), S_OK);
  control_->Stop();
  EXPECT_EQ(callback_.Numbers(), Numbers(0, kFrames, 1));
}

TEST_F(DvFilters, SoundOfAnotherRateIsConvertedToTheConnectedRate) {
  // A tape whose second scene was recorded at 32 kHz after a first at 48 kHz.
  tools::ClipSpec clip;
  clip.path = dir_.filePath("second.dv");
  clip.codec = "dvvideo";
  clip.frames = kFrames;
  clip.audio = true;
  clip.audioRate = 32000;
  clip.audioChannels = 2;
  QString error;
  if (!tools::WriteClip(clip, &error)) GTEST_SKIP() << "no 32 kHz DV here: " << error.toStdString();
  QFile first(path_), second(clip.path);
  ASSERT_TRUE(first.open(QIODevice::ReadWrite | QIODevice::Append));
  ASSERT_TRUE(second.open(QIODevice::ReadOnly));
  first.write(second.readAll());
  first.close();

  Build(DVRESOLUTION_DC, false);
  Play();
  EXPECT_EQ(callback_.Numbers().size(), size_t{2 * kFrames});
  // Both scenes at 48 kHz: 1920 samples a frame, less what the converter still holds.
  const double seconds = double(SoundBytes()) / (48000 * 4);
  EXPECT_NEAR(seconds, 2 * kFrames / 25.0, 0.01);
}

TEST_F(DvFilters, FramePacksAreRead) {
  // A frame that is no DV (no header block) is refused; a real one gives its system and packs.
  std::vector<uint8_t> noise(144000, 0x55);
  DVINFO info{};
  sources::DvGeometry geometry;
  EXPECT_FALSE(sources::ReadDvInfo(noise.data(), noise.size(), &info, &geometry));
  EXPECT_FALSE(sources::ReadDvInfo(nullptr, 0, &info, &geometry));
  QFile file(path_);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray frame = file.read(144000);
  ASSERT_TRUE(sources::ReadDvInfo(reinterpret_cast<const uint8_t*>(frame.constData()), size_t(frame.size()), &info, &geometry));
  EXPECT_TRUE(geometry.pal);
  EXPECT_EQ(geometry.frameSize, 144000u);
  EXPECT_EQ(sources::DvAudioRate(info.dwDVAAuxSrc), 48000);
  sources::DvSound sound;
  ASSERT_TRUE(sources::ExtractDvSound(reinterpret_cast<const uint8_t*>(frame.constData()), size_t(frame.size()), &sound));
  EXPECT_EQ(sound.rate, 48000);
  EXPECT_EQ(sound.channels, 2);
  ASSERT_FALSE(sound.pairs.empty());
  EXPECT_EQ(sound.pairs[0].size(), 1920u * 4);
  // A frame cut short yields no sound and no crash.
  EXPECT_FALSE(sources::ExtractDvSound(reinterpret_cast<const uint8_t*>(frame.constData()), 1000, &sound));
}

}  // namespace
}  // namespace kestrom::dshow
