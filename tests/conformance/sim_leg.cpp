// The seam cases on the simulated platform, in a scenario that holds the
// suite's world (the names of seam_check.h): a microphone, one that is lost
// later, an unplugged one, speakers playing a tone, and headphones that
// become the default later still.
#include "platform/sim/sim_scenario.h"
#include "platform/sim/console_and_clock.h"
#include "tests/conformance/seam_check.h"

namespace {

constexpr int kLostAtMs = 3'600'000;               // later than all other cases take, by the virtual clock
constexpr int kHeadphonesDefaultAtMs = 7'200'000;  // later still

constexpr char kScenario[] = R"({"endpoints": [
  {"flow": "capture", "id": "{0.0.1.00000000}.{5d0a7c00-1b2c-4d3e-8f40-a1b2c3d4e5f6}",
   "name": "Micrófono USB マイク", "default": true,
   "format": {"tag": "extensible-float", "channels": 2, "bits": 32, "rate": 48000},
   "signal": {"kind": "sine", "frequency": 440, "amplitude": 0.5}},
  {"flow": "capture", "id": "{0.0.1.00000000}.{5d0a7c01-1b2c-4d3e-8f40-a1b2c3d4e5f6}",
   "name": "Removable Mic", "lostAtMs": 3600000,
   "format": {"tag": "pcm", "channels": 1, "bits": 16, "rate": 44100}},
  {"flow": "capture", "id": "{0.0.1.00000000}.{5d0a7c02-1b2c-4d3e-8f40-a1b2c3d4e5f6}",
   "name": "Headset Mic", "state": "unplugged"},
  {"flow": "render", "id": "{0.0.0.00000000}.{7e1b8d00-2c3d-4e5f-9a01-b2c3d4e5f6a7}",
   "name": "Speakers", "default": true,
   "format": {"tag": "extensible-float", "channels": 2, "bits": 32, "rate": 44100},
   "signal": {"kind": "sine", "frequency": 1000, "amplitude": 0.25}},
  {"flow": "render", "id": "{0.0.0.00000000}.{7e1b8d01-2c3d-4e5f-9a01-b2c3d4e5f6a7}",
   "name": "Headphones", "defaultAtMs": 7200000,
   "format": {"tag": "extensible-float", "channels": 2, "bits": 32, "rate": 48000}}
]})";

// The loss is scheduled; the virtual clock only has to reach it.
bool removeDevice() {
  Sleep(kLostAtMs);
  return true;
}

// The change is scheduled too; the clock is taken there.
bool makeDefaultRender(const char*) {
  const std::int64_t now = simClockTicks() / (kSimClockFrequency / 1000);
  if (now < kHeadphonesDefaultAtMs) Sleep(static_cast<DWORD>(kHeadphonesDefaultAtMs - now));
  return true;
}

}  // namespace

int main() {
  sim::useScenarioText(kScenario);
  simClockReset();
  return runSeamCases({"sim", kSeamMicrophoneName, kSeamRemovableName, removeDevice, makeDefaultRender});
}
