#pragma once
// Sound for the player's own play: interleaved 16-bit samples to the default ALSA device,
// written without blocking from the GUI thread's play ticks. Where no device exists (or in the
// tests, which never reach the machine's devices) there is none, and play runs silent at clock
// pace.

#include <cstdint>
#include <memory>

namespace kestrom::media {

/** @brief Where the player's own play sends its sound. */
class SoundSink {
 public:
  virtual ~SoundSink() = default;
  /** @brief Takes up to frames sample frames without waiting; returns how many it took. */
  virtual int Write(const int16_t* samples, int frames) = 0;
  /** @brief Throws away what is queued (pause, stop, seek). */
  virtual void Drop() = 0;
};

class SoundOutput final : public SoundSink {
 public:
  /** @brief The default sound device at that rate, or null when there is none. */
  static std::unique_ptr<SoundOutput> Open(int rate, int channels);
  ~SoundOutput() override;

  int Write(const int16_t* samples, int frames) override;
  void Drop() override;

 private:
  SoundOutput() = default;
  void* pcm_ = nullptr;
  int channels_ = 1;
};

}  // namespace kestrom::media
