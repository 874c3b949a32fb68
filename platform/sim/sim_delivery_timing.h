// When a simulated endpoint hands out a packet that is due: never before its
// start, never inside a pause, and up to its jitter late.
#pragma once

#include <cstdint>

#include "platform/sim/sim_scenario.h"

namespace sim {

// True when the endpoint's timing changes nothing: every packet goes out when due.
bool deliversWhenDue(const DeliveryTiming& timing);

// A packet due before the start or inside a pause is never handed out.
bool packetWithheld(const DeliveryTiming& timing, std::int64_t dueTicks);

// How long after it is due the packet with this index is handed out, in
// clock ticks from 0 to jitterMs: the same for every run with the same seed.
std::int64_t packetDelayTicks(const DeliveryTiming& timing, std::uint64_t seed, std::int64_t packetIndex);

// A seed of the endpoint's own, so two jittery endpoints are not late in step.
std::uint64_t delaySeedOf(const Endpoint& endpoint);

}  // namespace sim
