// The MMDevice side: enumerator, endpoint collection, endpoint, property store.
#pragma once

#include <memory>

#include "platform/core_audio.h"
#include "platform/pulse/pulse_connection.h"

// The enumerator CoCreateInstance hands out, with one reference.
IMMDeviceEnumerator* newPulseEnumerator(std::shared_ptr<PulseConnection> connection);
