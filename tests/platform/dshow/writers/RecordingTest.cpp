// Recordings made through the encoders, the AVI mux and the file writer, read back as a coach's
// program reads them.
#include "platform/com/ComRuntime.h"
#include "platform/dshow/writers/AsfWriter.h"
#include "platform/dshow/writers/AviMux.h"
#include "platform/dshow/writers/FfmpegTypes.h"
#include "platform/dshow/writers/EncodingWriter.h"
#include "platform/dshow/writers/FileWriter.h"
#include "platform/dshow/base/FilterMapper.h"
#include "platform/dshow/writers/WriterFilters.h"
#include "platform/dshow/sources/FileSource.h"
#include "platform/dshow/sources/Registration.h"
#include "platform/media/VideoReader.h"
#include "platform/registry/Registry.h"
#include "tests/platform/dshow/writers/WriterRig.h"
#include "tools/ClipWriter.h"
#include "tools/FrameCode.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QtEndian>
#include <csignal>
#include <sys/resource.h>
#include <chrono>
#include <map>
#include <thread>
#include <tuple>
#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

namespace kestrom::dshow {
namespace {

using namespace com;
using namespace test;

constexpr int kWidth = 320, kHeight = 240;
constexpr REFERENCE_TIME kFrameTime = 400000;
constexpr int kRate = 22050;

ComPtr<IBaseFilter> Create(REFCLSID clsid) {
  ComPtr<IBaseFilter> f;
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, f.PutVoid()), S_OK);
  return f;
}

class Recording : public testing::Test {
 public:
  void SetUpEncodingWriter(IBaseFilter* writer, const QString& file, const char16_t* videoPin, const char16_t* audioPin) {
    ComPtr<IFileSinkFilter> sink;
    ASSERT_EQ(writer->QueryInterface(IID_IFileSinkFilter, sink.PutVoid()), S_OK);
    ASSERT_EQ(sink->SetFileName(reinterpret_cast<LPCWSTR>(file.utf16()), nullptr), S_OK);
    ComPtr<IPin> vin, ain;
    ASSERT_EQ(writer->FindPin(videoPin, vin.Put()), S_OK);
    ASSERT_EQ(writer->FindPin(audioPin, ain.Put()), S_OK);
    video_ = MakeFilter<CTestSource>(MakeRgbVideoType(24, kWidth, kHeight, kFrameTime));
    audio_ = MakeFilter<CTestSource>(PcmType(kRate, 1));
    Add(ComPtr<IBaseFilter>(video_.Get()), u"Video Source");
    Add(ComPtr<IBaseFilter>(audio_.Get()), u"Audio Source");
    Connect(video_->Output(), vin.Get());
    Connect(audio_->Output(), ain.Get());
  }

  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    registry::SetRegistryDirectory(dir_.path());
    ASSERT_EQ(RegisterWriterFilters(), S_OK);
    graph_ = MakeFilter<CEventGraph>();
  }
  void TearDown() override {
    filters_.clear();
    graph_.Reset();
    registry::SetRegistryDirectory({});
  }

  IBaseFilter* Add(ComPtr<IBaseFilter> filter, const char16_t* name) {
    EXPECT_TRUE(filter);
    EXPECT_TRUE(SUCCEEDED(graph_->AddFilter(filter.Get(), name)));
    filters_.push_back(filter);
    return filter.Get();
  }
  void Connect(IPin* out, IPin* in) { ASSERT_EQ(graph_->ConnectDirect(out, in, nullptr), S_OK); }

  // Source(s) -> compressor -> mux -> writer; the mux is returned.
  void BuildMuxAndWriter(const QString& file) {
    mux_ = Add(Create(CLSID_AviDest), u"AVI Mux");
    writer_ = Add(Create(CLSID_FileWriter), u"File Writer");
    Connect(PinOf(mux_, PINDIR_OUTPUT).Get(), PinOf(writer_, PINDIR_INPUT).Get());
    SetFile(file);
  }
  void SetFile(const QString& file) {
    ComPtr<IFileSinkFilter> sink;
    ASSERT_EQ(writer_->QueryInterface(IID_IFileSinkFilter, sink.PutVoid()), S_OK);
    ASSERT_EQ(sink->SetFileName(reinterpret_cast<LPCWSTR>(file.utf16()), nullptr), S_OK);
  }
  void AddVideoChain(REFCLSID compressor) {
    video_ = MakeFilter<CTestSource>(MakeRgbVideoType(24, kWidth, kHeight, kFrameTime));
    Add(ComPtr<IBaseFilter>(video_.Get()), u"Video Source");
    IBaseFilter* enc = Add(Create(compressor), u"Video Compressor");
    Connect(video_->Output(), PinOf(enc, PINDIR_INPUT).Get());
    Connect(PinOf(enc, PINDIR_OUTPUT).Get(), FreePin(mux_, PINDIR_INPUT).Get());
  }
  void AddAudioChain(REFCLSID compressor) {
    audio_ = MakeFilter<CTestSource>(PcmType(kRate, 1));
    Add(ComPtr<IBaseFilter>(audio_.Get()), u"Audio Source");
    IBaseFilter* enc = Add(Create(compressor), u"Audio Compressor");
    Connect(audio_->Output(), PinOf(enc, PINDIR_INPUT).Get());
    Connect(PinOf(enc, PINDIR_OUTPUT).Get(), FreePin(mux_, PINDIR_INPUT).Get());
  }
  // Downstream first, as the graph does.
  HRESULT Run() {
    for (auto it = filters_.rbegin(); it != filters_.rend(); ++it) {
      const HRESULT hr = (*it)->Run(0);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }
  void Stop() {
    for (auto it = filters_.rbegin(); it != filters_.rend(); ++it) (*it)->Stop();
  }
  // Frames [first, first + count) and the sound of the same span, in 40 ms pieces.
  void Push(int first, int count, int total) {
    for (int i = first; i < first + count; ++i) {
      ASSERT_EQ(video_ ? video_->DeliverFrame(CodedRgbFrame(i, total, kWidth, kHeight), i * kFrameTime, (i + 1) * kFrameTime) : S_OK, S_OK);
      if (audio_) {
        const int64_t a = av_rescale(i, kRate, 25), b = av_rescale(i + 1, kRate, 25);
        ASSERT_EQ(audio_->DeliverFrame(ToneBytes(a, int(b - a), kRate, 1), i * kFrameTime, (i + 1) * kFrameTime), S_OK);
      }
    }
  }
  static void ExpectFramesInOrder(const QString& file, int frames) {
    media::VideoReader reader;
    ASSERT_TRUE(reader.Open(file)) << reader.ErrorString().toStdString();
    ASSERT_EQ(reader.Info().frameCount, frames);
    EXPECT_EQ(reader.Info().size, QSize(kWidth, kHeight));
    for (int i = 0; i < frames; ++i) EXPECT_EQ(tools::ReadFrameCode(reader.Frame(i)), i) << "frame " << i;
  }

  QTemporaryDir dir_;
  ComPtr<CEventGraph> graph_;
  std::vector<ComPtr<IBaseFilter>> filters_;
  ComPtr<CTestSource> video_, audio_;
  IBaseFilter* mux_ = nullptr;
  IBaseFilter* writer_ = nullptr;
};

