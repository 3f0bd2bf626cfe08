// The filters of the companion module "tfcatch.so", loaded as the engine loads it and run in small
// graphs: the push source feeds known pictures, the transform turns them, the grabbers see, drop,
// shift and convert them, and the raw writer stores the stream.
#include "capture/filters/CompanionFilters.h"
#include "capture/filters/PictureProcessing.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/ControlInterfaces.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/base/MediaType.h"
#include "platform/dshow/graph/GraphClasses.h"
#include "platform/registry/Registry.h"
#include "tests/TestSupport.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTransform>
#include <cstring>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

namespace kestrom::filters {
namespace {

using com::ComPtr;
using com::S_OK;
using namespace dshow;

// ---- pixel work ----

/** @brief A small RGB picture whose every pixel differs, as a top-down QImage. */
QImage Distinct(int width, int height) {
  QImage image(width, height, QImage::Format_RGB888);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) image.setPixel(x, y, qRgb(x * 40 + 1, y * 50 + 2, x * 7 + y * 11 + 3));
  return image;
}

/** @brief The picture as the filters hold it: blue, green, red, bottom row first, rows padded to 4 bytes. */
std::vector<uint8_t> Bitmap(const QImage& image, int bpp) {
  const int stride = RgbStride(image.width(), bpp * 8);
  std::vector<uint8_t> bits(static_cast<size_t>(stride) * image.height(), 0);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QRgb c = image.pixel(x, y);
      uint8_t* p = bits.data() + static_cast<size_t>(image.height() - 1 - y) * stride + x * bpp;
      p[0] = static_cast<uint8_t>(qBlue(c));
      p[1] = static_cast<uint8_t>(qGreen(c));
      p[2] = static_cast<uint8_t>(qRed(c));
    }
  return bits;
}

/** @brief Each rotation value against the same turn made by QImage (clockwise quarter turns, then mirrored). */
QImage Expected(const QImage& image, int rotation) {
  QImage turned = image.transformed(QTransform().rotate(90.0 * (rotation & 3)));
  return rotation >= 4 ? turned.mirrored(true, false) : turned;
}

TEST(CompanionFilters, EveryRotationMatchesTheTurnedPictureForBothDepths) {
  const QImage picture = Distinct(5, 3);
  for (int bpp : {3, 4})
    for (int rotation = 0; rotation < 8; ++rotation) {
      SCOPED_TRACE(testing::Message() << "bpp " << bpp << " rotation " << rotation);
      const QImage expected = Expected(picture, rotation);
      std::vector<uint8_t> in = Bitmap(picture, bpp);
      std::vector<uint8_t> out(Bitmap(expected, bpp).size(), 0);  // row padding is left alone
      const int inStride = RgbStride(5, bpp * 8), outStride = RgbStride(expected.width(), bpp * 8);
      const PictureView inView{in.data() + 2 * inStride, 5, 3, -inStride, bpp};
      const PictureView outView{out.data() + (expected.height() - 1) * outStride, expected.width(), expected.height(),
                                -outStride, bpp};
      RotatePicture(inView, outView, rotation);
      EXPECT_EQ(out, Bitmap(expected, bpp));
    }
}

