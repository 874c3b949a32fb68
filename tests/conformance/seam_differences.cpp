// Where a platform answers other than WASAPI, and why. A difference that is
// not listed here fails the suite; so does a row whose platform has come to
// answer as WASAPI does, so that the table stays true.
#include "tests/conformance/seam_check.h"

const SeamDifference kSeamDifferences[] = {
    {"wine10", "initialize.other-rate", "Initialize(SHARED, 0, ...) with the mix format at another rate", "S_OK",
     "Wine hands a shared stream of any rate to PulseAudio, which resamples it; the logic always passes the mix "
     "format, so it never meets this"},
    {"wine10", "packets.hand-over", "ReleaseBuffer(0) with no packet out", "S_OK",
     "Wine takes releasing no frames as nothing to do, packet or not; the logic releases only after a GetBuffer"},
    {"wine10", "device.removed", "GetNextPacketSize within 3 s of the removal", "S_OK for 3 s",
     "Wine's capture client never learns that its PulseAudio source went away: the stream goes silent instead"},
};
const int kSeamDifferenceCount = sizeof kSeamDifferences / sizeof kSeamDifferences[0];