TEST_F(Recording, Mpeg4V2AndAdpcmReadBackWithEveryFrameInOrderAndTheWholeSound) {
  const QString file = dir_.filePath("take.avi");
  BuildMuxAndWriter(file);
  AddVideoChain(CLSID_Mpeg4V2Compressor);
  AddAudioChain(CLSID_AdpcmCompressor);
  ASSERT_EQ(Run(), S_OK);
  constexpr int kFrames = 40;
  Push(0, kFrames, kFrames);

  ComPtr<IMediaSeeking> seeking;
  ASSERT_EQ(mux_->QueryInterface(IID_IMediaSeeking, seeking.PutVoid()), S_OK);
  EXPECT_FALSE(graph_->Has(EC_COMPLETE));
  EndStream(video_->Output());
  EndStream(audio_->Output());
  // Both streams ended: the index is written and the writer reports completion.
  EXPECT_TRUE(graph_->Has(EC_COMPLETE));
  LONGLONG position = 0;
  ASSERT_EQ(seeking->GetCurrentPosition(&position), S_OK);
  EXPECT_GE(position, kFrames * kFrameTime);
  Stop();

  ExpectFramesInOrder(file, kFrames);
  media::VideoReader reader;
  ASSERT_TRUE(reader.Open(file));
  EXPECT_EQ(reader.Info().codec, "msmpeg4v2");
  ASSERT_TRUE(reader.Info().hasAudio);
  EXPECT_EQ(reader.Info().audioRate, kRate);
  std::vector<int16_t> sound;
  ASSERT_TRUE(reader.ReadAudio(0, kRate * 10, sound));
  // The encoder pads only the last block with silence.
  const int64_t expected = int64_t(kFrames) * kRate / 25;
  EXPECT_GE(int64_t(sound.size()), expected);
  EXPECT_LT(int64_t(sound.size()), expected + 1100);
  EXPECT_FALSE(graph_->Has(EC_ERRORABORT));
}

// The frame numbers a file holds, in order, and whether its first video packet is a key frame.
struct FileFrames {
  std::vector<int> codes;
  bool startsWithKeyFrame = false;
  int64_t soundSamples = 0;
};

