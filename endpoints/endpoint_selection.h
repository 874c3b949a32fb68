// Chooses the endpoint of each requested source, names its slot and opens it.
#pragma once

#include "platform/core_audio.h"
#include "pipeline/capture_slot.h"

// The microphone: "default" (any letter case) for the default capture
// endpoint, else the first active capture endpoint whose identifier matches
// the text after "MMDEVAPI\" (or the whole value) or whose friendly name
// equals the value, both ignoring ASCII letter case. Returns only with the
// slot opened; a missing endpoint ends the process (status 3). Only the
// default microphone follows the default for the rest of the run.
void selectMicrophone(IMMDeviceEnumerator* enumerator, const char* micValue, CaptureSlot& slot);

// The desktop source: the default playback endpoint, opened in loopback; it
// follows the default for the rest of the run. Returns only with the slot opened.
void selectDesktop(IMMDeviceEnumerator* enumerator, CaptureSlot& slot);
