// Frame grabbing in the media panel: names of the saved pictures, the grabber's callback on its own
// (what it copies, which frames it takes), and whole captures from clips whose pictures carry their
// frame numbers.
#include "common/mediapanel/ActiveMovie.h"
#include "common/mediapanel/CaptureNames.h"
#include "common/mediapanel/SampleGrabberCB.h"
#include "platform/com/ComRuntime.h"
#include "platform/core/Bmp.h"
#include "platform/dshow/base/FilterGraph.h"
#include "platform/dshow/base/FilterMapper.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/Decoders.h"
#include "platform/jpeg/Jpeg.h"
#include "tests/common/mediapanel/PanelTestSupport.h"
#include "tests/platform/dshow/support/TestFilters.h"
#include "tools/ClipWriter.h"
#include "tools/FrameCode.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace kestrom::mediapanel {
namespace {

using namespace com;
using namespace dshow;
using test::WaitFor;

void Touch(const QString& path) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
}

// ---- names ----

struct NameCase {
  const char* label;
  QStringList present;
  const char* prefix;
  const char* extension;
  int counter;  // the counter before the name is asked for
  const char* expected;
};

TEST(FrameGrabbing, GeneratedNamesGoOnToTheNextFreeNumber) {
  const NameCase cases[] = {
      {"highest number plus one", {"am000007.bmp", "am000012.bmp", "am000012 (2).bmp"}, "am", "bmp", 0, "am000013.bmp"},
      {"own prefix and extension", {"frame000004.jpg", "am000009.jpg", "frame000008.bmp"}, "frame", "jpg", 0,
       "frame000005.jpg"},
      {"extension without case, prefix with case, too large and empty numbers ignored",
       {"am000003.BMP", "am99999999999.bmp", "AM000050.bmp", "am.bmp", "am-7.bmp"}, "am", "bmp", 0, "am000004.bmp"},
      {"a file in the way is skipped", {"am000006.bmp", "am000007.bmp"}, "am", "bmp", 5, "am000008.bmp"},
      {"the counter is never lowered", {"am000002.bmp"}, "am", "bmp", 0, "am000003.bmp"},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.label);
    QTemporaryDir dir;
    for (const QString& name : c.present) Touch(dir.filePath(name));
    CaptureNaming naming;
    naming.storagePath = dir.path();
    naming.prefix = c.prefix;
    int counter = c.counter;
    EXPECT_EQ(NextCaptureFileName(counter, c.extension, naming), dir.filePath(c.expected));
  }
}

TEST(FrameGrabbing, DateTimeNamesGoOnToTheNextFreeMillisecond) {
  QTemporaryDir dir;
  const QDateTime now(QDate(2024, 3, 7), QTime(14, 5, 9, 998));
  Touch(dir.filePath("am240307_140509_998.jpg"));
  Touch(dir.filePath("am240307_140509_999.jpg"));
  CaptureNaming naming;
  naming.storagePath = dir.path();
  naming.mode = TAuto_Filename::fnDateTime;
  int counter = 0;
  EXPECT_EQ(NextCaptureFileName(counter, "jpg", naming, now), dir.filePath("am240307_140510_000.jpg"));
}

// ---- the callback on its own ----

// Receives the frame events as the panel would.
class EventSink final : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() != FrameGrabbedEvent::Type()) return QObject::event(e);
    lParams.push_back(static_cast<FrameGrabbedEvent*>(e)->lParam);
    return true;
  }
  std::vector<int> lParams;
};

CMediaType RgbType(LONG width, LONG height) { return MakeRgbVideoType(24, width, height, 400000); }

