// The WASAPI side: an endpoint's audio client and its capture client.
#pragma once

#include "platform/core_audio.h"
#include "platform/sim/sim_scenario.h"

namespace sim {

// An audio client of the endpoint, with one reference.
IAudioClient* newAudioClient(const Endpoint& endpoint);

}  // namespace sim
