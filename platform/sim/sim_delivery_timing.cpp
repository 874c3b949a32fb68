#include "platform/sim/sim_delivery_timing.h"

#include "platform/sim/console_and_clock.h"

namespace sim {
namespace {

constexpr std::int64_t kTicksPerMs = kSimClockFrequency / 1000;

// splitmix64: one well-mixed value per packet index, no state to carry.
std::uint64_t mixed(std::uint64_t value) {
  value += 0x9E3779B97F4A7C15ull;
  value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
  value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
  return value ^ (value >> 31);
}

}  // namespace

bool deliversWhenDue(const DeliveryTiming& timing) {
  return timing.startAtMs == 0 && timing.pauses.empty() && timing.jitterMs == 0;
}

bool packetWithheld(const DeliveryTiming& timing, std::int64_t dueTicks) {
  if (dueTicks < timing.startAtMs * kTicksPerMs) return true;
  for (const auto& [fromMs, toMs] : timing.pauses) {
    if (dueTicks >= fromMs * kTicksPerMs && dueTicks < toMs * kTicksPerMs) return true;
  }
  return false;
}

std::int64_t packetDelayTicks(const DeliveryTiming& timing, std::uint64_t seed, std::int64_t packetIndex) {
  if (timing.jitterMs == 0) return 0;
  const auto span = static_cast<std::uint64_t>(timing.jitterMs * kTicksPerMs) + 1;
  return static_cast<std::int64_t>(mixed(seed ^ static_cast<std::uint64_t>(packetIndex)) % span);
}

std::uint64_t delaySeedOf(const Endpoint& endpoint) {
  std::uint64_t hash = 0xCBF29CE484222325ull;  // FNV-1a of the identifier
  for (const char c : endpoint.id) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
  return hash;
}

}  // namespace sim
