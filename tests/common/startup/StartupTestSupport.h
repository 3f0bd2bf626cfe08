#pragma once
// A clean system drive and program folder for each test, and a first-run back end the test
// controls.

#include "common/startup/FirstRunChecks.h"

#include <QDir>
#include <QString>
#include <QTemporaryDir>
#include <cstdlib>

namespace kestrom::test {

/** @brief Points the system drive and the user's configuration folder at fresh folders and makes a fresh folder current. */
class CleanDrive {
 public:
  CleanDrive() : previous_(QDir::currentPath()) {
    setenv("KESTROM_SYSTEM_DRIVE", QFile::encodeName(drive.path()).constData(), 1);
    unsetenv("KESTROM_DRIVES");
    // The user's own configuration folder is the test's too (the first-run marker may go there).
    setenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()).constData(), 1);
    QDir::setCurrent(program.path());
  }
  ~CleanDrive() {
    unsetenv("XDG_CONFIG_HOME");
    QDir::setCurrent(previous_);
  }
  QTemporaryDir drive;
  QTemporaryDir program;
  QTemporaryDir config;

 private:
  QString previous_;
};

/** @brief Answers the first-run questions as told and counts what was asked. */
class FakeFirstRunChecks final : public shell::FirstRunChecks {
 public:
  bool aviSynth = true, codec = true, directX = true;
  bool installerStarts = false;
  bool installerInstallsCodec = false;
  int questions = 0;
  QStringList installersRun;

  bool IsAviSynthInstalled() override { return ++questions, aviSynth; }
  bool IsCodecInstalled() override { return ++questions, codec; }
  bool IsVideoCodecInstalled() override { return ++questions, codec; }
  bool IsAudioCodecInstalled() override { return ++questions, codec; }
  bool HasDirectX8Or9() override { return ++questions, directX; }
  bool RunInstaller(const QString& program, const QString&) override {
    installersRun << program;
    if (installerStarts && installerInstallsCodec) codec = true;
    return installerStarts;
  }
};

/** @brief Installs a back end for a test's lifetime. */
class ScopedFirstRunChecks {
 public:
  ScopedFirstRunChecks() { shell::SetFirstRunChecks(&checks); }
  ~ScopedFirstRunChecks() { shell::SetFirstRunChecks(nullptr); }
  FakeFirstRunChecks checks;
};

}  // namespace kestrom::test
