// The simulated platform's clock: starts at 0, runs at 10 MHz, and moves only
// inside Sleep, by exactly the time asked. A console control event can be
// scheduled at a virtual time; it is raised from inside Sleep (or at once,
// when the handler is installed after that time has passed).
#pragma once

#include <cstdint>

inline constexpr std::int64_t kSimClockFrequency = 10'000'000;

std::int64_t simClockTicks();
void simClockReset();  // back to 0, no event scheduled, no handler
void simClockScheduleControlEvent(std::int64_t atMilliseconds);