FileFrames ReadFileFrames(const QString& file) {
  FileFrames result;
  media::VideoReader reader;
  EXPECT_TRUE(reader.Open(file)) << reader.ErrorString().toStdString();
  for (int i = 0; i < reader.Info().frameCount; ++i) result.codes.push_back(tools::ReadFrameCode(reader.Frame(i)));
  std::vector<int16_t> sound;
  if (reader.Info().hasAudio && reader.ReadAudio(0, kRate * 10, sound)) result.soundSamples = int64_t(sound.size());
  AVFormatContext* in = nullptr;
  if (avformat_open_input(&in, QFile::encodeName(file).constData(), nullptr, nullptr) != 0) return result;
  AVPacket* packet = av_packet_alloc();
  while (av_read_frame(in, packet) >= 0) {
    const bool video = in->streams[packet->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
    const bool key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
    av_packet_unref(packet);
    if (video) {
      result.startsWithKeyFrame = key;
      break;
    }
  }
  av_packet_free(&packet);
  avformat_close_input(&in);
  return result;
}

std::vector<int> Numbers(int first, int last) {
  std::vector<int> v;
  for (int i = first; i <= last; ++i) v.push_back(i);
  return v;
}

TEST_F(Recording, StreamControlOnTheMuxInputsWritesOnlyTheFramesOfItsWindow) {
  // Held and released as the capture engine does it, and a window given by times.
  enum Case { kWindowByTimes, kHeldThenReleased };
  for (Case c : {kWindowByTimes, kHeldThenReleased}) {
    SCOPED_TRACE(c);
    SetUp();
    const QString file = dir_.filePath(c == kWindowByTimes ? "window.avi" : "held.avi");
    BuildMuxAndWriter(file);
    AddVideoChain(CLSID_Mpeg4V2Compressor);
    AddAudioChain(CLSID_AdpcmCompressor);
    ComPtr<IPin> videoIn = PinOf(mux_, PINDIR_INPUT, 0), audioIn = PinOf(mux_, PINDIR_INPUT, 1);
    ComPtr<IAMStreamControl> video, audio;
    ASSERT_EQ(videoIn->QueryInterface(IID_IAMStreamControl, video.PutVoid()), S_OK);
    ASSERT_EQ(audioIn->QueryInterface(IID_IAMStreamControl, audio.PutVoid()), S_OK);
    const REFERENCE_TIME latest = MAX_TIME;

    if (c == kWindowByTimes) {
      // Frames 10 to 19: the start time is inside the window, the stop time is not.
      const REFERENCE_TIME start = 10 * kFrameTime, stop = 20 * kFrameTime;
      ASSERT_EQ(video->StartAt(&start, 1), S_OK);
      ASSERT_EQ(video->StopAt(&stop, FALSE, 2), S_OK);
      ASSERT_EQ(audio->StartAt(&start, 3), S_OK);
      ASSERT_EQ(audio->StopAt(&stop, FALSE, 4), S_OK);
      ASSERT_EQ(Run(), S_OK);
      Push(0, 30, 30);
    } else {
      for (IAMStreamControl* control : {video.Get(), audio.Get()}) {
        ASSERT_EQ(control->StartAt(&latest, 0), S_OK);
        ASSERT_EQ(control->StopAt(nullptr, FALSE, 0), S_OK);
      }
      ASSERT_EQ(Run(), S_OK);
      Push(0, 10, 30);
      for (IAMStreamControl* control : {video.Get(), audio.Get()}) {
        ASSERT_EQ(control->StopAt(&latest, TRUE, 0), S_OK);
        ASSERT_EQ(control->StartAt(nullptr, 0), S_OK);
      }
      Push(10, 20, 30);
    }
    AM_STREAM_INFO info{};
    ASSERT_EQ(video->GetInfo(&info), S_OK);
    EXPECT_EQ(info.dwFlags & AM_STREAM_INFO_DISCARDING, c == kWindowByTimes ? AM_STREAM_INFO_DISCARDING : 0u);
    Stop();

    const FileFrames read = ReadFileFrames(file);
    const std::vector<int> expected = c == kWindowByTimes ? Numbers(10, 19) : Numbers(10, 29);
    EXPECT_EQ(read.codes, expected);
    // The encoder was asked for a key frame where writing began: the first frame decodes.
    EXPECT_TRUE(read.startsWithKeyFrame);
    const int64_t sound = int64_t(expected.size()) * kRate / 25;
    EXPECT_GE(read.soundSamples, sound);
    EXPECT_LT(read.soundSamples, sound + 1100);

    // Each input reports its own start and stop, with its pin and cookie.
    std::vector<std::tuple<LONG, LONG_PTR, LONG_PTR>> control;
    for (const auto& e : graph_->AllPosted())
      if (e.code == EC_STREAM_CONTROL_STARTED || e.code == EC_STREAM_CONTROL_STOPPED) control.emplace_back(e.code, e.param1, e.param2);
    const auto pin = [](IPin* p) { return reinterpret_cast<LONG_PTR>(p); };
    using Event = std::tuple<LONG, LONG_PTR, LONG_PTR>;
    const std::vector<Event> wanted =
        c == kWindowByTimes
            ? std::vector<Event>{{EC_STREAM_CONTROL_STARTED, pin(videoIn.Get()), 1}, {EC_STREAM_CONTROL_STARTED, pin(audioIn.Get()), 3},
                                 {EC_STREAM_CONTROL_STOPPED, pin(videoIn.Get()), 2}, {EC_STREAM_CONTROL_STOPPED, pin(audioIn.Get()), 4}}
            : std::vector<Event>{{EC_STREAM_CONTROL_STOPPED, pin(videoIn.Get()), 0}, {EC_STREAM_CONTROL_STOPPED, pin(audioIn.Get()), 0},
                                 {EC_STREAM_CONTROL_STARTED, pin(videoIn.Get()), 0}, {EC_STREAM_CONTROL_STARTED, pin(audioIn.Get()), 0}};
    EXPECT_EQ(control, wanted);
    video.Reset();
    audio.Reset();
    videoIn.Reset();
    audioIn.Reset();
    TearDown();
  }
}

TEST_F(Recording, PreallocatedFileKeepsItsSizeAndANewNameBetweenStopAndRunStartsANewFile) {
  const QString prealloc = dir_.filePath("capture.rec");
  constexpr int64_t kSize = 16 << 20;
  ASSERT_TRUE(AllocateFile(prealloc, kSize));
  BuildMuxAndWriter(prealloc);
  AddVideoChain(CLSID_Mpeg4V2Compressor);
  ASSERT_EQ(Run(), S_OK);
  Push(0, 30, 30);
  Stop();  // a live recording ends by stopping, without end of stream

  EXPECT_EQ(QFileInfo(prealloc).size(), kSize);
  ExpectFramesInOrder(prealloc, 30);

  // The next run goes to the new name; the preallocated file stays as it is.
  const QByteArray before = [&] {
    QFile f(prealloc);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
  }();
  const QString next = dir_.filePath("next.avi");
  SetFile(next);
  ASSERT_EQ(Run(), S_OK);
  Push(0, 12, 12);
  Stop();
  ExpectFramesInOrder(next, 12);
  QFile f(prealloc);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_TRUE(f.readAll() == before);
}

TEST_F(Recording, CompressedSamplesAreStoredUnchangedWithTheirType) {
  const QString file = dir_.filePath("copy.avi");
  BuildMuxAndWriter(file);

  // Motion JPEG frames as a camera would deliver them.
  CMediaType mjpg;
  {
    mjpg.SetType(MEDIATYPE_Video);
    mjpg.SetSubtype(MEDIASUBTYPE_MJPG);
    mjpg.SetFormatType(FORMAT_VideoInfo);
    VIDEOINFOHEADER vih{};
    vih.AvgTimePerFrame = kFrameTime;
    vih.bmiHeader = BITMAPINFOHEADER{40, kWidth, kHeight, 1, 24, Fourcc('M', 'J', 'P', 'G'), 0, 0, 0, 0, 0};
    mjpg.SetFormat(&vih, sizeof vih);
    mjpg.lSampleSize = 1 << 20;
  }
  // ADPCM blocks with the format's extra bytes (samples per block and coefficients).
  CMediaType adpcm;
  std::vector<uint8_t> extra = {0xF4, 0x03, 0x07, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0xFF, 0x00, 0x00,
                                0x00, 0x00, 0xC0, 0x00, 0x40, 0x00, 0xF0, 0x00, 0x00, 0x00, 0xCC, 0x01, 0x30, 0xFF,
                                0x88, 0x01, 0x18, 0xFF};
  {
    adpcm.SetType(MEDIATYPE_Audio);
    adpcm.SetSubtype(FourccSubtype(WAVE_FORMAT_ADPCM));
    adpcm.SetFormatType(FORMAT_WaveFormatEx);
    std::vector<uint8_t> format(sizeof(WAVEFORMATEX) + extra.size());
    WAVEFORMATEX wf{WAVE_FORMAT_ADPCM, 1, kRate, 11155, 512, 4, WORD(extra.size())};
    std::memcpy(format.data(), &wf, sizeof wf);
    std::memcpy(format.data() + sizeof wf, extra.data(), extra.size());
    adpcm.SetFormat(format.data(), ULONG(format.size()));
    adpcm.lSampleSize = 1 << 16;
  }
  auto video = MakeFilter<CTestSource>(mjpg);
  auto audio = MakeFilter<CTestSource>(adpcm);
  Add(ComPtr<IBaseFilter>(video.Get()), u"Camera");
  Add(ComPtr<IBaseFilter>(audio.Get()), u"Microphone");
  Connect(video->Output(), FreePin(mux_, PINDIR_INPUT).Get());
  Connect(audio->Output(), FreePin(mux_, PINDIR_INPUT).Get());
  ASSERT_EQ(Run(), S_OK);

  std::vector<QByteArray> frames;
  QByteArray sound;
  for (int i = 0; i < 10; ++i) {
    QImage image(kWidth, kHeight, QImage::Format_RGB888);
    tools::PaintCodedFrame(image, i, 10);
    QByteArray jpeg;
    {
      QBuffer buffer(&jpeg);
      buffer.open(QIODevice::WriteOnly);
      ASSERT_TRUE(image.save(&buffer, "JPG"));
    }
    frames.push_back(jpeg);
    ASSERT_EQ(video->DeliverFrame(std::vector<uint8_t>(jpeg.begin(), jpeg.end()), i * kFrameTime, (i + 1) * kFrameTime), S_OK);
    std::vector<uint8_t> block(512);
    for (size_t k = 0; k < block.size(); ++k) block[k] = uint8_t(i * 31 + k);
    sound.append(reinterpret_cast<const char*>(block.data()), int(block.size()));
    ASSERT_EQ(audio->DeliverFrame(block, i * kFrameTime, (i + 1) * kFrameTime), S_OK);
  }
  EndStream(video->Output());
  EndStream(audio->Output());
  Stop();

  AVFormatContext* in = nullptr;
  ASSERT_EQ(avformat_open_input(&in, QFile::encodeName(file).constData(), nullptr, nullptr), 0);
  ASSERT_GE(avformat_find_stream_info(in, nullptr), 0);
  ASSERT_EQ(in->nb_streams, 2u);
  const AVCodecParameters* v = in->streams[0]->codecpar;
  const AVCodecParameters* a = in->streams[1]->codecpar;
  EXPECT_EQ(v->codec_tag, Fourcc('M', 'J', 'P', 'G'));
  EXPECT_EQ(v->width, kWidth);
  EXPECT_EQ(a->codec_tag, WAVE_FORMAT_ADPCM);
  EXPECT_EQ(a->block_align, 512);
  ASSERT_EQ(a->extradata_size, int(extra.size()));
  EXPECT_EQ(std::vector<uint8_t>(a->extradata, a->extradata + a->extradata_size), extra);
  std::vector<QByteArray> readFrames;
  QByteArray readSound;
  AVPacket* packet = av_packet_alloc();
  while (av_read_frame(in, packet) >= 0) {
    const QByteArray bytes(reinterpret_cast<const char*>(packet->data), packet->size);
    if (packet->stream_index == 0) readFrames.push_back(bytes);
    else readSound.append(bytes);
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  avformat_close_input(&in);
  EXPECT_TRUE(readFrames == frames);
  EXPECT_TRUE(readSound == sound);
}

// Copy mode: a recording read by the file source and written again by the AVI mux keeps every
// packet of each stream, bytes and key flags, though the mux holds the source's packets while
// it interleaves them and the source reads on.
TEST_F(Recording, AStreamCopyOfAFileKeepsEveryPacketAndKeyFrame) {
  ASSERT_EQ(RegisterSourceFilters(), S_OK);
  tools::ClipSpec clip;
  clip.path = dir_.filePath("source.avi");
  clip.size = QSize(kWidth, kHeight);
  clip.frames = 80;
  clip.gop = 10;
  clip.audio = true;
  QString error;
  ASSERT_TRUE(tools::WriteClip(clip, &error)) << error.toStdString();
  IBaseFilter* source = Add(Create(CLSID_KestromFileSource), u"Source");
  ComPtr<IFileSourceFilter> load;
  ASSERT_EQ(source->QueryInterface(IID_IFileSourceFilter, load.PutVoid()), S_OK);
  ASSERT_EQ(load->Load(reinterpret_cast<LPCWSTR>(clip.path.utf16()), nullptr), S_OK);
  const QString copy = dir_.filePath("copy.avi");
  BuildMuxAndWriter(copy);
  Connect(PinOf(source, PINDIR_OUTPUT, 0).Get(), FreePin(mux_, PINDIR_INPUT).Get());
  Connect(PinOf(source, PINDIR_OUTPUT, 1).Get(), FreePin(mux_, PINDIR_INPUT).Get());
  ASSERT_EQ(Run(), S_OK);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!graph_->Has(EC_COMPLETE) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(graph_->Has(EC_COMPLETE));
  Stop();
  EXPECT_FALSE(graph_->Has(EC_ERRORABORT));

  // Per stream: each packet's bytes and whether it is a key frame.
  using Packets = std::map<int, std::vector<std::pair<QByteArray, bool>>>;
  auto read = [](const QString& file) {
    Packets packets;
    AVFormatContext* in = nullptr;
    if (avformat_open_input(&in, QFile::encodeName(file).constData(), nullptr, nullptr) != 0) return packets;
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(in, packet) >= 0) {
      packets[packet->stream_index].emplace_back(QByteArray(reinterpret_cast<const char*>(packet->data), packet->size),
                                                 (packet->flags & AV_PKT_FLAG_KEY) != 0);
      av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&in);
    return packets;
  };
  const Packets stored = read(clip.path), copied = read(copy);
  ASSERT_EQ(stored.size(), 2u);
  ASSERT_EQ(stored.at(0).size(), 80u);
  EXPECT_TRUE(copied == stored);
}

TEST_F(Recording, AFullDiskPostsErrorAbortAndFailsTheSample) {
  BuildMuxAndWriter(QStringLiteral("/dev/full"));
  AddVideoChain(CLSID_Mpeg4V2Compressor);
  // The header cannot be written: starting fails, and the graph hears why.
  const HRESULT started = Run();
  HRESULT pushed = S_OK;
  if (SUCCEEDED(started)) {
    for (int i = 0; i < 50 && SUCCEEDED(pushed); ++i)
      pushed = video_->DeliverFrame(CodedRgbFrame(i, 50, kWidth, kHeight), i * kFrameTime, (i + 1) * kFrameTime);
  }
  EXPECT_TRUE(FAILED(started) || FAILED(pushed));
  Stop();
  ASSERT_TRUE(graph_->Has(EC_ERRORABORT));
  for (const auto& [code, param] : graph_->Events()) {
    if (code == EC_ERRORABORT) {
      EXPECT_EQ(HRESULT(param), MakeHResult(0x80070070));  // disk full
    }
  }
}

// The file system fills up in the middle of a recording (a file-size limit stands in for it):
// the frames already on disk stay in a file that is closed as a whole AVI, cut at the last whole
// frame, with true sizes and an index, and the graph hears the disk is full.
TEST_F(Recording, AWriteFailureMidRecordingKeepsTheWholeFramesInAClosedFile) {
  const QString file = dir_.filePath("full.avi");
  BuildMuxAndWriter(file);
  for (int compressed = 0; compressed < 2; ++compressed) {
    SCOPED_TRACE(compressed ? "compressed video and ADPCM sound" : "raw video and PCM sound");
    if (compressed) {
      TearDown();
      SetUp();
      BuildMuxAndWriter(file);
      AddVideoChain(CLSID_Mpeg4V2Compressor);
      AddAudioChain(CLSID_AdpcmCompressor);
    } else {
      video_ = MakeFilter<CTestSource>(MakeRgbVideoType(24, kWidth, kHeight, kFrameTime));
      Add(ComPtr<IBaseFilter>(video_.Get()), u"Video Source");
      Connect(video_->Output(), FreePin(mux_, PINDIR_INPUT).Get());
      audio_ = MakeFilter<CTestSource>(PcmType(kRate, 1));
      Add(ComPtr<IBaseFilter>(audio_.Get()), u"Audio Source");
      Connect(audio_->Output(), FreePin(mux_, PINDIR_INPUT).Get());
    }
    QFile::remove(file);  // the writer writes into an existing file without growing it
    const rlim_t limit = compressed ? 150000 : 3000000;
    constexpr int kTotal = 400;
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldSignal = signal(SIGXFSZ, SIG_IGN);
    struct rlimit low = old;
    low.rlim_cur = limit;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
    ASSERT_EQ(Run(), S_OK);
    HRESULT pushed = S_OK;
    int i = 0;
    for (; i < kTotal && SUCCEEDED(pushed); ++i) {
      pushed = video_->DeliverFrame(CodedRgbFrame(i, kTotal, kWidth, kHeight), i * kFrameTime, (i + 1) * kFrameTime);
      const int64_t a = av_rescale(i, kRate, 25), b = av_rescale(i + 1, kRate, 25);
      if (SUCCEEDED(pushed)) pushed = audio_->DeliverFrame(ToneBytes(a, int(b - a), kRate, 1), i * kFrameTime, (i + 1) * kFrameTime);
    }
    Stop();
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldSignal);
    ASSERT_TRUE(FAILED(pushed)) << "the limit was never reached";

    bool diskFull = false;
    for (const auto& [code, param] : graph_->Events())
      if (code == EC_ERRORABORT) diskFull = diskFull || HRESULT(param) == MakeHResult(0x80070070);
    EXPECT_TRUE(diskFull);

    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    ASSERT_GE(bytes.size(), 12);
    EXPECT_LE(bytes.size(), qsizetype(limit));
    auto le32 = [&](qsizetype at) { return qFromLittleEndian<uint32_t>(bytes.constData() + at); };
    EXPECT_EQ(bytes.left(4), QByteArray("RIFF"));
    EXPECT_EQ(le32(4), uint32_t(bytes.size() - 8));
    EXPECT_TRUE(bytes.contains("idx1"));
    const qsizetype avih = bytes.indexOf("avih");
    ASSERT_GT(avih, 0);

    const FileFrames read = ReadFileFrames(file);
    ASSERT_GT(read.codes.size(), 3u);
    EXPECT_LT(read.codes.size(), size_t(i));
    EXPECT_EQ(le32(avih + 8 + 16), uint32_t(read.codes.size()));
    EXPECT_EQ(read.codes, Numbers(0, int(read.codes.size()) - 1));
    EXPECT_TRUE(read.startsWithKeyFrame);
    // The sound that reached the disk is there, at most about a second past the last frame kept.
    EXPECT_GT(read.soundSamples, 0);
    EXPECT_LT(read.soundSamples, av_rescale(int64_t(read.codes.size()), kRate, 25) + kRate);
  }
}

