// CLOCK_MONOTONIC, the one time source of the non-Windows platforms: the
// performance counter, the sleeps, and every deadline on the sound server.
#pragma once

#include <cstdint>

#include "platform/portable/windows_types.h"

std::int64_t monotonicNanoseconds();

// Sleeps to an absolute deadline, so that a signal arriving mid-sleep neither
// cuts the sleep short nor stretches it.
void sleepMilliseconds(DWORD milliseconds);
