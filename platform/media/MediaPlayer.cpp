#include "platform/media/MediaPlayer.h"

#include "platform/media/SoundOutput.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace kestrom::media {
namespace {

// The integer nearest to x, ties to the even one (the current rounding mode is to nearest).
int64_t Nearest(double x) { return int64_t(std::nearbyint(x)); }

constexpr int64_t kSoundAheadMs = 300;
// Frames decoded ahead while the clip moves forward (about half a second): enough to ride over
// a slow picture, such as the first of a group, without missing a tick.
constexpr int kReadAheadFrames = 12;

}  // namespace

MediaPlayer::MediaPlayer(QObject* parent, core::Clock* clock)
    : QObject(parent), clock_(clock ? clock : &core::SystemClock()) {
  playTimer_.setTimerType(Qt::PreciseTimer);
  connect(&playTimer_, &QTimer::timeout, this, &MediaPlayer::PlayTick);
  soundFactory_ = [](int rate, int channels) -> std::unique_ptr<SoundSink> { return SoundOutput::Open(rate, channels); };
}

void MediaPlayer::SetSoundFactory(SoundFactory factory) {
  StopPlayClock();
  sound_.reset();
  soundFactory_ = std::move(factory);
}

MediaPlayer::~MediaPlayer() = default;

bool MediaPlayer::Open() {
  // The new file is opened aside and swapped in only when it works.
  VideoReader candidate;
  candidate.SetReadAhead(kReadAheadFrames);
  if (!candidate.Open(fileName_)) {
    error_ = candidate.ErrorString();
    fileName_ = openName_.isEmpty() ? fileName_ : openName_;
    return false;
  }
  StopPlayClock();
  sound_.reset();
  reader_ = std::move(candidate);
  openName_ = fileName_;
  error_.clear();
  frame_ = 0;
  displayRect_ = QRect();
  SetMode(MPMode::Stopped);
  return true;
}

void MediaPlayer::Close() {
  StopPlayClock();
  sound_.reset();
  reader_.Close();
  openName_.clear();
  frame_ = 0;
  SetMode(MPMode::NotReady);
}

double MediaPlayer::FrameDuration() const {
  const int64_t frames = LengthFrames();
  return frames > 0 ? double(LengthMs()) / double(frames) : 40.0;
}

int64_t MediaPlayer::Length() const {
  if (!IsOpen()) return 0;
  return timeFormat_ == MPTimeFormat::Frames ? LengthFrames() : LengthMs();
}

int64_t MediaPlayer::Position() const {
  if (!IsOpen()) return 0;
  return timeFormat_ == MPTimeFormat::Frames ? frame_ : Nearest(double(frame_) * FrameDuration());
}

void MediaPlayer::SetPosition(int64_t position) {
  if (!IsOpen()) return;
  const int64_t frame = timeFormat_ == MPTimeFormat::Frames ? position : Nearest(double(position) / FrameDuration());
  if (mode_ == MPMode::Playing) {
    // Seeking while playing by itself goes on playing from there.
    playStartMs_ = Nearest(double(std::clamp<int64_t>(frame, 0, LengthFrames() - 1)) * FrameDuration());
    playStartClock_ = clock_->NowMs();
    if (sound_) sound_->Drop();
    soundNext_ = -1;
  }
  ShowFrame(frame);
}

QRect MediaPlayer::DisplayRect() const {
  if (displayRect_.width() <= 0 || displayRect_.height() <= 0) return QRect(QPoint(0, 0), Info().size);
  return displayRect_;
}

void MediaPlayer::SetDisplayRect(const QRect& rect) {
  displayRect_ = rect;
  // Zoom and layout changes set the rectangle before play; what drawing there needs is made
  // now rather than at the first tick.
  if (canvas_ && IsOpen()) {
    const QRect area = area_.isEmpty() ? canvas_->rect() : area_.intersected(canvas_->rect());
    reader_.PrepareFrameInto(area.size(), DisplayRect().translated(-area.topLeft()));
  }
}

void MediaPlayer::Refresh() {
  if (IsOpen()) ShowFrame(frame_);
}

