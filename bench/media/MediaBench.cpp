// Frame access of the video reader, next to a plain FFmpeg program written here (seek to the
// keyframe at or before the target, decode forward, no cache), both giving an RGB picture per
// request: stepping forward, stepping back and jumping anywhere on the kinds of clip coaches
// bring (MPEG-4 V2 with short and long groups, H.264 with B-frames in MP4, MJPEG), at 720x576
// and 1920x1080. Every landed frame is checked against the number its pixels carry. Prints, per
// operation, the medians and worst requests of both, their ratios and the resident memory each
// grew by; fails nothing.
//
// Arguments: "576" or "1080" limits the sizes; "quick" writes shorter clips; "kind=MJPEG" (any
// part of a kind's name) limits the kinds; "ahead=0" and "budget=64" (MB) set the reader's
// read-ahead (12 by default, as the media player's) and cache budget.

#include "platform/media/MediaPlayer.h"
#include "platform/media/VideoReader.h"
#include "tools/ClipWriter.h"
#include "tools/FrameCode.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

using namespace kestrom;

namespace {

int readAhead = 12;  // as the media player reads ahead for the analysis window
size_t budget = 0;   // 0: the reader's own

int64_t ResidentBytes() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return int64_t(resident) * sysconf(_SC_PAGESIZE);
}

// The plain program: what anyone writes first with FFmpeg. A step to the next frame decodes on;
// anything else seeks to the keyframe at or before the target and decodes forward.
class Plain {
 public:
  ~Plain() {
    sws_freeContext(scaler_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&decoder_);
    avformat_close_input(&format_);
  }

  bool Open(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    if (avformat_open_input(&format_, name.constData(), nullptr, nullptr) < 0) return false;
    if (avformat_find_stream_info(format_, nullptr) < 0) return false;
    const AVCodec* codec = nullptr;
    stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (stream_ < 0 || !codec) return false;
    AVStream* st = format_->streams[stream_];
    decoder_ = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(decoder_, st->codecpar);
    if (avcodec_open2(decoder_, codec, nullptr) < 0) return false;
    step_ = av_q2d(av_inv_q(st->avg_frame_rate)) / av_q2d(st->time_base);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    // Frame 0's time, from the first picture.
    if (!Next()) return false;
    firstTs_ = frame_->best_effort_timestamp;
    last_ = 0;
    return true;
  }

  int64_t Decoded() const { return decoded_; }

  QImage Frame(int64_t n) {
    if (n != last_ + 1 || last_ < 0) {
      const int64_t ts = firstTs_ + std::llround(double(n) * step_);
      if (av_seek_frame(format_, stream_, ts, AVSEEK_FLAG_BACKWARD) < 0) return {};
      avcodec_flush_buffers(decoder_);
      ended_ = false;
    }
    for (;;) {
      if (!Next()) return {};
      const int64_t m = std::llround(double(frame_->best_effort_timestamp - firstTs_) / step_);
      if (m >= n) {
        last_ = m;
        return Convert();
      }
    }
  }

 private:
  bool Next() {
    for (;;) {
      const int rc = avcodec_receive_frame(decoder_, frame_);
      if (rc == 0) {
        ++decoded_;
        return true;
      }
      if (rc != AVERROR(EAGAIN) || ended_) return false;
      if (av_read_frame(format_, packet_) < 0) {
        ended_ = true;
        avcodec_send_packet(decoder_, nullptr);
        continue;
      }
      if (packet_->stream_index == stream_) avcodec_send_packet(decoder_, packet_);
      av_packet_unref(packet_);
    }
  }

  QImage Convert() {
    // Into memory laid out as the scaler's vector code needs: 64-byte lines, padding after them.
    const int line = (frame_->width * 4 + 63) & ~63;
    auto* data = static_cast<uchar*>(av_malloc(size_t(line) * frame_->height + 128));
    QImage image(data, frame_->width, frame_->height, line, QImage::Format_RGB32, [](void* p) { av_free(p); }, data);
    scaler_ = sws_getCachedContext(scaler_, frame_->width, frame_->height, AVPixelFormat(frame_->format), frame_->width,
                                   frame_->height, AV_PIX_FMT_RGB32, SWS_POINT, nullptr, nullptr, nullptr);
    uint8_t* dst[4] = {data};
    const int stride[4] = {line};
    sws_scale(scaler_, frame_->data, frame_->linesize, 0, frame_->height, dst, stride);
    return image;
  }

