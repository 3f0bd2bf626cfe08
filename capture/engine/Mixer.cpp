// The playback mixer on ALSA: the speakers' volume and balance, and line mute switches. A
// machine without a sound card has no mixer: every call then fails.
#include "capture/engine/EngineHelpers.h"

#if KESTROM_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

#include <algorithm>
#include <cmath>

namespace kestrom::engine {

#if KESTROM_HAVE_ALSA
namespace {

class Mixer {
 public:
  explicit Mixer(int card) {
    const QByteArray name = "hw:" + QByteArray::number(card);
    if (snd_mixer_open(&handle_, 0) < 0) {
      handle_ = nullptr;
      return;
    }
    if (snd_mixer_attach(handle_, name.constData()) < 0 || snd_mixer_selem_register(handle_, nullptr, nullptr) < 0 ||
        snd_mixer_load(handle_) < 0) {
      snd_mixer_close(handle_);
      handle_ = nullptr;
    }
  }
  ~Mixer() {
    if (handle_) snd_mixer_close(handle_);
  }
  Mixer(const Mixer&) = delete;
  Mixer& operator=(const Mixer&) = delete;

  snd_mixer_elem_t* Find(const QString& name) const {
    if (!handle_) return nullptr;
    for (snd_mixer_elem_t* e = snd_mixer_first_elem(handle_); e; e = snd_mixer_elem_next(e))
      if (QString::fromUtf8(snd_mixer_selem_get_name(e)).compare(name, Qt::CaseInsensitive) == 0) return e;
    return nullptr;
  }
  snd_mixer_elem_t* Speakers() const {
    for (const char* name : {"Master", "Speaker", "PCM", "Headphone"})
      if (snd_mixer_elem_t* e = Find(QString::fromLatin1(name)); e && snd_mixer_selem_has_playback_volume(e))
        return e;
    return nullptr;
  }
  QStringList Lines() const {
    QStringList names;
    if (!handle_) return names;
    for (snd_mixer_elem_t* e = snd_mixer_first_elem(handle_); e; e = snd_mixer_elem_next(e))
      names << QString::fromUtf8(snd_mixer_selem_get_name(e));
    return names;
  }

 private:
  snd_mixer_t* handle_ = nullptr;
};

// Channel volumes are 0-65535 to the engine, whatever range the device has.
int ToEngine(long value, long min, long max) {
  return max > min ? static_cast<int>(std::lround((value - min) * 65535.0 / (max - min))) : 0;
}
long ToDevice(int value, long min, long max) {
  return min + std::lround(std::clamp(value, 0, 65535) * static_cast<double>(max - min) / 65535.0);
}

}  // namespace
#endif

bool SpeakerVolume(int& volume, int& balance) {
#if KESTROM_HAVE_ALSA
  Mixer mixer(0);
  snd_mixer_elem_t* e = mixer.Speakers();
  if (!e) return false;
  long min = 0, max = 0, left = 0, right = 0;
  snd_mixer_selem_get_playback_volume_range(e, &min, &max);
  if (snd_mixer_selem_get_playback_volume(e, SND_MIXER_SCHN_FRONT_LEFT, &left) < 0) return false;
  if (snd_mixer_selem_is_playback_mono(e) ||
      snd_mixer_selem_get_playback_volume(e, SND_MIXER_SCHN_FRONT_RIGHT, &right) < 0)
    right = left;
  JoinSpeakerVolume(ToEngine(left, min, max), ToEngine(right, min, max), volume, balance);
  return true;
#else
  (void)volume;
  (void)balance;
  return false;
#endif
}

bool SetSpeakerVolume(int volume, int balance) {
#if KESTROM_HAVE_ALSA
  Mixer mixer(0);
  snd_mixer_elem_t* e = mixer.Speakers();
  if (!e) return false;
  long min = 0, max = 0;
  snd_mixer_selem_get_playback_volume_range(e, &min, &max);
  int left = 0, right = 0;
  SplitSpeakerVolume(volume, balance, left, right);
  if (snd_mixer_selem_is_playback_mono(e))
    return snd_mixer_selem_set_playback_volume_all(e, ToDevice(std::max(left, right), min, max)) == 0;
  return snd_mixer_selem_set_playback_volume(e, SND_MIXER_SCHN_FRONT_LEFT, ToDevice(left, min, max)) == 0 &&
         snd_mixer_selem_set_playback_volume(e, SND_MIXER_SCHN_FRONT_RIGHT, ToDevice(right, min, max)) == 0;
#else
  (void)volume;
  (void)balance;
  return false;
#endif
}

bool LineMute(int mixerIndex, const QString& line, bool set, bool& value) {
#if KESTROM_HAVE_ALSA
  if (mixerIndex < 0) return false;
  Mixer mixer(mixerIndex);
  snd_mixer_elem_t* e = mixer.Find(line);
  if (!e) return false;
  const bool playback = snd_mixer_selem_has_playback_switch(e);
  if (!playback && !snd_mixer_selem_has_capture_switch(e)) return false;
  if (set) {
    const int on = value ? 0 : 1;  // muted means switched off
    return (playback ? snd_mixer_selem_set_playback_switch_all(e, on) : snd_mixer_selem_set_capture_switch_all(e, on)) == 0;
  }
  int on = 1;
  const int r = playback ? snd_mixer_selem_get_playback_switch(e, SND_MIXER_SCHN_FRONT_LEFT, &on)
                         : snd_mixer_selem_get_capture_switch(e, SND_MIXER_SCHN_FRONT_LEFT, &on);
  if (r < 0) return false;
  value = on == 0;
  return true;
#else
  (void)mixerIndex;
  (void)line;
  (void)set;
  (void)value;
  return false;
#endif
}

QStringList MixerLines() {
#if KESTROM_HAVE_ALSA
  return Mixer(0).Lines();
#else
  return {};
#endif
}

}  // namespace kestrom::engine
