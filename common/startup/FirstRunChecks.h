#pragma once
// What the first run checks for: the frame server, the MPEG-4 video codec (with its audio
// companion) and the media layer. The program asks one back end; the Linux back end asks the
// running system, the system-folder back end reads files of a system folder and a version text,
// as installations that carry those files are checked.

#include <QString>
#include <functional>

namespace kestrom::shell {

/** @brief True when a version text names major version 8 or 9 (its 4th character). */
bool DirectXVersionIs8Or9(const QString& version);

class FirstRunChecks {
 public:
  virtual ~FirstRunChecks() = default;
  /** @brief The frame server can run scripts. */
  virtual bool IsAviSynthInstalled() = 0;
  /** @brief The MPEG-4 video codec is present (by default: with its audio companion). */
  virtual bool IsCodecInstalled() { return IsVideoCodecInstalled() && IsAudioCodecInstalled(); }
  /** @brief The MPEG-4 V2 video codec alone. */
  virtual bool IsVideoCodecInstalled() = 0;
  /** @brief The ADPCM audio codec alone. */
  virtual bool IsAudioCodecInstalled() = 0;
  /** @brief The media layer of the right generation is present. */
  virtual bool HasDirectX8Or9() = 0;
  /**
   * @brief Starts an installer and waits for it with the window messages flowing, until it ends or
   * the program is told to end. False when it could not be started.
   */
  virtual bool RunInstaller(const QString& program, const QString& folder);
};

/** @brief The running system: the built-in script interpreter, FFmpeg's codecs, the media layer. */
class SystemFirstRunChecks final : public FirstRunChecks {
 public:
  bool IsAviSynthInstalled() override;
  bool IsVideoCodecInstalled() override;
  bool IsAudioCodecInstalled() override;
  bool HasDirectX8Or9() override;
};

/**
 * @brief Files of a system folder: "AviSynth.dll" of exactly 284,672 bytes, "MPG4C32.DLL" (the
 * video codec, which alone answers IsCodecInstalled) and "MSADP32.ACM" (the audio codec) present,
 * and a version text read by the given function (empty when unreadable).
 */
class SystemFolderFirstRunChecks final : public FirstRunChecks {
 public:
  static constexpr qint64 kAviSynthLibrarySize = 284672;
  SystemFolderFirstRunChecks(QString systemFolder, std::function<QString()> readDirectXVersion);
  bool IsAviSynthInstalled() override;
  bool IsCodecInstalled() override;
  bool IsVideoCodecInstalled() override;
  bool IsAudioCodecInstalled() override;
  bool HasDirectX8Or9() override;

 private:
  QString systemFolder_;
  std::function<QString()> readDirectXVersion_;
};

/** @brief The back end the program asks (the running system unless a test put another in place). */
FirstRunChecks& AppFirstRunChecks();

/** @brief Puts a back end in place (nullptr restores the running system's); for tests. */
void SetFirstRunChecks(FirstRunChecks* checks);

}  // namespace kestrom::shell
