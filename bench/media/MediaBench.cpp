// Frame access of the video reader on 720x576 clips: stepping forward, stepping back and seeking
// anywhere, each next to a baseline from the same run that seeks to the keyframe and decodes
// forward with no cache. Every landed frame is checked against the number its pixels carry.

#include "platform/media/MediaPlayer.h"
#include "platform/media/VideoReader.h"
#include "tools/ClipWriter.h"
#include "tools/FrameCode.h"

#include <QDir>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

using namespace kestrom;

namespace {

struct Figures {
  double median = 0, worst = 0;
  int landed = 0, asked = 0;
};

// Times each target; the clock covers the whole request, conversion to RGB included.
Figures Measure(media::VideoReader& reader, const std::vector<int64_t>& targets) {
  std::vector<double> ms;
  Figures f;
  for (int64_t t : targets) {
    const auto start = std::chrono::steady_clock::now();
    const QImage image = reader.Frame(t);
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    ++f.asked;
    if (tools::ReadFrameCode(image) == t) ++f.landed;
  }
  std::vector<double> sorted = ms;
  std::sort(sorted.begin(), sorted.end());
  f.median = sorted[sorted.size() / 2];
  f.worst = sorted.back();
  return f;
}

void Row(const char* what, const Figures& ours, const Figures& base) {
  std::printf("  %-22s median %8.2f ms  worst %8.2f ms | baseline median %8.2f ms  worst %8.2f ms | x%6.1f | landed %d/%d\n",
              what, ours.median, ours.worst, base.median, base.worst, base.median / std::max(ours.median, 1e-6),
              ours.landed + base.landed, ours.asked + base.asked);
}

std::vector<int64_t> Range(int64_t from, int64_t to) {  // inclusive, either direction
  std::vector<int64_t> v;
  for (int64_t n = from; from <= to ? n <= to : n >= to; n += from <= to ? 1 : -1) v.push_back(n);
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  QTemporaryDir folder;

  struct Fixture {
    const char* name;
    tools::ClipSpec clipSpec;
    int64_t groupEnd;  // last frame of a whole group, where stepping back starts
  };
  auto clipSpec = [](const char* codec, int frames, int gop, int bFrames) {
    tools::ClipSpec s;
    s.codec = codec;
    s.size = QSize(720, 576);
    s.frames = frames;
    s.gop = gop;
    s.bFrames = bFrames;
    return s;
  };
  std::vector<Fixture> fixtures = {
      {"MJPEG (intra)", clipSpec("mjpeg", 300, 1, 0), 199},
      {"MPEG-4 V2, 12-frame groups", clipSpec("msmpeg4v2", 300, 12, 0), 203},
      {"MPEG-4 V2, 250-frame groups", clipSpec("msmpeg4v2", 500, 250, 0), 249},
      {"MPEG-4, B-frames, 12-frame groups", clipSpec("mpeg4", 300, 12, 2), 203},
  };

  for (Fixture& fx : fixtures) {
    fx.clipSpec.path = QDir(folder.path()).filePath(QString(fx.name).replace(QRegularExpression("[^A-Za-z0-9]"), "_") + ".avi");
    QString error;
    if (!tools::WriteClip(fx.clipSpec, &error)) {
      std::fprintf(stderr, "%s: %s\n", fx.name, qPrintable(error));
      return 1;
    }
    std::printf("%s: %d frames 720x576\n", fx.name, fx.clipSpec.frames);

    auto fresh = [&](bool cached) {
      auto reader = std::make_unique<media::VideoReader>();
      if (!cached) reader->SetCacheBudget(1);  // one frame: every request decodes from a keyframe
      reader->Open(fx.clipSpec.path);
      return reader;
    };
    // Step forward from frame 100 (after one positioning seek).
    {
      auto ours = fresh(true), base = fresh(false);
      ours->Frame(99);
      base->Frame(99);
      Row("step forward", Measure(*ours, Range(100, 199)), Measure(*base, Range(100, 199)));
    }
    // The same once the cache is full and recycles its memory (a long session): fresh memory
    // is what the first pass pays for, on virtual machines most of all.
    {
      auto ours = fresh(true), base = fresh(false);
      ours->SetCacheBudget(size_t(40) * 720 * 576 * 3 / 2);
      for (int64_t n = 0; n < 100; ++n) ours->Frame(n);
      base->Frame(99);
      Row("step forward, warm", Measure(*ours, Range(100, 199)), Measure(*base, Range(100, 199)));
    }
    // Step back through a group: the first step fills the cache, the rest come from it.
    {
      auto ours = fresh(true), base = fresh(false);
      const int64_t end = fx.groupEnd, start = std::max<int64_t>(0, end - 249);
      ours->Frame(end);
      base->Frame(end);
      const auto targets = Range(end - 1, start);
      Row("step back", Measure(*ours, targets), Measure(*base, targets));
    }
    // Seek anywhere.
    {
      auto ours = fresh(true), base = fresh(false);
      std::mt19937 random(7);
      std::vector<int64_t> targets;
      for (int i = 0; i < 60; ++i) targets.push_back(std::uniform_int_distribution<int64_t>(0, fx.clipSpec.frames - 1)(random));
      Row("random seek", Measure(*ours, targets), Measure(*base, targets));
    }
    // Seeking once the cache recycles its memory.
    {
      auto ours = fresh(true), base = fresh(false);
      ours->SetCacheBudget(size_t(40) * 720 * 576 * 3 / 2);
      std::mt19937 random(11);
      auto pick = [&] { return std::uniform_int_distribution<int64_t>(0, fx.clipSpec.frames - 1)(random); };
      for (int i = 0; i < 40; ++i) ours->Frame(pick());
      std::vector<int64_t> targets;
      for (int i = 0; i < 60; ++i) targets.push_back(pick());
      Row("random seek, warm", Measure(*ours, targets), Measure(*base, targets));
    }
    // The cost of one decode, for the forward-step target: decoded pictures per forward step.
    {
      auto ours = fresh(true);
      ours->Frame(99);
      const auto before = ours->Stats();
      for (int64_t n = 100; n < 200; ++n) ours->Frame(n);
      const auto after = ours->Stats();
      std::printf("  forward step decodes %.2f pictures and seeks %lld times per 100 steps\n",
                  double(after.decodedFrames - before.decodedFrames) / 100.0,
                  (long long)(after.seeks - before.seeks));
    }
  }

  // Playback ticks: each one seeks the player to the next frame and draws it into the window's
  // picture, which must fit well inside one frame's time.
  for (QSize size : {QSize(720, 576), QSize(1920, 1080)}) {
    tools::ClipSpec s = clipSpec("msmpeg4v2", 100, 12, 0);
    s.size = size;
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