// Rows of a bitmap whose pixel (x, y) of the picture, top row first, is (x, y, x + y) in BGR order.
std::vector<uint8_t> PatternRows(LONG width, LONG height) {
  const LONG stride = RgbStride(width, 24);
  const int rows = std::abs(height);
  std::vector<uint8_t> bits(size_t(stride) * rows, 0xEE);  // padding bytes stand out
  for (int y = 0; y < rows; ++y) {
    uint8_t* row = bits.data() + size_t(stride) * (height > 0 ? rows - 1 - y : y);
    for (int x = 0; x < width; ++x) {
      row[3 * x] = uint8_t(x);
      row[3 * x + 1] = uint8_t(y);
      row[3 * x + 2] = uint8_t(x + y);
    }
  }
  return bits;
}

TEST(FrameGrabbing, CallbackCopiesTheRowsAsTheHeaderLaysThemOut) {
  struct Case {
    const char* label;
    LONG width, height;
  } const cases[] = {{"bottom-up", 8, 6}, {"top-down", 8, -6}, {"width not a multiple of 4", 721, 5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EventSink sink;
    auto callback = TSampleGrabberCB::Create();
    const CMediaType type = RgbType(c.width, c.height);
    callback->SetMediaType(&type);
    callback->SetWindow(&sink);
    callback->OpenRequest(false);
    std::vector<uint8_t> bits = PatternRows(c.width, c.height);
    ASSERT_EQ(callback->BufferCB(0.5, bits.data(), LONG(bits.size())), S_OK);
    QCoreApplication::processEvents();
    ASSERT_EQ(sink.lParams, std::vector<int>{1});
    const GrabbedFrame* frame = callback->PendingFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->header.biHeight, c.height);
    EXPECT_EQ(frame->bits, bits);
    const QImage picture = ImageFromDib(frame->header, frame->bits.data(), int64_t(frame->bits.size()));
    ASSERT_EQ(picture.size(), QSize(c.width, std::abs(c.height)));
    bool exact = true;
    for (int y = 0; y < picture.height(); ++y)
      for (int x = 0; x < picture.width(); ++x)
        exact &= picture.pixel(x, y) == qRgb(uint8_t(x + y), uint8_t(y), uint8_t(x));
    EXPECT_TRUE(exact);
    callback->ReleaseFrame();
    EXPECT_FALSE(callback->Requested());
  }
}

TEST(FrameGrabbing, AFrameTheBufferCannotHoldIsNotCountedAndTheNextOneIsTaken) {
  EventSink sink;
  auto callback = TSampleGrabberCB::Create();
  const CMediaType type = RgbType(16, 8);
  callback->SetMediaType(&type);
  callback->SetWindow(&sink);
  callback->OpenRequest(true);
  std::vector<uint8_t> bits = PatternRows(16, 8);
  EXPECT_EQ(callback->BufferCB(0.0, bits.data(), LONG(bits.size()) - 1), S_OK);
  EXPECT_EQ(callback->BufferCB(0.0, nullptr, LONG(bits.size())), S_OK);
  QCoreApplication::processEvents();
  EXPECT_TRUE(sink.lParams.empty());
  EXPECT_TRUE(callback->Requested());
  EXPECT_FALSE(callback->PendingFrame());
  EXPECT_EQ(callback->BufferCB(0.04, bits.data(), LONG(bits.size())), S_OK);
  QCoreApplication::processEvents();
  EXPECT_EQ(sink.lParams, std::vector<int>{0});  // the last frame asks for the pause
  EXPECT_FALSE(callback->Requested());
}

TEST(FrameGrabbing, BurstTakesEveryIntervalthFrameUntilTheCountIsUsedUp) {
  EventSink sink;
  auto callback = TSampleGrabberCB::Create();
  const CMediaType type = RgbType(16, 8);
  callback->SetMediaType(&type);
  callback->SetWindow(&sink);
  callback->SetBurst(true, 3, 2);
  callback->OpenRequest(false);
  std::vector<uint8_t> bits = PatternRows(16, 8);
  std::vector<int> taken;
  for (int n = 1; n <= 9; ++n) {
    callback->BufferCB(n, bits.data(), LONG(bits.size()));
    if (callback->PendingFrame()) {
      taken.push_back(n);
      callback->ReleaseFrame();
    }
  }
  EXPECT_EQ(taken, (std::vector<int>{1, 3, 5}));
  EXPECT_FALSE(callback->Requested());
}

