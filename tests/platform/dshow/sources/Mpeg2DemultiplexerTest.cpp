#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/FilterGraph.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/graph/GraphClasses.h"
#include "platform/dshow/sources/Decoders.h"
#include "platform/dshow/sources/DeviceEnumerator.h"
#include "platform/dshow/sources/DvMpegInterfaces.h"
#include "platform/dshow/sources/GraphInterfaces.h"
#include "platform/dshow/sources/PushPin.h"
#include "platform/dshow/sources/Registration.h"
#include "platform/registry/Registry.h"
#include "tests/platform/dshow/sources/Collector.h"
#include "tests/platform/dshow/sources/FrameReading.h"
#include "tools/ClipWriter.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>

namespace kestrom::dshow {
namespace {

using namespace com;
using namespace test;

constexpr int kFrames = 15;

// Pushes a file as an MPEG-2 program stream in pieces that cut across packs, as a hardware
// encoder's pin would.
class CByteStreamSource final : public CBaseFilter {
 public:
  explicit CByteStreamSource(QByteArray bytes) : CBaseFilter("byte stream", nullptr, &lock_, GUID_NULL), pin_(this, &lock_, std::move(bytes)) {}
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
  IPin* Output() { return &pin_; }

 private:
  class Pin final : public CPushPin {
   public:
    Pin(CBaseFilter* filter, std::recursive_mutex* lock, QByteArray bytes)
        : CPushPin("byte stream pin", filter, lock, u"Output"), bytes_(std::move(bytes)) {}
    HRESULT CheckMediaType(const CMediaType* type) override {
      return type->majortype == MEDIATYPE_Stream && type->subtype == MEDIASUBTYPE_MPEG2_PROGRAM ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int position, CMediaType* type) override {
      if (position != 0) return VFW_S_NO_MORE_ITEMS;
      type->SetType(MEDIATYPE_Stream);
      type->SetSubtype(MEDIASUBTYPE_MPEG2_PROGRAM);
      type->SetFormatType(FORMAT_None);
      return S_OK;
    }

   protected:
    LONG FrameBufferSize() override { return kPiece; }
    HRESULT OnThreadStart() override {
      offset_ = 0;
      return S_OK;
    }
    HRESULT FillBuffer(IMediaSample* sample) override {
      if (offset_ >= bytes_.size()) return S_FALSE;
      const qsizetype n = std::min<qsizetype>(kPiece, bytes_.size() - offset_);
      BYTE* data = nullptr;
      sample->GetPointer(&data);
      std::memcpy(data, bytes_.constData() + offset_, static_cast<size_t>(n));
      sample->SetActualDataLength(static_cast<LONG>(n));
      offset_ += n;
      return S_OK;
    }

   private:
    static constexpr LONG kPiece = 5000;
    QByteArray bytes_;
    qsizetype offset_ = 0;
  };

  std::recursive_mutex lock_;
  Pin pin_;
};

class NumberingCallback final : public ISampleGrabberCB {
 public:
  HRESULT QueryInterface(REFIID iid, void** object) override {
    *object = iid == IID_IUnknown || iid == IID_ISampleGrabberCB ? this : nullptr;
    return *object ? S_OK : E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT SampleCB(double, IMediaSample*) override { return S_OK; }
  HRESULT BufferCB(double, BYTE* buffer, LONG length) override {
    std::lock_guard lock(mutex_);
    numbers_.push_back(ReadNumber(type_, std::vector<uint8_t>(buffer, buffer + length)));
    return S_OK;
  }
  void SetType(const CMediaType& type) { type_ = type; }
  void Clear() {
    std::lock_guard lock(mutex_);
    numbers_.clear();
  }
  std::vector<int> Numbers() {
    std::lock_guard lock(mutex_);
    return numbers_;
  }

 private:
  std::mutex mutex_;
  CMediaType type_;
  std::vector<int> numbers_;
};

// The two output types a capture program asks of the demultiplexer for a hardware encoder.
CMediaType VideoOutType() {
  CMediaType mt;
  mt.SetType(MEDIATYPE_Video);
  mt.SetSubtype(MEDIASUBTYPE_MPEG2_VIDEO);
  mt.SetFormatType(FORMAT_MPEG2Video);
  auto* info = reinterpret_cast<MPEG2VIDEOINFO*>(mt.AllocFormatBuffer(sizeof(MPEG2VIDEOINFO)));
  info->dwProfile = 2;
  info->dwLevel = 2;
  mt.bFixedSizeSamples = 0;
  mt.SetTemporalCompression(true);
  mt.lSampleSize = 0;
  return mt;
}

CMediaType AudioOutType() {
  CMediaType mt;
  mt.SetType(MEDIATYPE_Audio);
  mt.SetSubtype(MEDIASUBTYPE_MPEG1AudioPayload);
  mt.SetFormatType(FORMAT_WaveFormatEx);
  auto* wfx = reinterpret_cast<MPEG1WAVEFORMAT*>(mt.AllocFormatBuffer(sizeof(MPEG1WAVEFORMAT)));
  wfx->wfx.wFormatTag = 0x50;
  wfx->wfx.nChannels = 2;
  wfx->wfx.nSamplesPerSec = 48000;
  wfx->wfx.cbSize = 22;
  return mt;
}

template <typename T>
ComPtr<T> Make(T* made) {
  made->NonDelegatingAddRef();
  return ComPtr<T>::Attach(made);
}

class Mpeg2Demultiplexer : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    registry::SetRegistryDirectory(dir_.filePath("registry"));
    graph::EnsureGraphClassesRegistered();
    ASSERT_EQ(RegisterSourceFilters(), S_OK);
  }
  void TearDown() override { registry::SetRegistryDirectory({}); }