TEST(CompanionFilters, ColourSettingsMapPixelsAsTheTrackBarsSay) {
  struct Row {
    const char* what;
    ColourSettings settings;
    int in[3];
    int out[3];
  };
  const Row rows[] = {
      {"nothing changes", {}, {10, 200, 30}, {10, 200, 30}},
      {"invert", {0, 0, 0, 0, false, true}, {10, 200, 30}, {245, 55, 225}},
      {"grey scale keeps luma", {0, 0, 0, 0, true, false}, {255, 0, 0}, {76, 76, 76}},
      {"saturation -128 is grey", {0, 0, -128, 0, false, false}, {0, 255, 0}, {150, 150, 150}},
      {"brightness adds", {40, 0, 0, 0, false, false}, {10, 240, 100}, {50, 255, 140}},
      {"contrast 128 doubles about mid grey", {0, 128, 0, 0, false, false}, {100, 160, 128}, {72, 192, 128}},
      {"contrast -128 is mid grey", {0, -128, 0, 0, false, false}, {0, 255, 7}, {128, 128, 128}},
      {"hue leaves grey alone", {0, 0, 0, 77, false, false}, {90, 90, 90}, {90, 90, 90}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    int r = row.in[0], g = row.in[1], b = row.in[2];
    ColourMatrix(row.settings).Map(r, g, b);
    EXPECT_EQ(r, row.out[0]);
    EXPECT_EQ(g, row.out[1]);
    EXPECT_EQ(b, row.out[2]);
  }
  // Half a turn either way is the same turn; a colour turned changes.
  int r1 = 200, g1 = 40, b1 = 20, r2 = 200, g2 = 40, b2 = 20, r3 = 200, g3 = 40, b3 = 20;
  ColourMatrix(ColourSettings{0, 0, 0, 128}).Map(r1, g1, b1);
  ColourMatrix(ColourSettings{0, 0, 0, -128}).Map(r2, g2, b2);
  ColourMatrix(ColourSettings{0, 0, 0, 40}).Map(r3, g3, b3);
  EXPECT_EQ(std::vector<int>({r1, g1, b1}), std::vector<int>({r2, g2, b2}));
  EXPECT_NE(std::vector<int>({r3, g3, b3}), std::vector<int>({200, 40, 20}));
}

// ---- the module in graphs ----

/**
 * @brief The module, loaded once as the engine loads it: by path, its libraries by soname among
 * those already loaded (this program uses the layer's library itself before it loads the module).
 */
void* Module() {
  [[maybe_unused]] static const CMediaType layerInUse = MakeRgbVideoType(24, 2, 2, 0);
  static void* handle = ::dlopen(QFile::encodeName(test::BinPath("tfcatch.so")).constData(), RTLD_NOW | RTLD_LOCAL);
  return handle;
}

ComPtr<IBaseFilter> Create(const char* exportName) {
  ComPtr<IBaseFilter> filter;
  auto create = reinterpret_cast<CreateFilterFunction>(Module() ? ::dlsym(Module(), exportName) : nullptr);
  if (create) create(filter.Put());
  return filter;
}

template <class I>
ComPtr<I> Query(IBaseFilter* filter, const com::IID& iid) {
  ComPtr<I> result;
  if (filter) filter->QueryInterface(iid, result.PutVoid());
  return result;
}

ComPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION direction) {
  ComPtr<IEnumPins> pins;
  filter->EnumPins(pins.Put());
  ComPtr<IPin> pin;
  ULONG n = 0;
  while (pins->Next(1, pin.Put(), &n) == S_OK) {
    PIN_DIRECTION d;
    pin->QueryDirection(&d);
    if (d == direction) return pin;
  }
  return {};
}

/** @brief The pictures the push source gives: frame i is the base picture with its first byte set to i. */
struct Feed {
  QImage picture;
  int bpp = 3;
  int frames = 6;
  int given = 0;
  std::function<void(int)> before;  // runs before frame i is given
  std::vector<uint8_t> pushed;      // every byte given, in order
  std::vector<uint8_t> raw;         // given instead of the picture when set
  bool stamp = true;                // the first byte carries the frame's number
  std::vector<const BYTE*> buffers = {};  // the source's buffer of each frame