TEST(FrameGrabbing, NoEventReachesAWindowThatIsGone) {
  auto callback = TSampleGrabberCB::Create();
  const CMediaType type = RgbType(16, 8);
  callback->SetMediaType(&type);
  auto sink = std::make_unique<EventSink>();
  callback->SetWindow(sink.get());
  callback->OpenRequest(false);
  std::vector<uint8_t> bits = PatternRows(16, 8);
  callback->BufferCB(0, bits.data(), LONG(bits.size()));
  sink.reset();  // its queued event goes with it
  QCoreApplication::processEvents();
  callback->ReleaseFrame();
  callback->SetWindow(nullptr);
  callback->OpenRequest(false);
  callback->BufferCB(0, bits.data(), LONG(bits.size()));
  EXPECT_FALSE(callback->PendingFrame());
  QCoreApplication::processEvents();
}

// ---- captures from clips ----

// Passes YUY2 video through unchanged: a decoder that offers no RGB.
class CYuy2Only final : public CTransformFilter {
 public:
  CYuy2Only() : CTransformFilter("yuy2 only", nullptr, GUID_NULL) {}
  HRESULT CheckInputType(const CMediaType* type) override {
    return type->majortype == MEDIATYPE_Video && type->subtype == MEDIASUBTYPE_YUY2 ? S_OK : S_FALSE;
  }
  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
    return *in == *out ? S_OK : S_FALSE;
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    request->cBuffers = 1;
    request->cbBuffer = LONG(InputPin()->CurrentMediaType().lSampleSize);
    ALLOCATOR_PROPERTIES actual{};
    return allocator->SetProperties(request, &actual);
  }
  HRESULT GetMediaType(int position, CMediaType* type) override {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    *type = InputPin()->CurrentMediaType();
    return S_OK;
  }
  HRESULT Transform(IMediaSample* in, IMediaSample* out) override {
    BYTE *from = nullptr, *to = nullptr;
    in->GetPointer(&from);
    out->GetPointer(&to);
    const LONG length = std::min(in->GetActualDataLength(), out->GetSize());
    std::memcpy(to, from, size_t(length));
    return out->SetActualDataLength(length);
  }
};

struct Capture {
  QImage bitmap;
  TFrameCapture_Dest destination;
  QString name;
  bool success;
};

