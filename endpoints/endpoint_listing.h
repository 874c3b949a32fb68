// The records of one data flow in the --list array.
#pragma once

#include <cstdint>

#include "platform/core_audio.h"

// Writes one JSON object per active or unplugged endpoint of flow to standard
// output, in collection order. firstRecord is shared by both flows: non-zero
// until some record has been written, so separators span the whole array.
void listDataFlow(IMMDeviceEnumerator* enumerator, EDataFlow flow, std::int32_t& firstRecord);