  QByteArray WriteProgramStream() {
    tools::ClipSpec clip;
    clip.path = dir_.filePath("clip.vob");
    clip.codec = "mpeg2video";
    clip.size = {720, 576};
    clip.frames = kFrames;
    clip.gop = 6;
    clip.bFrames = 2;
    clip.audio = true;
    clip.audioCodec = "mp2";
    clip.audioRate = 48000;
    clip.audioChannels = 2;
    QString error;
    EXPECT_TRUE(tools::WriteClip(clip, &error)) << error.toStdString();
    QFile file(clip.path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
  }

  template <typename T = IBaseFilter>
  ComPtr<T> Create(REFCLSID clsid, REFIID iid = IID_IBaseFilter) {
    ComPtr<T> made;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, made.PutVoid()), S_OK);
    return made;
  }

  QTemporaryDir dir_;
};

TEST_F(Mpeg2Demultiplexer, DeliversTheMappedStreamsOfAProgramStreamInOrder) {
  NumberingCallback callback;  // outlives the graph that calls it
  const QByteArray stream = WriteProgramStream();
  ASSERT_GT(stream.size(), 0);
  auto graph = Create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
  ComPtr<IMediaControl> control;
  ASSERT_EQ(graph.As(IID_IMediaControl, &control), S_OK);
  ComPtr<IMediaFilter> clockless;
  ASSERT_EQ(graph.As(IID_IMediaFilter, &clockless), S_OK);
  ASSERT_EQ(clockless->SetSyncSource(nullptr), S_OK);

  auto source = Make(new CByteStreamSource(stream));
  auto demux = Create(CLSID_MPEG2Demultiplexer);
  auto grabberFilter = Create(CLSID_SampleGrabber);
  auto renderer = Create(CLSID_NullRenderer);
  auto sound = Make(new CCollector([](const CMediaType& mt) { return mt.subtype == MEDIASUBTYPE_PCM; }));
  ASSERT_EQ(graph->AddFilter(source.Get(), u"Encoder"), S_OK);
  ASSERT_EQ(graph->AddFilter(demux.Get(), u"MPEG-2 Demultiplexer"), S_OK);
  ASSERT_EQ(graph->AddFilter(grabberFilter.Get(), u"Grabber"), S_OK);
  ASSERT_EQ(graph->AddFilter(renderer.Get(), u"Null Renderer"), S_OK);
  ASSERT_EQ(graph->AddFilter(sound.Get(), u"Sound"), S_OK);

  ComPtr<IPin> input;
  ASSERT_EQ(demux->FindPin(u"MPEG-2 Stream", input.Put()), S_OK);
  ASSERT_EQ(graph->ConnectDirect(source->Output(), input.Get(), nullptr), S_OK);

  ComPtr<IMpeg2Demultiplexer> outputs;
  ASSERT_EQ(demux.As(IID_IMpeg2Demultiplexer, &outputs), S_OK);
  CMediaType videoType = VideoOutType(), audioType = AudioOutType();
  char16_t videoName[] = u"Video Out", audioName[] = u"Audio Out";
  ComPtr<IPin> video, audio;
  ASSERT_EQ(outputs->CreateOutputPin(&videoType, videoName, video.Put()), S_OK);
  ASSERT_EQ(outputs->CreateOutputPin(&audioType, audioName, audio.Put()), S_OK);
  for (auto [pin, id] : {std::pair{video.Get(), 0xE0u}, std::pair{audio.Get(), 0xC0u}}) {
    ComPtr<IMPEG2StreamIdMap> map;
    ASSERT_EQ(pin->QueryInterface(IID_IMPEG2StreamIdMap, map.PutVoid()), S_OK);
    ASSERT_EQ(map->MapStreamId(id, MPEG2_PROGRAM_ELEMENTARY_STREAM, 0, 0), S_OK);
  }

  ComPtr<ISampleGrabber> grabber;
  ASSERT_EQ(grabberFilter.As(IID_ISampleGrabber, &grabber), S_OK);
  CMediaType wanted;
  wanted.majortype = MEDIATYPE_Video;
  wanted.subtype = MEDIASUBTYPE_RGB24;
  ASSERT_EQ(grabber->SetMediaType(&wanted), S_OK);
  ASSERT_EQ(grabber->SetCallback(&callback, 1), S_OK);
  ComPtr<IPin> grabberIn, grabberOut, rendererIn;
  grabberFilter->FindPin(u"Input", grabberIn.Put());
  grabberFilter->FindPin(u"Output", grabberOut.Put());
  renderer->FindPin(u"In", rendererIn.Put());
  // The decoders come in by themselves, as they would behind a hardware encoder.
  ASSERT_EQ(graph->Connect(video.Get(), grabberIn.Get()), S_OK);
  ASSERT_EQ(graph->Connect(grabberOut.Get(), rendererIn.Get()), S_OK);
  ASSERT_EQ(graph->Connect(audio.Get(), sound->Input()), S_OK);

  AM_MEDIA_TYPE connected{};
  ASSERT_EQ(grabber->GetConnectedMediaType(&connected), S_OK);
  callback.SetType(CMediaType(connected));
  FreeMediaType(connected);

  ComPtr<IMediaEventEx> events;
  ASSERT_EQ(graph.As(IID_IMediaEventEx, &events), S_OK);
  ASSERT_EQ(control->Run(), S_OK);
  LONG code = 0;
  LONG_PTR a = 0, b = 0;
  while (code != EC_COMPLETE) ASSERT_EQ(events->GetEvent(&code, &a, &b, 10000), S_OK);
  ASSERT_TRUE(sound->WaitForEndOfStream());
  control->Stop();

  std::vector<int> expected;
  for (int i = 0; i < kFrames; ++i) expected.push_back(i);
  EXPECT_EQ(callback.Numbers(), expected);
  // The sound lasts as long as the pictures, to within one coded audio frame.
  size_t bytes = 0;
  for (const ReceivedSample& s : sound->Samples()) bytes += s.bytes.size();
  const double seconds = double(bytes) / (48000 * 4);
  EXPECT_NEAR(seconds, kFrames / 25.0, 1152.0 / 48000 + 0.001);

  // Stopped and run again (a preview restarted), the stream is demultiplexed afresh.
  callback.Clear();
  ASSERT_EQ(control->Run(), S_OK);
  code = 0;
  while (code != EC_COMPLETE) ASSERT_EQ(events->GetEvent(&code, &a, &b, 10000), S_OK);
  control->Stop();
  EXPECT_EQ(callback.Numbers(), expected);
}