class FrameGrabbingClip : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    ASSERT_TRUE(QDir().mkpath(pictures()));
    test::UseRegistry(dir_.path());
    panel_ = std::make_unique<TActiveMovie>();
    panel_->resize(400, 300);
    panel_->StateTimer()->stop();  // tests run the timer's handler themselves
    panel_->SetStoragePath(pictures());
    panel_->SetFGrabber_Enabled(true);
    panel_->OnFGrabberCaptureCompleted = [this](const QImage& bitmap, TFrameCapture_Dest d, const QString& name,
                                                bool ok) { captures_.push_back({bitmap.copy(), d, name, ok}); };
  }
  void TearDown() override {
    panel_.reset();
    registry::SetRegistryDirectory({});
  }
  QString pictures() const { return dir_.filePath("pictures"); }
  QString Clip(QSize size, int frames) {
    tools::ClipSpec clipSpec;
    clipSpec.path = dir_.filePath(QStringLiteral("clip%1.avi").arg(clips_++));
    clipSpec.size = size;
    clipSpec.frames = frames;
    EXPECT_TRUE(tools::WriteClip(clipSpec));
    return clipSpec.path;
  }
  // Opens the clip resting paused on its first frame.
  void OpenPaused(const QString& clip) {
    panel_->SetAutoStart(false);
    ASSERT_TRUE(panel_->Open(clip));
    panel_->StateTimerTimer();
    ASSERT_EQ(panel_->Player()->PlayState(), mpPaused);
    // The clip played until the timer paused it and sent it back to its start: the graph's pause
    // is complete once that frame reached the renderer, past the grabber. Only then may a
    // request wait for the next frame, or it takes this one.
    ComPtr<IMediaControl> control;
    ASSERT_EQ(panel_->Player()->FilterGraph()->QueryInterface(IID_IMediaControl, control.PutVoid()), S_OK);
    FILTER_STATE state = State_Stopped;
    ASSERT_EQ(control->GetState(10000, &state), S_OK);
    ASSERT_EQ(state, State_Paused);
    ASSERT_TRUE(WaitFor([&] { return tools::ReadFrameCode(Shown()) == 0; }));
  }
  QImage Shown() { return test::ShownPicture(*panel_->Player()); }
  // Seeks the paused clip to frame n and waits until the renderer shows it.
  void ShowFrame(int n) {
    panel_->SeekSeconds(n * 0.04);
    ASSERT_TRUE(WaitFor([&] { return tools::ReadFrameCode(Shown()) == n; })) << "frame " << n;
  }
  double Position() { return panel_->Player()->GetProperty(dispid::CurrentPosition).toDouble(); }
  FILTER_STATE GraphState() {
    ComPtr<IMediaControl> control;
    FILTER_STATE state = State_Stopped;
    if (SUCCEEDED(panel_->Player()->FilterGraph()->QueryInterface(IID_IMediaControl, control.PutVoid())))
      control->GetState(0, &state);
    return state;
  }
  bool WaitForCaptures(size_t n) {
    return WaitFor([&] { return captures_.size() >= n; });
  }

  QTemporaryDir dir_;
  int clips_ = 0;
  std::unique_ptr<TActiveMovie> panel_;
  std::vector<Capture> captures_;
};

TEST_F(FrameGrabbingClip, SavesTheFrameShownAsTheFirstSequentialBmp) {
  OpenPaused(Clip({176, 144}, 25));
  ASSERT_TRUE(panel_->SampleGrabberConnected());
  EXPECT_EQ(panel_->GrabberStatus(), "Video Renderer");
  ShowFrame(7);
  panel_->RequestCapture(TFrameCapture_Dest::fcBmpFile);  // the frame shown, through the grabber
  ASSERT_TRUE(WaitForCaptures(1));
  const Capture& c = captures_[0];
  EXPECT_TRUE(c.success);
  EXPECT_EQ(c.destination, TFrameCapture_Dest::fcBmpFile);
  EXPECT_EQ(c.name, QDir(pictures()).filePath("am000001.bmp"));
  const QImage saved = core::ReadBmpFile(c.name);
  EXPECT_EQ(tools::ReadFrameCode(saved), 7);
  ASSERT_TRUE(WaitFor([&] { return tools::ReadFrameCode(Shown()) == 7; }));
  EXPECT_EQ(saved.convertToFormat(QImage::Format_RGB32), Shown().convertToFormat(QImage::Format_RGB32));
  EXPECT_EQ(panel_->Player()->PlayState(), mpPaused);
}

TEST_F(FrameGrabbingClip, SavesAJpegUnderTheNextNumberOfItsPrefix) {
  Touch(QDir(pictures()).filePath("frame000004.jpg"));
  panel_->SetAutoFilePrefix("frame");
  panel_->SetJPEGPerformance(TJPEGPerformance::jpBestSpeed);
  panel_->SetJPEGProgressiveDisplay(true);
  OpenPaused(Clip({176, 144}, 25));
  ShowFrame(3);
  panel_->RequestCapture(TFrameCapture_Dest::fcJpegFile);
  ASSERT_TRUE(WaitForCaptures(1));
  EXPECT_TRUE(captures_[0].success);
  EXPECT_EQ(captures_[0].name, QDir(pictures()).filePath("frame000005.jpg"));
  EXPECT_EQ(tools::ReadFrameCode(jpeg::DecompressFile(captures_[0].name)), 3);
  EXPECT_EQ(QFileInfo(QDir(pictures()).filePath("frame000004.jpg")).size(), 0);
}

