#include "app/command_line.h"
#include "app/run_sequences.h"
#include "events/event_lines.h"
#include "events/faults.h"

int main(int argc, char** argv) {
  const CommandLine commandLine = scanCommandLine(argc, argv);
  if (commandLine.versionRequested) {
    printVersion();
    return exitStatus::ok;
  }
  if (commandLine.listRequested) return runListSequence();
  if (commandLine.micValue == nullptr && commandLine.systemValue == nullptr) {
    // Checked before anything is set up: stdout keeps its mode, no handler.
    emitFault(faultReason::targetMissing, "no-target", nullptr);
    return exitStatus::setupFailed;
  }
  return runCaptureSequence(commandLine.micValue, commandLine.systemValue);
}
