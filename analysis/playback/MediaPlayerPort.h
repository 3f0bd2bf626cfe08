#pragma once
// The analysis window's media player behind the face that opening and the playback clock use.

#include "analysis/playback/PlayerPort.h"
#include "platform/media/MediaPlayer.h"

namespace kestrom::playback {

class MediaPlayerPort final : public PlayerPort {
 public:
  explicit MediaPlayerPort(media::MediaPlayer& player) : player_(player) {}

  QString FileName() const override { return player_.FileName(); }
  void SetFileName(const QString& name) override { player_.SetFileName(name); }
  bool Open() override;
  QString ErrorString() const override { return player_.ErrorString(); }
  QSize NaturalSize() const override;
  int64_t LengthFrames() const override { return player_.LengthFrames(); }
  int64_t LengthMs() const override { return player_.LengthMs(); }
  int64_t Position() const override;
  void SetPosition(int64_t ms) override;

 private:
  media::MediaPlayer& player_;
};

}  // namespace kestrom::playback
