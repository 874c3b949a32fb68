// The seam cases on the PulseAudio platform, against a private server.
#include <cstdio>

#include "tests/conformance/pulse_world.h"
#include "tests/conformance/seam_check.h"

namespace {
PulseSeamWorld world;
bool removeDevice() { return world.removeDevice(); }
}  // namespace

int main() {
  if (!PrivatePulseServer::installed()) {
    std::printf("pulseaudio and pactl are not installed: skipped\n");
    return 77;
  }
  if (!world.start()) return 1;
  return runSeamCases({"pulse", kSeamMicrophoneName, kSeamRemovableName, removeDevice});
}
