// The WASAPI side: an endpoint's audio client and its capture client, over a
// PulseAudio record stream polled without blocking.
#pragma once

#include <memory>

#include "platform/core_audio.h"
#include "platform/pulse/pulse_connection.h"
#include "platform/pulse/pulse_inventory.h"

// The audio client Activate hands out, with one reference.
IAudioClient* newPulseAudioClient(std::shared_ptr<PulseConnection> connection, const EndpointInfo& endpoint);
