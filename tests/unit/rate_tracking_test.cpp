// The rate tracker fed packet by packet on the virtual clock, as the drain
// would feed it: sources whose timing only looks irregular must never move
// the step, and a source that really drifts must be measured within a few ppm.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pipeline/capture_slot.h"
#include "pipeline/rate_tracking.h"
#include "platform/sim/console_and_clock.h"

namespace {

constexpr double kRate = 48000.0;
constexpr std::int64_t kTicksPerMs = kSimClockFrequency / 1000;

// One device as the drain sees it: packets of `packetFrames` sampled at
// kRate × (1 + ppm), each handed out when complete plus a delay, read by a
// capture loop that looks every 10 ms.
struct Source {
  std::string name;
  double ppm = 0.0;
  std::int64_t packetFrames = 480;
  bool positions = true;                                           // GetBuffer hands out device and counter positions
  std::int64_t startMs = 0;                                        // nothing before this
  std::vector<std::pair<std::int64_t, std::int64_t>> quiet = {};   // [fromMs, toMs): packets lost, positions run on
  std::vector<std::pair<std::int64_t, std::int64_t>> stalls = {};  // [fromMs, toMs): the loop does not look
  std::int64_t jitterMs = 0;                                       // extra delay, a fixed pseudo-random sequence
  std::int64_t restartAtMs = -1;                                   // another device from here: positions from 0
};

bool inside(const std::vector<std::pair<std::int64_t, std::int64_t>>& spans, std::int64_t ms) {
  for (const auto& [from, to] : spans)
    if (ms >= from && ms < to) return true;
  return false;
}

struct Tracked {
  bool engaged = false;
  double heldDrift = 0.0;
  double engagedAtSeconds = -1.0;
};

// Runs the source for `minutes` of virtual time and reports the tracker.
Tracked track(const Source& source, double minutes) {
  simClockReset();
  auto slot = std::make_unique<CaptureSlot>();
  slot->deviceRate = static_cast<std::int32_t>(kRate);
  resetRateTracking(*slot);
  Tracked seen;
  const double trueRate = kRate * (1.0 + source.ppm / 1e6);
  std::int64_t packet = 0;
  std::int64_t positionBase = 0;
  const std::int64_t endMs = static_cast<std::int64_t>(minutes * 60000);
  std::uint64_t seed = 0x9E3779B97F4A7C15ull;
  for (std::int64_t nowMs = 10; nowMs <= endMs; nowMs += 10) {
    Sleep(10);
    if (inside(source.stalls, nowMs)) continue;
    const double now = static_cast<double>(nowMs) / 1000.0;
    // Every packet complete by now, in order; a shared-mode buffer holds 200 ms.
    for (;;) {
      const double firstAt = static_cast<double>(packet * source.packetFrames) / trueRate;
      const double completeAt = static_cast<double>((packet + 1) * source.packetFrames) / trueRate;
      seed = seed * 6364136223846793005ull + 1442695040888963407ull;
      const double delay =
          source.jitterMs > 0 ? static_cast<double>((seed >> 33) % (source.jitterMs * 1000)) / 1e6 : 0.0;
      if (completeAt + delay > now) break;
      const auto completeMs = static_cast<std::int64_t>(completeAt * 1000);
      const bool lost = completeMs < source.startMs || inside(source.quiet, completeMs) || now - completeAt > 0.2;
      if (source.restartAtMs >= 0 && completeMs >= source.restartAtMs && positionBase == 0)
        positionBase = packet * source.packetFrames;
      if (!lost) {
        const auto position = static_cast<UINT64>(packet * source.packetFrames - positionBase);
        const auto counter = static_cast<UINT64>(std::llround(firstAt * kSimClockFrequency));
        notePacket(*slot, static_cast<UINT32>(source.packetFrames), source.positions ? position : kNoPosition,
                   source.positions ? counter : kNoPosition);
      }
      ++packet;
    }
    if (slot->rateTracking.engaged && seen.engagedAtSeconds < 0) seen.engagedAtSeconds = now;
  }
  seen.engaged = slot->rateTracking.engaged;
  seen.heldDrift = slot->rateTracking.heldDrift * 1e6;
  return seen;
}

TEST(RateTracking, IrregularTimingOfASourceAtItsNominalRateIsNeverTakenForDrift) {
  const std::vector<Source> sources = {
      {.name = "steady 10 ms packets"},
      {.name = "steady, no positions", .positions = false},
      {.name = "20 ms jitter, no positions", .positions = false, .jitterMs = 20},
      {.name = "0.5 s packets", .packetFrames = 24000},
      {.name = "0.5 s packets, no positions", .packetFrames = 24000, .positions = false},
      {.name = "2 s packets, no positions", .packetFrames = 96000, .positions = false},
      {.name = "starts after 40 s", .startMs = 40000},
      {.name = "pauses", .quiet = {{30000, 33000}, {90000, 150000}, {200000, 200500}}},
      {.name = "pauses, no positions", .positions = false, .quiet = {{30000, 33000}, {90000, 150000}}},
      {.name = "idle loopback: nothing for 4 minutes", .positions = false, .quiet = {{20000, 260000}}},
      {.name = "loop stalls of 3 s and 5 s", .stalls = {{60000, 63000}, {180000, 185000}, {300000, 305000}}},
      {.name = "loop stalls, no positions",
       .positions = false,
       .stalls = {{60000, 63000}, {180000, 185000}, {300000, 305000}}},
      {.name = "another device after 100 s", .restartAtMs = 100000},
  };
  for (const Source& source : sources) {
    const Tracked seen = track(source, 8);
    EXPECT_FALSE(seen.engaged) << source.name << ": held " << seen.heldDrift << " ppm";
  }
}

TEST(RateTracking, ADriftingSourceIsMeasuredSoonAndClosely) {
  struct Case {
    Source source;
    double engagedBySeconds;
    double toleranceppm;
  };
  const std::vector<Case> cases = {
      {{.name = "+1000 ppm", .ppm = 1000}, 20, 1},
      {{.name = "-1000 ppm", .ppm = -1000}, 20, 1},
      {{.name = "+300 ppm", .ppm = 300}, 30, 1},
      {{.name = "-50 ppm", .ppm = -50}, 90, 1},
      {{.name = "-1000 ppm, no positions, 5 ms jitter", .ppm = -1000, .positions = false, .jitterMs = 5}, 30, 30},
      {{.name = "+300 ppm, no positions, 5 ms jitter", .ppm = 300, .positions = false, .jitterMs = 5}, 60, 30},
      {{.name = "+300 ppm with pauses and stalls", .ppm = 300, .quiet = {{30000, 33000}}, .stalls = {{60000, 63000}}},
       60,
       1},
      {{.name = "+3000 ppm: held at the limit", .ppm = 3000}, 20, 2000},
  };
  for (const Case& c : cases) {
    const Tracked seen = track(c.source, 6);
    EXPECT_TRUE(seen.engaged) << c.source.name;
    EXPECT_GE(seen.engagedAtSeconds, 0) << c.source.name;
    EXPECT_LE(seen.engagedAtSeconds, c.engagedBySeconds) << c.source.name;
    const double expected = c.source.ppm > 1000 ? 1000 : c.source.ppm;
    EXPECT_NEAR(seen.heldDrift, expected, c.toleranceppm) << c.source.name;
  }
}

}  // namespace
