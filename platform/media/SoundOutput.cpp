#include "platform/media/SoundOutput.h"

#include <QtGlobal>

#ifdef KESTROM_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

namespace kestrom::media {

#ifdef KESTROM_HAVE_ALSA
namespace {
void Quiet(const char*, int, const char*, int, const char*, ...) {}
}  // namespace

std::unique_ptr<SoundOutput> SoundOutput::Open(int rate, int channels) {
  if (rate <= 0 || channels <= 0 || qEnvironmentVariableIsSet("KESTROM_TEST_RUN") ||
      qEnvironmentVariableIsSet("KESTROM_NO_SOUND"))
    return nullptr;
  snd_lib_error_set_handler(Quiet);  // a machine without sound is normal, not an error
  snd_pcm_t* pcm = nullptr;
  if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) return nullptr;
  if (snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, unsigned(channels),
                         unsigned(rate), 1, 500000) < 0) {
    snd_pcm_close(pcm);
    return nullptr;
  }
  std::unique_ptr<SoundOutput> out(new SoundOutput);
  out->pcm_ = pcm;
  out->channels_ = channels;
  return out;
}

SoundOutput::~SoundOutput() {
  if (pcm_) {
    snd_pcm_drop(static_cast<snd_pcm_t*>(pcm_));
    snd_pcm_close(static_cast<snd_pcm_t*>(pcm_));
  }
}

int SoundOutput::Write(const int16_t* samples, int frames) {
  auto* pcm = static_cast<snd_pcm_t*>(pcm_);
  int done = 0;
  while (done < frames) {
    const snd_pcm_sframes_t n = snd_pcm_writei(pcm, samples + size_t(done) * channels_, snd_pcm_uframes_t(frames - done));
    if (n == -EAGAIN) break;
    if (n < 0) {
      if (snd_pcm_recover(pcm, int(n), 1) < 0) break;  // an underrun after a stall: start again
      continue;
    }
    done += int(n);
  }
  return done;
}

void SoundOutput::Drop() {
  auto* pcm = static_cast<snd_pcm_t*>(pcm_);
  snd_pcm_drop(pcm);
  snd_pcm_prepare(pcm);
}

#else
std::unique_ptr<SoundOutput> SoundOutput::Open(int, int) { return nullptr; }
SoundOutput::~SoundOutput() = default;
int SoundOutput::Write(const int16_t*, int frames) { return frames; }
void SoundOutput::Drop() {}
#endif

}  // namespace kestrom::media