// With no handler for the event, files are written straight from the grabber's buffer, whose
// rows are stored bottom row first: the picture must still come out the right way up.
TEST_F(FrameGrabbingClip, WithoutAnEventHandlerFilesHoldTheFrameUpright) {
  panel_->OnFGrabberCaptureCompleted = nullptr;
  OpenPaused(Clip({176, 144}, 25));
  ASSERT_TRUE(panel_->SampleGrabberConnected());
  struct Case { TFrameCapture_Dest destination; const char* file; int frame; };
  const Case cases[] = {{TFrameCapture_Dest::fcJpegFile, "am000001.jpg", 4}, {TFrameCapture_Dest::fcBmpFile, "am000001.bmp", 6}};
  for (const Case& c : cases) {
    const QString path = QDir(pictures()).filePath(c.file);
    ShowFrame(c.frame);
    panel_->RequestCapture(c.destination);
    // No event says when the file is whole: read it until it shows the frame (a picture upside
    // down never does), on a busy machine while it is still being written.
    auto shown = [&] {
      try {
        const QImage saved =
            c.destination == TFrameCapture_Dest::fcJpegFile ? jpeg::DecompressFile(path) : core::ReadBmpFile(path);
        return tools::ReadFrameCode(saved);
      } catch (...) {
        return -1;
      }
    };
    EXPECT_TRUE(WaitFor([&] { return QFileInfo::exists(path) && shown() == c.frame; })) << c.file << " shows " << shown();
  }
}

TEST_F(FrameGrabbingClip, CaptureSizeScalesTheTwentyFourBitPicture) {
  panel_->SetCaptureSize(50);
  OpenPaused(Clip({720, 576}, 10));
  ShowFrame(2);
  panel_->RequestCapture(TFrameCapture_Dest::fcTBitmap);
  ASSERT_TRUE(WaitForCaptures(1));
  EXPECT_TRUE(captures_[0].success);
  EXPECT_EQ(captures_[0].bitmap.size(), QSize(360, 288));
  EXPECT_EQ(captures_[0].bitmap.depth(), 24);
  EXPECT_EQ(tools::ReadFrameCode(captures_[0].bitmap), 2);

  // Sizes the picture cannot have are ignored or refused.
  panel_->SetCaptureSize(0);
  ShowFrame(3);
  panel_->RequestCapture(TFrameCapture_Dest::fcTBitmap);
  ASSERT_TRUE(WaitForCaptures(2));
  EXPECT_EQ(captures_[1].bitmap.size(), QSize(720, 576));
  panel_->SetCaptureSize(3000);
  ShowFrame(4);
  panel_->RequestCapture(TFrameCapture_Dest::fcBmpFile);
  ASSERT_TRUE(WaitForCaptures(3));
  EXPECT_FALSE(captures_[2].success);
  EXPECT_TRUE(QDir(pictures()).isEmpty());
}

TEST_F(FrameGrabbingClip, AnOddWidthIsGrabbedPixelExact) {
  OpenPaused(Clip({721, 97}, 10));
  ShowFrame(5);
  panel_->RequestCapture(TFrameCapture_Dest::fcTBitmap);
  ASSERT_TRUE(WaitForCaptures(1));
  const QImage grabbed = captures_[0].bitmap;
  ASSERT_EQ(grabbed.size(), QSize(721, 97));
  EXPECT_EQ(tools::ReadFrameCode(grabbed), 5);
  // The renderer got the same bytes from the grabber.
  ASSERT_TRUE(WaitFor([&] { return tools::ReadFrameCode(Shown()) == 5; }));
  EXPECT_EQ(grabbed.convertToFormat(QImage::Format_RGB32), Shown().convertToFormat(QImage::Format_RGB32));
}