  AVFormatContext* format_ = nullptr;
  AVCodecContext* decoder_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  SwsContext* scaler_ = nullptr;
  int stream_ = -1;
  double step_ = 1;
  int64_t firstTs_ = 0;
  int64_t last_ = -1;
  bool ended_ = false;
  int64_t decoded_ = 0;
};

struct Figures {
  double median = 0, worst = 0;
  int landed = 0, asked = 0;
  double growthMb = 0;  // resident memory grown by over the operation, the clip still open
  int64_t decoded = 0;  // pictures decoded for the timed requests
};

// Times each target; the clock covers the whole request, conversion to RGB included.
Figures Measure(const std::function<QImage(int64_t)>& frame, const std::vector<int64_t>& targets, int64_t residentBefore) {
  std::vector<double> ms;
  Figures f;
  for (int64_t t : targets) {
    const auto start = std::chrono::steady_clock::now();
    const QImage image = frame(t);
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    ++f.asked;
    if (tools::ReadFrameCode(image) == t) ++f.landed;
  }
  std::sort(ms.begin(), ms.end());
  f.median = ms[ms.size() / 2];
  f.worst = ms.back();
  f.growthMb = double(ResidentBytes() - residentBefore) / (1 << 20);
  return f;
}

void Row(const char* what, const Figures& ours, const Figures& plain, double afterCloseMb) {
  std::printf("  %-13s reader %8.2f / %8.2f ms | plain %8.2f / %8.2f ms | median x%5.2f  worst x%5.2f"
              " | decoded %lld / %lld | grew %+5.0f MB (%+4.0f MB closed), plain %+4.0f MB | landed %d/%d\n",
              what, ours.median, ours.worst, plain.median, plain.worst, ours.median / std::max(plain.median, 1e-6),
              ours.worst / std::max(plain.worst, 1e-6), (long long)ours.decoded, (long long)plain.decoded, ours.growthMb,
              afterCloseMb, plain.growthMb, ours.landed + plain.landed, ours.asked + plain.asked);
  std::fflush(stdout);
}

std::vector<int64_t> Range(int64_t from, int64_t to) {  // inclusive, either direction
  std::vector<int64_t> v;
  for (int64_t n = from; from <= to ? n <= to : n >= to; n += from <= to ? 1 : -1) v.push_back(n);
  return v;
}