TEST_F(Recording, AWriterWithoutAFileNameRefusesToStart) {
  mux_ = Add(Create(CLSID_AviDest), u"AVI Mux");
  writer_ = Add(Create(CLSID_FileWriter), u"File Writer");
  Connect(PinOf(mux_, PINDIR_OUTPUT).Get(), PinOf(writer_, PINDIR_INPUT).Get());
  AddVideoChain(CLSID_Mpeg4V2Compressor);
  EXPECT_TRUE(FAILED(Run()));
  Stop();
}



TEST_F(Recording, FilesPastOneGigabyteContinueInTheLargeFileLayout) {
  const QString file = dir_.filePath("long.avi");
  BuildMuxAndWriter(file);
  constexpr int kFrameBytes = 2000000, kCount = 560;  // 1.12 GB
  CMediaType type;
  type.SetType(MEDIATYPE_Video);
  type.SetSubtype(MEDIASUBTYPE_MJPG);
  type.SetFormatType(FORMAT_VideoInfo);
  VIDEOINFOHEADER vih{};
  vih.AvgTimePerFrame = kFrameTime;
  vih.bmiHeader = BITMAPINFOHEADER{40, 1920, 1080, 1, 24, Fourcc('M', 'J', 'P', 'G'), 0, 0, 0, 0, 0};
  type.SetFormat(&vih, sizeof vih);
  type.lSampleSize = kFrameBytes;
  auto camera = MakeFilter<CTestSource>(type);
  Add(ComPtr<IBaseFilter>(camera.Get()), u"Camera");
  Connect(camera->Output(), FreePin(mux_, PINDIR_INPUT).Get());
  ComPtr<IConfigAviMux> config;
  ASSERT_EQ(mux_->QueryInterface(IID_IConfigAviMux, config.PutVoid()), S_OK);
  ASSERT_EQ(config->SetOutputCompatibilityIndex(FALSE), S_OK);
  ASSERT_EQ(Run(), S_OK);
  EXPECT_EQ(config->SetOutputCompatibilityIndex(TRUE), VFW_E_NOT_STOPPED);
  std::vector<uint8_t> frame(kFrameBytes);
  for (int i = 0; i < kCount; ++i) {
    frame[0] = uint8_t(i);
    frame[1] = uint8_t(i >> 8);
    ASSERT_EQ(camera->DeliverFrame(frame, i * kFrameTime, (i + 1) * kFrameTime), S_OK);
  }
  EndStream(camera->Output());
  Stop();

  // A second RIFF part follows the first.
  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_GT(f.size(), int64_t(1) << 30);
  const QByteArray head = f.read(12);
  const uint32_t firstSize = uint8_t(head[4]) | (uint8_t(head[5]) << 8) | (uint8_t(head[6]) << 16) | (uint32_t(uint8_t(head[7])) << 24);
  ASSERT_TRUE(f.seek(8 + int64_t(firstSize)));
  const QByteArray next = f.read(12);
  EXPECT_EQ(next.left(4), QByteArray("RIFF"));
  EXPECT_EQ(next.mid(8, 4), QByteArray("AVIX"));
  f.close();

  // Every frame is found again, in order.
  AVFormatContext* in = nullptr;
  ASSERT_EQ(avformat_open_input(&in, QFile::encodeName(file).constData(), nullptr, nullptr), 0);
  AVPacket* packet = av_packet_alloc();
  int count = 0;
  bool ordered = true;
  while (av_read_frame(in, packet) >= 0) {
    ordered = ordered && packet->size == kFrameBytes && (packet->data[0] | (packet->data[1] << 8)) == (count & 0xFFFF);
    ++count;
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  avformat_close_input(&in);
  EXPECT_EQ(count, kCount);
  EXPECT_TRUE(ordered);
}

// A writer that encodes itself, fed by the two test sources on its named pins.
void RecordThroughEncodingWriter(Recording& r, IBaseFilter* writer, const QString& file, const char16_t* videoPin,
                                 const char16_t* audioPin, int frames);

TEST_F(Recording, AsfWriterTakesAnEditedProfileAndWritesAFileTheReaderOpens) {
  IWMProfileManager* rawManager = nullptr;
  ASSERT_EQ(WMCreateProfileManager(&rawManager), S_OK);
  ComPtr<IWMProfileManager> manager = ComPtr<IWMProfileManager>::Attach(rawManager);
  ComPtr<IWMProfileManager2> manager2;
  ASSERT_EQ(manager->QueryInterface(IID_IWMProfileManager2, manager2.PutVoid()), S_OK);
  EXPECT_EQ(manager2->SetSystemProfileVersion(0x80000), S_OK);
  DWORD count = 0;
  ASSERT_EQ(manager->GetSystemProfileCount(&count), S_OK);
  ASSERT_GT(count, 0u);
  ComPtr<IWMProfile> profile;
  EXPECT_EQ(manager->LoadSystemProfile(count, profile.Put()), E_INVALIDARG);
  ASSERT_EQ(manager->LoadSystemProfile(0, profile.Put()), S_OK);

  // The engine reads the profile as XML, edits it and loads it back.
  DWORD chars = 0;
  ASSERT_EQ(manager->SaveProfile(profile.Get(), nullptr, &chars), S_OK);
  std::u16string text(chars, u'\0');
  ASSERT_EQ(manager->SaveProfile(profile.Get(), text.data(), &chars), S_OK);
  QString xml = QString::fromUtf16(text.c_str());
  ASSERT_TRUE(xml.contains("biwidth=\"320\""));
  xml.replace("biwidth=\"320\"", "biwidth=\"160\"").replace("biheight=\"240\"", "biheight=\"120\"");
  ComPtr<IWMProfile> edited;
  EXPECT_EQ(manager->LoadProfileByData(u"<profile><nothing/></profile>", edited.Put()), E_INVALIDARG);
  ASSERT_EQ(manager->LoadProfileByData(reinterpret_cast<LPCWSTR>(xml.utf16()), edited.Put()), S_OK);

  IBaseFilter* writer = Add(Create(CLSID_WMAsfWriter), u"ASF Writer");
  ComPtr<IConfigAsfWriter> config;
  ASSERT_EQ(writer->QueryInterface(IID_IConfigAsfWriter, config.PutVoid()), S_OK);
  ASSERT_EQ(config->ConfigureFilterUsingProfile(edited.Get()), S_OK);
  const QString file = dir_.filePath("take.wmv");
  RecordThroughEncodingWriter(*this, writer, file, u"Video409", u"Audio409", 25);

  media::VideoReader reader;
  ASSERT_TRUE(reader.Open(file)) << reader.ErrorString().toStdString();
  EXPECT_EQ(reader.Info().codec, "wmv2");
  EXPECT_EQ(reader.Info().size, QSize(160, 120));
  EXPECT_TRUE(reader.Info().hasAudio);
  ASSERT_EQ(reader.Info().frameCount, 25);
  for (int i = 0; i < 25; i += 6) EXPECT_EQ(tools::ReadFrameCode(reader.Frame(i)), i) << "frame " << i;
}

TEST_F(Recording, MpegWriterIsRegisteredUnderItsClassIdAndWritesAProgramStream) {
  // Found as the device lists look for it: the name under its class id, and among the filters.
  registry::TRegistry classes(registry::HKEY_CLASSES_ROOT, registry::KEY_READ);
  ASSERT_TRUE(classes.OpenKeyReadOnly(QStringLiteral("\\CLSID\\{41918F50-ADF0-4FF6-882E-A6DBAD1A8C06}")));
  EXPECT_EQ(classes.ReadString(QString()).value_or(QString()), MpegWriterName());
  bool listed = false;
  for (const RegisteredFilter& f : ReadRegisteredFilters())
    listed = listed || (f.clsid == CLSID_MpegWriter && f.name == MpegWriterName());
  EXPECT_TRUE(listed);

  IBaseFilter* writer = Add(Create(CLSID_MpegWriter), u"MPEG Writer");
  const QString file = dir_.filePath("take.mpg");
  RecordThroughEncodingWriter(*this, writer, file, u"Video Input", u"Audio Input", 25);
  ExpectFramesInOrder(file, 25);
  media::VideoReader reader;
  ASSERT_TRUE(reader.Open(file));
  EXPECT_EQ(reader.Info().codec, "mpeg2video");
  EXPECT_TRUE(reader.Info().hasAudio);
}

void RecordThroughEncodingWriter(Recording& r, IBaseFilter* writer, const QString& file, const char16_t* videoPin,
                                 const char16_t* audioPin, int frames) {
  r.SetUpEncodingWriter(writer, file, videoPin, audioPin);
  ASSERT_EQ(r.Run(), S_OK);
  r.Push(0, frames, frames);
  EndStream(r.video_->Output());
  EndStream(r.audio_->Output());
  EXPECT_TRUE(r.graph_->Has(EC_COMPLETE));
  EXPECT_FALSE(r.graph_->Has(EC_ERRORABORT));
  r.Stop();
}

}  // namespace
}  // namespace kestrom::dshow
