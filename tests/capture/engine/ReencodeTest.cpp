// Re-encoding: a clip goes through a graph into a new file whose frames read back in order, as
// a copy or compressed; every run that does not reach the clip's end leaves the destination as
// it was and no file of its own behind.
#include "LiveGraphFixture.h"

#include "capture/engine/DeviceProvider.h"
#include "capture/engine/Devices.h"
#include "capture/engine/Registry2.h"
#include "capture/engine/SyncManager.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/writers/WriterInterfaces.h"
#include "tools/ClipWriter.h"

#include <QFile>
#include <QTemporaryFile>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <functional>
#include <map>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

namespace kestrom::engine::test {

namespace {

class Reencoding : public LiveGraphTest {
 protected:
  QString InWork(const QString& name) const { return QDir(workDir_.path()).filePath(name); }
  /** @brief A clip of the test camera (with the microphone's sound), recorded by an engine. */
  QString RecordClip() {
    auto fk = Camera(true);
    EXPECT_TRUE(fk->StartRecording());
    QThread::msleep(500);
    fk->StopRecording();
    return fk->GetLastRecordedFile();
  }
  /** @brief An MPEG-4 V2 clip whose pictures carry their numbers, with ADPCM sound when asked. */
  QString WriteClip(const QString& name, int frames, bool audio, QSize size = {320, 240}) {
    tools::ClipSpec clip;
    clip.path = InWork(name);
    clip.frames = frames;
    clip.size = size;
    clip.audio = audio;
    clip.audioCodec = "adpcm_ms";
    QString error;
    EXPECT_TRUE(tools::WriteClip(clip, &error)) << error.toStdString();
    return clip.path;
  }
  static QByteArray Contents(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  static void WriteFile(const QString& file, const QByteArray& bytes) {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
  }
  /** @brief The folder holds exactly these files (no temporary file left behind). */
  void ExpectFolderHolds(const QStringList& names) const {
    QStringList present = QDir(workDir_.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    present.removeAll("fcatchlog.txt");
    present.sort();
    QStringList wanted = names;
    wanted.sort();
    EXPECT_EQ(present, wanted);
  }
  /** @brief The index of the compressor of that class in the list. */
  static int CompressorIndex(const TDevices* list, const GUID& clsid) {
    for (int i = 0; list && i < list->Count(); ++i)
      if (list->Entry(i)->Key.contains(com::GuidToString(clsid), Qt::CaseInsensitive)) return i;
    ADD_FAILURE() << "compressor not listed";
    return -1;
  }
  /** @brief An engine with MPEG-4 V2 and ADPCM chosen as its compressors. */
  std::unique_ptr<TFK> Compressing() {
    auto fk = Camera(false);
    fk->SetVideoCompressor(CompressorIndex(VideoCompressorList(), dshow::CLSID_Mpeg4V2Compressor));
    fk->SetAudioCompressor(CompressorIndex(AudioCompressorList(), dshow::CLSID_AdpcmCompressor));
    return fk;
  }
  /** @brief The file's video codec name and how many of its video packets are key frames. */
  static std::pair<QString, int> VideoCodecAndKeyFrames(const QString& file) {
    AVFormatContext* in = nullptr;
    if (avformat_open_input(&in, QFile::encodeName(file).constData(), nullptr, nullptr) != 0) return {};
    QString codec;
    int keys = 0;
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(in, packet) >= 0) {
      const AVCodecParameters* par = in->streams[packet->stream_index]->codecpar;
      if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
        codec = QString::fromLatin1(avcodec_get_name(par->codec_id));
        if (packet->flags & AV_PKT_FLAG_KEY) ++keys;
      }
      av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&in);
    return {codec, keys};
  }
  /**
   * @brief The codes a player shows at each position of the file's video, read with FFmpeg alone:
   * a position whose chunk is empty (a dropped frame) shows the frame before it. Also the sound's
   * length in samples per channel.
   */
  static std::vector<int> PositionCodes(const QString& file, int64_t* soundSamples = nullptr) {
    std::vector<int> codes;
    if (soundSamples) *soundSamples = 0;
    AVFormatContext* in = nullptr;
    if (avformat_open_input(&in, QFile::encodeName(file).constData(), nullptr, nullptr) != 0) return codes;
    avformat_find_stream_info(in, nullptr);
    std::map<int, AVCodecContext*> decoders;
    for (unsigned i = 0; i < in->nb_streams; ++i) {
      const AVCodec* codec = avcodec_find_decoder(in->streams[i]->codecpar->codec_id);
      AVCodecContext* c = codec ? avcodec_alloc_context3(codec) : nullptr;
      if (c && avcodec_parameters_to_context(c, in->streams[i]->codecpar) >= 0 && avcodec_open2(c, codec, nullptr) >= 0)
        decoders[int(i)] = c;
      else
        avcodec_free_context(&c);
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    int64_t next = 0;
    auto take = [&](AVCodecContext* c, bool video) {
      while (avcodec_receive_frame(c, frame) >= 0) {
        if (video) {
          QImage picture(frame->width, frame->height, QImage::Format_RGB32);
          SwsContext* sws = sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
                                           frame->height, AV_PIX_FMT_RGB32, SWS_POINT, nullptr, nullptr, nullptr);
          uint8_t* dst[1] = {picture.bits()};
          const int stride[1] = {int(picture.bytesPerLine())};
          sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, stride);
          sws_freeContext(sws);
          codes.push_back(tools::ReadFrameCode(picture));
        } else if (soundSamples) {
          *soundSamples += frame->nb_samples;
        }
        av_frame_unref(frame);
      }
    };
    while (av_read_frame(in, packet) >= 0) {
      auto it = decoders.find(packet->stream_index);
      if (it != decoders.end()) {
        const bool video = in->streams[packet->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        if (video) {
          for (; packet->pts != AV_NOPTS_VALUE && next < packet->pts && !codes.empty(); ++next) codes.push_back(codes.back());
          next = packet->pts + 1;
        }
        if (avcodec_send_packet(it->second, packet) >= 0) take(it->second, video);
      }
      av_packet_unref(packet);
    }
    for (auto& [index, c] : decoders) {
      avcodec_send_packet(c, nullptr);
      take(c, in->streams[index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO);
      avcodec_free_context(&c);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avformat_close_input(&in);
    return codes;
  }
  static std::vector<int> Numbers(int first, int last) {
    std::vector<int> v;
    for (int i = first; i <= last; ++i) v.push_back(i);
    return v;
  }
};

}  // namespace

// The copy replaces an older destination file; progress goes to the mode's own event only, each
// changed value once, ending with 100.
TEST_F(Reencoding, AClipCopiedThroughTheGraphReadsBackFrameByFrame) {
  const QString clip = RecordClip();
  bool clipAudio = false;
  const std::vector<int> recorded = Codes(clip, &clipAudio);
  ASSERT_GE(recorded.size(), 3u);
  ASSERT_TRUE(clipAudio);
  for (const bool copyMode : {true, false}) {
    SCOPED_TRACE(copyMode);
    const QString dest = InWork("copy.avi");
    {
      QFile old(dest);
      ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write(QByteArray(300000, 'x')) > 0);
    }
    auto fk = Camera(true);
    std::vector<int> copyProgress, reencodingProgress;
    fk->Events().OnCopyPreallocDataProgress = [&](QObject*, const TProgressInfo& p) { copyProgress.push_back(p.Percent); };
    fk->Events().OnReencodingProgress = [&](QObject*, const TProgressInfo& p) { reencodingProgress.push_back(p.Percent); };
    ASSERT_TRUE(fk->Reencode(clip, dest, copyMode, false, false, false, true));
    const std::vector<int>& used = copyMode ? copyProgress : reencodingProgress;
    EXPECT_TRUE((copyMode ? reencodingProgress : copyProgress).empty());
    ASSERT_FALSE(used.empty());
    EXPECT_EQ(used.back(), 100);
    for (size_t i = 1; i < used.size(); ++i) EXPECT_GT(used[i], used[i - 1]);
    bool copiedAudio = false;
    EXPECT_EQ(Codes(dest, &copiedAudio), recorded);
    EXPECT_TRUE(copiedAudio);
    EXPECT_EQ(fk->GetCurrentState(), cs_None);
    EXPECT_FALSE(fk->HoldsGraphInterfaces());
    ExpectFolderHolds({QFileInfo(clip).fileName(), "copy.avi"});
  }
}

TEST_F(Reencoding, ThePublicCallRunsInItsOwnStateBetweenItsEvents) {
  const QString clip = RecordClip();
  auto fk = Camera(false);
  QStringList events;
  fk->Events().OnReencodingStarted = [&](QObject*, const QString& from, const QString& to) {
    events << "started " + from + " " + to;
  };
  fk->Events().OnReencodingProgress = [&](QObject*, const TProgressInfo&) {
    if (events.last() != "running") events << "running";
    EXPECT_EQ(fk->GetCurrentState(), cs_Reencoding);
  };
  fk->Events().OnReencodingCompleted = [&](QObject*, const QString&, const QString&, bool ok) {
    events << QString("completed %1").arg(ok);
  };
  const QString dest = InWork("video only.avi");
  ASSERT_TRUE(fk->ReencodeFile(clip, dest, false, false, false, false));
  EXPECT_EQ(events, QStringList({"started " + clip + " " + dest, "running", "completed 1"}));
  bool audio = true;
  EXPECT_EQ(Codes(dest, &audio), Codes(clip));
  EXPECT_FALSE(audio);
  EXPECT_TRUE(fk->TakeReencodingStarted());
}

// Compressed with the chosen compressors: every frame in order, the sound as long as the video,
// and the video compressor working with the settings saved under its name (a key frame every 10).
TEST_F(Reencoding, ACompressedRunReadsBackEveryFrameInOrderWithItsSound) {
  const QString clip = WriteClip("clip.avi", 50, true);
  auto fk = Compressing();
  {
    const TDevices* list = VideoCompressorList();
    QString friendly;
    DeviceMoniker moniker;
    ASSERT_TRUE(FindDeviceMoniker(list->Category(), list->Entry(fk->GetVideoCompressor())->Key, 3, friendly, moniker));
    com::ComPtr<dshow::IBaseFilter> codec = BindFilter(moniker);
    com::ComPtr<dshow::IAMVideoCompression> compression;
    ASSERT_TRUE(codec && com::SUCCEEDED(codec->QueryInterface(dshow::IID_IAMVideoCompression, compression.PutVoid())));
    ASSERT_EQ(compression->put_KeyFrameRate(10), com::S_OK);
    ASSERT_TRUE(SaveFilterState(codec.Get(), list->RegistryKeyOf(fk->GetVideoCompressor())));
  }
  std::vector<int> progress;
  fk->Events().OnReencodingProgress = [&](QObject*, const TProgressInfo& p) { progress.push_back(p.Percent); };
  const QString dest = InWork("compressed.avi");
  // What the process's terminal receives while the run goes, at the libraries' default level.
  av_log_set_level(AV_LOG_INFO);
  QTemporaryFile terminal;
  ASSERT_TRUE(terminal.open());
  std::fflush(stderr);
  const int savedStderr = ::dup(2);
  ::dup2(terminal.handle(), 2);
  const bool reencoded = fk->Reencode(clip, dest, false, true, true, false, true);
  std::fflush(stderr);
  ::dup2(savedStderr, 2);
  ::close(savedStderr);
  ASSERT_TRUE(reencoded);
  EXPECT_EQ(terminal.readAll().toStdString(), "");  // quiet on success

  EXPECT_EQ(Codes(dest), Numbers(0, 49));
  EXPECT_EQ(VideoCodecAndKeyFrames(dest), std::make_pair(QString("msmpeg4v2"), 5));
  media::VideoReader reader;
  ASSERT_TRUE(reader.Open(dest));
  ASSERT_TRUE(reader.Info().hasAudio);
  std::vector<int16_t> sound;
  ASSERT_TRUE(reader.ReadAudio(0, 22050 * 10, sound));
  // Two seconds, as the video, up to the padding of the last ADPCM block.
  EXPECT_GE(sound.size(), 2u * 22050);
  EXPECT_LE(sound.size(), 2u * 22050 + 2048);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), 100);
  for (size_t i = 1; i < progress.size(); ++i) EXPECT_GT(progress[i], progress[i - 1]);
  ExpectFolderHolds({"clip.avi", "compressed.avi"});
}

