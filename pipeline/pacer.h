// Writes the slots' samples to standard output as one interleaved 16 kHz
// stream, paced by the performance counter and held 960 frames behind it.
#pragma once

#include <atomic>
#include <cstdint>

#include "pipeline/capture_slot.h"

struct PacerState {
  std::int64_t clockFrequency;
  std::int64_t clockOrigin;
  std::int64_t framesWritten;
  // Per slot, in table order: the source was found with nothing to give in a
  // pass that wrote (not started yet, or paused), so it contributes silence
  // until it has its cushion again.
  bool slotIdle[kMaxSlots];
};

void startClock(PacerState& pacer);

// What the capture loop does between the drains and the write of each pass.
using BetweenPasses = void (*)(SlotTable& table, int slotCount);

// Runs the capture loop until stopFlag is seen or standard output takes less
// than it was handed; then stops every stream and writes the "stopped" line.
void runPacer(SlotTable& table, int slotCount, PacerState& pacer, OutputFrameBuffer& output,
              const std::atomic<std::int32_t>& stopFlag, BetweenPasses afterDrains = nullptr);