  static HRESULT Fill(void* data, BYTE* buffer, LONG size, BOOL* end) {
    auto* feed = static_cast<Feed*>(data);
    if (feed->given == feed->frames) {
      *end = 1;
      return S_OK;
    }
    if (feed->before) feed->before(feed->given);
    std::vector<uint8_t> bits = feed->raw.empty() ? Bitmap(feed->picture, feed->bpp) : feed->raw;
    if (feed->stamp) bits[0] = static_cast<uint8_t>(feed->given);
    ++feed->given;
    feed->buffers.push_back(buffer);
    const size_t n = std::min(bits.size(), static_cast<size_t>(size));
    std::memcpy(buffer, bits.data(), n);
    feed->pushed.insert(feed->pushed.end(), bits.begin(), bits.begin() + static_cast<std::ptrdiff_t>(n));
    return S_OK;
  }
  static HRESULT Format(void* data, LONG* size, BYTE** format, BYTE** buffer) {
    auto* feed = static_cast<Feed*>(data);
    auto* header = static_cast<BITMAPINFOHEADER*>(com::CoTaskMemAlloc(sizeof(BITMAPINFOHEADER)));
    *header = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), feed->picture.width(), feed->picture.height(), 1,
                               static_cast<WORD>(feed->bpp * 8), BI_RGB, 0, 0, 0, 0, 0};
    *size = sizeof(BITMAPINFOHEADER);
    *format = reinterpret_cast<BYTE*>(header);
    *buffer = reinterpret_cast<BYTE*>(header);
    return S_OK;
  }
};

/** @brief What grabber callbacks saw. */
struct Seen {
  std::mutex mutex;
  std::vector<std::vector<uint8_t>> samples;
  std::vector<const BYTE*> buffers;  // where each sample's bytes were
  std::vector<REFERENCE_TIME> starts;
  std::vector<bool> discontinuities;
  std::vector<std::vector<int32_t>> dates;
  std::vector<std::vector<uint8_t>> frames;
  BITMAPINFOHEADER frameHeader{};

  static void Sample(void* owner, BOOL, IMediaSample* sample, const AM_MEDIA_TYPE*, int32_t, int32_t, int32_t,
                     int32_t) {
    auto* seen = static_cast<Seen*>(owner);
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    REFERENCE_TIME start = 0, stop = 0;
    sample->GetTime(&start, &stop);
    std::lock_guard lock(seen->mutex);
    seen->samples.emplace_back(data, data + sample->GetActualDataLength());
    seen->buffers.push_back(data);
    seen->starts.push_back(start);
    seen->discontinuities.push_back(sample->IsDiscontinuity() == S_OK);
  }
  static void FrameTime(void* owner, int32_t, IMediaSample*, int64_t time, int32_t, int32_t) {
    auto* seen = static_cast<Seen*>(owner);
    std::lock_guard lock(seen->mutex);
    seen->starts.push_back(time);
  }
  static void Date(void* owner, const int32_t* values) {
    auto* seen = static_cast<Seen*>(owner);
    std::lock_guard lock(seen->mutex);
    seen->dates.emplace_back(values, values + 6);
  }
  static void Frame(void* owner, IMediaSample*, const BITMAPINFOHEADER* header, BYTE* bits, LONG length) {
    auto* seen = static_cast<Seen*>(owner);
    std::lock_guard lock(seen->mutex);
    seen->frames.emplace_back(bits, bits + length);
    seen->buffers.push_back(bits);
    seen->frameHeader = *header;
  }
};

