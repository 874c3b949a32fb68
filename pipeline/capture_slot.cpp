#include "pipeline/capture_slot.h"

void pushSample(SampleRing& ring, std::int16_t value) {
  ring.samples[ring.writeCount % kRingCapacity] = value;
  ++ring.writeCount;
  // The entry just written held the oldest unread sample when the ring was
  // full: that sample is gone, so reading resumes after it.
  if (ring.writeCount - ring.readCount > kRingCapacity) ring.readCount = ring.writeCount - kRingCapacity;
}

std::int16_t takeSample(SampleRing& ring) {
  if (ring.readCount >= ring.writeCount) return 0;
  const std::int16_t value = ring.samples[ring.readCount % kRingCapacity];
  ++ring.readCount;
  return value;
}
