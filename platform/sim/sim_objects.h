// Factories of the simulated COM objects, each returned with one reference.
#pragma once

#include "endpoints/core_audio.h"
#include "platform/sim/sim_scenario.h"

namespace sim {

IMMDeviceEnumerator* newEnumerator();
IAudioClient* newAudioClient(const Endpoint& endpoint);

}  // namespace sim
