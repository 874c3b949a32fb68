// Sample formats between PulseAudio and Windows: a device's own format, rate
// and channels described as Windows describes a shared-mode mix format, and
// what a stream records in for a format handed back to Initialize.
#pragma once

#include <pulse/pulseaudio.h>

#include "platform/core_audio.h"

// The mix format of a device with this sample format and channel map. Plain
// WAVEFORMATEX (cbSize 0) for 16-bit PCM with one or two channels, the
// extensible form otherwise, as Windows does. Formats the conversion cannot
// take as they are (8-bit, A-law, mu-law, big-endian, 24 bits in the low end
// of 32) are described as the nearest little-endian format that holds every
// value, and the server converts the samples; rate and channels never change.
WAVEFORMATEXTENSIBLE describeMixFormat(const pa_sample_spec& device, const pa_channel_map& channelMap);

// The byte count of a described format: 18 for the plain form, 40 for the
// extensible one.
std::size_t mixFormatSize(const WAVEFORMATEXTENSIBLE& format);

// The stream format that records exactly the given format, or false for a
// format that is not one of PCM 16/24/32 and IEEE float 32.
bool recordingSpec(const WAVEFORMATEX& format, pa_sample_spec* sampleSpec);

// Windows' speaker mask for a channel map, or 0 when the map names positions
// Windows has no bit for, or names them in another order than the bits.
DWORD speakerMask(const pa_channel_map& channelMap);