class CompanionFiltersGraph : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    registry::SetRegistryDirectory(dir_.path());
    ASSERT_NE(Module(), nullptr) << ::dlerror();
    ASSERT_EQ(com::CoCreateInstance(CLSID_FilterGraph, nullptr, com::CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                    graph_.PutVoid()),
              S_OK);
  }
  void TearDown() override {
    graph_.Reset();
    registry::SetRegistryDirectory({});
  }

  /** @brief The push source on the feed, in the graph. */
  ComPtr<IPin> Source(Feed& feed) {
    ComPtr<IBaseFilter> source = Create(kCreatePushSource);
    auto settings = Query<IPushSourceSettings>(source.Get(), IID_IPushSourceSettings);
    EXPECT_TRUE(settings);
    TPushSourceRecord record;
    record.framesPerSecond = 100;
    record.fill = &Feed::Fill;
    record.fillData = &feed;
    record.format = &Feed::Format;
    EXPECT_EQ(settings->SetSettings(&record), S_OK);
    return Add(source, u"PushSrc");
  }
  ComPtr<IPin> Add(const ComPtr<IBaseFilter>& filter, const char16_t* name) {
    EXPECT_TRUE(filter);
    EXPECT_TRUE(com::SUCCEEDED(graph_->AddFilter(filter.Get(), name)));
    return PinOf(filter.Get(), PINDIR_OUTPUT);
  }
  /** @brief Connects the chain to the filter's input; the chain becomes its output. */
  bool Splice(ComPtr<IPin>& chain, IBaseFilter* filter) {
    ComPtr<IPin> input = PinOf(filter, PINDIR_INPUT);
    if (!input || graph_->ConnectDirect(chain.Get(), input.Get(), nullptr) != S_OK) return false;
    chain = PinOf(filter, PINDIR_OUTPUT);
    return true;
  }
  /** @brief A grabber of the kind with the callbacks into seen, spliced into the chain. */
  ComPtr<IGrabberControl> Grabber(ComPtr<IPin>& chain, int kind, Seen& seen, int rgbFormat = 2,
                                  const std::function<void(TGrabberConfig&)>& adjust = {}) {
    ComPtr<IBaseFilter> grabber = Create(kind == gk_RGB ? kCreateGrabber : kCreateGrabberNoModify);
    auto control = Query<IGrabberControl>(grabber.Get(), IID_IGrabberControl);
    TGrabberConfig* c = nullptr;
    EXPECT_EQ(control->GetConfig(kind, &c), S_OK);
    EXPECT_EQ(c->version, kGrabberConfigVersion);
    for (uint8_t& e : c->enable) e = 1;
    c->owner = &seen;
    c->sample = &Seen::Sample;
    c->frameTime = &Seen::FrameTime;
    c->dvDate = &Seen::Date;
    c->frame = &Seen::Frame;
    c->rgbFormat = rgbFormat;
    if (adjust) adjust(*c);
    control->ApplyConfig();
    Add(grabber, u"grabber");
    EXPECT_TRUE(Splice(chain, grabber.Get()));
    return control;
  }
  /** @brief Ends the chain in the raw writer writing file. */
  void Write(ComPtr<IPin>& chain, const QString& file) {
    ComPtr<IBaseFilter> writer = Create(kCreateRawWriter);
    auto sink = Query<IFileSinkFilter>(writer.Get(), IID_IFileSinkFilter);
    ASSERT_TRUE(sink);
    ASSERT_EQ(sink->SetFileName(file.toStdU16String().c_str(), nullptr), S_OK);
    Add(writer, u"RwCapFilter");
    ASSERT_TRUE(Splice(chain, writer.Get()));
  }
  void NewGraph() {
    graph_.Reset();
    ASSERT_EQ(com::CoCreateInstance(CLSID_FilterGraph, nullptr, com::CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                    graph_.PutVoid()),
              S_OK);
  }
  void RunToEnd() {
    ComPtr<IMediaControl> mc;
    ComPtr<IMediaEvent> events;
    ASSERT_EQ(graph_->QueryInterface(IID_IMediaControl, mc.PutVoid()), S_OK);
    ASSERT_EQ(graph_->QueryInterface(IID_IMediaEvent, events.PutVoid()), S_OK);
    ASSERT_EQ(mc->Run(), S_OK);
    LONG code = 0;
    EXPECT_EQ(events->WaitForCompletion(10000, &code), S_OK);
    mc->Stop();
  }
  QString File(const char* name) const { return dir_.filePath(name); }
  static QByteArray Read(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

  QTemporaryDir dir_;
  ComPtr<IGraphBuilder> graph_;
};

TEST_F(CompanionFiltersGraph, TheRawWriterStoresThePushedStreamByteForByte) {
  Feed feed{Distinct(6, 4)};
  ComPtr<IPin> chain = Source(feed);
  Write(chain, File("raw.bin"));
  RunToEnd();
  const QByteArray written = Read(File("raw.bin"));
  ASSERT_EQ(feed.given, feed.frames);
  EXPECT_EQ(written, QByteArray(reinterpret_cast<const char*>(feed.pushed.data()), static_cast<int>(feed.pushed.size())));
}

