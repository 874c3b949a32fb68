// The seam cases on the PulseAudio platform, against a private server.
#include "tests/conformance/pulse_world.h"
#include "tests/conformance/seam_check.h"
#include "tests/support/test_legs.h"

namespace {
PulseSeamWorld world;
bool removeDevice() { return world.removeDevice(); }
// The Linux platform's endpoint identifiers are the sinks' names.
bool makeDefaultRender(const char* endpointId) { return world.makeDefaultSink(endpointId); }
}  // namespace

int main() {
  if (!PrivatePulseServer::installed()) return legCannotRun("pulseaudio and pactl are not installed");
  if (!world.start()) return 1;
  return runSeamCases({"pulse", kSeamMicrophoneName, kSeamRemovableName, removeDevice, makeDefaultRender});
}
