// Reading captured packets back as numbers and measuring the tone in them.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/core_audio.h"

// One channel of interleaved frames in the given format, as values in
// [-1, 1]: IEEE float 32, or PCM 16/24/32 (little-endian).
std::vector<double> decodeChannel(const std::vector<std::uint8_t>& bytes, const WAVEFORMATEX& format, int channel);

// The frequency of a steady tone, from the spacing of its rising zero
// crossings (interpolated between samples); 0 when there are fewer than two.
double toneFrequency(const std::vector<double>& samples, double sampleRate);

double peakLevel(const std::vector<double>& samples);
double rmsLevel(const std::vector<double>& samples);