// Paused a second into the clip (frame 25), a grab takes the frame shown and leaves the clip where
// it rests: paused in the player's state and in its graph, at the same stream position.
TEST_F(FrameGrabbingClip, AGrabWhilePausedTakesTheFrameShownAndTheClipStaysPaused) {
  for (const bool grabber : {false, true}) {
    SCOPED_TRACE(grabber ? "grabber on" : "grabber off");
    captures_.clear();
    panel_->SetFGrabber_Enabled(grabber);
    OpenPaused(Clip({176, 144}, 100));
    ASSERT_EQ(panel_->SampleGrabberConnected(), grabber);
    ShowFrame(25);
    const double at = Position();
    ASSERT_DOUBLE_EQ(at, 1.0);
    panel_->RequestCapture(TFrameCapture_Dest::fcBmpFile);
    ASSERT_TRUE(WaitForCaptures(1));
    ASSERT_TRUE(captures_[0].success);
    EXPECT_EQ(tools::ReadFrameCode(core::ReadBmpFile(captures_[0].name)), 25);
    // Nothing moves on afterwards.
    EXPECT_FALSE(WaitFor([&] { return Position() != at || GraphState() != State_Paused; }, 1))
        << Position() << " against " << at;
    EXPECT_EQ(panel_->Player()->PlayState(), mpPaused);
    EXPECT_EQ(tools::ReadFrameCode(Shown()), 25);
  }
}

TEST_F(FrameGrabbingClip, BurstTakesEverySecondFrameWhilePlaying) {
  panel_->SetFGrabber_BurstMode(true);
  panel_->SetFGrabber_BurstCount(3);
  panel_->SetFGrabber_BurstInterval(2);
  ASSERT_TRUE(panel_->Open(Clip({176, 144}, 75)));
  panel_->RequestCapture(TFrameCapture_Dest::fcTBitmap);
  ASSERT_TRUE(WaitForCaptures(3));
  std::vector<int> codes;
  for (const Capture& c : captures_) codes.push_back(tools::ReadFrameCode(c.bitmap));
  ASSERT_GE(codes[0], 0);
  // Every second frame that reaches the grabber; on a busy machine the decoder may drop a late
  // frame before it does, so only the least gap is certain here (the callback test counts exactly).
  EXPECT_GE(codes[1] - codes[0], 2);
  EXPECT_GE(codes[2] - codes[1], 2);
  EXPECT_FALSE(WaitFor([&] { return captures_.size() > 3; }, 1));
}

TEST_F(FrameGrabbingClip, WithoutAGrabberTheRenderersPictureIsTaken) {
  panel_->SetFGrabber_Enabled(false);
  OpenPaused(Clip({176, 144}, 25));
  EXPECT_FALSE(panel_->SampleGrabberConnected());
  panel_->SeekSeconds(6 * 0.04);
  ASSERT_TRUE(WaitFor([&] { return tools::ReadFrameCode(Shown()) == 6; }));
  panel_->RequestCapture(TFrameCapture_Dest::fcTBitmap);
  ASSERT_TRUE(WaitForCaptures(1));
  EXPECT_TRUE(captures_[0].success);
  EXPECT_EQ(tools::ReadFrameCode(captures_[0].bitmap), 6);
}

TEST_F(FrameGrabbingClip, AMissingFolderFailsTheCaptureAndThePlayerPlaysOn) {
  panel_->SetStoragePath(dir_.filePath("missing"));
  ASSERT_TRUE(panel_->Open(Clip({176, 144}, 50)));
  panel_->RequestCapture(TFrameCapture_Dest::fcJpegFile);
  ASSERT_TRUE(WaitForCaptures(1));
  EXPECT_FALSE(captures_[0].success);
  EXPECT_EQ(panel_->Player()->PlayState(), mpPlaying);
  panel_->RequestCapture(TFrameCapture_Dest::fcBmpFile);
  ASSERT_TRUE(WaitForCaptures(2));
  EXPECT_FALSE(captures_[1].success);
  EXPECT_FALSE(QFileInfo::exists(dir_.filePath("missing")));
}

