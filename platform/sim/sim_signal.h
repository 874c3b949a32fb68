// What a simulated endpoint delivers: its mix format block, the value of its
// signal at a frame, and that value encoded in the endpoint's format.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/core_audio.h"
#include "platform/sim/sim_scenario.h"

namespace sim {

// The block GetMixFormat hands out, in COM task memory (the caller frees it):
// a WAVEFORMATEX, or the head of a WAVEFORMATEXTENSIBLE.
WAVEFORMATEX* newMixFormat(const MixFormat& format);

// Bytes of a format block, its extra bytes included.
std::size_t formatBlockBytes(const WAVEFORMATEX& format);

// Bytes of one frame: every channel's container.
std::size_t frameBytes(const MixFormat& format);

// The signal's value, about -1..1, at the frame with index frame since Start.
double signalValue(const Signal& signal, std::int64_t frame, DWORD rate);

// The signal's value at an instant, in seconds since Start: for a device
// whose frames are not sampled at its announced rate.
double signalAt(const Signal& signal, long double seconds);

// Writes value into every channel of one frame, as the format stores it.
void encodeFrame(double value, const MixFormat& format, BYTE* frame);

}  // namespace sim
