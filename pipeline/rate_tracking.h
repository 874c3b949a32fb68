// Each source's real rate, measured against the performance counter, and the
// resampling step steered by it: a device whose clock runs a little fast or
// slow keeps landing 60 ms behind the pacer's clock instead of slowly filling
// its ring (then dropping samples) or emptying it (then inserting silence).
//
// A source is judged by the line its frames draw against the counter: every
// packet gives one point, "frame position / rate − capture time", which stays
// level for a source at its nominal rate and climbs or falls at the drift.
// Only the highest point of each five-second window counts, as a packet can
// come late but never early, and a window that breaks off the line by more
// than a few milliseconds (a pause, a burst, a device that starts again) begins
// a new line instead of bending the old one. The step moves only once the
// line has shown a drift that a delay cannot explain, and then smoothly.
#pragma once

#include <cstdint>

#include "platform/core_audio.h"

inline constexpr int kRateWindowCapacity = 24;  // two minutes of windows

// The highest point of one closed window: seconds since the tracking began,
// and the frame position in seconds less that time.
struct RateWindow {
  double time;
  double offset;
  double spread;  // how much later than the highest point the latest packet came
};

struct RateTracking {
  bool active;  // false: the step is never touched and no position is asked for
  double nominalStep;
  double secondsPerTick;
  std::int64_t baseTicks;
  std::int64_t framesTaken;  // the position for a stream that hands out none
  // The window being gathered.
  double windowStart;
  bool windowHasPoint;
  RateWindow windowBest;
  double windowHighest;  // of the points less the drift known so far
  double windowLowest;
  // Closed windows of the current line, oldest first from windowFirst.
  RateWindow windows[kRateWindowCapacity];
  int windowFirst;
  int windowCount;
  // The line fitted through them: offset = lineOffset + lineDrift × time.
  int lineWindows;
  double lineOffset;
  double lineDrift;
  double lineSpan;
  double lineResidual;  // root mean square, seconds
  // Steering, once engaged.
  bool engaged;
  double heldDrift;   // the drift the step follows, kept over a new line
  double stepFactor;  // the step is nominalStep × (1 + stepFactor)
  double lastSteerTime;
  double latestTime;
  bool hasNewest;
  double newestPosition;  // frame position of the newest sample pushed
};

struct CaptureSlot;

// Forgets everything measured and puts the slot back on its nominal step
// (deviceRate / 16000). Called when a slot is opened, and again whenever it
// is opened anew on another device, once deviceRate is that device's.
void resetRateTracking(CaptureSlot& slot);

// One packet taken by the drain, after it was converted: its frame count and
// the positions GetBuffer handed out (kNoPosition where it gave none).
inline constexpr UINT64 kNoPosition = ~UINT64{0};
void notePacket(CaptureSlot& slot, UINT32 frames, UINT64 devicePosition, UINT64 counterPosition);

// After a write that read this slot: dueTicks is the counter value at which
// the slot's newest sample falls due. Moves the step at most once a second.
void steerResampling(CaptureSlot& slot, double dueTicks);

// The latency the steering holds a source at, from capture to falling due,
// plus as much as its packets have come late (up to kLargestSpreadSeconds),
// so that a late packet finds samples still unread rather than an empty ring.
inline constexpr double kTargetLatencySeconds = 0.060;
inline constexpr double kLargestSpreadSeconds = 0.250;
