#pragma once

#include <atomic>
#include <cstdint>

#include "platform/core_audio.h"

// Set once by the console control handler, read by the capture loop at the
// top and the bottom of every pass.
extern std::atomic<std::int32_t> stopRequested;

// Console control handler: asks the capture loop to stop in order and keeps
// the platform from ending the process.
BOOL WINAPI onConsoleControl(DWORD controlType);
