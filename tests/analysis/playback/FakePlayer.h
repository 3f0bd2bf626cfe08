#pragma once
// A player whose clips are a table of known files: it shows frame nearest(p / frame duration) for
// position p, clamped to the clip, as the real player does, and records every seek.

#include "analysis/playback/PlayerPort.h"
#include "platform/core/Format.h"

#include <QMap>
#include <algorithm>
#include <vector>

namespace kestrom::playback::test {

struct FakeClip {
  int width = 720;
  int height = 576;
  int64_t frames = 0;
  int64_t ms = 0;
};

class FakePlayer final : public PlayerPort {
 public:
  QMap<QString, FakeClip> clips;  // files that open; any other file fails
  std::vector<int64_t> seeks;
  int openCalls = 0;

  QString FileName() const override { return fileName_; }
  void SetFileName(const QString& name) override { fileName_ = name; }
  bool Open() override {
    ++openCalls;
    if (!clips.contains(fileName_)) {
      error_ = QStringLiteral("no video stream");
      fileName_ = open_;  // as the real player: the previous video stays
      return false;
    }
    open_ = fileName_;
    clip_ = clips.value(fileName_);
    frame_ = 0;
    return true;
  }
  QString ErrorString() const override { return error_; }
  QSize NaturalSize() const override { return {clip_.width, clip_.height}; }
  int64_t LengthFrames() const override { return clip_.frames; }
  int64_t LengthMs() const override { return clip_.ms; }
  double FrameDuration() const { return clip_.frames > 0 ? double(clip_.ms) / clip_.frames : 40.0; }
  int64_t Position() const override { return core::Nearest(frame_ * FrameDuration()); }
  void SetPosition(int64_t ms) override {
    seeks.push_back(ms);
    frame_ = std::clamp<int64_t>(core::Nearest(ms / FrameDuration()), 0, std::max<int64_t>(0, clip_.frames - 1));
  }
  int64_t Frame() const { return frame_; }
  QString OpenFile() const { return open_; }

 private:
  QString fileName_, open_, error_;
  FakeClip clip_;
  int64_t frame_ = 0;
};

}  // namespace kestrom::playback::test
