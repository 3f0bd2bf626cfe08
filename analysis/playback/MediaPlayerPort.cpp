#include "analysis/playback/MediaPlayerPort.h"

namespace kestrom::playback {

bool MediaPlayerPort::Open() {
  if (!player_.Open()) return false;
  // Every position the window deals in is milliseconds.
  player_.SetTimeFormat(media::MPTimeFormat::Milliseconds);
  return true;
}

QSize MediaPlayerPort::NaturalSize() const {
  // An empty display rectangle reads back the natural size; the window places the picture after.
  player_.SetDisplayRect(QRect());
  return player_.DisplayRect().size();
}

int64_t MediaPlayerPort::Position() const {
  player_.SetTimeFormat(media::MPTimeFormat::Milliseconds);
  return player_.Position();
}

void MediaPlayerPort::SetPosition(int64_t ms) {
  player_.SetTimeFormat(media::MPTimeFormat::Milliseconds);
  player_.SetPosition(ms);
}

}  // namespace kestrom::playback
