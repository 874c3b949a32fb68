// The MMDevice side: enumerator, endpoint collections and endpoints.
#pragma once

#include "platform/core_audio.h"

namespace sim {

// The enumerator CoCreateInstance hands out, with one reference.
IMMDeviceEnumerator* newEnumerator();

// Tells every enumerator's registered clients of the default endpoints that
// have changed by the clock's time; Sleep calls it as the clock moves on.
void tellDefaultChanges();

}  // namespace sim
