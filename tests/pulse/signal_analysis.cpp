#include "tests/pulse/signal_analysis.h"

#include <cmath>
#include <cstring>

std::vector<double> decodeChannel(const std::vector<std::uint8_t>& bytes, const WAVEFORMATEX& format, int channel) {
  bool isFloat = format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
  if (format.wFormatTag == WAVE_FORMAT_EXTENSIBLE)
    isFloat = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(format).SubFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
  const int sampleBytes = format.wBitsPerSample / 8;
  const std::size_t frames = bytes.size() / format.nBlockAlign;
  std::vector<double> samples(frames);
  for (std::size_t f = 0; f < frames; ++f) {
    const std::uint8_t* at = bytes.data() + f * format.nBlockAlign + channel * sampleBytes;
    if (isFloat) {
      float value;
      std::memcpy(&value, at, 4);
      samples[f] = value;
    } else {
      std::int32_t value = 0;
      // Put the sample in the top bytes of 32 bits: every width then scales alike.
      for (int b = 0; b < sampleBytes; ++b) value |= static_cast<std::int32_t>(at[b]) << (8 * (4 - sampleBytes + b));
      samples[f] = value / 2147483648.0;
    }
  }
  return samples;
}

double toneFrequency(const std::vector<double>& samples, double sampleRate) {
  double first = -1, last = -1;
  int crossings = 0;
  for (std::size_t i = 1; i < samples.size(); ++i) {
    if (samples[i - 1] < 0 && samples[i] >= 0) {
      const double at = (i - 1) + samples[i - 1] / (samples[i - 1] - samples[i]);
      if (first < 0) first = at;
      last = at;
      ++crossings;
    }
  }
  if (crossings < 2) return 0;
  return (crossings - 1) * sampleRate / (last - first);
}

double peakLevel(const std::vector<double>& samples) {
  double peak = 0;
  for (double s : samples) peak = std::max(peak, std::fabs(s));
  return peak;
}

double rmsLevel(const std::vector<double>& samples) {
  if (samples.empty()) return 0;
  double sum = 0;
  for (double s : samples) sum += s * s;
  return std::sqrt(sum / samples.size());
}