TEST_F(Mpeg2Demultiplexer, OutputPinsAreMadeNamedAndDeletedByTheCaller) {
  auto demux = Create(CLSID_MPEG2Demultiplexer);
  ComPtr<IMpeg2Demultiplexer> outputs;
  ASSERT_EQ(demux.As(IID_IMpeg2Demultiplexer, &outputs), S_OK);
  CMediaType videoType = VideoOutType(), audioType = AudioOutType();
  char16_t videoName[] = u"Video Out", missing[] = u"Nothing";
  ComPtr<IPin> video, again;
  ASSERT_EQ(outputs->CreateOutputPin(&videoType, videoName, video.Put()), S_OK);
  EXPECT_EQ(outputs->CreateOutputPin(&audioType, videoName, again.Put()), E_INVALIDARG);  // names are unique
  EXPECT_EQ(outputs->SetOutputPinMediaType(missing, &audioType), VFW_E_NOT_FOUND);
  EXPECT_EQ(outputs->DeleteOutputPin(missing), VFW_E_NOT_FOUND);

  ComPtr<IPin> found;
  ASSERT_EQ(demux->FindPin(u"Video Out", found.Put()), S_OK);
  EXPECT_EQ(found.Get(), video.Get());
  ASSERT_EQ(outputs->SetOutputPinMediaType(videoName, &audioType), S_OK);
  ComPtr<IEnumMediaTypes> types;
  ASSERT_EQ(video->EnumMediaTypes(types.Put()), S_OK);
  AM_MEDIA_TYPE* offered = nullptr;
  ULONG fetched = 0;
  ASSERT_EQ(types->Next(1, &offered, &fetched), S_OK);
  EXPECT_TRUE(offered->majortype == MEDIATYPE_Audio);
  DeleteMediaType(offered);

  // Only the payload of mapped streams is delivered; other contents are refused, not ignored.
  ComPtr<IMPEG2StreamIdMap> map;
  ASSERT_EQ(video->QueryInterface(IID_IMPEG2StreamIdMap, map.PutVoid()), S_OK);
  EXPECT_EQ(map->MapStreamId(0xE0, MPEG2_PROGRAM_PES_STREAM, 0, 0), E_NOTIMPL);
  EXPECT_EQ(map->MapStreamId(0x1E0, MPEG2_PROGRAM_ELEMENTARY_STREAM, 0, 0), E_INVALIDARG);
  ASSERT_EQ(map->MapStreamId(0xE0, MPEG2_PROGRAM_ELEMENTARY_STREAM, 0, 0), S_OK);
  ComPtr<IEnumStreamIdMap> maps;
  ASSERT_EQ(map->EnumStreamIdMap(maps.Put()), S_OK);
  STREAM_ID_MAP entry{};
  ASSERT_EQ(maps->Next(1, &entry, &fetched), S_OK);
  EXPECT_EQ(entry.stream_id, 0xE0u);
  EXPECT_EQ(maps->Next(1, &entry, &fetched), S_FALSE);
  ULONG id = 0xE0;
  ASSERT_EQ(map->UnmapStreamId(1, &id), S_OK);
  maps.Reset();
  ASSERT_EQ(map->EnumStreamIdMap(maps.Put()), S_OK);
  EXPECT_EQ(maps->Next(1, &entry, &fetched), S_FALSE);

  ASSERT_EQ(outputs->DeleteOutputPin(videoName), S_OK);
  found.Reset();
  EXPECT_NE(demux->FindPin(u"Video Out", found.Put()), S_OK);
  // The deleted pin still answers whoever holds it.
  PIN_DIRECTION direction;
  EXPECT_EQ(video->QueryDirection(&direction), S_OK);
}

