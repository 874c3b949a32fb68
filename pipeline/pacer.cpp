#include "pipeline/pacer.h"

#include <cstdio>

#include "events/event_lines.h"
#include "pipeline/converter.h"
#include "pipeline/rate_tracking.h"

namespace {
constexpr DWORD kPauseMilliseconds = 10;
constexpr double kOutputRate = 16000.0;
constexpr std::int64_t kHoldbackFrames = 960;                   // 60 ms behind the clock
constexpr std::int64_t kMaxBatchFrames = kOutputFrameCapacity;  // one second per write
constexpr std::int64_t kBacklogMargin = 8000;                   // unread samples kept beyond a write

// Frames due since the origin. Dividing first keeps the value a pure
// function of the elapsed time, so repeated reads never accumulate error.
std::int64_t clockFramesNow(const PacerState& pacer) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const double seconds =
      static_cast<double>(now.QuadPart - pacer.clockOrigin) / static_cast<double>(pacer.clockFrequency);
  return static_cast<std::int64_t>(seconds * kOutputRate);
}

// A source that delivered more than it is asked for loses its oldest
// samples, so the stream never falls seconds behind the device.
void limitBacklog(SampleRing& ring, std::int64_t batchFrames) {
  if (ring.writeCount - ring.readCount > batchFrames + kBacklogMargin) {
    ring.readCount = ring.writeCount - batchFrames - kBacklogMargin;
  }
}

// Judged after the drains of a pass that writes. A ring with nothing unread
// means the drain pushed nothing (a push always leaves a sample unread): the
// source has not started yet or has paused. Reading it the moment it comes
// back would leave it no cushion, and every packet that came a little late
// would put silence inside its signal. So it stays silent, its samples kept,
// until it still holds the full holdback after this write: it then trails the
// clock as a source that delivered from the origin does.
bool stillIdle(bool idle, const SampleRing& ring, std::int64_t batchFrames) {
  const std::int64_t unread = ring.writeCount - ring.readCount;
  if (unread == 0) return true;
  return idle && unread < batchFrames + kHoldbackFrames;
}

// How many samples a slot reopened on another device gives this batch: the
// old device's that are left, and the new device's too once they hold the
// cushion after it. Short of that the slot goes idle after the old samples,
// so the new device starts as a late source does.
std::int64_t takenAfterSwitch(CaptureSlot& slot, bool& idleAfter, std::int64_t batchFrames) {
  const SampleRing& ring = slot.ring;
  const std::int64_t oldLeft = slot.freshFromCount > ring.readCount ? slot.freshFromCount - ring.readCount : 0;
  if (oldLeft >= batchFrames) return batchFrames;
  slot.startsAfresh = 0;
  const std::int64_t newUnread = ring.writeCount - ring.readCount - oldLeft;
  if (newUnread >= batchFrames - oldLeft + kHoldbackFrames) return batchFrames;
  idleAfter = true;
  return oldLeft;
}

// Returns false when standard output took less than the whole batch.
bool writeBatch(SlotTable& table, int slotCount, bool (&slotIdle)[kMaxSlots], OutputFrameBuffer& output,
                std::int64_t batchFrames) {
  std::int64_t taken[kMaxSlots] = {};
  bool idleAfter[kMaxSlots] = {};
  for (int s = 0; s < slotCount; ++s) {
    CaptureSlot& slot = table.entries[s];
    SampleRing& ring = slot.ring;
    slotIdle[s] = stillIdle(slotIdle[s], ring, batchFrames);
    if (slotIdle[s]) slot.startsAfresh = 0;  // the new device starts as a late source anyway
    if (!slotIdle[s]) limitBacklog(ring, batchFrames);
    taken[s] = slotIdle[s] ? 0 : batchFrames;
    if (!slotIdle[s] && slot.startsAfresh != 0) taken[s] = takenAfterSwitch(slot, idleAfter[s], batchFrames);
  }
  std::int16_t* sample = output.samples;
  for (std::int64_t f = 0; f < batchFrames; ++f) {
    for (int s = 0; s < slotCount; ++s) *sample++ = f < taken[s] ? takeSample(table.entries[s].ring) : 0;
  }
  for (int s = 0; s < slotCount; ++s) slotIdle[s] = slotIdle[s] || idleAfter[s];
  const std::size_t frameBytes = sizeof(std::int16_t) * static_cast<std::size_t>(slotCount);
  const std::size_t frames = static_cast<std::size_t>(batchFrames);
  if (std::fwrite(output.samples, frameBytes, frames, stdout) < frames) return false;
  std::fflush(stdout);
  return true;
}

// The counter value at which each read slot's newest sample falls due: it
// stands behind the samples still unread, which follow the frames written.
void steerSlots(SlotTable& table, int slotCount, const PacerState& pacer) {
  for (int s = 0; s < slotCount; ++s) {
    const SampleRing& ring = table.entries[s].ring;
    const std::int64_t unread = ring.writeCount - ring.readCount;
    if (pacer.slotIdle[s] || unread == 0) continue;
    const double dueFrame = static_cast<double>(pacer.framesWritten + unread - 1 + kHoldbackFrames);
    const double dueTicks =
        static_cast<double>(pacer.clockOrigin) + dueFrame / kOutputRate * static_cast<double>(pacer.clockFrequency);
    steerResampling(table.entries[s], dueTicks);
  }
}

void stopStreams(SlotTable& table, int slotCount) {
  for (int s = 0; s < slotCount; ++s) table.entries[s].audioClient->Stop();
  emitStopped();
}
}  // namespace

void startClock(PacerState& pacer) {
  LARGE_INTEGER value;
  QueryPerformanceFrequency(&value);
  pacer.clockFrequency = value.QuadPart;
  QueryPerformanceCounter(&value);
  pacer.clockOrigin = value.QuadPart;
  pacer.framesWritten = 0;
  for (bool& idle : pacer.slotIdle) idle = false;
}

void runPacer(SlotTable& table, int slotCount, PacerState& pacer, OutputFrameBuffer& output,
              const std::atomic<std::int32_t>& stopFlag, BetweenPasses afterDrains) {
  // The flag is looked at only between passes: a pass that has begun always
  // drains and writes what fell due.
  bool stopping = stopFlag.load() != 0;
  while (!stopping) {
    Sleep(kPauseMilliseconds);
    for (int s = 0; s < slotCount; ++s) drainSlot(table.entries[s]);
    if (afterDrains != nullptr) afterDrains(table, slotCount);
    const std::int64_t excessFrames = clockFramesNow(pacer) - pacer.framesWritten - kHoldbackFrames;
    if (excessFrames > 0) {
      const std::int64_t batchFrames = excessFrames < kMaxBatchFrames ? excessFrames : kMaxBatchFrames;
      // A reader that has gone away ends the run in order, without a fault.
      if (!writeBatch(table, slotCount, pacer.slotIdle, output, batchFrames)) break;
      pacer.framesWritten += batchFrames;
      steerSlots(table, slotCount, pacer);
    }
    stopping = stopFlag.load() != 0;
  }
  stopStreams(table, slotCount);
}
