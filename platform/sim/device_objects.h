// The MMDevice side: enumerator, endpoint collections and endpoints.
#pragma once

#include "platform/core_audio.h"

namespace sim {

// The enumerator CoCreateInstance hands out, with one reference.
IMMDeviceEnumerator* newEnumerator();

}  // namespace sim
