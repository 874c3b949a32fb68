// The simulated platform's scenario parser on any text: a scenario is either
// read or refused with std::runtime_error; anything else is a fault.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/sim/sim_scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    sim::parseScenario(std::string(reinterpret_cast<const char*>(data), size));
  } catch (const std::runtime_error&) {
  }
  return 0;
}
