// The simulated platform's clock: starts at 0, runs at 10 MHz, and moves only
// inside Sleep, by exactly the time asked. A console control event can be
// scheduled at a time on this clock; it is raised from inside Sleep (or at
// once, when the handler is installed after that time has passed).
//
// Switched to real time, the same clock follows CLOCK_MONOTONIC from the
// moment of the switch and Sleep really sleeps, so a host reading the stream
// sees it arrive at the real pace.
#pragma once

#include <cstdint>

#include "platform/core_audio.h"

inline constexpr std::int64_t kSimClockFrequency = 10'000'000;

std::int64_t simClockTicks();
void simClockReset();  // back to virtual time at 0, no event scheduled, no handler
void simClockScheduleControlEvent(std::int64_t atMilliseconds);
void simClockUseRealTime();
