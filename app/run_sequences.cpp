#include "app/run_sequences.h"

#include "events/event_lines.h"
#include "events/faults.h"

// Placeholder until endpoint access and the capture pipeline are in: says so
// instead of pretending to capture.
int runListSequence() {
  emitFault(faultReason::separateUnavailable, "not-implemented", nullptr);
  return exitStatus::setupFailed;
}

int runCaptureSequence(const char*, const char*) {
  emitFault(faultReason::separateUnavailable, "not-implemented", nullptr);
  return exitStatus::setupFailed;
}