// A frame-server script is a source like a clip: what it selects is what the new file holds.
TEST_F(Reencoding, AScriptSourceIsReencoded) {
  const QString clip = WriteClip("clip.avi", 40, false);
  const QString script = InWork("Input.avs");
  WriteFile(script, ("AVISource(\"" + clip + "\")\r\nTrim(10, 29)\r\n").toUtf8());
  auto fk = Compressing();
  const QString dest = InWork("trimmed.avi");
  ASSERT_TRUE(fk->Reencode(script, dest, false, false, true, false, false));
  EXPECT_EQ(Codes(dest), Numbers(10, 29));
  EXPECT_EQ(VideoCodecAndKeyFrames(dest).first, "msmpeg4v2");
}

// A capture file marks a frame it did not capture with an empty chunk. Re-encoded or copied, every
// position keeps its place and time: a dropped one shows the frame before it, the count of frames
// is the count of positions, and the sound is whole.
TEST_F(Reencoding, DroppedFramesKeepTheirPositionsShowingTheFrameBefore) {
  constexpr int kFrames = 30;
  const std::vector<int> dropped = {3, 4, 11, 29 - 1};
  std::vector<int> expected;
  for (int i = 0; i < kFrames; ++i)
    expected.push_back(std::find(dropped.begin(), dropped.end(), i) != dropped.end() ? expected.back() : i);
  struct Case {
    const char* name;
    const char* codec;
    bool copyMode, compressVideo, throughScript = false;
  };
  const Case cases[] = {
      {"compressed from frames that depend on others", "msmpeg4v2", false, true},
      {"compressed from frames coded alone", "mjpeg", false, true},
      {"stream copy", "msmpeg4v2", false, false},
      {"copy mode", "mjpeg", true, false},
      {"through a frame-server script", "msmpeg4v2", false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tools::ClipSpec options;
    options.path = InWork(QString("dropped-%1.avi").arg(c.codec));
    options.codec = c.codec;
    options.frames = kFrames;
    options.size = {320, 240};
    options.audio = true;
    options.droppedFrames = dropped;
    QString error;
    ASSERT_TRUE(tools::WriteClip(options, &error)) << error.toStdString();
    int64_t clipSound = 0;
    ASSERT_EQ(PositionCodes(options.path, &clipSound), expected) << "the fixture";
    auto fk = Compressing();
    const QString dest = InWork("dest.avi");
    QString source = options.path;
    if (c.throughScript) {
      source = InWork("Input.avs");
      WriteFile(source, ("AVISource(\"" + options.path + "\")\r\n").toUtf8());
    }
    ASSERT_TRUE(fk->Reencode(source, dest, c.copyMode, false, c.compressVideo, false, true));
    int64_t sound = 0;
    EXPECT_EQ(PositionCodes(dest, &sound), expected);
    if (c.throughScript) continue;
    EXPECT_GE(sound, clipSound - 2048);
    EXPECT_LE(sound, clipSound + 2048);
  }
}

// The sound formats cameras and phones record, stored as they are or as ADPCM: each re-encodes
// with every frame and the whole sound.
TEST_F(Reencoding, EverySoundFormatReencodesWithEveryFrameAndTheWholeSound) {
  constexpr int kFrames = 25;
  for (const char* codec : {"pcm_s16le", "adpcm_ms"}) {
    for (const int rate : {8000, 11025, 22050, 44100, 48000}) {
      for (const int channels : {1, 2}) {
        SCOPED_TRACE(QString("%1 %2 Hz %3 channel(s)").arg(codec).arg(rate).arg(channels).toStdString());
        tools::ClipSpec options;
        options.path = InWork("sound.avi");
        options.frames = kFrames;
        options.size = {320, 240};
        options.audio = true;
        options.audioCodec = codec;
        options.audioRate = rate;
        options.audioChannels = channels;
        QString error;
        ASSERT_TRUE(tools::WriteClip(options, &error)) << error.toStdString();
        auto fk = Compressing();
        const QString dest = InWork("dest.avi");
        ASSERT_TRUE(fk->Reencode(options.path, dest, false, false, true, false, true));
        int64_t sound = 0;
        EXPECT_EQ(PositionCodes(dest, &sound), Numbers(0, kFrames - 1));
        // One second, up to the padding of the last ADPCM block.
        EXPECT_GE(sound, rate);
        EXPECT_LE(sound, rate + 4096);
      }
    }
  }
}

// With processing, the transforms and the frame grabber sit between source and writer: the
// grabber sees every frame, the transforms change the picture's size.
TEST_F(Reencoding, ProcessingPutsTheTransformsAndTheFrameGrabberOnTheVideo) {
  const QString clip = WriteClip("clip.avi", 20, true);
  struct Case {
    const char* name;
    int deinterlacing, rotation, grabber;
    QSize size;
  };
  const Case cases[] = {
      {"grabber only", di_Disabled, rt_0_deg, fg_BothStreams, {320, 240}},
      {"half size", di_HalfSize, rt_0_deg, fg_Disabled, {160, 120}},
      {"rotated, grabbed", di_Disabled, rt_90_deg, fg_CaptureStream, {240, 320}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto fk = Compressing();
    fk->SetVideoProcessing_Deinterlacing(c.deinterlacing);
    fk->SetVideoProcessing_Rotation(c.rotation);
    fk->SetFrameGrabber(c.grabber);
    // The frames the grabber saw, counted as the run ends (its graph goes right after).
    int64_t grabbed = -1;
    fk->Events().OnReencodingProgress = [&](QObject*, const TProgressInfo& p) {
      if (p.Percent == 100) grabbed = fk->GrabbedFrames();
    };
    const QString dest = InWork(QString(c.name) + ".avi");
    ASSERT_TRUE(fk->Reencode(clip, dest, false, false, true, true, true));
    media::VideoReader reader;
    ASSERT_TRUE(reader.Open(dest));
    EXPECT_EQ(reader.Info().size, c.size);
    EXPECT_EQ(reader.Info().frameCount, 20);
    EXPECT_TRUE(reader.Info().hasAudio);
    EXPECT_EQ(grabbed, c.grabber != fg_Disabled ? 20 : 0);
    if (c.size == QSize(320, 240)) {
      EXPECT_EQ(Codes(dest), Numbers(0, 19));
    }
  }
}

// A run refused before it starts: nothing of the destination, nor of the source, is touched and
// no file is left behind. The source's own names ("./", a link, a hard link) count as the source.
TEST_F(Reencoding, ARefusedRunTouchesNeitherFile) {
  const QString clip = WriteClip("clip.avi", 10, true);
  const QString bad = InWork("damaged.avi"), dest = InWork("kept.avi"), locked = InWork("locked.avi");
  WriteFile(bad, QByteArray("RIFF\x10\0\0\0AVI junk that is no clip", 31));
  WriteFile(dest, QByteArray(5000, 'k'));
  WriteFile(locked, QByteArray(100, 'l'));
  ASSERT_TRUE(QFile::link(clip, InWork("link.avi")));
  ASSERT_EQ(::link(QFile::encodeName(clip).constData(), QFile::encodeName(InWork("hard.avi")).constData()), 0);
  ASSERT_TRUE(QDir().mkdir(InWork("readonly")));
  WriteFile(InWork("readonly/old.avi"), "old");
  ASSERT_TRUE(QFile::setPermissions(InWork("readonly"), QFile::ReadOwner | QFile::ExeOwner));
  ASSERT_TRUE(QFile::setPermissions(locked, QFileDevice::Permissions()));
  const bool root = geteuid() == 0;  // root reads and writes whatever the permissions say
  const QByteArray clipBytes = Contents(clip), destBytes = Contents(dest);
  const QString identical = "video compressor source and destination files must not be identical";
  struct Case {
    const char* name;
    QString source, dest, message;
    bool skip = false;
  };
  const Case cases[] = {
      {"missing", InWork("nowhere.avi"), dest, "source not found or not suitable: " + InWork("nowhere.avi")},
      {"damaged", bad, dest, "source not found or not suitable: " + bad},
      {"unreadable", locked, dest, "source not found or not suitable: " + locked, root},
      {"same name", clip, clip, identical},
      {"dot slash", clip, QDir(workDir_.path()).filePath("./clip.avi"), identical},
      {"relative", clip, "clip.avi", identical},
      {"symlink", clip, InWork("link.avi"), identical},
      {"hard link", InWork("hard.avi"), clip, identical},
      {"missing folder", clip, InWork("nofolder/new.avi"), "can't create destination file: " + InWork("nofolder/new.avi")},
      {"read-only folder", clip, InWork("readonly/old.avi"), "can't delete old destination file: " + InWork("readonly/old.avi"),
       root},
      {"read-only folder, new name", clip, InWork("readonly/new.avi"),
       "can't create destination file: " + InWork("readonly/new.avi"), root},
  };
  for (const Case& c : cases) {
    if (c.skip) continue;
    SCOPED_TRACE(c.name);
    auto fk = Camera(false);
    ResetProcessLog();
    EnableProcessLog();
    EXPECT_FALSE(fk->Reencode(c.source, c.dest, true, false, false, false, true));
    EXPECT_TRUE(LogHas("ERROR: " + c.message)) << ProcessLogLines().join("\n").toStdString();
    EXPECT_TRUE(Contents(dest) == destBytes);
    EXPECT_TRUE(Contents(clip) == clipBytes);
    EXPECT_EQ(fk->GetCurrentState(), cs_None);
    ExpectFolderHolds({"clip.avi", "damaged.avi", "hard.avi", "kept.avi", "link.avi", "locked.avi"});
    EXPECT_EQ(QDir(InWork("readonly")).entryList(QDir::Files | QDir::Hidden), QStringList({"old.avi"}));
  }
  QFile::setPermissions(InWork("readonly"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// A run that starts but does not reach the clip's end fails: a compressor that cannot take the
// video, a stop request, a write error (a child process whose file size limit the new file
// passes). The older destination stays byte for byte, the partly written file goes.
TEST_F(Reencoding, ARunThatDoesNotReachTheEndFailsAndKeepsTheOldDestination) {
  const QString small = WriteClip("small.avi", 10, true);
  const QString large = WriteClip("large.avi", 60, true, {720, 576});
  const QString dest = InWork("kept.avi");
  WriteFile(dest, QByteArray(5000, 'k'));
  const QByteArray destBytes = Contents(dest);
  struct Case {
    const char* name;
    std::function<bool(TFK&)> run;
    QString message;
  };
  const Case cases[] = {
      {"unsuitable compressor",
       [&](TFK& fk) {
         fk.SetVideoCompressor(CompressorIndex(VideoCompressorList(), dshow::CLSID_DvCompressor));
         return fk.Reencode(small, dest, false, true, true, false, true);
       },
       "ERROR: video compressor DV Video Encoder not suitable"},
      {"stop",
       [&](TFK& fk) {
         // Asked for on the streaming thread as the fifth frame goes through the frame grabber.
         fk.SetFrameGrabber(fg_BothStreams);
         std::atomic<int> frames{0};
         fk.Events().OnFrameOverlayUsingDIB = [&](QObject*, const TFrameInfo&, const dshow::BITMAPINFOHEADER&, uint8_t*) {
           if (++frames == 5) fk.StopReencoding();
         };
         return fk.Reencode(large, dest, false, true, true, true, true);
       },
       "INFO: re-encoding stopped"},
      {"write error",
       [&](TFK& fk) {
         std::fflush(nullptr);
         const pid_t child = fork();
         if (child == 0) {
           // Past 256 KB every write fails with EFBIG, as on a full disk.
           signal(SIGXFSZ, SIG_IGN);
           const rlimit limit{256 * 1024, 256 * 1024};
           setrlimit(RLIMIT_FSIZE, &limit);
           ResetProcessLog();
           EnableProcessLog();
           const bool ok = fk.Reencode(large, dest, true, false, false, false, true);
           _exit(ok ? 1 : LogHas("ERROR: re-encoding aborted (0x80070070)") ? 0 : 2);
         }
         int status = -1;
         EXPECT_EQ(waitpid(child, &status, 0), child);
         EXPECT_TRUE(WIFEXITED(status));
         EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the run succeeded, 2: no abort logged";
         return WEXITSTATUS(status) != 0 ? true : false;
       },
       QString()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto fk = Compressing();
    ResetProcessLog();
    EnableProcessLog();
    std::vector<int> progress;
    fk->Events().OnReencodingProgress = [&](QObject*, const TProgressInfo& p) { progress.push_back(p.Percent); };
    EXPECT_FALSE(c.run(*fk));
    if (!c.message.isEmpty()) {
      EXPECT_TRUE(LogHas(c.message)) << ProcessLogLines().join("\n").toStdString();
    }
    EXPECT_TRUE(std::find(progress.begin(), progress.end(), 100) == progress.end());
    EXPECT_TRUE(Contents(dest) == destBytes);
    EXPECT_EQ(fk->GetCurrentState(), cs_None);
    ExpectFolderHolds({"small.avi", "large.avi", "kept.avi"});
  }
}

}  // namespace kestrom::engine::test