TEST_F(CompanionFiltersGraph, TheTransformTurnsOrHalvesEveryFrame) {
  const QImage picture = Distinct(6, 4);
  for (int rotation : {1, 2, 3, 4, 7, -1}) {  // -1: half size
    SCOPED_TRACE(rotation);
    graph_.Reset();
    ASSERT_EQ(com::CoCreateInstance(CLSID_FilterGraph, nullptr, com::CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                    graph_.PutVoid()),
              S_OK);
    Feed feed{picture, 3, 2};
    feed.stamp = false;
    Seen seen;
    ComPtr<IPin> chain = Source(feed);
    ComPtr<IBaseFilter> transform = Create(kCreateTransform);
    auto settings = Query<ITransformSettings>(transform.Get(), IID_ITransformSettings);
    TTransformSettings s;
    s.rotation = rotation < 0 ? 0 : rotation;
    s.halfSize = rotation < 0;
    s.active = 1;
    ASSERT_EQ(settings->SetSettings(&s), S_OK);
    Add(transform, u"TrnfFltr");
    ASSERT_TRUE(Splice(chain, transform.Get()));
    Grabber(chain, gk_Sample, seen);
    Write(chain, File("turned.bin"));
    RunToEnd();
    ASSERT_EQ(seen.samples.size(), 2u);
    QImage expected;
    if (rotation < 0) {
      // One field: every second row and pixel, from the first row in memory (the bottom one shown).
      expected = QImage(3, 2, QImage::Format_RGB888);
      for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) expected.setPixel(x, 1 - y, picture.pixel(2 * x + 1, 3 - 2 * y));
    } else {
      expected = Expected(picture, rotation);
    }
    EXPECT_EQ(seen.samples[1], Bitmap(expected, 3));
  }
}

TEST_F(CompanionFiltersGraph, SampleAndNotifyGrabbersReportEveryFrameUnchanged) {
  Feed feed{Distinct(4, 2)};
  Seen samples, times;
  ComPtr<IPin> chain = Source(feed);
  Grabber(chain, gk_Sample, samples);
  Grabber(chain, gk_Notify, times);
  Write(chain, File("out.bin"));
  RunToEnd();
  ASSERT_EQ(samples.samples.size(), 6u);
  for (int i = 0; i < 6; ++i) {
    std::vector<uint8_t> bits = Bitmap(feed.picture, 3);
    bits[0] = static_cast<uint8_t>(i);
    EXPECT_EQ(samples.samples[i], bits) << i;
    EXPECT_EQ(times.starts[i], i * 100000) << i;  // 100 frames a second
  }
}

// Frames 2, 3 and 4 come while the recording is paused.
TEST_F(CompanionFiltersGraph, PausingGrabbersDropSamplesAndShiftOrAskForAKeyFrame) {
  for (int kind : {gk_Lock, gk_LockAndShift, gk_Clear}) {
    SCOPED_TRACE(kind);
    graph_.Reset();
    ASSERT_EQ(com::CoCreateInstance(CLSID_FilterGraph, nullptr, com::CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                    graph_.PutVoid()),
              S_OK);
    Feed feed{Distinct(4, 2)};
    Seen seen, unused;
    ComPtr<IPin> chain = Source(feed);
    ComPtr<IGrabberControl> pausing = Grabber(chain, kind, unused);
    Grabber(chain, gk_Sample, seen);
    feed.before = [&](int i) {
      if (i == 2) pausing->SetPaused(1);
      if (i == 5) pausing->SetPaused(0);
    };
    Write(chain, File("paused.bin"));
    RunToEnd();
    std::vector<int> numbers;
    for (const auto& s : seen.samples) numbers.push_back(s[0]);
    EXPECT_EQ(numbers, (std::vector<int>{0, 1, 5}));
    const std::vector<REFERENCE_TIME> expectedStarts =
        kind == gk_LockAndShift ? std::vector<REFERENCE_TIME>{0, 100000, 200000}
                                : std::vector<REFERENCE_TIME>{0, 100000, 500000};
    EXPECT_EQ(seen.starts, expectedStarts);
    EXPECT_EQ(seen.discontinuities.back(), kind == gk_Clear);
  }
}

