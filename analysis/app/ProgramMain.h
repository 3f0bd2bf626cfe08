#pragma once
// The analysis program from its entry to the running message loop.

#include <functional>

namespace kestrom::app {

struct ProgramOptions {
  /** @brief How long the splash stays alone on screen before the forms are made. */
  int splashPauseMs = 1500;
};

/** @brief Splash, application title, the pause, every form in order, then the message loop. */
int ProgramMain(const ProgramOptions& options = {});

}  // namespace kestrom::app
