// Factories of the simulated COM objects, each returned with one reference.
#pragma once

#include <string>

#include "endpoints/core_audio.h"
#include "platform/sim/sim_scenario.h"

namespace sim {

IMMDeviceEnumerator* newEnumerator();
IAudioClient* newAudioClient(const Endpoint& endpoint);

// UTF-8 to UTF-16; a byte that starts no valid sequence becomes U+FFFD.
std::u16string toUtf16(const std::string& text);

}  // namespace sim