// Grabbers that leave a sample's bytes alone hand on the source's own buffer; those whose output
// differs, or whose callbacks give the bytes to the application, deliver a copy.
TEST_F(CompanionFiltersGraph, GrabbersThatLeaveTheBytesAloneHandOnTheSourcesBuffers) {
  struct Row {
    const char* what;
    int kind, rgbFormat;
    bool invert, passes;
  };
  const Row rows[] = {{"notify", gk_Notify, 2, false, true},
                      {"lock", gk_Lock, 2, false, true},
                      {"lock and shift", gk_LockAndShift, 2, false, true},
                      {"DV data", gk_DvData, 2, false, true},
                      {"clear", gk_Clear, 2, false, true},
                      {"frame grabber, RGB24 as given", gk_RGB, 2, false, true},
                      {"frame grabber, to RGB32", gk_RGB, 1, false, false},
                      {"frame grabber, inverting", gk_RGB, 2, true, false},
                      {"sample", gk_Sample, 2, false, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    NewGraph();
    Feed feed{Distinct(4, 2), 3, 3};
    Seen seen, after;
    ComPtr<IPin> chain = Source(feed);
    Grabber(chain, row.kind, seen, row.rgbFormat, [&](TGrabberConfig& c) { c.invert = row.invert; });
    Grabber(chain, gk_Sample, after);
    Write(chain, File("passed.bin"));
    RunToEnd();
    ASSERT_EQ(after.samples.size(), 3u);
    ASSERT_EQ(feed.buffers.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(after.buffers[i] == feed.buffers[i], row.passes) << i;
      if (row.kind == gk_RGB) {
        ASSERT_EQ(seen.frames.size(), 3u);
        // The frame callback gets the very bytes that go on.
        EXPECT_EQ(seen.buffers[i] == feed.buffers[i], row.passes) << i;
      }
      if (row.passes) {
        std::vector<uint8_t> bits = Bitmap(feed.picture, 3);
        bits[0] = static_cast<uint8_t>(i);
        EXPECT_EQ(after.samples[i], bits) << i;
      }
    }
  }
}

// An Infinite Pin Tee hands one sample to both branches. The branch whose grabber takes the
// paused time off later samples changes a copy, and a frame grabber there works on a copy too
// (its callback may draw into the frame): the other branch sees the source's frames unchanged.
TEST_F(CompanionFiltersGraph, OnASampleATeeSharesAGrabberChangesOnlyItsOwnCopy) {
  Feed feed{Distinct(4, 2)};
  Seen shifted, plain, grabbed, unused;
  ComPtr<IPin> chain = Source(feed);
  graph::EnsureGraphClassesRegistered();
  ComPtr<IBaseFilter> tee;
  ASSERT_EQ(com::CoCreateInstance(CLSID_InfTee, nullptr, com::CLSCTX_INPROC_SERVER, IID_IBaseFilter, tee.PutVoid()),
            S_OK);
  Add(tee, u"Inf Tee");
  ASSERT_TRUE(Splice(chain, tee.Get()));
  ComPtr<IPin> first = chain;
  ComPtr<IGrabberControl> pausing = Grabber(first, gk_LockAndShift, unused);
  Grabber(first, gk_RGB, grabbed);
  Grabber(first, gk_Sample, shifted);
  Write(first, File("shifted.bin"));
  ComPtr<IPin> second;  // the output the tee keeps free
  ComPtr<IEnumPins> pins;
  tee->EnumPins(pins.Put());
  for (ComPtr<IPin> pin; pins->Next(1, pin.Put(), nullptr) == S_OK;) {
    PIN_DIRECTION d;
    ComPtr<IPin> peer;
    if (pin->QueryDirection(&d) == S_OK && d == PINDIR_OUTPUT && pin->ConnectedTo(peer.Put()) != S_OK) second = pin;
  }
  ASSERT_TRUE(second);
  Grabber(second, gk_Sample, plain);
  Write(second, File("plain.bin"));
  feed.before = [&](int i) {
    if (i == 2) pausing->SetPaused(1);
    if (i == 5) pausing->SetPaused(0);
  };
  RunToEnd();
  EXPECT_EQ(shifted.starts, (std::vector<REFERENCE_TIME>{0, 100000, 200000}));
  ASSERT_EQ(plain.samples.size(), 6u);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(plain.starts[static_cast<size_t>(i)], i * 100000) << i;
    EXPECT_EQ(plain.buffers[static_cast<size_t>(i)], feed.buffers[static_cast<size_t>(i)]) << i;
  }
  ASSERT_EQ(grabbed.buffers.size(), 3u);
  for (size_t i = 0; i < 3; ++i) EXPECT_NE(grabbed.buffers[i], feed.buffers[i < 2 ? i : 5]) << i;
}

