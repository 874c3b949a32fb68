#include "platform/sim/sim_signal.h"

#include <cmath>
#include <cstring>
#include <numbers>

namespace sim {
namespace {
constexpr WORD kExtensibleExtraBytes = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);

DWORD channelMask(WORD channels) {
  if (channels == 1) return 0x4;  // front centre
  if (channels >= 32) return 0xFFFFFFFFu;
  return (1u << channels) - 1;
}

// A signed integer of validBits bits, placed in the high bits of its container
// as WASAPI delivers it.
std::int64_t quantise(double value, int validBits, int containerBits) {
  const double top = std::ldexp(1.0, validBits - 1) - 1.0;
  double scaled = std::nearbyint(value * top);
  if (scaled > top) scaled = top;
  if (scaled < -top - 1.0) scaled = -top - 1.0;
  return static_cast<std::int64_t>(scaled) * (std::int64_t{1} << (containerBits - validBits));
}

void encodeSample(double value, const MixFormat& format, BYTE* out) {
  const std::size_t containerBytes = format.bits / 8;
  std::memset(out, 0, containerBytes);
  const bool isFloat =
      format.tag == WAVE_FORMAT_IEEE_FLOAT || (format.tag == WAVE_FORMAT_EXTENSIBLE && format.subFloat);
  if (isFloat) {
    if (containerBytes < sizeof(float)) return;
    const float sample = static_cast<float>(value);
    std::memcpy(out, &sample, sizeof sample);
    return;
  }
  if (format.bits == 8) {
    out[0] = static_cast<BYTE>(128 + quantise(value, 8, 8));  // 8-bit PCM is unsigned
    return;
  }
  if (format.bits != 16 && format.bits != 24 && format.bits != 32) return;
  const int validBits = format.tag == WAVE_FORMAT_EXTENSIBLE && format.validBits > 0 && format.validBits <= format.bits
                            ? format.validBits
                            : format.bits;
  const auto bits = static_cast<std::uint64_t>(quantise(value, validBits, format.bits));
  for (std::size_t i = 0; i < containerBytes; ++i) out[i] = static_cast<BYTE>(bits >> (8 * i));
}
}  // namespace

WAVEFORMATEX* newMixFormat(const MixFormat& format) {
  const bool extensible = format.tag == WAVE_FORMAT_EXTENSIBLE;
  const std::size_t bytes = extensible ? sizeof(WAVEFORMATEXTENSIBLE) : sizeof(WAVEFORMATEX);
  auto* block = static_cast<WAVEFORMATEX*>(CoTaskMemAlloc(bytes));
  if (block == nullptr) return nullptr;
  std::memset(block, 0, bytes);
  block->wFormatTag = format.tag;
  block->nChannels = format.channels;
  block->nSamplesPerSec = format.rate;
  block->wBitsPerSample = format.bits;
  block->nBlockAlign = static_cast<WORD>(format.channels * (format.bits / 8));
  block->nAvgBytesPerSec = format.rate * block->nBlockAlign;
  block->cbSize = extensible ? kExtensibleExtraBytes : 0;
  if (extensible) {
    auto* wide = reinterpret_cast<WAVEFORMATEXTENSIBLE*>(block);
    wide->Samples.wValidBitsPerSample = format.validBits;
    wide->dwChannelMask = channelMask(format.channels);
    wide->SubFormat = format.subFloat ? KSDATAFORMAT_SUBTYPE_IEEE_FLOAT : KSDATAFORMAT_SUBTYPE_PCM;
  }
  return block;
}

std::size_t formatBlockBytes(const WAVEFORMATEX& format) { return sizeof(WAVEFORMATEX) + format.cbSize; }

std::size_t frameBytes(const MixFormat& format) {
  return static_cast<std::size_t>(format.channels) * (format.bits / 8);
}

double signalValue(const Signal& signal, std::int64_t frame, DWORD rate) {
  switch (signal.kind) {
    case SignalKind::sine: {
      if (rate == 0) return 0.0;
      // The phase is taken modulo one period so long runs keep their precision.
      const double cycles = signal.frequency * static_cast<double>(frame) / static_cast<double>(rate);
      return signal.amplitude * std::sin(2.0 * std::numbers::pi * (cycles - std::floor(cycles)));
    }
    case SignalKind::constant: return signal.value;
    case SignalKind::silence:
    case SignalKind::none: break;
  }
  return 0.0;
}

double signalAt(const Signal& signal, long double seconds) {
  if (signal.kind != SignalKind::sine) return signalValue(signal, 0, 1);
  const long double cycles = signal.frequency * seconds;
  return signal.amplitude * std::sin(2.0 * std::numbers::pi * static_cast<double>(cycles - std::floor(cycles)));
}

void encodeFrame(double value, const MixFormat& format, BYTE* frame) {
  const std::size_t containerBytes = format.bits / 8;
  for (WORD channel = 0; channel < format.channels; ++channel)
    encodeSample(value, format, frame + channel * containerBytes);
}

}  // namespace sim
