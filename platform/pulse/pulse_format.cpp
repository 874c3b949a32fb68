#include "platform/pulse/pulse_format.h"

#include <cstring>

namespace {

struct RecordedFormat {
  WORD containerBits;
  WORD validBits;
  bool isFloat;
};

RecordedFormat recordedFormatOf(pa_sample_format_t format) {
  switch (format) {
    case PA_SAMPLE_FLOAT32LE:
    case PA_SAMPLE_FLOAT32BE: return {32, 32, true};
    case PA_SAMPLE_S32LE:
    case PA_SAMPLE_S32BE: return {32, 32, false};
    case PA_SAMPLE_S24_32LE:
    case PA_SAMPLE_S24_32BE:
      // Windows keeps 24 valid bits at the top of the 32-bit container.
      return {32, 24, false};
    case PA_SAMPLE_S24LE:
    case PA_SAMPLE_S24BE: return {24, 24, false};
    default: return {16, 16, false};
  }
}

DWORD speakerBit(pa_channel_position_t position) {
  switch (position) {
    case PA_CHANNEL_POSITION_FRONT_LEFT: return 0x1;
    case PA_CHANNEL_POSITION_FRONT_RIGHT: return 0x2;
    case PA_CHANNEL_POSITION_MONO:
    case PA_CHANNEL_POSITION_FRONT_CENTER: return 0x4;
    case PA_CHANNEL_POSITION_LFE: return 0x8;
    case PA_CHANNEL_POSITION_REAR_LEFT: return 0x10;
    case PA_CHANNEL_POSITION_REAR_RIGHT: return 0x20;
    case PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER: return 0x40;
    case PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER: return 0x80;
    case PA_CHANNEL_POSITION_REAR_CENTER: return 0x100;
    case PA_CHANNEL_POSITION_SIDE_LEFT: return 0x200;
    case PA_CHANNEL_POSITION_SIDE_RIGHT: return 0x400;
    case PA_CHANNEL_POSITION_TOP_CENTER: return 0x800;
    case PA_CHANNEL_POSITION_TOP_FRONT_LEFT: return 0x1000;
    case PA_CHANNEL_POSITION_TOP_FRONT_CENTER: return 0x2000;
    case PA_CHANNEL_POSITION_TOP_FRONT_RIGHT: return 0x4000;
    case PA_CHANNEL_POSITION_TOP_REAR_LEFT: return 0x8000;
    case PA_CHANNEL_POSITION_TOP_REAR_CENTER: return 0x10000;
    case PA_CHANNEL_POSITION_TOP_REAR_RIGHT: return 0x20000;
    default: return 0;
  }
}

}  // namespace

DWORD speakerMask(const pa_channel_map& channelMap) {
  DWORD mask = 0;
  DWORD previous = 0;
  for (unsigned channel = 0; channel < channelMap.channels; ++channel) {
    const DWORD bit = speakerBit(channelMap.map[channel]);
    if (bit == 0 || bit <= previous) return 0;
    mask |= bit;
    previous = bit;
  }
  return mask;
}

WAVEFORMATEXTENSIBLE describeMixFormat(const pa_sample_spec& device, const pa_channel_map& channelMap) {
  const RecordedFormat recorded = recordedFormatOf(device.format);
  WAVEFORMATEXTENSIBLE format;
  std::memset(&format, 0, sizeof format);
  format.Format.nChannels = device.channels;
  format.Format.nSamplesPerSec = device.rate;
  format.Format.wBitsPerSample = recorded.containerBits;
  format.Format.nBlockAlign = static_cast<WORD>(device.channels * recorded.containerBits / 8);
  format.Format.nAvgBytesPerSec = device.rate * format.Format.nBlockAlign;
  const bool plain = !recorded.isFloat && recorded.containerBits == 16 && device.channels <= 2;
  if (plain) {
    format.Format.wFormatTag = WAVE_FORMAT_PCM;
    format.Format.cbSize = 0;
    return format;
  }
  format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  format.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
  format.Samples.wValidBitsPerSample = recorded.validBits;
  format.dwChannelMask = speakerMask(channelMap);
  format.SubFormat = recorded.isFloat ? KSDATAFORMAT_SUBTYPE_IEEE_FLOAT : KSDATAFORMAT_SUBTYPE_PCM;
  return format;
}

std::size_t mixFormatSize(const WAVEFORMATEXTENSIBLE& format) {
  return format.Format.wFormatTag == WAVE_FORMAT_EXTENSIBLE ? sizeof(WAVEFORMATEXTENSIBLE) : sizeof(WAVEFORMATEX);
}

bool recordingSpec(const WAVEFORMATEX& format, pa_sample_spec* sampleSpec) {
  bool isFloat = format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
  bool isPcm = format.wFormatTag == WAVE_FORMAT_PCM;
  if (format.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
    if (format.cbSize < sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX)) return false;
    const auto& extensible = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(format);
    isFloat = extensible.SubFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
    isPcm = extensible.SubFormat == KSDATAFORMAT_SUBTYPE_PCM;
  }
  if (isFloat && format.wBitsPerSample == 32) {
    sampleSpec->format = PA_SAMPLE_FLOAT32LE;
  } else if (isPcm && format.wBitsPerSample == 16) {
    sampleSpec->format = PA_SAMPLE_S16LE;
  } else if (isPcm && format.wBitsPerSample == 24) {
    sampleSpec->format = PA_SAMPLE_S24LE;
  } else if (isPcm && format.wBitsPerSample == 32) {
    // 24 valid bits at the top of 32 are plain 32-bit samples to the reader.
    sampleSpec->format = PA_SAMPLE_S32LE;
  } else {
    return false;
  }
  sampleSpec->rate = format.nSamplesPerSec;
  sampleSpec->channels = static_cast<std::uint8_t>(format.nChannels);
  if (format.nChannels > PA_CHANNELS_MAX) return false;
  if (format.nBlockAlign != format.nChannels * format.wBitsPerSample / 8) return false;
  return pa_sample_spec_valid(sampleSpec) != 0;
}