TEST_F(Mpeg2Demultiplexer, IsFoundByNameInTheFilterCategory) {
  ComPtr<ICreateDevEnum> devices = Create<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum);
  ComPtr<IEnumMoniker> monikers;
  ASSERT_EQ(devices->CreateClassEnumerator(CLSID_LegacyAmFilterCategory, monikers.Put(), 0), S_OK);
  IMoniker* m = nullptr;
  ULONG fetched = 0;
  ComPtr<IBaseFilter> found;
  while (!found && monikers->Next(1, &m, &fetched) == S_OK) {
    ComPtr<IMoniker> moniker = ComPtr<IMoniker>::Attach(m);
    ComPtr<IPropertyBag> bag;
    ASSERT_EQ(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid()), S_OK);
    VARIANT value;
    VariantInit(&value);
    if (FAILED(bag->Read(u"FriendlyName", &value, nullptr))) continue;
    const QString name = QString::fromUtf16(value.bstrVal, SysStringLen(value.bstrVal));
    VariantClear(&value);
    if (name.contains("MPEG-2 Demultiplexer")) {
      ASSERT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, found.PutVoid()), S_OK);
    }
  }
  ASSERT_TRUE(found);
  ComPtr<IMpeg2Demultiplexer> outputs;
  EXPECT_EQ(found.As(IID_IMpeg2Demultiplexer, &outputs), S_OK);
}

}  // namespace
}  // namespace kestrom::dshow
