#pragma once
// The capture form's timers keep the toolkit's rule: enabling a timer that runs already leaves it
// as it is. QTimer::start restarts a running timer, so a step that is armed again each time its
// condition holds (the stop after a recording's time limit is armed by every frame past it) would
// never come. Every timer of the form is armed here.

class QTimer;

namespace kestrom::capture {

/** @brief Starts the timer when it is not running; a running timer keeps its time to the tick. */
void ArmTimer(QTimer& timer);

}  // namespace kestrom::capture