TEST_F(FrameGrabbingClip, ADecoderWithoutRgbKeepsItsConnectionAndTheClipPlays) {
  // Nothing may turn YUY2 into RGB here.
  ComPtr<IFilterMapper2> mapper;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2, mapper.PutVoid()),
            S_OK);
  ASSERT_EQ(mapper->UnregisterFilter(&CLSID_LegacyAmFilterCategory, nullptr, CLSID_Colour), S_OK);
  panel_->SetFGrabber_Enabled(false);
  ASSERT_TRUE(panel_->Open(Clip({176, 144}, 100)));
  const ComPtr<IGraphBuilder> graph = panel_->Player()->FilterGraph();
  ComPtr<IMediaControl> control;
  ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, control.PutVoid()), S_OK);
  ComPtr<IBaseFilter> renderer;
  ASSERT_EQ(graph->FindFilterByName(u"Video Renderer", renderer.Put()), S_OK);
  const ComPtr<IPin> rendererIn = FilterPins(renderer.Get(), PINDIR_INPUT, false)[0];
  ComPtr<IPin> decoderOut;
  ASSERT_EQ(rendererIn->ConnectedTo(decoderOut.Put()), S_OK);
  control->Stop();
  graph->Disconnect(decoderOut.Get());
  graph->Disconnect(rendererIn.Get());
  const auto yuy2 = dshow::test::MakeFilter<CYuy2Only>();
  ASSERT_EQ(graph->AddFilter(yuy2.Get(), u"YUY2 Only"), S_OK);
  const auto yuy2In = FilterPins(yuy2.Get(), PINDIR_INPUT, false)[0];
  const auto yuy2Out = FilterPins(yuy2.Get(), PINDIR_OUTPUT, false)[0];
  ASSERT_EQ(graph->ConnectDirect(decoderOut.Get(), yuy2In.Get(), nullptr), S_OK);
  ASSERT_EQ(graph->ConnectDirect(yuy2Out.Get(), rendererIn.Get(), nullptr), S_OK);
  control->Run();

  panel_->SetFGrabber_Enabled(true);
  EXPECT_FALSE(panel_->ConnectSampleGrabber());
  EXPECT_FALSE(panel_->SampleGrabberConnected());
  ComPtr<IPin> feeding;
  ASSERT_EQ(rendererIn->ConnectedTo(feeding.Put()), S_OK);
  EXPECT_TRUE(IsSameObject(feeding.Get(), yuy2Out.Get()));
  ComPtr<IBaseFilter> grabber;
  EXPECT_NE(graph->FindFilterByName(u"Sample Grabber", grabber.Put()), S_OK);
  const int before = tools::ReadFrameCode(Shown());
  EXPECT_TRUE(WaitFor([&] { return tools::ReadFrameCode(Shown()) > before + 2; }));
}

TEST_F(FrameGrabbingClip, DestroyingThePanelWhileFramesStreamIsClean) {
  panel_->SetFGrabber_BurstMode(true);  // count 0: every frame until the player stops
  ASSERT_TRUE(panel_->Open(Clip({320, 240}, 100)));
  panel_->RequestCapture(TFrameCapture_Dest::fcTBitmap);
  ASSERT_TRUE(WaitForCaptures(3));
  panel_.reset();
  // Whatever the streaming thread was doing ends with the player; nothing reaches the panel.
  const size_t seen = captures_.size();
  WaitFor([] { return false; }, 1);
  EXPECT_EQ(captures_.size(), seen);
}

}  // namespace
}  // namespace kestrom::mediapanel