TEST_F(CompanionFiltersGraph, TheDvGrabberReadsTheRecordingDatePacks) {
  // 480 bytes, six DIF blocks of 80; the second is video auxiliary data with the date and time packs.
  Feed feed{QImage(80, 2, QImage::Format_RGB888), 3, 1};
  feed.raw.assign(480, 0);
  const uint8_t packs[] = {0x50, 0, 0, 0x62, 0xFF, 0x29, 0x02, 0x04, 0x63, 0x00, 0x58, 0x34, 0x12};
  std::memcpy(feed.raw.data() + 80, packs, sizeof packs);
  Seen seen;
  ComPtr<IPin> chain = Source(feed);
  Grabber(chain, gk_DvData, seen);
  Write(chain, File("dv.bin"));
  RunToEnd();
  ASSERT_EQ(seen.dates.size(), 1u);
  EXPECT_EQ(seen.dates[0], (std::vector<int32_t>{2004, 2, 29, 12, 34, 58}));
}

TEST_F(CompanionFiltersGraph, TheFrameGrabberConvertsAndProcessesIntoTheAskedFormat) {
  const QImage picture = Distinct(5, 3);
  struct Row {
    const char* what;
    int rgbFormat;
    int bits;
  };
  for (const Row& row : {Row{"RGB32", 1, 32}, Row{"RGB24", 2, 24}, Row{"RGB565", 3, 16}}) {
    SCOPED_TRACE(row.what);
    graph_.Reset();
    ASSERT_EQ(com::CoCreateInstance(CLSID_FilterGraph, nullptr, com::CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                    graph_.PutVoid()),
              S_OK);
    Feed feed{picture, 3, 1};
    Seen seen;
    ComPtr<IPin> chain = Source(feed);
    Grabber(chain, gk_RGB, seen, row.rgbFormat, [](TGrabberConfig& c) {
      c.invert = 1;
      c.flipVertical = 1;
    });
    Write(chain, File("grabbed.bin"));
    RunToEnd();
    ASSERT_EQ(seen.frames.size(), 1u);
    EXPECT_EQ(seen.frameHeader.biBitCount, row.bits);
    EXPECT_EQ(seen.frameHeader.biWidth, 5);
    EXPECT_EQ(seen.frameHeader.biHeight, 3);
    const int stride = RgbStride(5, row.bits);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x) {
        SCOPED_TRACE(testing::Message() << x << "," << y);
        // Flipped top to bottom and inverted; the frame is stored bottom row first.
        const QRgb source = picture.pixel(x, 2 - y);
        QRgb want = qRgb(255 - qRed(source), 255 - qGreen(source), 255 - qBlue(source));
        if (x == 0 && y == 0) continue;  // the pixel that carries the frame number
        const uint8_t* p = seen.frames[0].data() + (2 - y) * stride + x * row.bits / 8;
        int r, g, b;
        if (row.bits == 16) {
          const int v = p[0] | p[1] << 8;
          r = (v >> 11) << 3, g = ((v >> 5) & 63) << 2, b = (v & 31) << 3;
          want = qRgb(qRed(want) & 0xF8, qGreen(want) & 0xFC, qBlue(want) & 0xF8);
        } else {
          b = p[0], g = p[1], r = p[2];
        }
        EXPECT_EQ(qRgb(r, g, b), want);
      }
  }
}

}  // namespace
}  // namespace kestrom::filters