void MediaPlayer::ShowFrame(int64_t frame) {
  const int64_t count = LengthFrames();
  if (count <= 0) return;
  frame_ = std::clamp<int64_t>(frame, 0, count - 1);
  if (!canvas_ || canvas_->isNull()) return;
  const QRect area = area_.isEmpty() ? canvas_->rect() : area_.intersected(canvas_->rect());
  if (area == canvas_->rect()) {
    if (reader_.FrameInto(frame_, *canvas_, DisplayRect())) emit FrameShown(frame_);
    return;
  }
  if (area.isEmpty()) return;
  // A view of the area's rows within the owner's picture: drawing into it cannot reach beyond.
  const qsizetype line = canvas_->bytesPerLine();
  QImage view(canvas_->bits() + area.top() * line + qsizetype(area.left()) * (canvas_->depth() / 8), area.width(),
              area.height(), line, canvas_->format());
  if (reader_.FrameInto(frame_, view, DisplayRect().translated(-area.topLeft()))) emit FrameShown(frame_);
}

void MediaPlayer::SetMode(MPMode mode) {
  if (mode_ == mode) return;
  mode_ = mode;
  emit ModeChanged(mode);
}

void MediaPlayer::StopPlayClock() {
  playTimer_.stop();
  if (sound_) sound_->Drop();
}

void MediaPlayer::Play() {
  if (!IsOpen() || LengthFrames() <= 0 || mode_ == MPMode::Playing) return;
  if (frame_ >= LengthFrames() - 1) ShowFrame(0);  // at the end it plays again from the start
  playStartMs_ = Nearest(double(frame_) * FrameDuration());
  playStartClock_ = clock_->NowMs();
  soundNext_ = -1;
  if (Info().hasAudio && !sound_ && soundFactory_) sound_ = soundFactory_(Info().audioRate, Info().audioChannels);
  SetMode(MPMode::Playing);
  playTimer_.start(std::max(1, int(Nearest(FrameDuration()))));
  PlayTick();
}

void MediaPlayer::Pause() {
  if (mode_ != MPMode::Playing) return;
  StopPlayClock();
  SetMode(MPMode::Paused);
}

void MediaPlayer::Stop() {
  if (!IsOpen()) return;
  StopPlayClock();
  SetMode(MPMode::Stopped);
}

void MediaPlayer::Step(int frames) {
  if (!IsOpen()) return;
  Stop();
  ShowFrame(frame_ + frames);
}

void MediaPlayer::Back(int frames) {
  if (!IsOpen()) return;
  Stop();
  ShowFrame(frame_ - frames);
}

void MediaPlayer::Next() {
  if (!IsOpen()) return;
  Stop();
  ShowFrame(LengthFrames() - 1);
}

void MediaPlayer::Previous() {
  if (!IsOpen()) return;
  Stop();
  ShowFrame(0);
}

void MediaPlayer::PlayTick() {
  if (mode_ != MPMode::Playing) return;
  const int64_t position = playStartMs_ + (clock_->NowMs() - playStartClock_);
  if (position >= LengthMs()) {
    // The last frame has had its time: the play is over.
    ShowFrame(LengthFrames() - 1);
    StopPlayClock();
    SetMode(MPMode::Stopped);
    emit Notify();
    return;
  }
  const int64_t frame = std::min<int64_t>(int64_t(std::floor(double(position) / FrameDuration())), LengthFrames() - 1);
  if (frame != frame_ || position == playStartMs_) ShowFrame(frame);
  if (sound_) FeedSound(position);
}

void MediaPlayer::FeedSound(int64_t positionMs) {
  const int rate = Info().audioRate, channels = Info().audioChannels;
  if (soundNext_ < 0) soundNext_ = positionMs * rate / 1000;
  const int64_t until = (positionMs + kSoundAheadMs) * rate / 1000;
  std::vector<int16_t> samples;
  while (soundNext_ < until) {
    const int64_t want = std::min<int64_t>(until - soundNext_, 4096);
    if (!reader_.ReadAudio(soundNext_, want, samples) || samples.empty()) return;
    const int frames = int(samples.size()) / channels;
    const int taken = sound_->Write(samples.data(), frames);
    soundNext_ += taken;
    if (taken < frames) return;  // the device is full; the next tick goes on
  }
}

}  // namespace kestrom::media
