#include "common/startup/FirstRunChecks.h"

#include "platform/core/Paths.h"
#include "platform/shell/Shell.h"
#include "platform/ui/Terminate.h"

#include <QFileInfo>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace kestrom::shell {

bool DirectXVersionIs8Or9(const QString& version) {
  return version.size() >= 4 && (version[3] == '8' || version[3] == '9');
}

bool FirstRunChecks::RunInstaller(const QString& program, const QString& folder) {
  // The wait keeps the windows alive and ends early when the program is told to end.
  return ExecuteAndWait(program, {}, folder, [] { return ui::Terminated(); }).started;
}

namespace {
bool HasEncoderAndDecoder(const char* name) {
  return avcodec_find_encoder_by_name(name) != nullptr && avcodec_find_decoder_by_name(name) != nullptr;
}
}  // namespace

bool SystemFirstRunChecks::IsAviSynthInstalled() {
  // The script interpreter is compiled into the program with the media layer; a build without
  // it cannot run scripts.
#ifdef KESTROM_FRAME_SERVER
  return true;
#else
  return false;
#endif
}

bool SystemFirstRunChecks::IsVideoCodecInstalled() { return HasEncoderAndDecoder("msmpeg4v2"); }

bool SystemFirstRunChecks::IsAudioCodecInstalled() { return HasEncoderAndDecoder("adpcm_ms"); }

bool SystemFirstRunChecks::HasDirectX8Or9() {
  // The media layer reads and writes AVI files through FFmpeg's demuxer and muxer.
  return av_find_input_format("avi") != nullptr && av_guess_format("avi", nullptr, nullptr) != nullptr;
}

SystemFolderFirstRunChecks::SystemFolderFirstRunChecks(QString systemFolder,
                                                       std::function<QString()> readDirectXVersion)
    : systemFolder_(std::move(systemFolder)), readDirectXVersion_(std::move(readDirectXVersion)) {}

bool SystemFolderFirstRunChecks::IsAviSynthInstalled() {
  const QFileInfo library(core::JoinPath(systemFolder_, "\\AviSynth.dll"));
  return library.isFile() && library.size() == kAviSynthLibrarySize;
}

bool SystemFolderFirstRunChecks::IsCodecInstalled() { return IsVideoCodecInstalled(); }

bool SystemFolderFirstRunChecks::IsVideoCodecInstalled() {
  return QFileInfo::exists(core::JoinPath(systemFolder_, "\\MPG4C32.DLL"));
}

bool SystemFolderFirstRunChecks::IsAudioCodecInstalled() {
  return QFileInfo::exists(core::JoinPath(systemFolder_, "\\MSADP32.ACM"));
}

bool SystemFolderFirstRunChecks::HasDirectX8Or9() {
  return DirectXVersionIs8Or9(readDirectXVersion_ ? readDirectXVersion_() : QString());
}

namespace {
FirstRunChecks*& Installed() {
  static FirstRunChecks* installed = nullptr;
  return installed;
}
}  // namespace

FirstRunChecks& AppFirstRunChecks() {
  static SystemFirstRunChecks system;
  return Installed() ? *Installed() : system;
}

void SetFirstRunChecks(FirstRunChecks* checks) { Installed() = checks; }

}  // namespace kestrom::shell
