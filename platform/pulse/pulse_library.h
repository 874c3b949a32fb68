// libpulse is loaded when the sound server is first needed, not by the
// program loader: on a machine without it the program still starts, and a
// host reads a fault line instead of the loader's message. Every pa_* name
// the platform calls is defined in pulse_library.cpp as a trampoline into the
// loaded library, so the other files call libpulse as usual.
#pragma once

#include "platform/core_audio.h"

// Loads libpulse.so.0 and resolves every entry point on the first call; true
// when all of them are there. Later calls answer from the first.
bool pulseLibraryAvailable();

// What the device enumerator's creation answers when libpulse is missing:
// HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), as a missing DLL would on Windows.
inline constexpr HRESULT kPulseLibraryMissing = static_cast<HRESULT>(0x8007007Eu);
