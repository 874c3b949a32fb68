// One captured source: its platform objects, the facts of its device format,
// its 16 kHz resampler state and its ring of converted samples.
#pragma once

#include <cstdint>

#include "endpoints/endpoint_strings.h"
#include "pipeline/rate_tracking.h"
#include "platform/core_audio.h"

inline constexpr int kRingCapacity = 64000;  // 4 s at 16 kHz
inline constexpr int kMaxSlots = 2;
inline constexpr int kOutputFrameCapacity = 16000;  // one second, two channels

// Counts only grow; the sample with count c lives in entry c % kRingCapacity.
struct SampleRing {
  std::int16_t samples[kRingCapacity];
  std::int64_t writeCount;
  std::int64_t readCount;
};

struct CaptureSlot {
  const char* label;  // "mic" or "desktop"
  // Chosen as the default endpoint of its flow: moves to the new default when
  // that changes, or when its device is lost.
  std::int32_t followsDefault;
  // S_OK while its stream works; the status with which a followed source's
  // stream was found gone, until it moves to another device.
  HRESULT lostStatus;
  std::int32_t loopback;  // opened in loopback: the desktop source
  // Reopened on another device: once the old device's samples (those before
  // freshFromCount) are written, the pacer holds it silent, as a source that
  // starts late, until the new device has its cushion.
  std::int32_t startsAfresh;
  std::int64_t freshFromCount;
  IMMDevice* device;
  IAudioClient* audioClient;
  IAudioCaptureClient* captureClient;
  WAVEFORMATEX* mixFormat;
  std::int32_t channelCount;
  std::int32_t bitsPerSample;  // container width
  std::int32_t isFloat;
  std::int32_t deviceRate;
  double resampleStep;   // input frames per output sample
  double resamplePhase;  // next output position, in input frames after lastSample
  float lastSample;
  RateTracking rateTracking;  // the source's real rate, which steers resampleStep
  SampleRing ring;
  char friendlyName[kFriendlyNameSize];
  char endpointId[kEndpointIdSize];  // empty when it could not be read
};

// Entry 0 is the microphone when one was asked for; the desktop takes the
// next free entry. This order is the channel order of the output.
struct SlotTable {
  CaptureSlot entries[kMaxSlots];
};

// Interleaved frames of one write, reused by every write.
struct OutputFrameBuffer {
  std::int16_t samples[kOutputFrameCapacity * kMaxSlots];
};

// Never waits and never refuses: a full ring drops its oldest unread sample.
// Inline, since the converter calls it once per output sample.
inline void pushSample(SampleRing& ring, std::int16_t value) {
  ring.samples[ring.writeCount % kRingCapacity] = value;
  ++ring.writeCount;
  // The entry just written held the oldest unread sample when the ring was
  // full: that sample is gone, so reading resumes after it.
  if (ring.writeCount - ring.readCount > kRingCapacity) ring.readCount = ring.writeCount - kRingCapacity;
}

// The oldest unread sample, or silence (0) when nothing is unread.
inline std::int16_t takeSample(SampleRing& ring) {
  if (ring.readCount >= ring.writeCount) return 0;
  const std::int16_t value = ring.samples[ring.readCount % kRingCapacity];
  ++ring.readCount;
  return value;
}