// One operation on a fresh reader and a fresh plain program: prepare positions both, then the
// targets are timed.
void Compare(const char* what, const QString& path, int64_t prepare, const std::vector<int64_t>& targets) {
  Figures ours, plain;
  double closed = 0;
  {
    const int64_t before = ResidentBytes();
    media::VideoReader reader;
    reader.SetReadAhead(readAhead);
    if (budget) reader.SetCacheBudget(budget);
    reader.Open(path);
    if (prepare >= 0) reader.Frame(prepare);
    const int64_t decoded = reader.Stats().decodedFrames;
    ours = Measure([&](int64_t n) { return reader.Frame(n); }, targets, before);
    ours.decoded = reader.Stats().decodedFrames - decoded;
    reader.Close();
    closed = double(ResidentBytes() - before) / (1 << 20);
  }
  {
    const int64_t before = ResidentBytes();
    Plain p;
    p.Open(path);
    if (prepare >= 0) p.Frame(prepare);
    const int64_t decoded = p.Decoded();
    plain = Measure([&](int64_t n) { return p.Frame(n); }, targets, before);
    plain.decoded = p.Decoded() - decoded;
  }
  Row(what, ours, plain, closed);
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  QTemporaryDir folder;
  bool quick = false;
  QString only;
  std::vector<QSize> sizes;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "quick") == 0) quick = true;
    if (std::strcmp(argv[i], "576") == 0) sizes.push_back(QSize(720, 576));
    if (std::strcmp(argv[i], "1080") == 0) sizes.push_back(QSize(1920, 1080));
    if (std::strncmp(argv[i], "kind=", 5) == 0) only = QString::fromUtf8(argv[i] + 5);
    if (std::strncmp(argv[i], "ahead=", 6) == 0) readAhead = std::atoi(argv[i] + 6);
    if (std::strncmp(argv[i], "budget=", 7) == 0) budget = size_t(std::atoi(argv[i] + 7)) << 20;
  }
  if (sizes.empty()) sizes = {QSize(720, 576), QSize(1920, 1080)};

  struct Kind {
    const char* name;
    const char* codec;
    const char* extension;
    int gop, bFrames;
  };
  const Kind kinds[] = {
      {"MJPEG", "mjpeg", "avi", 1, 0},
      {"MPEG-4 V2, GOP 12", "msmpeg4v2", "avi", 12, 0},
      {"MPEG-4 V2, GOP 250", "msmpeg4v2", "avi", 250, 0},
      {"H.264, B-frames, GOP 250, MP4", "libx264", "mp4", 250, 3},
  };
  for (QSize size : sizes) {
    for (const Kind& kind : kinds) {
      if (!QString(kind.name).contains(only)) continue;
      tools::ClipSpec s;
      s.codec = kind.codec;
      if (!avcodec_find_encoder_by_name(kind.codec)) {
        std::printf("%s: no %s encoder here, left out\n", kind.name, kind.codec);
        continue;
      }
      s.size = size;
      s.frames = quick ? 300 : 500;
      s.gop = kind.gop;
      s.bFrames = kind.bFrames;
      s.path = QDir(folder.path())
                   .filePath(QString("%1-%2.%3")
                                 .arg(QString(kind.name).replace(QRegularExpression("[^A-Za-z0-9]"), "_"))
                                 .arg(size.height())
                                 .arg(kind.extension));
      QString error;
      if (!tools::WriteClip(s, &error)) {
        std::fprintf(stderr, "%s: %s\n", kind.name, qPrintable(error));
        return 1;
      }
      std::printf("%s, %d frames %dx%d\n", kind.name, s.frames, size.width(), size.height());

      // Step forward from frame 100, after one positioning jump.
      Compare("step forward", s.path, 99, Range(100, 199));
      // Step back through a group from its last frame: the first step fills the cache.
      const int64_t groupEnd = kind.gop >= 250 ? 249 : 199;
      Compare("step back", s.path, groupEnd, Range(groupEnd - 1, std::max<int64_t>(0, groupEnd - 200)));
      // Jump anywhere.
      std::mt19937 random(7);
      std::vector<int64_t> targets;
      for (int i = 0; i < 40; ++i) targets.push_back(std::uniform_int_distribution<int64_t>(0, s.frames - 1)(random));
      Compare("random jump", s.path, -1, targets);
      QFile::remove(s.path);
    }
  }

  // Playback ticks: each one seeks the player to the next frame and draws it into the window's
  // picture, which must fit well inside one frame's time.
  for (QSize size : sizes) {
    tools::ClipSpec s;
    s.codec = "msmpeg4v2";
    s.size = size;
    s.frames = 100;
    s.gop = 12;
    s.path = QDir(folder.path()).filePath(QString("tick%1.avi").arg(size.width()));
    QString error;
    if (!tools::WriteClip(s, &error)) {
      std::fprintf(stderr, "%s\n", qPrintable(error));
      return 1;
    }
    QImage canvas(size + QSize(16, 120), QImage::Format_RGB32);
    media::MediaPlayer player;
    player.SetDisplay(&canvas);
    player.SetFileName(s.path);
    player.Open();
    player.SetDisplayRect(QRect(QPoint(8, 56), size));
    std::vector<double> ms;
    int landed = 0;
    for (int n = 0; n < 100; ++n) {
      const auto start = std::chrono::steady_clock::now();
      player.SetPosition(n * 40);
      ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
      if (tools::ReadFrameCode(canvas.copy(player.DisplayRect())) == n) ++landed;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("player tick %dx%d: median %.2f ms  worst %.2f ms of a 40 ms frame | landed %d/100\n", size.width(),
                size.height(), ms[50], ms.back(), landed);
  }
  return 0;
}
